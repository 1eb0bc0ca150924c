/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "filtereddatatreemodel.h"

#include "datatreemodel.h"

using namespace Massif;

FilteredDataTreeModel::FilteredDataTreeModel(QAbstractItemModel *source) : QSortFilterProxyModel(source)
{
    setSourceModel(source);
    setDynamicSortFilter(true);
    m_filterTimer.setSingleShot(true);
    m_filterTimer.setInterval(150);
    connect(&m_filterTimer, &QTimer::timeout, this, &FilteredDataTreeModel::timeout);
}

FilteredDataTreeModel::~FilteredDataTreeModel() = default;

void FilteredDataTreeModel::setSourceModel(QAbstractItemModel *sourceModel)
{
    QSortFilterProxyModel::setSourceModel(sourceModel);
}

void FilteredDataTreeModel::setFilter(const QString &needle)
{
    m_needle = needle;
    m_filterTimer.start();
}

void FilteredDataTreeModel::timeout()
{
    invalidateFilter();
}

bool FilteredDataTreeModel::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    if (m_needle.isEmpty()) {
        return true;
    }
    const QAbstractItemModel *source = sourceModel();
    const QModelIndex index = source->index(sourceRow, 0, sourceParent);
    const QString text = source->data(index, DataTreeModel::FilterTextRole).toString();
    if (text.contains(m_needle, Qt::CaseInsensitive)) {
        return true;
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
