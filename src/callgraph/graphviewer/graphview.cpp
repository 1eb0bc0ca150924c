/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "graphview.h"

#include "graphelementitem.h"
#include "graphpanner.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QGraphicsScene>
#include <QLabel>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace GraphViewer {

namespace {
constexpr double ZoomStep = 1.25;
constexpr double MinimumZoom = 0.01;
constexpr double MaximumZoom = 20.0;
constexpr int PannerMargin = 6;
} // namespace

GraphView::GraphView(QWidget *parent)
    : QGraphicsView(parent), m_scene(new QGraphicsScene(this)), m_panner(new GraphPanner(this, this)), m_status(new QLabel(this))
{
    setScene(m_scene);
    setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing | QPainter::SmoothPixmapTransform);
    setDragMode(QGraphicsView::ScrollHandDrag);
    setTransformationAnchor(QGraphicsView::AnchorUnderMouse);
    setResizeAnchor(QGraphicsView::AnchorViewCenter);
    setViewportUpdateMode(QGraphicsView::SmartViewportUpdate);
    setBackgroundBrush(Qt::white);
    m_panner->hide();
    m_status->setObjectName(QStringLiteral("graphStatus"));
    m_status->setAutoFillBackground(true);
    m_status->setFrameShape(QFrame::StyledPanel);
    m_status->setMargin(6);
    m_status->hide();
}

void GraphView::setStatus(const QString &text)
{
    m_status->setText(text);
    m_status->setVisible(!text.isEmpty());
    placeStatus();
}

// Centred at the top, over whatever graph is still shown.
void GraphView::placeStatus()
{
    if (m_status->isHidden()) {
        return;
    }
    const QRect area = viewport()->geometry();
    m_status->adjustSize();
    const QSize size = m_status->size().boundedTo(area.size());
    m_status->setGeometry(area.left() + (area.width() - size.width()) / 2, area.top() + PannerMargin, size.width(), size.height());
    m_status->raise();
}

void GraphView::mousePressEvent(QMouseEvent *event)
{
    m_pressPosition = event->position().toPoint();
    QGraphicsView::mousePressEvent(event);
}

// Dragging pans; only a click that stays in place selects a node.
void GraphView::mouseReleaseEvent(QMouseEvent *event)
{
    QGraphicsView::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton || (event->position().toPoint() - m_pressPosition).manhattanLength() >= QApplication::startDragDistance()) {
        return;
    }
    const QList<QGraphicsItem *> hits = items(event->position().toPoint());
    for (QGraphicsItem *hit : hits) {
        if (hit->type() == GraphElementItem::Type && static_cast<GraphElementItem *>(hit)->kind() == GraphElementItem::Node) {
            auto *node = static_cast<GraphElementItem *>(hit);
            if (m_highlighted) {
                m_highlighted->setHighlighted(false);
            }
            m_highlighted = node;
            node->setHighlighted(true);
            Q_EMIT nodeClicked(node->id());
            return;
        }
    }
}

void GraphView::contextMenuEvent(QContextMenuEvent *event)
{
    const QList<QGraphicsItem *> hits = items(event->pos());
    for (const QGraphicsItem *hit : hits) {
        if (hit->type() == GraphElementItem::Type && static_cast<const GraphElementItem *>(hit)->kind() == GraphElementItem::Node) {
            Q_EMIT nodeContextMenuRequested(static_cast<const GraphElementItem *>(hit)->id(), event->globalPos());
            return;
        }
    }
    QGraphicsView::contextMenuEvent(event);
}

void GraphView::setGraph(const GraphLayout &layout)
{
    // The overview is drawn once, for the new graph only.
    m_highlighted = nullptr;
    m_nodes.clear();
    m_scene->clear();
    for (const GraphElement &edge : layout.edges) {
        m_scene->addItem(new GraphElementItem(GraphElementItem::Edge, edge));
    }
    for (const GraphElement &node : layout.nodes) {
        auto *item = new GraphElementItem(GraphElementItem::Node, node);
        m_scene->addItem(item);
        m_nodes.insert(node.id, item);
    }
    setSceneRect(layout.bounds.adjusted(-10, -10, 10, 10));
    m_panner->updatePicture();
    placePanner();
}

