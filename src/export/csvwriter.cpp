/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "csvwriter.h"

#include <QIODevice>

namespace Massif {

CsvWriter::CsvWriter(QIODevice *device) : m_device(device)
{
}

QByteArray CsvWriter::field(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    // Spreadsheets trim unquoted outer blanks; quoted, they stay.
    const bool quote = bytes.contains(',') || bytes.contains('"') || bytes.contains('\n') || bytes.contains('\r') ||
        (!bytes.isEmpty() && (bytes.front() == ' ' || bytes.back() == ' ' || bytes.front() == '\t' || bytes.back() == '\t'));
    if (!quote) {
        return bytes;
    }
    QByteArray quoted;
    quoted.reserve(bytes.size() + 2);
    quoted += '"';
    for (const char c : bytes) {
        if (c == '"') {
            quoted += '"';
        }
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

QString CsvWriter::text(const QByteArray &bytes)
{
    return QString::fromUtf8(bytes);
}

void CsvWriter::writeRow(const QStringList &fields)
{
    QByteArray record;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            record += ',';
        }
        record += field(fields.at(i));
    }
    record += "\r\n";
    if (m_device->write(record) != record.size()) {
        m_ok = false;
    }
}

bool CsvWriter::isOk() const
{
    return m_ok;
}

} // namespace Massif
