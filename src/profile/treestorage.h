/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_TREESTORAGE_H
#define MASSIF_TREESTORAGE_H

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>

#include <deque>
#include <vector>

namespace Massif {

class TreeLeafItem;

/**
 * The memory of parsed heap trees: nodes and their child arrays are cut from
 * large blocks taken straight from the system, without a heap block per node,
 * and labels are kept once here for the nodes to refer to. Everything goes
 * with the storage, and the blocks go back to the system at once.
 *
 * Filled by one thread; read by any once handed over. Nodes made here are
 * never deleted one by one.
 */
class TreeStorage
{
public:
    TreeStorage();
    ~TreeStorage();

    TreeStorage(const TreeStorage &) = delete;
    TreeStorage &operator=(const TreeStorage &) = delete;

    /// A new node without children, owned by this storage.
    TreeLeafItem *createNode(const QByteArray *label, quint64 cost);
    /// Makes @p children, in this order, the children of @p node: their parent and row are set.
    void attachChildren(TreeLeafItem *node, TreeLeafItem *const *children, quint32 count);
    /// The one label of the storage with these bytes, made on first use; equal labels share one buffer.
    const QByteArray *pooledLabel(QByteArrayView bytes);
    /// A label of its own, outside the pool, for as long as the storage lives.
    const QByteArray *keepLabel(const QByteArray &label);
    /**
     * Makes the pooled labels share their buffers with the equal ones in
     * @p labels and adds the others to it, so that storages filled apart
     * share their labels as if filled together. Ends the pool.
     */
    void shareLabels(QHash<QByteArray, QByteArray> *labels);
    /// Deletes @p node, a separately allocated one hung below a node of ours, with the storage.
    void adopt(TreeLeafItem *node);

    /// Bytes of the blocks begun for nodes and child arrays.
    qint64 reservedBytes() const
    {
        return m_reservedBytes;
    }

    /// The storage that made @p node; only for nodes of a storage.
    static TreeStorage *of(const TreeLeafItem *node);

private:
    friend class TreeLeafItem;

    TreeLeafItem **allocateChildren(quint32 count);
    void *allocate(size_t bytes);
    void startBlock();

    struct Mapping
    {
        void *address;
        size_t size;
    };

    char *m_cursor = nullptr;
    char *m_end = nullptr;
    char *m_regionEnd = nullptr;
    size_t m_regionSize = 0;
    std::vector<Mapping> m_mappings;
    // Deques: the nodes point at the labels, which must not move.
    std::deque<QByteArray> m_pooledLabels;
    std::deque<QByteArray> m_ownLabels;
    struct PoolKey
    {
        QByteArrayView bytes;
        bool operator==(const PoolKey &other) const
        {
            return bytes == other.bytes;
        }
    };
    friend size_t qHash(const PoolKey &key, size_t seed)
    {
        return poolHash(key.bytes, seed);
    }
    static size_t poolHash(QByteArrayView bytes, size_t seed);
    QHash<PoolKey, const QByteArray *> m_pool;
    std::vector<TreeLeafItem *> m_adopted;
    qint64 m_reservedBytes = 0;
};

} // namespace Massif

#endif
