/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "graphelementitem.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QStyleOptionGraphicsItem>

namespace GraphViewer {

namespace {

// PostScript font names as Graphviz uses them ("Times-Roman",
// "Helvetica-Bold") turned into a font of the system.
QFont fontFor(const GraphText &text)
{
    const QString family = text.fontName.section(QLatin1Char('-'), 0, 0);
    const QString variant = text.fontName.section(QLatin1Char('-'), 1);
    QFont font(family);
    if (family.startsWith(QLatin1String("Times"), Qt::CaseInsensitive)) {
        font.setStyleHint(QFont::Serif);
    } else if (family.startsWith(QLatin1String("Courier"), Qt::CaseInsensitive)) {
        font.setStyleHint(QFont::Monospace);
    } else {
        font.setStyleHint(QFont::SansSerif);
    }
    font.setBold(variant.contains(QLatin1String("Bold"), Qt::CaseInsensitive));
    font.setItalic(variant.contains(QLatin1String("Italic"), Qt::CaseInsensitive) || variant.contains(QLatin1String("Oblique"), Qt::CaseInsensitive));
    font.setPixelSize(qMax(1, qRound(text.fontSize)));
    return font;
}

} // namespace

GraphElementItem::GraphElementItem(Kind kind, const GraphElement &element, QGraphicsItem *parent) : QGraphicsItem(parent), m_kind(kind), m_element(element)
{
    setData(0, element.id);
    setData(1, kind == Node ? QStringLiteral("node") : QStringLiteral("edge"));
    setData(2, false);
    setZValue(kind == Node ? 1 : 0);
}

void GraphElementItem::setHighlighted(bool highlighted)
{
    m_highlighted = highlighted;
    setData(2, highlighted);
    update();
}

QRectF GraphElementItem::boundingRect() const
{
    return m_element.bounds.adjusted(-4, -4, 4, 4);
}

void GraphElementItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget)
{
    Q_UNUSED(widget)
    for (const GraphShape &shape : std::as_const(m_element.shapes)) {
        painter->setPen(shape.pen);
        painter->setBrush(shape.brush);
        painter->drawPath(shape.path);
    }
    if (m_highlighted) {
        painter->setPen(QPen(option->palette.color(QPalette::Highlight), 3));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(m_element.bounds.adjusted(-2, -2, 2, 2));
    }
    // Text smaller than a few pixels is unreadable and slow; the overview and
    // far zoomed-out views show the shapes only.
    const qreal detail = option->levelOfDetailFromTransform(painter->worldTransform());
    if (detail * 14 < 3) {
        return;
    }
    for (const GraphText &text : std::as_const(m_element.texts)) {
        paintText(painter, text);
    }
}

// Draws the text in the width Graphviz reserved for it, so that it stays
// inside its box whatever font the system substitutes.
void GraphElementItem::paintText(QPainter *painter, const GraphText &text) const
{
    const QFont font = fontFor(text);
    const QFontMetricsF metrics(font);
    const qreal natural = metrics.horizontalAdvance(text.text);
    const qreal stretch = (natural > text.width && natural > 0) ? text.width / natural : 1.0;
    const qreal width = natural * stretch;
    qreal left = text.position.x();
    if (text.alignment == 0) {
        left -= width / 2;
    } else if (text.alignment > 0) {
        left -= width;
    }
    painter->save();
    painter->setFont(font);
    painter->setPen(text.color);
    painter->translate(left, text.position.y());
    painter->scale(stretch, 1.0);
    painter->drawText(QPointF(0, 0), text.text);
    painter->restore();
}

} // namespace GraphViewer
