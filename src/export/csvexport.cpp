/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "csvexport.h"

#include "allocatorsmodel.h"
#include "csvwriter.h"
#include "filedata.h"
#include "formatting.h"
#include "labelpieces.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <QHash>

#include <algorithm>

namespace Massif {

namespace {

/// Function and location of a label; a label that is no call (the root, a
/// below-threshold summary) is all function.
std::pair<QString, QString> functionAndLocation(const QByteArray &label)
{
    const LabelPieces pieces = splitLabelPieces(label);
    if (pieces.function.isEmpty() || isThresholdSummary(label)) {
        return {CsvWriter::text(label), QString()};
    }
    return {CsvWriter::text(pieces.function), CsvWriter::text(pieces.location)};
}

} // namespace

const SnapshotItem *CsvExport::snapshotOf(const FileData *data, const TreeLeafItem *node)
{
    if (!data || !node) {
        return nullptr;
    }
    while (node->parent()) {
        node = node->parent();
    }
    const QList<SnapshotItem *> snapshots = data->snapshots();
    for (const SnapshotItem *snapshot : snapshots) {
        if (snapshot->heapTree() == node) {
            return snapshot;
        }
    }
    return nullptr;
}

bool CsvExport::writeAllocationSites(const FileData *data, QIODevice *device)
{
    CsvWriter writer(device);
    writer.writeRow({QStringLiteral("function"), QStringLiteral("location"), QStringLiteral("peak bytes"), QStringLiteral("peak snapshot")});

    QHash<const TreeLeafItem *, const SnapshotItem *> snapshotOfRoot;
    const QList<SnapshotItem *> snapshots = data->snapshots();
    for (const SnapshotItem *snapshot : snapshots) {
        if (snapshot->heapTree()) {
            snapshotOfRoot.insert(snapshot->heapTree(), snapshot);
        }
    }

    const AllocatorsModel model(data);
    struct Row
    {
        quint64 peak;
        QStringList fields;
    };
    QList<Row> rows;
    rows.reserve(model.rowCount());
    for (int row = 0; row < model.rowCount(); ++row) {
        const quint64 peak = model.index(row, 1).data(AllocatorsModel::SortKeyRole).toULongLong();
        const auto item = model.index(row, 0).data(AllocatorsModel::PeakItemRole).value<ModelItem>();
        const TreeLeafItem *node = item.first;
        if (!node) {
            continue;
        }
        const TreeLeafItem *root = node;
        while (root->parent()) {
            root = root->parent();
        }
        const SnapshotItem *snapshot = snapshotOfRoot.value(root);
        // The site's own function and location; its peak node may carry an address too.
        auto [function, location] = functionAndLocation(node->label());
        rows.append({peak, {function, location, QString::number(peak), snapshot ? QString::number(snapshot->number()) : QString()}});
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Row &a, const Row &b) {
        return a.peak > b.peak;
    });
    for (const Row &row : std::as_const(rows)) {
        writer.writeRow(row.fields);
    }
    return writer.isOk();
}

bool CsvExport::writeHeapTree(const SnapshotItem *snapshot, QIODevice *device)
{
    CsvWriter writer(device);
    writer.writeRow({QStringLiteral("depth"), QStringLiteral("function"), QStringLiteral("location"), QStringLiteral("bytes"), QStringLiteral("share")});
    const TreeLeafItem *root = snapshot ? snapshot->heapTree() : nullptr;
    if (!root) {
        return writer.isOk();
    }
    const double total = double(root->cost());
    // Depth first with an explicit stack: heap trees can be deeper than a thread's stack allows.
    QList<std::pair<const TreeLeafItem *, int>> pending {{root, 0}};
    while (!pending.isEmpty()) {
        const auto [node, depth] = pending.takeLast();
        const auto [function, location] = functionAndLocation(node->label());
        const double share = total > 0 ? 100.0 * double(node->cost()) / total : 0.0;
        writer.writeRow({QString::number(depth), function, location, QString::number(node->cost()), QString::number(share, 'f', 2)});
        const QList<TreeLeafItem *> children = node->children();
        for (auto it = children.crbegin(); it != children.crend(); ++it) {
            pending.append({*it, depth + 1});
        }
    }
    return writer.isOk();
}

} // namespace Massif
