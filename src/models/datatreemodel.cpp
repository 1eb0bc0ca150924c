/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "datatreemodel.h"

#include "filedata.h"
#include "formatting.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <KLocalizedString>

#include <QBrush>
#include <QColor>

using namespace Massif;

DataTreeModel::DataTreeModel(QObject *parent) : QAbstractItemModel(parent)
{
}

DataTreeModel::~DataTreeModel() = default;

const TreeLeafItem *DataTreeModel::nodeOf(const QModelIndex &index)
{
    return static_cast<const TreeLeafItem *>(index.constInternalPointer());
}

bool DataTreeModel::isNodeRow(const QModelIndex &index)
{
    // Top-level rows carry a root (which has no parent) or nothing.
    const TreeLeafItem *node = nodeOf(index);
    return node && node->parent();
}

QModelIndex DataTreeModel::index(int row, int column, const QModelIndex &parent) const
{
    if (row < 0 || column < 0 || row >= rowCount(parent) || column >= columnCount(parent)) {
        return QModelIndex();
    }
    if (!parent.isValid()) {
        return createIndex(row, column, m_fileData->snapshots().at(row)->heapTree());
    }
    if (parent.column() != 0) {
        return QModelIndex();
    }
    return createIndex(row, column, nodeOf(parent)->children().at(row));
}

QModelIndex DataTreeModel::parent(const QModelIndex &child) const
{
    if (!child.isValid() || !isNodeRow(child)) {
        return QModelIndex();
    }
    const TreeLeafItem *parentNode = nodeOf(child)->parent();
    const int row = rowOf(parentNode);
    if (row == -1) {
        return QModelIndex();
    }
    return createIndex(row, 0, parentNode);
}

int DataTreeModel::rowCount(const QModelIndex &parent) const
{
    if (!m_fileData) {
        return 0;
    }
    if (!parent.isValid()) {
        return int(m_fileData->snapshots().size());
    }
    const TreeLeafItem *node = nodeOf(parent);
    if (parent.column() != 0 || !node) {
        return 0;
    }
    return int(node->childCount());
}

int DataTreeModel::columnCount(const QModelIndex &parent) const
{
    Q_UNUSED(parent)
    return 1;
}

QVariant DataTreeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    Q_UNUSED(section)
    Q_UNUSED(orientation)
    switch (role) {
    // A text where a view expects a size, font, alignment, colour or icon would
    // break the header: a string as size hint collapses it to nothing.
    case Qt::SizeHintRole:
    case Qt::FontRole:
    case Qt::TextAlignmentRole:
    case Qt::BackgroundRole:
    case Qt::ForegroundRole:
    case Qt::DecorationRole:
    case Qt::CheckStateRole:
    case Qt::InitialSortOrderRole:
        return QVariant();
    default:
        return i18n("Snapshots");
    }
}

QVariant DataTreeModel::data(const QModelIndex &index, int role) const
{
    if (!m_fileData || !index.isValid() || index.model() != this) {
        return QVariant();
    }
    if (isNodeRow(index)) {
        return nodeData(nodeOf(index), index, role);
    }
    const QList<SnapshotItem *> snapshots = m_fileData->snapshots();
    if (index.row() >= snapshots.size()) {
        return QVariant();
    }
    return snapshotData(snapshots.at(index.row()), index, role);
}

QVariant DataTreeModel::snapshotData(const SnapshotItem *snapshot, const QModelIndex &index, int role) const
{
    const bool isPeak = snapshot == m_fileData->peak();
    switch (role) {
    case Qt::DisplayRole:
        if (isPeak) {
            return i18nc("%1: cost, %2: snapshot number", "%1: Snapshot #%2 (peak)", formatCost(snapshot->cost()), snapshot->number());
        }
        return i18nc("%1: cost, %2: snapshot number", "%1: Snapshot #%2", formatCost(snapshot->cost()), snapshot->number());
    case Qt::ToolTipRole:
        if (isPeak) {
            return i18n("Peak snapshot: heap cost of %1", formatCost(snapshot->cost()));
        }
        return i18n("Snapshot #%1: heap cost of %2", snapshot->number(), formatCost(snapshot->cost()));
    case Qt::BackgroundRole:
        return background(snapshot->cost());
    case FilterTextRole:
        return i18nc("%1: snapshot number", "Snapshot #%1", snapshot->number());
    case NodeRole:
        return QVariant::fromValue<const TreeLeafItem *>(nullptr);
    case ItemPairRole:
        return QVariant::fromValue(modelItemAt(index));
    default:
        return QVariant();
    }
}

