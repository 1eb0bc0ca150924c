/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "chartzoom.h"

#include "chartoverlay.h"

#include <KChartCartesianCoordinatePlane>
#include <KChartChart>

#include <QApplication>
#include <QMouseEvent>
#include <QWheelEvent>

#include <cmath>

namespace {
// One wheel notch shows this share of the time shown before.
constexpr double WheelZoom = 0.8;
// One notch of Shift+wheel moves by this share of the time shown.
constexpr double WheelPan = 0.1;
// A narrower drag is taken for a slip of the hand, not a range.
constexpr double MinimumBandPixels = 3.0;
} // namespace

ChartZoom::ChartZoom(KChart::Chart *chart, ChartOverlay *overlay, QObject *parent)
    : QObject(parent), m_chart(chart), m_plane(static_cast<KChart::CartesianCoordinatePlane *>(chart->coordinatePlane())), m_overlay(overlay)
{
    chart->installEventFilter(this);
}

void ChartZoom::setFullRange(double first, double last)
{
    m_first = first;
    m_last = qMax(first, last);
    if (m_zoomed) {
        zoomTo(m_from, m_to);
    }
}

std::pair<double, double> ChartZoom::fullRange() const
{
    return {m_first, m_last};
}

std::pair<double, double> ChartZoom::visibleRange() const
{
    return m_zoomed ? std::pair(m_from, m_to) : std::pair(m_first, m_last);
}

bool ChartZoom::isZoomed() const
{
    return m_zoomed;
}

QRectF ChartZoom::plotArea() const
{
    const QRectF range = m_plane->visibleDataRange();
    if (range.width() == 0 || range.height() == 0) {
        return {};
    }
    // The plane's data rectangle as drawn; its corners tell where it lies in the chart.
    return QRectF(m_plane->translate(range.topLeft()), m_plane->translate(range.bottomRight())).normalized();
}

QPointF ChartZoom::valueAt(const QPointF &pixel) const
{
    const QRectF range = m_plane->visibleDataRange();
    const QPointF a = m_plane->translate(range.topLeft());
    const QPointF b = m_plane->translate(range.bottomRight());
    const double x = b.x() == a.x() ? range.left() : range.left() + (pixel.x() - a.x()) / (b.x() - a.x()) * range.width();
    const double y = b.y() == a.y() ? range.top() : range.top() + (pixel.y() - a.y()) / (b.y() - a.y()) * range.height();
    return {x, y};
}

double ChartZoom::pixelAt(double time) const
{
    return m_plane->translate(QPointF(time, m_plane->visibleDataRange().top())).x();
}

void ChartZoom::zoomTo(double from, double to)
{
    if (from > to) {
        std::swap(from, to);
    }
    const double full = m_last - m_first;
    from = qMax(from, m_first);
    to = qMin(to, m_last);
    if (full <= 0 || to - from >= full) {
        reset();
        return;
    }
    // Time values are integers in most files; below one unit nothing more is seen.
    const double minimum = qMin(full, qMax(full * 1e-9, 1.0));
    if (to - from < minimum) {
        const double centre = (from + to) / 2;
        from = qBound(m_first, centre - minimum / 2, m_last - minimum);
        to = from + minimum;
    }
    apply(from, to);
}

void ChartZoom::zoomAround(double time, double factor)
{
    const auto [from, to] = visibleRange();
    time = qBound(from, time, to);
    zoomTo(time - (time - from) * factor, time + (to - time) * factor);
}

void ChartZoom::zoomIn()
{
    const auto [from, to] = visibleRange();
    zoomAround((from + to) / 2, 0.5);
}

void ChartZoom::zoomOut()
{
    const auto [from, to] = visibleRange();
    zoomAround((from + to) / 2, 2.0);
}

void ChartZoom::panBy(double time)
{
    if (!m_zoomed) {
        return;
    }
    const double span = m_to - m_from;
    const double from = qBound(m_first, m_from + time, m_last - span);
    apply(from, from + span);
}

void ChartZoom::reset()
{
    if (!m_zoomed) {
        return;
    }
    m_zoomed = false;
    // An empty range gives the plane back its own fit to the data.
    m_plane->setHorizontalRange(QPair<qreal, qreal>());
    relayout();
    Q_EMIT rangeChanged();
    m_chart->update();
}