void GraphView::clearGraph()
{
    m_highlighted = nullptr;
    m_nodes.clear();
    m_scene->clear();
    setSceneRect(QRectF());
    m_panner->updatePicture();
    placePanner();
}

void GraphView::zoomIn()
{
    scaleBy(ZoomStep);
}

void GraphView::zoomOut()
{
    scaleBy(1 / ZoomStep);
}

void GraphView::setZoomFactor(double factor)
{
    const double zoom = std::clamp(factor, MinimumZoom, MaximumZoom);
    const QPointF center = mapToScene(viewport()->rect().center());
    setTransform(QTransform::fromScale(zoom, zoom));
    centerOn(center);
    m_panner->update();
}

double GraphView::zoomFactor() const
{
    return transform().m11();
}

void GraphView::scaleBy(double factor)
{
    const double zoom = std::clamp(zoomFactor() * factor, MinimumZoom, MaximumZoom);
    scale(zoom / zoomFactor(), zoom / zoomFactor());
    m_panner->update();
}

void GraphView::setPannerPosition(KGraphViewer::KGraphViewerInterface::PannerPosition position)
{
    m_pannerPosition = position;
    placePanner();
}

void GraphView::setPannerEnabled(bool enabled)
{
    m_pannerEnabled = enabled;
    placePanner();
}

bool GraphView::centerOnNode(const QString &nodeId)
{
    const GraphElementItem *item = m_nodes.value(nodeId);
    if (!item) {
        return false;
    }
    centerOn(item);
    m_panner->update();
    return true;
}

// A mouse wheel zooms around the pointer; a touchpad's smooth scrolling
// scrolls, unless Ctrl is held.
void GraphView::wheelEvent(QWheelEvent *event)
{
    const bool touchpad = event->phase() != Qt::NoScrollPhase || !event->pixelDelta().isNull();
    if (touchpad && !(event->modifiers() & Qt::ControlModifier)) {
        QGraphicsView::wheelEvent(event);
        return;
    }
    const int steps = event->angleDelta().y();
    if (steps == 0) {
        return;
    }
    scaleBy(std::pow(ZoomStep, steps / 120.0));
    event->accept();
}

void GraphView::resizeEvent(QResizeEvent *event)
{
    QGraphicsView::resizeEvent(event);
    placePanner();
    placeStatus();
}

void GraphView::scrollContentsBy(int dx, int dy)
{
    QGraphicsView::scrollContentsBy(dx, dy);
    m_panner->update();
}

void GraphView::placePanner()
{
    const bool show = m_pannerEnabled && !m_nodes.isEmpty();
    const QRect area = viewport()->geometry();
    QSize size = m_panner->sizeHint();
    size = size.boundedTo(QSize(area.width() / 3, area.height() / 3));
    if (!show || size.width() < 40 || size.height() < 30) {
        m_panner->hide();
        return;
    }
    if (m_panner->size() != size) {
        m_panner->resize(size);
    }
    using Position = KGraphViewer::KGraphViewerInterface::PannerPosition;
    const bool left = m_pannerPosition == Position::TopLeft || m_pannerPosition == Position::BottomLeft;
    const bool top = m_pannerPosition == Position::TopLeft || m_pannerPosition == Position::TopRight;
    const int x = left ? area.left() + PannerMargin : area.right() - size.width() - PannerMargin + 1;
    const int y = top ? area.top() + PannerMargin : area.bottom() - size.height() - PannerMargin + 1;
    m_panner->move(x, y);
    m_panner->show();
    m_panner->raise();
}

} // namespace GraphViewer
