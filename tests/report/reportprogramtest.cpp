/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

// quillmap-report run as a CI job runs it: without a display, judged by its
// exit status, its standard streams and the files it leaves.

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QSvgRenderer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

namespace {

QString fixture(const QString &name)
{
    return QStringLiteral(QUILLMAP_FIXTURES_DIR "/") + name;
}

struct Run
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

} // namespace

class ReportProgramTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void exitStatus_data();
    void exitStatus();
    void chartImages_data();
    void chartImages();
    void callGraphFiles_data();
    void callGraphFiles();
    void flameGraphFiles_data();
    void flameGraphFiles();
    void baselineInEveryFormat_data();
    void baselineInEveryFormat();
    void reportToFile();
    void hostileProfileInEveryFile();
    void customAllocators();
    void remoteFiles_data();
    void remoteFiles();
    void standardOptions_data();
    void standardOptions();

private:
    Run run(const QStringList &arguments);

    QTemporaryDir m_dir;
};

void ReportProgramTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QFile::exists(QStringLiteral(QUILLMAP_REPORT_PROGRAM)));
}

Run ReportProgramTest::run(const QStringList &arguments)
{
    QProcess process;
    // No display of any kind, and no platform chosen: the program draws offscreen by itself.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &name : {QStringLiteral("DISPLAY"), QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("QT_QPA_PLATFORM")}) {
        environment.remove(name);
    }
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(m_dir.path());
    // Waiting in the event loop: the test's own web server answers meanwhile.
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(QStringLiteral(QUILLMAP_REPORT_PROGRAM), arguments);
    Run result;
    if (!finished.wait(120000) || process.exitStatus() != QProcess::NormalExit) {
        qWarning() << "did not end normally:" << arguments << process.readAllStandardError();
        return result;
    }
    result.status = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

