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
#include <QStringList>

#include <array>
#include <memory>
#include <vector>

class QIODevice;

namespace Massif {

class FileData;
class Parser;
class SnapshotItem;
class TreeLeafItem;
class TreeStorage;

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

    /**
     * Reads @p text instead of the device: a piece of a file cut before a
     * snapshot record. Only whole lines that fit the line buffer are read
     * from it; any other line ends the run as irregular, to be read again
     * from the device.
     */
    void setText(QByteArrayView text);
    /// Starts at a snapshot record after @p linesBefore lines, with the fold state of the lines before.
    void resumeAtSnapshot(int linesBefore, bool allocatorFolded, int expectedSnapshots);

    /// Reads the device to its end, to the first malformed line or to a stop request.
    void run();

    /// Whether the input ended after a complete snapshot record (or the header), with nothing odd met.
    bool endedCleanly() const;
    /// Whether a custom allocator was folded in the lines read (or before, see resumeAtSnapshot()).
    bool allocatorFolded() const
    {
        return m_allocatorFolded;
    }
    /// Where the run keeps its nodes and labels; the file owns it.
    TreeStorage *storage() const
    {
        return m_storage;
    }
    /// How many of the snapshots added were complete before the first fold, so not regrouped.
    qsizetype snapshotsBeforeFold() const
    {
        return m_snapshotsBeforeFold;
    }

    /// The snapshot count a description announces, the divisor of progress by snapshot number.
    static int expectedSnapshots(const QString &description);
    /// Progress in percent at snapshot @p number, where its size is unknown.
    static int snapshotProgress(quint32 number, int expectedSnapshots);

    /// Merges the below-threshold entries of a root and sorts its children by cost, after a fold.
    static void regroupRoot(TreeLeafItem *root);

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
    bool atEnd() const;

    bool fail(QByteArrayView line);
    bool isCutLastLine() const;
    void commitSnapshot();
    void endEarly();
    bool isCustomAllocator(const QByteArray &label);

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
    TreeStorage *m_storage = nullptr;
    // Per level, the nodes read so far for the node open there; level d + 1
    // collects the children of a node at depth d, level 1 the root's.
    std::vector<std::vector<TreeLeafItem *>> m_pendingChildren;
    // The level that the node being read joins.
    qsizetype m_parentLevel = 0;
    bool m_allocatorFolded = false;
    QList<QRegExp> m_wildcardAllocators;
    QList<QByteArray> m_plainAllocators;
    qsizetype m_snapshotsBeforeFold = -1;
    const char *m_text = nullptr;
    const char *m_textEnd = nullptr;
    bool m_irregular = false;
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
