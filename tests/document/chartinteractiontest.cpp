/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "charthover.h"
#include "chartlegendcontrol.h"
#include "chartoverlay.h"
#include "charttab.h"
#include "chartzoom.h"
#include "detailedcostmodel.h"
#include "filedata.h"
#include "formatting.h"
#include "labelpieces.h"
#include "parser.h"
#include "settings.h"
#include "snapshotitem.h"
#include "totalcostmodel.h"
#include "treeleafitem.h"

#include <KChartCartesianCoordinatePlane>
#include <KChartChart>
#include <KChartDataValueAttributes>
#include <KChartLegend>
#include <KChartLineAttributes>
#include <KChartPlotter>

#include <KActionCollection>
#include <KConfig>
#include <KLocalizedString>
#include <KSharedConfig>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QToolTip>
#include <QWheelEvent>

#include <cmath>
#include <memory>

using Massif::Settings;

namespace {

std::unique_ptr<Massif::FileData> parseFixture(const QString &name)
{
    QFile file(QStringLiteral(QUILLMAP_FIXTURES_DIR "/") + name);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    Massif::Parser parser;
    return std::unique_ptr<Massif::FileData>(parser.parse(&file));
}

struct SnapshotLine
{
    int number = -1;
    QByteArray time;
    quint64 total = 0;
    bool detailed = false;
};

/// The snapshots as the file's text gives them, without the parser.
QList<SnapshotLine> snapshotsFromFile(const QString &name)
{
    QFile file(QStringLiteral(QUILLMAP_FIXTURES_DIR "/") + name);
    file.open(QIODevice::ReadOnly);
    QList<SnapshotLine> snapshots;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith("snapshot=")) {
            snapshots.append({line.mid(9).toInt(), {}, 0, false});
        } else if (line.startsWith("time=")) {
            snapshots.last().time = line.mid(5);
        } else if (line.startsWith("mem_heap_B=") || line.startsWith("mem_stacks_B=")) {
            snapshots.last().total += line.mid(line.indexOf('=') + 1).toULongLong();
        } else if (line == "heap_tree=detailed" || line == "heap_tree=peak") {
            snapshots.last().detailed = true;
        }
    }
    return snapshots;
}

struct Shown
{
    explicit Shown(Massif::FileData *data) : tab(new ChartTab(data, &guiParent, nullptr))
    {
        tab->resize(900, 600);
        tab->show();
        QVERIFY(QTest::qWaitForWindowExposed(tab.get()));
        chart = tab->findChild<KChart::Chart *>();
        plane = static_cast<KChart::CartesianCoordinatePlane *>(chart->coordinatePlane());
        detailed = static_cast<KChart::Plotter *>(plane->diagrams().at(1));
        detailedModel = static_cast<Massif::DetailedCostModel *>(detailed->model());
        zoom = tab->findChild<ChartZoom *>();
        panel = chart->findChild<QLabel *>(QStringLiteral("chartHoverPanel"));
        overlay = chart->findChild<ChartOverlay *>();
        chart->grab();
    }

    QPoint pixel(double time, double size) const
    {
        return plane->translate(QPointF(time, size)).toPoint();
    }

    /// The time one pixel spans now.
    double pixelTime() const
    {
        const auto [from, to] = zoom->visibleRange();
        return (to - from) / zoom->plotArea().width();
    }

    void drag(Qt::MouseButton button, QPoint from, QPoint to) const
    {
        QTest::mousePress(chart, button, {}, from);
        QTest::mouseMove(chart, (from + to) / 2);
        QTest::mouseMove(chart, to);
        QTest::mouseRelease(chart, button, {}, to);
    }

