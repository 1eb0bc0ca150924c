/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_SITEDIFFMODEL_H
#define MASSIF_SITEDIFFMODEL_H

#include <QAbstractItemModel>

namespace Massif {

class Comparison;

/**
 * The allocation sites of a comparison as a flat table: function, location,
 * baseline, current, change and change in percent, in the order of the
 * comparison (largest growth first).
 */
class SiteDiffModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    enum Columns {
        FunctionColumn,
        LocationColumn,
        BaselineColumn,
        CurrentColumn,
        ChangeColumn,
        PercentColumn,
        ColumnCount,
    };
    enum CustomRoles {
        /// What the columns sort by: numbers for costs and changes (signed), text otherwise.
        SortKeyRole = Qt::UserRole + 1,
    };

    explicit SiteDiffModel(QObject *parent = nullptr);
    ~SiteDiffModel() override;

    void setComparison(const Comparison *comparison);

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    const Comparison *m_comparison = nullptr;
};

} // namespace Massif

#endif
