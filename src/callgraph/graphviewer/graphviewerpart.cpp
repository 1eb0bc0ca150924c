/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "graphviewerpart.h"
#include "threadhandoff.h"

#include "graphview.h"

#include <KLocalizedString>
#include <KPluginFactory>

#include <QCoreApplication>
#include <QDebug>
#include <QProcess>

K_PLUGIN_FACTORY_WITH_JSON(GraphViewerPartFactory, "kgraphviewerpart.json", registerPlugin<GraphViewer::GraphViewerPart>();)

namespace GraphViewer {

GraphViewerPart::GraphViewerPart(QWidget *parentWidget, QObject *parent, const KPluginMetaData &metaData, const QVariantList &args)
    : KParts::ReadOnlyPart(parent, metaData), view(new GraphView(parentWidget)), latestTicket(std::make_shared<std::atomic<quint64>>(0))
{
    Q_UNUSED(args)
    setWidget(view);
    connect(view, &GraphView::nodeClicked, this, &GraphViewerPart::nodeClicked);
    connect(view, &GraphView::nodeContextMenuRequested, this, &GraphViewerPart::nodeContextMenuRequested);
    connect(GraphLayoutWorker::instance(), &GraphLayoutWorker::counted, this, &GraphViewerPart::nodesCounted);
    connect(GraphLayoutWorker::instance(), &GraphLayoutWorker::laidOut, this, &GraphViewerPart::layoutFinished);
    // A part whose deletion is still pending when the program ends would
    // leave its dot process running behind it.
    connect(qApp, &QCoreApplication::aboutToQuit, this, &GraphViewerPart::stopLayout);
}

GraphViewerPart::~GraphViewerPart()
{
    // A reading still queued for this part is skipped.
    latestTicket->store(0);
    stopLayout();
}

bool GraphViewerPart::openFile()
{
    const quint64 ticket = GraphLayoutWorker::nextTicket();
    latestTicket->store(ticket);
    stopLayout();
    pendingFile = localFilePath();
    startLayout(ticket);
    return true;
}

void GraphViewerPart::startLayout(quint64 ticket)
{
    const QString program = dotExecutable();
    if (program.isEmpty()) {
        layoutFailed(QStringLiteral("Graphviz's dot program was not found"));
        if (view) {
            view->setStatus(i18nc("@info", "The graph cannot be shown: Graphviz's dot program is not installed."));
        }
        return;
    }
    GraphLayoutWorker::instance()->count(ticket, pendingFile, latestTicket);
    process = new QProcess(this);
    connect(process, &QProcess::finished, this, [this, ticket]() {
        dotFinished(ticket);
    });
    connect(process, &QProcess::errorOccurred, this, [this, ticket](QProcess::ProcessError error) {
        // May come from within start(): the process object goes later.
        if (error == QProcess::FailedToStart && process && ticket == latestTicket->load()) {
            const QString message = process->errorString();
            process->disconnect(this);
            process->deleteLater();
            process = nullptr;
            layoutFailed(message);
        }
    });
    process->start(program, dotArguments(pendingFile), QIODevice::ReadOnly);
}

// Kills the dot process at once; nothing waits for Graphviz to finish.
void GraphViewerPart::stopLayout()
{
    if (view) {
        view->setStatus(QString());
    }
    if (!process) {
        return;
    }
    QProcess *const stopped = process;
    process = nullptr;
    stopped->disconnect(this);
    if (stopped->state() != QProcess::NotRunning) {
        stopped->kill();
        stopped->waitForFinished(1000);
    }
    delete stopped;
}

void GraphViewerPart::dotFinished(quint64 ticket)
{
    if (!process || ticket != latestTicket->load()) {
        return;
    }
    const bool crashed = process->exitStatus() != QProcess::NormalExit;
    const int exitCode = process->exitCode();
    const QByteArray output = process->readAllStandardOutput();
    const QString errors = QString::fromUtf8(process->readAllStandardError());
    process->deleteLater();
    process = nullptr;
    if (crashed || exitCode != 0) {
        layoutFailed(!errors.trimmed().isEmpty() ? errors
                         : crashed               ? QStringLiteral("dot crashed")
                                                 : QStringLiteral("dot ended with exit code %1").arg(exitCode));
        return;
    }
    GraphLayoutWorker::instance()->read(ticket, output, latestTicket);
}

void GraphViewerPart::nodesCounted(quint64 ticket, int nodes)
{
    if (ticket != latestTicket->load() || !process || !view || nodes < 0) {
        return;
    }
    view->setStatus(i18ncp("@info:status", "Laying out %1 node…", "Laying out %1 nodes…", nodes));
}

void GraphViewerPart::layoutFailed(const QString &error)
{
    if (view) {
        view->setStatus(QString());
    }
    qWarning() << "graph viewer: could not show" << pendingFile << ":" << error.trimmed();
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
        stopLayout();
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
        layoutFailed(error);
        return;
    }
    if (!view) {
        return;
    }
    view->setStatus(QString());
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