void ReportProgramTest::exitStatus_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");

    const QString simple = fixture(QStringLiteral("simple.massif"));
    const QString malformed = fixture(QStringLiteral("malformed/bad-time.massif"));
    // simple.massif peaks at 142,384 bytes.
    QTest::newRow("report") << QStringList {simple} << 0 << QString();
    QTest::newRow("compressed") << QStringList {fixture(QStringLiteral("templates.massif.xz"))} << 0 << QString();
    QTest::newRow("below the limit") << QStringList {simple, QStringLiteral("--fail-if-peak"), QStringLiteral("142384")} << 0 << QString();
    QTest::newRow("above the limit") << QStringList {simple, QStringLiteral("--fail-if-peak"), QStringLiteral("139KiB")} << 3
                                     << QStringLiteral(
                                            "quillmap-report: the peak, 139.0 KiB (142,384 B) at snapshot #41, is above the limit of 139.0 KiB (142,336 B).\n");
    QTest::newRow("above a decimal limit") << QStringList {simple, QStringLiteral("--fail-if-peak=0.1MB")} << 3 << QStringLiteral("is above the limit of");
    // Read as far as it goes, and said so.
    QTest::newRow("cut short") << QStringList {fixture(QStringLiteral("malformed/truncated-in-tree.massif"))} << 0
                               << QStringLiteral("warning: The file ends early, in line ");
    QTest::newRow("missing file") << QStringList {QStringLiteral("/nonexistent/massif.out.1")} << 2
                                  << QStringLiteral("quillmap-report: Read Failed: Could not open file /nonexistent/massif.out.1 for reading.\n");
    QTest::newRow("malformed") << QStringList {malformed} << 2
                               << QStringLiteral("quillmap-report: Parser Failed: Could not parse file %1.\nParse error in line 7:\ntime=12x\n")
                                      .arg(QUrl::fromLocalFile(malformed).toString());
    QTest::newRow("empty") << QStringList {fixture(QStringLiteral("malformed/empty.massif"))} << 2 << QStringLiteral("Empty Data File: Empty data file ");
    QTest::newRow("not massif") << QStringList {fixture(QStringLiteral("malformed/not-massif.txt"))} << 2
                                << QStringLiteral("Parse error in line 1:\nversion: 1\n");
    QTest::newRow("unknown snapshot") << QStringList {simple, QStringLiteral("--snapshot"), QStringLiteral("54")} << 2
                                      << QStringLiteral("has no snapshot number 54; its snapshots are numbered 0 to 53.");
    QTest::newRow("no file") << QStringList() << 2 << QStringLiteral("expected one massif file or URL");
    QTest::newRow("two files") << QStringList {simple, simple} << 2 << QStringLiteral("expected one massif file or URL, got 2");
    QTest::newRow("unknown option") << QStringList {simple, QStringLiteral("--colour")} << 2 << QStringLiteral("colour");
    QTest::newRow("unknown format") << QStringList {simple, QStringLiteral("--format"), QStringLiteral("xml")} << 2 << QStringLiteral("unknown format \"xml\"");
    QTest::newRow("bad limit") << QStringList {simple, QStringLiteral("--fail-if-peak"), QStringLiteral("64M")} << 2 << QStringLiteral("not \"64M\"");
    QTest::newRow("bad depth") << QStringList {simple, QStringLiteral("--depth"), QStringLiteral("-1")} << 2 << QStringLiteral("depth");
    QTest::newRow("bad share") << QStringList {simple, QStringLiteral("--min-share"), QStringLiteral("101")} << 2 << QStringLiteral("minimum share");
    QTest::newRow("bad chart type") << QStringList {simple, QStringLiteral("--chart"), QStringLiteral("chart.txt")} << 2 << QStringLiteral("chart.txt");
    QTest::newRow("bad chart size")
        << QStringList {simple, QStringLiteral("--chart"), QStringLiteral("c.png"), QStringLiteral("--size"), QStringLiteral("0x10")} << 2
        << QStringLiteral("not \"0x10\"");
    QTest::newRow("bad call graph type") << QStringList {simple, QStringLiteral("--callgraph"), QStringLiteral("graph.png")} << 2
                                         << QStringLiteral("graph.png");
    // The chart's folder is missing: the files staged before it go too.
    QTest::newRow("unwritable chart") << QStringList {simple,
                                                      QStringLiteral("--folded=stacks.txt"),
                                                      QStringLiteral("--callgraph=graph.dot"),
                                                      QStringLiteral("--flamegraph=flame.svg"),
                                                      QStringLiteral("--chart=/nonexistent/c.svg")}
                                      << 2 << QStringLiteral("quillmap-report: could not create a file in the folder of /nonexistent/c.svg.\n");
    QTest::newRow("unwritable flame graph") << QStringList {simple,
                                                            QStringLiteral("--folded=stacks.txt"),
                                                            QStringLiteral("--output=r.txt"),
                                                            QStringLiteral("--flamegraph=/nonexistent/f.svg")}
                                            << 2 << QStringLiteral("quillmap-report: could not create a file in the folder of /nonexistent/f.svg.\n");
    QTest::newRow("unwritable report") << QStringList {simple, QStringLiteral("--callgraph=graph.svg"), QStringLiteral("--output=/nonexistent/r.txt")} << 2
                                       << QStringLiteral("in the folder of /nonexistent/r.txt");
    // Compared with a baseline: compare-small.massif peaks at 23,632 bytes,
    // compare-large.massif at 50,752, 114.76% more.
    const QString small = fixture(QStringLiteral("compare-small.massif"));
    const QString large = fixture(QStringLiteral("compare-large.massif"));
    const QString baseline = QStringLiteral("--baseline");
    const QString growth = QStringLiteral("--fail-if-growth");
    QTest::newRow("compared") << QStringList {large, baseline, small} << 0 << QString();
    QTest::newRow("growth above the limit")
        << QStringList {large, baseline, small, growth, QStringLiteral("114.7")} << 3
        << QStringLiteral(
               "quillmap-report: the peak grew by 114.8%, from 23.1 KiB (23,632 B) in the baseline to 49.6 KiB (50,752 B), more than the limit of 114.7%.\n");
    QTest::newRow("growth below the limit") << QStringList {large, baseline, small, growth, QStringLiteral("114.8%")} << 0 << QString();
    QTest::newRow("shrunk") << QStringList {small, baseline, large, growth, QStringLiteral("0")} << 0 << QString();
    QTest::newRow("unchanged") << QStringList {small, baseline, fixture(QStringLiteral("compare-small.massif")), growth, QStringLiteral("0")} << 0 << QString();
    // Either limit fails the job; the peak's size is not compared with anything.
    QTest::newRow("growth with a peak limit")
        << QStringList {large, baseline, small, growth, QStringLiteral("200"), QStringLiteral("--fail-if-peak"), QStringLiteral("50000")} << 3
        << QStringLiteral("the peak, 49.6 KiB (50,752 B) at snapshot #64, is above the limit of");
    QTest::newRow("compressed baseline")
        << QStringList {fixture(QStringLiteral("simple.massif")), baseline, fixture(QStringLiteral("simple.massif.zst")), growth, QStringLiteral("0")} << 0
        << QString();
    QTest::newRow("broken baseline") << QStringList {large, baseline, malformed, growth, QStringLiteral("10")} << 2
                                     << QStringLiteral("quillmap-report: Parser Failed: Could not parse file %1.\nParse error in line 7:\ntime=12x\n")
                                            .arg(QUrl::fromLocalFile(malformed).toString());
    QTest::newRow("missing baseline") << QStringList {large, baseline, QStringLiteral("/nonexistent/base.massif")} << 2
                                      << QStringLiteral("quillmap-report: Read Failed: Could not open file /nonexistent/base.massif for reading.\n");
    QTest::newRow("empty baseline") << QStringList {large, baseline, fixture(QStringLiteral("malformed/empty.massif"))} << 2
                                    << QStringLiteral("Empty Data File: Empty data file ");
    QTest::newRow("unknown baseline snapshot") << QStringList {large, baseline, small, QStringLiteral("--baseline-snapshot"), QStringLiteral("98")} << 2
                                               << QStringLiteral("compare-small.massif has no snapshot number 98; its snapshots are numbered 0 to 97.");
    QTest::newRow("bad baseline snapshot") << QStringList {large, baseline, small, QStringLiteral("--baseline-snapshot=first")} << 2
                                           << QStringLiteral("unknown baseline snapshot \"first\"");
    QTest::newRow("baseline snapshot without baseline")
        << QStringList {large, QStringLiteral("--baseline-snapshot=last")} << 2 << QStringLiteral("give --baseline too");
    QTest::newRow("growth without baseline") << QStringList {large, growth, QStringLiteral("10")} << 2 << QStringLiteral("give --baseline too");
    QTest::newRow("bad growth") << QStringList {large, baseline, small, growth, QStringLiteral("-1")} << 2 << QStringLiteral("not \"-1\"");
    QTest::newRow("bad flame graph type") << QStringList {large, QStringLiteral("--flamegraph"), QStringLiteral("flame.png")} << 2
                                          << QStringLiteral("flame.png");
    // A malformed line is shown as text, markup and entities as written.
    QTest::newRow("hostile line") << QStringList {QStringLiteral("hostile.massif")} << 2 << QStringLiteral("Parse error in line 2:\ncmd <b>x</b>&amp;\n");
}

