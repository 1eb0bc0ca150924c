/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "allocatorstab.h"
#include "filedata.h"
#include "parser.h"
#include "settings.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <KConfig>
#include <KLocalizedString>
#include <KSharedConfig>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMap>
#include <QMenu>
#include <QPaintEvent>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <memory>

namespace {

std::unique_ptr<Massif::FileData> parseFixture(const QString &name)
{
    QFile file(QStringLiteral(QUILLMAP_FIXTURES_DIR "/") + name);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    Massif::Parser parser;
    return std::unique_ptr<Massif::FileData>(parser.parse(&file));
}

/// The allocation sites of a file as read from its text: the functions
/// directly below each root, with their highest cost, most expensive first.
QStringList sitesByPeakFromFile(const QString &name)
{
    QFile file(QStringLiteral(QUILLMAP_FIXTURES_DIR "/") + name);
    file.open(QIODevice::ReadOnly);
    static const QRegularExpression siteLine(QStringLiteral("^ n(\\d+): (\\d+) (?:0x[0-9A-F]+: )?(.*)$"));
    QMap<QString, quint64> peaks;
    while (!file.atEnd()) {
        const QRegularExpressionMatch match = siteLine.match(QString::fromUtf8(file.readLine()).chopped(1));
        // massif lists empty leaves ("n0: 0 ..."), which stand for no allocation.
        if (match.hasMatch() && !(match.captured(1) == QLatin1String("0") && match.captured(2) == QLatin1String("0"))) {
            QString site = match.captured(3);
            if (site.contains(QLatin1String("below massif's threshold"))) {
                site = QStringLiteral("below threshold");
            } else {
                site = site.section(QLatin1String(" ("), 0, 0);
            }
            peaks[site] = std::max(peaks.value(site), match.captured(2).toULongLong());
        }
    }
    QStringList sites = peaks.keys();
    std::stable_sort(sites.begin(), sites.end(), [&peaks](const QString &a, const QString &b) {
        return peaks.value(a) > peaks.value(b);
    });
    return sites;
}

QStringList column0(const QTreeView *view)
{
    QStringList texts;
    for (int row = 0; row < view->model()->rowCount(); ++row) {
        texts << view->model()->index(row, 0).data().toString();
    }
    return texts;
}

int widestText(const QTreeView *view, int column)
{
    int widest = 0;
    for (int row = 0; row < view->model()->rowCount(); ++row) {
        widest = std::max(widest, view->fontMetrics().horizontalAdvance(view->model()->index(row, column).data().toString()));
    }
    return widest;
}

Massif::ModelItem peakItem(const QTreeView *view, int row)
{
    return view->model()->index(row, 0).data(Qt::UserRole + 2).value<Massif::ModelItem>();
}

/// The first node below a root whose label holds @p function.
const Massif::TreeLeafItem *firstSiteNode(const Massif::FileData *data, const QByteArray &function, const Massif::SnapshotItem **snapshot)
{
    const auto snapshots = data->snapshots();
    for (const Massif::SnapshotItem *candidate : snapshots) {
        if (!candidate->heapTree()) {
            continue;
        }
        const auto children = candidate->heapTree()->children();
        for (const Massif::TreeLeafItem *child : children) {
            if (child->label().contains(function)) {
                *snapshot = candidate;
                return child;
            }
        }
    }
    return nullptr;
}

/// Closes the next popup menu, noting that one was shown.
void closeNextPopup(bool *shown)
{
    auto *timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, shown] {
        if (QWidget *popup = QApplication::activePopupWidget()) {
            *shown = true;
            popup->close();
            timer->deleteLater();
        }
    });
    timer->start(10);
}

/// Triggers the entry @p text of the next popup menu, noting the entries it had.
void triggerInNextPopup(const QString &text, QStringList *entries)
{
    auto *timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, text, entries] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu) {
            return;
        }
        timer->deleteLater();
        QAction *chosen = nullptr;
        for (QAction *action : menu->actions()) {
            if (!action->isSeparator()) {
                *entries << KLocalizedString::removeAcceleratorMarker(action->text());
                if (entries->constLast() == text) {
                    chosen = action;
                }
            }
        }
        menu->close();
        if (chosen) {
            chosen->trigger();
        }
    });
    timer->start(10);
}

