/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "mainwindow.h"

#include "charttab.h"
#include "chartzoom.h"
#include "comparison.h"
#include "comparisonwidget.h"
#include "documentwidget.h"
#include "filedata.h"
#include "graphviewerplugin.h"
#include "snapshotitem.h"

#include <KAboutData>
#include <KActionCollection>
#include <KConfigGroup>
#include <KLocalizedString>
#include <KSharedConfig>

#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <memory>

using namespace Massif;

namespace {

QUrl fixtureUrl(const char *name)
{
    return QUrl::fromLocalFile(QStringLiteral(QUILLMAP_FIXTURES_DIR "/") + QString::fromLatin1(name));
}

QStringList entriesOf(const QMenu &menu)
{
    QStringList entries;
    const auto actions = menu.actions();
    for (const QAction *action : actions) {
        if (!action->isSeparator()) {
            entries << KLocalizedString::removeAcceleratorMarker(action->text());
        }
    }
    return entries;
}

/// Opens the context menu of @p widget at @p pos, triggers the entry @p choice
/// if it is there and returns the menu's entries.
QStringList chooseFromContextMenu(QWidget *widget, const QPoint &pos, const QString &choice)
{
    QStringList entries;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &watch, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu) {
            return;
        }
        entries = entriesOf(*menu);
        QAction *chosen = nullptr;
        for (QAction *action : menu->actions()) {
            if (action->text() == choice) {
                chosen = action;
            }
        }
        menu->close();
        if (chosen) {
            chosen->trigger();
        }
    });
    watch.start(10);
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, widget->mapToGlobal(pos));
    QApplication::sendEvent(widget, &event);
    return entries;
}

} // namespace

class CompareMainWindowTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void compareTwoFiles();
    void closingEitherSide_data();
    void closingEitherSide();
    void reloadingASideReloadsTheComparison();
    void snapshotMenus();
    void dataTreeMenuOnASnapshot();
    void chartRangeComparesStartWithEnd();

private:
    DocumentWidget *openAndWait(const QUrl &url);
    ComparisonWidget *comparisonAt(int index) const;

    std::unique_ptr<MainWindow> m_window;
    QTabWidget *m_documents = nullptr;
    QStackedWidget *m_stack = nullptr;
};

void CompareMainWindowTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    KLocalizedString::setApplicationDomain("quillmap");
    KAboutData about(QStringLiteral("quillmap"), QStringLiteral("Quillmap"), QStringLiteral("test"));
    KAboutData::setApplicationData(about);
    addGraphViewerPluginPaths();
}

void CompareMainWindowTest::init()
{
    KSharedConfig::Ptr config = KSharedConfig::openConfig();
    for (const QString &group : config->groupList()) {
        config->deleteGroup(group);
    }
    config->sync();
    m_window = std::make_unique<MainWindow>();
    m_window->setAttribute(Qt::WA_DeleteOnClose, false);
    m_window->show();
    m_documents = m_window->findChild<QTabWidget *>(QStringLiteral("documents"));
    m_stack = m_window->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    QVERIFY(m_documents && m_stack);
}

