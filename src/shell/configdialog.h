/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_CONFIGDIALOG_H
#define MASSIF_CONFIGDIALOG_H

#include <KConfigDialog>

#include <memory>

namespace Ui {
class Config;
}

namespace Massif {

/**
 * The settings dialog: one plain page whose "kcfg_" widgets are bound to
 * the items of Massif::Settings. Deletes itself when closed, so that every
 * opening shows the current values.
 */
class ConfigDialog : public KConfigDialog
{
    Q_OBJECT
public:
    explicit ConfigDialog(QWidget *parent);
    ~ConfigDialog() override;

    /// Turns to the page of source folders and the editor command.
    void showSourceFolders();

private:
    std::unique_ptr<Ui::Config> m_ui;
    KPageWidgetItem *m_sourceFoldersPage = nullptr;
};

} // namespace Massif

#endif
