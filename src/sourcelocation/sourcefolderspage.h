/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_SOURCEFOLDERSPAGE_H
#define MASSIF_SOURCEFOLDERSPAGE_H

#include <QWidget>

class KEditListWidget;
class QComboBox;
class QLineEdit;

namespace Massif {

/**
 * The settings page of source locations: the folders source files are looked
 * up in, and the editor command. Its "kcfg_" widgets bind to the items of
 * Massif::SourceSettings when the page is added with that skeleton.
 */
class SourceFoldersPage : public QWidget
{
    Q_OBJECT
public:
    explicit SourceFoldersPage(QWidget *parent = nullptr);

private:
    void chooseEditor(int index);
    void showChosenEditor();

    KEditListWidget *m_folders;
    QComboBox *m_editorChoice;
    QLineEdit *m_editorCommand;
};

} // namespace Massif

#endif
