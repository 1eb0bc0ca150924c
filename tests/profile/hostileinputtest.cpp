/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "filedata.h"
#include "parser.h"
#include "parserun.h"
#include "parseworker.h"
#include "snapshotitem.h"
#include "threadhandoff.h"
#include "treeleafitem.h"

#include <KCompressionDevice>
#include <KLocalizedString>

#include <QBuffer>
#include <QFile>
#include <QMimeDatabase>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

using namespace Massif;

namespace {

const QByteArray header = QByteArrayLiteral("desc: x\ncmd: ./prog\ntime_unit: i\n");
const QByteArray snapshotHead = QByteArrayLiteral("#-----------\nsnapshot=0\n#-----------\ntime=0\nmem_heap_B=10\nmem_heap_extra_B=0\nmem_stacks_B=0\n");

QByteArray readFixture(const QString &name)
{
    QFile file(QStringLiteral(QUILLMAP_FIXTURES_DIR "/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What the worker made of one file: the data, or the error's title and message.
struct Outcome
{
    // How many of finished() and error() arrived: exactly one is right.
    int answers = 0;
    std::unique_ptr<FileData> data;
    QString title;
    QString message;
};

} // namespace

class HostileInputTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void binaryFile();
    void endlessLineIsBounded();
    void compressedEndlessLine();
    void brokenCompressedFiles_data();
    void brokenCompressedFiles();
    void streamCutAfterWholeLines_data();
    void streamCutAfterWholeLines();
    void deepTreeIsRefused();
    void hugeAnnouncedChildCount();
    void snapshotsOutOfOrder();
    void notRegularFiles();
    void unreadableFile();
    void unusualPaths();

private:
    Outcome load(const QString &path);
    QString writeFile(const QString &name, const QByteArray &content);

    QTemporaryDir m_dir;
};

void HostileInputTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    KLocalizedString::setApplicationDomain("quillmap");
    QVERIFY(m_dir.isValid());
}

QString HostileInputTest::writeFile(const QString &name, const QByteArray &content)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
        qFatal("cannot write %s", qPrintable(path));
    }
    return path;
}

