/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "jsonreportwriter.h"

#include "formatting.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}
