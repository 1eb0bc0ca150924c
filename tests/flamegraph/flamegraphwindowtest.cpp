/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

// The flame graph and source locations in the real main window: the tab's
// place and menus, the selection going both ways through the data tree, and
// "Open Source Location" from the flame graph's and the tree's menus.

#include "datatreemodel.h"
#include "documentwidget.h"
#include "filedata.h"
#include "filtereddatatreemodel.h"
#include "flamegraphtab.h"
#include "flamegraphview.h"
#include "graphviewerplugin.h"
#include "mainwindow.h"
#include "settings.h"
#include "snapshotitem.h"
#include "sourcesettings.h"
#include "treeleafitem.h"

#include <KAboutData>
#include <KConfigDialog>
#include <KLocalizedString>
#include <KPageWidgetModel>
#include <KSharedConfig>
#include <KToolBar>
#include <KXMLGUIFactory>

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QFile>
#include <QGraphicsItem>
#include <QGraphicsView>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <functional>
#include <memory>

using namespace Massif;

namespace {

const TreeLeafItem *findNode(const TreeLeafItem *node, const QByteArray &function)
{
    if (!node) {
        return nullptr;
    }
    if (node->label().contains(QByteArray(" " + function + " ("))) {
        return node;
    }
    const auto children = node->children();
    for (const TreeLeafItem *child : children) {
        if (const TreeLeafItem *found = findNode(child, function)) {
            return found;
        }
    }
    return nullptr;
}

/// Runs @p handler on the next modal dialog or popup, from inside its event
/// loop, until it returns true.
void handleNextModal(QObject *context, const std::function<bool(QWidget *)> &handler)
{
    auto *timer = new QTimer(context);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, handler] {
        QWidget *widget = QApplication::activePopupWidget();
        if (!widget) {
            widget = QApplication::activeModalWidget();
        }
        if (widget && widget->isVisible() && handler(widget)) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(10);
}

/// Closes the next popup menu after triggering its entry @p text; notes the entries.
void triggerInNextMenu(QObject *context, const QString &text, QStringList *entries)
{
    handleNextModal(context, [text, entries](QWidget *widget) {
        auto *menu = qobject_cast<QMenu *>(widget);
        if (!menu) {
            return false;
        }
        QAction *chosen = nullptr;
        for (QAction *action : menu->actions()) {
            const QString entry = KLocalizedString::removeAcceleratorMarker(action->text());
            *entries << entry;
            if (entry == text) {
                chosen = action;
            }
        }
        menu->close();
        if (chosen) {
            chosen->trigger();
        }
        return true;
    });
}

} // namespace

class FlameGraphWindowTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        KLocalizedString::setApplicationDomain("quillmap");
        KAboutData about(QStringLiteral("quillmap"), QStringLiteral("Quillmap"), QStringLiteral("test"));
        KAboutData::setApplicationData(about);
        addGraphViewerPluginPaths();
    }

    void init()
    {
        KSharedConfig::Ptr config = KSharedConfig::openConfig();
        for (const QString &group : config->groupList()) {
            config->deleteGroup(group);
        }
        config->sync();
        Settings::self()->load();
        SourceSettings::self()->load();
        m_window = std::make_unique<MainWindow>();
        m_window->setAttribute(Qt::WA_DeleteOnClose, false);
        m_window->show();
        m_tree = m_window->findChild<QTreeView *>(QStringLiteral("dataTreeView"));
        QVERIFY(m_tree);
        m_document = nullptr;
        m_tab = nullptr;
        m_window->openFile(QUrl::fromLocalFile(QStringLiteral(QUILLMAP_FIXTURES_DIR "/custom-alloc.massif")));
        m_document = m_window->findChild<DocumentWidget *>();
        QVERIFY(m_document);
        QVERIFY(QTest::qWaitFor(
            [this] {
                return m_document->isParsed();
            },
            20000));
        m_tabs = m_document->findChild<QTabWidget *>();
        m_tab = m_document->findChild<FlameGraphTab *>();
        QVERIFY(m_tabs && m_tab);
    }

    void cleanup()
    {
        if (auto *dialog = KConfigDialog::exists(QStringLiteral("settings"))) {
            delete dialog;
        }
        m_window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }

    void placeAndMenus()
    {
        QStringList titles;
        for (int i = 0; i < m_tabs->count(); ++i) {
            titles << KLocalizedString::removeAcceleratorMarker(m_tabs->tabText(i));
        }
        const qsizetype flame = titles.indexOf(QStringLiteral("Flame Graph"));
        QVERIFY2(flame > 0, qPrintable(titles.join(QLatin1Char(','))));
        QCOMPARE(titles.at(flame - 1), titles.contains(QStringLiteral("Callgraph")) ? QStringLiteral("Callgraph") : QStringLiteral("Memory Chart"));
        QCOMPARE(titles.last(), QStringLiteral("Allocators"));

        // Merged only while current.
        QVERIFY(!m_window->guiFactory()->clients().contains(m_tab));
        m_tabs->setCurrentWidget(m_tab);
        QVERIFY(m_window->guiFactory()->clients().contains(m_tab));
        auto *toolBar = m_window->findChild<KToolBar *>(QStringLiteral("flameGraphToolBar"));
        QVERIFY(toolBar);
        QVERIFY(toolBar->isVisible());
        m_tabs->setCurrentIndex(0);
        QVERIFY(!m_window->guiFactory()->clients().contains(m_tab));
    }

    void selectionBothWaysWithoutEcho()
    {
        m_tabs->setCurrentWidget(m_tab);
        auto *filter = static_cast<QSortFilterProxyModel *>(m_tree->model());
        auto *model = static_cast<DataTreeModel *>(filter->sourceModel());
        QVERIFY(model && filter);
        QSignalSpy fromDocument(m_document, &DocumentWidget::modelItemSelected);
        FlameGraphView *view = m_tab->view();
        const SnapshotItem *peak = m_document->data()->peak();

        // From the tree: shown in the flame graph, nothing sent back.
        const TreeLeafItem *cachePages = findNode(peak->heapTree(), "cache_pages");
        const QModelIndex row = filter->mapFromSource(model->modelItemIndex(ModelItem(cachePages, nullptr)));
        QVERIFY(row.isValid());
        m_tree->selectionModel()->setCurrentIndex(row, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QCOMPARE(view->layout().snapshot(), peak);
        QCOMPARE(view->selectedFrame(), view->layout().frameOfNode(cachePages));
        QCOMPARE(fromDocument.count(), 0);

        // From the flame graph: the tree's row, once.
        const TreeLeafItem *readNames = findNode(peak->heapTree(), "read_names");
        const int frame = view->layout().frameOfNode(readNames);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->frameRect(frame).center());
        QCOMPARE(fromDocument.count(), 1);
        QCOMPARE(m_tree->currentIndex().data(DataTreeModel::NodeRole).value<const TreeLeafItem *>(), readNames);
        QCOMPARE(m_tree->selectionModel()->selectedRows().size(), 1);
        QCOMPARE(view->selectedFrame(), frame);

        // Another snapshot chosen in the tree.
        const SnapshotItem *other = m_document->data()->snapshots().at(51);
        m_tree->selectionModel()->setCurrentIndex(filter->mapFromSource(model->snapshotIndex(other)),
                                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QCOMPARE(view->layout().snapshot(), other);
        QCOMPARE(view->selectedFrame(), 0);
        QCOMPARE(fromDocument.count(), 1);
    }

    void openSourceLocation_data()
    {
        QTest::addColumn<bool>("fromTree");
        QTest::newRow("flame graph") << false;
        QTest::newRow("data tree") << true;
    }

    void openSourceLocation()
    {
        QFETCH(bool, fromTree);
        QTemporaryDir sources;
        QVERIFY(QFile::copy(QStringLiteral(QUILLMAP_FIXTURES_DIR "/programs/custom_alloc.c"), sources.filePath(QStringLiteral("custom_alloc.c"))));
        SourceSettings::setSourceFolders({sources.path()});
        SourceSettings::setEditorCommand(QStringLiteral("touch %f.opened-at-%l"));

        QStringList entries;
        triggerInNextMenu(this, QStringLiteral("Open Source Location"), &entries);
        openMenuOn("my_pool_alloc", fromTree);
        QVERIFY2(entries.contains(QStringLiteral("Mark as Custom Allocator")), qPrintable(entries.join(QLatin1Char(','))));
        QVERIFY2(entries.contains(QStringLiteral("Open Source Location")), qPrintable(entries.join(QLatin1Char(','))));
        QTRY_VERIFY(QFile::exists(sources.filePath(QStringLiteral("custom_alloc.c.opened-at-17"))));
    }

    void missingSourceLeadsToSettings()
    {
        SourceSettings::setSourceFolders({});
        QStringList entries;
        triggerInNextMenu(this, QStringLiteral("Open Source Location"), &entries);
        QString message;
        handleNextModal(this, [this, &message](QWidget *box) {
            if (qobject_cast<QMenu *>(box)) {
                return false;
            }
            const auto buttons = box->findChildren<QAbstractButton *>();
            for (QAbstractButton *button : buttons) {
                if (KLocalizedString::removeAcceleratorMarker(button->text()).startsWith(QLatin1String("Configure Source Folders"))) {
                    for (const QLabel *label : box->findChildren<QLabel *>()) {
                        message += label->text();
                    }
                    button->click();
                    return true;
                }
            }
            box->close();
            return true;
        });
        openMenuOn("big_direct", false);
        QTRY_VERIFY(KConfigDialog::exists(QStringLiteral("settings")));
        QVERIFY2(message.contains(QLatin1String("custom_alloc.c")), qPrintable(message));
        QVERIFY2(message.contains(QStringLiteral(QUILLMAP_FIXTURES_DIR)), qPrintable(message));
        auto *dialog = static_cast<KPageDialog *>(KConfigDialog::exists(QStringLiteral("settings")));
        QVERIFY(dialog->currentPage());
        QCOMPARE(dialog->currentPage()->name(), QStringLiteral("Source Folders"));
        QVERIFY(dialog->findChild<QWidget *>(QStringLiteral("kcfg_SourceFolders")));
    }

    void callGraphNodeMenu()
    {
        int callgraph = -1;
        for (int i = 0; i < m_tabs->count(); ++i) {
            if (KLocalizedString::removeAcceleratorMarker(m_tabs->tabText(i)) == QLatin1String("Callgraph")) {
                callgraph = i;
            }
        }
        if (callgraph < 0) {
            QSKIP("no graph viewer part");
        }
        m_tabs->setCurrentIndex(callgraph);
        auto *view = m_tabs->widget(callgraph)->findChild<QGraphicsView *>();
        QVERIFY(view);
        QList<QGraphicsItem *> nodes;
        QTRY_VERIFY_WITH_TIMEOUT(!(nodes = nodeItems(view)).isEmpty(), 20000);
        // Every menu that opens is read and closed.
        QStringList all;
        QTimer closer;
        connect(&closer, &QTimer::timeout, this, [&all]() {
            if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
                for (const QAction *action : menu->actions()) {
                    all << KLocalizedString::removeAcceleratorMarker(action->text());
                }
                menu->close();
            }
        });
        closer.start(10);
        for (QGraphicsItem *item : std::as_const(nodes)) {
            const QPoint pos = view->mapFromScene(item->sceneBoundingRect().center());
            QContextMenuEvent event(QContextMenuEvent::Mouse, pos, view->viewport()->mapToGlobal(pos));
            QApplication::sendEvent(view->viewport(), &event);
        }
        closer.stop();
        QVERIFY2(all.contains(QStringLiteral("Open Source Location")), qPrintable(all.join(QLatin1Char(','))));
        QVERIFY2(all.contains(QStringLiteral("Mark as Custom Allocator")), qPrintable(all.join(QLatin1Char(','))));
    }

