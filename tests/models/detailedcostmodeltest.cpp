/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "detailedcostmodel.h"

#include "formatting.h"
#include "modeltestdata.h"

#include <KChartGlobal>
#include <KChartLineAttributes>
#include <KConfigGroup>
#include <KSharedConfig>

#include <QAbstractItemModelTester>
#include <QBrush>
#include <QPen>
#include <QSignalSpy>
#include <QStandardPaths>

using namespace Massif;

// Top-level labels of sites.massif, read off its ms_print output.
static const QByteArray eitherLarge("0x1091C3: either (sites.c:16)");
static const QByteArray eitherSmall("0x1091CF: either (sites.c:16)");
static const QByteArray pooledBlock("0x109203: pooled_block (sites.c:19)");
static const QByteArray rawBlock("0x1091E9: raw_block (sites.c:18)");

class DetailedCostModelTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void withoutDetailedSnapshots();
    void rankingOfRealProfile();
    void representativeNodes();
    void cellsFollowDetailedSnapshots();
    void startTimeBeforeMemoryRises();
    void peaksAndLookups();
    void tooltipsDescribeNextRow();
    void colorsAndLineAttributes();
    void headerTexts();
    void alikeHeadersToldApart_data();
    void alikeHeadersToldApart();
    void alikeHeadersOfRealProfile();
    void datasetLimit();
    void hidingResetsModel();
    void rankingTiesAndLargeCosts();
    void switchingSource();
    void settingsChangeAnnouncesEveryCell();

private:
    std::unique_ptr<FileData> m_sites;
};

void DetailedCostModelTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    m_sites = loadFixture(QStringLiteral("sites.massif"));
    QVERIFY(m_sites);
}

void DetailedCostModelTest::withoutDetailedSnapshots()
{
    DetailedCostModel model;
    QAbstractItemModelTester tester(&model);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.columnCount(), 0);
    QCOMPARE(model.datasetLimit(), 10);

    FileData data;
    addSnapshot(&data, 0, 0.0, 0, {});
    data.setPeak(addSnapshot(&data, 1, 10.0, 500, {}));
    model.setFileData(&data);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.columnCount(), 0);
    QVERIFY(!model.modelItemIndex(ModelItem(nullptr, data.peak())).isValid());
    QVERIFY(model.peakMarkers().isEmpty());
}

void DetailedCostModelTest::rankingOfRealProfile()
{
    // many.massif: 9 detailed snapshots; 26 distinct first-level labels outside the
    // below-threshold summaries. Their highest costs, from ms_print: alloc_site_29
    // 28,800 B down to alloc_site_20 20,160 B, 960 B apart.
    const auto data = loadFixture(QStringLiteral("many.massif"));
    QVERIFY(data);
    DetailedCostModel model;
    QAbstractItemModelTester tester(&model);
    model.setFileData(data.get());
    QCOMPARE(model.rowCount(), 10);
    QCOMPARE(model.columnCount(), 20);

    const QMap<QModelIndex, const TreeLeafItem *> markers = model.peakMarkers();
    QCOMPARE(markers.size(), 10);
    for (int dataset = 0; dataset < 10; ++dataset) {
        const QByteArray function = "alloc_site_" + QByteArray::number(29 - dataset);
        QCOMPARE(model.headerData(2 * dataset, Qt::Horizontal).toByteArray(), function);
        const auto marker = std::find_if(markers.keyBegin(), markers.keyEnd(), [dataset](const QModelIndex &index) {
            return index.column() == 2 * dataset;
        });
        QVERIFY(marker != markers.keyEnd());
        const TreeLeafItem *peak = markers.value(*marker);
        QCOMPARE(peak->cost(), quint64(28800 - 960 * dataset));
        QVERIFY(peak->label().contains(function));
        // The marker's row shows that peak.
        QCOMPARE(model.data(model.index(marker->row(), 2 * dataset + 1)).toULongLong(), peak->cost());
    }
    // Detailed snapshots are 8, 11, 22, 30, 47, 54, 57, 67, 68: alloc_site_29 first
    // reaches 28,800 B in snapshot 54 (row 6), alloc_site_20 its 20,160 B in 67 (row 8).
    QCOMPARE(markers.value(model.index(6, 0))->cost(), quint64(28800));
    QCOMPARE(markers.value(model.index(8, 18))->cost(), quint64(20160));
}

