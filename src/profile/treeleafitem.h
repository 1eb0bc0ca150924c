/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_TREELEAFITEM_H
#define MASSIF_TREELEAFITEM_H

#include <QByteArray>
#include <QList>

namespace Massif {

class TreeStorage;

/**
 * One node of a snapshot's heap tree: a stack frame and the bytes allocated below it.
 * A node owns its children.
 *
 * The parser makes its nodes in a TreeStorage, which owns them, their child
 * arrays and their labels; such a node is compact and never deleted alone.
 * A node made with new owns its label and children itself.
 */
class TreeLeafItem
{
public:
    TreeLeafItem() = default;
    ~TreeLeafItem();

    TreeLeafItem(const TreeLeafItem &) = delete;
    TreeLeafItem &operator=(const TreeLeafItem &) = delete;

    QByteArray label() const
    {
        return m_label ? *m_label : QByteArray();
    }
    void setLabel(const QByteArray &label);

    quint64 cost() const
    {
        return m_cost;
    }
    void setCost(quint64 cost)
    {
        m_cost = cost;
    }

    /// The children, as a list that refers to the node's own array until it is modified.
    QList<TreeLeafItem *> children() const
    {
        return QList<TreeLeafItem *>(QArrayDataPointer<TreeLeafItem *>::fromRawData(m_children, m_childCount));
    }
    qsizetype childCount() const
    {
        return m_childCount;
    }
    /// Sets the child's parent to this node, then appends it; takes ownership.
    void addChild(TreeLeafItem *child);
    /// Replaces the list; neither touches parent pointers nor deletes dropped nodes.
    void setChildren(const QList<TreeLeafItem *> &children);

    TreeLeafItem *parent() const
    {
        return m_parent;
    }
    /// The position in the parent's children list, kept by addChild() and setChildren(); 0 for a root.
    int row() const
    {
        return int(m_row);
    }

    /// Deletes a node made with new, with its subtree; a node of a storage goes with its storage.
    static void destroy(TreeLeafItem *node);

private:
    friend class TreeStorage;

    const QByteArray *m_label = nullptr;
    quint64 m_cost = 0;
    TreeLeafItem *m_parent = nullptr;
    TreeLeafItem **m_children = nullptr;
    quint32 m_childCount = 0;
    quint32 m_row : 31 = 0;
    quint32 m_inStorage : 1 = 0;
};

} // namespace Massif

#endif
