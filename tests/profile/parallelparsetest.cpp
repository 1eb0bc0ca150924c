/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "filedata.h"
#include "parser.h"
#include "readaheaddevice.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <KCompressionDevice>

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace Massif;

namespace {

const QString fixturesDir = QStringLiteral(QUILLMAP_FIXTURES_DIR);

struct Outcome
{
    std::unique_ptr<FileData> data;
    int errorLine = -1;
    QByteArray errorText;
};

// A device that cannot tell its size, like a decompressing one.
class SizelessBuffer : public QIODevice
{
public:
    explicit SizelessBuffer(const QByteArray &data) : m_data(data)
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

// Larger than any input here: the plain sequential parse.
constexpr qint64 Whole = qint64(1) << 40;

// In pieces with tiny ones, so that every snapshot record may start one.
Outcome parse(QIODevice *device, int threads, qint64 pieceSize = 1, const QStringList &allocators = {}, QAtomicInt *stop = nullptr)
{
    Parser parser;
    parser.setThreadCount(threads);
    parser.setPieceSize(pieceSize);
    Outcome outcome;
    outcome.data.reset(parser.parse(device, allocators, stop));
    outcome.errorLine = parser.errorLine();
    outcome.errorText = parser.errorLineText();
    return outcome;
}

Outcome parseBytes(const QByteArray &bytes, int threads, qint64 pieceSize = 1, const QStringList &allocators = {})
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return parse(&buffer, threads, pieceSize, allocators);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Each node depth first: depth, cost, label, row; where its label buffer was
// first met (so that sharing compares too); whether its links hold.
void dumpTree(const TreeLeafItem *node, int depth, QHash<const char *, int> *buffers, QByteArray *out)
{
    const QByteArray label = node->label();
    const int buffer = int(buffers->value(label.constData(), buffers->size()));
    buffers->insert(label.constData(), buffer);
    *out += QByteArray::number(depth) + ' ' + QByteArray::number(node->cost()) + ' ' + label + " row " + QByteArray::number(node->row()) + " buffer " +
        QByteArray::number(buffer) + '\n';
    const auto children = node->children();
    for (qsizetype i = 0; i < children.size(); ++i) {
        if (children.at(i)->parent() != node || children.at(i)->row() != i) {
            *out += "broken link\n";
        }
        dumpTree(children.at(i), depth + 1, buffers, out);
    }
}

QByteArray dump(const Outcome &outcome)
{
    QByteArray out = "error " + QByteArray::number(outcome.errorLine) + ' ' + outcome.errorText + '\n';
    const FileData *data = outcome.data.get();
    if (!data) {
        return out;
    }
    out += data->description().toUtf8() + '\n' + data->command().toUtf8() + '\n' + data->timeUnit().toUtf8() + '\n' + data->warning().toUtf8() + '\n';
    QHash<const char *, int> buffers;
    const auto snapshots = data->snapshots();
    for (const SnapshotItem *snapshot : snapshots) {
        out += QByteArray::number(snapshot->number()) + ' ' + QByteArray::number(snapshot->time()) + ' ' + QByteArray::number(snapshot->memHeap()) + ' ' +
            QByteArray::number(snapshot->memHeapExtra()) + ' ' + QByteArray::number(snapshot->memStacks()) + (snapshot == data->peak() ? " peak\n" : "\n");
        if (snapshot->heapTree()) {
            dumpTree(snapshot->heapTree(), 0, &buffers, &out);
        }
    }
    return out;
}

// A file of real shape and some size: every snapshot detailed, trees of a few hundred nodes.
QByteArray generatedFile(int snapshots)
{
    QByteArray text = "desc: --detailed-freq=1 --max-snapshots=" + QByteArray::number(snapshots) + "\ncmd: ./generated\ntime_unit: i\n";
    for (int s = 0; s < snapshots; ++s) {
        text += "#-----------\nsnapshot=" + QByteArray::number(s) + "\n#-----------\ntime=" + QByteArray::number(s * 1000) +
            "\nmem_heap_B=" + QByteArray::number(40000 + s) + "\nmem_heap_extra_B=64\nmem_stacks_B=0\nheap_tree=" + (s == snapshots / 2 ? "peak" : "detailed") +
            '\n';
        text += "n20: " + QByteArray::number(40000 + s) + " (heap allocation functions) malloc/new/new[], --alloc-fns, etc.\n";
        for (int f = 0; f < 20; ++f) {
            text += " n10: 2000 0x" + QByteArray::number(0x400000 + f, 16) + ": caller" + QByteArray::number(f) + "() (file.c:" + QByteArray::number(f) + ")\n";
            for (int g = 0; g < 10; ++g) {
                text += "  n0: 200 0x" + QByteArray::number(0x500000 + g, 16) + ": leaf" + QByteArray::number((f + g + s) % 13) +
                    "() (leaf.c:" + QByteArray::number(g) + ")\n";
            }
        }
    }
    return text;
}

// The 1-based number of the first line of snapshot record @p snapshot.
int recordLine(const QByteArray &text, int snapshot)
{
    const QByteArray record = "#-----------\nsnapshot=" + QByteArray::number(snapshot) + '\n';
    const qsizetype at = text.indexOf(record);
    return int(text.left(at).count('\n')) + 1;
}

QByteArray replaceLine(QByteArray text, int lineNumber, const QByteArray &replacement)
{
    QList<QByteArray> lines = text.split('\n');
    lines[lineNumber - 1] = replacement;
    return lines.join('\n');
}

} // namespace

class ParallelParseTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void sameAsSequential_data();
    void sameAsSequential();
    void compressedSameAsSequential_data();
    void compressedSameAsSequential();
    void malformedLineAnywhere_data();
    void malformedLineAnywhere();
    void randomDamage();
    void progressMoves();
    void stopEndsSoon();
};

