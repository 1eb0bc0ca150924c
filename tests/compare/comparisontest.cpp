/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "comparison.h"

#include "../models/modeltestdata.h"
#include "formatting.h"
#include "labelkey.h"
#include "labelpieces.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QStandardPaths>

using namespace Massif;

namespace {

using Leaves = QList<QPair<QByteArray, quint64>>;

const QByteArray Summary3 = "in 3 places, all below massif's threshold (1.00%)";
const QByteArray Summary5 = "in 5 places, all below massif's threshold (1.00%)";
const QByteArray Summary1 = "in 1 place, below massif's threshold (1.00%)";

// Function and location of a row, "function@location", the location left out when empty.
QString describe(const HeapTreeDiff &diff, const HeapTreeDiff::Row &row)
{
    if (row.flags & HeapTreeDiff::Row::Summary) {
        return QStringLiteral("summary");
    }
    const LabelPieces pieces = splitLabelPieces(diff.label(row));
    QString text = QString::fromUtf8(pieces.function);
    if (!pieces.location.isEmpty()) {
        text += QLatin1Char('@') + QString::fromUtf8(pieces.location);
    }
    return text;
}

// One row as "what base->current", with its markers.
QString rowText(const HeapTreeDiff &diff, const HeapTreeDiff::Row &row)
{
    QString text = QStringLiteral("%1 %2->%3").arg(describe(diff, row)).arg(row.baselineCost).arg(row.currentCost);
    if (row.isNew()) {
        text += QStringLiteral(" new");
    }
    if (row.isGone()) {
        text += QStringLiteral(" gone");
    }
    if (row.flags & HeapTreeDiff::Row::Moved) {
        text += QStringLiteral(" moved");
    }
    return text;
}

QStringList topRows(const HeapTreeDiff &diff)
{
    QStringList rows;
    const HeapTreeDiff::Row &root = diff.row(0);
    for (qint32 i = root.firstChild; i < root.firstChild + root.childCount; ++i) {
        rows << rowText(diff, diff.row(i));
    }
    return rows;
}

// The row reached from the root through children described as in describe(), or -1.
qint32 rowAtPath(const HeapTreeDiff &diff, const QStringList &path)
{
    qint32 index = 0;
    for (const QString &step : path) {
        const HeapTreeDiff::Row &row = diff.row(index);
        qint32 found = -1;
        for (qint32 i = row.firstChild; i < row.firstChild + row.childCount; ++i) {
            if (describe(diff, diff.row(i)) == step) {
                found = i;
                break;
            }
        }
        if (found == -1) {
            return -1;
        }
        index = found;
    }
    return index;
}

// What holds for every diff: children in one block below their parent,
// sorted by absolute change, no more than the parent on either side.
void verifyStructure(const HeapTreeDiff &diff)
{
    for (qint32 i = 0; i < diff.size(); ++i) {
        const HeapTreeDiff::Row &row = diff.row(i);
        QVERIFY(row.baselineCount > 0 || row.currentCount > 0);
        QCOMPARE(row.baselineCost == 0 && row.baselineCount > 0, diff.baselineNode(row) && diff.baselineNode(row)->cost() == 0 && row.baselineCount == 1);
        quint64 baselineSum = 0;
        quint64 currentSum = 0;
        quint64 previousChange = std::numeric_limits<quint64>::max();
        for (qint32 c = row.firstChild; c < row.firstChild + row.childCount; ++c) {
            const HeapTreeDiff::Row &child = diff.row(c);
            QCOMPARE(child.parent, i);
            QVERIFY(c > i);
            baselineSum += child.baselineCost;
            currentSum += child.currentCost;
            const quint64 change = quint64(std::abs(child.change()));
            QVERIFY(change <= previousChange);
            previousChange = change;
        }
        QVERIFY(baselineSum <= row.baselineCost);
        QVERIFY(currentSum <= row.currentCost);
    }
}

// Site costs of one snapshot read straight from the file's text: the nodes
// one level below the root, keyed "function@location", summaries as "summary".
QHash<QString, quint64> sitesFromFile(const QString &name, int snapshot)
{
    QFile file(QStringLiteral(QUILLMAP_FIXTURES_DIR "/") + name);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    static const QRegularExpression node(QStringLiteral("^ n\\d+: (\\d+) (?:0x[0-9A-F]+: )?(.*?)(?: \\(([^()]*)\\))?$"));
    QHash<QString, quint64> sites;
    bool inside = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).chopped(1);
        if (line.startsWith(QLatin1String("snapshot="))) {
            inside = line.mid(9).toInt() == snapshot;
            continue;
        }
        if (!inside) {
            continue;
        }
        const QRegularExpressionMatch match = node.match(line);
        if (!match.hasMatch()) {
            continue;
        }
        QString key;
        if (line.contains(QLatin1String("below massif's threshold"))) {
            key = QStringLiteral("summary");
        } else {
            key = match.captured(2);
            if (!match.captured(3).isEmpty()) {
                key += QLatin1Char('@') + match.captured(3);
            }
        }
        sites[key] += match.captured(1).toULongLong();
    }
    return sites;
}

