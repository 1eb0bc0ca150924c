/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "callgraphtab.h"
#include "dotgraphgenerator.h"
#include "filedata.h"
#include "graphviewerplugin.h"
#include "kgraphviewerinterface.h"
#include "parser.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <KActionCollection>
#include <KLocalizedString>
#include <KParts/ReadOnlyPart>
#include <KPluginFactory>
#include <KPluginMetaData>
#include <KXMLGUIClient>

#include <QAction>
#include <QDomDocument>
#include <QFile>
#include <QGraphicsItem>
#include <QGraphicsView>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QVBoxLayout>

#include <memory>

using Massif::DotGraphGenerator;
using Massif::ModelItem;

namespace {

QSet<QString> sceneNodeIds(KParts::ReadOnlyPart *part)
{
    QSet<QString> ids;
    const auto *view = qobject_cast<QGraphicsView *>(part->widget());
    const QList<QGraphicsItem *> items = view->scene()->items();
    for (const QGraphicsItem *item : items) {
        if (item->data(1).toString() == QLatin1String("node")) {
            ids.insert(item->data(0).toString());
        }
    }
    return ids;
}

QGraphicsItem *sceneNode(KParts::ReadOnlyPart *part, const QString &id)
{
    const auto *view = qobject_cast<QGraphicsView *>(part->widget());
    const QList<QGraphicsItem *> items = view->scene()->items();
    for (QGraphicsItem *item : items) {
        if (item->data(1).toString() == QLatin1String("node") && item->data(0).toString() == id) {
            return item;
        }
    }
    return nullptr;
}

QString idOf(const void *address)
{
    return QString::number(reinterpret_cast<qintptr>(address));
}

// A snapshot with a wide tree of distinct functions: slow enough to build
// that a generator is still running when the test acts on it.
std::unique_ptr<Massif::FileData> largeProfile(int functions)
{
    auto data = std::make_unique<Massif::FileData>();
    auto *snapshot = new Massif::SnapshotItem;
    auto *root = new Massif::TreeLeafItem;
    root->setLabel("(heap allocation functions) malloc/new/new[], --alloc-fns, etc.");
    for (int i = 0; i < functions; ++i) {
        auto *caller = new Massif::TreeLeafItem;
        caller->setLabel("0x" + QByteArray::number(i, 16) + ": function" + QByteArray::number(i) + "() (file.c:1)");
        caller->setCost(16);
        auto *leaf = new Massif::TreeLeafItem;
        leaf->setLabel("0x1: main (main.c:1)");
        leaf->setCost(16);
        caller->addChild(leaf);
        root->addChild(caller);
    }
    root->setCost(16 * quint64(functions));
    snapshot->setMemHeap(root->cost());
    snapshot->setHeapTree(root);
    data->addSnapshot(snapshot);
    data->setPeak(snapshot);
    return data;
}

// Many callers side by side of one function below them, which costs what
// they all cost together: the most expensive node, in the middle of a graph
// far wider than any view.
std::unique_ptr<Massif::FileData> wideProfile(int callers)
{
    auto data = std::make_unique<Massif::FileData>();
    auto *snapshot = new Massif::SnapshotItem;
    auto *root = new Massif::TreeLeafItem;
    root->setLabel("(heap allocation functions) malloc/new/new[], --alloc-fns, etc.");
    for (int i = 0; i < callers; ++i) {
        auto *shared = new Massif::TreeLeafItem;
        shared->setLabel("0x2: shared() (shared.c:1)");
        shared->setCost(16);
        auto *leaf = new Massif::TreeLeafItem;
        leaf->setLabel("0x1: main (main.c:1)");
        leaf->setCost(16);
        shared->addChild(leaf);
        auto *caller = new Massif::TreeLeafItem;
        caller->setLabel("0x" + QByteArray::number(0x1000 + i, 16) + ": caller" + QByteArray::number(i) + "() (file.c:1)");
        caller->setCost(16);
        caller->addChild(shared);
        root->addChild(caller);
    }
    root->setCost(16 * quint64(callers));
    snapshot->setMemHeap(root->cost());
    snapshot->setHeapTree(root);
    data->addSnapshot(snapshot);
    data->setPeak(snapshot);
    return data;
}

} // namespace

