/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "chartexport.h"

#include "charttab.h"

#include <QImageWriter>
#include <QWidget>

namespace Massif {

bool saveChart(FileData *data, const QString &fileName, const QSize &size)
{
    // No GUI client and no window: the tab is drawn, never shown.
    ChartTab tab(data, nullptr, nullptr);
    // The tab keeps its chart within the screen, here a small virtual one,
    // and the chart draws no larger than that: a file may ask for more.
    const QList<QWidget *> children = tab.findChildren<QWidget *>();
    for (QWidget *child : children) {
        if (child->inherits("KChart::Chart")) {
            child->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        }
    }
    tab.resize(size);
    return tab.saveImage(fileName, size);
}

bool isChartSuffix(const QString &suffix)
{
    const QByteArray format = suffix.toLower().toLatin1();
    return format == "svg" || QImageWriter::supportedImageFormats().contains(format);
}

} // namespace Massif
