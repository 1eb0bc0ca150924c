/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "charttab.h"

#include "bandplotter.h"
#include "charthover.h"
#include "chartlegendcontrol.h"
#include "chartoverlay.h"
#include "chartzoom.h"

#include "detailedcostmodel.h"
#include "filedata.h"
#include "formatting.h"
#include "settings.h"
#include "snapshotitem.h"
#include "totalcostmodel.h"
#include "treeleafitem.h"

#include <KChartBackgroundAttributes>
#include <KChartCartesianAxis>
#include <KChartCartesianCoordinatePlane>
#include <KChartChart>
#include <KChartDataValueAttributes>
#include <KChartFrameAttributes>
#include <KChartGlobal>
#include <KChartGridAttributes>
#include <KChartLegend>
#include <KChartMarkerAttributes>
#include <KChartMeasure>
#include <KChartPlotter>
#include <KChartPosition>
#include <KChartRelativePosition>
#include <KChartTextAttributes>

#include <KActionCollection>
#include <KColorScheme>
#include <KFormat>
#include <KLocalizedString>
#include <KMessageBox>
#include <KStandardAction>

#include <QAbstractTextDocumentLayout>
#include <QAction>
#include <QBuffer>
#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QRegularExpression>
#include <QScreen>
#include <QSpinBox>
#include <QSvgGenerator>
#include <QTextDocument>
#include <QVBoxLayout>
#include <QWidgetAction>
#include <QtMath>

#include <cmath>

namespace {

/// KChart's tick text as a number; false when it is no number.
bool tickValue(const QString &label, double *value)
{
    bool ok = false;
    *value = label.toDouble(&ok);
    if (!ok) {
        *value = QLocale().toDouble(label, &ok);
    }
    return ok;
}

class TimeAxis : public KChart::CartesianAxis
{
public:
    explicit TimeAxis(KChart::AbstractCartesianDiagram *diagram) : KChart::CartesianAxis(diagram)
    {
    }

    const QString customizedLabel(const QString &label) const override
    {
        double value = 0.0;
        return tickValue(label, &value) ? QString::number(value, 'g', 6) : label;
    }
};

/// Ticks of the size axis: a round number of the unit the peak label is written in.
struct SizeScale
{
    KFormat::UnitPrefix prefix = KFormat::UnitPrefix::Unity;
    double step = 0.0; // bytes; 0 leaves the ticks to the chart
    int decimals = 0;
};

SizeScale sizeScale(quint64 maximum)
{
    SizeScale scale;
    if (maximum == 0) {
        return scale;
    }
    // The unit formatCost() writes the maximum in: the largest power of 1024 not above it.
    double unit = 1.0;
    int power = 0;
    while (static_cast<double>(maximum) >= unit * 1024.0 && power < 6) {
        unit *= 1024.0;
        ++power;
    }
    if (power > 0) {
        scale.prefix = KFormat::UnitPrefix(int(KFormat::UnitPrefix::Kilo) + power - 1);
    }
    // Four to eight intervals up to the maximum.
    static constexpr double multiples[] = {0.1, 0.2, 0.5, 1, 2, 5, 10, 20, 50, 100, 200, 500, 1000};
    const double inUnits = static_cast<double>(maximum) / unit;
    for (const double multiple : multiples) {
        if ((power == 0 && multiple < 1) || (inUnits / multiple > 8 && multiple < 1000)) {
            continue;
        }
        scale.step = multiple * unit;
        scale.decimals = multiple < 1 ? 1 : 0;
        break;
    }
    return scale;
}

class SizeAxis : public KChart::CartesianAxis
{
public:
    explicit SizeAxis(KChart::AbstractCartesianDiagram *diagram) : KChart::CartesianAxis(diagram)
    {
    }

    void setScale(const SizeScale &scale)
    {
        m_scale = scale;
    }

    const QString customizedLabel(const QString &label) const override
    {
        double value = 0.0;
        if (!tickValue(label, &value)) {
            return label;
        }
        // The binary units of the peak labels, all ticks in one of them.
        return KFormat(QLocale::system()).formatValue(value, KFormat::Unit::Byte, m_scale.decimals, m_scale.prefix, KFormat::DefaultBinaryDialect);
    }

private:
    SizeScale m_scale;
};

/// The suffix of the first pattern of a file dialog filter: "png" for "Images (*.png *.jpg)".
QString filterSuffix(const QString &filter)
{
    static const QRegularExpression pattern(QStringLiteral("\\*\\.(\\w+)"));
    const QRegularExpressionMatch match = pattern.match(filter);
    return match.hasMatch() ? match.captured(1) : QStringLiteral("png");
}

KChart::TextAttributes axisTextAttributes(KChart::TextAttributes attributes, const QPen &pen, qreal fontSize)
{
    attributes.setPen(pen);
    attributes.setFontSize(KChart::Measure(fontSize));
    return attributes;
}

} // namespace

ChartTab::ChartTab(Massif::FileData *data, KXMLGUIClient *guiParent, QWidget *parent)
    : DocumentTabInterface(data, guiParent, parent)
    , chart(new KChart::Chart(this))
    , header(new QLabel(this))
    , totalCostModel(new Massif::TotalCostModel(chart))
    , detailedCostModel(new Massif::DetailedCostModel(chart))
    , legend(new KChart::Legend(chart))
    , stackNumBox(new QSpinBox(this))
{
    setXMLFile(QStringLiteral("charttabui.rc"), true);
    setupActions();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    buildChart();
}

ChartTab::~ChartTab() = default;