QString siteName(const SiteDiff::Site &site)
{
    if (site.isSummary()) {
        return QStringLiteral("summary");
    }
    QString text = QString::fromUtf8(site.parts.function);
    if (!site.parts.location.isEmpty()) {
        text += QLatin1Char('@') + QString::fromUtf8(site.parts.location);
    }
    return text;
}

std::unique_ptr<FileData> hostTree(const Leaves &leaves, quint64 heap = 0)
{
    auto data = std::make_unique<FileData>();
    quint64 sum = 0;
    for (const auto &leaf : leaves) {
        sum += leaf.second;
    }
    addSnapshot(data.get(), 0, 0, heap ? heap : sum, leaves);
    data->setPeak(data->snapshots().constFirst());
    return data;
}

} // namespace

class ComparisonTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void realRunsTree_data();
    void realRunsTree();
    void realRunsSites_data();
    void realRunsSites();
    void realRunsSummary();
    void snapshotsOfOneFile_data();
    void snapshotsOfOneFile();
    void matching_data();
    void matching();
    void selfComparison_data();
    void selfComparison();
    void oneSideMissing();
    void summaryText_data();
    void summaryText();
    void keysAsLabelPieces_data();
    void keysAsLabelPieces();
    void changeColors_data();
    void changeColors();

private:
    std::unique_ptr<FileData> m_small;
    std::unique_ptr<FileData> m_large;
};

void ComparisonTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    m_small = loadFixture(QStringLiteral("compare-small.massif"));
    m_large = loadFixture(QStringLiteral("compare-large.massif"));
    QVERIFY(m_small && m_large);
}

