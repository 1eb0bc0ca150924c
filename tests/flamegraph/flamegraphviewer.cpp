/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

// Shows the flame graph tab of one massif file in a window, for looking at
// it by hand: flamegraphviewer FILE [WIDTH HEIGHT [SNAPSHOT [inverted]]].

#include "filedata.h"
#include "flamegraphtab.h"
#include "parser.h"
#include "snapshotitem.h"

#include <KActionCollection>
#include <KLocalizedString>
#include <KXMLGUIFactory>
#include <KXmlGuiWindow>

#include <QAction>
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
        QTextStream(stderr) << "usage: flamegraphviewer FILE [WIDTH HEIGHT [SNAPSHOT [inverted]]]\n";
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
    auto *tab = new FlameGraphTab(data.get(), &guiParent, &window);
    window.setCentralWidget(tab);
    window.guiFactory()->addClient(tab);
    window.resize(args.size() > 3 ? args.at(2).toInt() : 1280, args.size() > 3 ? args.at(3).toInt() : 800);
    if (args.size() > 4) {
        const int number = args.at(4).toInt();
        const auto snapshots = data->snapshots();
        if (number >= 0 && number < snapshots.size()) {
            tab->selectModelItem({nullptr, snapshots.at(number)});
        }
    }
    if (args.size() > 5 && args.at(5) == QLatin1String("inverted")) {
        tab->actionCollection()->action(QStringLiteral("flamegraph_inverted"))->setChecked(true);
    }
    window.show();
    return app.exec();
}
