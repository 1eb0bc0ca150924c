/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "reportcommand.h"

#include "bytesize.h"
#include "callgraphexport.h"
#include "chartexport.h"
#include "filedata.h"
#include "flamegraphlayout.h"
#include "flamegraphsvgwriter.h"
#include "foldedstacks.h"
#include "formatting.h"
#include "outputfile.h"
#include "parseworker.h"
#include "plaintext.h"
#include "report.h"
#include "snapshotitem.h"

#include <KLocalizedString>

#include <QBuffer>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>

#include <cmath>
#include <cstdio>
#include <cstring>

#include <unistd.h>

using namespace Massif;

namespace {

constexpr int maxImageSide = 20000;
const QSize defaultChartSize(1200, 800);

void printError(const QString &text)
{
    const QByteArray line = QStringLiteral("quillmap-report: %1\n").arg(text).toUtf8();
    std::fwrite(line.constData(), 1, line.size(), stderr);
    std::fflush(stderr);
}

// A message of several lines, each made safe for the terminal on its own.
QString readableLines(const QString &text)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString &line : lines) {
        line = readableText(line);
    }
    return lines.join(QLatin1Char('\n'));
}

bool parseCount(const QString &text, int minimum, int *value)
{
    bool ok = false;
    const int number = text.toInt(&ok);
    if (!ok || number < minimum) {
        return false;
    }
    *value = number;
    return true;
}

} // namespace

ReportCommand::ReportCommand(QObject *parent)
    : QObject(parent)
    , m_formatOption({QStringLiteral("f"), QStringLiteral("format")},
                     i18nc("@info:shell", "Report format: text (the default), markdown or json."),
                     i18nc("@info:shell value name", "format"),
                     QStringLiteral("text"))
    , m_outputOption({QStringLiteral("o"), QStringLiteral("output")},
                     i18nc("@info:shell", "Write the report to this file instead of standard output."),
                     i18nc("@info:shell value name", "file"))
    , m_snapshotOption({QStringLiteral("s"), QStringLiteral("snapshot")},
                       i18nc("@info:shell", "The snapshot whose heap tree is shown and drawn: peak (the default), last, or its number."),
                       i18nc("@info:shell value name", "peak|last|N"),
                       QStringLiteral("peak"))
    , m_depthOption(QStringLiteral("depth"),
                    i18nc("@info:shell", "Levels of the heap tree shown below its root (default 4)."),
                    i18nc("@info:shell value name", "levels"),
                    QStringLiteral("4"))
    , m_minShareOption(QStringLiteral("min-share"),
                       i18nc("@info:shell", "Leave out heap tree entries below this percentage of the snapshot (default 1)."),
                       i18nc("@info:shell value name", "percent"),
                       QStringLiteral("1"))
    , m_topOption(QStringLiteral("top"),
                  i18nc("@info:shell", "Number of allocation sites listed (default 10)."),
                  i18nc("@info:shell value name", "count"),
                  QStringLiteral("10"))
    , m_allocatorOption(
          {QStringLiteral("a"), QStringLiteral("allocator")},
          i18nc("@info:shell", "A custom allocator: a function name or a wildcard pattern whose callers are shown in its place. May be repeated."),
          i18nc("@info:shell value name", "pattern"))
    , m_chartOption(QStringLiteral("chart"),
                    i18nc("@info:shell", "Draw the memory chart into this image file (.svg, .png, …)."),
                    i18nc("@info:shell value name", "file"))
    , m_sizeOption(QStringLiteral("size"), i18nc("@info:shell", "Size of the chart in pixels (default 1200x800)."), i18nc("@info:shell value name", "WxH"))
    , m_callGraphOption(QStringLiteral("callgraph"),
                        i18nc("@info:shell", "Write the call graph of the snapshot to this file: .dot for its description, .svg for the drawing."),
                        i18nc("@info:shell value name", "file"))
    , m_foldedOption(QStringLiteral("folded"),
                     i18nc("@info:shell", "Write the snapshot's heap tree as folded stacks (root;caller;callee bytes), for flame graph tools."),
                     i18nc("@info:shell value name", "file"))
    , m_failIfPeakOption(QStringLiteral("fail-if-peak"),
                         i18nc("@info:shell", "Exit with status 3 when the peak is above this size (such as 64MiB or 1.5GB)."),
                         i18nc("@info:shell value name", "size"))
    , m_flameGraphOption(QStringLiteral("flamegraph"),
                         i18nc("@info:shell", "Draw the snapshot's flame graph into this SVG file, as the flame graph tab saves it."),
                         i18nc("@info:shell value name", "file"))
    , m_baselineOption(QStringLiteral("baseline"),
                       i18nc("@info:shell", "Compare with this massif file (a path or a URL, plain or compressed): the change and its largest parts."),
                       i18nc("@info:shell value name", "file"))
    , m_baselineSnapshotOption(QStringLiteral("baseline-snapshot"),
                               i18nc("@info:shell", "The snapshot of the baseline compared with the chosen one: peak (the default), last, or its number."),
                               i18nc("@info:shell value name", "peak|last|N"),
                               QStringLiteral("peak"))
    , m_failIfGrowthOption(QStringLiteral("fail-if-growth"),
                           i18nc("@info:shell", "Exit with status 3 when the peak grew by more than this percentage of the baseline's peak."),
                           i18nc("@info:shell value name", "percent"))
{
}

