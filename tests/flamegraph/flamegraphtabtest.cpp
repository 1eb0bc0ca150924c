/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "flamegraphtab.h"
#include "datatreemodel.h"
#include "filedata.h"
#include "flamegraphview.h"
#include "parser.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <KActionCollection>
#include <KConfigGroup>
#include <KLocalizedString>
#include <KSharedConfig>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QWheelEvent>

#include <functional>
#include <memory>

using Massif::ModelItem;

namespace {

std::unique_ptr<Massif::FileData> parseFixture(const QString &name)
{
    QFile file(QStringLiteral(QUILLMAP_FIXTURES_DIR "/") + name);
    if (!file.open(QIODevice::ReadOnly)) {
        return nullptr;
    }
    Massif::Parser parser;
    return std::unique_ptr<Massif::FileData>(parser.parse(&file));
}

/// Runs @p handler on the next modal dialog or popup, from inside its event loop.
void handleNextModal(const std::function<void(QWidget *)> &handler)
{
    auto *timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, handler] {
        QWidget *widget = QApplication::activeModalWidget();
        if (!widget) {
            widget = QApplication::activePopupWidget();
        }
        if (widget && widget->isVisible()) {
            timer->stop();
            timer->deleteLater();
            handler(widget);
        }
    });
    timer->start(10);
}

QString plainText(const QString &html)
{
    QTextDocument document;
    document.setHtml(html);
    return document.toPlainText();
}

struct ShownTab
{
    explicit ShownTab(Massif::FileData *data) : tab(new FlameGraphTab(data, &guiParent, nullptr)), view(tab->view())
    {
        tab->resize(900, 500);
        tab->show();
        if (!QTest::qWaitForWindowExposed(tab.get())) {
            qWarning() << "the tab was not exposed";
        }
    }

    QPoint centerOf(int frame) const
    {
        return view->frameRect(frame).center();
    }

    KXMLGUIClient guiParent;
    std::unique_ptr<FlameGraphTab> tab;
    FlameGraphView *view;
};

const Massif::TreeLeafItem *findNode(const Massif::TreeLeafItem *node, const QByteArray &function)
{
    if (!node) {
        return nullptr;
    }
    if (node->label().contains(QByteArray(" " + function + " ("))) {
        return node;
    }
    const auto children = node->children();
    for (const Massif::TreeLeafItem *child : children) {
        if (const Massif::TreeLeafItem *found = findNode(child, function)) {
            return found;
        }
    }
    return nullptr;
}

} // namespace

class FlameGraphTabTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        KLocalizedString::setApplicationDomain(QByteArrayLiteral("quillmap"));
        QCoreApplication::setApplicationName(QStringLiteral("quillmap"));
        KSharedConfig::openConfig()->group(QStringLiteral("Settings")).deleteGroup();
    }

    void opensOnPeakAndFollowsSelection_data()
    {
        QTest::addColumn<int>("snapshotNumber");
        QTest::addColumn<QByteArray>("function");
        QTest::newRow("snapshot alone") << 20 << QByteArray();
        QTest::newRow("node of the peak") << 41 << QByteArrayLiteral("xmalloc");
        QTest::newRow("node of another snapshot") << 51 << QByteArrayLiteral("xmalloc");
    }

    void opensOnPeakAndFollowsSelection()
    {
        QFETCH(int, snapshotNumber);
        QFETCH(QByteArray, function);
        auto data = parseFixture(QStringLiteral("custom-alloc.massif"));
        QVERIFY(data);
        ShownTab shown(data.get());
        QCOMPARE(shown.view->layout().snapshot(), data->peak());
        QCOMPARE(shown.tab->findChild<QLabel *>()->text(), QStringLiteral("Snapshot #41: 79.3 KiB (peak)"));

        const Massif::SnapshotItem *snapshot = data->snapshots().at(snapshotNumber);
        const Massif::TreeLeafItem *node = function.isEmpty() ? nullptr : findNode(snapshot->heapTree(), function);
        QVERIFY(function.isEmpty() || node);
        // The data tree sends nodes without their snapshot.
        QSignalSpy selected(shown.tab.get(), &DocumentTabInterface::modelItemSelected);
        shown.tab->selectModelItem(ModelItem(node, node ? nullptr : snapshot));
        QCOMPARE(selected.count(), 0);
        QCOMPARE(shown.view->layout().snapshot(), snapshot);
        const int frame = shown.view->selectedFrame();
        QVERIFY(frame >= 0);
        QCOMPARE(frame, node ? shown.view->layout().frameOfNode(node) : 0);
        QVERIFY(!shown.view->frameRect(frame).isEmpty());
    }

    void hiddenTabLaysOutWhenShown()
    {
        auto data = parseFixture(QStringLiteral("custom-alloc.massif"));
        KXMLGUIClient guiParent;
        FlameGraphTab tab(data.get(), &guiParent, nullptr);
        tab.selectModelItem(ModelItem(nullptr, data->snapshots().at(30)));
        QCOMPARE(tab.view()->layout().frameCount(), 0);
        tab.show();
        QCOMPARE(tab.view()->layout().snapshot(), data->snapshots().at(30));
    }

    // Wired like the main window: what the tab selects comes back to it and
    // selects the row of a data tree; the tree's choice goes to the tab.
    void selectionBothWaysWithoutEcho_data()
    {
        QTest::addColumn<QByteArray>("function");
        QTest::newRow("site") << QByteArrayLiteral("my_pool_alloc");
        QTest::newRow("deep caller") << QByteArrayLiteral("cache_pages");
    }

    void selectionBothWaysWithoutEcho()
    {
        QFETCH(QByteArray, function);
        auto data = parseFixture(QStringLiteral("custom-alloc.massif"));
        ShownTab shown(data.get());
        Massif::DataTreeModel tree;
        tree.setFileData(data.get());

        int echoes = 0;
        QModelIndex treeRow;
        connect(shown.tab.get(), &DocumentTabInterface::modelItemSelected, this, [&](const ModelItem &item) {
            ++echoes;
            treeRow = tree.modelItemIndex(item);
            shown.tab->selectModelItem(item);
        });

        const Massif::TreeLeafItem *node = findNode(data->peak()->heapTree(), function);
        const int frame = shown.view->layout().frameOfNode(node);
        QVERIFY(frame > 0);
        QTest::mouseClick(shown.view->viewport(), Qt::LeftButton, {}, shown.centerOf(frame));
        QCOMPARE(echoes, 1);
        QVERIFY(treeRow.isValid());
        QCOMPARE(treeRow.data(Massif::DataTreeModel::NodeRole).value<const Massif::TreeLeafItem *>(), node);
        QCOMPARE(shown.view->selectedFrame(), frame);

        // From the tree: highlighted, nothing sent back.
        const Massif::TreeLeafItem *other = findNode(data->peak()->heapTree(), "big_direct");
        shown.tab->selectModelItem(tree.modelItemAt(tree.modelItemIndex(ModelItem(other, nullptr))));
        QCOMPARE(echoes, 1);
        QCOMPARE(shown.view->selectedFrame(), shown.view->layout().frameOfNode(other));

        // The root frame selects the snapshot.
        QTest::mouseClick(shown.view->viewport(), Qt::LeftButton, {}, shown.centerOf(0));
        QCOMPARE(echoes, 2);
        QCOMPARE(treeRow, tree.snapshotIndex(data->peak()));
    }

    void toolTipExtendsTheTreeTooltip()
    {
        auto data = parseFixture(QStringLiteral("custom-alloc.massif"));
        ShownTab shown(data.get());
        Massif::DataTreeModel tree;
        tree.setFileData(data.get());
        const Massif::TreeLeafItem *node = findNode(data->peak()->heapTree(), "read_names");
        const int frame = shown.view->layout().frameOfNode(node);
        const QString treeText = plainText(tree.modelItemIndex(ModelItem(node, nullptr)).data(Qt::ToolTipRole).toString());
        const QString text = plainText(shown.view->layout().toolTip(frame));
        QVERIFY2(text.startsWith(treeText.trimmed()), qPrintable(text));
        // 9000 of 81184, and of xmalloc's 12144.
        QVERIFY2(text.contains(QStringLiteral("share of snapshot:\n11.08%")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("share of parent:\n74.11%")), qPrintable(text));
    }

    void zoomAndBack()
    {
        auto data = parseFixture(QStringLiteral("custom-alloc.massif"));
        ShownTab shown(data.get());
        QAction *reset = shown.tab->actionCollection()->action(QStringLiteral("flamegraph_reset_zoom"));
        QVERIFY(reset);
        QVERIFY(!reset->shortcut().isEmpty());
        QVERIFY(!reset->isEnabled());

        const auto &layout = shown.view->layout();
        const int site = layout.frameOfNode(findNode(data->peak()->heapTree(), "my_pool_alloc"));
        const int caller = layout.frameOfNode(findNode(data->peak()->heapTree(), "my_pool_alloc_aligned"));
        QTest::mouseDClick(shown.view->viewport(), Qt::LeftButton, {}, shown.centerOf(site));
        QCOMPARE(shown.view->zoomFrame(), site);
        QVERIFY(reset->isEnabled());
        QCOMPARE(shown.view->frameRect(site).width(), shown.view->viewport()->width());
        QTest::mouseDClick(shown.view->viewport(), Qt::LeftButton, {}, shown.centerOf(caller));
        QCOMPARE(shown.view->zoomFrame(), caller);
        // Siblings of the zoomed frame are gone; its ancestors span the width.
        QVERIFY(shown.view->frameRect(layout.frameOfNode(findNode(data->peak()->heapTree(), "build_index"))).isEmpty());
        QCOMPARE(shown.view->frameAt(shown.centerOf(0) + QPoint(300, 0)), 0);

        shown.view->setFocus();
        QTest::keyClick(shown.view, Qt::Key_Backspace);
        QCOMPARE(shown.view->zoomFrame(), site);
        QTest::mouseDClick(shown.view->viewport(), Qt::LeftButton, {}, shown.centerOf(caller));
        reset->trigger();
        QCOMPARE(shown.view->zoomFrame(), 0);
        QVERIFY(!reset->isEnabled());

        // A selection outside the zoom zooms out to show it.
        shown.view->zoomTo(caller);
        shown.tab->selectModelItem(ModelItem(findNode(data->peak()->heapTree(), "big_direct"), nullptr));
        QCOMPARE(shown.view->zoomFrame(), 0);
    }

    void wheelZoomsWithControl()
    {
        auto data = parseFixture(QStringLiteral("custom-alloc.massif"));
        ShownTab shown(data.get());
        const auto &layout = shown.view->layout();
        const int site = layout.frameOfNode(findNode(data->peak()->heapTree(), "my_pool_alloc"));
        const int deep = layout.frameOfNode(findNode(data->peak()->heapTree(), "cache_pages"));
        const QPoint pos = shown.centerOf(deep);
        auto wheel = [&](int delta, Qt::KeyboardModifiers modifiers) {
            QWheelEvent event(pos, shown.view->viewport()->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
            QApplication::sendEvent(shown.view->viewport(), &event);
        };
        wheel(120, Qt::NoModifier);
        QCOMPARE(shown.view->zoomFrame(), 0);
        // One level at a time towards the frame under the pointer.
        wheel(120, Qt::ControlModifier);
        QCOMPARE(shown.view->zoomFrame(), site);
        wheel(120, Qt::ControlModifier);
        QCOMPARE(layout.frame(shown.view->zoomFrame()).parent, site);
        wheel(-120, Qt::ControlModifier);
        QCOMPARE(shown.view->zoomFrame(), site);
        wheel(-120, Qt::ControlModifier);
        QCOMPARE(shown.view->zoomFrame(), 0);
    }

    void textFollowsShortenTemplates()
    {
        auto data = parseFixture(QStringLiteral("templates.massif"));
        ShownTab shown(data.get());
        const auto &layout = shown.view->layout();
        int templated = -1;
        for (int i = 1; i < layout.frameCount() && templated < 0; ++i) {
            if (layout.function(i).contains("Grid<")) {
                templated = i;
            }
        }
        QVERIFY(templated > 0);
        QVERIFY(shown.view->graphPainter().frameText(templated).contains(QLatin1String("Grid<std::pair<int, long>, 16>::fill<int>")));
        KConfigGroup group = KSharedConfig::openConfig()->group(QStringLiteral("Settings"));
        group.writeEntry("shortenTemplates", true);
        shown.tab->settingsChanged();
        const QString text = shown.view->graphPainter().frameText(templated);
        group.deleteEntry("shortenTemplates");
        QVERIFY2(text.contains(QLatin1String("Grid<>::fill<>")), qPrintable(text));
    }

    void keyboardNavigation_data()
    {
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<QString>("function");
        QTest::newRow("up onto the largest site") << QList<int> {Qt::Key_Up, Qt::Key_Up} << QStringLiteral("my_pool_alloc");
        QTest::newRow("right to the next site") << QList<int> {Qt::Key_Up, Qt::Key_Up, Qt::Key_Right} << QStringLiteral("big_direct");
        QTest::newRow("up and down again") << QList<int> {Qt::Key_Up, Qt::Key_Up, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down} << QStringLiteral("big_direct");
    }

    void keyboardNavigation()
    {
        QFETCH(QList<int>, keys);
        QFETCH(QString, function);
        auto data = parseFixture(QStringLiteral("custom-alloc.massif"));
        ShownTab shown(data.get());
        QSignalSpy selected(shown.tab.get(), &DocumentTabInterface::modelItemSelected);
        shown.view->setSelectedFrame(-1);
        shown.view->setFocus();
        for (int key : std::as_const(keys)) {
            QTest::keyClick(shown.view, Qt::Key(key));
        }
        QCOMPARE(selected.count(), keys.size());
        QCOMPARE(QString::fromUtf8(shown.view->layout().function(shown.view->selectedFrame())), function);
        QCOMPARE(selected.last().at(0).value<ModelItem>().first, shown.view->layout().frame(shown.view->selectedFrame()).node);
    }

    void invertedAndSearch()
    {
        auto data = parseFixture(QStringLiteral("custom-alloc.massif"));
        ShownTab shown(data.get());
        auto *search = shown.tab->findChild<QLineEdit *>(QStringLiteral("flameGraphSearch"));
        QVERIFY(search);
        search->setText(QStringLiteral("load_config"));
        // 12016 + 3000 of 81184.
        const auto labels = shown.tab->findChildren<QLabel *>();
        QVERIFY(std::any_of(labels.begin(), labels.end(), [](const QLabel *label) {
            return label->text() == QLatin1String("18.5% of the snapshot matched");
        }));
        QAction *inverted = shown.tab->actionCollection()->action(QStringLiteral("flamegraph_inverted"));
        inverted->trigger();
        QVERIFY(shown.view->layout().isInverted());
        QCOMPARE(shown.view->layout().matchedCost(), quint64(15016));
        // The outermost caller at the base.
        QCOMPARE(shown.view->layout().function(shown.view->layout().children(0).first()), QByteArray("main"));
        inverted->trigger();
        QVERIFY(!shown.view->layout().isInverted());
    }

    void contextMenuCarriesTheNode()
    {
        auto data = parseFixture(QStringLiteral("custom-alloc.massif"));
        ShownTab shown(data.get());
        const Massif::TreeLeafItem *node = findNode(data->peak()->heapTree(), "xmalloc");
        const int frame = shown.view->layout().frameOfNode(node);
        ModelItem requested(nullptr, nullptr);
        connect(shown.tab.get(), &DocumentTabInterface::contextMenuRequested, this, [&requested](const ModelItem &item, QMenu *menu) {
            requested = item;
            menu->addAction(QStringLiteral("added"));
        });
        QStringList entries;
        handleNextModal([&entries](QWidget *widget) {
            for (const QAction *action : widget->actions()) {
                entries << action->text();
            }
            widget->close();
        });
        const QPoint pos = shown.centerOf(frame);
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, shown.view->viewport()->mapToGlobal(pos));
        QApplication::sendEvent(shown.view->viewport(), &event);
        QCOMPARE(requested.first, node);
        QVERIFY(entries.contains(QStringLiteral("added")));
        QVERIFY(entries.contains(QStringLiteral("Zoom Into")));
    }

    void save_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("savedName");
        QTest::addColumn<QByteArray>("format");
        QTest::newRow("svg") << QStringLiteral("graph.svg") << QStringLiteral("graph.svg") << QByteArrayLiteral("svg");
        QTest::newRow("png") << QStringLiteral("graph.png") << QStringLiteral("graph.png") << QByteArrayLiteral("png");
        QTest::newRow("no suffix: the chosen type") << QStringLiteral("graph") << QStringLiteral("graph.svg") << QByteArrayLiteral("svg");
    }

    void save()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, savedName);
        QFETCH(QByteArray, format);
        QTemporaryDir dir;
        auto data = parseFixture(QStringLiteral("templates.massif"));
        ShownTab shown(data.get());
        saveThroughDialog(shown.tab.get(), dir.filePath(fileName));
        const QString path = dir.filePath(savedName);
        QVERIFY(QFile::exists(path));
        if (format == "svg") {
            QSvgRenderer renderer(path);
            QVERIFY(renderer.isValid());
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray svg = file.readAll();
            // Template arguments are escaped, not markup.
            QVERIFY(svg.contains("&lt;"));
            QVERIFY(svg.contains("<title>"));
        } else {
            QImageReader reader(path);
            QCOMPARE(reader.format(), format);
            const QImage image = reader.read();
            QCOMPARE(image.width(), shown.view->viewport()->width());
            QCOMPARE(image.height(), shown.view->graphPainter().graphHeight());
        }
    }

    void saveFailureShowsError_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("svg in missing directory") << QStringLiteral("/nonexistent-quillmap-dir/graph.svg");
        QTest::newRow("png in missing directory") << QStringLiteral("/nonexistent-quillmap-dir/graph.png");
        QTest::newRow("unknown image format") << QStringLiteral("%1/graph.nosuchformat");
    }

    void saveFailureShowsError()
    {
        QFETCH(QString, path);
        QTemporaryDir dir;
        if (path.contains(QLatin1String("%1"))) {
            path = path.arg(dir.path());
        }
        auto data = parseFixture(QStringLiteral("simple.massif"));
        ShownTab shown(data.get());
        QString message;
        handleNextModal([&message](QWidget *box) {
            const auto labels = box->findChildren<QLabel *>();
            for (const QLabel *label : labels) {
                message += label->text();
            }
            box->close();
        });
        QVERIFY(!shown.tab->saveImage(path));
        QCOMPARE(message, QStringLiteral("Failed to save the image to %1.").arg(path));
        QVERIFY(!QFile::exists(path));
    }

private:
    static void saveThroughDialog(FlameGraphTab *tab, const QString &path)
    {
        QString title;
        handleNextModal([&title, path](QWidget *widget) {
            auto *dialog = qobject_cast<QFileDialog *>(widget);
            if (!dialog) {
                widget->close();
                return;
            }
            title = dialog->windowTitle();
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(path);
            QMetaObject::invokeMethod(dialog, "accept");
        });
        tab->actionCollection()->action(QStringLiteral("file_save_as"))->trigger();
        QCOMPARE(title, QStringLiteral("Save Flame Graph"));
    }
};

QTEST_MAIN(FlameGraphTabTest)

#include "flamegraphtabtest.moc"
