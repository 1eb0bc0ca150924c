/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "chartoverlay.h"

#include <QEvent>
#include <QPainter>

ChartOverlay::ChartOverlay(QWidget *chart) : QWidget(chart)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setGeometry(chart->rect());
    chart->installEventFilter(this);
    raise();
}

void ChartOverlay::setBand(double fromX, double toX, const QRectF &area)
{
    const QRectF band = area.isEmpty() ? QRectF() : QRectF(QPointF(qMin(fromX, toX), area.top()), QPointF(qMax(fromX, toX), area.bottom())).intersected(area);
    if (band != m_band) {
        m_band = band;
        raise();
        update();
    }
}

void ChartOverlay::clearBand()
{
    setBand(0, 0, QRectF());
}

bool ChartOverlay::hasBand() const
{
    return !m_band.isNull();
}

void ChartOverlay::setLine(double x, const QRectF &area)
{
    if (x == m_lineX && area == m_lineArea) {
        return;
    }
    m_lineX = x;
    m_lineArea = area;
    raise();
    update();
}

void ChartOverlay::clearLine()
{
    setLine(0, QRectF());
}

bool ChartOverlay::hasLine() const
{
    return !m_lineArea.isEmpty();
}

double ChartOverlay::lineX() const
{
    return m_lineX;
}

bool ChartOverlay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parent() && event->type() == QEvent::Resize) {
        setGeometry(parentWidget()->rect());
    }
    return QWidget::eventFilter(watched, event);
}

void ChartOverlay::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (!m_band.isNull()) {
        QColor fill = palette().color(QPalette::Highlight);
        fill.setAlpha(70);
        painter.fillRect(m_band, fill);
        QColor edge = fill;
        edge.setAlpha(200);
        painter.setPen(QPen(edge, 1));
        painter.drawLine(m_band.topLeft(), m_band.bottomLeft());
        painter.drawLine(m_band.topRight(), m_band.bottomRight());
    }
    if (!m_lineArea.isEmpty()) {
        QColor colour = palette().color(QPalette::WindowText);
        colour.setAlpha(170);
        painter.setPen(QPen(colour, 1, Qt::DashLine));
        painter.drawLine(QPointF(m_lineX, m_lineArea.top()), QPointF(m_lineX, m_lineArea.bottom()));
    }
}