void DetailedCostModelTest::representativeNodes()
{
    DetailedCostModel model;
    model.setFileData(m_sites.get());
    QCOMPARE(model.columnCount(), 8);

    // raw_block -> pooled_block carry the same cost; pooled_block splits into load_a
    // and load_b in snapshots 17 to 20 and is their representative there. Elsewhere
    // the chain ends in a leaf and raw_block itself stands for it.
    const SnapshotItem *eighteen = snapshotNumber(m_sites.get(), 18);
    const TreeLeafItem *raw = childWith(eighteen->heapTree(), "raw_block");
    const TreeLeafItem *pooled = childWith(raw, "pooled_block");
    QVERIFY(pooled);
    QCOMPARE(model.modelItemAt(model.index(18, 4)), ModelItem(pooled, nullptr));
    QCOMPARE(model.data(model.index(18, 5)).toULongLong(), quint64(8000));
    QCOMPARE(model.data(model.index(18, 7)).toULongLong(), quint64(0));

    const SnapshotItem *eight = snapshotNumber(m_sites.get(), 8);
    QCOMPARE(model.modelItemAt(model.index(8, 6)), ModelItem(childWith(eight->heapTree(), "raw_block"), nullptr));
    QCOMPARE(model.data(model.index(8, 7)).toULongLong(), quint64(6000));
    QCOMPARE(model.data(model.index(8, 5)).toULongLong(), quint64(0));
}

void DetailedCostModelTest::cellsFollowDetailedSnapshots()
{
    DetailedCostModel model;
    QAbstractItemModelTester tester(&model);
    model.setFileData(m_sites.get());

    // Every snapshot but 0 (its root line has cost 0 and no children) has a tree, so row r
    // shows snapshot r; 28 has a root without children and stays a row of zeros.
    QCOMPARE(model.rowCount(), 29);
    QCOMPARE(model.data(model.index(16, 0)).toDouble(), 159970.0);
    QCOMPARE(model.data(model.index(16, 1)).toULongLong(), quint64(18000));
    QCOMPARE(model.data(model.index(16, 2)).toDouble(), 159970.0);
    QCOMPARE(model.data(model.index(16, 3)).toULongLong(), quint64(0));
    QCOMPARE(model.data(model.index(4, 3)).toULongLong(), quint64(10000));
    QCOMPARE(model.data(model.index(28, 0)).toDouble(), 166689.0);
    for (int column = 1; column < 8; column += 2) {
        QCOMPARE(model.data(model.index(28, column)).toULongLong(), quint64(0));
        QCOMPARE(model.data(model.index(0, column)).toInt(), 0);
    }
    QVERIFY(!model.data(model.index(29, 0)).isValid());
    QVERIFY(!model.data(QModelIndex()).isValid());
}

void DetailedCostModelTest::startTimeBeforeMemoryRises()
{
    // many.massif: snapshot 1 (136,031 i) holds 192 B, below 0.1 % of the 439,200 B
    // peak; snapshot 2 holds 30,720 B. The datasets rise from snapshot 1's time.
    const auto many = loadFixture(QStringLiteral("many.massif"));
    QVERIFY(many);
    DetailedCostModel model;
    model.setFileData(many.get());
    for (int column = 0; column < model.columnCount(); column += 2) {
        QCOMPARE(model.data(model.index(0, column)).toDouble(), 136031.0);
    }
    // sites.massif: snapshot 1 already holds 2,500 B of 26,000: t0 is snapshot 0's time.
    model.setFileData(m_sites.get());
    QCOMPARE(model.data(model.index(0, 0)).toDouble(), 0.0);
}