// Whatever goes wrong: status 2, the reason on standard error, nothing on
// standard output, and none of the files asked for, nor a trace of them.
void ReportProgramTest::exitStatus()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, error);

    QDir dir(m_dir.path());
    dir.removeRecursively();
    QVERIFY(dir.mkpath(m_dir.path()));
    QFile hostile(dir.filePath(QStringLiteral("hostile.massif")));
    QVERIFY(hostile.open(QIODevice::WriteOnly));
    hostile.write("desc: x\ncmd <b>x</b>&amp;\ntime_unit: i\n");
    hostile.close();

    const QStringList outputs {QStringLiteral("--chart=chart.svg"),
                               QStringLiteral("--folded=stacks.txt"),
                               QStringLiteral("--callgraph=graph.dot"),
                               QStringLiteral("--flamegraph=flame.svg"),
                               QStringLiteral("--output=report.txt")};
    const QString given = arguments.join(QLatin1Char(' '));
    const bool asksForFiles =
        !given.contains(QLatin1String("--chart")) && !given.contains(QLatin1String("--callgraph")) && !given.contains(QLatin1String("--flamegraph"));
    const Run result = run(arguments + (asksForFiles ? outputs : QStringList()));
    QCOMPARE(result.status, status);
    const QString err = QString::fromUtf8(result.err);
    if (error.isEmpty()) {
        QVERIFY2(result.err.isEmpty(), result.err.constData());
    } else if (error.startsWith(QLatin1String("quillmap-report: "))) {
        QCOMPARE(err, error);
    } else {
        QVERIFY2(err.contains(error), qPrintable(err));
    }
    // The limit's verdict is one line.
    if (status == 3) {
        QCOMPARE(result.err.count('\n'), 1);
    }

    const QStringList left = dir.entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    if (status == 2) {
        QVERIFY(result.out.isEmpty());
        QCOMPARE(left, QStringList {QStringLiteral("hostile.massif")});
    } else if (asksForFiles) {
        // The report went to its file; a limit exceeded is no failure to write.
        QVERIFY(result.out.isEmpty());
        QCOMPARE(left.size(), 6);
        QFile report(dir.filePath(QStringLiteral("report.txt")));
        QVERIFY(report.open(QIODevice::ReadOnly));
        QVERIFY(report.readAll().startsWith("File:"));
    }
}