Outcome HostileInputTest::load(const QString &path)
{
    QThread thread;
    ParseWorker worker;
    worker.moveToThread(&thread);
    thread.start();
    QSignalSpy finished(&worker, &ParseWorker::finished);
    QSignalSpy failed(&worker, &ParseWorker::error);
    worker.parse(QUrl::fromLocalFile(path), {});
    QMetaObject::invokeMethod(
        &worker, [] {}, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();

    Outcome outcome;
    outcome.answers = int(finished.size() + failed.size());
    // Exactly one answer, whatever the input.
    if (outcome.answers != 1) {
        qWarning() << "answers:" << finished.size() << failed.size();
        return outcome;
    }
    if (!finished.isEmpty()) {
        outcome.data.reset(finished.first().at(1).value<FileData *>());
        acquireFromOtherThread(outcome.data.get());
    } else {
        outcome.title = failed.first().at(0).toString();
        outcome.message = failed.first().at(1).toString();
    }
    return outcome;
}

void HostileInputTest::binaryFile()
{
    QByteArray bytes(200000, Qt::Uninitialized);
    QRandomGenerator generator(42);
    for (char &byte : bytes) {
        byte = char(generator.bounded(256));
    }
    const QString random = writeFile(QStringLiteral("random.bin"), bytes);
    // The start of an executable: a short first line of control bytes.
    const QString executable = writeFile(QStringLiteral("program"),
                                         QByteArray("\x7f"
                                                    "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x03\0>\0\x01\0\0\0\n",
                                                    25) +
                                             bytes);
    // Text, but not UTF-8.
    const QString latin1 = writeFile(QStringLiteral("latin1.txt"), "d\xe9sc: x\n");
    // One line as long as the file.
    const QString unbroken = writeFile(QStringLiteral("unbroken.bin"), QByteArray(bytes).replace('\n', '\x7f'));
    for (const QString &path : {random, executable, latin1, unbroken}) {
        // The log shows the start of the line, not all of it.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^invalid line 1 .{1,1000}$")));
        const Outcome outcome = load(path);
        QCOMPARE(outcome.title, QStringLiteral("Parser Failed"));
        QCOMPARE(outcome.message,
                 QStringLiteral("Could not parse file <i>%1</i>.<br>Parse error in line 1:<br>not a massif file: line 1 is binary data")
                     .arg(QUrl::fromLocalFile(path).toString()));
    }

    // A first line of plain text is shown as it is.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^invalid line 1 ")));
    const Outcome text = load(writeFile(QStringLiteral("text.txt"), "hello\tworld \xc3\xa4\n"));
    QVERIFY2(text.message.endsWith(QStringLiteral("<br>hello\tworld \u00c3\u00a4")), qPrintable(text.message));
}

void HostileInputTest::endlessLineIsBounded()
{
    // 20 MiB without a line feed: refused at the cap, not read whole.
    const QByteArray line = "desc: " + QByteArray(20 * 1024 * 1024, 'a');
    QBuffer buffer;
    buffer.setData(line);
    buffer.open(QIODevice::ReadOnly);
    Parser parser;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^invalid line 1 ")));
    QVERIFY(!parser.parse(&buffer));
    QCOMPARE(parser.errorLine(), 1);
    QCOMPARE(parser.errorLineText().size(), 16 * 1024 * 1024);
    QVERIFY(buffer.pos() < line.size());

    // The message shows a readable start of the line, not megabytes of it.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^invalid line 1 ")));
    const Outcome outcome = load(writeFile(QStringLiteral("endless.massif"), line));
    QCOMPARE(outcome.title, QStringLiteral("Parser Failed"));
    QVERIFY(outcome.message.size() < 2000);
    QVERIFY(outcome.message.endsWith(QChar(0x2026)));

    // Lines just below the cap are still read whole.
    const QByteArray label(2 * 1024 * 1024, 'f');
    QBuffer big;
    big.setData(header + snapshotHead + "heap_tree=detailed\nn0: 10 " + label + '\n');
    big.open(QIODevice::ReadOnly);
    std::unique_ptr<FileData> data(parser.parse(&big));
    QVERIFY(data);
    QCOMPARE(data->snapshots().at(0)->heapTree()->label(), label);
}

void HostileInputTest::compressedEndlessLine()
{
    // A small gzip file that inflates to 64 MiB of zeros without a line feed.
    const QString path = m_dir.filePath(QStringLiteral("zeros.gz"));
    {
        KCompressionDevice device(path, KCompressionDevice::GZip);
        QVERIFY(device.open(QIODevice::WriteOnly));
        const QByteArray zeros(1024 * 1024, '\0');
        for (int i = 0; i < 64; ++i) {
            device.write(zeros);
        }
    }
    QVERIFY(QFileInfo(path).size() < 1024 * 1024);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^invalid line 1 ")));
    const Outcome outcome = load(path);
    QCOMPARE(outcome.title, QStringLiteral("Parser Failed"));
}

void HostileInputTest::brokenCompressedFiles_data()
{
    QTest::addColumn<QString>("name");
    // Bytes kept from the start; -1 for all.
    QTest::addColumn<int>("keep");
    // Where 64 bytes are flipped, counted from the end; 0 for nowhere.
    QTest::addColumn<int>("flipFromEnd");
    QTest::addColumn<QString>("reason");

    const QString endsEarly = QStringLiteral("the compressed data ends early");
    const QString corrupt = QStringLiteral("the compressed data is corrupt");
    for (const char *suffix : {".gz", ".bz2", ".xz", ".zst"}) {
        const QString name = QStringLiteral("templates.massif") + QLatin1String(suffix);
        const int size = int(readFixture(name).size());
        QTest::newRow(qPrintable(name + QStringLiteral(" cut at 60%"))) << name << size * 6 / 10 << 0 << endsEarly;
        // Decompresses into a line cut short, which is no malformed line.
        QTest::newRow(qPrintable(name + QStringLiteral(" cut at 1500 bytes"))) << name << 1500 << 0 << endsEarly;
        QTest::newRow(qPrintable(name + QStringLiteral(" flipped in the middle"))) << name << -1 << size / 2 << corrupt;
        // The last bytes hold the check of the data (gzip's CRC-32, bzip2's
        // stream CRC, xz's stream footer, zstd's content checksum).
        QTest::newRow(qPrintable(name + QStringLiteral(" flipped check"))) << name << -1 << 6 << corrupt;
    }
}

void HostileInputTest::brokenCompressedFiles()
{
    QFETCH(QString, name);
    QFETCH(int, keep);
    QFETCH(int, flipFromEnd);
    QFETCH(QString, reason);
    QByteArray bytes = readFixture(name);
    QVERIFY(bytes.size() > 1500);
    if (keep >= 0) {
        bytes.truncate(keep);
    }
    if (flipFromEnd > 0) {
        const qsizetype start = bytes.size() - flipFromEnd;
        for (qsizetype i = start; i < qMin(start + 64, bytes.size() - 2); ++i) {
            bytes[i] = char(bytes.at(i) ^ 0x5a);
        }
    }
    const QString path = writeFile(QStringLiteral("broken-") + QString::number(keep) + QString::number(flipFromEnd) + name, bytes);
    const Outcome outcome = load(path);
    QCOMPARE(outcome.answers, 1);
    QCOMPARE(outcome.title, QStringLiteral("Read Failed"));
    QCOMPARE(outcome.message, QStringLiteral("Could not read file <i>%1</i> to its end: %2.").arg(path, reason));
}

void HostileInputTest::streamCutAfterWholeLines_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::newRow("gzip") << QStringLiteral(".gz");
    QTest::newRow("bzip2") << QStringLiteral(".bz2");
    QTest::newRow("xz") << QStringLiteral(".xz");
    QTest::newRow("zstd") << QStringLiteral(".zst");
}

