/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "report.h"

#include "allocatorsmodel.h"
#include "comparison.h"
#include "filedata.h"
#include "formatting.h"
#include "modelitem.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <QHash>

#include <algorithm>
#include <cmath>

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

quint64 magnitude(qint64 change)
{
    return change < 0 ? quint64(0) - quint64(change) : quint64(change);
}

Report::NodeChange nodeChange(const HeapTreeDiff &diff, const HeapTreeDiff::Row &row)
{
    Report::NodeChange result;
    result.label = diff.label(row);
    result.baselineBytes = row.baselineCost;
    result.currentBytes = row.currentCost;
    result.isNew = row.isNew();
    result.isGone = row.isGone();
    result.moved = row.flags & HeapTreeDiff::Row::Moved;
    if (result.moved) {
        if (const TreeLeafItem *node = diff.baselineNode(row)) {
            result.baselineLabel = node->label();
        }
    }
    return result;
}

// As the heap tree, but what counts is the size of a row's change: rows
// that did not change, or by less than the threshold, are only counted.
void addChangedChildren(Report::NodeChange *target, const HeapTreeDiff &diff, const HeapTreeDiff::Row &row, int levelsLeft, quint64 threshold)
{
    if (levelsLeft <= 0) {
        return;
    }
    for (qint32 i = 0; i < row.childCount; ++i) {
        const HeapTreeDiff::Row &child = diff.row(row.firstChild + i);
        if (child.change() == 0 || magnitude(child.change()) < threshold) {
            ++target->omittedChildren;
            target->omittedChange += child.change();
            continue;
        }
        Report::NodeChange entry = nodeChange(diff, child);
        addChangedChildren(&entry, diff, child, levelsLeft - 1, threshold);
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
    return chooseSnapshot(data, options.snapshot, options.snapshotNumber);
}

const SnapshotItem *Report::chooseSnapshot(const FileData &data, ReportOptions::SnapshotChoice choice, quint32 number)
{
    const QList<SnapshotItem *> snapshots = data.snapshots();
    switch (choice) {
    case ReportOptions::PeakSnapshot:
        return data.peak();
    case ReportOptions::LastSnapshot:
        return snapshots.isEmpty() ? nullptr : snapshots.last();
    case ReportOptions::NumberedSnapshot:
        break;
    }
    const auto found = std::find_if(snapshots.cbegin(), snapshots.cend(), [number](const SnapshotItem *snapshot) {
        return snapshot->number() == number;
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
        // An empty heap holds nothing, however many functions massif lists at 0 B.
        if (last->heapTree() && last->cost() > 0) {
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

double Report::peakGrowth() const
{
    if (baseline.peak.cost() == 0) {
        return std::nan("");
    }
    return (double(peak.cost()) - double(baseline.peak.cost())) * 100.0 / double(baseline.peak.cost());
}

void Report::compareWith(const FileData &data, const FileData &baselineData, const QString &baselineSource)
{
    const SnapshotItem *current = chooseSnapshot(data, options);
    const SnapshotItem *before = chooseSnapshot(baselineData, options.baselineSnapshot, options.baselineSnapshotNumber);
    // The engine the comparison tab shows, so that the summary and the changes are its own.
    const Comparison comparison(&baselineData, before, &data, current);

    hasBaseline = true;
    baseline = Baseline();
    baseline.source = baselineSource;
    baseline.command = baselineData.command();
    baseline.timeUnit = baselineData.timeUnit();
    baseline.warning = baselineData.warning();
    baseline.peak = summary(baselineData.peak());
    baseline.compared = summary(before);
    baseline.summary = comparison.summary();
    baseline.grownSites = comparison.sites().grownSites(Comparison::GrowthThreshold);

    const QList<SiteDiff::Site> &sites = comparison.sites().sites();
    baseline.siteCount = int(sites.size());
    QList<SiteChange> changed;
    for (const SiteDiff::Site &site : sites) {
        if (site.change() == 0) {
            continue;
        }
        SiteChange entry;
        entry.belowThreshold = site.isSummary();
        entry.function = site.parts.function;
        entry.location = site.parts.location;
        entry.baselineBytes = site.baselineCost;
        entry.currentBytes = site.currentCost;
        changed.append(entry);
    }
    baseline.changedSiteCount = int(changed.size());
    // Shrinking matters as much as growing: the largest changes either way.
    std::stable_sort(changed.begin(), changed.end(), [](const SiteChange &a, const SiteChange &b) {
        return magnitude(a.change()) > magnitude(b.change());
    });
    baseline.topSites = changed.mid(0, std::max(0, options.topSites));

    const HeapTreeDiff &diff = comparison.tree();
    baseline.hasTree = !diff.isEmpty() && ((before && before->heapTree()) || (current && current->heapTree()));
    if (baseline.hasTree) {
        const quint64 larger = std::max(before ? before->cost() : 0, current ? current->cost() : 0);
        const quint64 threshold = options.minShare <= 0.0 ? 0 : quint64(std::ceil(double(larger) * options.minShare / 100.0));
        const HeapTreeDiff::Row &root = diff.row(0);
        baseline.tree = nodeChange(diff, root);
        addChangedChildren(&baseline.tree, diff, root, options.depth, threshold);
    }
}
