/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "callgraphtab.h"

#include "dotgraphgenerator.h"
#include "filedata.h"
#include "kgraphviewerinterface.h"

#include <KActionCollection>
#include <KLocalizedString>
#include <KStandardAction>

#include <QAction>
#include <QDebug>
#include <QIcon>
#include <QMenu>
#include <QUrl>
#include <QVBoxLayout>

using Massif::DotGraphGenerator;

CallGraphTab::CallGraphTab(Massif::FileData *data, KParts::ReadOnlyPart *part, KXMLGUIClient *guiParent, QWidget *parent)
    : DocumentTabInterface(data, guiParent, parent)
    , part(part)
    , graphViewer(qobject_cast<KGraphViewer::KGraphViewerInterface *>(part))
    , shownItem(nullptr, nullptr)
    , pendingItem(nullptr, nullptr)
{
    setXMLFile(QStringLiteral("callgraphtabui.rc"), true);
    setupActions();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (part) {
        layout->addWidget(part->widget());
        connect(part, SIGNAL(graphLoaded()), this, SLOT(slotGraphLoaded()));
        connect(part, SIGNAL(nodeClicked(QString)), this, SLOT(slotNodeClicked(QString)));
        connect(part, SIGNAL(nodeContextMenuRequested(QString, QPoint)), this, SLOT(slotNodeContextMenu(QString, QPoint)));
    }

    requestGraph(Massif::ModelItem(nullptr, data ? data->peak() : nullptr));
}

CallGraphTab::~CallGraphTab()
{
    releaseGenerator();
    stopGenerators();
    // Finished now: deleting them here also removes their files when no
    // event loop runs any more to carry out their deleteLater().
    qDeleteAll(releasedGenerators);
    releasedGenerators.clear();
    if (part && graphViewer) {
        part->closeUrl();
    }
    shownItem = Massif::ModelItem(nullptr, nullptr);
}

void CallGraphTab::setupActions()
{
    zoomInAction = KStandardAction::zoomIn(this, &CallGraphTab::zoomIn, this);
    actionCollection()->addAction(QStringLiteral("zoomIn"), zoomInAction);
    zoomOutAction = KStandardAction::zoomOut(this, &CallGraphTab::zoomOut, this);
    actionCollection()->addAction(QStringLiteral("zoomOut"), zoomOutAction);
    focusExpensiveAction = new QAction(QIcon::fromTheme(QStringLiteral("flag-red")), i18nc("@action", "Focus Most Expensive Node"), this);
    actionCollection()->addAction(QStringLiteral("focusExpensive"), focusExpensiveAction);
    connect(focusExpensiveAction, &QAction::triggered, this, &CallGraphTab::focusExpensiveGraphNode);
}

void CallGraphTab::setVisible(bool visible)
{
    DocumentTabInterface::setVisible(visible);
    if (visible) {
        requestGraph(pendingItem);
    }
}

// The tab also becomes visible without setVisible() when a hidden ancestor is shown.
void CallGraphTab::showEvent(QShowEvent *event)
{
    DocumentTabInterface::showEvent(event);
    requestGraph(pendingItem);
}

void CallGraphTab::settingsChanged()
{
}

void CallGraphTab::selectModelItem(const Massif::ModelItem &item)
{
    // The echo of a click in the graph: the graph stays as it is.
    if (selectingFromGraph) {
        return;
    }
    requestGraph(item);
}

void CallGraphTab::requestGraph(const Massif::ModelItem &item)
{
    pendingItem = item;
    if (item == shownItem && generator && !stopped) {
        // Being made, or made while the tab was hidden and not shown yet.
        if (!generator->isRunning()) {
            showDotGraph();
        }
        return;
    }
    if (item == shownItem && part && part->url().isValid()) {
        return;
    }
    if (!isVisible() || stopped) {
        return;
    }
    shownItem = item;
    qDebug() << "new dot graph requested" << item;
    releaseGenerator();
    if (!item.first && !item.second) {
        return;
    }

    const QString timeUnit = data ? data->timeUnit() : QString();
    if (item.second) {
        generator = new DotGraphGenerator(item.second, timeUnit, this);
    } else {
        generator = new DotGraphGenerator(item.first, timeUnit, this);
    }
    const quint64 serial = ++generatorSerial;
    connect(generator, &QThread::finished, this, [this, serial]() {
        if (serial == generatorSerial) {
            showDotGraph();
        }
    });
    generator->start();
}