void ChartTab::setupActions()
{
    printAction = KStandardAction::print(this, &ChartTab::showPrintPreviewDialog, actionCollection());
    saveAsAction = KStandardAction::saveAs(this, &ChartTab::saveCurrentDocument, actionCollection());

    toggleTotalAction = actionCollection()->addAction(QStringLiteral("toggle_total"));
    toggleTotalAction->setText(i18nc("@action", "Toggle Total Cost Graph"));
    toggleTotalAction->setIcon(QIcon::fromTheme(QStringLiteral("office-chart-area")));
    toggleTotalAction->setCheckable(true);
    toggleTotalAction->setChecked(true);
    connect(toggleTotalAction, &QAction::toggled, this, &ChartTab::showTotalGraph);

    toggleDetailedAction = actionCollection()->addAction(QStringLiteral("toggle_detailed"));
    toggleDetailedAction->setText(i18nc("@action", "Toggle Detailed Cost Graph"));
    toggleDetailedAction->setIcon(QIcon::fromTheme(QStringLiteral("office-chart-area-stacked")));
    toggleDetailedAction->setCheckable(true);
    toggleDetailedAction->setChecked(true);
    connect(toggleDetailedAction, &QAction::toggled, this, &ChartTab::showDetailedGraph);

    auto *stackNumWidget = new QWidget(this);
    auto *stackNumLayout = new QHBoxLayout(stackNumWidget);
    stackNumLayout->setContentsMargins(0, 0, 0, 0);
    auto *stackNumLabel = new QLabel(i18nc("@label:spinbox", "Stacked diagrams:"), stackNumWidget);
    stackNumLabel->setBuddy(stackNumBox);
    stackNumLayout->addWidget(stackNumLabel);
    stackNumLayout->addWidget(stackNumBox);
    stackNumBox->setRange(0, 50);
    stackNumBox->setValue(10);
    connect(stackNumBox, &QSpinBox::valueChanged, this, &ChartTab::setStackNum);

    auto *stackNumAction = new QWidgetAction(actionCollection());
    stackNumAction->setText(i18n("Stacked diagrams"));
    stackNumAction->setDefaultWidget(stackNumWidget);
    actionCollection()->addAction(QStringLiteral("stackNum"), stackNumAction);

    hideFunctionAction = new QAction(i18nc("@action", "Hide Function"), this);
    connect(hideFunctionAction, &QAction::triggered, this, &ChartTab::slotHideFunction);
    hideOtherFunctionsAction = new QAction(i18nc("@action", "Hide Other Functions"), this);
    connect(hideOtherFunctionsAction, &QAction::triggered, this, &ChartTab::slotHideOtherFunctions);

    // Ctrl++ and Ctrl+- come with the standard actions; Ctrl+0 is the usual reset.
    zoomInAction = KStandardAction::zoomIn(
        this,
        [this] {
            zoom->zoomIn();
        },
        actionCollection());
    zoomInAction->setText(i18nc("@action", "Zoom In"));
    zoomOutAction = KStandardAction::zoomOut(
        this,
        [this] {
            zoom->zoomOut();
        },
        actionCollection());
    zoomOutAction->setText(i18nc("@action", "Zoom Out"));
    resetZoomAction = actionCollection()->addAction(QStringLiteral("view_zoom_reset"));
    resetZoomAction->setText(i18nc("@action", "Reset Zoom"));
    resetZoomAction->setIcon(QIcon::fromTheme(QStringLiteral("zoom-original")));
    actionCollection()->setDefaultShortcut(resetZoomAction, QKeySequence(Qt::CTRL | Qt::Key_0));
    connect(resetZoomAction, &QAction::triggered, this, [this] {
        zoom->reset();
    });
    keepFullScaleAction = actionCollection()->addAction(QStringLiteral("zoom_keep_full_scale"));
    keepFullScaleAction->setText(i18nc("@action", "Keep Whole-Run Size Scale"));
    keepFullScaleAction->setToolTip(i18nc("@info:tooltip", "While zoomed, keep the size axis of the whole run instead of fitting it to the time shown"));
    keepFullScaleAction->setCheckable(true);
    connect(keepFullScaleAction, &QAction::toggled, this, &ChartTab::timeRangeChanged);

    showAllFunctionsAction = actionCollection()->addAction(QStringLiteral("show_all_functions"));
    showAllFunctionsAction->setText(i18nc("@action", "Show All Functions"));
    showAllFunctionsAction->setIcon(QIcon::fromTheme(QStringLiteral("view-visible")));
    showAllFunctionsAction->setEnabled(false);
    connect(showAllFunctionsAction, &QAction::triggered, this, &ChartTab::showAllFunctions);

    // Only in the chart's context menu, while zoomed.
    compareRangeAction = actionCollection()->addAction(QStringLiteral("compare_start_with_end"));
    compareRangeAction->setText(i18nc("@action", "Compare Start With End"));
    compareRangeAction->setIcon(QIcon::fromTheme(QStringLiteral("document-compare")));
    compareRangeAction->setToolTip(i18nc("@info:tooltip", "Compare the last detailed snapshot in view with the first"));
    compareRangeAction->setEnabled(false);
    connect(compareRangeAction, &QAction::triggered, this, &ChartTab::compareStartWithEnd);
}

