/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "configdialog.h"

#include "settings.h"
#include "ui_configdialog.h"

#include <KLocalizedString>

using namespace Massif;

ConfigDialog::ConfigDialog(QWidget *parent) : KConfigDialog(parent, QStringLiteral("settings"), Settings::self()), m_ui(std::make_unique<Ui::Config>())
{
    setAttribute(Qt::WA_DeleteOnClose);

    auto *page = new QWidget(this);
    m_ui->setupUi(page);
    addPage(page, Settings::self(), i18nc("@title:tab", "Settings"), QString(), QString());
    setFaceType(KPageDialog::Plain);
}

ConfigDialog::~ConfigDialog() = default;
