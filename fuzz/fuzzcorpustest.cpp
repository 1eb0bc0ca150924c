/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

// Every input the fuzzer ever found a fault with, and every fixture, through
// the fuzzer's code path: parse with and without allocators, write and check
// the dot graphs.

#include "fuzzinput.h"

#include <QDir>
#include <QStandardPaths>
#include <QTest>

class FuzzCorpusTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
    }

    void inputs_data()
    {
        QTest::addColumn<QString>("path");
        const QStringList folders = {
            QStringLiteral(QUILLMAP_FUZZ_REGRESSIONS_DIR),
            QStringLiteral(QUILLMAP_FIXTURES_DIR),
            QStringLiteral(QUILLMAP_FIXTURES_DIR "/malformed"),
        };
        for (const QString &folder : folders) {
            const auto files = QDir(folder).entryInfoList(QDir::Files);
            for (const QFileInfo &file : files) {
                QTest::newRow(qPrintable(file.fileName())) << file.filePath();
            }
        }
    }

    void inputs()
    {
        QFETCH(QString, path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        processFuzzInput(file.readAll());
    }
};

QTEST_GUILESS_MAIN(FuzzCorpusTest)

#include "fuzzcorpustest.moc"
