/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "sitediff.h"

#include "formatting.h"
#include "treeleafitem.h"

#include <QHash>

#include <algorithm>

using namespace Massif;

SiteDiff::SiteDiff(const TreeLeafItem *baselineRoot, const TreeLeafItem *currentRoot)
{
    QHash<LabelPieces, qsizetype> rows;
    const auto add = [&](const TreeLeafItem *root, bool baseline) {
        if (!root) {
            return;
        }
        const QList<TreeLeafItem *> children = root->children();
        for (const TreeLeafItem *node : children) {
            const LabelPieces key = siteKey(node->label());
            auto it = rows.constFind(key);
            if (it == rows.constEnd()) {
                it = rows.insert(key, m_sites.size());
                m_sites.append(Site {key, 0, 0, nullptr, nullptr});
            }
            Site &site = m_sites[it.value()];
            quint64 &cost = baseline ? site.baselineCost : site.currentCost;
            const TreeLeafItem *&peak = baseline ? site.baselineNode : site.currentNode;
            // One site may have several nodes in one tree: one per code address.
            cost += node->cost();
            if (!peak || peak->cost() < node->cost()) {
                peak = node;
            }
        }
    };
    add(baselineRoot, true);
    add(currentRoot, false);
    std::stable_sort(m_sites.begin(), m_sites.end(), [](const Site &a, const Site &b) {
        if (a.change() != b.change()) {
            return a.change() > b.change();
        }
        return std::max(a.baselineCost, a.currentCost) > std::max(b.baselineCost, b.currentCost);
    });
}

int SiteDiff::grownSites(double fraction) const
{
    return int(std::count_if(m_sites.cbegin(), m_sites.cend(), [fraction](const Site &site) {
        return !site.isSummary() && site.currentCost > site.baselineCost && double(site.change()) > fraction * double(site.baselineCost);
    }));
}
