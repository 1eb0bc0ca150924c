/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_REPORTCOMMAND_H
#define MASSIF_REPORTCOMMAND_H

#include "reportoptions.h"
#include "reportwriter.h"

#include <QCommandLineOption>
#include <QObject>
#include <QSize>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

class QCommandLineParser;

namespace Massif {

class FileData;
class OutputFile;

/**
 * What quillmap-report does with its command line: read one massif file as
 * the GUI reads it, print its report, write the files asked for, and check
 * the limits given. Output files appear only when everything succeeded.
 */
class ReportCommand : public QObject
{
    Q_OBJECT
public:
    enum ExitStatus {
        Success = 0,
        Failure = 2,
        LimitExceeded = 3,
    };

    explicit ReportCommand(QObject *parent = nullptr);
    ~ReportCommand() override;

    /// Whether the command line asks for a chart, which needs a QApplication; looked at before any exists.
    static bool needsWidgets(int argc, char **argv);

    void setupParser(QCommandLineParser *parser);
    /// Runs the whole command; the result is the exit status.
    int run(const QCommandLineParser &parser);

private:
    bool readOptions(const QCommandLineParser &parser);
    /// Reads @p url, named @p argument in messages, as the GUI reads it; null after an error, which is told.
    std::unique_ptr<FileData> load(const QUrl &url, const QString &argument);
    bool checkSnapshot(const FileData &data, const QString &argument, ReportOptions::SnapshotChoice choice, quint32 number);
    bool writeOutputs(FileData *data, const QByteArray &reportText);
    bool fail(const QString &message);
    void showProgress(int percent);

    QCommandLineOption m_formatOption;
    QCommandLineOption m_outputOption;
    QCommandLineOption m_snapshotOption;
    QCommandLineOption m_depthOption;
    QCommandLineOption m_minShareOption;
    QCommandLineOption m_topOption;
    QCommandLineOption m_allocatorOption;
    QCommandLineOption m_chartOption;
    QCommandLineOption m_sizeOption;
    QCommandLineOption m_callGraphOption;
    QCommandLineOption m_foldedOption;
    QCommandLineOption m_failIfPeakOption;
    QCommandLineOption m_flameGraphOption;
    QCommandLineOption m_baselineOption;
    QCommandLineOption m_baselineSnapshotOption;
    QCommandLineOption m_failIfGrowthOption;

    /// Kept to the end of the process, never freed: see main().
    std::unique_ptr<FileData> m_data;
    std::unique_ptr<FileData> m_baseline;
    QString m_argument;
    QUrl m_url;
    QString m_baselineArgument;
    QUrl m_baselineUrl;
    /// The file being read, for the progress line.
    QString m_reading;
    ReportOptions m_options;
    ReportWriter::Format m_format = ReportWriter::Text;
    QString m_outputFile;
    QString m_chartFile;
    QSize m_chartSize;
    QString m_callGraphFile;
    QString m_foldedFile;
    QString m_flameGraphFile;
    std::optional<quint64> m_peakLimit;
    /// In percent of the baseline's peak.
    std::optional<double> m_growthLimit;

    bool m_progressShown = false;
    int m_progressShownValue = -1;
    qint64 m_progressStart = 0;
};

} // namespace Massif

#endif