    void wheel(QPoint at, int delta, Qt::KeyboardModifiers modifiers = {}) const
    {
        QWheelEvent event(at, chart->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(chart, &event);
    }

    KXMLGUIClient guiParent;
    std::unique_ptr<ChartTab> tab;
    KChart::Chart *chart = nullptr;
    KChart::CartesianCoordinatePlane *plane = nullptr;
    KChart::Plotter *detailed = nullptr;
    Massif::DetailedCostModel *detailedModel = nullptr;
    ChartZoom *zoom = nullptr;
    QLabel *panel = nullptr;
    ChartOverlay *overlay = nullptr;
};

QStringList headers(const Massif::DetailedCostModel *model)
{
    QStringList texts;
    for (int column = 0; column < model->columnCount(); column += 2) {
        texts << model->headerData(column, Qt::Horizontal).toString();
    }
    return texts;
}

} // namespace

class ChartInteractionTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        KLocalizedString::setApplicationDomain(QByteArrayLiteral("quillmap"));
        QCoreApplication::setApplicationName(QStringLiteral("quillmap"));
        KConfig::setMainConfigName(QStringLiteral("chartinteractiontestrc"));
    }

    void init()
    {
        KSharedConfig::openConfig()->deleteGroup(QStringLiteral("Settings"));
        KSharedConfig::openConfig()->sync();
        Settings::self()->read();
    }

    void dragZoomsAndResetRestores_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<int>("fromRow");
        QTest::addColumn<int>("toRow");
        QTest::newRow("left to right") << QStringLiteral("simple.massif") << 10 << 30;
        QTest::newRow("right to left") << QStringLiteral("simple.massif") << 40 << 5;
        QTest::newRow("many functions") << QStringLiteral("many.massif") << 3 << 12;
        QTest::newRow("peak among close snapshots") << QStringLiteral("sites.massif") << 4 << 14;
    }

    void dragZoomsAndResetRestores()
    {
        QFETCH(QString, fixture);
        QFETCH(int, fromRow);
        QFETCH(int, toRow);
        auto data = parseFixture(fixture);
        QVERIFY(data);
        Shown shown(data.get());
        const QRectF wholeRun = shown.plane->visibleDataRange();
        const double from = data->snapshots().at(fromRow)->time();
        const double to = data->snapshots().at(toRow)->time();
        const double slack = shown.pixelTime();
        const double y = wholeRun.top() + wholeRun.height() / 3;

        QSignalSpy selected(shown.tab.get(), &DocumentTabInterface::modelItemSelected);
        shown.drag(Qt::LeftButton, shown.pixel(from, y), shown.pixel(to, y));
        QVERIFY(shown.zoom->isZoomed());
        QVERIFY(!shown.overlay->hasBand());
        const auto [shownFrom, shownTo] = shown.zoom->visibleRange();
        QVERIFY2(std::abs(shownFrom - qMin(from, to)) <= slack, qPrintable(QString::number(shownFrom)));
        QVERIFY2(std::abs(shownTo - qMax(from, to)) <= slack, qPrintable(QString::number(shownTo)));
        QCOMPARE(shown.plane->horizontalRange().first, shownFrom);
        QCOMPARE(shown.plane->horizontalRange().second, shownTo);
        // A drag selects nothing; the snapshot under its start stays unselected.
        QCOMPARE(selected.count(), 0);
        // The size axis fits the highest snapshot in view, not the whole run's peak.
        quint64 visibleMaximum = 0;
        for (const Massif::SnapshotItem *snapshot : data->snapshots()) {
            if (snapshot->time() >= shownFrom && snapshot->time() <= shownTo) {
                visibleMaximum = qMax(visibleMaximum, snapshot->cost());
            }
        }
        QVERIFY(shown.plane->verticalRange().second >= double(visibleMaximum));
        QVERIFY(shown.plane->verticalRange().second <= double(data->peak()->cost()));

        shown.tab->actionCollection()->action(QStringLiteral("view_zoom_reset"))->trigger();
        QVERIFY(!shown.zoom->isZoomed());
        shown.chart->grab();
        QCOMPARE(shown.plane->visibleDataRange(), wholeRun);
    }

    void wheelAndPan_data()
    {
        QTest::addColumn<int>("notches");
        QTest::addColumn<bool>("shift");
        QTest::addColumn<double>("expectedFrom"); // shares of the range shown before
        QTest::addColumn<double>("expectedTo");
        // Zooming keeps the time under the cursor, at a third of the range, in place.
        QTest::newRow("one notch in") << 1 << false << 1.0 / 3 * 0.2 << 1.0 / 3 + 2.0 / 3 * 0.8;
        QTest::newRow("two notches in") << 2 << false << 1.0 / 3 * 0.36 << 1.0 / 3 + 2.0 / 3 * 0.64;
        QTest::newRow("one notch out") << -1 << false << 1.0 / 3 * (1 - 1.25) << 1.0 / 3 + 2.0 / 3 * 1.25;
        QTest::newRow("shift pans back") << 1 << true << -0.1 << 0.9;
        QTest::newRow("shift pans on") << -2 << true << 0.2 << 1.2;
    }

    void wheelAndPan()
    {
        QFETCH(int, notches);
        QFETCH(bool, shift);
        QFETCH(double, expectedFrom);
        QFETCH(double, expectedTo);
        auto data = parseFixture(QStringLiteral("simple.massif"));
        Shown shown(data.get());
        // Start from the middle of the run, so that there is room on both sides.
        const auto [first, last] = shown.zoom->fullRange();
        const double from = first + (last - first) * 0.4;
        const double to = first + (last - first) * 0.6;
        shown.zoom->zoomTo(from, to);
        shown.chart->grab();
        const double span = to - from;
        const QRectF area = shown.zoom->plotArea();
        const QPoint at(qRound(shown.zoom->pixelAt(from + span / 3)), qRound(area.center().y()));
        const double slack = shown.pixelTime();

        shown.wheel(at, notches * 120, shift ? Qt::ShiftModifier : Qt::NoModifier);
        const auto [newFrom, newTo] = shown.zoom->visibleRange();
        QVERIFY2(std::abs(newFrom - (from + expectedFrom * span)) <= 2 * slack, qPrintable(QString::number((newFrom - from) / span)));
        QVERIFY2(std::abs(newTo - (from + expectedTo * span)) <= 2 * slack, qPrintable(QString::number((newTo - from) / span)));
    }

    void middleDragPansAndEdgesHold()
    {
        auto data = parseFixture(QStringLiteral("simple.massif"));
        Shown shown(data.get());
        const auto [first, last] = shown.zoom->fullRange();
        const double from = first + (last - first) * 0.5;
        const double to = first + (last - first) * 0.7;
        shown.zoom->zoomTo(from, to);
        shown.chart->grab();
        const double pixelTime = shown.pixelTime();
        const int y = qRound(shown.zoom->plotArea().center().y());
        const int x = qRound(shown.zoom->pixelAt((from + to) / 2));

        // The time grabbed follows the mouse: dragging right shows earlier times.
        shown.drag(Qt::MiddleButton, QPoint(x, y), QPoint(x + 100, y));
        auto [newFrom, newTo] = shown.zoom->visibleRange();
        QVERIFY(std::abs(newFrom - (from - 100 * pixelTime)) <= 2 * pixelTime);
        QVERIFY(std::abs((newTo - newFrom) - (to - from)) <= 1e-6 * (to - from));

        // Panning stops at the end of the run, keeping the span.
        for (int i = 0; i < 20; ++i) {
            shown.wheel(QPoint(x, y), -120, Qt::ShiftModifier);
        }
        std::tie(newFrom, newTo) = shown.zoom->visibleRange();
        QCOMPARE(newTo, last);
        QVERIFY(std::abs((newTo - newFrom) - (to - from)) <= 1e-6 * (to - from));
    }

    void zoomActionsAndWholeRunScale()
    {
        auto data = parseFixture(QStringLiteral("simple.massif"));
        Shown shown(data.get());
        KActionCollection *actions = shown.tab->actionCollection();
        QAction *zoomIn = actions->action(QStringLiteral("view_zoom_in"));
        QAction *zoomOut = actions->action(QStringLiteral("view_zoom_out"));
        QAction *reset = actions->action(QStringLiteral("view_zoom_reset"));
        QAction *keepScale = actions->action(QStringLiteral("zoom_keep_full_scale"));
        QCOMPARE(zoomIn->shortcut(), QKeySequence(QKeySequence::ZoomIn));
        QCOMPARE(reset->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_0));
        QVERIFY(!zoomOut->isEnabled());
        QVERIFY(!reset->isEnabled());

        // Zoom In halves the time shown around its middle.
        const auto [first, last] = shown.zoom->fullRange();
        zoomIn->trigger();
        zoomIn->trigger();
        const auto [from, to] = shown.zoom->visibleRange();
        const double quarter = (last - first) / 4;
        QVERIFY(std::abs((to - from) - quarter) < 1e-6 * quarter);
        QVERIFY(std::abs((from + to) / 2 - (first + last) / 2) < 1e-6 * quarter);
        QVERIFY(zoomOut->isEnabled() && reset->isEnabled());

        // The middle quarter of this run stays well below the peak: fitted, the
        // size axis ends below it; kept, it reaches above it.
        const double peak = double(data->peak()->cost());
        QVERIFY(shown.plane->verticalRange().second < peak);
        keepScale->setChecked(true);
        QVERIFY(shown.plane->verticalRange().second >= peak);
        keepScale->setChecked(false);
        QVERIFY(shown.plane->verticalRange().second < peak);

        zoomOut->trigger();
        zoomOut->trigger();
        QVERIFY(!shown.zoom->isZoomed());
        QVERIFY(!zoomOut->isEnabled());
    }

    void clickWithoutDragStillSelects()
    {
        auto data = parseFixture(QStringLiteral("simple.massif"));
        Shown shown(data.get());
        const QList<Massif::SnapshotItem *> snapshots = data->snapshots();
        const int row = 20;
        const double x = (snapshots[row]->time() + snapshots[row + 1]->time()) / 2;
        const double y = double(std::min(snapshots[row]->cost(), snapshots[row + 1]->cost())) * 0.98;
        auto *total = static_cast<KChart::Plotter *>(shown.plane->diagrams().at(0));
        // A pixel of the total curve's segment that no function covers.
        QPoint point(-1, -1);
        const QPoint centre = shown.pixel(x, y);
        for (int radius = 0; radius < 40 && point.x() < 0; ++radius) {
            for (int dy = -radius; dy <= radius && point.x() < 0; ++dy) {
                for (int dx = -radius; dx <= radius; ++dx) {
                    const QPoint candidate = centre + QPoint(dx, dy);
                    if (total->indexAt(candidate).row() == row && !shown.detailed->indexAt(candidate).isValid()) {
                        point = candidate;
                        break;
                    }
                }
            }
        }
        QCOMPARE(total->indexAt(point).row(), row);

        QSignalSpy selected(shown.tab.get(), &DocumentTabInterface::modelItemSelected);
        // A hand that slips by a pixel still clicks.
        QTest::mousePress(shown.chart, Qt::LeftButton, {}, point);
        QTest::mouseMove(shown.chart, point + QPoint(1, 0));
        QTest::mouseRelease(shown.chart, Qt::LeftButton, {}, point + QPoint(1, 0));
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.first().first().value<Massif::ModelItem>().second, snapshots[row + 1]);
        QVERIFY(!shown.zoom->isZoomed());
    }

    void peakLabelsOutOfViewHidden()
    {
        auto data = parseFixture(QStringLiteral("simple.massif"));
        Shown shown(data.get());
        auto *total = static_cast<KChart::Plotter *>(shown.plane->diagrams().at(0));
        auto *totalModel = static_cast<Massif::TotalCostModel *>(total->model());
        const QModelIndex peak = totalModel->peakSnapshotIndex();
        QVERIFY(total->dataValueAttributes(peak).isVisible());
        const double peakTime = data->peak()->time();
        const auto [first, last] = shown.zoom->fullRange();
        shown.zoom->zoomTo(first, first + (peakTime - first) / 2);
        QVERIFY(!total->dataValueAttributes(peak).isVisible());
        shown.zoom->zoomTo(peakTime - 1, last);
        QVERIFY(total->dataValueAttributes(peak).isVisible());
        shown.zoom->reset();
        QVERIFY(total->dataValueAttributes(peak).isVisible());
    }

    // Wherever the mouse is over a function's area, the panel names the
    // function a click there would select.
    void hoverNamesTheAreaClicked_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::newRow("example") << QStringLiteral("../../examples/massif.out.example");
        QTest::newRow("many functions") << QStringLiteral("many.massif");
    }

    void hoverNamesTheAreaClicked()
    {
        QFETCH(QString, fixture);
        auto data = parseFixture(fixture);
        Shown shown(data.get());
        shown.chart->grab(); // lays out and draws the areas
        const QRect area = shown.zoom->plotArea().toRect();
        int checked = 0;
        for (int x = area.left() + 2; x < area.right(); x += area.width() / 40) {
            for (int y = area.top() + 2; y < area.bottom(); y += area.height() / 30) {
                const QModelIndex hit = shown.detailed->indexAt(QPoint(x, y));
                if (!hit.isValid()) {
                    continue;
                }
                QTest::mouseMove(shown.chart, QPoint(x, y));
                const QString line = shown.panel->text().section(QLatin1String("<br/>"), 2, 2);
                const QString header = shown.detailedModel->headerData(hit.column(), Qt::Horizontal).toString().toHtmlEscaped();
                QVERIFY2(line.startsWith(header + QLatin1Char(':')) || line.startsWith(header + QLatin1String(" (")),
                         qPrintable(QStringLiteral("at %1,%2: %3 is not %4").arg(x).arg(y).arg(line, header)));
                ++checked;
            }
        }
        QVERIFY2(checked > 20, qPrintable(QString::number(checked)));
    }

    void hoverPanel_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("precision");
        QTest::newRow("simple, first detailed") << QStringLiteral("simple.massif") << 9 << 1;
        QTest::newRow("simple, late, precision 3") << QStringLiteral("simple.massif") << 39 << 3;
        QTest::newRow("every snapshot detailed") << QStringLiteral("simple-detailed.massif") << 5 << 1;
        QTest::newRow("many functions") << QStringLiteral("many.massif") << 10 << 2;
        QTest::newRow("time in bytes") << QStringLiteral("time-b.massif") << 6 << 1;
    }

    void hoverPanel()
    {
        QFETCH(QString, fixture);
        QFETCH(int, row);
        QFETCH(int, precision);
        Settings::self()->prettyCostPrecisionItem()->setValue(precision);
        Settings::self()->save();
        auto data = parseFixture(fixture);
        Shown shown(data.get());
        const QList<SnapshotLine> lines = snapshotsFromFile(fixture);
        const SnapshotLine &expected = lines.at(row);
        const Massif::SnapshotItem *snapshot = data->snapshots().at(row);

        // Low in the chart, inside the bottom function's area as drawn: straight
        // between the detailed snapshots around the mouse.
        const Massif::DetailedCostModel *model = shown.detailedModel;
        const auto timeAt = [model](int r) {
            return model->index(r, 0).data().toDouble();
        };
        const auto costAt = [model](int r) {
            return model->index(r, 1).data().toULongLong();
        };
        int after = 1;
        while (after + 1 < model->rowCount() && timeAt(after) < snapshot->time()) {
            ++after;
        }
        const int before = after - 1;
        const double along = timeAt(after) > timeAt(before) ? qBound(0.0, (snapshot->time() - timeAt(before)) / (timeAt(after) - timeAt(before)), 1.0) : 1.0;
        const double height = double(costAt(before)) + along * (double(costAt(after)) - double(costAt(before)));
        // Its cost is told at the end nearest in time, unless it holds nothing there.
        int told = std::abs(timeAt(after) - snapshot->time()) < std::abs(timeAt(before) - snapshot->time()) ? after : before;
        if (costAt(told) == 0) {
            told = told == after ? before : after;
        }
        const quint64 bottomCost = height > 0 ? costAt(told) : 0;
        const QPoint at = shown.pixel(snapshot->time(), height > 0 ? height / 2 : double(snapshot->cost()) / 2);
        QTest::mouseMove(shown.chart, at);

        QVERIFY(shown.panel->isVisible());
        QVERIFY(shown.overlay->hasLine());
        QVERIFY(std::abs(shown.overlay->lineX() - shown.zoom->pixelAt(snapshot->time())) < 1.0);
        const QString text = shown.panel->text();
        QVERIFY2(text.contains(QStringLiteral("#%1").arg(expected.number)), qPrintable(text));
        QVERIFY2(text.contains(QString::fromLatin1(expected.time)), qPrintable(text));
        QVERIFY2(text.contains(Massif::formatCost(expected.total)), qPrintable(text));
        if (bottomCost > 0) {
            QVERIFY2(text.contains(shown.detailedModel->headerData(0, Qt::Horizontal).toString().toHtmlEscaped()), qPrintable(text));
            QVERIFY2(text.contains(Massif::formatCost(bottomCost)), qPrintable(text));
            // The panel names where the function is, which the legend may leave out.
            const Massif::TreeLeafItem *node = model->modelItemAt(model->index(told, 0)).first;
            QVERIFY(node);
            QVERIFY2(text.contains(QString::fromUtf8(Massif::splitLabelPieces(node->label()).location)), qPrintable(text));
        }
        // One popup: the chart's own tooltip would cover the panel.
        QHelpEvent help(QEvent::ToolTip, at, shown.chart->mapToGlobal(at));
        QApplication::sendEvent(shown.chart, &help);
        QVERIFY(!QToolTip::isVisible());

        // Units follow the settings at once, without a move.
        Settings::self()->prettyCostPrecisionItem()->setValue(precision == 3 ? 0 : 3);
        Settings::self()->save();
        shown.tab->settingsChanged();
        QVERIFY2(shown.panel->text().contains(Massif::formatCost(expected.total)), qPrintable(shown.panel->text()));

        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(shown.chart, &leave);
        QVERIFY(!shown.panel->isVisible());
        QVERIFY(!shown.overlay->hasLine());
    }

    void legendHighlightHideAndShowAll()
    {
        auto data = parseFixture(QStringLiteral("many.massif"));
        Shown shown(data.get());
        auto *control = shown.tab->findChild<ChartLegendControl *>();
        QVERIFY(control);
        KChart::Legend *legend = shown.chart->legend();
        const int offset = int(legend->dataSetOffset(shown.detailed));
        const QStringList before = headers(shown.detailedModel);
        QAction *showAll = shown.tab->actionCollection()->action(QStringLiteral("show_all_functions"));
        QVERIFY(!showAll->isEnabled());

        const int function = 2;
        const QPoint entry = control->entryPosition(offset + function);
        QVERIFY(entry.x() >= 0);
        QCOMPARE(control->datasetAt(entry), offset + function);
        QTest::mouseClick(legend, Qt::LeftButton, {}, entry);
        QCOMPARE(shown.detailedModel->emphasizedDataset(), function);
        const auto transparency = [&shown](int column) {
            return shown.detailedModel->index(3, column).data(KChart::LineAttributesRole).value<KChart::LineAttributes>().transparency();
        };
        QVERIFY(transparency(2 * function + 1) > transparency(1));
        QVERIFY(transparency(2 * function + 1) > transparency(2 * function + 3));
        // Far enough apart not to make a double click.
        QTest::mouseClick(legend, Qt::LeftButton, {}, entry, QApplication::doubleClickInterval() + 50);
        QCOMPARE(shown.detailedModel->emphasizedDataset(), -1);
        QCOMPARE(transparency(2 * function + 1), transparency(1));

        // Hide two functions by double clicks; Show All brings both back.
        for (int hidden = 0; hidden < 2; ++hidden) {
            shown.chart->grab();
            const QString name = shown.detailedModel->headerData(2 * function, Qt::Horizontal).toString();
            const QPoint point = control->entryPosition(offset + function);
            QTest::mouseDClick(legend, Qt::LeftButton, {}, point);
            QVERIFY(!headers(shown.detailedModel).contains(name));
            QVERIFY(showAll->isEnabled());
        }
        showAll->trigger();
        QCOMPARE(headers(shown.detailedModel), before);
        QVERIFY(!showAll->isEnabled());
        QCOMPARE(legend->datasetCount(), uint(before.size() + 1));
    }

    void compareStartWithEnd_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<int>("fromRow");
        QTest::addColumn<int>("toRow");
        QTest::addColumn<bool>("drag");
        QTest::addColumn<int>("detailedInView");
        QTest::newRow("three detailed, dragged") << QStringLiteral("simple.massif") << 8 << 35 << true << 3;
        QTest::newRow("range ends on detailed ones") << QStringLiteral("simple.massif") << 11 << 21 << false << 2;
        QTest::newRow("one detailed") << QStringLiteral("simple.massif") << 13 << 28 << false << 1;
        QTest::newRow("no detailed") << QStringLiteral("simple.massif") << 22 << 29 << false << 0;
        QTest::newRow("many functions") << QStringLiteral("many.massif") << 5 << 25 << false << 3;
        QTest::newRow("every snapshot detailed") << QStringLiteral("sites.massif") << 4 << 14 << false << 11;
    }

    void compareStartWithEnd()
    {
        QFETCH(QString, fixture);
        QFETCH(int, fromRow);
        QFETCH(int, toRow);
        QFETCH(bool, drag);
        QFETCH(int, detailedInView);
        auto data = parseFixture(fixture);
        QVERIFY(data);
        Shown shown(data.get());
        QAction *compare = shown.tab->actionCollection()->action(QStringLiteral("compare_start_with_end"));
        QVERIFY(compare);
        QVERIFY(!compare->isEnabled());
        QSignalSpy requested(shown.tab.get(), &ChartTab::compareSnapshotsRequested);

        const double from = data->snapshots().at(fromRow)->time();
        const double to = data->snapshots().at(toRow)->time();
        if (drag) {
            const QRectF wholeRun = shown.plane->visibleDataRange();
            const double y = wholeRun.top() + wholeRun.height() / 3;
            shown.drag(Qt::LeftButton, shown.pixel(from, y), shown.pixel(to, y));
        } else {
            shown.zoom->zoomTo(from, to);
        }
        QVERIFY(shown.zoom->isZoomed());

        // The detailed snapshots in view, as the file's text has them.
        const auto [shownFrom, shownTo] = shown.zoom->visibleRange();
        QList<int> inView;
        for (const SnapshotLine &line : snapshotsFromFile(fixture)) {
            const double time = line.time.toDouble();
            if (line.detailed && time >= shownFrom && time <= shownTo) {
                inView << line.number;
            }
        }
        QCOMPARE(inView.size(), detailedInView);

        QCOMPARE(compare->isEnabled(), inView.size() >= 2);
        compare->trigger();
        if (inView.size() < 2) {
            QCOMPARE(requested.count(), 0);
        } else {
            QCOMPARE(requested.count(), 1);
            QCOMPARE(requested.at(0).at(0).toLongLong(), qint64(inView.first()));
            QCOMPARE(requested.at(0).at(1).toLongLong(), qint64(inView.last()));
        }

        shown.tab->actionCollection()->action(QStringLiteral("view_zoom_reset"))->trigger();
        QVERIFY(!compare->isEnabled());
    }
};

QTEST_MAIN(ChartInteractionTest)

#include "chartinteractiontest.moc"