void DetailedCostModelTest::peaksAndLookups()
{
    DetailedCostModel model;
    model.setFileData(m_sites.get());

    // Highest costs: either@C3 18,000 B first in snapshot 16, either@CF 10,000 B first
    // in 4, pooled_block 8,000 B first in 18, raw_block 6,000 B first in 8.
    const QMap<QModelIndex, const TreeLeafItem *> markers = model.peakMarkers();
    QCOMPARE(markers.size(), 4);
    const auto node = [this](quint32 snapshot, const QByteArray &label) -> const TreeLeafItem * {
        const TreeLeafItem *top = childWith(snapshotNumber(m_sites.get(), snapshot)->heapTree(), label);
        return label == pooledBlock ? childWith(top, label) : top;
    };
    QCOMPARE(markers.value(model.index(16, 0)), node(16, eitherLarge));
    QCOMPARE(markers.value(model.index(4, 2)), node(4, eitherSmall));
    QCOMPARE(markers.value(model.index(18, 4)), childWith(childWith(snapshotNumber(m_sites.get(), 18)->heapTree(), rawBlock), pooledBlock));
    QCOMPARE(markers.value(model.index(8, 6)), node(8, rawBlock));

    // A node's index is the row before the one that shows its snapshot.
    const TreeLeafItem *large = node(16, eitherLarge);
    QCOMPARE(model.nodeIndex(large), model.index(15, 0));
    QCOMPARE(model.modelItemIndex(ModelItem(large, nullptr)), model.index(15, 0));
    QCOMPARE(model.modelItemAt(model.index(16, 0)), ModelItem(large, nullptr));
    QVERIFY(!model.nodeIndex(snapshotNumber(m_sites.get(), 16)->heapTree()).isValid());
    QVERIFY(!model.nodeIndex(large->children().first()).isValid());

    const SnapshotItem *seven = snapshotNumber(m_sites.get(), 7);
    QCOMPARE(model.modelItemIndex(ModelItem(nullptr, seven)), model.index(7, 0));
    QVERIFY(!model.modelItemIndex(ModelItem(nullptr, snapshotNumber(m_sites.get(), 0))).isValid());
    QVERIFY(!model.modelItemIndex(ModelItem(nullptr, nullptr)).isValid());

    // Without the label in the row's own snapshot, the snapshot before it is asked:
    // snapshot 21 has no pooled_block representative, snapshot 20 has.
    const TreeLeafItem *pooledTwenty = childWith(childWith(snapshotNumber(m_sites.get(), 20)->heapTree(), rawBlock), pooledBlock);
    QCOMPARE(model.modelItemAt(model.index(21, 4)), ModelItem(pooledTwenty, nullptr));
    QCOMPARE(model.modelItemAt(model.index(22, 4)), ModelItem(nullptr, nullptr));
    // Row 1 has no row before it, and row 0 is the synthetic start.
    QCOMPARE(model.modelItemAt(model.index(1, 6)), ModelItem(nullptr, nullptr));
    QCOMPARE(model.modelItemAt(model.index(1, 2)), ModelItem(node(1, eitherSmall), nullptr));
    QCOMPARE(model.modelItemAt(model.index(0, 2)), ModelItem(nullptr, nullptr));
}

void DetailedCostModelTest::tooltipsDescribeNextRow()
{
    DetailedCostModel model;
    model.setFileData(m_sites.get());
    const SnapshotItem *sixteen = snapshotNumber(m_sites.get(), 16);
    const SnapshotItem *last = snapshotNumber(m_sites.get(), 28);

    QVERIFY(!model.data(model.index(0, 1), Qt::ToolTipRole).isValid());
    QCOMPARE(model.data(model.index(15, 1), Qt::ToolTipRole).toString(), nodeTooltip(childWith(sixteen->heapTree(), eitherLarge), sixteen, eitherLarge));
    // Snapshot 16 has no node of the small call: the tooltip shows no cost.
    QCOMPARE(model.data(model.index(15, 3), Qt::ToolTipRole).toString(), nodeTooltip(nullptr, sixteen, eitherSmall));
    QCOMPARE(model.data(model.index(28, 7), Qt::ToolTipRole).toString(), nodeTooltip(nullptr, last, rawBlock));
    QCOMPARE(model.data(model.index(27, 7), Qt::ToolTipRole).toString(), nodeTooltip(nullptr, last, rawBlock));
}

