/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "flamegraphview.h"

#include "snapshotitem.h"

#include <KLocalizedString>

#include <QHelpEvent>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>

FlameGraphView::FlameGraphView(QWidget *parent) : QAbstractScrollArea(parent), m_painter(m_layout)
{
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    viewport()->setMouseTracking(true);
    m_painter.setRowHeight(std::max(16, fontMetrics().height() + 4));
}

void FlameGraphView::setSnapshot(const Massif::SnapshotItem *snapshot, bool inverted)
{
    m_layout.setSnapshot(snapshot, inverted);
    m_painter.layoutChanged();
    m_zoomHistory.clear();
    updateScrollBar();
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    viewport()->update();
    Q_EMIT zoomChanged();
}

void FlameGraphView::setSelectedFrame(int index)
{
    if (index >= m_layout.frameCount()) {
        index = -1;
    }
    if (index >= 0 && !m_layout.isAncestorOf(zoomFrame(), index) && !m_layout.isAncestorOf(index, zoomFrame())) {
        resetZoom();
    }
    m_painter.setSelectedFrame(index);
    if (index >= 0) {
        ensureVisible(index);
    }
    viewport()->update();
}

void FlameGraphView::zoomTo(int index)
{
    if (index < 0 || index >= m_layout.frameCount() || index == zoomFrame()) {
        return;
    }
    m_zoomHistory << zoomFrame();
    m_painter.setZoomFrame(index);
    viewport()->update();
    Q_EMIT zoomChanged();
}

void FlameGraphView::zoomOut()
{
    if (!isZoomed()) {
        return;
    }
    m_painter.setZoomFrame(m_zoomHistory.isEmpty() ? 0 : m_zoomHistory.takeLast());
    viewport()->update();
    Q_EMIT zoomChanged();
}

void FlameGraphView::resetZoom()
{
    m_zoomHistory.clear();
    if (isZoomed()) {
        m_painter.setZoomFrame(0);
        viewport()->update();
        Q_EMIT zoomChanged();
    }
}

void FlameGraphView::setColorByCost(bool byCost)
{
    m_painter.setColorByCost(byCost);
    viewport()->update();
}

void FlameGraphView::setColorFunction(Massif::FlameGraphPainter::ColorFunction function)
{
    m_painter.setColorFunction(std::move(function));
    viewport()->update();
}

void FlameGraphView::setToolTipRows(std::function<QString(const Massif::TreeLeafItem *node)> rows)
{
    m_toolTipRows = std::move(rows);
}

QString FlameGraphView::frameToolTip(int index) const
{
    QString text = m_layout.toolTip(index);
    const QString rows = m_toolTipRows ? m_toolTipRows(m_layout.frame(index).node) : QString();
    if (!rows.isEmpty()) {
        // The root's tooltip is a line of its own, without a list.
        const qsizetype listEnd = text.lastIndexOf(QLatin1String("</dl>"));
        if (listEnd < 0) {
            text += QLatin1String("<dl>") + rows + QLatin1String("</dl>");
        } else {
            text.insert(listEnd, rows);
        }
    }
    return text;
}

double FlameGraphView::search(const QString &needle)
{
    const double share = m_layout.search(needle);
    viewport()->update();
    return share;
}

void FlameGraphView::settingsChanged()
{
    m_painter.textsChanged();
    viewport()->update();
}

QSizeF FlameGraphView::canvasSize() const
{
    return QSizeF(viewport()->width(), std::max(viewport()->height(), m_painter.graphHeight()));
}

double FlameGraphView::scrollOffset() const
{
    return verticalScrollBar()->value();
}

void FlameGraphView::updateScrollBar()
{
    // Kept at the same distance from the bottom, where the root is.
    QScrollBar *bar = verticalScrollBar();
    const int fromBottom = bar->maximum() - bar->value();
    bar->setRange(0, std::max(0, m_painter.graphHeight() - viewport()->height()));
    bar->setPageStep(viewport()->height());
    bar->setSingleStep(m_painter.rowHeight());
    bar->setValue(bar->maximum() - fromBottom);
}

int FlameGraphView::frameAt(const QPoint &pos) const
{
    return m_painter.frameAt(QPointF(pos) + QPointF(0, scrollOffset()), canvasSize());
}

