/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "configdialog.h"

#include "settings.h"
#include "sourcefolderspage.h"
#include "sourcesettings.h"
#include "ui_configdialog.h"

#include <KLocalizedString>

using namespace Massif;

ConfigDialog::ConfigDialog(QWidget *parent) : KConfigDialog(parent, QStringLiteral("settings"), Settings::self()), m_ui(std::make_unique<Ui::Config>())
{
    setAttribute(Qt::WA_DeleteOnClose);

    auto *page = new QWidget(this);
    m_ui->setupUi(page);
    addPage(page, Settings::self(), i18nc("@title:tab", "Settings"), QStringLiteral("configure"), QString());
    // Kept apart from Settings: the source locations have a group of their own.
    m_sourceFoldersPage =
        addPage(new SourceFoldersPage(this), SourceSettings::self(), i18nc("@title:tab", "Source Folders"), QStringLiteral("folder-open"), QString());
    setFaceType(KPageDialog::Tabbed);
}

ConfigDialog::~ConfigDialog() = default;

void ConfigDialog::showSourceFolders()
{
    setCurrentPage(m_sourceFoldersPage);
}
