/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef GRAPHVIEWER_GRAPHLAYOUT_H
#define GRAPHVIEWER_GRAPHLAYOUT_H

#include <QBrush>
#include <QByteArray>
#include <QColor>
#include <QList>
#include <QPainterPath>
#include <QPen>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <functional>

namespace GraphViewer {

/// One outline, line or filled area that Graphviz drew, in scene coordinates.
struct GraphShape
{
    QPainterPath path;
    QPen pen;
    QBrush brush;
};

/// One line of text that Graphviz placed; @c position is on its base line.
struct GraphText
{
    QPointF position;
    /// -1 left, 0 centred, 1 right of @c position.
    int alignment = 0;
    /// The width Graphviz reserved for the text.
    qreal width = 0;
    QString text;
    QString fontName;
    qreal fontSize = 14;
    QColor color;
};

/// A node or an edge with everything drawn for it.
struct GraphElement
{
    QString id;
    QList<GraphShape> shapes;
    QList<GraphText> texts;
    QRectF bounds;
};

/// A laid-out graph: scene coordinates grow downwards, in points.
struct GraphLayout
{
    QRectF bounds;
    QList<GraphElement> nodes;
    QList<GraphElement> edges;
};

/**
 * Reads a graph that Graphviz's dot program has laid out and written in its
 * xdot format (see dotArguments()): the positions and drawing operations are
 * attributes of the text, so nothing is laid out here. Returns false and sets
 * @p error for text that cannot be read. @p canceled, polled once per node,
 * stops the reading early (false, empty @p error). Callable from any thread;
 * calls are serialised, as Graphviz's reader is not thread-safe.
 */
bool readLayout(const QByteArray &xdot, GraphLayout *layout, QString *error, const std::function<bool()> &canceled = {});

/// The number of nodes of a dot description, read without laying it out; -1 if it cannot be read.
int countNodes(const QByteArray &dot);

/// Graphviz's dot program: on the search path, else where the build found it; empty if neither.
QString dotExecutable();

/// The arguments for dot to lay out @p fileName and write the result in xdot
/// format to its standard output. Nodes with a fill colour are drawn filled.
QStringList dotArguments(const QString &fileName);

} // namespace GraphViewer

#endif
