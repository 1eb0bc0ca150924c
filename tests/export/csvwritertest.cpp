/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "csvwriter.h"
#include "csvreadback.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using Massif::CsvWriter;

class CsvWriterTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void quoting_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("field");
        QTest::newRow("plain") << QStringLiteral("malloc") << QByteArrayLiteral("malloc");
        QTest::newRow("empty") << QString() << QByteArray();
        QTest::newRow("comma") << QStringLiteral("std::map<int, int>") << QByteArrayLiteral("\"std::map<int, int>\"");
        QTest::newRow("quotes doubled") << QStringLiteral("say \"hi\"") << QByteArrayLiteral("\"say \"\"hi\"\"\"");
        QTest::newRow("line feed") << QStringLiteral("a\nb") << QByteArrayLiteral("\"a\nb\"");
        QTest::newRow("carriage return") << QStringLiteral("a\rb") << QByteArrayLiteral("\"a\rb\"");
        QTest::newRow("outer blank") << QStringLiteral(" lead") << QByteArrayLiteral("\" lead\"");
        QTest::newRow("inner blank") << QStringLiteral("a b") << QByteArrayLiteral("a b");
        QTest::newRow("UTF-8") << QStringLiteral("größe_ü")
                               << QByteArrayLiteral("gr\xc3\xb6\xc3\x9f"
                                                    "e_\xc3\xbc");
    }

    void quoting()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, field);
        QCOMPARE(CsvWriter::field(text), field);
    }

    // Whatever the labels hold, a strict reader gets back exactly what was written.
    void pythonReadsBack_data()
    {
        QTest::addColumn<QList<QByteArray>>("labels");
        QTest::newRow("commas and quotes") << QList<QByteArray> {"foo(std::pair<int, char>)", "he said \"no\"", "\"", ","};
        QTest::newRow("line breaks") << QList<QByteArray> {"two\nlines", "cr\rlf\r\n", "\n"};
        QTest::newRow("invalid UTF-8") << QList<QByteArray> {"bad \xff\xfe byte", "cut \xc3", "\xe2\x82"};
        QTest::newRow("everything") << QList<QByteArray> {"a,\"b\"\n\xff", "", " x ", "\xc3\xa9t\xc3\xa9"};
    }

    void pythonReadsBack()
    {
        QFETCH(QList<QByteArray>, labels);
        QTemporaryDir dir;
        const QString fileName = dir.filePath(QStringLiteral("out.csv"));
        QList<QStringList> expected;
        {
            QFile file(fileName);
            QVERIFY(file.open(QIODevice::WriteOnly));
            CsvWriter writer(&file);
            for (qsizetype i = 0; i < labels.size(); ++i) {
                const QStringList row {QString::number(i), CsvWriter::text(labels.at(i)), QString::number(quint64(1) << (40 + i))};
                writer.writeRow(row);
                expected << row;
            }
            QVERIFY(writer.isOk());
        }
        bool ok = false;
        const QList<QStringList> rows = pythonCsvRows(fileName, &ok);
        if (!ok && QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty()) {
            QSKIP("python3 is not installed");
        }
        QVERIFY(ok);
        QCOMPARE(rows, expected);
        // Invalid bytes arrive as the replacement character, never dropped.
        for (qsizetype i = 0; i < labels.size(); ++i) {
            QCOMPARE(rows.at(i).at(1).contains(QChar::ReplacementCharacter), QString::fromUtf8(labels.at(i)).toUtf8() != labels.at(i));
        }
    }

    void failedWriteIsReported()
    {
        QBuffer buffer;
        buffer.open(QIODevice::ReadOnly); // not writable
        CsvWriter writer(&buffer);
        writer.writeRow({QStringLiteral("a")});
        QVERIFY(!writer.isOk());
    }
};

QTEST_GUILESS_MAIN(CsvWriterTest)

#include "csvwritertest.moc"
