/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_PARSEWORKER_H
#define MASSIF_PARSEWORKER_H

#include <QAtomicInt>
#include <QObject>
#include <QStringList>
#include <QUrl>

namespace Massif {

class FileData;

/**
 * Loads one massif file on the thread it lives on: fetches remote files,
 * decompresses, parses, and reports the result or an error.
 */
class ParseWorker : public QObject
{
    Q_OBJECT
public:
    explicit ParseWorker(QObject *parent = nullptr);
    ~ParseWorker() override;

    /// Makes a running parse end without a report; callable from any thread.
    void stop();

    /// Stops the worker's parse, ends its thread and deletes both. A parse
    /// clears the stop flag when it begins, so the stop is given again until
    /// the thread has ended. A download does not notice it: a thread still busy
    /// after StopWaitMilliseconds is left to end on its own and delete itself
    /// (its parse then stops at its first line and delivers nothing).
    /// A result sent just before the stop may still be queued for its receiver.
    static void stopThread(ParseWorker *worker, const QUrl &file);

    /// Longest wait for a stopped parse thread before it is left to end on its own.
    static constexpr int StopWaitMilliseconds = 5000;
    /// How often a stopped parse is told again to stop while it is waited for.
    static constexpr int StopRepeatMilliseconds = 10;

Q_SIGNALS:
    /// The receiver takes ownership of @p data.
    void finished(const QUrl &url, Massif::FileData *data);
    void error(const QString &error, const QString &message);
    void progressRange(int min, int max);
    void progress(int value);

public Q_SLOTS:
    void parse(const QUrl &url, const QStringList &allocators);

private:
    QAtomicInt shouldStop;
};

} // namespace Massif

#endif
