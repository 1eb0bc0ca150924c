/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "allocatorsmodel.h"

#include "filedata.h"
#include "formatting.h"
#include "labelbuffercache.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <KLocalizedString>

#include <QHash>
#include <QStringList>

using namespace Massif;

AllocatorsModel::AllocatorsModel(const FileData *data, QObject *parent) : QAbstractItemModel(parent)
{
    m_sites.reserve(1024);
    if (!data) {
        return;
    }
    QHash<LabelPieces, int> rows;
    LabelBufferCache<int> rowOf;
    // The nodes of each site within the snapshot at hand, by row, and the rows met there.
    QList<QList<const TreeLeafItem *>> nodesOfRow;
    QList<int> rowsInSnapshot;
    const QList<SnapshotItem *> snapshots = data->snapshots();
    for (const SnapshotItem *snapshot : snapshots) {
        const TreeLeafItem *root = snapshot->heapTree();
        if (!root) {
            continue;
        }
        const QList<TreeLeafItem *> children = root->children();
        for (const TreeLeafItem *node : children) {
            const int row = rowOf.value(node->label(), [&](const QByteArray &label) {
                const LabelPieces key = siteKey(label);
                auto it = rows.constFind(key);
                if (it == rows.constEnd()) {
                    it = rows.insert(key, int(m_sites.size()));
                    m_sites.append(AllocationSite {key, nullptr, 0, {}});
                    nodesOfRow.append(QList<const TreeLeafItem *>());
                }
                return it.value();
            });
            QList<const TreeLeafItem *> &nodes = nodesOfRow[row];
            if (nodes.isEmpty()) {
                rowsInSnapshot.append(row);
            }
            nodes.append(node);
        }
        // One function at several code addresses holds all their bytes at once.
        for (const int row : std::as_const(rowsInSnapshot)) {
            QList<const TreeLeafItem *> &nodes = nodesOfRow[row];
            quint64 sum = 0;
            const TreeLeafItem *largest = nodes.first();
            for (const TreeLeafItem *node : std::as_const(nodes)) {
                sum += node->cost();
                if (largest->cost() < node->cost()) {
                    largest = node;
                }
            }
            AllocationSite &site = m_sites[row];
            // On equal sums the earlier snapshot stays the peak.
            if (!site.peak || site.peakCost < sum) {
                site.peak = largest;
                site.peakCost = sum;
                site.peakParts = nodes.size() > 1 ? nodes : QList<const TreeLeafItem *>();
            }
            nodes.clear();
        }
        rowsInSnapshot.clear();
    }
}

AllocatorsModel::~AllocatorsModel() = default;

QModelIndex AllocatorsModel::index(int row, int column, const QModelIndex &parent) const
{
    if (row < 0 || column < 0 || parent.isValid() || column > 2 || row >= m_sites.size()) {
        return QModelIndex();
    }
    return createIndex(row, column);
}

QModelIndex AllocatorsModel::parent(const QModelIndex &child) const
{
    Q_UNUSED(child)
    return QModelIndex();
}

int AllocatorsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_sites.size());
}

int AllocatorsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 3;
}

QVariant AllocatorsModel::data(const QModelIndex &index, int role) const
{
    if (index.row() < 0 || index.column() < 0 || !index.model() || index.parent().isValid() || index.row() >= m_sites.size() || index.column() > 2) {
        return QVariant();
    }
    const AllocationSite &site = m_sites.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return cellText(site, index.column());
    case SortKeyRole:
        return cellSortKey(site, index.column());
    case Qt::ToolTipRole:
        return tooltip(site);
    case PeakItemRole:
        return QVariant::fromValue(ModelItem(site.peak, nullptr));
    default:
        return QVariant();
    }
}

QVariant AllocatorsModel::cellText(const AllocationSite &site, int column) const
{
    switch (column) {
    case 0:
        if (site.parts.function.isEmpty()) {
            return i18n("below threshold");
        }
        return shortenTemplates(site.parts.function);
    case 1:
        return formatCost(site.peakCost);
    default:
        return site.parts.location;
    }
}

QVariant AllocatorsModel::cellSortKey(const AllocationSite &site, int column) const
{
    if (column == 1) {
        return QVariant::fromValue<quint64>(site.peakCost);
    }
    return cellText(site, column);
}

QString AllocatorsModel::tooltip(const AllocationSite &site) const
{
    QString rows = i18n("<dt>peak cost:</dt><dd>%1</dd>", formatCost(site.peakCost));
    if (!site.peakParts.isEmpty()) {
        QStringList parts;
        for (const TreeLeafItem *node : site.peakParts) {
            const QString address = QString::fromUtf8(splitLabelPieces(node->label()).address).toHtmlEscaped();
            parts.append(i18nc("@info:tooltip a part of a site's peak cost, from one code address", "%1 at %2", formatCost(node->cost()), address));
        }
        rows += i18n("<dt>held at once by:</dt><dd>%1</dd>", parts.join(QLatin1String("<br>")));
    }
    rows += labelPiecesRows(site.parts);
    return wrapTooltip(rows);
}

QVariant AllocatorsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return QVariant();
    }
    switch (section) {
    case 0:
        return i18n("Function");
    case 1:
        return i18n("Peak");
    case 2:
        return i18n("Location");
    default:
        return QVariant();
    }
}

QModelIndex AllocatorsModel::modelItemIndex(const ModelItem &item) const
{
    if (!item.first) {
        return QModelIndex();
    }
    const LabelPieces key = siteKey(item.first->label());
    for (int row = 0; row < m_sites.size(); ++row) {
        if (m_sites.at(row).parts == key) {
            return index(row, 0);
        }
    }
    return QModelIndex();
}

void AllocatorsModel::settingsChanged()
{
    if (!m_sites.isEmpty()) {
        Q_EMIT dataChanged(index(0, 0), index(int(m_sites.size()) - 1, 0), {});
    }
}
