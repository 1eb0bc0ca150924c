/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "msprintreader.h"

#include "bytesize.h"
#include "filedata.h"
#include "foldedstacks.h"
#include "labelpieces.h"
#include "parser.h"
#include "plaintext.h"
#include "report.h"
#include "reportwriter.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <KCompressionDevice>
#include <KLocalizedString>

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QStandardPaths>
#include <QTest>

#include <functional>
#include <memory>
#include <optional>

using namespace Massif;

namespace {

QString fixture(const QString &name)
{
    return QStringLiteral(QUILLMAP_FIXTURES_DIR "/") + name;
}

std::unique_ptr<FileData> parseFile(const QString &path, const QStringList &allocators = {})
{
    KCompressionDevice device(path);
    if (!device.open(QIODevice::ReadOnly)) {
        return nullptr;
    }
    Parser parser;
    return std::unique_ptr<FileData>(parser.parse(&device, allocators));
}

std::unique_ptr<FileData> parseBytes(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    Parser parser;
    return std::unique_ptr<FileData>(parser.parse(&buffer));
}

QJsonObject jsonReport(const Report &report)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(ReportWriter::create(ReportWriter::Json)->write(report), &error);
    if (error.error != QJsonParseError::NoError) {
        qWarning() << "invalid JSON:" << error.errorString();
    }
    return document.object();
}

QString textReport(const Report &report, ReportWriter::Format format = ReportWriter::Text)
{
    return QString::fromUtf8(ReportWriter::create(format)->write(report));
}

QByteArray siteKey(const QJsonObject &site)
{
    if (site.value(QStringLiteral("belowThreshold")).toBool()) {
        return QByteArray();
    }
    const QByteArray location = site.value(QStringLiteral("location")).toString().toUtf8();
    return site.value(QStringLiteral("function")).toString().toUtf8() + (location.isEmpty() ? QByteArray() : " (" + location + ')');
}

bool hasControlCharacters(const QString &text, bool allowLineBreaks)
{
    return std::any_of(text.cbegin(), text.cend(), [allowLineBreaks](QChar c) {
        return (c.unicode() < 0x20 && !(allowLineBreaks && c == QLatin1Char('\n'))) || (c.unicode() >= 0x7f && c.unicode() <= 0x9f);
    });
}

// Markup, entities, quotes, backslashes, separators of the output formats,
// control bytes, a terminal escape and bytes that are no UTF-8.
const QByteArray hostileFunction = QByteArrayLiteral("<b>bold</b>&amp;\"q\"\\x|y;z`tick`*em*[l](u)");
const QByteArray controlFunction = QByteArrayLiteral("ctl\x01\x1b[31mred\x7f"
                                                     "bad\xff\xfe\xc3(");
const QByteArray hostileCommand = QByteArrayLiteral("./<i>prog</i> \"q\" %1 \x1b[2J \xff\xfe t\xc3\xa9st | `x`");

QByteArray hostileProfile()
{
    const QByteArray tree = "n3: 3000 (heap allocation functions) malloc/new/new[], --alloc-fns, etc.\n"
                            " n1: 2000 0x1: " +
        hostileFunction +
        " (<i>f</i>.c:1)\n  n0: 2000 0x2: main (m.c:1)\n"
        " n1: 900 0x3: " +
        controlFunction +
        " (x.c:2)\n  n0: 900 0x2: main (m.c:1)\n"
        " n0: 100 in 3 places, all below massif's threshold (1.00%)\n";
    return "desc: --opt=\x1b]0;title\x07\ncmd: " + hostileCommand +
        "\ntime_unit: i\n"
        "#-----------\nsnapshot=0\n#-----------\ntime=10\nmem_heap_B=3000\nmem_heap_extra_B=8\nmem_stacks_B=0\nheap_tree=peak\n" +
        tree;
}

quint32 msPrintSnapshotNumber(const MsPrintOutput &output, const QString &choice)
{
    if (choice == QLatin1String("peak")) {
        return output.peak;
    }
    if (choice == QLatin1String("last")) {
        return quint32(output.snapshotCount - 1);
    }
    return choice.toUInt();
}

quint64 magnitude(qint64 value)
{
    return value < 0 ? quint64(-value) : quint64(value);
}

/// The report of @p current compared with @p baseline, snapshots chosen as on the command line.
std::optional<Report> comparedReport(const FileData &baseline,
                                     const QString &baselineChoice,
                                     const FileData &current,
                                     const QString &currentChoice,
                                     ReportOptions options = ReportOptions())
{
    if (!options.setSnapshot(currentChoice) || !options.setBaselineSnapshot(baselineChoice)) {
        return std::nullopt;
    }
    Report report = Report::build(current, QStringLiteral("current.massif"), options);
    report.compareWith(current, baseline, QStringLiteral("baseline.massif"));
    return report;
}

} // namespace

class ReportTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void agreesWithMsPrint_data();
    void agreesWithMsPrint();
    void treeFilters_data();
    void treeFilters();
    void foldedLinesSumToSnapshot_data();
    void foldedLinesSumToSnapshot();
    void hostileTextsInEveryFormat();
    void comparisonAgreesWithMsPrint_data();
    void comparisonAgreesWithMsPrint();
    void treeChangesAddUp_data();
    void treeChangesAddUp();
    void hostileTextsInComparison();
    void nothingHeldAtTheEnd();
    void byteSizes_data();
    void byteSizes();
    void snapshotChoice_data();
    void snapshotChoice();
    void errorMessagesAsPlainText_data();
    void errorMessagesAsPlainText();
};

void ReportTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    KLocalizedString::setApplicationDomain("quillmap");
    QLocale::setDefault(QLocale::c());
}