void ReportProgramTest::chartImages_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("size");
    QTest::addColumn<QSize>("expectedSize");

    QTest::newRow("svg") << QStringLiteral("chart.svg") << QString() << QSize(1200, 800);
    QTest::newRow("svg sized") << QStringLiteral("chart.svg") << QStringLiteral("640x400") << QSize(640, 400);
    QTest::newRow("png") << QStringLiteral("chart.png") << QString() << QSize(1200, 800);
    QTest::newRow("png sized") << QStringLiteral("chart.png") << QStringLiteral("1600x900") << QSize(1600, 900);
    QTest::newRow("upper-case suffix") << QStringLiteral("CHART.SVG") << QString() << QSize(1200, 800);
}

// The chart tab's own drawing, without a display, readable by Qt's SVG and image readers.
void ReportProgramTest::chartImages()
{
    QFETCH(QString, fileName);
    QFETCH(QString, size);
    QFETCH(QSize, expectedSize);

    const QString path = QDir(m_dir.path()).filePath(fileName);
    QFile::remove(path);
    QStringList arguments {fixture(QStringLiteral("many.massif")), QStringLiteral("--chart"), path};
    if (!size.isEmpty()) {
        arguments << QStringLiteral("--size") << size;
    }
    const Run result = run(arguments);
    QCOMPARE(result.status, 0);
    QVERIFY2(result.err.isEmpty(), result.err.constData());
    QVERIFY(result.out.startsWith("File:"));

    if (fileName.endsWith(QLatin1String("svg"), Qt::CaseInsensitive)) {
        QSvgRenderer renderer(path);
        QVERIFY(renderer.isValid());
        QCOMPARE(renderer.viewBox().size(), expectedSize);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        // The stacked functions are in the legend.
        QVERIFY(file.readAll().contains("alloc_site_29"));
    } else {
        QImage image(path);
        QVERIFY(!image.isNull());
        QCOMPARE(image.size(), expectedSize);
        // Drawn, not blank.
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); y += 8) {
            for (int x = 0; x < image.width(); x += 8) {
                colours.insert(image.pixel(x, y));
            }
        }
        QVERIFY(colours.size() > 10);
        // The chart spans the whole width asked for, whatever the screen's
        // size: the size axis stands near the right edge.
        const QRgb background = image.pixel(image.width() - 1, image.height() - 1);
        bool drawnAtRight = false;
        for (int y = image.height() / 10; y < image.height() && !drawnAtRight; ++y) {
            for (int x = image.width() * 17 / 20; x < image.width() && !drawnAtRight; ++x) {
                drawnAtRight = image.pixel(x, y) != background;
            }
        }
        QVERIFY(drawnAtRight);
    }
}

void ReportProgramTest::callGraphFiles_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::newRow("dot") << QStringLiteral("graph.dot");
    QTest::newRow("svg") << QStringLiteral("graph.svg");
}

void ReportProgramTest::callGraphFiles()
{
    QFETCH(QString, fileName);
    const QString path = QDir(m_dir.path()).filePath(fileName);
    const Run result =
        run({fixture(QStringLiteral("custom-alloc.massif")), QStringLiteral("--callgraph"), path, QStringLiteral("--snapshot"), QStringLiteral("39")});
    QCOMPARE(result.status, 0);
    QVERIFY2(result.err.isEmpty(), result.err.constData());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    QVERIFY(content.contains("snapshot #39"));
    QVERIFY(content.contains("big_direct"));
    if (fileName.endsWith(QLatin1String(".dot"))) {
        QVERIFY(content.startsWith("digraph callgraph {\n"));
        QVERIFY(content.endsWith("}\n"));
    } else {
        QSvgRenderer renderer(content);
        QVERIFY(renderer.isValid());
        QVERIFY(!renderer.defaultSize().isEmpty());
    }
}

