/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "textreportwriter.h"

#include "formatting.h"

#include <KLocalizedString>

#include <algorithm>

using namespace Massif;

QByteArray TextReportWriter::write(const Report &report) const
{
    QString out;
    const QList<SummaryRow> rows = summaryRows(report);
    qsizetype width = 0;
    for (const auto &row : rows) {
        width = std::max(width, row.title.size() + 1);
    }
    const QString indent(width + 2, QLatin1Char(' '));
    for (const auto &row : rows) {
        out += QString(row.title + QLatin1Char(':')).leftJustified(width + 2) + row.value + QLatin1Char('\n');
    }
    const QStringList held = heldLines(report);
    for (const QString &line : held) {
        out += indent + line + QLatin1Char('\n');
    }

    out += QLatin1Char('\n') + treeHeading(report) + QLatin1Char('\n');
    const QStringList tree = treeLines(report);
    for (const QString &line : tree) {
        out += QLatin1String("  ") + line + QLatin1Char('\n');
    }

    out += QLatin1Char('\n') + sitesHeading(report) + QLatin1Char('\n');
    QStringList sizes;
    qsizetype sizeWidth = 0;
    qsizetype placeWidth = 0;
    QStringList places;
    for (const Report::Site &site : report.topSites) {
        sizes.append(formatCost(site.peakBytes));
        places.append(i18nc("@info where a site peaked", "at %1", snapshotPlace(site.peakSnapshot, report.timeUnit)));
        sizeWidth = std::max(sizeWidth, sizes.last().size());
        placeWidth = std::max(placeWidth, places.last().size());
    }
    const int rankWidth = QString::number(report.topSites.size()).size();
    for (qsizetype i = 0; i < report.topSites.size(); ++i) {
        out += QStringLiteral("  %1. %2  %3  %4\n")
                   .arg(i + 1, rankWidth)
                   .arg(sizes.at(i).rightJustified(sizeWidth), places.at(i).leftJustified(placeWidth), siteFunction(report.topSites.at(i)));
    }

    if (report.hasBaseline) {
        out += QLatin1Char('\n') + treeChangesHeading(report) + QLatin1Char('\n');
        const QStringList changes = treeChangeLines(report);
        for (const QString &line : changes) {
            out += QLatin1String("  ") + line + QLatin1Char('\n');
        }
        out += QLatin1Char('\n') + siteChangesHeading(report) + QLatin1Char('\n');
        const QStringList sites = siteChangeLines(report);
        for (const QString &line : sites) {
            out += QLatin1String("  ") + line + QLatin1Char('\n');
        }
    }
    return out.toUtf8();
}
