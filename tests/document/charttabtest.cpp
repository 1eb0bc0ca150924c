/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "charttab.h"
#include "bandplotter.h"
#include "detailedcostmodel.h"
#include "filedata.h"
#include "parser.h"
#include "settings.h"
#include "snapshotitem.h"
#include "totalcostmodel.h"
#include "treeleafitem.h"

#include <KChartCartesianAxis>
#include <KChartCartesianCoordinatePlane>
#include <KChartChart>
#include <KChartDataValueAttributes>
#include <KChartGlobal>
#include <KChartLegend>
#include <KChartLineAttributes>
#include <KChartPlotter>

#include <KActionCollection>
#include <KConfig>
#include <KFormat>
#include <KLocalizedString>
#include <KSharedConfig>
#include <KStandardAction>
#include <KXMLGUIFactory>
#include <KXmlGuiWindow>

#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QToolBar>
#include <QWidgetAction>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

using Massif::Settings;

namespace {

std::unique_ptr<Massif::FileData> parseDevice(QIODevice *device)
{
    Massif::Parser parser;
    return std::unique_ptr<Massif::FileData>(parser.parse(device));
}

std::unique_ptr<Massif::FileData> parseFixture(const QString &name)
{
    QFile file(QStringLiteral(QUILLMAP_FIXTURES_DIR "/") + name);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return parseDevice(&file);
}

/// A fixture whose header line "cmd:" is replaced.
std::unique_ptr<Massif::FileData> parseWithCommand(const QString &name, const QByteArray &command)
{
    QFile file(QStringLiteral(QUILLMAP_FIXTURES_DIR "/") + name);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QByteArray text = file.readAll();
    const qsizetype start = text.indexOf("\ncmd: ") + 6;
    text.replace(start, text.indexOf('\n', start) - start, command);
    QBuffer buffer(&text);
    buffer.open(QIODevice::ReadOnly);
    return parseDevice(&buffer);
}

struct PeakLine
{
    int number = -1;
    quint64 cost = 0;
};

/// The peak snapshot as read straight from the file text.
PeakLine peakFromFile(const QString &name)
{
    QFile file(QStringLiteral(QUILLMAP_FIXTURES_DIR "/") + name);
    file.open(QIODevice::ReadOnly);
    PeakLine current;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith("snapshot=")) {
            current = {line.mid(9).toInt(), 0};
        } else if (line.startsWith("mem_heap_B=") || line.startsWith("mem_stacks_B=")) {
            current.cost += line.mid(line.indexOf('=') + 1).toULongLong();
        } else if (line == "heap_tree=peak") {
            return current;
        }
    }
    return {};
}

int snapshotCountInFile(const QString &name)
{
    QFile file(QStringLiteral(QUILLMAP_FIXTURES_DIR "/") + name);
    file.open(QIODevice::ReadOnly);
    return file.readAll().count("\nsnapshot=");
}

QString renderedText(const QString &html)
{
    QTextDocument document;
    document.setHtml(html);
    return document.toPlainText().replace(QChar::LineSeparator, QLatin1Char('\n')).replace(QChar::Nbsp, QLatin1Char(' '));
}

/// Runs @p handler on the next modal dialog or popup, from inside its event loop.
void handleNextModal(const std::function<void(QWidget *)> &handler)
{
    auto *timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, handler] {
        QWidget *widget = QApplication::activeModalWidget();
        if (!widget) {
            widget = QApplication::activePopupWidget();
        }
        if (widget && widget->isVisible()) {
            timer->stop();
            timer->deleteLater();
            handler(widget);
        }
    });
    timer->start(10);
}

quint8 transparency(const QAbstractItemModel *model, int row, int column)
{
    return model->index(row, column).data(KChart::LineAttributesRole).value<KChart::LineAttributes>().transparency();
}

/// Reads the tab's parts the way a user meets them: through the chart widget.
struct ChartParts
{
    explicit ChartParts(ChartTab *tab)
        : chart(tab->findChild<KChart::Chart *>())
        , plane(static_cast<KChart::CartesianCoordinatePlane *>(chart->coordinatePlane()))
        , total(static_cast<KChart::Plotter *>(plane->diagrams().at(0)))
        , detailed(static_cast<KChart::Plotter *>(plane->diagrams().at(1)))
        , totalModel(static_cast<Massif::TotalCostModel *>(total->model()))
        , detailedModel(static_cast<Massif::DetailedCostModel *>(detailed->model()))
        , legend(chart->legend())
        , header(tab->findChild<QLabel *>(QString(), Qt::FindDirectChildrenOnly))
        , stackNumBox(static_cast<QWidgetAction *>(tab->actionCollection()->action(QStringLiteral("stackNum")))->defaultWidget()->findChild<QSpinBox *>())
    {
    }

    KChart::Chart *chart;
    KChart::CartesianCoordinatePlane *plane;
    KChart::Plotter *total;
    KChart::Plotter *detailed;
    Massif::TotalCostModel *totalModel;
    Massif::DetailedCostModel *detailedModel;
    KChart::Legend *legend;
    QLabel *header;
    QSpinBox *stackNumBox;

    /// A chart pixel where @p wanted reports @p expected and @p other reports nothing,
    /// searched around the plane position of (x, y).
    QPoint pixelFor(const KChart::AbstractDiagram *wanted, const QModelIndex &expected, const KChart::AbstractDiagram *other, double x, double y) const
    {
        chart->grab(); // fills the diagrams' hit areas
        const QPoint centre = plane->translate(QPointF(x, y)).toPoint();
        for (int radius = 0; radius < 40; ++radius) {
            for (int dy = -radius; dy <= radius; ++dy) {
                for (int dx = -radius; dx <= radius; ++dx) {
                    const QPoint point = centre + QPoint(dx, dy);
                    if (wanted->indexAt(point) == expected && !(other && other->indexAt(point).isValid())) {
                        return point;
                    }
                }
            }
        }
        return {-1, -1};
    }

    QStringList legendTexts() const
    {
        QStringList texts;
        for (uint i = 0; i < legend->datasetCount(); ++i) {
            texts << legend->text(i);
        }
        texts.sort();
        return texts;
    }

    QList<std::pair<int, int>> labelledDetailedCells() const
    {
        QList<std::pair<int, int>> cells;
        for (int row = 0; row < detailedModel->rowCount(); ++row) {
            for (int column = 0; column < detailedModel->columnCount(); ++column) {
                if (detailed->dataValueAttributes(detailedModel->index(row, column)).isVisible()) {
                    cells.append({row, column});
                }
            }
        }
        return cells;
    }

    QList<std::pair<int, int>> markerCells() const
    {
        QList<std::pair<int, int>> cells;
        const auto markers = detailedModel->peakMarkers();
        for (auto it = markers.cbegin(); it != markers.cend(); ++it) {
            cells.append({it.key().row(), it.key().column()});
        }
        std::sort(cells.begin(), cells.end());
        return cells;
    }
};

/// A document tab as the document widget holds it: with a parent GUI client, shown.
struct ShownTab
{
    explicit ShownTab(Massif::FileData *data) : tab(new ChartTab(data, &guiParent, nullptr)), parts(tab.get())
    {
        tab->resize(780, 560);
        tab->show();
        if (!QTest::qWaitForWindowExposed(tab.get())) {
            qWarning() << "the tab was not exposed";
        }
    }

    KXMLGUIClient guiParent;
    std::unique_ptr<ChartTab> tab;
    ChartParts parts;
};

} // namespace

class ChartTabTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        KLocalizedString::setApplicationDomain(QByteArrayLiteral("quillmap"));
        // The XML GUI files are compiled in under the program's component name.
        QCoreApplication::setApplicationName(QStringLiteral("quillmap"));
        KConfig::setMainConfigName(QStringLiteral("charttabtestrc"));
        qRegisterMetaType<QMenu *>();
    }

    void init()
    {
        KSharedConfig::openConfig()->deleteGroup(QStringLiteral("Settings"));
        KSharedConfig::openConfig()->sync();
        Settings::self()->read();
    }

    void datasetsAndLegend_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<int>("datasets");
        QTest::addColumn<QString>("timeUnit");
        QTest::newRow("simple") << QStringLiteral("simple.massif") << 3 << QStringLiteral("i");
        QTest::newRow("many functions") << QStringLiteral("many.massif") << 10 << QStringLiteral("i");
        QTest::newRow("milliseconds") << QStringLiteral("time-ms.massif") << 3 << QStringLiteral("ms");
        QTest::newRow("stacks") << QStringLiteral("stacks.massif") << -1 << QStringLiteral("i");
    }

    void datasetsAndLegend()
    {
        QFETCH(QString, fixture);
        QFETCH(int, datasets);
        QFETCH(QString, timeUnit);
        auto data = parseFixture(fixture);
        QVERIFY(data);
        ShownTab shown(data.get());
        const ChartParts &parts = shown.parts;

        QCOMPARE(parts.totalModel->rowCount(), snapshotCountInFile(fixture));
        QCOMPARE(parts.detailed->type(), KChart::Plotter::Stacked);
        if (datasets >= 0) {
            QCOMPARE(parts.detailedModel->columnCount(), 2 * datasets);
        }
        QCOMPARE(parts.stackNumBox->value(), 10);
        QCOMPARE(parts.stackNumBox->minimum(), 0);
        QCOMPARE(parts.stackNumBox->maximum(), 50);

        QStringList expected {parts.totalModel->headerData(0, Qt::Horizontal).toString()};
        for (int column = 0; column < parts.detailedModel->columnCount(); column += 2) {
            expected << parts.detailedModel->headerData(column, Qt::Horizontal).toString();
        }
        expected.sort();
        // KChart paints every legend that was not hidden on purpose (re-adding a
        // legend to its layout hides the widget without that mark).
        QVERIFY(!(parts.legend->isHidden() && parts.legend->testAttribute(Qt::WA_WState_ExplicitShowHide)));
        QCOMPARE(parts.legendTexts(), expected);

        QStringList axisTitles;
        const auto axes = parts.total->axes();
        for (const KChart::CartesianAxis *axis : axes) {
            axisTitles << axis->titleText();
        }
        QCOMPARE(axisTitles, QStringList({QStringLiteral("time in ") + timeUnit, QStringLiteral("memory heap size")}));

        // The peak of the total curve and of every shown function is labelled.
        const QModelIndex totalPeak = parts.totalModel->peakSnapshotIndex();
        QVERIFY(parts.total->dataValueAttributes(totalPeak).isVisible());
        QCOMPARE(parts.total->dataValueAttributes(totalPeak).dataLabel(), KFormat().formatByteSize(double(peakFromFile(fixture).cost), 1));
        QCOMPARE(parts.labelledDetailedCells(), parts.markerCells());
        QCOMPARE(parts.markerCells().size(), parts.detailedModel->columnCount() / 2);
    }

    // Entries that would read alike are told apart, as in real profiles where one
    // function allocates from two lines, or two calls of one line.
    void legendEntriesDistinct_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("two lines of render") << QStringLiteral("../../examples/massif.out.example")
                                             << QStringList({QStringLiteral("render (example.c:69)"), QStringLiteral("render (example.c:73)")});
        QTest::newRow("two calls on one line") << QStringLiteral("sites.massif")
                                               << QStringList({QStringLiteral("0x1091C3: either"), QStringLiteral("0x1091CF: either")});
    }

    void legendEntriesDistinct()
    {
        QFETCH(QString, fixture);
        QFETCH(QStringList, expected);
        auto data = parseFixture(fixture);
        QVERIFY(data);
        ShownTab shown(data.get());
        const QStringList texts = shown.parts.legendTexts();
        QCOMPARE(QSet<QString>(texts.cbegin(), texts.cend()).size(), texts.size());
        for (const QString &text : std::as_const(expected)) {
            QVERIFY2(texts.contains(text), qPrintable(texts.join(QLatin1String(" | "))));
        }
    }

    void axisLabels()
    {
        auto data = parseFixture(QStringLiteral("simple.massif"));
        ShownTab shown(data.get());
        const auto axes = shown.parts.total->axes();
        QCOMPARE(axes.size(), 2);
        const KChart::CartesianAxis *time = axes.at(0);
        const KChart::CartesianAxis *size = axes.at(1);
        QCOMPARE(time->position(), KChart::CartesianAxis::Bottom);
        QCOMPARE(size->position(), KChart::CartesianAxis::Right);

        QCOMPARE(time->customizedLabel(QStringLiteral("250")), QStringLiteral("250"));
        QCOMPARE(time->customizedLabel(QStringLiteral("1234567")), QStringLiteral("1.23457e+06"));
        QCOMPARE(time->customizedLabel(QStringLiteral("0.5")), QStringLiteral("0.5"));
        // The peak of 139 KiB: ticks every 20 KiB, written in KiB as the peak label is.
        QCOMPARE(size->customizedLabel(QStringLiteral("20480")), QStringLiteral("20 KiB"));
        QCOMPARE(size->customizedLabel(QStringLiteral("143360")), QStringLiteral("140 KiB"));
        QCOMPARE(size->customizedLabel(QStringLiteral("0")), QStringLiteral("0 KiB"));
        QCOMPARE(size->customizedLabel(QString()), QString());
    }

    // The size axis speaks the peak labels' units (powers of 1024), with ticks
    // at round numbers of them, so that a labelled peak sits where the axis says.
    void sizeAxisInLabelUnits_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<QString>("unit");
        QTest::newRow("KiB") << QStringLiteral("simple.massif") << QStringLiteral("KiB");
        QTest::newRow("MiB, pages as heap") << QStringLiteral("pages.massif") << QStringLiteral("MiB");
        QTest::newRow("few KiB") << QStringLiteral("many.massif") << QString();
        QTest::newRow("stacks") << QStringLiteral("stacks.massif") << QString();
        QTest::newRow("bytes as time") << QStringLiteral("time-b.massif") << QStringLiteral("KiB");
    }

    void sizeAxisInLabelUnits()
    {
        QFETCH(QString, fixture);
        QFETCH(QString, unit);
        auto data = parseFixture(fixture);
        QVERIFY(data);
        ShownTab shown(data.get());
        const ChartParts &parts = shown.parts;
        parts.chart->grab(); // lays the plane out

        const QString peakLabel = parts.total->dataValueAttributes(parts.totalModel->peakSnapshotIndex()).dataLabel();
        const QString peakUnit = peakLabel.section(QLatin1Char(' '), -1);
        if (!unit.isEmpty()) {
            QCOMPARE(peakUnit, unit);
        }
        const QStringList units {QStringLiteral("B"), QStringLiteral("KiB"), QStringLiteral("MiB"), QStringLiteral("GiB")};
        QVERIFY2(units.contains(peakUnit), qPrintable(peakLabel));
        const double unitBytes = std::pow(1024.0, units.indexOf(peakUnit));

        const KChart::DataDimension sizes = parts.plane->gridDimensionsList().at(1);
        const double multiple = sizes.stepWidth / unitBytes;
        const QList<double> round {0.1, 0.2, 0.5, 1, 2, 5, 10, 20, 50, 100, 200, 500};
        QVERIFY2(std::any_of(round.cbegin(),
                             round.cend(),
                             [multiple](double r) {
                                 return qFuzzyCompare(r, multiple);
                             }),
                 qPrintable(QString::number(multiple)));
        const double intervals = sizes.end / sizes.stepWidth;
        QVERIFY2(intervals >= 3 && intervals <= 9, qPrintable(QString::number(intervals)));

        const KChart::CartesianAxis *size = parts.total->axes().at(1);
        const QLocale locale = QLocale::system();
        for (int tick = 0; tick * sizes.stepWidth <= sizes.end; ++tick) {
            const double value = tick * sizes.stepWidth;
            const QString label = size->customizedLabel(QString::number(value, 'f', 0));
            QCOMPARE(label.section(QLatin1Char(' '), -1), peakUnit);
            bool ok = false;
            const double shown = locale.toDouble(label.section(QLatin1Char(' '), 0, -2), &ok);
            QVERIFY2(ok, qPrintable(label));
            QVERIFY2(qAbs(shown - value / unitBytes) < 1e-6, qPrintable(label));
        }
    }

    // The total's peak label stands right above the peak, not halfway down the
    // slope that leads to it.
    void totalPeakLabelAbovePeak_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::newRow("steep peak") << QStringLiteral("../../examples/massif.out.example");
        QTest::newRow("early peak") << QStringLiteral("early-peak.massif");
        QTest::newRow("late peak") << QStringLiteral("simple.massif");
    }

    void totalPeakLabelAbovePeak()
    {
        QFETCH(QString, fixture);
        auto data = parseFixture(fixture);
        QVERIFY(data);
        ShownTab shown(data.get());
        const ChartParts &parts = shown.parts;
        const QImage image = parts.chart->grab().toImage();
        const QPoint peak = parts.plane->translate(QPointF(data->peak()->time(), double(data->peak()->cost()))).toPoint();
        // The red frame of the label, in the band above the peak where no curve runs.
        int frame = 0;
        for (int y = qMax(0, peak.y() - 50); y < peak.y() - 8; ++y) {
            for (int x = qMax(0, peak.x() - 90); x < qMin(image.width(), peak.x() + 90); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                if (pixel.red() > 200 && pixel.green() < 40 && pixel.blue() < 40) {
                    ++frame;
                }
            }
        }
        QVERIFY2(frame > 40, qPrintable(QString::number(frame)));
    }

    // Peak labels that would cover one another are left out, and every label
    // drawn shows its dataset's frame where the legend placement expects it.
    void peakLabelsApartAndWhereReported_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::newRow("labels at one snapshot") << QStringLiteral("../../examples/massif.out.example");
        QTest::newRow("many functions") << QStringLiteral("many.massif");
        QTest::newRow("sites") << QStringLiteral("sites.massif");
        QTest::newRow("every snapshot detailed") << QStringLiteral("simple-detailed.massif");
    }

    void peakLabelsApartAndWhereReported()
    {
        QFETCH(QString, fixture);
        auto data = parseFixture(fixture);
        QVERIFY(data);
        ShownTab shown(data.get());
        const ChartParts &parts = shown.parts;
        const QImage image = parts.chart->grab().toImage();
        const auto *total = static_cast<const BandPlotter *>(parts.total);
        const auto *detailed = static_cast<const BandPlotter *>(parts.detailed);
        const QList<QRectF> totalLabels = total->labelAreas();
        const QList<QRectF> detailedLabels = detailed->labelAreas();
        QCOMPARE(totalLabels.size(), 1);
        QVERIFY(!detailedLabels.isEmpty());
        QVERIFY(detailedLabels.size() <= parts.detailedModel->peakMarkers().size());

        const QList<QRectF> all = totalLabels + detailedLabels;
        for (qsizetype i = 0; i < detailedLabels.size(); ++i) {
            for (qsizetype j = i + 1; j < detailedLabels.size(); ++j) {
                QVERIFY2(!detailedLabels.at(i).intersects(detailedLabels.at(j)), qPrintable(QStringLiteral("labels %1 and %2").arg(i).arg(j)));
            }
        }
        // The middle of a label's top frame line, unless another label lies over it.
        int framesSeen = 0;
        for (const QRectF &label : all) {
            const QPoint top(int(label.center().x()), int(label.top()) + 1);
            const bool covered = std::any_of(all.cbegin(), all.cend(), [&](const QRectF &other) {
                return &other != &label && other.adjusted(-1, -1, 1, 1).contains(top);
            });
            if (covered || !image.rect().contains(top)) {
                continue;
            }
            const QColor pixel = image.pixelColor(top);
            QVERIFY2(pixel.saturation() > 150, qPrintable(pixel.name()));
            ++framesSeen;
        }
        QVERIFY(framesSeen >= 2);
    }

    void headerNamesProgramAndPeak()
    {
        auto data = parseFixture(QStringLiteral("simple.massif"));
        ShownTab shown(data.get());
        const PeakLine peak = peakFromFile(QStringLiteral("simple.massif"));
        QVERIFY(peak.number > 0);
        QCOMPARE(
            renderedText(shown.parts.header->text()),
            QStringLiteral("Memory consumption of ./simple\nPeak of %1 at snapshot #%2").arg(KFormat().formatByteSize(double(peak.cost), 1)).arg(peak.number));
        QCOMPARE(renderedText(shown.parts.header->toolTip()), QStringLiteral("Command: ./simple\nValgrind Options: --massif-out-file=simple.massif"));
    }

    // A command may hold characters that mean something in markup; the header
    // shows it as it was run.
    void headerShowsCommandVerbatim_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QString>("program");
        QTest::newRow("redirection") << QByteArrayLiteral("./prog<in.txt >out.txt") << QStringLiteral("./prog<in.txt");
        QTest::newRow("tags and entities") << QByteArrayLiteral("./a&amp;b<b>bold</b> x&y") << QStringLiteral("./a&amp;b<b>bold</b>");
        QTest::newRow("only blanks") << QByteArrayLiteral("   ") << QString();
    }

    void headerShowsCommandVerbatim()
    {
        QFETCH(QByteArray, command);
        QFETCH(QString, program);
        auto data = parseWithCommand(QStringLiteral("simple.massif"), command);
        QVERIFY(data);
        ShownTab shown(data.get());
        const QString header = renderedText(shown.parts.header->text());
        QCOMPARE(header.section(QLatin1Char('\n'), 0, 0).trimmed(), QString(QStringLiteral("Memory consumption of ") + program).trimmed());
        QVERIFY(header.section(QLatin1Char('\n'), 1).startsWith(QLatin1String("Peak of ")));
        QCOMPARE(renderedText(shown.parts.header->toolTip()).section(QLatin1Char('\n'), 0, 0).trimmed(),
                 QString(QStringLiteral("Command: ") + data->command()).trimmed());
    }

    void toggleActions()
    {
        auto data = parseFixture(QStringLiteral("simple.massif"));
        ShownTab shown(data.get());
        const ChartParts &parts = shown.parts;
        QAction *toggleTotal = shown.tab->actionCollection()->action(QStringLiteral("toggle_total"));
        QAction *toggleDetailed = shown.tab->actionCollection()->action(QStringLiteral("toggle_detailed"));
        QVERIFY(toggleTotal->isCheckable() && toggleTotal->isChecked());
        QVERIFY(toggleDetailed->isCheckable() && toggleDetailed->isChecked());

        toggleTotal->trigger();
        QVERIFY(parts.total->isHidden());
        QVERIFY(!parts.detailed->isHidden());
        toggleDetailed->trigger();
        QVERIFY(parts.detailed->isHidden());

        QVERIFY(QMetaObject::invokeMethod(shown.tab.get(), "showTotalGraph", Q_ARG(bool, true)));
        QVERIFY(!parts.total->isHidden());
        QVERIFY(toggleTotal->isChecked());
        QVERIFY(QMetaObject::invokeMethod(shown.tab.get(), "showDetailedGraph", Q_ARG(bool, true)));
        QVERIFY(!parts.detailed->isHidden());
        QVERIFY(toggleDetailed->isChecked());
    }

    void stackCountToZeroAndBack()
    {
        auto data = parseFixture(QStringLiteral("many.massif"));
        ShownTab shown(data.get());
        const ChartParts &parts = shown.parts;
        QCOMPARE(parts.detailedModel->columnCount(), 20);

        parts.stackNumBox->setValue(0);
        QCOMPARE(parts.detailedModel->columnCount(), 0);
        QCOMPARE(parts.detailedModel->datasetLimit(), 0);
        QCOMPARE(parts.legend->datasetCount(), 1u);
        shown.tab->grab(); // paints without datasets

        parts.stackNumBox->setValue(4);
        QCOMPARE(parts.detailedModel->columnCount(), 8);
        QCOMPARE(parts.legend->datasetCount(), 5u);
        QCOMPARE(parts.labelledDetailedCells(), parts.markerCells());

        parts.stackNumBox->setValue(10);
        QCOMPARE(parts.detailedModel->columnCount(), 20);
        QCOMPARE(parts.legend->datasetCount(), 11u);
        QCOMPARE(parts.labelledDetailedCells(), parts.markerCells());
    }

    void clickOnTotalPoint()
    {
        auto data = parseFixture(QStringLiteral("simple.massif"));
        ShownTab shown(data.get());
        const ChartParts &parts = shown.parts;
        const QList<Massif::SnapshotItem *> snapshots = data->snapshots();

        // The segment that rises to the snapshot of row 21 is reported as row 20.
        const int row = 20;
        const QModelIndex clicked = parts.totalModel->index(row, 0);
        const double x = (snapshots[row]->time() + snapshots[row + 1]->time()) / 2;
        const double y = double(std::min(snapshots[row]->cost(), snapshots[row + 1]->cost())) * 0.98;
        const QPoint point = parts.pixelFor(parts.total, clicked, parts.detailed, x, y);
        QVERIFY(point.x() >= 0);

        QSignalSpy selected(shown.tab.get(), &DocumentTabInterface::modelItemSelected);
        // The main window echoes every selection back; the tab ignores the echo.
        connect(shown.tab.get(), &DocumentTabInterface::modelItemSelected, this, [&shown, &snapshots] {
            shown.tab->selectModelItem({nullptr, snapshots[2]});
        });
        QTest::mouseClick(parts.chart, Qt::LeftButton, {}, point);

        QCOMPARE(selected.count(), 1);
        const auto item = selected.first().first().value<Massif::ModelItem>();
        QCOMPARE(item.first, nullptr);
        QCOMPARE(item.second, snapshots[row + 1]);
        QCOMPARE(transparency(parts.totalModel, row + 1, 0), quint8(255));
        QCOMPARE(transparency(parts.totalModel, 2, 0), quint8(50));

        // Outside of its own emission the tab follows selections made elsewhere.
        disconnect(shown.tab.get(), &DocumentTabInterface::modelItemSelected, this, nullptr);
        shown.tab->selectModelItem({nullptr, snapshots[2]});
        QCOMPARE(transparency(parts.totalModel, 2, 0), quint8(255));
        QCOMPARE(transparency(parts.totalModel, row + 1, 0), quint8(50));
    }

    // A click on a function lights up the very segment under the mouse, not
    // the one before it.
    void clickLightsTheSegmentClicked()
    {
        auto data = parseFixture(QStringLiteral("simple.massif"));
        ShownTab shown(data.get());
        const ChartParts &parts = shown.parts;
        const QAbstractItemModel *model = parts.detailedModel;
        const auto value = [model](int row, int column) {
            return model->index(row, column).data().toDouble();
        };
        // The widest segment of the function at the bottom of the stack.
        int widest = -1;
        for (int row = 0; row + 1 < model->rowCount(); ++row) {
            const bool shown = value(row, 1) > 0 && value(row + 1, 1) > 0;
            if (shown && (widest < 0 || value(row + 1, 0) - value(row, 0) > value(widest + 1, 0) - value(widest, 0))) {
                widest = row;
            }
        }
        QVERIFY(widest >= 0);
        const double low = std::min(value(widest, 1), value(widest + 1, 1));
        const QPoint point = parts.pixelFor(parts.detailed, model->index(widest, 0), nullptr, (value(widest, 0) + value(widest + 1, 0)) / 2, low / 2);
        QVERIFY(point.x() >= 0);
        const QColor before = parts.chart->grab().toImage().pixelColor(point);
        QTest::mouseClick(parts.chart, Qt::LeftButton, {}, point);
        const QColor after = parts.chart->grab().toImage().pixelColor(point);
        QVERIFY2(after.saturation() > before.saturation() + 40, qPrintable(before.name() + QLatin1String(" -> ") + after.name()));
    }

    void clickOnDetailedPoint()
    {
        auto data = parseFixture(QStringLiteral("simple.massif"));
        ShownTab shown(data.get());
        const ChartParts &parts = shown.parts;

        QList<const Massif::SnapshotItem *> detailedSnapshots;
        const auto snapshots = data->snapshots();
        for (const Massif::SnapshotItem *snapshot : snapshots) {
            if (snapshot->heapTree()) {
                detailedSnapshots << snapshot;
            }
        }
        // Dataset 0 is at the bottom of the stack; its point at model row 3 is
        // reached by the segment reported as row 2.
        const int row = 2;
        const QModelIndex clicked = parts.detailedModel->index(row, 0);
        const QModelIndex next = parts.detailedModel->index(row + 1, 0);
        const double x = (parts.detailedModel->index(row, 0).data().toDouble() + next.data().toDouble()) / 2;
        const double y = std::min(parts.detailedModel->index(row, 1).data().toDouble(), parts.detailedModel->index(row + 1, 1).data().toDouble()) / 2;
        const QPoint point = parts.pixelFor(parts.detailed, clicked, nullptr, x, y);
        QVERIFY(point.x() >= 0);

        QSignalSpy selected(shown.tab.get(), &DocumentTabInterface::modelItemSelected);
        connect(shown.tab.get(), &DocumentTabInterface::modelItemSelected, this, [&shown] {
            shown.tab->selectModelItem({});
        });
        QTest::mouseClick(parts.chart, Qt::LeftButton, {}, point);

        // The total curve lies under every function, so its click may come first;
        // the function, drawn on top, has the last word.
        QVERIFY(selected.count() >= 1);
        const auto item = selected.last().first().value<Massif::ModelItem>();
        QVERIFY(item.first);
        QCOMPARE(item.second, nullptr);
        QCOMPARE(QString::fromUtf8(item.first->label()).contains(parts.detailedModel->headerData(0, Qt::Horizontal).toString()), true);
        const Massif::TreeLeafItem *root = item.first;
        while (root->parent()) {
            root = root->parent();
        }
        QCOMPARE(root, detailedSnapshots[row]->heapTree());

        QCOMPARE(transparency(parts.detailedModel, row, 0), quint8(255));
        QCOMPARE(transparency(parts.detailedModel, row + 1, 0), quint8(152));
        QCOMPARE(transparency(parts.detailedModel, row, 1), quint8(127));
        QCOMPARE(transparency(parts.totalModel, row + 1, 0), quint8(50));
    }

    // A selected snapshot or function shows as a band even where its segment of
    // the curve is thinner than a pixel, as for a peak that follows the snapshot
    // before it within a few thousand instructions.
    void selectionBandIsVisible_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::newRow("wide peak segment") << QStringLiteral("simple.massif");
        QTest::newRow("peak 0.36 % after the one before") << QStringLiteral("custom-alloc.massif");
        QTest::newRow("peak 0.09 % after the one before") << QStringLiteral("sites.massif");
        QTest::newRow("every snapshot detailed") << QStringLiteral("simple-detailed.massif");
    }

    void selectionBandIsVisible()
    {
        QFETCH(QString, fixture);
        auto data = parseFixture(fixture);
        QVERIFY(data);
        ShownTab shown(data.get());
        const ChartParts &parts = shown.parts;
        const Massif::SnapshotItem *peak = data->peak();
        QVERIFY(peak);
        const QImage unselected = parts.chart->grab().toImage();

        shown.tab->selectModelItem({nullptr, peak});
        QCOMPARE(transparency(parts.totalModel, parts.totalModel->peakSnapshotIndex().row(), 0), quint8(255));
        const int totalColumns = changedColumns(parts, unselected, peak->time(), double(peak->cost()));
        QVERIFY2(totalColumns >= 4, qPrintable(QString::number(totalColumns)));

        // The function at the bottom of the stack, at its own peak.
        const auto markers = parts.detailedModel->peakMarkers();
        const auto marker = std::find_if(markers.keyValueBegin(), markers.keyValueEnd(), [](const auto &entry) {
            return entry.first.column() == 0;
        });
        QVERIFY(marker != markers.keyValueEnd());
        shown.tab->selectModelItem({nullptr, nullptr});
        QCOMPARE(changedColumns(parts, unselected, peak->time(), double(peak->cost())), 0);
        shown.tab->selectModelItem({marker->second, nullptr});
        const int row = marker->first.row();
        const double x = parts.detailedModel->index(row, 0).data().toDouble();
        const int functionColumns = changedColumns(parts, unselected, x, parts.detailedModel->index(row, 1).data().toDouble());
        QVERIFY2(functionColumns >= 4, qPrintable(QString::number(functionColumns)));
    }

    void hideFunctionFromContextMenu()
    {
        auto data = parseFixture(QStringLiteral("many.massif"));
        ShownTab shown(data.get());
        const ChartParts &parts = shown.parts;
        const QString first = parts.detailedModel->headerData(0, Qt::Horizontal).toString();
        parts.stackNumBox->setValue(11);
        const QString eleventh = parts.detailedModel->headerData(20, Qt::Horizontal).toString();
        parts.stackNumBox->setValue(10);
        QVERIFY(!eleventh.isEmpty());

        QSignalSpy requested(shown.tab.get(), &DocumentTabInterface::contextMenuRequested);
        QStringList entries;
        handleNextModal([&entries](QWidget *popup) {
            auto *menu = qobject_cast<QMenu *>(popup);
            for (QAction *action : menu->actions()) {
                entries << action->text();
            }
            menu->actions().constFirst()->trigger();
            menu->close();
        });
        openContextMenuOnDataset(parts, 0);

        QCOMPARE(requested.count(), 1);
        QVERIFY(requested.first().first().value<Massif::ModelItem>().first);
        QCOMPARE(entries,
                 QStringList({QStringLiteral("Hide Function"), QStringLiteral("Hide Other Functions"), QStringLiteral("Show All Functions"), QString()}));

        // The next function moves up into the ten shown ones.
        QCOMPARE(parts.detailedModel->columnCount(), 20);
        QStringList headers;
        for (int column = 0; column < 20; column += 2) {
            headers << parts.detailedModel->headerData(column, Qt::Horizontal).toString();
        }
        QVERIFY(!headers.contains(first));
        QCOMPARE(headers.last(), eleventh);
        // No peak label is left on a point that no longer marks a peak.
        QCOMPARE(parts.labelledDetailedCells(), parts.markerCells());
        QCOMPARE(parts.markerCells().size(), 10);
    }

    void hideOtherFunctionsFromContextMenu()
    {
        auto data = parseFixture(QStringLiteral("many.massif"));
        ShownTab shown(data.get());
        const ChartParts &parts = shown.parts;
        const QString kept = parts.detailedModel->headerData(0, Qt::Horizontal).toString();

        handleNextModal([](QWidget *popup) {
            auto *menu = qobject_cast<QMenu *>(popup);
            menu->actions().at(1)->trigger();
            menu->close();
        });
        openContextMenuOnDataset(parts, 0);

        QCOMPARE(parts.detailedModel->columnCount(), 2);
        QCOMPARE(parts.detailedModel->headerData(0, Qt::Horizontal).toString(), kept);
        QCOMPARE(parts.legend->datasetCount(), 2u);
        QCOMPARE(parts.labelledDetailedCells(), parts.markerCells());
    }

    void noContextMenuOffTheFunctions()
    {
        auto data = parseFixture(QStringLiteral("simple.massif"));
        ShownTab shown(data.get());
        QSignalSpy requested(shown.tab.get(), &DocumentTabInterface::contextMenuRequested);
        shown.parts.chart->grab();
        // The top left corner of the chart is outside of the plane.
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2), shown.parts.chart->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(shown.parts.chart, &event);
        QCOMPARE(requested.count(), 0);
    }

    void fileWithoutDetailedSnapshots()
    {
        QByteArray text =
            QByteArrayLiteral("desc: (none)\ncmd: ./tiny\ntime_unit: i\n"
                              "#-----------\nsnapshot=0\n#-----------\ntime=0\nmem_heap_B=0\nmem_heap_extra_B=0\nmem_stacks_B=0\nheap_tree=empty\n"
                              "#-----------\nsnapshot=1\n#-----------\ntime=100\nmem_heap_B=400\nmem_heap_extra_B=8\nmem_stacks_B=0\nheap_tree=empty\n"
                              "#-----------\nsnapshot=2\n#-----------\ntime=200\nmem_heap_B=100\nmem_heap_extra_B=8\nmem_stacks_B=0\nheap_tree=empty\n");
        QBuffer buffer(&text);
        buffer.open(QIODevice::ReadOnly);
        auto data = parseDevice(&buffer);
        QVERIFY(data);
        ShownTab shown(data.get());
        const ChartParts &parts = shown.parts;
        QCOMPARE(parts.totalModel->rowCount(), 3);
        QCOMPARE(parts.detailedModel->rowCount(), 0);
        QVERIFY(parts.detailedModel->peakMarkers().isEmpty());
        QCOMPARE(parts.legend->datasetCount(), 1u);

        QSignalSpy requested(shown.tab.get(), &DocumentTabInterface::contextMenuRequested);
        const QPoint point = parts.plane->translate(QPointF(100, 200)).toPoint();
        QContextMenuEvent event(QContextMenuEvent::Mouse, point, parts.chart->mapToGlobal(point));
        QApplication::sendEvent(parts.chart, &event);
        QCOMPARE(requested.count(), 0);
    }

    void saveImages_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("savedName");
        QTest::addColumn<QByteArray>("format");
        const QString all = QStringLiteral("Images (*.png *.jpg *.tiff *.svg)");
        QTest::newRow("png") << QStringLiteral("chart.png") << all << QStringLiteral("chart.png") << QByteArrayLiteral("png");
        QTest::newRow("jpeg") << QStringLiteral("chart.jpg") << all << QStringLiteral("chart.jpg") << QByteArrayLiteral("jpeg");
        QTest::newRow("svg") << QStringLiteral("chart.svg") << all << QStringLiteral("chart.svg") << QByteArrayLiteral("svg");
        // A name without a suffix takes the chosen filter's format, PNG for all images.
        QTest::newRow("no suffix, all images") << QStringLiteral("chart") << all << QStringLiteral("chart.png") << QByteArrayLiteral("png");
        QTest::newRow("no suffix, JPEG filter") << QStringLiteral("chart") << QStringLiteral("JPEG Image (*.jpg)") << QStringLiteral("chart.jpg")
                                                << QByteArrayLiteral("jpeg");
        QTest::newRow("no suffix, SVG filter") << QStringLiteral("chart") << QStringLiteral("SVG Image (*.svg)") << QStringLiteral("chart.svg")
                                               << QByteArrayLiteral("svg");
        QTest::newRow("suffix wins over filter") << QStringLiteral("chart.png") << QStringLiteral("SVG Image (*.svg)") << QStringLiteral("chart.png")
                                                 << QByteArrayLiteral("png");
    }

    void saveImages()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, filter);
        QFETCH(QString, savedName);
        QFETCH(QByteArray, format);
        QTemporaryDir dir;
        auto data = parseFixture(QStringLiteral("simple.massif"));
        ShownTab shown(data.get());

        saveThroughDialog(shown.tab.get(), dir.filePath(fileName), {}, filter);

        const QString path = dir.filePath(savedName);
        QVERIFY2(QFile::exists(path), qPrintable(QDir(dir.path()).entryList(QDir::Files).join(QLatin1Char(' '))));
        // The picture is the tab as shown: the header above the chart.
        const QSize size = shown.tab->size();
        QImage image;
        if (format == "svg") {
            QSvgRenderer renderer(path);
            QVERIFY(renderer.isValid());
            QCOMPARE(renderer.viewBox(), QRect(QPoint(0, 0), size));
            image = QImage(size, QImage::Format_ARGB32);
            image.fill(Qt::white);
            QPainter painter(&image);
            renderer.render(&painter);
        } else {
            QImageReader reader(path);
            QCOMPARE(reader.format(), format);
            image = reader.read();
            QCOMPARE(image.size(), size * shown.tab->devicePixelRatio());
        }
        QVERIFY(hasReddishPixels(image));
        QVERIFY(hasHeaderText(image));
    }

    // What a command-line report does: a tab without parents, never shown.
    void saveImageOfHiddenTab_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QByteArray>("format");
        QTest::newRow("png") << QStringLiteral("chart.png") << QSize(900, 500) << QByteArrayLiteral("png");
        QTest::newRow("jpg") << QStringLiteral("chart.jpg") << QSize(640, 480) << QByteArrayLiteral("jpeg");
        QTest::newRow("no suffix") << QStringLiteral("chart") << QSize(700, 400) << QByteArrayLiteral("png");
        QTest::newRow("svg") << QStringLiteral("chart.svg") << QSize(1000, 600) << QByteArrayLiteral("svg");
        if (QImageWriter::supportedImageFormats().contains("tiff")) {
            QTest::newRow("tiff") << QStringLiteral("chart.tiff") << QSize(600, 400) << QByteArrayLiteral("tiff");
        }
    }

    void saveImageOfHiddenTab()
    {
        QFETCH(QString, fileName);
        QFETCH(QSize, size);
        QFETCH(QByteArray, format);
        QTemporaryDir dir;
        const QString path = dir.filePath(fileName);
        auto data = parseFixture(QStringLiteral("simple.massif"));
        ChartTab tab(data.get(), nullptr, nullptr);

        QVERIFY(tab.saveImage(path, size));
        QVERIFY(!tab.isVisible());
        QImage image;
        if (format == "svg") {
            QSvgRenderer renderer(path);
            QVERIFY(renderer.isValid());
            QCOMPARE(renderer.viewBox(), QRect(QPoint(0, 0), size));
            image = QImage(size, QImage::Format_ARGB32);
            image.fill(Qt::white);
            QPainter painter(&image);
            renderer.render(&painter);
        } else {
            QImageReader reader(path);
            QCOMPARE(reader.format(), format);
            image = reader.read();
        }
        QCOMPARE(image.size(), size);
        QVERIFY(hasReddishPixels(image));
        QVERIFY(hasHeaderText(image));
        QVERIFY(!tab.saveImage(QStringLiteral("/nonexistent-quillmap-dir/") + fileName, size));
    }

    void saveFailureShowsError_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("png in missing directory") << QStringLiteral("/nonexistent-quillmap-dir/chart.png");
        QTest::newRow("svg in missing directory") << QStringLiteral("/nonexistent-quillmap-dir/chart.svg");
        QTest::newRow("upper-case SVG is taken as a raster format") << QStringLiteral("%1/chart.SVG");
    }

    void saveFailureShowsError()
    {
        QFETCH(QString, path);
        QTemporaryDir dir;
        if (path.contains(QLatin1String("%1"))) {
            path = path.arg(dir.path());
        }
        auto data = parseFixture(QStringLiteral("simple.massif"));
        ShownTab shown(data.get());

        QString message;
        saveThroughDialog(shown.tab.get(), path, [&message](QWidget *box) {
            const auto labels = box->findChildren<QLabel *>();
            for (const QLabel *label : labels) {
                message += label->text();
            }
            box->close();
        });
        QCOMPARE(message, QStringLiteral("Failed to save the image to %1.").arg(path));
        QVERIFY(!QFile::exists(path));
    }

    void printPreview()
    {
        auto data = parseFixture(QStringLiteral("simple.massif"));
        ShownTab shown(data.get());
        QString title;
        QSize size;
        bool isPreview = false;
        QImage page;
        handleNextModal([&title, &size, &isPreview, &page](QWidget *dialog) {
            title = dialog->windowTitle();
            size = dialog->size();
            isPreview = qobject_cast<QPrintPreviewDialog *>(dialog);
            if (auto *preview = dialog->findChild<QPrintPreviewWidget *>()) {
                preview->fitToWidth();
                page = pageOf(preview->grab().toImage());
            }
            dialog->close();
        });
        shown.tab->actionCollection()->action(QStringLiteral("file_print"))->trigger();
        QVERIFY(isPreview);
        QCOMPARE(title, QStringLiteral("Massif Chart Print Preview"));
        QCOMPARE(size, QSize(800, 600));
        // The printout, like a saved image, starts with the header over the chart.
        QVERIFY2(page.width() > 200, qPrintable(QString::number(page.width())));
        QVERIFY(hasReddishPixels(page));
        // Centred text at the top of what is printed, with nothing at either side.
        int middle = 0;
        int sides = 0;
        for (int y = 0; y < page.width() / 25; ++y) {
            for (int x = 0; x < page.width(); ++x) {
                if (page.pixelColor(x, y).lightness() < 90) {
                    ++(qAbs(x - page.width() / 2) < page.width() / 6 ? middle : sides);
                }
            }
        }
        QVERIFY2(middle > 20 && sides == 0, qPrintable(QStringLiteral("%1 %2").arg(middle).arg(sides)));
    }

    void legendPlacementFromSettings_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("alignment");
        QTest::addColumn<int>("expectedPosition");
        QTest::addColumn<int>("expectedAlignment");
        const int centre = Qt::AlignCenter;
        QTest::newRow("north left") << 0 << 0 << int(KChartEnums::PositionNorth) << int(Qt::AlignLeft);
        QTest::newRow("north top") << 0 << 3 << int(KChartEnums::PositionNorth) << centre;
        QTest::newRow("east left") << 1 << 0 << int(KChartEnums::PositionEast) << centre;
        QTest::newRow("east bottom") << 1 << 4 << int(KChartEnums::PositionEast) << int(Qt::AlignBottom);
        QTest::newRow("south right") << 2 << 2 << int(KChartEnums::PositionSouth) << int(Qt::AlignRight);
        QTest::newRow("west left") << 3 << 0 << int(KChartEnums::PositionWest) << centre;
        QTest::newRow("west top") << 3 << 3 << int(KChartEnums::PositionWest) << int(Qt::AlignTop);
        QTest::newRow("floating top") << 4 << 3 << int(KChartEnums::PositionFloating) << int(Qt::AlignTop);
        QTest::newRow("floating right") << 4 << 2 << int(KChartEnums::PositionFloating) << int(Qt::AlignRight);
        QTest::newRow("floating center") << 4 << 1 << int(KChartEnums::PositionFloating) << centre;
        QTest::newRow("invalid position") << 9 << 0 << int(KChartEnums::PositionFloating) << int(Qt::AlignLeft);
        QTest::newRow("invalid alignment") << 0 << 9 << int(KChartEnums::PositionNorth) << centre;
    }

    void legendPlacementFromSettings()
    {
        QFETCH(int, position);
        QFETCH(int, alignment);
        QFETCH(int, expectedPosition);
        QFETCH(int, expectedAlignment);
        auto data = parseFixture(QStringLiteral("simple.massif"));
        ShownTab shown(data.get());

        Settings::self()->legendPositionItem()->setValue(position);
        Settings::self()->legendAlignmentItem()->setValue(alignment);
        if (position > 4) {
            QTest::ignoreMessage(QtDebugMsg, "invalid legend position");
        }
        if (alignment > 4) {
            QTest::ignoreMessage(QtDebugMsg, "invalid legend alignment");
        }
        shown.tab->settingsChanged();
        QCOMPARE(int(shown.parts.legend->position().value()), expectedPosition);
        QCOMPARE(int(shown.parts.legend->alignment()), expectedAlignment);
    }

    void defaultLegendIsFloatingAndCentred()
    {
        auto data = parseFixture(QStringLiteral("simple.massif"));
        ShownTab shown(data.get());
        QCOMPARE(shown.parts.legend->position(), KChart::Position::Floating);
        QCOMPARE(shown.parts.legend->alignment(), Qt::Alignment(Qt::AlignCenter));
        QCOMPARE(shown.parts.legend->textAttributes().fontSize().value(), 12.0);
        QCOMPARE(shown.parts.legend->textAttributes().font().family(), QStringLiteral("monospace"));
    }

    void fontSizeAndPrecisionFromSettings()
    {
        auto data = parseFixture(QStringLiteral("simple.massif"));
        ShownTab shown(data.get());
        const ChartParts &parts = shown.parts;
        static const QRegularExpression oneDecimal(QStringLiteral("^Peak of \\d+\\.\\d \\S+ at"));
        static const QRegularExpression threeDecimals(QStringLiteral("^Peak of \\d+\\.\\d{3} \\S+ at"));
        QVERIFY(renderedText(parts.header->text()).section(QLatin1Char('\n'), 1).contains(oneDecimal));

        Settings::self()->legendFontSizeItem()->setValue(7);
        Settings::self()->prettyCostPrecisionItem()->setValue(3);
        // The formatting functions read the saved configuration, as after the main window's save.
        QVERIFY(Settings::self()->save());
        shown.tab->settingsChanged();

        QCOMPARE(parts.legend->textAttributes().fontSize().value(), 7.0);
        QVERIFY(renderedText(parts.header->text()).section(QLatin1Char('\n'), 1).contains(threeDecimals));
        const QString peakLabel = parts.total->dataValueAttributes(parts.totalModel->peakSnapshotIndex()).dataLabel();
        QVERIFY2(peakLabel.contains(QRegularExpression(QStringLiteral("^\\d+\\.\\d{3} "))), qPrintable(peakLabel));
        const auto markers = parts.detailedModel->peakMarkers();
        QVERIFY(!markers.isEmpty());
        QVERIFY(parts.detailed->dataValueAttributes(markers.firstKey()).dataLabel().contains(QRegularExpression(QStringLiteral("^\\d+\\.\\d{3} "))));
    }

    // After a change of settings the chart looks exactly as one built with
    // them: no label keeps the old precision until some later redraw.
    void settingsChangeRedrawsEverything_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<int>("precision");
        QTest::addColumn<int>("fontSize");
        QTest::addColumn<bool>("shortenTemplates");
        QTest::newRow("precision 3") << QStringLiteral("simple.massif") << 3 << 12 << false;
        QTest::newRow("precision 0") << QStringLiteral("../../examples/massif.out.example") << 0 << 12 << false;
        QTest::newRow("precision 2, small legend") << QStringLiteral("many.massif") << 2 << 8 << false;
        QTest::newRow("templates shortened") << QStringLiteral("templates.massif") << 1 << 12 << true;
    }

    void settingsChangeRedrawsEverything()
    {
        QFETCH(QString, fixture);
        QFETCH(int, precision);
        QFETCH(int, fontSize);
        QFETCH(bool, shortenTemplates);
        auto data = parseFixture(fixture);
        QVERIFY(data);
        ShownTab changed(data.get());
        changed.parts.chart->grab(); // drawn once with the old settings

        Settings::self()->prettyCostPrecisionItem()->setValue(precision);
        Settings::self()->legendFontSizeItem()->setValue(fontSize);
        Settings::self()->shortenTemplatesItem()->setValue(shortenTemplates);
        QVERIFY(Settings::self()->save());
        changed.tab->settingsChanged();
        const QImage afterChange = changed.parts.chart->grab().toImage();

        ShownTab fresh(data.get());
        QCOMPARE(fresh.parts.chart->size(), changed.parts.chart->size());
        const QImage built = fresh.parts.chart->grab().toImage();
        QVERIFY(afterChange == built);
        QTemporaryDir dir;
        QVERIFY(changed.tab->saveImage(dir.filePath(QStringLiteral("changed.png"))));
        QVERIFY(fresh.tab->saveImage(dir.filePath(QStringLiteral("fresh.png"))));
        QVERIFY(QImage(dir.filePath(QStringLiteral("changed.png"))) == QImage(dir.filePath(QStringLiteral("fresh.png"))));
    }

    // The floating legend goes where it covers no peak label.
    void legendLeavesPeakLabelsFree_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("alignment");
        const QStringList fixtures {QStringLiteral("early-peak.massif"),
                                    QStringLiteral("simple.massif"),
                                    QStringLiteral("sites.massif"),
                                    QStringLiteral("pages.massif"),
                                    QStringLiteral("many.massif"),
                                    QStringLiteral("stacks.massif"),
                                    QStringLiteral("templates.massif"),
                                    QStringLiteral("custom-alloc.massif"),
                                    QStringLiteral("../../examples/massif.out.example")};
        for (const QString &fixture : fixtures) {
            QTest::addRow("%s", qPrintable(fixture.section(QLatin1Char('/'), -1))) << fixture << QSize(780, 560) << 1;
            QTest::addRow("%s, small", qPrintable(fixture.section(QLatin1Char('/'), -1))) << fixture << QSize(560, 420) << 1;
        }
        QTest::newRow("left only") << QStringLiteral("simple.massif") << QSize(780, 560) << 0;
        QTest::newRow("right only") << QStringLiteral("../../examples/massif.out.example") << QSize(780, 560) << 2;
    }

    void legendLeavesPeakLabelsFree()
    {
        QFETCH(QString, fixture);
        QFETCH(QSize, size);
        QFETCH(int, alignment);
        Settings::self()->legendAlignmentItem()->setValue(alignment);
        auto data = parseFixture(fixture);
        QVERIFY(data);
        ShownTab shown(data.get());
        shown.tab->resize(size);
        const ChartParts &parts = shown.parts;
        parts.chart->grab();
        parts.chart->grab(); // the legend takes the place found while drawing

        const QRectF legend = parts.legend->geometry();
        const QRectF plane = parts.plane->geometry();
        QVERIFY2(plane.contains(legend),
                 qPrintable(QStringLiteral("legend %1,%2 %3x%4").arg(legend.x()).arg(legend.y()).arg(legend.width()).arg(legend.height())));
        if (alignment == 0) {
            QVERIFY(legend.center().x() < plane.center().x());
        } else if (alignment == 2) {
            QVERIFY(legend.center().x() > plane.center().x());
        }

        // Each label sits above its point and opens towards the middle of the time axis.
        const double middle = data->snapshots().constLast()->time() / 2;
        const auto labelArea = [&](double time, double cost, double raise) {
            const QPointF point = parts.plane->translate(QPointF(time, cost));
            return QRectF(time > middle ? point.x() - 70 : point.x(), point.y() - 24 - raise, 70, 24);
        };
        QList<QRectF> labels {labelArea(data->peak()->time(), double(data->peak()->cost()), 20)};
        const auto markers = parts.detailedModel->peakMarkers();
        for (auto it = markers.cbegin(); it != markers.cend(); ++it) {
            double stacked = 0;
            for (int column = 1; column <= it.key().column() + 1; column += 2) {
                stacked += parts.detailedModel->index(it.key().row(), column).data().toDouble();
            }
            labels << labelArea(parts.detailedModel->index(it.key().row(), it.key().column()).data().toDouble(), stacked, 0);
        }
        for (const QRectF &label : std::as_const(labels)) {
            QVERIFY2(!label.intersects(legend), qPrintable(QStringLiteral("label at %1,%2").arg(label.x()).arg(label.y())));
            // Nor is any label cut at the chart's edge.
            QVERIFY2(QRectF(parts.chart->rect()).contains(label), qPrintable(QStringLiteral("label at %1,%2").arg(label.x()).arg(label.y())));
        }
    }

    void mergesIntoMainWindowGui()
    {
        auto data = parseFixture(QStringLiteral("simple.massif"));
        KXMLGUIClient guiParent;
        KXmlGuiWindow window;
        // The main window's own File menu entries, as it registers them.
        KStandardAction::open(
            &window, [] {}, window.actionCollection());
        KStandardAction::openRecent(
            &window, [](const QUrl &) {}, window.actionCollection());
        window.actionCollection()->addAction(QStringLiteral("file_reload"))->setText(QStringLiteral("Reload"));
        KStandardAction::close(
            &window, [] {}, window.actionCollection());
        KStandardAction::quit(
            &window, [] {}, window.actionCollection());
        window.createGUI(QStringLiteral("quillmapui.rc"));
        auto *tab = new ChartTab(data.get(), &guiParent, &window);
        window.setCentralWidget(tab);
        window.guiFactory()->addClient(tab);

        auto *toolBar = window.findChild<QToolBar *>(QStringLiteral("chartToolBar"));
        QVERIFY(toolBar);
        QCOMPARE(toolBar->windowTitle(), QStringLiteral("Chart Toolbar"));
        QCOMPARE(actionNames(toolBar->actions()),
                 QStringList({QStringLiteral("toggle_total"),
                              QStringLiteral("toggle_detailed"),
                              QStringLiteral("stackNum"),
                              QStringLiteral("view_zoom_in"),
                              QStringLiteral("view_zoom_out"),
                              QStringLiteral("view_zoom_reset")}));
        QVERIFY(toolBar->widgetForAction(tab->actionCollection()->action(QStringLiteral("stackNum")))->findChild<QSpinBox *>());

        const QStringList fileMenu = actionNames(menuNamed(window, QStringLiteral("file"))->actions());
        QVERIFY(fileMenu.indexOf(QStringLiteral("file_save_as")) >= 0);
        QCOMPARE(fileMenu.indexOf(QStringLiteral("file_print")), fileMenu.indexOf(QStringLiteral("file_save_as")) + 1);
        // Saving and printing come after opening and before closing and quitting.
        QCOMPARE(fileMenu,
                 QStringList({QStringLiteral("file_open"),
                              QStringLiteral("file_open_recent"),
                              QStringLiteral("file_reload"),
                              QStringLiteral("file_save_as"),
                              QStringLiteral("file_print"),
                              QStringLiteral("file_close"),
                              QStringLiteral("file_quit")}));
        const QStringList viewMenu = actionNames(menuNamed(window, QStringLiteral("view"))->actions());
        QVERIFY(viewMenu.contains(QStringLiteral("toggle_total")));
        QVERIFY(viewMenu.contains(QStringLiteral("toggle_detailed")));
        for (const char *name : {"view_zoom_in", "view_zoom_out", "view_zoom_reset", "zoom_keep_full_scale", "show_all_functions"}) {
            QVERIFY2(viewMenu.contains(QLatin1String(name)), name);
        }

        window.guiFactory()->removeClient(tab);
        QVERIFY(!window.findChild<QToolBar *>(QStringLiteral("chartToolBar")) || !window.findChild<QToolBar *>(QStringLiteral("chartToolBar"))->isVisible());
    }