// Expected values read off `ms_print` of both files (peak snapshots 49 and 64).
void ComparisonTest::realRunsTree_data()
{
    QTest::addColumn<QStringList>("path");
    QTest::addColumn<QString>("row");

    const auto row = [](const char *name, const QStringList &path, const char *text) {
        QTest::newRow(name) << path << QString::fromLatin1(text);
    };
    // record() moved from line 72 to 304, the only record() on either side: paired.
    row("record", {QStringLiteral("record@compare.c:304")}, "record@compare.c:304 10240->30720 moved");
    row("record below",
        {QStringLiteral("record@compare.c:304"), QStringLiteral("load_records@compare.c:310")},
        "load_records@compare.c:310 10240->30720 moved");
    row("record main",
        {QStringLiteral("record@compare.c:304"), QStringLiteral("load_records@compare.c:310"), QStringLiteral("main@compare.c:326")},
        "main@compare.c:326 10240->30720 moved");
    // Same line, another address.
    row("fixed_cache", {QStringLiteral("fixed_cache@compare.c:27")}, "fixed_cache@compare.c:27 6000->6000");
    row("fixed_cache main", {QStringLiteral("fixed_cache@compare.c:27"), QStringLiteral("main@compare.c:322")}, "main@compare.c:322 6000->6000 moved");
    row("build_index", {QStringLiteral("build_index@compare.c:33")}, "build_index@compare.c:33 1920->5760");
    row("only_small", {QStringLiteral("only_small@compare.c:40")}, "only_small@compare.c:40 3000->0 gone");
    row("only_small main", {QStringLiteral("only_small@compare.c:40"), QStringLiteral("main@compare.c:96")}, "main@compare.c:96 3000->0 gone");
    row("only_large", {QStringLiteral("only_large@compare.c:47")}, "only_large@compare.c:47 0->5000 new");
    // Two lines of both_lines() moved at once: no unique pairing, kept apart.
    row("both_lines 83", {QStringLiteral("both_lines@compare.c:83")}, "both_lines@compare.c:83 400->0 gone");
    row("both_lines 84", {QStringLiteral("both_lines@compare.c:84")}, "both_lines@compare.c:84 2000->0 gone");
    row("both_lines 315", {QStringLiteral("both_lines@compare.c:315")}, "both_lines@compare.c:315 0->1200 new");
    row("both_lines 316", {QStringLiteral("both_lines@compare.c:316")}, "both_lines@compare.c:316 0->2000 new");
    row("summary", {QStringLiteral("summary")}, "summary 72->72");
}

void ComparisonTest::realRunsTree()
{
    QFETCH(QStringList, path);
    QFETCH(QString, row);

    const Comparison comparison = Comparison::ofPeaks(m_small.get(), m_large.get());
    QCOMPARE(comparison.baseline()->number(), 49u);
    QCOMPARE(comparison.current()->number(), 64u);
    const HeapTreeDiff &diff = comparison.tree();
    verifyStructure(diff);
    QCOMPARE(diff.row(0).baselineCost, 23632u);
    QCOMPARE(diff.row(0).currentCost, 50752u);
    QCOMPARE(diff.row(0).childCount, 10);

    const qint32 index = rowAtPath(diff, path);
    QVERIFY2(index != -1, qPrintable(topRows(diff).join(QLatin1Char('\n'))));
    QCOMPARE(rowText(diff, diff.row(index)), row);
}

void ComparisonTest::realRunsSites_data()
{
    QTest::addColumn<QString>("site");
    QTest::addColumn<quint64>("baseline");
    QTest::addColumn<quint64>("current");
    QTest::addColumn<int>("position");

    // Sites are keyed exactly, as in the allocators table: a moved line is another site.
    QTest::newRow("record 304") << QStringLiteral("record@compare.c:304") << quint64(0) << quint64(30720) << 0;
    QTest::newRow("only_large") << QStringLiteral("only_large@compare.c:47") << quint64(0) << quint64(5000) << 1;
    QTest::newRow("build_index") << QStringLiteral("build_index@compare.c:33") << quint64(1920) << quint64(5760) << 2;
    QTest::newRow("both_lines 316") << QStringLiteral("both_lines@compare.c:316") << quint64(0) << quint64(2000) << 3;
    QTest::newRow("both_lines 315") << QStringLiteral("both_lines@compare.c:315") << quint64(0) << quint64(1200) << 4;
    QTest::newRow("fixed_cache") << QStringLiteral("fixed_cache@compare.c:27") << quint64(6000) << quint64(6000) << 5;
    QTest::newRow("summary") << QStringLiteral("summary") << quint64(72) << quint64(72) << 6;
    QTest::newRow("both_lines 83") << QStringLiteral("both_lines@compare.c:83") << quint64(400) << quint64(0) << 7;
    QTest::newRow("both_lines 84") << QStringLiteral("both_lines@compare.c:84") << quint64(2000) << quint64(0) << 8;
    QTest::newRow("only_small") << QStringLiteral("only_small@compare.c:40") << quint64(3000) << quint64(0) << 9;
    QTest::newRow("record 72") << QStringLiteral("record@compare.c:72") << quint64(10240) << quint64(0) << 10;
}

