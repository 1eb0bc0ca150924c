/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "flamegraphsvgwriter.h"

#include "flamegraphlayout.h"
#include "flamegraphpainter.h"

#include <QSaveFile>
#include <QXmlStreamWriter>

namespace Massif {

namespace {

constexpr int FontSize = 12;
// A generous average advance of a sans-serif face at that size: the
// viewer's font is unknown, so text is cut by count rather than measured.
constexpr double CharWidth = 7.0;
constexpr double MinimumWidth = 0.1;
constexpr int TitleHeight = 28;

QString number(double value)
{
    return QString::number(value, 'f', 2);
}

// XML 1.0 has no way to write most control characters, even escaped.
QString xmlSafe(QString text)
{
    for (QChar &c : text) {
        if (c.unicode() < 0x20 && c != QLatin1Char('\t') && c != QLatin1Char('\n') && c != QLatin1Char('\r')) {
            c = QChar::ReplacementCharacter;
        } else if (c.unicode() == 0xfffe || c.unicode() == 0xffff) {
            c = QChar::ReplacementCharacter;
        }
    }
    return text;
}

QString elided(const QString &text, double width)
{
    const int room = int((width - 6.0) / CharWidth);
    if (room < 3) {
        return QString();
    }
    if (text.size() <= room) {
        return text;
    }
    return text.left(room - 2) + QLatin1String("..");
}

} // namespace

FlameGraphSvgWriter::FlameGraphSvgWriter(const FlameGraphLayout &layout) : m_layout(layout)
{
}

bool FlameGraphSvgWriter::write(QIODevice *device) const
{
    FlameGraphPainter geometry(m_layout);
    geometry.setRowHeight(m_rowHeight);
    geometry.setColorByCost(m_colorByCost);
    geometry.setZoomFrame(m_zoomFrame < m_layout.frameCount() ? m_zoomFrame : 0);

    const int top = m_title.isEmpty() ? 0 : TitleHeight;
    const QSizeF canvas(m_width, geometry.graphHeight());
    const int height = top + geometry.graphHeight();

    QXmlStreamWriter xml(device);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("svg"));
    xml.writeDefaultNamespace(QStringLiteral("http://www.w3.org/2000/svg"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1.1"));
    xml.writeAttribute(QStringLiteral("width"), QString::number(m_width));
    xml.writeAttribute(QStringLiteral("height"), QString::number(height));
    xml.writeAttribute(QStringLiteral("viewBox"), QStringLiteral("0 0 %1 %2").arg(m_width).arg(height));
    xml.writeAttribute(QStringLiteral("font-family"), QStringLiteral("sans-serif"));
    xml.writeAttribute(QStringLiteral("font-size"), QString::number(FontSize));

    xml.writeStartElement(QStringLiteral("rect"));
    xml.writeAttribute(QStringLiteral("width"), QStringLiteral("100%"));
    xml.writeAttribute(QStringLiteral("height"), QStringLiteral("100%"));
    xml.writeAttribute(QStringLiteral("fill"), QStringLiteral("#ffffff"));
    xml.writeEndElement();

    if (!m_title.isEmpty()) {
        xml.writeStartElement(QStringLiteral("text"));
        xml.writeAttribute(QStringLiteral("x"), number(m_width / 2.0));
        xml.writeAttribute(QStringLiteral("y"), QString::number(TitleHeight - 10));
        xml.writeAttribute(QStringLiteral("text-anchor"), QStringLiteral("middle"));
        xml.writeAttribute(QStringLiteral("font-size"), QString::number(FontSize + 4));
        xml.writeCharacters(xmlSafe(m_title));
        xml.writeEndElement();
    }

    const auto writeFrame = [&](int index) {
        QRectF rect = geometry.frameRect(index, canvas);
        rect.translate(0, top);
        const QColor fill = m_layout.isMatched(index) ? FlameGraphPainter::matchColor() : geometry.frameColor(index);
        xml.writeStartElement(QStringLiteral("g"));
        xml.writeTextElement(QStringLiteral("title"), xmlSafe(m_layout.plainToolTip(index)));
        xml.writeStartElement(QStringLiteral("rect"));
        xml.writeAttribute(QStringLiteral("x"), number(rect.x()));
        xml.writeAttribute(QStringLiteral("y"), number(rect.y()));
        xml.writeAttribute(QStringLiteral("width"), number(rect.width()));
        xml.writeAttribute(QStringLiteral("height"), number(rect.height() - 1));
        xml.writeAttribute(QStringLiteral("fill"), fill.name());
        xml.writeEndElement();
        const QString text = xmlSafe(elided(m_layout.displayText(index), rect.width()));
        if (!text.isEmpty()) {
            xml.writeStartElement(QStringLiteral("text"));
            xml.writeAttribute(QStringLiteral("x"), number(rect.x() + 3));
            xml.writeAttribute(QStringLiteral("y"), number(rect.y() + rect.height() / 2.0 + FontSize / 2.0 - 2));
            xml.writeAttribute(QStringLiteral("fill"), qGray(fill.rgb()) < 128 ? QStringLiteral("#ffffff") : QStringLiteral("#000000"));
            xml.writeCharacters(text);
            xml.writeEndElement();
        }
        xml.writeEndElement();
    };

    if (m_layout.frameCount() > 0) {
        const int zoom = geometry.zoomFrame();
        QList<int> ancestors;
        for (int ancestor = m_layout.frame(zoom).parent; ancestor >= 0; ancestor = m_layout.frame(ancestor).parent) {
            ancestors.prepend(ancestor);
        }
        for (int ancestor : std::as_const(ancestors)) {
            writeFrame(ancestor);
        }
        const double zoomWidth = m_layout.frame(zoom).width;
        for (int i = zoom; i < m_layout.frame(zoom).end;) {
            if (m_layout.frame(i).width / zoomWidth * m_width < MinimumWidth) {
                i = m_layout.frame(i).end;
                continue;
            }
            writeFrame(i);
            ++i;
        }
    }

    xml.writeEndElement();
    xml.writeEndDocument();
    return !xml.hasError();
}

bool FlameGraphSvgWriter::write(const QString &fileName)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        m_errorString = file.errorString();
        return false;
    }
    if (!write(&file)) {
        m_errorString = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        m_errorString = file.errorString();
        return false;
    }
    m_errorString.clear();
    return true;
}

} // namespace Massif
