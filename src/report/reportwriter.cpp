/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "reportwriter.h"

#include "comparison.h"
#include "formatting.h"
#include "jsonreportwriter.h"
#include "markdownreportwriter.h"
#include "plaintext.h"
#include "textreportwriter.h"

#include <KLocalizedString>

#include <QLocale>

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
    return snapshotName(report.chosen, report.options.snapshot);
}

QString ReportWriter::snapshotName(const Report::Snapshot &snapshot, ReportOptions::SnapshotChoice choice)
{
    switch (choice) {
    case ReportOptions::PeakSnapshot:
        return i18nc("@info", "#%1 (the peak)", snapshot.number);
    case ReportOptions::LastSnapshot:
        return i18nc("@info", "#%1 (the last)", snapshot.number);
    case ReportOptions::NumberedSnapshot:
        break;
    }
    return i18nc("@info", "#%1", snapshot.number);
}

QString ReportWriter::changeText(qint64 change)
{
    return Comparison::formatChange(change);
}

QString ReportWriter::changePercentText(quint64 baselineBytes, quint64 currentBytes)
{
    if (baselineBytes == 0) {
        return currentBytes == 0 ? Comparison::formatPercent(0.0) : i18nc("@info a site or tree entry only the current run has", "new");
    }
    if (currentBytes == 0) {
        return i18nc("@info a site or tree entry only the baseline has", "gone");
    }
    return Comparison::formatPercent((double(currentBytes) - double(baselineBytes)) * 100.0 / double(baselineBytes));
}

QString ReportWriter::nodeChangeText(const Report::NodeChange &node)
{
    QString text = nodeText(node.label);
    if (node.moved && !node.baselineLabel.isEmpty()) {
        const LabelPieces pieces = splitLabelPieces(node.baselineLabel);
        text = i18nc("@info tree entry whose source line changed; %2 is its old location",
                     "%1, moved from %2",
                     text,
                     readableText(pieces.location.isEmpty() ? displayLabel(node.baselineLabel) : pieces.location));
    }
    return text;
}

QString ReportWriter::siteChangeFunction(const Report::SiteChange &site)
{
    Report::Site plain;
    plain.function = site.function;
    plain.location = site.location;
    plain.belowThreshold = site.belowThreshold;
    return siteFunction(plain);
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
    if (report.hasBaseline) {
        const Report::Baseline &baseline = report.baseline;
        rows.append({i18nc("@label", "Baseline"), readableText(baseline.source), true});
        if (!baseline.warning.isEmpty()) {
            rows.append({i18nc("@label", "Baseline warning"), readableText(baseline.warning), false});
        }
        rows.append({i18nc("@label", "Baseline peak"),
                     i18nc("@info size at snapshot", "%1 at snapshot %2", bytesText(baseline.peak.cost()), snapshotPlace(baseline.peak, baseline.timeUnit)),
                     false});
        rows.append({i18nc("@label", "Change"), readableText(baseline.summary), false});
    }
    return rows;
}

namespace {

// Lines of number columns, aligned to the right, and a last column of text
// (the tree's drawing and label), aligned to the left.
class AlignedLines
{
public:
    void add(const QString &share, const QString &size, const QString &text)
    {
        add(QStringList {share, size, text});
    }

    void add(const QStringList &cells)
    {
        m_rows.append(cells);
        if (m_widths.size() < cells.size()) {
            m_widths.resize(cells.size());
        }
        for (qsizetype i = 0; i < cells.size(); ++i) {
            m_widths[i] = std::max(m_widths[i], cells.at(i).size());
        }
    }

