/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "filtereddatatreemodel.h"

#include "datatreemodel.h"
#include "modeltestdata.h"

#include <QAbstractItemModelTester>
#include <QElapsedTimer>
#include <QStandardItemModel>
#include <QStandardPaths>

using namespace Massif;

// Counts the filter passes: each pass decides the first top-level row once.
class CountingFilter : public FilteredDataTreeModel
{
public:
    using FilteredDataTreeModel::FilteredDataTreeModel;
    mutable int passes = 0;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override
    {
        if (sourceRow == 0 && !sourceParent.isValid()) {
            ++passes;
        }
        return FilteredDataTreeModel::filterAcceptsRow(sourceRow, sourceParent);
    }
};

class FilteredDataTreeModelTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void emptyNeedleShowsAll();
    void snapshotTitlesMatch();
    void deepMatchKeepsOnlyItsAncestors();
    void matchDoesNotPullInChildren();
    void burstFiltersOnceWithLastText();
    void switchingSourceWhileFiltered();
    void otherSourceModels();

private:
    std::unique_ptr<FileData> m_simple;
    std::unique_ptr<FileData> m_sites;
};

void FilteredDataTreeModelTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    m_simple = loadFixture(QStringLiteral("simple.massif"));
    m_sites = loadFixture(QStringLiteral("sites.massif"));
    QVERIFY(m_simple && m_sites);
}

void FilteredDataTreeModelTest::emptyNeedleShowsAll()
{
    DataTreeModel source;
    source.setFileData(m_simple.get());
    auto *proxy = new FilteredDataTreeModel(&source);
    QCOMPARE(proxy->parent(), &source);
    QCOMPARE(proxy->sourceModel(), &source);
    QAbstractItemModelTester tester(proxy);
    QCOMPARE(proxy->rowCount(), 54);
    QCOMPARE(proxy->rowCount(proxy->index(4, 0)), 3);
    QCOMPARE(proxy->columnCount(), 1);
}

void FilteredDataTreeModelTest::snapshotTitlesMatch()
{
    DataTreeModel source;
    source.setFileData(m_simple.get());
    FilteredDataTreeModel proxy(&source);
    QAbstractItemModelTester tester(&proxy);

    // Titles "Snapshot #1" and "Snapshot #10" to "#19" of 54 snapshots, whatever the case.
    proxy.setFilter(QStringLiteral("snapshot #1"));
    QTRY_COMPARE(proxy.rowCount(), 11);
    QCOMPARE(proxy.index(0, 0).data(DataTreeModel::FilterTextRole).toString(), QStringLiteral("Snapshot #1"));
    QCOMPARE(proxy.index(10, 0).data(DataTreeModel::FilterTextRole).toString(), QStringLiteral("Snapshot #19"));
    // Snapshot 11 matches by its title; none of its nodes does.
    QCOMPARE(proxy.rowCount(proxy.index(2, 0)), 0);

    proxy.setFilter(QString());
    QTRY_COMPARE(proxy.rowCount(), 54);
}

void FilteredDataTreeModelTest::deepMatchKeepsOnlyItsAncestors()
{
    DataTreeModel source;
    source.setFileData(m_sites.get());
    FilteredDataTreeModel proxy(&source);
    QAbstractItemModelTester tester(&proxy);

    // main (sites.c:37) is load_b's caller: only snapshots 17 to 20 hold it, at
    // root -> raw_block -> pooled_block -> load_b -> main, beside either() and load_a.
    proxy.setFilter(QStringLiteral("SITES.C:37"));
    QTRY_COMPARE(proxy.rowCount(), 4);
    for (int row = 0; row < 4; ++row) {
        QModelIndex index = proxy.index(row, 0);
        QCOMPARE(index.data(DataTreeModel::FilterTextRole).toString(), QStringLiteral("Snapshot #%1").arg(17 + row));
        for (const char *function : {"raw_block", "pooled_block", "load_b", "main (sites.c:37)"}) {
            QCOMPARE(proxy.rowCount(index), 1);
            index = proxy.index(0, 0, index);
            QVERIFY(index.data(DataTreeModel::FilterTextRole).toByteArray().contains(function));
        }
        QCOMPARE(proxy.rowCount(index), 0);
    }

    const SnapshotItem *eighteen = snapshotNumber(m_sites.get(), 18);
    const TreeLeafItem *pooled = childWith(childWith(eighteen->heapTree(), "raw_block"), "pooled_block");
    QVERIFY(proxy.mapFromSource(source.nodeIndex(childWith(childWith(pooled, "load_b"), "main"))).isValid());
    QVERIFY(!proxy.mapFromSource(source.nodeIndex(childWith(pooled, "load_a"))).isValid());
    QVERIFY(!proxy.mapFromSource(source.nodeIndex(childWith(eighteen->heapTree(), "either"))).isValid());
    QVERIFY(!proxy.mapFromSource(source.snapshotIndex(snapshotNumber(m_sites.get(), 21))).isValid());
}

