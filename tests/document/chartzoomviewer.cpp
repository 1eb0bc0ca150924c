/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

// Shows the memory chart of one massif file zoomed into a stretch of time with
// the values under the mouse, for looking at it by hand:
// chartzoomviewer FILE FROM TO HOVER [WIDTH HEIGHT [LEGEND]]
// FROM, TO and HOVER are shares of the run's time (0 to 1); the range is
// selected by a drag and the mouse put at HOVER, as a user would; LEGEND is
// the legend entry to click, which highlights its function.

#include "chartlegendcontrol.h"
#include "charttab.h"
#include "chartzoom.h"
#include "filedata.h"
#include "parser.h"
#include "snapshotitem.h"

#include <KChartCartesianCoordinatePlane>
#include <KChartChart>
#include <KChartLegend>

#include <KLocalizedString>
#include <KXMLGUIFactory>
#include <KXmlGuiWindow>

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QTextStream>
#include <QTimer>

#include <memory>

namespace {

void sendMouse(QWidget *widget, QEvent::Type type, const QPointF &position, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, position, widget->mapToGlobal(position), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quillmap"));
    KLocalizedString::setApplicationDomain(QByteArrayLiteral("quillmap"));
    const QStringList args = QApplication::arguments();
    if (args.size() < 5) {
        QTextStream(stderr) << "usage: chartzoomviewer FILE FROM TO HOVER [WIDTH HEIGHT]\n";
        return 2;
    }
    QFile file(args.at(1));
    if (!file.open(QIODevice::ReadOnly)) {
        QTextStream(stderr) << "cannot open " << args.at(1) << '\n';
        return 1;
    }
    Massif::Parser parser;
    std::unique_ptr<Massif::FileData> data(parser.parse(&file));
    if (!data) {
        QTextStream(stderr) << "parse error at line " << parser.errorLine() << '\n';
        return 1;
    }

    KXMLGUIClient guiParent;
    KXmlGuiWindow window;
    window.createGUI(QStringLiteral("quillmapui.rc"));
    auto *tab = new ChartTab(data.get(), &guiParent, &window);
    window.setCentralWidget(tab);
    window.guiFactory()->addClient(tab);
    window.resize(args.size() > 6 ? args.at(5).toInt() : 1280, args.size() > 6 ? args.at(6).toInt() : 800);
    window.show();

    const double from = args.at(2).toDouble();
    const double to = args.at(3).toDouble();
    const double hover = args.at(4).toDouble();
    QTimer::singleShot(1000, &window, [&] {
        auto *chart = tab->findChild<KChart::Chart *>();
        auto *zoom = tab->findChild<ChartZoom *>();
        auto *plane = static_cast<KChart::CartesianCoordinatePlane *>(chart->coordinatePlane());
        const auto [first, last] = zoom->fullRange();
        const double y = zoom->plotArea().center().y();
        const auto at = [&](double share) {
            return QPointF(plane->translate(QPointF(first + share * (last - first), 0)).x(), y);
        };
        sendMouse(chart, QEvent::MouseButtonPress, at(from), Qt::LeftButton, Qt::LeftButton);
        sendMouse(chart, QEvent::MouseMove, (at(from) + at(to)) / 2, Qt::NoButton, Qt::LeftButton);
        sendMouse(chart, QEvent::MouseMove, at(to), Qt::NoButton, Qt::LeftButton);
        sendMouse(chart, QEvent::MouseButtonRelease, at(to), Qt::LeftButton, Qt::NoButton);
        chart->repaint();
        const auto [shownFrom, shownTo] = zoom->visibleRange();
        const QPointF point(zoom->pixelAt(first + hover * (last - first)), zoom->plotArea().top() + zoom->plotArea().height() * 0.7);
        sendMouse(chart, QEvent::MouseMove, point, Qt::NoButton, Qt::NoButton);
        if (args.size() > 7) {
            const auto *control = tab->findChild<ChartLegendControl *>();
            const QPoint entry = control->entryPosition(args.at(7).toInt());
            sendMouse(chart->legend(), QEvent::MouseButtonPress, entry, Qt::LeftButton, Qt::LeftButton);
            sendMouse(chart->legend(), QEvent::MouseButtonRelease, entry, Qt::LeftButton, Qt::NoButton);
        }
        const auto *panel = chart->findChild<QLabel *>(QStringLiteral("chartHoverPanel"));
        QTextStream(stdout) << "shown " << shownFrom << " to " << shownTo << "\npanel: " << panel->text() << '\n';
    });
    return app.exec();
}
