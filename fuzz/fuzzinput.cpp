/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "fuzzinput.h"
#include "dotgraphgenerator.h"
#include "filedata.h"
#include "parser.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <QBuffer>
#include <QFile>
#include <QStringList>

#include <graphviz/cgraph.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// Runs the generator on the calling thread, as its own thread would.
class InlineGenerator : public Massif::DotGraphGenerator
{
public:
    using Massif::DotGraphGenerator::DotGraphGenerator;
    void runHere()
    {
        run();
    }
};

void requireValidDot(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        return;
    }
    const QByteArray dot = file.readAll();
    Agraph_t *graph = agmemread(dot.constData());
    if (!graph) {
        std::fprintf(stderr, "invalid dot file written:\n%s\n", dot.constData());
        std::abort();
    }
    agclose(graph);
}

template<typename Item>
void writeGraph(const Item *item, const QString &timeUnit)
{
    InlineGenerator generator(item, timeUnit);
    generator.runHere();
    requireValidDot(generator.outputFileName());
}

// The peak and the first few snapshots: fuzzed inputs are small, and the
// fixtures do not need every one of their snapshots drawn three times.
void drawGraphs(const Massif::FileData *data)
{
    if (!data->peak()) {
        return;
    }
    QList<const Massif::SnapshotItem *> drawn = {data->peak()};
    const auto snapshots = data->snapshots();
    for (const Massif::SnapshotItem *snapshot : snapshots) {
        if (drawn.size() >= 4) {
            break;
        }
        if (!drawn.contains(snapshot)) {
            drawn << snapshot;
        }
    }
    for (const Massif::SnapshotItem *snapshot : std::as_const(drawn)) {
        writeGraph(snapshot, data->timeUnit());
        if (const Massif::TreeLeafItem *root = snapshot->heapTree(); root && !root->children().isEmpty()) {
            writeGraph(root->children().constFirst(), data->timeUnit());
        }
    }
}

} // namespace

void processFuzzInput(const QByteArray &input)
{
    static const QList<QStringList> allocatorSets = {
        {},
        {QStringLiteral("alloc"), QString()},
        {QStringLiteral("*new*"), QStringLiteral("m?lloc"), QStringLiteral("[x")},
    };
    for (const QStringList &allocators : allocatorSets) {
        QBuffer device;
        device.setData(input);
        device.open(QIODevice::ReadOnly);
        Massif::Parser parser;
        std::unique_ptr<Massif::FileData> data(parser.parse(&device, allocators));
        if (data) {
            drawGraphs(data.get());
        }
    }
}
