/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_CHARTEXPORT_H
#define MASSIF_CHARTEXPORT_H

#include <QSize>
#include <QString>

namespace Massif {

class FileData;

/**
 * Draws the memory chart of @p data into an image file through the chart
 * tab itself, SVG or a raster format by the file's suffix. Needs a
 * QApplication; the report program makes it on the offscreen platform.
 */
bool saveChart(FileData *data, const QString &fileName, const QSize &size);

/// Whether saveChart() can write a file with this suffix.
bool isChartSuffix(const QString &suffix);

} // namespace Massif

#endif
