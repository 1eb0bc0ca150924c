/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_PARSER_H
#define MASSIF_PARSER_H

#include <QAtomicInt>
#include <QByteArray>
#include <QObject>
#include <QStringList>

class QIODevice;

namespace Massif {

class FileData;

/**
 * Reads massif output from an open device into a FileData.
 * Stops at the first malformed line and remembers its number and text.
 */
class Parser : public QObject
{
    Q_OBJECT
public:
    explicit Parser(QObject *parent = nullptr);
    ~Parser() override;

    /**
     * Parses the whole device. Returns a new file owned by the caller, or
     * null when a line was malformed or @p shouldStop was set meanwhile.
     * @p allocators are custom allocators: plain substrings or wildcard patterns.
     */
    FileData *parse(QIODevice *device, const QStringList &allocators = QStringList(), QAtomicInt *shouldStop = nullptr);

    /// The 1-based number of the malformed line, or -1 after success or a stop.
    int errorLine() const
    {
        return m_errorLine;
    }
    /// The bytes of the malformed line, without its terminator.
    QByteArray errorLineText() const
    {
        return m_errorLineText;
    }
    /// How many threads parse a large input; 0, the default, for one per core.
    void setThreadCount(int count)
    {
        m_threadCount = count;
    }
    /**
     * The size of the pieces a large input is parsed in on several threads;
     * an input known to be smaller is parsed sequentially.
     */
    void setPieceSize(qint64 bytes)
    {
        m_pieceSize = bytes;
    }

    /// Whether the last parse ended because the device failed before its end.
    bool readFailed() const
    {
        return m_readFailed;
    }

Q_SIGNALS:
    void progress(int value);

private:
    int m_errorLine = -1;
    QByteArray m_errorLineText;
    bool m_readFailed = false;
    int m_threadCount = 0;
    qint64 m_pieceSize = 4 * 1024 * 1024;
};

} // namespace Massif

#endif
