/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

// Times Massif::Parser::parse over one file, read as the parse worker reads it.
// Prints one line: seconds, MB/s of the uncompressed text, memory held by the
// parsed data, peak resident memory, and the shape of the data.
//
//   parsebench FILE [PLAIN-BYTES] [--threads N]   (N = 0, the default: one per core)

#include "filedata.h"
#include "parser.h"
#include "readaheaddevice.h"
#include "residentmemory.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <KCompressionDevice>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QTextStream>

#include <memory>

#include <sys/resource.h>

namespace {

qint64 peakResidentBytes()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_maxrss) * 1024;
}

struct Shape
{
    qint64 nodes = 0;
    QSet<const char *> labelBuffers;
};

void measure(const Massif::TreeLeafItem *node, Shape *shape)
{
    ++shape->nodes;
    shape->labelBuffers.insert(node->label().constData());
    const auto children = node->children();
    for (const Massif::TreeLeafItem *child : children) {
        measure(child, shape);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments();
    int threads = 0;
    const qsizetype threadsOption = arguments.indexOf(QStringLiteral("--threads"));
    if (threadsOption > 0 && threadsOption + 1 < arguments.size()) {
        threads = arguments.at(threadsOption + 1).toInt();
        arguments.remove(threadsOption, 2);
    }
    if (arguments.size() < 2) {
        QTextStream(stderr) << "usage: parsebench FILE [plain-bytes] [--threads N]\n";
        return 2;
    }
    const QString path = arguments.at(1);
    const double textBytes = arguments.size() > 2 ? arguments.at(2).toDouble() : QFile(path).size();

    KCompressionDevice device(path);
    if (!device.open(QIODevice::ReadOnly)) {
        QTextStream(stderr) << "cannot open " << path << '\n';
        return 1;
    }
    // As the parse worker reads it.
    Massif::ReadAheadDevice input(&device);
    input.open(QIODevice::ReadOnly);
    const qint64 before = residentBytes();
    QElapsedTimer timer;
    timer.start();
    Massif::Parser parser;
    parser.setThreadCount(threads);
    std::unique_ptr<Massif::FileData> data(parser.parse(&input));
    const double seconds = timer.nsecsElapsed() / 1e9;
    const qint64 held = residentBytes() - before;
    if (!data) {
        QTextStream(stderr) << "parse failed in line " << parser.errorLine() << '\n';
        return 1;
    }

    Shape shape;
    const auto snapshots = data->snapshots();
    for (const Massif::SnapshotItem *snapshot : snapshots) {
        if (snapshot->heapTree()) {
            measure(snapshot->heapTree(), &shape);
        }
    }
    QTextStream(stdout) << QString::asprintf("%.3f %.1f %.1f %.1f %lld %lld %lld\n",
                                             seconds,
                                             textBytes / 1e6 / seconds,
                                             held / 1e6,
                                             peakResidentBytes() / 1e6,
                                             qint64(snapshots.size()),
                                             shape.nodes,
                                             qint64(shape.labelBuffers.size()));
    return 0;
}
