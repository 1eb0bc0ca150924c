/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "parserun.h"
#include "filedata.h"
#include "labelpieces.h"
#include "parser.h"
#include "snapshotitem.h"
#include "treeleafitem.h"
#include "treestorage.h"

#include <KLocalizedString>

#include <QDebug>
#include <QIODevice>

#include <algorithm>
#include <cstring>
#include <limits>

using namespace Massif;

namespace {

constexpr QByteArrayView separatorLine("#-----------");

// The number after the prefix; false when the line lacks the prefix or the number is malformed.
template<typename Number, typename Convert>
bool numberAfter(QByteArrayView line, QByteArrayView prefix, Number *number, Convert convert)
{
    if (!line.startsWith(prefix)) {
        return false;
    }
    bool ok = false;
    *number = convert(line.sliced(prefix.size()), &ok);
    return ok;
}

bool unsignedAfter(QByteArrayView line, QByteArrayView prefix, quint64 *number)
{
    return numberAfter(line, prefix, number, [](QByteArrayView digits, bool *ok) {
        return digits.toULongLong(ok, 10);
    });
}

// Plain decimal digits, nearly every number of a heap tree, are converted
// here; anything else as Qt converts it, which decides what is accepted.
template<typename Number>
Number decimal(QByteArrayView digits, bool *ok)
{
    if (!digits.isEmpty() && digits.size() <= std::numeric_limits<Number>::digits10) {
        Number value = 0;
        bool plain = true;
        for (const char digit : digits) {
            if (digit < '0' || digit > '9') {
                plain = false;
                break;
            }
            value = value * 10 + Number(digit - '0');
        }
        if (plain) {
            *ok = true;
            return value;
        }
    }
    if constexpr (sizeof(Number) == sizeof(quint32)) {
        return digits.toUInt(ok, 10);
    } else {
        return digits.toULongLong(ok, 10);
    }
}

// Patterns are searched anywhere in a function, so stars at either end add
// nothing to what matches; they only make the search quadratic in the length
// of the name ("*pool*" takes seconds on a label of some kilobytes).
QString withoutOuterStars(QString pattern)
{
    while (pattern.startsWith(QLatin1Char('*'))) {
        pattern.remove(0, 1);
    }
    while (pattern.endsWith(QLatin1Char('*')) && !pattern.endsWith(QLatin1String("\\*"))) {
        pattern.chop(1);
    }
    return pattern;
}

} // namespace

ParseRun::ParseRun(Parser *parser, QIODevice *device, FileData *data, const QStringList &allocators, QAtomicInt *shouldStop)
    : m_parser(parser), m_device(device), m_data(data), m_shouldStop(shouldStop)
{
    // Owned by the file from the start, so that it outlives every snapshot.
    auto storage = std::make_unique<TreeStorage>();
    m_storage = storage.get();
    m_data->addTreeStorage(std::move(storage));
    for (const QString &allocator : allocators) {
        if (allocator.contains(QLatin1Char('*'))) {
            m_wildcardAllocators.append(QRegExp(withoutOuterStars(allocator), Qt::CaseSensitive, QRegExp::Wildcard));
        } else {
            m_plainAllocators.append(allocator.toLatin1());
        }
    }
}

ParseRun::~ParseRun() = default;

void ParseRun::setText(QByteArrayView text)
{
    m_text = text.data();
    m_textEnd = text.data() + text.size();
}

void ParseRun::resumeAtSnapshot(int linesBefore, bool allocatorFolded, int expectedSnapshots)
{
    m_state = ExpectSnapshot;
    m_expectedSnapshots = expectedSnapshots;
    m_lineNumber = linesBefore;
    m_allocatorFolded = allocatorFolded;
    if (allocatorFolded) {
        m_snapshotsBeforeFold = 0;
    }
}

bool ParseRun::atEnd() const
{
    return m_text ? m_text == m_textEnd : m_device->atEnd();
}

bool ParseRun::endedCleanly() const
{
    return m_error == NoError && !m_endedEarly && !m_irregular && m_state == ExpectSnapshot && atEnd();
}

