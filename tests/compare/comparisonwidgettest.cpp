/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "comparisonwidget.h"
#include "comparisonlauncher.h"

#include "../models/modeltestdata.h"
#include "comparison.h"
#include "comparisonchart.h"
#include "difftreemodel.h"
#include "filedata.h"
#include "flamegraphview.h"
#include "formatting.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

using namespace Massif;

namespace {

QUrl fixture(const char *name)
{
    return QUrl::fromLocalFile(QStringLiteral(QUILLMAP_FIXTURES_DIR "/") + QString::fromLatin1(name));
}

QStringList actionTexts(const QMenu &menu)
{
    QStringList texts;
    const auto actions = menu.actions();
    for (const QAction *action : actions) {
        if (!action->isSeparator()) {
            texts << action->text();
        }
    }
    return texts;
}

QAction *actionNamed(const QMenu &menu, const QString &text)
{
    const auto actions = menu.actions();
    for (QAction *action : actions) {
        if (action->text() == text) {
            return action;
        }
    }
    return nullptr;
}

// What the nodes of one function cost in a tree, matched by the label's function piece.
quint64 functionCost(const TreeLeafItem *node, const QByteArray &piece)
{
    if (!node) {
        return 0;
    }
    if (node->label().contains(piece)) {
        return node->cost();
    }
    quint64 cost = 0;
    const auto children = node->children();
    for (const TreeLeafItem *child : children) {
        cost += functionCost(child, piece);
    }
    return cost;
}

} // namespace

class ComparisonWidgetTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void twoRuns();
    void treeAndSitesSortedByChange();
    void snapshotsOfOneFile();
    void chartCurves();
    void filterKeepsPathsToMatches();
    void flameGraphColouredByChange_data();
    void flameGraphColouredByChange();
    void failedSide();
    void closesWhileLoading_data();
    void closesWhileLoading();
    void launcherMenus();
    void launcherReloadsAndCloses();
};

void ComparisonWidgetTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void ComparisonWidgetTest::twoRuns()
{
    ComparisonWidget widget({fixture("compare-small.massif"), -1}, {fixture("compare-large.massif"), -1}, {}, nullptr);
    QSignalSpy finished(&widget, &ComparisonWidget::loadingFinished);
    QVERIFY(finished.wait(10000));
    QVERIFY(widget.isLoaded());
    QCOMPARE(widget.title(), QStringLiteral("compare-small.massif vs compare-large.massif"));

    const auto small = loadFixture(QStringLiteral("compare-small.massif"));
    const auto large = loadFixture(QStringLiteral("compare-large.massif"));
    const QString expected = Comparison::ofPeaks(small.get(), large.get()).summary();
    QVERIFY(expected.startsWith(QStringLiteral("Peak %1 -> %2 (+").arg(formatCost(23632), formatCost(50752))));
    QCOMPARE(widget.summary(), expected);
    QCOMPARE(widget.findChild<QLabel *>(QStringLiteral("comparisonSummary"))->text(), expected);

    // Peaks by default, on either side.
    QCOMPARE(widget.findChild<QComboBox *>(QStringLiteral("baselineSnapshot"))->currentData().toLongLong(), 49);
    QCOMPARE(widget.findChild<QComboBox *>(QStringLiteral("currentSnapshot"))->currentData().toLongLong(), 64);
    QVERIFY(widget.findChild<QComboBox *>(QStringLiteral("currentSnapshot"))->currentText().contains(QLatin1String("(peak)")));
}