void ParallelParseTest::sameAsSequential_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("allocators");
    QTest::addColumn<qint64>("pieceSize");
    const QStringList names = QDir(fixturesDir).entryList({QStringLiteral("*.massif")}, QDir::Files);
    QVERIFY(names.size() >= 10);
    const QList<std::pair<const char *, QStringList>> allocatorSets {
        {"none", {}},
        {"plain", {QStringLiteral("my_pool_alloc"), QStringLiteral("xmalloc"), QStringLiteral("grow")}},
        {"wildcard", {QStringLiteral("*alloc*"), QStringLiteral("make_*")}},
    };
    for (const QString &name : names) {
        for (const auto &[setName, allocators] : allocatorSets) {
            for (const qint64 pieceSize : {qint64(1), qint64(3000)}) {
                QTest::addRow("%s %s %lld", qPrintable(name), setName, pieceSize) << fixturesDir + QLatin1Char('/') + name << allocators << pieceSize;
            }
        }
    }
    // Malformed and odd files: the same error line and text, or the same warning.
    const QStringList malformed = QDir(fixturesDir + QStringLiteral("/malformed")).entryList(QDir::Files);
    for (const QString &name : malformed) {
        QTest::addRow("malformed/%s", qPrintable(name)) << fixturesDir + QStringLiteral("/malformed/") + name << QStringList() << qint64(1);
    }
}

void ParallelParseTest::sameAsSequential()
{
    QFETCH(QString, path);
    QFETCH(QStringList, allocators);
    QFETCH(qint64, pieceSize);
    const QByteArray bytes = readFile(path);
    QVERIFY(!bytes.isEmpty() || path.endsWith(QLatin1String("empty.massif")));
    // Malformed files warn in both runs.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("^(?!invalid line)")));
    const QByteArray sequential = dump(parseBytes(bytes, 1, Whole, allocators));
    QCOMPARE(dump(parseBytes(bytes, 3, pieceSize, allocators)), sequential);
    QCOMPARE(dump(parseBytes(bytes, 1, pieceSize, allocators)), sequential);

    // A device of unknown size takes the same way.
    SizelessBuffer sizeless(bytes);
    QCOMPARE(dump(parse(&sizeless, 2, pieceSize, allocators)), sequential);
}