private:
    static void openContextMenuOnDataset(const ChartParts &parts, int dataset)
    {
        const int column = 2 * dataset;
        const QAbstractItemModel *model = parts.detailedModel;
        // The highest point of the dataset, halfway into the segment reaching it.
        int row = 1;
        for (int r = 1; r < model->rowCount(); ++r) {
            if (model->index(r, column + 1).data().toDouble() > model->index(row, column + 1).data().toDouble()) {
                row = r;
            }
        }
        double below = 0;
        for (int d = 0; d < dataset; ++d) {
            below += model->index(row, 2 * d + 1).data().toDouble();
        }
        const double x = (model->index(row - 1, column).data().toDouble() + model->index(row, column).data().toDouble()) / 2;
        const double y = below + std::min(model->index(row - 1, column + 1).data().toDouble(), model->index(row, column + 1).data().toDouble()) / 2;
        const QPoint point = parts.pixelFor(parts.detailed, model->index(row - 1, column), nullptr, x, std::max(y, below + 1));
        QVERIFY(point.x() >= 0);
        QContextMenuEvent event(QContextMenuEvent::Mouse, point, parts.chart->mapToGlobal(point));
        QApplication::sendEvent(parts.chart, &event);
    }

    /// Saves through the Save As action, answering its file dialog with @p path
    /// and, when given, the name filter @p filter.
    static void saveThroughDialog(ChartTab *tab, const QString &path, const std::function<void(QWidget *)> &onError = {}, const QString &filter = {})
    {
        QString title;
        QStringList filters;
        handleNextModal([&title, &filters, path, onError, filter](QWidget *widget) {
            auto *dialog = qobject_cast<QFileDialog *>(widget);
            if (!dialog) {
                widget->close();
                return;
            }
            title = dialog->windowTitle();
            filters = dialog->nameFilters();
            if (onError) {
                handleNextModal(onError);
            }
            if (!filter.isEmpty()) {
                // Chosen as a user would, in the file type box.
                auto *types = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
                const int index = types->findText(filter);
                QVERIFY(index >= 0);
                types->setCurrentIndex(index);
                Q_EMIT types->activated(index);
                Q_EMIT types->textActivated(filter);
            }
            // Typed as a user would; selectFile() waits for the directory to be read.
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(path);
            QMetaObject::invokeMethod(dialog, "accept");
        });
        tab->actionCollection()->action(QStringLiteral("file_save_as"))->trigger();
        QCOMPARE(title, QStringLiteral("Save Current Visualization"));
        QCOMPARE(filters,
                 QStringList({QStringLiteral("Images (*.png *.jpg *.tiff *.svg)"),
                              QStringLiteral("PNG Image (*.png)"),
                              QStringLiteral("JPEG Image (*.jpg)"),
                              QStringLiteral("TIFF Image (*.tiff)"),
                              QStringLiteral("SVG Image (*.svg)")}));
    }

    /// Columns of the chart within 20 pixels of time @p x whose pixels between
    /// @p top (bytes) and the time axis differ from @p before on most of the height.
    static int changedColumns(const ChartParts &parts, const QImage &before, double x, double top)
    {
        const QImage image = parts.chart->grab().toImage();
        const QPointF high = parts.plane->translate(QPointF(x, top));
        const QPointF low = parts.plane->translate(QPointF(x, 0));
        // Clear of the peak's marker and of the axis line.
        const int from = qRound(high.y()) + 8;
        const int to = qRound(low.y()) - 3;
        int columns = 0;
        for (int column = qRound(high.x()) - 20; column <= qRound(high.x()) + 20; ++column) {
            int changed = 0;
            for (int y = from; y <= to; ++y) {
                if (image.pixel(column, y) != before.pixel(column, y)) {
                    ++changed;
                }
            }
            if (to > from && changed * 2 > to - from) {
                ++columns;
            }
        }
        return columns;
    }

    /// The white page in a print preview's picture: the part of the page
    /// inside its margins, where something is printed.
    static QImage pageOf(const QImage &preview)
    {
        QRect page;
        for (int y = 0; y < preview.height(); ++y) {
            for (int x = 0; x < preview.width(); ++x) {
                if (preview.pixelColor(x, y) != QColor(Qt::white)) {
                    continue;
                }
                page = page.isNull() ? QRect(x, y, 1, 1) : page.united(QRect(x, y, 1, 1));
            }
        }
        QRect printed;
        for (int y = page.top(); y <= page.bottom(); ++y) {
            for (int x = page.left(); x <= page.right(); ++x) {
                if (preview.pixelColor(x, y) != QColor(Qt::white)) {
                    printed = printed.isNull() ? QRect(x, y, 1, 1) : printed.united(QRect(x, y, 1, 1));
                }
            }
        }
        return preview.copy(printed);
    }

    /// Dark text in the band above the chart, where the chart itself leaves a margin.
    static bool hasHeaderText(const QImage &image)
    {
        const int band = qMin(image.height(), 14 * qRound(image.devicePixelRatio()));
        int count = 0;
        for (int y = 0; y < band; ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixelColor(x, y).lightness() < 90) {
                    ++count;
                }
            }
        }
        return count > 20;
    }

    static bool hasReddishPixels(const QImage &image)
    {
        int count = 0;
        for (int y = 0; y < image.height(); y += 2) {
            for (int x = 0; x < image.width(); x += 2) {
                const QColor colour = image.pixelColor(x, y);
                if (colour.red() > 150 && colour.green() < 120 && colour.blue() < 120) {
                    ++count;
                }
            }
        }
        return count > 50;
    }

    static QStringList actionNames(const QList<QAction *> &actions)
    {
        QStringList names;
        for (const QAction *action : actions) {
            if (!action->objectName().isEmpty()) {
                names << action->objectName();
            }
        }
        return names;
    }

    static QMenu *menuNamed(const KXmlGuiWindow &window, const QString &name)
    {
        return window.findChild<QMenu *>(name);
    }
};

QTEST_MAIN(ChartTabTest)

#include "charttabtest.moc"
