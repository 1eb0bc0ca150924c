/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "allocatorsmodel.h"

#include "formatting.h"
#include "modeltestdata.h"

#include <KConfigGroup>
#include <KSharedConfig>

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QStandardPaths>

using namespace Massif;

static QString tooltipOf(const QString &rows)
{
    return QStringLiteral("<html><head><style>dt{font-weight:bold;} dd {font-family:monospace;}</style></head><body><dl>\n") + rows +
        QStringLiteral("</dl></body></html>");
}

class AllocatorsModelTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void sitesMergeAcrossAddressesAndSnapshots();
    void peakSumsAddressesOfOneSnapshot();
    void belowThresholdSite();
    void sortsByPeakBytes();
    void lookups();
    void shortenedTemplates();
    void withoutDetailedSnapshots();

private:
    static void setShortenTemplates(bool on);
    std::unique_ptr<FileData> m_sites;
    std::unique_ptr<FileData> m_custom;
};

void AllocatorsModelTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    setShortenTemplates(false);
    m_sites = loadFixture(QStringLiteral("sites.massif"));
    m_custom = loadFixture(QStringLiteral("custom-alloc.massif"));
    QVERIFY(m_sites && m_custom);
}

void AllocatorsModelTest::setShortenTemplates(bool on)
{
    KSharedConfig::openConfig()->group(QStringLiteral("Settings")).writeEntry("shortenTemplates", on);
}

void AllocatorsModelTest::sitesMergeAcrossAddressesAndSnapshots()
{
    AllocatorsModel model(m_sites.get());
    QAbstractItemModelTester tester(&model);

    // either() allocates from 0x1091CF (2,500 B blocks, up to 10,000 B in snapshots 4 to 9)
    // and from 0x1091C3 (6,000 B blocks, 18,000 B first in snapshot 16): one site.
    // raw_block is the other first-level function; pooled_block is never first-level.
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.columnCount(), 3);
    QCOMPARE(model.data(model.index(0, 0)), QVariant(QByteArray("either")));
    QCOMPARE(model.data(model.index(0, 1)).toString(), formatCost(18000));
    QCOMPARE(model.data(model.index(0, 2)), QVariant(QByteArray("sites.c:16")));
    QCOMPARE(model.data(model.index(1, 0)), QVariant(QByteArray("raw_block")));
    QCOMPARE(model.data(model.index(1, 1), AllocatorsModel::SortKeyRole).toULongLong(), quint64(8000));
    QCOMPARE(model.data(model.index(1, 2), AllocatorsModel::SortKeyRole), QVariant(QByteArray("sites.c:18")));

    const TreeLeafItem *peak = childWith(snapshotNumber(m_sites.get(), 16)->heapTree(), "either");
    QCOMPARE(peak->label(), QByteArray("0x1091C3: either (sites.c:16)"));
    for (int column = 0; column < 3; ++column) {
        QCOMPARE(model.data(model.index(0, column), AllocatorsModel::PeakItemRole).value<ModelItem>(), ModelItem(peak, nullptr));
    }
    // Snapshots 17 to 21 reach 18,000 B again; the first node keeps the peak.
    const TreeLeafItem *rawPeak = childWith(snapshotNumber(m_sites.get(), 18)->heapTree(), "raw_block");
    QCOMPARE(model.data(model.index(1, 0), AllocatorsModel::PeakItemRole).value<ModelItem>(), ModelItem(rawPeak, nullptr));

    // The tooltip has the peak cost, the function and the location, but no address.
    QCOMPARE(
        model.data(model.index(0, 2), Qt::ToolTipRole).toString(),
        tooltipOf(
            QStringLiteral("<dt>peak cost:</dt><dd>%1</dd><dt>function:</dt><dd>either</dd>\n<dt>location:</dt><dd>sites.c:16</dd>\n").arg(formatCost(18000))));
    QVERIFY(!model.data(model.index(0, 0), Qt::DecorationRole).isValid());
    QVERIFY(!model.data(model.index(2, 0)).isValid());
    QVERIFY(!model.index(0, 3).isValid());
    QVERIFY(!model.index(0, 0, model.index(0, 0)).isValid());
    QCOMPARE(model.rowCount(model.index(0, 0)), 0);
    QCOMPARE(model.columnCount(model.index(0, 0)), 0);
}