void ComparisonTest::realRunsSites()
{
    QFETCH(QString, site);
    QFETCH(quint64, baseline);
    QFETCH(quint64, current);
    QFETCH(int, position);

    const Comparison comparison = Comparison::ofPeaks(m_small.get(), m_large.get());
    const QList<SiteDiff::Site> &sites = comparison.sites().sites();
    QCOMPARE(sites.size(), 11);
    const SiteDiff::Site &found = sites.at(position);
    QCOMPARE(siteName(found), site);
    QCOMPARE(found.baselineCost, baseline);
    QCOMPARE(found.currentCost, current);
    QCOMPARE(found.baselineNode != nullptr, baseline != 0);
    QCOMPARE(found.currentNode != nullptr, current != 0);
}

void ComparisonTest::realRunsSummary()
{
    const Comparison comparison = Comparison::ofPeaks(m_small.get(), m_large.get());
    QCOMPARE(comparison.change(), qint64(50752 - 23632));
    // New sites count as grown; the summary of tiny sites does not count.
    QCOMPARE(comparison.sites().grownSites(Comparison::GrowthThreshold), 5);
    QCOMPARE(comparison.summary(),
             QStringLiteral("Peak %1 -> %2 (+%3, +114.8%); 5 sites grew by more than 10%").arg(formatCost(23632), formatCost(50752), formatCost(27120)));

    // Backwards the sites of the small run are the new ones: only_small, record and both lines at their old places.
    const Comparison backwards = Comparison::ofPeaks(m_large.get(), m_small.get());
    QCOMPARE(backwards.summary(),
             QStringLiteral("Peak %1 -> %2 (-%3, -53.4%); 4 sites grew by more than 10%").arg(formatCost(50752), formatCost(23632), formatCost(27120)));
}

void ComparisonTest::snapshotsOfOneFile_data()
{
    QTest::addColumn<int>("baseline");
    QTest::addColumn<int>("current");

    QTest::newRow("early to peak") << 4 << 64;
    QTest::newRow("peak to late") << 64 << 94;
    QTest::newRow("growing") << 29 << 49;
    QTest::newRow("shrinking") << 74 << 9;
    QTest::newRow("same") << 34 << 34;
}

void ComparisonTest::snapshotsOfOneFile()
{
    QFETCH(int, baseline);
    QFETCH(int, current);

    const QString name = QStringLiteral("compare-large.massif");
    const QHash<QString, quint64> before = sitesFromFile(name, baseline);
    const QHash<QString, quint64> after = sitesFromFile(name, current);
    QVERIFY(!before.isEmpty() && !after.isEmpty());

    const Comparison comparison(
        m_large.get(), Comparison::snapshotByNumber(m_large.get(), baseline), m_large.get(), Comparison::snapshotByNumber(m_large.get(), current));
    QSet<QString> seen;
    for (const SiteDiff::Site &site : comparison.sites().sites()) {
        const QString key = siteName(site);
        QVERIFY2(!seen.contains(key), qPrintable(key));
        seen.insert(key);
        QCOMPARE(site.change(), qint64(after.value(key)) - qint64(before.value(key)));
        QCOMPARE(site.baselineCost, before.value(key));
    }
    QSet<QString> expected;
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        expected.insert(it.key());
    }
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        expected.insert(it.key());
    }
    QCOMPARE(seen, expected);

    // Within one file nothing moves: the top level of the tree is the sites.
    const HeapTreeDiff &diff = comparison.tree();
    verifyStructure(diff);
    QCOMPARE(diff.row(0).childCount, qint32(expected.size()));
    for (qint32 i = diff.row(0).firstChild; i < diff.row(0).firstChild + diff.row(0).childCount; ++i) {
        const HeapTreeDiff::Row &row = diff.row(i);
        QVERIFY(!(row.flags & HeapTreeDiff::Row::Moved));
        QCOMPARE(row.change(), qint64(after.value(describe(diff, row))) - qint64(before.value(describe(diff, row))));
    }
}

