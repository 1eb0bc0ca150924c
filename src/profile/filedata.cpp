/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "filedata.h"
#include "modelitem.h"
#include "snapshotitem.h"

using namespace Massif;

FileData::FileData(QObject *parent) : QObject(parent)
{
}

FileData::~FileData()
{
    qDeleteAll(m_snapshots);
}

static void registerProfileMetaTypes()
{
    qRegisterMetaType<Massif::ModelItem>("Massif::ModelItem");
    qRegisterMetaType<Massif::TreeLeafItem *>("Massif::TreeLeafItem*");
    qRegisterMetaType<const Massif::TreeLeafItem *>("const Massif::TreeLeafItem*");
    qRegisterMetaType<Massif::FileData *>("Massif::FileData*");
}
Q_CONSTRUCTOR_FUNCTION(registerProfileMetaTypes)
