/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef QUILLMAP_BENCH_RESIDENTMEMORY_H
#define QUILLMAP_BENCH_RESIDENTMEMORY_H

#include <QFile>
#include <QList>

// The process's resident memory now, in bytes (Linux).
inline qint64 residentBytes()
{
    QFile status(QStringLiteral("/proc/self/statm"));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QList<QByteArray> fields = status.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() * 4096 : 0;
}

#endif