void HostileInputTest::streamCutAfterWholeLines()
{
    // Every line of the text is whole, but the compressed stream lacks its end:
    // the data may be cut anywhere, and must not pass for the whole file.
    QFETCH(QString, suffix);
    const QString path = m_dir.filePath(QStringLiteral("whole-lines") + suffix);
    {
        KCompressionDevice device(path,
                                  KCompressionDevice::compressionTypeForMimeType(QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension).name()));
        QVERIFY(device.open(QIODevice::WriteOnly));
        device.write(readFixture(QStringLiteral("templates.massif")));
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.resize(file.size() - (suffix == QLatin1String(".gz") ? 8 : 12)));
    file.close();
    const Outcome outcome = load(path);
    QCOMPARE(outcome.answers, 1);
    QVERIFY2(!outcome.data, "a cut stream was delivered as data");
    QCOMPARE(outcome.title, QStringLiteral("Read Failed"));
    QCOMPARE(outcome.message, QStringLiteral("Could not read file <i>%1</i> to its end: the compressed data ends early.").arg(path));
}

void HostileInputTest::deepTreeIsRefused()
{
    const auto chain = [](int levels) {
        QByteArray text = header + snapshotHead + "heap_tree=detailed\n";
        for (int level = 0; level < levels; ++level) {
            text += QByteArray(level, ' ') + (level + 1 < levels ? "n1: 10 f\n" : "n0: 10 f\n");
        }
        return text;
    };
    const auto parseChain = [](Parser *parser, const QByteArray &text) {
        QBuffer buffer;
        buffer.setData(text);
        buffer.open(QIODevice::ReadOnly);
        return std::unique_ptr<FileData>(parser->parse(&buffer));
    };
    constexpr int limit = ParseRun::MaxTreeDepth;
    Parser parser;

    // Levels 0 to the limit are read; one level more is refused, on its own line
    // (the root stands on line 12).
    QVERIFY(parseChain(&parser, chain(limit + 1)));
    const int refusedLine = 12 + limit + 1;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^invalid line %1 ").arg(refusedLine)));
    QVERIFY(!parseChain(&parser, chain(limit + 2)));
    QCOMPARE(parser.errorLine(), refusedLine);
    QCOMPARE(parser.errorLineText(), QByteArray(limit + 1, ' ') + "n0: 10 f");

    // Massif's own limit of 200 levels is far inside.
    QVERIFY(parseChain(&parser, chain(300)));
}

