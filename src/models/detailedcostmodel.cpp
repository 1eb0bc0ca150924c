/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "detailedcostmodel.h"

#include "filedata.h"
#include "formatting.h"
#include "labelbuffercache.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <KChartGlobal>
#include <KChartLineAttributes>

#include <QBrush>
#include <QColor>
#include <QPen>

#include <algorithm>

using namespace Massif;

namespace {

/// Where a label stands in the ranking: its highest cost so far, and when that entry was made.
struct RankEntry
{
    quint64 cost = 0;
    quint64 sequence = 0;
};

// Follows a branch down while one child carries all of its parent's cost,
// so that a plain call chain is represented by the frame where it splits.
const TreeLeafItem *representativeNode(const TreeLeafItem *top)
{
    const TreeLeafItem *node = top;
    while (true) {
        const QList<TreeLeafItem *> children = node->children();
        if (children.size() != 1 || children.first()->cost() != node->cost()) {
            break;
        }
        node = children.first();
    }
    return node->children().isEmpty() ? top : node;
}

// The time of the last snapshot before memory use first reaches 0.1 % of the peak.
double startTime(const FileData *data)
{
    const SnapshotItem *peak = data->peak();
    const double threshold = peak ? 0.001 * static_cast<double>(peak->cost()) : 0.0;
    double time = 0.0;
    const QList<SnapshotItem *> snapshots = data->snapshots();
    for (const SnapshotItem *snapshot : snapshots) {
        if (!(threshold > static_cast<double>(snapshot->cost()))) {
            break;
        }
        time = snapshot->time();
    }
    return time;
}

QVariant datasetColor(int column, int columnCount, int role, bool dimmed = false)
{
    const int hue = static_cast<int>((column + 1) / static_cast<double>(columnCount) * 255.0);
    // A dimmed dataset keeps its hue, so that its legend entry is still found.
    const QColor color = QColor::fromHsv(hue, dimmed ? 60 : 255, 255, 255);
    if (role == KChart::DatasetBrushRole) {
        return QBrush(color, Qt::SolidPattern);
    }
    return QPen(color);
}

bool isColorRole(int role)
{
    return role == KChart::DatasetPenRole || role == KChart::DatasetBrushRole;
}

} // namespace

DetailedCostModel::DetailedCostModel(QObject *parent) : QAbstractTableModel(parent)
{
    qRegisterMetaType<KChart::LineAttributes>("KChart::LineAttributes");
}

DetailedCostModel::~DetailedCostModel() = default;

int DetailedCostModel::rowCount(const QModelIndex &parent) const
{
    if (!m_fileData || parent.isValid()) {
        return 0;
    }
    return int(m_rows.size()) + 1;
}

int DetailedCostModel::columnCount(const QModelIndex &parent) const
{
    Q_UNUSED(parent)
    return 2 * shownDatasets();
}

int DetailedCostModel::shownDatasets() const
{
    return int(qMin<qsizetype>(m_labels.size(), m_maxDatasets));
}

bool DetailedCostModel::isOwnCell(const QModelIndex &index) const
{
    return index.isValid() && index.model() == this && !index.parent().isValid() && index.row() < rowCount() && index.column() < columnCount();
}

const TreeLeafItem *DetailedCostModel::cellNode(qsizetype row, int dataset) const
{
    if (m_cellDatasets != shownDatasets()) {
        fillCells();
    }
    return m_cells.at(row * m_cellDatasets + dataset);
}

void DetailedCostModel::fillCells() const
{
    const int datasets = shownDatasets();
    m_cells.fill(nullptr, m_rows.size() * datasets);
    m_cellDatasets = datasets;
    QHash<QByteArray, int> byText;
    for (int dataset = 0; dataset < datasets; ++dataset) {
        byText.insert(m_labels.at(dataset), dataset);
    }
    LabelBufferCache<int> datasetOf;
    for (qsizetype row = 0; row < m_rows.size(); ++row) {
        const NodeList nodes = m_nodes.value(m_rows.at(row));
        for (const TreeLeafItem *node : nodes) {
            const int dataset = datasetOf.value(node->label(), [&byText](const QByteArray &label) {
                return byText.value(label, -1);
            });
            // The first node with the label, as the tree lists them.
            if (dataset >= 0 && !m_cells.at(row * datasets + dataset)) {
                m_cells[row * datasets + dataset] = node;
            }
        }
    }
}

