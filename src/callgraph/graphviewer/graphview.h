/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef GRAPHVIEWER_GRAPHVIEW_H
#define GRAPHVIEWER_GRAPHVIEW_H

#include "graphlayout.h"
#include "kgraphviewerinterface.h"

#include <QGraphicsView>
#include <QHash>

class QLabel;

namespace GraphViewer {

class GraphElementItem;
class GraphPanner;

/**
 * Shows a laid-out graph: zoom with the wheel, pan by dragging, and an
 * overview in a corner.
 */
class GraphView : public QGraphicsView
{
    Q_OBJECT
public:
    explicit GraphView(QWidget *parent = nullptr);

    /// Replaces the graph shown.
    void setGraph(const GraphLayout &layout);
    void clearGraph();

    void zoomIn();
    void zoomOut();
    void setZoomFactor(double factor);
    double zoomFactor() const;

    void setPannerPosition(KGraphViewer::KGraphViewerInterface::PannerPosition position);
    void setPannerEnabled(bool enabled);
    GraphPanner *panner() const
    {
        return m_panner;
    }

    /// False when there is no node @p nodeId.
    bool centerOnNode(const QString &nodeId);

    /// A line of text above the graph, such as the progress of a layout; empty hides it.
    void setStatus(const QString &text);

Q_SIGNALS:
    /// A click (not a drag) on the node with the dot id @p nodeId.
    void nodeClicked(const QString &nodeId);
    /// A right click on the node with the dot id @p nodeId.
    void nodeContextMenuRequested(const QString &nodeId, const QPoint &globalPos);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void scaleBy(double factor);
    void placePanner();
    void placeStatus();

    QGraphicsScene *m_scene;
    GraphPanner *m_panner;
    QLabel *m_status;
    QPoint m_pressPosition;
    GraphElementItem *m_highlighted = nullptr;
    QHash<QString, GraphElementItem *> m_nodes;
    KGraphViewer::KGraphViewerInterface::PannerPosition m_pannerPosition = KGraphViewer::KGraphViewerInterface::BottomRight;
    bool m_pannerEnabled = true;
};

} // namespace GraphViewer

#endif