void HostileInputTest::hugeAnnouncedChildCount()
{
    QBuffer buffer;
    // The blank line ends the children; without it the file would end inside the tree.
    buffer.setData(header + snapshotHead + "heap_tree=peak\nn4000000000: 10 root\n n0: 10 a\n\n");
    buffer.open(QIODevice::ReadOnly);
    Parser parser;
    std::unique_ptr<FileData> data(parser.parse(&buffer));
    QVERIFY(data);
    QCOMPARE(data->peak()->heapTree()->children().size(), 1);
}

void HostileInputTest::snapshotsOutOfOrder()
{
    const QByteArray record = "#-----------\nsnapshot=%1\n#-----------\ntime=%1\nmem_heap_B=%2\nmem_heap_extra_B=0\nmem_stacks_B=0\nheap_tree=empty\n";
    QByteArray text = header;
    for (const auto &[number, heap] : {std::pair {5, 10}, {2, 30}, {9, 20}}) {
        text += QByteArray(record).replace("%1", QByteArray::number(number)).replace("%2", QByteArray::number(heap));
    }
    QBuffer buffer;
    buffer.setData(text);
    buffer.open(QIODevice::ReadOnly);
    Parser parser;
    std::unique_ptr<FileData> data(parser.parse(&buffer));
    QVERIFY(data);
    QCOMPARE(data->snapshots().at(0)->number(), 5u);
    QCOMPARE(data->snapshots().at(1)->number(), 2u);
    QCOMPARE(data->peak()->number(), 2u);
}

void HostileInputTest::notRegularFiles()
{
    const Outcome directory = load(m_dir.path());
    QCOMPARE(directory.title, QStringLiteral("Read Failed"));

    // A FIFO without a writer would block the open for good.
    const QString fifo = m_dir.filePath(QStringLiteral("pipe"));
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const Outcome pipe = load(fifo);
    QCOMPARE(pipe.title, QStringLiteral("Read Failed"));
    QCOMPARE(pipe.message, QStringLiteral("Could not open file <i>%1</i> for reading.").arg(fifo));

    const Outcome device = load(QStringLiteral("/dev/zero"));
    QCOMPARE(device.title, QStringLiteral("Read Failed"));
}

void HostileInputTest::unreadableFile()
{
    if (geteuid() == 0) {
        QSKIP("permissions do not stop root");
    }
    const QString path = writeFile(QStringLiteral("secret.massif"), readFixture(QStringLiteral("simple.massif")));
    QFile::setPermissions(path, QFileDevice::WriteOwner);
    QCOMPARE(load(path).title, QStringLiteral("Read Failed"));
}

void HostileInputTest::unusualPaths()
{
    const QString path = writeFile(QStringLiteral("with space ünïcødé ✓.massif"), readFixture(QStringLiteral("simple.massif")));
    const Outcome outcome = load(path);
    QVERIFY2(outcome.data, qPrintable(outcome.message));
    QCOMPARE(outcome.data->command(), QStringLiteral("./simple"));
}

QTEST_GUILESS_MAIN(HostileInputTest)

#include "hostileinputtest.moc"
