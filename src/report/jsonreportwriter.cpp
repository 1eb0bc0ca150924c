/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "jsonreportwriter.h"

#include "formatting.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

using namespace Massif;

namespace {

// Profile bytes as JSON strings: invalid UTF-8 becomes U+FFFD; control
// characters stay, escaped by the JSON writer.
QJsonValue text(const QByteArray &bytes)
{
    return QString::fromUtf8(bytes);
}

QJsonValue count(quint64 bytes)
{
    return QJsonValue(static_cast<qint64>(bytes));
}

QJsonObject snapshot(const Report::Snapshot &snapshot)
{
    return QJsonObject {
        {QStringLiteral("snapshot"), static_cast<qint64>(snapshot.number)},
        {QStringLiteral("time"), snapshot.time},
        {QStringLiteral("bytes"), count(snapshot.cost())},
        {QStringLiteral("heapBytes"), count(snapshot.heap)},
        {QStringLiteral("extraHeapBytes"), count(snapshot.extraHeap)},
        {QStringLiteral("stackBytes"), count(snapshot.stacks)},
        {QStringLiteral("hasTree"), snapshot.hasTree},
    };
}

QJsonObject nodeObject(const Report::Node &node, quint64 total)
{
    const LabelPieces pieces = splitLabelPieces(node.label);
    QJsonObject object {
        {QStringLiteral("label"), text(node.label)},
        {QStringLiteral("function"), text(pieces.function)},
        {QStringLiteral("location"), text(pieces.location)},
        {QStringLiteral("address"), text(pieces.address)},
        {QStringLiteral("bytes"), count(node.bytes)},
        {QStringLiteral("share"), Report::share(node.bytes, total)},
    };
    QJsonArray children;
    for (const Report::Node &child : node.children) {
        children.append(nodeObject(child, total));
    }
    object.insert(QStringLiteral("children"), children);
    object.insert(QStringLiteral("omittedChildren"), node.omittedChildren);
    object.insert(QStringLiteral("omittedBytes"), count(node.omittedBytes));
    return object;
}

QJsonValue percentOf(quint64 baselineBytes, quint64 currentBytes)
{
    if (baselineBytes == 0) {
        return QJsonValue();
    }
    return (double(currentBytes) - double(baselineBytes)) * 100.0 / double(baselineBytes);
}

QJsonValue signedCount(qint64 bytes)
{
    return QJsonValue(bytes);
}

QJsonObject nodeChangeObject(const Report::NodeChange &node)
{
    const LabelPieces pieces = splitLabelPieces(node.label);
    QJsonObject object {
        {QStringLiteral("label"), text(node.label)},
        {QStringLiteral("function"), text(pieces.function)},
        {QStringLiteral("location"), text(pieces.location)},
        {QStringLiteral("baselineLabel"), text(node.moved ? node.baselineLabel : QByteArray())},
        {QStringLiteral("baselineBytes"), count(node.baselineBytes)},
        {QStringLiteral("currentBytes"), count(node.currentBytes)},
        {QStringLiteral("change"), signedCount(node.change())},
        {QStringLiteral("changePercent"), percentOf(node.baselineBytes, node.currentBytes)},
        {QStringLiteral("new"), node.isNew},
        {QStringLiteral("gone"), node.isGone},
        {QStringLiteral("moved"), node.moved},
        {QStringLiteral("omittedChildren"), node.omittedChildren},
        {QStringLiteral("omittedChange"), signedCount(node.omittedChange)},
    };
    QJsonArray children;
    for (const Report::NodeChange &child : node.children) {
        children.append(nodeChangeObject(child));
    }
    object.insert(QStringLiteral("children"), children);
    return object;
}

QJsonValue comparisonObject(const Report &report)
{
    if (!report.hasBaseline) {
        return QJsonValue();
    }
    const Report::Baseline &baseline = report.baseline;
    QJsonObject compared = snapshot(baseline.compared);
    compared.insert(QStringLiteral("chosenAs"), report.options.baselineSnapshotText());
    QJsonArray sites;
    for (const Report::SiteChange &site : baseline.topSites) {
        sites.append(QJsonObject {
            {QStringLiteral("function"), text(site.function)},
            {QStringLiteral("location"), text(site.location)},
            {QStringLiteral("belowThreshold"), site.belowThreshold},
            {QStringLiteral("baselineBytes"), count(site.baselineBytes)},
            {QStringLiteral("currentBytes"), count(site.currentBytes)},
            {QStringLiteral("change"), signedCount(site.change())},
            {QStringLiteral("changePercent"), percentOf(site.baselineBytes, site.currentBytes)},
        });
    }
    const double growth = report.peakGrowth();
    return QJsonObject {
        {QStringLiteral("file"), baseline.source},
        {QStringLiteral("command"), baseline.command},
        {QStringLiteral("timeUnit"), baseline.timeUnit},
        {QStringLiteral("warning"), baseline.warning},
        {QStringLiteral("peak"), snapshot(baseline.peak)},
        {QStringLiteral("peakChange"), signedCount(qint64(report.peak.cost()) - qint64(baseline.peak.cost()))},
        {QStringLiteral("peakChangePercent"), std::isnan(growth) ? QJsonValue() : QJsonValue(growth)},
        {QStringLiteral("baselineSnapshot"), compared},
        {QStringLiteral("currentSnapshot"), static_cast<qint64>(report.chosen.number)},
        {QStringLiteral("change"), signedCount(qint64(report.chosen.cost()) - qint64(baseline.compared.cost()))},
        {QStringLiteral("changePercent"), percentOf(baseline.compared.cost(), report.chosen.cost())},
        {QStringLiteral("summary"), baseline.summary},
        {QStringLiteral("grownSites"), baseline.grownSites},
        {QStringLiteral("siteCount"), baseline.siteCount},
        {QStringLiteral("changedSiteCount"), baseline.changedSiteCount},
        {QStringLiteral("topSiteChanges"), sites},
        {QStringLiteral("tree"), baseline.hasTree ? QJsonValue(nodeChangeObject(baseline.tree)) : QJsonValue()},
    };
}

} // namespace

