/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "parser.h"
#include "filedata.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <KCompressionDevice>

#include <QBuffer>
#include <QDir>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace Massif;

namespace {

const QString fixturesDir = QStringLiteral(QUILLMAP_FIXTURES_DIR);

QString fixture(const QString &name)
{
    return fixturesDir + QLatin1Char('/') + name;
}

const QByteArray header = QByteArrayLiteral("desc: --detailed-freq=1\ncmd: ./prog\ntime_unit: i\n");

QByteArray snapshotRecord(int number, quint64 heap, quint64 stacks, const QByteArray &tree, const QByteArray &treeLines = QByteArray())
{
    return "#-----------\nsnapshot=" + QByteArray::number(number) + "\n#-----------\ntime=" + QByteArray::number(number * 10) +
        "\nmem_heap_B=" + QByteArray::number(heap) + "\nmem_heap_extra_B=8\nmem_stacks_B=" + QByteArray::number(stacks) + "\nheap_tree=" + tree + '\n' +
        treeLines;
}

// A device that cannot tell its size, like a decompressing device.
class SizelessDevice : public QIODevice
{
public:
    explicit SizelessDevice(const QByteArray &data) : m_data(data)
    {
        open(QIODevice::ReadOnly);
    }
    bool isSequential() const override
    {
        return true;
    }
    qint64 size() const override
    {
        return 0;
    }
    qint64 bytesAvailable() const override
    {
        return m_data.size() - m_offset + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 count = qMin(maxSize, m_data.size() - m_offset);
        memcpy(data, m_data.constData() + m_offset, count);
        m_offset += count;
        return count;
    }
    qint64 writeData(const char *, qint64) override
    {
        return -1;
    }

private:
    QByteArray m_data;
    qint64 m_offset = 0;
};

struct ParseResult
{
    std::unique_ptr<FileData> data;
    int errorLine = -1;
    QByteArray errorText;
};

ParseResult parseDevice(QIODevice *device, const QStringList &allocators = QStringList())
{
    Parser parser;
    ParseResult result;
    result.data.reset(parser.parse(device, allocators));
    result.errorLine = parser.errorLine();
    result.errorText = parser.errorLineText();
    return result;
}

ParseResult parseText(const QByteArray &text, const QStringList &allocators = QStringList())
{
    QBuffer buffer;
    buffer.setData(text);
    buffer.open(QIODevice::ReadOnly);
    return parseDevice(&buffer, allocators);
}

ParseResult parseFixture(const QString &name, const QStringList &allocators = QStringList())
{
    QFile file(fixture(name));
    if (!file.open(QIODevice::ReadOnly)) {
        qFatal("cannot open fixture %s", qPrintable(name));
    }
    return parseDevice(&file, allocators);
}

// Labels and costs of a node's children, "cost label" each, for compact comparisons.
QStringList childSummary(const TreeLeafItem *node)
{
    QStringList summary;
    const auto children = node->children();
    for (const TreeLeafItem *child : children) {
        summary << QString::number(child->cost()) + QLatin1Char(' ') + QString::fromLatin1(child->label());
    }
    return summary;
}

// An indented dump of a whole file, to compare two parses of the same data.
void dumpTree(const TreeLeafItem *node, int depth, QByteArray *out)
{
    *out += QByteArray(depth, ' ') + QByteArray::number(node->cost()) + ' ' + node->label() + '\n';
    const auto children = node->children();
    for (const TreeLeafItem *child : children) {
        dumpTree(child, depth + 1, out);
    }
}

QByteArray dump(const FileData *data)
{
    QByteArray out = data->description().toUtf8() + '\n' + data->command().toUtf8() + '\n' + data->timeUnit().toUtf8() + '\n';
    const auto snapshots = data->snapshots();
    for (const SnapshotItem *snapshot : snapshots) {
        out += QByteArray::number(snapshot->number()) + ' ' + QByteArray::number(snapshot->time()) + ' ' + QByteArray::number(snapshot->memHeap()) + ' ' +
            QByteArray::number(snapshot->memHeapExtra()) + ' ' + QByteArray::number(snapshot->memStacks()) + (snapshot == data->peak() ? " peak\n" : "\n");
        if (snapshot->heapTree()) {
            dumpTree(snapshot->heapTree(), 1, &out);
        }
    }
    return out;
}

void verifyParentLinks(const TreeLeafItem *node)
{
    const auto children = node->children();
    for (const TreeLeafItem *child : children) {
        QCOMPARE(child->parent(), node);
        verifyParentLinks(child);
    }
}

void collectLabels(const TreeLeafItem *node, QHash<QByteArray, const char *> *buffers, bool *shared)
{
    const QByteArray label = node->label();
    const auto known = buffers->constFind(label);
    if (known == buffers->constEnd()) {
        buffers->insert(label, label.constData());
    } else if (*known != label.constData()) {
        *shared = false;
    }
    const auto children = node->children();
    for (const TreeLeafItem *child : children) {
        collectLabels(child, buffers, shared);
    }
}

} // namespace

class ParserTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void realFiles_data();
    void realFiles();
    void headerAndSnapshots();
    void invalidLines_data();
    void invalidLines();
    void malformedFixtures_data();
    void malformedFixtures();
    void lineEndings();
    void longLines();
    void emptyAndTruncatedInputs();
    void truncatedInputs_data();
    void truncatedInputs();
    void truncatedRealFile();
    void treeShapes();
    void peakChoice_data();
    void peakChoice();
    void progressWithoutSize();
    void progressByPosition();
    void stopFlag();
    void foldPlainAllocators();
    void foldWildcardAllocators();
    void foldRegroupsLaterSnapshots();
    void foldEverythingWithEmptyAllocator();
    void compressedFiles_data();
    void compressedFiles();
    void dataModel();
};

void ParserTest::realFiles_data()
{
    QTest::addColumn<QString>("name");
    const QStringList names = QDir(fixturesDir).entryList({QStringLiteral("*.massif")}, QDir::Files);
    QVERIFY(names.size() >= 10);
    for (const QString &name : names) {
        QTest::newRow(qPrintable(name)) << name;
    }
}

void ParserTest::realFiles()
{
    QFETCH(QString, name);
    const ParseResult result = parseFixture(name);
    QVERIFY2(result.data, qPrintable(QStringLiteral("line %1: %2").arg(result.errorLine).arg(QString::fromLatin1(result.errorText))));
    QCOMPARE(result.errorLine, -1);
    const auto snapshots = result.data->snapshots();
    QVERIFY(!snapshots.isEmpty());
    QVERIFY(snapshots.contains(result.data->peak()));

    QHash<QByteArray, const char *> buffers;
    bool shared = true;
    for (const SnapshotItem *snapshot : snapshots) {
        if (const TreeLeafItem *root = snapshot->heapTree()) {
            QCOMPARE(root->parent(), nullptr);
            verifyParentLinks(root);
            collectLabels(root, &buffers, &shared);
        }
    }
    QVERIFY2(shared, "equal labels must share one buffer");
}

