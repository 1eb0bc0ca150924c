/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "heaptreediff.h"

#include "treeleafitem.h"

#include <algorithm>

using namespace Massif;

namespace {

// Below this many siblings a linear search beats hashing.
constexpr size_t LinearSearchLimit = 12;
// Enough for the distinct labels of one level of a large profile.
constexpr size_t KeyCacheSize = 4096;

} // namespace

HeapTreeDiff::HeapTreeDiff(const TreeLeafItem *baseline, const TreeLeafItem *current)
{
    if (!baseline && !current) {
        return;
    }
    Row root;
    if (baseline) {
        root.baselineBegin = qint32(m_nodes.size());
        root.baselineCount = 1;
        root.baselineCost = baseline->cost();
        m_nodes.push_back(baseline);
    }
    if (current) {
        root.currentBegin = qint32(m_nodes.size());
        root.currentCount = 1;
        root.currentCost = current->cost();
        m_nodes.push_back(current);
    }
    m_rows.push_back(root);
    m_keyCache.resize(KeyCacheSize);
    // Each row's children are appended in one block. The rows are expanded
    // depth first, which visits the nodes in about the order the parser
    // made them, and so mostly in memory order.
    std::vector<qint32> stack {0};
    while (!stack.empty()) {
        const qint32 index = stack.back();
        stack.pop_back();
        expand(index);
        const Row &row = m_rows[size_t(index)];
        for (qint32 child = row.firstChild + row.childCount - 1; child >= row.firstChild; --child) {
            stack.push_back(child);
        }
    }
    m_baselineEntries = {};
    m_currentEntries = {};
    m_baselineGroups = {};
    m_currentGroups = {};
    m_pending = {};
    m_groupIndex = {};
    m_keyCache = {};
}

void HeapTreeDiff::collect(qint32 begin, qint32 count, std::vector<Entry> &entries, std::vector<Group> &groups)
{
    entries.clear();
    groups.clear();
    for (qint32 i = begin; i < begin + count; ++i) {
        const QList<TreeLeafItem *> children = m_nodes[size_t(i)]->children();
        for (const TreeLeafItem *child : children) {
            Entry entry;
            entry.label = child->label();
            entry.node = child;
            entry.cost = child->cost();
            entries.push_back(std::move(entry));
        }
    }
    // Keys only now: the views must point into labels that no longer move.
    const bool hashed = entries.size() > LinearSearchLimit;
    if (hashed) {
        m_groupIndex.clear();
    }
    for (size_t e = 0; e < entries.size(); ++e) {
        Entry &entry = entries[e];
        const char *data = entry.label.constData();
        CachedKey &cached = m_keyCache[(quintptr(data) >> 4) % m_keyCache.size()];
        if (cached.data != data || cached.size != entry.label.size()) {
            cached = {data, entry.label.size(), labelKey(entry.label)};
        }
        entry.key = cached.key;
        qint32 group = -1;
        if (hashed) {
            group = m_groupIndex.value(entry.key, -1);
        } else {
            for (size_t g = 0; g < groups.size(); ++g) {
                if (groups[g].key == entry.key) {
                    group = qint32(g);
                    break;
                }
            }
        }
        if (group == -1) {
            group = qint32(groups.size());
            Group added;
            added.key = entry.key;
            added.first = qint32(e);
            groups.push_back(added);
            if (hashed) {
                m_groupIndex.insert(entry.key, group);
            }
        } else {
            entries[size_t(groups[size_t(group)].last)].next = qint32(e);
        }
        Group &target = groups[size_t(group)];
        target.last = qint32(e);
        target.cost += entry.cost;
        ++target.count;
        entry.group = group;
    }
}

void HeapTreeDiff::pairMoved()
{
    // Unmatched groups of one function on both sides; paired only where the
    // function has exactly one such group on each side.
    struct Candidates
    {
        qint32 baselineGroup = -1;
        qint32 currentGroup = -1;
        qint32 baselineCount = 0;
        qint32 currentCount = 0;
    };
    QHash<QByteArrayView, Candidates> byFunction;
    for (size_t b = 0; b < m_baselineGroups.size(); ++b) {
        const Group &group = m_baselineGroups[b];
        if (group.match == -1 && !group.key.summary) {
            Candidates &candidates = byFunction[group.key.function];
            candidates.baselineGroup = qint32(b);
            ++candidates.baselineCount;
        }
    }
    if (byFunction.isEmpty()) {
        return;
    }
    bool any = false;
    for (size_t c = 0; c < m_currentGroups.size(); ++c) {
        const Group &group = m_currentGroups[c];
        if (group.match == -1 && !group.key.summary) {
            auto it = byFunction.find(group.key.function);
            if (it != byFunction.end()) {
                it->currentGroup = qint32(c);
                ++it->currentCount;
                any = true;
            }
        }
    }
    if (!any) {
        return;
    }
    for (const Candidates &candidates : std::as_const(byFunction)) {
        if (candidates.baselineCount == 1 && candidates.currentCount == 1) {
            m_baselineGroups[size_t(candidates.baselineGroup)].match = candidates.currentGroup;
            m_currentGroups[size_t(candidates.currentGroup)].match = candidates.baselineGroup;
        }
    }
}

