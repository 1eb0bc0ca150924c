/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_FLAMEGRAPHLAYOUT_H
#define MASSIF_FLAMEGRAPHLAYOUT_H

#include <QByteArray>
#include <QColor>
#include <QList>
#include <QString>

#include <vector>

namespace Massif {

class SnapshotItem;
class TreeLeafItem;

/**
 * One box of a flame graph. Frames are kept in depth-first order, children
 * by cost with the largest first, so that a frame's subtree is the range
 * [index, end) and its first child, when it has one, is index + 1.
 */
struct FlameFrame
{
    /// The heap tree node; for a merged frame of the inverted graph, its largest contributor.
    const TreeLeafItem *node = nullptr;
    /// The node's raw label; for a merged frame only the function.
    QByteArray label;
    quint64 cost = 0;
    /// Left edge and width as fractions of the root's width.
    double x = 0.0;
    double width = 0.0;
    int depth = 0;
    int parent = -1;
    int end = 0;
    bool summary = false;
};

/**
 * Lays out the heap tree of one snapshot as a flame graph, in coordinates
 * independent of any device: the root spans [0, 1] and stands for the
 * snapshot's total cost; each row up is one level deeper in the tree.
 *
 * The normal graph has one frame per tree node. The inverted graph turns the
 * call paths round, the outermost callers at the base, and merges frames of
 * the same function along equal paths.
 */
class FlameGraphLayout
{
public:
    FlameGraphLayout() = default;

    void setSnapshot(const SnapshotItem *snapshot, bool inverted = false);
    const SnapshotItem *snapshot() const
    {
        return m_snapshot;
    }
    bool isInverted() const
    {
        return m_inverted;
    }

    const std::vector<FlameFrame> &frames() const
    {
        return m_frames;
    }
    int frameCount() const
    {
        return int(m_frames.size());
    }
    const FlameFrame &frame(int index) const
    {
        return m_frames[size_t(index)];
    }
    int maxDepth() const
    {
        return m_maxDepth;
    }
    /// The snapshot's total, at least the heap tree's root cost.
    quint64 totalCost() const
    {
        return m_frames.empty() ? 0 : m_frames.front().cost;
    }

    /// The frame showing @p node, -1 if none does (the root frame shows the heap tree's root).
    int frameOfNode(const TreeLeafItem *node) const;
    /// The deepest frame at @p depth whose range holds @p x, searched within the subtree of @p from.
    int frameAt(double x, int depth, int from = 0) const;
    /// Children of a frame, in drawing order.
    QList<int> children(int index) const;
    bool isAncestorOf(int ancestor, int index) const
    {
        return ancestor >= 0 && index >= ancestor && index < m_frames[size_t(ancestor)].end;
    }

    /// Function piece of the frame's label, what colours and merging go by.
    QByteArray function(int index) const;
    /// The text a frame shows: the display label, templates shortened as set.
    QString displayText(int index) const;
    /// The data tree's node tooltip plus the shares of the snapshot and of the parent.
    QString toolTip(int index) const;
    /// The tooltip as plain text lines.
    QString plainToolTip(int index) const;

    /**
     * Marks the frames whose label contains @p needle (case-insensitive) and
     * returns the share of the total cost they cover, each byte counted once:
     * a match inside a matched frame adds nothing.
     */
    double search(const QString &needle);
    bool isMatched(int index) const
    {
        return !m_matched.empty() && m_matched[size_t(index)];
    }
    quint64 matchedCost() const
    {
        return m_matchedCost;
    }

    /// Per function, the same warm colour in every snapshot and every file.
    static QColor functionColor(const QByteArray &function);
    /// From pale yellow for a small share of the snapshot to deep red for all of it.
    static QColor costColor(double share);
    static QColor summaryColor();

private:
    void layoutNormal(const TreeLeafItem *root);
    void layoutInverted(const TreeLeafItem *root);
    void finish();

    const SnapshotItem *m_snapshot = nullptr;
    bool m_inverted = false;
    std::vector<FlameFrame> m_frames;
    std::vector<bool> m_matched;
    quint64 m_matchedCost = 0;
    int m_maxDepth = 0;
};

} // namespace Massif

#endif
