/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "chartexport.h"

#include "charttab.h"

#include <QImageWriter>

namespace Massif {

bool saveChart(FileData *data, const QString &fileName, const QSize &size)
{
    // No GUI client and no window: the tab is drawn, never shown.
    ChartTab tab(data, nullptr, nullptr);
    tab.resize(size);
    return tab.saveImage(fileName, size);
}

bool isChartSuffix(const QString &suffix)
{
    const QByteArray format = suffix.toLower().toLatin1();
    return format == "svg" || QImageWriter::supportedImageFormats().contains(format);
}

} // namespace Massif
