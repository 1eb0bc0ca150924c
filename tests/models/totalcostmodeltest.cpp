/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "totalcostmodel.h"

#include "formatting.h"
#include "modeltestdata.h"

#include <KChartGlobal>
#include <KChartLineAttributes>

#include <QAbstractItemModelTester>
#include <QBrush>
#include <QPen>
#include <QSignalSpy>
#include <QStandardPaths>

using namespace Massif;

class TotalCostModelTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void withoutSource();
    void rowsAreSnapshots();
    void tooltipDescribesNextRow();
    void chartRoles();
    void lookups();
    void switchingSourceAnnouncesRows();
    void settingsChangeAnnouncesEveryCell();
};

void TotalCostModelTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TotalCostModelTest::withoutSource()
{
    TotalCostModel model;
    QAbstractItemModelTester tester(&model);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.columnCount(), 2);
    QVERIFY(!model.peakSnapshotIndex().isValid());
    QVERIFY(!model.snapshotIndex(nullptr).isValid());
    QCOMPARE(model.modelItemAt(model.index(0, 0)), ModelItem(nullptr, nullptr));

    // A file without snapshots has no rows to announce, coming or going.
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsAboutToBeInserted);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsAboutToBeRemoved);
    FileData empty;
    model.setFileData(&empty);
    model.setFileData(nullptr);
    QCOMPARE(inserted.count() + removed.count(), 0);
}

void TotalCostModelTest::rowsAreSnapshots()
{
    const auto data = loadFixture(QStringLiteral("simple.massif"));
    QVERIFY(data);
    TotalCostModel model;
    QAbstractItemModelTester tester(&model);
    model.setFileData(data.get());

    // ms_print: 54 snapshots; snapshot 41 (the peak) at 245,076 i with 142,384 B useful heap and no stacks.
    QCOMPARE(model.rowCount(), 54);
    QCOMPARE(model.columnCount(), 2);
    QCOMPARE(model.rowCount(model.index(3, 0)), 0);
    QCOMPARE(model.data(model.index(41, 0)).toDouble(), 245076.0);
    QCOMPARE(model.data(model.index(41, 1)).toULongLong(), quint64(142384));
    QCOMPARE(model.data(model.index(1, 1)).toULongLong(), quint64(8000));
    QCOMPARE(model.data(model.index(53, 1)).toULongLong(), quint64(0));
    QCOMPARE(model.peakSnapshotIndex(), model.index(41, 0));
}

void TotalCostModelTest::tooltipDescribesNextRow()
{
    const auto data = loadFixture(QStringLiteral("simple.massif"));
    QVERIFY(data);
    TotalCostModel model;
    model.setFileData(data.get());

    // Snapshot 1: 8,000 B heap, 8 B extra, no stacks.
    const QString first =
        QStringLiteral("Snapshot #1:\nHeap cost of %1\nExtra heap cost of %2\nStack cost of %3").arg(formatCost(8000), formatCost(8), formatCost(0));
    QCOMPARE(model.data(model.index(0, 0), Qt::ToolTipRole).toString(), first);
    QCOMPARE(model.data(model.index(0, 1), Qt::ToolTipRole).toString(), first);
    QVERIFY(model.data(model.index(40, 0), Qt::ToolTipRole).toString().startsWith(QLatin1String("Snapshot #41:\n")));
    // The last row has no successor and describes itself.
    QVERIFY(model.data(model.index(53, 0), Qt::ToolTipRole).toString().startsWith(QLatin1String("Snapshot #53:\n")));
    QVERIFY(!model.data(model.index(54, 0), Qt::ToolTipRole).isValid());
}

void TotalCostModelTest::chartRoles()
{
    const auto data = loadFixture(QStringLiteral("simple.massif"));
    QVERIFY(data);
    TotalCostModel model;
    model.setFileData(data.get());

    const auto transparency = [&model](int row, int column) {
        return model.data(model.index(row, column), KChart::LineAttributesRole).value<KChart::LineAttributes>().transparency();
    };
    const QVariant attributes = model.data(model.index(0, 1), KChart::LineAttributesRole);
    QCOMPARE(attributes.metaType().name(), "KChart::LineAttributes");
    QVERIFY(attributes.value<KChart::LineAttributes>().displayArea());
    QCOMPARE(transparency(3, 0), 50u);

    model.setHighlight(model.index(3, 0));
    QCOMPARE(transparency(3, 0), 255u);
    QCOMPARE(transparency(3, 1), 50u);
    QCOMPARE(transparency(4, 0), 50u);

    QCOMPARE(model.data(model.index(5, 1), KChart::DatasetPenRole).value<QPen>().color(), QColor(Qt::red));
    const QBrush brush = model.data(model.index(5, 1), KChart::DatasetBrushRole).value<QBrush>();
    QCOMPARE(brush.color(), QColor(Qt::red));
    QCOMPARE(brush.style(), Qt::SolidPattern);
    QVERIFY(!model.data(model.index(5, 1), Qt::DecorationRole).isValid());

    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Total Memory Heap Consumption"));
    QCOMPARE(model.headerData(0, Qt::Horizontal, KChart::DatasetBrushRole).value<QBrush>().color(), QColor(Qt::red));
    QCOMPARE(model.headerData(0, Qt::Horizontal, KChart::DatasetPenRole).value<QPen>().color(), QColor(Qt::red));
    // Everything else is the base class's: a vertical header numbers the rows from 1.
    QVERIFY(!model.headerData(1, Qt::Horizontal, KChart::DatasetBrushRole).isValid());
    QCOMPARE(model.headerData(0, Qt::Vertical).toInt(), 1);
}