void ParserTest::headerAndSnapshots()
{
    // Values read off tests/fixtures/simple.massif by hand.
    const ParseResult result = parseFixture(QStringLiteral("simple.massif"));
    QVERIFY(result.data);
    const FileData *data = result.data.get();
    QCOMPARE(data->description(), QStringLiteral("--massif-out-file=simple.massif"));
    QCOMPARE(data->command(), QStringLiteral("./simple"));
    QCOMPARE(data->timeUnit(), QStringLiteral("i"));

    QFile file(fixture(QStringLiteral("simple.massif")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QCOMPARE(data->snapshots().size(), text.count("snapshot="));
    QCOMPARE(data->snapshots().at(1)->time(), 135227.0);
    QCOMPARE(data->snapshots().at(1)->memHeap(), quint64(8000));
    QCOMPARE(data->snapshots().at(1)->memHeapExtra(), quint64(8));
    QCOMPARE(data->snapshots().at(1)->memStacks(), quint64(0));
    QCOMPARE(data->snapshots().at(1)->heapTree(), nullptr);

    // The peak is the snapshot marked as such: massif marks its maximum.
    const qsizetype peakMark = text.indexOf("heap_tree=peak");
    QVERIFY(peakMark > 0);
    const qsizetype numberAt = text.lastIndexOf("snapshot=", peakMark) + 9;
    const quint32 peakNumber = text.mid(numberAt, text.indexOf('\n', numberAt) - numberAt).toUInt();
    QCOMPARE(data->peak()->number(), peakNumber);
    QVERIFY(data->peak()->heapTree());
    QCOMPARE(data->peak()->heapTree()->cost(), data->peak()->memHeap());
}

void ParserTest::invalidLines_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("line");
    QTest::addColumn<QByteArray>("lineText");

    const QByteArray snapshotStart = "#-----------\nsnapshot=0\n#-----------\n";
    QTest::newRow("desc without space") << QByteArray("desc:\ncmd: x\n") << 1 << QByteArray("desc:");
    QTest::newRow("not massif") << QByteArray("hello world\n") << 1 << QByteArray("hello world");
    QTest::newRow("cmd") << QByteArray("desc: \ncommand: x\n") << 2 << QByteArray("command: x");
    QTest::newRow("time unit") << QByteArray("desc: \ncmd: x\ntime-unit: i\n") << 3 << QByteArray("time-unit: i");
    QTest::newRow("blank line after header") << header + "\n" << 4 << QByteArray();
    QTest::newRow("ten dashes") << header + "#----------\n" << 4 << QByteArray("#----------");
    QTest::newRow("separator with trailing space") << header + "#----------- \n" << 4 << QByteArray("#----------- ");
    QTest::newRow("negative snapshot number") << header + "#-----------\nsnapshot=-1\n" << 5 << QByteArray("snapshot=-1");
    QTest::newRow("empty snapshot number") << header + "#-----------\nsnapshot=\n" << 5 << QByteArray("snapshot=");
    QTest::newRow("snapshot number beyond 32 bits") << header + "#-----------\nsnapshot=4294967296\n" << 5 << QByteArray("snapshot=4294967296");
    QTest::newRow("second separator") << header + "#-----------\nsnapshot=0\n#---\n" << 6 << QByteArray("#---");
    QTest::newRow("time") << header + snapshotStart + "time=abc\n" << 7 << QByteArray("time=abc");
    QTest::newRow("heap") << header + snapshotStart + "time=1\nmem_heap_B=12x\n" << 8 << QByteArray("mem_heap_B=12x");
    QTest::newRow("heap beyond 64 bits") << header + snapshotStart + "time=1\nmem_heap_B=18446744073709551616\n"
                                         << 8 << QByteArray("mem_heap_B=18446744073709551616");
    QTest::newRow("negative heap") << header + snapshotStart + "time=1\nmem_heap_B=-5\n" << 8 << QByteArray("mem_heap_B=-5");
    QTest::newRow("extra") << header + snapshotStart + "time=1\nmem_heap_B=1\nmem_heap_extra=1\n" << 9 << QByteArray("mem_heap_extra=1");
    QTest::newRow("stacks") << header + snapshotStart + "time=1\nmem_heap_B=1\nmem_heap_extra_B=1\nmem_stacks_B=\n" << 10 << QByteArray("mem_stacks_B=");
    const QByteArray counts = snapshotStart + "time=1\nmem_heap_B=1\nmem_heap_extra_B=1\nmem_stacks_B=0\n";
    QTest::newRow("tree word case") << header + counts + "heap_tree=Peak\n" << 11 << QByteArray("heap_tree=Peak");
    QTest::newRow("tree word trailing space") << header + counts + "heap_tree=empty \n" << 11 << QByteArray("heap_tree=empty ");
    QTest::newRow("root without n") << header + counts + "heap_tree=detailed\nx0: 0 root\n" << 12 << QByteArray("x0: 0 root");
    QTest::newRow("root without colon") << header + counts + "heap_tree=detailed\nn0 5 root\n" << 12 << QByteArray("n0 5 root");
    QTest::newRow("root without label") << header + counts + "heap_tree=detailed\nn0: 5\n" << 12 << QByteArray("n0: 5");
    QTest::newRow("two spaces after colon") << header + counts + "heap_tree=detailed\nn0:  5 root\n" << 12 << QByteArray("n0:  5 root");
    QTest::newRow("children beyond 32 bits") << header + counts + "heap_tree=detailed\nn4294967296: 5 root\n" << 12 << QByteArray("n4294967296: 5 root");
    QTest::newRow("deep line, wrong indent") << header + counts + "heap_tree=detailed\nn1: 5 root\n n1: 5 a\n n0: 5 b\n" << 14 << QByteArray(" n0: 5 b");
    QTest::newRow("deep line, bad cost") << header + counts + "heap_tree=detailed\nn1: 5 root\n n1: 5 a\n  n0: 5q b\n" << 14 << QByteArray("  n0: 5q b");
    QTest::newRow("separator read as a child") << header + counts + "heap_tree=detailed\nn2: 5 root\n n0: 5 a\n" + snapshotStart << 14
                                               << QByteArray("#-----------");
    QTest::newRow("excess child left to main loop") << header + counts + "heap_tree=detailed\nn1: 5 root\n n0: 5 a\n n0: 1 b\n" << 14 << QByteArray(" n0: 1 b");
    QTest::newRow("crlf error text") << header + "#-----------\r\nsnapshot=x\r\n" << 5 << QByteArray("snapshot=x");
}

void ParserTest::invalidLines()
{
    QFETCH(QByteArray, text);
    QFETCH(int, line);
    QFETCH(QByteArray, lineText);

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^invalid line %1 ").arg(line)));
    const ParseResult result = parseText(text);
    QVERIFY(!result.data);
    QCOMPARE(result.errorLine, line);
    QCOMPARE(result.errorText, lineText);
}

void ParserTest::malformedFixtures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("line");

    QTest::newRow("desc") << QStringLiteral("bad-desc.massif") << 1;
    QTest::newRow("cmd") << QStringLiteral("bad-cmd.massif") << 2;
    QTest::newRow("time unit") << QStringLiteral("bad-timeunit.massif") << 3;
    QTest::newRow("separator") << QStringLiteral("bad-separator.massif") << 4;
    QTest::newRow("header blank line") << QStringLiteral("header-blank-line.massif") << 4;
    QTest::newRow("snapshot number") << QStringLiteral("bad-snapshot-number.massif") << 5;
    QTest::newRow("empty snapshot number") << QStringLiteral("empty-snapshot-number.massif") << 5;
    QTest::newRow("not massif") << QStringLiteral("not-massif.txt") << 1;
    QTest::newRow("time") << QStringLiteral("bad-time.massif") << 7;
    QTest::newRow("heap") << QStringLiteral("bad-mem-heap.massif") << 8;
    QTest::newRow("tree word of the second snapshot") << QStringLiteral("bad-heap-tree-word.massif") << 19;
    QTest::newRow("tree word trailing space") << QStringLiteral("heap-tree-trailing-space.massif") << 11;
    // Depth 2, but its "n" stands at index 1.
    QTest::newRow("node indent") << QStringLiteral("bad-node-indent.massif") << 14;
    QTest::newRow("node without label") << QStringLiteral("node-without-label.massif") << 14;
    QTest::newRow("node with two spaces") << QStringLiteral("node-two-spaces.massif") << 13;
    // The root announces two children; the next separator is read as the second.
    QTest::newRow("too many children") << QStringLiteral("too-many-children.massif") << 14;
    // The root announces one child; the second child line is no separator.
    QTest::newRow("too few children") << QStringLiteral("too-few-children.massif") << 14;
    // Line 22 holds 70,009 bytes and counts once.
    QTest::newRow("error after a long line") << QStringLiteral("long-line-then-error.massif") << 28;
}