ReportCommand::~ReportCommand() = default;

bool ReportCommand::needsWidgets(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            return false;
        }
        if (std::strcmp(argv[i], "--chart") == 0 || std::strncmp(argv[i], "--chart=", 8) == 0) {
            return true;
        }
    }
    return false;
}

void ReportCommand::setupParser(QCommandLineParser *parser)
{
    parser->addOptions({m_formatOption,
                        m_outputOption,
                        m_snapshotOption,
                        m_depthOption,
                        m_minShareOption,
                        m_topOption,
                        m_allocatorOption,
                        m_chartOption,
                        m_sizeOption,
                        m_callGraphOption,
                        m_foldedOption,
                        m_failIfPeakOption,
                        m_flameGraphOption,
                        m_baselineOption,
                        m_baselineSnapshotOption,
                        m_failIfGrowthOption});
    parser->addPositionalArgument(
        QStringLiteral("file"), i18nc("@info:shell", "The massif file: a path or a URL, plain or compressed."), i18nc("@info:shell", "FILE|URL"));
}

bool ReportCommand::fail(const QString &message)
{
    printError(message);
    return false;
}

bool ReportCommand::readOptions(const QCommandLineParser &parser)
{
    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() != 1) {
        return fail(i18nc("@info:shell", "expected one massif file or URL, got %1; see --help.", arguments.size()));
    }
    m_argument = arguments.first();
    m_url = QUrl::fromUserInput(m_argument, QDir::currentPath(), QUrl::AssumeLocalFile);

    if (!ReportWriter::formatFromName(parser.value(m_formatOption), &m_format)) {
        return fail(i18nc("@info:shell", "unknown format \"%1\": use text, markdown or json.", parser.value(m_formatOption)));
    }
    if (!m_options.setSnapshot(parser.value(m_snapshotOption))) {
        return fail(i18nc("@info:shell", "unknown snapshot \"%1\": use peak, last or a snapshot number.", parser.value(m_snapshotOption)));
    }
    if (!parseCount(parser.value(m_depthOption), 0, &m_options.depth)) {
        return fail(i18nc("@info:shell", "the depth must be a whole number of levels, 0 or more, not \"%1\".", parser.value(m_depthOption)));
    }
    if (!parseCount(parser.value(m_topOption), 0, &m_options.topSites)) {
        return fail(i18nc("@info:shell", "the number of sites must be a whole number, 0 or more, not \"%1\".", parser.value(m_topOption)));
    }
    bool ok = false;
    QString share = parser.value(m_minShareOption);
    if (share.endsWith(QLatin1Char('%'))) {
        share.chop(1);
    }
    m_options.minShare = share.toDouble(&ok);
    if (!ok || !(m_options.minShare >= 0.0 && m_options.minShare <= 100.0)) {
        return fail(i18nc("@info:shell", "the minimum share must be a percentage from 0 to 100, not \"%1\".", parser.value(m_minShareOption)));
    }
    m_options.allocators = parser.values(m_allocatorOption);

    if (parser.isSet(m_outputOption) && parser.value(m_outputOption) != QLatin1String("-")) {
        m_outputFile = parser.value(m_outputOption);
    }
    m_chartFile = parser.value(m_chartOption);
    if (parser.isSet(m_chartOption) && !isChartSuffix(QFileInfo(m_chartFile).suffix())) {
        return fail(i18nc("@info:shell",
                          "the chart is written as SVG or as an image by the file name's suffix, such as .svg or .png; \"%1\" has none of them.",
                          m_chartFile));
    }
    m_chartSize = defaultChartSize;
    if (parser.isSet(m_sizeOption)) {
        if (!parser.isSet(m_chartOption)) {
            return fail(i18nc("@info:shell", "--size is the size of the chart; give --chart too."));
        }
        static const QRegularExpression sizePattern(QStringLiteral("^([0-9]{1,5})[xX]([0-9]{1,5})$"));
        const QRegularExpressionMatch match = sizePattern.match(parser.value(m_sizeOption));
        const int width = match.captured(1).toInt();
        const int height = match.captured(2).toInt();
        if (!match.hasMatch() || width < 1 || height < 1 || width > maxImageSide || height > maxImageSide) {
            return fail(i18nc("@info:shell",
                              "the chart size is given as WIDTHxHEIGHT in pixels, each from 1 to %1, such as 1200x800; not \"%2\".",
                              maxImageSide,
                              parser.value(m_sizeOption)));
        }
        m_chartSize = QSize(width, height);
    }
    m_callGraphFile = parser.value(m_callGraphOption);
    if (parser.isSet(m_callGraphOption)) {
        const QString suffix = QFileInfo(m_callGraphFile).suffix().toLower();
        if (suffix != QLatin1String("dot") && suffix != QLatin1String("gv") && suffix != QLatin1String("svg")) {
            return fail(i18nc(
                "@info:shell", "the call graph is written as dot (.dot, .gv) or SVG (.svg) by the file name's suffix; \"%1\" has neither.", m_callGraphFile));
        }
    }
    m_foldedFile = parser.value(m_foldedOption);
    if (parser.isSet(m_failIfPeakOption)) {
        quint64 limit = 0;
        if (!parseByteSize(parser.value(m_failIfPeakOption), &limit)) {
            return fail(i18nc("@info:shell", "the peak limit is a size such as 500000, 64MiB or 1.5GB; not \"%1\".", parser.value(m_failIfPeakOption)));
        }
        m_peakLimit = limit;
    }

    m_flameGraphFile = parser.value(m_flameGraphOption);
    if (parser.isSet(m_flameGraphOption) && QFileInfo(m_flameGraphFile).suffix().toLower() != QLatin1String("svg")) {
        return fail(i18nc("@info:shell", "the flame graph is written as SVG, to a file name ending in .svg; not \"%1\".", m_flameGraphFile));
    }
    if (parser.isSet(m_baselineOption)) {
        m_baselineArgument = parser.value(m_baselineOption);
        if (m_baselineArgument.isEmpty()) {
            return fail(i18nc("@info:shell", "--baseline needs a massif file or URL."));
        }
        m_baselineUrl = QUrl::fromUserInput(m_baselineArgument, QDir::currentPath(), QUrl::AssumeLocalFile);
    }
    if (!m_options.setBaselineSnapshot(parser.value(m_baselineSnapshotOption))) {
        return fail(i18nc("@info:shell", "unknown baseline snapshot \"%1\": use peak, last or a snapshot number.", parser.value(m_baselineSnapshotOption)));
    }
    if (parser.isSet(m_baselineSnapshotOption) && !parser.isSet(m_baselineOption)) {
        return fail(i18nc("@info:shell", "--baseline-snapshot chooses a snapshot of the baseline; give --baseline too."));
    }
    if (parser.isSet(m_failIfGrowthOption)) {
        if (!parser.isSet(m_baselineOption)) {
            return fail(i18nc("@info:shell", "--fail-if-growth measures the peak against a baseline; give --baseline too."));
        }
        QString growth = parser.value(m_failIfGrowthOption);
        if (growth.endsWith(QLatin1Char('%'))) {
            growth.chop(1);
        }
        const double limit = growth.toDouble(&ok);
        if (!ok || !std::isfinite(limit) || limit < 0.0) {
            return fail(i18nc("@info:shell",
                              "the growth limit is a percentage of the baseline's peak, 0 or more, such as 5 or 12.5%; not \"%1\".",
                              parser.value(m_failIfGrowthOption)));
        }
        m_growthLimit = limit;
    }
    return true;
}

