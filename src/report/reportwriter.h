/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_REPORTWRITER_H
#define MASSIF_REPORTWRITER_H

#include "report.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

namespace Massif {

/**
 * Turns a report into one output format. The texts a person reads (sizes,
 * function names, the translated words) are made here, the same way for
 * every format.
 */
class ReportWriter
{
public:
    enum Format {
        Text,
        Markdown,
        Json,
    };

    virtual ~ReportWriter();

    /// The report as UTF-8.
    virtual QByteArray write(const Report &report) const = 0;

    static std::unique_ptr<ReportWriter> create(Format format);
    /// "text", "markdown" or "json"; false for any other name.
    static bool formatFromName(const QString &name, Format *format);

protected:
    struct SummaryRow
    {
        QString title;
        QString value;
        /// The value is the profile's own text rather than our words.
        bool fromProfile = false;
    };

    /// The summary at the top.
    static QList<SummaryRow> summaryRows(const Report &report);
    /// The entries the last snapshot still holds, one line each, aligned.
    static QStringList heldLines(const Report &report);
    /// The heading of the tree section, and the tree drawn in aligned lines.
    static QString treeHeading(const Report &report);
    static QStringList treeLines(const Report &report);
    static QString sitesHeading(const Report &report);

    /// The comparison with the baseline, for reports that have one.
    static QString treeChangesHeading(const Report &report);
    static QStringList treeChangeLines(const Report &report);
    static QString siteChangesHeading(const Report &report);
    /// Ranked lines of the largest site changes, aligned.
    static QStringList siteChangeLines(const Report &report);

    /// The site's function as the allocators table shows it, safe to print.
    static QString siteFunction(const Report::Site &site);
    /// A tree entry's function and location, without its address, safe to print.
    static QString nodeText(const QByteArray &label);
    /// A size and, for the exact figure, its bytes: "1.5 KiB (1,536 B)".
    static QString bytesText(quint64 bytes);
    /// "#41, time 245076 i".
    static QString snapshotPlace(const Report::Snapshot &snapshot, const QString &timeUnit);
    /// The snapshot a tree belongs to, as the options named it: "#41 (peak)".
    static QString chosenName(const Report &report);
    /// "#49 (the peak)" for a snapshot chosen as @p choice.
    static QString snapshotName(const Report::Snapshot &snapshot, ReportOptions::SnapshotChoice choice);
    /// "+1.8 MiB", as the comparison tab writes it.
    static QString changeText(qint64 change);
    /// "+14.6%", "new" or "gone".
    static QString changePercentText(quint64 baselineBytes, quint64 currentBytes);
    /// A merged tree row's function and location, with where it moved from.
    static QString nodeChangeText(const Report::NodeChange &node);
    static QString siteChangeFunction(const Report::SiteChange &site);
    /// A share in percent with two decimals.
    static QString shareText(double share);
    static QString timeText(double time);
};

} // namespace Massif

#endif