void DetailedCostModelTest::colorsAndLineAttributes()
{
    DetailedCostModel model;
    model.setFileData(m_sites.get());

    // 8 columns: column c gets hue (c + 1) / 8 * 255, truncated.
    const auto hue = [&model](int column, int role) {
        const QVariant value = model.headerData(column, Qt::Horizontal, role);
        return role == KChart::DatasetPenRole ? value.value<QPen>().color().hsvHue() : value.value<QBrush>().color().hsvHue();
    };
    QCOMPARE(hue(0, KChart::DatasetBrushRole), 31);
    QCOMPARE(hue(6, KChart::DatasetPenRole), 223);
    QCOMPARE(model.data(model.index(3, 1), KChart::DatasetBrushRole).value<QBrush>().color().hsvHue(), 63);
    QCOMPARE(model.data(model.index(3, 1), KChart::DatasetBrushRole).value<QBrush>().style(), Qt::SolidPattern);
    QCOMPARE(model.data(model.index(3, 7), KChart::DatasetPenRole).value<QPen>().color().hsvHue(), 255);

    const auto transparency = [&model](int row, int column) {
        const QVariant value = model.data(model.index(row, column), KChart::LineAttributesRole);
        return value.value<KChart::LineAttributes>().transparency();
    };
    QCOMPARE(model.data(model.index(2, 2), KChart::LineAttributesRole).metaType().name(), "KChart::LineAttributes");
    QVERIFY(model.data(model.index(2, 2), KChart::LineAttributesRole).value<KChart::LineAttributes>().displayArea());
    QCOMPARE(transparency(2, 2), 127u);
    model.setHighlight(model.index(5, 3));
    QCOMPARE(transparency(5, 3), 255u);
    QCOMPARE(transparency(9, 3), 152u);
    QCOMPARE(transparency(5, 2), 127u);

    // 20 columns: datasets 0 and 9 get hues 12 and 242, the y column of dataset 0 hue 25.
    const auto many = loadFixture(QStringLiteral("many.massif"));
    QVERIFY(many);
    model.setFileData(many.get());
    QCOMPARE(hue(0, KChart::DatasetBrushRole), 12);
    QCOMPARE(hue(18, KChart::DatasetBrushRole), 242);
    QCOMPARE(model.data(model.index(1, 1), KChart::DatasetPenRole).value<QPen>().color().hsvHue(), 25);
}

