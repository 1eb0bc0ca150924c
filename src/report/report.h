/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_REPORT_H
#define MASSIF_REPORT_H

#include "reportoptions.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace Massif {

class FileData;
class SnapshotItem;
class TreeLeafItem;

/**
 * The summary of one parsed massif file that quillmap-report prints: a
 * value that holds copies of what it shows, so that it outlives the file
 * data and two of them can be set side by side.
 */
class Report
{
public:
    struct Snapshot
    {
        quint32 number = 0;
        double time = 0.0;
        quint64 heap = 0;
        quint64 extraHeap = 0;
        quint64 stacks = 0;
        bool hasTree = false;

        /// Heap plus stacks, as everywhere in the program.
        quint64 cost() const
        {
            return heap + stacks;
        }
    };

    /// A heap tree entry shown in the report, with the children that pass the filters.
    struct Node
    {
        QByteArray label;
        quint64 bytes = 0;
        QList<Node> children;
        /// Children left out for being below the minimum share.
        int omittedChildren = 0;
        quint64 omittedBytes = 0;
    };

    /// One row of the allocators table.
    struct Site
    {
        /// Both empty for the site of all below-threshold entries.
        QByteArray function;
        QByteArray location;
        bool belowThreshold = false;
        quint64 peakBytes = 0;
        Snapshot peakSnapshot;
    };

    /// A site of the compared snapshots, with its bytes on either side.
    struct SiteChange
    {
        /// Both empty for the site of all below-threshold entries.
        QByteArray function;
        QByteArray location;
        bool belowThreshold = false;
        quint64 baselineBytes = 0;
        quint64 currentBytes = 0;

        qint64 change() const
        {
            return qint64(currentBytes) - qint64(baselineBytes);
        }
    };

    /// A row of the two heap trees merged, with the rows below it that pass the filters.
    struct NodeChange
    {
        /// The current side's label, else the baseline's.
        QByteArray label;
        /// The baseline's label where it differs by its location (a moved row).
        QByteArray baselineLabel;
        quint64 baselineBytes = 0;
        quint64 currentBytes = 0;
        bool isNew = false;
        bool isGone = false;
        bool moved = false;
        QList<NodeChange> children;
        /// Rows left out for a change below the minimum share, or none at all.
        int omittedChildren = 0;
        qint64 omittedChange = 0;

        qint64 change() const
        {
            return qint64(currentBytes) - qint64(baselineBytes);
        }
    };

    /// The other file the report compares with.
    struct Baseline
    {
        QString source;
        QString command;
        QString timeUnit;
        QString warning;
        Snapshot peak;
        /// Its snapshot compared with the chosen one.
        Snapshot compared;
        /// The comparison engine's one-line summary.
        QString summary;
        int grownSites = 0;
        /// All sites of the two snapshots, and those whose bytes changed.
        int siteCount = 0;
        int changedSiteCount = 0;
        /// The largest changes, by their size either way.
        QList<SiteChange> topSites;
        /// Whether either compared snapshot has a heap tree; the merged tree is empty otherwise.
        bool hasTree = false;
        NodeChange tree;
    };

    /// Builds the report of @p data; @p source names the file in the output.
    static Report build(const FileData &data, const QString &source, const ReportOptions &options);

    /**
     * Compares the chosen snapshot of @p data, the file this report was built
     * from, with the options' baseline snapshot of @p baseline.
     */
    void compareWith(const FileData &data, const FileData &baseline, const QString &baselineSource);

    ReportOptions options;
    QString source;
    QString command;
    QString description;
    QString timeUnit;
    /// What the reader said about a file that loaded only in part; empty for a sound file.
    QString warning;
    int snapshotCount = 0;
    int detailedCount = 0;
    Snapshot peak;
    Snapshot last;
    /// Entries directly below the last snapshot's root, when it has a tree.
    QList<Node> heldAtEnd;
    int heldAtEndOmitted = 0;
    quint64 heldAtEndOmittedBytes = 0;

    /// Whether the snapshot the options ask for exists; false leaves the tree empty.
    bool hasChosen = false;
    Snapshot chosen;
    /// The chosen snapshot's heap tree, valid when chosen.hasTree.
    Node tree;

    /// The most expensive sites, by their peak.
    QList<Site> topSites;
    int siteCount = 0;

    bool hasBaseline = false;
    Baseline baseline;

    /// The peak's change since the baseline's peak in percent; NaN when the baseline's peak is empty.
    double peakGrowth() const;

    /// The snapshot the options ask for, or null when there is none.
    static const SnapshotItem *chooseSnapshot(const FileData &data, const ReportOptions &options);
    static const SnapshotItem *chooseSnapshot(const FileData &data, ReportOptions::SnapshotChoice choice, quint32 number);
    /// A node's share of @p total in percent; 0 for an empty total.
    static double share(quint64 bytes, quint64 total);
};

} // namespace Massif

#endif
