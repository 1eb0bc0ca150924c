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
 * Lays out a dot description with Graphviz's dot engine. Returns false and
 * sets @p error for text that Graphviz cannot read or lay out. Callable from
 * any thread; calls are serialised, as Graphviz is not thread-safe.
 */
bool layoutDot(const QByteArray &dot, GraphLayout *layout, QString *error);

} // namespace GraphViewer

#endif
