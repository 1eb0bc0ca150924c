/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "graphlayoutworker.h"
#include "threadhandoff.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>

namespace GraphViewer {

namespace {

struct WorkerThread
{
    QThread *thread = nullptr;
    GraphLayoutWorker *worker = nullptr;
};

WorkerThread &workerThread()
{
    static WorkerThread instance;
    return instance;
}

// Ends the thread before the application object goes; a reading still
// running is waited for (a superseded one stops at its next node).
void stopWorkerThread()
{
    WorkerThread &instance = workerThread();
    if (!instance.thread) {
        return;
    }
    instance.thread->quit();
    instance.thread->wait();
    delete instance.worker;
    delete instance.thread;
    instance = WorkerThread();
}

} // namespace

GraphLayoutWorker::GraphLayoutWorker(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<std::shared_ptr<const GraphViewer::GraphLayout>>();
}

GraphLayoutWorker *GraphLayoutWorker::instance()
{
    WorkerThread &instance = workerThread();
    if (!instance.thread) {
        instance.thread = new QThread;
        instance.thread->setObjectName(QStringLiteral("graph layout"));
        instance.worker = new GraphLayoutWorker;
        instance.worker->moveToThread(instance.thread);
        instance.thread->start();
        qAddPostRoutine(stopWorkerThread);
    }
    return instance.worker;
}

quint64 GraphLayoutWorker::nextTicket()
{
    static std::atomic<quint64> counter = 0;
    return ++counter;
}

void GraphLayoutWorker::count(quint64 ticket, const QString &fileName, const Ticket &latest)
{
    QMetaObject::invokeMethod(
        this,
        [this, ticket, fileName, latest]() {
            countNow(ticket, fileName, latest);
        },
        Qt::QueuedConnection);
}

void GraphLayoutWorker::read(quint64 ticket, const QByteArray &xdot, const Ticket &latest)
{
    QMetaObject::invokeMethod(
        this,
        [this, ticket, xdot, latest]() {
            readNow(ticket, xdot, latest);
        },
        Qt::QueuedConnection);
}

void GraphLayoutWorker::countNow(quint64 ticket, const QString &fileName, const Ticket &latest)
{
    if (latest->load() != ticket) {
        return;
    }
    QFile file(fileName);
    const int nodes = file.open(QIODevice::ReadOnly) ? countNodes(file.readAll()) : -1;
    Q_EMIT counted(ticket, nodes);
}

void GraphLayoutWorker::readNow(quint64 ticket, const QByteArray &xdot, const Ticket &latest)
{
    if (latest->load() != ticket) {
        return;
    }
    auto layout = std::make_shared<GraphLayout>();
    QString error;
    const auto superseded = [ticket, &latest]() {
        return latest->load() != ticket;
    };
    if (!readLayout(xdot, layout.get(), &error, superseded)) {
        if (!superseded()) {
            Q_EMIT laidOut(ticket, nullptr, error);
        }
        return;
    }
    Massif::releaseToOtherThread(layout.get());
    Q_EMIT laidOut(ticket, layout, QString());
}

} // namespace GraphViewer