QRect FlameGraphView::frameRect(int index) const
{
    const QRectF rect = m_painter.frameRect(index, canvasSize());
    return rect.isEmpty() ? QRect() : rect.translated(0, -scrollOffset()).toAlignedRect();
}

QImage FlameGraphView::renderImage() const
{
    const QSize size(std::max(1, viewport()->width()), std::max(1, m_painter.graphHeight()));
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font());
    m_painter.paint(&painter, size, QRectF(QPointF(0, 0), size));
    painter.end();
    return image;
}

void FlameGraphView::ensureVisible(int index)
{
    const QRect rect = frameRect(index);
    if (rect.isEmpty()) {
        return;
    }
    QScrollBar *bar = verticalScrollBar();
    if (rect.top() < 0) {
        bar->setValue(bar->value() + rect.top());
    } else if (rect.bottom() > viewport()->height()) {
        bar->setValue(bar->value() + rect.bottom() - viewport()->height());
    }
}

void FlameGraphView::activate(int index)
{
    if (index < 0) {
        return;
    }
    setSelectedFrame(index);
    Q_EMIT frameActivated(index);
}

bool FlameGraphView::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        const int index = frameAt(help->pos());
        if (index >= 0) {
            QToolTip::showText(help->globalPos(), frameToolTip(index), viewport(), frameRect(index));
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void FlameGraphView::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    const double offset = scrollOffset();
    painter.save();
    painter.translate(0, -offset);
    m_painter.paint(&painter, canvasSize(), QRectF(event->rect()).translated(0, offset));
    painter.restore();
    const Massif::SnapshotItem *snapshot = m_layout.snapshot();
    if (snapshot && !snapshot->heapTree()) {
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(viewport()->rect().adjusted(20, 20, -20, -20),
                         Qt::AlignCenter | Qt::TextWordWrap,
                         i18nc("@info", "Snapshot #%1 has no heap tree: massif records one only for detailed and peak snapshots.", snapshot->number()));
    }
}

void FlameGraphView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBar();
}

void FlameGraphView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        activate(frameAt(event->position().toPoint()));
    }
    QAbstractScrollArea::mousePressEvent(event);
}

void FlameGraphView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        zoomTo(frameAt(event->position().toPoint()));
        return;
    }
    QAbstractScrollArea::mouseDoubleClickEvent(event);
}

void FlameGraphView::wheelEvent(QWheelEvent *event)
{
    if (!(event->modifiers() & Qt::ControlModifier)) {
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    // With Ctrl, the wheel zooms one level at a time towards the frame under it.
    if (event->angleDelta().y() > 0) {
        int index = frameAt(event->position().toPoint());
        while (index > 0 && m_layout.frame(index).parent != zoomFrame()) {
            index = m_layout.frame(index).parent;
        }
        if (index > 0 && m_layout.frame(index).parent == zoomFrame()) {
            zoomTo(index);
        }
    } else if (event->angleDelta().y() < 0) {
        zoomOut();
    }
    event->accept();
}

void FlameGraphView::keyPressEvent(QKeyEvent *event)
{
    const int selected = selectedFrame();
    const auto siblingOf = [this](int index, int step) {
        const int parent = m_layout.frame(index).parent;
        if (parent < 0) {
            return -1;
        }
        const QList<int> siblings = m_layout.children(parent);
        const qsizetype at = siblings.indexOf(index) + step;
        return at >= 0 && at < siblings.size() ? siblings.at(at) : -1;
    };
    switch (event->key()) {
    case Qt::Key_Up:
        activate(selected < 0 ? 0 : (m_layout.children(selected).isEmpty() ? -1 : m_layout.children(selected).first()));
        break;
    case Qt::Key_Down:
        activate(selected < 0 ? 0 : m_layout.frame(selected).parent);
        break;
    case Qt::Key_Left:
        activate(selected < 0 ? 0 : siblingOf(selected, -1));
        break;
    case Qt::Key_Right:
        activate(selected < 0 ? 0 : siblingOf(selected, 1));
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        zoomTo(selected);
        break;
    case Qt::Key_Backspace:
        zoomOut();
        break;
    case Qt::Key_Home:
        resetZoom();
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
}

void FlameGraphView::contextMenuEvent(QContextMenuEvent *event)
{
    const int index = frameAt(event->pos());
    if (index >= 0) {
        Q_EMIT contextMenuRequested(index, event->globalPos());
    }
}
