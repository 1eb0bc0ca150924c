/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_TREELEAFITEM_H
#define MASSIF_TREELEAFITEM_H

#include <QByteArray>
#include <QList>

namespace Massif {

/**
 * One node of a snapshot's heap tree: a stack frame and the bytes allocated below it.
 * A node owns its children.
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
        return m_label;
    }
    void setLabel(const QByteArray &label)
    {
        m_label = label;
    }

    quint64 cost() const
    {
        return m_cost;
    }
    void setCost(quint64 cost)
    {
        m_cost = cost;
    }

    QList<TreeLeafItem *> children() const
    {
        return m_children;
    }
    /// Sets the child's parent to this node, then appends it; takes ownership.
    void addChild(TreeLeafItem *child);
    /// Replaces the list; neither touches parent pointers nor deletes dropped nodes.
    void setChildren(const QList<TreeLeafItem *> &children)
    {
        m_children = children;
    }

    /// Room for the children a node line announces, so that lists are not over-allocated.
    void reserveChildren(qsizetype count)
    {
        m_children.reserve(count);
    }

    TreeLeafItem *parent() const
    {
        return m_parent;
    }

private:
    QByteArray m_label;
    quint64 m_cost = 0;
    QList<TreeLeafItem *> m_children;
    TreeLeafItem *m_parent = nullptr;
};

} // namespace Massif

#endif
