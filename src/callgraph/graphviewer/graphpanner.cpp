/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "graphpanner.h"

#include <QGraphicsScene>
#include <QGraphicsView>
#include <QMouseEvent>
#include <QPainter>

namespace GraphViewer {

GraphPanner::GraphPanner(QGraphicsView *view, QWidget *parent) : QWidget(parent), view(view)
{
    setObjectName(QStringLiteral("graphPanner"));
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(sizeHint());
}

QSize GraphPanner::sizeHint() const
{
    return QSize(200, 150);
}

// Where the scene appears inside the widget, keeping its proportions.
QRectF GraphPanner::pictureRect() const
{
    const QRectF scene = view->sceneRect();
    const QRectF area = QRectF(rect()).adjusted(2, 2, -2, -2);
    if (scene.isEmpty() || area.isEmpty()) {
        return area;
    }
    QSizeF size = scene.size();
    size.scale(area.size(), Qt::KeepAspectRatio);
    return QRectF(area.center() - QPointF(size.width() / 2, size.height() / 2), size);
}

void GraphPanner::updatePicture()
{
    const qreal ratio = devicePixelRatioF();
    picture = QPixmap(size() * ratio);
    picture.setDevicePixelRatio(ratio);
    picture.fill(palette().color(QPalette::Base));
    if (view->scene() && !view->sceneRect().isEmpty()) {
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        view->scene()->render(&painter, pictureRect(), view->sceneRect(), Qt::KeepAspectRatio);
    }
    update();
}

void GraphPanner::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event)
    QPainter painter(this);
    painter.drawPixmap(0, 0, picture);
    painter.setPen(palette().color(QPalette::Mid));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));

    const QRectF scene = view->sceneRect();
    if (scene.isEmpty()) {
        return;
    }
    // The part of the scene the view shows, mapped into the picture.
    const QRectF visible = view->mapToScene(view->viewport()->rect()).boundingRect().intersected(scene);
    const QRectF target = pictureRect();
    const qreal scale = target.width() / scene.width();
    const QRectF frame((visible.left() - scene.left()) * scale + target.left(),
                       (visible.top() - scene.top()) * scale + target.top(),
                       visible.width() * scale,
                       visible.height() * scale);
    QColor fill = palette().color(QPalette::Highlight);
    fill.setAlpha(50);
    painter.setBrush(fill);
    painter.setPen(QPen(palette().color(QPalette::Highlight), 1.5));
    painter.drawRect(frame);
}

void GraphPanner::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    updatePicture();
}

void GraphPanner::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        moveViewTo(event->position());
    }
}

void GraphPanner::mouseMoveEvent(QMouseEvent *event)
{
    if (event->buttons() & Qt::LeftButton) {
        moveViewTo(event->position());
    }
}

void GraphPanner::moveViewTo(const QPointF &position)
{
    const QRectF scene = view->sceneRect();
    const QRectF target = pictureRect();
    if (scene.isEmpty() || target.isEmpty()) {
        return;
    }
    const qreal scale = scene.width() / target.width();
    view->centerOn(scene.left() + (position.x() - target.left()) * scale, scene.top() + (position.y() - target.top()) * scale);
}

} // namespace GraphViewer
