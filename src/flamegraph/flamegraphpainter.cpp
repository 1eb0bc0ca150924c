/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "flamegraphpainter.h"

#include "flamegraphlayout.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace Massif {

namespace {

// Room for at least a few characters before a frame gets text at all.
constexpr double MinimumTextWidth = 24.0;
constexpr double TextPadding = 3.0;

QColor textColorOn(const QColor &background)
{
    return qGray(background.rgb()) < 128 ? Qt::white : Qt::black;
}

} // namespace

FlameGraphPainter::FlameGraphPainter(const FlameGraphLayout &layout) : m_layout(layout)
{
}

void FlameGraphPainter::layoutChanged()
{
    m_colors.assign(size_t(m_layout.frameCount()), 0);
    m_texts.clear();
    m_zoomFrame = 0;
    m_selectedFrame = -1;
}

void FlameGraphPainter::setColorByCost(bool byCost)
{
    if (m_colorByCost != byCost) {
        m_colorByCost = byCost;
        m_colors.assign(size_t(m_layout.frameCount()), 0);
    }
}

void FlameGraphPainter::setColorFunction(ColorFunction function)
{
    m_colorFunction = std::move(function);
    m_colors.assign(size_t(m_layout.frameCount()), 0);
}

int FlameGraphPainter::graphHeight() const
{
    return m_layout.frameCount() ? (m_layout.maxDepth() + 1) * m_rowHeight : 0;
}

double FlameGraphPainter::frameLeft(int index, double width) const
{
    const FlameFrame &zoom = m_layout.frame(m_zoomFrame);
    return (m_layout.frame(index).x - zoom.x) / zoom.width * width;
}

double FlameGraphPainter::frameWidth(int index, double width) const
{
    return m_layout.frame(index).width / m_layout.frame(m_zoomFrame).width * width;
}

double FlameGraphPainter::rowTop(int depth, double canvasHeight) const
{
    return canvasHeight - double(depth + 1) * m_rowHeight;
}

QRectF FlameGraphPainter::frameRect(int index, const QSizeF &canvas) const
{
    if (index < 0 || index >= m_layout.frameCount() || m_zoomFrame >= m_layout.frameCount()) {
        return QRectF();
    }
    const FlameFrame &frame = m_layout.frame(index);
    const double top = rowTop(frame.depth, canvas.height());
    if (m_layout.isAncestorOf(index, m_zoomFrame) && index != m_zoomFrame) {
        return QRectF(0, top, canvas.width(), m_rowHeight);
    }
    if (!m_layout.isAncestorOf(m_zoomFrame, index)) {
        return QRectF();
    }
    return QRectF(frameLeft(index, canvas.width()), top, frameWidth(index, canvas.width()), m_rowHeight);
}

int FlameGraphPainter::frameAt(const QPointF &point, const QSizeF &canvas) const
{
    if (m_layout.frameCount() == 0 || point.x() < 0 || point.x() >= canvas.width()) {
        return -1;
    }
    const double fromBottom = canvas.height() - point.y();
    if (fromBottom < 0) {
        return -1;
    }
    const int depth = int(fromBottom / m_rowHeight);
    const FlameFrame &zoom = m_layout.frame(m_zoomFrame);
    if (depth < zoom.depth) {
        int ancestor = m_zoomFrame;
        while (ancestor >= 0 && m_layout.frame(ancestor).depth > depth) {
            ancestor = m_layout.frame(ancestor).parent;
        }
        return ancestor;
    }
    const double x = zoom.x + point.x() / canvas.width() * zoom.width;
    return m_layout.frameAt(x, depth, m_zoomFrame);
}

QColor FlameGraphPainter::frameColor(int index) const
{
    if (m_colors.size() != size_t(m_layout.frameCount())) {
        m_colors.assign(size_t(m_layout.frameCount()), 0);
    }
    QRgb &cached = m_colors[size_t(index)];
    if (cached == 0) {
        const FlameFrame &frame = m_layout.frame(index);
        QColor color = m_colorFunction ? m_colorFunction(frame.node) : QColor();
        if (color.isValid()) {
            // Set from outside.
        } else if (index == 0) {
            color = QColor(232, 186, 120);
        } else if (frame.summary) {
            color = FlameGraphLayout::summaryColor();
        } else if (m_colorByCost) {
            color = FlameGraphLayout::costColor(m_layout.totalCost() ? double(frame.cost) / double(m_layout.totalCost()) : 0.0);
        } else {
            color = FlameGraphLayout::functionColor(m_layout.function(index));
        }
        // Opaque colours are never 0, which marks a colour not worked out yet.
        cached = color.rgb();
    }
    return QColor::fromRgb(cached);
}

