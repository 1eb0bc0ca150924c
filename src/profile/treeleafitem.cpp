/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "treeleafitem.h"

using namespace Massif;

TreeLeafItem::~TreeLeafItem()
{
    qDeleteAll(m_children);
}

void TreeLeafItem::addChild(TreeLeafItem *child)
{
    child->m_parent = this;
    m_children.append(child);
}
