/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

// Times the comparison engine over large massif files (by default the one
// bench/make-bench-input.sh writes): the peaks of two files when a second
// file is given, otherwise the peak against other snapshots of the same
// file, and every detailed snapshot against the next one, which together
// touch every node of the file.
//
//   comparebench [FILE [SECOND-FILE]] [--runs N]

#include "comparison.h"
#include "filedata.h"
#include "parser.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

qint64 countNodes(const Massif::TreeLeafItem *node)
{
    if (!node) {
        return 0;
    }
    qint64 count = 0;
    std::vector<const Massif::TreeLeafItem *> stack {node};
    while (!stack.empty()) {
        const Massif::TreeLeafItem *top = stack.back();
        stack.pop_back();
        ++count;
        const auto children = top->children();
        for (const Massif::TreeLeafItem *child : children) {
            stack.push_back(child);
        }
    }
    return count;
}

std::unique_ptr<Massif::FileData> load(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        QTextStream(stderr) << "cannot open " << path << '\n';
        return nullptr;
    }
    QElapsedTimer timer;
    timer.start();
    Massif::Parser parser;
    std::unique_ptr<Massif::FileData> data(parser.parse(&file));
    if (!data) {
        QTextStream(stderr) << path << ": parse failed in line " << parser.errorLine() << '\n';
        return nullptr;
    }
    qint64 nodes = 0;
    const auto snapshots = data->snapshots();
    for (const Massif::SnapshotItem *snapshot : snapshots) {
        nodes += countNodes(snapshot->heapTree());
    }
    QTextStream(stdout) << path << ": " << snapshots.size() << " snapshots, " << nodes << " nodes, peak #" << data->peak()->number() << " with "
                        << countNodes(data->peak()->heapTree()) << " nodes; parsed in " << timer.elapsed() << " ms\n";
    return data;
}

struct Timing
{
    double best = 0;
    double median = 0;
};

// Best and median of @p runs comparisons of the two snapshots, in milliseconds.
Timing timeComparison(const Massif::FileData *baselineFile,
                      const Massif::SnapshotItem *baseline,
                      const Massif::FileData *currentFile,
                      const Massif::SnapshotItem *current,
                      int runs,
                      qsizetype *rows)
{
    std::vector<double> samples;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        const Massif::Comparison comparison(baselineFile, baseline, currentFile, current);
        const QString summary = comparison.summary();
        samples.push_back(timer.nsecsElapsed() / 1e6);
        *rows = comparison.tree().size();
        Q_UNUSED(summary)
    }
    std::sort(samples.begin(), samples.end());
    return {samples.front(), samples[samples.size() / 2]};
}

void report(const QString &what, qint64 nodes, qsizetype rows, const Timing &timing)
{
    QTextStream out(stdout);
    out << what.leftJustified(36) << nodes << " nodes, " << rows << " rows: best " << timing.best << " ms, median " << timing.median << " ms ("
        << (nodes ? timing.best * 1e6 / double(nodes) : 0.0) << " ns per node)\n";
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList files;
    int runs = 5;
    const QStringList arguments = app.arguments().mid(1);
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1String("--runs") && i + 1 < arguments.size()) {
            runs = std::max(1, arguments.at(++i).toInt());
        } else {
            files << arguments.at(i);
        }
    }
    if (files.isEmpty()) {
        files << QStringLiteral(QUILLMAP_BENCH_INPUT);
    }

    const std::unique_ptr<Massif::FileData> first = load(files.at(0));
    const std::unique_ptr<Massif::FileData> second = files.size() > 1 ? load(files.at(1)) : nullptr;
    if (!first || (files.size() > 1 && !second)) {
        return 1;
    }

    std::vector<const Massif::SnapshotItem *> detailed;
    const auto snapshots = first->snapshots();
    for (const Massif::SnapshotItem *snapshot : snapshots) {
        if (snapshot->heapTree()) {
            detailed.push_back(snapshot);
        }
    }
    const Massif::SnapshotItem *peak = first->peak();
    qsizetype rows = 0;

    if (second) {
        const Massif::SnapshotItem *otherPeak = second->peak();
        const Timing timing = timeComparison(first.get(), peak, second.get(), otherPeak, runs, &rows);
        report(QStringLiteral("peaks of the two files"), countNodes(peak->heapTree()) + countNodes(otherPeak->heapTree()), rows, timing);
        const Massif::Comparison comparison(first.get(), peak, second.get(), otherPeak);
        QTextStream(stdout) << "  " << comparison.summary() << '\n';
    }

    // The peak against the first and the last detailed snapshot and against itself.
    const std::vector<std::pair<QString, const Massif::SnapshotItem *>> others {
        {QStringLiteral("first detailed snapshot vs peak"), detailed.front()},
        {QStringLiteral("peak vs itself"), peak},
        {QStringLiteral("last detailed snapshot vs peak"), detailed.back()},
    };
    for (const auto &[what, other] : others) {
        const Timing timing = timeComparison(first.get(), other, first.get(), peak, runs, &rows);
        report(what, countNodes(other->heapTree()) + countNodes(peak->heapTree()), rows, timing);
        if (other != peak) {
            const Massif::Comparison comparison(first.get(), other, first.get(), peak);
            QTextStream(stdout) << "  " << comparison.summary() << '\n';
        }
    }

    // Every detailed snapshot against the next: each node of the file is read twice.
    qint64 nodes = 0;
    std::vector<qint64> treeNodes;
    for (const Massif::SnapshotItem *snapshot : detailed) {
        treeNodes.push_back(countNodes(snapshot->heapTree()));
    }
    std::vector<double> samples;
    qint64 totalRows = 0;
    for (int run = 0; run < std::max(1, runs / 2); ++run) {
        nodes = 0;
        totalRows = 0;
        QElapsedTimer timer;
        timer.start();
        for (size_t i = 0; i + 1 < detailed.size(); ++i) {
            const Massif::Comparison comparison(first.get(), detailed[i], first.get(), detailed[i + 1]);
            totalRows += comparison.tree().size();
            nodes += treeNodes[i] + treeNodes[i + 1];
        }
        samples.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(samples.begin(), samples.end());
    report(QStringLiteral("%1 neighbouring pairs").arg(detailed.size() - 1), nodes, qsizetype(totalRows), {samples.front(), samples[samples.size() / 2]});
    return 0;
}