void ParallelParseTest::compressedSameAsSequential_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("allocators");
    for (const char *suffix : {".gz", ".bz2", ".xz", ".zst"}) {
        QTest::addRow("simple%s", suffix) << QStringLiteral("simple.massif") + QLatin1String(suffix) << QStringList();
        QTest::addRow("templates%s wildcard", suffix) << QStringLiteral("templates.massif") + QLatin1String(suffix) << QStringList {QStringLiteral("*::*")};
    }
}

void ParallelParseTest::compressedSameAsSequential()
{
    QFETCH(QString, name);
    QFETCH(QStringList, allocators);
    const QString plainName = name.left(name.lastIndexOf(QLatin1Char('.')));
    const QByteArray sequential = dump(parseBytes(readFile(fixturesDir + QLatin1Char('/') + plainName), 1, Whole, allocators));

    // As the parse worker reads it: decompressed on a thread of its own.
    KCompressionDevice device(fixturesDir + QLatin1Char('/') + name);
    QVERIFY(device.open(QIODevice::ReadOnly));
    ReadAheadDevice input(&device);
    QVERIFY(input.open(QIODevice::ReadOnly));
    QCOMPARE(dump(parse(&input, 2, 1, allocators)), sequential);
}

void ParallelParseTest::malformedLineAnywhere_data()
{
    QTest::addColumn<QByteArray>("text");
    const QByteArray file = generatedFile(60);
    const QList<std::pair<const char *, int>> places {{"first", 0}, {"middle", 30}, {"last", 59}};
    for (const auto &[place, snapshot] : places) {
        const int record = recordLine(file, snapshot);
        // Lines after a record's first: 4 is mem_heap_B, 8 the root, 9 its first caller, 10 that caller's first leaf.
        QTest::addRow("%s: bad number", place) << replaceLine(file, record + 4, "mem_heap_B=12x");
        QTest::addRow("%s: bad separator", place) << replaceLine(file, record, "#----------");
        QTest::addRow("%s: bad node", place) << replaceLine(file, record + 10, "  n0: 200x leaf");
        QTest::addRow("%s: too few children", place) << replaceLine(file, record + 9, " n11: 2000 0x400000: caller0() (file.c:0)");
        QTest::addRow("%s: too many children", place) << replaceLine(file, record + 9, " n9: 2000 0x400000: caller0() (file.c:0)");
        QTest::addRow("%s: blank line in tree", place) << replaceLine(file, record + 12, QByteArray());
    }
    QTest::addRow("cut in the last tree") << file.left(file.size() - 30);
    QTest::addRow("no final line feed") << file.chopped(1);
    QTest::addRow("crlf") << QByteArray(file).replace("\n", "\r\n");
    QTest::addRow("long label") << replaceLine(file, recordLine(file, 30) + 10, "  n0: 200 " + QByteArray(70000, 'x'));
}

void ParallelParseTest::malformedLineAnywhere()
{
    QFETCH(QByteArray, text);
    QTest::failOnWarning(QRegularExpression(QStringLiteral("^(?!invalid line)")));
    const QByteArray sequential = dump(parseBytes(text, 1, Whole));
    for (const qint64 pieceSize : {qint64(1), qint64(5000), qint64(64 * 1024)}) {
        QCOMPARE(dump(parseBytes(text, 1, pieceSize)), sequential);
        QCOMPARE(dump(parseBytes(text, 2, pieceSize)), sequential);
        QCOMPARE(dump(parseBytes(text, 4, pieceSize)), sequential);
    }
}