qint32 HeapTreeDiff::appendSources(const std::vector<Entry> &entries, const Group &group)
{
    const qint32 begin = qint32(m_nodes.size());
    for (qint32 e = group.first; e != -1; e = entries[size_t(e)].next) {
        m_nodes.push_back(entries[size_t(e)].node);
    }
    return begin;
}

void HeapTreeDiff::expand(qint32 index)
{
    const Row parent = m_rows[size_t(index)];
    collect(parent.baselineBegin, parent.baselineCount, m_baselineEntries, m_baselineGroups);
    collect(parent.currentBegin, parent.currentCount, m_currentEntries, m_currentGroups);
    if (m_baselineGroups.empty() && m_currentGroups.empty()) {
        return;
    }

    // Exact matches by key. The group index still holds the current side's
    // groups when that side was hashed.
    const bool currentHashed = m_currentEntries.size() > LinearSearchLimit;
    bool unmatched = false;
    for (size_t b = 0; b < m_baselineGroups.size(); ++b) {
        Group &group = m_baselineGroups[b];
        qint32 match = -1;
        if (currentHashed) {
            match = m_groupIndex.value(group.key, -1);
        } else {
            for (size_t c = 0; c < m_currentGroups.size(); ++c) {
                if (m_currentGroups[c].key == group.key) {
                    match = qint32(c);
                    break;
                }
            }
        }
        if (match != -1) {
            group.match = match;
            m_currentGroups[size_t(match)].match = qint32(b);
        } else {
            unmatched = true;
        }
    }
    if (unmatched) {
        pairMoved();
    }

    m_pending.clear();
    for (size_t b = 0; b < m_baselineGroups.size(); ++b) {
        const Group &group = m_baselineGroups[b];
        Pending pending;
        pending.baselineGroup = qint32(b);
        pending.currentGroup = group.match;
        pending.row.baselineCost = group.cost;
        pending.row.baselineCount = group.count;
        if (group.key.summary) {
            pending.row.flags |= Row::Summary;
        }
        if (group.match != -1) {
            const Group &other = m_currentGroups[size_t(group.match)];
            pending.row.currentCost = other.cost;
            pending.row.currentCount = other.count;
            if (other.key != group.key) {
                pending.row.flags |= Row::Moved;
            }
        }
        m_pending.push_back(pending);
    }
    for (size_t c = 0; c < m_currentGroups.size(); ++c) {
        const Group &group = m_currentGroups[c];
        if (group.match != -1) {
            continue;
        }
        Pending pending;
        pending.currentGroup = qint32(c);
        pending.row.currentCost = group.cost;
        pending.row.currentCount = group.count;
        if (group.key.summary) {
            pending.row.flags |= Row::Summary;
        }
        m_pending.push_back(pending);
    }

    std::stable_sort(m_pending.begin(), m_pending.end(), [](const Pending &a, const Pending &b) {
        const quint64 changeA = quint64(std::abs(a.row.change()));
        const quint64 changeB = quint64(std::abs(b.row.change()));
        if (changeA != changeB) {
            return changeA > changeB;
        }
        return std::max(a.row.baselineCost, a.row.currentCost) > std::max(b.row.baselineCost, b.row.currentCost);
    });

    Row &expanded = m_rows[size_t(index)];
    expanded.firstChild = qint32(m_rows.size());
    expanded.childCount = qint32(m_pending.size());
    for (Pending &pending : m_pending) {
        Row row = pending.row;
        row.parent = index;
        if (pending.baselineGroup != -1) {
            row.baselineBegin = appendSources(m_baselineEntries, m_baselineGroups[size_t(pending.baselineGroup)]);
        }
        if (pending.currentGroup != -1) {
            row.currentBegin = appendSources(m_currentEntries, m_currentGroups[size_t(pending.currentGroup)]);
        }
        m_rows.push_back(row);
    }
}

QList<const TreeLeafItem *> HeapTreeDiff::baselineNodes(const Row &row) const
{
    return QList<const TreeLeafItem *>(m_nodes.begin() + row.baselineBegin, m_nodes.begin() + row.baselineBegin + row.baselineCount);
}

QList<const TreeLeafItem *> HeapTreeDiff::currentNodes(const Row &row) const
{
    return QList<const TreeLeafItem *>(m_nodes.begin() + row.currentBegin, m_nodes.begin() + row.currentBegin + row.currentCount);
}

const TreeLeafItem *HeapTreeDiff::baselineNode(const Row &row) const
{
    return row.baselineCount ? m_nodes[size_t(row.baselineBegin)] : nullptr;
}

const TreeLeafItem *HeapTreeDiff::currentNode(const Row &row) const
{
    return row.currentCount ? m_nodes[size_t(row.currentBegin)] : nullptr;
}

QByteArray HeapTreeDiff::label(const Row &row) const
{
    if (const TreeLeafItem *node = currentNode(row)) {
        return node->label();
    }
    if (const TreeLeafItem *node = baselineNode(row)) {
        return node->label();
    }
    return QByteArray();
}

QHash<const TreeLeafItem *, qint32> HeapTreeDiff::currentNodeRows() const
{
    QHash<const TreeLeafItem *, qint32> rows;
    for (size_t i = 0; i < m_rows.size(); ++i) {
        const Row &row = m_rows[i];
        for (qint32 n = row.currentBegin; n < row.currentBegin + row.currentCount; ++n) {
            rows.insert(m_nodes[size_t(n)], qint32(i));
        }
    }
    return rows;
}
