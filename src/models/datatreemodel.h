/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_DATATREEMODEL_H
#define MASSIF_DATATREEMODEL_H

#include "modelitem.h"

#include <QAbstractItemModel>
#include <QHash>

namespace Massif {

class FileData;

/**
 * One file as a single-column tree: every snapshot at the top level, and
 * below each detailed snapshot the nodes of its heap tree. The root node of
 * a heap tree has no row of its own; its snapshot's row stands for it.
 */
class DataTreeModel : public QAbstractItemModel
{
public:
    enum CustomRoles {
        FilterTextRole = Qt::UserRole + 1,
        NodeRole,
        ItemPairRole,
    };

    explicit DataTreeModel(QObject *parent = nullptr);
    ~DataTreeModel() override;

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    /// The file is not owned; call setFileData(nullptr) before it goes away.
    void setFileData(const FileData *data);

    ModelItem modelItemAt(const QModelIndex &index) const;
    const SnapshotItem *snapshotOfNode(const TreeLeafItem *node) const;
    QModelIndex snapshotIndex(const SnapshotItem *snapshot) const;
    QModelIndex nodeIndex(const TreeLeafItem *node) const;
    QModelIndex modelItemIndex(const ModelItem &item) const;

private:
    static const TreeLeafItem *nodeOf(const QModelIndex &index);
    static bool isNodeRow(const QModelIndex &index);
    QVariant snapshotData(const SnapshotItem *snapshot, const QModelIndex &index, int role) const;
    QVariant nodeData(const TreeLeafItem *node, const QModelIndex &index, int role) const;
    QVariant background(quint64 cost) const;
    int rowOf(const TreeLeafItem *node) const;

    struct Root
    {
        const SnapshotItem *snapshot = nullptr;
        int row = -1;
    };

    const FileData *m_fileData = nullptr;
    // Each heap tree root with its snapshot and that snapshot's row.
    QHash<const TreeLeafItem *, Root> m_roots;
};

} // namespace Massif

#endif