void DetailedCostModelTest::headerTexts()
{
    KSharedConfig::openConfig()->group(QStringLiteral("Settings")).writeEntry("shortenTemplates", false);
    const auto templates = loadFixture(QStringLiteral("templates.massif"));
    QVERIFY(templates);
    DetailedCostModel model;
    model.setFileData(templates.get());

    // Ranked first: "0x48FA7B9: ??? (in /usr/lib/x86_64-linux-gnu/libstdc++.so.6.0.30)"
    // (72,704 B), kept whole despite its length.
    QCOMPARE(model.headerData(0, Qt::Horizontal).toByteArray(), QByteArray("??? (in /usr/lib/x86_64-linux-gnu/libstdc++.so.6.0.30)"));
    QCOMPARE(model.headerData(0, Qt::Horizontal).metaType(), QMetaType::fromType<QByteArray>());
    // Second (20,944 B): the std::vector constructor, cut at the location and then to 40 bytes.
    QCOMPARE(model.headerData(2, Qt::Horizontal).toByteArray(), QByteArray("std::vector<int, std::allocator<int> ..."));
    QCOMPARE(model.headerData(4, Qt::Horizontal).toByteArray(), QByteArray("std::__new_allocator<int>::allocate(u..."));
    // Odd sections, vertical headers and sections past the columns are the base class's numbers.
    QCOMPARE(model.headerData(1, Qt::Horizontal).toInt(), 2);
    QCOMPARE(model.headerData(model.columnCount(), Qt::Horizontal).toInt(), model.columnCount() + 1);
    QVERIFY(!model.headerData(1, Qt::Horizontal, KChart::DatasetBrushRole).isValid());
    QCOMPARE(model.headerData(0, Qt::Vertical).toInt(), 1);

    KSharedConfig::openConfig()->group(QStringLiteral("Settings")).writeEntry("shortenTemplates", true);
    QCOMPARE(model.headerData(2, Qt::Horizontal).toByteArray(), QByteArray("std::vector<>::vector(unsigned long, ..."));
    // Shortened, the allocate() of int reads like that of other element types, in
    // the same header file: the address tells them apart.
    QCOMPARE(model.headerData(4, Qt::Horizontal).toByteArray(), QByteArray("0x1117A7: std::__new_allocator<>::all..."));
    KSharedConfig::openConfig()->group(QStringLiteral("Settings")).writeEntry("shortenTemplates", false);

    // pages.massif ranks "0x0: ???" third; simple.massif's labels lose their location.
    const auto pages = loadFixture(QStringLiteral("pages.massif"));
    QVERIFY(pages);
    model.setFileData(pages.get());
    QCOMPARE(model.headerData(0, Qt::Horizontal).toByteArray(), QByteArray("mmap"));
    QCOMPARE(model.headerData(4, Qt::Horizontal).toByteArray(), QByteArray("???"));

    // A function that opens with its only parenthesis keeps its name.
    FileData data;
    data.setPeak(addSnapshot(&data, 0, 1.0, 300, {{"(below main)", 200}, {"0x2: (below main) (libc-start.c:342)", 100}}));
    model.setFileData(&data);
    QCOMPARE(model.headerData(0, Qt::Horizontal).toByteArray(), QByteArray("(below main)"));
    // The second would read the same: its location tells it apart.
    QCOMPARE(model.headerData(2, Qt::Horizontal).toByteArray(), QByteArray("(below main) (libc-start.c:342)"));
    model.setFileData(nullptr);
}

void DetailedCostModelTest::alikeHeadersToldApart_data()
{
    QTest::addColumn<QList<QByteArray>>("labels"); // most expensive first
    QTest::addColumn<int>("limit");
    QTest::addColumn<QList<QByteArray>>("headers");

    QTest::newRow("one function name in two files") << QList<QByteArray> {"0x1: load_document (a.c:5)", "0x2: main (m.c:1)", "0x3: load_document (b.c:9)"} << 10
                                                    << QList<QByteArray> {"load_document (a.c:5)", "main", "load_document (b.c:9)"};
    QTest::newRow("unknown functions of one object")
        << QList<QByteArray> {"0x4A3B2C: ??? (in /usr/bin/python3.11)", "0x5: ??? (in /lib/libc.so.6)", "0x4A3B40: ??? (in /usr/bin/python3.11)"} << 10
        << QList<QByteArray> {"0x4A3B2C: ??? (in /usr/bin/python3.11)", "??? (in /lib/libc.so.6)", "0x4A3B40: ??? (in /usr/bin/python3.11)"};
    // The location only where another has a different one, the address where another has the same.
    QTest::newRow("one location, two addresses") << QList<QByteArray> {"0x10: either (s.c:16)", "0x20: either (s.c:16)"} << 10
                                                 << QList<QByteArray> {"0x10: either", "0x20: either"};
    QTest::newRow("two addresses and another location") << QList<QByteArray> {"0x10: either (s.c:16)", "0x20: either (s.c:16)", "0x30: either (t.c:2)"} << 10
                                                        << QList<QByteArray> {"0x10: either (s.c:16)", "0x20: either (s.c:16)", "either (t.c:2)"};
    // The function gives way, so that what tells the entries apart stays whole.
    QTest::newRow("long names") << QList<QByteArray> {"0x1: a_very_long_function_name_that_goes_on_and_on (file_one.c:10)",
                                                      "0x2: a_very_long_function_name_that_goes_on_and_on (file_two.c:20)"}
                                << 10 << QList<QByteArray> {"a_very_long_function_... (file_one.c:10)", "a_very_long_function_... (file_two.c:20)"};
    QTest::newRow("cut names alike") << QList<QByteArray> {"0x1: a_very_long_function_name_that_goes_on_and_on_1 (x.c:1)",
                                                           "0x2: a_very_long_function_name_that_goes_on_and_on_2 (y.c:2)"}
                                     << 10 << QList<QByteArray> {"a_very_long_function_name_tha... (x.c:1)", "a_very_long_function_name_tha... (y.c:2)"};
    QTest::newRow("no location, two addresses") << QList<QByteArray> {"0x1: f", "0x2: f"} << 10 << QList<QByteArray> {"0x1: f", "0x2: f"};
    // Only entries the legend shows count.
    QTest::newRow("alike one beyond the limit") << QList<QByteArray> {"0x1: f (a.c:1)", "0x2: g (a.c:2)", "0x3: f (b.c:1)"} << 2
                                                << QList<QByteArray> {"f", "g"};
}