void ReportCommand::showProgress(int percent)
{
    // Only a reading that takes a while is worth a line, and only for a person watching.
    if (!::isatty(STDERR_FILENO)) {
        return;
    }
    if (percent == m_progressShownValue || (!m_progressShown && QDateTime::currentMSecsSinceEpoch() - m_progressStart < 500)) {
        return;
    }
    m_progressShown = true;
    m_progressShownValue = percent;
    const QByteArray line = "\r" + i18nc("@info:progress", "Reading %1: %2%", readableText(m_reading), percent).toUtf8() + "\x1b[K";
    std::fwrite(line.constData(), 1, line.size(), stderr);
    std::fflush(stderr);
}

std::unique_ptr<FileData> ReportCommand::load(const QUrl &url, const QString &argument)
{
    // The worker lives on this thread, so parse() runs here and now, and its
    // signals arrive directly; a remote file is fetched by a nested event loop.
    ParseWorker worker;
    std::unique_ptr<FileData> data;
    QString errorTitle;
    QString errorMessage;
    connect(&worker, &ParseWorker::finished, this, [&data](const QUrl &, FileData *parsed) {
        data.reset(parsed);
    });
    connect(&worker, &ParseWorker::error, this, [&errorTitle, &errorMessage](const QString &title, const QString &message) {
        errorTitle = title;
        errorMessage = message;
    });
    connect(&worker, &ParseWorker::progress, this, &ReportCommand::showProgress);
    m_reading = argument;
    m_progressShown = false;
    m_progressShownValue = -1;
    m_progressStart = QDateTime::currentMSecsSinceEpoch();
    worker.parse(url, m_options.allocators);
    if (m_progressShown) {
        std::fputs("\r\x1b[K", stderr);
        std::fflush(stderr);
    }
    if (!data) {
        // The GUI's error page, as plain text.
        fail(errorTitle.isEmpty() ? i18nc("@info:shell", "could not read %1.", readableText(argument))
                                  : readableText(errorTitle) + QLatin1String(": ") + readableLines(plainTextOfMessage(errorMessage)));
    }
    return data;
}

