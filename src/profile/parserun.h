/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_PARSERUN_H
#define MASSIF_PARSERUN_H

#include <QAtomicInt>
#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QRegExp>
#include <QSet>
#include <QStringList>

#include <array>
#include <memory>

class QIODevice;

namespace Massif {

class FileData;
class Parser;
class SnapshotItem;
class TreeLeafItem;

/**
 * The line state machine of one Parser::parse() call, including the heap tree reader.
 */
class ParseRun
{
public:
    enum State {
        ExpectDescription,
        ExpectCommand,
        ExpectTimeUnit,
        ExpectSnapshot,
        ExpectTime,
        ExpectMemHeap,
        ExpectMemHeapExtra,
        ExpectMemStacks,
        ExpectHeapTree,
        ExpectHeapTreeRoot,
    };

    enum Error {
        NoError,
        InvalidLine,
        Stopped,
        ReadFailed,
    };

    ParseRun(Parser *parser, QIODevice *device, FileData *data, const QStringList &allocators, QAtomicInt *shouldStop);
    ~ParseRun();

    /// Reads the device to its end, to the first malformed line or to a stop request.
    void run();

    Error error() const
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
    /// Whether the input ended inside a snapshot record or a heap tree; that snapshot was left out.
    bool endedEarly() const
    {
        return m_endedEarly;
    }

    /// The longest line kept in the line buffer; longer lines are assembled in a copy.
    static constexpr qint64 LineBufferSize = 65536;
    /// Deeper heap trees are refused: each level costs a stack frame here and in every reader of the tree.
    static constexpr int MaxTreeDepth = 4096;
    static constexpr quint32 MaxReservedChildren = 1024;
    /// Longer lines are refused: far above any real label, and memory stays bounded on endless input.
    static constexpr qint64 MaxLineLength = 16 * 1024 * 1024;

private:
    QByteArrayView readLine();
    QByteArrayView readLongLine(qint64 bufferedLength);
    bool handleLine(QByteArrayView line);
    bool parseDescription(QByteArrayView line);
    bool parseCommand(QByteArrayView line);
    bool parseTimeUnit(QByteArrayView line);
    bool parseSnapshot(QByteArrayView line);
    bool parseTime(QByteArrayView line);
    bool parseMemHeap(QByteArrayView line);
    bool parseMemHeapExtra(QByteArrayView line);
    bool parseMemStacks(QByteArrayView line);
    bool parseHeapTree(QByteArrayView line);
    bool parseHeapTreeRoot(QByteArrayView line);

    bool parseNode(QByteArrayView line, int depth);
    void regroupRootChildren();

    bool fail(QByteArrayView line);
    bool isCutLastLine() const;
    void commitSnapshot();
    void endEarly();
    bool isCustomAllocator(const QByteArray &label);
    QByteArray pooledLabel(QByteArrayView label);

    Parser *m_parser;
    QIODevice *m_device;
    FileData *m_data;
    QAtomicInt *m_shouldStop;
    State m_state = ExpectDescription;
    int m_lineNumber = 0;
    QByteArray m_errorText;
    Error m_error = NoError;
    SnapshotItem *m_currentSnapshot = nullptr;
    // The record being read; it joins the file only once complete.
    std::unique_ptr<SnapshotItem> m_pendingSnapshot;
    bool m_pendingIsPeak = false;
    TreeLeafItem *m_currentParent = nullptr;
    bool m_allocatorFolded = false;
    QList<QRegExp> m_wildcardAllocators;
    QList<QByteArray> m_plainAllocators;
    QSet<QByteArray> m_labelPool;
    qint32 m_expectedSnapshots = 100;
    QByteArray m_longLine;
    bool m_lineTooLong = false;
    bool m_readFailed = false;
    bool m_reachedEnd = false;
    bool m_endedEarly = false;
    bool m_lastLineTerminated = true;
    int m_lastLineNumber = 0;
    std::array<char, LineBufferSize> m_lineBuffer;
};

} // namespace Massif

#endif