void DetailedCostModelTest::alikeHeadersToldApart()
{
    QFETCH(QList<QByteArray>, labels);
    QFETCH(int, limit);
    QFETCH(QList<QByteArray>, headers);
    KSharedConfig::openConfig()->group(QStringLiteral("Settings")).writeEntry("shortenTemplates", false);

    FileData data;
    QList<QPair<QByteArray, quint64>> leaves;
    quint64 cost = 1000;
    for (const QByteArray &label : std::as_const(labels)) {
        leaves.append({label, cost});
        cost -= 100;
    }
    data.setPeak(addSnapshot(&data, 0, 1.0, 5000, leaves));
    DetailedCostModel model;
    model.setFileData(&data);
    model.setDatasetLimit(limit);

    QList<QByteArray> shown;
    for (int column = 0; column < model.columnCount(); column += 2) {
        shown << model.headerData(column, Qt::Horizontal).toByteArray();
    }
    QCOMPARE(shown, headers);
    model.setFileData(nullptr);
}

void DetailedCostModelTest::alikeHeadersOfRealProfile()
{
    // sites.massif: either() allocates from two calls on one line, two code addresses.
    DetailedCostModel model;
    model.setFileData(m_sites.get());
    QHash<QByteArray, int> datasets;
    for (int column = 0; column < model.columnCount(); column += 2) {
        datasets.insert(model.headerData(column, Qt::Horizontal).toByteArray(), column);
    }
    QCOMPARE(datasets.size(), 4);
    QVERIFY(datasets.contains("raw_block"));
    QVERIFY(datasets.contains("pooled_block"));
    QVERIFY(datasets.contains("0x1091C3: either"));
    QVERIFY(datasets.contains("0x1091CF: either"));

    // Their tooltips tell them apart as well, by the address.
    const int last = model.rowCount() - 1;
    const QString large = model.data(model.index(last, datasets.value("0x1091C3: either")), Qt::ToolTipRole).toString();
    const QString small = model.data(model.index(last, datasets.value("0x1091CF: either")), Qt::ToolTipRole).toString();
    QVERIFY(large.contains(QLatin1String("0x1091C3")) && !large.contains(QLatin1String("0x1091CF")));
    QVERIFY(small.contains(QLatin1String("0x1091CF")) && !small.contains(QLatin1String("0x1091C3")));
    model.setFileData(nullptr);
}

