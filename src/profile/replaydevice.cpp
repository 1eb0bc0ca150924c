/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "replaydevice.h"

#include <cstring>

using namespace Massif;

ReplayDevice::ReplayDevice(std::deque<QByteArray> replayed, QIODevice *source, QObject *parent)
    : QIODevice(parent), m_replayed(std::move(replayed)), m_source(source)
{
    for (const QByteArray &bytes : m_replayed) {
        m_replayedBytes += bytes.size();
    }
    // Buffered, so that readLine() searches whole blocks.
    QIODevice::open(ReadOnly);
}

bool ReplayDevice::isSequential() const
{
    return true;
}

qint64 ReplayDevice::size() const
{
    return m_source->isSequential() ? 0 : m_source->size();
}

qint64 ReplayDevice::pos() const
{
    if (m_source->isSequential()) {
        return 0;
    }
    return m_source->pos() - m_replayedBytes - QIODevice::bytesAvailable();
}

bool ReplayDevice::atEnd() const
{
    return QIODevice::bytesAvailable() == 0 && m_replayedBytes == 0 && m_source->atEnd();
}

qint64 ReplayDevice::bytesAvailable() const
{
    return QIODevice::bytesAvailable() + m_replayedBytes + m_source->bytesAvailable();
}

qint64 ReplayDevice::readData(char *data, qint64 maxSize)
{
    if (m_replayed.empty()) {
        return m_source->read(data, maxSize);
    }
    qint64 copied = 0;
    while (copied < maxSize && !m_replayed.empty()) {
        const QByteArray &front = m_replayed.front();
        const qint64 count = qMin(maxSize - copied, front.size() - m_frontOffset);
        std::memcpy(data + copied, front.constData() + m_frontOffset, count);
        copied += count;
        m_frontOffset += count;
        if (m_frontOffset == front.size()) {
            m_replayed.pop_front();
            m_frontOffset = 0;
        }
    }
    m_replayedBytes -= copied;
    return copied;
}

qint64 ReplayDevice::writeData(const char *, qint64)
{
    return -1;
}
