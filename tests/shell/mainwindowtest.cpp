/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "mainwindow.h"
#include "datatreemodel.h"
#include "documenttabinterface.h"
#include "documentwidget.h"
#include "filedata.h"
#include "graphviewerplugin.h"
#include "settings.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <KAboutData>
#include <KActionCollection>
#include <KConfigDialog>
#include <KConfigGroup>
#include <KLineEdit>
#include <KLocalizedString>
#include <KMessageWidget>
#include <KSharedConfig>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDockWidget>
#include <QFileDialog>
#include <QListView>
#include <QMenu>
#include <QPointer>
#include <QScreen>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStringListModel>
#include <QStyleOptionViewItem>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include <memory>

using namespace Massif;

namespace {

QUrl fixtureUrl(const QString &name)
{
    return QUrl::fromLocalFile(QStringLiteral(QUILLMAP_FIXTURES_DIR "/") + name);
}

int snapshotCount(const QString &name)
{
    QFile file(QStringLiteral(QUILLMAP_FIXTURES_DIR "/") + name);
    return file.open(QIODevice::ReadOnly) ? int(file.readAll().count("snapshot=")) : -1;
}

void flushDeferredDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

/// Triggers the entry @p text of the next popup menu (closing it either way)
/// and notes the entries the menu had. The watch ends with @p context.
void triggerInNextPopup(const QString &text, QStringList *entries, QObject *context)
{
    auto *timer = new QTimer(context);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, text, entries] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu) {
            return;
        }
        timer->deleteLater();
        QAction *chosen = nullptr;
        for (QAction *action : menu->actions()) {
            if (action->isSeparator()) {
                continue;
            }
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
    });
    timer->start(10);
}

void sendContextMenu(QAbstractItemView *view, const QPoint &pos)
{
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, view->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(view->viewport(), &event);
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &contents)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size()) {
        return QString();
    }
    return path;
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void startPage();
    void openSwitchAndClose();
    void statusBarStaysHidden();
    void openSameUrlReplacesInPlace();
    void reloadParsesAgain();
    void errorsShowInTheirTab();
    void stopWhileLoading();
    void closeWhileResultIsQueued();
    void treeSelectionReachesTabs();
    void tabSelectionSelectsTreeRow();
    void filteredRowLeavesNoSelection();
    void clearedFilterKeepsSelection_data();
    void clearedFilterKeepsSelection();
    void copyFromDataTree_data();
    void copyFromDataTree();
    void unreadableFileKeepsWindowOnScreen_data();
    void unreadableFileKeepsWindowOnScreen();
    void savedSizeBeyondScreenIsClamped();
    void dataDockReadsWhole();
    void dataDockWidthIsKept();
    void allocatorListEditing();
    void markCustomAllocatorFolds();
    void allocatorsReadBackInOrder();
    void shortenTemplatesToggle();
    void immutableShortenTemplatesSpringsBack();
    void preferencesRaisesOneDialog();
    void exportCsv_data();
    void exportCsv();

private:
    DocumentWidget *document(int index) const;
    DocumentWidget *openAndWait(const QUrl &url);
    QAction *action(const char *name) const;
    QModelIndex treeRowOfPeak() const;
    QStringList storedAllocators() const;

    std::unique_ptr<MainWindow> m_window;
    QTabWidget *m_documents = nullptr;
    QStackedWidget *m_stack = nullptr;
    QTreeView *m_tree = nullptr;
    KLineEdit *m_filter = nullptr;
    QListView *m_allocatorView = nullptr;
    QTemporaryDir m_dir;
};

void MainWindowTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    KLocalizedString::setApplicationDomain("quillmap");
    // The XML GUI files are found under the program's component name.
    KAboutData about(QStringLiteral("quillmap"), QStringLiteral("Quillmap"), QStringLiteral("test"));
    KAboutData::setApplicationData(about);
    addGraphViewerPluginPaths();
    QVERIFY(m_dir.isValid());
}

void MainWindowTest::init()
{
    KSharedConfig::Ptr config = KSharedConfig::openConfig();
    for (const QString &group : config->groupList()) {
        config->deleteGroup(group);
    }
    config->sync();
    // The window's size and dock layout, which KMainWindow keeps apart from the settings.
    KSharedConfig::Ptr state = KSharedConfig::openStateConfig();
    for (const QString &group : state->groupList()) {
        state->deleteGroup(group);
    }
    state->sync();
    Settings::self()->load();

    m_window = std::make_unique<MainWindow>();
    m_window->setAttribute(Qt::WA_DeleteOnClose, false);
    m_window->show();
    m_documents = m_window->findChild<QTabWidget *>(QStringLiteral("documents"));
    m_stack = m_window->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    m_tree = m_window->findChild<QTreeView *>(QStringLiteral("dataTreeView"));
    m_filter = m_window->findChild<KLineEdit *>(QStringLiteral("filterDataTree"));
    m_allocatorView = m_window->findChild<QListView *>(QStringLiteral("allocatorView"));
    QVERIFY(m_documents && m_stack && m_tree && m_filter && m_allocatorView);
}