void ReportProgramTest::flameGraphFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("snapshot");
    QTest::addColumn<int>("frames");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("label");

    // The frame counts are the fixtures' tree nodes; a snapshot without a tree is one frame.
    QTest::newRow("peak") << QStringLiteral("simple.massif") << QStringLiteral("peak") << 9 << QStringLiteral("Snapshot #41: 139.0 KiB (peak)")
                          << QStringLiteral("make_block (simple.c:12)");
    QTest::newRow("custom allocators' file") << QStringLiteral("custom-alloc.massif") << QStringLiteral("41") << 19
                                             << QStringLiteral("Snapshot #41: 79.3 KiB (peak)") << QStringLiteral("big_direct (custom_alloc.c:49)");
    QTest::newRow("no tree") << QStringLiteral("simple.massif") << QStringLiteral("last") << 1 << QStringLiteral("Snapshot #53: 0 B") << QString();
    QTest::newRow("compressed") << QStringLiteral("templates.massif.gz") << QStringLiteral("peak") << -1 << QStringLiteral("(peak)")
                                << QStringLiteral("Grid&lt;");
}

// The flame graph tab's SVG, written without a display: valid, one group per
// frame, titled like the tab's header, and the same at every run.
void ReportProgramTest::flameGraphFiles()
{
    QFETCH(QString, file);
    QFETCH(QString, snapshot);
    QFETCH(int, frames);
    QFETCH(QString, title);
    QFETCH(QString, label);

    const QString path = QDir(m_dir.path()).filePath(QStringLiteral("flame.svg"));
    QFile::remove(path);
    const QStringList arguments {fixture(file), QStringLiteral("--snapshot"), snapshot, QStringLiteral("--flamegraph"), path};
    const Run result = run(arguments);
    QCOMPARE(result.status, 0);
    QVERIFY2(result.err.isEmpty(), result.err.constData());
    QVERIFY(result.out.startsWith("File:"));

    QSvgRenderer renderer(path);
    QVERIFY(renderer.isValid());
    QCOMPARE(renderer.viewBox().width(), 1200);
    QFile svg(path);
    QVERIFY(svg.open(QIODevice::ReadOnly));
    const QByteArray content = svg.readAll();
    if (frames >= 0) {
        QCOMPARE(content.count("<g>"), frames);
    }
    QVERIFY2(content.contains(QByteArray("font-size=\"16\">Snapshot #")), content.constData());
    QVERIFY2(content.contains(QByteArray(title.toUtf8() + "</text>")), content.constData());
    if (!label.isEmpty()) {
        QVERIFY(content.contains(label.toUtf8()));
    }
    // Nothing but the file asked for.
    QCOMPARE(QDir(m_dir.path()).entryList({QStringLiteral("*flame*")}, QDir::Files | QDir::Hidden), QStringList {QStringLiteral("flame.svg")});

    svg.close();
    QFile::remove(path);
    QCOMPARE(run(arguments).status, 0);
    QVERIFY(svg.open(QIODevice::ReadOnly));
    QCOMPARE(svg.readAll(), content);
}

