/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "report.h"

#include "allocatorsmodel.h"
#include "filedata.h"
#include "formatting.h"
#include "modelitem.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <QHash>

#include <algorithm>

using namespace Massif;

namespace {

Report::Snapshot summary(const SnapshotItem *snapshot)
{
    Report::Snapshot result;
    if (snapshot) {
        result.number = snapshot->number();
        result.time = snapshot->time();
        result.heap = snapshot->memHeap();
        result.extraHeap = snapshot->memHeapExtra();
        result.stacks = snapshot->memStacks();
        result.hasTree = snapshot->heapTree() != nullptr;
    }
    return result;
}

bool passes(quint64 bytes, quint64 total, double minShare)
{
    return minShare <= 0.0 || Report::share(bytes, total) >= minShare;
}

// Children beyond the depth are not listed at all; children within it that
// fall below the share are counted, so that the reader knows what is missing.
void addChildren(Report::Node *target, const TreeLeafItem *node, int levelsLeft, quint64 total, double minShare)
{
    if (levelsLeft <= 0) {
        return;
    }
    const QList<TreeLeafItem *> children = node->children();
    for (const TreeLeafItem *child : children) {
        if (!passes(child->cost(), total, minShare)) {
            ++target->omittedChildren;
            target->omittedBytes += child->cost();
            continue;
        }
        Report::Node entry;
        entry.label = child->label();
        entry.bytes = child->cost();
        addChildren(&entry, child, levelsLeft - 1, total, minShare);
        target->children.append(entry);
    }
}

} // namespace

double Report::share(quint64 bytes, quint64 total)
{
    return total == 0 ? 0.0 : static_cast<double>(bytes) * 100.0 / static_cast<double>(total);
}

const SnapshotItem *Report::chooseSnapshot(const FileData &data, const ReportOptions &options)
{
    const QList<SnapshotItem *> snapshots = data.snapshots();
    switch (options.snapshot) {
    case ReportOptions::PeakSnapshot:
        return data.peak();
    case ReportOptions::LastSnapshot:
        return snapshots.isEmpty() ? nullptr : snapshots.last();
    case ReportOptions::NumberedSnapshot:
        break;
    }
    const auto found = std::find_if(snapshots.cbegin(), snapshots.cend(), [&options](const SnapshotItem *snapshot) {
        return snapshot->number() == options.snapshotNumber;
    });
    return found == snapshots.cend() ? nullptr : *found;
}

Report Report::build(const FileData &data, const QString &source, const ReportOptions &options)
{
    Report report;
    report.options = options;
    report.source = source;
    report.command = data.command();
    report.description = data.description();
    report.timeUnit = data.timeUnit();
    report.warning = data.warning();

    const QList<SnapshotItem *> snapshots = data.snapshots();
    report.snapshotCount = int(snapshots.size());
    QHash<const TreeLeafItem *, const SnapshotItem *> snapshotOfRoot;
    for (const SnapshotItem *snapshot : snapshots) {
        if (snapshot->heapTree()) {
            ++report.detailedCount;
            snapshotOfRoot.insert(snapshot->heapTree(), snapshot);
        }
    }
    report.peak = summary(data.peak());

    if (!snapshots.isEmpty()) {
        const SnapshotItem *last = snapshots.last();
        report.last = summary(last);
        if (last->heapTree()) {
            Node held;
            addChildren(&held, last->heapTree(), 1, last->cost(), options.minShare);
            report.heldAtEnd = held.children;
            report.heldAtEndOmitted = held.omittedChildren;
            report.heldAtEndOmittedBytes = held.omittedBytes;
        }
    }

    if (const SnapshotItem *chosen = chooseSnapshot(data, options)) {
        report.hasChosen = true;
        report.chosen = summary(chosen);
        if (const TreeLeafItem *root = chosen->heapTree()) {
            report.tree.label = root->label();
            report.tree.bytes = root->cost();
            addChildren(&report.tree, root, options.depth, chosen->cost(), options.minShare);
        }
    }

    // The sites come from the allocators table itself, so that they merge
    // and peak exactly as the GUI shows them.
    const AllocatorsModel model(&data);
    report.siteCount = model.rowCount();
    QList<Site> sites;
    sites.reserve(report.siteCount);
    for (int row = 0; row < report.siteCount; ++row) {
        const ModelItem item = model.index(row, 0).data(AllocatorsModel::PeakItemRole).value<ModelItem>();
        const TreeLeafItem *peakNode = item.first;
        if (!peakNode) {
            continue;
        }
        Site site;
        site.belowThreshold = isThresholdSummary(peakNode->label());
        if (!site.belowThreshold) {
            const LabelPieces pieces = splitLabelPieces(peakNode->label());
            site.function = pieces.function;
            site.location = pieces.location;
        }
        site.peakBytes = model.index(row, 1).data(AllocatorsModel::SortKeyRole).toULongLong();
        site.peakSnapshot = summary(snapshotOfRoot.value(peakNode->parent()));
        sites.append(site);
    }
    // As the table sorts by peak, most expensive first; equal peaks keep their order.
    std::stable_sort(sites.begin(), sites.end(), [](const Site &a, const Site &b) {
        return a.peakBytes > b.peakBytes;
    });
    report.topSites = sites.mid(0, std::max(0, options.topSites));
    return report;
}