class CallGraphTabTest : public QObject
{
    Q_OBJECT

public Q_SLOTS:
    // A selection made just as a graph has been laid out.
    void selectNewer()
    {
        if (newerTab) {
            newerTab->selectModelItem(newerItem);
            newerTab = nullptr;
        }
    }

private:
    std::unique_ptr<Massif::FileData> data;
    std::unique_ptr<KPluginFactory> factory;
    // The document widget's client in the program.
    KXMLGUIClient guiParent;
    CallGraphTab *newerTab = nullptr;
    ModelItem newerItem;

    KParts::ReadOnlyPart *createPart(QWidget *parent)
    {
        return factory->create<KParts::ReadOnlyPart>(parent, parent);
    }

    QList<DotGraphGenerator *> ownGenerators(CallGraphTab *tab)
    {
        return tab->findChildren<DotGraphGenerator *>(Qt::FindDirectChildrenOnly);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        // KXMLGUIClient looks for the tab's GUI file under the component name.
        QCoreApplication::setApplicationName(QStringLiteral("quillmap"));
        const QString warmUp = i18n("x");
        Q_UNUSED(warmUp)
        Massif::addGraphViewerPluginPaths();
        const auto result = KPluginFactory::loadFactory(KPluginMetaData(QStringLiteral("kf6/parts/kgraphviewerpart")));
        QVERIFY2(result.plugin, qPrintable(result.errorText));
        factory.reset(result.plugin);

        QFile file(QStringLiteral(QUILLMAP_FIXTURES_DIR "/simple-detailed.massif"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        Massif::Parser parser;
        data.reset(parser.parse(&file));
        QVERIFY(data && data->peak() && data->snapshots().size() > 5);
    }

    void guiFileAndActions()
    {
        QWidget window;
        CallGraphTab tab(data.get(), createPart(&window), &guiParent, &window);
        QVERIFY(QFile::exists(QStringLiteral(":/kxmlgui5/quillmap/callgraphtabui.rc")));
        QVERIFY(tab.domDocument().toString().contains(QLatin1String("callgraphToolBar")));
        for (const char *name : {"zoomIn", "zoomOut", "focusExpensive"}) {
            QVERIFY2(tab.actionCollection()->action(QLatin1String(name)), name);
        }
        QCOMPARE(tab.actionCollection()->action(QStringLiteral("focusExpensive"))->text(), QStringLiteral("Focus Most Expensive Node"));
    }

    // Shown for the first time: the peak snapshot at zoom 0.75, overview at
    // the bottom right, centred on the most expensive node.
    void showsPeakWhenShown()
    {
        QWidget window;
        window.resize(700, 500);
        KParts::ReadOnlyPart *part = createPart(&window);
        QSignalSpy loaded(part, SIGNAL(graphLoaded()));
        CallGraphTab tab(data.get(), part, &guiParent, nullptr);
        QVERIFY(ownGenerators(&tab).isEmpty());
        tab.resize(700, 500);
        tab.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tab));
        QCOMPARE(ownGenerators(&tab).size(), 1);
        QVERIFY(loaded.wait(30000));
        QVERIFY(sceneNodeIds(part).contains(idOf(data->peak())));

        auto *view = qobject_cast<QGraphicsView *>(part->widget());
        QCOMPARE(view->transform().m11(), 0.75);
        QWidget *panner = view->findChild<QWidget *>(QStringLiteral("graphPanner"));
        QVERIFY(panner && panner->isVisible());
        QVERIFY(panner->geometry().left() > view->width() / 2 && panner->geometry().top() > view->height() / 2);

        const QString expensive = ownGenerators(&tab).constFirst()->mostExpensiveNodeId();
        QVERIFY(sceneNodeIds(part).contains(expensive));
        const int x = view->horizontalScrollBar()->value();
        const int y = view->verticalScrollBar()->value();
        view->horizontalScrollBar()->setValue(0);
        view->verticalScrollBar()->setValue(0);
        tab.actionCollection()->action(QStringLiteral("focusExpensive"))->trigger();
        QCOMPARE(view->horizontalScrollBar()->value(), x);
        QCOMPARE(view->verticalScrollBar()->value(), y);

        // The item already shown: nothing new.
        DotGraphGenerator *current = ownGenerators(&tab).constFirst();
        tab.selectModelItem(ModelItem(nullptr, data->peak()));
        QCOMPARE(ownGenerators(&tab), QList<DotGraphGenerator *> {current});

        // Nothing selected: the generator goes, the graph stays.
        const QUrl shown = part->url();
        tab.selectModelItem(ModelItem(nullptr, nullptr));
        QVERIFY(ownGenerators(&tab).isEmpty());
        QCOMPARE(part->url(), shown);
    }

