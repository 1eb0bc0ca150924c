/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "parseworker.h"
#include "filedata.h"
#include "snapshotitem.h"
#include "threadhandoff.h"

#include <KLocalizedString>

#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>

using namespace Massif;

namespace {

const QString fixturesDir = QStringLiteral(QUILLMAP_FIXTURES_DIR);

QString fixture(const QString &name)
{
    return fixturesDir + QLatin1Char('/') + name;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Serves one fixed response to every request, on 127.0.0.1 only. A length
// announced beyond the body makes a download that ends early.
class HttpServer : public QTcpServer
{
public:
    HttpServer(const QByteArray &status, const QByteArray &body, qsizetype announcedLength = -1)
        : m_response("HTTP/1.1 " + status + "\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                     QByteArray::number(announcedLength < 0 ? body.size() : announcedLength) + "\r\nConnection: close\r\n\r\n" + body)
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    m_request += socket->readAll();
                    if (m_request.contains("\r\n\r\n")) {
                        m_request.clear();
                        socket->write(m_response);
                        socket->disconnectFromHost();
                    }
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        listen(QHostAddress::LocalHost);
    }

    QUrl url(const QString &path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/%2").arg(serverPort()).arg(path));
    }

private:
    QByteArray m_response;
    QByteArray m_request;
};

} // namespace

class ParseWorkerTest : public QObject
{
    Q_OBJECT
public Q_SLOTS:
    // Run on the worker's thread, through direct connections.
    void recordEmittingThread()
    {
        m_emittingThread = QThread::currentThread();
    }
    void stopAfterTenProgressValues()
    {
        if (++m_progressCount == 10) {
            m_worker->stop();
        }
    }

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void parsesOnItsOwnThread();
    void reportsErrors_data();
    void reportsErrors();
    void truncatedFileLoadsWithWarning();
    void escapesFileContentInMessages();
    void compressedLikePlain();
    void downloadsRemoteFiles();
    void brokenDownloadNamesItsUrl();
    void reportsFailedDownloads_data();
    void reportsFailedDownloads();
    void stopEndsSilently();

private:
    void waitUntilIdle();

    QThread *m_thread = nullptr;
    ParseWorker *m_worker = nullptr;
    std::unique_ptr<QSignalSpy> m_finished;
    std::unique_ptr<QSignalSpy> m_error;
    QTemporaryDir m_dir;
    std::atomic<QThread *> m_emittingThread = nullptr;
    std::atomic_int m_progressCount = 0;
};

void ParseWorkerTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    // As the program does: translations are set up on the main thread first.
    KLocalizedString::setApplicationDomain("quillmap");
    QVERIFY(m_dir.isValid());
}

void ParseWorkerTest::init()
{
    m_thread = new QThread(this);
    m_worker = new ParseWorker;
    m_worker->moveToThread(m_thread);
    m_thread->start();
    m_finished = std::make_unique<QSignalSpy>(m_worker, &ParseWorker::finished);
    m_error = std::make_unique<QSignalSpy>(m_worker, &ParseWorker::error);
}

void ParseWorkerTest::cleanup()
{
    for (const auto &arguments : std::as_const(*m_finished)) {
        FileData *data = arguments.at(1).value<FileData *>();
        acquireFromOtherThread(data);
        delete data;
    }
    m_finished.reset();
    m_error.reset();
    m_thread->quit();
    m_thread->wait();
    delete m_worker;
    delete m_thread;
}

// Returns once the worker has run everything queued for it so far.
void ParseWorkerTest::waitUntilIdle()
{
    QMetaObject::invokeMethod(
        m_worker, [] {}, Qt::BlockingQueuedConnection);
    QCoreApplication::processEvents();
}