void ReportProgramTest::baselineInEveryFormat_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QStringList>("expected");

    // Worked out from the fixtures' description: peaks of 23,632 and 50,752
    // bytes; record moved from line 72 to 304 and grew from 10,240 to 30,720
    // bytes; only_large is new with 5,000.
    QTest::newRow("text") << QStringLiteral("text")
                          << QStringList {QStringLiteral("\nBaseline peak:    23.1 KiB (23,632 B) at snapshot #49, time "),
                                          QStringLiteral("\nChange:           Peak 23.1 KiB -> 49.6 KiB (+26.5 KiB, +114.8%); "),
                                          QStringLiteral("  +20.0 KiB  +200.0%  10.0 KiB ->  30.0 KiB  ├─ record (compare.c:304), moved from compare.c:72\n"),
                                          QStringLiteral("  1.  +30.0 KiB      new       0 B ->  30.0 KiB  record (compare.c:304)\n"),
                                          QStringLiteral("  2.  -10.0 KiB     gone  10.0 KiB ->       0 B  record (compare.c:72)\n")};
    QTest::newRow("markdown") << QStringLiteral("markdown")
                              << QStringList {QStringLiteral("| Change | Peak 23.1 KiB -\\> 49.6 KiB (+26.5 KiB, +114.8%); "),
                                              QStringLiteral("| 1 | +30.0 KiB | new | 0 B | 30.0 KiB | 30720 | `record (compare.c:304)` |\n"),
                                              QStringLiteral("| 3 | +4.9 KiB | new | 0 B | 4.9 KiB | 5000 | `only_large (compare.c:47)` |\n")};
    QTest::newRow("json") << QStringLiteral("json") << QStringList();
}

void ReportProgramTest::baselineInEveryFormat()
{
    QFETCH(QString, format);
    QFETCH(QStringList, expected);

    const Run result = run({fixture(QStringLiteral("compare-large.massif")),
                            QStringLiteral("--baseline"),
                            fixture(QStringLiteral("compare-small.massif")),
                            QStringLiteral("--format"),
                            format});
    QCOMPARE(result.status, 0);
    QVERIFY2(result.err.isEmpty(), result.err.constData());
    const QString out = QString::fromUtf8(result.out);
    for (const QString &text : expected) {
        QVERIFY2(out.contains(text), qPrintable(text + QLatin1String("\n----\n") + out));
    }
    if (format != QLatin1String("json")) {
        return;
    }
    const QJsonObject json = QJsonDocument::fromJson(result.out).object();
    QCOMPARE(json.value(QStringLiteral("format")).toInt(), 1);
    const QJsonObject comparison = json.value(QStringLiteral("comparison")).toObject();
    QCOMPARE(comparison.value(QStringLiteral("file")).toString(), fixture(QStringLiteral("compare-small.massif")));
    QCOMPARE(comparison.value(QStringLiteral("peakChange")).toInteger(), 50752 - 23632);
    QCOMPARE(comparison.value(QStringLiteral("baselineSnapshot")).toObject().value(QStringLiteral("snapshot")).toInt(), 49);
    QCOMPARE(comparison.value(QStringLiteral("currentSnapshot")).toInt(), 64);
    const QJsonObject top = comparison.value(QStringLiteral("topSiteChanges")).toArray().at(0).toObject();
    QCOMPARE(top.value(QStringLiteral("function")).toString(), QStringLiteral("record"));
    QCOMPARE(top.value(QStringLiteral("change")).toInteger(), 30720);
}

void ReportProgramTest::reportToFile()
{
    // JSON to a file, then the same to standard output: the same bytes.
    const QString path = QDir(m_dir.path()).filePath(QStringLiteral("report.json"));
    const QStringList arguments {fixture(QStringLiteral("sites.massif")), QStringLiteral("--format"), QStringLiteral("json")};
    const Run toFile = run(arguments + QStringList {QStringLiteral("-o"), path});
    QCOMPARE(toFile.status, 0);
    QVERIFY(toFile.out.isEmpty());
    const Run toOut = run(arguments);
    QCOMPARE(toOut.status, 0);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), toOut.out);
    // Made like any new file, not private like a temporary one.
    QVERIFY(file.permissions() & QFileDevice::ReadOther);
    QCOMPARE(QJsonDocument::fromJson(toOut.out).object().value(QStringLiteral("format")).toInt(), 1);
}

