/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

// Times the flame graph on the GUI thread: laying out and drawing a made-up
// snapshot of about 50,000 nodes, then switching the flame graph tab between
// the detailed snapshots of a large file (by default the one
// bench/make-bench-input.sh writes), each switch laid out and painted.
//
//   flamegraphbench [FILE] [--runs N] [--width W] [--height H]

#include "filedata.h"
#include "flamegraphlayout.h"
#include "flamegraphpainter.h"
#include "flamegraphtab.h"
#include "flamegraphview.h"
#include "parser.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <KActionCollection>
#include <KXMLGUIClient>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace {

QTextStream out(stdout);

double timed(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return timer.nsecsElapsed() / 1e6;
}

struct Stats
{
    double best = 0;
    double median = 0;
    double worst = 0;
};

Stats stats(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    if (samples.empty()) {
        return {};
    }
    return {samples.front(), samples[samples.size() / 2], samples.back()};
}

void printRow(const QString &name, const Stats &s, const QString &note = QString())
{
    out << qSetFieldWidth(44) << Qt::left << name << qSetFieldWidth(0)
        << QStringLiteral("best %1 ms  median %2 ms  worst %3 ms  %4\n").arg(s.best, 7, 'f', 2).arg(s.median, 7, 'f', 2).arg(s.worst, 7, 'f', 2).arg(note);
    out.flush();
}

qint64 countNodes(const Massif::TreeLeafItem *node)
{
    if (!node) {
        return 0;
    }
    qint64 count = 1;
    const auto children = node->children();
    for (const Massif::TreeLeafItem *child : children) {
        count += countNodes(child);
    }
    return count;
}

