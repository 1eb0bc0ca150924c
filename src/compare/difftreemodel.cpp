/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "difftreemodel.h"

#include "comparison.h"
#include "formatting.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <KColorScheme>
#include <KLocalizedString>

#include <limits>

using namespace Massif;

namespace {

// A cost with its share of the snapshot, as the data tree's tooltips show it.
QString costRow(const QString &title, quint64 cost, const SnapshotItem *snapshot)
{
    const quint64 total = snapshot ? snapshot->cost() : 0;
    const double percent = total ? int(double(cost) / double(total) * 10000.0) / 100.0 : 0.0;
    return i18nc("@info:tooltip %1 side, %2 cost, %3 percent, %4 snapshot number",
                 "<dt>%1:</dt><dd>%2, i.e. %3% of snapshot #%4</dd>",
                 title,
                 formatCost(cost),
                 percent,
                 snapshot ? QString::number(snapshot->number()) : QString());
}

} // namespace

DiffTreeModel::DiffTreeModel(QObject *parent) : QAbstractItemModel(parent)
{
}

DiffTreeModel::~DiffTreeModel() = default;

void DiffTreeModel::setComparison(const Comparison *comparison)
{
    beginResetModel();
    m_comparison = comparison;
    endResetModel();
}

QModelIndex DiffTreeModel::index(int row, int column, const QModelIndex &parent) const
{
    if (!m_comparison || row < 0 || column < 0 || column >= ColumnCount || (parent.isValid() && parent.column() != 0)) {
        return QModelIndex();
    }
    const HeapTreeDiff &diff = m_comparison->tree();
    if (diff.isEmpty()) {
        return QModelIndex();
    }
    const HeapTreeDiff::Row &parentRow = diff.row(parent.isValid() ? qint32(parent.internalId()) : 0);
    if (row >= parentRow.childCount) {
        return QModelIndex();
    }
    return createIndex(row, column, quintptr(parentRow.firstChild + row));
}

QModelIndex DiffTreeModel::parent(const QModelIndex &child) const
{
    if (!m_comparison || !child.isValid()) {
        return QModelIndex();
    }
    const HeapTreeDiff &diff = m_comparison->tree();
    const qint32 parent = diff.row(qint32(child.internalId())).parent;
    if (parent <= 0) {
        return QModelIndex();
    }
    const HeapTreeDiff::Row &grandParent = diff.row(diff.row(parent).parent);
    return createIndex(parent - grandParent.firstChild, 0, quintptr(parent));
}

int DiffTreeModel::rowCount(const QModelIndex &parent) const
{
    if (!m_comparison || m_comparison->tree().isEmpty() || (parent.isValid() && parent.column() != 0)) {
        return 0;
    }
    return m_comparison->tree().row(parent.isValid() ? qint32(parent.internalId()) : 0).childCount;
}

int DiffTreeModel::columnCount(const QModelIndex &parent) const
{
    Q_UNUSED(parent)
    return ColumnCount;
}

QVariant DiffTreeModel::data(const QModelIndex &index, int role) const
{
    if (!m_comparison || !index.isValid() || index.model() != this) {
        return QVariant();
    }
    const HeapTreeDiff &diff = m_comparison->tree();
    const qint32 rowIndex = qint32(index.internalId());
    const HeapTreeDiff::Row &row = diff.row(rowIndex);
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case FunctionColumn:
            return QString::fromLatin1(displayLabel(diff.label(row)));
        case BaselineColumn:
            return row.isNew() ? QString() : formatCost(row.baselineCost);
        case CurrentColumn:
            return row.isGone() ? QString() : formatCost(row.currentCost);
        case ChangeColumn:
            return Comparison::formatChange(row.change());
        case PercentColumn:
            if (row.isNew()) {
                return i18nc("@item a row only the current side has", "new");
            }
            if (row.isGone()) {
                return i18nc("@item a row only the baseline has", "gone");
            }
            return row.baselineCost ? Comparison::formatPercent(row.changePercent()) : QString();
        }
        break;
    case SortKeyRole:
        switch (index.column()) {
        case FunctionColumn:
            return QString::fromLatin1(displayLabel(diff.label(row)));
        case BaselineColumn:
            return row.baselineCost;
        case CurrentColumn:
            return row.currentCost;
        case ChangeColumn:
            return quint64(std::abs(row.change()));
        case PercentColumn:
            return row.baselineCost ? std::abs(row.changePercent()) : std::numeric_limits<double>::infinity();
        }
        break;
    case Qt::ToolTipRole:
        return tooltip(rowIndex);
    case Qt::TextAlignmentRole:
        if (index.column() != FunctionColumn) {
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        }
        break;
    case Qt::ForegroundRole:
        if ((index.column() == ChangeColumn || index.column() == PercentColumn) && row.change() != 0) {
            // More memory is the bad news.
            const KColorScheme scheme(QPalette::Active, KColorScheme::View);
            return scheme.foreground(row.change() > 0 ? KColorScheme::NegativeText : KColorScheme::PositiveText);
        }
        break;
    case FilterTextRole:
        return QString::fromUtf8(diff.label(row));
    case DiffRowRole:
        return rowIndex;
    }
    return QVariant();
}

QString DiffTreeModel::tooltip(qint32 rowIndex) const
{
    const HeapTreeDiff &diff = m_comparison->tree();
    const HeapTreeDiff::Row &row = diff.row(rowIndex);
    QString rows;
    if (!row.isNew()) {
        rows += costRow(i18nc("@info:tooltip", "baseline"), row.baselineCost, m_comparison->baseline());
    }
    if (!row.isGone()) {
        rows += costRow(i18nc("@info:tooltip", "current"), row.currentCost, m_comparison->current());
    }
    QString change = Comparison::formatChange(row.change());
    if (row.isNew()) {
        change = i18nc("@info:tooltip %1 change", "%1, new", change);
    } else if (row.isGone()) {
        change = i18nc("@info:tooltip %1 change", "%1, gone", change);
    } else if (row.baselineCost) {
        change = i18nc("@info:tooltip %1 change, %2 change in percent", "%1, %2", change, Comparison::formatPercent(row.changePercent()));
    }
    rows += i18nc("@info:tooltip", "<dt>change:</dt><dd>%1</dd>", change.toHtmlEscaped());
    if ((row.flags & HeapTreeDiff::Row::Moved) && diff.baselineNode(row)) {
        const LabelPieces before = splitLabelPieces(diff.baselineNode(row)->label());
        rows += i18nc("@info:tooltip", "<dt>baseline location:</dt><dd>%1</dd>", QString::fromUtf8(before.location).toHtmlEscaped());
    }
    const int merged = std::max(row.baselineCount, row.currentCount);
    if (merged > 1) {
        rows += i18ncp("@info:tooltip", "<dt>merged:</dt><dd>%1 code address</dd>", "<dt>merged:</dt><dd>%1 code addresses</dd>", merged);
    }
    rows += labelPiecesRows(splitLabelPieces(diff.label(row)));
    return wrapTooltip(rows);
}

QVariant DiffTreeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return QVariant();
    }
    switch (section) {
    case FunctionColumn:
        return i18nc("@title:column", "Function");
    case BaselineColumn:
        return i18nc("@title:column", "Baseline");
    case CurrentColumn:
        return i18nc("@title:column", "Current");
    case ChangeColumn:
        return i18nc("@title:column", "Change");
    case PercentColumn:
        return i18nc("@title:column", "Change %");
    }
    return QVariant();
}