void TotalCostModelTest::lookups()
{
    const auto data = loadFixture(QStringLiteral("simple.massif"));
    const auto other = loadFixture(QStringLiteral("sites.massif"));
    QVERIFY(data && other);
    TotalCostModel model;
    model.setFileData(data.get());

    const SnapshotItem *eleven = data->snapshots().at(11);
    QCOMPARE(model.snapshotIndex(eleven), model.index(11, 0));
    QVERIFY(!model.snapshotIndex(other->snapshots().at(11)).isValid());
    QCOMPARE(model.modelItemIndex(ModelItem(nullptr, eleven)), model.index(11, 0));
    // An item naming a node belongs to other views, even with its snapshot set.
    QVERIFY(!model.modelItemIndex(ModelItem(eleven->heapTree(), eleven)).isValid());
    QVERIFY(!model.modelItemIndex(ModelItem(nullptr, nullptr)).isValid());

    QCOMPARE(model.modelItemAt(model.index(11, 1)), ModelItem(nullptr, eleven));
    QCOMPARE(model.modelItemAt(QModelIndex()), ModelItem(nullptr, nullptr));
    TotalCostModel stranger;
    stranger.setFileData(other.get());
    QCOMPARE(model.modelItemAt(stranger.index(28, 0)), ModelItem(nullptr, nullptr));
}

void TotalCostModelTest::switchingSourceAnnouncesRows()
{
    const auto simple = loadFixture(QStringLiteral("simple.massif"));
    const auto sites = loadFixture(QStringLiteral("sites.massif"));
    QVERIFY(simple && sites);
    TotalCostModel model;
    QAbstractItemModelTester tester(&model);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

    model.setFileData(nullptr);
    QCOMPARE(removed.count() + inserted.count(), 0);

    model.setFileData(simple.get());
    QCOMPARE(removed.count(), 0);
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.at(0).at(1).toInt(), 0);
    QCOMPARE(inserted.at(0).at(2).toInt(), 53);

    model.setHighlight(model.index(2, 1));
    model.setFileData(sites.get());
    QCOMPARE(removed.count(), 1);
    QCOMPARE(removed.at(0).at(2).toInt(), 53);
    QCOMPARE(inserted.count(), 2);
    QCOMPARE(inserted.at(1).at(2).toInt(), 28);
    QCOMPARE(model.rowCount(), 29);
    // The peak of sites.massif is snapshot 19, marked "peak" in the file.
    QCOMPARE(model.peakSnapshotIndex(), model.index(19, 0));

    model.setFileData(nullptr);
    QCOMPARE(removed.count(), 2);
    QCOMPARE(model.rowCount(), 0);
}

// A chart redraws only what a model announces: after a change of settings,
// every cell and the header, and nothing on an empty model.
void TotalCostModelTest::settingsChangeAnnouncesEveryCell()
{
    TotalCostModel model;
    QSignalSpy cells(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy headers(&model, &QAbstractItemModel::headerDataChanged);
    model.settingsChanged();
    QCOMPARE(cells.count(), 0);
    QCOMPARE(headers.count(), 0);

    const auto data = loadFixture(QStringLiteral("simple.massif"));
    QVERIFY(data);
    model.setFileData(data.get());
    model.settingsChanged();
    QCOMPARE(cells.count(), 1);
    QCOMPARE(cells.at(0).at(0).value<QModelIndex>(), model.index(0, 0));
    QCOMPARE(cells.at(0).at(1).value<QModelIndex>(), model.index(53, 1));
    QCOMPARE(headers.count(), 1);
    QCOMPARE(headers.at(0).at(0).value<Qt::Orientation>(), Qt::Horizontal);
    QCOMPARE(headers.at(0).at(2).toInt(), 1);
    model.setFileData(nullptr);
}

QTEST_MAIN(TotalCostModelTest)

#include "totalcostmodeltest.moc"
