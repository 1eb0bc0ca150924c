/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_DIFFTREEMODEL_H
#define MASSIF_DIFFTREEMODEL_H

#include <QAbstractItemModel>

namespace Massif {

class Comparison;

/**
 * The merged heap tree of a comparison: function, baseline cost, current
 * cost, change and change in percent. The root has no row of its own; its
 * children are the top level. The comparison must outlive the model, or be
 * taken away first with setComparison(nullptr).
 */
class DiffTreeModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    enum Columns {
        FunctionColumn,
        BaselineColumn,
        CurrentColumn,
        ChangeColumn,
        PercentColumn,
        ColumnCount,
    };
    enum CustomRoles {
        /// The raw label as text, which the filter line matches.
        FilterTextRole = Qt::UserRole + 1,
        /// What the columns sort by: numbers for the costs, the absolute change for the change columns.
        SortKeyRole,
        /// The row's index in the comparison's merged tree.
        DiffRowRole,
    };

    explicit DiffTreeModel(QObject *parent = nullptr);
    ~DiffTreeModel() override;

    void setComparison(const Comparison *comparison);

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QString tooltip(qint32 row) const;

    const Comparison *m_comparison = nullptr;
};

} // namespace Massif

#endif