void ComparisonWidgetTest::treeAndSitesSortedByChange()
{
    ComparisonWidget widget({fixture("compare-small.massif"), -1}, {fixture("compare-large.massif"), -1}, {}, nullptr);
    QSignalSpy finished(&widget, &ComparisonWidget::loadingFinished);
    QVERIFY(finished.wait(10000));

    const QAbstractItemModel *tree = widget.findChild<QTreeView *>(QStringLiteral("diffTree"))->model();
    QAbstractItemModelTester tester(const_cast<QAbstractItemModel *>(tree), QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(tree->rowCount(), 10);
    QCOMPARE(tree->headerData(DiffTreeModel::PercentColumn, Qt::Horizontal).toString(), QStringLiteral("Change %"));
    // Largest absolute change first: record() grew by 20480 bytes, only_small's 3000 bytes are gone.
    QVERIFY(tree->index(0, 0).data().toString().startsWith(QLatin1String("record")));
    QCOMPARE(tree->index(0, DiffTreeModel::ChangeColumn).data().toString(), QStringLiteral("+%1").arg(formatCost(20480)));
    QCOMPARE(tree->index(0, DiffTreeModel::PercentColumn).data().toString(), QStringLiteral("+200.0%"));
    quint64 previous = std::numeric_limits<quint64>::max();
    for (int row = 0; row < tree->rowCount(); ++row) {
        const quint64 change = tree->index(row, DiffTreeModel::ChangeColumn).data(DiffTreeModel::SortKeyRole).toULongLong();
        QVERIFY(change <= previous);
        previous = change;
        const QString function = tree->index(row, 0).data().toString();
        const QString marker = tree->index(row, DiffTreeModel::PercentColumn).data().toString();
        if (function.startsWith(QLatin1String("only_small"))) {
            QCOMPARE(marker, QStringLiteral("gone"));
            QVERIFY(tree->index(row, DiffTreeModel::CurrentColumn).data().toString().isEmpty());
        } else if (function.startsWith(QLatin1String("only_large"))) {
            QCOMPARE(marker, QStringLiteral("new"));
        }
        QVERIFY(tree->index(row, 0).data(Qt::ToolTipRole).toString().contains(QLatin1String("<dt>change:</dt>")));
    }
    // The moved row says where it was.
    QVERIFY(tree->index(0, 0).data(Qt::ToolTipRole).toString().contains(QLatin1String("compare.c:72")));

    const QAbstractItemModel *sites = widget.findChild<QTreeView *>(QStringLiteral("diffSites"))->model();
    QCOMPARE(sites->rowCount(), 11);
    QCOMPARE(sites->index(0, 0).data().toString(), QStringLiteral("record"));
    QCOMPARE(sites->index(0, 1).data().toString(), QStringLiteral("compare.c:304"));
    QCOMPARE(sites->index(10, 1).data().toString(), QStringLiteral("compare.c:72"));
}

void ComparisonWidgetTest::snapshotsOfOneFile()
{
    ComparisonWidget widget({fixture("compare-large.massif"), 4}, {fixture("compare-large.massif"), -1}, {}, nullptr);
    QSignalSpy finished(&widget, &ComparisonWidget::loadingFinished);
    QSignalSpy titles(&widget, &ComparisonWidget::titleChanged);
    QVERIFY(finished.wait(10000));
    QCOMPARE(widget.title(), QStringLiteral("compare-large.massif #4 vs compare-large.massif"));
    QCOMPARE(widget.comparison()->baseline()->number(), 4u);
    QCOMPARE(widget.comparison()->current()->number(), 64u);
    QVERIFY(widget.summary().startsWith(QLatin1String("Snapshot #4 ")));

    widget.setSnapshots(64, 94);
    QCOMPARE(widget.comparison()->baseline()->number(), 64u);
    QCOMPARE(widget.comparison()->current()->number(), 94u);
    QCOMPARE(widget.title(), QStringLiteral("compare-large.massif vs compare-large.massif #94"));
    QCOMPARE(titles.last().at(0).toString(), widget.title());

    // Choosing in the picker compares anew.
    auto *picker = widget.findChild<QComboBox *>(QStringLiteral("baselineSnapshot"));
    const int nine = picker->findData(qint64(9));
    QVERIFY(nine != -1);
    picker->setCurrentIndex(nine);
    Q_EMIT picker->activated(nine);
    QCOMPARE(widget.comparison()->baseline()->number(), 9u);
}

void ComparisonWidgetTest::chartCurves()
{
    ComparisonWidget widget({fixture("compare-small.massif"), -1}, {fixture("compare-large.massif"), -1}, {}, nullptr);
    QSignalSpy finished(&widget, &ComparisonWidget::loadingFinished);
    QVERIFY(finished.wait(10000));
    auto *chart = widget.findChild<ComparisonChart *>(QStringLiteral("comparisonChart"));
    const auto small = loadFixture(QStringLiteral("compare-small.massif"));
    const auto large = loadFixture(QStringLiteral("compare-large.massif"));
    const QStandardItemModel *model = chart->model();
    QCOMPARE(model->columnCount(), 4);
    QCOMPARE(model->rowCount(), int(std::max(small->snapshots().size(), large->snapshots().size())));
    const int last = model->rowCount() - 1;
    QCOMPARE(model->index(last, 0).data().toDouble(), small->snapshots().constLast()->time());
    QCOMPARE(model->index(last, 2).data().toDouble(), large->snapshots().constLast()->time());
    QCOMPARE(model->index(5, 3).data().toDouble(), double(large->snapshots().at(5)->cost()));

    chart->setNormalized(true);
    QCOMPARE(model->index(last, 0).data().toDouble(), 100.0);
    QCOMPARE(model->index(last, 2).data().toDouble(), 100.0);
    QCOMPARE(model->index(0, 2).data().toDouble(), 0.0);
}

void ComparisonWidgetTest::filterKeepsPathsToMatches()
{
    ComparisonWidget widget({fixture("compare-small.massif"), -1}, {fixture("compare-large.massif"), -1}, {}, nullptr);
    QSignalSpy finished(&widget, &ComparisonWidget::loadingFinished);
    QVERIFY(finished.wait(10000));
    const QAbstractItemModel *tree = widget.findChild<QTreeView *>(QStringLiteral("diffTree"))->model();
    widget.findChild<QLineEdit *>(QStringLiteral("filterDiffTree"))->setText(QStringLiteral("LOAD_RECORDS"));
    QTRY_COMPARE(tree->rowCount(), 1);
    const QModelIndex record = tree->index(0, 0);
    QVERIFY(record.data().toString().startsWith(QLatin1String("record")));
    QCOMPARE(tree->rowCount(record), 1);
    QVERIFY(tree->index(0, 0, record).data().toString().startsWith(QLatin1String("load_records")));
}

void ComparisonWidgetTest::flameGraphColouredByChange_data()
{
    QTest::addColumn<QString>("baseline");
    QTest::addColumn<QString>("current");
    QTest::addColumn<QByteArray>("function");
    // 1 grew, -1 shrank, 0 unchanged.
    QTest::addColumn<int>("direction");

    const QString small = QStringLiteral("compare-small.massif");
    const QString large = QStringLiteral("compare-large.massif");
    QTest::newRow("grew") << small << large << QByteArrayLiteral("build_index") << 1;
    QTest::newRow("grew, moved") << small << large << QByteArrayLiteral("record") << 1;
    QTest::newRow("new") << small << large << QByteArrayLiteral("only_large") << 1;
    QTest::newRow("unchanged") << small << large << QByteArrayLiteral("fixed_cache") << 0;
    QTest::newRow("shrank") << large << small << QByteArrayLiteral("build_index") << -1;
    QTest::newRow("shrank, moved") << large << small << QByteArrayLiteral("record") << -1;
    QTest::newRow("unchanged, reversed") << large << small << QByteArrayLiteral("fixed_cache") << 0;
}

void ComparisonWidgetTest::flameGraphColouredByChange()
{
    QFETCH(QString, baseline);
    QFETCH(QString, current);
    QFETCH(QByteArray, function);
    QFETCH(int, direction);
    const QByteArray piece = ": " + function + " (";

    // The direction the files themselves say, at their peaks.
    const auto baselineData = loadFixture(baseline);
    const auto currentData = loadFixture(current);
    const qint64 change = qint64(functionCost(currentData->peak()->heapTree(), piece)) - qint64(functionCost(baselineData->peak()->heapTree(), piece));
    QCOMPARE(change > 0 ? 1 : (change < 0 ? -1 : 0), direction);

    ComparisonWidget widget({fixture(qPrintable(baseline)), -1}, {fixture(qPrintable(current)), -1}, {}, nullptr);
    QSignalSpy finished(&widget, &ComparisonWidget::loadingFinished);
    QVERIFY(finished.wait(10000));
    const auto *view = widget.findChild<FlameGraphView *>(QStringLiteral("comparisonFlameGraph"));
    QVERIFY(view);
    QCOMPARE(view->layout().snapshot(), widget.comparison()->current());

    const FlameGraphPainter &graph = view->graphPainter();
    const QSize canvas(1200, graph.graphHeight());
    QImage image(canvas, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    graph.paint(&painter, canvas, QRectF(QPointF(0, 0), canvas));
    painter.end();

    int frames = 0;
    for (int index = 1; index < view->layout().frameCount(); ++index) {
        if (!view->layout().frame(index).label.contains(piece)) {
            continue;
        }
        ++frames;
        const QColor color = graph.frameColor(index);
        if (direction == 0) {
            QCOMPARE(color.hsvSaturation(), 0);
        } else {
            // Red or blue, not merely tinted.
            QVERIFY(direction > 0 ? color.red() > color.blue() + 20 : color.blue() > color.red() + 20);
            QVERIFY(color.green() < std::max(color.red(), color.blue()));
        }
        // Painted in that colour.
        const QRectF rect = graph.frameRect(index, canvas);
        QVERIFY(rect.width() >= 3);
        QCOMPARE(QColor(image.pixel(rect.topLeft().toPoint() + QPoint(1, 1))), color);
        QVERIFY(view->frameToolTip(index).contains(QLatin1String("<dt>change:</dt>")));
    }
    QVERIFY(frames > 0);
}

void ComparisonWidgetTest::failedSide()
{
    ComparisonWidget widget({fixture("no-such-file.massif"), -1}, {fixture("compare-large.massif"), -1}, {}, nullptr);
    QSignalSpy finished(&widget, &ComparisonWidget::loadingFinished);
    QVERIFY(!finished.wait(1500));
    QVERIFY(!widget.isLoaded());
    QVERIFY(widget.summary().isEmpty());
    QVERIFY(!widget.comparison());
}

void ComparisonWidgetTest::closesWhileLoading_data()
{
    QTest::addColumn<QString>("baseline");
    QTest::addColumn<QString>("current");
    QTest::addColumn<int>("afterMilliseconds");

    QTest::newRow("both loading") << QStringLiteral("compare-small.massif") << QStringLiteral("templates.massif.xz") << 0;
    QTest::newRow("one file loading") << QStringLiteral("stacks.massif") << QStringLiteral("stacks.massif") << 0;
    QTest::newRow("soon after") << QStringLiteral("many.massif") << QStringLiteral("templates.massif.zst") << 5;
    QTest::newRow("one failed") << QStringLiteral("no-such-file.massif") << QStringLiteral("templates.massif.bz2") << 1;
}

// Closing while either side loads stops both parses and frees what arrived.
void ComparisonWidgetTest::closesWhileLoading()
{
    QFETCH(QString, baseline);
    QFETCH(QString, current);
    QFETCH(int, afterMilliseconds);

    for (int round = 0; round < 5; ++round) {
        auto *widget = new ComparisonWidget({fixture(qPrintable(baseline)), -1}, {fixture(qPrintable(current)), -1}, {}, nullptr);
        if (afterMilliseconds) {
            QTest::qWait(afterMilliseconds * round);
        }
        delete widget;
    }

    // Reloading while loading, then closing.
    auto *widget = new ComparisonWidget({fixture(qPrintable(baseline)), -1}, {fixture(qPrintable(current)), -1}, {}, nullptr);
    widget->reload({});
    widget->reload({});
    delete widget;
}

void ComparisonWidgetTest::launcherMenus()
{
    QWidget window;
    auto *documents = new QTabWidget(&window);
    ComparisonLauncher launcher(documents, nullptr, &window);
    // No file's document is current.
    QVERIFY(!launcher.compareWithAction()->isEnabled());

    const QUrl file = fixture("compare-large.massif");
    const auto data = loadFixture(QStringLiteral("compare-large.massif"));
    const SnapshotItem *early = Comparison::snapshotByNumber(data.get(), 4);
    const SnapshotItem *late = Comparison::snapshotByNumber(data.get(), 94);
    {
        QMenu menu;
        launcher.addSnapshotEntries(file, data.get(), early, &menu);
        QCOMPARE(actionTexts(menu), (QStringList {QStringLiteral("Compare With Peak"), QStringLiteral("Set as Baseline")}));
        actionNamed(menu, QStringLiteral("Compare With Peak"))->trigger();
    }
    QTRY_COMPARE(documents->count(), 1);
    QCOMPARE(documents->tabText(0), QStringLiteral("compare-large.massif #4 vs compare-large.massif"));
    {
        // After the peak, the peak is the baseline.
        QMenu menu;
        launcher.addSnapshotEntries(file, data.get(), late, &menu);
        actionNamed(menu, QStringLiteral("Compare With Peak"))->trigger();
    }
    QTRY_COMPARE(documents->count(), 2);
    QCOMPARE(documents->tabText(1), QStringLiteral("compare-large.massif vs compare-large.massif #94"));
    {
        // The peak itself offers no comparison with itself, but can be the baseline.
        QMenu menu;
        launcher.addSnapshotEntries(file, data.get(), data->peak(), &menu);
        QCOMPARE(actionTexts(menu), QStringList {QStringLiteral("Set as Baseline")});
        menu.actions().constLast()->trigger();
    }
    {
        QMenu menu;
        launcher.addSnapshotEntries(file, data.get(), early, &menu);
        QCOMPARE(actionTexts(menu),
                 (QStringList {QStringLiteral("Compare With Peak"), QStringLiteral("Set as Baseline"), QStringLiteral("Compare With Snapshot #64")}));
        actionNamed(menu, QStringLiteral("Compare With Snapshot #64"))->trigger();
    }
    QTRY_COMPARE(documents->count(), 3);
    QCOMPARE(documents->tabText(2), QStringLiteral("compare-large.massif #64 vs compare-large.massif #4"));
    auto *comparison = qobject_cast<ComparisonWidget *>(documents->widget(2));
    // It may have loaded already while the tab was awaited.
    QTRY_VERIFY_WITH_TIMEOUT(comparison->isLoaded(), 10000);
    QCOMPARE(comparison->comparison()->baseline()->number(), 64u);
    QCOMPARE(comparison->comparison()->current()->number(), 4u);
    // Snapshots without a heap tree are not offered.
    {
        QMenu menu;
        launcher.addSnapshotEntries(file, data.get(), data->snapshots().constFirst(), &menu);
        QVERIFY(actionTexts(menu).isEmpty());
    }
}

void ComparisonWidgetTest::launcherReloadsAndCloses()
{
    QWidget window;
    auto *documents = new QTabWidget(&window);
    ComparisonLauncher launcher(documents, nullptr, &window);
    ComparisonWidget *comparison = launcher.compare({fixture("compare-small.massif"), -1}, {fixture("compare-large.massif"), -1});
    QCOMPARE(documents->count(), 1);
    QCOMPARE(documents->currentWidget(), comparison);
    QSignalSpy finished(comparison, &ComparisonWidget::loadingFinished);
    QVERIFY(finished.wait(10000));

    // A file opened anew reads the comparisons of it again; others stay.
    launcher.fileOpened(fixture("simple.massif"));
    QVERIFY(comparison->isLoaded());
    launcher.fileOpened(fixture("compare-small.massif"));
    QVERIFY(!comparison->isLoaded());
    QVERIFY(!comparison->comparison());
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.size(), 2);
    QVERIFY(comparison->isLoaded());

    // The stop button of a loading comparison closes its tab.
    ComparisonWidget *loading = launcher.compare({fixture("templates.massif.xz"), -1}, {fixture("compare-large.massif"), -1});
    QCOMPARE(documents->count(), 2);
    QPointer<ComparisonWidget> watch(loading);
    loading->findChild<QToolButton *>(QStringLiteral("stopParsing"))->click();
    QCOMPARE(documents->count(), 1);
    QTRY_VERIFY(!watch);
}

QTEST_MAIN(ComparisonWidgetTest)

#include "comparisonwidgettest.moc"