void MainWindowTest::cleanup()
{
    m_window.reset();
    flushDeferredDeletes();
}

DocumentWidget *MainWindowTest::document(int index) const
{
    return qobject_cast<DocumentWidget *>(m_documents->widget(index));
}

DocumentWidget *MainWindowTest::openAndWait(const QUrl &url)
{
    m_window->openFile(url);
    auto *opened = qobject_cast<DocumentWidget *>(m_documents->currentWidget());
    if (!QTest::qWaitFor(
            [opened] {
                return opened->isParsed();
            },
            20000)) {
        qWarning() << "not loaded:" << url;
        return nullptr;
    }
    QCoreApplication::processEvents();
    return opened;
}

QAction *MainWindowTest::action(const char *name) const
{
    return m_window->actionCollection()->action(QLatin1String(name));
}

QStringList MainWindowTest::storedAllocators() const
{
    KSharedConfig::openConfig()->reparseConfiguration();
    const KConfigGroup group = KSharedConfig::openConfig()->group(QStringLiteral("Allocators"));
    QStringList values;
    for (int i = 0; group.hasKey(QString::number(i)); ++i) {
        values << group.readEntry(QString::number(i), QString());
    }
    return values;
}

void MainWindowTest::startPage()
{
    QCOMPARE(m_stack->currentWidget()->objectName(), QStringLiteral("openPage"));
    auto *openButton = m_window->findChild<QToolButton *>(QStringLiteral("openFile"));
    QCOMPARE(openButton->text(), QStringLiteral("Open Massif Data File"));
    QVERIFY(m_window->windowTitle().isEmpty() || !m_window->windowTitle().contains(QLatin1String("Evaluation")));
    QVERIFY(!action("file_reload")->isEnabled());
    QVERIFY(!action("selectPeak")->isEnabled());
    QVERIFY(!action("file_close")->isEnabled());
    QVERIFY(action("file_open")->isEnabled());
}

void MainWindowTest::openSwitchAndClose()
{
    DocumentWidget *simple = openAndWait(fixtureUrl(QStringLiteral("simple.massif")));
    QVERIFY(simple);
    DocumentWidget *custom = openAndWait(fixtureUrl(QStringLiteral("custom-alloc.massif")));
    QVERIFY(custom);
    QCOMPARE(m_documents->count(), 2);
    QCOMPARE(KLocalizedString::removeAcceleratorMarker(m_documents->tabText(1)), QStringLiteral("custom-alloc.massif"));
    QCOMPARE(m_stack->currentWidget()->objectName(), QStringLiteral("displayPage"));
    QVERIFY(m_window->windowTitle().contains(QStringLiteral("Evaluation of ./custom_alloc (custom-alloc.massif)")));
    QVERIFY(action("file_reload")->isEnabled());
    QVERIFY(action("selectPeak")->isEnabled());
    QVERIFY(action("file_close")->isEnabled());
    QCOMPARE(m_tree->model()->rowCount(), snapshotCount(QStringLiteral("custom-alloc.massif")));

    // A filter hides rows; switching documents clears it in the model, not in the line edit.
    m_filter->setText(QStringLiteral("no such function anywhere"));
    QTRY_COMPARE(m_tree->model()->rowCount(), 0);
    m_documents->setCurrentIndex(0);
    QVERIFY(m_window->windowTitle().contains(QStringLiteral("Evaluation of ./simple (simple.massif)")));
    QCOMPARE(m_filter->text(), QStringLiteral("no such function anywhere"));
    QTRY_COMPARE(m_tree->model()->rowCount(), snapshotCount(QStringLiteral("simple.massif")));

    QTest::qWait(200);
    m_window->closeCurrentFile();
    QCOMPARE(m_documents->count(), 1);
    QCOMPARE(document(0), custom);
    m_window->closeCurrentFile();
    flushDeferredDeletes();
    QCOMPARE(m_documents->count(), 0);
    QCOMPARE(m_stack->currentWidget()->objectName(), QStringLiteral("openPage"));
    QVERIFY(m_window->windowTitle().isEmpty() || !m_window->windowTitle().contains(QLatin1String("Evaluation")));
    QVERIFY(!action("file_reload")->isEnabled());
    QVERIFY(!action("selectPeak")->isEnabled());
    QVERIFY(!action("file_close")->isEnabled());
    QCOMPARE(m_tree->model()->rowCount(), 0);
}

void MainWindowTest::statusBarStaysHidden()
{
    QVERIFY(m_window->statusBar()->isHidden());
    // Merging a document's and then a tab's menus re-applies the saved window settings.
    DocumentWidget *doc = openAndWait(fixtureUrl(QStringLiteral("simple-detailed.massif")));
    QVERIFY(doc);
    QVERIFY(m_window->statusBar()->isHidden());
    auto *tabs = doc->findChild<QTabWidget *>();
    QVERIFY(tabs && tabs->count() > 1);
    tabs->setCurrentIndex(tabs->count() - 1);
    QVERIFY(m_window->statusBar()->isHidden());
}