void ReportTest::agreesWithMsPrint_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("plainFile");
    const QStringList names {
        QStringLiteral("simple.massif"),
        QStringLiteral("simple-detailed.massif"),
        QStringLiteral("simple-depth.massif"),
        QStringLiteral("time-b.massif"),
        QStringLiteral("time-ms.massif"),
        QStringLiteral("pages.massif"),
        QStringLiteral("stacks.massif"),
        QStringLiteral("custom-alloc.massif"),
        QStringLiteral("custom-alloc-fn.massif"),
        QStringLiteral("templates.massif"),
        QStringLiteral("many.massif"),
        QStringLiteral("sites.massif"),
        QStringLiteral("../../examples/massif.out.example"),
    };
    for (const QString &name : names) {
        QTest::newRow(qPrintable(name)) << fixture(name) << fixture(name);
    }
    QTest::newRow("gzip") << fixture(QStringLiteral("simple.massif.gz")) << fixture(QStringLiteral("simple.massif"));
    QTest::newRow("zstd") << fixture(QStringLiteral("templates.massif.zst")) << fixture(QStringLiteral("templates.massif"));
}

// The peak, the top of its tree and the allocation sites, in JSON and in
// text, against what ms_print shows of the same file.
void ReportTest::agreesWithMsPrint()
{
    QFETCH(QString, file);
    QFETCH(QString, plainFile);
    MsPrintOutput expected;
    if (!readMsPrint(plainFile, &expected)) {
        QSKIP("ms_print (valgrind) is not available");
    }
    const std::unique_ptr<FileData> data = parseFile(file);
    QVERIFY(data);

    ReportOptions options;
    options.topSites = 1000;
    options.minShare = 0.0;
    const Report report = Report::build(*data, file, options);
    const QJsonObject json = jsonReport(report);
    QCOMPARE(json.value(QStringLiteral("format")).toInt(), 1);

    QCOMPARE(json.value(QStringLiteral("snapshots")).toInt(), expected.snapshotCount);
    // A detailed snapshot whose tree is a bare root of 0 bytes has no tree here.
    const int detailed = int(std::count_if(expected.snapshots.cbegin(), expected.snapshots.cend(), [](const MsPrintSnapshot &s) {
        return s.rootBytes > 0 || s.emptyEntries;
    }));
    QCOMPARE(json.value(QStringLiteral("detailedSnapshots")).toInt(), detailed);

    const MsPrintSnapshot peak = expected.snapshots.value(expected.peak);
    const QJsonObject jsonPeak = json.value(QStringLiteral("peak")).toObject();
    QCOMPARE(jsonPeak.value(QStringLiteral("snapshot")).toInteger(), qint64(expected.peak));
    QCOMPARE(jsonPeak.value(QStringLiteral("heapBytes")).toInteger(), qint64(peak.heap));
    QCOMPARE(jsonPeak.value(QStringLiteral("bytes")).toInteger(), qint64(peak.heap + peak.stacks));

    // The top of the peak's tree, in order, with its bytes and labels.
    const QJsonObject tree = json.value(QStringLiteral("tree")).toObject();
    QCOMPARE(tree.value(QStringLiteral("snapshot")).toInteger(), qint64(expected.peak));
    const QJsonObject root = tree.value(QStringLiteral("root")).toObject();
    QCOMPARE(root.value(QStringLiteral("bytes")).toInteger(), peak.rootBytes);
    const QJsonArray children = root.value(QStringLiteral("children")).toArray();
    QCOMPARE(children.size(), peak.topLevel.size());
    const QString text = textReport(report);
    for (qsizetype i = 0; i < children.size(); ++i) {
        const QJsonObject child = children.at(i).toObject();
        QCOMPARE(child.value(QStringLiteral("bytes")).toInteger(), qint64(peak.topLevel.at(i).bytes));
        QCOMPARE(child.value(QStringLiteral("label")).toString().toUtf8(), peak.topLevel.at(i).label);
        // In the text: the share of the snapshot, computed here, and the entry without its address.
        const QString share = QString::number(double(peak.topLevel.at(i).bytes) * 100.0 / double(peak.heap + peak.stacks), 'f', 2) + QLatin1Char('%');
        const QString entry = QString::fromUtf8(msPrintSiteKey(peak.topLevel.at(i).label));
        const QRegularExpression line(QStringLiteral("^ *%1 +\\S+ \\S+  [├└]─ %2$").arg(QRegularExpression::escape(share), QRegularExpression::escape(entry)),
                                      QRegularExpression::MultilineOption);
        if (!entry.isEmpty()) {
            QVERIFY2(line.match(text).hasMatch(), qPrintable(line.pattern() + QLatin1Char('\n') + text));
        }
    }

    // All sites, largest first, with their peaks and where they peaked.
    const QList<MsPrintSite> sites = msPrintSites(expected);
    const QJsonArray jsonSites = json.value(QStringLiteral("topSites")).toArray();
    QCOMPARE(json.value(QStringLiteral("siteCount")).toInt(), sites.size());
    QCOMPARE(jsonSites.size(), sites.size());
    for (qsizetype i = 0; i < sites.size(); ++i) {
        const QJsonObject site = jsonSites.at(i).toObject();
        QCOMPARE(siteKey(site), sites.at(i).key);
        QCOMPARE(site.value(QStringLiteral("peakBytes")).toInteger(), qint64(sites.at(i).peakBytes));
        QCOMPARE(site.value(QStringLiteral("peakSnapshot")).toInteger(), qint64(sites.at(i).peakSnapshot));
    }
    // The text lists them in the same order, each with the snapshot of its peak.
    const QString sitesText = text.mid(text.indexOf(QLatin1String("Top allocation")));
    qsizetype position = 0;
    for (qsizetype i = 0; i < sites.size(); ++i) {
        const QString name = sites.at(i).key.isEmpty() ? QStringLiteral("below threshold") : QString::fromUtf8(sites.at(i).key);
        const QString expectedLine = QStringLiteral("%1. ").arg(i + 1);
        const qsizetype found = sitesText.indexOf(expectedLine, position);
        QVERIFY2(found >= 0, qPrintable(expectedLine));
        const QString line = sitesText.mid(found, sitesText.indexOf(QLatin1Char('\n'), found) - found);
        QVERIFY2(line.endsWith(QLatin1String("  ") + name), qPrintable(line));
        QVERIFY2(line.contains(QStringLiteral("at #%1,").arg(sites.at(i).peakSnapshot)), qPrintable(line));
        position = found + line.size();
    }
}

