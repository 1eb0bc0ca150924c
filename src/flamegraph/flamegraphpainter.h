/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_FLAMEGRAPHPAINTER_H
#define MASSIF_FLAMEGRAPHPAINTER_H

#include <QColor>
#include <QHash>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <functional>
#include <vector>

class QPainter;

namespace Massif {

class FlameGraphLayout;
class TreeLeafItem;

/**
 * Draws a flame graph layout with any QPainter (widget, image, printer) and
 * answers where its frames are. The root row is at the bottom of a canvas at
 * least as high as the graph. One frame, the zoom frame, spans the width;
 * its ancestors are drawn full width below it.
 *
 * Frames narrower than a pixel are not drawn one by one: a run of them next
 * to each other on one row becomes a single box.
 */
class FlameGraphPainter
{
public:
    explicit FlameGraphPainter(const FlameGraphLayout &layout);

    /// Forgets what was cached for the previous layout; call after the layout changed.
    void layoutChanged();
    /// Forgets the frame texts, which follow the settings.
    void textsChanged()
    {
        m_texts.clear();
    }

    int rowHeight() const
    {
        return m_rowHeight;
    }
    void setRowHeight(int height)
    {
        m_rowHeight = height;
    }
    int zoomFrame() const
    {
        return m_zoomFrame;
    }
    void setZoomFrame(int index)
    {
        m_zoomFrame = index;
    }
    void setSelectedFrame(int index)
    {
        m_selectedFrame = index;
    }
    int selectedFrame() const
    {
        return m_selectedFrame;
    }
    void setColorByCost(bool byCost);
    bool colorByCost() const
    {
        return m_colorByCost;
    }
    /// Colours a frame by its heap tree node; an invalid colour leaves the frame to the other modes.
    using ColorFunction = std::function<QColor(const TreeLeafItem *node)>;
    /// Colours from outside, say by a comparison, take the place of function and cost colours; empty to stop.
    void setColorFunction(ColorFunction function);

    /// Height of all rows of the graph.
    int graphHeight() const;
    /// Where frame @p index is drawn on a canvas of @p canvas size; empty when it is not drawn.
    QRectF frameRect(int index, const QSizeF &canvas) const;
    /// The frame drawn at @p point, or -1.
    int frameAt(const QPointF &point, const QSizeF &canvas) const;
    /// The colour of a frame before any highlight.
    QColor frameColor(int index) const;
    /// The text of a frame, cached for the current layout.
    QString frameText(int index) const;

    /**
     * Paints the rows of a canvas of @p canvas size that meet @p exposed.
     * Returns the number of boxes drawn.
     */
    int paint(QPainter *painter, const QSizeF &canvas, const QRectF &exposed) const;

    static QColor matchColor()
    {
        return QColor(214, 92, 224);
    }

private:
    double frameLeft(int index, double width) const;
    double frameWidth(int index, double width) const;
    double rowTop(int depth, double canvasHeight) const;

    const FlameGraphLayout &m_layout;
    int m_rowHeight = 18;
    int m_zoomFrame = 0;
    int m_selectedFrame = -1;
    bool m_colorByCost = false;
    ColorFunction m_colorFunction;
    mutable std::vector<QRgb> m_colors;
    mutable QHash<int, QString> m_texts;
};

} // namespace Massif

#endif
