/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "dotgraphgenerator.h"
#include "filedata.h"
#include "graphviewerplugin.h"
#include "kgraphviewerinterface.h"
#include "parser.h"
#include "snapshotitem.h"

#include <KLocalizedString>
#include <KParts/ReadOnlyPart>
#include <KPluginFactory>
#include <KPluginMetaData>

#include <QApplication>
#include <QElapsedTimer>
#include <QGraphicsItem>
#include <QGraphicsView>
#include <QLabel>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <cerrno>
#include <csignal>
#include <memory>

using KGraphViewer::KGraphViewerInterface;

namespace {

QStringList warnings;

void recordWarnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtWarningMsg) {
        warnings << message;
    }
}

// The node ids of a dot file, read with a pattern of our own.
QSet<QString> dotNodeIds(const QString &fileName)
{
    QFile file(fileName);
    file.open(QIODevice::ReadOnly);
    static const QRegularExpression nodeLine(QStringLiteral("^\"([^\"]+)\" \\[shape="), QRegularExpression::MultilineOption);
    QSet<QString> ids;
    auto it = nodeLine.globalMatch(QString::fromUtf8(file.readAll()));
    while (it.hasNext()) {
        ids.insert(it.next().captured(1));
    }
    return ids;
}

QHash<QString, QGraphicsItem *> sceneNodes(QGraphicsView *view)
{
    QHash<QString, QGraphicsItem *> nodes;
    const QList<QGraphicsItem *> items = view->scene()->items();
    for (QGraphicsItem *item : items) {
        if (item->data(1).toString() == QLatin1String("node")) {
            nodes.insert(item->data(0).toString(), item);
        }
    }
    return nodes;
}

} // namespace

class GraphViewerPartTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Massif::FileData> data;
    std::unique_ptr<Massif::DotGraphGenerator> peakGraph;
    std::unique_ptr<Massif::DotGraphGenerator> smallGraph;
    QTemporaryDir dir;
    std::unique_ptr<QWidget> window;
    KParts::ReadOnlyPart *part = nullptr;
    KGraphViewerInterface *viewer = nullptr;
    QGraphicsView *view = nullptr;

    QString writeFile(const QString &name, const QByteArray &contents)
    {
        QFile file(dir.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(contents);
        return file.fileName();
    }

    // A graph that Graphviz takes many seconds over.
    QString largeGraph(int nodes)
    {
        QRandomGenerator random(7);
        QByteArray dot("digraph large {\n");
        for (int i = 1; i < nodes; ++i) {
            dot += '"' + QByteArray::number(i) + "\" [shape=box,label=\"function number " + QByteArray::number(i) + "\"];\n";
            for (int edge = 0; edge < 2; ++edge) {
                dot += '"' + QByteArray::number(i) + "\" -> \"" + QByteArray::number(random.bounded(i)) + "\";\n";
            }
        }
        return writeFile(QStringLiteral("large.dot"), dot + "}\n");
    }

    bool load(const QString &fileName)
    {
        QSignalSpy loaded(part, SIGNAL(graphLoaded()));
        part->openUrl(QUrl::fromLocalFile(fileName));
        return loaded.wait(30000) && loaded.count() == 1;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        const QString warmUp = i18n("x");
        Q_UNUSED(warmUp)
        Massif::addGraphViewerPluginPaths();

        QFile file(QStringLiteral(QUILLMAP_FIXTURES_DIR "/many.massif"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        Massif::Parser parser;
        data.reset(parser.parse(&file));
        QVERIFY(data && data->peak());
        peakGraph = std::make_unique<Massif::DotGraphGenerator>(data->peak(), data->timeUnit());
        peakGraph->start();
        const QList<Massif::SnapshotItem *> snapshots = data->snapshots();
        smallGraph = std::make_unique<Massif::DotGraphGenerator>(snapshots.at(1), data->timeUnit());
        smallGraph->start();
        QVERIFY(peakGraph->wait() && smallGraph->wait());
    }

    void loadsByName()
    {
        const KPluginMetaData metaData(QStringLiteral("kf6/parts/kgraphviewerpart"));
        QVERIFY(metaData.isValid());
        // The program's own build, not one installed elsewhere.
        QVERIFY2(metaData.fileName().contains(QLatin1String("/plugins/kf6/parts/kgraphviewerpart")), qPrintable(metaData.fileName()));
        const auto factory = KPluginFactory::loadFactory(metaData);
        QVERIFY2(factory.plugin, qPrintable(factory.errorText));
        window = std::make_unique<QWidget>();
        part = factory.plugin->create<KParts::ReadOnlyPart>(window.get(), window.get());
        QVERIFY(part);
        viewer = qobject_cast<KGraphViewerInterface *>(part);
        QVERIFY(viewer);
        view = qobject_cast<QGraphicsView *>(part->widget());
        QVERIFY(view);
        view->resize(500, 400);
        window->resize(500, 400);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    void showsEveryNode()
    {
        QVERIFY(part);
        QVERIFY(load(peakGraph->outputFileName()));
        const QSet<QString> expected = dotNodeIds(peakGraph->outputFileName());
        QVERIFY(expected.size() > 5);
        const QHash<QString, QGraphicsItem *> nodes = sceneNodes(view);
        QCOMPARE(nodes.size(), expected.size());
        QCOMPARE(QSet<QString>(nodes.keyBegin(), nodes.keyEnd()), expected);
        // The snapshot box is on top: rankdir BT puts the root above its callees.
        const QGraphicsItem *snapshotBox = nodes.value(QString::number(reinterpret_cast<qintptr>(data->peak())));
        QVERIFY(snapshotBox);
        for (const QGraphicsItem *node : nodes) {
            QVERIFY(node->sceneBoundingRect().center().y() >= snapshotBox->sceneBoundingRect().center().y());
        }
    }

    void zoom()
    {
        QVERIFY(part);
        viewer->setZoomFactor(0.75);
        QCOMPARE(view->transform().m11(), 0.75);
        viewer->zoomIn();
        QVERIFY(view->transform().m11() > 0.75);
        viewer->zoomOut();
        QVERIFY(qAbs(view->transform().m11() - 0.75) < 1e-9);
        viewer->zoomOut();
        QVERIFY(view->transform().m11() < 0.75);

        // A notch of the mouse wheel zooms in, the other way out.
        const double before = view->transform().m11();
        const QPointF position = view->viewport()->rect().center();
        QWheelEvent up(position, view->viewport()->mapToGlobal(position), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view->viewport(), &up);
        QVERIFY(view->transform().m11() > before);
        QWheelEvent down(position, view->viewport()->mapToGlobal(position), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view->viewport(), &down);
        QVERIFY(qAbs(view->transform().m11() - before) < 1e-9);
    }

    void centerOnNode()
    {
        QVERIFY(part);
        viewer->setZoomFactor(3);
        const QHash<QString, QGraphicsItem *> nodes = sceneNodes(view);
        // The node nearest the middle of the scene can always be centred.
        const QPointF middle = view->sceneRect().center();
        QString nearest;
        for (auto it = nodes.cbegin(); it != nodes.cend(); ++it) {
            if (nearest.isEmpty() ||
                QLineF(it.value()->sceneBoundingRect().center(), middle).length() <
                    QLineF(nodes.value(nearest)->sceneBoundingRect().center(), middle).length()) {
                nearest = it.key();
            }
        }
        view->horizontalScrollBar()->setValue(0);
        view->verticalScrollBar()->setValue(0);
        viewer->centerOnNode(nearest);
        const QPoint shown = view->mapFromScene(nodes.value(nearest)->sceneBoundingRect().center());
        const QPoint centre = view->viewport()->rect().center();
        QVERIFY2((shown - centre).manhattanLength() <= 3, qPrintable(QStringLiteral("%1,%2").arg(shown.x()).arg(shown.y())));

        const int before = view->verticalScrollBar()->value();
        viewer->centerOnNode(QStringLiteral("no such node"));
        QCOMPARE(view->verticalScrollBar()->value(), before);
    }

    void panner()
    {
        QVERIFY(part);
        QWidget *panner = view->findChild<QWidget *>(QStringLiteral("graphPanner"));
        QVERIFY(panner);
        const QRect area = view->viewport()->geometry();
        viewer->setPannerEnabled(true);
        viewer->setPannerPosition(KGraphViewerInterface::BottomRight);
        QVERIFY(panner->isVisible());
        QVERIFY(panner->geometry().right() > area.center().x() && panner->geometry().bottom() > area.center().y());
        viewer->setPannerPosition(KGraphViewerInterface::TopLeft);
        QVERIFY(panner->geometry().left() < area.center().x() && panner->geometry().top() < area.center().y());
        // A click in the overview's middle shows the middle of the graph.
        QTest::mouseClick(panner, Qt::LeftButton, {}, panner->rect().center());
        const QPointF shown = view->mapToScene(view->viewport()->rect().center());
        QVERIFY(QLineF(shown, view->sceneRect().center()).length() < view->sceneRect().width() / 10);
        viewer->setPannerEnabled(false);
        QVERIFY(!panner->isVisible());
        viewer->setPannerEnabled(true);
        viewer->setPannerPosition(KGraphViewerInterface::BottomRight);
    }

    void malformedFiles_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::newRow("garbage") << QByteArray("this is not a graph \x01\xff {{{");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("truncated") << QByteArray("digraph callgraph {\nrankdir = BT;\n\"1\" -> ");
        QTest::newRow("unterminated string") << QByteArray("digraph callgraph {\n\"1\" [label=\"abc];\n}\n");
        QTest::newRow("missing") << QByteArray("<missing>");
    }

    // The view keeps what it showed, a warning is written, and no graphLoaded().
    void malformedFiles()
    {
        QFETCH(QByteArray, contents);
        QVERIFY(part);
        QVERIFY(load(smallGraph->outputFileName()));
        const QSet<QString> before = dotNodeIds(smallGraph->outputFileName());
        const QString fileName = contents == "<missing>" ? dir.filePath(QStringLiteral("missing.dot")) : writeFile(QStringLiteral("bad.dot"), contents);

        warnings.clear();
        const QtMessageHandler previous = qInstallMessageHandler(recordWarnings);
        QSignalSpy loaded(part, SIGNAL(graphLoaded()));
        part->openUrl(QUrl::fromLocalFile(fileName));
        QTRY_VERIFY_WITH_TIMEOUT(!warnings.isEmpty(), 10000);
        qInstallMessageHandler(previous);
        QCOMPARE(loaded.count(), 0);
        const QHash<QString, QGraphicsItem *> nodes = sceneNodes(view);
        QCOMPARE(QSet<QString>(nodes.keyBegin(), nodes.keyEnd()), before);

        // Graphviz reads the next file normally.
        QVERIFY(load(peakGraph->outputFileName()));
        QCOMPARE(sceneNodes(view).size(), dotNodeIds(peakGraph->outputFileName()).size());
    }

    // Only the newest of several quick requests is shown.
    void newerFileSupersedes()
    {
        QVERIFY(part);
        QVERIFY(load(smallGraph->outputFileName()));
        QSignalSpy loaded(part, SIGNAL(graphLoaded()));
        part->openUrl(QUrl::fromLocalFile(peakGraph->outputFileName()));
        part->openUrl(QUrl::fromLocalFile(smallGraph->outputFileName()));
        QVERIFY(loaded.wait(30000));
        QTest::qWait(300);
        QCOMPARE(loaded.count(), 1);
        const QHash<QString, QGraphicsItem *> nodes = sceneNodes(view);
        QCOMPARE(QSet<QString>(nodes.keyBegin(), nodes.keyEnd()), dotNodeIds(smallGraph->outputFileName()));
    }

    void stopsLayout_data()
    {
        QTest::addColumn<QString>("stop");
        QTest::newRow("newer file") << QStringLiteral("newer");
        QTest::newRow("closed") << QStringLiteral("close");
        QTest::newRow("destroyed") << QStringLiteral("destroy");
    }

    // A layout runs in a dot process that a newer file, closing or
    // destroying the part kills at once; meanwhile the view says what it does.
    void stopsLayout()
    {
        QFETCH(QString, stop);
        const auto factory = KPluginFactory::loadFactory(KPluginMetaData(QStringLiteral("kf6/parts/kgraphviewerpart")));
        QVERIFY(factory.plugin);
        QWidget window;
        QPointer<KParts::ReadOnlyPart> own = factory.plugin->create<KParts::ReadOnlyPart>(&window, &window);
        auto *ownView = qobject_cast<QGraphicsView *>(own->widget());
        window.resize(500, 400);
        ownView->resize(500, 400);
        window.show();

        own->openUrl(QUrl::fromLocalFile(largeGraph(2500)));
        auto *status = ownView->findChild<QLabel *>(QStringLiteral("graphStatus"));
        QVERIFY(status);
        QTRY_VERIFY_WITH_TIMEOUT(status->isVisible(), 10000);
        // Whatever digit grouping the locale uses.
        QVERIFY2(QRegularExpression(QStringLiteral("^Laying out 2\\D?500 nodes…$")).match(status->text()).hasMatch(), qPrintable(status->text()));
        auto *process = own->findChild<QProcess *>();
        QVERIFY(process);
        QCOMPARE(process->state(), QProcess::Running);
        const qint64 pid = process->processId();
        QVERIFY(pid > 0);

        QSignalSpy loaded(own.data(), SIGNAL(graphLoaded()));
        QElapsedTimer timer;
        timer.start();
        if (stop == QLatin1String("newer")) {
            own->openUrl(QUrl::fromLocalFile(smallGraph->outputFileName()));
        } else if (stop == QLatin1String("close")) {
            own->closeUrl();
        } else {
            delete own.data();
        }
        const qint64 elapsed = timer.elapsed();
        QVERIFY2(elapsed < 100, qPrintable(QString::number(elapsed)));
        // Ended and reaped.
        QCOMPARE(::kill(pid_t(pid), 0), -1);
        QCOMPARE(errno, ESRCH);

        if (stop == QLatin1String("newer")) {
            QVERIFY(loaded.wait(30000));
            const QHash<QString, QGraphicsItem *> nodes = sceneNodes(ownView);
            QCOMPARE(QSet<QString>(nodes.keyBegin(), nodes.keyEnd()), dotNodeIds(smallGraph->outputFileName()));
            QVERIFY(status->isHidden());
        } else if (own) {
            QVERIFY(status->isHidden());
            QTest::qWait(100);
            QCOMPARE(loaded.count(), 0);
        }
    }

    void nodeClicks_data()
    {
        QTest::addColumn<bool>("onNode");
        QTest::addColumn<QPoint>("moved");
        QTest::addColumn<bool>("reported");
        QTest::newRow("click on a node") << true << QPoint() << true;
        QTest::newRow("drag from a node") << true << QPoint(30, 0) << false;
        QTest::newRow("click beside the graph") << false << QPoint() << false;
    }

    // A click on a node reports its dot id; dragging only pans.
    void nodeClicks()
    {
        QFETCH(bool, onNode);
        QFETCH(QPoint, moved);
        QFETCH(bool, reported);
        QVERIFY(part);
        QVERIFY(load(peakGraph->outputFileName()));
        viewer->setZoomFactor(1);
        viewer->setPannerEnabled(false);
        const QString snapshotId = QString::number(reinterpret_cast<qintptr>(data->peak()));
        const QGraphicsItem *box = sceneNodes(view).value(snapshotId);
        QVERIFY(box);
        viewer->centerOnNode(snapshotId);
        QPoint position = view->mapFromScene(box->sceneBoundingRect().center());
        if (!onNode) {
            // Above the snapshot box, on the top margin of the scene.
            position = view->mapFromScene(QPointF(box->sceneBoundingRect().center().x(), view->sceneRect().top() + 2));
        }
        QSignalSpy clicked(part, SIGNAL(nodeClicked(QString)));
        QTest::mousePress(view->viewport(), Qt::LeftButton, {}, position);
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, position + moved);
        QCOMPARE(clicked.count(), reported ? 1 : 0);
        // The node clicked, and only that one, is framed.
        for (const QGraphicsItem *node : sceneNodes(view)) {
            QCOMPARE(node->data(2).toBool(), reported && node == box);
        }
        if (reported) {
            QCOMPARE(clicked.constFirst().constFirst().toString(), snapshotId);
        }
        viewer->setPannerEnabled(true);
    }

    void ownPluginOnly_data()
    {
        QTest::addColumn<QStringList>("directories");
        QTest::addColumn<QString>("searchPathFirst");
        QTest::addColumn<bool>("factory");
        QTest::addColumn<bool>("part");
        QTest::newRow("own") << Massif::graphViewerPluginDirectories() << QString() << true << true;
        // Found where ours should be, but not ours: its interface is not ours.
        QTest::newRow("foreign in our place") << QStringList {QStringLiteral(QUILLMAP_FOREIGN_PLUGIN_DIR)} << QString() << true << false;
        // Ours missing: the search path is not looked through.
        QTest::newRow("ours missing") << QStringList {dir.path()} << QStringLiteral(QUILLMAP_FOREIGN_PLUGIN_DIR) << false << false;
    }

    // Only our own viewer part is used; without it there is no viewer at all.
    void ownPluginOnly()
    {
        QFETCH(QStringList, directories);
        QFETCH(QString, searchPathFirst);
        QFETCH(bool, factory);
        QFETCH(bool, part);
        const QStringList libraryPaths = QCoreApplication::libraryPaths();
        if (!searchPathFirst.isEmpty()) {
            QCoreApplication::setLibraryPaths(QStringList {searchPathFirst} + libraryPaths);
            // The hazard itself: by name alone, the other package's part is found.
            QCOMPARE(KPluginMetaData(QStringLiteral("kf6/parts/kgraphviewerpart")).fileName(),
                     QStringLiteral(QUILLMAP_FOREIGN_PLUGIN_DIR "/kf6/parts/kgraphviewerpart.so"));
        }
        KPluginFactory *loaded = Massif::loadGraphViewerFactory(directories);
        QCoreApplication::setLibraryPaths(libraryPaths);
        QCOMPARE(loaded != nullptr, factory);
        QWidget parent;
        QPointer<KParts::ReadOnlyPart> created = Massif::createGraphViewerPart(loaded, &parent, &parent);
        QCOMPARE(created != nullptr, part);
        if (created) {
            QVERIFY(qobject_cast<KGraphViewerInterface *>(created.data()));
        }
        if (loaded && !part) {
            // The other package's part does answer to that package's id.
            std::unique_ptr<KParts::ReadOnlyPart> foreign(loaded->create<KParts::ReadOnlyPart>(&parent, nullptr));
            QVERIFY(foreign && foreign->qt_metacast("org.kde.KGraphViewerInterface"));
        }
    }

    void closeUrlEmptiesView()
    {
        QVERIFY(part);
        QVERIFY(part->closeUrl());
        QVERIFY(sceneNodes(view).isEmpty());
        QVERIFY(!part->url().isValid());
    }

    void cleanupTestCase()
    {
        window.reset();
    }
};

QTEST_MAIN(GraphViewerPartTest)

#include "graphviewerparttest.moc"