void DetailedCostModel::invalidateCells()
{
    m_cells.clear();
    m_cellDatasets = -1;
}

QVariant DetailedCostModel::data(const QModelIndex &index, int role) const
{
    if (!isOwnCell(index)) {
        return QVariant();
    }
    const int row = index.row();
    const int column = index.column();
    const QByteArray &label = m_labels.at(column / 2);

    switch (role) {
    case Qt::DisplayRole:
        if (column % 2 == 0) {
            return row == 0 ? m_startTime : m_rows.at(row - 1)->time();
        }
        if (row == 0) {
            return 0;
        }
        if (const TreeLeafItem *node = cellNode(row - 1, column / 2)) {
            return QVariant::fromValue<quint64>(node->cost());
        }
        return QVariant::fromValue<quint64>(0);
    case Qt::ToolTipRole: {
        if (row == 0) {
            return QVariant();
        }
        // Describes the snapshot shown one row further down, as the chart expects.
        const qsizetype shown = qMin<qsizetype>(row, m_rows.size() - 1);
        return nodeTooltip(cellNode(shown, column / 2), m_rows.at(shown), label);
    }
    case KChart::DatasetPenRole:
    case KChart::DatasetBrushRole:
        return datasetColor(column, columnCount(), role, dimmed(column / 2));
    case KChart::LineAttributesRole: {
        KChart::LineAttributes attributes;
        attributes.setDisplayArea(true);
        if (dimmed(column / 2)) {
            attributes.setTransparency(25);
        } else if (m_emphasized >= 0 && index != m_highlight) {
            attributes.setTransparency(230);
        } else if (index == m_highlight) {
            attributes.setTransparency(255);
        } else if (m_highlight.isValid() && column == m_highlight.column()) {
            attributes.setTransparency(152);
        } else {
            attributes.setTransparency(127);
        }
        return QVariant::fromValue(attributes);
    }
    default:
        return QVariant();
    }
}

namespace {

constexpr qsizetype MaxHeaderLength = 40;

// Cuts @p text to @p length bytes, the last three of them "...".
QByteArray cut(QByteArray text, qsizetype length)
{
    if (text.size() > length) {
        text.truncate(qMax<qsizetype>(length - 3, 0));
        text += "...";
    }
    return text;
}

// The legend text of a label on its own: the function without its location,
// unless it is unknown ("???"), where the location is all there is.
QByteArray plainHeader(const QByteArray &label)
{
    QByteArray text = displayLabel(label);
    if (text.isEmpty() || text.contains("???")) {
        return text;
    }
    const qsizetype open = text.lastIndexOf('(');
    if (open == -1) {
        return text;
    }
    // Drop the location and the blank before it. A text that opens with its
    // only parenthesis, like "(below main)", has nothing in front to keep.
    if (open > 0) {
        text.truncate(open - 1);
    }
    return cut(text, MaxHeaderLength);
}

// The legend text of a label that would read like another: with its location
// where that differs from another's, with its address in front, as massif
// writes it, where the location is shared. Only the function is cut, so that
// what tells the entries apart stays whole.
QByteArray distinctHeader(const QByteArray &label, bool withLocation, bool withAddress)
{
    const LabelPieces pieces = splitLabelPieces(label);
    QByteArray function = shortenTemplates(pieces.function);
    const bool unknown = function.contains("???");
    QByteArray prefix;
    if (withAddress && !pieces.address.isEmpty()) {
        prefix = pieces.address + ": ";
    }
    QByteArray suffix;
    if ((withLocation || unknown) && !pieces.location.isEmpty()) {
        suffix = " (" + pieces.location + ')';
    }
    if (!unknown) {
        function = cut(function, qMax<qsizetype>(MaxHeaderLength - prefix.size() - suffix.size(), 12));
    }
    return prefix + function + suffix;
}

} // namespace