void ReportTest::treeFilters_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("allocators");
    QTest::addColumn<QString>("snapshot");
    QTest::addColumn<int>("depth");
    QTest::addColumn<double>("minShare");
    QTest::addColumn<QList<quint64>>("shown");
    QTest::addColumn<int>("omitted");
    QTest::addColumn<quint64>("omittedBytes");

    // Byte counts from the fixtures' description, read off the files.
    const QString custom = fixture(QStringLiteral("custom-alloc.massif"));
    QTest::newRow("first level, 1%") << custom << QStringList() << QStringLiteral("peak") << 1 << 1.0 << QList<quint64> {48824, 20000, 12144} << 1
                                     << quint64(216);
    QTest::newRow("first level, 20%") << custom << QStringList() << QStringLiteral("peak") << 1 << 20.0 << QList<quint64> {48824, 20000} << 2 << quint64(12360);
    QTest::newRow("two levels, 10%") << custom << QStringList() << QStringLiteral("41") << 2 << 10.0
                                     << QList<quint64> {48824, 20128, 16320, 12016, 20000, 20000, 12144, 9000} << 4 << quint64(3720);
    QTest::newRow("depth 0") << custom << QStringList() << QStringLiteral("peak") << 0 << 1.0 << QList<quint64> {} << 0 << quint64(0);
    QTest::newRow("no minimum") << custom << QStringList() << QStringLiteral("peak") << 1 << 0.0 << QList<quint64> {48824, 20000, 12144, 216} << 0
                                << quint64(0);
    // Folded as in the GUI: the callers of the allocator take its place.
    QTest::newRow("custom allocator") << custom << QStringList {QStringLiteral("my_pool_alloc")} << QStringLiteral("peak") << 1 << 1.0
                                      << QList<quint64> {20128, 20000, 16320, 12144, 12016} << 1 << quint64(576);
    QTest::newRow("two custom allocators") << custom << QStringList {QStringLiteral("my_pool_alloc"), QStringLiteral("xmalloc")} << QStringLiteral("peak") << 1
                                           << 1.0 << QList<quint64> {20128, 20000, 16320, 12016, 9000, 3000} << 1 << quint64(720);
    QTest::newRow("wildcard allocator") << custom << QStringList {QStringLiteral("my_pool_*")} << QStringLiteral("peak") << 1 << 1.0
                                        << QList<quint64> {20128, 20000, 16320, 12144, 12016} << 1 << quint64(576);
}

void ReportTest::treeFilters()
{
    QFETCH(QString, file);
    QFETCH(QStringList, allocators);
    QFETCH(QString, snapshot);
    QFETCH(int, depth);
    QFETCH(double, minShare);
    QFETCH(QList<quint64>, shown);
    QFETCH(int, omitted);
    QFETCH(quint64, omittedBytes);

    const std::unique_ptr<FileData> data = parseFile(file, allocators);
    QVERIFY(data);
    ReportOptions options;
    QVERIFY(options.setSnapshot(snapshot));
    options.depth = depth;
    options.minShare = minShare;
    options.allocators = allocators;
    const Report report = Report::build(*data, file, options);
    QVERIFY(report.chosen.hasTree);

    QList<quint64> bytes;
    int omittedCount = 0;
    quint64 omittedSum = 0;
    std::function<void(const Report::Node &)> walk = [&](const Report::Node &node) {
        omittedCount += node.omittedChildren;
        omittedSum += node.omittedBytes;
        for (const Report::Node &child : node.children) {
            bytes.append(child.bytes);
            walk(child);
        }
    };
    walk(report.tree);
    QCOMPARE(bytes, shown);
    QCOMPARE(omittedCount, omitted);
    QCOMPARE(omittedSum, omittedBytes);
}

void ReportTest::foldedLinesSumToSnapshot_data()
{
    QTest::addColumn<QString>("file");
    QDir dir(QStringLiteral(QUILLMAP_FIXTURES_DIR));
    const QStringList names = dir.entryList({QStringLiteral("*.massif*")}, QDir::Files, QDir::Name);
    for (const QString &name : names) {
        QTest::newRow(qPrintable(name)) << dir.filePath(name);
    }
    QTest::newRow("example") << fixture(QStringLiteral("../../examples/massif.out.example"));
    QTest::newRow("long label") << fixture(QStringLiteral("malformed/long-line.massif"));
    QTest::newRow("crlf") << fixture(QStringLiteral("malformed/crlf.massif"));
}

// Every snapshot of every fixture: one line per path, root first, self
// bytes that add up to the snapshot's heap and stacks.
void ReportTest::foldedLinesSumToSnapshot()
{
    QFETCH(QString, file);
    const std::unique_ptr<FileData> data = parseFile(file);
    QVERIFY(data);
    static const QRegularExpression lineFormat(QStringLiteral("^([^;\\n]+)(;[^;\\n]+)* ([1-9][0-9]*)$"));
    const QList<SnapshotItem *> snapshots = data->snapshots();
    for (const SnapshotItem *snapshot : snapshots) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(writeFoldedStacks(*snapshot, &buffer));
        quint64 sum = 0;
        const QList<QByteArray> lines = buffer.data().split('\n');
        QVERIFY(lines.last().isEmpty());
        for (qsizetype i = 0; i < lines.size() - 1; ++i) {
            const QString line = QString::fromUtf8(lines.at(i));
            const QRegularExpressionMatch match = lineFormat.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            sum += match.captured(3).toULongLong();
            if (snapshot->heapTree() && !line.startsWith(QLatin1String("(stacks) "))) {
                QVERIFY2(line.startsWith(QString::fromUtf8(foldedFrame(snapshot->heapTree()->label()))), qPrintable(line));
            }
        }
        QCOMPARE(sum, snapshot->cost());
    }
}

