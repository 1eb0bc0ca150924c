/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "markdownreportwriter.h"

#include "formatting.h"

#include <KLocalizedString>

#include <algorithm>

using namespace Massif;

namespace {

qsizetype longestBacktickRun(const QString &text)
{
    qsizetype longest = 0;
    qsizetype run = 0;
    for (const QChar c : text) {
        run = c == QLatin1Char('`') ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

// Text of the profile in a table cell, shown as it is: a code span, whose
// contents Markdown does not interpret, with a fence longer than any run of
// backticks inside. Only "|" still needs its backslash, for the table.
QString codeCell(const QString &text)
{
    if (text.isEmpty()) {
        return QString();
    }
    const QString fence(longestBacktickRun(text) + 1, QLatin1Char('`'));
    QString body = text;
    body.replace(QLatin1Char('|'), QLatin1String("\\|"));
    if (body.startsWith(QLatin1Char('`')) || body.endsWith(QLatin1Char('`')) || body.startsWith(QLatin1Char(' '))) {
        body = QLatin1Char(' ') + body + QLatin1Char(' ');
    }
    return fence + body + fence;
}

// Our own words in a table cell: nothing in them is markup.
QString plainCell(QString text)
{
    static const QString special = QStringLiteral("\\`*_[]<>|&~!#");
    QString result;
    for (const QChar c : text) {
        if (special.contains(c)) {
            result += QLatin1Char('\\');
        }
        result += c;
    }
    return result;
}

// A code block that no line of its contents can close.
QString codeBlock(const QStringList &lines)
{
    const QString fence(std::max<qsizetype>(3, longestBacktickRun(lines.join(QLatin1Char('\n'))) + 1), QLatin1Char('`'));
    return fence + QLatin1String("text\n") + lines.join(QLatin1Char('\n')) + QLatin1Char('\n') + fence + QLatin1Char('\n');
}

} // namespace

QByteArray MarkdownReportWriter::write(const Report &report) const
{
    QString out = QLatin1String("## ") + plainCell(i18nc("@title", "Memory report")) + QLatin1String("\n\n");
    out += QLatin1String("| | |\n|---|---|\n");
    const QList<SummaryRow> rows = summaryRows(report);
    for (const SummaryRow &row : rows) {
        out += QLatin1String("| ") + plainCell(row.title) + QLatin1String(" | ") + (row.fromProfile ? codeCell(row.value) : plainCell(row.value)) +
            QLatin1String(" |\n");
    }
    const QStringList held = heldLines(report);
    if (!held.isEmpty()) {
        out += QLatin1Char('\n') + plainCell(i18nc("@info", "Held at the end by:")) + QLatin1String("\n\n") + codeBlock(held);
    }

    out += QLatin1String("\n### ") + plainCell(treeHeading(report)) + QLatin1String("\n\n");
    const QStringList tree = treeLines(report);
    if (!tree.isEmpty()) {
        out += codeBlock(tree);
    }

    out += QLatin1String("\n### ") + plainCell(sitesHeading(report)) + QLatin1String("\n\n");
    if (!report.topSites.isEmpty()) {
        out += sitesTable(report);
    }
    if (report.hasBaseline) {
        out += QLatin1String("\n### ") + plainCell(treeChangesHeading(report)) + QLatin1String("\n\n");
        const QStringList changes = treeChangeLines(report);
        if (!changes.isEmpty()) {
            out += codeBlock(changes);
        }
        out += QLatin1String("\n### ") + plainCell(siteChangesHeading(report)) + QLatin1String("\n\n");
        if (!report.baseline.topSites.isEmpty()) {
            out += siteChangesTable(report);
        }
    }
    return out.toUtf8();
}

QString MarkdownReportWriter::sitesTable(const Report &report)
{
    QString out;
    out += QLatin1String("| # | ") + plainCell(i18nc("@title:column", "Peak")) + QLatin1String(" | ") + plainCell(i18nc("@title:column", "Bytes")) +
        QLatin1String(" | ") + plainCell(i18nc("@title:column", "Snapshot")) + QLatin1String(" | ") + plainCell(i18nc("@title:column", "Function")) +
        QLatin1String(" |\n|---:|---:|---:|---|---|\n");
    for (qsizetype i = 0; i < report.topSites.size(); ++i) {
        const Report::Site &site = report.topSites.at(i);
        out += QStringLiteral("| %1 | %2 | %3 | %4 | %5 |\n")
                   .arg(QString::number(i + 1),
                        plainCell(formatCost(site.peakBytes)),
                        QString::number(site.peakBytes),
                        plainCell(snapshotPlace(site.peakSnapshot, report.timeUnit)),
                        site.belowThreshold ? plainCell(siteFunction(site)) : codeCell(siteFunction(site)));
    }
    return out;
}

QString MarkdownReportWriter::siteChangesTable(const Report &report)
{
    QString out = QLatin1String("| # | ") + plainCell(i18nc("@title:column", "Change")) + QLatin1String(" | ") +
        plainCell(i18nc("@title:column change in percent", "%")) + QLatin1String(" | ") + plainCell(i18nc("@title:column", "Baseline")) + QLatin1String(" | ") +
        plainCell(i18nc("@title:column", "Current")) + QLatin1String(" | ") + plainCell(i18nc("@title:column", "Bytes")) + QLatin1String(" | ") +
        plainCell(i18nc("@title:column", "Function")) + QLatin1String(" |\n|---:|---:|---:|---:|---:|---:|---|\n");
    const QList<Report::SiteChange> &sites = report.baseline.topSites;
    for (qsizetype i = 0; i < sites.size(); ++i) {
        const Report::SiteChange &site = sites.at(i);
        const QString function = siteChangeFunction(site);
        out += QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 |\n")
                   .arg(QString::number(i + 1),
                        plainCell(changeText(site.change())),
                        plainCell(changePercentText(site.baselineBytes, site.currentBytes)),
                        plainCell(formatCost(site.baselineBytes)),
                        plainCell(formatCost(site.currentBytes)),
                        QString::number(site.change()),
                        site.belowThreshold ? plainCell(function) : codeCell(function));
    }
    return out;
}
