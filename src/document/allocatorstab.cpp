/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "allocatorstab.h"

#include "allocatorsmodel.h"

#include <KLocalizedString>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QMenu>
#include <QSortFilterProxyModel>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

namespace {
// The widest the function column starts, in average characters.
constexpr int MaxFunctionColumnChars = 60;
} // namespace

AllocatorsTab::AllocatorsTab(Massif::FileData *data, KXMLGUIClient *guiParent, QWidget *parent)
    : DocumentTabInterface(data, guiParent, parent)
    , model(new Massif::AllocatorsModel(data, this))
    , proxy(new QSortFilterProxyModel(this))
    , view(new QTreeView(this))
    , copyAction(new QAction(QIcon::fromTheme(QStringLiteral("edit-copy")), i18nc("@action", "Copy"), view))
{
    proxy->setSourceModel(model);
    proxy->setSortRole(Massif::AllocatorsModel::SortKeyRole);

    view->setRootIsDecorated(false);
    view->setModel(proxy);
    view->setSortingEnabled(true);
    view->sortByColumn(1, Qt::DescendingOrder);
    view->resizeColumnToContents(0);
    // A template-laden function name can be wider than any screen and would
    // push the peak cost out of sight; the tooltip holds the whole name.
    const int widestFunction = view->fontMetrics().averageCharWidth() * MaxFunctionColumnChars;
    if (view->columnWidth(0) > widestFunction) {
        view->setColumnWidth(0, widestFunction);
    }
    view->resizeColumnToContents(1);
    view->setContextMenuPolicy(Qt::CustomContextMenu);

    connect(view->selectionModel(), &QItemSelectionModel::currentChanged, this, &AllocatorsTab::selectionChanged);
    connect(view, &QWidget::customContextMenuRequested, this, &AllocatorsTab::customContextMenuRequested);

    // Ctrl+C while the table has the focus, whatever else the window binds it to.
    copyAction->setShortcuts(QKeySequence::Copy);
    copyAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(copyAction, &QAction::triggered, this, &AllocatorsTab::copySelectedRows);
    view->addAction(copyAction);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);
}

AllocatorsTab::~AllocatorsTab() = default;

void AllocatorsTab::settingsChanged()
{
    model->settingsChanged();
    // The peak costs follow the precision setting: repainted now, not at some
    // later redraw of their column, and given the width their new text needs.
    view->viewport()->update();
    view->resizeColumnToContents(1);
}

void AllocatorsTab::selectionChanged(const QModelIndex &current, const QModelIndex &previous)
{
    Q_UNUSED(previous)
    const auto item = current.data(Massif::AllocatorsModel::PeakItemRole).value<Massif::ModelItem>();
    if (item.first) {
        Q_EMIT modelItemSelected(item);
    }
}

void AllocatorsTab::customContextMenuRequested(const QPoint &pos)
{
    const QModelIndex index = view->indexAt(pos);
    const auto item = index.data(Massif::AllocatorsModel::PeakItemRole).value<Massif::ModelItem>();

    QMenu menu;
    if (index.isValid()) {
        // The row under the mouse, which need not be the selected one.
        QAction *copy = menu.addAction(copyAction->icon(), copyAction->text());
        copy->setShortcuts(copyAction->shortcuts());
        const QString text = rowText(index);
        connect(copy, &QAction::triggered, this, [text] {
            QApplication::clipboard()->setText(text);
        });
        menu.addSeparator();
    }
    Q_EMIT contextMenuRequested(item, &menu);
    if (!menu.actions().isEmpty()) {
        menu.exec(view->viewport()->mapToGlobal(pos));
    }
}

QString AllocatorsTab::rowText(const QModelIndex &index) const
{
    // The cells as shown, tab-separated, so that a paste into a spreadsheet keeps the columns.
    QStringList cells;
    const QHeaderView *header = view->header();
    for (int visual = 0; visual < header->count(); ++visual) {
        const int column = header->logicalIndex(visual);
        if (header->isSectionHidden(column)) {
            continue;
        }
        const QString cell = index.siblingAtColumn(column).data().toString();
        if (!cell.isEmpty()) {
            cells << cell;
        }
    }
    return cells.join(QLatin1Char('\t'));
}

void AllocatorsTab::copySelectedRows()
{
    QModelIndexList rows = view->selectionModel()->selectedRows();
    if (rows.isEmpty() && view->currentIndex().isValid()) {
        rows << view->currentIndex();
    }
    if (rows.isEmpty()) {
        return;
    }
    // In the order shown, not the order they were selected in.
    std::sort(rows.begin(), rows.end(), [](const QModelIndex &a, const QModelIndex &b) {
        return a.row() < b.row();
    });
    QStringList lines;
    for (const QModelIndex &row : std::as_const(rows)) {
        lines << rowText(row);
    }
    QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
}

void AllocatorsTab::selectModelItem(const Massif::ModelItem &item)
{
    const QModelIndex index = model->modelItemIndex(item);
    if (!index.isValid()) {
        return;
    }
    view->selectionModel()->clearSelection();
    const QModelIndex proxyIndex = proxy->mapFromSource(index);
    view->selectionModel()->select(proxyIndex, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    // The selected row, not the current one: selecting does not move the current
    // index, and moving it would report the selection back as a new one.
    view->scrollTo(proxyIndex, QAbstractItemView::EnsureVisible);
}
