/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "datatreemodel.h"

#include "formatting.h"
#include "modeltestdata.h"

#include <QAbstractItemModelTester>
#include <QBrush>
#include <QHeaderView>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTreeView>

using namespace Massif;

class DataTreeModelTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void withoutSource();
    void treeShape();
    void snapshotRows();
    void nodeRows();
    void backgrounds();
    void lookups();
    void rowsBeyondSnapshotCount();
    void switchingSource();
    void headerInTreeView();

private:
    std::unique_ptr<FileData> m_simple;
};

void DataTreeModelTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    m_simple = loadFixture(QStringLiteral("simple.massif"));
    QVERIFY(m_simple);
}

void DataTreeModelTest::withoutSource()
{
    DataTreeModel model;
    QAbstractItemModelTester tester(&model);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.columnCount(), 1);
    QVERIFY(!model.index(0, 0).isValid());
    QVERIFY(!model.snapshotIndex(m_simple->peak()).isValid());
    QVERIFY(!model.nodeIndex(m_simple->peak()->heapTree()).isValid());
    QVERIFY(!model.modelItemIndex(ModelItem(nullptr, m_simple->peak())).isValid());
    QCOMPARE(model.modelItemAt(QModelIndex()), ModelItem(nullptr, nullptr));
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Snapshots"));
    QCOMPARE(model.headerData(3, Qt::Vertical, Qt::ToolTipRole).toString(), QStringLiteral("Snapshots"));

    // A file without snapshots has no rows to announce, coming or going.
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsAboutToBeInserted);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsAboutToBeRemoved);
    FileData empty;
    model.setFileData(&empty);
    QCOMPARE(model.rowCount(), 0);
    model.setFileData(nullptr);
    QCOMPARE(inserted.count() + removed.count(), 0);
}

void DataTreeModelTest::treeShape()
{
    DataTreeModel model;
    QAbstractItemModelTester tester(&model);
    model.setFileData(m_simple.get());

    // 54 snapshots; snapshot 4 is detailed with grow_string, make_table and make_block
    // under the root, in file order; make_block -> fill_block -> grow_phase -> main.
    QCOMPARE(model.rowCount(), 54);
    const QModelIndex four = model.index(4, 0);
    QCOMPARE(model.rowCount(four), 3);
    QCOMPARE(model.rowCount(model.index(3, 0)), 0);
    QCOMPARE(model.rowCount(model.index(49, 0)), 2);
    QVERIFY(!model.index(0, 1).isValid());
    QVERIFY(!model.index(3, 0, four).isValid());

    const QModelIndex makeBlock = model.index(2, 0, four);
    QCOMPARE(makeBlock.data(DataTreeModel::FilterTextRole).toByteArray(), QByteArray("0x109190: make_block (simple.c:12)"));
    QCOMPARE(makeBlock.parent(), four);
    QVERIFY(!four.parent().isValid());
    QModelIndex deepest = makeBlock;
    for (int level = 0; level < 3; ++level) {
        QCOMPARE(model.rowCount(deepest), 1);
        deepest = model.index(0, 0, deepest);
    }
    QCOMPARE(deepest.data(DataTreeModel::FilterTextRole).toByteArray(), QByteArray("0x109307: main (simple.c:52)"));
    QCOMPARE(model.rowCount(deepest), 0);
    QCOMPARE(deepest.parent().parent().parent(), makeBlock);
}

void DataTreeModelTest::snapshotRows()
{
    DataTreeModel model;
    model.setFileData(m_simple.get());

    // ms_print: snapshot 41 is the peak with 142,384 B; snapshot 40 has the same cost.
    const QModelIndex peak = model.index(41, 0);
    QCOMPARE(peak.data().toString(), formatCost(142384) + QStringLiteral(": Snapshot #41 (peak)"));
    QCOMPARE(model.index(40, 0).data().toString(), formatCost(142384) + QStringLiteral(": Snapshot #40"));
    QCOMPARE(peak.data(Qt::ToolTipRole).toString(), QStringLiteral("Peak snapshot: heap cost of ") + formatCost(142384));
    QCOMPARE(model.index(7, 0).data(Qt::ToolTipRole).toString(), QStringLiteral("Snapshot #7: heap cost of ") + formatCost(31884));
    QCOMPARE(model.index(7, 0).data(DataTreeModel::FilterTextRole), QVariant(QStringLiteral("Snapshot #7")));

    // Snapshot 3 has no heap tree.
    const QModelIndex three = model.index(3, 0);
    QVERIFY(three.data(DataTreeModel::NodeRole).isValid());
    QCOMPARE(three.data(DataTreeModel::NodeRole).value<const TreeLeafItem *>(), nullptr);
    QCOMPARE(peak.data(DataTreeModel::NodeRole).value<const TreeLeafItem *>(), nullptr);
    QCOMPARE(three.data(DataTreeModel::ItemPairRole).value<ModelItem>(), ModelItem(nullptr, m_simple->snapshots().at(3)));
    QCOMPARE(model.modelItemAt(peak), ModelItem(nullptr, m_simple->peak()));
    QVERIFY(!peak.data(Qt::DecorationRole).isValid());
}

