/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef FLAMEGRAPHVIEW_H
#define FLAMEGRAPHVIEW_H

#include "flamegraphlayout.h"
#include "flamegraphpainter.h"

#include <QAbstractScrollArea>
#include <QList>

#include <functional>

class QImage;

/**
 * Shows a flame graph, the root row at the bottom, scrolling up when the
 * graph is taller than the view. Clicks, double clicks (zoom), the wheel
 * and the keyboard move the selection and the zoom; the view only reports
 * a frame as activated, the owner decides what that selects.
 */
class FlameGraphView : public QAbstractScrollArea
{
    Q_OBJECT
public:
    explicit FlameGraphView(QWidget *parent = nullptr);

    void setSnapshot(const Massif::SnapshotItem *snapshot, bool inverted);
    const Massif::FlameGraphLayout &layout() const
    {
        return m_layout;
    }
    const Massif::FlameGraphPainter &graphPainter() const
    {
        return m_painter;
    }

    /// Highlights a frame (-1: none), zooming out as far as needed to show it.
    void setSelectedFrame(int index);
    int selectedFrame() const
    {
        return m_painter.selectedFrame();
    }

    void zoomTo(int index);
    int zoomFrame() const
    {
        return m_painter.zoomFrame();
    }
    bool isZoomed() const
    {
        return m_painter.zoomFrame() != 0;
    }

    void setColorByCost(bool byCost);
    /// Colours frames by their node instead (see FlameGraphPainter::setColorFunction()).
    void setColorFunction(Massif::FlameGraphPainter::ColorFunction function);
    /// Tooltip rows (<dt>/<dd> pairs) a frame's node adds to its tooltip.
    void setToolTipRows(std::function<QString(const Massif::TreeLeafItem *node)> rows);
    /// The tooltip of a frame, with the added rows.
    QString frameToolTip(int index) const;
    /// Highlights matching frames; the share of the snapshot they cover.
    double search(const QString &needle);
    void settingsChanged();

    /// The frame under a point of the viewport, or -1.
    int frameAt(const QPoint &pos) const;
    /// Where a frame is in the viewport; empty when not shown.
    QRect frameRect(int index) const;
    /// The whole graph, as zoomed, at the view's width.
    QImage renderImage() const;

public Q_SLOTS:
    /// One step back out of the zoom.
    void zoomOut();
    void resetZoom();

Q_SIGNALS:
    /// The user chose a frame: clicked it or moved to it with the keyboard.
    void frameActivated(int index);
    void contextMenuRequested(int index, const QPoint &globalPos);
    void zoomChanged();

protected:
    bool viewportEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    QSizeF canvasSize() const;
    double scrollOffset() const;
    void updateScrollBar();
    void activate(int index);
    void ensureVisible(int index);

    Massif::FlameGraphLayout m_layout;
    Massif::FlameGraphPainter m_painter;
    std::function<QString(const Massif::TreeLeafItem *node)> m_toolTipRows;
    QList<int> m_zoomHistory;
};

#endif
