/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_ALLOCATORSMODEL_H
#define MASSIF_ALLOCATORSMODEL_H

#include "labelpieces.h"
#include "modelitem.h"

#include <QAbstractItemModel>
#include <QList>

namespace Massif {

class FileData;

/**
 * The allocation sites of one file: the direct children of every heap
 * tree root, merged by function and location across snapshots and code
 * addresses. A site's peak is the snapshot where its nodes together held
 * the most; its peak item is its largest node there.
 * The file must outlive the model.
 */
class AllocatorsModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    enum CustomRoles {
        SortKeyRole = Qt::UserRole + 1,
        PeakItemRole,
    };

    explicit AllocatorsModel(const FileData *data, QObject *parent = nullptr);
    ~AllocatorsModel() override;

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    QModelIndex modelItemIndex(const ModelItem &item) const;

    /// Announces that column 0, which follows the template setting, may read differently.
    void settingsChanged();

private:
    struct AllocationSite
    {
        LabelPieces parts;
        /// The largest node of the site in its peak snapshot.
        const TreeLeafItem *peak = nullptr;
        /// The sum of the site's nodes in its peak snapshot.
        quint64 peakCost = 0;
        /// The site's nodes in its peak snapshot, when there are several.
        QList<const TreeLeafItem *> peakParts;
    };

    QVariant cellText(const AllocationSite &site, int column) const;
    QVariant cellSortKey(const AllocationSite &site, int column) const;
    QString tooltip(const AllocationSite &site) const;

    QList<AllocationSite> m_sites;
};

} // namespace Massif

#endif
