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

} // namespace

class CallGraphTabTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Massif::FileData> data;
    std::unique_ptr<KPluginFactory> factory;
    // The document widget's client in the program.
    KXMLGUIClient guiParent;

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
