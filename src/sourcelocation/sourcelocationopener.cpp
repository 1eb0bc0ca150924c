/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "sourcelocationopener.h"

#include "sourcelocation.h"
#include "sourcesettings.h"

#include <KIO/JobUiDelegateFactory>
#include <KIO/OpenUrlJob>
#include <KLocalizedString>
#include <KMessageBox>

#include <QDebug>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace Massif {

bool SourceLocationOpener::canOpen(const QByteArray &label)
{
    return SourceLocation::fromLabel(label).isValid();
}

void SourceLocationOpener::open(QWidget *parent, const QByteArray &label, const QUrl &document, const std::function<void()> &showSettings)
{
    const SourceLocation location = SourceLocation::fromLabel(label);
    if (!location.isValid()) {
        return;
    }
    const QString documentFolder = document.isLocalFile() ? QFileInfo(document.toLocalFile()).absolutePath() : QString();
    QStringList searched;
    const QString path = location.resolve(documentFolder, SourceSettings::sourceFolders(), &searched);
    if (path.isEmpty()) {
        const auto answer = KMessageBox::warningTwoActions(parent,
                                                           location.notFoundMessage(searched),
                                                           i18nc("@title:window", "Source File Not Found"),
                                                           KGuiItem(i18nc("@action:button", "Configure Source Folders…"), QStringLiteral("configure")),
                                                           KStandardGuiItem::close());
        if (answer == KMessageBox::PrimaryAction && showSettings) {
            showSettings();
        }
        return;
    }

    const QString command = SourceSettings::editorCommand().trimmed();
    if (command.isEmpty()) {
        auto *job = new KIO::OpenUrlJob(QUrl::fromLocalFile(path));
        job->setUiDelegate(KIO::createDefaultJobUiDelegate(KJobUiDelegate::AutoHandlingEnabled, parent));
        job->start();
        return;
    }
    const QStringList arguments = SourceLocation::editorArguments(command, path, location.line());
    qDebug() << "opening source location:" << arguments;
    if (arguments.isEmpty()) {
        KMessageBox::error(parent, xi18nc("@info", "The editor command <command>%1</command> cannot be read.", command), QString());
        return;
    }
    if (!QProcess::startDetached(arguments.first(), arguments.mid(1))) {
        KMessageBox::error(parent, xi18nc("@info", "The editor <command>%1</command> could not be started.", arguments.first()), QString());
    }
}

} // namespace Massif