void ReportTest::hostileTextsInEveryFormat()
{
    const std::unique_ptr<FileData> data = parseBytes(hostileProfile());
    QVERIFY(data);
    ReportOptions options;
    const Report report = Report::build(*data, QStringLiteral("hostile\x1b[0m.massif"), options);

    // Text: shown as written, with what a terminal would act on replaced.
    const QString text = textReport(report);
    QVERIFY(!hasControlCharacters(text, true));
    QVERIFY(text.contains(QString::fromUtf8(hostileFunction) + QLatin1String(" (<i>f</i>.c:1)")));
    QVERIFY(text.contains(QStringLiteral("ctl\uFFFD\uFFFD[31mred\uFFFDbad\uFFFD\uFFFD\uFFFD(")));
    QVERIFY(text.contains(QStringLiteral("./<i>prog</i> \"q\" %1 \uFFFD[2J \uFFFD\uFFFD tést | `x`")));

    // Markdown: profile texts only inside code spans, whose fences outlast
    // the backticks inside; "|" escaped for the table.
    const QString markdown = textReport(report, ReportWriter::Markdown);
    QVERIFY(!hasControlCharacters(markdown, true));
    QVERIFY2(markdown.contains(QStringLiteral("| `` ./<i>prog</i> \"q\" %1 \uFFFD[2J \uFFFD\uFFFD tést \\| `x` `` |")), qPrintable(markdown));
    QVERIFY2(markdown.contains(QStringLiteral("``<b>bold</b>&amp;\"q\"\\x\\|y;z`tick`*em*[l](u) (<i>f</i>.c:1)``")), qPrintable(markdown));

    // JSON: valid, every string decoded back to the profile's text, invalid
    // UTF-8 replaced and control characters escaped.
    const QByteArray jsonBytes = ReportWriter::create(ReportWriter::Json)->write(report);
    QVERIFY(!jsonBytes.contains('\x1b'));
    QVERIFY(!jsonBytes.contains('\x01'));
    QVERIFY(jsonBytes.contains("\\u001b"));
    QJsonParseError error;
    const QJsonObject json = QJsonDocument::fromJson(jsonBytes, &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(json.value(QStringLiteral("command")).toString(), QString::fromUtf8(hostileCommand));
    QVERIFY(json.value(QStringLiteral("command")).toString().contains(QChar::ReplacementCharacter));
    const QJsonArray children =
        json.value(QStringLiteral("tree")).toObject().value(QStringLiteral("root")).toObject().value(QStringLiteral("children")).toArray();
    QCOMPARE(children.size(), 3);
    QCOMPARE(children.at(0).toObject().value(QStringLiteral("function")).toString(), QString::fromUtf8(hostileFunction));
    QCOMPARE(children.at(0).toObject().value(QStringLiteral("location")).toString(), QStringLiteral("<i>f</i>.c:1"));
    QCOMPARE(children.at(1).toObject().value(QStringLiteral("function")).toString(), QString::fromUtf8(controlFunction));
    const QJsonArray sites = json.value(QStringLiteral("topSites")).toArray();
    QCOMPARE(sites.at(0).toObject().value(QStringLiteral("function")).toString(), QString::fromUtf8(hostileFunction));

    // Folded stacks: a ";" inside a label is no frame boundary, and nothing unreadable remains.
    const SnapshotItem *peak = data->peak();
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(writeFoldedStacks(*peak, &buffer));
    const QString folded = QString::fromUtf8(buffer.data());
    QVERIFY(!hasControlCharacters(folded, true));
    const QStringList lines = folded.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines.at(0).count(QLatin1Char(';')), 2);
    QVERIFY2(lines.at(0).contains(QStringLiteral("<b>bold</b>&amp,\"q\"\\x|y,z`tick`*em*[l](u) (<i>f</i>.c:1);main (m.c:1) 2000")), qPrintable(folded));
}

void ReportTest::byteSizes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<quint64>("bytes");

    QTest::newRow("plain bytes") << QStringLiteral("1000") << true << quint64(1000);
    QTest::newRow("B") << QStringLiteral("512B") << true << quint64(512);
    QTest::newRow("MiB") << QStringLiteral("64MiB") << true << quint64(64) * 1024 * 1024;
    QTest::newRow("GB fraction") << QStringLiteral("1.5GB") << true << quint64(1500000000);
    QTest::newRow("GiB fraction") << QStringLiteral("1.5GiB") << true << quint64(1610612736);
    QTest::newRow("kB") << QStringLiteral("2kB") << true << quint64(2000);
    QTest::newRow("KiB lower case, blank") << QStringLiteral("2 kib") << true << quint64(2048);
    QTest::newRow("TiB") << QStringLiteral("1TiB") << true << (quint64(1) << 40);
    QTest::newRow("fraction rounded") << QStringLiteral("1.1KiB") << true << quint64(1126);
    QTest::newRow("zero") << QStringLiteral("0") << true << quint64(0);
    QTest::newRow("largest") << QStringLiteral("18446744073709551615") << true << quint64(18446744073709551615ULL);
    QTest::newRow("too large") << QStringLiteral("18446744073709551616") << false << quint64(0);
    QTest::newRow("too large in units") << QStringLiteral("20000000TiB") << false << quint64(0);
    QTest::newRow("empty") << QString() << false << quint64(0);
    QTest::newRow("negative") << QStringLiteral("-1") << false << quint64(0);
    QTest::newRow("unknown unit") << QStringLiteral("12XB") << false << quint64(0);
    QTest::newRow("ambiguous letter") << QStringLiteral("64M") << false << quint64(0);
    QTest::newRow("unit only") << QStringLiteral("MiB") << false << quint64(0);
    QTest::newRow("exponent") << QStringLiteral("1e6") << false << quint64(0);
    QTest::newRow("two numbers") << QStringLiteral("1 2MB") << false << quint64(0);
}

