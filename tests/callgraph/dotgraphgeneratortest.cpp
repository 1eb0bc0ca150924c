/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "dotgraphgenerator.h"
#include "filedata.h"
#include "formatting.h"
#include "parser.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <KLocalizedString>

#include <QColor>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <memory>

using namespace Massif;

namespace {

TreeLeafItem *makeNode(const QByteArray &label, quint64 cost, std::initializer_list<TreeLeafItem *> children = {})
{
    auto *item = new TreeLeafItem;
    item->setLabel(label);
    item->setCost(cost);
    for (TreeLeafItem *child : children) {
        item->addChild(child);
    }
    return item;
}

// A leaf that is not a graph node of its own; only below-threshold texts count.
TreeLeafItem *leaf(quint64 cost)
{
    return makeNode("0x1: leaf (l.c:1)", cost);
}

struct Output
{
    QStringList lines;
    QString mostExpensive;
    QHash<QString, QString> ids; // node label -> id
    QHash<QString, QString> colors; // node id -> fill colour
    QHash<QString, QString> shapes; // node id -> shape

    int count(const QString &line) const
    {
        return lines.count(line);
    }
};

Output readOutput(DotGraphGenerator &generator)
{
    QSignalSpy finished(&generator, &QThread::finished);
    generator.start();
    generator.wait();
    Output output;
    output.mostExpensive = generator.mostExpensiveNodeId();
    if (finished.count() != 1) {
        return output;
    }
    QFile file(generator.outputFileName());
    if (!file.open(QIODevice::ReadOnly)) {
        return output;
    }
    const QString text = QString::fromUtf8(file.readAll());
    output.lines = text.split(QLatin1Char('\n'));
    static const QRegularExpression nodeLine(QStringLiteral("^\"(\\d+)\" \\[shape=(box|record),label=\"(.*)\",fillcolor=\"(#[0-9a-f]{6}|white)\"\\];$"));
    for (const QString &line : std::as_const(output.lines)) {
        const QRegularExpressionMatch match = nodeLine.match(line);
        if (match.hasMatch()) {
            output.ids.insert(match.captured(3), match.captured(1));
            output.colors.insert(match.captured(1), match.captured(4));
            output.shapes.insert(match.captured(1), match.captured(2));
        }
    }
    return output;
}

QString edge(const QString &from, const QString &to, quint64 cost)
{
    QString line = QLatin1Char('"') + from + QLatin1String("\" -> \"") + to + QLatin1Char('"');
    if (cost != 0) {
        line += QLatin1String(" [label = \"") + formatCost(cost) + QLatin1String("\"]");
    }
    return line + QLatin1Char(';');
}

// Node lines with exactly this label, whatever their id and shape.
int nodeLinesWithLabel(const Output &output, const QString &label)
{
    const QString piece = QLatin1String(",label=\"") + label + QLatin1String("\",fillcolor=");
    int count = 0;
    for (const QString &line : output.lines) {
        count += line.contains(piece) && !line.contains(QLatin1String("\" -> \"")) ? 1 : 0;
    }
    return count;
}

// Every edge of the file runs between nodes the file defines.
void verifyEdgesConnectNodes(const Output &output)
{
    static const QRegularExpression nodeLine(QStringLiteral("^\"([^\"]+)\" \\[shape="));
    static const QRegularExpression edgeLine(QStringLiteral("^\"([^\"]+)\" -> \"([^\"]+)\""));
    QSet<QString> defined;
    for (const QString &line : output.lines) {
        if (const QRegularExpressionMatch match = nodeLine.match(line); match.hasMatch()) {
            defined.insert(match.captured(1));
        }
    }
    for (const QString &line : output.lines) {
        if (const QRegularExpressionMatch match = edgeLine.match(line); match.hasMatch()) {
            QVERIFY2(defined.contains(match.captured(1)) && defined.contains(match.captured(2)), qPrintable(line));
        }
    }
}

QString dotExecutable()
{
    return QStandardPaths::findExecutable(QStringLiteral("dot"));
}

// Graphviz must read the file without a single complaint.
void verifyAcceptedByDot(const QString &fileName)
{
    QProcess dot;
    dot.start(dotExecutable(), {QStringLiteral("-Tplain"), fileName});
    QVERIFY(dot.waitForFinished(60000));
    const QByteArray errors = dot.readAllStandardError();
    QVERIFY2(errors.isEmpty(), errors.constData());
    QCOMPARE(dot.exitCode(), 0);
    QVERIFY(dot.readAllStandardOutput().startsWith("graph "));
}

std::unique_ptr<FileData> parseFixture(const QString &name)
{
    QFile file(QStringLiteral(QUILLMAP_FIXTURES_DIR "/") + name);
    if (!file.open(QIODevice::ReadOnly)) {
        return nullptr;
    }
    Parser parser;
    return std::unique_ptr<FileData>(parser.parse(&file));
}

} // namespace

class DotGraphGeneratorTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        // Translations and settings are first used on the GUI thread, as in the program.
        formatCost(0);
        const QString warmUp = i18n("x");
        Q_UNUSED(warmUp)
    }

    void snapshotWithoutTree()
    {
        SnapshotItem snapshot;
        snapshot.setNumber(7);
        snapshot.setTime(15.5);
        snapshot.setMemHeap(1000);
        snapshot.setMemHeapExtra(24);
        snapshot.setMemStacks(24);
        DotGraphGenerator generator(&snapshot, QStringLiteral("ms"));
        const Output output = readOutput(generator);
        const QString id = QString::number(reinterpret_cast<qintptr>(&snapshot));
        const QStringList expected {
            QStringLiteral("digraph callgraph {"),
            QStringLiteral("rankdir = BT;"),
            QLatin1Char('"') + id + QLatin1String("\" [shape=box,label=\"snapshot #7 (taken at 15.5ms)\\nheap cost: ") + formatCost(1024) +
                QLatin1String("\",fillcolor=white];"),
            QStringLiteral("}"),
            QString(),
        };
        QCOMPARE(output.lines, expected);
        QVERIFY(output.mostExpensive.isEmpty());
    }

    // Root white and never the most expensive; equal labels merge into one
    // node with an edge to each parent; edge costs summed per graph node.
    void snapshotGraph()
    {
        SnapshotItem snapshot;
        snapshot.setNumber(3);
        snapshot.setMemHeap(400);
        TreeLeafItem *sharedUnderA = makeNode("0x10: shared() (s.c:5)", 100, {leaf(60), leaf(40)});
        TreeLeafItem *sharedUnderB = makeNode("0x10: shared() (s.c:5)", 50, {leaf(50)});
        TreeLeafItem *a = makeNode("0x20: a() (a.c:1)", 300, {sharedUnderA, leaf(200)});
        TreeLeafItem *b = makeNode("0x30: b() (b.c:2)", 100, {sharedUnderB, makeNode("0x40: zero() (z.c:1)", 0, {leaf(0)})});
        snapshot.setHeapTree(makeNode("(heap allocation functions) malloc/new/new[], --alloc-fns, etc.", 400, {a, b}));
        DotGraphGenerator generator(&snapshot, QStringLiteral("i"));
        const Output output = readOutput(generator);

        const QString snapshotId = QString::number(reinterpret_cast<qintptr>(&snapshot));
        // The root's label is longer than 40 bytes and breaks before its second comma.
        const QString root = output.ids.value(QStringLiteral("(heap allocation functions) malloc/new/new[]\\n\\ \\ , --alloc-fns, etc."));
        const QString idA = output.ids.value(QStringLiteral("a() (a.c:1)"));
        const QString idB = output.ids.value(QStringLiteral("b() (b.c:2)"));
        const QString shared = output.ids.value(QStringLiteral("shared() (s.c:5)"));
        const QString zero = output.ids.value(QStringLiteral("zero() (z.c:1)"));
        QVERIFY2(!root.isEmpty() && !idA.isEmpty() && !idB.isEmpty() && !shared.isEmpty() && !zero.isEmpty(), qPrintable(output.lines.join(QLatin1Char('\n'))));
        QCOMPARE(output.ids.size(), 5);

        QCOMPARE(output.colors.value(root), QStringLiteral("white"));
        QCOMPARE(output.count(edge(root, snapshotId, 0)), 1);
        QCOMPARE(output.count(edge(idA, root, 300)), 1);
        QCOMPARE(output.count(edge(idB, root, 100)), 1);
        QCOMPARE(output.count(edge(shared, idA, 100)), 1);
        QCOMPARE(output.count(edge(shared, idB, 50)), 1);
        // A zero edge cost is written without a label.
        QCOMPARE(output.count(edge(zero, idB, 0)), 1);
        // 9 lines: head (2), snapshot box, 5 nodes, 6 edges, end and the empty rest.
        QCOMPARE(output.lines.size(), 2 + 1 + 5 + 6 + 2);
        QCOMPARE(output.lines.last(), QString());
        QCOMPARE(output.lines.at(output.lines.size() - 2), QStringLiteral("}"));

        // a() costs 300 of 400 and is the most expensive node below the root.
        QCOMPARE(output.mostExpensive, idA);
        // Colours: 300 of 400 gives hue 30 and saturation 239, 150 of 400 hue 75
        // and saturation 155, 100 of 400 hue 90 and saturation 111.
        QCOMPARE(output.colors.value(idA), QColor::fromHsv(30, 239, 255).name());
        QCOMPARE(output.colors.value(shared), QColor::fromHsv(75, 155, 255).name());
        QCOMPARE(output.colors.value(idB), QColor::fromHsv(90, 111, 255).name());
        QCOMPARE(output.colors.value(zero), QStringLiteral("#ffffff"));
        verifyAcceptedByDot(generator.outputFileName());
    }

    // The first node of a subtree graph has no edge, a computed colour, and
    // the costs are measured against the whole tree's root.
    void subtreeGraph()
    {
        std::unique_ptr<TreeLeafItem> root(makeNode("root", 1000));
        TreeLeafItem *start =
            makeNode("0x1: start() (s.c:1)", 1000, {makeNode("0x2: one() (o.c:1)", 500, {leaf(500)}), makeNode("0x3: two() (t.c:2)", 500, {leaf(500)})});
        root->addChild(start);
        DotGraphGenerator generator(start, QStringLiteral("i"));
        const Output output = readOutput(generator);
        const QString startId = output.ids.value(QStringLiteral("start() (s.c:1)"));
        QVERIFY(!startId.isEmpty());
        QCOMPARE(output.lines.at(2).left(startId.size() + 2), QLatin1Char('"') + startId + QLatin1Char('"'));
        QCOMPARE(output.colors.value(startId), QStringLiteral("#ff0000"));
        QCOMPARE(output.mostExpensive, startId);
        // Half the root's cost: hue 60, saturation 191.
        QCOMPARE(output.colors.value(output.ids.value(QStringLiteral("one() (o.c:1)"))), QColor::fromHsv(60, 191, 255).name());
        for (const QString &line : output.lines) {
            QVERIFY(!line.startsWith(QLatin1Char('"') + startId + QLatin1String("\" ->")));
        }
    }

    void belowThreshold_data()
    {
        QTest::addColumn<QByteArray>("leafLabel");
        QTest::addColumn<QString>("summary");
        QTest::newRow("five") << QByteArray("in 5 places, all below massif's threshold (1.00%)") << QStringLiteral("in 5 places, all below threshold");
        QTest::newRow("one") << QByteArray("in 1 places, all below massif's threshold (1.00%)") << QStringLiteral("in one place below threshold");
        // massif's own text for a single place.
        QTest::newRow("single") << QByteArray("in 1 place, below massif's threshold (1.00%)") << QStringLiteral("in one place below threshold");
        QTest::newRow("overflow") << QByteArray("in 99999999999 places, all below massif's threshold (1.00%)") << QString();
    }

    void belowThreshold()
    {
        QFETCH(QByteArray, leafLabel);
        QFETCH(QString, summary);
        std::unique_ptr<TreeLeafItem> x(makeNode("0x1: x() (x.c:1)", 800, {makeNode("0x2: y() (y.c:1)", 600, {leaf(600)}), makeNode(leafLabel, 200)}));
        DotGraphGenerator generator(x.get(), QString());
        const Output output = readOutput(generator);
        const QString id = output.ids.value(QStringLiteral("x() (x.c:1)"));
        QVERIFY(!id.isEmpty());
        const QString box = QLatin1Char('"') + id + QLatin1String("-bt\" [shape=box,label=\"") + summary + QLatin1String("\",fillcolor=\"") +
            QColor::fromHsv(90, 111, 255).name() + QLatin1String("\"];");
        const QString summaryEdge =
            QLatin1Char('"') + id + QLatin1String("-bt\" -> \"") + id + QLatin1String("\" [label =\"") + formatCost(200) + QLatin1String("\"];");
        if (summary.isEmpty()) {
            for (const QString &line : output.lines) {
                QVERIFY(!line.contains(QLatin1String("-bt")));
            }
            return;
        }
        QCOMPARE(output.count(box), 1);
        QCOMPARE(output.count(summaryEdge), 1);
        QCOMPARE(output.lines.indexOf(summaryEdge), output.lines.indexOf(box) + 1);
        QVERIFY(output.lines.indexOf(box) > output.lines.indexOf(edge(output.ids.value(QStringLiteral("y() (y.c:1)")), id, 600)));
    }

    // A node passing its whole cost to its only child becomes a record box
    // with the child's label; the chain stops at below-threshold places and
    // at nodes with more than one parent.
    void chainMerge()
    {
        SnapshotItem snapshot;
        snapshot.setMemHeap(100);
        TreeLeafItem *c = makeNode(
            "0x3: c<int>() (c.h:3)", 100, {makeNode("0x4: d() (d.c:4)", 60, {leaf(60)}), makeNode("in 3 places, all below massif's threshold (1.00%)", 40)});
        TreeLeafItem *b = makeNode("0x2: b() (b.c:2)", 100, {c});
        TreeLeafItem *a = makeNode("0x1: std::map<int, int>::insert() (map.h:1)", 100, {b});
        snapshot.setHeapTree(makeNode("root", 100, {a}));
        DotGraphGenerator generator(&snapshot, QString());
        const Output output = readOutput(generator);

        // The root has no parent graph node, so its chain does not start.
        const QString root = output.ids.value(QStringLiteral("root"));
        QVERIFY(!root.isEmpty());
        const QString record = QStringLiteral("{std::map\\<int, int\\>::insert() (map.h:1) | b() (b.c:2)}");
        const QString recordId = output.ids.value(record);
        QVERIFY2(!recordId.isEmpty(), qPrintable(output.lines.join(QLatin1Char('\n'))));
        QCOMPARE(output.shapes.value(recordId), QStringLiteral("record"));
        QCOMPARE(output.count(edge(recordId, root, 100)), 1);
        // c has below-threshold places: its own box, reached from the record's id.
        const QString idC = output.ids.value(QStringLiteral("c<int>() (c.h:3)"));
        QVERIFY(!idC.isEmpty());
        QCOMPARE(output.shapes.value(idC), QStringLiteral("box"));
        QCOMPARE(output.count(edge(idC, recordId, 100)), 1);
        QVERIFY(output.lines.contains(QLatin1Char('"') + idC + QLatin1String("-bt\" -> \"") + idC + QLatin1String("\" [label =\"") + formatCost(40) +
                                      QLatin1String("\"];")));
        QCOMPARE(output.ids.size(), 4);
        verifyAcceptedByDot(generator.outputFileName());
    }

    void chainMergeStops_data()
    {
        QTest::addColumn<int>("tree");
        QTest::addColumn<bool>("firstHasSummary");
        // n passes its whole cost to k, but its own summary (of no bytes) would
        // vanish into the record, which draws only the last node's summary.
        QTest::newRow("first node with a summary") << 0 << true;
        // k carries n's whole cost, 60 from n and 40 from p: merged into n's
        // record, p's edge would draw k a second time.
        QTest::newRow("chain end with another parent") << 1 << false;
    }

    void chainMergeStops()
    {
        QFETCH(int, tree);
        QFETCH(bool, firstHasSummary);
        SnapshotItem snapshot;
        TreeLeafItem *root = nullptr;
        if (tree == 0) {
            TreeLeafItem *n = makeNode(
                "0x1: n() (n.c:1)", 100, {makeNode("0x2: k() (k.c:2)", 100, {leaf(100)}), makeNode("in 2 places, all below massif's threshold (1.00%)", 0)});
            root = makeNode("root", 100, {n});
        } else {
            TreeLeafItem *n = makeNode("0x1: n() (n.c:1)", 100, {makeNode("0x2: k() (k.c:2)", 60, {leaf(60)}), leaf(40)});
            TreeLeafItem *p = makeNode("0x3: p() (p.c:3)", 40, {makeNode("0x2: k() (k.c:2)", 40, {leaf(40)})});
            root = makeNode("root", 140, {n, p});
        }
        snapshot.setMemHeap(root->cost());
        snapshot.setHeapTree(root);
        DotGraphGenerator generator(&snapshot, QString());
        const Output output = readOutput(generator);
        const QString dump = output.lines.join(QLatin1Char('\n'));

        QVERIFY2(!output.shapes.values().contains(QStringLiteral("record")), qPrintable(dump));
        QCOMPARE(nodeLinesWithLabel(output, QStringLiteral("k() (k.c:2)")), 1);
        QCOMPARE(nodeLinesWithLabel(output, QStringLiteral("n() (n.c:1)")), 1);
        const QString idN = output.ids.value(QStringLiteral("n() (n.c:1)"));
        const QString idK = output.ids.value(QStringLiteral("k() (k.c:2)"));
        QCOMPARE(output.count(edge(idK, idN, tree == 0 ? 100 : 60)), 1);
        const QString summaryEdge =
            QLatin1Char('"') + idN + QLatin1String("-bt\" -> \"") + idN + QLatin1String("\" [label =\"") + formatCost(0) + QLatin1String("\"];");
        QCOMPARE(output.count(summaryEdge), firstHasSummary ? 1 : 0);
        verifyEdgesConnectNodes(output);
        verifyAcceptedByDot(generator.outputFileName());
    }

    // A function directly below itself, alone or through a second function,
    // would extend the chain for ever; it ends at the repeated node.
    void recursiveChainEnds()
    {
        std::unique_ptr<TreeLeafItem> self(makeNode("0x1: self() (r.c:1)", 100, {makeNode("0x1: self() (r.c:1)", 100, {leaf(100)})}));
        DotGraphGenerator selfGenerator(self.get(), QString());
        const Output selfOutput = readOutput(selfGenerator);
        const QString selfId = selfOutput.ids.value(QStringLiteral("self() (r.c:1)"));
        QVERIFY(!selfId.isEmpty());
        QCOMPARE(selfOutput.shapes.value(selfId), QStringLiteral("box"));
        QCOMPARE(selfOutput.count(edge(selfId, selfId, 100)), 1);
        QCOMPARE(selfOutput.lines.at(selfOutput.lines.size() - 2), QStringLiteral("}"));

        std::unique_ptr<TreeLeafItem> a(
            makeNode("0x1: a() (a.c:1)",
                     100,
                     {makeNode("0x2: b() (b.c:1)", 100, {makeNode("0x1: a() (a.c:1)", 100, {makeNode("0x2: b() (b.c:1)", 100, {leaf(100)})})})}));
        DotGraphGenerator pairGenerator(a.get(), QString());
        const Output pairOutput = readOutput(pairGenerator);
        const QString recordId = pairOutput.ids.value(QStringLiteral("{a() (a.c:1) | b() (b.c:1)}"));
        QVERIFY2(!recordId.isEmpty(), qPrintable(pairOutput.lines.join(QLatin1Char('\n'))));
        QCOMPARE(pairOutput.count(edge(recordId, recordId, 100)), 1);
        verifyAcceptedByDot(pairGenerator.outputFileName());
    }

    // Each id of the file names what a click on it selects.
    void nodeItems()
    {
        SnapshotItem snapshot;
        snapshot.setMemHeap(500);
        TreeLeafItem *summary = makeNode("in 3 places, all below massif's threshold (1.00%)", 40);
        TreeLeafItem *sharedUnderA = makeNode("0x10: shared() (s.c:5)", 100, {leaf(60), summary});
        TreeLeafItem *sharedUnderB = makeNode("0x10: shared() (s.c:5)", 150, {leaf(150)});
        TreeLeafItem *a = makeNode("0x20: a() (a.c:1)", 300, {sharedUnderA, leaf(200)});
        TreeLeafItem *b = makeNode("0x30: b() (b.c:2)", 200, {sharedUnderB, leaf(50)});
        TreeLeafItem *root = makeNode("root", 500, {a, b});
        snapshot.setHeapTree(root);
        DotGraphGenerator generator(&snapshot, QString());
        const Output output = readOutput(generator);
        const QHash<QString, ModelItem> items = generator.nodeItems();

        const QString shared = output.ids.value(QStringLiteral("shared() (s.c:5)"));
        const QHash<QString, ModelItem> expected {
            {QString::number(reinterpret_cast<qintptr>(&snapshot)), ModelItem(nullptr, &snapshot)},
            {output.ids.value(QStringLiteral("root")), ModelItem(nullptr, &snapshot)},
            {output.ids.value(QStringLiteral("a() (a.c:1)")), ModelItem(a, nullptr)},
            {output.ids.value(QStringLiteral("b() (b.c:2)")), ModelItem(b, nullptr)},
            // The costliest of the tree nodes merged into the graph node,
            // not the first one met.
            {shared, ModelItem(sharedUnderB, nullptr)},
            {shared + QLatin1String("-bt"), ModelItem(summary, nullptr)},
        };
        QCOMPARE(items, expected);

        // A subtree graph's first node is that tree node.
        DotGraphGenerator subtree(a, QString());
        readOutput(subtree);
        QCOMPARE(subtree.nodeItems().value(subtree.mostExpensiveNodeId()), ModelItem(a, nullptr));
    }

    void maximumNodes_data()
    {
        QTest::addColumn<int>("maximum");
        QTest::addColumn<QStringList>("kept");
        const QStringList all {QStringLiteral("top"),
                               QStringLiteral("big"),
                               QStringLiteral("middle"),
                               QStringLiteral("small"),
                               QStringLiteral("below big"),
                               QStringLiteral("cheap 1"),
                               QStringLiteral("cheap 2"),
                               QStringLiteral("shared")};
        QTest::newRow("all fit") << 8 << all;
        // The cheapest last.
        QTest::newRow("one too many") << 7 << all.mid(0, 3) + all.mid(4);
        // Best first: "below big" before "middle".
        QTest::newRow("three") << 3 << QStringList {QStringLiteral("top"), QStringLiteral("big"), QStringLiteral("below big")};
        // "shared" costs more than "middle" but hangs only below cheaper nodes:
        // nodes are kept from the top down, never without their way up.
        QTest::newRow("four") << 4 << QStringList {QStringLiteral("top"), QStringLiteral("big"), QStringLiteral("below big"), QStringLiteral("middle")};
        QTest::newRow("only the top") << 1 << QStringList {QStringLiteral("top")};
    }

    // Above the maximum the graph keeps the most expensive nodes and says how
    // many it left out.
    void maximumNodes()
    {
        QFETCH(int, maximum);
        QFETCH(QStringList, kept);
        std::unique_ptr<TreeLeafItem> top(makeNode("0x1: top",
                                                   1000,
                                                   {makeNode("0x2: big", 400, {makeNode("0x5: below big", 300, {leaf(300)}), leaf(100)}),
                                                    makeNode("0x3: middle", 200, {leaf(200)}),
                                                    makeNode("0x4: small", 100, {leaf(100)}),
                                                    makeNode("0x6: cheap 1", 150, {makeNode("0x8: shared", 150, {leaf(150)})}),
                                                    makeNode("0x7: cheap 2", 150, {makeNode("0x8: shared", 150, {leaf(150)})})}));
        DotGraphGenerator generator(top.get(), QString());
        QCOMPARE(generator.maximumNodes(), int(DotGraphGenerator::DefaultMaximumNodes));
        generator.setMaximumNodes(maximum);
        const Output output = readOutput(generator);
        QStringList drawn = output.ids.keys();
        drawn.sort();
        kept.sort();
        QCOMPARE(drawn, kept);
        const int leftOut = 8 - int(kept.size());
        QCOMPARE(generator.leftOutNodes(), leftOut);
        const QString note =
            QStringLiteral("\"left-out\" [shape=note,label=\"%1\",fillcolor=\"white\"];")
                .arg(leftOut == 1 ? QStringLiteral("1 less expensive function left out") : QStringLiteral("%1 less expensive functions left out").arg(leftOut));
        QCOMPARE(output.count(note), leftOut > 0 ? 1 : 0);
        // Beside the top node.
        const QString beside = QStringLiteral("{ rank = same; \"%1\"; \"left-out\"; }").arg(output.ids.value(QStringLiteral("top")));
        QCOMPARE(output.count(beside), leftOut > 0 ? 1 : 0);
        QCOMPARE(output.lines.filter(QStringLiteral("left-out")).size(), leftOut > 0 ? 2 : 0);
        verifyEdgesConnectNodes(output);
        verifyAcceptedByDot(generator.outputFileName());
    }

    void allCostsZero()
    {
        std::unique_ptr<TreeLeafItem> top(makeNode("0x1: top() (t.c:1)", 0, {makeNode("0x2: below() (b.c:1)", 0, {leaf(0)}), leaf(0)}));
        DotGraphGenerator generator(top.get(), QString());
        const Output output = readOutput(generator);
        QCOMPARE(output.colors.size(), 2);
        for (const QString &color : output.colors) {
            QCOMPARE(color, QStringLiteral("#ffffff"));
        }
        // Nothing costs more than 0: no node is the most expensive.
        QVERIFY(output.mostExpensive.isEmpty());
    }

    void wrapLabel()
    {
        // 45 bytes with commas at 10 and 42: only the second is far enough from the start.
        const QByteArray function("f(aaaaaaaa, bbbbbbbbbbbbbbbbbbbbbbbbbbbbbb,x)");
        QCOMPARE(function.size(), 45);
        QCOMPARE(function.indexOf(','), 10);
        QCOMPARE(function.lastIndexOf(','), 42);
        std::unique_ptr<TreeLeafItem> top(makeNode("0x1: " + function, 10, {makeNode("0x2: other() (o.c:1)", 5, {leaf(5)}), leaf(5)}));
        DotGraphGenerator generator(top.get(), QString());
        const Output output = readOutput(generator);
        QVERIFY2(output.ids.contains(QStringLiteral("f(aaaaaaaa, bbbbbbbbbbbbbbbbbbbbbbbbbbbbbb\\n\\ \\ ,x)")),
                 qPrintable(output.lines.join(QLatin1Char('\n'))));
    }

    void wrapLabelBreaksRepeatedly()
    {
        // Commas every 20 bytes: a break once at least 41 bytes follow the last one.
        QByteArray function("g(");
        for (int i = 0; i < 8; ++i) {
            function += QByteArray(18, char('a' + i)) + ", ";
        }
        function += "z)";
        std::unique_ptr<TreeLeafItem> top(makeNode(function, 10, {makeNode("0x2: other() (o.c:1)", 5, {leaf(5)}), leaf(5)}));
        DotGraphGenerator generator(top.get(), QString());
        const Output output = readOutput(generator);
        QString expected = QString::fromLatin1(function);
        // Commas at 20, 40, 60, ...: the first break goes before 60 (60 - 0 >= 41)
        // and sets the mark to 64; the comma from 100, now at 106, is 42 past it,
        // and so on for the one from 140.
        expected.insert(140, QLatin1String("\\n\\ \\ "));
        expected.insert(100, QLatin1String("\\n\\ \\ "));
        expected.insert(60, QLatin1String("\\n\\ \\ "));
        QVERIFY2(output.ids.contains(expected), qPrintable(output.lines.join(QLatin1Char('\n'))));
    }

    // Quotes and backslashes are escaped in every label; in record boxes also
    // the characters that structure record labels.
    void escaping()
    {
        const QByteArray quoted("0x1: geo::operator\"\" _km(unsigned long long) (t.cpp:19)");
        const QByteArray slashed("0x2: f<&\"a\\\\b\"> (C:\\src\\x.cpp:3)");
        const QByteArray special("0x3: {lambda(int)#1}::operator|(A<B>) (\xc3\xa9t\xc3\xa9.cpp:4)");
        const QByteArray invalid("0x4: bad\xff\xfe\\ (q.c:1)");
        std::unique_ptr<TreeLeafItem> top(makeNode(quoted,
                                                   1000,
                                                   {makeNode(slashed, 400, {makeNode(special, 400, {leaf(400)})}),
                                                    makeNode(invalid, 300, {leaf(200), leaf(100)}),
                                                    makeNode("0x5: trailing\\", 300, {leaf(300)})}));
        DotGraphGenerator generator(top.get(), QStringLiteral("\"b\\"));
        const Output output = readOutput(generator);
        QVERIFY2(output.ids.contains(QStringLiteral("geo::operator\\\"\\\" _km(unsigned long long) (t.cpp:19)")),
                 qPrintable(output.lines.join(QLatin1Char('\n'))));
        QVERIFY(output.ids.contains(QString::fromUtf8(
            "{f\\<&amp;\\\"a\\\\\\\\b\\\"\\> (C:\\\\src\\\\x.cpp:3) | \\{lambda(int)#1\\}::operator\\|(A\\<B\\>) (\xc3\xa9t\xc3\xa9.cpp:4)}")));
        QVERIFY(output.ids.contains(QStringLiteral("trailing\\\\")));
        QVERIFY(output.ids.contains(QStringLiteral("bad\ufffd\ufffd\\\\ (q.c:1)")));
        verifyAcceptedByDot(generator.outputFileName());

        QCOMPARE(DotGraphGenerator::escapeLabel(QByteArray("a\"b\\c<{|}>\0d", 12)), QStringLiteral("a\\\"b\\\\c<{|}> d"));
        QCOMPARE(DotGraphGenerator::escapeRecordField("a\"b\\c<{|}>"), QStringLiteral("a\\\"b\\\\c\\<\\{\\|\\}\\>"));
        // Graphviz would draw "&lt;" as "<".
        QCOMPARE(DotGraphGenerator::escapeLabel("a&lt;b&"), QStringLiteral("a&amp;lt;b&amp;"));
    }

    void snapshotBoxEscapesTimeUnit()
    {
        SnapshotItem snapshot;
        snapshot.setMemHeap(10);
        DotGraphGenerator generator(&snapshot, QStringLiteral("\"x\\"));
        const Output output = readOutput(generator);
        QVERIFY(output.lines.at(2).contains(QLatin1String("(taken at 0\\\"x\\\\)\\nheap cost: ")));
        verifyAcceptedByDot(generator.outputFileName());
    }

    void cancelBeforeRun()
    {
        std::unique_ptr<TreeLeafItem> top(makeNode("0x1: top() (t.c:1)", 10, {leaf(10)}));
        DotGraphGenerator generator(top.get(), QString());
        generator.cancel();
        QSignalSpy finished(&generator, &QThread::finished);
        generator.start();
        QVERIFY(generator.wait(10000));
        QCOMPARE(finished.count(), 1);
        QFile file(generator.outputFileName());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(!file.readAll().contains('}'));
    }

    void temporaryFileLifetime()
    {
        QString name;
        {
            SnapshotItem snapshot;
            DotGraphGenerator generator(&snapshot, QString());
            name = generator.outputFileName();
            QVERIFY(QFile::exists(name));
            QVERIFY(name.startsWith(QDir::tempPath()));
            generator.start();
            generator.wait();
            QVERIFY(QFile::exists(name));
        }
        QVERIFY(!QFile::exists(name));
    }

    void fixtures_data()
    {
        QTest::addColumn<QString>("fixture");
        const QStringList names = QDir(QStringLiteral(QUILLMAP_FIXTURES_DIR)).entryList({QStringLiteral("*.massif")}, QDir::Files);
        for (const QString &name : names) {
            QTest::newRow(qPrintable(name)) << name;
        }
    }

    // Every real profile's peak snapshot, and the subtree of each of its
    // nodes with children, gives a file that Graphviz reads without complaint.
    void fixtures()
    {
        QFETCH(QString, fixture);
        if (dotExecutable().isEmpty()) {
            QSKIP("Graphviz's dot is not installed");
        }
        const std::unique_ptr<FileData> data = parseFixture(fixture);
        QVERIFY(data);
        QVERIFY(data->peak());
        DotGraphGenerator peak(data->peak(), data->timeUnit());
        const Output output = readOutput(peak);
        QCOMPARE(output.lines.at(output.lines.size() - 2), QStringLiteral("}"));
        if (data->peak()->heapTree() && !data->peak()->heapTree()->children().isEmpty()) {
            QVERIFY(output.colors.contains(output.mostExpensive));
        }
        verifyAcceptedByDot(peak.outputFileName());

        QList<const TreeLeafItem *> pending;
        if (data->peak()->heapTree()) {
            pending = {data->peak()->heapTree()};
        }
        int subtrees = 0;
        while (!pending.isEmpty() && subtrees < 10) {
            const TreeLeafItem *item = pending.takeFirst();
            const QList<TreeLeafItem *> children = item->children();
            for (const TreeLeafItem *child : children) {
                if (!child->children().isEmpty()) {
                    pending.append(child);
                }
            }
            if (item->parent()) {
                DotGraphGenerator subtree(item, data->timeUnit());
                readOutput(subtree);
                verifyAcceptedByDot(subtree.outputFileName());
                ++subtrees;
            }
        }
    }
};

QTEST_GUILESS_MAIN(DotGraphGeneratorTest)

#include "dotgraphgeneratortest.moc"
