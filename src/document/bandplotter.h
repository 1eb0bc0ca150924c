/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef BANDPLOTTER_H
#define BANDPLOTTER_H

#include <KChartDataValueAttributes>
#include <KChartPlotter>

#include <QList>
#include <QRectF>

#include <functional>
#include <utility>

namespace KChart {
class PaintContext;
} // namespace KChart

/**
 * A plotter of filled curves over (x, y) column pairs, alone or stacked.
 *
 * It draws each dataset as a few filled paths, one per run of points of the
 * same transparency, instead of one polygon, hit area and label lookup per
 * point: a chart of hundreds of snapshots paints in a few milliseconds. The
 * hit areas come from the geometry of the last paint.
 *
 * A click on the area segment from row r to row r + 1 is reported as row r.
 * Which cell's attributes (its transparency, its highlight) a segment takes
 * is the model's convention: see SegmentCell.
 */
class BandPlotter : public KChart::Plotter
{
public:
    /// The cell whose attributes the segment between rows r and r + 1 takes.
    enum class SegmentCell {
        End, ///< row r + 1: a cell stands for the point a segment rises to
        Start, ///< row r: a cell stands for the segment as a click reports it
    };

    explicit BandPlotter(SegmentCell segmentCell, QWidget *parent = nullptr);

    /// The highlighted cell, whose area segment is drawn opaque and at least a few pixels wide; an invalid index for none.
    void setBand(const QModelIndex &index);

    /// Runs @p callback after the last of the plotters has drawn.
    void setAfterPaint(const std::function<void()> &callback);

    /// A plotter drawn after this one, which draws this one's band and labels as well, on top.
    void setCoveredBy(BandPlotter *plotter);

    /**
     * Labels the point of @p index as @p attributes describe; the attributes are
     * the diagram's own. Labels are drawn by dataset and then by time, and one
     * that would overlap a label drawn before it is left out.
     */
    void setLabel(const QModelIndex &index, const KChart::DataValueAttributes &attributes);
    /// Takes away every label set with setLabel().
    void clearLabels();

    /// Where the visible labels are drawn in the current layout.
    QList<QRectF> labelAreas() const;

    QModelIndex indexAt(const QPoint &point) const override;

protected:
    void paint(KChart::PaintContext *context) override;

private:
    struct Geometry
    {
        QRectF clip;
        QList<double> x; // pixels, one per row
        QList<int> columns; // the x column of each drawn dataset
        QList<QList<double>> bottom; // pixels, per drawn dataset and row
        QList<QList<double>> top;
    };

    double value(int row, int column) const;
    Geometry computeGeometry(const KChart::CartesianCoordinatePlane *plane, const QRectF &clip) const;
    void paintCurves(QPainter *painter) const;
    void paintBand(QPainter *painter) const;
    void paintLabels(QPainter *painter) const;
    struct Label
    {
        QPointF point;
        QRectF rect;
        KChart::DataValueAttributes attributes;
    };
    /// The labels drawn in the current layout: a label that would overlap one before it is left out.
    QList<Label> shownLabels() const;
    /// The plane point of the labelled cell (row, column): the top of its dataset's area.
    QPointF labelPoint(int row, int column) const;
    QRectF labelRect(const QPointF &point, const QString &text, const KChart::DataValueAttributes &attributes) const;

    /// The rows of the segment whose attributes are those of the cell in row @p row.
    std::pair<qsizetype, qsizetype> segmentOfCell(qsizetype row) const;

    const SegmentCell m_segmentCell;
    Geometry m_geometry;
    int m_bandRow = -1;
    int m_bandColumn = -1;
    BandPlotter *m_coveredBy = nullptr;
    BandPlotter *m_covers = nullptr;
    std::function<void()> m_afterPaint;
    QList<std::pair<int, int>> m_labelledCells;
};

#endif