bool ReportCommand::writeOutputs(FileData *data, const QByteArray &reportText)
{
    const SnapshotItem *snapshot = Report::chooseSnapshot(*data, m_options);
    std::vector<std::unique_ptr<OutputFile>> files;
    const auto stage = [this, &files](const QString &fileName) -> OutputFile * {
        auto file = std::make_unique<OutputFile>(fileName);
        if (!file->prepare()) {
            fail(i18nc("@info:shell", "could not create a file in the folder of %1.", readableText(fileName)));
            return nullptr;
        }
        files.push_back(std::move(file));
        return files.back().get();
    };
    const auto writeFailed = [this](const OutputFile *file) {
        return fail(i18nc("@info:shell", "could not write %1.", readableText(file->fileName())));
    };

    if (!m_outputFile.isEmpty()) {
        OutputFile *file = stage(m_outputFile);
        if (!file) {
            return false;
        }
        if (!file->write(reportText)) {
            return writeFailed(file);
        }
    }
    if (!m_foldedFile.isEmpty()) {
        OutputFile *file = stage(m_foldedFile);
        if (!file) {
            return false;
        }
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        if (!writeFoldedStacks(*snapshot, &buffer) || !file->write(buffer.data())) {
            return writeFailed(file);
        }
    }
    if (!m_callGraphFile.isEmpty()) {
        OutputFile *file = stage(m_callGraphFile);
        if (!file) {
            return false;
        }
        QByteArray graph = callGraphDot(snapshot, data->timeUnit());
        if (graph.isEmpty()) {
            return writeFailed(file);
        }
        if (QFileInfo(m_callGraphFile).suffix().toLower() == QLatin1String("svg")) {
            QString error;
            graph = renderDotAsSvg(graph, &error);
            if (graph.isEmpty()) {
                return fail(i18nc("@info:shell", "Graphviz could not draw the call graph: %1", readableLines(error.trimmed())));
            }
        }
        if (!file->write(graph)) {
            return writeFailed(file);
        }
    }
    if (!m_flameGraphFile.isEmpty()) {
        OutputFile *file = stage(m_flameGraphFile);
        if (!file) {
            return false;
        }
        // The flame graph tab's own writer, titled as the tab's header.
        FlameGraphLayout layout;
        layout.setSnapshot(snapshot);
        FlameGraphSvgWriter writer(layout);
        QString title = layout.displayText(0);
        if (snapshot == data->peak()) {
            title = i18nc("@label %1: snapshot and its cost", "%1 (peak)", title);
        }
        writer.setTitle(title);
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        if (!writer.write(&buffer) || !file->write(buffer.data())) {
            return writeFailed(file);
        }
    }

    if (!m_chartFile.isEmpty()) {
        OutputFile *file = stage(m_chartFile);
        if (!file) {
            return false;
        }
        if (!saveChart(data, file->stagingPath(), m_chartSize)) {
            return writeFailed(file);
        }
    }
    for (const auto &file : files) {
        if (!file->commit()) {
            return writeFailed(file.get());
        }
    }
    return true;
}