void ParseRun::run()
{
    while (!atEnd()) {
        if (m_shouldStop && m_shouldStop->loadRelaxed()) {
            m_error = Stopped;
            return;
        }
        const qint64 size = m_device && m_parser ? m_device->size() : 0;
        if (size != 0) {
            const qint64 percent = m_device->pos() * 100;
            Q_EMIT m_parser->progress(static_cast<int>(static_cast<double>(percent) / static_cast<double>(size)));
        }
        const QByteArrayView line = readLine();
        const bool accepted = !m_readFailed && handleLine(line);
        // Whatever the lines read so far looked like, a failed device is the cause.
        if (m_readFailed) {
            m_error = ReadFailed;
            return;
        }
        if (m_endedEarly) {
            break;
        }
        if (!accepted) {
            if (isCutLastLine()) {
                m_endedEarly = true;
                break;
            }
            // The error text is the offending line, which fail() copied: the
            // main-loop line may be a stale view once a handler read further.
            // Only the start: a binary file's first line can be megabytes long.
            qWarning() << "invalid line" << m_lineNumber << m_errorText.left(200);
            m_error = InvalidLine;
            return;
        }
    }
    if (m_state > ExpectSnapshot) {
        m_endedEarly = true;
    }
    if (m_endedEarly) {
        endEarly();
    }
}

// A last line without its line feed that does not parse inside the snapshots
// is where the file was cut, not a malformed line.
bool ParseRun::isCutLastLine() const
{
    return m_state >= ExpectSnapshot && !m_lastLineTerminated && !m_lineTooLong && atEnd();
}

void ParseRun::commitSnapshot()
{
    if (m_pendingIsPeak) {
        m_data->setPeak(m_pendingSnapshot.get());
        m_pendingIsPeak = false;
    }
    m_data->addSnapshot(m_pendingSnapshot.release());
}

void ParseRun::endEarly()
{
    m_pendingSnapshot.reset();
    m_currentSnapshot = nullptr;
    // A piece's end is not the file's: that piece is read again from the device.
    if (m_text) {
        return;
    }
    m_data->setWarning(
        i18nc("@info",
              "The file ends early, in line %1, inside a snapshot record. That snapshot is left out; the complete snapshots before it are shown.",
              m_lastLineNumber));
}

QByteArrayView ParseRun::readLine()
{
    ++m_lineNumber;
    if (m_text) {
        const auto *newline = static_cast<const char *>(std::memchr(m_text, '\n', m_textEnd - m_text));
        if (!newline || newline - m_text + 1 > LineBufferSize - 1) {
            // The end of the piece, or a line the device reads otherwise.
            m_irregular = m_irregular || m_text != m_textEnd;
            m_reachedEnd = true;
            return {};
        }
        m_lastLineNumber = m_lineNumber;
        m_lastLineTerminated = true;
        qsizetype length = newline - m_text;
        if (length > 0 && m_text[length - 1] == '\r') {
            --length;
        }
        const QByteArrayView line(m_text, length);
        m_text = newline + 1;
        return line;
    }
    qint64 length = m_device->readLine(m_lineBuffer.data(), LineBufferSize);
    // Sequential devices report the end as nothing read rather than -1.
    if (length <= 0) {
        // Nothing read, yet not at the end: the device failed (a broken compressed stream).
        m_readFailed = m_readFailed || !m_device->atEnd();
        m_reachedEnd = !m_readFailed;
        return {};
    }
    m_lastLineNumber = m_lineNumber;
    const char *data = m_lineBuffer.data();
    if (length == LineBufferSize - 1 && m_lineBuffer[length - 1] != '\n') {
        const QByteArrayView whole = readLongLine(length);
        data = whole.data();
        length = whole.size();
    }
    m_lastLineTerminated = length > 0 && data[length - 1] == '\n';
    if (m_lastLineTerminated) {
        --length;
        if (length > 0 && data[length - 1] == '\r') {
            --length;
        }
    }
    return QByteArrayView(data, length);
}

