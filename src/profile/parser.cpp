/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "parser.h"
#include "filedata.h"
#include "parallelparse.h"
#include "parserun.h"
#include "snapshotitem.h"

#include <QIODevice>
#include <QThread>

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
    ParseRun::Error error = ParseRun::NoError;
    int lineNumber = 0;
    QByteArray errorText;
    const int threads = m_threadCount > 0 ? m_threadCount : QThread::idealThreadCount();
    const qint64 knownSize = device->isSequential() ? 0 : device->size() - device->pos();
    // Small files keep the simple way; the size of a decompressing device is not known ahead.
    if (device->isSequential() || knownSize >= m_pieceSize) {
        ParallelParse parse(this, device, data.get(), allocators, shouldStop, threads, m_pieceSize);
        parse.run();
        error = parse.error();
        lineNumber = parse.lineNumber();
        errorText = parse.errorText();
    } else {
        ParseRun run(this, device, data.get(), allocators, shouldStop);
        run.run();
        error = run.error();
        lineNumber = run.lineNumber();
        errorText = run.errorText();
    }
    m_readFailed = error == ParseRun::ReadFailed;

    if (error != ParseRun::NoError) {
        m_errorLine = error == ParseRun::InvalidLine ? lineNumber : -1;
        m_errorLineText = errorText;
        return nullptr;
    }

    m_errorLine = -1;
    m_errorLineText.clear();
    if (!data->snapshots().isEmpty()) {
        choosePeak(data.get());
    }
    return data.release();
}
