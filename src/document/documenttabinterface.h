/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef DOCUMENTTABINTERFACE_H
#define DOCUMENTTABINTERFACE_H

#include "modelitem.h"

#include <KXMLGUIClient>

#include <QWidget>

class QMenu;

namespace Massif {
class FileData;
}

/**
 * Base of every page of a document: a widget and an XML GUI client at once,
 * taking part in the selection protocol built on Massif::ModelItem.
 */
class DocumentTabInterface
    : public QWidget
    , public KXMLGUIClient
{
    Q_OBJECT
public:
    DocumentTabInterface(Massif::FileData *data, KXMLGUIClient *guiParent, QWidget *parent = nullptr);
    ~DocumentTabInterface() override;

    /// Re-reads whatever the tab takes from the settings.
    virtual void settingsChanged() = 0;

public Q_SLOTS:
    /// Shows @p item as selected; either member may be null.
    virtual void selectModelItem(const Massif::ModelItem &item) = 0;

Q_SIGNALS:
    void modelItemSelected(const Massif::ModelItem &item);
    /// Listeners may add entries to @p menu before the tab runs it.
    void contextMenuRequested(const Massif::ModelItem &item, QMenu *menu);

protected:
    Massif::FileData *const data;
};

#endif