    void rapidSelection()
    {
        QWidget window;
        KParts::ReadOnlyPart *part = createPart(&window);
        QSignalSpy loaded(part, SIGNAL(graphLoaded()));
        CallGraphTab tab(data.get(), part, &guiParent, nullptr);
        tab.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tab));
        QVERIFY(loaded.wait(30000));
        loaded.clear();

        const QList<Massif::SnapshotItem *> snapshots = data->snapshots();
        QList<QPointer<DotGraphGenerator>> generators;
        const QList<Massif::SnapshotItem *> chosen {snapshots.at(2), snapshots.at(3), snapshots.at(4)};
        for (const Massif::SnapshotItem *snapshot : chosen) {
            tab.selectModelItem(ModelItem(nullptr, snapshot));
            QCOMPARE(ownGenerators(&tab).size(), 1);
            generators << ownGenerators(&tab).constFirst();
        }
        QTRY_VERIFY_WITH_TIMEOUT(sceneNodeIds(part).contains(idOf(chosen.at(2))), 30000);
        QTest::qWait(200);
        QVERIFY(sceneNodeIds(part).contains(idOf(chosen.at(2))));
        QVERIFY(!sceneNodeIds(part).contains(idOf(chosen.at(0))));
        QVERIFY(!sceneNodeIds(part).contains(idOf(chosen.at(1))));
        QCOMPARE(loaded.count(), 1);
        // The replaced generators are gone, with their files.
        QTRY_VERIFY(!generators.at(0) && !generators.at(1));
        QCOMPARE(ownGenerators(&tab), QList<DotGraphGenerator *> {generators.at(2).data()});
    }

    void hiddenTabWaits()
    {
        QWidget window;
        KParts::ReadOnlyPart *part = createPart(&window);
        QSignalSpy loaded(part, SIGNAL(graphLoaded()));
        CallGraphTab tab(data.get(), part, &guiParent, nullptr);
        const Massif::SnapshotItem *chosen = data->snapshots().at(3);
        tab.selectModelItem(ModelItem(nullptr, chosen));
        QVERIFY(ownGenerators(&tab).isEmpty());
        const Massif::TreeLeafItem *node = data->peak()->heapTree()->children().constFirst();
        tab.selectModelItem(ModelItem(node, nullptr));
        tab.selectModelItem(ModelItem(nullptr, chosen));
        QVERIFY(ownGenerators(&tab).isEmpty());
        QTest::qWait(50);
        QCOMPARE(loaded.count(), 0);

        tab.show();
        QCOMPARE(ownGenerators(&tab).size(), 1);
        QVERIFY(loaded.wait(30000));
        QVERIFY(sceneNodeIds(part).contains(idOf(chosen)));
        QVERIFY(!sceneNodeIds(part).contains(idOf(data->peak())));

        // Hidden and shown again without a new selection: nothing new.
        DotGraphGenerator *current = ownGenerators(&tab).constFirst();
        tab.hide();
        tab.show();
        QCOMPARE(ownGenerators(&tab), QList<DotGraphGenerator *> {current});
    }

    // The tab waits for its generators, including released ones, so that
    // the profile data can be destroyed right after it.
    void closingWhileGenerating()
    {
        std::unique_ptr<Massif::FileData> large = largeProfile(200000);
        QWidget window;
        KParts::ReadOnlyPart *part = createPart(&window);
        auto *tab = new CallGraphTab(large.get(), part, &guiParent, nullptr);
        tab->show();
        QCOMPARE(ownGenerators(tab).size(), 1);
        QPointer<DotGraphGenerator> first = ownGenerators(tab).constFirst();
        const QString firstFile = first->outputFileName();
        tab->selectModelItem(ModelItem(large->peak()->heapTree()->children().constFirst(), nullptr));
        QPointer<DotGraphGenerator> second = ownGenerators(tab).constFirst();
        const QString secondFile = second->outputFileName();
        tab->selectModelItem(ModelItem(nullptr, large->peak()));
        QVERIFY(first || second);

        delete tab;
        large.reset();
        QVERIFY(!first && !second);
        QVERIFY2(!QFile::exists(firstFile), qPrintable(firstFile + QLatin1Char(' ') + secondFile));
        QVERIFY(!QFile::exists(secondFile));
        // Events still queued for the generators or the tab find nothing to touch.
        QTest::qWait(100);
    }

    // stopGenerators() lets the data go while the tab lives on.
    void stopGeneratorsBeforeData()
    {
        std::unique_ptr<Massif::FileData> large = largeProfile(200000);
        QWidget window;
        KParts::ReadOnlyPart *part = createPart(&window);
        CallGraphTab tab(large.get(), part, &guiParent, nullptr);
        tab.show();
        QPointer<DotGraphGenerator> first = ownGenerators(&tab).constFirst();
        tab.selectModelItem(ModelItem(large->peak()->heapTree()->children().constFirst(), nullptr));
        tab.stopGenerators();
        QVERIFY(!first || !first->isRunning());
        for (DotGraphGenerator *generator : ownGenerators(&tab)) {
            QVERIFY(!generator->isRunning());
        }
        large.reset();
        // Nothing is generated from the gone data, nor shown from the cut-short files.
        QSignalSpy loaded(part, SIGNAL(graphLoaded()));
        tab.selectModelItem(ModelItem(nullptr, data->peak()));
        tab.hide();
        tab.show();
        QTest::qWait(200);
        QCOMPARE(loaded.count(), 0);
        QVERIFY(!part->url().isValid());
    }

    void clickSelects_data()
    {
        QTest::addColumn<bool>("snapshotBox");
        QTest::newRow("snapshot box") << true;
        QTest::newRow("most expensive node") << false;
    }

    // A click on a node selects what it stands for everywhere; the selection
    // coming back from the program leaves the graph as it is.
    void clickSelects()
    {
        QFETCH(bool, snapshotBox);
        QWidget window;
        KParts::ReadOnlyPart *part = createPart(&window);
        QSignalSpy loaded(part, SIGNAL(graphLoaded()));
        CallGraphTab tab(data.get(), part, &guiParent, nullptr);
        tab.resize(700, 500);
        tab.show();
        QVERIFY(loaded.wait(30000));
        DotGraphGenerator *generator = ownGenerators(&tab).constFirst();
        const QString id = snapshotBox ? idOf(data->peak()) : generator->mostExpensiveNodeId();
        const ModelItem expected = snapshotBox ? ModelItem(nullptr, data->peak()) : generator->nodeItems().value(id);
        QVERIFY(snapshotBox || (expected.first && !expected.second));

        // As the main window does: the selection comes back to every tab.
        QList<ModelItem> selected;
        connect(&tab, &DocumentTabInterface::modelItemSelected, &tab, [&](const ModelItem &item) {
            selected << item;
            tab.selectModelItem(item);
        });
        auto *view = qobject_cast<QGraphicsView *>(part->widget());
        const QGraphicsItem *node = sceneNode(part, id);
        QVERIFY(node);
        view->centerOn(node);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->mapFromScene(node->sceneBoundingRect().center()));
        QCOMPARE(selected, QList<ModelItem> {expected});
        QCOMPARE(ownGenerators(&tab), QList<DotGraphGenerator *> {generator});
        QTest::qWait(100);
        QCOMPARE(loaded.count(), 1);

        // Shown again later, the tab still shows the graph it showed.
        tab.hide();
        tab.show();
        QCOMPARE(ownGenerators(&tab), QList<DotGraphGenerator *> {generator});
    }

    // While the graph of a newer selection is being made, the graph shown is
    // the older one: focusing and clicks go by that graph, never by what the
    // newer generator is still writing.
    void shownGraphWhileGenerating()
    {
        std::unique_ptr<Massif::FileData> large = largeProfile(200000);
        QWidget window;
        KParts::ReadOnlyPart *part = createPart(&window);
        QSignalSpy loaded(part, SIGNAL(graphLoaded()));
        CallGraphTab tab(data.get(), part, &guiParent, nullptr);
        tab.resize(700, 500);
        tab.show();
        QVERIFY(loaded.wait(30000));
        const QString expensive = ownGenerators(&tab).constFirst()->mostExpensiveNodeId();
        const ModelItem expensiveItem = ownGenerators(&tab).constFirst()->nodeItems().value(expensive);
        auto *view = qobject_cast<QGraphicsView *>(part->widget());
        const int x = view->horizontalScrollBar()->value();
        const int y = view->verticalScrollBar()->value();

        tab.selectModelItem(ModelItem(large->peak()->heapTree(), nullptr));
        DotGraphGenerator *newer = ownGenerators(&tab).constFirst();
        view->horizontalScrollBar()->setValue(0);
        view->verticalScrollBar()->setValue(0);
        tab.actionCollection()->action(QStringLiteral("focusExpensive"))->trigger();
        QVERIFY(newer->isRunning());
        QCOMPARE(view->horizontalScrollBar()->value(), x);
        QCOMPARE(view->verticalScrollBar()->value(), y);

        QSignalSpy selected(&tab, &DocumentTabInterface::modelItemSelected);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->mapFromScene(sceneNode(part, expensive)->sceneBoundingRect().center()));
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.constFirst().constFirst().value<ModelItem>(), expensiveItem);
        tab.stopGenerators();
    }

    void wideGraphOpensCentred_data()
    {
        QTest::addColumn<QSize>("sizeAtLayout");
        QTest::addColumn<bool>("pointerOnView");
        QTest::addColumn<bool>("newerSelection");
        QTest::newRow("full size") << QSize(800, 600) << false << false;
        QTest::newRow("window grows after the layout") << QSize(320, 240) << false << false;
        QTest::newRow("pointer on the view") << QSize(800, 600) << true << false;
        // The graph arrives while the one of a newer selection is being made.
        QTest::newRow("newer selection meanwhile") << QSize(800, 600) << false << true;
    }

    // A graph far wider than the view opens on its most expensive node.
    void wideGraphOpensCentred()
    {
        QFETCH(QSize, sizeAtLayout);
        QFETCH(bool, pointerOnView);
        QFETCH(bool, newerSelection);
        std::unique_ptr<Massif::FileData> wide = wideProfile(120);
        std::unique_ptr<Massif::FileData> large = newerSelection ? largeProfile(200000) : nullptr;
        QWidget window;
        KParts::ReadOnlyPart *part = createPart(&window);
        QSignalSpy loaded(part, SIGNAL(graphLoaded()));
        // Connected ahead of the tab: the graph has arrived, the tab has not seen it yet.
        connect(part, SIGNAL(graphLoaded()), this, SLOT(selectNewer()));
        auto *tab = new CallGraphTab(wide.get(), part, &guiParent, &window);
        if (newerSelection) {
            newerTab = tab;
            newerItem = ModelItem(large->peak()->heapTree(), nullptr);
        }
        auto *layout = new QVBoxLayout(&window);
        layout->addWidget(tab);
        window.resize(sizeAtLayout);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *view = qobject_cast<QGraphicsView *>(part->widget());
        if (pointerOnView) {
            QTest::mouseMove(view->viewport(), QPoint(5, 5));
        }
        // Handed to the part once finished.
        QTRY_VERIFY(part->url().isValid());
        const QString expensiveId = ownGenerators(tab).constFirst()->mostExpensiveNodeId();
        QVERIFY(loaded.wait(60000));
        if (newerSelection) {
            QVERIFY(!newerTab);
            QVERIFY(ownGenerators(tab).constFirst()->isRunning());
            // Only the first graph is looked at.
            tab->stopGenerators();
        }
        window.resize(800, 600);
        QVERIFY(view->sceneRect().width() * view->transform().m11() > 4 * view->viewport()->width());
        const QGraphicsItem *expensive = sceneNode(part, expensiveId);
        QVERIFY(expensive);
        // Also after the events that follow the first layout. The graph is
        // lower than the view: only the horizontal position tells.
        QTest::qWait(200);
        QVERIFY(view->sceneRect().height() * view->transform().m11() < view->viewport()->height());
        const int shown = view->mapFromScene(expensive->sceneBoundingRect().center()).x();
        const int centre = view->viewport()->rect().center().x();
        QVERIFY2(qAbs(shown - centre) <= 2, qPrintable(QStringLiteral("%1 not at %2").arg(shown).arg(centre)));
        QVERIFY(view->horizontalScrollBar()->value() > 0);
        tab->stopGenerators();
        delete tab;
    }

    void withoutInterface()
    {
        // A part without the extension interface: the actions do nothing.
        QWidget window;
        CallGraphTab tab(data.get(), nullptr, &guiParent, &window);
        tab.actionCollection()->action(QStringLiteral("zoomIn"))->trigger();
        tab.actionCollection()->action(QStringLiteral("focusExpensive"))->trigger();
    }

    void cleanupTestCase()
    {
        data.reset();
    }
};

QTEST_MAIN(CallGraphTabTest)

#include "callgraphtabtest.moc"
