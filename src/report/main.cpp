/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "reportcommand.h"

#include <KAboutData>
#include <KLocalizedString>

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>
#include <memory>

#include <unistd.h>

int main(int argc, char **argv)
{
    // Widgets only to draw a chart, and then never on a screen: the report
    // runs the same with a display, without one, and over ssh.
    std::unique_ptr<QCoreApplication> app;
    if (Massif::ReportCommand::needsWidgets(argc, argv)) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    KLocalizedString::setApplicationDomain("quillmap");
    // Standard error is for the user's errors and the limit's verdict; the
    // libraries' chatter stays off unless QT_LOGGING_RULES asks for it.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false\n*.warning=false"));

    // A component of its own: its configuration is not the GUI's, so the
    // same file gives the same report on every machine.
    KAboutData aboutData(QStringLiteral("quillmap-report"),
                         i18n("Quillmap Report"),
                         QStringLiteral(QUILLMAP_VERSION_STRING),
                         i18n("Summarises a massif file without a display: for terminals, scripts and CI."),
                         KAboutLicense::GPL_V2,
                         i18n("Copyright 2026, the Quillmap developers"),
                         QString(),
                         QStringLiteral("https://quillmap.org"),
                         QStringLiteral("bugs@quillmap.org"));
    aboutData.setOrganizationDomain(QByteArrayLiteral("quillmap.org"));
    KAboutData::setApplicationData(aboutData);

    Massif::ReportCommand command;
    QCommandLineParser parser;
    aboutData.setupCommandLine(&parser);
    command.setupParser(&parser);
    if (!parser.parse(app->arguments())) {
        const QByteArray message = QStringLiteral("quillmap-report: %1\n").arg(parser.errorText()).toUtf8();
        std::fputs(message.constData(), stderr);
        return Massif::ReportCommand::Failure;
    }
    // --help, --version and the other standard options end here.
    const QStringList given = parser.optionNames();
    if (given.contains(QLatin1String("version")) || given.contains(QLatin1String("v"))) {
        parser.showVersion();
    }
    if (given.contains(QLatin1String("help")) || given.contains(QLatin1String("h")) || given.contains(QLatin1String("help-all"))) {
        parser.showHelp(0);
    }
    aboutData.processCommandLine(&parser);
    const int status = command.run(parser);
    // All is written. The parsed file can be millions of heap tree nodes:
    // freeing them one by one would only make the process end later, and
    // the system takes the memory back at once.
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(status);
}
