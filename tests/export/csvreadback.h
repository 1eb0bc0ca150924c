/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef CSVREADBACK_H
#define CSVREADBACK_H

#include <QJsonArray>
#include <QJsonDocument>
#include <QList>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

/// The records of a CSV file as Python's csv module reads them, strictly as
/// UTF-8; an empty list with @p ok false when Python is missing or fails.
inline QList<QStringList> pythonCsvRows(const QString &fileName, bool *ok)
{
    *ok = false;
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty()) {
        return {};
    }
    static const QString script = QStringLiteral("import csv, json, sys\n"
                                                 "with open(sys.argv[1], newline='', encoding='utf-8', errors='strict') as f:\n"
                                                 "    sys.stdout.write(json.dumps(list(csv.reader(f, strict=True))))\n");
    QProcess process;
    process.start(python, {QStringLiteral("-c"), script, fileName});
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning() << process.readAllStandardError();
        return {};
    }
    QList<QStringList> rows;
    const QJsonArray records = QJsonDocument::fromJson(process.readAllStandardOutput()).array();
    for (const QJsonValue &record : records) {
        QStringList fields;
        const QJsonArray values = record.toArray();
        for (const QJsonValue &value : values) {
            fields << value.toString();
        }
        rows << fields;
    }
    *ok = true;
    return rows;
}

#endif