void ParallelParseTest::randomDamage()
{
    // Lines dropped, repeated, swapped or garbled at random in real files:
    // whatever the damage, both ways agree.
    const QStringList names {QStringLiteral("simple.massif"), QStringLiteral("custom-alloc.massif"), QStringLiteral("many.massif")};
    const QStringList allocators {QStringLiteral("my_pool_alloc"), QStringLiteral("*xmalloc*")};
    QTest::failOnWarning(QRegularExpression(QStringLiteral("^(?!invalid line)")));
    for (quint32 seed = 1; seed <= 150; ++seed) {
        QRandomGenerator random(seed);
        QList<QByteArray> lines = readFile(fixturesDir + QLatin1Char('/') + names.at(seed % names.size())).split('\n');
        for (int damage = int(random.bounded(1, 4)); damage > 0; --damage) {
            const qsizetype at = random.bounded(lines.size());
            switch (random.bounded(5)) {
            case 0:
                lines.removeAt(at);
                break;
            case 1:
                lines.insert(at, lines.at(at));
                break;
            case 2:
                lines.swapItemsAt(at, random.bounded(lines.size()));
                break;
            case 3:
                if (!lines.at(at).isEmpty()) {
                    lines[at][random.bounded(lines.at(at).size())] = "0 :n#x\r"[random.bounded(7)];
                }
                break;
            default:
                lines = lines.mid(0, at);
                break;
            }
        }
        const QByteArray text = lines.join('\n');
        const QByteArray sequential = dump(parseBytes(text, 1, Whole, allocators));
        const QByteArray parallel = dump(parseBytes(text, 2, 1, allocators));
        QVERIFY2(parallel == sequential, qPrintable(QStringLiteral("seed %1").arg(seed)));
    }
}

void ParallelParseTest::progressMoves()
{
    const QByteArray text = generatedFile(200);
    const auto valuesOf = [](QIODevice *device) {
        Parser parser;
        parser.setPieceSize(20000);
        parser.setThreadCount(2);
        QSignalSpy spy(&parser, &Parser::progress);
        std::unique_ptr<FileData> data(parser.parse(device));
        QList<int> values;
        for (const auto &arguments : std::as_const(spy)) {
            values << arguments.at(0).toInt();
        }
        return values;
    };
    // By position where the size is known, by snapshot number where not.
    QBuffer buffer;
    buffer.setData(text);
    buffer.open(QIODevice::ReadOnly);
    SizelessBuffer sizeless(text);
    for (const QList<int> &values : {valuesOf(&buffer), valuesOf(&sizeless)}) {
        QVERIFY(values.size() >= 10);
        QVERIFY(std::is_sorted(values.cbegin(), values.cend()));
        QVERIFY(values.first() < 20);
        QVERIFY(values.last() >= 95 && values.last() <= 100);
    }
}

void ParallelParseTest::stopEndsSoon()
{
    const QByteArray text = generatedFile(3000);
    QBuffer buffer;
    buffer.setData(text);
    buffer.open(QIODevice::ReadOnly);
    Parser parser;
    parser.setThreadCount(2);
    parser.setPieceSize(100000);
    QAtomicInt stop;
    QElapsedTimer sinceStop;
    // Emitted on the parsing thread, so the stop comes in the midst of the parse.
    connect(&parser, &Parser::progress, &parser, [&stop, &sinceStop](int value) {
        if (value >= 10 && !stop.loadRelaxed()) {
            sinceStop.start();
            stop.storeRelaxed(1);
        }
    });
    QVERIFY(!parser.parse(&buffer, {}, &stop));
    QVERIFY(sinceStop.isValid());
    QVERIFY2(sinceStop.elapsed() < 1000, qPrintable(QString::number(sinceStop.elapsed())));
    QCOMPARE(parser.errorLine(), -1);
    QVERIFY(buffer.pos() < text.size());
}

QTEST_GUILESS_MAIN(ParallelParseTest)

#include "parallelparsetest.moc"
