/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

// Measures the call graph: generation of the dot file, its layout by
// Graphviz, and the whole way from a selection in the call graph tab to the
// drawn graph, with the longest time the GUI thread went without running its
// event loop meanwhile (a 10 ms timer records the gaps between its ticks).
//
//   callgraphbench [MASSIF-FILE]
//   callgraphbench --sizes 500,1000,2000 [MASSIF-FILE]   (dot's layout time by node count)
//
// Inputs: the peak snapshot of MASSIF-FILE (default bench/data/massif.out.bench,
// else the largest fixture) and a synthetic tree of 2,000 distinct functions.

#include "callgraphtab.h"
#include "dotgraphgenerator.h"
#include "filedata.h"
#include "graphlayout.h"
#include "graphviewerplugin.h"
#include "parser.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <KLocalizedString>
#include <KParts/ReadOnlyPart>
#include <KPluginFactory>
#include <KPluginMetaData>
#include <KXMLGUIClient>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTextStream>
#include <QTimer>

#include <functional>
#include <limits>
#include <memory>

namespace {

QTextStream out(stdout);

// A call tree of @p count distinct functions: each calls two to four
// others, with costs that add up towards the root.
std::unique_ptr<Massif::FileData> syntheticProfile(int count)
{
    QRandomGenerator random(42);
    auto data = std::make_unique<Massif::FileData>();
    auto *root = new Massif::TreeLeafItem;
    root->setLabel("(heap allocation functions) malloc/new/new[], --alloc-fns, etc.");
    QList<Massif::TreeLeafItem *> open {root};
    int made = 1;
    while (made < count && !open.isEmpty()) {
        Massif::TreeLeafItem *parent = open.takeFirst();
        const int children = 2 + int(random.bounded(3));
        for (int i = 0; i < children && made < count; ++i, ++made) {
            auto *child = new Massif::TreeLeafItem;
            child->setLabel("0x" + QByteArray::number(0x400000 + made, 16) + ": namespace" + QByteArray::number(made % 17) + "::Class" +
                            QByteArray::number(made) + "::method(int, std::vector<int> const&) (source" + QByteArray::number(made % 50) +
                            ".cpp:" + QByteArray::number(made % 700) + ")");
            parent->addChild(child);
            open.append(child);
        }
    }
    // Every function without callees allocates; costs flow up.
    const QByteArray allocationLabel("0x4C2DB8F: malloc (vg_replace_malloc.c:299)");
    std::function<quint64(Massif::TreeLeafItem *)> sum = [&](Massif::TreeLeafItem *node) -> quint64 {
        if (node->children().isEmpty()) {
            auto *allocation = new Massif::TreeLeafItem;
            allocation->setLabel(allocationLabel);
            allocation->setCost(64 + random.bounded(4096));
            node->addChild(allocation);
        }
        quint64 cost = 0;
        const QList<Massif::TreeLeafItem *> children = node->children();
        for (Massif::TreeLeafItem *child : children) {
            cost += child->label() == allocationLabel ? child->cost() : sum(child);
        }
        node->setCost(cost);
        return cost;
    };
    sum(root);
    auto *snapshot = new Massif::SnapshotItem;
    snapshot->setNumber(1);
    snapshot->setMemHeap(root->cost());
    snapshot->setHeapTree(root);
    data->addSnapshot(snapshot);
    data->setPeak(snapshot);
    data->setTimeUnit(QStringLiteral("i"));
    return data;
}

std::unique_ptr<Massif::FileData> parseFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        return nullptr;
    }
    Massif::Parser parser;
    return std::unique_ptr<Massif::FileData>(parser.parse(&file));
}

QString defaultInput()
{
    const QString bench = QStringLiteral(QUILLMAP_SOURCE_DIR "/bench/data/massif.out.bench");
    if (QFile::exists(bench)) {
        return bench;
    }
    const QFileInfoList fixtures =
        QDir(QStringLiteral(QUILLMAP_SOURCE_DIR "/tests/fixtures")).entryInfoList({QStringLiteral("*.massif")}, QDir::Files, QDir::Size);
    return fixtures.isEmpty() ? QString() : fixtures.first().filePath();
}

int countNodes(const QByteArray &dot)
{
    return dot.count("\" [shape=");
}

