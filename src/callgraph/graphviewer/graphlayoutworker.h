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
 * Reads dot files and laid-out graphs, one after the other, on one thread
 * shared by every viewer of the process; the layout itself runs in a dot
 * process of the viewer's. A request whose ticket is no longer the latest of
 * its requester is skipped, and a reading is cut short once it is no longer.
 */
class GraphLayoutWorker : public QObject
{
    Q_OBJECT
public:
    using Ticket = std::shared_ptr<std::atomic<quint64>>;

    /// The worker, started on first use; it lives on its own thread.
    static GraphLayoutWorker *instance();

    /// Queues counting the nodes of the dot file @p fileName; the result arrives through counted().
    void count(quint64 ticket, const QString &fileName, const Ticket &latest);
    /// Queues reading the laid-out graph @p xdot (dot's xdot output); the result arrives through laidOut().
    void read(quint64 ticket, const QByteArray &xdot, const Ticket &latest);

    /// A process-wide unique request number.
    static quint64 nextTicket();

Q_SIGNALS:
    /// @p nodes is -1 when the file cannot be read as a graph.
    void counted(quint64 ticket, int nodes);
    /// @p layout is null when the graph could not be read; @p error then says why.
    void laidOut(quint64 ticket, std::shared_ptr<const GraphViewer::GraphLayout> layout, const QString &error);

private:
    explicit GraphLayoutWorker(QObject *parent = nullptr);
    void countNow(quint64 ticket, const QString &fileName, const Ticket &latest);
    void readNow(quint64 ticket, const QByteArray &xdot, const Ticket &latest);
};

} // namespace GraphViewer

#endif
