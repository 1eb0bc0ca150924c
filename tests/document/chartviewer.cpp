/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

// Shows the memory chart of one massif file in a window, for looking at it by
// hand: chartviewer FILE [WIDTH HEIGHT [IMAGE|-] [peak]]; with IMAGE the chart
// is saved there, as the Save As action does, instead of shown; "peak"
// selects the peak snapshot first.

#include "charttab.h"
#include "filedata.h"
#include "parser.h"

#include <KLocalizedString>
#include <KXMLGUIFactory>
#include <KXmlGuiWindow>

#include <QApplication>
#include <QFile>
#include <QTextStream>

#include <memory>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // The XML GUI files are compiled in under this component's name.
    QApplication::setApplicationName(QStringLiteral("quillmap"));
    KLocalizedString::setApplicationDomain(QByteArrayLiteral("quillmap"));
    const QStringList args = QApplication::arguments();
    if (args.size() < 2) {
        QTextStream(stderr) << "usage: chartviewer FILE [WIDTH HEIGHT [IMAGE|-] [peak]]\n";
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
    window.resize(args.size() > 3 ? args.at(2).toInt() : 1280, args.size() > 3 ? args.at(3).toInt() : 800);
    if (args.size() > 5 && args.at(5) == QLatin1String("peak")) {
        tab->selectModelItem({nullptr, data->peak()});
    }
    if (args.size() > 4 && args.at(4) != QLatin1String("-")) {
        return tab->saveImage(args.at(4), QSize(args.at(2).toInt(), args.at(3).toInt())) ? 0 : 1;
    }
    window.show();

    return app.exec();
}
