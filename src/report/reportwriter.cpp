/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "reportwriter.h"

#include "formatting.h"
#include "jsonreportwriter.h"
#include "markdownreportwriter.h"
#include "plaintext.h"
#include "textreportwriter.h"

#include <KLocalizedString>

#include <QLocale>

#include <array>
#include <functional>

#include <algorithm>

using namespace Massif;

ReportWriter::~ReportWriter() = default;

std::unique_ptr<ReportWriter> ReportWriter::create(Format format)
{
    switch (format) {
    case Text:
        return std::make_unique<TextReportWriter>();
    case Markdown:
        return std::make_unique<MarkdownReportWriter>();
    case Json:
        return std::make_unique<JsonReportWriter>();
    }
    return nullptr;
}

bool ReportWriter::formatFromName(const QString &name, Format *format)
{
    if (name == QLatin1String("text")) {
        *format = Text;
    } else if (name == QLatin1String("markdown")) {
        *format = Markdown;
    } else if (name == QLatin1String("json")) {
        *format = Json;
    } else {
        return false;
    }
    return true;
}

QString ReportWriter::siteFunction(const Report::Site &site)
{
    if (site.belowThreshold || site.function.isEmpty()) {
        return i18n("below threshold");
    }
    QString text = readableText(shortenTemplates(site.function));
    if (!site.location.isEmpty()) {
        text += QLatin1String(" (") + readableText(site.location) + QLatin1Char(')');
    }
    return text;
}

QString ReportWriter::nodeText(const QByteArray &label)
{
    return readableText(displayLabel(label));
}

QString ReportWriter::bytesText(quint64 bytes)
{
    // Below a kilobyte the size already is the exact count.
    if (bytes < 1000) {
        return formatCost(bytes);
    }
    return i18nc("@info size and exact byte count", "%1 (%2 B)", formatCost(bytes), QLocale::system().toString(bytes));
}

QString ReportWriter::timeText(double time)
{
    return QString::number(time, 'g', 15);
}

QString ReportWriter::snapshotPlace(const Report::Snapshot &snapshot, const QString &timeUnit)
{
    return i18nc("@info snapshot number, its time and the time unit", "#%1, time %2 %3", snapshot.number, timeText(snapshot.time), readableText(timeUnit));
}

QString ReportWriter::chosenName(const Report &report)
{
    switch (report.options.snapshot) {
    case ReportOptions::PeakSnapshot:
        return i18nc("@info", "#%1 (the peak)", report.chosen.number);
    case ReportOptions::LastSnapshot:
        return i18nc("@info", "#%1 (the last)", report.chosen.number);
    case ReportOptions::NumberedSnapshot:
        break;
    }
    return i18nc("@info", "#%1", report.chosen.number);
}

QString ReportWriter::shareText(double share)
{
    return QString::number(share, 'f', 2) + QLatin1Char('%');
}

QList<ReportWriter::SummaryRow> ReportWriter::summaryRows(const Report &report)
{
    QList<SummaryRow> rows;
    rows.append({i18nc("@label", "File"), readableText(report.source), true});
    if (!report.warning.isEmpty()) {
        rows.append({i18nc("@label", "Warning"), readableText(report.warning), false});
    }
    rows.append({i18nc("@label", "Command"), readableText(report.command), true});
    rows.append({i18nc("@label", "Massif options"), readableText(report.description), true});
    rows.append({i18nc("@label", "Time unit"), readableText(report.timeUnit), true});
    rows.append({i18nc("@label", "Snapshots"),
                 i18ncp("@info", "%2, %1 with a heap tree", "%2, %1 with a heap tree", report.detailedCount, report.snapshotCount),
                 false});
    rows.append({i18nc("@label", "Peak"),
                 i18nc("@info size at snapshot", "%1 at snapshot %2", bytesText(report.peak.cost()), snapshotPlace(report.peak, report.timeUnit)),
                 false});
    rows.append({i18nc("@label", "Held at the end"),
                 i18nc("@info size at snapshot", "%1 at snapshot %2", bytesText(report.last.cost()), snapshotPlace(report.last, report.timeUnit)),
                 false});
    if (!report.options.allocators.isEmpty()) {
        rows.append({i18nc("@label", "Custom allocators"), readableText(report.options.allocators.join(QLatin1String(", "))), true});
    }
    return rows;
}

