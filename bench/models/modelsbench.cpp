/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

// Times the analysis models over one large massif file (by default the one
// bench/make-bench-input.sh writes) and prints a table: the best and the
// median of several runs, and the heap each model keeps.
//
//   modelsbench [FILE] [--runs N] [--match NEEDLE] [--miss NEEDLE]

#include "allocatorsmodel.h"
#include "datatreemodel.h"
#include "detailedcostmodel.h"
#include "filedata.h"
#include "filtereddatatreemodel.h"
#include "parser.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include <malloc.h>

namespace {

// Bytes handed out by malloc, including large blocks served by mmap.
qint64 heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
}

struct Sample
{
    double milliseconds = 0;
    qint64 bytes = 0;
};

struct Row
{
    QString name;
    std::vector<Sample> samples;
    QString note;
};

qint64 countNodes(const Massif::TreeLeafItem *node, int depth, int *maxDepth)
{
    *maxDepth = std::max(*maxDepth, depth);
    qint64 count = 1;
    const auto children = node->children();
    for (const Massif::TreeLeafItem *child : children) {
        count += countNodes(child, depth + 1, maxDepth);
    }
    return count;
}

// Runs @p work once and measures its time and the heap it leaves allocated.
Sample measure(const std::function<void()> &work)
{
    const qint64 before = heapInUse();
    QElapsedTimer timer;
    timer.start();
    work();
    Sample sample;
    sample.milliseconds = timer.nsecsElapsed() / 1e6;
    sample.bytes = heapInUse() - before;
    return sample;
}

// Rows of the proxy, all levels.
qint64 visibleRows(const QAbstractItemModel *model, const QModelIndex &parent = QModelIndex())
{
    const int rows = model->rowCount(parent);
    qint64 count = rows;
    for (int row = 0; row < rows; ++row) {
        count += visibleRows(model, model->index(row, 0, parent));
    }
    return count;
}

// One filter pass: what the deferred timer triggers, run at once.
Sample filterPass(Massif::FilteredDataTreeModel *proxy, const QString &needle)
{
    proxy->setFilter(QString());
    QMetaObject::invokeMethod(proxy, "timeout", Qt::DirectConnection);
    proxy->rowCount();
    proxy->setFilter(needle);
    return measure([proxy] {
        QMetaObject::invokeMethod(proxy, "timeout", Qt::DirectConnection);
    });
}

void printTable(const std::vector<Row> &rows, qint64 nodes)
{
    QTextStream out(stdout);
    out << QStringLiteral("%1 %2 %3 %4 %5  %6\n")
               .arg(QStringLiteral("operation"), -44)
               .arg(QStringLiteral("best ms"), 9)
               .arg(QStringLiteral("median ms"), 10)
               .arg(QStringLiteral("kept MB"), 9)
               .arg(QStringLiteral("B/node"), 7)
               .arg(QStringLiteral("note"));
    for (Row row : rows) {
        std::sort(row.samples.begin(), row.samples.end(), [](const Sample &a, const Sample &b) {
            return a.milliseconds < b.milliseconds;
        });
        const Sample &best = row.samples.front();
        const Sample &median = row.samples.at(row.samples.size() / 2);
        out << QStringLiteral("%1 %2 %3 %4 %5  %6\n")
                   .arg(row.name, -44)
                   .arg(best.milliseconds, 9, 'f', 1)
                   .arg(median.milliseconds, 10, 'f', 1)
                   .arg(median.bytes / 1e6, 9, 'f', 1)
                   .arg(double(median.bytes) / double(nodes), 7, 'f', 1)
                   .arg(row.note);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication::setAttribute(Qt::AA_Use96Dpi);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    int runs = 5;
    QString miss = QStringLiteral("no such function");
    QString match = QStringLiteral("0x63287C");
    QString path = QStringLiteral(QUILLMAP_BENCH_INPUT);
    while (!arguments.isEmpty()) {
        const QString argument = arguments.takeFirst();
        if (argument == QLatin1String("--runs") && !arguments.isEmpty()) {
            runs = std::max(1, arguments.takeFirst().toInt());
        } else if (argument == QLatin1String("--match") && !arguments.isEmpty()) {
            match = arguments.takeFirst();
        } else if (argument == QLatin1String("--miss") && !arguments.isEmpty()) {
            miss = arguments.takeFirst();
        } else {
            path = argument;
        }
    }

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        QTextStream(stderr) << "cannot open " << path << " (run bench/make-bench-input.sh)\n";
        return 1;
    }
    QElapsedTimer parseTimer;
    parseTimer.start();
    Massif::Parser parser;
    const std::unique_ptr<Massif::FileData> data(parser.parse(&file));
    if (!data) {
        QTextStream(stderr) << "parse failed in line " << parser.errorLine() << '\n';
        return 1;
    }
    qint64 nodes = 0;
    int maxDepth = 0;
    const auto snapshots = data->snapshots();
    for (const Massif::SnapshotItem *snapshot : snapshots) {
        if (snapshot->heapTree()) {
            nodes += countNodes(snapshot->heapTree(), 0, &maxDepth);
        }
    }
    QTextStream(stdout) << path << ": " << snapshots.size() << " snapshots, " << nodes << " nodes, depth " << maxDepth << ", parsed in " << parseTimer.elapsed()
                        << " ms\n\n";

    Row tree {QStringLiteral("DataTreeModel::setFileData"), {}, QString()};
    Row detailed {QStringLiteral("DetailedCostModel::setFileData"), {}, QString()};
    Row allocators {QStringLiteral("AllocatorsModel construction"), {}, QString()};
    Row missing {QStringLiteral("filter pass, no match \"%1\"").arg(miss), {}, QString()};
    Row matching {QStringLiteral("filter pass, deep match \"%1\"").arg(match), {}, QString()};

    for (int run = 0; run < runs; ++run) {
        {
            Massif::DataTreeModel model;
            tree.samples.push_back(measure([&] {
                model.setFileData(data.get());
            }));
            auto *proxy = new Massif::FilteredDataTreeModel(&model);
            missing.samples.push_back(filterPass(proxy, miss));
            missing.note = QStringLiteral("%1 rows shown").arg(visibleRows(proxy));
            matching.samples.push_back(filterPass(proxy, match));
            matching.note = QStringLiteral("%1 rows shown").arg(visibleRows(proxy));
            model.setFileData(nullptr);
        }
        {
            Massif::DetailedCostModel model;
            detailed.samples.push_back(measure([&] {
                model.setFileData(data.get());
            }));
            detailed.note = QStringLiteral("%1 rows, %2 columns").arg(model.rowCount()).arg(model.columnCount());
            model.setFileData(nullptr);
        }
        {
            std::unique_ptr<Massif::AllocatorsModel> model;
            allocators.samples.push_back(measure([&] {
                model = std::make_unique<Massif::AllocatorsModel>(data.get());
            }));
            allocators.note = QStringLiteral("%1 sites").arg(model->rowCount());
        }
    }

    printTable({tree, detailed, allocators, missing, matching}, nodes);
    QTextStream(stdout) << "\nB/node: heap kept after the operation divided by the " << nodes << " tree nodes; " << runs << " runs.\n";
    return 0;
}
