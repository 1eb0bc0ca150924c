/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_TOTALCOSTMODEL_H
#define MASSIF_TOTALCOSTMODEL_H

#include "modelitem.h"

#include <QAbstractTableModel>

namespace Massif {

class FileData;

/**
 * The total heap curve of one file for a KChart plotter: one row per
 * snapshot, column 0 its time and column 1 its cost.
 */
class TotalCostModel : public QAbstractTableModel
{
public:
    explicit TotalCostModel(QObject *parent = nullptr);
    ~TotalCostModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    /// The file is not owned; it must outlive the model or be replaced first.
    void setFileData(const FileData *data);

    QModelIndex peakSnapshotIndex() const;
    QModelIndex snapshotIndex(const SnapshotItem *snapshot) const;
    QModelIndex modelItemIndex(const ModelItem &item) const;
    ModelItem modelItemAt(const QModelIndex &index) const;

    /// The caller repaints the chart.
    void setHighlight(const QModelIndex &index);

    /// Announces every cell and header as changed: their texts follow settings
    /// that just changed, and a chart keeps what it drew until told so.
    void settingsChanged();

private:
    bool isOwnCell(const QModelIndex &index) const;

    const FileData *m_fileData = nullptr;
    QModelIndex m_highlight;
};

} // namespace Massif

#endif