void DataTreeModelTest::nodeRows()
{
    DataTreeModel model;
    model.setFileData(m_simple.get());
    const SnapshotItem *four = m_simple->snapshots().at(4);
    const TreeLeafItem *growString = childWith(four->heapTree(), "grow_string");
    const QModelIndex index = model.index(0, 0, model.index(4, 0));

    QCOMPARE(index.data().toString(), formatCost(16384) + QStringLiteral(": grow_string (simple.c:43)"));
    QCOMPARE(index.data(Qt::ToolTipRole).toString(), nodeTooltip(growString, four, growString->label()));
    QCOMPARE(index.data(DataTreeModel::FilterTextRole).metaType(), QMetaType::fromType<QByteArray>());
    QCOMPARE(index.data(DataTreeModel::NodeRole).value<const TreeLeafItem *>(), growString);
    QCOMPARE(index.data(DataTreeModel::ItemPairRole).value<ModelItem>(), ModelItem(growString, nullptr));

    // The tooltip of a deep node relates it to its own snapshot (41: 118,000 of 142,384 B).
    const SnapshotItem *peak = m_simple->peak();
    const TreeLeafItem *main = childWith(childWith(childWith(childWith(peak->heapTree(), "make_block"), "fill_block"), "grow_phase"), "main");
    QVERIFY(main);
    QCOMPARE(model.snapshotOfNode(main), peak);
    QCOMPARE(model.snapshotOfNode(peak->heapTree()), peak);
    QCOMPARE(model.nodeIndex(main).data(Qt::ToolTipRole).toString(), nodeTooltip(main, peak, main->label()));
    QVERIFY(model.nodeIndex(main).data(Qt::ToolTipRole).toString().contains(QLatin1String("82.87% of snapshot #41")));
}

void DataTreeModelTest::backgrounds()
{
    const auto sites = loadFixture(QStringLiteral("sites.massif"));
    QVERIFY(sites);
    DataTreeModel model;
    model.setFileData(sites.get());
    const auto color = [](const QModelIndex &index) {
        return index.data(Qt::BackgroundRole).value<QBrush>().color();
    };

    // Peak: snapshot 19 with 26,000 B. Snapshot 6 holds 13,000 B, half of it.
    QVERIFY(!model.index(0, 0).data(Qt::BackgroundRole).isValid());
    QCOMPARE(color(model.index(19, 0)).hsvHue(), 0);
    QCOMPARE(color(model.index(19, 0)).alpha(), 120);
    QCOMPARE(model.index(19, 0).data(Qt::BackgroundRole).value<QBrush>().style(), Qt::SolidPattern);
    QCOMPARE(color(model.index(6, 0)).hsvHue(), 60);
    QCOMPARE(color(model.index(6, 0)).alpha(), 90);
    // Its either() node of 10,000 B: r = 5/13, hue 120 - 46.15, alpha 120 - 45.44.
    const QModelIndex either = model.index(0, 0, model.index(6, 0));
    QCOMPARE(color(either).hsvHue(), 73);
    QCOMPARE(color(either).alpha(), 74);
    // The zero-cost root of snapshot 28 has no row; the snapshot row costs 0.
    QVERIFY(!model.index(28, 0).data(Qt::BackgroundRole).isValid());
}