// 400 sites, 10 callers each, 11 outer callers each: 48,401 nodes with
// costs spread over four orders of magnitude, as in real heap trees.
std::unique_ptr<Massif::SnapshotItem> madeUpSnapshot()
{
    quint32 seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) & 0xffff;
    };
    auto snapshot = std::make_unique<Massif::SnapshotItem>();
    auto *root = new Massif::TreeLeafItem;
    root->setLabel("(heap allocation functions) malloc/new/new[], --alloc-fns, etc.");
    quint64 total = 0;
    for (int s = 0; s < 400; ++s) {
        auto *site = new Massif::TreeLeafItem;
        site->setLabel("0x4" + QByteArray::number(s, 16) + ": site_" + QByteArray::number(s) + "(int) (site.c:" + QByteArray::number(s) + ')');
        quint64 siteCost = 0;
        for (int c = 0; c < 10; ++c) {
            auto *caller = new Massif::TreeLeafItem;
            caller->setLabel("0x5" + QByteArray::number(c, 16) + ": caller_" + QByteArray::number(c) + " (caller.c:" + QByteArray::number(c) + ')');
            quint64 callerCost = 0;
            for (int o = 0; o < 11; ++o) {
                auto *outer = new Massif::TreeLeafItem;
                outer->setLabel("0x6" + QByteArray::number(o, 16) + ": outer_" + QByteArray::number(o) + " (outer.c:" + QByteArray::number(o) + ')');
                const quint64 cost = 16 + quint64(next()) * (s % 7 == 0 ? 100 : 1);
                outer->setCost(cost);
                callerCost += cost;
                caller->addChild(outer);
            }
            caller->setCost(callerCost);
            siteCost += callerCost;
            site->addChild(caller);
        }
        site->setCost(siteCost);
        total += siteCost;
        root->addChild(site);
    }
    root->setCost(total);
    snapshot->setMemHeap(total);
    snapshot->setHeapTree(root);
    return snapshot;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quillmap"));
    QStringList arguments = app.arguments().mid(1);
    int runs = 5;
    int width = 1600;
    int height = 900;
    QString fileName = QStringLiteral(QUILLMAP_BENCH_INPUT);
    for (int i = 0; i < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1String("--runs") && i + 1 < arguments.size()) {
            runs = arguments.at(++i).toInt();
        } else if (arguments.at(i) == QLatin1String("--width") && i + 1 < arguments.size()) {
            width = arguments.at(++i).toInt();
        } else if (arguments.at(i) == QLatin1String("--height") && i + 1 < arguments.size()) {
            height = arguments.at(++i).toInt();
        } else {
            fileName = arguments.at(i);
        }
    }

    // The engine alone, on a made-up snapshot.
    {
        const auto snapshot = madeUpSnapshot();
        out << "made-up snapshot: " << countNodes(snapshot->heapTree()) << " nodes, canvas " << width << "x" << height << "\n";
        std::vector<double> layoutTimes, invertedTimes, coldPaint, warmPaint;
        int boxes = 0;
        for (int run = 0; run < runs; ++run) {
            Massif::FlameGraphLayout layout;
            Massif::FlameGraphPainter painter(layout);
            layoutTimes.push_back(timed([&] {
                layout.setSnapshot(snapshot.get());
            }));
            painter.layoutChanged();
            QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
            QPainter p(&image);
            coldPaint.push_back(timed([&] {
                boxes = painter.paint(&p, image.size(), image.rect());
            }));
            warmPaint.push_back(timed([&] {
                painter.paint(&p, image.size(), image.rect());
            }));
            p.end();
            Massif::FlameGraphLayout inverted;
            invertedTimes.push_back(timed([&] {
                inverted.setSnapshot(snapshot.get(), true);
            }));
        }
        printRow(QStringLiteral("layout"), stats(layoutTimes));
        printRow(QStringLiteral("first paint (texts worked out)"), stats(coldPaint), QStringLiteral("%1 boxes drawn").arg(boxes));
        printRow(QStringLiteral("repaint"), stats(warmPaint));
        printRow(QStringLiteral("inverted layout"), stats(invertedTimes));

        // The tab's whole way: selection to painted viewport.
        Massif::FileData data;
        KXMLGUIClient guiParent;
        FlameGraphTab tab(&data, &guiParent, nullptr);
        tab.resize(width, height);
        tab.show();
        std::vector<double> shown;
        for (int run = 0; run < runs; ++run) {
            tab.view()->setSnapshot(nullptr, false);
            shown.push_back(timed([&] {
                tab.selectModelItem(Massif::ModelItem(nullptr, snapshot.get()));
                tab.view()->viewport()->repaint();
            }));
        }
        printRow(QStringLiteral("tab: select and paint"), stats(shown));
    }

    // A large real file: switching the tab between its detailed snapshots.
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        out << "no input " << fileName << " (bench/make-bench-input.sh writes it); done\n";
        return 0;
    }
    QElapsedTimer parseTimer;
    parseTimer.start();
    Massif::Parser parser;
    std::unique_ptr<Massif::FileData> data(parser.parse(&file));
    if (!data) {
        out << "cannot parse " << fileName << "\n";
        return 1;
    }
    out << "\n" << fileName << ": parsed in " << parseTimer.elapsed() / 1000.0 << " s\n";
    std::vector<const Massif::SnapshotItem *> detailed;
    qint64 allNodes = 0;
    qint64 largest = 0;
    const Massif::SnapshotItem *largestSnapshot = nullptr;
    const auto snapshots = data->snapshots();
    for (const Massif::SnapshotItem *snapshot : snapshots) {
        if (snapshot->heapTree()) {
            detailed.push_back(snapshot);
            const qint64 nodes = countNodes(snapshot->heapTree());
            allNodes += nodes;
            if (nodes > largest) {
                largest = nodes;
                largestSnapshot = snapshot;
            }
        }
    }
    out << snapshots.size() << " snapshots, " << detailed.size() << " with heap trees, " << allNodes << " nodes, the largest tree " << largest
        << " nodes (snapshot #" << (largestSnapshot ? largestSnapshot->number() : 0) << ")\n";

    KXMLGUIClient guiParent;
    FlameGraphTab tab(data.get(), &guiParent, nullptr);
    tab.resize(width, height);
    tab.show();
    QApplication::processEvents();
    std::vector<double> switches;
    for (int run = 0; run < runs; ++run) {
        for (const Massif::SnapshotItem *snapshot : detailed) {
            switches.push_back(timed([&] {
                tab.selectModelItem(Massif::ModelItem(nullptr, snapshot));
                tab.view()->viewport()->repaint();
            }));
        }
    }
    printRow(QStringLiteral("switch snapshot: layout and paint"), stats(switches), QStringLiteral("%1 switches").arg(switches.size()));

    std::vector<double> largestTimes, invertedTimes;
    QAction *invert = tab.actionCollection()->action(QStringLiteral("flamegraph_inverted"));
    for (int run = 0; run < runs && largestSnapshot; ++run) {
        tab.selectModelItem(Massif::ModelItem(nullptr, detailed.front()));
        largestTimes.push_back(timed([&] {
            tab.selectModelItem(Massif::ModelItem(nullptr, largestSnapshot));
            tab.view()->viewport()->repaint();
        }));
        invertedTimes.push_back(timed([&] {
            invert->toggle();
            tab.view()->viewport()->repaint();
        }));
        invert->toggle();
    }
    printRow(QStringLiteral("switch to the largest tree"), stats(largestTimes));
    printRow(QStringLiteral("invert the largest tree"), stats(invertedTimes));
    return 0;
}