void measureSnapshot(const QString &name, const Massif::FileData *data, KPluginFactory *factory)
{
    const Massif::SnapshotItem *snapshot = data->peak();

    // Generation alone.
    QElapsedTimer timer;
    timer.start();
    Massif::DotGraphGenerator generator(snapshot, data->timeUnit());
    generator.start();
    generator.wait();
    const qint64 generation = timer.elapsed();
    QFile file(generator.outputFileName());
    file.open(QIODevice::ReadOnly);
    const QByteArray dot = file.readAll();

    // Layout alone, as the viewer does it: Graphviz's dot program, then
    // reading its output.
    timer.restart();
    QProcess process;
    process.start(GraphViewer::dotExecutable(), GraphViewer::dotArguments(generator.outputFileName()));
    process.waitForFinished(-1);
    const QByteArray xdot = process.readAllStandardOutput();
    const qint64 layoutTime = timer.elapsed();
    timer.restart();
    GraphViewer::GraphLayout layout;
    QString error;
    const bool laidOut = process.exitCode() == 0 && GraphViewer::readLayout(xdot, &layout, &error);
    const qint64 readTime = timer.elapsed();

    // The whole way through the tab, watching the GUI thread.
    QWidget window;
    KParts::ReadOnlyPart *part = factory->create<KParts::ReadOnlyPart>(&window, &window);
    KXMLGUIClient guiParent;
    auto *tab = new CallGraphTab(const_cast<Massif::FileData *>(data), part, &guiParent, nullptr);
    tab->resize(1280, 800);

    QElapsedTimer gap;
    qint64 longestGap = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&]() {
        longestGap = std::max(longestGap, gap.restart());
    });
    QEventLoop loop;
    QObject::connect(part, SIGNAL(graphLoaded()), &loop, SLOT(quit()));
    ticker.start();
    gap.start();
    timer.restart();
    tab->show(); // requests the peak snapshot
    loop.exec();
    const qint64 shown = timer.elapsed();
    // Let the first paint happen under the watch too.
    QTimer::singleShot(300, &loop, &QEventLoop::quit);
    loop.exec();
    ticker.stop();
    delete tab;

    out << name << ": " << countNodes(dot) << " nodes, " << dot.size() << " bytes of dot\n"
        << "  generation " << generation << " ms (" << generator.leftOutNodes() << " nodes left out), layout by dot " << layoutTime << " ms, reading it "
        << readTime << " ms" << (laidOut ? "" : " (failed)") << '\n'
        << "  selection to graphLoaded() " << shown << " ms, longest GUI thread stall " << longestGap << " ms (timer interval 10 ms)\n";
    out.flush();
}

// How long dot takes by node count: what the generator's limit
// (DotGraphGenerator::DefaultMaximumNodes) is chosen by. Synthetic trees of
// each size, or the peak snapshot of @p real cut down to each size.
void measureLayoutBySize(const QList<int> &sizes, const Massif::FileData *real)
{
    for (const int size : sizes) {
        const std::unique_ptr<Massif::FileData> synthetic = real ? nullptr : syntheticProfile(size);
        const Massif::FileData *data = real ? real : synthetic.get();
        Massif::DotGraphGenerator generator(data->peak(), data->timeUnit());
        generator.setMaximumNodes(real ? size : std::numeric_limits<int>::max());
        generator.start();
        generator.wait();
        QElapsedTimer timer;
        timer.start();
        QProcess process;
        process.start(GraphViewer::dotExecutable(), GraphViewer::dotArguments(generator.outputFileName()));
        process.waitForFinished(-1);
        const QByteArray xdot = process.readAllStandardOutput();
        const qint64 layoutTime = timer.elapsed();
        timer.restart();
        GraphViewer::GraphLayout layout;
        QString error;
        GraphViewer::readLayout(xdot, &layout, &error);
        QFile file(generator.outputFileName());
        file.open(QIODevice::ReadOnly);
        const QByteArray dot = file.readAll();
        out << size << " functions: " << countNodes(dot) << " boxes, " << dot.count(" -> ") << " edges; layout by dot " << layoutTime << " ms, reading it "
            << timer.elapsed() << " ms\n";
        out.flush();
    }
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillmap"));
    KLocalizedString::setApplicationDomain("quillmap");
    Massif::addGraphViewerPluginPaths();
    const auto factory = KPluginFactory::loadFactory(KPluginMetaData(QStringLiteral("kf6/parts/kgraphviewerpart")));
    if (!factory.plugin) {
        out << "no graph viewer part: " << factory.errorText << '\n';
        return 1;
    }

    if (argc > 2 && QByteArray(argv[1]) == "--sizes") {
        QList<int> sizes;
        for (const QByteArray &size : QByteArray(argv[2]).split(',')) {
            sizes << size.toInt();
        }
        const std::unique_ptr<Massif::FileData> real = argc > 3 ? parseFile(QString::fromLocal8Bit(argv[3])) : nullptr;
        measureLayoutBySize(sizes, real.get());
        return 0;
    }

    const QString input = argc > 1 ? QString::fromLocal8Bit(argv[1]) : defaultInput();
    QElapsedTimer timer;
    timer.start();
    const std::unique_ptr<Massif::FileData> data = parseFile(input);
    if (!data || !data->peak()) {
        out << "cannot read " << input << '\n';
        return 1;
    }
    out << "parsed " << input << " in " << timer.elapsed() << " ms\n";
    measureSnapshot(QStringLiteral("peak snapshot of ") + QFileInfo(input).fileName(), data.get(), factory.plugin);

    const std::unique_ptr<Massif::FileData> synthetic = syntheticProfile(2000);
    measureSnapshot(QStringLiteral("synthetic tree of 2,000 distinct functions"), synthetic.get(), factory.plugin);
    return 0;
}
