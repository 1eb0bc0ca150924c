/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "parseworker.h"
#include "filedata.h"
#include "parser.h"
#include "readaheaddevice.h"
#include "threadhandoff.h"

#include <KCompressionDevice>
#include <KIO/TransferJob>
#include <KLocalizedString>

#include <QDeadlineTimer>
#include <QDebug>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QScopeGuard>
#include <QTemporaryFile>
#include <QThread>

#include <memory>

using namespace Massif;

ParseWorker::ParseWorker(QObject *parent) : QObject(parent)
{
}

ParseWorker::~ParseWorker()
{
    // Deleted once the parse thread has ended, which Qt tells with locks a
    // thread sanitizer does not see: the parse hands the worker back at its end.
    acquireFromOtherThread(this);
}

// Decided by content: a download's temporary file, or a file renamed without
// its suffix, still decompresses.
static KCompressionDevice::CompressionType compressionOf(const QString &path)
{
    const QMimeType byContent = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchContent);
    const KCompressionDevice::CompressionType type = KCompressionDevice::compressionTypeForMimeType(byContent.name());
    if (type != KCompressionDevice::None) {
        return type;
    }
    return KCompressionDevice::compressionTypeForMimeType(QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension).name());
}

// The offending line as shown in the message; a line of megabytes would only
// stall the page that shows it.
static QString shownLine(const QByteArray &line)
{
    constexpr qsizetype maxShown = 1024;
    if (line.size() <= maxShown) {
        return QString::fromLatin1(line);
    }
    return QString::fromLatin1(line.left(maxShown)) + QChar(0x2026);
}

// No text at all: control characters other than tabs, or bytes that are not UTF-8.
static bool isBinary(const QByteArray &line)
{
    for (const char c : line) {
        const auto byte = uchar(c);
        if ((byte < 0x20 && byte != '\t' && byte != '\r') || byte == 0x7f) {
            return true;
        }
    }
    return !QByteArrayView(line).isValidUtf8();
}

// Reads what is left of the input; false when the input fails before its end.
static bool readsToEnd(QIODevice *input, const QAtomicInt &stop)
{
    QByteArray buffer(1024 * 1024, Qt::Uninitialized);
    while (!input->atEnd()) {
        if (stop.loadRelaxed()) {
            return true;
        }
        if (input->read(buffer.data(), buffer.size()) <= 0) {
            return input->atEnd();
        }
    }
    return true;
}

// Copies a remote file into @p target; returns why that failed, or nothing.
// A get job rather than a file copy: only the get job tells the HTTP status
// and the announced length, and a refused connection reads as an empty
// success through a file copy.
static QString fetch(const QUrl &url, QFile *target)
{
    KIO::TransferJob *job = KIO::get(url, KIO::NoReload, KIO::HideProgressInfo);
    job->setAutoDelete(false);
    const std::unique_ptr<KIO::TransferJob> owner(job);
    QString writeError;
    qint64 received = 0;
    QObject::connect(job, &KIO::TransferJob::data, job, [&](KIO::Job *, const QByteArray &data) {
        received += data.size();
        if (writeError.isEmpty() && target->write(data) != data.size()) {
            writeError = target->errorString();
            job->kill(KJob::EmitResult);
        }
    });
    const bool done = job->exec();
    const int status = job->queryMetaData(QStringLiteral("responsecode")).toInt();
    const qint64 announced = qint64(job->totalAmount(KJob::Bytes));
    if (!writeError.isEmpty()) {
        return writeError;
    }
    const bool http = url.scheme().startsWith(QLatin1String("http"));
    if (!done) {
        QString reason = job->errorString().trimmed();
        if (http && status >= 400) {
            reason = i18nc("@info the reason a download failed, and the server's answer", "%1 (HTTP status %2)", reason, status);
        }
        return reason;
    }
    if (http && status >= 400) {
        return i18nc("@info the reason a download failed", "The server answered with HTTP status %1.", status);
    }
    if (announced > 0 && received < announced) {
        return i18nc("@info the reason a download failed", "The transfer ended after %1 of %2 bytes.", received, announced);
    }
    // A server that was never reached gives neither an error nor a status.
    if (http && status == 0) {
        return i18nc("@info the reason a download failed", "The server could not be reached.");
    }
    if (!target->flush()) {
        return target->errorString();
    }
    return QString();
}

void ParseWorker::stop()
{
    shouldStop.storeRelaxed(1);
}

void ParseWorker::stopThread(ParseWorker *worker, const QUrl &file)
{
    QThread *thread = worker->thread();
    thread->quit();
    const QDeadlineTimer deadline(StopWaitMilliseconds);
    do {
        worker->stop();
    } while (!thread->wait(QDeadlineTimer(StopRepeatMilliseconds)) && !deadline.hasExpired());
    if (thread->isFinished()) {
        delete worker;
        return;
    }
    qWarning() << "parse thread still busy, leaving it to end on its own:" << file;
    worker->deleteLater();
    thread->setParent(nullptr);
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
}