QByteArray DetailedCostModel::headerLabel(int dataset) const
{
    const QByteArray &label = m_labels.at(dataset);
    const QByteArray text = plainHeader(label);
    // Entries of the legend that would read alike are told apart: by their
    // locations, and by their addresses where the locations are the same too.
    bool sameLocation = false;
    bool otherLocation = false;
    const QByteArray location = displayLabel(label);
    const int shown = shownDatasets();
    for (int other = 0; other < shown; ++other) {
        if (other != dataset && plainHeader(m_labels.at(other)) == text) {
            if (displayLabel(m_labels.at(other)) == location) {
                sameLocation = true;
            } else {
                otherLocation = true;
            }
        }
    }
    return sameLocation || otherLocation ? distinctHeader(label, otherLocation, sameLocation) : text;
}

QVariant DetailedCostModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && section >= 0 && section % 2 == 0 && section < columnCount()) {
        if (isColorRole(role)) {
            return datasetColor(section, columnCount(), role, dimmed(section / 2));
        }
        if (role == Qt::DisplayRole) {
            return headerLabel(section / 2);
        }
    }
    return QAbstractItemModel::headerData(section, orientation, role);
}

void DetailedCostModel::setFileData(const FileData *data)
{
    if (m_fileData) {
        beginRemoveRows(QModelIndex(), 0, rowCount() - 1);
        clearRanking();
        endRemoveRows();
    }
    if (!data) {
        return;
    }

    rank(data);
    if (!m_rows.isEmpty()) {
        beginInsertRows(QModelIndex(), 0, int(m_rows.size()));
        m_fileData = data;
        m_startTime = startTime(data);
        endInsertRows();
    }
}

void DetailedCostModel::clearRanking()
{
    invalidateCells();
    m_fileData = nullptr;
    m_labels.clear();
    m_rows.clear();
    m_nodes.clear();
    m_labelPeaks.clear();
    m_rankedCount = 0;
    m_emphasized = -1;
}

void DetailedCostModel::rank(const FileData *data)
{
    invalidateCells();
    struct Entry
    {
        QByteArray label;
        RankEntry rank;
        ModelItem peak;
    };
    QList<Entry> entries;
    QHash<QByteArray, qsizetype> byText;
    LabelBufferCache<qsizetype> entryOf;
    quint64 sequence = 0;
    const QList<SnapshotItem *> snapshots = data->snapshots();
    for (const SnapshotItem *snapshot : snapshots) {
        const TreeLeafItem *root = snapshot->heapTree();
        if (!root) {
            continue;
        }
        NodeList nodes;
        const QList<TreeLeafItem *> children = root->children();
        for (const TreeLeafItem *child : children) {
            if (isThresholdSummary(child->label())) {
                continue;
            }
            const TreeLeafItem *node = representativeNode(child);
            const qsizetype index = entryOf.value(node->label(), [&](const QByteArray &label) {
                qsizetype made = byText.value(label, -1);
                if (made < 0) {
                    made = entries.size();
                    entries.append(Entry {label, RankEntry {node->cost(), sequence++}, ModelItem(node, snapshot)});
                    byText.insert(label, made);
                }
                return made;
            });
            Entry &entry = entries[index];
            if (node->cost() > entry.rank.cost) {
                entry.rank = RankEntry {node->cost(), sequence++};
                entry.peak = ModelItem(node, snapshot);
            }
            nodes.append(node);
        }
        m_rows.append(snapshot);
        m_nodes.insert(snapshot, nodes);
    }

    // Highest cost first; among equal costs the label whose entry was made first.
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        return a.rank.cost != b.rank.cost ? a.rank.cost > b.rank.cost : a.rank.sequence < b.rank.sequence;
    });
    m_labels.reserve(entries.size());
    for (const Entry &entry : std::as_const(entries)) {
        m_labels.append(entry.label);
        m_labelPeaks.insert(entry.label, entry.peak);
    }
    m_rankedCount = m_labels.size();
}

void DetailedCostModel::showAllFunctions()
{
    const FileData *data = m_fileData;
    if (!data || !hasHiddenFunctions()) {
        return;
    }
    beginResetModel();
    clearRanking();
    rank(data);
    m_fileData = data;
    endResetModel();
}

bool DetailedCostModel::hasHiddenFunctions() const
{
    return m_labels.size() < m_rankedCount;
}

void DetailedCostModel::setEmphasizedDataset(int dataset)
{
    m_emphasized = dataset;
}