void ComparisonTest::matching_data()
{
    QTest::addColumn<Leaves>("baseline");
    QTest::addColumn<Leaves>("current");
    QTest::addColumn<QStringList>("rows");

    QTest::newRow("other address, one row") << Leaves {{"0x4005D0: f(int) (a.c:10)", 100}} << Leaves {{"0x4007E8: f(int) (a.c:10)", 150}}
                                            << QStringList {QStringLiteral("f(int)@a.c:10 100->150")};
    QTest::newRow("two addresses on one side") << Leaves {{"0x10: f (a.c:10)", 120}} << Leaves {{"0x20: f (a.c:10)", 100}, {"0x30: f (a.c:10)", 50}}
                                               << QStringList {QStringLiteral("f@a.c:10 120->150")};
    QTest::newRow("moved, unique") << Leaves {{"0x10: f (a.c:10)", 100}, {"0x11: g (a.c:20)", 5}} << Leaves {{"0x20: f (a.c:14)", 130}, {"0x21: g (a.c:20)", 5}}
                                   << QStringList {QStringLiteral("f@a.c:14 100->130 moved"), QStringLiteral("g@a.c:20 5->5")};
    QTest::newRow("moved, two on the baseline side") << Leaves {{"0x10: f (a.c:10)", 100}, {"0x11: f (a.c:11)", 40}} << Leaves {{"0x20: f (a.c:30)", 130}}
                                                     << QStringList {QStringLiteral("f@a.c:30 0->130 new"),
                                                                     QStringLiteral("f@a.c:10 100->0 gone"),
                                                                     QStringLiteral("f@a.c:11 40->0 gone")};
    QTest::newRow("moved, two on the current side") << Leaves {{"0x10: f (a.c:10)", 100}} << Leaves {{"0x20: f (a.c:30)", 70}, {"0x21: f (a.c:31)", 60}}
                                                    << QStringList {QStringLiteral("f@a.c:10 100->0 gone"),
                                                                    QStringLiteral("f@a.c:30 0->70 new"),
                                                                    QStringLiteral("f@a.c:31 0->60 new")};
    QTest::newRow("exact match first, then the unique rest")
        << Leaves {{"0x10: f (a.c:10)", 100}, {"0x11: f (a.c:11)", 40}} << Leaves {{"0x20: f (a.c:10)", 100}, {"0x21: f (a.c:50)", 45}}
        << QStringList {QStringLiteral("f@a.c:50 40->45 moved"), QStringLiteral("f@a.c:10 100->100")};
    QTest::newRow("summaries merge") << Leaves {{"0x10: f (a.c:10)", 100}, {Summary3, 72}} << Leaves {{"0x20: f (a.c:10)", 100}, {Summary5, 90}}
                                     << QStringList {QStringLiteral("summary 72->90"), QStringLiteral("f@a.c:10 100->100")};
    QTest::newRow("one place and many places") << Leaves {{Summary1, 8}} << Leaves {{Summary5, 90}} << QStringList {QStringLiteral("summary 8->90")};
    QTest::newRow("a summary is no function to pair") << Leaves {{Summary3, 30}} << Leaves {{"0x20: f (a.c:10)", 100}}
                                                      << QStringList {QStringLiteral("f@a.c:10 0->100 new"), QStringLiteral("summary 30->0 gone")};
    QTest::newRow("other functions") << Leaves {{"0x10: g (a.c:10)", 100}} << Leaves {{"0x20: h (a.c:10)", 30}}
                                     << QStringList {QStringLiteral("g@a.c:10 100->0 gone"), QStringLiteral("h@a.c:10 0->30 new")};
    QTest::newRow("without location") << Leaves {{"0x10: ??? (in /lib/libc.so.6)", 10}, {"0x11: ???", 4}}
                                      << Leaves {{"0x20: ??? (in /lib/libc.so.6)", 12}, {"0x21: ???", 4}}
                                      << QStringList {QStringLiteral("???@in /lib/libc.so.6 10->12"), QStringLiteral("??? 4->4")};

    // Enough siblings for the hashed search, one of them moved.
    Leaves many;
    Leaves manyMoved;
    for (int i = 0; i < 40; ++i) {
        many << qMakePair(QByteArray("0x1") + QByteArray::number(i) + ": s" + QByteArray::number(i) + " (m.c:" + QByteArray::number(i) + ')',
                          quint64(1000 - i));
        manyMoved << qMakePair(QByteArray("0x2") + QByteArray::number(i) + ": s" + QByteArray::number(i) + " (m.c:" + QByteArray::number(i == 7 ? 99 : i) + ')',
                               quint64(1000 - i + (i == 3 ? 10 : 0)));
    }
    QStringList manyRows {
        QStringLiteral("s3@m.c:3 997->1007"), QStringLiteral("s0@m.c:0 1000->1000"), QStringLiteral("s1@m.c:1 999->999"), QStringLiteral("s2@m.c:2 998->998")};
    for (int i = 4; i < 40; ++i) {
        manyRows << (i == 7 ? QStringLiteral("s7@m.c:99 993->993 moved") : QStringLiteral("s%1@m.c:%1 %2->%2").arg(i).arg(1000 - i));
    }
    QTest::newRow("many siblings") << many << manyMoved << manyRows;
}

