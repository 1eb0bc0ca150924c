/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "csvexport.h"
#include "csvreadback.h"
#include "filedata.h"
#include "parser.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using Massif::CsvExport;

namespace {

std::unique_ptr<Massif::FileData> parseFixture(const QString &name)
{
    QFile file(QStringLiteral(QUILLMAP_FIXTURES_DIR "/") + name);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    Massif::Parser parser;
    return std::unique_ptr<Massif::FileData>(parser.parse(&file));
}

struct TreeLine
{
    int depth = 0;
    quint64 bytes = 0;
    QString label;
};

/// The heap tree lines of snapshot @p number as the file writes them: one
/// blank of indentation per level, "nK: BYTES LABEL".
QList<TreeLine> treeLinesFromFile(const QString &name, int number)
{
    QFile file(QStringLiteral(QUILLMAP_FIXTURES_DIR "/") + name);
    file.open(QIODevice::ReadOnly);
    QList<TreeLine> lines;
    bool inSnapshot = false;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().chopped(1);
        if (line.startsWith("snapshot=")) {
            inSnapshot = line.mid(9).toInt() == number;
            continue;
        }
        const QByteArray trimmed = line.trimmed();
        if (!inSnapshot || !trimmed.startsWith('n') || !trimmed.contains(": ")) {
            continue;
        }
        const qsizetype depth = line.indexOf('n');
        const qsizetype colon = line.indexOf(": ", depth);
        const qsizetype space = line.indexOf(' ', colon + 2);
        lines.append({int(depth), line.mid(colon + 2, space - colon - 2).toULongLong(), QString::fromUtf8(line.mid(space + 1))});
    }
    return lines;
}

QList<QStringList> exported(const std::function<bool(QIODevice *)> &write, bool *ok)
{
    QTemporaryDir dir;
    const QString fileName = dir.filePath(QStringLiteral("export.csv"));
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || !write(&file)) {
        *ok = false;
        return {};
    }
    file.close();
    return pythonCsvRows(fileName, ok);
}

} // namespace

class CsvExportTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty()) {
            QSKIP("python3 is not installed");
        }
    }

    void fixtures_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::newRow("simple") << QStringLiteral("simple.massif");
        QTest::newRow("templates, commas in names") << QStringLiteral("templates.massif");
        QTest::newRow("sites at several addresses") << QStringLiteral("sites.massif");
        QTest::newRow("many functions") << QStringLiteral("many.massif");
    }

    void heapTree_data()
    {
        fixtures_data();
    }

    // Every line of the peak snapshot's tree, in the file's order and depth, with its bytes.
    void heapTree()
    {
        QFETCH(QString, fixture);
        auto data = parseFixture(fixture);
        QVERIFY(data);
        const Massif::SnapshotItem *peak = data->peak();
        bool ok = false;
        const QList<QStringList> rows = exported(
            [&peak](QIODevice *device) {
                return CsvExport::writeHeapTree(peak, device);
            },
            &ok);
        QVERIFY(ok);
        QList<TreeLine> lines = treeLinesFromFile(fixture, peak->number());
        // An empty below-threshold summary is not kept as a node of the tree.
        lines.removeIf([](const TreeLine &line) {
            return line.bytes == 0 && line.label.contains(QLatin1String("below massif's threshold"));
        });
        QVERIFY(!lines.isEmpty());
        QCOMPARE(
            rows.first(),
            QStringList({QStringLiteral("depth"), QStringLiteral("function"), QStringLiteral("location"), QStringLiteral("bytes"), QStringLiteral("share")}));
        QCOMPARE(rows.size() - 1, lines.size());
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QStringList &row = rows.at(i + 1);
            QCOMPARE(row.size(), 5);
            QCOMPARE(row.at(0).toInt(), lines.at(i).depth);
            QVERIFY2(lines.at(i).label.contains(row.at(1)), qPrintable(row.at(1)));
            QVERIFY2(lines.at(i).label.contains(row.at(2)), qPrintable(row.at(2)));
            QCOMPARE(row.at(3).toULongLong(), lines.at(i).bytes);
            QCOMPARE(row.at(4).toDouble(), std::round(10000.0 * double(lines.at(i).bytes) / double(lines.first().bytes)) / 100);
        }
    }

    void allocationSites_data()
    {
        fixtures_data();
    }

    // Each site's peak is what its nodes at the top of its peak snapshot's tree hold in the file.
    void allocationSites()
    {
        QFETCH(QString, fixture);
        auto data = parseFixture(fixture);
        QVERIFY(data);
        bool ok = false;
        const QList<QStringList> rows = exported(
            [&data](QIODevice *device) {
                return CsvExport::writeAllocationSites(data.get(), device);
            },
            &ok);
        QVERIFY(ok);
        QCOMPARE(rows.first(),
                 QStringList({QStringLiteral("function"), QStringLiteral("location"), QStringLiteral("peak bytes"), QStringLiteral("peak snapshot")}));
        QVERIFY(rows.size() > 1);
        quint64 previous = std::numeric_limits<quint64>::max();
        for (qsizetype i = 1; i < rows.size(); ++i) {
            const QStringList &row = rows.at(i);
            QCOMPARE(row.size(), 4);
            const quint64 peak = row.at(2).toULongLong();
            QVERIFY(peak <= previous);
            previous = peak;
            quint64 sum = 0;
            const QList<TreeLine> lines = treeLinesFromFile(fixture, row.at(3).toInt());
            for (const TreeLine &line : lines) {
                // A site is one function at one location, whatever the code address.
                const bool sameSite = row.at(2).isEmpty() || (line.label.contains(row.at(0)) && line.label.contains(row.at(1)));
                if (line.depth == 1 && sameSite) {
                    sum += line.bytes;
                }
            }
            QVERIFY2(sum >= peak, qPrintable(row.join(QLatin1Char('|'))));
        }
    }

    void snapshotOfNode()
    {
        auto data = parseFixture(QStringLiteral("simple.massif"));
        const Massif::SnapshotItem *peak = data->peak();
        const Massif::TreeLeafItem *leaf = peak->heapTree();
        while (!leaf->children().isEmpty()) {
            leaf = leaf->children().constLast();
        }
        QCOMPARE(CsvExport::snapshotOf(data.get(), leaf), peak);
        QCOMPARE(CsvExport::snapshotOf(data.get(), nullptr), nullptr);
    }
};

QTEST_GUILESS_MAIN(CsvExportTest)

#include "csvexporttest.moc"