QByteArrayView ParseRun::readLongLine(qint64 bufferedLength)
{
    m_longLine = QByteArray(m_lineBuffer.data(), bufferedLength);
    // In pieces, so that input without line feeds cannot take all memory.
    while (!m_longLine.endsWith('\n')) {
        if (m_longLine.size() >= MaxLineLength) {
            m_lineTooLong = true;
            m_longLine.truncate(MaxLineLength);
            break;
        }
        const QByteArray piece = m_device->readLine(MaxLineLength - m_longLine.size() + 1);
        if (piece.isEmpty()) {
            break;
        }
        m_longLine += piece;
    }
    return m_longLine;
}

bool ParseRun::fail(QByteArrayView line)
{
    m_errorText = line.toByteArray();
    return false;
}

bool ParseRun::handleLine(QByteArrayView line)
{
    if (m_lineTooLong) {
        return fail(line);
    }
    switch (m_state) {
    case ExpectDescription:
        return parseDescription(line);
    case ExpectCommand:
        return parseCommand(line);
    case ExpectTimeUnit:
        return parseTimeUnit(line);
    case ExpectSnapshot:
        return parseSnapshot(line);
    case ExpectTime:
        return parseTime(line);
    case ExpectMemHeap:
        return parseMemHeap(line);
    case ExpectMemHeapExtra:
        return parseMemHeapExtra(line);
    case ExpectMemStacks:
        return parseMemStacks(line);
    case ExpectHeapTree:
        return parseHeapTree(line);
    case ExpectHeapTreeRoot:
        return parseHeapTreeRoot(line);
    }
    return fail(line);
}

bool ParseRun::parseDescription(QByteArrayView line)
{
    static constexpr QByteArrayView prefix("desc: ");
    if (!line.startsWith(prefix)) {
        return fail(line);
    }
    m_data->setDescription(QString::fromUtf8(line.sliced(prefix.size())));
    m_state = ExpectCommand;
    if (m_device && m_device->size() == 0) {
        m_expectedSnapshots = expectedSnapshots(m_data->description());
    }
    return true;
}

int ParseRun::expectedSnapshots(const QString &description)
{
    QRegExp maxSnapshots(QStringLiteral("--max-snapshots=([0-9]+)"), Qt::CaseSensitive, QRegExp::RegExp2);
    if (maxSnapshots.indexIn(description) == -1) {
        return 100;
    }
    bool ok = false;
    const int expected = maxSnapshots.cap(1).toInt(&ok);
    return ok ? expected : 0;
}

int ParseRun::snapshotProgress(quint32 number, int expectedSnapshots)
{
    // A maximum snapshot count of 0 gives no scale; the number alone is shown then.
    const quint32 divisor = expectedSnapshots > 0 ? quint32(expectedSnapshots) : 100u;
    return static_cast<int>(quint32(number * 100u) / divisor);
}

bool ParseRun::parseCommand(QByteArrayView line)
{
    static constexpr QByteArrayView prefix("cmd: ");
    if (!line.startsWith(prefix)) {
        return fail(line);
    }
    m_data->setCommand(QString::fromUtf8(line.sliced(prefix.size())));
    m_state = ExpectTimeUnit;
    return true;
}

bool ParseRun::parseTimeUnit(QByteArrayView line)
{
    static constexpr QByteArrayView prefix("time_unit: ");
    if (!line.startsWith(prefix)) {
        return fail(line);
    }
    m_data->setTimeUnit(QString::fromUtf8(line.sliced(prefix.size())));
    m_state = ExpectSnapshot;
    return true;
}

bool ParseRun::parseSnapshot(QByteArrayView line)
{
    if (line != separatorLine) {
        return fail(line);
    }
    line = readLine();
    if (m_reachedEnd) {
        m_endedEarly = true;
        return true;
    }
    if (m_lineTooLong) {
        return fail(line);
    }
    quint32 number = 0;
    const bool numberOk = numberAfter(line, QByteArrayView("snapshot="), &number, [](QByteArrayView digits, bool *ok) {
        return digits.toUInt(ok, 10);
    });
    if (!numberOk) {
        return fail(line);
    }
    line = readLine();
    if (m_reachedEnd) {
        m_endedEarly = true;
        return true;
    }
    if (m_lineTooLong || line != separatorLine) {
        return fail(line);
    }

    m_pendingSnapshot = std::make_unique<SnapshotItem>();
    m_pendingIsPeak = false;
    m_currentSnapshot = m_pendingSnapshot.get();
    m_currentSnapshot->setNumber(number);
    m_state = ExpectTime;

    if (m_parser && m_device && m_device->size() == 0) {
        Q_EMIT m_parser->progress(snapshotProgress(number, m_expectedSnapshots));
    }
    return true;
}

