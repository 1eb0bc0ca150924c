/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "filedata.h"
#include "parser.h"
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
    // Exactly one answer, whatever the input.
    if (finished.size() + failed.size() != 1) {
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
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^invalid line 1 ")));
    const Outcome outcome = load(writeFile(QStringLiteral("random.bin"), bytes));
    QCOMPARE(outcome.title, QStringLiteral("Parser Failed"));
    QVERIFY(outcome.message.contains(QLatin1String("Parse error in line 1:")));
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
    QTest::addColumn<bool>("truncate");
    for (const char *suffix : {".gz", ".bz2", ".xz", ".zst"}) {
        const QString name = QStringLiteral("templates.massif") + QLatin1String(suffix);
        QTest::newRow(qPrintable(name + QStringLiteral(" truncated"))) << name << true;
        QTest::newRow(qPrintable(name + QStringLiteral(" corrupted"))) << name << false;
    }
}

void HostileInputTest::brokenCompressedFiles()
{
    QFETCH(QString, name);
    QFETCH(bool, truncate);
    QByteArray bytes = readFixture(name);
    QVERIFY(bytes.size() > 1000);
    if (truncate) {
        bytes.truncate(bytes.size() * 6 / 10);
    } else {
        for (qsizetype i = bytes.size() / 2; i < bytes.size() / 2 + 64; ++i) {
            bytes[i] = char(bytes.at(i) ^ 0x5a);
        }
    }
    QTest::failOnWarning(QRegularExpression(QStringLiteral("^answers:")));
    const Outcome outcome = load(writeFile(QLatin1String(truncate ? "cut-" : "bad-") + name, bytes));
    // Never a part of the file shown as if it were whole.
    QVERIFY2(!outcome.data, "a broken file was delivered as data");
    // Garbage may decompress into a malformed line before the stream's check fails.
    QVERIFY2(outcome.title == QLatin1String("Read Failed") || outcome.title == QLatin1String("Parser Failed"), qPrintable(outcome.title));
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
    QVERIFY2(!outcome.data, "a cut stream was delivered as data");
}

void HostileInputTest::deepTreeIsRefused()
{
    QByteArray text = header + snapshotHead + "heap_tree=detailed\n";
    const int depth = 100000;
    text.reserve(text.size() + qsizetype(depth) * (depth / 2));
    for (int level = 0; level < depth; ++level) {
        text += QByteArray(level, ' ') + (level + 1 < depth ? "n1: 10 f\n" : "n0: 10 f\n");
    }
    QBuffer buffer;
    buffer.setData(text);
    buffer.open(QIODevice::ReadOnly);
    Parser parser;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^invalid line 4109 ")));
    QVERIFY(!parser.parse(&buffer));
    // The root stands on line 12; the first level refused is 4097.
    QCOMPARE(parser.errorLine(), 12 + 4097);

    // Massif's own limit of 200 levels is far inside.
    QByteArray deep = header + snapshotHead + "heap_tree=detailed\n";
    for (int level = 0; level < 300; ++level) {
        deep += QByteArray(level, ' ') + (level + 1 < 300 ? "n1: 10 f\n" : "n0: 10 f\n");
    }
    QBuffer deepBuffer;
    deepBuffer.setData(deep);
    deepBuffer.open(QIODevice::ReadOnly);
    std::unique_ptr<FileData> data(parser.parse(&deepBuffer));
    QVERIFY(data);
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
