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

    /// Makes a running parse end without a report; callable from any thread.
    void stop();

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