void MainWindowTest::openSameUrlReplacesInPlace()
{
    QVERIFY(openAndWait(fixtureUrl(QStringLiteral("simple.massif"))));
    QVERIFY(openAndWait(fixtureUrl(QStringLiteral("stacks.massif"))));
    QPointer<DocumentWidget> old = document(0);
    DocumentWidget *again = openAndWait(fixtureUrl(QStringLiteral("simple.massif")));
    QVERIFY(again);
    QCOMPARE(m_documents->count(), 2);
    QCOMPARE(m_documents->currentIndex(), 0);
    QCOMPARE(document(0), again);
    QVERIFY(again != old);
    flushDeferredDeletes();
    QVERIFY(!old);
}

void MainWindowTest::reloadParsesAgain()
{
    QVERIFY(openAndWait(fixtureUrl(QStringLiteral("simple.massif"))));
    QVERIFY(openAndWait(fixtureUrl(QStringLiteral("stacks.massif"))));
    DocumentWidget *before = document(1);
    const FileData *beforeData = before->data();
    action("file_reload")->trigger();
    auto *after = document(1);
    QVERIFY(after != before);
    QCOMPARE(m_documents->currentIndex(), 1);
    QTRY_VERIFY(after->isParsed());
    QVERIFY(after->data() != beforeData);
    QCOMPARE(m_documents->count(), 2);
}

void MainWindowTest::errorsShowInTheirTab()
{
    // The offending line is shown as text, whatever markup it holds.
    const QString path = m_dir.filePath(QStringLiteral("markup.massif"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("desc: x\ncmd: y\n<b>bold</b> & <i>more</i>\n");
    file.close();

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^invalid line 3")));
    m_window->openFile(QUrl::fromLocalFile(path));
    DocumentWidget *broken = document(0);
    KMessageWidget *message = nullptr;
    QTRY_VERIFY((message = broken->findChild<KMessageWidget *>()) && message->isVisible());
    QVERIFY(message->text().startsWith(QLatin1String("<b>Parser Failed</b>")));
    QVERIFY2(message->text().contains(QLatin1String("Parse error in line 3:<br>&lt;b&gt;bold&lt;/b&gt; &amp; &lt;i&gt;more&lt;/i&gt;")),
             qPrintable(message->text()));
    QVERIFY(!broken->isParsed());
    QVERIFY(!broken->data());
    QVERIFY(!action("file_reload")->isEnabled());

    m_window->openFile(QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("missing.massif"))));
    DocumentWidget *missing = document(1);
    QTRY_VERIFY((message = missing->findChild<KMessageWidget *>()) && message->isVisible());
    QVERIFY(message->text().startsWith(QLatin1String("<b>Read Failed</b>")));
}