namespace {

// Lines of "share  size  drawing label" with the two number columns aligned.
class AlignedLines
{
public:
    void add(const QString &share, const QString &size, const QString &text)
    {
        m_rows.append({share, size, text});
        m_shareWidth = std::max(m_shareWidth, share.size());
        m_sizeWidth = std::max(m_sizeWidth, size.size());
    }

    QStringList lines() const
    {
        QStringList result;
        for (const auto &row : m_rows) {
            result.append(row[0].rightJustified(m_shareWidth) + QLatin1String("  ") + row[1].rightJustified(m_sizeWidth) + QLatin1String("  ") + row[2]);
        }
        return result;
    }

private:
    QList<std::array<QString, 3>> m_rows;
    qsizetype m_shareWidth = 0;
    qsizetype m_sizeWidth = 0;
};

QString omittedText(int count, double minShare)
{
    return i18ncp("@info", "(%1 more below %2%)", "(%1 more below %2%)", count, QString::number(minShare, 'g', 6));
}

} // namespace

QStringList ReportWriter::heldLines(const Report &report)
{
    AlignedLines lines;
    const quint64 total = report.last.cost();
    for (const Report::Node &node : report.heldAtEnd) {
        lines.add(shareText(Report::share(node.bytes, total)), formatCost(node.bytes), nodeText(node.label));
    }
    if (report.heldAtEndOmitted > 0) {
        lines.add(shareText(Report::share(report.heldAtEndOmittedBytes, total)),
                  formatCost(report.heldAtEndOmittedBytes),
                  omittedText(report.heldAtEndOmitted, report.options.minShare));
    }
    return lines.lines();
}

QString ReportWriter::treeHeading(const Report &report)
{
    if (!report.chosen.hasTree) {
        return i18nc("@info",
                     "Snapshot %1, time %2 %3: %4; it has no heap tree (not a detailed snapshot).",
                     chosenName(report),
                     timeText(report.chosen.time),
                     readableText(report.timeUnit),
                     bytesText(report.chosen.cost()));
    }
    return i18nc("@info",
                 "Heap tree of snapshot %1, time %2 %3: %4\n(down to %5 levels; entries below %6% of the snapshot left out)",
                 chosenName(report),
                 timeText(report.chosen.time),
                 readableText(report.timeUnit),
                 bytesText(report.chosen.cost()),
                 report.options.depth,
                 QString::number(report.options.minShare, 'g', 6));
}

QStringList ReportWriter::treeLines(const Report &report)
{
    if (!report.chosen.hasTree) {
        return {};
    }
    AlignedLines lines;
    const quint64 total = report.chosen.cost();
    const double minShare = report.options.minShare;
    // prefix: the drawing of the levels above; last: whether the node closes its list.
    std::function<void(const Report::Node &, const QString &)> addChildren = [&](const Report::Node &node, const QString &prefix) {
        const qsizetype count = node.children.size() + (node.omittedChildren > 0 ? 1 : 0);
        for (qsizetype i = 0; i < count; ++i) {
            const bool last = i == count - 1;
            const QString branch = prefix + (last ? QStringLiteral("└─ ") : QStringLiteral("├─ "));
            if (i < node.children.size()) {
                const Report::Node &child = node.children.at(i);
                lines.add(shareText(Report::share(child.bytes, total)), formatCost(child.bytes), branch + nodeText(child.label));
                addChildren(child, prefix + (last ? QStringLiteral("   ") : QStringLiteral("│  ")));
            } else {
                lines.add(
                    shareText(Report::share(node.omittedBytes, total)), formatCost(node.omittedBytes), branch + omittedText(node.omittedChildren, minShare));
            }
        }
    };
    lines.add(shareText(Report::share(report.tree.bytes, total)), formatCost(report.tree.bytes), nodeText(report.tree.label));
    addChildren(report.tree, QString());
    return lines.lines();
}

QString ReportWriter::sitesHeading(const Report &report)
{
    if (report.siteCount == 0) {
        return i18nc("@info", "No allocation sites: no snapshot has a heap tree.");
    }
    return i18ncp("@info",
                  "Top allocation site (%1 of %2), by its peak:",
                  "Top allocation sites (%1 of %2), by their peak:",
                  int(report.topSites.size()),
                  report.siteCount);
}
