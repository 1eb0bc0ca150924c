/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_COMPARISON_H
#define MASSIF_COMPARISON_H

#include "heaptreediff.h"
#include "sitediff.h"

#include <QColor>
#include <QString>

namespace Massif {

class FileData;
class SnapshotItem;

/**
 * One snapshot compared with another, of the same file or of two files:
 * the merged heap tree, the sites and the one-line summary. The files and
 * snapshots must outlive it.
 */
class Comparison
{
public:
    /// Sites that grew by more than this share of their baseline count as grown in the summary.
    static constexpr double GrowthThreshold = 0.10;

    Comparison() = default;
    /// The files may be null; they tell whether a snapshot is its file's peak.
    Comparison(const FileData *baselineFile, const SnapshotItem *baseline, const FileData *currentFile, const SnapshotItem *current);

    /// The peaks of two files.
    static Comparison ofPeaks(const FileData *baselineFile, const FileData *currentFile);
    /// The snapshot of @p file with that number, or null.
    static const SnapshotItem *snapshotByNumber(const FileData *file, quint32 number);

    const SnapshotItem *baseline() const
    {
        return m_baseline;
    }
    const SnapshotItem *current() const
    {
        return m_current;
    }
    const HeapTreeDiff &tree() const
    {
        return m_tree;
    }
    const SiteDiff &sites() const
    {
        return m_sites;
    }

    /// Snapshot cost (heap and stacks) of the current side less that of the baseline.
    qint64 change() const;

    /// "Peak 12.3 MiB -> 14.1 MiB (+1.8 MiB, +14.6%); 3 sites grew by more than 10%"
    QString summary() const;

    /// A signed size: "+1.8 MiB", "-512 B".
    static QString formatChange(qint64 change);
    /// A signed percentage with one decimal: "+14.6%".
    static QString formatPercent(double percent);

    /**
     * The colour of a change, for views that colour the current tree by it
     * (with HeapTreeDiff::currentNodeRows()): red where it grew, blue where
     * it shrank, the stronger the nearer @p change comes to @p largest; a
     * pale grey without change.
     */
    static QColor changeColor(qint64 change, quint64 largest);

private:
    const FileData *m_baselineFile = nullptr;
    const FileData *m_currentFile = nullptr;
    const SnapshotItem *m_baseline = nullptr;
    const SnapshotItem *m_current = nullptr;
    HeapTreeDiff m_tree;
    SiteDiff m_sites;
};

} // namespace Massif

#endif