void CallGraphTab::releaseGenerator()
{
    if (!generator) {
        return;
    }
    qDebug() << "existing generator is running:" << generator->isRunning();
    if (generator->isRunning()) {
        disconnect(generator, nullptr, this, nullptr);
        connect(generator, &QThread::finished, generator, &QObject::deleteLater);
        generator->cancel();
        generator->setParent(nullptr);
        // It may have ended before the connection was made.
        if (!generator->isRunning()) {
            generator->wait();
            generator->deleteLater();
        }
        releasedGenerators.removeAll(nullptr);
        releasedGenerators.append(generator);
    } else {
        delete generator;
    }
    generator = nullptr;
}

void CallGraphTab::stopGenerators()
{
    stopped = true;
    // A finished() still queued for it must not show its cut-short file.
    ++generatorSerial;
    if (generator) {
        generator->cancel();
        generator->wait();
    }
    for (const QPointer<DotGraphGenerator> &released : std::as_const(releasedGenerators)) {
        if (released) {
            released->wait();
        }
    }
    releasedGenerators.removeAll(nullptr);
}

void CallGraphTab::showDotGraph()
{
    if (!generator || !part || !isVisible()) {
        return;
    }
    qDebug() << "show dot graph in output file" << generator->outputFileName();
    const QUrl url = QUrl::fromLocalFile(generator->outputFileName());
    if (url.isValid() && url != part->url()) {
        // Only called once the generator has finished: its results are complete.
        openedGraph = Graph {url, generator->mostExpensiveNodeId(), generator->nodeItems()};
        part->openUrl(url);
    }
}

// The part reports the newest file it was given, which is the one opened last.
void CallGraphTab::slotGraphLoaded()
{
    if (!graphViewer || !part || openedGraph.url.isEmpty() || part->url() != openedGraph.url) {
        return;
    }
    shownGraph = openedGraph;
    graphViewer->setZoomFactor(0.75);
    graphViewer->setPannerPosition(KGraphViewer::KGraphViewerInterface::BottomRight);
    graphViewer->setPannerEnabled(true);
    graphViewer->centerOnNode(shownGraph.mostExpensiveNodeId);
}

void CallGraphTab::slotNodeClicked(const QString &nodeId)
{
    const Massif::ModelItem item = shownGraph.items.value(nodeId, Massif::ModelItem(nullptr, nullptr));
    if (!item.first && !item.second) {
        return;
    }
    selectingFromGraph = true;
    Q_EMIT modelItemSelected(item);
    selectingFromGraph = false;
}

void CallGraphTab::slotNodeContextMenu(const QString &nodeId, const QPoint &globalPos)
{
    const Massif::ModelItem item = shownGraph.items.value(nodeId, Massif::ModelItem(nullptr, nullptr));
    if (!item.first) {
        return;
    }
    QMenu menu;
    Q_EMIT contextMenuRequested(item, &menu);
    if (!menu.actions().isEmpty()) {
        menu.exec(globalPos);
    }
}

void CallGraphTab::zoomIn()
{
    if (graphViewer && part) {
        graphViewer->zoomIn();
    }
}

void CallGraphTab::zoomOut()
{
    if (graphViewer && part) {
        graphViewer->zoomOut();
    }
}

void CallGraphTab::focusExpensiveGraphNode()
{
    if (graphViewer && part && !shownGraph.mostExpensiveNodeId.isEmpty()) {
        graphViewer->centerOnNode(shownGraph.mostExpensiveNodeId);
    }
}