int DetailedCostModel::emphasizedDataset() const
{
    return m_emphasized;
}

int DetailedCostModel::datasetLimit() const
{
    return m_maxDatasets;
}

void DetailedCostModel::setDatasetLimit(int count)
{
    count = qMax(count, 0);
    const int oldShown = shownDatasets();
    const int newShown = int(qMin<qsizetype>(m_labels.size(), count));
    if (m_emphasized >= newShown) {
        m_emphasized = -1;
    }
    if (newShown < oldShown) {
        beginRemoveColumns(QModelIndex(), 2 * newShown, 2 * oldShown - 1);
        m_maxDatasets = count;
        endRemoveColumns();
    } else if (newShown > oldShown) {
        beginInsertColumns(QModelIndex(), 2 * oldShown, 2 * newShown - 1);
        m_maxDatasets = count;
        endInsertColumns();
    }
}

QMap<QModelIndex, const TreeLeafItem *> DetailedCostModel::peakMarkers() const
{
    QMap<QModelIndex, const TreeLeafItem *> markers;
    if (!m_fileData) {
        return markers;
    }
    for (auto it = m_labelPeaks.cbegin(); it != m_labelPeaks.cend(); ++it) {
        const qsizetype dataset = m_labels.indexOf(it.key());
        if (dataset == -1 || dataset >= m_maxDatasets) {
            continue;
        }
        const qsizetype row = m_rows.indexOf(it.value().second);
        if (row != -1) {
            markers.insert(index(int(row) + 1, int(2 * dataset)), it.value().first);
        }
    }
    return markers;
}

QModelIndex DetailedCostModel::nodeIndex(const TreeLeafItem *node) const
{
    if (!m_fileData || !node) {
        return QModelIndex();
    }
    const qsizetype dataset = m_labels.indexOf(node->label());
    if (dataset == -1 || dataset >= m_maxDatasets) {
        return QModelIndex();
    }
    for (qsizetype row = 0; row < m_rows.size(); ++row) {
        if (m_nodes.value(m_rows.at(row)).contains(node)) {
            // The row before the one showing the snapshot: the chart's click convention.
            return index(int(row), int(2 * dataset));
        }
    }
    return QModelIndex();
}

QModelIndex DetailedCostModel::modelItemIndex(const ModelItem &item) const
{
    if (item.first) {
        return nodeIndex(item.first);
    }
    if (!item.second || !m_fileData) {
        return QModelIndex();
    }
    const qsizetype row = m_rows.indexOf(item.second);
    return row == -1 ? QModelIndex() : index(int(row) + 1, 0);
}

ModelItem DetailedCostModel::modelItemAt(const QModelIndex &index) const
{
    if (!isOwnCell(index) || index.row() == 0) {
        return ModelItem(nullptr, nullptr);
    }
    const int dataset = index.column() / 2;
    const TreeLeafItem *node = cellNode(index.row() - 1, dataset);
    if (!node && index.row() >= 2) {
        node = cellNode(index.row() - 2, dataset);
    }
    return ModelItem(node, nullptr);
}

void DetailedCostModel::setHighlight(const QModelIndex &index)
{
    m_highlight = index;
}

void DetailedCostModel::settingsChanged()
{
    if (rowCount() == 0 || columnCount() == 0) {
        return;
    }
    Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
    Q_EMIT headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

void DetailedCostModel::hideFunction(const TreeLeafItem *node)
{
    if (!node) {
        return;
    }
    const QByteArray label = node->label();
    beginResetModel();
    invalidateCells();
    m_emphasized = -1; // the datasets move to other columns
    for (NodeList &nodes : m_nodes) {
        nodes.removeIf([&label](const TreeLeafItem *n) {
            return n->label() == label;
        });
    }
    m_labels.removeAll(label);
    endResetModel();
}

void DetailedCostModel::hideOtherFunctions(const TreeLeafItem *node)
{
    if (!node) {
        return;
    }
    const QByteArray label = node->label();
    beginResetModel();
    invalidateCells();
    m_emphasized = -1; // the datasets move to other columns
    m_labels = {label};
    for (NodeList &nodes : m_nodes) {
        nodes.removeIf([&label](const TreeLeafItem *n) {
            return n->label() != label;
        });
    }
    endResetModel();
}