void ChartTab::buildChart()
{
    layout()->addWidget(header);
    layout()->addWidget(chart);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        chart->setMaximumSize(screen->geometry().size());
    }
    chart->setGlobalLeadingRight(10);
    chart->setGlobalLeadingLeft(10);
    chart->setGlobalLeadingTop(20);
    chart->setContextMenuPolicy(Qt::CustomContextMenu);

    applyLegendPlacement();
    legend->setTitleText(QString());
    legend->setSortOrder(Qt::DescendingOrder);
    chart->addLegend(legend);
    applyLegendFont();
    legend->setTextAlignment(Qt::AlignLeft);
    legend->hide();

    connect(chart, &QWidget::customContextMenuRequested, this, &ChartTab::chartContextMenuRequested);

    const KColorScheme scheme(QPalette::Active, KColorScheme::Window);
    const QPen foreground(scheme.foreground().color());
    QColor legendBackground = scheme.background(KColorScheme::AlternateBackground).color();
    legendBackground.setAlpha(200);
    KChart::BackgroundAttributes legendBackgroundAttributes = legend->backgroundAttributes();
    legendBackgroundAttributes.setBrush(QBrush(legendBackground, Qt::SolidPattern));
    legendBackgroundAttributes.setVisible(true);
    legend->setBackgroundAttributes(legendBackgroundAttributes);
    KChart::TextAttributes legendText = legend->textAttributes();
    legendText.setPen(foreground);
    legend->setTextAttributes(legendText);

    header->setAlignment(Qt::AlignCenter);
    header->setTextFormat(Qt::RichText);
    refreshHeader();

    // The total model's cells are its snapshots, each the point a segment rises to.
    totalDiagram = new BandPlotter(BandPlotter::SegmentCell::End, this);
    totalDiagram->setAntiAliasing(true);

    auto *timeAxis = new TimeAxis(totalDiagram);
    timeAxis->setTextAttributes(axisTextAttributes(timeAxis->textAttributes(), foreground, 10));
    timeAxis->setTitleTextAttributes(axisTextAttributes(timeAxis->titleTextAttributes(), foreground, 12));
    timeAxis->setTitleText(i18n("time in %1", data->timeUnit()));
    timeAxis->setPosition(KChart::CartesianAxis::Bottom);
    totalDiagram->addAxis(timeAxis);

    auto *sizeAxis = new SizeAxis(totalDiagram);
    sizeAxis->setTextAttributes(axisTextAttributes(sizeAxis->textAttributes(), foreground, 10));
    sizeAxis->setTitleTextAttributes(axisTextAttributes(sizeAxis->titleTextAttributes(), foreground, 12));
    sizeAxis->setTitleText(i18n("memory heap size"));
    sizeAxis->setPosition(KChart::CartesianAxis::Right);
    totalDiagram->addAxis(sizeAxis);
    const SizeScale scale = sizeScale(maximumCost());
    sizeAxis->setScale(scale);

    totalCostModel->setFileData(data);
    totalDiagram->setModel(totalCostModel);
    auto *plane = static_cast<KChart::CartesianCoordinatePlane *>(chart->coordinatePlane());
    plane->addDiagram(totalDiagram);
    KChart::GridAttributes grid = plane->gridAttributes(Qt::Horizontal);
    grid.setAdjustBoundsToGrid(false, false);
    plane->setGridAttributes(Qt::Horizontal, grid);
    if (scale.step > 0) {
        KChart::GridAttributes sizeGrid = plane->gridAttributes(Qt::Vertical);
        sizeGrid.setGridStepWidth(scale.step);
        sizeGrid.setGridSubStepWidth(scale.step / 2);
        plane->setGridAttributes(Qt::Vertical, sizeGrid);
    }
    legend->addDiagram(totalDiagram);

    // Parentless until the plane takes it: the plane hands its diagrams to the chart.
    // The detailed model's cells are named as clicks report them: by the segment's start.
    detailedDiagram = new BandPlotter(BandPlotter::SegmentCell::Start);
    // The total's band and labels would hide behind the functions stacked over it.
    totalDiagram->setCoveredBy(detailedDiagram);
    detailedDiagram->setAntiAliasing(true);
    detailedDiagram->setType(KChart::Plotter::Stacked);
    detailedCostModel->setFileData(data);
    detailedDiagram->setModel(detailedCostModel);

    refreshPeakMarkers();

    plane->addDiagram(detailedDiagram);
    legend->addDiagram(detailedDiagram);
    legend->show();

    stackNumBox->setValue(detailedCostModel->datasetLimit());

    connect(totalDiagram, &KChart::AbstractDiagram::clicked, this, &ChartTab::totalItemClicked);
    connect(detailedDiagram, &KChart::AbstractDiagram::clicked, this, &ChartTab::detailedItemClicked);
    // Each drawing, on screen or for an export, finds the legend its place once
    // the plane is laid out and before the legend is drawn.
    const auto place = [this] {
        placeFloatingLegend();
    };
    totalDiagram->setAfterPaint(place);
    detailedDiagram->setAfterPaint(place);

    buildInteraction();
}

QString ChartTab::programName() const
{
    const QStringList words = data->command().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return words.isEmpty() ? QString() : words.first();
}

void ChartTab::refreshHeader()
{
    const QString command = data->command();
    const QString program = programName();

    // The command comes from the file and may hold any characters ("./prog <in.txt"):
    // it is escaped before it goes into markup, so that it shows as it was run.
    QString peakText;
    if (const Massif::SnapshotItem *peak = data->peak()) {
        peakText = i18n("Peak of %1 at snapshot #%2", Massif::formatCost(peak->cost()), peak->number());
    }
    header->setText(QStringLiteral("<b>%1</b><br /><i>%2</i>").arg(i18n("Memory consumption of %1", program).toHtmlEscaped(), peakText.toHtmlEscaped()));
    header->setToolTip(Qt::convertFromPlainText(i18n("Command: %1\nValgrind Options: %2", command, data->description()), Qt::WhiteSpaceNormal));
}