void ChartZoom::apply(double from, double to)
{
    if (m_zoomed && from == m_from && to == m_to) {
        return;
    }
    m_zoomed = true;
    m_from = from;
    m_to = to;
    m_plane->setHorizontalRange(QPair<qreal, qreal>(from, to));
    relayout();
    Q_EMIT rangeChanged();
    m_chart->update();
}

void ChartZoom::relayout()
{
    // The plane would lay out at the next paint; the mouse needs its pixels now.
    static_cast<KChart::AbstractCoordinatePlane *>(m_plane)->layoutDiagrams();
}

void ChartZoom::replayClick(const QPointF &position, Qt::KeyboardModifiers modifiers)
{
    // The chart selects on press; it gets the press now that no drag came of it.
    m_replaying = true;
    QMouseEvent press(QEvent::MouseButtonPress, position, m_chart->mapToGlobal(position), Qt::LeftButton, Qt::LeftButton, modifiers);
    QCoreApplication::sendEvent(m_chart, &press);
    m_replaying = false;
}

bool ChartZoom::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_chart || m_replaying) {
        return false;
    }
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (m_gesture != Gesture::None || !plotArea().contains(mouse->position())) {
            return false;
        }
        if (mouse->button() == Qt::LeftButton) {
            m_gesture = Gesture::Pressed;
            m_pressPos = mouse->position();
            return true;
        }
        if (mouse->button() == Qt::MiddleButton && m_zoomed) {
            m_gesture = Gesture::Panning;
            m_panX = mouse->position().x();
            m_chart->setCursor(Qt::ClosedHandCursor);
            return true;
        }
        return false;
    }
    case QEvent::MouseMove: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (m_gesture == Gesture::Pressed && std::abs(mouse->position().x() - m_pressPos.x()) >= QApplication::startDragDistance()) {
            m_gesture = Gesture::Selecting;
        }
        if (m_gesture == Gesture::Selecting) {
            m_overlay->setBand(m_pressPos.x(), mouse->position().x(), plotArea());
            return true;
        }
        if (m_gesture == Gesture::Panning) {
            // The time grabbed stays under the mouse.
            const double width = plotArea().width();
            if (width > 0) {
                panBy((m_panX - mouse->position().x()) / width * m_plane->visibleDataRange().width());
            }
            m_panX = mouse->position().x();
            return true;
        }
        // Plain moves are the hover's; the chart itself has no use for them.
        return m_gesture == Gesture::Pressed || mouse->buttons() == Qt::NoButton;
    }
    case QEvent::MouseButtonRelease: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        const Gesture gesture = m_gesture;
        if (gesture == Gesture::Pressed && mouse->button() == Qt::LeftButton) {
            m_gesture = Gesture::None;
            replayClick(m_pressPos, mouse->modifiers());
            return false;
        }
        if (gesture == Gesture::Selecting && mouse->button() == Qt::LeftButton) {
            m_gesture = Gesture::None;
            m_overlay->clearBand();
            const double toX = mouse->position().x();
            if (std::abs(toX - m_pressPos.x()) >= MinimumBandPixels) {
                zoomTo(valueAt(m_pressPos).x(), valueAt(QPointF(toX, m_pressPos.y())).x());
            }
            return true;
        }
        if (gesture == Gesture::Panning && mouse->button() == Qt::MiddleButton) {
            m_gesture = Gesture::None;
            m_chart->unsetCursor();
            return true;
        }
        return false;
    }
    case QEvent::Wheel: {
        auto *wheel = static_cast<QWheelEvent *>(event);
        if (!plotArea().contains(wheel->position())) {
            return false;
        }
        // Some platforms turn Shift+wheel into a horizontal wheel.
        const QPoint delta = wheel->angleDelta();
        const bool pan = (wheel->modifiers() & Qt::ShiftModifier) || (delta.y() == 0 && delta.x() != 0);
        const double notches = (delta.y() != 0 ? delta.y() : delta.x()) / 120.0;
        if (notches == 0) {
            return true;
        }
        if (pan) {
            const auto [from, to] = visibleRange();
            panBy(-notches * WheelPan * (to - from));
        } else {
            zoomAround(valueAt(wheel->position()).x(), std::pow(WheelZoom, notches));
        }
        return true;
    }
    default:
        return false;
    }
}