void DetailedCostModelTest::datasetLimit()
{
    const auto many = loadFixture(QStringLiteral("many.massif"));
    QVERIFY(many);
    DetailedCostModel model;
    QAbstractItemModelTester tester(&model);
    model.setFileData(many.get());
    QSignalSpy removed(&model, &QAbstractItemModel::columnsRemoved);
    QSignalSpy inserted(&model, &QAbstractItemModel::columnsInserted);

    model.setDatasetLimit(5);
    QCOMPARE(removed.count(), 1);
    QCOMPARE(removed.at(0).at(1).toInt(), 10);
    QCOMPARE(removed.at(0).at(2).toInt(), 19);
    QCOMPARE(model.columnCount(), 10);
    QCOMPARE(model.datasetLimit(), 5);
    QCOMPARE(model.peakMarkers().size(), 5);

    model.setDatasetLimit(20);
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.at(0).at(1).toInt(), 10);
    QCOMPARE(inserted.at(0).at(2).toInt(), 39);
    QCOMPARE(model.datasetLimit(), 20);
    QCOMPARE(model.headerData(38, Qt::Horizontal).toByteArray(), QByteArray("alloc_site_10"));

    // Only 26 labels: a limit of 40 shows all of them and stores 40.
    model.setDatasetLimit(40);
    QCOMPARE(inserted.at(1).at(2).toInt(), 51);
    QCOMPARE(model.columnCount(), 52);
    QCOMPARE(model.datasetLimit(), 40);
    model.setDatasetLimit(30);
    QCOMPARE(model.datasetLimit(), 40);

    model.setDatasetLimit(-3);
    QCOMPARE(model.columnCount(), 0);
    QCOMPARE(removed.last().at(2).toInt(), 51);
    QCOMPARE(model.datasetLimit(), 0);
    QVERIFY(model.peakMarkers().isEmpty());

    // sites.massif has 4 labels: a limit of 5 changes nothing.
    DetailedCostModel small;
    small.setFileData(m_sites.get());
    QSignalSpy smallInserted(&small, &QAbstractItemModel::columnsInserted);
    small.setDatasetLimit(5);
    QCOMPARE(small.datasetLimit(), 10);
    QCOMPARE(smallInserted.count(), 0);
}

void DetailedCostModelTest::hidingResetsModel()
{
    DetailedCostModel model;
    QAbstractItemModelTester tester(&model);
    model.setFileData(m_sites.get());
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);

    const TreeLeafItem *large = childWith(snapshotNumber(m_sites.get(), 16)->heapTree(), eitherLarge);
    model.hideFunction(large);
    QCOMPARE(reset.count(), 1);
    QCOMPARE(model.columnCount(), 6);
    QCOMPARE(model.data(model.index(16, 1)).toULongLong(), quint64(0));
    QCOMPARE(model.data(model.index(4, 1)).toULongLong(), quint64(10000));
    QVERIFY(!model.nodeIndex(large).isValid());
    const QMap<QModelIndex, const TreeLeafItem *> markers = model.peakMarkers();
    QCOMPARE(markers.size(), 3);
    QVERIFY(!markers.values().contains(large));
    QCOMPARE(markers.firstKey(), model.index(4, 0));

    model.hideFunction(nullptr);
    QCOMPARE(reset.count(), 1);

    const TreeLeafItem *raw = childWith(snapshotNumber(m_sites.get(), 8)->heapTree(), rawBlock);
    model.hideOtherFunctions(raw);
    QCOMPARE(reset.count(), 2);
    QCOMPARE(model.columnCount(), 2);
    QCOMPARE(model.headerData(0, Qt::Horizontal).toByteArray(), QByteArray("raw_block"));
    QCOMPARE(model.data(model.index(8, 1)).toULongLong(), quint64(6000));
    QCOMPARE(model.data(model.index(18, 1)).toULongLong(), quint64(0));
    QCOMPARE(model.peakMarkers().keys(), QList<QModelIndex> {model.index(8, 0)});

    // A new file brings hidden labels back.
    model.setFileData(m_sites.get());
    QCOMPARE(model.columnCount(), 8);
}

