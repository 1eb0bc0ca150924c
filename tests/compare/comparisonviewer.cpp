/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

// Shows a comparison in a window, for looking at it by hand; not a test.
//
//   comparisonviewer BASELINE CURRENT [TAB]

#include "comparisonwidget.h"

#include <KLocalizedString>

#include <QApplication>
#include <QDir>
#include <QTabWidget>
#include <QTreeView>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    KLocalizedString::setApplicationDomain("quillmap");
    const QStringList arguments = app.arguments();
    if (arguments.size() < 3) {
        qWarning("usage: comparisonviewer BASELINE CURRENT [TAB]");
        return 1;
    }
    const QUrl baseline = QUrl::fromUserInput(arguments.at(1), QDir::currentPath(), QUrl::AssumeLocalFile);
    const QUrl current = QUrl::fromUserInput(arguments.at(2), QDir::currentPath(), QUrl::AssumeLocalFile);
    ComparisonWidget widget({baseline, -1}, {current, -1}, {}, nullptr);
    widget.setWindowTitle(widget.title());
    widget.resize(1000, 640);
    const int tab = arguments.size() > 3 ? arguments.at(3).toInt() : 0;
    QObject::connect(&widget, &ComparisonWidget::loadingFinished, &widget, [&widget, tab] {
        if (auto *tabs = widget.findChild<QTabWidget *>()) {
            tabs->setCurrentIndex(tab);
        }
        if (auto *tree = widget.findChild<QTreeView *>(QStringLiteral("diffTree"))) {
            tree->expandToDepth(1);
        }
    });
    widget.show();
    return app.exec();
}
