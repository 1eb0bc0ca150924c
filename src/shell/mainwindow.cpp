/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "mainwindow.h"
#include "comparisonlauncher.h"
#include "configdialog.h"
#include "csvexport.h"
#include "datatreemodel.h"
#include "documentwidget.h"
#include "filedata.h"
#include "filtereddatatreemodel.h"
#include "formatting.h"
#include "graphviewerplugin.h"
#include "labelpieces.h"
#include "settings.h"
#include "snapshotitem.h"
#include "sourcelocationopener.h"

#include <KActionCollection>
#include <KConfigDialog>
#include <KLocalizedString>
#include <KMessageBox>
#include <KParts/ReadOnlyPart>
#include <KPluginFactory>
#include <KPluginMetaData>
#include <KRecentFilesAction>
#include <KSharedConfig>
#include <KStandardAction>
#include <KToolBar>
#include <KXMLGUIFactory>

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QInputDialog>
#include <QMenu>
#include <QSaveFile>
#include <QScreen>
#include <QStandardItemModel>
#include <QStringListModel>
#include <QTabBar>
#include <QTimer>

#include <algorithm>

using namespace Massif;

MainWindow::MainWindow(QWidget *parent, Qt::WindowFlags flags)
    : KParts::MainWindow(parent, flags)
    , customAllocators(new QStringListModel(this))
    , dataTreeModel(new DataTreeModel(this))
    , dataTreeFilter(new FilteredDataTreeModel(dataTreeModel))
{
    ui.setupUi(this);
    // The form's property names are those of older line edits; these are today's.
    ui.filterDataTree->setPlaceholderText(i18n("filter"));
    ui.filterDataTree->setClearButtonEnabled(true);

    probeGraphViewer();

    ui.documents->setMovable(true);
    ui.documents->setTabsClosable(true);
    connect(ui.documents, &QTabWidget::currentChanged, this, &MainWindow::documentChanged);
    connect(ui.documents, &QTabWidget::tabCloseRequested, this, &MainWindow::closeFileTab);

    setupDocks();
    createActions();
    const bool firstStart = !KSharedConfig::openStateConfig()->hasGroup(QStringLiteral("MainWindow"));
    updateDockMinimumWidth();
    setupGUI(ToolBar | Keys | Save | Create);
    if (firstStart) {
        // Nothing saved yet: give the chart and the tree room.
        resize(1100, 760);
        resizeDocks({ui.dataTreeDock}, {380}, Qt::Horizontal);
    }
    keepOnScreen();
    statusBar()->hide();
    // Every client merged later makes the window apply its saved settings
    // again, which would show the status bar unless they say it is hidden.
    autoSaveConfigGroup().writeEntry("StatusBar", QStringLiteral("Disabled"));
    setupDataTreeView();

    ui.stackedWidget->setCurrentWidget(ui.openPage);
}

MainWindow::~MainWindow()
{
    while (ui.documents->count()) {
        closeTab(ui.documents->currentIndex());
    }
    recentFilesAction->saveEntries(KSharedConfig::openConfig()->group(QString()));
}

void MainWindow::probeGraphViewer()
{
    // Only the program's own viewer, never a component of that name from elsewhere.
    if (KParts::ReadOnlyPart *part = Massif::createGraphViewerPart(Massif::graphViewerFactory(), this, this)) {
        part->widget()->hide();
        return;
    }
    KToolBar *callgraphToolBar = toolBar(QStringLiteral("callgraphToolBar"));
    removeToolBar(callgraphToolBar);
    delete callgraphToolBar;
}

