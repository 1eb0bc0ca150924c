/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MODELTESTDATA_H
#define MODELTESTDATA_H

#include "filedata.h"
#include "parser.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <QFile>
#include <QTest>

#include <memory>

// Reads a massif output from tests/fixtures; null (with a test failure message) when it does not parse.
inline std::unique_ptr<Massif::FileData> loadFixture(const QString &name, const QStringList &allocators = {})
{
    QFile file(QStringLiteral(QUILLMAP_FIXTURES_DIR "/") + name);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("cannot open fixture %s", qPrintable(name));
        return nullptr;
    }
    Massif::Parser parser;
    return std::unique_ptr<Massif::FileData>(parser.parse(&file, allocators));
}

// The snapshot with the given number, or null.
inline const Massif::SnapshotItem *snapshotNumber(const Massif::FileData *data, quint32 number)
{
    const QList<Massif::SnapshotItem *> snapshots = data->snapshots();
    for (const Massif::SnapshotItem *snapshot : snapshots) {
        if (snapshot->number() == number) {
            return snapshot;
        }
    }
    return nullptr;
}

// The first direct child of @p node whose label contains @p text, or null.
inline const Massif::TreeLeafItem *childWith(const Massif::TreeLeafItem *node, const QByteArray &text)
{
    if (!node) {
        return nullptr;
    }
    const QList<Massif::TreeLeafItem *> children = node->children();
    for (const Massif::TreeLeafItem *child : children) {
        if (child->label().contains(text)) {
            return child;
        }
    }
    return nullptr;
}

// Hand-built data for cases no real profile shows: appends a snapshot whose
// root has one leaf child per (label, cost) pair.
inline Massif::SnapshotItem *addSnapshot(Massif::FileData *data, quint32 number, double time, quint64 heap, const QList<QPair<QByteArray, quint64>> &leaves)
{
    auto *snapshot = new Massif::SnapshotItem;
    snapshot->setNumber(number);
    snapshot->setTime(time);
    snapshot->setMemHeap(heap);
    if (!leaves.isEmpty()) {
        auto *root = new Massif::TreeLeafItem;
        root->setCost(heap);
        root->setLabel("(heap allocation functions) malloc/new/new[], --alloc-fns, etc.");
        for (const auto &leaf : leaves) {
            auto *node = new Massif::TreeLeafItem;
            node->setLabel(leaf.first);
            node->setCost(leaf.second);
            root->addChild(node);
        }
        snapshot->setHeapTree(root);
    }
    data->addSnapshot(snapshot);
    return snapshot;
}

#endif