void ComparisonTest::matching()
{
    QFETCH(Leaves, baseline);
    QFETCH(Leaves, current);
    QFETCH(QStringList, rows);

    const auto before = hostTree(baseline);
    const auto after = hostTree(current);
    const HeapTreeDiff diff(before->peak()->heapTree(), after->peak()->heapTree());
    verifyStructure(diff);
    QCOMPARE(topRows(diff), rows);
}

void ComparisonTest::selfComparison_data()
{
    QTest::addColumn<QString>("file");

    for (const char *name :
         {"simple.massif", "sites.massif", "templates.massif", "custom-alloc.massif", "stacks.massif", "many.massif", "pages.massif", "compare-large.massif"}) {
        QTest::newRow(name) << QString::fromLatin1(name);
    }
}

// Each snapshot against itself, once with the same tree and once with the
// same file read a second time: no change anywhere.
void ComparisonTest::selfComparison()
{
    QFETCH(QString, file);

    const auto first = loadFixture(file);
    const auto second = loadFixture(file);
    QVERIFY(first && second);
    const QList<SnapshotItem *> snapshots = first->snapshots();
    const QList<SnapshotItem *> others = second->snapshots();
    int compared = 0;
    for (qsizetype s = 0; s < snapshots.size(); ++s) {
        if (!snapshots.at(s)->heapTree()) {
            continue;
        }
        for (const SnapshotItem *other : {snapshots.at(s), others.at(s)}) {
            const Comparison comparison(first.get(), snapshots.at(s), second.get(), other);
            const HeapTreeDiff &diff = comparison.tree();
            verifyStructure(diff);
            for (qint32 i = 0; i < diff.size(); ++i) {
                const HeapTreeDiff::Row &row = diff.row(i);
                QCOMPARE(row.change(), 0);
                QCOMPARE(row.baselineCount, row.currentCount);
                QCOMPARE(row.flags & HeapTreeDiff::Row::Moved, 0);
            }
            for (const SiteDiff::Site &site : comparison.sites().sites()) {
                QCOMPARE(site.change(), 0);
            }
            QCOMPARE(comparison.sites().grownSites(0.0), 0);
            QCOMPARE(comparison.change(), 0);
            ++compared;
        }
    }
    QVERIFY(compared > 0);
}