void MainWindow::setupDocks()
{
    tabifyDockWidget(ui.allocatorDock, ui.dataTreeDock);
    ui.dataTreeDock->raise();

    ui.allocatorView->setModel(customAllocators);
    ui.allocatorView->setSelectionMode(QAbstractItemView::SingleSelection);
    const int iconSize = style()->pixelMetric(QStyle::PM_SmallIconSize);
    ui.dockMenuBar->setIconSize(QSize(iconSize, iconSize));
    ui.dockMenuBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    ui.dockMenuBar->setFloatable(false);
    ui.dockMenuBar->setMovable(false);

    // Keys "0", "1", ... in numeric order, which is the order they were written in.
    const KConfigGroup group = allocatorsConfigGroup();
    QStringList keys = group.keyList();
    std::sort(keys.begin(), keys.end(), [](const QString &a, const QString &b) {
        return a.toULongLong() < b.toULongLong();
    });
    QStringList allocators;
    for (const QString &key : std::as_const(keys)) {
        allocators << group.readEntry(key, QString());
    }
    customAllocators->setStringList(allocators);

    connect(customAllocators, &QStringListModel::modelReset, this, &MainWindow::allocatorsChanged);
    connect(customAllocators, &QStringListModel::dataChanged, this, &MainWindow::allocatorsChanged);

    ui.dataTreeView->setContextMenuPolicy(Qt::CustomContextMenu);
    ui.allocatorView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui.dataTreeView, &QWidget::customContextMenuRequested, this, &MainWindow::dataTreeContextMenuRequested);
    connect(ui.allocatorView, &QWidget::customContextMenuRequested, this, &MainWindow::allocatorViewContextMenuRequested);
}

void MainWindow::createActions()
{
    KActionCollection *actions = actionCollection();

    QAction *openAction = KStandardAction::open(this, qOverload<>(&MainWindow::openFile), actions);
    recentFilesAction = KStandardAction::openRecent(this, qOverload<const QUrl &>(&MainWindow::openFile), actions);
    recentFilesAction->loadEntries(KSharedConfig::openConfig()->group(QString()));

    QAction *reloadAction = KStandardAction::redisplay(this, &MainWindow::reloadCurrentFile, actions);
    actions->addAction(QStringLiteral("file_reload"), reloadAction);
    reloadAction->setEnabled(false);

    exportAction = new QAction(QIcon::fromTheme(QStringLiteral("document-export")), i18nc("@action", "Export…"), actions);
    exportAction->setToolTip(i18nc("@info:tooltip", "Write the allocation sites or the heap tree of the selected snapshot as CSV"));
    connect(exportAction, &QAction::triggered, this, &MainWindow::exportData);
    actions->addAction(QStringLiteral("file_export"), exportAction);
    exportAction->setEnabled(false);

    closeAction = KStandardAction::close(this, &MainWindow::closeCurrentFile, actions);
    closeAction->setEnabled(false);

    KStandardAction::quit(qApp, &QApplication::closeAllWindows, actions);
    KStandardAction::preferences(this, &MainWindow::preferences, actions);

    shortenTemplatesAction = new QAction(QIcon::fromTheme(QStringLiteral("shortentemplates")), i18nc("@action", "Shorten Templates"), actions);
    shortenTemplatesAction->setCheckable(true);
    shortenTemplatesAction->setChecked(Settings::shortenTemplates());
    connect(shortenTemplatesAction, &QAction::toggled, this, &MainWindow::slotShortenTemplates);
    actions->addAction(QStringLiteral("shorten_templates"), shortenTemplatesAction);

    selectPeakAction = new QAction(QIcon::fromTheme(QStringLiteral("flag-red")), i18nc("@action", "Select Peak Snapshot"), actions);
    connect(selectPeakAction, &QAction::triggered, this, &MainWindow::selectPeakSnapshot);
    actions->addAction(QStringLiteral("selectPeak"), selectPeakAction);
    selectPeakAction->setEnabled(false);

    comparisons = new ComparisonLauncher(ui.documents, this, this);
    actions->addAction(QStringLiteral("file_compare"), comparisons->compareWithAction());

    newAllocatorAction = new QAction(QIcon::fromTheme(QStringLiteral("list-add")), i18nc("@action", "Add"), ui.allocatorDock);
    newAllocatorAction->setToolTip(i18nc("@info:tooltip", "Add custom allocator"));
    connect(newAllocatorAction, &QAction::triggered, this, &MainWindow::slotNewAllocator);
    ui.dockMenuBar->addAction(newAllocatorAction);

    removeAllocatorAction = new QAction(QIcon::fromTheme(QStringLiteral("list-remove")), i18nc("@action", "Remove"), ui.allocatorDock);
    removeAllocatorAction->setToolTip(i18nc("@info:tooltip", "Remove selected allocator"));
    connect(removeAllocatorAction, &QAction::triggered, this, &MainWindow::slotRemoveAllocator);
    removeAllocatorAction->setEnabled(false);
    ui.dockMenuBar->addAction(removeAllocatorAction);

    markCustomAllocatorAction = new QAction(i18nc("@action", "Mark as Custom Allocator"), ui.allocatorDock);
    // Queued: the list change replaces the document that may own the menu.
    connect(markCustomAllocatorAction, &QAction::triggered, this, &MainWindow::slotMarkCustomAllocator, Qt::QueuedConnection);

    connect(ui.allocatorView->selectionModel(), &QItemSelectionModel::selectionChanged, this, &MainWindow::allocatorSelectionChanged);

    // Ctrl+C while the tree has the focus, whatever else the window binds it to.
    copyDataTreeAction = new QAction(QIcon::fromTheme(QStringLiteral("edit-copy")), i18nc("@action", "Copy"), ui.dataTreeView);
    copyDataTreeAction->setShortcuts(QKeySequence::Copy);
    copyDataTreeAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(copyDataTreeAction, &QAction::triggered, this, &MainWindow::copyDataTreeRows);
    ui.dataTreeView->addAction(copyDataTreeAction);

    actions->addAction(QStringLiteral("toggleDataTree"), ui.dataTreeDock->toggleViewAction());
    actions->addAction(QStringLiteral("toggleAllocators"), ui.allocatorDock->toggleViewAction());

    ui.openFile->setDefaultAction(openAction);
    ui.openFile->setText(i18nc("@action:button", "Open Massif Data File"));
    ui.openFile->setIconSize(QSize(48, 48));
}

