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
    std::unique_ptr<FileData> load();
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

    /// Kept to the end of the process, never freed: see main().
    std::unique_ptr<FileData> m_data;
    QString m_argument;
    QUrl m_url;
    ReportOptions m_options;
    ReportWriter::Format m_format = ReportWriter::Text;
    QString m_outputFile;
    QString m_chartFile;
    QSize m_chartSize;
    QString m_callGraphFile;
    QString m_foldedFile;
    std::optional<quint64> m_peakLimit;

    bool m_progressShown = false;
    int m_progressShownValue = -1;
    qint64 m_progressStart = 0;
};

} // namespace Massif

#endif