void ChartTab::refreshPeakMarkers()
{
    clearPeakMarkers();

    if (const Massif::SnapshotItem *peak = data->peak()) {
        const QModelIndex peakIndex = totalCostModel->peakSnapshotIndex();
        if (peakIndex.isValid()) {
            labelPeakPoint(totalDiagram, peakIndex, peak->cost());
        }
    }

    const QMap<QModelIndex, const Massif::TreeLeafItem *> markers = detailedCostModel->peakMarkers();
    for (auto it = markers.cbegin(); it != markers.cend(); ++it) {
        labelPeakPoint(detailedDiagram, it.key(), it.value()->cost());
    }
    if (showAllFunctionsAction) {
        showAllFunctionsAction->setEnabled(detailedCostModel->hasHiddenFunctions());
    }
}

void ChartTab::clearPeakMarkers()
{
    // Hiding functions and changing the stack count move datasets to other
    // columns; a label left on a cell would mark a point that is no peak.
    detailedDiagram->clearLabels();
}

void ChartTab::labelPeakPoint(BandPlotter *diagram, const QModelIndex &index, quint64 cost)
{
    const KColorScheme scheme(QPalette::Active, KColorScheme::Window);
    const QColor outline = diagram->model()->data(index, KChart::DatasetBrushRole).value<QBrush>().color();

    KChart::DataValueAttributes attributes = diagram->dataValueAttributes(index);
    attributes.setDataLabel(Massif::formatCost(cost));
    // A label whose point is zoomed out of view would hang at the plane's edge.
    attributes.setVisible(isInView(diagram->model(), index));
    attributes.setShowRepetitiveDataLabels(true);
    attributes.setShowOverlappingDataLabels(false);

    KChart::FrameAttributes frame = attributes.frameAttributes();
    frame.setVisible(true);
    frame.setPen(QPen(outline, 2));
    attributes.setFrameAttributes(frame);

    KChart::MarkerAttributes marker = attributes.markerAttributes();
    marker.setVisible(true);
    marker.setMarkerSize(QSizeF(7, 7));
    marker.setPen(QPen(outline));
    marker.setMarkerStyle(KChart::MarkerAttributes::MarkerDiamond);
    attributes.setMarkerAttributes(marker);

    KChart::TextAttributes text = attributes.textAttributes();
    text.setPen(QPen(scheme.foreground().color()));
    text.setFontSize(KChart::Measure(12));
    text.setRotation(0);
    attributes.setTextAttributes(text);

    // Horizontal labels read best; they open towards the middle of the chart so
    // that a peak near either end keeps its label inside the plane.
    KChart::RelativePosition position = attributes.positivePosition();
    const auto [shownFrom, shownTo] = zoom ? zoom->visibleRange() : std::pair(0.0, lastSnapshotTime());
    const bool rightHalf = diagram->model()->data(index).toDouble() > (shownFrom + shownTo) / 2;
    position.setAlignment(Qt::AlignTop | (rightHalf ? Qt::AlignLeft : Qt::AlignRight));
    // A plotter gives each point the area up to the next point; its north-west
    // corner is the point itself, where the marker belongs. Other references
    // put label and marker halfway to a neighbour, far below a steep peak.
    position.setReferencePosition(KChart::Position::NorthWest);
    if (diagram == totalDiagram) {
        // The stack of functions often tops out at the total's peak: one line
        // higher, the total's label does not cover the top function's.
        position.setVerticalPadding(KChart::Measure(-20, KChartEnums::MeasureCalculationModeAbsolute));
    }
    attributes.setPositivePosition(position);

    KChart::BackgroundAttributes background = attributes.backgroundAttributes();
    background.setVisible(true);
    background.setBrush(scheme.background());
    attributes.setBackgroundAttributes(background);

    diagram->setLabel(index, attributes);
}

quint64 ChartTab::maximumCost() const
{
    quint64 maximum = 0;
    const QList<Massif::SnapshotItem *> snapshots = data->snapshots();
    for (const Massif::SnapshotItem *snapshot : snapshots) {
        maximum = qMax(maximum, snapshot->cost());
    }
    return maximum;
}

QList<QRectF> ChartTab::peakLabelAreas() const
{
    // With a margin: a legend flush against a label still hides its frame.
    QList<QRectF> areas = totalDiagram->labelAreas() + detailedDiagram->labelAreas();
    for (QRectF &area : areas) {
        area.adjust(-4, -4, 4, 6);
    }
    return areas;
}

