/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_MODELITEM_H
#define MASSIF_MODELITEM_H

#include "snapshotitem.h"
#include "treeleafitem.h"

#include <QMetaType>

#include <utility>

namespace Massif {

/**
 * What selections and context menus carry: a snapshot alone (node null),
 * a node within a snapshot, or nothing.
 */
using ModelItem = std::pair<const TreeLeafItem *, const SnapshotItem *>;

} // namespace Massif

Q_DECLARE_METATYPE(Massif::ModelItem)

#endif