void DataTreeModelTest::lookups()
{
    DataTreeModel model;
    model.setFileData(m_simple.get());
    const SnapshotItem *eleven = m_simple->snapshots().at(11);
    const TreeLeafItem *makeTable = childWith(eleven->heapTree(), "make_table");

    QCOMPARE(model.snapshotIndex(eleven), model.index(11, 0));
    QCOMPARE(model.nodeIndex(eleven->heapTree()), model.index(11, 0));
    QCOMPARE(model.nodeIndex(makeTable), model.index(2, 0, model.index(11, 0)));
    QCOMPARE(model.modelItemIndex(ModelItem(makeTable, eleven)), model.nodeIndex(makeTable));
    QCOMPARE(model.modelItemIndex(ModelItem(nullptr, eleven)), model.index(11, 0));
    QVERIFY(!model.modelItemIndex(ModelItem(nullptr, nullptr)).isValid());

    const auto other = loadFixture(QStringLiteral("simple.massif"));
    QVERIFY(other);
    QVERIFY(!model.snapshotIndex(other->snapshots().at(11)).isValid());
    QVERIFY(!model.nodeIndex(other->snapshots().at(11)->heapTree()).isValid());
    QCOMPARE(model.snapshotOfNode(other->snapshots().at(11)->heapTree()), nullptr);
}

void DataTreeModelTest::rowsBeyondSnapshotCount()
{
    // Hand-built: one detailed snapshot whose root has five children, and a later
    // snapshot without a tree that costs three times the peak.
    FileData data;
    SnapshotItem *peak = addSnapshot(&data, 0, 1.0, 1000, {{"a", 400}, {"b", 300}, {"c", 200}, {"d", 100}, {"e", 0}});
    addSnapshot(&data, 1, 2.0, 3000, {});
    data.setPeak(peak);
    DataTreeModel model;
    QAbstractItemModelTester tester(&model);
    model.setFileData(&data);

    const QModelIndex fourth = model.index(3, 0, model.index(0, 0));
    QCOMPARE(model.modelItemAt(fourth), ModelItem(peak->heapTree()->children().at(3), nullptr));
    QCOMPARE(model.nodeIndex(peak->heapTree()->children().at(4)), model.index(4, 0, model.index(0, 0)));
    // A row above the peak is drawn like the peak.
    const QColor above = model.index(1, 0).data(Qt::BackgroundRole).value<QBrush>().color();
    QCOMPARE(above.hsvHue(), 0);
    QCOMPARE(above.alpha(), 120);
    model.setFileData(nullptr);
}

void DataTreeModelTest::switchingSource()
{
    const auto sites = loadFixture(QStringLiteral("sites.massif"));
    QVERIFY(sites);
    DataTreeModel model;
    QAbstractItemModelTester tester(&model);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

    model.setFileData(m_simple.get());
    const TreeLeafItem *simpleNode = m_simple->peak()->heapTree()->children().first();
    QVERIFY(model.nodeIndex(simpleNode).isValid());

    model.setFileData(sites.get());
    QCOMPARE(removed.count(), 1);
    QVERIFY(!removed.at(0).at(0).value<QModelIndex>().isValid());
    QCOMPARE(removed.at(0).at(1).toInt(), 0);
    QCOMPARE(removed.at(0).at(2).toInt(), 53);
    QCOMPARE(inserted.count(), 2);
    QCOMPARE(inserted.at(1).at(2).toInt(), 28);
    QCOMPARE(model.rowCount(), 29);
    QVERIFY(!model.nodeIndex(simpleNode).isValid());
    QCOMPARE(model.index(19, 0).data().toString(), formatCost(26000) + QStringLiteral(": Snapshot #19 (peak)"));

    model.setFileData(nullptr);
    QCOMPARE(removed.count(), 2);
    QCOMPARE(removed.at(1).at(2).toInt(), 28);
    model.setFileData(nullptr);
    QCOMPARE(removed.count(), 2);
}

void DataTreeModelTest::headerInTreeView()
{
    DataTreeModel model;
    model.setFileData(m_simple.get());
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Snapshots"));
    // Roles that want no text get none: a string as size hint would collapse the header.
    for (int role : {Qt::SizeHintRole, Qt::FontRole, Qt::TextAlignmentRole, Qt::DecorationRole, Qt::ForegroundRole}) {
        QVERIFY(!model.headerData(0, Qt::Horizontal, role).isValid());
    }
    QTreeView view;
    view.setModel(&model);
    view.resize(300, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QVERIFY(view.header()->height() > 0);
}

QTEST_MAIN(DataTreeModelTest)

#include "datatreemodeltest.moc"
