/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_CSVWRITER_H
#define MASSIF_CSVWRITER_H

#include <QByteArray>
#include <QStringList>

class QIODevice;

namespace Massif {

/**
 * Writes comma-separated values as RFC 4180 gives them, in UTF-8: a field
 * holding a comma, a double quote, a line break or outer blanks is enclosed in
 * double quotes, with its quotes doubled; records end in CR LF.
 */
class CsvWriter
{
public:
    explicit CsvWriter(QIODevice *device);

    void writeRow(const QStringList &fields);
    /// Whether every row so far reached the device whole.
    bool isOk() const;

    /// One field as it stands in a record.
    static QByteArray field(const QString &text);
    /// Label bytes from a profile as text: invalid UTF-8 becomes U+FFFD.
    static QString text(const QByteArray &bytes);

private:
    QIODevice *m_device;
    bool m_ok = true;
};

} // namespace Massif

#endif
