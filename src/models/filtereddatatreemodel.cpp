/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "filtereddatatreemodel.h"

#include "datatreemodel.h"
#include "treeleafitem.h"

#include <vector>

using namespace Massif;

FilteredDataTreeModel::FilteredDataTreeModel(QAbstractItemModel *source) : QSortFilterProxyModel(source)
{
    setSourceModel(source);
    setDynamicSortFilter(true);
    m_filterTimer.setSingleShot(true);
    m_filterTimer.setInterval(150);
    connect(&m_filterTimer, &QTimer::timeout, this, &FilteredDataTreeModel::timeout);
    if (source) {
        // Let go of the label buffers of a file that is going away.
        connect(source, &QAbstractItemModel::rowsAboutToBeRemoved, this, &FilteredDataTreeModel::forgetLabels);
        connect(source, &QAbstractItemModel::modelAboutToBeReset, this, &FilteredDataTreeModel::forgetLabels);
    }
}

FilteredDataTreeModel::~FilteredDataTreeModel() = default;

void FilteredDataTreeModel::setSourceModel(QAbstractItemModel *sourceModel)
{
    QSortFilterProxyModel::setSourceModel(sourceModel);
}

void FilteredDataTreeModel::setFilter(const QString &needle)
{
    m_needle = needle;
    forgetLabels();
    m_filterTimer.start();
}

void FilteredDataTreeModel::timeout()
{
    invalidateFilter();
}

void FilteredDataTreeModel::forgetLabels()
{
    m_labelMatches.clear();
}

bool FilteredDataTreeModel::textMatches(const QVariant &text) const
{
    // A byte-array label converts as UTF-8.
    return text.toString().contains(m_needle, Qt::CaseInsensitive);
}

bool FilteredDataTreeModel::labelMatches(const QByteArray &label) const
{
    // Equal labels share one buffer, so a large tree has few distinct ones.
    auto it = m_labelMatches.constFind(label.constData());
    if (it == m_labelMatches.constEnd()) {
        it = m_labelMatches.insert(label.constData(), qMakePair(label, textMatches(label)));
    }
    return it->second;
}

bool FilteredDataTreeModel::subtreeMatches(const TreeLeafItem *node) const
{
    // Depth first, first child first, as the rows would be decided one by one.
    std::vector<const TreeLeafItem *> pending;
    const auto pushChildren = [&pending](const TreeLeafItem *parent) {
        const QList<TreeLeafItem *> children = parent->children();
        pending.insert(pending.end(), children.crbegin(), children.crend());
    };
    pushChildren(node);
    while (!pending.empty()) {
        const TreeLeafItem *current = pending.back();
        pending.pop_back();
        if (labelMatches(current->label())) {
            return true;
        }
        pushChildren(current);
    }
    return false;
}

bool FilteredDataTreeModel::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    if (m_needle.isEmpty()) {
        return true;
    }
    const QAbstractItemModel *source = sourceModel();
    if (!source) {
        return true;
    }
    const QModelIndex index = source->index(sourceRow, 0, sourceParent);
    if (textMatches(source->data(index, DataTreeModel::FilterTextRole))) {
        return true;
    }
    if (dynamic_cast<const DataTreeModel *>(source)) {
        // The rows below are the children of the index's node: search them
        // directly instead of through indexes and variants.
        const auto *node = static_cast<const TreeLeafItem *>(index.constInternalPointer());
        return node && subtreeMatches(node);
    }
    const int children = source->rowCount(index);
    for (int row = 0; row < children; ++row) {
        if (filterAcceptsRow(row, index)) {
            return true;
        }
    }
    return false;
}

bool FilteredDataTreeModel::filterAcceptsColumn(int sourceColumn, const QModelIndex &sourceParent) const
{
    Q_UNUSED(sourceColumn)
    Q_UNUSED(sourceParent)
    return true;
}
