/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "bandplotter.h"

#include <KChartBackgroundAttributes>
#include <KChartCartesianCoordinatePlane>
#include <KChartDataValueAttributes>
#include <KChartFrameAttributes>
#include <KChartLineAttributes>
#include <KChartMarkerAttributes>
#include <KChartPaintContext>
#include <KChartRelativePosition>
#include <KChartTextAttributes>

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace {

constexpr qreal MinimumBandWidth = 6.0;
// The size the labels' 12-point measure comes out at on a chart of usual size.
constexpr int LabelPixelSize = 11;

QFont labelFont(const QFont &base)
{
    QFont font = base;
    font.setPixelSize(LabelPixelSize);
    return font;
}

/// The part of the segment between @p from and @p to at @p x, 0 to 1.
double share(double from, double to, double x)
{
    return to == from ? 0.0 : (x - from) / (to - from);
}

} // namespace

BandPlotter::BandPlotter(SegmentCell segmentCell, QWidget *parent) : KChart::Plotter(parent), m_segmentCell(segmentCell)
{
}

std::pair<qsizetype, qsizetype> BandPlotter::segmentOfCell(qsizetype row) const
{
    return m_segmentCell == SegmentCell::End ? std::pair(row - 1, row) : std::pair(row, row + 1);
}

void BandPlotter::setBand(const QModelIndex &index)
{
    m_bandRow = index.isValid() ? index.row() : -1;
    m_bandColumn = index.isValid() ? index.column() - index.column() % 2 : -1;
}

void BandPlotter::setAfterPaint(const std::function<void()> &callback)
{
    m_afterPaint = callback;
}

void BandPlotter::setCoveredBy(BandPlotter *plotter)
{
    m_coveredBy = plotter;
    plotter->m_covers = this;
}

void BandPlotter::setLabel(const QModelIndex &index, const KChart::DataValueAttributes &attributes)
{
    setDataValueAttributes(index, attributes);
    const std::pair cell(index.row(), index.column());
    if (!m_labelledCells.contains(cell)) {
        m_labelledCells.append(cell);
    }
}

void BandPlotter::clearLabels()
{
    const QAbstractItemModel *data = model();
    for (const auto &[row, column] : std::as_const(m_labelledCells)) {
        const QModelIndex index = data ? data->index(row, column) : QModelIndex();
        if (index.isValid()) {
            setDataValueAttributes(index, KChart::DataValueAttributes());
        }
    }
    m_labelledCells.clear();
}

double BandPlotter::value(int row, int column) const
{
    return model()->index(row, column).data().toDouble();
}

BandPlotter::Geometry BandPlotter::computeGeometry(const KChart::CartesianCoordinatePlane *plane, const QRectF &clip) const
{
    Geometry geometry;
    geometry.clip = clip;
    const QAbstractItemModel *data = model();
    if (!data) {
        return geometry;
    }
    const int rows = data->rowCount(rootIndex());
    const int columns = data->columnCount(rootIndex());
    const bool stacked = type() == KChart::Plotter::Stacked;

    const double zeroY = plane->translate(QPointF(0, 0)).y();
    QList<double> sums(rows, 0.0);
    geometry.x.reserve(rows);
    for (int column = 0; column + 1 < columns; column += 2) {
        if (isHidden(column / 2)) {
            continue;
        }
        QList<double> bottom(rows);
        QList<double> top(rows);
        for (int row = 0; row < rows; ++row) {
            const double time = value(row, column);
            const double base = stacked ? sums.at(row) : 0.0;
            const double end = base + value(row, column + 1);
            if (stacked) {
                sums[row] = end;
            }
            const QPointF upper = plane->translate(QPointF(time, end));
            bottom[row] = stacked ? plane->translate(QPointF(time, base)).y() : zeroY;
            top[row] = upper.y();
            if (geometry.columns.isEmpty()) {
                geometry.x.append(upper.x());
            }
        }
        geometry.columns.append(column);
        geometry.bottom.append(bottom);
        geometry.top.append(top);
    }
    return geometry;
}

void BandPlotter::paint(KChart::PaintContext *context)
{
    const auto *plane = static_cast<const KChart::CartesianCoordinatePlane *>(context->coordinatePlane());
    QPainter *painter = context->painter();
    if (isHidden() || !plane || !painter) {
        m_geometry = Geometry();
        return;
    }
    m_geometry = computeGeometry(plane, context->rectangle());

    painter->save();
    painter->setClipRect(context->rectangle(), Qt::IntersectClip);
    painter->setRenderHint(QPainter::Antialiasing, antiAliasing());
    paintCurves(painter);
    const bool coveredVisible = m_covers && !m_covers->isHidden();
    if (coveredVisible) {
        m_covers->paintBand(painter);
    }
    const bool last = !m_coveredBy || m_coveredBy->isHidden();
    if (last) {
        paintBand(painter);
    }
    painter->restore();

    if (last) {
        // Labels go over every curve, and may reach beyond the plane.
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, antiAliasing());
        if (coveredVisible) {
            m_covers->paintLabels(painter);
        }
        paintLabels(painter);
        painter->restore();
        if (m_afterPaint) {
            m_afterPaint();
        }
    }
}

