/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "flamegraphlayout.h"
#include "filedata.h"
#include "flamegraphpainter.h"
#include "flamegraphsvgwriter.h"
#include "labelpieces.h"
#include "parser.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <KConfigGroup>
#include <KSharedConfig>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <memory>

using Massif::FlameGraphLayout;

namespace {

std::unique_ptr<Massif::FileData> parseFixture(const QString &name)
{
    QFile file(QStringLiteral(QUILLMAP_FIXTURES_DIR "/") + name);
    if (!file.open(QIODevice::ReadOnly)) {
        return nullptr;
    }
    Massif::Parser parser;
    return std::unique_ptr<Massif::FileData>(parser.parse(&file));
}

Massif::TreeLeafItem *node(Massif::TreeLeafItem *parent, const QByteArray &label, quint64 cost)
{
    auto *item = new Massif::TreeLeafItem;
    item->setLabel(label);
    item->setCost(cost);
    if (parent) {
        parent->addChild(item);
    }
    return item;
}

/**
 * A snapshot of 110 bytes in which alloc_a allocates at two addresses, main
 * and caller call it from two lines each, caller keeps 5 bytes of its own
 * (its caller was cut off) and deep is a cut-off caller too:
 *
 *   alloc_a (a.c:1) 65 <- caller (b.c:5) 40 <- main (m.c:9) 35
 *                      <- other (c.c:7) 20  <- main (m.c:10) 20
 *                      <- deep (d.c:1) 5
 *   alloc_a (a.c:2) 30 <- caller (b.c:6) 30 <- main (m.c:9) 30
 *   in 2 places, all below massif's threshold (1.00%) 15
 */
std::unique_ptr<Massif::SnapshotItem> handBuiltSnapshot()
{
    auto snapshot = std::make_unique<Massif::SnapshotItem>();
    snapshot->setNumber(7);
    auto *root = node(nullptr, "(heap allocation functions) malloc/new/new[], --alloc-fns, etc.", 110);
    auto *a = node(root, "0x1: alloc_a (a.c:1)", 65);
    node(node(a, "0x2: caller (b.c:5)", 40), "0x3: main (m.c:9)", 35);
    node(node(a, "0x4: other (c.c:7)", 20), "0x5: main (m.c:10)", 20);
    node(a, "0x9: deep (d.c:1)", 5);
    auto *a2 = node(root, "0x6: alloc_a (a.c:2)", 30);
    node(node(a2, "0x7: caller (b.c:6)", 30), "0x8: main (m.c:9)", 30);
    node(root, "in 2 places, all below massif's threshold (1.00%)", 15);
    snapshot->setMemHeap(110);
    snapshot->setHeapTree(root);
    return snapshot;
}

/// The frame reached from the root through frames of these functions, or -1.
int frameAtPath(const FlameGraphLayout &layout, const QString &path)
{
    int at = 0;
    const QStringList steps = path.split(QLatin1Char('/'));
    for (const QString &step : steps) {
        int found = -1;
        const QList<int> children = layout.children(at);
        for (int child : children) {
            if (QString::fromUtf8(layout.function(child)) == step) {
                found = child;
                break;
            }
        }
        if (found < 0) {
            return -1;
        }
        at = found;
    }
    return at;
}

} // namespace

class FlameGraphLayoutTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        KSharedConfig::openConfig()->group(QStringLiteral("Settings")).deleteGroup();
    }

    void peakLayout_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<quint64>("cost");
        QTest::addColumn<quint64>("costBefore");
        QTest::addColumn<int>("depth");
        QTest::addColumn<bool>("summary");
        // custom-alloc.massif, snapshot 41: root 81184 bytes; x is the cost of
        // the frames left of the frame, from the same parent's left edge on.
        QTest::newRow("largest site first") << "my_pool_alloc" << quint64(48824) << quint64(0) << 1 << false;
        QTest::newRow("second site") << "big_direct" << quint64(20000) << quint64(48824) << 1 << false;
        QTest::newRow("third site") << "xmalloc" << quint64(12144) << quint64(68824) << 1 << false;
        QTest::newRow("summary last") << "in 6 places, all below massif's threshold" << quint64(216) << quint64(80968) << 1 << true;
        QTest::newRow("caller on its site") << "my_pool_alloc/build_index" << quint64(20128) << quint64(0) << 2 << false;
        QTest::newRow("second caller") << "my_pool_alloc/my_pool_alloc_aligned" << quint64(16320) << quint64(20128) << 2 << false;
        QTest::newRow("third caller") << "my_pool_alloc/load_config" << quint64(12016) << quint64(36448) << 2 << false;
        QTest::newRow("nested summary") << "my_pool_alloc/in 5 places, all below massif's threshold" << quint64(360) << quint64(48464) << 2 << true;
        QTest::newRow("deepest") << "my_pool_alloc/my_pool_alloc_aligned/cache_pages/main" << quint64(16320) << quint64(20128) << 4 << false;
        QTest::newRow("caller of another site") << "xmalloc/load_config" << quint64(3000) << quint64(68824 + 9000) << 2 << false;
    }

    void peakLayout()
    {
        QFETCH(QString, path);
        QFETCH(quint64, cost);
        QFETCH(quint64, costBefore);
        QFETCH(int, depth);
        QFETCH(bool, summary);

        auto data = parseFixture(QStringLiteral("custom-alloc.massif"));
        QVERIFY(data);
        FlameGraphLayout layout;
        layout.setSnapshot(data->peak());
        QCOMPARE(data->peak()->number(), 41u);
        QCOMPARE(layout.totalCost(), quint64(81184));
        QCOMPARE(layout.frameCount(), 19);
        QCOMPARE(layout.maxDepth(), 4);

        const int index = frameAtPath(layout, path);
        QVERIFY2(index > 0, qPrintable(path));
        const Massif::FlameFrame &frame = layout.frame(index);
        QCOMPARE(frame.cost, cost);
        QCOMPARE(frame.depth, depth);
        QCOMPARE(frame.summary, summary);
        QVERIFY(qFuzzyCompare(frame.width, double(cost) / 81184.0));
        QVERIFY(qFuzzyCompare(1.0 + frame.x, 1.0 + double(costBefore) / 81184.0));
        QCOMPARE(frame.node->cost(), cost);
        QCOMPARE(layout.frameOfNode(frame.node), index);

        // Summaries are grey whatever the colouring; other frames warm.
        Massif::FlameGraphPainter painter(layout);
        for (bool byCost : {false, true}) {
            painter.setColorByCost(byCost);
            const QColor color = painter.frameColor(index);
            if (summary) {
                QCOMPARE(color, FlameGraphLayout::summaryColor());
            } else {
                QVERIFY(color.red() >= 190 && color.red() > color.blue());
            }
        }
    }

    void childrenOrderedByCost_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<quint64>("total");
        QTest::newRow("equal costs") << QStringLiteral("many.massif") << quint64(439200);
        QTest::newRow("stacks beside the heap") << QStringLiteral("stacks.massif") << quint64(291848);
        QTest::newRow("templates") << QStringLiteral("templates.massif") << quint64(176731);
        QTest::newRow("simple") << QStringLiteral("simple.massif") << quint64(142384);
    }

    void childrenOrderedByCost()
    {
        QFETCH(QString, fixture);
        QFETCH(quint64, total);
        auto data = parseFixture(fixture);
        QVERIFY(data);
        for (bool inverted : {false, true}) {
            FlameGraphLayout layout;
            layout.setSnapshot(data->peak(), inverted);
            QCOMPARE(layout.totalCost(), total);
            for (int i = 0; i < layout.frameCount(); ++i) {
                const QList<int> children = layout.children(i);
                double x = layout.frame(i).x;
                quint64 sum = 0;
                for (int k = 0; k < children.size(); ++k) {
                    const Massif::FlameFrame &child = layout.frame(children.at(k));
                    QCOMPARE(child.parent, i);
                    QCOMPARE(child.depth, layout.frame(i).depth + 1);
                    QVERIFY(qFuzzyCompare(1.0 + child.x, 1.0 + x));
                    x += child.width;
                    sum += child.cost;
                    if (k > 0) {
                        QVERIFY(layout.frame(children.at(k - 1)).cost >= child.cost);
                    }
                }
                QVERIFY(sum <= layout.frame(i).cost);
            }
        }
        if (fixture == QLatin1String("many.massif")) {
            // Equal costs keep the file's order.
            FlameGraphLayout layout;
            layout.setSnapshot(data->peak());
            QVERIFY(frameAtPath(layout, QStringLiteral("alloc_site_08")) < frameAtPath(layout, QStringLiteral("alloc_site_09")));
        }
    }

    void inverted_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<quint64>("cost");
        QTest::addColumn<QString>("text");
        QTest::newRow("callers merged over lines") << "main" << quint64(85) << "main";
        QTest::newRow("merged along equal paths") << "main/caller" << quint64(65) << "caller";
        QTest::newRow("site merged over addresses") << "main/caller/alloc_a" << quint64(65) << "alloc_a";
        QTest::newRow("other path apart") << "main/other" << quint64(20) << "other (c.c:7)";
        QTest::newRow("site on the other path") << "main/other/alloc_a" << quint64(20) << "alloc_a (a.c:1)";
        QTest::newRow("bytes of a cut-off caller") << "caller" << quint64(5) << "caller (b.c:5)";
        QTest::newRow("its site") << "caller/alloc_a" << quint64(5) << "alloc_a (a.c:1)";
        QTest::newRow("cut-off leaf") << "deep/alloc_a" << quint64(5) << "alloc_a (a.c:1)";
        QTest::newRow("summary at the base") << "in 2 places, all below massif's threshold" << quint64(15)
                                             << "in 2 places, all below massif's threshold (1.00%)";
    }

    void inverted()
    {
        QFETCH(QString, path);
        QFETCH(quint64, cost);
        QFETCH(QString, text);
        const auto snapshot = handBuiltSnapshot();
        FlameGraphLayout layout;
        layout.setSnapshot(snapshot.get(), true);
        QVERIFY(layout.isInverted());
        QCOMPARE(layout.totalCost(), quint64(110));
        QCOMPARE(layout.frameCount(), 11);

        const int index = frameAtPath(layout, path);
        QVERIFY2(index > 0, qPrintable(path));
        QCOMPARE(layout.frame(index).cost, cost);
        QCOMPARE(layout.displayText(index), text);
        QCOMPARE(layout.frame(index).depth, int(path.count(QLatin1Char('/'))) + 1);
        QVERIFY(layout.frame(index).node);
        QCOMPARE(Massif::labelFunction(layout.frame(index).node->label()), layout.function(index));
        // The merged cost, not a node's, in the tooltip.
        QVERIFY(layout.plainToolTip(index).contains(QStringLiteral("%1 B").arg(cost)));

        // The base: the largest first, equal costs in the order they were met.
        QStringList base;
        for (int child : layout.children(0)) {
            base << QString::fromUtf8(layout.function(child));
        }
        QCOMPARE(base,
                 QStringList(
                     {QStringLiteral("main"), QStringLiteral("in 2 places, all below massif's threshold"), QStringLiteral("caller"), QStringLiteral("deep")}));
    }

    void search_data()
    {
        QTest::addColumn<bool>("inverted");
        QTest::addColumn<QString>("needle");
        QTest::addColumn<quint64>("matched");
        QTest::addColumn<int>("frames");
        QTest::newRow("nothing") << false << QString() << quint64(0) << 0;
        QTest::newRow("no match") << false << QStringLiteral("zzz") << quint64(0) << 0;
        QTest::newRow("sites at two addresses") << false << QStringLiteral("alloc_a") << quint64(95) << 2;
        QTest::newRow("case ignored") << false << QStringLiteral("CALLER") << quint64(70) << 2;
        QTest::newRow("location matches") << false << QStringLiteral("m.c:9") << quint64(65) << 2;
        // Every top frame has an "l" and so has nearly every frame above:
        // counted once, the whole snapshot and not more.
        QTest::newRow("nested matches once") << false << QStringLiteral("l") << quint64(110) << 5;
        QTest::newRow("inverted tops") << true << QStringLiteral("alloc") << quint64(95) << 4;
        QTest::newRow("inverted nested and apart") << true << QStringLiteral("a") << quint64(110) << 8;
    }

    void search()
    {
        QFETCH(bool, inverted);
        QFETCH(QString, needle);
        QFETCH(quint64, matched);
        QFETCH(int, frames);
        const auto snapshot = handBuiltSnapshot();
        FlameGraphLayout layout;
        layout.setSnapshot(snapshot.get(), inverted);
        const double share = layout.search(needle);
        QCOMPARE(layout.matchedCost(), matched);
        QVERIFY(qFuzzyCompare(1.0 + share, 1.0 + double(matched) / 110.0));
        int count = 0;
        for (int i = 0; i < layout.frameCount(); ++i) {
            count += layout.isMatched(i) ? 1 : 0;
        }
        QCOMPARE(count, frames);
        QVERIFY(!layout.isMatched(0));
    }

    void functionColors()
    {
        // The same function at other addresses and lines, in another snapshot.
        const auto snapshot = handBuiltSnapshot();
        FlameGraphLayout layout;
        layout.setSnapshot(snapshot.get());
        Massif::FlameGraphPainter painter(layout);
        const int first = frameAtPath(layout, QStringLiteral("alloc_a"));
        const int second = layout.children(0).at(1);
        QCOMPARE(layout.function(second), QByteArray("alloc_a"));
        QVERIFY(first != second);
        QCOMPARE(painter.frameColor(first), painter.frameColor(second));
        QCOMPARE(painter.frameColor(first), FlameGraphLayout::functionColor("alloc_a"));
        QVERIFY(FlameGraphLayout::functionColor("alloc_a") != FlameGraphLayout::functionColor("caller"));
        // A fixed hash, not Qt's seeded one: the same in every run.
        QCOMPARE(FlameGraphLayout::functionColor("main"), QColor(206, 203, 31));
        QVERIFY(FlameGraphLayout::costColor(1.0).red() > FlameGraphLayout::costColor(1.0).green());
        QVERIFY(FlameGraphLayout::costColor(0.01).green() > FlameGraphLayout::costColor(0.5).green());
    }

    void hitTesting_data()
    {
        QTest::addColumn<int>("zoomDepth");
        QTest::newRow("whole graph") << 0;
        QTest::newRow("zoomed") << 1;
    }

    void hitTesting()
    {
        QFETCH(int, zoomDepth);
        auto data = parseFixture(QStringLiteral("custom-alloc.massif"));
        FlameGraphLayout layout;
        layout.setSnapshot(data->peak());
        Massif::FlameGraphPainter painter(layout);
        const int zoom = zoomDepth ? frameAtPath(layout, QStringLiteral("my_pool_alloc")) : 0;
        painter.setZoomFrame(zoom);
        const QSizeF canvas(1000, 400);
        for (int i = 0; i < layout.frameCount(); ++i) {
            const QRectF rect = painter.frameRect(i, canvas);
            const bool shown = layout.isAncestorOf(zoom, i) || layout.isAncestorOf(i, zoom);
            QCOMPARE(!rect.isEmpty(), shown);
            if (shown && rect.width() >= 1) {
                QCOMPARE(painter.frameAt(rect.center(), canvas), i);
            }
        }
        QCOMPARE(painter.frameAt(QPointF(10, 10), canvas), -1);
        if (zoomDepth) {
            // The zoomed frame spans the width; its parent lies full width below it.
            QCOMPARE(painter.frameRect(zoom, canvas), QRectF(0, 400 - 36, 1000, 18));
            QCOMPARE(painter.frameRect(0, canvas), QRectF(0, 400 - 18, 1000, 18));
        }
    }

    void narrowFramesNotDrawnOneByOne()
    {
        // 20,000 sites of one byte each under one of 20,000: all narrower than a pixel.
        Massif::SnapshotItem snapshot;
        auto *root = node(nullptr, "root", 40000);
        node(root, "0x1: big (big.c:1)", 20000);
        for (int i = 0; i < 20000; ++i) {
            node(root, "0x2: site" + QByteArray::number(i) + " (s.c:1)", 1);
        }
        snapshot.setMemHeap(40000);
        snapshot.setHeapTree(root);
        FlameGraphLayout layout;
        layout.setSnapshot(&snapshot);
        QCOMPARE(layout.frameCount(), 20002);
        Massif::FlameGraphPainter painter(layout);
        QImage image(800, 100, QImage::Format_ARGB32);
        image.fill(Qt::white);
        QPainter p(&image);
        const int boxes = painter.paint(&p, image.size(), image.rect());
        p.end();
        // The root, the big site and one box for all the small ones.
        QCOMPARE(boxes, 3);
        // That box covers the right half of the row above the root.
        QVERIFY(image.pixelColor(600, 100 - 18 - 9) != QColor(Qt::white));
    }

    void svg_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<bool>("inverted");
        QTest::newRow("templates") << QStringLiteral("templates.massif") << false;
        QTest::newRow("templates inverted") << QStringLiteral("templates.massif") << true;
        QTest::newRow("hostile labels") << QString() << false;
    }

    void svg()
    {
        QFETCH(QString, fixture);
        QFETCH(bool, inverted);
        std::unique_ptr<Massif::FileData> data;
        std::unique_ptr<Massif::SnapshotItem> built;
        const Massif::SnapshotItem *snapshot = nullptr;
        if (fixture.isEmpty()) {
            built = std::make_unique<Massif::SnapshotItem>();
            auto *root = node(nullptr, "root", 30);
            node(root, "0x1: </title><script>alert(\"&amp;\")</script> (x.c:1)", 10);
            node(root, QByteArray("0x2: ctrl\x01\x1f char]]> (y.c:2)"), 10);
            node(root, "0x3: \xc3\xa9t\xc3\xa9 'quoted' (z.c:3)", 10);
            built->setMemHeap(30);
            built->setHeapTree(root);
            snapshot = built.get();
        } else {
            data = parseFixture(fixture);
            QVERIFY(data);
            snapshot = data->peak();
        }
        FlameGraphLayout layout;
        layout.setSnapshot(snapshot, inverted);
        Massif::FlameGraphSvgWriter writer(layout);
        writer.setTitle(QStringLiteral("Flame <graph> & title"));
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(writer.write(&buffer));
        const QByteArray svg = buffer.data();

        QSvgRenderer renderer(svg);
        QVERIFY(renderer.isValid());

        // Every frame wide enough is a group whose title reads back as its tooltip.
        QXmlStreamReader reader(svg);
        QStringList titles;
        QStringList texts;
        while (!reader.atEnd()) {
            if (reader.readNext() == QXmlStreamReader::StartElement) {
                if (reader.name() == QLatin1String("title")) {
                    titles << reader.readElementText();
                } else if (reader.name() == QLatin1String("text")) {
                    texts << reader.readElementText();
                }
            }
        }
        QVERIFY2(!reader.hasError(), qPrintable(reader.errorString()));
        QCOMPARE(titles.size(), layout.frameCount());
        for (int i = 1; i < layout.frameCount(); ++i) {
            QString expected = layout.plainToolTip(i);
            for (QChar &c : expected) {
                if (c.unicode() < 0x20 && c != QLatin1Char('\n')) {
                    c = QChar::ReplacementCharacter;
                }
            }
            QVERIFY(titles.contains(expected));
        }
        QVERIFY(texts.contains(QStringLiteral("Flame <graph> & title")));
        if (fixture.isEmpty()) {
            QVERIFY(!svg.contains("<script"));
            QVERIFY(svg.contains("&lt;/title>&lt;script>") || svg.contains("&lt;/title&gt;&lt;script&gt;"));
            QVERIFY(texts.contains(QStringLiteral("</title><script>alert(\"&amp;\")</script> (x.c:1)")));
            QVERIFY(texts.contains(QString::fromUtf8("\xc3\xa9t\xc3\xa9 'quoted' (z.c:3)")));
        }
    }

    void svgUnwritable()
    {
        const auto snapshot = handBuiltSnapshot();
        FlameGraphLayout layout;
        layout.setSnapshot(snapshot.get());
        Massif::FlameGraphSvgWriter writer(layout);
        QVERIFY(!writer.write(QStringLiteral("/nonexistent-quillmap-dir/graph.svg")));
        QVERIFY(!writer.errorString().isEmpty());
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("graph.svg"));
        QVERIFY(writer.write(path));
        QVERIFY(QSvgRenderer(path).isValid());
    }
};

QTEST_MAIN(FlameGraphLayoutTest)

#include "flamegraphlayouttest.moc"