/// Collects the regions a widget paints.
class PaintRecorder : public QObject
{
public:
    explicit PaintRecorder(QRegion *painted) : painted(painted)
    {
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            *painted += static_cast<QPaintEvent *>(event)->region();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QRegion *painted;
};

struct ShownTab
{
    explicit ShownTab(Massif::FileData *data) : tab(new AllocatorsTab(data, &guiParent, nullptr)), view(tab->findChild<QTreeView *>())
    {
        tab->resize(700, 400);
        tab->show();
        if (!QTest::qWaitForWindowExposed(tab.get())) {
            qWarning() << "the tab was not exposed";
        }
    }

    KXMLGUIClient guiParent;
    std::unique_ptr<AllocatorsTab> tab;
    QTreeView *view;
};

} // namespace

class AllocatorsTabTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        KLocalizedString::setApplicationDomain(QByteArrayLiteral("quillmap"));
        KConfig::setMainConfigName(QStringLiteral("allocatorstabtestrc"));
        qRegisterMetaType<QMenu *>();
    }

    void init()
    {
        KSharedConfig::openConfig()->deleteGroup(QStringLiteral("Settings"));
        KSharedConfig::openConfig()->sync();
        Massif::Settings::self()->read();
    }

    void sortedByPeakBytes_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::newRow("simple") << QStringLiteral("simple.massif");
        QTest::newRow("many") << QStringLiteral("many.massif");
    }

    void sortedByPeakBytes()
    {
        QFETCH(QString, fixture);
        auto data = parseFixture(fixture);
        QVERIFY(data);
        ShownTab shown(data.get());
        QVERIFY(!shown.view->rootIsDecorated());
        QCOMPARE(shown.view->header()->sortIndicatorSection(), 1);
        QCOMPARE(shown.view->header()->sortIndicatorOrder(), Qt::DescendingOrder);
        QCOMPARE(column0(shown.view), sitesByPeakFromFile(fixture));
    }

    void longFunctionsLeavePeakInView()
    {
        auto data = parseFixture(QStringLiteral("templates.massif"));
        QVERIFY(data);
        ShownTab shown(data.get());
        const QHeaderView *header = shown.view->header();
        const int viewWidth = shown.view->viewport()->width();
        // The longest template-laden name alone is wider than the view...
        QVERIFY(widestText(shown.view, 0) > viewWidth);
        // ...yet the peak cost is in sight.
        QVERIFY(header->sectionPosition(1) + header->sectionSize(1) <= viewWidth);

        // Short names still get all the room they need.
        auto simple = parseFixture(QStringLiteral("simple.massif"));
        QVERIFY(simple);
        ShownTab simpleShown(simple.get());
        QVERIFY(simpleShown.view->columnWidth(0) >= widestText(simpleShown.view, 0));
    }

    void currentRowReportsPeakNode()
    {
        auto data = parseFixture(QStringLiteral("simple.massif"));
        ShownTab shown(data.get());
        QSignalSpy selected(shown.tab.get(), &DocumentTabInterface::modelItemSelected);

        shown.view->setCurrentIndex(shown.view->model()->index(1, 2));
        QCOMPARE(selected.count(), 1);
        auto item = selected.takeFirst().first().value<Massif::ModelItem>();
        QVERIFY(item.first->label().contains("grow_string"));
        QCOMPARE(item.first->cost(), quint64(16384));
        QCOMPARE(item.second, nullptr);

        // Each move reports once.
        QTest::keyClick(shown.view, Qt::Key_Down);
        QCOMPARE(selected.count(), 1);
        item = selected.takeFirst().first().value<Massif::ModelItem>();
        QCOMPARE(item, peakItem(shown.view, 2));
        QVERIFY(item.first->label().contains("make_table"));
    }

    void selectsItemChosenElsewhere()
    {
        auto data = parseFixture(QStringLiteral("simple.massif"));
        ShownTab shown(data.get());
        shown.view->setCurrentIndex(shown.view->model()->index(0, 0));
        QSignalSpy selected(shown.tab.get(), &DocumentTabInterface::modelItemSelected);

        const Massif::SnapshotItem *snapshot = nullptr;
        const Massif::TreeLeafItem *node = firstSiteNode(data.get(), "make_table", &snapshot);
        QVERIFY(node);
        shown.tab->selectModelItem({node, snapshot});

        const QModelIndexList rows = shown.view->selectionModel()->selectedRows();
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.first().data().toString(), QStringLiteral("make_table"));
        QCOMPARE(shown.view->currentIndex().row(), 0);
        QCOMPARE(selected.count(), 0);

        // A snapshot alone, or nothing, has no site: the selection stays.
        shown.tab->selectModelItem({nullptr, snapshot});
        shown.tab->selectModelItem({});
        QCOMPARE(shown.view->selectionModel()->selectedRows(), rows);
    }

    void scrollsToTheSelectedSite()
    {
        auto data = parseFixture(QStringLiteral("many.massif"));
        ShownTab shown(data.get());
        shown.tab->resize(600, 120);
        const int last = shown.view->model()->rowCount() - 1;
        QVERIFY(last > 20);
        shown.view->setCurrentIndex(shown.view->model()->index(0, 0));

        const Massif::ModelItem item = peakItem(shown.view, last);
        shown.tab->selectModelItem(item);
        const QModelIndex selected = shown.view->model()->index(last, 0);
        QVERIFY(shown.view->selectionModel()->isRowSelected(last, QModelIndex()));
        QVERIFY(shown.view->viewport()->rect().intersects(shown.view->visualRect(selected)));
    }

    void contextMenuOnlyWhenFilled()
    {
        auto data = parseFixture(QStringLiteral("simple.massif"));
        ShownTab shown(data.get());
        QSignalSpy requested(shown.tab.get(), &DocumentTabInterface::contextMenuRequested);

        // Below the last row: the empty pair, and nobody adds anything.
        bool shownMenu = false;
        closeNextPopup(&shownMenu);
        const QPoint below(20, shown.view->viewport()->height() - 5);
        QVERIFY(!shown.view->indexAt(below).isValid());
        sendContextMenu(shown.view, below);
        QCOMPARE(requested.count(), 1);
        QCOMPARE(requested.first().first().value<Massif::ModelItem>(), Massif::ModelItem());
        QVERIFY(!shownMenu);

        // On a row, with a listener that adds an entry: the menu runs.
        connect(shown.tab.get(), &DocumentTabInterface::contextMenuRequested, this, [](const Massif::ModelItem &, QMenu *menu) {
            menu->addAction(QStringLiteral("Mark as Custom Allocator"));
        });
        const QPoint onRow = shown.view->visualRect(shown.view->model()->index(0, 0)).center();
        sendContextMenu(shown.view, onRow);
        QCOMPARE(requested.count(), 2);
        QCOMPARE(requested.last().first().value<Massif::ModelItem>(), peakItem(shown.view, 0));
        QTRY_VERIFY(shownMenu);
    }

    void copiesRows_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QList<int>>("rows");
        QTest::addColumn<QString>("expected");
        // Sorted by peak: make_block, grow_string, make_table.
        QTest::newRow("menu on a row that is not selected") << QStringLiteral("menu") << QList<int> {1} << QStringLiteral("grow_string\t16.0 KiB\tsimple.c:43");
        QTest::newRow("menu with a listener's entries")
            << QStringLiteral("menu+listener") << QList<int> {2} << QStringLiteral("make_table\t7.8 KiB\tsimple.c:38");
        QTest::newRow("Ctrl+C on the current row") << QStringLiteral("shortcut") << QList<int> {1} << QStringLiteral("grow_string\t16.0 KiB\tsimple.c:43");
        QTest::newRow("Ctrl+C on two rows, top to bottom")
            << QStringLiteral("shortcut") << QList<int> {2, 1} << QStringLiteral("grow_string\t16.0 KiB\tsimple.c:43\nmake_table\t7.8 KiB\tsimple.c:38");
    }

    void copiesRows()
    {
        QFETCH(QString, how);
        QFETCH(QList<int>, rows);
        QFETCH(QString, expected);
        auto data = parseFixture(QStringLiteral("simple.massif"));
        QVERIFY(data);
        ShownTab shown(data.get());
        QApplication::clipboard()->clear();
        QAbstractItemModel *model = shown.view->model();

        if (how == QLatin1String("shortcut")) {
            shown.view->setCurrentIndex(model->index(rows.constFirst(), 0));
            for (int row : std::as_const(rows)) {
                shown.view->selectionModel()->select(model->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
            }
            shown.tab->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(shown.tab.get()));
            shown.view->setFocus();
            QTest::keyClick(shown.view, Qt::Key_C, Qt::ControlModifier);
        } else {
            QStringList expectedEntries {QStringLiteral("Copy")};
            if (how == QLatin1String("menu+listener")) {
                connect(shown.tab.get(), &DocumentTabInterface::contextMenuRequested, this, [](const Massif::ModelItem &, QMenu *menu) {
                    menu->addAction(QStringLiteral("Mark as Custom Allocator"));
                });
                expectedEntries << QStringLiteral("Mark as Custom Allocator");
            }
            shown.view->setCurrentIndex(model->index(0, 0));
            QStringList entries;
            triggerInNextPopup(QStringLiteral("Copy"), &entries);
            sendContextMenu(shown.view, shown.view->visualRect(model->index(rows.constFirst(), 1)).center());
            QCOMPARE(entries, expectedEntries);
        }
        QCOMPARE(QApplication::clipboard()->text(), expected);
    }

    void settingsChangeReachesTheTable()
    {
        auto data = parseFixture(QStringLiteral("templates.massif"));
        ShownTab shown(data.get());
        const QStringList before = column0(shown.view);
        QVERIFY(before.contains(QStringLiteral("std::__new_allocator<int>::allocate(unsigned long, void const*)")));
        QSignalSpy changed(shown.view->model(), &QAbstractItemModel::dataChanged);

        Massif::Settings::setShortenTemplates(true);
        QVERIFY(Massif::Settings::self()->save());
        shown.tab->settingsChanged();

        QVERIFY(changed.count() >= 1);
        const QStringList after = column0(shown.view);
        QVERIFY(after.contains(QStringLiteral("std::__new_allocator<>::allocate(unsigned long, void const*)")));
        QCOMPARE(after.size(), before.size());
    }

    // The peak costs follow a new precision at once, repainted and in full,
    // not only when something else redraws their column.
    void precisionChangeRedrawsPeaks_data()
    {
        QTest::addColumn<int>("precision");
        QTest::newRow("more decimals") << 3;
        QTest::newRow("none") << 0;
    }

    void precisionChangeRedrawsPeaks()
    {
        QFETCH(int, precision);
        auto data = parseFixture(QStringLiteral("simple.massif"));
        ShownTab shown(data.get());
        QCoreApplication::processEvents();

        QRegion painted;
        PaintRecorder recorder(&painted);
        shown.view->viewport()->installEventFilter(&recorder);
        Massif::Settings::self()->prettyCostPrecisionItem()->setValue(precision);
        QVERIFY(Massif::Settings::self()->save());
        shown.tab->settingsChanged();
        QTRY_VERIFY(!painted.isEmpty());
        QCoreApplication::processEvents();

        const QAbstractItemModel *model = shown.view->model();
        int widest = 0;
        static const QRegularExpression decimals(QStringLiteral("^\\d+(\\.\\d{%1})? \\S+$").arg(precision));
        for (int row = 0; row < model->rowCount(); ++row) {
            const QModelIndex peak = model->index(row, 1);
            QVERIFY2(decimals.match(peak.data().toString()).hasMatch(), qPrintable(peak.data().toString()));
            QVERIFY(painted.contains(shown.view->visualRect(peak)));
            widest = std::max(widest, shown.view->fontMetrics().horizontalAdvance(peak.data().toString()));
        }
        // Wide enough for the longest peak text, which is not cut.
        QVERIFY2(shown.view->columnWidth(1) > widest, qPrintable(QStringLiteral("%1 %2").arg(shown.view->columnWidth(1)).arg(widest)));
    }

private:
    static void sendContextMenu(QTreeView *view, const QPoint &pos)
    {
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, view->viewport()->mapToGlobal(pos));
        QApplication::sendEvent(view->viewport(), &event);
    }
};

QTEST_MAIN(AllocatorsTabTest)

#include "allocatorstabtest.moc"