void ParseWorkerTest::parsesOnItsOwnThread()
{
    QList<QByteArray> order;
    connect(m_worker, &ParseWorker::progressRange, this, [&](int min, int max) {
        order << "range " + QByteArray::number(min) + '-' + QByteArray::number(max);
    });
    connect(m_worker, &ParseWorker::progress, this, [&](int value) {
        order << "progress " + QByteArray::number(value);
    });
    // By name: the connection is then Qt's own, not a functor of ours that the
    // worker's thread would read (thread sanitizers cannot see Qt's locks).
    connect(m_worker, SIGNAL(finished(QUrl, Massif::FileData *)), this, SLOT(recordEmittingThread()), Qt::DirectConnection);
    connect(m_worker, &ParseWorker::finished, this, [&] {
        order << "finished";
    });

    const QUrl url = QUrl::fromLocalFile(fixture(QStringLiteral("simple.massif")));
    m_worker->parse(url, {});
    // Called from another thread, the work is queued: nothing has happened yet.
    QVERIFY(order.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!m_finished->isEmpty(), 20000);
    QCOMPARE(m_emittingThread.load(), m_thread);
    QCOMPARE(m_error->size(), 0);
    QCOMPARE(m_finished->first().at(0).toUrl(), url);
    const FileData *data = m_finished->first().at(1).value<FileData *>();
    acquireFromOtherThread(data);
    QVERIFY(data);
    QCOMPARE(data->command(), QStringLiteral("./simple"));

    QCoreApplication::processEvents();
    QCOMPARE(order.first(), QByteArray("range 0-100"));
    QCOMPARE(order.at(order.size() - 2), QByteArray("progress 100"));
    QCOMPARE(order.last(), QByteArray("finished"));
}

void ParseWorkerTest::reportsErrors_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("message");

    const QString missing = m_dir.filePath(QStringLiteral("does-not-exist.massif"));
    QTest::newRow("missing file") << missing << QStringLiteral("Read Failed") << QStringLiteral("Could not open file <i>%1</i> for reading.").arg(missing);

    const QString empty = fixture(QStringLiteral("malformed/empty.massif"));
    QTest::newRow("empty file") << empty << QStringLiteral("Empty Data File")
                                << QStringLiteral("Empty data file <i>%1</i>.").arg(QUrl::fromLocalFile(empty).toString());
    const QString headerOnly = fixture(QStringLiteral("malformed/header-only.massif"));
    QTest::newRow("header only") << headerOnly << QStringLiteral("Empty Data File")
                                 << QStringLiteral("Empty data file <i>%1</i>.").arg(QUrl::fromLocalFile(headerOnly).toString());

    // Cut right after the first separator: the message names that line, not a stale buffer.
    const QString cutFirst = m_dir.filePath(QStringLiteral("cut-first.massif"));
    QFile cutFile(cutFirst);
    QVERIFY(cutFile.open(QIODevice::WriteOnly));
    cutFile.write("desc: x\ncmd: ./prog\ntime_unit: i\n#-----------\n");
    cutFile.close();
    QTest::newRow("cut in the first snapshot")
        << cutFirst << QStringLiteral("Empty Data File")
        << QStringLiteral(
               "Empty data file <i>%1</i>.<br>The file ends early, in line 4, inside a snapshot record. That snapshot is left out; the complete snapshots "
               "before it are shown.")
               .arg(QUrl::fromLocalFile(cutFirst).toString());

    const QString badTimeUnit = fixture(QStringLiteral("malformed/bad-timeunit.massif"));
    const QByteArray thirdLine = readFile(badTimeUnit).split('\n').at(2);
    QTest::newRow("third line malformed") << badTimeUnit << QStringLiteral("Parser Failed")
                                          << QStringLiteral("Could not parse file <i>%1</i>.<br>Parse error in line 3:<br>%2")
                                                 .arg(QUrl::fromLocalFile(badTimeUnit).toString(), QString::fromLatin1(thirdLine));
}

void ParseWorkerTest::reportsErrors()
{
    QFETCH(QString, path);
    QFETCH(QString, title);
    QFETCH(QString, message);

    if (title == QLatin1String("Parser Failed")) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^invalid line")));
    }
    m_worker->parse(QUrl::fromLocalFile(path), {});
    QTRY_VERIFY_WITH_TIMEOUT(!m_error->isEmpty(), 20000);
    QCOMPARE(m_error->first().at(0).toString(), title);
    QCOMPARE(m_error->first().at(1).toString(), message);
    waitUntilIdle();
    QCOMPARE(m_finished->size(), 0);
    QCOMPARE(m_error->size(), 1);
}