void MainWindow::setupDataTreeView()
{
    // Connected before the view's selection model exists, so that these run
    // first: a row that a filter change takes away moves the current index,
    // which is no choice of the user's and must not reach the document.
    connect(dataTreeFilter, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this] {
        removingRows = true;
    });
    connect(dataTreeFilter, &QAbstractItemModel::rowsRemoved, this, [this] {
        removingRows = false;
        selectionRestoreTimer.start();
    });
    connect(dataTreeFilter, &QAbstractItemModel::rowsInserted, &selectionRestoreTimer, qOverload<>(&QTimer::start));
    connect(dataTreeFilter, &QAbstractItemModel::layoutChanged, &selectionRestoreTimer, qOverload<>(&QTimer::start));
    selectionRestoreTimer.setSingleShot(true);
    selectionRestoreTimer.setInterval(0);
    connect(&selectionRestoreTimer, &QTimer::timeout, this, &MainWindow::restoreTreeSelection);

    ui.dataTreeView->setModel(dataTreeFilter);
    connect(ui.filterDataTree, &QLineEdit::textChanged, dataTreeFilter, &FilteredDataTreeModel::setFilter);
    connect(ui.dataTreeView->selectionModel(), &QItemSelectionModel::currentChanged, this, &MainWindow::treeSelectionChanged);
}

void MainWindow::openFile()
{
    const QList<QUrl> files =
        QFileDialog::getOpenFileUrls(this, i18nc("@title:window", "Open Massif Output File"), QUrl(), i18n("Massif data files (massif.out.*)"));
    for (const QUrl &file : files) {
        openFile(file);
    }
}

void MainWindow::openFile(const QUrl &file)
{
    int index = -1;
    for (int i = 0; i < ui.documents->count(); ++i) {
        // Comparisons share the tab bar.
        const auto *open = qobject_cast<DocumentWidget *>(ui.documents->widget(i));
        if (open && open->file() == file) {
            index = i;
            break;
        }
    }

    auto *document = new DocumentWidget(file, customAllocators->stringList(), this, this);
    // An "&" in a tab title marks a shortcut; doubled, it shows as it is.
    QString title = file.fileName();
    title.replace(QLatin1Char('&'), QLatin1String("&&"));
    if (index == -1) {
        index = ui.documents->addTab(document, title);
    } else {
        ui.documents->setCurrentIndex(index);
        closeTab(ui.documents->currentIndex());
        ui.documents->insertTab(index, document, title);
    }
    ui.documents->setCurrentIndex(index);

    connect(document, &DocumentWidget::loadingFinished, this, &MainWindow::documentChanged);
    connect(document, &DocumentWidget::requestClose, this, &MainWindow::closeRequested);
    connect(document, &DocumentWidget::compareSnapshotsRequested, this, [this, document](qint64 baseline, qint64 current) {
        comparisons->compare({document->file(), baseline}, {document->file(), current});
    });

    recentFilesAction->addUrl(file, QString());
    // Comparisons of the file read it again with it.
    comparisons->fileOpened(file);
    ui.stackedWidget->setCurrentWidget(ui.displayPage);
}