void DetailedCostModelTest::rankingTiesAndLargeCosts()
{
    // Hand-built: X and Y both reach 500, X first; X's second 500 keeps its first peak.
    // Big is compared as 64 bits (3,000,000,000 does not fit 32 bits).
    FileData data;
    const SnapshotItem *first = addSnapshot(&data, 0, 1.0, 1500, {{"0x1: y (t.c:2)", 400}, {"0x2: x (t.c:1)", 500}, {"0x3: w (t.c:3)", 1000000000}});
    addSnapshot(&data, 1, 2.0, 1000, {{"0x1: y (t.c:2)", 500}, {"0x2: x (t.c:1)", 500}, {"0x4: big (t.c:4)", 3000000000ULL}});
    data.setPeak(const_cast<SnapshotItem *>(first));

    DetailedCostModel model;
    model.setFileData(&data);
    QCOMPARE(model.columnCount(), 8);
    QCOMPARE(model.headerData(0, Qt::Horizontal).toByteArray(), QByteArray("big"));
    QCOMPARE(model.headerData(2, Qt::Horizontal).toByteArray(), QByteArray("w"));
    QCOMPARE(model.headerData(4, Qt::Horizontal).toByteArray(), QByteArray("x"));
    QCOMPARE(model.headerData(6, Qt::Horizontal).toByteArray(), QByteArray("y"));
    QCOMPARE(model.data(model.index(2, 1)).toULongLong(), 3000000000ULL);
    // x peaks in the first snapshot (row 1), y in the second.
    const QMap<QModelIndex, const TreeLeafItem *> markers = model.peakMarkers();
    QCOMPARE(markers.value(model.index(1, 4))->label(), QByteArray("0x2: x (t.c:1)"));
    QCOMPARE(markers.value(model.index(2, 6))->label(), QByteArray("0x1: y (t.c:2)"));
    model.setFileData(nullptr);
}

void DetailedCostModelTest::switchingSource()
{
    const auto simple = loadFixture(QStringLiteral("simple.massif"));
    QVERIFY(simple);
    DetailedCostModel model;
    QAbstractItemModelTester tester(&model);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

    model.setFileData(m_sites.get());
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.at(0).at(2).toInt(), 28);
    model.setDatasetLimit(2);
    model.setHighlight(model.index(3, 1));

    // simple.massif: detailed snapshots 4, 11, 21, 31, 41, 49; make_block, grow_string, make_table.
    model.setFileData(simple.get());
    QCOMPARE(removed.count(), 1);
    QCOMPARE(removed.at(0).at(1).toInt(), 0);
    QCOMPARE(removed.at(0).at(2).toInt(), 28);
    QCOMPARE(inserted.count(), 2);
    QCOMPARE(inserted.at(1).at(2).toInt(), 6);
    QCOMPARE(model.rowCount(), 7);
    QCOMPARE(model.datasetLimit(), 2);
    QCOMPARE(model.columnCount(), 4);
    QCOMPARE(model.headerData(0, Qt::Horizontal).toByteArray(), QByteArray("make_block"));
    QCOMPARE(model.headerData(2, Qt::Horizontal).toByteArray(), QByteArray("grow_string"));
    QCOMPARE(model.data(model.index(5, 1)).toULongLong(), quint64(118000));
    QCOMPARE(model.data(model.index(3, 1), KChart::LineAttributesRole).value<KChart::LineAttributes>().transparency(), 255u);

    model.setFileData(nullptr);
    QCOMPARE(removed.count(), 2);
    QCOMPARE(removed.at(1).at(2).toInt(), 6);
    QCOMPARE(model.rowCount(), 0);
}

// Peak labels and legend texts follow the settings only once the chart hears
// of every cell and header; columns shown at the time, nothing when empty.
void DetailedCostModelTest::settingsChangeAnnouncesEveryCell()
{
    DetailedCostModel model;
    QSignalSpy cells(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy headers(&model, &QAbstractItemModel::headerDataChanged);
    model.settingsChanged();
    QCOMPARE(cells.count(), 0);
    QCOMPARE(headers.count(), 0);

    model.setFileData(m_sites.get());
    model.setDatasetLimit(3);
    model.settingsChanged();
    QCOMPARE(cells.count(), 1);
    QCOMPARE(cells.at(0).at(0).value<QModelIndex>(), model.index(0, 0));
    QCOMPARE(cells.at(0).at(1).value<QModelIndex>(), model.index(model.rowCount() - 1, 5));
    QCOMPARE(headers.count(), 1);
    QCOMPARE(headers.at(0).at(1).toInt(), 0);
    QCOMPARE(headers.at(0).at(2).toInt(), 5);
    model.setFileData(nullptr);
}

QTEST_MAIN(DetailedCostModelTest)

#include "detailedcostmodeltest.moc"
