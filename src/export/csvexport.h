/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_CSVEXPORT_H
#define MASSIF_CSVEXPORT_H

class QIODevice;

namespace Massif {

class FileData;
class SnapshotItem;
class TreeLeafItem;

/**
 * The tables of a parsed file as CSV, for spreadsheets and scripts. Costs are
 * plain byte counts and texts are the profile's own, untouched by display
 * settings; the column names are fixed English words, as scripts expect.
 */
class CsvExport
{
public:
    /// The allocation sites, most expensive first: function, location, peak bytes, peak snapshot.
    static bool writeAllocationSites(const FileData *data, QIODevice *device);
    /// The heap tree of @p snapshot, depth first: depth, function, location, bytes, share of the tree's total in percent.
    static bool writeHeapTree(const SnapshotItem *snapshot, QIODevice *device);
    /// The snapshot whose heap tree holds @p node; null when none does.
    static const SnapshotItem *snapshotOf(const FileData *data, const TreeLeafItem *node);
};

} // namespace Massif

#endif
