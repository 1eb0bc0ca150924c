/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_FILTEREDDATATREEMODEL_H
#define MASSIF_FILTEREDDATATREEMODEL_H

#include <QByteArray>
#include <QHash>
#include <QPair>
#include <QSortFilterProxyModel>
#include <QTimer>

namespace Massif {

class TreeLeafItem;

/**
 * Hides every row of the data tree whose label does not contain the filter
 * text, unless a row below it does. A new text takes effect 150 ms after
 * the last change, so that typing does not filter a large tree at every key.
 */
class FilteredDataTreeModel : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    /// @p source becomes both the parent and the source model.
    explicit FilteredDataTreeModel(QAbstractItemModel *source);
    ~FilteredDataTreeModel() override;

    void setSourceModel(QAbstractItemModel *sourceModel) override;

public Q_SLOTS:
    void setFilter(const QString &needle);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;
    bool filterAcceptsColumn(int sourceColumn, const QModelIndex &sourceParent) const override;

private Q_SLOTS:
    void timeout();

private:
    bool textMatches(const QVariant &text) const;
    bool labelMatches(const QByteArray &label) const;
    bool subtreeMatches(const TreeLeafItem *node) const;
    void forgetLabels();

    QString m_needle;
    QTimer m_filterTimer;
    // Decisions per shared label buffer for the current needle. Each entry keeps
    // its buffer alive, so an address cannot come back with other bytes.
    mutable QHash<const char *, QPair<QByteArray, bool>> m_labelMatches;
};

} // namespace Massif

#endif