void ChartTab::placeFloatingLegend()
{
    if (legend->position() != KChart::Position::Floating) {
        return;
    }
    const auto *plane = static_cast<const KChart::CartesianCoordinatePlane *>(chart->coordinatePlane());
    const QRectF area = QRectF(plane->geometry()).adjusted(6, 6, -6, -6);
    const QSizeF size = legend->sizeHint();
    if (area.width() < size.width() || area.height() < size.height()) {
        return;
    }

    // The corners the alignment setting allows; centred means any of them.
    QList<KChart::Position> corners;
    switch (Massif::Settings::legendAlignment()) {
    case Massif::Settings::EnumLegendAlignment::Left:
        corners = {KChart::Position::NorthWest, KChart::Position::SouthWest};
        break;
    case Massif::Settings::EnumLegendAlignment::Right:
        corners = {KChart::Position::NorthEast, KChart::Position::SouthEast};
        break;
    case Massif::Settings::EnumLegendAlignment::Top:
        corners = {KChart::Position::NorthEast, KChart::Position::NorthWest};
        break;
    case Massif::Settings::EnumLegendAlignment::Bottom:
        corners = {KChart::Position::SouthEast, KChart::Position::SouthWest};
        break;
    default:
        corners = {KChart::Position::NorthEast, KChart::Position::NorthWest, KChart::Position::SouthEast, KChart::Position::SouthWest};
    }

    // The snapshots' points on the plane: the total curve, which every function lies under.
    QList<QPointF> curve;
    const QList<Massif::SnapshotItem *> snapshots = data->snapshots();
    curve.reserve(snapshots.size());
    for (const Massif::SnapshotItem *snapshot : snapshots) {
        curve.append(plane->translate(QPointF(snapshot->time(), double(snapshot->cost()))));
    }
    const QList<QRectF> labels = peakLabelAreas();

    // A peak label under the legend weighs more than all the curve it may cover.
    const auto cost = [&](const QRectF &rect) {
        double covered = 0;
        for (qsizetype i = 1; i < curve.size(); ++i) {
            const double from = qMax(rect.left(), qMin(curve.at(i - 1).x(), curve.at(i).x()));
            const double to = qMin(rect.right(), qMax(curve.at(i - 1).x(), curve.at(i).x()));
            const double top = qMax(rect.top(), qMin(curve.at(i - 1).y(), curve.at(i).y()));
            if (to > from && top < rect.bottom()) {
                covered += (to - from) * (rect.bottom() - top);
            }
        }
        double score = covered / (rect.width() * rect.height());
        for (const QRectF &label : labels) {
            if (label.intersects(rect)) {
                score += 10;
            }
        }
        return score;
    };
    const auto cornerRect = [&](KChart::Position corner) {
        const bool west = corner == KChart::Position::NorthWest || corner == KChart::Position::SouthWest;
        const bool north = corner == KChart::Position::NorthWest || corner == KChart::Position::NorthEast;
        return QRectF(QPointF(west ? area.left() : area.right() - size.width(), north ? area.top() : area.bottom() - size.height()), size);
    };
    KChart::Position best = corners.constFirst();
    double bestCost = cost(cornerRect(best));
    for (const KChart::Position corner : std::as_const(corners)) {
        const double candidate = cost(cornerRect(corner));
        if (candidate < bestCost - 1e-9) {
            best = corner;
            bestCost = candidate;
        }
    }

    const KChart::RelativePosition current = legend->floatingPosition();
    if (current.referenceArea() == plane && current.referencePosition() == best) {
        return;
    }
    KChart::RelativePosition position;
    position.setReferenceArea(chart->coordinatePlane());
    position.setReferencePosition(best);
    const bool west = best == KChart::Position::NorthWest || best == KChart::Position::SouthWest;
    const bool north = best == KChart::Position::NorthWest || best == KChart::Position::NorthEast;
    position.setAlignment((west ? Qt::AlignLeft : Qt::AlignRight) | (north ? Qt::AlignTop : Qt::AlignBottom));
    position.setHorizontalPadding(KChart::Measure(west ? 6 : -6, KChartEnums::MeasureCalculationModeAbsolute));
    position.setVerticalPadding(KChart::Measure(north ? 6 : -6, KChartEnums::MeasureCalculationModeAbsolute));
    legend->setFloatingPosition(position);
    chart->reLayoutFloatingLegends();
}

double ChartTab::lastSnapshotTime() const
{
    const QList<Massif::SnapshotItem *> snapshots = data->snapshots();
    return snapshots.isEmpty() ? 0.0 : snapshots.constLast()->time();
}

void ChartTab::applyLegendPlacement()
{
    KChart::Position position = KChart::Position::Floating;
    switch (Massif::Settings::legendPosition()) {
    case Massif::Settings::EnumLegendPosition::North:
        position = KChart::Position::North;
        break;
    case Massif::Settings::EnumLegendPosition::East:
        position = KChart::Position::East;
        break;
    case Massif::Settings::EnumLegendPosition::South:
        position = KChart::Position::South;
        break;
    case Massif::Settings::EnumLegendPosition::West:
        position = KChart::Position::West;
        break;
    case Massif::Settings::EnumLegendPosition::Floating:
        break;
    default:
        qDebug() << "invalid legend position";
    }
    legend->setPosition(position);

    const bool vertical = position == KChart::Position::North || position == KChart::Position::South;
    const bool horizontal = position == KChart::Position::East || position == KChart::Position::West;
    Qt::Alignment alignment = Qt::AlignCenter;
    switch (Massif::Settings::legendAlignment()) {
    case Massif::Settings::EnumLegendAlignment::Left:
        alignment = horizontal ? Qt::AlignCenter : Qt::AlignLeft;
        break;
    case Massif::Settings::EnumLegendAlignment::Center:
        break;
    case Massif::Settings::EnumLegendAlignment::Right:
        alignment = horizontal ? Qt::AlignCenter : Qt::AlignRight;
        break;
    case Massif::Settings::EnumLegendAlignment::Top:
        alignment = vertical ? Qt::AlignCenter : Qt::AlignTop;
        break;
    case Massif::Settings::EnumLegendAlignment::Bottom:
        alignment = vertical ? Qt::AlignCenter : Qt::AlignBottom;
        break;
    default:
        qDebug() << "invalid legend alignment";
    }
    legend->setAlignment(alignment);
}

void ChartTab::applyLegendFont()
{
    KChart::TextAttributes attributes = legend->textAttributes();
    attributes.setAutoShrink(true);
    attributes.setFontSize(KChart::Measure(Massif::Settings::legendFontSize()));
    QFont font = attributes.font();
    font.setFamily(QStringLiteral("monospace"));
    font.setStyleHint(QFont::TypeWriter, QFont::PreferDefault);
    attributes.setFont(font);
    legend->setTextAttributes(attributes);
}

void ChartTab::settingsChanged()
{
    refreshHeader();
    if (hover) {
        hover->refresh();
    }
    // The chart keeps the texts it drew until the models announce a change;
    // the peak labels are set anew after that.
    totalCostModel->settingsChanged();
    detailedCostModel->settingsChanged();
    refreshPeakMarkers();
    applyLegendPlacement();
    applyLegendFont();
    legend->forceRebuild();
}

