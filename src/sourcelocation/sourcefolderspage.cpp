/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "sourcefolderspage.h"

#include "sourcelocation.h"

#include <KEditListWidget>
#include <KLocalizedString>
#include <KUrlRequester>

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

namespace Massif {

SourceFoldersPage::SourceFoldersPage(QWidget *parent) : QWidget(parent)
{
    auto *requester = new KUrlRequester(this);
    requester->setMode(KFile::Directory | KFile::ExistingOnly | KFile::LocalOnly);
    requester->setPlaceholderText(i18nc("@info:placeholder", "Folder with sources…"));
    m_folders = new KEditListWidget(requester->customEditor(), this);
    m_folders->setObjectName(QStringLiteral("kcfg_SourceFolders"));

    m_editorChoice = new QComboBox(this);
    m_editorChoice->setObjectName(QStringLiteral("editorChoice"));
    m_editorChoice->addItem(i18nc("@item:inlistbox", "Desktop default application"), QString());
    const auto choices = SourceLocation::editorChoices();
    for (const SourceLocation::EditorChoice &choice : choices) {
        m_editorChoice->addItem(choice.name, choice.command);
    }
    m_editorChoice->addItem(i18nc("@item:inlistbox", "Other command"));

    m_editorCommand = new QLineEdit(this);
    m_editorCommand->setObjectName(QStringLiteral("kcfg_EditorCommand"));
    m_editorCommand->setPlaceholderText(i18nc("@info:placeholder", "Desktop default application"));
    m_editorCommand->setClearButtonEnabled(true);

    auto *help = new QLabel(i18nc("@info", "In the command, %f stands for the file and %l for the line. It is run directly, without a shell."), this);
    help->setWordWrap(true);

    auto *layout = new QFormLayout(this);
    auto *foldersLabel = new QLabel(i18nc("@label", "Source folders:"), this);
    foldersLabel->setToolTip(i18nc("@info:tooltip", "Looked in, with their subfolders, after the folder of the profile"));
    layout->addRow(foldersLabel, m_folders);
    layout->addRow(i18nc("@label:listbox", "Editor:"), m_editorChoice);
    layout->addRow(i18nc("@label:textbox", "Command:"), m_editorCommand);
    layout->addRow(QString(), help);

    connect(m_editorChoice, &QComboBox::activated, this, &SourceFoldersPage::chooseEditor);
    connect(m_editorCommand, &QLineEdit::textChanged, this, &SourceFoldersPage::showChosenEditor);
}

void SourceFoldersPage::chooseEditor(int index)
{
    const QVariant command = m_editorChoice->itemData(index);
    if (command.isValid()) {
        m_editorCommand->setText(command.toString());
    } else {
        m_editorCommand->setFocus();
    }
}

void SourceFoldersPage::showChosenEditor()
{
    const int index = m_editorChoice->findData(m_editorCommand->text());
    m_editorChoice->setCurrentIndex(index >= 0 ? index : m_editorChoice->count() - 1);
}

} // namespace Massif