QString FlameGraphPainter::frameText(int index) const
{
    auto it = m_texts.constFind(index);
    if (it == m_texts.constEnd()) {
        it = m_texts.insert(index, m_layout.displayText(index));
    }
    return *it;
}

int FlameGraphPainter::paint(QPainter *painter, const QSizeF &canvas, const QRectF &exposed) const
{
    if (m_layout.frameCount() == 0 || m_zoomFrame >= m_layout.frameCount()) {
        return 0;
    }
    const QFontMetricsF metrics(painter->font());
    const double width = canvas.width();
    int boxes = 0;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);

    auto rowVisible = [&](int depth) {
        const double top = rowTop(depth, canvas.height());
        return top < exposed.bottom() && top + m_rowHeight > exposed.top();
    };
    auto drawBox = [&](int index, const QRectF &rect) {
        const bool matched = m_layout.isMatched(index);
        const QColor fill = matched ? matchColor() : frameColor(index);
        const QRectF box = rect.adjusted(0, 0, rect.width() >= 2 ? -1 : 0, -1);
        painter->fillRect(box, fill);
        ++boxes;
        if (box.width() >= MinimumTextWidth) {
            const QString text = metrics.elidedText(frameText(index), Qt::ElideRight, box.width() - 2 * TextPadding);
            if (!text.isEmpty()) {
                painter->setPen(textColorOn(fill));
                painter->drawText(box.adjusted(TextPadding, 0, -TextPadding, 0), Qt::AlignLeft | Qt::AlignVCenter, text);
            }
        }
    };

    // The zoom frame's ancestors, full width below it.
    for (int ancestor = m_layout.frame(m_zoomFrame).parent; ancestor >= 0; ancestor = m_layout.frame(ancestor).parent) {
        if (rowVisible(m_layout.frame(ancestor).depth)) {
            drawBox(ancestor, frameRect(ancestor, canvas));
        }
    }

    // Runs of frames under a pixel wide, merged per row.
    struct Run
    {
        int depth = -1;
        double left = 0.0;
        double right = 0.0;
        int parent = -1;
    } run;
    auto flush = [&]() {
        if (run.depth >= 0 && run.right - run.left >= 1.0 && rowVisible(run.depth)) {
            const double top = rowTop(run.depth, canvas.height());
            painter->fillRect(QRectF(run.left, top, run.right - run.left, m_rowHeight - 1), frameColor(run.parent).lighter(115));
            ++boxes;
        }
        run.depth = -1;
    };

    const int end = m_layout.frame(m_zoomFrame).end;
    for (int i = m_zoomFrame; i < end;) {
        const FlameFrame &frame = m_layout.frame(i);
        const double w = frameWidth(i, width);
        const double left = frameLeft(i, width);
        if (w < 1.0) {
            if (run.depth == frame.depth && std::abs(left - run.right) < 0.5) {
                run.right = left + w;
            } else {
                flush();
                run = {frame.depth, left, left + w, frame.parent >= 0 ? frame.parent : 0};
            }
            i = frame.end;
            continue;
        }
        if (rowVisible(frame.depth)) {
            drawBox(i, QRectF(left, rowTop(frame.depth, canvas.height()), w, m_rowHeight));
        }
        ++i;
    }
    flush();

    // The selection and its ancestors outlined, on top of everything.
    if (m_selectedFrame >= 0 && m_selectedFrame < m_layout.frameCount()) {
        QPen pen(QColor(20, 20, 20));
        pen.setWidth(1);
        painter->setBrush(Qt::NoBrush);
        for (int ancestor = m_layout.frame(m_selectedFrame).parent; ancestor >= 0; ancestor = m_layout.frame(ancestor).parent) {
            const QRectF rect = frameRect(ancestor, canvas);
            if (!rect.isEmpty()) {
                painter->setPen(pen);
                painter->drawRect(rect.adjusted(0, 0, -1, -1));
            }
        }
        const QRectF rect = frameRect(m_selectedFrame, canvas);
        if (!rect.isEmpty()) {
            QPen strong(QColor(0, 90, 200));
            strong.setWidth(3);
            painter->setPen(strong);
            painter->drawRect(rect.adjusted(1, 1, -2, -2));
        }
    }
    painter->restore();
    return boxes;
}

} // namespace Massif
