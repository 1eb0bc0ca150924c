/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "treestorage.h"
#include "treeleafitem.h"

#include <cstring>
#include <new>

#ifdef Q_OS_WIN
#include <malloc.h>
#else
#include <sys/mman.h>
#endif

using namespace Massif;

namespace {

// Blocks are aligned to their size, so that a node finds its storage from its
// own address through the header at the start of its block.
constexpr size_t BlockSize = size_t(256) << 10;
constexpr size_t HeaderSize = 16;
// Larger child arrays get a mapping of their own rather than waste a block's tail.
constexpr size_t LargestInBlock = BlockSize / 16;
constexpr size_t PageSize = 4096;
// Blocks are cut from regions mapped at once, each twice the last up to this
// size, so that a large tree costs few calls to the system; the pages of a
// region not reached yet are not touched and take no memory.
constexpr size_t FirstRegionSize = BlockSize * 4;
constexpr size_t LargestRegionSize = BlockSize * 64;

struct BlockHeader
{
    TreeStorage *owner;
};
static_assert(sizeof(BlockHeader) <= HeaderSize);

// Straight from the system rather than from malloc: its arenas would keep
// the memory of a closed file, and its mmap threshold rises after the first
// large block is freed, so that later ones would land in an arena too.
void *mapMemory(size_t size, size_t alignment)
{
#ifdef Q_OS_WIN
    void *address = _aligned_malloc(size, alignment);
    if (!address) {
        qFatal("Out of memory for the heap trees");
    }
    return address;
#else
    const size_t span = alignment > PageSize ? size + alignment : size;
    void *mapped = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        qFatal("Out of memory for the heap trees");
    }
    if (span == size) {
        return mapped;
    }
    const quintptr start = quintptr(mapped);
    const quintptr aligned = (start + alignment - 1) & ~quintptr(alignment - 1);
    if (aligned > start) {
        munmap(mapped, aligned - start);
    }
    const quintptr tail = start + span - (aligned + size);
    if (tail > 0) {
        munmap(reinterpret_cast<void *>(aligned + size), tail);
    }
    return reinterpret_cast<void *>(aligned);
#endif
}

void unmapMemory(void *address, size_t size)
{
#ifdef Q_OS_WIN
    Q_UNUSED(size)
    _aligned_free(address);
#else
    munmap(address, size);
#endif
}

} // namespace

// Labels differ in their leading code address or in their closing source
// location, so their length and both ends make a good hash: long labels are
// not hashed whole for every node line. Equality still compares all bytes.
size_t TreeStorage::poolHash(QByteArrayView bytes, size_t seed)
{
    constexpr qsizetype End = 16;
    if (bytes.size() <= 2 * End) {
        return qHashBits(bytes.data(), size_t(bytes.size()), seed);
    }
    char ends[2 * End];
    std::memcpy(ends, bytes.data(), End);
    std::memcpy(ends + End, bytes.data() + bytes.size() - End, End);
    return qHashMulti(seed, bytes.size(), qHashBits(ends, sizeof(ends), seed));
}

TreeStorage::TreeStorage() = default;

TreeStorage::~TreeStorage()
{
    for (TreeLeafItem *node : m_adopted) {
        delete node;
    }
    for (const Mapping &mapping : m_mappings) {
        unmapMemory(mapping.address, mapping.size);
    }
}

TreeStorage *TreeStorage::of(const TreeLeafItem *node)
{
    const quintptr block = quintptr(node) & ~quintptr(BlockSize - 1);
    return reinterpret_cast<const BlockHeader *>(block)->owner;
}

void TreeStorage::startBlock()
{
    if (m_end == m_regionEnd) {
        const size_t size = m_regionSize == 0 ? FirstRegionSize : qMin(LargestRegionSize, m_regionSize * 2);
        m_end = static_cast<char *>(mapMemory(size, BlockSize));
        m_regionEnd = m_end + size;
        m_regionSize = size;
        m_mappings.push_back({m_end, size});
    }
    char *block = m_end;
    m_reservedBytes += BlockSize;
    new (block) BlockHeader {this};
    m_cursor = block + HeaderSize;
    m_end = block + BlockSize;
}

void *TreeStorage::allocate(size_t bytes)
{
    bytes = (bytes + alignof(void *) - 1) & ~(alignof(void *) - 1);
    if (bytes > LargestInBlock) {
        const size_t size = (bytes + PageSize - 1) & ~(PageSize - 1);
        void *address = mapMemory(size, PageSize);
        m_mappings.push_back({address, size});
        m_reservedBytes += qint64(size);
        return address;
    }
    if (size_t(m_end - m_cursor) < bytes) {
        startBlock();
    }
    void *address = m_cursor;
    m_cursor += bytes;
    return address;
}

TreeLeafItem *TreeStorage::createNode(const QByteArray *label, quint64 cost)
{
    // Always inside a block, where of() can find us.
    static_assert(sizeof(TreeLeafItem) <= LargestInBlock);
    auto *node = new (allocate(sizeof(TreeLeafItem))) TreeLeafItem;
    node->m_label = label;
    node->m_cost = cost;
    node->m_inStorage = 1;
    return node;
}

TreeLeafItem **TreeStorage::allocateChildren(quint32 count)
{
    if (count == 0) {
        return nullptr;
    }
    return static_cast<TreeLeafItem **>(allocate(sizeof(TreeLeafItem *) * count));
}

void TreeStorage::attachChildren(TreeLeafItem *node, TreeLeafItem *const *children, quint32 count)
{
    TreeLeafItem **array = allocateChildren(count);
    if (count > 0) {
        std::memcpy(array, children, sizeof(TreeLeafItem *) * count);
    }
    node->m_children = array;
    node->m_childCount = count;
    for (quint32 i = 0; i < count; ++i) {
        array[i]->m_parent = node;
        array[i]->m_row = i;
    }
}

const QByteArray *TreeStorage::pooledLabel(QByteArrayView bytes)
{
    const auto pooled = m_pool.constFind(PoolKey {bytes});
    if (pooled != m_pool.constEnd()) {
        return *pooled;
    }
    const QByteArray &label = m_pooledLabels.emplace_back(bytes.toByteArray());
    m_pool.insert(PoolKey {QByteArrayView(label)}, &label);
    return &label;
}

const QByteArray *TreeStorage::keepLabel(const QByteArray &label)
{
    return &m_ownLabels.emplace_back(label);
}

void TreeStorage::shareLabels(QHash<QByteArray, QByteArray> *labels)
{
    // The pool's keys view the buffers about to be replaced.
    m_pool.clear();
    for (QByteArray &label : m_pooledLabels) {
        const auto known = labels->constFind(label);
        if (known == labels->constEnd()) {
            labels->insert(label, label);
        } else {
            label = *known;
        }
    }
}

void TreeStorage::adopt(TreeLeafItem *node)
{
    m_adopted.push_back(node);
}
