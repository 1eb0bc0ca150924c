/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef CHARTZOOM_H
#define CHARTZOOM_H

#include <QObject>
#include <QPoint>
#include <QPointF>
#include <QRectF>

#include <utility>

class ChartOverlay;

namespace KChart {
class Chart;
class CartesianCoordinatePlane;
} // namespace KChart

/**
 * Zooming and panning of a chart in time. Watches the chart widget: a left
 * drag selects a time range and zooms to it on release, while a click without
 * a drag reaches the chart unchanged; the wheel zooms around the cursor,
 * Shift+wheel and a middle drag pan.
 */
class ChartZoom : public QObject
{
    Q_OBJECT
public:
    ChartZoom(KChart::Chart *chart, ChartOverlay *overlay, QObject *parent = nullptr);

    /// The whole run in time; zooming stays within it.
    void setFullRange(double first, double last);
    std::pair<double, double> fullRange() const;
    /// The times shown: the full range unless zoomed.
    std::pair<double, double> visibleRange() const;
    bool isZoomed() const;

    /// The plane's rectangle in chart pixels; empty before the chart was laid out.
    QRectF plotArea() const;
    /// The data point (time, size) drawn at a chart pixel.
    QPointF valueAt(const QPointF &pixel) const;
    /// The chart pixel column of a time.
    double pixelAt(double time) const;

public Q_SLOTS:
    void zoomTo(double from, double to);
    /// @p factor below 1 zooms in, above 1 out, keeping @p time at its pixel.
    void zoomAround(double time, double factor);
    void zoomIn();
    void zoomOut();
    void panBy(double time);
    void reset();

Q_SIGNALS:
    void rangeChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void apply(double from, double to);
    void relayout();
    void replayClick(const QPointF &position, Qt::KeyboardModifiers modifiers);

    KChart::Chart *m_chart;
    KChart::CartesianCoordinatePlane *m_plane;
    ChartOverlay *m_overlay;
    double m_first = 0.0;
    double m_last = 0.0;
    double m_from = 0.0;
    double m_to = 0.0;
    bool m_zoomed = false;

    enum class Gesture { None, Pressed, Selecting, Panning };
    Gesture m_gesture = Gesture::None;
    QPointF m_pressPos;
    double m_panX = 0.0;
    bool m_replaying = false;
};

#endif
