/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_REPORTOPTIONS_H
#define MASSIF_REPORTOPTIONS_H

#include <QString>
#include <QStringList>

namespace Massif {

/**
 * What a report shows: the snapshot whose heap tree it lists, how deep and
 * how fine that tree goes, and how many allocation sites it names.
 */
struct ReportOptions
{
    enum SnapshotChoice {
        PeakSnapshot,
        LastSnapshot,
        NumberedSnapshot,
    };

    SnapshotChoice snapshot = PeakSnapshot;
    /// The snapshot's number for NumberedSnapshot.
    quint32 snapshotNumber = 0;
    /// Levels of the heap tree shown below its root.
    int depth = 4;
    /// Entries below this share of the snapshot, in percent, are left out.
    double minShare = 1.0;
    int topSites = 10;
    /// Only recorded in the report: the file was read with these.
    QStringList allocators;
    /// The snapshot of the baseline file compared with the chosen one.
    SnapshotChoice baselineSnapshot = PeakSnapshot;
    quint32 baselineSnapshotNumber = 0;

    /// Reads "peak", "last" or a snapshot number; false for anything else.
    bool setSnapshot(const QString &text);
    /// "peak", "last" or the number, as given to setSnapshot().
    QString snapshotText() const;
    /// The same for the baseline's snapshot.
    bool setBaselineSnapshot(const QString &text);
    QString baselineSnapshotText() const;

    static bool parseSnapshotChoice(const QString &text, SnapshotChoice *choice, quint32 *number);
    static QString snapshotChoiceText(SnapshotChoice choice, quint32 number);
};

} // namespace Massif

#endif