void BandPlotter::paintCurves(QPainter *painter) const
{
    const QAbstractItemModel *data = model();
    const qsizetype rows = m_geometry.x.size();
    for (qsizetype dataset = 0; dataset < m_geometry.columns.size(); ++dataset) {
        const int column = m_geometry.columns.at(dataset);
        const QList<double> &top = m_geometry.top.at(dataset);
        const QList<double> &bottom = m_geometry.bottom.at(dataset);
        const QColor colour = brush(data->index(0, column)).color();

        // Each segment takes the transparency of its cell; a run of equal ones
        // is one filled path.
        painter->setPen(Qt::NoPen);
        qsizetype runStart = 0;
        int runAlpha = -1;
        const auto fillRun = [&](qsizetype end) {
            if (runAlpha <= 0 || end <= runStart) {
                return;
            }
            QPolygonF area;
            area.reserve(2 * (end - runStart + 1));
            for (qsizetype row = runStart; row <= end; ++row) {
                area.append(QPointF(m_geometry.x.at(row), top.at(row)));
            }
            for (qsizetype row = end; row >= runStart; --row) {
                area.append(QPointF(m_geometry.x.at(row), bottom.at(row)));
            }
            QColor fill = colour;
            fill.setAlpha(runAlpha);
            painter->setBrush(fill);
            painter->drawPolygon(area);
        };
        const int cellShift = m_segmentCell == SegmentCell::End ? 0 : -1;
        for (qsizetype row = 1; row < rows; ++row) {
            const int alpha = lineAttributes(data->index(int(row) + cellShift, column)).transparency();
            if (alpha != runAlpha) {
                fillRun(row - 1);
                runStart = row - 1;
                runAlpha = alpha;
            }
        }
        fillRun(rows - 1);
    }

    // The lines after all areas, so that no area veils the line under it.
    painter->setBrush(Qt::NoBrush);
    for (qsizetype dataset = 0; dataset < m_geometry.columns.size(); ++dataset) {
        const QList<double> &top = m_geometry.top.at(dataset);
        QPolygonF line;
        line.reserve(rows);
        for (qsizetype row = 0; row < rows; ++row) {
            line.append(QPointF(m_geometry.x.at(row), top.at(row)));
        }
        painter->setPen(pen(data->index(0, m_geometry.columns.at(dataset))));
        painter->drawPolyline(line);
    }
}

void BandPlotter::paintBand(QPainter *painter) const
{
    const qsizetype dataset = m_geometry.columns.indexOf(m_bandColumn);
    const qsizetype rows = m_geometry.x.size();
    if (m_bandRow < 0 || dataset < 0 || m_bandRow >= rows) {
        return;
    }
    // A cell at either end has half a segment; it is drawn as its point.
    const auto [from, to] = segmentOfCell(m_bandRow);
    const qsizetype previous = qBound<qsizetype>(0, from, rows - 1);
    const qsizetype next = qBound<qsizetype>(0, to, rows - 1);
    const QList<double> &top = m_geometry.top.at(dataset);
    const QList<double> &bottom = m_geometry.bottom.at(dataset);
    double left = m_geometry.x.at(previous);
    double right = m_geometry.x.at(next);
    const double width = right - left;
    if (width >= MinimumBandWidth) {
        return; // the opaque segment shows well enough
    }
    const double grow = (MinimumBandWidth - width) / 2;
    left -= grow;
    right += grow;
    const QColor colour = brush(model()->index(m_bandRow, m_bandColumn)).color();
    painter->setPen(Qt::NoPen);
    painter->setBrush(colour);
    painter->drawPolygon(
        QPolygonF({QPointF(left, bottom.at(previous)), QPointF(left, top.at(previous)), QPointF(right, top.at(next)), QPointF(right, bottom.at(next))}));
}

QPointF BandPlotter::labelPoint(int row, int column) const
{
    const auto *plane = static_cast<const KChart::CartesianCoordinatePlane *>(coordinatePlane());
    double height = value(row, column + 1);
    if (type() == KChart::Plotter::Stacked) {
        for (int below = 1; below < column; below += 2) {
            height += value(row, below);
        }
    }
    return plane->translate(QPointF(value(row, column), height));
}

