/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

// Shows the call graph tab of one massif file in a window of its own.
//
//   callgraphview FILE [NODE-PATH]
//
// Without NODE-PATH the peak snapshot is shown; with it, the subtree below a
// node of the peak's heap tree, given as child indexes separated by dots
// ("0.1" is the second child of the root's first child).

#include "callgraphtab.h"
#include "filedata.h"
#include "graphviewerplugin.h"
#include "parser.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <KLocalizedString>
#include <KParts/ReadOnlyPart>
#include <KPluginFactory>
#include <KPluginMetaData>
#include <KXMLGUIClient>

#include <QApplication>
#include <QFile>
#include <QTextStream>
#include <QVBoxLayout>

#include <memory>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillmap"));
    KLocalizedString::setApplicationDomain("quillmap");
    Massif::addGraphViewerPluginPaths();
    QTextStream err(stderr);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 2) {
        err << "usage: callgraphview FILE [NODE-PATH]\n";
        return 2;
    }

    QFile file(arguments.at(1));
    if (!file.open(QIODevice::ReadOnly)) {
        err << "cannot open " << arguments.at(1) << '\n';
        return 1;
    }
    Massif::Parser parser;
    std::unique_ptr<Massif::FileData> data(parser.parse(&file));
    if (!data || !data->peak()) {
        err << "not a massif file with snapshots: " << arguments.at(1) << '\n';
        return 1;
    }

    const auto factory = KPluginFactory::loadFactory(KPluginMetaData(QStringLiteral("kf6/parts/kgraphviewerpart")));
    if (!factory.plugin) {
        err << "no graph viewer part: " << factory.errorText << '\n';
        return 1;
    }
    QWidget window;
    window.setWindowTitle(QStringLiteral("Callgraph - %1").arg(arguments.at(1)));
    auto *part = factory.plugin->create<KParts::ReadOnlyPart>(&window, &window);
    KXMLGUIClient guiParent;
    auto *tab = new CallGraphTab(data.get(), part, &guiParent, &window);
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tab);

    if (arguments.size() > 2) {
        const Massif::TreeLeafItem *node = data->peak()->heapTree();
        const QStringList path = arguments.at(2).split(QLatin1Char('.'));
        for (const QString &step : path) {
            const int index = step.toInt();
            if (!node || index < 0 || index >= node->children().size()) {
                err << "no node at " << arguments.at(2) << '\n';
                return 1;
            }
            node = node->children().at(index);
        }
        tab->selectModelItem(Massif::ModelItem(node, nullptr));
    }

    window.resize(1280, 800);
    window.show();
    const int result = app.exec();
    delete tab;
    return result;
}