int ReportCommand::run(const QCommandLineParser &parser)
{
    if (!readOptions(parser)) {
        return Failure;
    }
    m_data = load(m_url, m_argument);
    FileData *data = m_data.get();
    if (!data || !checkSnapshot(*data, m_argument, m_options.snapshot, m_options.snapshotNumber)) {
        return Failure;
    }
    if (!m_baselineArgument.isEmpty()) {
        m_baseline = load(m_baselineUrl, m_baselineArgument);
        if (!m_baseline || !checkSnapshot(*m_baseline, m_baselineArgument, m_options.baselineSnapshot, m_options.baselineSnapshotNumber)) {
            return Failure;
        }
    }

    if (!data->warning().isEmpty()) {
        printError(i18nc("@info:shell", "warning: %1", readableText(data->warning())));
    }
    if (m_baseline && !m_baseline->warning().isEmpty()) {
        printError(i18nc("@info:shell", "warning: the baseline %1: %2", readableText(m_baselineArgument), readableText(m_baseline->warning())));
    }
    Report report = Report::build(*data, m_argument, m_options);
    if (m_baseline) {
        report.compareWith(*data, *m_baseline, m_baselineArgument);
    }
    const QByteArray text = ReportWriter::create(m_format)->write(report);
    if (!writeOutputs(data, text)) {
        return Failure;
    }
    if (m_outputFile.isEmpty()) {
        const bool written = std::fwrite(text.constData(), 1, text.size(), stdout) == size_t(text.size());
        if (std::fflush(stdout) != 0 || !written) {
            fail(i18nc("@info:shell", "could not write the report to standard output."));
            return Failure;
        }
    }

    bool exceeded = false;
    if (m_peakLimit && report.peak.cost() > *m_peakLimit) {
        printError(i18nc("@info:shell",
                         "the peak, %1 at snapshot #%2, is above the limit of %3.",
                         QStringLiteral("%1 (%2 B)").arg(formatCost(report.peak.cost()), QLocale::system().toString(report.peak.cost())),
                         report.peak.number,
                         QStringLiteral("%1 (%2 B)").arg(formatCost(*m_peakLimit), QLocale::system().toString(*m_peakLimit))));
        exceeded = true;
    }
    if (m_growthLimit) {
        const double growth = report.peakGrowth();
        // From nothing, any growth is beyond every limit.
        if ((std::isnan(growth) && report.peak.cost() > 0) || growth > *m_growthLimit) {
            const QString from =
                QStringLiteral("%1 (%2 B)").arg(formatCost(report.baseline.peak.cost()), QLocale::system().toString(report.baseline.peak.cost()));
            const QString to = QStringLiteral("%1 (%2 B)").arg(formatCost(report.peak.cost()), QLocale::system().toString(report.peak.cost()));
            printError(std::isnan(growth) ? i18nc("@info:shell", "the peak grew from %1 in the baseline to %2.", from, to)
                                          : i18nc("@info:shell",
                                                  "the peak grew by %1%, from %2 in the baseline to %3, more than the limit of %4%.",
                                                  QString::number(growth, 'f', 1),
                                                  from,
                                                  to,
                                                  QString::number(*m_growthLimit, 'g', 6)));
            exceeded = true;
        }
    }
    return exceeded ? LimitExceeded : Success;
}

bool ReportCommand::checkSnapshot(const FileData &data, const QString &argument, ReportOptions::SnapshotChoice choice, quint32 number)
{
    if (Report::chooseSnapshot(data, choice, number)) {
        return true;
    }
    return fail(i18nc("@info:shell",
                      "%1 has no snapshot number %2; its snapshots are numbered %3 to %4.",
                      readableText(argument),
                      number,
                      data.snapshots().first()->number(),
                      data.snapshots().last()->number()));
}
