/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef ALLOCATORSTAB_H
#define ALLOCATORSTAB_H

#include "documenttabinterface.h"

class QAction;
class QModelIndex;
class QPoint;
class QSortFilterProxyModel;
class QTreeView;

namespace Massif {
class AllocatorsModel;
}

/**
 * The allocation sites of a document as a flat table, most expensive first.
 * Has no menus or toolbars of its own.
 */
class AllocatorsTab : public DocumentTabInterface
{
    Q_OBJECT
public:
    AllocatorsTab(Massif::FileData *data, KXMLGUIClient *guiParent, QWidget *parent = nullptr);
    ~AllocatorsTab() override;

    void settingsChanged() override;

public Q_SLOTS:
    void selectModelItem(const Massif::ModelItem &item) override;

private Q_SLOTS:
    void selectionChanged(const QModelIndex &current, const QModelIndex &previous);
    void customContextMenuRequested(const QPoint &pos);
    void copySelectedRows();

private:
    QString rowText(const QModelIndex &index) const;

    Massif::AllocatorsModel *model;
    QSortFilterProxyModel *proxy;
    QTreeView *view;
    QAction *copyAction;
};

#endif