void ChartTab::setDetailedDiagramHidden(bool hidden)
{
    detailedDiagram->setHidden(hidden);
}

void ChartTab::setDetailedDiagramVisible(bool visible)
{
    detailedDiagram->setVisible(visible);
}

void ChartTab::setTotalDiagramHidden(bool hidden)
{
    totalDiagram->setHidden(hidden);
}

void ChartTab::setTotalDiagramVisible(bool visible)
{
    totalDiagram->setVisible(visible);
}

void ChartTab::showDetailedGraph(bool show)
{
    detailedDiagram->setHidden(!show);
    toggleDetailedAction->setChecked(show);
    chart->update();
}

void ChartTab::showTotalGraph(bool show)
{
    totalDiagram->setHidden(!show);
    toggleTotalAction->setChecked(show);
    chart->update();
}

void ChartTab::setStackNum(int num)
{
    detailedCostModel->setDatasetLimit(num);
    refreshPeakMarkers();
}

void ChartTab::totalItemClicked(const QModelIndex &item)
{
    const QModelIndex index = totalCostModel->index(item.row() + 1, item.column(), item.parent());
    setHighlights(index, QModelIndex());

    selectionLock = true;
    Q_EMIT modelItemSelected(totalCostModel->modelItemAt(index));
    selectionLock = false;
}

void ChartTab::detailedItemClicked(const QModelIndex &item)
{
    setHighlights(QModelIndex(), item);

    selectionLock = true;
    const QModelIndex index = detailedCostModel->index(item.row() + 1, item.column(), item.parent());
    Q_EMIT modelItemSelected(detailedCostModel->modelItemAt(index));
    selectionLock = false;
}

void ChartTab::selectModelItem(const Massif::ModelItem &item)
{
    // The echo of our own modelItemSelected; the click has highlighted already.
    if (selectionLock) {
        return;
    }
    if (item.first) {
        setHighlights(QModelIndex(), detailedCostModel->modelItemIndex(item));
    } else {
        setHighlights(totalCostModel->modelItemIndex(item), QModelIndex());
    }
}

void ChartTab::setHighlights(const QModelIndex &total, const QModelIndex &detailed)
{
    totalCostModel->setHighlight(total);
    totalDiagram->setBand(total);
    detailedCostModel->setHighlight(detailed);
    detailedDiagram->setBand(detailed);
    chart->update();
}

void ChartTab::chartContextMenuRequested(const QPoint &pos)
{
    const QPoint diagramPos = detailedDiagram->mapFromGlobal(chart->mapToGlobal(pos));
    const QModelIndex clicked = detailedDiagram->indexAt(diagramPos);
    Massif::ModelItem item(nullptr, nullptr);
    if (clicked.isValid()) {
        item = detailedCostModel->modelItemAt(detailedCostModel->index(clicked.row() + 1, clicked.column(), clicked.parent()));
    }
    // The range in view is offered wherever the click was, not only over a function.
    const bool zoomed = zoom->isZoomed();
    if (!item.first && !zoomed) {
        return;
    }

    QMenu menu;
    if (item.first) {
        hideFunctionAction->setData(QVariant::fromValue(item));
        menu.addAction(hideFunctionAction);
        hideOtherFunctionsAction->setData(QVariant::fromValue(item));
        menu.addAction(hideOtherFunctionsAction);
        menu.addAction(showAllFunctionsAction);
        menu.addSeparator();
    }
    if (zoomed) {
        menu.addAction(compareRangeAction);
        menu.addSeparator();
    }
    if (item.first) {
        Q_EMIT contextMenuRequested(item, &menu);
    }
    menu.exec(detailedDiagram->mapToGlobal(diagramPos));
}

std::pair<const Massif::SnapshotItem *, const Massif::SnapshotItem *> ChartTab::zoomedDetailedEnds() const
{
    if (!zoom || !zoom->isZoomed()) {
        return {nullptr, nullptr};
    }
    const auto [from, to] = zoom->visibleRange();
    const Massif::SnapshotItem *first = nullptr;
    const Massif::SnapshotItem *last = nullptr;
    for (const Massif::SnapshotItem *snapshot : data->snapshots()) {
        if (!snapshot->heapTree() || snapshot->time() < from || snapshot->time() > to) {
            continue;
        }
        if (!first) {
            first = snapshot;
        }
        last = snapshot;
    }
    if (first == last) {
        return {nullptr, nullptr};
    }
    return {first, last};
}

void ChartTab::compareStartWithEnd()
{
    const auto [first, last] = zoomedDetailedEnds();
    if (first && last) {
        Q_EMIT compareSnapshotsRequested(first->number(), last->number());
    }
}

void ChartTab::slotHideFunction()
{
    const auto item = hideFunctionAction->data().value<Massif::ModelItem>();
    if (item.first) {
        detailedCostModel->hideFunction(item.first);
        refreshPeakMarkers();
    }
}

void ChartTab::slotHideOtherFunctions()
{
    const auto item = hideOtherFunctionsAction->data().value<Massif::ModelItem>();
    if (item.first) {
        detailedCostModel->hideOtherFunctions(item.first);
        refreshPeakMarkers();
    }
}