void ParseWorkerTest::truncatedFileLoadsWithWarning()
{
    // The first 3000 bytes of a real file: its complete snapshots, and a warning.
    const QByteArray text = readFile(fixture(QStringLiteral("simple.massif")));
    const QString path = m_dir.filePath(QStringLiteral("head.massif"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text.left(3000));
    file.close();

    m_worker->parse(QUrl::fromLocalFile(path), {});
    QTRY_VERIFY_WITH_TIMEOUT(!m_finished->isEmpty(), 20000);
    waitUntilIdle();
    QCOMPARE(m_error->size(), 0);
    const FileData *data = m_finished->first().at(1).value<FileData *>();
    acquireFromOtherThread(data);
    const QByteArray head = text.left(3000);
    // Whole records end where the next begins; the last, cut one is left out.
    QCOMPARE(data->snapshots().size(), head.count("#-----------\nsnapshot=") - 1);
    const int lastLine = int(head.count('\n')) + (head.endsWith('\n') ? 0 : 1);
    QVERIFY2(data->warning().contains(QStringLiteral("in line %1,").arg(lastLine)), qPrintable(data->warning()));

    // A whole file carries no warning.
    m_worker->parse(QUrl::fromLocalFile(fixture(QStringLiteral("simple.massif"))), {});
    QTRY_COMPARE_WITH_TIMEOUT(m_finished->size(), 2, 20000);
    const FileData *whole = m_finished->last().at(1).value<FileData *>();
    acquireFromOtherThread(whole);
    QCOMPARE(whole->warning(), QString());
}

void ParseWorkerTest::escapesFileContentInMessages()
{
    // Rich text must show the file's bytes and name as they are.
    const QString path = m_dir.filePath(QStringLiteral("<b>odd & name<\\b>.massif"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("desc: x\ncmd: <img src=x>\n<script>alert(1)</script>\n");
    file.close();

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^invalid line 3")));
    m_worker->parse(QUrl::fromLocalFile(path), {});
    QTRY_VERIFY_WITH_TIMEOUT(!m_error->isEmpty(), 20000);
    const QString message = m_error->first().at(1).toString();
    QVERIFY2(message.contains(QLatin1String("&lt;script&gt;alert(1)&lt;/script&gt;")), qPrintable(message));
    QVERIFY(message.contains(QLatin1String("odd &amp; name")));
    QVERIFY(!message.contains(QLatin1String("<script>")));
    QVERIFY(!message.contains(QLatin1String("<b>")));

    const QString missing = m_dir.filePath(QStringLiteral("<i>gone</i>"));
    m_worker->parse(QUrl::fromLocalFile(missing), {});
    QTRY_COMPARE_WITH_TIMEOUT(m_error->size(), 2, 20000);
    QCOMPARE(m_error->last().at(1).toString(), QStringLiteral("Could not open file <i>%1</i> for reading.").arg(missing.toHtmlEscaped()));
}

void ParseWorkerTest::compressedLikePlain()
{
    m_worker->parse(QUrl::fromLocalFile(fixture(QStringLiteral("templates.massif.xz"))), {});
    QTRY_VERIFY_WITH_TIMEOUT(!m_finished->isEmpty(), 20000);
    const FileData *data = m_finished->first().at(1).value<FileData *>();
    acquireFromOtherThread(data);
    const QByteArray plain = readFile(fixture(QStringLiteral("templates.massif")));
    QCOMPARE(data->snapshots().size(), plain.count("snapshot="));
    QCOMPARE(data->command(), QString::fromUtf8(plain.split('\n').at(1).mid(5)));
}

void ParseWorkerTest::downloadsRemoteFiles()
{
    const QByteArray body = readFile(fixture(QStringLiteral("simple.massif.gz")));
    HttpServer server("200 OK", body);
    QVERIFY(server.isListening());
    const QUrl url = server.url(QStringLiteral("massif.out.42.gz"));

    m_worker->parse(url, {QStringLiteral("*never*")});
    QTRY_VERIFY_WITH_TIMEOUT(!m_finished->isEmpty(), 20000);
    QCOMPARE(m_finished->first().at(0).toUrl(), url);
    const FileData *data = m_finished->first().at(1).value<FileData *>();
    acquireFromOtherThread(data);
    QCOMPARE(data->command(), QStringLiteral("./simple"));
    QCOMPARE(data->snapshots().size(), readFile(fixture(QStringLiteral("simple.massif"))).count("snapshot="));
}

void ParseWorkerTest::brokenDownloadNamesItsUrl()
{
    // Downloaded whole, but the compressed data inside is cut.
    const QByteArray packed = readFile(fixture(QStringLiteral("simple.massif.gz")));
    HttpServer server("200 OK", packed.left(packed.size() / 2));
    QVERIFY(server.isListening());
    const QUrl url = server.url(QStringLiteral("massif.out.7.gz"));

    m_worker->parse(url, {});
    QTRY_VERIFY_WITH_TIMEOUT(!m_error->isEmpty(), 20000);
    waitUntilIdle();
    QCOMPARE(m_finished->size(), 0);
    QCOMPARE(m_error->size(), 1);
    QCOMPARE(m_error->first().at(0).toString(), QStringLiteral("Read Failed"));
    QCOMPARE(m_error->first().at(1).toString(),
             QStringLiteral("Could not read file <i>%1</i> to its end: the compressed data ends early.").arg(url.toString()));
}

void ParseWorkerTest::reportsFailedDownloads_data()
{
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QByteArray>("body");
    // The length the server announces; -1 for the body's.
    QTest::addColumn<int>("announced");
    // What the message says after the URL, as a pattern.
    QTest::addColumn<QString>("reason");

    QTest::newRow("not found") << QByteArray("404 Not Found") << QByteArray("<html>gone</html>") << -1 << QStringLiteral("\\(HTTP status 404\\)$");
    QTest::newRow("server error") << QByteArray("500 Internal Server Error") << QByteArray("oops") << -1 << QStringLiteral("\\(HTTP status 500\\)$");
    QTest::newRow("body shorter than announced") << QByteArray("200 OK") << readFile(fixture(QStringLiteral("simple.massif"))).left(5000) << 9000
                                                 << QStringLiteral("^The transfer ended after 5\\D?000 of 9\\D?000 bytes\\.$");
    // Nobody listens on the port any more.
    QTest::newRow("connection refused") << QByteArray() << QByteArray() << -1 << QStringLiteral("^The server could not be reached\\.$");
}

void ParseWorkerTest::reportsFailedDownloads()
{
    QFETCH(QByteArray, status);
    QFETCH(QByteArray, body);
    QFETCH(int, announced);
    QFETCH(QString, reason);

    HttpServer server(status.isEmpty() ? QByteArray("200 OK") : status, body, announced);
    QVERIFY(server.isListening());
    const QUrl url = server.url(QStringLiteral("massif.out.1"));
    if (status.isEmpty()) {
        server.close();
    }
    m_worker->parse(url, {});
    QTRY_VERIFY_WITH_TIMEOUT(!m_error->isEmpty(), 20000);
    waitUntilIdle();
    QCOMPARE(m_error->size(), 1);
    QCOMPARE(m_finished->size(), 0);
    QCOMPARE(m_error->first().at(0).toString(), QStringLiteral("Download Failed"));
    const QString message = m_error->first().at(1).toString();
    const QString start = QStringLiteral("Failed to download remote massif data file <i>%1</i>.<br>").arg(url.toString());
    QVERIFY2(message.startsWith(start), qPrintable(message));
    QVERIFY2(QRegularExpression(reason).match(message.mid(start.size())).hasMatch(), qPrintable(message));
}

void ParseWorkerTest::stopEndsSilently()
{
    // Large enough that the parse is still running when the first progress arrives.
    const QString path = m_dir.filePath(QStringLiteral("long.massif"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("desc: x\ncmd: y\ntime_unit: i\n");
    for (int i = 0; i < 20000; ++i) {
        file.write("#-----------\nsnapshot=" + QByteArray::number(i) +
                   "\n#-----------\ntime=1\nmem_heap_B=1\nmem_heap_extra_B=0\nmem_stacks_B=0\nheap_tree=detailed\nn1: 1 root\n n0: 1 leaf\n");
    }
    file.close();

    connect(m_worker, SIGNAL(progress(int)), this, SLOT(stopAfterTenProgressValues()), Qt::DirectConnection);
    m_worker->parse(QUrl::fromLocalFile(path), {});
    waitUntilIdle();
    QTest::qWait(50);
    QCOMPARE(m_progressCount.load(), 10);
    QCOMPARE(m_finished->size(), 0);
    QCOMPARE(m_error->size(), 0);

    // A stop before the next parse begins is undone by it.
    m_worker->stop();
    m_worker->parse(QUrl::fromLocalFile(fixture(QStringLiteral("simple.massif"))), {});
    QTRY_VERIFY_WITH_TIMEOUT(!m_finished->isEmpty(), 20000);
}

QTEST_GUILESS_MAIN(ParseWorkerTest)

#include "parseworkertest.moc"