void FilteredDataTreeModelTest::matchDoesNotPullInChildren()
{
    DataTreeModel source;
    source.setFileData(m_sites.get());
    FilteredDataTreeModel proxy(&source);
    QAbstractItemModelTester tester(&proxy);

    // pooled_block sits under raw_block in snapshots 5 to 27; its callers do not match.
    proxy.setFilter(QStringLiteral("pooled_block"));
    QTRY_COMPARE(proxy.rowCount(), 23);
    const QModelIndex raw = proxy.index(0, 0, proxy.index(0, 0));
    QCOMPARE(proxy.rowCount(proxy.index(0, 0)), 1);
    QCOMPARE(proxy.rowCount(raw), 1);
    QCOMPARE(proxy.rowCount(proxy.index(0, 0, raw)), 0);
}

void FilteredDataTreeModelTest::burstFiltersOnceWithLastText()
{
    DataTreeModel source;
    source.setFileData(m_sites.get());
    CountingFilter proxy(&source);
    QCOMPARE(proxy.rowCount(), 29);
    const int before = proxy.passes;

    // Typed 50 ms apart, each call within the 150 ms deferral of the one
    // before: every call restarts the wait, so 180 ms after the first call
    // (80 ms after the last) nothing has been filtered yet.
    QElapsedTimer clock;
    clock.start();
    qint64 longestGap = 0;
    qint64 lastCall = 0;
    for (const QString &text : {QStringLiteral("either"), QStringLiteral("load_a"), QStringLiteral("load_b")}) {
        const qint64 now = clock.elapsed();
        longestGap = qMax(longestGap, now - lastCall);
        lastCall = now;
        proxy.setFilter(text);
        if (text != QLatin1String("load_b")) {
            QTest::qWait(50);
        }
    }
    QCOMPARE(proxy.passes, before);
    QTest::qWait(80);
    // A machine too slow to keep the spacing says nothing either way.
    if (longestGap < 120 && clock.elapsed() - lastCall < 140) {
        QCOMPARE(proxy.passes, before);
        QCOMPARE(proxy.rowCount(), 29);
    } else {
        qWarning() << "calls not spaced as planned:" << longestGap << clock.elapsed() - lastCall;
    }

    QTRY_COMPARE(proxy.rowCount(), 4);
    QCOMPARE(proxy.passes, before + 1);
    QTest::qWait(400);
    QCOMPARE(proxy.passes, before + 1);

    // The same text again still filters once more.
    proxy.setFilter(QStringLiteral("load_b"));
    QTRY_COMPARE(proxy.passes, before + 2);
    QTest::qWait(400);
    QCOMPARE(proxy.passes, before + 2);
    QCOMPARE(proxy.rowCount(), 4);
}

void FilteredDataTreeModelTest::switchingSourceWhileFiltered()
{
    DataTreeModel source;
    source.setFileData(m_sites.get());
    FilteredDataTreeModel proxy(&source);
    QAbstractItemModelTester tester(&proxy);
    proxy.setFilter(QStringLiteral("make_table"));
    QTRY_COMPARE(proxy.rowCount(), 0);

    // simple.massif: make_table is in the detailed snapshots 4, 11, 21, 31, 41 and 49.
    source.setFileData(nullptr);
    source.setFileData(m_simple.get());
    QCOMPARE(proxy.rowCount(), 6);
    QCOMPARE(proxy.index(5, 0).data(DataTreeModel::FilterTextRole).toString(), QStringLiteral("Snapshot #49"));

    source.setFileData(nullptr);
    QCOMPARE(proxy.rowCount(), 0);
}

void FilteredDataTreeModelTest::otherSourceModels()
{
    // Any tree with filter texts: a, a/b, a/b/c "deep needle", a/d; e.
    QStandardItemModel source;
    const auto item = [](const QString &text) {
        auto *item = new QStandardItem;
        item->setData(text, DataTreeModel::FilterTextRole);
        return item;
    };
    QStandardItem *a = item(QStringLiteral("a"));
    QStandardItem *b = item(QStringLiteral("b"));
    b->appendRow(item(QStringLiteral("deep Needle")));
    a->appendRow(b);
    a->appendRow(item(QStringLiteral("d")));
    source.appendRow(a);
    source.appendRow(item(QStringLiteral("e")));

    FilteredDataTreeModel proxy(&source);
    QAbstractItemModelTester tester(&proxy);
    proxy.setFilter(QStringLiteral("needle"));
    QTRY_COMPARE(proxy.rowCount(), 1);
    const QModelIndex shownA = proxy.index(0, 0);
    QCOMPARE(proxy.rowCount(shownA), 1);
    QCOMPARE(proxy.rowCount(proxy.index(0, 0, shownA)), 1);
    QCOMPARE(proxy.index(0, 0, proxy.index(0, 0, shownA)).data(DataTreeModel::FilterTextRole).toString(), QStringLiteral("deep Needle"));
}

QTEST_MAIN(FilteredDataTreeModelTest)

#include "filtereddatatreemodeltest.moc"
