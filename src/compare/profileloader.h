/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_PROFILELOADER_H
#define MASSIF_PROFILELOADER_H

#include <QObject>
#include <QStringList>
#include <QUrl>

namespace Massif {

class FileData;
class ParseWorker;

/**
 * Reads one massif file on a thread of its own, as a document does. Being
 * destroyed stops the parse and waits for its thread; nothing is reported
 * afterwards.
 */
class ProfileLoader : public QObject
{
    Q_OBJECT
public:
    ProfileLoader(const QUrl &file, const QStringList &customAllocators, QObject *parent = nullptr);
    ~ProfileLoader() override;

    QUrl file() const
    {
        return m_file;
    }

Q_SIGNALS:
    /// The receiver takes ownership of @p data.
    void loaded(Massif::FileData *data);
    void failed(const QString &title, const QString &message);
    void progressRange(int minimum, int maximum);
    void progress(int value);

private Q_SLOTS:
    void workerFinished(const QUrl &url, Massif::FileData *data);
    void workerFailed(const QString &title, const QString &message);

private:
    void stop();

    ParseWorker *m_worker = nullptr;
    QUrl m_file;
};

} // namespace Massif

#endif