bool ParseRun::parseTime(QByteArrayView line)
{
    double time = 0.0;
    const bool ok = numberAfter(line, QByteArrayView("time="), &time, [](QByteArrayView digits, bool *ok) {
        return digits.toDouble(ok);
    });
    if (!ok) {
        return fail(line);
    }
    m_currentSnapshot->setTime(time);
    m_state = ExpectMemHeap;
    return true;
}

bool ParseRun::parseMemHeap(QByteArrayView line)
{
    quint64 bytes = 0;
    if (!unsignedAfter(line, QByteArrayView("mem_heap_B="), &bytes)) {
        return fail(line);
    }
    m_currentSnapshot->setMemHeap(bytes);
    m_state = ExpectMemHeapExtra;
    return true;
}

bool ParseRun::parseMemHeapExtra(QByteArrayView line)
{
    quint64 bytes = 0;
    if (!unsignedAfter(line, QByteArrayView("mem_heap_extra_B="), &bytes)) {
        return fail(line);
    }
    m_currentSnapshot->setMemHeapExtra(bytes);
    m_state = ExpectMemStacks;
    return true;
}

bool ParseRun::parseMemStacks(QByteArrayView line)
{
    quint64 bytes = 0;
    if (!unsignedAfter(line, QByteArrayView("mem_stacks_B="), &bytes)) {
        return fail(line);
    }
    m_currentSnapshot->setMemStacks(bytes);
    m_state = ExpectHeapTree;
    return true;
}

bool ParseRun::parseHeapTree(QByteArrayView line)
{
    static constexpr QByteArrayView prefix("heap_tree=");
    if (!line.startsWith(prefix)) {
        return fail(line);
    }
    const QByteArrayView word = line.sliced(prefix.size());
    if (word == QByteArrayView("empty")) {
        m_state = ExpectSnapshot;
        commitSnapshot();
    } else if (word == QByteArrayView("detailed")) {
        m_state = ExpectHeapTreeRoot;
    } else if (word == QByteArrayView("peak")) {
        // Marked once the snapshot is complete: a cut one must not stay the peak.
        m_pendingIsPeak = true;
        m_state = ExpectHeapTreeRoot;
    } else {
        return fail(line);
    }
    return true;
}

bool ParseRun::parseHeapTreeRoot(QByteArrayView line)
{
    // A malformed tree line has set the error text; the main loop reports it.
    const bool ok = parseNode(line, 0);
    m_state = ExpectSnapshot;
    if (!ok || m_endedEarly) {
        return ok;
    }
    if (m_allocatorFolded && m_currentSnapshot->heapTree()) {
        regroupRoot(m_currentSnapshot->heapTree());
    }
    commitSnapshot();
    return true;
}

bool ParseRun::isCustomAllocator(const QByteArray &label)
{
    const QByteArray function = labelFunction(label);
    for (const QByteArray &allocator : std::as_const(m_plainAllocators)) {
        if (function.contains(allocator)) {
            return true;
        }
    }
    if (m_wildcardAllocators.isEmpty()) {
        return false;
    }
    const QString text = QString::fromLatin1(function);
    for (QRegExp &allocator : m_wildcardAllocators) {
        if (allocator.indexIn(text) != -1) {
            return true;
        }
    }
    return false;
}

