/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "sitediffmodel.h"

#include "comparison.h"
#include "formatting.h"

#include <KColorScheme>
#include <KLocalizedString>

#include <limits>

using namespace Massif;

SiteDiffModel::SiteDiffModel(QObject *parent) : QAbstractItemModel(parent)
{
}

SiteDiffModel::~SiteDiffModel() = default;

void SiteDiffModel::setComparison(const Comparison *comparison)
{
    beginResetModel();
    m_comparison = comparison;
    endResetModel();
}

QModelIndex SiteDiffModel::index(int row, int column, const QModelIndex &parent) const
{
    if (row < 0 || column < 0 || column >= ColumnCount || parent.isValid() || row >= rowCount()) {
        return QModelIndex();
    }
    return createIndex(row, column);
}

QModelIndex SiteDiffModel::parent(const QModelIndex &child) const
{
    Q_UNUSED(child)
    return QModelIndex();
}

int SiteDiffModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() || !m_comparison ? 0 : int(m_comparison->sites().sites().size());
}

int SiteDiffModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant SiteDiffModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.model() != this || index.row() >= rowCount()) {
        return QVariant();
    }
    const SiteDiff::Site &site = m_comparison->sites().sites().at(index.row());
    const bool isNew = site.baselineNode == nullptr;
    const bool isGone = site.currentNode == nullptr;
    switch (role) {
    case Qt::DisplayRole:
    case SortKeyRole:
        switch (index.column()) {
        case FunctionColumn:
            return site.isSummary() ? i18nc("@item the site of all allocations below the threshold", "below threshold")
                                    : QString::fromUtf8(shortenTemplates(site.parts.function));
        case LocationColumn:
            return QString::fromUtf8(site.parts.location);
        case BaselineColumn:
            if (role == SortKeyRole) {
                return site.baselineCost;
            }
            return isNew ? QString() : formatCost(site.baselineCost);
        case CurrentColumn:
            if (role == SortKeyRole) {
                return site.currentCost;
            }
            return isGone ? QString() : formatCost(site.currentCost);
        case ChangeColumn:
            return role == SortKeyRole ? QVariant(site.change()) : QVariant(Comparison::formatChange(site.change()));
        case PercentColumn:
            if (role == SortKeyRole) {
                return site.baselineCost ? site.changePercent() : std::numeric_limits<double>::infinity();
            }
            if (isNew) {
                return i18nc("@item a site only the current side has", "new");
            }
            if (isGone) {
                return i18nc("@item a site only the baseline has", "gone");
            }
            return Comparison::formatPercent(site.changePercent());
        }
        break;
    case Qt::TextAlignmentRole:
        if (index.column() >= BaselineColumn) {
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        }
        break;
    case Qt::ForegroundRole:
        if (index.column() >= ChangeColumn && site.change() != 0) {
            const KColorScheme scheme(QPalette::Active, KColorScheme::View);
            return scheme.foreground(site.change() > 0 ? KColorScheme::NegativeText : KColorScheme::PositiveText);
        }
        break;
    case Qt::ToolTipRole: {
        QString rows = i18nc("@info:tooltip", "<dt>baseline:</dt><dd>%1</dd>", formatCost(site.baselineCost));
        rows += i18nc("@info:tooltip", "<dt>current:</dt><dd>%1</dd>", formatCost(site.currentCost));
        rows += i18nc("@info:tooltip", "<dt>change:</dt><dd>%1</dd>", Comparison::formatChange(site.change()).toHtmlEscaped());
        return wrapTooltip(rows + labelPiecesRows(site.parts));
    }
    }
    return QVariant();
}

QVariant SiteDiffModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return QVariant();
    }
    switch (section) {
    case FunctionColumn:
        return i18nc("@title:column", "Function");
    case LocationColumn:
        return i18nc("@title:column", "Location");
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
