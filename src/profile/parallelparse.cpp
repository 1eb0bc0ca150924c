/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "parallelparse.h"
#include "filedata.h"
#include "parser.h"
#include "replaydevice.h"
#include "snapshotitem.h"
#include "treestorage.h"

#include <QIODevice>

#include <cstring>
#include <utility>

using namespace Massif;

namespace {

// Where the first snapshot record of @p text at or after @p from begins: a
// separator line followed by a "snapshot=" line; -1 when none does.
qsizetype recordStart(QByteArrayView text, qsizetype from)
{
    static constexpr QByteArrayView numberLine("\nsnapshot=");
    static constexpr QByteArrayView separator("#-----------");
    for (qsizetype at = text.indexOf(numberLine, from + separator.size()); at >= 0; at = text.indexOf(numberLine, at + 1)) {
        qsizetype end = at;
        if (text.at(end - 1) == '\r') {
            --end;
        }
        const qsizetype start = end - separator.size();
        if (start >= from && start > 0 && text.at(start - 1) == '\n' && text.sliced(start, separator.size()) == separator) {
            return start;
        }
    }
    return -1;
}

// Pieces are read in chunks of this size at least and at most.
constexpr qint64 MinimalRead = 64 * 1024;
constexpr qint64 LargestRead = 1024 * 1024;
// Buffers kept for later pieces: fresh ones would cost a page fault every few kilobytes.
constexpr size_t SpareBuffers = 8;

int countLines(QByteArrayView text)
{
    int lines = 0;
    const char *end = text.data() + text.size();
    for (const char *at = text.data(); at < end; ++lines, ++at) {
        at = static_cast<const char *>(std::memchr(at, '\n', end - at));
        if (!at) {
            break;
        }
    }
    return lines;
}

} // namespace

struct ParallelParse::Piece
{
    QByteArray text;
    int linesBefore = 0;
    int lines = 0;
    bool first = false;
    // Declared before the run, which refers to it and must go first.
    std::unique_ptr<FileData> scratch;
    std::unique_ptr<ParseRun> run;
    bool done = false;
};

ParallelParse::ParallelParse(Parser *parser,
                             QIODevice *device,
                             FileData *data,
                             const QStringList &allocators,
                             QAtomicInt *shouldStop,
                             int threads,
                             qint64 pieceBytes)
    : m_parser(parser)
    , m_device(device)
    , m_data(data)
    , m_allocators(allocators)
    , m_shouldStop(shouldStop)
    , m_threads(qMax(1, threads))
    , m_pieceBytes(qMax<qint64>(1, pieceBytes))
{
}

ParallelParse::~ParallelParse()
{
    stopWorkers();
    m_pieces.clear();
}

bool ParallelParse::stopRequested() const
{
    return m_shouldStop && m_shouldStop->loadRelaxed();
}

void ParallelParse::run()
{
    // As in the sequential run: an empty device succeeds even when stopped.
    if (m_device->atEnd() || stopRequested()) {
        runSequentially({}, 0, true);
        return;
    }

    QByteArray pending;
    for (;;) {
        if (stopRequested()) {
            break;
        }
        const qsizetype old = pending.size();
        const qint64 chunk = qBound(MinimalRead, m_pieceBytes, LargestRead);
        pending.resize(old + chunk);
        qint64 got = 0;
        while (got < chunk) {
            const qint64 count = m_device->read(pending.data() + old + got, chunk - got);
            if (count <= 0) {
                break;
            }
            got += count;
        }
        pending.truncate(old + got);
        // Its end, a failure or a pause: the rest is read sequentially, as the device gives it.
        const bool sourceDone = got < chunk;

        // Each piece at least of the piece size: an input smaller than that is read sequentially.
        for (qsizetype cut = recordStart(pending, m_pieceBytes); cut > 0; cut = recordStart(pending, m_pieceBytes)) {
            // The piece keeps the buffer; the rest moves to a spare one.
            QByteArray rest = spareBuffer();
            rest.append(QByteArrayView(pending).sliced(cut));
            pending.truncate(cut);
            dispatch(std::exchange(pending, rest));
        }
        if (sourceDone) {
            break;
        }
        // A line longer than the run accepts: read no further, the sequential run refuses it.
        if (pending.size() - (pending.lastIndexOf('\n') + 1) >= ParseRun::MaxLineLength) {
            break;
        }
        Join join = Join::Joined;
        while (!m_pieces.empty() && join == Join::Joined) {
            // Bounded memory: past a few pieces per thread, wait for the oldest.
            join = joinFront(qsizetype(m_pieces.size()) > 2 * m_threads);
        }
        if (join == Join::Unsettled || join == Join::Stopped) {
            break;
        }
    }

    Join join = Join::Joined;
    while (!m_pieces.empty() && join == Join::Joined) {
        join = joinFront(true);
    }
    if (join == Join::Stopped || stopRequested()) {
        stopWorkers();
        m_error = ParseRun::Stopped;
        return;
    }
    // The rest: the piece that could not be settled alone and all after it.
    std::deque<QByteArray> rest;
    for (const auto &piece : m_pieces) {
        rest.push_back(piece->text);
    }
    rest.push_back(pending);
    stopWorkers();
    m_pieces.clear();
    runSequentially(std::move(rest), m_linesJoined, !m_anyJoined);
}