void AllocatorsModelTest::peakSumsAddressesOfOneSnapshot()
{
    // overlap.c's either() allocates from 0x109209 (6,000 B blocks, 24,000 B
    // alone in snapshots 4 and 5) and from 0x109215 (2,500 B blocks); in
    // snapshots 17 and 18 the two hold 15,000 + 12,000 B at once.
    const auto overlap = loadFixture(QStringLiteral("overlap.massif"));
    QVERIFY(overlap);
    AllocatorsModel model(overlap.get());
    QAbstractItemModelTester tester(&model);
    // Its one below-threshold entry costs nothing and makes no node.
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.data(model.index(0, 0)), QVariant(QByteArray("either")));
    QCOMPARE(model.data(model.index(0, 1)).toString(), formatCost(27000));
    QCOMPARE(model.data(model.index(0, 1), AllocatorsModel::SortKeyRole).toULongLong(), quint64(27000));
    // The item to select is the largest node of the first snapshot that held the most.
    const TreeLeafItem *largest = childWith(snapshotNumber(overlap.get(), 17)->heapTree(), "either");
    QCOMPARE(largest->label(), QByteArray("0x109215: either (overlap.c:23)"));
    QCOMPARE(largest->cost(), quint64(15000));
    QCOMPARE(model.data(model.index(0, 2), AllocatorsModel::PeakItemRole).value<ModelItem>(), ModelItem(largest, nullptr));
    QCOMPARE(model.data(model.index(0, 0), Qt::ToolTipRole).toString(),
             tooltipOf(QStringLiteral("<dt>peak cost:</dt><dd>%1</dd><dt>held at once by:</dt><dd>%2 at 0x109215<br>%3 at 0x109209</dd>"
                                      "<dt>function:</dt><dd>either</dd>\n<dt>location:</dt><dd>overlap.c:23</dd>\n")
                           .arg(formatCost(27000), formatCost(15000), formatCost(12000))));

    // Hand-built: equal sums keep the earlier snapshot, whose first largest node is the item.
    FileData data;
    const QByteArray first = "0x1: f (f.c:1)";
    const QByteArray second = "0x2: f (f.c:1)";
    const SnapshotItem *early = addSnapshot(&data, 0, 1.0, 10, {{first, 5}, {"0x3: g (g.c:1)", 5}, {second, 5}});
    addSnapshot(&data, 1, 2.0, 9, {{second, 9}});
    addSnapshot(&data, 2, 3.0, 10, {{second, 6}, {first, 4}});
    AllocatorsModel handBuilt(&data);
    QCOMPARE(handBuilt.rowCount(), 2);
    QCOMPARE(handBuilt.data(handBuilt.index(0, 1), AllocatorsModel::SortKeyRole).toULongLong(), quint64(10));
    QCOMPARE(handBuilt.data(handBuilt.index(0, 0), AllocatorsModel::PeakItemRole).value<ModelItem>().first, early->heapTree()->children().at(0));
    // A site seen at one address per snapshot lists no parts.
    QVERIFY(!handBuilt.data(handBuilt.index(1, 0), Qt::ToolTipRole).toString().contains(QLatin1String("held at once")));
}

void AllocatorsModelTest::belowThresholdSite()
{
    AllocatorsModel model(m_custom.get());
    QAbstractItemModelTester tester(&model);

    // First-level labels of custom-alloc.massif in order of appearance: my_pool_alloc,
    // xmalloc, "in 1 place, below massif's threshold (1.00%)" (massif's singular
    // summary, which opens the one summary site), the "in N places, all below"
    // summaries (216 B at most, in snapshot 41) and big_direct.
    QCOMPARE(model.rowCount(), 4);
    QCOMPARE(model.data(model.index(2, 0)), QVariant(QStringLiteral("below threshold")));
    QCOMPARE(model.data(model.index(2, 1)).toString(), formatCost(216));
    QCOMPARE(model.data(model.index(2, 2)), QVariant(QByteArray()));
    QCOMPARE(model.data(model.index(2, 0), Qt::ToolTipRole).toString(), tooltipOf(QStringLiteral("<dt>peak cost:</dt><dd>%1</dd>").arg(formatCost(216))));
    const ModelItem peak = model.data(model.index(2, 0), AllocatorsModel::PeakItemRole).value<ModelItem>();
    QCOMPARE(peak.first, childWith(snapshotNumber(m_custom.get(), 41)->heapTree(), "all below massif's threshold"));
    QCOMPARE(peak.first->label(), QByteArray("in 6 places, all below massif's threshold (1.00%)"));
    QCOMPARE(model.data(model.index(3, 0)), QVariant(QByteArray("big_direct")));
}

