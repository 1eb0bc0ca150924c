/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "totalcostmodel.h"

#include "filedata.h"
#include "formatting.h"
#include "snapshotitem.h"

#include <KChartGlobal>
#include <KChartLineAttributes>
#include <KLocalizedString>

#include <QBrush>
#include <QPen>

using namespace Massif;

static QVariant curveColor(int role)
{
    if (role == KChart::DatasetBrushRole) {
        return QBrush(Qt::red, Qt::SolidPattern);
    }
    return QPen(Qt::red);
}

TotalCostModel::TotalCostModel(QObject *parent) : QAbstractTableModel(parent)
{
    qRegisterMetaType<KChart::LineAttributes>("KChart::LineAttributes");
}

TotalCostModel::~TotalCostModel() = default;

int TotalCostModel::rowCount(const QModelIndex &parent) const
{
    if (!m_fileData || parent.isValid()) {
        return 0;
    }
    return m_fileData->snapshots().size();
}

int TotalCostModel::columnCount(const QModelIndex &parent) const
{
    Q_UNUSED(parent)
    return 2;
}

bool TotalCostModel::isOwnCell(const QModelIndex &index) const
{
    return index.isValid() && index.model() == this && !index.parent().isValid() && index.row() < rowCount() && index.column() < columnCount();
}

QVariant TotalCostModel::data(const QModelIndex &index, int role) const
{
    if (!isOwnCell(index)) {
        return QVariant();
    }
    const QList<SnapshotItem *> snapshots = m_fileData->snapshots();
    switch (role) {
    case Qt::DisplayRole: {
        const SnapshotItem *snapshot = snapshots.at(index.row());
        if (index.column() == 0) {
            return snapshot->time();
        }
        return QVariant::fromValue<quint64>(snapshot->cost());
    }
    case Qt::ToolTipRole: {
        // The chart reports a click at row r for the point at row r + 1.
        const SnapshotItem *snapshot = snapshots.at(qMin(index.row() + 1, snapshots.size() - 1));
        return i18n("Snapshot #%1:\nHeap cost of %2\nExtra heap cost of %3\nStack cost of %4",
                    snapshot->number(),
                    formatCost(snapshot->memHeap()),
                    formatCost(snapshot->memHeapExtra()),
                    formatCost(snapshot->memStacks()));
    }
    case KChart::DatasetPenRole:
    case KChart::DatasetBrushRole:
        return curveColor(role);
    case KChart::LineAttributesRole: {
        KChart::LineAttributes attributes;
        attributes.setDisplayArea(true);
        attributes.setTransparency(index == m_highlight ? 255 : 50);
        return QVariant::fromValue(attributes);
    }
    default:
        return QVariant();
    }
}

QVariant TotalCostModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (section == 0 && orientation == Qt::Horizontal) {
        if (role == Qt::DisplayRole) {
            return i18n("Total Memory Heap Consumption");
        }
        if (role == KChart::DatasetBrushRole || role == KChart::DatasetPenRole) {
            return curveColor(role);
        }
    }
    return QAbstractItemModel::headerData(section, orientation, role);
}

void TotalCostModel::setFileData(const FileData *data)
{
    // A file without snapshots has no rows to announce.
    if (m_fileData) {
        const int rows = rowCount();
        if (rows > 0) {
            beginRemoveRows(QModelIndex(), 0, rows - 1);
        }
        m_fileData = nullptr;
        if (rows > 0) {
            endRemoveRows();
        }
    }
    if (!data) {
        return;
    }
    const int rows = int(data->snapshots().size());
    if (rows > 0) {
        beginInsertRows(QModelIndex(), 0, rows - 1);
    }
    m_fileData = data;
    if (rows > 0) {
        endInsertRows();
    }
}

QModelIndex TotalCostModel::peakSnapshotIndex() const
{
    if (!m_fileData) {
        return QModelIndex();
    }
    return snapshotIndex(m_fileData->peak());
}

QModelIndex TotalCostModel::snapshotIndex(const SnapshotItem *snapshot) const
{
    if (!m_fileData || !snapshot) {
        return QModelIndex();
    }
    const qsizetype row = m_fileData->snapshots().indexOf(snapshot);
    return row == -1 ? QModelIndex() : index(int(row), 0);
}

QModelIndex TotalCostModel::modelItemIndex(const ModelItem &item) const
{
    if (item.first || !item.second) {
        return QModelIndex();
    }
    return snapshotIndex(item.second);
}

ModelItem TotalCostModel::modelItemAt(const QModelIndex &index) const
{
    if (!isOwnCell(index)) {
        return ModelItem(nullptr, nullptr);
    }
    return ModelItem(nullptr, m_fileData->snapshots().at(index.row()));
}

void TotalCostModel::setHighlight(const QModelIndex &index)
{
    m_highlight = index;
}

void TotalCostModel::settingsChanged()
{
    if (rowCount() == 0 || columnCount() == 0) {
        return;
    }
    Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
    Q_EMIT headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}
