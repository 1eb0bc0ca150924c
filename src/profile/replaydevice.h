/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_REPLAYDEVICE_H
#define MASSIF_REPLAYDEVICE_H

#include <QByteArray>
#include <QIODevice>

#include <deque>

namespace Massif {

/**
 * A sequential, read-only device that gives bytes already read from a source
 * once more, then the rest of the source: its end, or its failure, as the
 * source gives it. The source must be open and is read only through this device.
 */
class ReplayDevice : public QIODevice
{
public:
    ReplayDevice(std::deque<QByteArray> replayed, QIODevice *source, QObject *parent = nullptr);

    bool isSequential() const override;
    /// The source's size where it has one, else 0.
    qint64 size() const override;
    /// The position in the source of the next byte to be read from here, where the source has a size.
    qint64 pos() const override;
    bool atEnd() const override;
    qint64 bytesAvailable() const override;

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 maxSize) override;

private:
    std::deque<QByteArray> m_replayed;
    qint64 m_frontOffset = 0;
    qint64 m_replayedBytes = 0;
    QIODevice *const m_source;
};

} // namespace Massif

#endif