    QStringList lines() const
    {
        QStringList result;
        for (const QStringList &row : m_rows) {
            QString line;
            for (qsizetype i = 0; i + 1 < row.size(); ++i) {
                line += row.at(i).rightJustified(m_widths.at(i)) + QLatin1String("  ");
            }
            result.append(line + row.last());
        }
        return result;
    }

private:
    QList<QStringList> m_rows;
    QList<qsizetype> m_widths;
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
    return i18ncp("@info",
                  "Heap tree of snapshot %2, time %3 %4: %5\n(down to %1 level; entries below %6% of the snapshot left out)",
                  "Heap tree of snapshot %2, time %3 %4: %5\n(down to %1 levels; entries below %6% of the snapshot left out)",
                  report.options.depth,
                  chosenName(report),
                  timeText(report.chosen.time),
                  readableText(report.timeUnit),
                  bytesText(report.chosen.cost()),
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

QString ReportWriter::treeChangesHeading(const Report &report)
{
    const Report::Baseline &baseline = report.baseline;
    if (!baseline.hasTree) {
        return i18nc("@info",
                     "Neither snapshot %1 of the baseline nor snapshot %2 has a heap tree to compare.",
                     snapshotName(baseline.compared, report.options.baselineSnapshot),
                     chosenName(report));
    }
    return i18ncp("@info",
                  "Heap tree changes from snapshot %2 of the baseline to snapshot %3: %4\n(down to %1 level; changes below %5% of the larger "
                  "snapshot left out)",
                  "Heap tree changes from snapshot %2 of the baseline to snapshot %3: %4\n(down to %1 levels; changes below %5% of the larger "
                  "snapshot left out)",
                  report.options.depth,
                  snapshotName(baseline.compared, report.options.baselineSnapshot),
                  chosenName(report),
                  changeText(qint64(report.chosen.cost()) - qint64(baseline.compared.cost())),
                  QString::number(report.options.minShare, 'g', 6));
}

QStringList ReportWriter::treeChangeLines(const Report &report)
{
    const Report::Baseline &baseline = report.baseline;
    if (!baseline.hasTree) {
        return {};
    }
    AlignedLines lines;
    const auto addLine = [&lines](const Report::NodeChange &node, const QString &text) {
        lines.add({changeText(node.change()),
                   changePercentText(node.baselineBytes, node.currentBytes),
                   formatCost(node.baselineBytes) + QLatin1String(" ->"),
                   formatCost(node.currentBytes),
                   text});
    };
    std::function<void(const Report::NodeChange &, const QString &)> addChildren = [&](const Report::NodeChange &node, const QString &prefix) {
        const qsizetype count = node.children.size() + (node.omittedChildren > 0 ? 1 : 0);
        for (qsizetype i = 0; i < count; ++i) {
            const bool last = i == count - 1;
            const QString branch = prefix + (last ? QStringLiteral("└─ ") : QStringLiteral("├─ "));
            if (i < node.children.size()) {
                const Report::NodeChange &child = node.children.at(i);
                addLine(child, branch + nodeChangeText(child));
                addChildren(child, prefix + (last ? QStringLiteral("   ") : QStringLiteral("│  ")));
            } else {
                lines.add({changeText(node.omittedChange),
                           QString(),
                           QString(),
                           QString(),
                           branch +
                               i18ncp("@info",
                                      "(%1 more changed by less than %2%, or not at all)",
                                      "(%1 more changed by less than %2%, or not at all)",
                                      node.omittedChildren,
                                      QString::number(report.options.minShare, 'g', 6))});
            }
        }
    };
    addLine(baseline.tree, nodeChangeText(baseline.tree));
    addChildren(baseline.tree, QString());
    return lines.lines();
}

QString ReportWriter::siteChangesHeading(const Report &report)
{
    const Report::Baseline &baseline = report.baseline;
    if (baseline.siteCount == 0) {
        return i18nc("@info", "No allocation sites to compare: neither snapshot has a heap tree.");
    }
    if (baseline.changedSiteCount == 0) {
        return i18ncp("@info",
                      "Allocation sites of the compared snapshots: none of the %1 changed.",
                      "Allocation sites of the compared snapshots: none of the %1 changed.",
                      baseline.siteCount);
    }
    return i18ncp("@info",
                  "Largest site change (%1 of %2 changed, %3 sites in all), by its size:",
                  "Largest site changes (%1 of %2 changed, %3 sites in all), by their size:",
                  int(baseline.topSites.size()),
                  baseline.changedSiteCount,
                  baseline.siteCount);
}

QStringList ReportWriter::siteChangeLines(const Report &report)
{
    AlignedLines lines;
    const QList<Report::SiteChange> &sites = report.baseline.topSites;
    for (qsizetype i = 0; i < sites.size(); ++i) {
        const Report::SiteChange &site = sites.at(i);
        lines.add({QString::number(i + 1) + QLatin1Char('.'),
                   changeText(site.change()),
                   changePercentText(site.baselineBytes, site.currentBytes),
                   formatCost(site.baselineBytes) + QLatin1String(" ->"),
                   formatCost(site.currentBytes),
                   siteChangeFunction(site)});
    }
    return lines.lines();
}
