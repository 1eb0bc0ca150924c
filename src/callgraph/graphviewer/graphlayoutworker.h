/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef GRAPHVIEWER_GRAPHLAYOUTWORKER_H
#define GRAPHVIEWER_GRAPHLAYOUTWORKER_H

#include "graphlayout.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

namespace GraphViewer {

/**
 * Reads and lays out dot files, one after the other, on one thread shared
 * by every viewer of the process. A request whose ticket is no longer the
 * latest of its requester when its turn comes is skipped.
 */
class GraphLayoutWorker : public QObject
{
    Q_OBJECT
public:
    using Ticket = std::shared_ptr<std::atomic<quint64>>;

    /// The worker, started on first use; it lives on its own thread.
    static GraphLayoutWorker *instance();

    /// Queues the layout of @p fileName as @p ticket; the result arrives through laidOut().
    void request(quint64 ticket, const QString &fileName, const Ticket &latest);

    /// A process-wide unique request number.
    static quint64 nextTicket();

Q_SIGNALS:
    /// @p layout is null when the file could not be read or laid out; @p error then says why.
    void laidOut(quint64 ticket, std::shared_ptr<const GraphViewer::GraphLayout> layout, const QString &error);

private:
    explicit GraphLayoutWorker(QObject *parent = nullptr);
    void process(quint64 ticket, const QString &fileName, const Ticket &latest);
};

} // namespace GraphViewer

#endif
