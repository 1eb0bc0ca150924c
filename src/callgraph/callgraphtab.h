/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef CALLGRAPHTAB_H
#define CALLGRAPHTAB_H

#include "documenttabinterface.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QUrl>

#include <KParts/ReadOnlyPart>

class QAction;

namespace KGraphViewer {
class KGraphViewerInterface;
}

namespace Massif {
class DotGraphGenerator;
}

/**
 * The document tab that shows the call graph of the selected snapshot or
 * heap tree node in the graph viewer part.
 *
 * Generators read the document's heap trees on their own threads. Before the
 * document's FileData is destroyed, the tab must be destroyed or
 * stopGenerators() called: both cancel every generator of the tab, including
 * those released by earlier requests, and wait until they have ended.
 */
class CallGraphTab : public DocumentTabInterface
{
    Q_OBJECT
public:
    CallGraphTab(Massif::FileData *data, KParts::ReadOnlyPart *part, KXMLGUIClient *guiParent, QWidget *parent = nullptr);
    ~CallGraphTab() override;

    void setVisible(bool visible) override;
    void settingsChanged() override;

    /**
     * Cancels every generator of this tab and waits for them; none reads the
     * data afterwards, and no new one is started.
     */
    void stopGenerators();

public Q_SLOTS:
    void selectModelItem(const Massif::ModelItem &item) override;
    void showDotGraph();

protected:
    void showEvent(QShowEvent *event) override;

private Q_SLOTS:
    void slotGraphLoaded();
    void slotNodeClicked(const QString &nodeId);
    void slotNodeContextMenu(const QString &nodeId, const QPoint &globalPos);
    void zoomIn();
    void zoomOut();
    void focusExpensiveGraphNode();

private:
    void setupActions();
    void requestGraph(const Massif::ModelItem &item);
    void releaseGenerator();

    // Owned by the document widget, which may destroy it before the tab.
    QPointer<KParts::ReadOnlyPart> part;
    KGraphViewer::KGraphViewerInterface *graphViewer;
    Massif::DotGraphGenerator *generator = nullptr;
    Massif::ModelItem shownItem;
    Massif::ModelItem pendingItem;
    QAction *zoomInAction = nullptr;
    QAction *zoomOutAction = nullptr;
    QAction *focusExpensiveAction = nullptr;
    // Numbers the generators, so that a finished() still queued from a
    // replaced generator does not show the current one's unfinished file.
    quint64 generatorSerial = 0;
    bool stopped = false;
    // Cancelled generators that delete themselves once their run ends.
    QList<QPointer<Massif::DotGraphGenerator>> releasedGenerators;
    // What a finished generator wrote, copied when its file is handed to the
    // part: the graph on its way, then the graph shown. A newer generator may
    // be writing meanwhile, and the part shows the older graph until the
    // newer one is laid out.
    struct Graph
    {
        QUrl url;
        QString mostExpensiveNodeId;
        QHash<QString, Massif::ModelItem> items;
    };
    Graph openedGraph;
    Graph shownGraph;
    // While the tab's own selection goes round the program and back.
    bool selectingFromGraph = false;
};

#endif
