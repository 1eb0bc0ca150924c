/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef CHARTTAB_H
#define CHARTTAB_H

#include "documenttabinterface.h"

#include <QList>
#include <QSize>

#include <utility>

class BandPlotter;
class ChartHover;
class ChartLegendControl;
class ChartZoom;
class QAction;
class QAbstractItemModel;
class QLabel;
class QModelIndex;
class QPainter;
class QPoint;
class QRectF;
class QRect;
class QSpinBox;

namespace KChart {
class Chart;
class Legend;
class Plotter;
} // namespace KChart

namespace Massif {
class DetailedCostModel;
class SnapshotItem;
class TotalCostModel;
} // namespace Massif

/**
 * The memory chart of a document: the total heap cost of every snapshot as
 * a filled curve and, stacked on the same plane, the most expensive
 * functions over the detailed snapshots, with a header, legend and peak labels.
 */
class ChartTab : public DocumentTabInterface
{
    Q_OBJECT
public:
    ChartTab(Massif::FileData *data, KXMLGUIClient *guiParent, QWidget *parent = nullptr);
    ~ChartTab() override;

    void settingsChanged() override;

    /**
     * Writes the chart with its header to @p fileName, in the format its suffix
     * names: png, jpg, tiff or svg; a name without a suffix gets PNG. An empty
     * @p size takes the tab's own. Works on a tab that was never shown.
     * @return whether the file was written
     */
    bool saveImage(const QString &fileName, const QSize &size = QSize());

public Q_SLOTS:
    void selectModelItem(const Massif::ModelItem &item) override;

Q_SIGNALS:
    /// "Compare Start With End": the first and the last detailed snapshot of the range in view.
    void compareSnapshotsRequested(qint64 baseline, qint64 current);

private Q_SLOTS:
    void setDetailedDiagramHidden(bool hidden);
    void setDetailedDiagramVisible(bool visible);
    void setTotalDiagramHidden(bool hidden);
    void setTotalDiagramVisible(bool visible);
    void saveCurrentDocument();
    void showPrintPreviewDialog();
    void showDetailedGraph(bool show);
    void showTotalGraph(bool show);
    void setStackNum(int num);
    void chartContextMenuRequested(const QPoint &pos);
    void slotHideFunction();
    void slotHideOtherFunctions();
    void detailedItemClicked(const QModelIndex &item);
    void totalItemClicked(const QModelIndex &item);
    void timeRangeChanged();
    void legendEntryClicked(int dataset);
    void legendEntryDoubleClicked(int dataset);
    void showAllFunctions();
    void compareStartWithEnd();

private:
    void setupActions();
    void buildChart();
    QString programName() const;
    void refreshHeader();
    void refreshPeakMarkers();
    void clearPeakMarkers();
    void setHighlights(const QModelIndex &total, const QModelIndex &detailed);
    void labelPeakPoint(BandPlotter *diagram, const QModelIndex &index, quint64 cost);
    double lastSnapshotTime() const;
    /// The first and the last detailed snapshot in view while zoomed; null unless they are two.
    std::pair<const Massif::SnapshotItem *, const Massif::SnapshotItem *> zoomedDetailedEnds() const;
    QList<QRectF> peakLabelAreas() const;
    void placeFloatingLegend();
    quint64 maximumCost() const;
    quint64 visibleMaximumCost() const;
    bool isInView(const QAbstractItemModel *model, const QModelIndex &index) const;
    void updateSizeScale();
    void updateTimeTicks();
    void buildInteraction();
    void applyLegendPlacement();
    void applyLegendFont();
    void paintChart(QPainter *painter, const QRect &target);

    KChart::Chart *chart;
    QLabel *header;
    BandPlotter *totalDiagram = nullptr;
    Massif::TotalCostModel *totalCostModel;
    BandPlotter *detailedDiagram = nullptr;
    Massif::DetailedCostModel *detailedCostModel;
    KChart::Legend *legend;
    QAction *printAction = nullptr;
    QAction *saveAsAction = nullptr;
    QAction *toggleTotalAction = nullptr;
    QAction *toggleDetailedAction = nullptr;
    QAction *hideFunctionAction = nullptr;
    QAction *hideOtherFunctionsAction = nullptr;
    QSpinBox *stackNumBox;
    QAction *zoomInAction = nullptr;
    QAction *zoomOutAction = nullptr;
    QAction *resetZoomAction = nullptr;
    QAction *keepFullScaleAction = nullptr;
    QAction *showAllFunctionsAction = nullptr;
    QAction *compareRangeAction = nullptr;
    ChartZoom *zoom = nullptr;
    ChartHover *hover = nullptr;
    ChartLegendControl *legendControl = nullptr;
    bool selectionLock = false;
};

#endif
