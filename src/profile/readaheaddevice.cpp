/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "readaheaddevice.h"

#include <QMutexLocker>

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
        QMutexLocker locker(&m_mutex);
        m_stopping = true;
        m_chunkTaken.wakeAll();
    }
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
    QMutexLocker locker(&m_mutex);
    while (m_chunks.empty() && !m_sourceEnded && !m_sourceFailed && !m_stopping) {
        const_cast<QWaitCondition &>(m_chunkAdded).wait(&m_mutex);
    }
    return m_chunks.empty() && m_sourceEnded;
}

qint64 ReadAheadDevice::bytesAvailable() const
{
    QMutexLocker locker(&m_mutex);
    return m_buffered + QIODevice::bytesAvailable();
}

qint64 ReadAheadDevice::readData(char *data, qint64 maxSize)
{
    QMutexLocker locker(&m_mutex);
    while (m_chunks.empty() && !m_sourceEnded && !m_sourceFailed && !m_stopping) {
        m_chunkAdded.wait(&m_mutex);
    }
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
            m_chunkTaken.wakeAll();
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
            QMutexLocker locker(&m_mutex);
            while (m_chunks.size() >= MaxChunks && !m_stopping) {
                m_chunkTaken.wait(&m_mutex);
            }
            if (m_stopping) {
                return;
            }
        }
        QByteArray chunk(ChunkSize, Qt::Uninitialized);
        const qint64 count = m_source->read(chunk.data(), ChunkSize);

        QMutexLocker locker(&m_mutex);
        if (count > 0) {
            chunk.truncate(count);
            m_buffered += count;
            m_chunks.push_back(std::move(chunk));
        } else if (count < 0 || !m_source->atEnd()) {
            m_sourceFailed = true;
            setErrorString(m_source->errorString());
        } else {
            m_sourceEnded = true;
        }
        m_chunkAdded.wakeAll();
        if (count <= 0) {
            return;
        }
    }
}