void ReportTest::byteSizes()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(quint64, bytes);
    quint64 parsed = 7;
    QCOMPARE(parseByteSize(text, &parsed), valid);
    QCOMPARE(parsed, valid ? bytes : quint64(7));
}

void ReportTest::snapshotChoice_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("choice");
    QTest::addColumn<quint32>("number");

    QTest::newRow("peak") << QStringLiteral("peak") << true << int(ReportOptions::PeakSnapshot) << 0u;
    QTest::newRow("last") << QStringLiteral("last") << true << int(ReportOptions::LastSnapshot) << 0u;
    QTest::newRow("number") << QStringLiteral("41") << true << int(ReportOptions::NumberedSnapshot) << 41u;
    QTest::newRow("zero") << QStringLiteral("0") << true << int(ReportOptions::NumberedSnapshot) << 0u;
    QTest::newRow("negative") << QStringLiteral("-1") << false << 0 << 0u;
    QTest::newRow("plus sign") << QStringLiteral("+1") << false << 0 << 0u;
    QTest::newRow("blank") << QStringLiteral(" 1") << false << 0 << 0u;
    QTest::newRow("too large") << QStringLiteral("4294967296") << false << 0 << 0u;
    QTest::newRow("upper case") << QStringLiteral("PEAK") << false << 0 << 0u;
    QTest::newRow("empty") << QString() << false << 0 << 0u;
}

void ReportTest::snapshotChoice()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, choice);
    QFETCH(quint32, number);
    ReportOptions options;
    QCOMPARE(options.setSnapshot(text), valid);
    if (valid) {
        QCOMPARE(int(options.snapshot), choice);
        QCOMPARE(options.snapshotNumber, number);
        QCOMPARE(options.snapshotText(), text);
    }

    // Against a file: the numbered snapshot, the last one, or none.
    const std::unique_ptr<FileData> data = parseFile(fixture(QStringLiteral("simple.massif")));
    QVERIFY(data);
    const SnapshotItem *chosen = Report::chooseSnapshot(*data, options);
    QVERIFY(chosen);
    if (valid && choice == ReportOptions::NumberedSnapshot) {
        QCOMPARE(chosen->number(), number);
    } else if (valid && choice == ReportOptions::LastSnapshot) {
        QCOMPARE(chosen->number(), 53u);
    } else {
        QCOMPARE(chosen->number(), 41u);
    }
    options.setSnapshot(QStringLiteral("54"));
    QVERIFY(!Report::chooseSnapshot(*data, options));
}

void ReportTest::errorMessagesAsPlainText_data()
{
    QTest::addColumn<QString>("richText");
    QTest::addColumn<QString>("plainText");

    QTest::newRow("parse error") << QStringLiteral("Could not parse file <i>/x/a.massif</i>.<br>Parse error in line 7:<br>time=12x")
                                 << QStringLiteral("Could not parse file /x/a.massif.\nParse error in line 7:\ntime=12x");
    QTest::newRow("escaped markup") << QStringLiteral("Could not open file <i>&lt;b&gt;x&amp;lt;&quot;&#39;</i> for reading.")
                                    << QStringLiteral("Could not open file <b>x&lt;\"' for reading.");
    QTest::newRow("line break forms") << QStringLiteral("a<br/>b<BR />c") << QStringLiteral("a\nb\nc");
}

void ReportTest::errorMessagesAsPlainText()
{
    QFETCH(QString, richText);
    QFETCH(QString, plainText);
    QCOMPARE(plainTextOfMessage(richText), plainText);
}

void ReportTest::comparisonAgreesWithMsPrint_data()
{
    QTest::addColumn<QString>("baseline");
    QTest::addColumn<QString>("baselineChoice");
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("currentChoice");
    // A function whose only frame moved to another line, paired by its name,
    // and where it was; both_lines moved with two lines and stays apart.
    QTest::addColumn<QString>("movedFunction");
    QTest::addColumn<QString>("movedFrom");

    const QString small = fixture(QStringLiteral("compare-small.massif"));
    const QString large = fixture(QStringLiteral("compare-large.massif"));
    const QString peak = QStringLiteral("peak");
    QTest::newRow("peaks of two runs") << small << peak << large << peak << QStringLiteral("record") << QStringLiteral("compare.c:72");
    QTest::newRow("the other way") << large << peak << small << peak << QStringLiteral("record") << QStringLiteral("compare.c:304");
    QTest::newRow("chosen snapshots") << small << QStringLiteral("19") << large << QStringLiteral("39") << QStringLiteral("record")
                                      << QStringLiteral("compare.c:72");
    QTest::newRow("one run, two snapshots") << large << QStringLiteral("9") << large << peak << QString() << QString();
    // The last snapshot has no tree: everything of the current one is new.
    QTest::newRow("baseline without a tree") << small << QStringLiteral("last") << large << peak << QString() << QString();
}