void ComparisonTest::oneSideMissing()
{
    const SnapshotItem *peak = m_large->peak();
    const HeapTreeDiff none(nullptr, nullptr);
    QVERIFY(none.isEmpty());

    const HeapTreeDiff onlyCurrent(nullptr, peak->heapTree());
    verifyStructure(onlyCurrent);
    for (qint32 i = 0; i < onlyCurrent.size(); ++i) {
        QVERIFY(onlyCurrent.row(i).isNew());
        QVERIFY(!onlyCurrent.baselineNode(onlyCurrent.row(i)));
    }
    const HeapTreeDiff onlyBaseline(peak->heapTree(), nullptr);
    QCOMPARE(onlyBaseline.size(), onlyCurrent.size());
    for (qint32 i = 0; i < onlyBaseline.size(); ++i) {
        QVERIFY(onlyBaseline.row(i).isGone());
        QCOMPARE(onlyBaseline.row(i).change(), -onlyCurrent.row(i).change());
    }

    // Every current node is found through the hook that colours a view of the current tree.
    const HeapTreeDiff diff(m_small->peak()->heapTree(), peak->heapTree());
    const QHash<const TreeLeafItem *, qint32> rows = diff.currentNodeRows();
    const TreeLeafItem *record = childWith(peak->heapTree(), "record");
    QVERIFY(rows.contains(record));
    QCOMPARE(diff.row(rows.value(record)).change(), 30720 - 10240);
    QCOMPARE(diff.currentNode(diff.row(rows.value(record))), record);
    QVERIFY(rows.contains(peak->heapTree()));
    QCOMPARE(rows.value(peak->heapTree()), 0);

    // A snapshot without a heap tree still has a cost for the summary.
    const Comparison withEmpty(m_small.get(), m_small->snapshots().constFirst(), m_large.get(), peak);
    QVERIFY(!withEmpty.tree().isEmpty());
    QVERIFY(withEmpty.tree().row(0).isNew());
    QCOMPARE(withEmpty.change(), qint64(peak->cost()));
}

void ComparisonTest::summaryText_data()
{
    QTest::addColumn<quint64>("baseline");
    QTest::addColumn<quint64>("current");
    QTest::addColumn<bool>("peaks");
    QTest::addColumn<QString>("expected");

    // %1, %2, %3: the baseline, the current cost and the size of the change, as formatCost() writes them.
    QTest::newRow("unchanged") << quint64(1000) << quint64(1000) << true << QStringLiteral("Peak %1 -> %2 (+%3, +0.0%); 0 sites grew by more than 10%");
    QTest::newRow("grown") << quint64(1000) << quint64(1500) << true << QStringLiteral("Peak %1 -> %2 (+%3, +50.0%); 1 site grew by more than 10%");
    QTest::newRow("shrunk") << quint64(2000) << quint64(1500) << true << QStringLiteral("Peak %1 -> %2 (-%3, -25.0%); 0 sites grew by more than 10%");
    QTest::newRow("from nothing") << quint64(0) << quint64(1500) << true << QStringLiteral("Peak %1 -> %2 (+%3); 1 site grew by more than 10%");
    QTest::newRow("by less than the threshold") << quint64(1000) << quint64(1100) << true
                                                << QStringLiteral("Peak %1 -> %2 (+%3, +10.0%); 0 sites grew by more than 10%");
    QTest::newRow("not the peaks") << quint64(1000) << quint64(1050) << false
                                   << QStringLiteral("Snapshot #0 %1 -> snapshot #1 %2 (+%3, +5.0%); 0 sites grew by more than 10%");
}

