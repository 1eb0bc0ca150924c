/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_CALLGRAPHEXPORT_H
#define MASSIF_CALLGRAPHEXPORT_H

#include <QByteArray>
#include <QString>

namespace Massif {

class SnapshotItem;

/// The call graph of a snapshot as the call graph tab gets it: the dot description of the generator.
QByteArray callGraphDot(const SnapshotItem *snapshot, const QString &timeUnit);

/**
 * Lays out and renders a dot description as SVG with Graphviz, filling the
 * nodes with their colours as the graph viewer does. Returns an empty array
 * and sets @p error when Graphviz fails.
 */
QByteArray renderDotAsSvg(const QByteArray &dot, QString *error);

} // namespace Massif

#endif
