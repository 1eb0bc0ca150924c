/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_SITEDIFF_H
#define MASSIF_SITEDIFF_H

#include "labelpieces.h"

#include <QList>

#include <cmath>

namespace Massif {

class TreeLeafItem;

/**
 * The allocation sites of two heap trees side by side: the children of each
 * root, merged as in the allocators table (function and location, code
 * address ignored; all below-threshold summaries one site), with each
 * site's cost in either tree. Sorted by change, largest growth first.
 */
class SiteDiff
{
public:
    struct Site
    {
        /// Function and location; address always empty; all empty for the below-threshold site.
        LabelPieces parts;
        quint64 baselineCost = 0;
        quint64 currentCost = 0;
        /// The most expensive node of the site on either side, or null.
        const TreeLeafItem *baselineNode = nullptr;
        const TreeLeafItem *currentNode = nullptr;

        qint64 change() const
        {
            return qint64(currentCost) - qint64(baselineCost);
        }
        /// Change in percent of the baseline cost; NaN without a baseline cost.
        double changePercent() const
        {
            return baselineCost ? double(change()) * 100.0 / double(baselineCost) : std::nan("");
        }
        bool isSummary() const
        {
            return parts.function.isEmpty() && parts.location.isEmpty();
        }
    };

    SiteDiff() = default;
    /// Either root may be null.
    SiteDiff(const TreeLeafItem *baselineRoot, const TreeLeafItem *currentRoot);

    const QList<Site> &sites() const
    {
        return m_sites;
    }

    /// Sites other than the below-threshold one whose cost grew by more than @p fraction of their baseline (new sites included).
    int grownSites(double fraction) const;

private:
    QList<Site> m_sites;
};

} // namespace Massif

#endif
