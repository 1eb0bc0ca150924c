/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "flamegraphlayout.h"

#include "formatting.h"
#include "labelpieces.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <KLocalizedString>

#include <QHash>
#include <QLocale>
#include <QTextDocumentFragment>

#include <algorithm>
#include <cmath>

namespace Massif {

namespace {

// Ties keep the order of the file, so that equal costs lay out the same way
// every time. Not std::stable_sort: that allocates a buffer on every call.
template<typename T, typename Cost>
void sortByCostDescending(std::vector<T> &items, Cost cost)
{
    if (items.size() < 2) {
        return;
    }
    thread_local std::vector<std::pair<quint64, quint32>> keys;
    thread_local std::vector<T> sorted;
    keys.resize(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        keys[i] = {cost(items[i]), quint32(i)};
    }
    std::sort(keys.begin(), keys.end(), [](const auto &a, const auto &b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    sorted.resize(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        sorted[i] = items[keys[i].second];
    }
    items.swap(sorted);
}

QString percent(quint64 part, quint64 whole)
{
    const double share = whole ? 100.0 * double(part) / double(whole) : 0.0;
    // Truncated like the data tree's shares, so the two never disagree.
    return QLocale().toString(std::trunc(share * 100.0) / 100.0, 'f', 2);
}

} // namespace

void FlameGraphLayout::setSnapshot(const SnapshotItem *snapshot, bool inverted)
{
    m_snapshot = snapshot;
    m_inverted = inverted;
    m_frames.clear();
    m_matched.clear();
    m_matchedCost = 0;
    m_maxDepth = 0;
    if (!snapshot) {
        return;
    }
    const TreeLeafItem *root = snapshot->heapTree();
    FlameFrame rootFrame;
    rootFrame.node = root;
    rootFrame.cost = std::max(snapshot->cost(), root ? root->cost() : 0);
    rootFrame.width = 1.0;
    m_frames.push_back(rootFrame);
    if (root && rootFrame.cost > 0) {
        if (inverted) {
            layoutInverted(root);
        } else {
            layoutNormal(root);
        }
    }
    finish();
}

void FlameGraphLayout::layoutNormal(const TreeLeafItem *root)
{
    const double total = double(m_frames.front().cost);
    struct Pending
    {
        const TreeLeafItem *node;
        int parent;
        int depth;
        double x;
    };
    std::vector<Pending> stack;
    std::vector<const TreeLeafItem *> children;
    // Pushed in reverse, so that the largest child is laid out first.
    auto pushChildren = [&](const TreeLeafItem *node, int parent, int depth, double x) {
        const QList<TreeLeafItem *> list = node->children();
        children.clear();
        for (const TreeLeafItem *child : list) {
            if (child->cost() > 0) {
                children.push_back(child);
            }
        }
        sortByCostDescending(children, [](const TreeLeafItem *node) {
            return node->cost();
        });
        const size_t base = stack.size();
        stack.resize(base + children.size());
        for (size_t i = 0; i < children.size(); ++i) {
            stack[base + children.size() - 1 - i] = {children[i], parent, depth, x};
            x += double(children[i]->cost()) / total;
        }
    };
    pushChildren(root, 0, 1, 0.0);
    while (!stack.empty()) {
        const Pending pending = stack.back();
        stack.pop_back();
        const int index = int(m_frames.size());
        FlameFrame frame;
        frame.node = pending.node;
        frame.label = pending.node->label();
        frame.cost = pending.node->cost();
        frame.x = pending.x;
        frame.width = double(frame.cost) / total;
        frame.depth = pending.depth;
        frame.parent = pending.parent;
        frame.summary = isThresholdSummary(frame.label);
        m_frames.push_back(std::move(frame));
        pushChildren(pending.node, index, pending.depth + 1, pending.x);
    }
}

void FlameGraphLayout::layoutInverted(const TreeLeafItem *root)
{
    // A trie of reversed call paths: each node's own bytes (its cost less its
    // children's) are added along the path from it down to the allocation site.
    struct Merged
    {
        const TreeLeafItem *node = nullptr;
        quint64 cost = 0;
        quint32 location = 0;
        bool oneLocation = true;
        std::vector<int> children;
    };
    std::vector<Merged> trie(1);
    QHash<quint64, int> childOf;

    // Labels repeat across the tree: each is split once, and its function
    // and location compared as numbers from then on.
    struct LabelIds
    {
        quint32 function;
        quint32 location;
    };
    QHash<QByteArray, LabelIds> labelIds;
    QHash<QByteArray, quint32> functionIds;
    QHash<QByteArray, quint32> locationIds;
    auto intern = [](QHash<QByteArray, quint32> &ids, const QByteArray &key) {
        auto it = ids.constFind(key);
        if (it == ids.constEnd()) {
            it = ids.insert(key, quint32(ids.size()));
        }
        return *it;
    };

    struct Step
    {
        const TreeLeafItem *node;
        quint32 function;
        quint32 location;
    };
    std::vector<Step> path;
    struct Pending
    {
        const TreeLeafItem *node;
        int depth;
    };
    std::vector<Pending> stack;
    const QList<TreeLeafItem *> top = root->children();
    for (auto it = top.rbegin(); it != top.rend(); ++it) {
        if ((*it)->cost() > 0) {
            stack.push_back({*it, 0});
        }
    }
    while (!stack.empty()) {
        const Pending pending = stack.back();
        stack.pop_back();
        const TreeLeafItem *node = pending.node;
        const QByteArray label = node->label();
        auto ids = labelIds.constFind(label);
        if (ids == labelIds.constEnd()) {
            const LabelPieces pieces = splitLabelPieces(label);
            ids = labelIds.insert(label, {intern(functionIds, pieces.function), intern(locationIds, pieces.location)});
        }
        path.resize(size_t(pending.depth));
        path.push_back({node, ids->function, ids->location});

        const QList<TreeLeafItem *> children = node->children();
        quint64 childCost = 0;
        for (const TreeLeafItem *child : children) {
            childCost += child->cost();
        }
        const quint64 own = node->cost() > childCost ? node->cost() - childCost : 0;
        if (own > 0) {
            int at = 0;
            for (auto step = path.rbegin(); step != path.rend(); ++step) {
                const quint64 key = (quint64(quint32(at)) << 32) | step->function;
                auto found = childOf.constFind(key);
                int next = 0;
                if (found == childOf.constEnd()) {
                    next = int(trie.size());
                    childOf.insert(key, next);
                    Merged merged;
                    merged.node = step->node;
                    merged.location = step->location;
                    trie.push_back(std::move(merged));
                    trie[size_t(at)].children.push_back(next);
                } else {
                    next = *found;
                    Merged &merged = trie[size_t(next)];
                    merged.oneLocation = merged.oneLocation && merged.location == step->location;
                    if (step->node->cost() > merged.node->cost()) {
                        merged.node = step->node;
                    }
                }
                trie[size_t(next)].cost += own;
                at = next;
            }
        }
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            if ((*it)->cost() > 0) {
                stack.push_back({*it, pending.depth + 1});
            }
        }
    }

    const double total = double(m_frames.front().cost);
    struct Placed
    {
        int trieIndex;
        int parent;
        int depth;
        double x;
    };
    std::vector<Placed> placing;
    auto pushChildren = [&](int trieIndex, int parent, int depth, double x) {
        std::vector<int> &children = trie[size_t(trieIndex)].children;
        sortByCostDescending(children, [&trie](int index) {
            return trie[size_t(index)].cost;
        });
        const size_t base = placing.size();
        placing.resize(base + children.size());
        for (size_t i = 0; i < children.size(); ++i) {
            placing[base + children.size() - 1 - i] = {children[i], parent, depth, x};
            x += double(trie[size_t(children[i])].cost) / total;
        }
    };
    pushChildren(0, 0, 1, 0.0);
    while (!placing.empty()) {
        const Placed placed = placing.back();
        placing.pop_back();
        const Merged &merged = trie[size_t(placed.trieIndex)];
        const int index = int(m_frames.size());
        FlameFrame frame;
        frame.node = merged.node;
        // Shaped like a label, so that the label pieces read it back.
        const LabelPieces pieces = splitLabelPieces(merged.node->label());
        frame.label = pieces.function;
        if (merged.oneLocation && !pieces.location.isEmpty()) {
            frame.label += " (" + pieces.location + ')';
        }
        frame.cost = merged.cost;
        frame.x = placed.x;
        frame.width = double(merged.cost) / total;
        frame.depth = placed.depth;
        frame.parent = placed.parent;
        frame.summary = isThresholdSummary(frame.label);
        m_frames.push_back(std::move(frame));
        pushChildren(placed.trieIndex, index, placed.depth + 1, placed.x);
    }
}

void FlameGraphLayout::finish()
{
    // Depth-first order: a subtree ends at the next frame that is not deeper.
    std::vector<int> open;
    for (int i = 0; i < int(m_frames.size()); ++i) {
        const int depth = m_frames[size_t(i)].depth;
        while (!open.empty() && m_frames[size_t(open.back())].depth >= depth) {
            m_frames[size_t(open.back())].end = i;
            open.pop_back();
        }
        open.push_back(i);
        m_maxDepth = std::max(m_maxDepth, depth);
    }
    for (int index : open) {
        m_frames[size_t(index)].end = int(m_frames.size());
    }
}

int FlameGraphLayout::frameOfNode(const TreeLeafItem *node) const
{
    if (!node) {
        return -1;
    }
    for (size_t i = 0; i < m_frames.size(); ++i) {
        if (m_frames[i].node == node) {
            return int(i);
        }
    }
    return -1;
}

int FlameGraphLayout::frameAt(double x, int depth, int from) const
{
    if (from < 0 || from >= frameCount()) {
        return -1;
    }
    auto holds = [this, x](int index) {
        const FlameFrame &frame = m_frames[size_t(index)];
        return x >= frame.x && x < frame.x + frame.width;
    };
    int at = from;
    if (m_frames[size_t(at)].depth > depth) {
        return -1;
    }
    while (m_frames[size_t(at)].depth < depth) {
        int found = -1;
        for (int child = at + 1; child < m_frames[size_t(at)].end; child = m_frames[size_t(child)].end) {
            if (holds(child)) {
                found = child;
                break;
            }
        }
        if (found < 0) {
            return -1;
        }
        at = found;
    }
    return at == from && !holds(at) ? -1 : at;
}

QList<int> FlameGraphLayout::children(int index) const
{
    QList<int> result;
    if (index < 0 || index >= frameCount()) {
        return result;
    }
    for (int child = index + 1; child < m_frames[size_t(index)].end; child = m_frames[size_t(child)].end) {
        result << child;
    }
    return result;
}

QByteArray FlameGraphLayout::function(int index) const
{
    return labelFunction(m_frames[size_t(index)].label);
}

QString FlameGraphLayout::displayText(int index) const
{
    if (index == 0) {
        return i18nc("@label %1: snapshot number, %2: cost", "Snapshot #%1: %2", m_snapshot->number(), formatCost(totalCost()));
    }
    return QString::fromUtf8(displayLabel(m_frames[size_t(index)].label));
}

QString FlameGraphLayout::toolTip(int index) const
{
    const FlameFrame &frame = m_frames[size_t(index)];
    if (index == 0) {
        return i18n("Snapshot #%1: heap cost of %2", m_snapshot->number(), formatCost(frame.cost));
    }
    QString html;
    if (!m_inverted) {
        html = nodeTooltip(frame.node, m_snapshot, frame.label);
    } else {
        // A merged frame costs the sum of its paths, not what any one node costs.
        QString rows =
            i18n("<dt>cost:</dt><dd>%1, i.e. %2% of snapshot #%3</dd>", formatCost(frame.cost), percent(frame.cost, totalCost()), m_snapshot->number());
        rows += labelPiecesRows(splitLabelPieces(frame.label));
        html = wrapTooltip(rows);
    }
    const QString shares = i18nc("@info:tooltip", "<dt>share of snapshot:</dt><dd>%1%</dd>\n", percent(frame.cost, totalCost())) +
        i18nc("@info:tooltip", "<dt>share of parent:</dt><dd>%1%</dd>\n", percent(frame.cost, m_frames[size_t(frame.parent)].cost));
    const qsizetype listEnd = html.lastIndexOf(QLatin1String("</dl>"));
    html.insert(listEnd < 0 ? html.size() : listEnd, shares);
    return html;
}

QString FlameGraphLayout::plainToolTip(int index) const
{
    QString text = QTextDocumentFragment::fromHtml(toolTip(index)).toPlainText();
    text.replace(QChar::Nbsp, QLatin1Char(' '));
    return text;
}

double FlameGraphLayout::search(const QString &needle)
{
    m_matched.assign(needle.isEmpty() ? 0 : m_frames.size(), false);
    m_matchedCost = 0;
    if (needle.isEmpty()) {
        return 0.0;
    }
    for (size_t i = 1; i < m_frames.size(); ++i) {
        m_matched[i] = QString::fromUtf8(m_frames[i].label).contains(needle, Qt::CaseInsensitive);
    }
    // A matched frame's subtree is covered by it; nested matches add nothing.
    for (size_t i = 0; i < m_frames.size();) {
        if (m_matched[i]) {
            m_matchedCost += m_frames[i].cost;
            i = size_t(m_frames[i].end);
        } else {
            ++i;
        }
    }
    return totalCost() ? double(m_matchedCost) / double(totalCost()) : 0.0;
}

QColor FlameGraphLayout::functionColor(const QByteArray &function)
{
    // FNV-1a: the same on every platform and in every run, unlike qHash.
    quint32 hash = 2166136261u;
    for (const char c : function) {
        hash = (hash ^ quint8(c)) * 16777619u;
    }
    const auto part = [hash](int shift) {
        return double((hash >> shift) & 0xffu) / 255.0;
    };
    return QColor(205 + int(50 * part(0)), int(230 * part(8)), int(55 * part(16)));
}

QColor FlameGraphLayout::costColor(double share)
{
    // The square root spreads the many small shares over more of the scale.
    const double t = std::sqrt(std::clamp(share, 0.0, 1.0));
    const auto mix = [t](int from, int to) {
        return int(from + (to - from) * t);
    };
    return QColor(mix(255, 190), mix(240, 20), mix(170, 0));
}

QColor FlameGraphLayout::summaryColor()
{
    return QColor(190, 190, 190);
}

} // namespace Massif
