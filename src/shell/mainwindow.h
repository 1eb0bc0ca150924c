/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_MAINWINDOW_H
#define MASSIF_MAINWINDOW_H

#include "modelitem.h"
#include "ui_mainwindow.h"

#include <KConfigGroup>
#include <KParts/MainWindow>

#include <QTimer>
#include <QUrl>

class ComparisonLauncher;
class DocumentWidget;
class KRecentFilesAction;
class QMenu;
class QStringListModel;

namespace Massif {

class DataTreeModel;
class FilteredDataTreeModel;

/**
 * The application's window: one tab per open massif file, a start page while
 * none is open, the data tree and custom allocator docks.
 */
class MainWindow : public KParts::MainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    ~MainWindow() override;

public Q_SLOTS:
    void openFile();
    void openFile(const QUrl &file);
    void reloadCurrentFile();
    void closeCurrentFile();
    /// Opens a comparison of the peaks of two files, @p baseline first.
    void compareFiles(const QUrl &baseline, const QUrl &current);

private Q_SLOTS:
    void closeRequested();
    void closeFileTab(int idx);
    void preferences();
    void settingsChanged();
    void treeSelectionChanged(const QModelIndex &now, const QModelIndex &before);
    void selectPeakSnapshot();
    void modelItemSelected(const Massif::ModelItem &item);
    void contextMenuRequested(const Massif::ModelItem &item, QMenu *menu);
    void documentChanged();
    void allocatorsChanged();
    void allocatorSelectionChanged();
    void dataTreeContextMenuRequested(const QPoint &pos);
    void slotNewAllocator();
    void slotRemoveAllocator();
    void slotMarkCustomAllocator();
    void allocatorViewContextMenuRequested(const QPoint &pos);
    void slotShortenTemplates(bool);
    void copyDataTreeRows();
    void restoreTreeSelection();
    void exportData();

private:
    void probeGraphViewer();
    void setupDocks();
    void createActions();
    void setupDataTreeView();
    void closeTab(int index);
    void refreshCaption();
    KConfigGroup allocatorsConfigGroup() const;
    void addCustomAllocator(const QString &allocator);
    void updateDockMinimumWidth();
    void keepOnScreen();

    Ui::MainWindow ui;
    KRecentFilesAction *recentFilesAction = nullptr;
    QAction *closeAction = nullptr;
    QStringListModel *customAllocators = nullptr;
    QAction *newAllocatorAction = nullptr;
    QAction *removeAllocatorAction = nullptr;
    QAction *markCustomAllocatorAction = nullptr;
    QAction *shortenTemplatesAction = nullptr;
    QAction *selectPeakAction = nullptr;
    QAction *exportAction = nullptr;
    DocumentWidget *currentDocument = nullptr;
    DataTreeModel *dataTreeModel = nullptr;
    FilteredDataTreeModel *dataTreeFilter = nullptr;
    bool syncingSelection = false;
    ComparisonLauncher *comparisons = nullptr;
    /// True while the filter takes rows away from the tree.
    bool removingRows = false;
    /// What the current document shows as selected, kept across filter changes.
    ModelItem selectedItem;
    QTimer selectionRestoreTimer;
    QAction *copyDataTreeAction = nullptr;
};

} // namespace Massif

#endif
