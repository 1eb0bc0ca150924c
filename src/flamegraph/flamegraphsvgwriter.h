/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_FLAMEGRAPHSVGWRITER_H
#define MASSIF_FLAMEGRAPHSVGWRITER_H

#include <QString>

class QIODevice;

namespace Massif {

class FlameGraphLayout;

/**
 * Writes a flame graph layout as an SVG document: one group per frame with
 * a <title> holding the frame's tooltip text, a box and the label as text,
 * so that the file stays searchable and readable at any zoom. Frames under a
 * tenth of a pixel wide are left out. Needs no widgets and no fonts.
 */
class FlameGraphSvgWriter
{
public:
    explicit FlameGraphSvgWriter(const FlameGraphLayout &layout);

    void setWidth(int width)
    {
        m_width = width;
    }
    void setRowHeight(int height)
    {
        m_rowHeight = height;
    }
    /// The frame that spans the width, as in a zoomed view.
    void setZoomFrame(int index)
    {
        m_zoomFrame = index;
    }
    void setColorByCost(bool byCost)
    {
        m_colorByCost = byCost;
    }
    /// A heading above the graph; none when empty.
    void setTitle(const QString &title)
    {
        m_title = title;
    }

    bool write(QIODevice *device) const;
    /// Writes the file whole or not at all.
    bool write(const QString &fileName);
    QString errorString() const
    {
        return m_errorString;
    }

private:
    const FlameGraphLayout &m_layout;
    int m_width = 1200;
    int m_rowHeight = 18;
    int m_zoomFrame = 0;
    bool m_colorByCost = false;
    QString m_title;
    QString m_errorString;
};

} // namespace Massif

#endif
