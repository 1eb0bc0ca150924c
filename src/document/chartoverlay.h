/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef CHARTOVERLAY_H
#define CHARTOVERLAY_H

#include <QRectF>
#include <QWidget>

/**
 * Drawn over the chart and blind to the mouse: the band of a time range being
 * selected and the line at the snapshot under the mouse.
 */
class ChartOverlay : public QWidget
{
    Q_OBJECT
public:
    explicit ChartOverlay(QWidget *chart);

    /// The band between two pixel columns within @p area; an empty area removes it.
    void setBand(double fromX, double toX, const QRectF &area);
    void clearBand();
    bool hasBand() const;

    /// The vertical line at pixel column @p x within @p area; an empty area removes it.
    void setLine(double x, const QRectF &area);
    void clearLine();
    bool hasLine() const;
    double lineX() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QRectF m_band;
    QRectF m_lineArea;
    double m_lineX = 0.0;
};

#endif
