/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_READAHEADDEVICE_H
#define MASSIF_READAHEADDEVICE_H

#include <QByteArray>
#include <QIODevice>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace Massif {

/**
 * A sequential, read-only device that reads its source ahead on a thread of
 * its own, so that decompressing a file and parsing it share two cores.
 * The source must be open; only the read-ahead thread touches it afterwards.
 * A failure of the source reads as a failure here (readData() returns -1 while
 * atEnd() is false), not as the end of the data.
 */
class ReadAheadDevice : public QIODevice
{
    Q_OBJECT
public:
    enum Failure {
        NoFailure,
        /// The source stopped giving data before its end: a compressed stream without its end marker.
        SourceEndedEarly,
        /// The source reported an error: for a compressed stream, corrupt data or a failed checksum.
        SourceFailed,
    };

    explicit ReadAheadDevice(QIODevice *source, QObject *parent = nullptr);
    ~ReadAheadDevice() override;

    bool open(OpenMode mode) override;
    void close() override;
    bool isSequential() const override;
    /// Unknown, as for the decompressing devices it reads from.
    qint64 size() const override;
    bool atEnd() const override;
    qint64 bytesAvailable() const override;

    /// How the source failed, once a read has failed.
    Failure failure() const;

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 maxSize) override;

private:
    void readAhead();
    void stopReading();

    static constexpr qint64 ChunkSize = 1024 * 1024;
    static constexpr size_t MaxChunks = 8;

    QIODevice *const m_source;
    std::thread m_reader;
    // Standard primitives, which thread sanitizers see through.
    mutable std::mutex m_mutex;
    std::condition_variable m_chunkTaken;
    mutable std::condition_variable m_chunkAdded;
    std::deque<QByteArray> m_chunks;
    qint64 m_frontOffset = 0;
    qint64 m_buffered = 0;
    bool m_sourceEnded = false;
    bool m_sourceFailed = false;
    Failure m_failure = NoFailure;
    bool m_stopping = false;
};

} // namespace Massif

#endif
