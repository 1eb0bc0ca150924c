/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "profileloader.h"

#include "filedata.h"
#include "parseworker.h"
#include "threadhandoff.h"

#include <QCoreApplication>
#include <QThread>

using namespace Massif;

ProfileLoader::ProfileLoader(const QUrl &file, const QStringList &customAllocators, QObject *parent) : QObject(parent), m_worker(new ParseWorker), m_file(file)
{
    connect(m_worker, &ParseWorker::finished, this, &ProfileLoader::workerFinished);
    connect(m_worker, &ParseWorker::error, this, &ProfileLoader::workerFailed);
    connect(m_worker, &ParseWorker::progressRange, this, &ProfileLoader::progressRange);
    connect(m_worker, &ParseWorker::progress, this, &ProfileLoader::progress);
    auto *thread = new QThread(this);
    thread->start();
    m_worker->moveToThread(thread);
    m_worker->parse(m_file, customAllocators);
}

ProfileLoader::~ProfileLoader()
{
    stop();
}

void ProfileLoader::stop()
{
    if (!m_worker) {
        return;
    }
    ParseWorker *worker = m_worker;
    m_worker = nullptr;
    ParseWorker::stopThread(worker, m_file);
    // A result queued just before the stop is taken now and freed.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void ProfileLoader::workerFinished(const QUrl &url, FileData *data)
{
    Q_UNUSED(url)
    acquireFromOtherThread(data);
    if (!m_worker) {
        delete data;
        return;
    }
    Q_EMIT loaded(data);
}

void ProfileLoader::workerFailed(const QString &title, const QString &message)
{
    if (m_worker) {
        Q_EMIT failed(title, message);
    }
}
