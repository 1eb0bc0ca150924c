/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "filedata.h"
#include "freedmemory.h"
#include "modelitem.h"
#include "snapshotitem.h"
#include "treestorage.h"

#include <utility>

using namespace Massif;

FileData::FileData(QObject *parent) : QObject(parent)
{
}

FileData::~FileData()
{
    // Before the storages that hold their trees.
    qDeleteAll(m_snapshots);
    m_snapshots.clear();
    m_treeStorages.clear();
    // A closed document's memory goes back to the system, not only to the heap.
    returnFreedMemory();
}

void FileData::addTreeStorage(std::unique_ptr<TreeStorage> storage)
{
    m_treeStorages.push_back(std::move(storage));
}

QList<SnapshotItem *> FileData::takeSnapshots()
{
    m_peak = nullptr;
    return std::exchange(m_snapshots, {});
}

std::vector<std::unique_ptr<TreeStorage>> FileData::takeTreeStorages()
{
    return std::exchange(m_treeStorages, {});
}

static void registerProfileMetaTypes()
{
    qRegisterMetaType<Massif::ModelItem>("Massif::ModelItem");
    qRegisterMetaType<Massif::TreeLeafItem *>("Massif::TreeLeafItem*");
    qRegisterMetaType<const Massif::TreeLeafItem *>("const Massif::TreeLeafItem*");
    qRegisterMetaType<Massif::FileData *>("Massif::FileData*");
}
Q_CONSTRUCTOR_FUNCTION(registerProfileMetaTypes)
