/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_COMPARISONCHART_H
#define MASSIF_COMPARISONCHART_H

#include <QWidget>

class QCheckBox;
class QStandardItemModel;

namespace KChart {
class Chart;
class Plotter;
class CartesianAxis;
} // namespace KChart

namespace Massif {

class FileData;

/**
 * The total cost curves of both sides on one plane, the baseline dashed.
 * For runs of different lengths the time can be shown as the share of each run.
 */
class ComparisonChart : public QWidget
{
    Q_OBJECT
public:
    explicit ComparisonChart(QWidget *parent = nullptr);
    ~ComparisonChart() override;

    /// Either file may be null; both must outlive the chart or be replaced first.
    void setFiles(const FileData *baseline, const FileData *current, const QString &baselineName, const QString &currentName);

    bool isNormalized() const;
    void setNormalized(bool normalized);

    /// The model the plotter draws: per side a time and a cost column.
    const QStandardItemModel *model() const
    {
        return m_model;
    }

private:
    void rebuild();

    const FileData *m_baseline = nullptr;
    const FileData *m_current = nullptr;
    QString m_baselineName;
    QString m_currentName;
    QCheckBox *m_normalize = nullptr;
    KChart::Chart *m_chart = nullptr;
    KChart::Plotter *m_plotter = nullptr;
    KChart::CartesianAxis *m_timeAxis = nullptr;
    QStandardItemModel *m_model = nullptr;
};

} // namespace Massif

#endif
