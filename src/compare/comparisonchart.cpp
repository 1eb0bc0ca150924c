/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "comparisonchart.h"

#include "filedata.h"
#include "formatting.h"
#include "snapshotitem.h"

#include <KChartCartesianAxis>
#include <KChartCartesianCoordinatePlane>
#include <KChartChart>
#include <KChartLegend>
#include <KChartPlotter>
#include <KLocalizedString>

#include <QCheckBox>
#include <QStandardItemModel>
#include <QVBoxLayout>

using namespace Massif;

namespace {

class CostAxis : public KChart::CartesianAxis
{
public:
    explicit CostAxis(KChart::AbstractCartesianDiagram *diagram) : KChart::CartesianAxis(diagram)
    {
    }

    const QString customizedLabel(const QString &label) const override
    {
        bool ok = false;
        const double value = QLocale::system().toDouble(label, &ok);
        return ok && value >= 0 ? formatCost(quint64(value)) : label;
    }
};

} // namespace

ComparisonChart::ComparisonChart(QWidget *parent)
    : QWidget(parent)
    , m_normalize(new QCheckBox(i18nc("@option:check", "Time as share of each run"), this))
    , m_chart(new KChart::Chart(this))
    , m_model(new QStandardItemModel(this))
{
    m_normalize->setObjectName(QStringLiteral("normalizeTime"));
    m_normalize->setToolTip(i18nc("@info:tooltip", "Show the time of both runs from 0 to 100% of their length, for runs of different lengths"));
    connect(m_normalize, &QCheckBox::toggled, this, &ComparisonChart::rebuild);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_normalize);
    layout->addWidget(m_chart, 1);

    m_plotter = new KChart::Plotter(m_chart);
    m_plotter->setAntiAliasing(true);
    m_plotter->setModel(m_model);
    m_timeAxis = new KChart::CartesianAxis(m_plotter);
    m_timeAxis->setPosition(KChart::CartesianAxis::Bottom);
    m_plotter->addAxis(m_timeAxis);
    auto *costAxis = new CostAxis(m_plotter);
    costAxis->setPosition(KChart::CartesianAxis::Left);
    costAxis->setTitleText(i18nc("@title:axis", "memory heap size"));
    m_plotter->addAxis(costAxis);
    auto *plane = static_cast<KChart::CartesianCoordinatePlane *>(m_chart->coordinatePlane());
    plane->replaceDiagram(m_plotter);

    auto *legend = new KChart::Legend(m_plotter, m_chart);
    legend->setPosition(KChart::Position::North);
    legend->setOrientation(Qt::Horizontal);
    legend->setTitleText(QString());
    m_chart->addLegend(legend);
}

ComparisonChart::~ComparisonChart() = default;

bool ComparisonChart::isNormalized() const
{
    return m_normalize->isChecked();
}

void ComparisonChart::setNormalized(bool normalized)
{
    m_normalize->setChecked(normalized);
}

void ComparisonChart::setFiles(const FileData *baseline, const FileData *current, const QString &baselineName, const QString &currentName)
{
    m_baseline = baseline;
    m_current = current;
    m_baselineName = baselineName;
    m_currentName = currentName;
    rebuild();
}

void ComparisonChart::rebuild()
{
    const bool normalized = isNormalized();
    const QList<SnapshotItem *> sides[2] = {m_baseline ? m_baseline->snapshots() : QList<SnapshotItem *>(),
                                            m_current ? m_current->snapshots() : QList<SnapshotItem *>()};
    m_model->clear();
    m_model->setColumnCount(4);
    m_model->setRowCount(int(std::max(sides[0].size(), sides[1].size())));
    for (int side = 0; side < 2; ++side) {
        const QList<SnapshotItem *> &snapshots = sides[side];
        const double length = snapshots.isEmpty() ? 0.0 : snapshots.constLast()->time();
        for (int i = 0; i < snapshots.size(); ++i) {
            const SnapshotItem *snapshot = snapshots.at(i);
            const double time = normalized ? (length > 0 ? snapshot->time() * 100.0 / length : 0.0) : snapshot->time();
            m_model->setData(m_model->index(i, side * 2), time);
            m_model->setData(m_model->index(i, side * 2 + 1), double(snapshot->cost()));
        }
        // The shorter run's missing points repeat its last one, so that its curve just ends there.
        for (qsizetype i = snapshots.size(); !snapshots.isEmpty() && i < m_model->rowCount(); ++i) {
            m_model->setData(m_model->index(int(i), side * 2), m_model->index(int(snapshots.size() - 1), side * 2).data());
            m_model->setData(m_model->index(int(i), side * 2 + 1), m_model->index(int(snapshots.size() - 1), side * 2 + 1).data());
        }
    }
    // The legend names a dataset by the header of its first column.
    const QString names[2] = {i18nc("@label chart legend, %1 file name", "Baseline: %1", m_baselineName),
                              i18nc("@label chart legend, %1 file name", "Current: %1", m_currentName)};
    for (int side = 0; side < 2; ++side) {
        m_model->setHeaderData(side * 2, Qt::Horizontal, names[side]);
        m_model->setHeaderData(side * 2 + 1, Qt::Horizontal, names[side]);
    }

    QPen baselinePen(palette().color(QPalette::Text));
    baselinePen.setWidthF(2);
    baselinePen.setStyle(Qt::DashLine);
    QPen currentPen(QColor(220, 60, 40));
    currentPen.setWidthF(2);
    m_plotter->setPen(0, baselinePen);
    m_plotter->setPen(1, currentPen);
    m_plotter->setBrush(0, baselinePen.color());
    m_plotter->setBrush(1, currentPen.color());

    const QString unit = m_current ? m_current->timeUnit() : (m_baseline ? m_baseline->timeUnit() : QString());
    m_timeAxis->setTitleText(normalized ? i18nc("@title:axis", "time in percent of each run") : i18nc("@title:axis", "time in %1", unit));
    m_chart->update();
}
