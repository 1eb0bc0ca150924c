/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "graphviewerpart.h"
#include "threadhandoff.h"

#include "graphview.h"

#include <KPluginFactory>

#include <QDebug>

K_PLUGIN_FACTORY_WITH_JSON(GraphViewerPartFactory, "kgraphviewerpart.json", registerPlugin<GraphViewer::GraphViewerPart>();)

namespace GraphViewer {

GraphViewerPart::GraphViewerPart(QWidget *parentWidget, QObject *parent, const KPluginMetaData &metaData, const QVariantList &args)
    : KParts::ReadOnlyPart(parent, metaData), view(new GraphView(parentWidget)), latestTicket(std::make_shared<std::atomic<quint64>>(0))
{
    Q_UNUSED(args)
    setWidget(view);
    connect(GraphLayoutWorker::instance(), &GraphLayoutWorker::laidOut, this, &GraphViewerPart::layoutFinished);
}

GraphViewerPart::~GraphViewerPart()
{
    // A layout still queued for this part is skipped.
    latestTicket->store(0);
}

bool GraphViewerPart::openFile()
{
    const quint64 ticket = GraphLayoutWorker::nextTicket();
    latestTicket->store(ticket);
    pendingFile = localFilePath();
    GraphLayoutWorker::instance()->request(ticket, pendingFile, latestTicket);
    return true;
}

bool GraphViewerPart::openUrl(const QUrl &url)
{
    opening = true;
    const bool opened = KParts::ReadOnlyPart::openUrl(url);
    opening = false;
    return opened;
}

bool GraphViewerPart::closeUrl()
{
    if (!opening) {
        latestTicket->store(0);
        if (view) {
            view->clearGraph();
        }
    }
    return KParts::ReadOnlyPart::closeUrl();
}

void GraphViewerPart::layoutFinished(quint64 ticket, const std::shared_ptr<const GraphLayout> &layout, const QString &error)
{
    Massif::acquireFromOtherThread(layout.get());
    if (ticket != latestTicket->load()) {
        return;
    }
    if (!layout) {
        qWarning() << "graph viewer: could not show" << pendingFile << ":" << error.trimmed();
        return;
    }
    if (!view) {
        return;
    }
    view->setGraph(*layout);
    Q_EMIT graphLoaded();
}

void GraphViewerPart::zoomIn()
{
    if (view) {
        view->zoomIn();
    }
}

void GraphViewerPart::zoomOut()
{
    if (view) {
        view->zoomOut();
    }
}

void GraphViewerPart::setZoomFactor(double factor)
{
    if (view) {
        view->setZoomFactor(factor);
    }
}

void GraphViewerPart::setPannerPosition(PannerPosition position)
{
    if (view) {
        view->setPannerPosition(position);
    }
}

void GraphViewerPart::setPannerEnabled(bool enabled)
{
    if (view) {
        view->setPannerEnabled(enabled);
    }
}

void GraphViewerPart::centerOnNode(const QString &nodeId)
{
    if (view) {
        view->centerOnNode(nodeId);
    }
}

} // namespace GraphViewer

#include "graphviewerpart.moc"
