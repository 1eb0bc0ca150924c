/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "formatting.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <KConfigGroup>
#include <KFormat>
#include <KLocalizedString>
#include <KSharedConfig>

#include <QLocale>

#include <cmath>
#include <limits>

namespace Massif {

static KConfigGroup settingsGroup()
{
    return KSharedConfig::openConfig()->group(QStringLiteral("Settings"));
}

QString formatCost(quint64 cost)
{
    const int precision = settingsGroup().readEntry("prettyCostPrecision", 1);
    const KFormat format(QLocale::system());
    return format.formatByteSize(static_cast<double>(cost), precision);
}

QByteArray shortenTemplates(const QByteArray &identifier)
{
    if (identifier.isEmpty() || !settingsGroup().readEntry("shortenTemplates", false)) {
        return identifier;
    }
    QByteArray result = identifier;
    qint32 depth = 0;
    qint32 start = 0;
    for (qint32 i = 0; i < result.size(); ++i) {
        const char c = result.at(i);
        if (c == '<') {
            if (depth == 0) {
                start = i;
            }
            ++depth;
        } else if (c == '>') {
            --depth;
            if (depth == 0) {
                result.remove(start + 1, i - start - 1);
                i = start + 1;
                depth = 0;
                start = 0;
            }
        }
    }
    return result;
}

QByteArray displayLabel(const QByteArray &label)
{
    const LabelPieces pieces = splitLabelPieces(label);
    QByteArray result = shortenTemplates(pieces.function);
    if (!pieces.location.isEmpty()) {
        result += " (" + pieces.location + ')';
    }
    return result;
}

bool isThresholdSummary(const QByteArray &label)
{
    // Massif writes "in 1 place, below massif's threshold" for a single place.
    return label.contains("below massif's threshold");
}

LabelPieces siteKey(const QByteArray &label)
{
    if (isThresholdSummary(label)) {
        return LabelPieces();
    }
    LabelPieces pieces = splitLabelPieces(label);
    pieces.address.clear();
    return pieces;
}

QString labelPiecesRows(const LabelPieces &pieces)
{
    QString rows;
    if (!pieces.function.isEmpty()) {
        rows += i18n("<dt>function:</dt><dd>%1</dd>\n", QString::fromUtf8(pieces.function).toHtmlEscaped());
    }
    if (!pieces.location.isEmpty()) {
        rows += i18n("<dt>location:</dt><dd>%1</dd>\n", QString::fromUtf8(pieces.location).toHtmlEscaped());
    }
    if (!pieces.address.isEmpty()) {
        rows += i18n("<dt>address:</dt><dd>%1</dd>\n", QString::fromUtf8(pieces.address).toHtmlEscaped());
    }
    return rows;
}

QString wrapTooltip(const QString &rows)
{
    return QLatin1String("<html><head><style>dt{font-weight:bold;} dd {font-family:monospace;}</style></head><body><dl>\n") + rows +
        QLatin1String("</dl></body></html>");
}

// Share in percent, truncated to two decimals. An empty snapshot has no
// meaningful share; it and out-of-range quotients show as 0.
static double costShare(quint64 cost, quint64 total)
{
    if (total == 0) {
        return 0.0;
    }
    const double scaled = static_cast<double>(cost) / static_cast<double>(total) * 10000.0;
    if (!std::isfinite(scaled) || scaled > std::numeric_limits<qint32>::max()) {
        return 0.0;
    }
    return static_cast<qint32>(scaled) / 100.0;
}

QString nodeTooltip(const TreeLeafItem *node, const SnapshotItem *snapshot, const QByteArray &label)
{
    const quint64 cost = node ? node->cost() : 0;
    const quint64 snapshotCost = snapshot ? snapshot->cost() : 0;
    const quint32 number = snapshot ? snapshot->number() : 0;
    QString rows = i18n("<dt>cost:</dt><dd>%1, i.e. %2% of snapshot #%3</dd>", formatCost(cost), costShare(cost, snapshotCost), number);
    rows += labelPiecesRows(splitLabelPieces(label));
    return wrapTooltip(rows);
}

} // namespace Massif