void ParseWorker::parse(const QUrl &url, const QStringList &allocators)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, "parse", Qt::AutoConnection, Q_ARG(QUrl, url), Q_ARG(QStringList, allocators));
        return;
    }

    shouldStop.storeRelaxed(0);
    const auto handOver = qScopeGuard([this] {
        releaseToOtherThread(this);
    });

    QString localPath;
    std::unique_ptr<QTemporaryFile> download;
    if (url.isLocalFile()) {
        localPath = url.toLocalFile();
    } else {
        download = std::make_unique<QTemporaryFile>();
        const QString reason = download->open() ? fetch(url, download.get()) : download->errorString();
        if (!reason.isEmpty()) {
            Q_EMIT error(i18n("Download Failed"),
                         i18n("Failed to download remote massif data file <i>%1</i>.<br>%2", url.toString().toHtmlEscaped(), reason.toHtmlEscaped()));
            return;
        }
        localPath = download->fileName();
    }

    // The messages are rich text; whatever comes from the file or its name is escaped.
    // A download is named by its URL, not by the temporary file that holds it.
    const QString shownName = (url.isLocalFile() ? localPath : url.toString()).toHtmlEscaped();
    const QString readFailedMessage = i18n("Could not open file <i>%1</i> for reading.", shownName);
    // Only regular files: opening a FIFO would block this thread for good, and
    // directories or devices hold no massif data.
    if (!QFileInfo(localPath).isFile()) {
        Q_EMIT error(i18n("Read Failed"), readFailedMessage);
        return;
    }
    const KCompressionDevice::CompressionType compression = compressionOf(localPath);
    KCompressionDevice device(localPath, compression);
    if (!device.open(QIODevice::ReadOnly)) {
        Q_EMIT error(i18n("Read Failed"), readFailedMessage);
        return;
    }

    // Decompression runs ahead on a second thread while this one parses.
    ReadAheadDevice input(&device);
    input.open(QIODevice::ReadOnly);

    Parser parser;
    Q_EMIT progressRange(0, 100);
    connect(&parser, &Parser::progress, this, &ParseWorker::progress);

    std::unique_ptr<FileData> data(parser.parse(&input, allocators, &shouldStop));
    bool readFailed = parser.readFailed();
    if (!data && !readFailed && !shouldStop.loadRelaxed() && compression != KCompressionDevice::None) {
        // Corrupt compressed data often decompresses into a malformed line before
        // the stream's checks fail, and a cut stream into a cut line: the stream
        // is the cause then, not the line.
        readFailed = !readsToEnd(&input, shouldStop);
    }
    if (readFailed && !shouldStop.loadRelaxed()) {
        // A broken or truncated compressed file ends early, or with garbage: that is
        // neither the end of the data nor a fault of the line where reading stopped.
        const QString &path = shownName;
        QString message;
        if (compression == KCompressionDevice::None) {
            message = i18n("Could not read file <i>%1</i> to its end: %2", path, input.errorString().toHtmlEscaped());
        } else if (input.failure() == ReadAheadDevice::SourceEndedEarly) {
            message = i18n("Could not read file <i>%1</i> to its end: the compressed data ends early.", path);
        } else {
            message = i18n("Could not read file <i>%1</i> to its end: the compressed data is corrupt.", path);
        }
        Q_EMIT error(i18n("Read Failed"), message);
    } else if (data) {
        if (!data->snapshots().isEmpty()) {
            Q_EMIT progress(100);
            releaseToOtherThread(data.get());
            Q_EMIT finished(url, data.release());
        } else {
            QString message = i18n("Empty data file <i>%1</i>.", url.toString().toHtmlEscaped());
            // A file cut inside its first snapshot is empty for that reason.
            if (!data->warning().isEmpty()) {
                message += QLatin1String("<br>") + data->warning().toHtmlEscaped();
            }
            Q_EMIT error(i18n("Empty Data File"), message);
        }
    } else if (!shouldStop.loadRelaxed()) {
        // Bytes of a binary file say nothing to the reader and only garble the page.
        const QString lineText = isBinary(parser.errorLineText()) ? i18n("not a massif file: line %1 is binary data", parser.errorLine())
                                                                  : shownLine(parser.errorLineText()).toHtmlEscaped();
        Q_EMIT error(i18n("Parser Failed"),
                     i18n("Could not parse file <i>%1</i>.<br>Parse error in line %2:<br>%3", url.toString().toHtmlEscaped(), parser.errorLine(), lineText));
    }
}
