/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_HEAPTREEDIFF_H
#define MASSIF_HEAPTREEDIFF_H

#include "labelkey.h"

#include <QByteArray>
#include <QHash>
#include <QList>

#include <cmath>
#include <vector>

namespace Massif {

class TreeLeafItem;

/**
 * Two heap trees merged by path. Children of merged rows are matched by
 * function and location (code addresses ignored); siblings whose location
 * changed are paired by function alone when that pairing is unique; all
 * below-threshold summaries of one level are one row. Nodes of one side
 * that share a key are one row, their costs added.
 *
 * The rows live in one flat list in which the children of a row are
 * consecutive; they are sorted by their absolute change, largest
 * first. Row 0 is the root. Building is linear in the number of nodes (up
 * to the sorting of each level's siblings). The trees must outlive the diff.
 */
class HeapTreeDiff
{
public:
    struct Row
    {
        enum Flag : quint8 {
            /// Below-threshold summaries.
            Summary = 1,
            /// Paired by function alone: the location differs between the sides.
            Moved = 2,
        };

        quint64 baselineCost = 0;
        quint64 currentCost = 0;
        qint32 parent = -1;
        qint32 firstChild = 0;
        qint32 childCount = 0;
        qint32 baselineBegin = 0;
        qint32 baselineCount = 0;
        qint32 currentBegin = 0;
        qint32 currentCount = 0;
        quint8 flags = 0;

        qint64 change() const
        {
            return qint64(currentCost) - qint64(baselineCost);
        }
        /// Change in percent of the baseline cost; NaN without a baseline cost.
        double changePercent() const
        {
            return baselineCost ? double(change()) * 100.0 / double(baselineCost) : std::nan("");
        }
        bool isNew() const
        {
            return baselineCount == 0;
        }
        bool isGone() const
        {
            return currentCount == 0;
        }
    };

    HeapTreeDiff() = default;
    /// Either root may be null: everything of the other side is then new or gone.
    HeapTreeDiff(const TreeLeafItem *baseline, const TreeLeafItem *current);

    bool isEmpty() const
    {
        return m_rows.empty();
    }
    qsizetype size() const
    {
        return qsizetype(m_rows.size());
    }
    const Row &row(qsizetype index) const
    {
        return m_rows[size_t(index)];
    }

    /// The nodes merged into a row on either side, in tree order.
    QList<const TreeLeafItem *> baselineNodes(const Row &row) const;
    QList<const TreeLeafItem *> currentNodes(const Row &row) const;
    /// The first node of a side, or null when the row has none there.
    const TreeLeafItem *baselineNode(const Row &row) const;
    const TreeLeafItem *currentNode(const Row &row) const;
    /// The label the row is shown with: the current side's, else the baseline's.
    QByteArray label(const Row &row) const;

    /// For every node of the current tree, its row: where a view of that tree finds its change.
    QHash<const TreeLeafItem *, qint32> currentNodeRows() const;

private:
    struct Entry
    {
        QByteArray label;
        LabelKey key;
        const TreeLeafItem *node = nullptr;
        quint64 cost = 0;
        qint32 group = -1;
        qint32 next = -1;
    };
    struct Group
    {
        LabelKey key;
        quint64 cost = 0;
        qint32 first = -1;
        qint32 last = -1;
        qint32 count = 0;
        qint32 match = -1;
    };
    struct Pending
    {
        Row row;
        qint32 baselineGroup = -1;
        qint32 currentGroup = -1;
    };

    void expand(qint32 index);
    void collect(qint32 begin, qint32 count, std::vector<Entry> &entries, std::vector<Group> &groups);
    void pairMoved();
    qint32 appendSources(const std::vector<Entry> &entries, const Group &group);

    std::vector<Row> m_rows;
    std::vector<const TreeLeafItem *> m_nodes;

    // Scratch space of one level, kept to spare allocations.
    std::vector<Entry> m_baselineEntries;
    std::vector<Entry> m_currentEntries;
    std::vector<Group> m_baselineGroups;
    std::vector<Group> m_currentGroups;
    std::vector<Pending> m_pending;
    QHash<LabelKey, qint32> m_groupIndex;

    // Keys of the labels met last, by buffer: the parser shares one buffer
    // among all nodes of one label, so most nodes find theirs here.
    struct CachedKey
    {
        const char *data = nullptr;
        qsizetype size = 0;
        LabelKey key;
    };
    std::vector<CachedKey> m_keyCache;
};

} // namespace Massif

#endif