bool ParseRun::parseNode(QByteArrayView line, int depth)
{
    if (line.size() <= depth + 1 || line.at(depth) != 'n' || depth > MaxTreeDepth) {
        return fail(line);
    }
    const qsizetype colon = line.indexOf(':', depth);
    if (colon == -1) {
        return fail(line);
    }
    bool ok = false;
    const auto childCount = decimal<quint32>(line.sliced(depth + 1, colon - depth - 1), &ok);
    if (!ok) {
        return fail(line);
    }
    const qsizetype costStart = colon + 2;
    const qsizetype space = costStart < line.size() ? line.indexOf(' ', costStart) : -1;
    if (space == -1) {
        return fail(line);
    }
    const auto cost = decimal<quint64>(line.sliced(costStart, space - costStart), &ok);
    if (!ok) {
        return fail(line);
    }
    if (cost == 0 && childCount == 0) {
        return true;
    }

    const QByteArray *label = m_storage->pooledLabel(line.sliced(space + 1));
    TreeLeafItem *node = nullptr;
    // Children are collected per level and get an array of their exact number once all are read.
    qsizetype childLevel = depth + 1;
    const bool hasAllocators = !m_plainAllocators.isEmpty() || !m_wildcardAllocators.isEmpty();
    if (depth > 0 && hasAllocators && isCustomAllocator(*label)) {
        // The allocator itself is dropped; its callers hang below the root from now on.
        childLevel = 1;
        if (!m_allocatorFolded) {
            m_snapshotsBeforeFold = m_data->snapshots().size();
            m_allocatorFolded = true;
        }
    } else {
        node = m_storage->createNode(label, cost);
        if (depth == 0) {
            m_currentSnapshot->setHeapTree(node);
            for (auto &level : m_pendingChildren) {
                level.clear();
            }
        } else {
            m_pendingChildren[m_parentLevel].push_back(node);
        }
    }
    if (qsizetype(m_pendingChildren.size()) <= childLevel) {
        m_pendingChildren.resize(childLevel + 1);
    }

    const qsizetype previousLevel = m_parentLevel;
    m_parentLevel = childLevel;
    bool success = true;
    for (quint32 i = 0; i < childCount; ++i) {
        const QByteArrayView childLine = readLine();
        if (m_reachedEnd) {
            m_endedEarly = true;
            break;
        }
        if (m_lineTooLong) {
            success = fail(childLine);
            break;
        }
        if (childLine.isEmpty()) {
            break;
        }
        if (!parseNode(childLine, depth + 1)) {
            success = false;
            break;
        }
        if (m_endedEarly) {
            break;
        }
    }
    m_parentLevel = previousLevel;
    if (node) {
        std::vector<TreeLeafItem *> &children = m_pendingChildren[childLevel];
        m_storage->attachChildren(node, children.data(), quint32(children.size()));
        children.clear();
    }
    return success;
}

void ParseRun::regroupRoot(TreeLeafItem *root)
{
    QList<TreeLeafItem *> children = root->children();
    // Also the singular form massif writes for one place.
    QRegExp summaryPattern(QStringLiteral("in ([0-9]+) places?, (?:all )?below massif's threshold"), Qt::CaseSensitive, QRegExp::RegExp2);

    TreeLeafItem *target = nullptr;
    quint32 placesSum = 0;
    int numberPosition = -1;
    int numberLength = 0;
    int matchPosition = -1;
    int matchLength = 0;
    bool singular = false;
    for (qsizetype i = 0; i < children.size();) {
        TreeLeafItem *child = children.at(i);
        if (summaryPattern.indexIn(QString::fromLatin1(child->label())) == -1) {
            ++i;
            continue;
        }
        bool ok = false;
        const uint places = summaryPattern.cap(1).toUInt(&ok);
        placesSum += ok ? places : 0;
        if (!target) {
            target = child;
            numberPosition = summaryPattern.pos(1);
            numberLength = summaryPattern.cap(1).size();
            matchPosition = summaryPattern.pos(0);
            matchLength = summaryPattern.matchedLength();
            singular = !summaryPattern.cap(0).contains(QLatin1String("places"));
            ++i;
            continue;
        }
        target->setCost(target->cost() + child->cost());
        TreeLeafItem::destroy(child);
        children.removeAt(i);
    }
    if (target) {
        QByteArray label = target->label();
        if (singular && placesSum != 1) {
            label.replace(matchPosition, matchLength, QByteArray("in " + QByteArray::number(placesSum) + " places, all below massif's threshold"));
        } else {
            label.replace(numberPosition, numberLength, QByteArray::number(placesSum));
        }
        target->setLabel(label);
    }
    std::sort(children.begin(), children.end(), [](const TreeLeafItem *a, const TreeLeafItem *b) {
        return a->cost() > b->cost();
    });
    root->setChildren(children);
}
