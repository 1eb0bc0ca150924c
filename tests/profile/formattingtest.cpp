/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "formatting.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <KConfigGroup>
#include <KSharedConfig>

#include <QLocale>
#include <QStandardPaths>
#include <QTest>

using namespace Massif;

class FormattingTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void formatCostFollowsPrecision();
    void shortenTemplates_data();
    void shortenTemplates();
    void shorteningOffKeepsIdentifiers();
    void displayLabels();
    void thresholdSummary();
    void nodeTooltips();

private:
    void setSetting(const char *key, const QVariant &value);
};

void FormattingTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void FormattingTest::init()
{
    KSharedConfig::openConfig()->deleteGroup(QStringLiteral("Settings"));
}

void FormattingTest::setSetting(const char *key, const QVariant &value)
{
    KSharedConfig::openConfig()->group(QStringLiteral("Settings")).writeEntry(key, value);
}

void FormattingTest::formatCostFollowsPrecision()
{
    const QLocale locale = QLocale::system();
    QCOMPARE(formatCost(0), QStringLiteral("0 B"));
    QCOMPARE(formatCost(1536), locale.toString(1.5, 'f', 1) + QStringLiteral(" KiB"));
    // Read at every call: a changed setting applies at once.
    setSetting("prettyCostPrecision", 3);
    QCOMPARE(formatCost(1536), locale.toString(1.5, 'f', 3) + QStringLiteral(" KiB"));
    QCOMPARE(formatCost(std::numeric_limits<quint64>::max()), locale.toString(16.0, 'f', 3) + QStringLiteral(" EiB"));
}

void FormattingTest::shortenTemplates_data()
{
    QTest::addColumn<QByteArray>("identifier");
    QTest::addColumn<QByteArray>("shortened");

    QTest::newRow("class and member templates") << QByteArray("Foo<int, char>::bar<double>(int)") << QByteArray("Foo<>::bar<>(int)");
    QTest::newRow("nested arguments") << QByteArray("std::vector<std::map<int, std::string<char>>, alloc<x>>::push_back")
                                      << QByteArray("std::vector<>::push_back");
    QTest::newRow("arrow before the list") << QByteArray("a->b<int>()") << QByteArray("a->b<int>()");
    QTest::newRow("list then arrow then list") << QByteArray("f<int>(x->y<char>)") << QByteArray("f<>(x->y<char>)");
    QTest::newRow("no templates") << QByteArray("main") << QByteArray("main");
    QTest::newRow("unclosed") << QByteArray("f<int") << QByteArray("f<int");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("operator less") << QByteArray("operator<(a, b)") << QByteArray("operator<(a, b)");
    QTest::newRow("adjacent lists") << QByteArray("a<b><c>") << QByteArray("a<><>");
}

void FormattingTest::shortenTemplates()
{
    QFETCH(QByteArray, identifier);
    QFETCH(QByteArray, shortened);
    setSetting("shortenTemplates", true);
    QCOMPARE(Massif::shortenTemplates(identifier), shortened);
}

void FormattingTest::shorteningOffKeepsIdentifiers()
{
    const QByteArray identifier("std::vector<int>::push_back<x>(int)");
    QCOMPARE(Massif::shortenTemplates(identifier), identifier);
    setSetting("shortenTemplates", false);
    QCOMPARE(Massif::shortenTemplates(identifier), identifier);
}

void FormattingTest::displayLabels()
{
    const QByteArray label("0x4005F3: std::vector<int>::grow(unsigned long) (vector.h:12)");
    QCOMPARE(displayLabel(label), QByteArray("std::vector<int>::grow(unsigned long) (vector.h:12)"));
    setSetting("shortenTemplates", true);
    QCOMPARE(displayLabel(label), QByteArray("std::vector<>::grow(unsigned long) (vector.h:12)"));
    QCOMPARE(displayLabel("0x1: main"), QByteArray("main"));
    QCOMPARE(displayLabel("(heap allocation functions) malloc/new/new[], --alloc-fns, etc."),
             QByteArray("(heap allocation functions) malloc/new/new[], --alloc-fns, etc."));
}

void FormattingTest::thresholdSummary()
{
    QVERIFY(isThresholdSummary("in 12 places, all below massif's threshold (1.00%)"));
    // The form massif writes for a single place.
    QVERIFY(isThresholdSummary("in 1 place, below massif's threshold (1.00%)"));
    QVERIFY(!isThresholdSummary("0x1: all_below_threshold (a.c:1)"));
}

void FormattingTest::nodeTooltips()
{
    SnapshotItem snapshot;
    snapshot.setNumber(7);
    snapshot.setMemHeap(3);
    TreeLeafItem node;
    const QByteArray label("0x1A: f<int&> (a&b.c:4)");

    node.setCost(1);
    QString tooltip = nodeTooltip(&node, &snapshot, label);
    QVERIFY(tooltip.startsWith(QLatin1String("<html><head><style>")));
    QVERIFY(tooltip.endsWith(QLatin1String("</dl></body></html>")));
    QVERIFY2(tooltip.contains(QStringLiteral("<dt>cost:</dt><dd>1 B, i.e. 33.33% of snapshot #7</dd><dt>function:</dt><dd>f&lt;int&amp;&gt;</dd>\n")),
             qPrintable(tooltip));
    QVERIFY(tooltip.contains(QStringLiteral("<dt>location:</dt><dd>a&amp;b.c:4</dd>\n<dt>address:</dt><dd>0x1A</dd>\n")));

    node.setCost(2);
    QVERIFY(nodeTooltip(&node, &snapshot, label).contains(QStringLiteral("i.e. 66.66% of snapshot #7")));

    QVERIFY(nodeTooltip(nullptr, &snapshot, label).contains(QStringLiteral("<dd>0 B, i.e. 0% of snapshot #7</dd>")));

    // An empty snapshot has no share to show; no undefined conversion either.
    SnapshotItem empty;
    QVERIFY(nodeTooltip(&node, &empty, label).contains(QStringLiteral("i.e. 0% of snapshot #0")));
    node.setCost(std::numeric_limits<quint64>::max());
    QVERIFY(nodeTooltip(&node, &snapshot, label).contains(QStringLiteral("i.e. 0% of snapshot #7")));

    // Rows appear only for pieces that exist.
    const QString bare = nodeTooltip(&node, &snapshot, "main");
    QVERIFY(!bare.contains(QLatin1String("location:")));
    QVERIFY(!bare.contains(QLatin1String("address:")));
}

QTEST_GUILESS_MAIN(FormattingTest)

#include "formattingtest.moc"