void ChartTab::showPrintPreviewDialog()
{
    QPrinter printer(QPrinter::ScreenResolution);
    auto *preview = new QPrintPreviewDialog(&printer, this);
    preview->setAttribute(Qt::WA_DeleteOnClose);
    preview->setWindowTitle(i18nc("@title:window", "Massif Chart Print Preview"));
    preview->resize(800, 600);
    connect(preview, &QPrintPreviewDialog::paintRequested, this, [this](QPrinter *target) {
        // The painter's origin is already the corner of the printable area.
        const QRect page = target->pageLayout().paintRectPixels(target->resolution());
        QPainter painter(target);
        paintChart(&painter, QRect(QPoint(0, 0), page.size()));
    });
    preview->exec();
}

void ChartTab::saveCurrentDocument()
{
    // The first filter is the one the dialog opens with; a name typed without
    // a suffix takes that of the chosen filter, PNG for the one of all formats.
    const QStringList filters {
        i18n("Images (*.png *.jpg *.tiff *.svg)"),
        i18n("PNG Image (*.png)"),
        i18n("JPEG Image (*.jpg)"),
        i18n("TIFF Image (*.tiff)"),
        i18n("SVG Image (*.svg)"),
    };
    QFileDialog dialog(this, i18nc("@title:window", "Save Current Visualization"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(filterSuffix(filters.first()));
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString &filter) {
        dialog.setDefaultSuffix(filterSuffix(filter));
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    QString fileName = dialog.selectedFiles().constFirst();
    if (fileName.isEmpty()) {
        return;
    }
    // A platform dialog may ignore the default suffix.
    if (QFileInfo(fileName).suffix().isEmpty()) {
        fileName += QLatin1Char('.') + filterSuffix(dialog.selectedNameFilter());
    }
    if (!saveImage(fileName)) {
        KMessageBox::error(this, i18n("Failed to save the image to %1.", fileName), QString());
    }
}

bool ChartTab::saveImage(const QString &fileName, const QSize &size)
{
    const QSize logicalSize = size.isEmpty() ? this->size() : size;
    if (logicalSize.isEmpty()) {
        return false;
    }
    const QRect target(QPoint(0, 0), logicalSize);
    // The chart measures its fonts against the device; ours at the widget's resolution.
    const int dpi = logicalDpiX();
    const QString suffix = QFileInfo(fileName).suffix();

    if (suffix == QLatin1String("svg")) {
        QBuffer svg;
        svg.open(QIODevice::WriteOnly);
        QSvgGenerator generator;
        generator.setOutputDevice(&svg);
        generator.setSize(logicalSize);
        generator.setViewBox(target);
        generator.setResolution(dpi);
        generator.setTitle(i18n("Memory consumption of %1", programName()));
        QPainter painter;
        if (!painter.begin(&generator)) {
            return false;
        }
        painter.fillRect(target, palette().color(QPalette::Window));
        paintChart(&painter, target);
        if (!painter.end()) {
            return false;
        }
        // The SVG writer copies text as it is, and labels from a profile may
        // hold control characters, which make the XML unreadable: they become
        // U+FFFD. In UTF-8 no other character has bytes below 0x20.
        const QByteArray &bytes = svg.buffer();
        QByteArray readable;
        readable.reserve(bytes.size());
        for (const char c : bytes) {
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
                readable += "\xEF\xBF\xBD";
            } else {
                readable += c;
            }
        }
        // An SVG file that cannot be written is a failure like any other.
        QFile file(fileName);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(readable) == readable.size() && file.flush();
    }

    // Sharp on a high-resolution screen when the size is the widget's own;
    // exactly the pixels asked for otherwise.
    const qreal ratio = size.isEmpty() ? devicePixelRatioF() : 1.0;
    QImage image(logicalSize * ratio, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) {
        return false;
    }
    image.setDevicePixelRatio(ratio);
    const int dotsPerMeter = qRound(dpi / 0.0254);
    image.setDotsPerMeterX(dotsPerMeter);
    image.setDotsPerMeterY(dotsPerMeter);
    image.fill(palette().color(QPalette::Window));
    {
        QPainter painter(&image);
        paintChart(&painter, target);
    }
    return image.save(fileName, suffix.isEmpty() ? "png" : nullptr);
}

void ChartTab::paintChart(QPainter *painter, const QRect &target)
{
    // The header as the label shows it: centred, in the label's font and colour.
    QTextDocument headerText;
    headerText.setDefaultFont(header->font());
    headerText.setDocumentMargin(2);
    headerText.setHtml(QStringLiteral("<div align=\"center\">%1</div>").arg(header->text()));
    headerText.setTextWidth(target.width());
    const int headerHeight = qMin(qCeil(headerText.size().height()), target.height());

    QAbstractTextDocumentLayout::PaintContext context;
    context.palette = header->palette();
    context.palette.setColor(QPalette::Text, header->palette().color(QPalette::WindowText));
    context.clip = QRectF(0, 0, target.width(), headerHeight);
    painter->save();
    painter->translate(target.topLeft());
    headerText.documentLayout()->draw(painter, context);
    painter->restore();

    const QRect chartArea(0, 0, target.width(), target.height() - headerHeight);
    if (chartArea.isEmpty()) {
        return;
    }
    painter->save();
    painter->translate(target.left(), target.top() + headerHeight);
    chart->paint(painter, chartArea);
    painter->restore();
}

void ChartTab::buildInteraction()
{
    auto *overlay = new ChartOverlay(chart);
    zoom = new ChartZoom(chart, overlay, this);
    const QList<Massif::SnapshotItem *> snapshots = data->snapshots();
    // The plane's own fit starts the time axis at zero.
    zoom->setFullRange(snapshots.isEmpty() ? 0.0 : qMin(0.0, snapshots.constFirst()->time()), lastSnapshotTime());
    connect(zoom, &ChartZoom::rangeChanged, this, &ChartTab::timeRangeChanged);
    // Installed last, the hover sees the mouse before the zoom takes its moves.
    hover = new ChartHover(chart, zoom, overlay, data, detailedCostModel, detailedDiagram, this);

    legendControl = new ChartLegendControl(legend, this);
    connect(legendControl, &ChartLegendControl::entryClicked, this, &ChartTab::legendEntryClicked);
    connect(legendControl, &ChartLegendControl::entryDoubleClicked, this, &ChartTab::legendEntryDoubleClicked);
    timeRangeChanged();
}

void ChartTab::timeRangeChanged()
{
    const bool zoomed = zoom->isZoomed();
    zoomOutAction->setEnabled(zoomed);
    resetZoomAction->setEnabled(zoomed);
    compareRangeAction->setEnabled(zoomedDetailedEnds().first != nullptr);
    updateTimeTicks();
    updateSizeScale();
    refreshPeakMarkers();
    hover->refresh();
    chart->update();
}

void ChartTab::updateTimeTicks()
{
    // The plane starts its ticks where the time shown starts, which after a
    // drag is anywhere: zoomed, the ticks go to round times instead.
    QMap<qreal, QString> ticks;
    if (zoom->isZoomed()) {
        const auto [from, to] = zoom->visibleRange();
        const double rough = (to - from) / 8;
        const double magnitude = std::pow(10.0, std::floor(std::log10(rough)));
        double step = magnitude;
        for (const double multiple : {1.0, 2.0, 5.0, 10.0}) {
            step = multiple * magnitude;
            if (step >= rough) {
                break;
            }
        }
        for (double tick = std::ceil(from / step) * step; tick <= to; tick += step) {
            ticks.insert(tick, QString::number(tick, 'g', 6));
        }
    }
    const auto axes = totalDiagram->axes();
    for (KChart::CartesianAxis *axis : axes) {
        if (dynamic_cast<TimeAxis *>(axis)) {
            axis->setAnnotations(ticks);
        }
    }
}

void ChartTab::updateSizeScale()
{
    auto *plane = static_cast<KChart::CartesianCoordinatePlane *>(chart->coordinatePlane());
    const bool fit = zoom->isZoomed() && !keepFullScaleAction->isChecked();
    const quint64 maximum = fit ? visibleMaximumCost() : maximumCost();
    const SizeScale scale = sizeScale(maximum);
    const auto axes = totalDiagram->axes();
    for (KChart::CartesianAxis *axis : axes) {
        if (auto *sizeAxis = dynamic_cast<SizeAxis *>(axis)) {
            sizeAxis->setScale(scale);
        }
    }
    KChart::GridAttributes sizeGrid = plane->gridAttributes(Qt::Vertical);
    sizeGrid.setGridStepWidth(scale.step);
    sizeGrid.setGridSubStepWidth(scale.step / 2);
    plane->setGridAttributes(Qt::Vertical, sizeGrid);
    // The whole run ends at a tick with room above the peak for its label, which
    // is drawn above the point and would otherwise be cut at the chart's edge.
    const double top = scale.step > 0 ? std::ceil(double(maximum) * 1.1 / scale.step) * scale.step : double(maximum);
    plane->setVerticalRange(maximum == 0 ? QPair<qreal, qreal>() : QPair<qreal, qreal>(0.0, fit ? double(maximum) : top));
    static_cast<KChart::AbstractCoordinatePlane *>(plane)->layoutDiagrams();
}

quint64 ChartTab::visibleMaximumCost() const
{
    const auto [from, to] = zoom->visibleRange();
    const QList<Massif::SnapshotItem *> snapshots = data->snapshots();
    quint64 maximum = 0;
    for (qsizetype i = 0; i < snapshots.size(); ++i) {
        const double time = snapshots.at(i)->time();
        // The snapshots just outside count too: the curve runs from them into view.
        const bool lastBefore = time < from && i + 1 < snapshots.size() && snapshots.at(i + 1)->time() >= from;
        const bool firstAfter = time > to && i > 0 && snapshots.at(i - 1)->time() <= to;
        if ((time >= from && time <= to) || lastBefore || firstAfter) {
            maximum = qMax(maximum, snapshots.at(i)->cost());
        }
    }
    return maximum;
}

bool ChartTab::isInView(const QAbstractItemModel *model, const QModelIndex &index) const
{
    if (!zoom || !zoom->isZoomed()) {
        return true;
    }
    const double time = model->index(index.row(), index.column() - index.column() % 2).data().toDouble();
    const auto [from, to] = zoom->visibleRange();
    return time >= from && time <= to;
}

void ChartTab::legendEntryClicked(int dataset)
{
    const int offset = int(legend->dataSetOffset(detailedDiagram));
    const int function = dataset - offset;
    if (function < 0 || function >= detailedCostModel->columnCount() / 2) {
        return;
    }
    // A second click on the same entry takes the emphasis away.
    detailedCostModel->setEmphasizedDataset(detailedCostModel->emphasizedDataset() == function ? -1 : function);
    detailedDiagram->update();
    legend->forceRebuild();
    chart->update();
}

void ChartTab::legendEntryDoubleClicked(int dataset)
{
    const int function = dataset - int(legend->dataSetOffset(detailedDiagram));
    const QMap<QModelIndex, const Massif::TreeLeafItem *> markers = detailedCostModel->peakMarkers();
    for (auto it = markers.cbegin(); it != markers.cend(); ++it) {
        if (it.key().column() / 2 == function) {
            hideFunctionAction->setData(QVariant::fromValue(Massif::ModelItem(it.value(), nullptr)));
            slotHideFunction();
            return;
        }
    }
}

void ChartTab::showAllFunctions()
{
    detailedCostModel->showAllFunctions();
    refreshPeakMarkers();
    chart->update();
}
