/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef CHARTLEGENDCONTROL_H
#define CHARTLEGENDCONTROL_H

#include <QObject>
#include <QPoint>

namespace KChart {
class Legend;
} // namespace KChart

/**
 * Clicks on the entries of a chart legend, which KChart draws but does not
 * report: a click and a double click name the legend dataset of the entry.
 */
class ChartLegendControl : public QObject
{
    Q_OBJECT
public:
    explicit ChartLegendControl(KChart::Legend *legend, QObject *parent = nullptr);

    /// The legend dataset of the entry at @p position in legend pixels; -1 for none.
    int datasetAt(const QPoint &position) const;
    /// Where the entry of legend dataset @p dataset is drawn, in legend pixels.
    QPoint entryPosition(int dataset) const;

Q_SIGNALS:
    void entryClicked(int dataset);
    void entryDoubleClicked(int dataset);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    KChart::Legend *m_legend;
};

#endif
