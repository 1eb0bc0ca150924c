/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_SNAPSHOTITEM_H
#define MASSIF_SNAPSHOTITEM_H

#include <QtGlobal>

namespace Massif {

class TreeLeafItem;

/**
 * One snapshot of a massif file: the heap at one moment, and for detailed
 * and peak snapshots its heap tree, which the snapshot owns.
 */
class SnapshotItem
{
public:
    SnapshotItem() = default;
    ~SnapshotItem();

    SnapshotItem(const SnapshotItem &) = delete;
    SnapshotItem &operator=(const SnapshotItem &) = delete;

    quint32 number() const
    {
        return m_number;
    }
    void setNumber(quint32 number)
    {
        m_number = number;
    }

    double time() const
    {
        return m_time;
    }
    void setTime(double time)
    {
        m_time = time;
    }

    quint64 memHeap() const
    {
        return m_memHeap;
    }
    void setMemHeap(quint64 bytes)
    {
        m_memHeap = bytes;
    }

    quint64 memHeapExtra() const
    {
        return m_memHeapExtra;
    }
    void setMemHeapExtra(quint64 bytes)
    {
        m_memHeapExtra = bytes;
    }

    quint64 memStacks() const
    {
        return m_memStacks;
    }
    void setMemStacks(quint64 bytes)
    {
        m_memStacks = bytes;
    }

    TreeLeafItem *heapTree() const
    {
        return m_heapTree;
    }
    /// Takes ownership of the root (a root made in a TreeStorage stays with its storage).
    void setHeapTree(TreeLeafItem *root)
    {
        m_heapTree = root;
    }

    /// Heap plus stack bytes; the extra heap is not part of a snapshot's cost.
    quint64 cost() const
    {
        return m_memHeap + m_memStacks;
    }

private:
    quint32 m_number = 0;
    double m_time = 0.0;
    quint64 m_memHeap = 0;
    quint64 m_memHeapExtra = 0;
    quint64 m_memStacks = 0;
    TreeLeafItem *m_heapTree = nullptr;
};

} // namespace Massif

#endif