void MainWindow::reloadCurrentFile()
{
    if (currentDocument && currentDocument->file().isValid()) {
        openFile(currentDocument->file());
    }
}

void MainWindow::closeTab(int index)
{
    QWidget *document = ui.documents->widget(index);
    document->deleteLater();
    ui.documents->removeTab(index);
}

void MainWindow::compareFiles(const QUrl &baseline, const QUrl &current)
{
    comparisons->compare({baseline, -1}, {current, -1});
    ui.stackedWidget->setCurrentWidget(ui.displayPage);
}

void MainWindow::closeCurrentFile()
{
    closeTab(ui.documents->currentIndex());
}

void MainWindow::closeFileTab(int idx)
{
    closeTab(idx);
}

void MainWindow::closeRequested()
{
    auto *document = qobject_cast<DocumentWidget *>(sender());
    const int index = ui.documents->indexOf(document);
    if (index != -1) {
        closeTab(index);
    }
}

void MainWindow::documentChanged()
{
    setUpdatesEnabled(false);
    // The nodes of the previous selection may go with their document.
    selectedItem = ModelItem(nullptr, nullptr);
    auto *shown = qobject_cast<DocumentWidget *>(ui.documents->currentWidget());
    // A document that has finished loading is merged already, and its tabs
    // merge themselves: merging it again would rebuild every menu for nothing.
    const bool remerge = shown != currentDocument;
    if (currentDocument) {
        dataTreeModel->setFileData(nullptr);
        dataTreeFilter->setFilter(QString());
        if (remerge) {
            currentDocument->unmergeGuiClient(guiFactory());
            disconnect(currentDocument, &DocumentWidget::modelItemSelected, this, &MainWindow::modelItemSelected);
            disconnect(currentDocument, &DocumentWidget::contextMenuRequested, this, &MainWindow::contextMenuRequested);
        }
    }

    currentDocument = shown;
    refreshCaption();

    const bool parsed = currentDocument && currentDocument->isParsed();
    actionCollection()->action(QStringLiteral("file_reload"))->setEnabled(parsed);
    selectPeakAction->setEnabled(parsed);
    exportAction->setEnabled(parsed);
    closeAction->setEnabled(ui.documents->currentWidget());

    if (currentDocument) {
        dataTreeModel->setFileData(currentDocument->data());
        if (remerge) {
            currentDocument->mergeGuiClient(guiFactory());
            connect(currentDocument, &DocumentWidget::modelItemSelected, this, &MainWindow::modelItemSelected);
            connect(currentDocument, &DocumentWidget::contextMenuRequested, this, &MainWindow::contextMenuRequested);
        }
    } else if (!ui.documents->currentWidget()) {
        ui.stackedWidget->setCurrentWidget(ui.openPage);
    }
    setUpdatesEnabled(true);
}

void MainWindow::refreshCaption()
{
    if (currentDocument && currentDocument->isParsed()) {
        // The title is plain text, but "[*]" in it stands for the modified
        // marker; doubled, a "[*]" of the command shows as it is.
        QString command = currentDocument->data()->command();
        command.replace(QLatin1String("[*]"), QLatin1String("[*][*]"));
        setWindowTitle(i18nc("@title:window", "Evaluation of %1 (%2)", command, currentDocument->file().fileName()));
    } else {
        setWindowTitle(QString());
    }
}

void MainWindow::preferences()
{
    if (KConfigDialog::showDialog(QStringLiteral("settings"))) {
        return;
    }
    auto *dialog = new ConfigDialog(this);
    connect(dialog, &KConfigDialog::settingsChanged, this, &MainWindow::settingsChanged);
    dialog->show();
}

void MainWindow::slotShortenTemplates(bool shorten)
{
    if (shorten == Settings::shortenTemplates()) {
        return;
    }
    Settings::setShortenTemplates(shorten);
    settingsChanged();
}