void ParallelParse::dispatch(QByteArray text)
{
    if (m_workers.empty() && m_threads > 1) {
        for (int i = 0; i < m_threads; ++i) {
            m_workers.emplace_back([this] {
                work();
            });
        }
    }
    auto piece = std::make_unique<Piece>();
    piece->first = m_linesDispatched == 0;
    piece->linesBefore = m_linesDispatched;
    piece->lines = countLines(text);
    m_linesDispatched += piece->lines;
    piece->text = std::move(text);
    piece->scratch = std::make_unique<FileData>();
    piece->run = std::make_unique<ParseRun>(nullptr, nullptr, piece->scratch.get(), m_allocators, m_shouldStop);
    piece->run->setText(piece->text);
    if (!piece->first) {
        piece->run->resumeAtSnapshot(piece->linesBefore, false, m_expectedSnapshots);
    }
    if (m_threads == 1) {
        // Read from memory all the same, which spares copying every line.
        piece->run->run();
        piece->done = true;
        m_pieces.push_back(std::move(piece));
        return;
    }
    {
        const std::lock_guard locker(m_mutex);
        m_queue.push_back(piece.get());
    }
    m_workAdded.notify_one();
    m_pieces.push_back(std::move(piece));
}

void ParallelParse::work()
{
    for (;;) {
        Piece *piece = nullptr;
        {
            std::unique_lock locker(m_mutex);
            m_workAdded.wait(locker, [this] {
                return !m_queue.empty() || m_closing;
            });
            if (m_queue.empty()) {
                return;
            }
            piece = m_queue.front();
            m_queue.pop_front();
        }
        piece->run->run();
        {
            const std::lock_guard locker(m_mutex);
            piece->done = true;
        }
        m_pieceDone.notify_all();
    }
}

void ParallelParse::stopWorkers()
{
    {
        const std::lock_guard locker(m_mutex);
        m_closing = true;
        // Pieces not started yet are not needed any more.
        m_queue.clear();
    }
    m_workAdded.notify_all();
    for (std::thread &worker : m_workers) {
        worker.join();
    }
    m_workers.clear();
    // A piece taken off the queue is not run, so mark it as done for whoever waits.
    for (const auto &piece : m_pieces) {
        piece->done = true;
    }
}

ParallelParse::Join ParallelParse::joinFront(bool wait)
{
    Piece &piece = *m_pieces.front();
    {
        std::unique_lock locker(m_mutex);
        if (!piece.done && !wait) {
            return Join::NotReady;
        }
        // The runs watch the stop flag themselves, so this wait is short after a stop.
        m_pieceDone.wait(locker, [&piece] {
            return piece.done;
        });
    }
    ParseRun &run = *piece.run;
    if (run.error() == ParseRun::Stopped) {
        return Join::Stopped;
    }
    if (!run.endedCleanly()) {
        return Join::Unsettled;
    }

    FileData &scratch = *piece.scratch;
    if (piece.first) {
        m_data->setDescription(scratch.description());
        m_data->setCommand(scratch.command());
        m_data->setTimeUnit(scratch.timeUnit());
        m_expectedSnapshots = ParseRun::expectedSnapshots(scratch.description());
    }
    // A later snapshot marked as peak replaces an earlier one.
    if (SnapshotItem *peak = scratch.peak()) {
        m_data->setPeak(peak);
    }
    const QList<SnapshotItem *> snapshots = scratch.takeSnapshots();
    // Once a fold was met before, every tree is regrouped; the piece did only those after its own first fold.
    if (m_folded) {
        const qsizetype unregrouped = run.allocatorFolded() ? run.snapshotsBeforeFold() : snapshots.size();
        for (qsizetype i = 0; i < unregrouped; ++i) {
            if (TreeLeafItem *root = snapshots.at(i)->heapTree()) {
                ParseRun::regroupRoot(root);
            }
        }
    }
    for (SnapshotItem *snapshot : snapshots) {
        m_data->addSnapshot(snapshot);
        emitProgress(snapshot);
    }
    for (auto &storage : scratch.takeTreeStorages()) {
        storage->shareLabels(&m_labels);
        m_data->addTreeStorage(std::move(storage));
    }
    m_folded = m_folded || run.allocatorFolded();
    m_linesJoined = piece.linesBefore + piece.lines;
    m_bytesJoined += piece.text.size();
    if (m_spareBuffers.size() < SpareBuffers) {
        piece.text.resize(0);
        m_spareBuffers.push_back(std::move(piece.text));
    }
    m_anyJoined = true;
    m_pieces.pop_front();
    emitProgress(nullptr);
    return Join::Joined;
}

QByteArray ParallelParse::spareBuffer()
{
    if (m_spareBuffers.empty()) {
        return QByteArray();
    }
    QByteArray buffer = std::move(m_spareBuffers.back());
    m_spareBuffers.pop_back();
    return buffer;
}

void ParallelParse::emitProgress(const SnapshotItem *joined)
{
    // By position where the size is known, else by snapshot number as the sequential run does.
    const qint64 size = m_device->isSequential() ? 0 : m_device->size();
    if (size > 0 && !joined) {
        Q_EMIT m_parser->progress(static_cast<int>(static_cast<double>(m_bytesJoined * 100) / static_cast<double>(size)));
    } else if (size == 0 && joined) {
        Q_EMIT m_parser->progress(ParseRun::snapshotProgress(joined->number(), m_expectedSnapshots));
    }
}

void ParallelParse::runSequentially(std::deque<QByteArray> replayed, int linesBefore, bool fromStart)
{
    ReplayDevice replay(std::move(replayed), m_device);
    ParseRun run(m_parser, &replay, m_data, m_allocators, m_shouldStop);
    if (!fromStart) {
        run.resumeAtSnapshot(linesBefore, m_folded, m_expectedSnapshots);
    }
    run.run();
    m_error = run.error();
    m_lineNumber = run.lineNumber();
    m_errorText = run.errorText();
    run.storage()->shareLabels(&m_labels);
}
