/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef GRAPHVIEWER_GRAPHVIEWERPART_H
#define GRAPHVIEWER_GRAPHVIEWERPART_H

#include "graphlayoutworker.h"
#include "kgraphviewerinterface.h"

#include <KParts/ReadOnlyPart>

#include <QPointer>
#include <QVariantList>

class QProcess;

namespace GraphViewer {

class GraphView;

/**
 * The graph viewer component: opens a dot file, lays it out with Graphviz's
 * dot program in a child process, reads the result on a worker thread and
 * shows it. Emits graphLoaded() once a file is shown. A newer file, closing
 * or destroying the part kills a layout still running: Graphviz takes minutes
 * over large graphs and cannot be interrupted otherwise.
 */
class GraphViewerPart
    : public KParts::ReadOnlyPart
    , public KGraphViewer::KGraphViewerInterface
{
    Q_OBJECT
    Q_INTERFACES(KGraphViewer::KGraphViewerInterface)
public:
    GraphViewerPart(QWidget *parentWidget, QObject *parent, const KPluginMetaData &metaData, const QVariantList &args);
    ~GraphViewerPart() override;

    bool openUrl(const QUrl &url) override;
    bool closeUrl() override;

    void zoomIn() override;
    void zoomOut() override;
    void setZoomFactor(double factor) override;
    void setPannerPosition(PannerPosition position) override;
    void setPannerEnabled(bool enabled) override;
    void centerOnNode(const QString &nodeId) override;

Q_SIGNALS:
    void graphLoaded();
    /// A click on the node with the dot id @p nodeId.
    void nodeClicked(const QString &nodeId);
    /// A right click on the node with the dot id @p nodeId.
    void nodeContextMenuRequested(const QString &nodeId, const QPoint &globalPos);

protected:
    bool openFile() override;

private:
    void startLayout(quint64 ticket);
    void stopLayout();
    void dotFinished(quint64 ticket);
    void nodesCounted(quint64 ticket, int nodes);
    void layoutFinished(quint64 ticket, const std::shared_ptr<const GraphLayout> &layout, const QString &error);
    void layoutFailed(const QString &error);

    // The part's widget; it may be destroyed by whoever it was embedded in.
    QPointer<GraphView> view;
    // The ticket of the newest request; older results are dropped.
    GraphLayoutWorker::Ticket latestTicket;
    QString pendingFile;
    // While opening, the previous graph stays until the new one is laid out.
    bool opening = false;
    // The dot process of the newest request, while it runs.
    QProcess *process = nullptr;
};

} // namespace GraphViewer

#endif