// The changes of the peak and of the sites, against what ms_print shows of
// the two files; the moved entry against the fixtures' description.
void ReportTest::comparisonAgreesWithMsPrint()
{
    QFETCH(QString, baseline);
    QFETCH(QString, baselineChoice);
    QFETCH(QString, current);
    QFETCH(QString, currentChoice);
    QFETCH(QString, movedFunction);
    QFETCH(QString, movedFrom);

    MsPrintOutput msBaseline;
    MsPrintOutput msCurrent;
    if (!readMsPrint(baseline, &msBaseline) || !readMsPrint(current, &msCurrent)) {
        QSKIP("ms_print (valgrind) is not available");
    }
    const std::unique_ptr<FileData> baselineData = parseFile(baseline);
    const std::unique_ptr<FileData> currentData = parseFile(current);
    QVERIFY(baselineData && currentData);
    ReportOptions options;
    options.topSites = 1000;
    options.minShare = 0.0;
    const std::optional<Report> report = comparedReport(*baselineData, baselineChoice, *currentData, currentChoice, options);
    QVERIFY(report);
    const QJsonObject json = jsonReport(*report).value(QStringLiteral("comparison")).toObject();
    QVERIFY(!json.isEmpty());

    // The peaks, whatever snapshots are compared.
    const MsPrintSnapshot baselinePeak = msBaseline.snapshots.value(msBaseline.peak);
    const MsPrintSnapshot currentPeak = msCurrent.snapshots.value(msCurrent.peak);
    const qint64 peakChange = qint64(currentPeak.heap + currentPeak.stacks) - qint64(baselinePeak.heap + baselinePeak.stacks);
    QCOMPARE(json.value(QStringLiteral("peakChange")).toInteger(), peakChange);
    QCOMPARE(json.value(QStringLiteral("peakChangePercent")).toDouble(), double(peakChange) * 100.0 / double(baselinePeak.heap + baselinePeak.stacks));
    QCOMPARE(report->peakGrowth(), json.value(QStringLiteral("peakChangePercent")).toDouble());

    // The compared snapshots and their change.
    const quint32 baselineNumber = msPrintSnapshotNumber(msBaseline, baselineChoice);
    const quint32 currentNumber = msPrintSnapshotNumber(msCurrent, currentChoice);
    const MsPrintSnapshot before = msBaseline.snapshots.value(baselineNumber);
    const MsPrintSnapshot after = msCurrent.snapshots.value(currentNumber);
    QCOMPARE(json.value(QStringLiteral("baselineSnapshot")).toObject().value(QStringLiteral("snapshot")).toInteger(), qint64(baselineNumber));
    QCOMPARE(json.value(QStringLiteral("baselineSnapshot")).toObject().value(QStringLiteral("chosenAs")).toString(), baselineChoice);
    QCOMPARE(json.value(QStringLiteral("currentSnapshot")).toInteger(), qint64(currentNumber));
    QCOMPARE(json.value(QStringLiteral("change")).toInteger(), qint64(after.heap + after.stacks) - qint64(before.heap + before.stacks));

    // The sites of the two snapshots: every change, by its size either way.
    const QMap<QByteArray, quint64> beforeSites = msPrintSnapshotSites(before);
    const QMap<QByteArray, quint64> afterSites = msPrintSnapshotSites(after);
    QSet<QByteArray> keys;
    for (const QByteArray &key : beforeSites.keys() + afterSites.keys()) {
        keys.insert(key);
    }
    struct Change
    {
        QByteArray key;
        qint64 baselineBytes;
        qint64 currentBytes;
        bool operator==(const Change &other) const
        {
            return key == other.key && baselineBytes == other.baselineBytes && currentBytes == other.currentBytes;
        }
    };
    QList<Change> expected;
    int grown = 0;
    for (const QByteArray &key : std::as_const(keys)) {
        const qint64 was = qint64(beforeSites.value(key));
        const qint64 is = qint64(afterSites.value(key));
        if (was != is) {
            expected.append({key, was, is});
        }
        if (!key.isEmpty() && is > was && double(is - was) > 0.1 * double(was)) {
            ++grown;
        }
    }
    const QJsonArray jsonSites = json.value(QStringLiteral("topSiteChanges")).toArray();
    QCOMPARE(json.value(QStringLiteral("siteCount")).toInt(), keys.size());
    QCOMPARE(json.value(QStringLiteral("changedSiteCount")).toInt(), expected.size());
    QCOMPARE(json.value(QStringLiteral("grownSites")).toInt(), grown);
    QList<Change> actual;
    for (qsizetype i = 0; i < jsonSites.size(); ++i) {
        const QJsonObject site = jsonSites.at(i).toObject();
        const qint64 change = site.value(QStringLiteral("change")).toInteger();
        QCOMPARE(change, site.value(QStringLiteral("currentBytes")).toInteger() - site.value(QStringLiteral("baselineBytes")).toInteger());
        if (i > 0) {
            QVERIFY(magnitude(change) <= magnitude(jsonSites.at(i - 1).toObject().value(QStringLiteral("change")).toInteger()));
        }
        actual.append({siteKey(site), site.value(QStringLiteral("baselineBytes")).toInteger(), site.value(QStringLiteral("currentBytes")).toInteger()});
    }
    // Equal changes may come in any order.
    const auto bySize = [](const Change &a, const Change &b) {
        const quint64 sizeA = magnitude(a.currentBytes - a.baselineBytes);
        const quint64 sizeB = magnitude(b.currentBytes - b.baselineBytes);
        return sizeA != sizeB ? sizeA > sizeB : a.key < b.key;
    };
    std::sort(expected.begin(), expected.end(), bySize);
    std::sort(actual.begin(), actual.end(), bySize);
    QVERIFY(actual == expected);

    // The merged tree's root holds both roots.
    const QJsonObject tree = json.value(QStringLiteral("tree")).toObject();
    QCOMPARE(tree.value(QStringLiteral("baselineBytes")).toInteger(), std::max<qint64>(0, before.rootBytes));
    QCOMPARE(tree.value(QStringLiteral("currentBytes")).toInteger(), std::max<qint64>(0, after.rootBytes));
    QCOMPARE(tree.value(QStringLiteral("new")).toBool(), before.rootBytes <= 0);

    const QJsonArray children = tree.value(QStringLiteral("children")).toArray();
    int moved = 0;
    for (const QJsonValue &value : children) {
        const QJsonObject child = value.toObject();
        if (!child.value(QStringLiteral("moved")).toBool()) {
            continue;
        }
        ++moved;
        QCOMPARE(child.value(QStringLiteral("function")).toString(), movedFunction);
        QCOMPARE(splitLabelPieces(child.value(QStringLiteral("baselineLabel")).toString().toUtf8()).location, movedFrom.toUtf8());
        QVERIFY(child.value(QStringLiteral("location")).toString() != movedFrom);
        // Paired, not one side new and the other gone.
        QVERIFY(child.value(QStringLiteral("baselineBytes")).toInteger() > 0 && child.value(QStringLiteral("currentBytes")).toInteger() > 0);
    }
    QCOMPARE(moved, movedFunction.isEmpty() ? 0 : 1);

    // The text gives the engine's summary line and each change in the order of the JSON.
    const QString text = textReport(*report);
    QVERIFY2(text.contains(QLatin1String("\nChange:           ") + json.value(QStringLiteral("summary")).toString() + QLatin1Char('\n')), qPrintable(text));
    const QString changesText = text.mid(text.indexOf(QLatin1String("Largest site change")));
    for (qsizetype i = 0; i < jsonSites.size(); ++i) {
        const QByteArray key = siteKey(jsonSites.at(i).toObject());
        const QString name = key.isEmpty() ? QStringLiteral("below threshold") : QString::fromUtf8(key);
        const QRegularExpression line(QStringLiteral("^  *%1\\. .*  %2$").arg(i + 1).arg(QRegularExpression::escape(name)),
                                      QRegularExpression::MultilineOption);
        QVERIFY2(line.match(changesText).hasMatch(), qPrintable(line.pattern() + QLatin1Char('\n') + changesText));
    }
}