void MainWindowTest::stopWhileLoading()
{
    // Large enough to be still loading when the stop button is pressed.
    const QString path = m_dir.filePath(QStringLiteral("large.massif"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("desc: x\ncmd: y\ntime_unit: i\n");
    QByteArray tree = "n200: 2000 root\n";
    for (int i = 0; i < 200; ++i) {
        tree += " n0: 10 0x" + QByteArray::number(i, 16) + ": function_" + QByteArray::number(i) + " (file.c:1)\n";
    }
    for (int i = 0; i < 4000; ++i) {
        file.write("#-----------\nsnapshot=" + QByteArray::number(i) +
                   "\n#-----------\ntime=1\nmem_heap_B=2000\nmem_heap_extra_B=0\nmem_stacks_B=0\nheap_tree=detailed\n" + tree);
    }
    file.close();

    m_window->openFile(QUrl::fromLocalFile(path));
    QPointer<DocumentWidget> loading = document(0);
    QPointer<QThread> thread = loading->findChild<QThread *>();
    QVERIFY(thread);
    QVERIFY(!loading->isParsed());
    auto *stop = loading->findChild<QToolButton *>(QStringLiteral("stopParsing"));
    QVERIFY(stop);
    stop->click();
    QCOMPARE(m_documents->count(), 0);
    flushDeferredDeletes();
    QVERIFY(!loading);
    QVERIFY(!thread);
    QCOMPARE(m_stack->currentWidget()->objectName(), QStringLiteral("openPage"));
    // Nothing that the stopped parse might still send arrives anywhere.
    QTest::qWait(100);
    QCOMPARE(m_documents->count(), 0);
}

void MainWindowTest::closeWhileResultIsQueued()
{
    // The parse ends while the GUI thread is busy: its result waits in the
    // queue when the document goes. It must be freed, not lost (the leak
    // checker of the sanitizer run sees it).
    m_window->openFile(fixtureUrl(QStringLiteral("simple.massif")));
    QPointer<DocumentWidget> doc = document(0);
    QThread::msleep(500);
    m_window->closeCurrentFile();
    flushDeferredDeletes();
    QVERIFY(!doc);
    QCOMPARE(m_documents->count(), 0);
}

QModelIndex MainWindowTest::treeRowOfPeak() const
{
    const FileData *data = qobject_cast<DocumentWidget *>(m_documents->currentWidget())->data();
    const int peakRow = data->snapshots().indexOf(data->peak());
    return m_tree->model()->index(peakRow, 0);
}

void MainWindowTest::treeSelectionReachesTabs()
{
    DocumentWidget *doc = openAndWait(fixtureUrl(QStringLiteral("simple.massif")));
    QVERIFY(doc);
    QList<ModelItem> echoed;
    connect(doc, &DocumentWidget::modelItemSelected, this, [&](const ModelItem &item) {
        echoed << item;
    });

    const QModelIndex peakRow = treeRowOfPeak();
    const QModelIndex firstChild = m_tree->model()->index(0, 0, peakRow);
    QVERIFY(firstChild.isValid());
    m_tree->selectionModel()->setCurrentIndex(firstChild, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    const ModelItem item = firstChild.data(DataTreeModel::ItemPairRole).value<ModelItem>();
    // Node rows stand for the node alone.
    QCOMPARE(item.first, doc->data()->peak()->heapTree()->children().at(0));
    QCOMPARE(item.second, nullptr);
    // The tabs show it without reporting it back as a new selection.
    QCoreApplication::processEvents();
    QVERIFY(echoed.isEmpty());
    QCOMPARE(m_tree->currentIndex(), firstChild);

    action("selectPeak")->trigger();
    QCOMPARE(m_tree->currentIndex(), peakRow);
}

void MainWindowTest::tabSelectionSelectsTreeRow()
{
    DocumentWidget *doc = openAndWait(fixtureUrl(QStringLiteral("simple.massif")));
    QVERIFY(doc);
    const SnapshotItem *peak = doc->data()->peak();
    const TreeLeafItem *node = peak->heapTree()->children().at(0)->children().at(0);
    m_tree->selectionModel()->setCurrentIndex(m_tree->model()->index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);

    auto *tab = doc->findChild<DocumentTabInterface *>();
    QVERIFY(tab);
    Q_EMIT tab->modelItemSelected(ModelItem(node, peak));
    const QModelIndex current = m_tree->currentIndex();
    QVERIFY(current.isValid());
    QCOMPARE(current.data(DataTreeModel::ItemPairRole).value<ModelItem>().first, node);
    // Only that row is selected, and its parents are expanded to show it.
    QCOMPARE(m_tree->selectionModel()->selectedRows().size(), 1);
    QVERIFY(m_tree->isExpanded(current.parent()));
}

void MainWindowTest::filteredRowLeavesNoSelection()
{
    DocumentWidget *doc = openAndWait(fixtureUrl(QStringLiteral("simple.massif")));
    QVERIFY(doc);
    const SnapshotItem *peak = doc->data()->peak();
    const TreeLeafItem *node = peak->heapTree()->children().at(0);
    m_filter->setText(QStringLiteral("grow_string"));
    QTest::qWait(300);
    QVERIFY(!QString::fromLatin1(node->label()).contains(QLatin1String("grow_string")));

    auto *tab = doc->findChild<DocumentTabInterface *>();
    Q_EMIT tab->modelItemSelected(ModelItem(node, peak));
    QVERIFY(m_tree->selectionModel()->selectedRows().isEmpty());
}

void MainWindowTest::clearedFilterKeepsSelection_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<bool>("fromTab");
    // The selected row stays visible under the filter, or the filter hides it.
    QTest::newRow("chosen in the tree, shown by the filter") << QStringLiteral("grow_string") << false;
    QTest::newRow("chosen in the tree, hidden by the filter") << QStringLiteral("make_table") << false;
    QTest::newRow("chosen in a tab, shown by the filter") << QStringLiteral("grow_string") << true;
    QTest::newRow("chosen in a tab, hidden by the filter") << QStringLiteral("make_table") << true;
}

void MainWindowTest::clearedFilterKeepsSelection()
{
    QFETCH(QString, filter);
    QFETCH(bool, fromTab);
    m_window->resize(700, 300);
    DocumentWidget *doc = openAndWait(fixtureUrl(QStringLiteral("simple.massif")));
    QVERIFY(doc);
    // grow_string below a snapshot far down the list, so that showing it takes scrolling.
    const SnapshotItem *snapshot = doc->data()->peak();
    const TreeLeafItem *node = snapshot->heapTree()->children().at(1);
    QVERIFY(node->label().contains("grow_string"));
    // The allocators tab shows what the document was told last.
    QTreeView *sites = nullptr;
    for (DocumentTabInterface *tab : doc->findChildren<DocumentTabInterface *>()) {
        if (QLatin1String(tab->metaObject()->className()) == QLatin1String("AllocatorsTab")) {
            sites = tab->findChild<QTreeView *>();
        }
    }
    QVERIFY(sites);
    const auto selectedSites = [sites] {
        QStringList names;
        for (const QModelIndex &row : sites->selectionModel()->selectedRows()) {
            names << row.data().toString();
        }
        return names;
    };

    if (fromTab) {
        Q_EMIT doc->findChild<DocumentTabInterface *>()->modelItemSelected(ModelItem(node, snapshot));
    } else {
        const QModelIndex shown = m_tree->model()->index(1, 0, treeRowOfPeak());
        QCOMPARE(shown.data(DataTreeModel::NodeRole).value<const TreeLeafItem *>(), node);
        m_tree->selectionModel()->setCurrentIndex(shown, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    QCOMPARE(selectedSites(), QStringList {QStringLiteral("grow_string")});
    m_filter->setText(filter);
    QTest::qWait(300);
    m_tree->collapseAll();
    m_tree->scrollToTop();
    m_filter->clear();
    QTRY_COMPARE(m_tree->model()->rowCount(), snapshotCount(QStringLiteral("simple.massif")));

    QTRY_COMPARE(m_tree->currentIndex().data(DataTreeModel::NodeRole).value<const TreeLeafItem *>(), node);
    const QModelIndex current = m_tree->currentIndex();
    QTRY_COMPARE(m_tree->selectionModel()->selectedRows(), QModelIndexList {current});
    QTRY_VERIFY(m_tree->isExpanded(current.parent()));
    QTRY_VERIFY(m_tree->viewport()->rect().contains(m_tree->visualRect(current)));
    // Filtering is the tree's own business: the document is told nothing new.
    QCOMPARE(selectedSites(), QStringList {QStringLiteral("grow_string")});
}

void MainWindowTest::copyFromDataTree_data()
{
    QTest::addColumn<bool>("snapshotRow");
    QTest::addColumn<bool>("shortcut");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QStringList>("entries");
    // The peak snapshot can be the baseline of a comparison.
    const QStringList snapshotEntries {QStringLiteral("Copy"), QStringLiteral("Set as Baseline")};
    // The node's label names simple.c:43, so its source can be opened.
    const QStringList nodeEntries {QStringLiteral("Copy"), QStringLiteral("Mark as Custom Allocator"), QStringLiteral("Open Source Location")};
    QTest::newRow("snapshot row, menu") << true << false << QStringLiteral("139.0 KiB: Snapshot #41 (peak)") << snapshotEntries;
    QTest::newRow("node row, menu") << false << false << QStringLiteral("16.0 KiB: grow_string (simple.c:43)") << nodeEntries;
    QTest::newRow("snapshot row, Ctrl+C") << true << true << QStringLiteral("139.0 KiB: Snapshot #41 (peak)") << QStringList();
    QTest::newRow("node row, Ctrl+C") << false << true << QStringLiteral("16.0 KiB: grow_string (simple.c:43)") << QStringList();
}

void MainWindowTest::copyFromDataTree()
{
    QFETCH(bool, snapshotRow);
    QFETCH(bool, shortcut);
    QFETCH(QString, expected);
    QFETCH(QStringList, entries);
    QVERIFY(openAndWait(fixtureUrl(QStringLiteral("simple.massif"))));
    QApplication::clipboard()->clear();
    const QModelIndex peak = treeRowOfPeak();
    const QModelIndex row = snapshotRow ? peak : m_tree->model()->index(1, 0, peak);
    m_tree->scrollTo(row);

    if (shortcut) {
        m_tree->selectionModel()->setCurrentIndex(row, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        m_tree->setFocus();
        QTest::keyClick(m_tree, Qt::Key_C, Qt::ControlModifier);
    } else {
        // Another row is the selected one: the menu is about the row clicked.
        m_tree->selectionModel()->setCurrentIndex(m_tree->model()->index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QStringList shown;
        QObject watch;
        triggerInNextPopup(QStringLiteral("Copy"), &shown, &watch);
        sendContextMenu(m_tree, m_tree->visualRect(row).center());
        QCOMPARE(shown, entries);
    }
    QCOMPARE(QApplication::clipboard()->text(), expected);

    // Empty space offers nothing.
    m_filter->setText(QStringLiteral("no such function anywhere"));
    QTRY_COMPARE(m_tree->model()->rowCount(), 0);
    QStringList shown;
    QObject watch;
    triggerInNextPopup(QStringLiteral("Copy"), &shown, &watch);
    sendContextMenu(m_tree, QPoint(5, m_tree->viewport()->height() - 3));
    QTest::qWait(50);
    QVERIFY(shown.isEmpty());
}

void MainWindowTest::unreadableFileKeepsWindowOnScreen_data()
{
    QTest::addColumn<QByteArray>("contents");
    QByteArray binary;
    for (int i = 0; i < 6000; ++i) {
        binary += char((i * 37 + 11) % 256);
    }
    binary.replace('\n', 'x');
    QTest::newRow("binary") << binary;
    QTest::newRow("long unbroken line") << QByteArray("desc: x\ncmd: y\n" + QByteArray(6000, 'w') + "\n");
    QTest::newRow("long line of markup") << QByteArray("desc: x\ncmd: y\n" + QByteArray("<b>&amp;").repeated(800) + "\n");
}

void MainWindowTest::unreadableFileKeepsWindowOnScreen()
{
    QFETCH(QByteArray, contents);
    const QString path = writeFile(m_dir, QStringLiteral("unreadable"), contents);
    QVERIFY(!path.isEmpty());
    const QRect available = m_window->screen()->availableGeometry();
    m_window->resize(available.width() * 3 / 4, available.height() * 3 / 4);

    m_window->openFile(QUrl::fromLocalFile(path));
    KMessageWidget *message = nullptr;
    QTRY_VERIFY((message = document(0)->findChild<KMessageWidget *>()) && message->isVisible());
    QCoreApplication::processEvents();
    QTest::qWait(50);
    QVERIFY2(m_window->width() <= available.width(), qPrintable(QString::number(m_window->width())));
    QVERIFY(m_window->minimumSizeHint().width() <= available.width());
    // The text wraps inside the page instead of running past it.
    QVERIFY(message->geometry().right() <= document(0)->width());
    QVERIFY(message->text().size() < contents.size() + 200);
}

void MainWindowTest::savedSizeBeyondScreenIsClamped()
{
    const QRect available = m_window->screen()->availableGeometry();
    m_window->resize(available.width() * 3, available.height() * 2);
    QTest::qWait(50);
    m_window->close();
    m_window.reset();
    flushDeferredDeletes();

    MainWindow again;
    again.show();
    QVERIFY(QTest::qWaitForWindowExposed(&again));
    QVERIFY2(again.width() <= available.width(), qPrintable(QString::number(again.width())));
    QVERIFY(again.height() <= available.height());
    QVERIFY(available.intersects(again.geometry()));
}

void MainWindowTest::dataDockReadsWhole()
{
    QVERIFY(openAndWait(fixtureUrl(QStringLiteral("simple.massif"))));
    auto *dock = m_window->findChild<QDockWidget *>(QStringLiteral("dataTreeDock"));
    m_window->resizeDocks({dock}, {40}, Qt::Horizontal);
    QTest::qWait(50);

    // The peak row reads whole, as the delegate lays it out; it is at least as
    // wide as that of a large file.
    const QModelIndex peak = treeRowOfPeak();
    const QString peakText = peak.data().toString();
    QCOMPARE(peakText, QStringLiteral("139.0 KiB: Snapshot #41 (peak)"));
    QVERIFY(m_tree->fontMetrics().horizontalAdvance(peakText) >= m_tree->fontMetrics().horizontalAdvance(QStringLiteral("12.3 MiB: Snapshot #85 (peak)")));
    QStyleOptionViewItem option;
    option.initFrom(m_tree);
    option.font = m_tree->font();
    const int needed = m_tree->itemDelegate()->sizeHint(option, peak).width();
    const QRect peakRect = m_tree->visualRect(peak);
    QVERIFY2(peakRect.left() + needed <= m_tree->viewport()->width(),
             qPrintable(QStringLiteral("%1 + %2 > %3").arg(peakRect.left()).arg(needed).arg(m_tree->viewport()->width())));

    // Neither dock title on the tabs below is cut.
    QTabBar *titles = nullptr;
    for (QTabBar *bar : m_window->findChildren<QTabBar *>()) {
        if (bar->count() == 2 && QString(bar->tabText(0) + bar->tabText(1)).contains(QLatin1String("Massif Data"))) {
            titles = bar;
        }
    }
    QVERIFY(titles);
    QVERIFY2(titles->width() >= titles->sizeHint().width(), qPrintable(QString::number(titles->width())));
}

void MainWindowTest::dataDockWidthIsKept()
{
    // The window saves its settings a moment after it is shown; the drag comes later.
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QTest::qWait(1000);
    auto *dock = m_window->findChild<QDockWidget *>(QStringLiteral("dataTreeDock"));
    const int dragged = dock->minimumSizeHint().width() + 60;
    const auto storedState = [] {
        KSharedConfig::openStateConfig()->reparseConfiguration();
        return KSharedConfig::openStateConfig()->group(QStringLiteral("MainWindow")).readEntry("State", QByteArray());
    };
    const QByteArray before = storedState();
    m_window->resizeDocks({dock}, {dragged}, Qt::Horizontal);
    QTest::qWait(50);
    QCOMPARE(dock->width(), dragged);
    // Stored soon after the drag, not only when the window closes: a session
    // that ends otherwise keeps it too.
    QTRY_VERIFY_WITH_TIMEOUT(storedState() != before, 3000);
    m_window.reset();
    flushDeferredDeletes();

    MainWindow again;
    again.show();
    QVERIFY(QTest::qWaitForWindowExposed(&again));
    auto *restored = again.findChild<QDockWidget *>(QStringLiteral("dataTreeDock"));
    QTRY_COMPARE(restored->width(), dragged);
}

void MainWindowTest::allocatorListEditing()
{
    QVERIFY(openAndWait(fixtureUrl(QStringLiteral("simple.massif"))));
    QVERIFY(openAndWait(fixtureUrl(QStringLiteral("custom-alloc.massif"))));
    auto *model = qobject_cast<QStringListModel *>(m_allocatorView->model());
    QVERIFY(model);

    DocumentWidget *before = document(1);
    model->setStringList({QStringLiteral("xmalloc")});
    QCOMPARE(storedAllocators(), QStringList {QStringLiteral("xmalloc")});
    // Parsed again at the same position, with the new list.
    QVERIFY(document(1) != before);
    QCOMPARE(m_documents->currentIndex(), 1);
    QCOMPARE(m_documents->count(), 2);

    model->setStringList({QStringLiteral("xmalloc"), QStringLiteral("*pool*")});
    QCOMPARE(storedAllocators(), (QStringList {QStringLiteral("xmalloc"), QStringLiteral("*pool*")}));

    // Edited in place to nothing: the entry goes.
    before = document(1);
    model->setData(model->index(0), QString());
    QCOMPARE(model->stringList(), QStringList {QStringLiteral("*pool*")});
    QCOMPARE(storedAllocators(), QStringList {QStringLiteral("*pool*")});
    QVERIFY(document(1) != before);

    // Removed through the dock's action.
    QAction *remove = nullptr;
    for (QAction *candidate : m_window->findChildren<QAction *>()) {
        if (candidate->text() == QLatin1String("Remove")) {
            remove = candidate;
        }
    }
    QVERIFY(remove);
    QVERIFY(!remove->isEnabled());
    m_allocatorView->selectionModel()->select(model->index(0), QItemSelectionModel::ClearAndSelect);
    QVERIFY(remove->isEnabled());
    remove->trigger();
    QVERIFY(model->stringList().isEmpty());
    QVERIFY(storedAllocators().isEmpty());
}

void MainWindowTest::markCustomAllocatorFolds()
{
    DocumentWidget *doc = openAndWait(fixtureUrl(QStringLiteral("custom-alloc.massif")));
    QVERIFY(doc);
    const TreeLeafItem *wrapper = nullptr;
    for (const TreeLeafItem *child : doc->data()->peak()->heapTree()->children()) {
        if (child->label().contains("xmalloc")) {
            wrapper = child;
        }
    }
    QVERIFY(wrapper);

    QMenu menu;
    QVERIFY(QMetaObject::invokeMethod(m_window.get(), "contextMenuRequested", Q_ARG(Massif::ModelItem, ModelItem(wrapper, nullptr)), Q_ARG(QMenu *, &menu)));
    QCOMPARE(menu.title(), QStringLiteral("xmalloc"));
    // Marking, then opening the source of custom_alloc.c:32.
    QCOMPARE(menu.actions().size(), 2);
    QCOMPARE(menu.actions().at(1)->text(), QStringLiteral("Open Source Location"));
    menu.actions().constFirst()->trigger();
    // Queued: nothing changes until the menu has gone.
    QCOMPARE(document(0), doc);
    QTRY_VERIFY(document(0) != doc);
    QCOMPARE(storedAllocators(), QStringList {QStringLiteral("xmalloc")});

    DocumentWidget *folded = document(0);
    QTRY_VERIFY(folded->isParsed());
    QStringList rootLabels;
    for (const TreeLeafItem *child : folded->data()->peak()->heapTree()->children()) {
        rootLabels << QString::fromLatin1(child->label());
    }
    QVERIFY(!rootLabels.join(QLatin1Char('\n')).contains(QLatin1String("xmalloc")));
    QVERIFY(rootLabels.join(QLatin1Char('\n')).contains(QLatin1String("read_names")));

    // Long function names are cut in the menu title.
    TreeLeafItem longNode;
    longNode.setLabel("0x1: " + QByteArray(41, 'f') + " (a.c:1)");
    QMenu longMenu;
    QMetaObject::invokeMethod(m_window.get(), "contextMenuRequested", Q_ARG(Massif::ModelItem, ModelItem(&longNode, nullptr)), Q_ARG(QMenu *, &longMenu));
    QCOMPARE(longMenu.title(), QString(40, QLatin1Char('f')) + QStringLiteral("..."));
}

void MainWindowTest::allocatorsReadBackInOrder()
{
    auto *model = qobject_cast<QStringListModel *>(m_allocatorView->model());
    QStringList twelve;
    for (int i = 0; i < 12; ++i) {
        twelve << QStringLiteral("alloc_%1").arg(i);
    }
    // Without a document the list is only stored.
    model->setStringList(twelve);
    QCOMPARE(m_documents->count(), 0);
    QCOMPARE(storedAllocators(), twelve);

    m_window.reset();
    flushDeferredDeletes();
    MainWindow second;
    auto *view = second.findChild<QListView *>(QStringLiteral("allocatorView"));
    QCOMPARE(qobject_cast<QStringListModel *>(view->model())->stringList(), twelve);
}

void MainWindowTest::shortenTemplatesToggle()
{
    DocumentWidget *doc = openAndWait(fixtureUrl(QStringLiteral("templates.massif")));
    QVERIFY(doc);
    QAction *toggle = action("shorten_templates");
    QVERIFY(!toggle->isChecked());
    toggle->trigger();
    QVERIFY(Settings::shortenTemplates());
    // Saved at once, where the formatting functions read it.
    QVERIFY(KSharedConfig::openConfig()->group(QStringLiteral("Settings")).readEntry("shortenTemplates", false));
    toggle->trigger();
    QVERIFY(!Settings::shortenTemplates());
}

void MainWindowTest::immutableShortenTemplatesSpringsBack()
{
    const QString path = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/") + QCoreApplication::applicationName() +
        QStringLiteral("rc");
    m_window.reset();
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[Settings]\nshortenTemplates[$i]=false\n");
    file.close();
    KSharedConfig::openConfig()->reparseConfiguration();
    Settings::self()->load();
    QVERIFY(Settings::isShortenTemplatesImmutable());

    MainWindow window;
    QAction *toggle = window.actionCollection()->action(QStringLiteral("shorten_templates"));
    toggle->trigger();
    QVERIFY(!Settings::shortenTemplates());
    QVERIFY(!toggle->isChecked());
    QFile::remove(path);
    KSharedConfig::openConfig()->reparseConfiguration();
    Settings::self()->load();
}

void MainWindowTest::preferencesRaisesOneDialog()
{
    QAction *preferences = action("options_configure");
    QVERIFY(preferences);
    preferences->trigger();
    preferences->trigger();
    QCOMPARE(m_window->findChildren<KConfigDialog *>().size(), 1);
    QVERIFY(KConfigDialog::exists(QStringLiteral("settings")));
    m_window->findChild<KConfigDialog *>()->close();
}

QTEST_MAIN(MainWindowTest)

#include "mainwindowtest.moc"

void MainWindowTest::exportCsv_data()
{
    QTest::addColumn<bool>("selectNode");
    QTest::addColumn<bool>("heapTree");
    QTest::addColumn<QByteArray>("header");
    QTest::newRow("sites") << false << false << QByteArrayLiteral("function,location,peak bytes,peak snapshot\r\n");
    QTest::newRow("tree of the peak, nothing selected") << false << true << QByteArrayLiteral("depth,function,location,bytes,share\r\n");
    QTest::newRow("tree of a selected node's snapshot") << true << true << QByteArrayLiteral("depth,function,location,bytes,share\r\n");
}

void MainWindowTest::exportCsv()
{
    QFETCH(bool, selectNode);
    QFETCH(bool, heapTree);
    QFETCH(QByteArray, header);
    QVERIFY(!action("file_export")->isEnabled());
    DocumentWidget *doc = openAndWait(fixtureUrl(QStringLiteral("simple.massif")));
    QVERIFY(doc);
    QVERIFY(action("file_export")->isEnabled());
    const SnapshotItem *expected = doc->data()->peak();
    if (selectNode) {
        // A node of the first detailed snapshot, which is not the peak.
        QModelIndex snapshotRow;
        for (int row = 0; row < m_tree->model()->rowCount() && !snapshotRow.isValid(); ++row) {
            if (m_tree->model()->rowCount(m_tree->model()->index(row, 0)) > 0) {
                snapshotRow = m_tree->model()->index(row, 0);
            }
        }
        const QModelIndex nodeRow = m_tree->model()->index(0, 0, snapshotRow);
        QVERIFY(nodeRow.isValid());
        m_tree->selectionModel()->setCurrentIndex(nodeRow, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        expected = snapshotRow.data(DataTreeModel::ItemPairRole).value<ModelItem>().second;
        QVERIFY(expected && expected != doc->data()->peak());
    }

    QTemporaryDir dir;
    const QString fileName = dir.filePath(QStringLiteral("out"));
    QStringList filters;
    QTimer::singleShot(0, this, [&] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (auto *dialog = qobject_cast<QFileDialog *>(widget); dialog && dialog->isVisible()) {
                filters = dialog->nameFilters();
                dialog->selectNameFilter(filters.value(heapTree ? 1 : 0));
                dialog->selectFile(fileName);
                static_cast<QDialog *>(dialog)->accept();
            }
        }
    });
    action("file_export")->trigger();

    QCOMPARE(filters.size(), 2);
    QVERIFY2(filters.at(1).contains(QStringLiteral("#%1").arg(expected->number())), qPrintable(filters.at(1)));
    // A name without a suffix gets ".csv".
    QFile file(fileName + QStringLiteral(".csv"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray first = file.readLine();
    QCOMPARE(first, header);
    if (heapTree) {
        // The root of the chosen snapshot's tree comes first, with its bytes.
        QVERIFY2(file.readLine().contains(QByteArray::number(expected->heapTree()->cost())), "root row");
    }
}