void MainWindow::settingsChanged()
{
    if (Settings::shortenTemplates() != shortenTemplatesAction->isChecked()) {
        shortenTemplatesAction->setChecked(Settings::shortenTemplates());
    }
    // Saved first: the formatting functions read the stored keys.
    Settings::self()->save();
    if (currentDocument) {
        currentDocument->settingsChanged();
    }
    updateDockMinimumWidth();
    ui.dataTreeView->viewport()->update();
}

void MainWindow::treeSelectionChanged(const QModelIndex &now, const QModelIndex &before)
{
    if (!currentDocument || syncingSelection || removingRows || now == before) {
        return;
    }
    syncingSelection = true;
    const QVariant value = now.data(DataTreeModel::ItemPairRole);
    const ModelItem item = value.canConvert<ModelItem>() ? value.value<ModelItem>() : ModelItem(nullptr, nullptr);
    selectedItem = item;
    currentDocument->selectModelItem(item);
    syncingSelection = false;
}

void MainWindow::modelItemSelected(const ModelItem &item)
{
    if (!currentDocument || syncingSelection) {
        return;
    }
    syncingSelection = true;
    selectedItem = item;
    const QModelIndex viewIndex = dataTreeFilter->mapFromSource(dataTreeModel->modelItemIndex(item));
    QItemSelectionModel *selection = ui.dataTreeView->selectionModel();
    selection->clearSelection();
    selection->setCurrentIndex(viewIndex, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    ui.dataTreeView->scrollTo(selection->currentIndex(), QAbstractItemView::EnsureVisible);
    currentDocument->selectModelItem(item);
    syncingSelection = false;
}

void MainWindow::selectPeakSnapshot()
{
    ui.dataTreeView->selectionModel()->clearSelection();
    const QModelIndex viewIndex = dataTreeFilter->mapFromSource(dataTreeModel->snapshotIndex(currentDocument->data()->peak()));
    ui.dataTreeView->selectionModel()->setCurrentIndex(viewIndex, QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

static const TreeLeafItem *nodeOf(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<const TreeLeafItem *>()) {
        return value.value<const TreeLeafItem *>();
    }
    if (value.metaType() == QMetaType::fromType<TreeLeafItem *>()) {
        return value.value<TreeLeafItem *>();
    }
    return value.value<const TreeLeafItem *>();
}

void MainWindow::restoreTreeSelection()
{
    if (!currentDocument || (!selectedItem.first && !selectedItem.second)) {
        return;
    }
    const QModelIndex viewIndex = dataTreeFilter->mapFromSource(dataTreeModel->modelItemIndex(selectedItem));
    if (!viewIndex.isValid()) {
        // Hidden by the filter; it comes back when the filter lets it through.
        return;
    }
    QItemSelectionModel *selection = ui.dataTreeView->selectionModel();
    if (selection->currentIndex() != viewIndex || !selection->isSelected(viewIndex)) {
        syncingSelection = true;
        selection->clearSelection();
        selection->setCurrentIndex(viewIndex, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        syncingSelection = false;
    }
    // Also expands the rows above it, which the filter may have collapsed.
    ui.dataTreeView->scrollTo(viewIndex, QAbstractItemView::EnsureVisible);
}

void MainWindow::copyDataTreeRows()
{
    QModelIndexList rows = ui.dataTreeView->selectionModel()->selectedRows();
    if (rows.isEmpty() && ui.dataTreeView->currentIndex().isValid()) {
        rows << ui.dataTreeView->currentIndex();
    }
    if (rows.isEmpty()) {
        return;
    }
    // Top to bottom as shown, not in the order they were selected in.
    std::sort(rows.begin(), rows.end(), [this](const QModelIndex &a, const QModelIndex &b) {
        return ui.dataTreeView->visualRect(a).top() < ui.dataTreeView->visualRect(b).top();
    });
    QStringList lines;
    for (const QModelIndex &row : std::as_const(rows)) {
        lines << row.data().toString();
    }
    QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
}

void MainWindow::dataTreeContextMenuRequested(const QPoint &pos)
{
    const QModelIndex index = ui.dataTreeView->indexAt(pos);
    if (!index.isValid()) {
        return;
    }
    QMenu menu;
    // The row under the mouse, which need not be the selected one; its text
    // holds the cost and the label.
    QAction *copy = menu.addAction(copyDataTreeAction->icon(), copyDataTreeAction->text());
    copy->setShortcuts(copyDataTreeAction->shortcuts());
    const QString text = index.data().toString();
    connect(copy, &QAction::triggered, this, [text] {
        QApplication::clipboard()->setText(text);
    });
    if (const TreeLeafItem *node = nodeOf(index.data(DataTreeModel::NodeRole))) {
        menu.addSeparator();
        contextMenuRequested(ModelItem(node, nullptr), &menu);
    } else {
        // A snapshot row: its comparisons.
        contextMenuRequested(index.data(DataTreeModel::ItemPairRole).value<ModelItem>(), &menu);
    }
    menu.exec(ui.dataTreeView->viewport()->mapToGlobal(pos));
}

void MainWindow::contextMenuRequested(const ModelItem &item, QMenu *menu)
{
    if (item.second && currentDocument) {
        comparisons->addSnapshotEntries(currentDocument->file(), currentDocument->data(), item.second, menu);
    }
    if (!item.first) {
        return;
    }
    const QByteArray function = labelFunction(item.first->label());
    QByteArray title = function;
    if (title.size() > 40) {
        title = title.left(40) + "...";
    }
    menu->setTitle(QString::fromUtf8(title));
    // The function part: it is what the parse compares allocators with, so marking folds.
    markCustomAllocatorAction->setData(QString::fromUtf8(function));
    menu->addAction(markCustomAllocatorAction);

    const QByteArray label = item.first->label();
    if (SourceLocationOpener::canOpen(label)) {
        QAction *openSource = menu->addAction(QIcon::fromTheme(QStringLiteral("document-open")), i18nc("@action", "Open Source Location"));
        const QUrl document = currentDocument ? currentDocument->file() : QUrl();
        connect(openSource, &QAction::triggered, this, [this, label, document]() {
            // After the menu has closed: the opener may show a message box.
            QTimer::singleShot(0, this, [this, label, document]() {
                SourceLocationOpener::open(this, label, document, [this]() {
                    preferences();
                    if (auto *dialog = qobject_cast<ConfigDialog *>(KConfigDialog::exists(QStringLiteral("settings")))) {
                        dialog->showSourceFolders();
                    }
                });
            });
        });
    }
}

void MainWindow::allocatorViewContextMenuRequested(const QPoint &pos)
{
    const QModelIndex index = ui.allocatorView->indexAt(pos);
    QMenu menu;
    menu.addAction(newAllocatorAction);
    if (index.isValid()) {
        menu.addAction(removeAllocatorAction);
    }
    menu.exec(ui.allocatorView->mapToGlobal(pos));
}

void MainWindow::addCustomAllocator(const QString &allocator)
{
    QStringList allocators = customAllocators->stringList();
    if (allocators.contains(allocator)) {
        return;
    }
    allocators << allocator;
    // The model reset this causes saves the list and parses the document again.
    customAllocators->setStringList(allocators);
}

void MainWindow::slotNewAllocator()
{
    const QString allocator = QInputDialog::getText(this, i18nc("@title:window", "Add Custom Allocator"), i18nc("@label:textbox", "Allocator:"));
    if (!allocator.isEmpty()) {
        addCustomAllocator(allocator);
    }
}

void MainWindow::slotMarkCustomAllocator()
{
    addCustomAllocator(markCustomAllocatorAction->data().toString());
}

void MainWindow::slotRemoveAllocator()
{
    const QModelIndexList rows = ui.allocatorView->selectionModel()->selectedRows(0);
    for (const QModelIndex &row : rows) {
        customAllocators->removeRows(row.row(), 1, row.parent());
    }
    allocatorsChanged();
}

void MainWindow::allocatorSelectionChanged()
{
    removeAllocatorAction->setEnabled(ui.allocatorView->selectionModel()->hasSelection());
}

KConfigGroup MainWindow::allocatorsConfigGroup() const
{
    return KSharedConfig::openConfig()->group(QStringLiteral("Allocators"));
}

void MainWindow::allocatorsChanged()
{
    KConfigGroup group = allocatorsConfigGroup();
    group.deleteGroup();
    const QStringList allocators = customAllocators->stringList();
    int n = 0;
    for (const QString &allocator : allocators) {
        if (allocator.isEmpty()) {
            // Removing a row resets nothing, so this slot is not re-entered.
            customAllocators->removeRows(n, 1);
            continue;
        }
        group.writeEntry(QString::number(n), allocator);
        ++n;
    }
    group.sync();

    if (currentDocument && currentDocument->file().isValid()) {
        openFile(currentDocument->file());
    }
}

void MainWindow::updateDockMinimumWidth()
{
    // Wide enough for the row of a large peak snapshot to read whole, measured
    // as the tree's delegate lays the row out, with the style's margins.
    QStandardItemModel sample;
    sample.appendRow(new QStandardItem(i18nc("%1: cost, %2: snapshot number", "%1: Snapshot #%2 (peak)", formatCost(quint64(999.9 * 1024 * 1024)), 999)));
    QStyleOptionViewItem option;
    option.initFrom(ui.dataTreeView);
    option.font = ui.dataTreeView->font();
    const int rowWidth = ui.dataTreeView->itemDelegate()->sizeHint(option, sample.index(0, 0)).width();
    const QMargins layoutMargins = ui.verticalLayout->contentsMargins();
    const int treeWidth = rowWidth + ui.dataTreeView->indentation() + 2 * ui.dataTreeView->frameWidth() +
        ui.dataTreeView->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, ui.dataTreeView) + layoutMargins.left() + layoutMargins.right();

    // The two docks share one place, with their titles on tabs below it.
    QTabBar titles;
    titles.setFont(font());
    titles.setDocumentMode(documentMode());
    titles.setUsesScrollButtons(false);
    titles.addTab(ui.dataTreeDock->windowTitle());
    titles.addTab(ui.allocatorDock->windowTitle());

    const int width = std::max(treeWidth, titles.sizeHint().width());
    ui.dockWidgetContents->setMinimumWidth(width);
    ui.dockWidgetContents_2->setMinimumWidth(width);
}

void MainWindow::keepOnScreen()
{
    // A size saved on a larger screen, or grown by a page that could not
    // shrink, would put the docks out of reach.
    const QScreen *current = screen();
    if (!current) {
        return;
    }
    const QRect available = current->availableGeometry();
    const QSize bounded = size().boundedTo(available.size());
    if (bounded != size()) {
        resize(bounded);
    }
    if (!available.contains(geometry())) {
        QRect placed = geometry();
        placed.moveRight(std::min(placed.right(), available.right()));
        placed.moveBottom(std::min(placed.bottom(), available.bottom()));
        placed.moveLeft(std::max(placed.left(), available.left()));
        placed.moveTop(std::max(placed.top(), available.top()));
        move(placed.topLeft());
    }
}

void MainWindow::exportData()
{
    const Massif::FileData *data = currentDocument ? currentDocument->data() : nullptr;
    if (!data) {
        return;
    }
    // The snapshot selected in the data tree, or the one of the selected node; the peak otherwise.
    const auto item = ui.dataTreeView->currentIndex().data(Massif::DataTreeModel::ItemPairRole).value<Massif::ModelItem>();
    const Massif::SnapshotItem *snapshot = item.second ? item.second : Massif::CsvExport::snapshotOf(data, item.first);
    if (!snapshot || !snapshot->heapTree()) {
        snapshot = data->peak();
    }

    const QString sitesFilter = i18nc("@item:inlistbox file type", "Allocation sites (*.csv)");
    QStringList filters {sitesFilter};
    QString treeFilter;
    if (snapshot && snapshot->heapTree()) {
        treeFilter = i18nc("@item:inlistbox file type", "Heap tree of snapshot #%1 (*.csv)", snapshot->number());
        filters << treeFilter;
    }
    QFileDialog dialog(this, i18nc("@title:window", "Export as CSV"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    const QString fileName = dialog.selectedFiles().constFirst();
    const bool tree = !treeFilter.isEmpty() && dialog.selectedNameFilter() == treeFilter;

    // Written whole or not at all: an existing file stays as it was on failure.
    QSaveFile file(fileName);
    bool written = file.open(QIODevice::WriteOnly);
    if (written) {
        written = tree ? Massif::CsvExport::writeHeapTree(snapshot, &file) : Massif::CsvExport::writeAllocationSites(data, &file);
    }
    written = written && file.commit();
    if (!written) {
        KMessageBox::error(this, i18nc("@info", "Failed to write %1: %2", fileName, file.errorString()));
    }
}
