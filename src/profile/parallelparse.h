/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_PARALLELPARSE_H
#define MASSIF_PARALLELPARSE_H

#include "parserun.h"

#include <QByteArray>
#include <QHash>
#include <QStringList>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class QIODevice;

namespace Massif {

class FileData;
class Parser;
class SnapshotItem;

/**
 * Parser::parse() on several cores. The input is read in large pieces cut
 * before snapshot records; the pieces are parsed on threads of their own
 * and joined in file order. What a piece cannot settle alone (a malformed
 * or unusual line, a record cut by the piece's end, the end or a failure of
 * the device) is read again sequentially from the start of that piece, so
 * that the file, its errors and their line numbers are those of one
 * sequential run.
 */
class ParallelParse
{
public:
    ParallelParse(Parser *parser, QIODevice *device, FileData *data, const QStringList &allocators, QAtomicInt *shouldStop, int threads, qint64 pieceBytes);
    ~ParallelParse();

    ParallelParse(const ParallelParse &) = delete;
    ParallelParse &operator=(const ParallelParse &) = delete;

    void run();

    ParseRun::Error error() const
    {
        return m_error;
    }
    int lineNumber() const
    {
        return m_lineNumber;
    }
    QByteArray errorText() const
    {
        return m_errorText;
    }

private:
    struct Piece;
    enum class Join {
        Joined,
        NotReady,
        Unsettled,
        Stopped,
    };

    bool stopRequested() const;
    void dispatch(QByteArray text);
    Join joinFront(bool wait);
    void emitProgress(const SnapshotItem *joined);
    QByteArray spareBuffer();
    void work();
    void stopWorkers();
    void runSequentially(std::deque<QByteArray> replayed, int linesBefore, bool fromStart);

    Parser *const m_parser;
    QIODevice *const m_device;
    FileData *const m_data;
    const QStringList m_allocators;
    QAtomicInt *const m_shouldStop;
    const int m_threads;
    const qint64 m_pieceBytes;

    // Dispatched and not yet joined, in file order.
    std::deque<std::unique_ptr<Piece>> m_pieces;
    int m_linesDispatched = 0;
    int m_linesJoined = 0;
    qint64 m_bytesJoined = 0;
    bool m_anyJoined = false;
    bool m_folded = false;
    int m_expectedSnapshots = 100;
    // Every label joined so far, so that equal ones of all pieces share one buffer.
    QHash<QByteArray, QByteArray> m_labels;
    std::vector<QByteArray> m_spareBuffers;

    // Standard primitives, which thread sanitizers see through.
    std::mutex m_mutex;
    std::condition_variable m_workAdded;
    std::condition_variable m_pieceDone;
    std::deque<Piece *> m_queue;
    bool m_closing = false;
    std::vector<std::thread> m_workers;

    ParseRun::Error m_error = ParseRun::NoError;
    int m_lineNumber = 0;
    QByteArray m_errorText;
};

} // namespace Massif

#endif