void CompareMainWindowTest::cleanup()
{
    m_window.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

DocumentWidget *CompareMainWindowTest::openAndWait(const QUrl &url)
{
    m_window->openFile(url);
    auto *document = qobject_cast<DocumentWidget *>(m_documents->currentWidget());
    if (document && !document->isParsed()) {
        QSignalSpy finished(document, &DocumentWidget::loadingFinished);
        finished.wait(10000);
    }
    return document;
}

ComparisonWidget *CompareMainWindowTest::comparisonAt(int index) const
{
    return qobject_cast<ComparisonWidget *>(m_documents->widget(index));
}

void CompareMainWindowTest::compareTwoFiles()
{
    QVERIFY(openAndWait(fixtureUrl("compare-large.massif")));
    QAction *compareWith = m_window->actionCollection()->action(QStringLiteral("file_compare"));
    QVERIFY(compareWith);
    QVERIFY(compareWith->isEnabled());

    m_window->compareFiles(fixtureUrl("compare-small.massif"), fixtureUrl("compare-large.massif"));
    QCOMPARE(m_documents->count(), 2);
    QCOMPARE(m_documents->currentIndex(), 1);
    QCOMPARE(m_documents->tabText(1), QStringLiteral("compare-small.massif vs compare-large.massif"));
    ComparisonWidget *comparison = comparisonAt(1);
    QVERIFY(comparison);
    QSignalSpy finished(comparison, &ComparisonWidget::loadingFinished);
    QVERIFY(finished.wait(10000));
    // The documents stay in view; the window has nothing of a file to show in its title.
    QCOMPARE(m_stack->currentWidget()->objectName(), QStringLiteral("displayPage"));
    QVERIFY(m_window->actionCollection()->action(QStringLiteral("file_close"))->isEnabled());
    QVERIFY(!compareWith->isEnabled());
    QVERIFY(comparison->findChild<QLabel *>(QStringLiteral("comparisonSummary"))->text().startsWith(QLatin1String("Peak ")));

    m_documents->setCurrentIndex(0);
    QVERIFY(compareWith->isEnabled());
    m_documents->setCurrentIndex(1);
    m_window->closeCurrentFile();
    QCOMPARE(m_documents->count(), 1);
    QVERIFY(qobject_cast<DocumentWidget *>(m_documents->currentWidget()));
}

void CompareMainWindowTest::closingEitherSide_data()
{
    QTest::addColumn<int>("closeIndex");
    QTest::addColumn<bool>("waitForComparison");

    QTest::newRow("document while the comparison loads") << 0 << false;
    QTest::newRow("document after the comparison loaded") << 0 << true;
    QTest::newRow("comparison while loading") << 1 << false;
    QTest::newRow("comparison after loading") << 1 << true;
}

// A comparison reads its files itself: closing a document leaves it whole,
// and closing it while it loads stops its parses.
void CompareMainWindowTest::closingEitherSide()
{
    QFETCH(int, closeIndex);
    QFETCH(bool, waitForComparison);

    m_window->openFile(fixtureUrl("compare-large.massif"));
    m_window->compareFiles(fixtureUrl("compare-small.massif"), fixtureUrl("compare-large.massif"));
    QPointer<ComparisonWidget> comparison = comparisonAt(1);
    QVERIFY(comparison);
    QSignalSpy finished(comparison, &ComparisonWidget::loadingFinished);
    if (waitForComparison) {
        QVERIFY(finished.wait(10000));
    }
    QPointer<QWidget> closed = m_documents->widget(closeIndex);
    QMetaObject::invokeMethod(m_window.get(), "closeFileTab", Q_ARG(int, closeIndex));
    QCOMPARE(m_documents->count(), 1);
    QTRY_VERIFY(!closed);
    if (closeIndex == 0) {
        QVERIFY(comparison);
        // It may have finished while the closed document went away.
        QTRY_VERIFY_WITH_TIMEOUT(comparison->isLoaded(), 10000);
        QCOMPARE(comparison->comparison()->change(), qint64(50752 - 23632));
    }
}

void CompareMainWindowTest::reloadingASideReloadsTheComparison()
{
    QVERIFY(openAndWait(fixtureUrl("compare-large.massif")));
    m_window->compareFiles(fixtureUrl("compare-small.massif"), fixtureUrl("compare-large.massif"));
    ComparisonWidget *comparison = comparisonAt(1);
    QSignalSpy finished(comparison, &ComparisonWidget::loadingFinished);
    QVERIFY(finished.wait(10000));

    m_documents->setCurrentIndex(0);
    m_window->reloadCurrentFile();
    QCOMPARE(m_documents->count(), 2);
    QCOMPARE(comparisonAt(1), comparison);
    QVERIFY(!comparison->isLoaded());
    QVERIFY(finished.wait(10000));
    QVERIFY(comparison->isLoaded());
}

void CompareMainWindowTest::snapshotMenus()
{
    DocumentWidget *document = openAndWait(fixtureUrl("compare-large.massif"));
    QVERIFY(document && document->isParsed());
    const SnapshotItem *early = Comparison::snapshotByNumber(document->data(), 4);
    QVERIFY(early);
    {
        QMenu menu;
        QVERIFY(QMetaObject::invokeMethod(m_window.get(), "contextMenuRequested", Q_ARG(Massif::ModelItem, ModelItem(nullptr, early)), Q_ARG(QMenu *, &menu)));
        QCOMPARE(entriesOf(menu), (QStringList {QStringLiteral("Compare With Peak"), QStringLiteral("Set as Baseline")}));
        for (QAction *action : menu.actions()) {
            if (action->text() == QStringLiteral("Set as Baseline")) {
                action->trigger();
            }
        }
    }
    {
        // A node of a snapshot, as the chart gives it, offers the same for its snapshot.
        const SnapshotItem *late = Comparison::snapshotByNumber(document->data(), 94);
        QMenu menu;
        QVERIFY(QMetaObject::invokeMethod(m_window.get(),
                                          "contextMenuRequested",
                                          Q_ARG(Massif::ModelItem, ModelItem(late->heapTree()->children().constFirst(), late)),
                                          Q_ARG(QMenu *, &menu)));
        const QStringList entries = entriesOf(menu);
        QVERIFY(entries.contains(QStringLiteral("Compare With Snapshot #4")));
        QVERIFY(entries.contains(QStringLiteral("Mark as Custom Allocator")));
        for (QAction *action : menu.actions()) {
            if (action->text() == QStringLiteral("Compare With Snapshot #4")) {
                action->trigger();
            }
        }
    }
    QTRY_COMPARE(m_documents->count(), 2);
    QCOMPARE(m_documents->tabText(1), QStringLiteral("compare-large.massif #4 vs compare-large.massif #94"));
}

void CompareMainWindowTest::dataTreeMenuOnASnapshot()
{
    QVERIFY(openAndWait(fixtureUrl("compare-large.massif")));
    auto *tree = m_window->findChild<QTreeView *>(QStringLiteral("dataTreeView"));
    QVERIFY(tree);
    // Snapshot 4 is a detailed one, at row 4.
    const QModelIndex row = tree->model()->index(4, 0);
    QVERIFY(row.data().toString().contains(QLatin1String("Snapshot #4")));
    tree->scrollTo(row);
    const QPoint pos = tree->visualRect(row).center();

    const QStringList entries = chooseFromContextMenu(tree->viewport(), pos, QStringLiteral("Compare With Peak"));
    QVERIFY(entries.contains(QStringLiteral("Compare With Peak")));
    QTRY_COMPARE(m_documents->count(), 2);
    QCOMPARE(m_documents->tabText(1), QStringLiteral("compare-large.massif #4 vs compare-large.massif"));
}

void CompareMainWindowTest::chartRangeComparesStartWithEnd()
{
    DocumentWidget *document = openAndWait(fixtureUrl("compare-large.massif"));
    QVERIFY(document && document->isParsed());
    auto *tab = document->findChild<ChartTab *>();
    QVERIFY(tab);
    auto *zoom = tab->findChild<ChartZoom *>();
    QVERIFY(zoom);
    QWidget *chart = nullptr;
    for (QWidget *widget : tab->findChildren<QWidget *>()) {
        if (widget->inherits("KChart::Chart")) {
            chart = widget;
        }
    }
    QVERIFY(chart);
    QVERIFY(QTest::qWaitForWindowExposed(chart));
    // Snapshots 7 and 46 are not detailed; 9 and 44 are the first and last detailed ones between them.
    zoom->zoomTo(Comparison::snapshotByNumber(document->data(), 7)->time(), Comparison::snapshotByNumber(document->data(), 46)->time());
    chart->grab();

    const QPoint pos = zoom->plotArea().center().toPoint();
    const QStringList entries = chooseFromContextMenu(chart, pos, QStringLiteral("Compare Start With End"));
    QVERIFY(entries.contains(QStringLiteral("Compare Start With End")));
    QTRY_COMPARE(m_documents->count(), 2);
    QCOMPARE(m_documents->tabText(1), QStringLiteral("compare-large.massif #9 vs compare-large.massif #44"));
}

QTEST_MAIN(CompareMainWindowTest)

#include "comparemainwindowtest.moc"