private:
    void openMenuOn(const QByteArray &function, bool fromTree)
    {
        const TreeLeafItem *node = findNode(m_document->data()->peak()->heapTree(), function);
        QVERIFY(node);
        if (fromTree) {
            auto *filter = static_cast<QSortFilterProxyModel *>(m_tree->model());
            auto *model = static_cast<DataTreeModel *>(filter->sourceModel());
            const QModelIndex row = filter->mapFromSource(model->modelItemIndex(ModelItem(node, nullptr)));
            m_tree->scrollTo(row);
            const QPoint pos = m_tree->visualRect(row).center();
            QContextMenuEvent event(QContextMenuEvent::Mouse, pos, m_tree->viewport()->mapToGlobal(pos));
            QApplication::sendEvent(m_tree->viewport(), &event);
            return;
        }
        m_tabs->setCurrentWidget(m_tab);
        FlameGraphView *view = m_tab->view();
        const QPoint pos = view->frameRect(view->layout().frameOfNode(node)).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, view->viewport()->mapToGlobal(pos));
        QApplication::sendEvent(view->viewport(), &event);
    }

    static QList<QGraphicsItem *> nodeItems(QGraphicsView *view)
    {
        QList<QGraphicsItem *> nodes;
        const auto items = view->scene() ? view->scene()->items() : QList<QGraphicsItem *>();
        for (QGraphicsItem *item : items) {
            if (item->data(1).toString() == QLatin1String("node") &&
                view->viewport()->rect().contains(view->mapFromScene(item->sceneBoundingRect().center()))) {
                nodes << item;
            }
        }
        return nodes;
    }

    std::unique_ptr<MainWindow> m_window;
    QTreeView *m_tree = nullptr;
    DocumentWidget *m_document = nullptr;
    QTabWidget *m_tabs = nullptr;
    FlameGraphTab *m_tab = nullptr;
};

QTEST_MAIN(FlameGraphWindowTest)

#include "flamegraphwindowtest.moc"