void ParserTest::malformedFixtures()
{
    QFETCH(QString, name);
    QFETCH(int, line);
    QFile file(fixture(QStringLiteral("malformed/") + name));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = file.readAll().split('\n');

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^invalid line %1 ").arg(line)));
    const ParseResult result = parseFixture(QStringLiteral("malformed/") + name);
    QVERIFY(!result.data);
    QCOMPARE(result.errorLine, line);
    QCOMPARE(result.errorText, lines.at(line - 1));
}

void ParserTest::lineEndings()
{
    // The CRLF copy of a real file gives exactly the same data.
    const ParseResult crlf = parseFixture(QStringLiteral("malformed/crlf.massif"));
    QVERIFY(crlf.data);
    QFile file(fixture(QStringLiteral("malformed/crlf.massif")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY(text.contains("\r\n"));
    const ParseResult lf = parseText(QByteArray(text).replace("\r\n", "\n"));
    QVERIFY(lf.data);
    QCOMPARE(dump(crlf.data.get()), dump(lf.data.get()));
    QVERIFY(!dump(crlf.data.get()).contains('\r'));

    // A last line without line feed keeps all its bytes.
    const ParseResult noFinal = parseText(header + snapshotRecord(0, 5, 0, "detailed", "n0: 5 only root"));
    QVERIFY(noFinal.data);
    QCOMPARE(noFinal.data->snapshots().at(0)->heapTree()->label(), QByteArray("only root"));
    const ParseResult emptyLast = parseText(header + snapshotRecord(0, 5, 0, "empty").chopped(1));
    QVERIFY(emptyLast.data);
    QCOMPARE(emptyLast.data->snapshots().size(), 1);

    const ParseResult fixtureNoFinal = parseFixture(QStringLiteral("malformed/no-final-newline.massif"));
    QVERIFY(fixtureNoFinal.data);
}

void ParserTest::longLines()
{
    const QByteArray label = "0x1: " + QByteArray(70000 - 12, 'f');
    const QByteArray tree = "n1: 9 root\n n0: 9 " + label + "\n";
    const ParseResult result = parseText(header + snapshotRecord(0, 9, 0, "detailed", tree) + snapshotRecord(1, 1, 0, "empty"));
    QVERIFY(result.data);
    QCOMPARE(result.data->snapshots().size(), 2);
    QCOMPARE(result.data->snapshots().at(0)->heapTree()->children().at(0)->label(), label);

    // Counted once: the error after it is reported with its own line number.
    QByteArray broken = header + snapshotRecord(0, 9, 0, "detailed", tree) + "#-----------\nsnapshot=1\n#-----------\ntime=x\n";
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^invalid line 17 ")));
    const ParseResult failed = parseText(broken);
    QCOMPARE(failed.errorLine, 17);
    QCOMPARE(failed.errorText, QByteArray("time=x"));

    // A malformed line longer than the buffer is reported whole.
    const QByteArray longBad = "x" + QByteArray(70000, 'y');
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^invalid line 4 ")));
    const ParseResult longFailed = parseText(header + longBad + "\n");
    QCOMPARE(longFailed.errorLine, 4);
    QCOMPARE(longFailed.errorText, longBad);

    const ParseResult fixtureLong = parseFixture(QStringLiteral("malformed/long-line.massif"));
    QVERIFY(fixtureLong.data);
}

void ParserTest::emptyAndTruncatedInputs()
{
    const ParseResult empty = parseText(QByteArray());
    QVERIFY(empty.data);
    QVERIFY(empty.data->snapshots().isEmpty());
    QCOMPARE(empty.data->peak(), nullptr);

    const ParseResult headerOnly = parseText(header);
    QVERIFY(headerOnly.data);
    QVERIFY(headerOnly.data->snapshots().isEmpty());
    QCOMPARE(headerOnly.data->command(), QStringLiteral("./prog"));

    QVERIFY(headerOnly.data->warning().isEmpty());

    // The cut fixture stops after the peak's root line and two more (snapshot
    // 41 of simple.massif, its tree from line 376 to the file's last, 378): the
    // 41 snapshots before it remain, and the peak is chosen among them.
    const ParseResult fixtureCut = parseFixture(QStringLiteral("malformed/truncated-in-tree.massif"));
    QVERIFY(fixtureCut.data);
    QCOMPARE(fixtureCut.data->snapshots().size(), 41);
    QCOMPARE(fixtureCut.data->snapshots().last()->number(), 40u);
    QVERIFY(fixtureCut.data->snapshots().contains(fixtureCut.data->peak()));
    QVERIFY2(fixtureCut.data->warning().contains(QLatin1String("line 378,")), qPrintable(fixtureCut.data->warning()));

    // A blank line where a child is expected ends that node's children.
    const ParseResult blank = parseText(header + snapshotRecord(0, 30, 0, "detailed", "n2: 30 root\n n0: 10 a\n\n") + snapshotRecord(1, 2, 0, "empty"));
    QVERIFY(blank.data);
    QCOMPARE(blank.data->snapshots().size(), 2);
}

void ParserTest::truncatedInputs_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("snapshots");
    QTest::addColumn<int>("peakIndex");
    // The line named in the warning; 0 for none.
    QTest::addColumn<int>("warningLine");

    // The first record takes lines 4 to 12 (its tree one line), the second starts on line 13.
    const QByteArray leaf = "n0: 5 x\n";
    const QByteArray one = header + snapshotRecord(0, 5, 0, "detailed", leaf);
    const QByteArray two = one + snapshotRecord(1, 9, 0, "empty");
    QTest::newRow("complete") << two << 2 << 0 << 0;
    QTest::newRow("complete, no final line feed") << two.chopped(1) << 2 << 0 << 0;
    QTest::newRow("blank line ends the last tree") << header + snapshotRecord(0, 5, 0, "detailed", "n2: 5 root\n n0: 5 a\n\n") << 1 << 0 << 0;
    QTest::newRow("after a separator") << one + "#-----------\n" << 1 << 0 << 13;
    QTest::newRow("after the snapshot number") << one + "#-----------\nsnapshot=1\n" << 1 << 0 << 14;
    QTest::newRow("after the second separator") << one + "#-----------\nsnapshot=1\n#-----------\n" << 1 << 0 << 15;
    QTest::newRow("inside the counts") << one + "#-----------\nsnapshot=1\n#-----------\ntime=3.5\nmem_heap_B=40\n" << 1 << 0 << 17;
    QTest::newRow("cut separator") << one + "#-----" << 1 << 0 << 13;
    QTest::newRow("cut number") << one + "#-----------\nsnapshot=1\n#-----------\ntime=3.5\nmem_heap_B=4" << 1 << 0 << 17;
    QTest::newRow("cut word") << one + "#-----------\nsnapshot=1\n#-----------\ntime=3.5\nmem_heap_B=4\nmem_heap_extra_B=0\nmem_stacks_B=0\nheap_tree=pe" << 1
                              << 0 << 20;
    QTest::newRow("tree missing") << one + snapshotRecord(1, 90, 0, "detailed") << 1 << 0 << 20;
    // The cut snapshot was marked and is the greatest: neither counts any more.
    QTest::newRow("children missing") << one + snapshotRecord(1, 90, 0, "peak", "n3: 90 root\n n2: 20 a\n  n0: 15 b\n") << 1 << 0 << 23;
    QTest::newRow("cut tree line") << one + snapshotRecord(1, 90, 0, "peak", "n2: 90 root\n n0: 20 a\n n0: 7") << 1 << 0 << 23;
    QTest::newRow("first snapshot cut") << header + "#-----------\nsnapshot=0\n" << 0 << -1 << 5;
}

void ParserTest::truncatedInputs()
{
    QFETCH(QByteArray, text);
    QFETCH(int, snapshots);
    QFETCH(int, peakIndex);
    QFETCH(int, warningLine);

    // Sequential devices, such as the decompressing ones, end the same way.
    SizelessDevice sequential(text);
    const ParseResult results[] = {parseText(text), parseDevice(&sequential)};
    for (const ParseResult &result : results) {
        QVERIFY2(result.data, result.errorText.constData());
        QCOMPARE(result.data->snapshots().size(), snapshots);
        QCOMPARE(result.data->snapshots().indexOf(result.data->peak()), peakIndex);
        if (warningLine == 0) {
            QCOMPARE(result.data->warning(), QString());
        } else {
            QCOMPARE(result.data->warning(),
                     QStringLiteral(
                         "The file ends early, in line %1, inside a snapshot record. That snapshot is left out; the complete snapshots before it are shown.")
                         .arg(warningLine));
        }
    }
}

void ParserTest::truncatedRealFile()
{
    // Cut a real file everywhere after its header: what remains is exactly the
    // file up to the last snapshot record that the cut leaves whole.
    QFile file(fixture(QStringLiteral("simple-detailed.massif")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QList<qsizetype> recordStarts;
    for (qsizetype at = text.indexOf("#-----------\nsnapshot="); at != -1; at = text.indexOf("#-----------\nsnapshot=", at + 1)) {
        recordStarts << at;
    }
    recordStarts << text.size();
    QVERIFY(recordStarts.size() > 10);

    int checked = 0;
    for (qsizetype cut = recordStarts.first(); cut < text.size(); cut += 53) {
        // The record that the cut falls in, and the start of its last line.
        const auto next = std::upper_bound(recordStarts.cbegin(), recordStarts.cend(), cut);
        const qsizetype recordStart = *(next - 1);
        const qsizetype recordEnd = *next;
        const qsizetype lastLineStart = text.lastIndexOf('\n', recordEnd - 2) + 1;
        // A cut inside the last line of a whole tree cannot be told from its end.
        if (cut > lastLineStart && cut < recordEnd) {
            continue;
        }
        const ParseResult whole = parseText(text.left(recordStart));
        const ParseResult cutResult = parseText(text.left(cut));
        QVERIFY2(cutResult.data, qPrintable(QString::number(cut)));
        QCOMPARE(dump(cutResult.data.get()), dump(whole.data.get()));
        QCOMPARE(cutResult.data->warning().isEmpty(), cut == recordStart);
        ++checked;
    }
    QVERIFY(checked > 100);
}

void ParserTest::treeShapes()
{
    const QByteArray tree = "n3: 30 root\n"
                            " n2: 20 0x1: a (a.c:1)\n"
                            "  n0: 12 0x2: b (b.c:2)\n"
                            "  n0: 8 0x3: c (c.c:3)\n"
                            " n0: 0 zero leaf\n"
                            " n0: 10 0x1: a (a.c:1)\n";
    const ParseResult result = parseText(header + snapshotRecord(0, 30, 0, "detailed", tree) + snapshotRecord(1, 0, 0, "detailed", "n0: 0 empty root\n"));
    QVERIFY(result.data);
    const TreeLeafItem *root = result.data->snapshots().at(0)->heapTree();
    QCOMPARE(root->cost(), quint64(30));
    QCOMPARE(root->label(), QByteArray("root"));
    // The zero leaf counts as a child line but makes no node.
    QCOMPARE(childSummary(root), (QStringList {QStringLiteral("20 0x1: a (a.c:1)"), QStringLiteral("10 0x1: a (a.c:1)")}));
    QCOMPARE(childSummary(root->children().at(0)), (QStringList {QStringLiteral("12 0x2: b (b.c:2)"), QStringLiteral("8 0x3: c (c.c:3)")}));
    QCOMPARE(root->children().at(0)->label().constData(), root->children().at(1)->label().constData());
    // A root of cost 0 without children leaves the snapshot without a tree.
    QCOMPARE(result.data->snapshots().at(1)->heapTree(), nullptr);
}

void ParserTest::peakChoice_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("peakIndex");

    const QByteArray leaf = "n0: 1 x\n";
    QTest::newRow("greatest with tree, earliest on ties")
        << header + snapshotRecord(0, 5, 0, "detailed", leaf) + snapshotRecord(1, 9, 0, "detailed", leaf) + snapshotRecord(2, 9, 0, "detailed", leaf) << 1;
    QTest::newRow("marked peak kept on ties") << header + snapshotRecord(0, 5, 0, "detailed", leaf) + snapshotRecord(1, 9, 0, "detailed", leaf) +
            snapshotRecord(2, 9, 0, "peak", leaf)
                                              << 2;
    QTest::newRow("marked peak replaced by greater") << header + snapshotRecord(0, 5, 0, "peak", leaf) + snapshotRecord(1, 9, 0, "detailed", leaf) +
            snapshotRecord(2, 7, 0, "detailed", leaf) << 1;
    QTest::newRow("snapshots without trees do not compete") << header + snapshotRecord(0, 5, 0, "detailed", leaf) + snapshotRecord(1, 90, 0, "empty") << 0;
    QTest::newRow("no trees: greatest of all") << header + snapshotRecord(0, 5, 0, "empty") + snapshotRecord(1, 9, 0, "empty") +
            snapshotRecord(2, 9, 0, "empty") << 1;
    QTest::newRow("stacks count, extra heap does not") << header + snapshotRecord(0, 5, 5, "empty") + snapshotRecord(1, 9, 0, "empty") << 0;
    QTest::newRow("zero-cost peak") << header + snapshotRecord(0, 0, 0, "empty") + snapshotRecord(1, 0, 0, "empty") << 0;
}

void ParserTest::peakChoice()
{
    QFETCH(QByteArray, text);
    QFETCH(int, peakIndex);
    const ParseResult result = parseText(text);
    QVERIFY(result.data);
    QCOMPARE(result.data->snapshots().indexOf(result.data->peak()), peakIndex);
}

void ParserTest::progressWithoutSize()
{
    const auto progressOf = [](const QByteArray &description, const QList<int> &numbers) {
        QByteArray text = "desc: " + description + "\ncmd: x\ntime_unit: i\n";
        for (int number : numbers) {
            text += snapshotRecord(number, 1, 0, "empty");
        }
        SizelessDevice buffer(text);
        Parser parser;
        QSignalSpy spy(&parser, &Parser::progress);
        std::unique_ptr<FileData> data(parser.parse(&buffer));
        QList<int> values;
        for (const auto &arguments : std::as_const(spy)) {
            values << arguments.at(0).toInt();
        }
        return values;
    };

    QCOMPARE(progressOf("--max-snapshots=50 --depth=3", {25}), QList<int> {50});
    QCOMPARE(progressOf("--depth=3", {25, 150}), (QList<int> {25, 150}));
    // A maximum of 0, or one beyond 32 bits, gives no scale: the number itself is shown.
    QCOMPARE(progressOf("--max-snapshots=0", {7}), QList<int> {7});
    QCOMPARE(progressOf("--max-snapshots=99999999999", {7}), QList<int> {7});
}

void ParserTest::progressByPosition()
{
    const QByteArray text = header + snapshotRecord(0, 1, 0, "empty");
    QBuffer buffer;
    buffer.setData(text);
    buffer.open(QIODevice::ReadOnly);
    Parser parser;
    QSignalSpy spy(&parser, &Parser::progress);
    std::unique_ptr<FileData> data(parser.parse(&buffer));
    QVERIFY(data);
    // One value per main-loop line, from the position before it.
    QCOMPARE(spy.size(), 3 + 1 + 5);
    QCOMPARE(spy.first().at(0).toInt(), 0);
    int previous = 0;
    for (const auto &arguments : std::as_const(spy)) {
        QVERIFY(arguments.at(0).toInt() >= previous);
        QVERIFY(arguments.at(0).toInt() < 100);
        previous = arguments.at(0).toInt();
    }
}

void ParserTest::stopFlag()
{
    QAtomicInt stop(1);
    QBuffer buffer;
    buffer.setData(header);
    buffer.open(QIODevice::ReadOnly);
    Parser parser;
    QSignalSpy spy(&parser, &Parser::progress);
    QVERIFY(!parser.parse(&buffer, {}, &stop));
    QCOMPARE(parser.errorLine(), -1);
    QCOMPARE(buffer.pos(), 0);
    QCOMPARE(spy.size(), 0);

    // The end of the device is tested first: empty input still succeeds.
    QBuffer empty;
    empty.open(QIODevice::ReadOnly);
    std::unique_ptr<FileData> data(parser.parse(&empty, {}, &stop));
    QVERIFY(data);
}

void ParserTest::foldPlainAllocators()
{
    // Expected root of the peak worked out by hand from custom-alloc.massif: the
    // callers of my_pool_alloc (and of my_pool_alloc_aligned, whose name contains
    // it) and of xmalloc move to the root; the three summaries merge (5 + 4 + 6).
    const ParseResult result = parseFixture(QStringLiteral("custom-alloc.massif"), {QStringLiteral("my_pool_alloc"), QStringLiteral("xmalloc")});
    QVERIFY(result.data);
    const TreeLeafItem *root = result.data->peak()->heapTree();
    QCOMPARE(root->cost(), quint64(81184));
    QCOMPARE(childSummary(root),
             (QStringList {
                 QStringLiteral("20128 0x1092AC: build_index (custom_alloc.c:39)"),
                 QStringLiteral("20000 0x109354: big_direct (custom_alloc.c:49)"),
                 QStringLiteral("16320 0x1092E9: cache_pages (custom_alloc.c:44)"),
                 QStringLiteral("12016 0x109274: load_config (custom_alloc.c:38)"),
                 QStringLiteral("9000 0x109330: read_names (custom_alloc.c:48)"),
                 QStringLiteral("3000 0x109286: load_config (custom_alloc.c:38)"),
                 QStringLiteral("720 in 15 places, all below massif's threshold (1.00%)"),
             }));
    for (const TreeLeafItem *child : root->children()) {
        QCOMPARE(child->parent(), root);
    }
    QCOMPARE(childSummary(root->children().at(2)), QStringList {QStringLiteral("16320 0x1094F8: main (custom_alloc.c:75)")});
    QCOMPARE(root->children().at(2)->children().at(0)->parent(), root->children().at(2));
}

void ParserTest::foldWildcardAllocators()
{
    const ParseResult result = parseFixture(QStringLiteral("custom-alloc.massif"), {QStringLiteral("*pool*")});
    QVERIFY(result.data);
    const TreeLeafItem *root = result.data->peak()->heapTree();
    QCOMPARE(childSummary(root),
             (QStringList {
                 QStringLiteral("20128 0x1092AC: build_index (custom_alloc.c:39)"),
                 QStringLiteral("20000 0x109354: big_direct (custom_alloc.c:49)"),
                 QStringLiteral("16320 0x1092E9: cache_pages (custom_alloc.c:44)"),
                 QStringLiteral("12144 0x109250: xmalloc (custom_alloc.c:32)"),
                 QStringLiteral("12016 0x109274: load_config (custom_alloc.c:38)"),
                 QStringLiteral("576 in 11 places, all below massif's threshold (1.00%)"),
             }));
    // Wildcards match anywhere in the function, case-sensitively.
    const ParseResult upper = parseFixture(QStringLiteral("custom-alloc.massif"), {QStringLiteral("*POOL*")});
    QCOMPARE(dump(upper.data.get()), dump(parseFixture(QStringLiteral("custom-alloc.massif")).data.get()));
}

void ParserTest::foldRegroupsLaterSnapshots()
{
    const QByteArray before = "n2: 30 root\n n0: 10 0x1: small (a.c:1)\n n0: 20 0x2: big (a.c:2)\n";
    const QByteArray folding = "n2: 30 root\n"
                               " n2: 25 0x3: alloc_wrapper (w.c:1)\n"
                               "  n0: 5 0x4: caller_one (c.c:1)\n"
                               "  n0: 20 0x5: caller_two (c.c:2)\n"
                               " n0: 5 in 3 places, all below massif's threshold (1.00%)\n";
    // Massif writes one place in the singular; it merges all the same.
    const QByteArray after = "n4: 30 root\n"
                             " n0: 4 in 1 place, below massif's threshold (1.00%)\n"
                             " n0: 20 0x2: big (a.c:2)\n"
                             " n0: 6 in 4 places, all below massif's threshold (1.00%)\n"
                             " n0: 2 in 2 places, all below massif's threshold (1.00%)\n";
    const QByteArray text = header + snapshotRecord(0, 30, 0, "detailed", before) + snapshotRecord(1, 30, 0, "detailed", folding) +
        snapshotRecord(2, 30, 0, "detailed", "n0: 0 nothing\n") + snapshotRecord(3, 30, 0, "detailed", after);
    const ParseResult result = parseText(text, {QStringLiteral("alloc_wrapper")});
    QVERIFY(result.data);
    const auto snapshots = result.data->snapshots();
    // Before the first fold nothing is regrouped.
    QCOMPARE(childSummary(snapshots.at(0)->heapTree()), (QStringList {QStringLiteral("10 0x1: small (a.c:1)"), QStringLiteral("20 0x2: big (a.c:2)")}));
    QCOMPARE(childSummary(snapshots.at(1)->heapTree()),
             (QStringList {QStringLiteral("20 0x5: caller_two (c.c:2)"),
                           QStringLiteral("5 0x4: caller_one (c.c:1)"),
                           QStringLiteral("5 in 3 places, all below massif's threshold (1.00%)")}));
    // A later snapshot without a tree is left alone; later roots are regrouped too.
    QCOMPARE(snapshots.at(2)->heapTree(), nullptr);
    QCOMPARE(childSummary(snapshots.at(3)->heapTree()),
             (QStringList {QStringLiteral("20 0x2: big (a.c:2)"), QStringLiteral("12 in 7 places, all below massif's threshold (1.00%)")}));
}

void ParserTest::foldEverythingWithEmptyAllocator()
{
    const QByteArray tree = "n1: 30 root\n n1: 30 0x1: a (a.c:1)\n  n1: 30 0x2: b (b.c:1)\n   n0: 30 0x3: c (c.c:1)\n";
    for (const QString &allocator : {QString(), QStringLiteral("*"), QStringLiteral("**")}) {
        const ParseResult result = parseText(header + snapshotRecord(0, 30, 0, "detailed", tree), {allocator});
        QVERIFY(result.data);
        const TreeLeafItem *root = result.data->snapshots().at(0)->heapTree();
        QCOMPARE(root->cost(), quint64(30));
        QVERIFY(root->children().isEmpty());
    }
    // An outer star changes nothing of what matches: only b is folded, c moves up.
    const ParseResult inner = parseText(header + snapshotRecord(0, 30, 0, "detailed", tree), {QStringLiteral("**b")});
    QStringList rootChildren = childSummary(inner.data->snapshots().at(0)->heapTree());
    rootChildren.sort();
    QCOMPARE(rootChildren, (QStringList {QStringLiteral("30 0x1: a (a.c:1)"), QStringLiteral("30 0x3: c (c.c:1)")}));
}

void ParserTest::compressedFiles_data()
{
    QTest::addColumn<QString>("name");
    for (const char *base : {"simple.massif", "templates.massif"}) {
        for (const char *suffix : {".gz", ".bz2", ".xz", ".zst"}) {
            const QString name = QLatin1String(base) + QLatin1String(suffix);
            QTest::newRow(qPrintable(name)) << name;
        }
    }
}

void ParserTest::compressedFiles()
{
    QFETCH(QString, name);
    KCompressionDevice device(fixture(name));
    QVERIFY(device.open(QIODevice::ReadOnly));
    const ParseResult compressed = parseDevice(&device);
    QVERIFY(compressed.data);
    const ParseResult plain = parseFixture(name.section(QLatin1Char('.'), 0, 1));
    QVERIFY(plain.data);
    QCOMPARE(dump(compressed.data.get()), dump(plain.data.get()));
}

void ParserTest::dataModel()
{
    SnapshotItem snapshot;
    snapshot.setMemHeap(10);
    snapshot.setMemHeapExtra(5);
    snapshot.setMemStacks(3);
    QCOMPARE(snapshot.cost(), quint64(13));

    SnapshotItem huge;
    huge.setMemHeap(std::numeric_limits<quint64>::max() - 1);
    huge.setMemStacks(1);
    QCOMPARE(huge.cost(), std::numeric_limits<quint64>::max());

    auto *root = new TreeLeafItem;
    snapshot.setHeapTree(root);
    auto *kept = new TreeLeafItem;
    auto *dropped = new TreeLeafItem;
    root->addChild(kept);
    root->addChild(dropped);
    QCOMPARE(dropped->parent(), root);
    root->setChildren({kept});
    // Neither deleted nor unlinked: whoever replaced the list owns the node now.
    QCOMPARE(dropped->parent(), root);
    QCOMPARE(root->children(), QList<TreeLeafItem *> {kept});
    delete dropped;
}

QTEST_GUILESS_MAIN(ParserTest)

#include "parsertest.moc"
