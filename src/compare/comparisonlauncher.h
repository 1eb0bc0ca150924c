/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef COMPARISONLAUNCHER_H
#define COMPARISONLAUNCHER_H

#include "comparisonwidget.h"

#include <QObject>
#include <QPointer>
#include <QUrl>

class KXMLGUIClient;
class QAction;
class QMenu;
class QTabWidget;

namespace Massif {
class FileData;
class SnapshotItem;
} // namespace Massif

/**
 * Opens comparisons as tabs of the main window's document tab widget: from
 * File > Compare With…, from the context menus of snapshots and from the
 * command line. It reloads them when one of their files is opened again and
 * closes them on their own request.
 */
class ComparisonLauncher : public QObject
{
    Q_OBJECT
public:
    ComparisonLauncher(QTabWidget *documents, KXMLGUIClient *guiParent, QWidget *window);
    ~ComparisonLauncher() override;

    /// "Compare With…", for the window's action collection; enabled while a file's document is current.
    QAction *compareWithAction() const
    {
        return m_compareWithAction;
    }

    /// Adds a comparison tab and makes it current.
    ComparisonWidget *compare(const ComparisonWidget::Side &baseline, const ComparisonWidget::Side &current);

    /// Adds "Compare With Peak", "Set as Baseline" and, once a baseline is set, "Compare With Snapshot #N".
    void addSnapshotEntries(const QUrl &file, const Massif::FileData *data, const Massif::SnapshotItem *snapshot, QMenu *menu);

    /// Reads comparisons of @p file again: it has just been opened anew.
    void fileOpened(const QUrl &file);

    /// The custom allocators, as the allocator dock stores them.
    static QStringList customAllocators();

public Q_SLOTS:
    /// Asks for a file to compare the current document's file with, as its baseline.
    void compareWith();

private Q_SLOTS:
    void updateAction();
    void closeRequested();

private:
    QUrl currentFile() const;

    QTabWidget *m_documents;
    KXMLGUIClient *m_guiParent;
    QWidget *m_window;
    QAction *m_compareWithAction;
    QUrl m_baselineFile;
    qint64 m_baselineSnapshot = -1;
};

#endif