void AllocatorsModelTest::sortsByPeakBytes()
{
    AllocatorsModel model(m_custom.get());
    QSortFilterProxyModel proxy;
    proxy.setSourceModel(&model);
    proxy.setSortRole(AllocatorsModel::SortKeyRole);
    proxy.sort(1, Qt::DescendingOrder);

    // 48,824 B, 20,000 B, 12,144 B and 216 B: as text, "216 B" would beat "19.5 KiB".
    const QList<QVariant> expected {QByteArray("my_pool_alloc"), QByteArray("big_direct"), QByteArray("xmalloc"), QStringLiteral("below threshold")};
    for (int row = 0; row < expected.size(); ++row) {
        QCOMPARE(proxy.index(row, 0).data(), expected.at(row));
    }
}

void AllocatorsModelTest::lookups()
{
    AllocatorsModel model(m_custom.get());
    // A summary of another snapshot and with another count finds the one summary site.
    const TreeLeafItem *summary = childWith(snapshotNumber(m_custom.get(), 19)->heapTree(), "all below massif's threshold");
    QVERIFY(summary);
    QVERIFY(summary->label() != QByteArray("in 6 places, all below massif's threshold (1.00%)"));
    QCOMPARE(model.modelItemIndex(ModelItem(summary, nullptr)), model.index(2, 0));
    const TreeLeafItem *direct = childWith(snapshotNumber(m_custom.get(), 71)->heapTree(), "my_pool_alloc");
    QVERIFY(direct);
    QCOMPARE(model.modelItemIndex(ModelItem(direct, snapshotNumber(m_custom.get(), 71))), model.index(0, 0));
    QVERIFY(!model.modelItemIndex(ModelItem(nullptr, snapshotNumber(m_custom.get(), 71))).isValid());
    // A deeper frame is no allocation site.
    QVERIFY(!model.modelItemIndex(ModelItem(direct->children().first(), nullptr)).isValid());

    AllocatorsModel sites(m_sites.get());
    const TreeLeafItem *small = childWith(snapshotNumber(m_sites.get(), 4)->heapTree(), "either");
    QCOMPARE(small->label(), QByteArray("0x1091CF: either (sites.c:16)"));
    QCOMPARE(sites.modelItemIndex(ModelItem(small, nullptr)), sites.index(0, 0));
}

void AllocatorsModelTest::shortenedTemplates()
{
    const auto templates = loadFixture(QStringLiteral("templates.massif"));
    QVERIFY(templates);
    AllocatorsModel model(templates.get());
    QAbstractItemModelTester tester(&model);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    // Second site of templates.massif, first seen in snapshot 3.
    const QModelIndex allocate = model.index(1, 0);
    QCOMPARE(allocate.data(), QVariant(QByteArray("std::__new_allocator<int>::allocate(unsigned long, void const*)")));
    setShortenTemplates(true);
    model.settingsChanged();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).value<QModelIndex>(), model.index(0, 0));
    QCOMPARE(changed.at(0).at(1).value<QModelIndex>(), model.index(model.rowCount() - 1, 0));
    QVERIFY(changed.at(0).at(2).value<QList<int>>().isEmpty());
    QCOMPARE(allocate.data(), QVariant(QByteArray("std::__new_allocator<>::allocate(unsigned long, void const*)")));
    QVERIFY(allocate.data(Qt::ToolTipRole).toString().contains(QLatin1String("std::__new_allocator&lt;int&gt;::allocate(unsigned long, void const*)")));
    setShortenTemplates(false);
}

void AllocatorsModelTest::withoutDetailedSnapshots()
{
    FileData data;
    addSnapshot(&data, 0, 0.0, 0, {});
    data.setPeak(addSnapshot(&data, 1, 5.0, 100, {}));
    AllocatorsModel model(&data);
    QAbstractItemModelTester tester(&model);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.columnCount(), 3);
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Function"));
    QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Peak"));
    QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("Location"));
    QVERIFY(!model.headerData(3, Qt::Horizontal).isValid());
    QVERIFY(!model.headerData(0, Qt::Horizontal, Qt::ToolTipRole).isValid());
    for (int role : {int(Qt::DisplayRole), int(Qt::ToolTipRole), int(AllocatorsModel::SortKeyRole)}) {
        QVERIFY(!model.headerData(0, Qt::Vertical, role).isValid());
    }
    model.settingsChanged();
    QCOMPARE(changed.count(), 0);

    AllocatorsModel empty(nullptr);
    QCOMPARE(empty.rowCount(), 0);
}

QTEST_MAIN(AllocatorsModelTest)

#include "allocatorsmodeltest.moc"
