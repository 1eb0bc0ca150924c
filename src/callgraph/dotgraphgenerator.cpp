/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "dotgraphgenerator.h"
#include "threadhandoff.h"

#include "formatting.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <KLocalizedString>

#include <QColor>
#include <QDebug>
#include <QList>
#include <QMap>
#include <QRegularExpression>
#include <QTextStream>

#include <algorithm>
#include <queue>
#include <tuple>
#include <vector>

namespace Massif {

struct DotGraphGenerator::DotNode
{
    const TreeLeafItem *firstNode = nullptr;
    // The most expensive tree node with this label (the first of equals):
    // what a click on the graph node selects, its main occurrence.
    const TreeLeafItem *costliestNode = nullptr;
    QMap<DotNode *, quint64> childCosts;
    QList<DotNode *> parentNodes;
    quint64 totalCost = 0;
    bool written = false;
    qint32 belowThresholdPlaces = 0;
    quint64 belowThresholdCost = 0;
    // The first below-threshold leaf folded into it: what its summary box selects.
    const TreeLeafItem *firstBelowThreshold = nullptr;
    // Among the nodes drawn when the graph has to be cut down.
    bool shown = true;
    // Order of first meeting, for a stable choice among equal costs.
    qsizetype order = 0;
};

namespace {

QString nodeId(const void *address)
{
    return QString::number(static_cast<qint64>(reinterpret_cast<qintptr>(address)));
}

// Appends one label byte to a quoted dot string. Control bytes become blanks:
// a NUL would end the string for Graphviz's reader. Graphviz reads character
// entities ("&amp;", "&#60;") in every label: an ampersand is written as one.
void appendEscaped(QByteArray &out, char c, bool record)
{
    if (c == '&') {
        out += "&amp;";
        return;
    }
    if (c == '"' || c == '\\') {
        out += '\\';
    } else if (record && (c == '<' || c == '>' || c == '{' || c == '}' || c == '|')) {
        out += '\\';
    } else if (static_cast<unsigned char>(c) < 0x20) {
        c = ' ';
    }
    out += c;
}

QByteArray escapeBytes(const QByteArray &label, bool record)
{
    QByteArray out;
    out.reserve(label.size() + 8);
    for (const char c : label) {
        appendEscaped(out, c, record);
    }
    return out;
}

const QRegularExpression &belowThresholdPattern()
{
    // Also the singular form massif writes for one place.
    static const QRegularExpression pattern(QStringLiteral("in ([0-9]+) places?, (?:all )?below massif's threshold"));
    return pattern;
}

} // namespace

DotGraphGenerator::DotGraphGenerator(const SnapshotItem *snapshot, const QString &timeUnit, QObject *parent)
    : QThread(parent), snapshot(snapshot), node(snapshot ? snapshot->heapTree() : nullptr), timeUnit(timeUnit)
{
    openFile();
}

DotGraphGenerator::DotGraphGenerator(const TreeLeafItem *node, const QString &timeUnit, QObject *parent) : QThread(parent), node(node), timeUnit(timeUnit)
{
    openFile();
}

// Qt may create the file without a name and link it into the directory when
// the name is first asked for; doing that here, in the owner's thread, keeps
// the run from racing the owner over it.
void DotGraphGenerator::openFile()
{
    if (file.open()) {
        file.fileName();
    }
}

DotGraphGenerator::~DotGraphGenerator()
{
    qDebug() << "closing generator, file will get removed";
    // Destroying a running thread aborts; the owner is expected to have
    // waited, this only keeps a mistake from taking the program down.
    if (isRunning()) {
        cancel();
        wait();
    }
    acquireFromOtherThread(this);
    file.close();
}

void DotGraphGenerator::cancel()
{
    canceled.store(true, std::memory_order_relaxed);
}

bool DotGraphGenerator::isCanceled() const
{
    return canceled.load(std::memory_order_relaxed);
}

QString DotGraphGenerator::outputFileName() const
{
    acquireFromOtherThread(this);
    return file.fileName();
}

QString DotGraphGenerator::mostExpensiveNodeId() const
{
    acquireFromOtherThread(this);
    return highestCostNodeId;
}

QHash<QString, ModelItem> DotGraphGenerator::nodeItems() const
{
    acquireFromOtherThread(this);
    return items;
}

int DotGraphGenerator::leftOutNodes() const
{
    acquireFromOtherThread(this);
    return leftOut;
}

void DotGraphGenerator::setMaximumNodes(int count)
{
    maxNodes = std::max(1, count);
}

int DotGraphGenerator::maximumNodes() const
{
    return maxNodes;
}

QString DotGraphGenerator::escapeLabel(const QByteArray &label)
{
    return QString::fromUtf8(escapeBytes(label, false));
}

QString DotGraphGenerator::escapeRecordField(const QByteArray &label)
{
    return QString::fromUtf8(escapeBytes(label, true));
}

void DotGraphGenerator::run()
{
    generate();
    // What the run wrote is read by the owner's thread once it has finished.
    releaseToOtherThread(this);
}

void DotGraphGenerator::generate()
{
    if (!file.isOpen()) {
        qWarning() << "could not create temp file for writing Dot-graph";
        return;
    }
    if (isCanceled()) {
        return;
    }
    qDebug() << "creating new dot file in" << file.fileName();
    QTextStream out(&file);
    out << "digraph callgraph {\n"
           "rankdir = BT;\n";
    if (isCanceled()) {
        out.flush();
        return;
    }

    QString parentId;
    if (snapshot) {
        parentId = nodeId(snapshot);
        writeSnapshotBox(out, parentId);
        items.insert(parentId, ModelItem(nullptr, snapshot));
        maxCost = snapshot->cost();
    } else if (node) {
        const TreeLeafItem *root = node;
        while (root->parent()) {
            root = root->parent();
        }
        maxCost = root->cost();
    }

    QString topId = parentId;
    if (node) {
        DotNode *top = collectNode(node, nullptr);
        keepMostExpensive(top);
        highestCost = 0;
        writeNode(out, top, parentId, 0);
        if (topId.isEmpty()) {
            topId = nodeId(top);
        }
        qDeleteAll(nodes);
        nodes.clear();
    }
    // Beside the top of the graph, where the view is looked at first.
    if (leftOut > 0 && !isCanceled()) {
        const QString note = i18ncp("@label in the call graph", "1 less expensive function left out", "%1 less expensive functions left out", leftOut);
        out << "\"left-out\" [shape=note,label=\"" << escapeLabel(note.toUtf8()) << "\",fillcolor=\"white\"];\n";
        out << "{ rank = same; \"" << topId << "\"; \"left-out\"; }\n";
    }

    out << "}\n";
    out.flush();
    file.flush();
}

void DotGraphGenerator::writeSnapshotBox(QTextStream &out, const QString &id)
{
    const QString label = ki18n("snapshot #%1 (taken at %2%4)\\nheap cost: %3")
                              .subs(snapshot->number())
                              .subs(snapshot->time(), 0, 'g', -1)
                              .subs(escapeLabel(formatCost(snapshot->cost()).toUtf8()))
                              .subs(escapeLabel(timeUnit.toUtf8()))
                              .toString();
    out << '"' << id << "\" [shape=box,label=\"" << label << "\",fillcolor=white];\n";
}

DotGraphGenerator::DotNode *DotGraphGenerator::collectNode(const TreeLeafItem *treeNode, DotNode *parent)
{
    if (parent && treeNode->children().isEmpty()) {
        const QRegularExpressionMatch match = belowThresholdPattern().match(QString::fromLatin1(treeNode->label()));
        if (match.hasMatch()) {
            if (!parent->firstBelowThreshold) {
                parent->firstBelowThreshold = treeNode;
            }
            parent->belowThresholdCost += treeNode->cost();
            bool ok = false;
            const qint32 places = match.capturedView(1).toInt(&ok);
            parent->belowThresholdPlaces += ok ? places : 0;
        }
        return nullptr;
    }

    DotNode *&entry = nodes[treeNode->label()];
    if (!entry) {
        entry = new DotNode;
        entry->firstNode = treeNode;
        entry->costliestNode = treeNode;
        entry->order = nodes.size();
    }
    DotNode *const dotNode = entry;
    if (parent && !dotNode->parentNodes.contains(parent)) {
        dotNode->parentNodes.append(parent);
    }
    dotNode->totalCost += treeNode->cost();
    if (treeNode->cost() > dotNode->costliestNode->cost()) {
        dotNode->costliestNode = treeNode;
    }
    maxCost = std::max(maxCost, dotNode->totalCost);

    // Not part of the written file, so stopping here early is harmless and
    // lets a cancelled generator end quickly on a large tree.
    if (isCanceled()) {
        return dotNode;
    }
    const QList<TreeLeafItem *> children = treeNode->children();
    for (const TreeLeafItem *child : children) {
        if (DotNode *childNode = collectNode(child, dotNode)) {
            dotNode->childCosts[childNode] += child->cost();
        }
    }
    return dotNode;
}

// Best first from the top: the most expensive node next to those already
// kept, until there are enough. Every kept node is reachable through kept
// nodes, so none floats unconnected.
void DotGraphGenerator::keepMostExpensive(DotNode *top)
{
    leftOut = 0;
    if (!top || nodes.size() <= maxNodes) {
        return;
    }
    for (DotNode *dotNode : std::as_const(nodes)) {
        dotNode->shown = false;
    }
    // Highest cost first, then first met.
    using Candidate = std::tuple<quint64, qsizetype, DotNode *>;
    const auto later = [](const Candidate &a, const Candidate &b) {
        return std::get<0>(a) != std::get<0>(b) ? std::get<0>(a) < std::get<0>(b) : std::get<1>(a) > std::get<1>(b);
    };
    std::priority_queue<Candidate, std::vector<Candidate>, decltype(later)> candidates(later);
    candidates.emplace(top->totalCost, top->order, top);
    int kept = 0;
    while (!candidates.empty() && kept < maxNodes) {
        DotNode *next = std::get<2>(candidates.top());
        candidates.pop();
        if (next->shown) {
            continue;
        }
        next->shown = true;
        ++kept;
        for (auto it = next->childCosts.cbegin(); it != next->childCosts.cend(); ++it) {
            if (!it.key()->shown) {
                candidates.emplace(it.key()->totalCost, it.key()->order, it.key());
            }
        }
    }
    leftOut = int(nodes.size()) - kept;
}

void DotGraphGenerator::writeNode(QTextStream &out, DotNode *dotNode, const QString &parentId, quint64 cost)
{
    if (isCanceled()) {
        return;
    }
    const QString id = nodeId(dotNode);
    if (!parentId.isEmpty()) {
        out << '"' << id << "\" -> \"" << parentId << '"';
        if (cost != 0) {
            out << " [label = \"" << escapeLabel(formatCost(cost).toUtf8()) << "\"]";
        }
        out << ";\n";
    }
    if (dotNode->written) {
        return;
    }
    dotNode->written = true;

    const bool isRoot = snapshot && dotNode->firstNode == snapshot->heapTree();
    if (!isRoot && dotNode->totalCost > highestCost) {
        highestCostNodeId = id;
        highestCost = dotNode->totalCost;
    }

    QString label;
    const QList<DotNode *> chain = mergeChain(dotNode, label);
    if (chain.isEmpty()) {
        return;
    }
    // The record stands for every node of the chain: none is drawn again.
    for (DotNode *merged : chain) {
        merged->written = true;
    }
    const DotNode *last = chain.last();
    const QString color = isRoot ? QStringLiteral("white") : costColor(last->totalCost);
    out << '"' << id << "\" [shape=" << (chain.size() > 1 ? "record" : "box") << ",label=\"" << label << "\",fillcolor=\"" << color << "\"];\n";
    items.insert(id, isRoot ? ModelItem(nullptr, snapshot) : ModelItem(dotNode->costliestNode, nullptr));

    for (auto it = last->childCosts.cbegin(); it != last->childCosts.cend(); ++it) {
        if (isCanceled()) {
            return;
        }
        if (it.key()->shown) {
            writeNode(out, it.key(), id, it.value());
        }
    }
    writeBelowThreshold(out, last, id);
}

// Follows the chain of single children that carry the whole cost; they are
// drawn as the fields of one record box. Returns the nodes of the chain, the
// first one first, or nothing when cancelled. Only the last node's summary
// box is drawn, so a node with one of its own ends the chain; a child that
// is reached from elsewhere too keeps a box of its own for those edges. A
// node already in the chain ends it: a function that recurses directly (or
// through a chain of its own) would never end it.
QList<DotGraphGenerator::DotNode *> DotGraphGenerator::mergeChain(DotNode *first, QString &label) const
{
    QList<QString> fields {wrapLabel(first->firstNode->label())};
    QList<DotNode *> chain {first};
    DotNode *current = first;
    while (current->childCosts.size() == 1 && current->belowThresholdPlaces == 0) {
        DotNode *child = current->childCosts.firstKey();
        if (child->totalCost != current->totalCost || current->parentNodes.size() != 1 || child->parentNodes.size() != 1 || child->belowThresholdPlaces != 0 ||
            !child->shown || chain.contains(child)) {
            break;
        }
        if (isCanceled()) {
            return {};
        }
        // Wrapped like the first field: unwrapped template names make records
        // thousands of points wide.
        fields.append(wrapLabel(child->firstNode->label(), true));
        chain.append(child);
        current = child;
    }
    const bool merged = fields.size() > 1;
    if (merged) {
        fields.first() = wrapLabel(first->firstNode->label(), true);
        label = QLatin1Char('{') + fields.join(QLatin1String(" | ")) + QLatin1Char('}');
    } else {
        label = fields.first();
    }
    return chain;
}

void DotGraphGenerator::writeBelowThreshold(QTextStream &out, const DotNode *dotNode, const QString &id)
{
    if (dotNode->belowThresholdPlaces == 0) {
        return;
    }
    const QString label = i18np("in one place below threshold", "in %1 places, all below threshold", dotNode->belowThresholdPlaces);
    if (dotNode->firstBelowThreshold) {
        items.insert(id + QLatin1String("-bt"), ModelItem(dotNode->firstBelowThreshold, nullptr));
    }
    out << '"' << id << "-bt\" [shape=box,label=\"" << escapeLabel(label.toUtf8()) << "\",fillcolor=\"" << costColor(dotNode->belowThresholdCost) << "\"];\n";
    out << '"' << id << "-bt\" -> \"" << id << "\" [label =\"" << escapeLabel(formatCost(dotNode->belowThresholdCost).toUtf8()) << "\"];\n";
}

// Breaks long labels in front of commas, indenting the continuation; the
// inserted dot escapes must survive the escaping of the label's own bytes.
QString DotGraphGenerator::wrapLabel(const QByteArray &label, bool record) const
{
    QByteArray text = displayLabel(label);
    QList<qsizetype> breaks;
    if (text.size() > 40) {
        static constexpr char lineBreak[] = "\\n\\ \\ ";
        static constexpr qsizetype breakSize = sizeof(lineBreak) - 1;
        qsizetype mark = 0;
        qsizetype from = 0;
        qsizetype comma;
        while ((comma = text.indexOf(',', from)) >= 0) {
            if (comma - mark >= 41) {
                text.insert(comma, lineBreak, breakSize);
                breaks.append(comma);
                mark = comma + 4;
                from = mark;
            } else {
                from = comma + 1;
            }
        }
    }
    QByteArray out;
    out.reserve(text.size() + 8);
    qsizetype nextBreak = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (nextBreak < breaks.size() && breaks.at(nextBreak) == i) {
            out += text.mid(i, 6);
            i += 5;
            ++nextBreak;
        } else {
            appendEscaped(out, text.at(i), record);
        }
    }
    return QString::fromUtf8(out);
}

QString DotGraphGenerator::costColor(quint64 cost) const
{
    // With nothing to compare against (every cost 0) all nodes are cheap.
    const double ratio = maxCost == 0 ? 0.0 : std::clamp(static_cast<double>(cost) / static_cast<double>(maxCost), 0.0, 1.0);
    const int hue = static_cast<int>(120 - 120 * ratio);
    const int saturation = static_cast<int>(255 - 255 * (ratio - 1) * (ratio - 1));
    return QColor::fromHsv(hue, saturation, 255, 255).name();
}

} // namespace Massif