void ComparisonTest::summaryText()
{
    QFETCH(quint64, baseline);
    QFETCH(quint64, current);
    QFETCH(bool, peaks);
    QFETCH(QString, expected);

    const auto before = hostTree({{"0x1: f (a.c:1)", baseline}}, baseline);
    const auto after = hostTree({{"0x2: f (a.c:1)", current}}, current);
    if (!peaks) {
        // A later snapshot with more heap is the file's peak now.
        addSnapshot(after.get(), 1, 1, current, {{"0x2: f (a.c:1)", current}});
        addSnapshot(after.get(), 2, 2, current * 2, {{"0x2: f (a.c:1)", current * 2}});
        after->setPeak(after->snapshots().at(2));
    }
    const Comparison comparison(before.get(), before->snapshots().at(0), after.get(), after->snapshots().at(peaks ? 0 : 1));
    QCOMPARE(comparison.summary(),
             expected.arg(formatCost(baseline), formatCost(current), formatCost(std::max(baseline, current) - std::min(baseline, current))));
}

void ComparisonTest::keysAsLabelPieces_data()
{
    QTest::addColumn<QString>("file");
    for (const char *name : {"templates.massif", "custom-alloc.massif", "stacks.massif", "compare-small.massif"}) {
        QTest::newRow(name) << QString::fromLatin1(name);
    }
}

// The copy-free key must split every real label as the shared splitter does.
void ComparisonTest::keysAsLabelPieces()
{
    QFETCH(QString, file);
    const auto data = loadFixture(file);
    QVERIFY(data);
    QList<QByteArray> labels {"0x1: f",
                              "0x2 f (a.c:1)",
                              " (a.c:1)",
                              "f (x",
                              "0x3: g (a (b.c:2)",
                              "0x4: (b.c:3)",
                              "0x5",
                              "",
                              "f(char = 'a') (a.c:1)",
                              "below massif's threshold",
                              "'below massif's threshold'",
                              "x below massif'",
                              "massif's threshold",
                              "below massif's threshol",
                              "in 2 places, all below massif's threshold (1.00%)"};
    for (const SnapshotItem *snapshot : data->snapshots()) {
        QList<const TreeLeafItem *> stack;
        if (snapshot->heapTree()) {
            stack << snapshot->heapTree();
        }
        while (!stack.isEmpty()) {
            const TreeLeafItem *node = stack.takeLast();
            labels << node->label();
            for (const TreeLeafItem *child : node->children()) {
                stack << child;
            }
        }
    }
    for (const QByteArray &label : std::as_const(labels)) {
        const LabelKey key = labelKey(label);
        QCOMPARE(key.summary, isThresholdSummary(label));
        if (!key.summary) {
            const LabelPieces pieces = splitLabelPieces(label);
            QCOMPARE(key.function.toByteArray(), pieces.function);
            QCOMPARE(key.location.toByteArray(), pieces.location);
        }
    }
}

void ComparisonTest::changeColors_data()
{
    QTest::addColumn<qint64>("change");
    QTest::addColumn<quint64>("largest");
    QTest::addColumn<int>("hue");
    QTest::addColumn<int>("saturation");

    QTest::newRow("no change") << qint64(0) << quint64(100) << -1 << 0;
    QTest::newRow("nothing changed anywhere") << qint64(5) << quint64(0) << -1 << 0;
    QTest::newRow("largest growth") << qint64(100) << quint64(100) << 0 << 255;
    QTest::newRow("largest shrinking") << qint64(-100) << quint64(100) << 220 << 255;
    QTest::newRow("half of it") << qint64(-50) << quint64(100) << 220 << 147;
    QTest::newRow("tiny growth still shows") << qint64(1) << quint64(1000000) << 0 << 40;
    QTest::newRow("beyond the largest") << qint64(300) << quint64(100) << 0 << 255;
}

void ComparisonTest::changeColors()
{
    QFETCH(qint64, change);
    QFETCH(quint64, largest);
    QFETCH(int, hue);
    QFETCH(int, saturation);

    const QColor color = Comparison::changeColor(change, largest);
    QCOMPARE(color.hsvHue(), hue);
    QCOMPARE(color.hsvSaturation(), saturation);
}

QTEST_GUILESS_MAIN(ComparisonTest)

#include "comparisontest.moc"