QVariant DataTreeModel::nodeData(const TreeLeafItem *node, const QModelIndex &index, int role) const
{
    switch (role) {
    case Qt::DisplayRole:
        return i18nc(
            "%1: cost, %2: snapshot label (i.e. func name etc.)", "%1: %2", formatCost(node->cost()), QString::fromLatin1(displayLabel(node->label())));
    case Qt::ToolTipRole:
        return nodeTooltip(node, snapshotOfNode(node), node->label());
    case Qt::BackgroundRole:
        return background(node->cost());
    case FilterTextRole:
        return node->label();
    case NodeRole:
        return QVariant::fromValue<const TreeLeafItem *>(node);
    case ItemPairRole:
        return QVariant::fromValue(modelItemAt(index));
    default:
        return QVariant();
    }
}

QVariant DataTreeModel::background(quint64 cost) const
{
    if (cost == 0) {
        return QVariant();
    }
    const SnapshotItem *peak = m_fileData->peak();
    const quint64 peakCost = peak ? peak->cost() : 0;
    // A snapshot without a heap tree may cost more than the peak, which is
    // chosen among the detailed ones: such rows look like the peak.
    const double ratio = peakCost == 0 ? 1.0 : qMin(1.0, static_cast<double>(cost) / static_cast<double>(peakCost));
    const int hue = static_cast<int>(120 - ratio * 120);
    const int alpha = static_cast<int>(120 - (ratio - 1) * (ratio - 1) * 120);
    return QBrush(QColor::fromHsv(hue, 255, 255, alpha), Qt::SolidPattern);
}

void DataTreeModel::setFileData(const FileData *data)
{
    // A file without snapshots has no rows to announce.
    if (m_fileData) {
        const int rows = rowCount();
        if (rows > 0) {
            beginRemoveRows(QModelIndex(), 0, rows - 1);
        }
        m_fileData = nullptr;
        m_roots.clear();
        if (rows > 0) {
            endRemoveRows();
        }
    }
    if (!data) {
        return;
    }
    const QList<SnapshotItem *> snapshots = data->snapshots();
    if (!snapshots.isEmpty()) {
        beginInsertRows(QModelIndex(), 0, int(snapshots.size()) - 1);
    }
    m_fileData = data;
    // Only the roots: every other node knows its row, so that showing a
    // large file costs no pass over its nodes.
    for (int row = 0; row < snapshots.size(); ++row) {
        const SnapshotItem *snapshot = snapshots.at(row);
        if (const TreeLeafItem *root = snapshot->heapTree()) {
            m_roots.insert(root, Root {snapshot, row});
        }
    }
    if (!snapshots.isEmpty()) {
        endInsertRows();
    }
}

ModelItem DataTreeModel::modelItemAt(const QModelIndex &index) const
{
    if (!m_fileData || !index.isValid()) {
        return ModelItem(nullptr, nullptr);
    }
    if (isNodeRow(index)) {
        return ModelItem(nodeOf(index), nullptr);
    }
    const QList<SnapshotItem *> snapshots = m_fileData->snapshots();
    if (index.row() >= snapshots.size()) {
        return ModelItem(nullptr, nullptr);
    }
    return ModelItem(nullptr, snapshots.at(index.row()));
}

const SnapshotItem *DataTreeModel::snapshotOfNode(const TreeLeafItem *node) const
{
    if (!node) {
        return nullptr;
    }
    while (node->parent()) {
        node = node->parent();
    }
    return m_roots.value(node).snapshot;
}

int DataTreeModel::rowOf(const TreeLeafItem *node) const
{
    if (!node->parent()) {
        return m_roots.value(node, Root {nullptr, -1}).row;
    }
    return node->row();
}

QModelIndex DataTreeModel::snapshotIndex(const SnapshotItem *snapshot) const
{
    if (!m_fileData || !snapshot) {
        return QModelIndex();
    }
    const qsizetype row = m_fileData->snapshots().indexOf(snapshot);
    return row == -1 ? QModelIndex() : index(int(row), 0);
}

QModelIndex DataTreeModel::nodeIndex(const TreeLeafItem *node) const
{
    // Only nodes of the file shown: their root is one of its snapshots'.
    if (!m_fileData || !snapshotOfNode(node)) {
        return QModelIndex();
    }
    return createIndex(rowOf(node), 0, node);
}

QModelIndex DataTreeModel::modelItemIndex(const ModelItem &item) const
{
    if (item.first) {
        return nodeIndex(item.first);
    }
    return snapshotIndex(item.second);
}