QRectF BandPlotter::labelRect(const QPointF &point, const QString &text, const KChart::DataValueAttributes &attributes) const
{
    const QFontMetricsF metrics(labelFont(font()));
    const QSizeF size(metrics.horizontalAdvance(text) + 8, metrics.height() + 6);
    const KChart::RelativePosition position = attributes.positivePosition();
    // Aligned left, the label ends at its point; otherwise it starts there.
    const double left = position.alignment() & Qt::AlignLeft ? point.x() - size.width() : point.x();
    const double raise = -position.verticalPadding().value();
    return QRectF(QPointF(left, point.y() - size.height() - raise), size);
}

QList<BandPlotter::Label> BandPlotter::shownLabels() const
{
    QList<Label> labels;
    const QAbstractItemModel *data = model();
    if (isHidden() || !data || !coordinatePlane()) {
        return labels;
    }
    QList<std::pair<int, int>> cells = m_labelledCells;
    std::sort(cells.begin(), cells.end(), [](const auto &a, const auto &b) {
        return std::pair(a.second, a.first) < std::pair(b.second, b.first);
    });
    for (const auto &[row, column] : std::as_const(cells)) {
        const QModelIndex index = data->index(row, column);
        if (!index.isValid()) {
            continue;
        }
        Label label;
        label.attributes = dataValueAttributes(index);
        if (!label.attributes.isVisible() || label.attributes.dataLabel().isEmpty()) {
            continue;
        }
        label.point = labelPoint(row, column);
        label.rect = labelRect(label.point, label.attributes.dataLabel(), label.attributes);
        const bool overlaps = std::any_of(labels.cbegin(), labels.cend(), [&label](const Label &shown) {
            return shown.rect.intersects(label.rect);
        });
        if (!overlaps || label.attributes.showOverlappingDataLabels()) {
            labels.append(label);
        }
    }
    return labels;
}

QList<QRectF> BandPlotter::labelAreas() const
{
    QList<QRectF> areas;
    const QList<Label> labels = shownLabels();
    for (const Label &label : labels) {
        areas.append(label.rect);
    }
    return areas;
}

void BandPlotter::paintLabels(QPainter *painter) const
{
    painter->setFont(labelFont(font()));
    const QList<Label> labels = shownLabels();
    for (const Label &label : labels) {
        const KChart::MarkerAttributes marker = label.attributes.markerAttributes();
        if (marker.isVisible()) {
            const QSizeF half = marker.markerSize() / 2;
            const QPointF &point = label.point;
            painter->setPen(marker.pen());
            painter->setBrush(marker.pen().color());
            painter->drawPolygon(QPolygonF(
                {point + QPointF(0, -half.height()), point + QPointF(half.width(), 0), point + QPointF(0, half.height()), point + QPointF(-half.width(), 0)}));
        }
        const KChart::BackgroundAttributes background = label.attributes.backgroundAttributes();
        const KChart::FrameAttributes frame = label.attributes.frameAttributes();
        painter->setBrush(background.isVisible() ? background.brush() : QBrush());
        painter->setPen(frame.isVisible() ? frame.pen() : QPen(Qt::NoPen));
        painter->drawRect(label.rect.adjusted(1, 1, -1, -1));
        painter->setPen(label.attributes.textAttributes().pen());
        painter->drawText(label.rect, Qt::AlignCenter, label.attributes.dataLabel());
    }
}

QModelIndex BandPlotter::indexAt(const QPoint &point) const
{
    const QAbstractItemModel *data = model();
    const QList<double> &x = m_geometry.x;
    if (!data || isHidden() || !m_geometry.clip.contains(point) || x.size() < 2) {
        return QModelIndex();
    }
    // The segment from row r to row r + 1 that holds the point's x.
    const auto after = std::upper_bound(x.cbegin(), x.cend(), double(point.x()));
    if (after == x.cbegin() || after == x.cend()) {
        return QModelIndex();
    }
    const qsizetype row = after - x.cbegin() - 1;
    const double along = share(x.at(row), x.at(row + 1), point.x());
    for (qsizetype dataset = m_geometry.columns.size() - 1; dataset >= 0; --dataset) {
        const QList<double> &top = m_geometry.top.at(dataset);
        const QList<double> &bottom = m_geometry.bottom.at(dataset);
        const double upper = top.at(row) + along * (top.at(row + 1) - top.at(row));
        const double lower = bottom.at(row) + along * (bottom.at(row + 1) - bottom.at(row));
        if (point.y() >= qMin(upper, lower) && point.y() <= qMax(upper, lower) && upper != lower) {
            return data->index(int(row), m_geometry.columns.at(dataset));
        }
    }
    return QModelIndex();
}
