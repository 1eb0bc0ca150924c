/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MSPRINTREADER_H
#define MSPRINTREADER_H

// What valgrind's own ms_print makes of a massif file: the figures the
// report tests compare with, worked out by another program than ours.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>

#include <algorithm>

struct MsPrintEntry
{
    quint64 bytes = 0;
    QByteArray label;
};

struct MsPrintSnapshot
{
    quint32 number = 0;
    quint64 heap = 0;
    quint64 stacks = 0;
    /// The root's bytes; only for snapshots ms_print draws a tree for.
    qint64 rootBytes = -1;
    /// The entries directly below the root, in ms_print's order, without those of 0 bytes.
    QList<MsPrintEntry> topLevel;
    bool emptyEntries = false;
};

struct MsPrintOutput
{
    int snapshotCount = -1;
    quint32 peak = 0;
    QMap<quint32, MsPrintSnapshot> snapshots;
};

inline quint64 msPrintNumber(const QString &text)
{
    return QString(text).remove(QLatin1Char(',')).toULongLong();
}

/// Runs "ms_print --threshold=0", which shows every entry of the file; false when it is not there or fails.
inline bool readMsPrint(const QString &path, MsPrintOutput *output)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("ms_print"));
    if (program.isEmpty()) {
        return false;
    }
    QProcess process;
    process.start(program, {QStringLiteral("--threshold=0"), path});
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        return false;
    }
    static const QRegularExpression count(QStringLiteral("^Number of snapshots: (\\d+)$"));
    static const QRegularExpression peak(QStringLiteral("^ Detailed snapshots: \\[.*?(\\d+) \\(peak\\)"));
    static const QRegularExpression row(QStringLiteral("^ *(\\d+) +([\\d,.]+) +([\\d,]+) +([\\d,]+) +([\\d,]+) +([\\d,]+)$"));
    static const QRegularExpression root(QStringLiteral("^\\d+\\.\\d+% \\(([\\d,]+)B\\) "));
    static const QRegularExpression entry(QStringLiteral("^->\\d+\\.\\d+% \\(([\\d,]+)B\\) (.*)$"));
    MsPrintSnapshot *current = nullptr;
    const QList<QByteArray> lines = process.readAllStandardOutput().split('\n');
    for (const QByteArray &bytes : lines) {
        const QString line = QString::fromUtf8(bytes);
        QRegularExpressionMatch match;
        if ((match = count.match(line)).hasMatch()) {
            output->snapshotCount = match.captured(1).toInt();
        } else if ((match = peak.match(line)).hasMatch()) {
            output->peak = match.captured(1).toUInt();
        } else if ((match = row.match(line)).hasMatch()) {
            MsPrintSnapshot snapshot;
            snapshot.number = match.captured(1).toUInt();
            snapshot.heap = msPrintNumber(match.captured(4));
            snapshot.stacks = msPrintNumber(match.captured(6));
            current = &output->snapshots.insert(snapshot.number, snapshot).value();
        } else if (current && (match = root.match(line)).hasMatch()) {
            current->rootBytes = qint64(msPrintNumber(match.captured(1)));
        } else if (current && (match = entry.match(line)).hasMatch()) {
            // Entries of 0 bytes hold nothing; the reader leaves them out of its trees.
            const quint64 entryBytes = msPrintNumber(match.captured(1));
            if (entryBytes > 0) {
                // The label as bytes: it is compared with the file's bytes.
                const qsizetype start = bytes.indexOf("B) ") + 3;
                current->topLevel.append({entryBytes, bytes.mid(start)});
            } else {
                current->emptyEntries = true;
            }
        }
    }
    return output->snapshotCount >= 0;
}

/// A top-level label without its code address, as a site shows it.
inline QByteArray msPrintSiteKey(const QByteArray &label)
{
    if (label.contains("below massif's threshold")) {
        return QByteArray();
    }
    static const QRegularExpression address(QStringLiteral("^0x[0-9A-Fa-f]+: "));
    const QRegularExpressionMatch match = address.match(QString::fromLatin1(label));
    return match.hasMatch() ? label.mid(match.capturedLength()) : label;
}

/// The sites of one snapshot: its top-level entries summed by label without address.
inline QMap<QByteArray, quint64> msPrintSnapshotSites(const MsPrintSnapshot &snapshot)
{
    QMap<QByteArray, quint64> sites;
    for (const MsPrintEntry &entry : snapshot.topLevel) {
        sites[msPrintSiteKey(entry.label)] += entry.bytes;
    }
    return sites;
}

struct MsPrintSite
{
    QByteArray key;
    quint64 peakBytes = 0;
    quint32 peakSnapshot = 0;
};

/// The allocation sites worked out from ms_print's trees: top-level entries
/// of one label without address summed in each snapshot, each site's peak
/// the largest such sum (the first one on ties), largest first.
inline QList<MsPrintSite> msPrintSites(const MsPrintOutput &output)
{
    QList<MsPrintSite> sites;
    for (const MsPrintSnapshot &snapshot : output.snapshots) {
        QList<MsPrintSite> here;
        for (const MsPrintEntry &entry : snapshot.topLevel) {
            const QByteArray key = msPrintSiteKey(entry.label);
            auto site = std::find_if(here.begin(), here.end(), [&key](const MsPrintSite &s) {
                return s.key == key;
            });
            if (site == here.end()) {
                here.append({key, entry.bytes, snapshot.number});
            } else {
                site->peakBytes += entry.bytes;
            }
        }
        for (const MsPrintSite &candidate : std::as_const(here)) {
            auto site = std::find_if(sites.begin(), sites.end(), [&candidate](const MsPrintSite &s) {
                return s.key == candidate.key;
            });
            if (site == sites.end()) {
                sites.append(candidate);
            } else if (candidate.peakBytes > site->peakBytes) {
                *site = candidate;
            }
        }
    }
    std::stable_sort(sites.begin(), sites.end(), [](const MsPrintSite &a, const MsPrintSite &b) {
        return a.peakBytes > b.peakBytes;
    });
    return sites;
}

#endif
