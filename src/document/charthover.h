/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef CHARTHOVER_H
#define CHARTHOVER_H

#include <QObject>
#include <QPointF>

class ChartOverlay;
class QAbstractItemView;
class QModelIndex;
class ChartZoom;
class QLabel;
class QWidget;

namespace Massif {
class DetailedCostModel;
class FileData;
class SnapshotItem;
} // namespace Massif

/**
 * The values under the mouse: a line at the nearest snapshot and a small panel
 * with its number, time and total cost, and the function whose area is under
 * the mouse, as the functions' view hit-tests it, with its cost and share. Follows mouse moves only, so a still
 * mouse costs nothing; leaves with the mouse.
 */
class ChartHover : public QObject
{
    Q_OBJECT
public:
    ChartHover(QWidget *chart,
               ChartZoom *zoom,
               ChartOverlay *overlay,
               const Massif::FileData *data,
               const Massif::DetailedCostModel *detailed,
               const QAbstractItemView *functions,
               QObject *parent = nullptr);

    QLabel *panel() const;
    /// Shows the values for chart pixel @p position, or hides off the plane.
    void showAt(const QPointF &position);
    void hide();
    /// Shows the last values again, as after a change of units or precision.
    void refresh();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    const Massif::SnapshotItem *nearestSnapshot(double time) const;
    const Massif::SnapshotItem *snapshotAtTime(double time) const;
    /// The panel's line for the function area @p segment, as the functions' view reports it, with the mouse at @p time.
    QString functionLine(const QModelIndex &segment, double time, const Massif::SnapshotItem *snapshot) const;
    /// The legend's name of the function in @p column (its time column) at @p row, with its location.
    QString functionName(int row, int column) const;

    QWidget *m_chart;
    ChartZoom *m_zoom;
    ChartOverlay *m_overlay;
    const Massif::FileData *m_data;
    const Massif::DetailedCostModel *m_detailed;
    const QAbstractItemView *m_functions;
    QLabel *m_panel;
    QPointF m_position;
};

#endif
