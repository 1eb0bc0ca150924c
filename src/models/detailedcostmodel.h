/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_DETAILEDCOSTMODEL_H
#define MASSIF_DETAILEDCOSTMODEL_H

#include "modelitem.h"

#include <QAbstractTableModel>
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>

namespace Massif {

class FileData;

/**
 * The most expensive functions of a file over time, for a stacked KChart
 * plotter: dataset d is the d-th ranked label, drawn as the column pair
 * (time, cost). Row 0 is a zero starting point, rows 1..n the detailed
 * snapshots in file order.
 */
class DetailedCostModel : public QAbstractTableModel
{
public:
    explicit DetailedCostModel(QObject *parent = nullptr);
    ~DetailedCostModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    /// The file is not owned; it must outlive the model or be replaced first.
    void setFileData(const FileData *data);

    int datasetLimit() const;
    void setDatasetLimit(int count);

    /// The chart index of each shown label's peak, and the peak node.
    QMap<QModelIndex, const TreeLeafItem *> peakMarkers() const;

    QModelIndex nodeIndex(const TreeLeafItem *node) const;
    QModelIndex modelItemIndex(const ModelItem &item) const;
    /// The snapshot member of the result is always null.
    ModelItem modelItemAt(const QModelIndex &index) const;

    void setHighlight(const QModelIndex &index);

    /// Announces every cell and header as changed: their texts follow settings
    /// that just changed, and a chart keeps what it drew until told so.
    void settingsChanged();

    void hideFunction(const TreeLeafItem *node);
    void hideOtherFunctions(const TreeLeafItem *node);
    /// Brings back every function hidden since the file was set (model reset).
    void showAllFunctions();
    /// Whether hiding took away any ranked function.
    bool hasHiddenFunctions() const;

    /// Draws @p dataset strongly and dims the others; -1 draws all alike.
    void setEmphasizedDataset(int dataset);
    int emphasizedDataset() const;

private:
    using NodeList = QList<const TreeLeafItem *>;

    bool isOwnCell(const QModelIndex &index) const;
    int shownDatasets() const;
    /// The node of the shown @p dataset in row @p row of m_rows; null where the function held nothing.
    const TreeLeafItem *cellNode(qsizetype row, int dataset) const;
    void fillCells() const;
    QByteArray headerLabel(int dataset) const;
    void rank(const FileData *data);
    bool dimmed(int dataset) const
    {
        return m_emphasized >= 0 && dataset != m_emphasized;
    }
    void clearRanking();
    void invalidateCells();

    const FileData *m_fileData = nullptr;
    QList<QByteArray> m_labels;
    QList<const SnapshotItem *> m_rows;
    QHash<const SnapshotItem *, NodeList> m_nodes;
    QHash<QByteArray, ModelItem> m_labelPeaks;
    QModelIndex m_highlight;
    int m_maxDatasets = 10;
    qsizetype m_rankedCount = 0;
    int m_emphasized = -1;
    double m_startTime = 0.0;
    // cellNode()'s table, row after row of shownDatasets() nodes; a chart asks
    // for every cell several times per paint.
    mutable QList<const TreeLeafItem *> m_cells;
    mutable int m_cellDatasets = -1;
};

} // namespace Massif

#endif