QByteArray JsonReportWriter::write(const Report &report) const
{
    QJsonObject root {
        {QStringLiteral("format"), 1},
        {QStringLiteral("file"), report.source},
        {QStringLiteral("command"), report.command},
        {QStringLiteral("description"), report.description},
        {QStringLiteral("timeUnit"), report.timeUnit},
        {QStringLiteral("warning"), report.warning},
        {QStringLiteral("snapshots"), report.snapshotCount},
        {QStringLiteral("detailedSnapshots"), report.detailedCount},
        {QStringLiteral("allocators"), QJsonArray::fromStringList(report.options.allocators)},
        {QStringLiteral("peak"), snapshot(report.peak)},
    };

    QJsonObject last = snapshot(report.last);
    QJsonArray held;
    for (const Report::Node &entry : report.heldAtEnd) {
        QJsonObject object = nodeObject(entry, report.last.cost());
        object.remove(QStringLiteral("children"));
        object.remove(QStringLiteral("omittedChildren"));
        object.remove(QStringLiteral("omittedBytes"));
        held.append(object);
    }
    last.insert(QStringLiteral("heldBy"), held);
    last.insert(QStringLiteral("omittedEntries"), report.heldAtEndOmitted);
    last.insert(QStringLiteral("omittedBytes"), count(report.heldAtEndOmittedBytes));
    root.insert(QStringLiteral("last"), last);

    QJsonObject tree = snapshot(report.chosen);
    tree.insert(QStringLiteral("chosenAs"), report.options.snapshotText());
    tree.insert(QStringLiteral("depth"), report.options.depth);
    tree.insert(QStringLiteral("minShare"), report.options.minShare);
    tree.insert(QStringLiteral("root"), report.chosen.hasTree ? QJsonValue(nodeObject(report.tree, report.chosen.cost())) : QJsonValue());
    root.insert(QStringLiteral("tree"), tree);

    QJsonArray sites;
    for (const Report::Site &site : report.topSites) {
        QJsonObject object {
            {QStringLiteral("function"), text(site.function)},
            {QStringLiteral("location"), text(site.location)},
            {QStringLiteral("belowThreshold"), site.belowThreshold},
            {QStringLiteral("peakBytes"), count(site.peakBytes)},
            {QStringLiteral("peakSnapshot"), static_cast<qint64>(site.peakSnapshot.number)},
            {QStringLiteral("peakTime"), site.peakSnapshot.time},
        };
        sites.append(object);
    }
    root.insert(QStringLiteral("topSites"), sites);
    root.insert(QStringLiteral("siteCount"), report.siteCount);
    root.insert(QStringLiteral("comparison"), comparisonObject(report));
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}