void ReportTest::treeChangesAddUp_data()
{
    QTest::addColumn<QString>("baselineChoice");
    QTest::addColumn<QString>("currentChoice");
    QTest::addColumn<int>("depth");
    QTest::addColumn<double>("minShare");

    QTest::newRow("everything") << QStringLiteral("peak") << QStringLiteral("peak") << 100 << 0.0;
    QTest::newRow("defaults") << QStringLiteral("peak") << QStringLiteral("peak") << 4 << 1.0;
    QTest::newRow("one level") << QStringLiteral("peak") << QStringLiteral("peak") << 1 << 1.0;
    QTest::newRow("root only") << QStringLiteral("peak") << QStringLiteral("peak") << 0 << 1.0;
    QTest::newRow("large changes only") << QStringLiteral("peak") << QStringLiteral("peak") << 3 << 10.0;
    QTest::newRow("other snapshots") << QStringLiteral("29") << QStringLiteral("84") << 100 << 0.5;
}

// Whatever the filters leave out, the changes of the shown entries and of
// those left out add up to their parent's, and nothing shown is too small.
void ReportTest::treeChangesAddUp()
{
    QFETCH(QString, baselineChoice);
    QFETCH(QString, currentChoice);
    QFETCH(int, depth);
    QFETCH(double, minShare);

    const std::unique_ptr<FileData> baseline = parseFile(fixture(QStringLiteral("compare-small.massif")));
    const std::unique_ptr<FileData> current = parseFile(fixture(QStringLiteral("compare-large.massif")));
    QVERIFY(baseline && current);
    ReportOptions options;
    options.depth = depth;
    options.minShare = minShare;
    const std::optional<Report> report = comparedReport(*baseline, baselineChoice, *current, currentChoice, options);
    QVERIFY(report);
    QVERIFY(report->baseline.hasTree);
    const double larger = double(std::max(report->chosen.cost(), report->baseline.compared.cost()));

    int shown = 0;
    int deepest = 0;
    std::function<void(const Report::NodeChange &, int)> check = [&](const Report::NodeChange &node, int level) {
        deepest = std::max(deepest, level);
        QVERIFY(!(node.isNew && node.isGone));
        QCOMPARE(node.isNew, node.baselineBytes == 0);
        QCOMPARE(node.isGone, node.currentBytes == 0);
        if (node.children.isEmpty() && node.omittedChildren == 0) {
            return;
        }
        qint64 sum = node.omittedChange;
        for (qsizetype i = 0; i < node.children.size(); ++i) {
            const Report::NodeChange &child = node.children.at(i);
            ++shown;
            QVERIFY(child.change() != 0);
            QVERIFY2(double(magnitude(child.change())) * 100.0 >= minShare * larger, child.label.constData());
            if (i > 0) {
                QVERIFY(magnitude(child.change()) <= magnitude(node.children.at(i - 1).change()));
            }
            sum += child.change();
            check(child, level + 1);
        }
        QCOMPARE(sum, node.change());
    };
    check(report->baseline.tree, 0);
    QVERIFY(deepest <= depth);
    // The root is the snapshots' heap, as the file gives it.
    QCOMPARE(report->baseline.tree.change(), qint64(report->chosen.heap) - qint64(report->baseline.compared.heap));
    // The text shows the root and one line per entry, plus one per level that left some out.
    const QString section = textReport(*report).section(QLatin1String("Heap tree changes"), 1).section(QLatin1String("\n\n"), 0, 0);
    // After the heading's two lines.
    const QStringList lines = section.split(QLatin1Char('\n')).mid(2);
    int omittedLines = 0;
    std::function<void(const Report::NodeChange &)> countOmitted = [&](const Report::NodeChange &node) {
        omittedLines += node.omittedChildren > 0 ? 1 : 0;
        for (const Report::NodeChange &child : node.children) {
            countOmitted(child);
        }
    };
    countOmitted(report->baseline.tree);
    QCOMPARE(lines.size(), 1 + shown + omittedLines);
}

