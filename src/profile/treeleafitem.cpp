/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "treeleafitem.h"
#include "treestorage.h"

#include <bit>
#include <cstdlib>
#include <cstring>

using namespace Massif;

// A node's whole size: label, cost, parent, children and their count, row.
static_assert(sizeof(void *) != 8 || sizeof(TreeLeafItem) == 40);

namespace {

// The child array of a node made with new has room for the next power of
// two of its count, so that appending one by one stays linear.
TreeLeafItem **resized(TreeLeafItem **array, size_t count)
{
    if (count == 0) {
        std::free(array);
        return nullptr;
    }
    auto *grown = static_cast<TreeLeafItem **>(std::realloc(array, sizeof(TreeLeafItem *) * std::bit_ceil(count)));
    if (!grown) {
        qFatal("Out of memory for a heap tree");
    }
    return grown;
}

} // namespace

TreeLeafItem::~TreeLeafItem()
{
    if (m_inStorage) {
        return;
    }
    for (quint32 i = 0; i < m_childCount; ++i) {
        destroy(m_children[i]);
    }
    std::free(m_children);
    delete m_label;
}

void TreeLeafItem::destroy(TreeLeafItem *node)
{
    if (node && !node->m_inStorage) {
        delete node;
    }
}

void TreeLeafItem::setLabel(const QByteArray &label)
{
    if (m_inStorage) {
        // The old one may be shared with other nodes of the storage.
        m_label = TreeStorage::of(this)->keepLabel(label);
        return;
    }
    delete m_label;
    m_label = new QByteArray(label);
}

void TreeLeafItem::addChild(TreeLeafItem *child)
{
    child->m_parent = this;
    child->m_row = m_childCount;
    if (m_inStorage) {
        TreeStorage *storage = TreeStorage::of(this);
        TreeLeafItem **array = storage->allocateChildren(m_childCount + 1);
        if (m_childCount > 0) {
            std::memcpy(array, m_children, sizeof(TreeLeafItem *) * m_childCount);
        }
        m_children = array;
        if (!child->m_inStorage) {
            storage->adopt(child);
        }
    } else if ((m_childCount & (m_childCount - 1)) == 0) {
        // Full: a count of 0 or a power of two fills the array exactly.
        m_children = resized(m_children, size_t(m_childCount) + 1);
    }
    m_children[m_childCount++] = child;
}

void TreeLeafItem::setChildren(const QList<TreeLeafItem *> &children)
{
    const auto count = quint32(children.size());
    // The list may refer to this node's own array: copied before that is released.
    TreeLeafItem **array = nullptr;
    if (m_inStorage) {
        array = count <= m_childCount ? m_children : TreeStorage::of(this)->allocateChildren(count);
        if (count > 0) {
            std::memmove(array, children.constData(), sizeof(TreeLeafItem *) * count);
        }
    } else {
        array = resized(nullptr, count);
        if (count > 0) {
            std::memcpy(array, children.constData(), sizeof(TreeLeafItem *) * count);
        }
        std::free(m_children);
    }
    m_children = array;
    m_childCount = count;
    for (quint32 i = 0; i < count; ++i) {
        array[i]->m_row = i;
    }
}
