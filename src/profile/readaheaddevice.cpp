/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "readaheaddevice.h"

#include <cstring>

using namespace Massif;

ReadAheadDevice::ReadAheadDevice(QIODevice *source, QObject *parent) : QIODevice(parent), m_source(source)
{
}

ReadAheadDevice::~ReadAheadDevice()
{
    stopReading();
}

bool ReadAheadDevice::open(OpenMode mode)
{
    if (mode != ReadOnly || !m_source->isOpen() || m_reader.joinable()) {
        return false;
    }
    // Buffered, so that readLine() searches whole blocks instead of asking byte by byte.
    if (!QIODevice::open(ReadOnly)) {
        return false;
    }
    m_reader = std::thread([this] {
        readAhead();
    });
    return true;
}

void ReadAheadDevice::close()
{
    stopReading();
    QIODevice::close();
}

void ReadAheadDevice::stopReading()
{
    {
        const std::lock_guard locker(m_mutex);
        m_stopping = true;
    }
    m_chunkTaken.notify_all();
    if (m_reader.joinable()) {
        m_reader.join();
    }
}

bool ReadAheadDevice::isSequential() const
{
    return true;
}

qint64 ReadAheadDevice::size() const
{
    return 0;
}

bool ReadAheadDevice::atEnd() const
{
    if (QIODevice::bytesAvailable() > 0) {
        return false;
    }
    std::unique_lock locker(m_mutex);
    m_chunkAdded.wait(locker, [this] {
        return !m_chunks.empty() || m_sourceEnded || m_sourceFailed || m_stopping;
    });
    return m_chunks.empty() && m_sourceEnded;
}

qint64 ReadAheadDevice::bytesAvailable() const
{
    const std::lock_guard locker(m_mutex);
    return m_buffered + QIODevice::bytesAvailable();
}

ReadAheadDevice::Failure ReadAheadDevice::failure() const
{
    const std::lock_guard locker(m_mutex);
    return m_failure;
}

qint64 ReadAheadDevice::readData(char *data, qint64 maxSize)
{
    std::unique_lock locker(m_mutex);
    m_chunkAdded.wait(locker, [this] {
        return !m_chunks.empty() || m_sourceEnded || m_sourceFailed || m_stopping;
    });
    if (m_chunks.empty()) {
        return m_sourceFailed ? -1 : 0;
    }
    qint64 copied = 0;
    while (copied < maxSize && !m_chunks.empty()) {
        const QByteArray &front = m_chunks.front();
        const qint64 count = qMin(maxSize - copied, front.size() - m_frontOffset);
        std::memcpy(data + copied, front.constData() + m_frontOffset, count);
        copied += count;
        m_frontOffset += count;
        if (m_frontOffset == front.size()) {
            m_chunks.pop_front();
            m_frontOffset = 0;
            m_chunkTaken.notify_all();
        }
    }
    m_buffered -= copied;
    return copied;
}

qint64 ReadAheadDevice::writeData(const char *, qint64)
{
    return -1;
}

void ReadAheadDevice::readAhead()
{
    for (;;) {
        {
            std::unique_lock locker(m_mutex);
            m_chunkTaken.wait(locker, [this] {
                return m_chunks.size() < MaxChunks || m_stopping;
            });
            if (m_stopping) {
                return;
            }
        }
        QByteArray chunk(ChunkSize, Qt::Uninitialized);
        qint64 count = m_source->read(chunk.data(), ChunkSize);
        // A decompressing device that meets corrupt data first returns what it
        // had, often nothing, and fails from the next read on; one whose input
        // ended before the stream's end marker returns nothing again and again.
        bool endedEarly = false;
        if (count == 0 && !m_source->atEnd()) {
            count = m_source->read(chunk.data(), ChunkSize);
            endedEarly = count == 0 && !m_source->atEnd();
        }

        const std::lock_guard locker(m_mutex);
        if (count > 0) {
            chunk.truncate(count);
            m_buffered += count;
            m_chunks.push_back(std::move(chunk));
        } else if (count < 0 || !m_source->atEnd()) {
            m_sourceFailed = true;
            m_failure = endedEarly ? SourceEndedEarly : SourceFailed;
            setErrorString(m_source->errorString());
        } else {
            m_sourceEnded = true;
        }
        m_chunkAdded.notify_all();
        if (count <= 0) {
            return;
        }
    }
}