// Texts of both profiles in the comparison's sections, in every format:
// a label only the current run has, and one that moved from a hostile location.
void ReportTest::hostileTextsInComparison()
{
    const QByteArray baselineProfile = "desc: --opt=\x1b]0;title\x07\ncmd: " + hostileCommand +
        "\ntime_unit: i\n"
        "#-----------\nsnapshot=0\n#-----------\ntime=10\nmem_heap_B=600\nmem_heap_extra_B=8\nmem_stacks_B=0\nheap_tree=peak\n"
        "n2: 600 (heap allocation functions) malloc/new/new[], --alloc-fns, etc.\n"
        " n1: 500 0x9: " +
        controlFunction +
        " (<i>old</i>\x1b.c:3)\n  n0: 500 0x2: main (m.c:1)\n"
        " n0: 100 in 3 places, all below massif's threshold (1.00%)\n";
    const std::unique_ptr<FileData> baseline = parseBytes(baselineProfile);
    const std::unique_ptr<FileData> current = parseBytes(hostileProfile());
    QVERIFY(baseline && current);
    Report report = Report::build(*current, QStringLiteral("current.massif"), ReportOptions());
    report.compareWith(*current, *baseline, QStringLiteral("base\x1b[0m|`.massif"));

    const QString hostileEntry = QString::fromUtf8(hostileFunction) + QLatin1String(" (<i>f</i>.c:1)");
    const QString movedEntry = QStringLiteral("ctl\uFFFD\uFFFD[31mred\uFFFDbad\uFFFD\uFFFD\uFFFD( (x.c:2), moved from <i>old</i>\uFFFD.c:3");

    const QString text = textReport(report);
    QVERIFY(!hasControlCharacters(text, true));
    const QString changes = text.mid(text.indexOf(QLatin1String("Heap tree changes")));
    QVERIFY2(changes.contains(QStringLiteral("├─ ") + hostileEntry + QLatin1Char('\n')), qPrintable(changes));
    QVERIFY2(changes.contains(QStringLiteral("├─ ") + movedEntry + QLatin1Char('\n')), qPrintable(changes));
    QVERIFY2(changes.contains(QRegularExpression(QStringLiteral("1\\. +\\+2.0 KiB +new +0 B -> +2.0 KiB  ") + QRegularExpression::escape(hostileEntry))),
             qPrintable(changes));
    QVERIFY(text.contains(QStringLiteral("Baseline:         base\uFFFD[0m|`.massif\n")));

    const QString markdown = textReport(report, ReportWriter::Markdown);
    QVERIFY(!hasControlCharacters(markdown, true));
    QVERIFY2(markdown.contains(QStringLiteral("| ``base\uFFFD[0m\\|`.massif`` |")), qPrintable(markdown));
    QVERIFY2(markdown.contains(QStringLiteral("| 2000 | ``<b>bold</b>&amp;\"q\"\\x\\|y;z`tick`*em*[l](u) (<i>f</i>.c:1)`` |")), qPrintable(markdown));
    // The tree's code block cannot be closed by a label.
    QVERIFY(markdown.contains(QStringLiteral("```text\n+2.3 KiB")));

    const QByteArray jsonBytes = ReportWriter::create(ReportWriter::Json)->write(report);
    QVERIFY(!jsonBytes.contains('\x1b') && !jsonBytes.contains('\x01'));
    QJsonParseError error;
    const QJsonObject json = QJsonDocument::fromJson(jsonBytes, &error).object().value(QStringLiteral("comparison")).toObject();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(json.value(QStringLiteral("file")).toString(), QStringLiteral("base\x1b[0m|`.massif"));
    QCOMPARE(json.value(QStringLiteral("command")).toString(), QString::fromUtf8(hostileCommand));
    const QJsonObject top = json.value(QStringLiteral("topSiteChanges")).toArray().at(0).toObject();
    QCOMPARE(top.value(QStringLiteral("function")).toString(), QString::fromUtf8(hostileFunction));
    QVERIFY(top.value(QStringLiteral("changePercent")).isNull());
    const QJsonArray children = json.value(QStringLiteral("tree")).toObject().value(QStringLiteral("children")).toArray();
    QCOMPARE(children.size(), 2);
    const QJsonObject moved = children.at(1).toObject();
    QVERIFY(moved.value(QStringLiteral("moved")).toBool());
    QCOMPARE(moved.value(QStringLiteral("function")).toString(), QString::fromUtf8(controlFunction));
    QCOMPARE(moved.value(QStringLiteral("baselineLabel")).toString(), QString::fromUtf8("0x9: " + controlFunction + " (<i>old</i>\x1b.c:3)"));
    QCOMPARE(moved.value(QStringLiteral("change")).toInteger(), 400);
}

// With --threshold=0.0 massif lists the functions of an empty last snapshot
// at 0 B each; nothing is held, so no holders and no "more below" line.
void ReportTest::nothingHeldAtTheEnd()
{
    const std::unique_ptr<FileData> data =
        parseBytes(QByteArrayLiteral("desc: --threshold=0.0\ncmd: ./x\ntime_unit: i\n"
                                     "#-----------\nsnapshot=0\n#-----------\ntime=0\nmem_heap_B=100\nmem_heap_extra_B=0\nmem_stacks_B=0\nheap_tree=peak\n"
                                     "n1: 100 (heap allocation functions) malloc/new/new[], --alloc-fns, etc.\n n0: 100 0x1: f (a.c:1)\n"
                                     "#-----------\nsnapshot=1\n#-----------\ntime=10\nmem_heap_B=0\nmem_heap_extra_B=0\nmem_stacks_B=0\nheap_tree=detailed\n"
                                     "n3: 0 (heap allocation functions) malloc/new/new[], --alloc-fns, etc.\n"
                                     " n1: 0 0x1: f (a.c:1)\n  n0: 0 0x4: main (a.c:9)\n n1: 0 0x2: g (a.c:2)\n  n0: 0 0x5: main (a.c:8)\n"
                                     " n1: 0 0x3: h (a.c:3)\n  n0: 0 0x6: main (a.c:7)\n"));
    QVERIFY(data);
    const Report report = Report::build(*data, QStringLiteral("x.massif"), ReportOptions());
    QVERIFY(report.heldAtEnd.isEmpty());
    QCOMPARE(report.heldAtEndOmitted, 0);
    for (const auto format : {ReportWriter::Text, ReportWriter::Markdown}) {
        const QString text = textReport(report, format);
        QVERIFY2(!text.contains(QLatin1String("more below")), qPrintable(text));
    }
}

QTEST_GUILESS_MAIN(ReportTest)

#include "reporttest.moc"
