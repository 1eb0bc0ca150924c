/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_FORMATTING_H
#define MASSIF_FORMATTING_H

#include "labelpieces.h"

#include <QByteArray>
#include <QString>

namespace Massif {

class SnapshotItem;
class TreeLeafItem;

/// A byte count as a localized size, with the precision of the "prettyCostPrecision" setting.
QString formatCost(quint64 cost);

/// With the "shortenTemplates" setting on, empties every top-level template argument list.
QByteArray shortenTemplates(const QByteArray &identifier);

/// The (shortened) function and its location in parentheses, without the address.
QByteArray displayLabel(const QByteArray &label);

/// Whether the label is massif's summary of the allocations below its threshold.
bool isThresholdSummary(const QByteArray &label);

/// What makes nodes one allocation site: function and location, whatever the
/// code address; all below-threshold summaries share the empty key.
LabelPieces siteKey(const QByteArray &label);

/// Definition list rows (function, location, address) for a tooltip, HTML-escaped.
QString labelPiecesRows(const LabelPieces &pieces);

/// Wraps definition list rows into the HTML document of a tooltip.
QString wrapTooltip(const QString &rows);

/// The tooltip of a heap tree node: its cost, its share of the snapshot and its label pieces.
QString nodeTooltip(const TreeLeafItem *node, const SnapshotItem *snapshot, const QByteArray &label);

} // namespace Massif

#endif