// Markup, quotes, separators of the formats, control bytes and bytes that are
// no UTF-8, in a label and in the command: text in every file written.
void ReportProgramTest::hostileProfileInEveryFile()
{
    const QByteArray function = "<b>bold</b>&amp;\"q\"\\x|y;z{r}\x01\x1b[31m\xff";
    const QByteArray tree = "n2: 3000 (heap allocation functions) malloc/new/new[], --alloc-fns, etc.\n"
                            " n1: 2000 0x1: " +
        function + " (<i>f</i>.c:1)\n  n0: 2000 0x2: main (m.c:1)\n n0: 1000 0x3: plain (p.c:3)\n";
    QByteArray profile = "desc: --x=<u>y</u>\ncmd: ./<i>prog</i> \"a\" \x1b[2J\xfe\ntime_unit: i\n";
    for (int i = 0; i < 3; ++i) {
        profile += "#-----------\nsnapshot=" + QByteArray::number(i) + "\n#-----------\ntime=" + QByteArray::number(i * 10) +
            "\nmem_heap_B=3000\nmem_heap_extra_B=8\nmem_stacks_B=0\nheap_tree=detailed\n" + tree;
    }
    QDir dir(m_dir.path());
    QFile file(dir.filePath(QStringLiteral("hostile-labels.massif")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(profile);
    file.close();

    const Run result = run({file.fileName(),
                            QStringLiteral("--chart=hostile-chart.svg"),
                            QStringLiteral("--callgraph=hostile-graph.svg"),
                            QStringLiteral("--flamegraph=hostile-flame.svg"),
                            QStringLiteral("--folded=hostile.folded")});
    QCOMPARE(result.status, 0);
    QVERIFY2(result.err.isEmpty(), result.err.constData());
    const QString text = QString::fromUtf8(result.out);
    QVERIFY(text.contains(QStringLiteral("<b>bold</b>&amp;\"q\"\\x|y;z{r}\uFFFD\uFFFD[31m\uFFFD (<i>f</i>.c:1)")));
    QVERIFY(text.contains(QStringLiteral("./<i>prog</i> \"a\" \uFFFD[2J\uFFFD")));
    QVERIFY(!result.out.contains('\x1b') && !result.out.contains('\x01'));

    for (const QString &name : {QStringLiteral("hostile-chart.svg"), QStringLiteral("hostile-graph.svg"), QStringLiteral("hostile-flame.svg")}) {
        QSvgRenderer renderer(dir.filePath(name));
        QVERIFY2(renderer.isValid(), qPrintable(name));
    }
    QFile graph(dir.filePath(QStringLiteral("hostile-graph.svg")));
    QVERIFY(graph.open(QIODevice::ReadOnly));
    QVERIFY(graph.readAll().contains("&lt;b&gt;bold&lt;/b&gt;"));
    QFile flame(dir.filePath(QStringLiteral("hostile-flame.svg")));
    QVERIFY(flame.open(QIODevice::ReadOnly));
    const QByteArray flameContent = flame.readAll();
    QVERIFY(flameContent.contains("&lt;b&gt;bold&lt;/b&gt;&amp;amp;"));
    QVERIFY(!flameContent.contains('\x01') && !flameContent.contains('\x1b'));

    QFile folded(dir.filePath(QStringLiteral("hostile.folded")));
    QVERIFY(folded.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = folded.readAll().split('\n');
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines.at(0).count(';'), 2);
    QVERIFY(lines.at(0).endsWith(";main (m.c:1) 2000"));
    QVERIFY(lines.at(1).endsWith(";plain (p.c:3) 1000"));
}

// Read with custom allocators: their callers take their place, as in the GUI.
void ReportProgramTest::customAllocators()
{
    const Run result = run({fixture(QStringLiteral("custom-alloc.massif")),
                            QStringLiteral("--format=json"),
                            QStringLiteral("--allocator"),
                            QStringLiteral("my_pool_alloc"),
                            QStringLiteral("-a"),
                            QStringLiteral("xmalloc")});
    QCOMPARE(result.status, 0);
    const QJsonObject json = QJsonDocument::fromJson(result.out).object();
    QCOMPARE(json.value(QStringLiteral("allocators")).toVariant().toStringList(), (QStringList {QStringLiteral("my_pool_alloc"), QStringLiteral("xmalloc")}));
    const QJsonArray children =
        json.value(QStringLiteral("tree")).toObject().value(QStringLiteral("root")).toObject().value(QStringLiteral("children")).toArray();
    QStringList functions;
    for (const QJsonValue &child : children) {
        functions.append(child.toObject().value(QStringLiteral("function")).toString());
    }
    // From the fixtures' description; the 720 bytes below the threshold are under 1%.
    QCOMPARE(functions,
             (QStringList {QStringLiteral("build_index"),
                           QStringLiteral("big_direct"),
                           QStringLiteral("cache_pages"),
                           QStringLiteral("load_config"),
                           QStringLiteral("read_names"),
                           QStringLiteral("load_config")}));
}

void ReportProgramTest::remoteFiles_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("expected");
    // Fetched as the baseline of simple.massif rather than as the file itself.
    QTest::addColumn<bool>("asBaseline");

    QTest::newRow("plain") << QStringLiteral("/simple.massif") << 0 << QStringLiteral("Peak:             139.0 KiB (142,384 B) at snapshot #41") << false;
    QTest::newRow("compressed") << QStringLiteral("/templates.massif.bz2") << 0 << QStringLiteral("Command:          ./templates") << false;
    QTest::newRow("not found") << QStringLiteral("/missing.massif") << 2
                               << QStringLiteral(
                                      "quillmap-report: Download Failed: Failed to download remote massif data file http://127.0.0.1:%1/missing.massif.\n")
                               << false;
    QTest::newRow("baseline") << QStringLiteral("/simple.massif.xz") << 0
                              << QStringLiteral("Change:           Peak 139.0 KiB -> 139.0 KiB (+0 B, +0.0%); 0 sites grew by more than 10%\n") << true;
    QTest::newRow("baseline not found")
        << QStringLiteral("/missing.massif") << 2
        << QStringLiteral("quillmap-report: Download Failed: Failed to download remote massif data file http://127.0.0.1:%1/missing.massif.\n") << true;
}

// Fetched like the GUI fetches them, from a web server of the test's own.
void ReportProgramTest::remoteFiles()
{
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(QString, expected);
    QFETCH(bool, asBaseline);

    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    connect(&server, &QTcpServer::newConnection, &server, [&server] {
        QTcpSocket *socket = server.nextPendingConnection();
        connect(socket, &QTcpSocket::readyRead, socket, [socket] {
            // Answered once the whole request head is in.
            const QByteArray head = socket->property("head").toByteArray() + socket->readAll();
            socket->setProperty("head", head);
            if (!head.contains("\r\n\r\n")) {
                return;
            }
            const QList<QByteArray> request = head.split(' ');
            QFile file(fixture(QString::fromUtf8(request.value(1)).mid(1)));
            const bool found = request.value(0) == "GET" && file.open(QIODevice::ReadOnly);
            const QByteArray body = found ? file.readAll() : QByteArray("not found");
            socket->write((found ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 404 Not Found\r\n") +
                          QByteArray("Content-Type: application/octet-stream\r\nContent-Length: ") + QByteArray::number(body.size()) +
                          "\r\nConnection: close\r\n\r\n" + body);
            socket->disconnectFromHost();
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    });

    const QString url = QStringLiteral("http://127.0.0.1:%1%2").arg(server.serverPort()).arg(path);
    const Run result = asBaseline ? run({fixture(QStringLiteral("simple.massif")), QStringLiteral("--baseline"), url}) : run({url});
    QCOMPARE(result.status, status);
    if (status == 0) {
        QVERIFY2(QString::fromUtf8(result.out).contains(expected), result.out.constData());
        if (asBaseline) {
            QVERIFY(result.out.contains(QByteArray("\nBaseline:         " + url.toUtf8() + "\n")));
        } else {
            QVERIFY(result.out.startsWith(QByteArray("File:             " + url.toUtf8() + "\n")));
        }
    } else {
        QVERIFY(result.out.isEmpty());
        QVERIFY2(QString::fromUtf8(result.err).startsWith(expected.arg(server.serverPort())), result.err.constData());
    }
}

void ReportProgramTest::standardOptions_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("expected");
    QTest::newRow("help") << QStringLiteral("--help") << QStringLiteral("--fail-if-peak <size>");
    QTest::newRow("help on comparing") << QStringLiteral("--help") << QStringLiteral("--fail-if-growth <percent>");
    QTest::newRow("version") << QStringLiteral("--version") << QStringLiteral("quillmap-report ");
}

void ReportProgramTest::standardOptions()
{
    QFETCH(QString, option);
    QFETCH(QString, expected);
    const Run result = run({option});
    QCOMPARE(result.status, 0);
    QVERIFY2(QString::fromUtf8(result.out).contains(expected), result.out.constData());
}

QTEST_MAIN(ReportProgramTest)

#include "reportprogramtest.moc"
