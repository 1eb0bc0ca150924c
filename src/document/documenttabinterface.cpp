/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "documenttabinterface.h"

#include <KXMLGUIFactory>

DocumentTabInterface::DocumentTabInterface(Massif::FileData *data, KXMLGUIClient *guiParent, QWidget *parent) : QWidget(parent), data(data)
{
    // A tab may stand alone, as when a chart is only exported.
    if (guiParent) {
        guiParent->insertChildClient(this);
    }
}

DocumentTabInterface::~DocumentTabInterface()
{
    // The client leaves its factory before the widget it belongs to goes away.
    if (factory()) {
        factory()->removeClient(this);
    }
}
