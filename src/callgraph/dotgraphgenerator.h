/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_DOTGRAPHGENERATOR_H
#define MASSIF_DOTGRAPHGENERATOR_H

#include "modelitem.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QTemporaryFile>
#include <QThread>

#include <atomic>

class QTextStream;

namespace Massif {

class SnapshotItem;
class TreeLeafItem;

/**
 * Writes the call graph of a snapshot or of a heap tree subtree as a
 * Graphviz dot file, on a thread of its own.
 *
 * The heap tree is read while the thread runs: whoever owns the data must
 * cancel() and wait() for a running generator before destroying it.
 */
class DotGraphGenerator : public QThread
{
    Q_OBJECT
public:
    /// The whole snapshot: a box for the snapshot on top of its heap tree.
    DotGraphGenerator(const SnapshotItem *snapshot, const QString &timeUnit, QObject *parent = nullptr);
    /// The subtree below @p node.
    DotGraphGenerator(const TreeLeafItem *node, const QString &timeUnit, QObject *parent = nullptr);
    ~DotGraphGenerator() override;

    /// Makes the run stop at its next check; callable from any thread.
    void cancel();

    /// Valid after the run.
    QString outputFileName() const;
    /// Valid after the run.
    QString mostExpensiveNodeId() const;
    /// What each node id of the written file stands for: a snapshot or a
    /// heap tree node (the most expensive of those merged into it). Valid after the run.
    QHash<QString, ModelItem> nodeItems() const;
    /// How many graph nodes the run left out to stay within maximumNodes(). Valid after the run.
    int leftOutNodes() const;

    /**
     * Graphs with more nodes than this keep the most expensive ones that
     * hang together from the top and say how many they left out: Graphviz
     * takes minutes over a few thousand nodes. Set before start().
     */
    void setMaximumNodes(int count);
    int maximumNodes() const;
    static constexpr int DefaultMaximumNodes = 300;

    /// A label's bytes as text for a quoted dot string: quotes, backslashes and ampersands escaped.
    static QString escapeLabel(const QByteArray &label);
    /// As escapeLabel(), and also the characters that structure record labels.
    static QString escapeRecordField(const QByteArray &label);

protected:
    void run() override;

private:
    struct DotNode;

    void generate();

    void openFile();
    DotNode *collectNode(const TreeLeafItem *treeNode, DotNode *parent);
    void writeNode(QTextStream &out, DotNode *node, const QString &parentId, quint64 cost);
    void keepMostExpensive(DotNode *top);
    QList<DotNode *> mergeChain(DotNode *node, QString &label) const;
    void writeBelowThreshold(QTextStream &out, const DotNode *node, const QString &id);
    void writeSnapshotBox(QTextStream &out, const QString &id);
    QString wrapLabel(const QByteArray &label, bool record = false) const;
    QString costColor(quint64 cost) const;
    bool isCanceled() const;

    const SnapshotItem *snapshot = nullptr;
    const TreeLeafItem *node = nullptr;
    QTemporaryFile file;
    std::atomic_bool canceled = false;
    quint64 maxCost = 0;
    QString timeUnit;
    QString highestCostNodeId;
    quint64 highestCost = 0;
    QHash<QByteArray, DotNode *> nodes;
    QHash<QString, ModelItem> items;
    int maxNodes = DefaultMaximumNodes;
    int leftOut = 0;
};

} // namespace Massif

#endif
