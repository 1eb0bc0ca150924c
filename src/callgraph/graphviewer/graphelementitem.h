/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef GRAPHVIEWER_GRAPHELEMENTITEM_H
#define GRAPHVIEWER_GRAPHELEMENTITEM_H

#include "graphlayout.h"

#include <QGraphicsItem>

namespace GraphViewer {

/**
 * A node or an edge of the graph as Graphviz drew it. Its data under key 0
 * is its dot id (for an edge "tail->head"), under key 1 "node" or "edge",
 * under key 2 whether it is highlighted.
 */
class GraphElementItem : public QGraphicsItem
{
public:
    enum Kind {
        Node,
        Edge,
    };
    enum {
        Type = UserType + 1,
    };

    GraphElementItem(Kind kind, const GraphElement &element, QGraphicsItem *parent = nullptr);

    Kind kind() const
    {
        return m_kind;
    }
    QString id() const
    {
        return m_element.id;
    }

    /// Framed as the node last clicked.
    void setHighlighted(bool highlighted);

    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;
    int type() const override
    {
        return Type;
    }

private:
    void paintText(QPainter *painter, const GraphText &text) const;

    Kind m_kind;
    GraphElement m_element;
    bool m_highlighted = false;
};

} // namespace GraphViewer

#endif
