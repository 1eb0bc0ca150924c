/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "parser.h"
#include "filedata.h"
#include "parserun.h"
#include "snapshotitem.h"

#include <memory>

using namespace Massif;

Parser::Parser(QObject *parent) : QObject(parent)
{
}

Parser::~Parser() = default;

static void choosePeak(FileData *data)
{
    const QList<SnapshotItem *> snapshots = data->snapshots();
    const auto choose = [data](SnapshotItem *snapshot) {
        if (!data->peak() || snapshot->cost() > data->peak()->cost()) {
            data->setPeak(snapshot);
        }
    };
    for (SnapshotItem *snapshot : snapshots) {
        if (snapshot->heapTree()) {
            choose(snapshot);
        }
    }
    if (!data->peak()) {
        for (SnapshotItem *snapshot : snapshots) {
            choose(snapshot);
        }
    }
}

FileData *Parser::parse(QIODevice *device, const QStringList &allocators, QAtomicInt *shouldStop)
{
    auto data = std::make_unique<FileData>();
    ParseRun run(this, device, data.get(), allocators, shouldStop);
    run.run();
    m_readFailed = run.error() == ParseRun::ReadFailed;

    if (run.error() != ParseRun::NoError) {
        m_errorLine = run.error() == ParseRun::InvalidLine ? run.lineNumber() : -1;
        m_errorLineText = run.errorText();
        return nullptr;
    }

    m_errorLine = -1;
    m_errorLineText.clear();
    if (!data->snapshots().isEmpty()) {
        choosePeak(data.get());
    }
    return data.release();
}
