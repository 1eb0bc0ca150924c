/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "graphlayout.h"

#include <QDebug>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QStandardPaths>

#include <graphviz/cgraph.h>
#include <graphviz/xdot.h>

namespace GraphViewer {

namespace {

// Graphviz keeps global state in its parser, its error handling and its
// context: one layout at a time in the whole process.
QMutex &graphvizMutex()
{
    static QMutex mutex;
    return mutex;
}

// Only touched with graphvizMutex() held.
QString &graphvizErrors()
{
    static QString errors;
    return errors;
}

int collectGraphvizError(char *message)
{
    graphvizErrors() += QString::fromUtf8(message);
    return 0;
}

char *cString(const char *text)
{
    return const_cast<char *>(text);
}

QString attribute(void *object, const char *name)
{
    const char *value = agget(object, cString(name));
    return value ? QString::fromUtf8(value) : QString();
}

// Graphviz writes colours as names, "#rrggbb" or "#rrggbbaa".
QColor parseColor(const char *text)
{
    const QByteArray name(text);
    if (name.startsWith('#') && name.size() == 9) {
        QColor color = QColor::fromString(QLatin1StringView(name.left(7)));
        color.setAlpha(name.mid(7).toInt(nullptr, 16));
        return color;
    }
    if (name == "transparent" || name == "none" || name == "invis") {
        return Qt::transparent;
    }
    const QColor color = QColor::fromString(QLatin1StringView(name));
    return color.isValid() ? color : QColor(Qt::black);
}

/// The drawing state that xdot operations change for the operations after them.
struct DrawState
{
    QPen pen {QColor(Qt::black), 1.0};
    QColor fill {Qt::black};
    QString fontName {QStringLiteral("Times-Roman")};
    qreal fontSize = 14;
    bool invisible = false;
};

class ElementBuilder
{
public:
    ElementBuilder(GraphElement *element, qreal flipY) : element(element), flipY(flipY)
    {
    }

    void addDrawing(const QString &xdotText)
    {
        if (xdotText.isEmpty()) {
            return;
        }
        QByteArray bytes = xdotText.toUtf8();
        xdot *ops = parseXDot(bytes.data());
        if (!ops) {
            qWarning() << "graph viewer: unreadable drawing operations for" << element->id;
            return;
        }
        for (int i = 0; i < ops->cnt; ++i) {
            addOperation(ops->ops[i]);
        }
        freeXDot(ops);
    }

private:
    QPointF point(const xdot_point &p) const
    {
        return QPointF(p.x, flipY - p.y);
    }

    QPolygonF polygon(const xdot_polyline &line) const
    {
        QPolygonF result;
        result.reserve(line.cnt);
        for (int i = 0; i < line.cnt; ++i) {
            result << point(line.pts[i]);
        }
        return result;
    }

    void addShape(const QPainterPath &path, bool filled)
    {
        if (state.invisible) {
            return;
        }
        element->shapes.append(GraphShape {path, state.pen, filled ? QBrush(state.fill) : QBrush(Qt::NoBrush)});
        element->bounds |= path.boundingRect().adjusted(-state.pen.widthF(), -state.pen.widthF(), state.pen.widthF(), state.pen.widthF());
    }

    void addBezier(const xdot_polyline &line, bool filled)
    {
        if (line.cnt < 1) {
            return;
        }
        QPainterPath path(point(line.pts[0]));
        for (int i = 1; i + 2 < line.cnt; i += 3) {
            path.cubicTo(point(line.pts[i]), point(line.pts[i + 1]), point(line.pts[i + 2]));
        }
        addShape(path, filled);
    }

    void addText(const xdot_text &text)
    {
        if (state.invisible) {
            return;
        }
        GraphText item;
        item.position = QPointF(text.x, flipY - text.y);
        item.alignment = text.align == xd_left ? -1 : (text.align == xd_right ? 1 : 0);
        item.width = text.width;
        item.text = QString::fromUtf8(text.text);
        item.fontName = state.fontName;
        item.fontSize = state.fontSize;
        item.color = state.pen.color();
        const qreal left = item.alignment < 0 ? text.x : (item.alignment > 0 ? text.x - text.width : text.x - text.width / 2);
        element->bounds |= QRectF(left, item.position.y() - item.fontSize, text.width, item.fontSize * 1.3);
        element->texts.append(item);
    }

    void setStyle(const QByteArray &style)
    {
        static const QRegularExpression lineWidth(QStringLiteral("^setlinewidth\\(([0-9.]+)\\)$"));
        const QRegularExpressionMatch match = lineWidth.match(QString::fromLatin1(style));
        if (match.hasMatch()) {
            state.pen.setWidthF(match.captured(1).toDouble());
        } else if (style == "dashed") {
            state.pen.setStyle(Qt::DashLine);
        } else if (style == "dotted") {
            state.pen.setStyle(Qt::DotLine);
        } else if (style == "solid") {
            state.pen.setStyle(Qt::SolidLine);
        } else if (style == "bold") {
            state.pen.setWidthF(2);
        } else if (style == "invis" || style == "invisible") {
            state.invisible = true;
        }
    }

    void addOperation(const xdot_op &op)
    {
        switch (op.kind) {
        case xd_filled_ellipse:
        case xd_unfilled_ellipse: {
            const xdot_rect &r = op.u.ellipse;
            QPainterPath path;
            path.addEllipse(QPointF(r.x, flipY - r.y), r.w, r.h);
            addShape(path, op.kind == xd_filled_ellipse);
            break;
        }
        case xd_filled_polygon:
        case xd_unfilled_polygon: {
            QPainterPath path;
            path.addPolygon(polygon(op.u.polygon));
            path.closeSubpath();
            addShape(path, op.kind == xd_filled_polygon);
            break;
        }
        case xd_polyline: {
            QPainterPath path;
            path.addPolygon(polygon(op.u.polyline));
            addShape(path, false);
            break;
        }
        case xd_filled_bezier:
        case xd_unfilled_bezier:
            addBezier(op.u.bezier, op.kind == xd_filled_bezier);
            break;
        case xd_text:
            addText(op.u.text);
            break;
        case xd_fill_color:
            state.fill = parseColor(op.u.color);
            break;
        case xd_pen_color:
            state.pen.setColor(parseColor(op.u.color));
            break;
        case xd_font:
            state.fontName = QString::fromUtf8(op.u.font.name);
            state.fontSize = op.u.font.size;
            break;
        case xd_style:
            setStyle(QByteArray(op.u.style));
            break;
        default:
            // Images, gradients and font flags do not occur in call graphs.
            break;
        }
    }

    GraphElement *element;
    qreal flipY;
    DrawState state;
};

bool collectElements(Agraph_t *graph, GraphLayout *layout, qreal flipY, const std::function<bool()> &canceled)
{
    static const char *const edgeDrawings[] = {"_draw_", "_ldraw_", "_hdraw_", "_tdraw_", "_hldraw_", "_tldraw_"};
    for (Agnode_t *node = agfstnode(graph); node; node = agnxtnode(graph, node)) {
        if (canceled && canceled()) {
            return false;
        }
        GraphElement element;
        element.id = QString::fromUtf8(agnameof(node));
        ElementBuilder builder(&element, flipY);
        builder.addDrawing(attribute(node, "_draw_"));
        builder.addDrawing(attribute(node, "_ldraw_"));
        layout->nodes.append(element);
        for (Agedge_t *edge = agfstout(graph, node); edge; edge = agnxtout(graph, edge)) {
            GraphElement edgeElement;
            edgeElement.id = element.id + QLatin1String("->") + QString::fromUtf8(agnameof(aghead(edge)));
            ElementBuilder edgeBuilder(&edgeElement, flipY);
            for (const char *name : edgeDrawings) {
                edgeBuilder.addDrawing(attribute(edge, name));
            }
            layout->edges.append(edgeElement);
        }
    }
    return true;
}

bool readGraph(Agraph_t *graph, GraphLayout *layout, QString *error, const std::function<bool()> &canceled)
{
    const QStringList box = attribute(graph, "bb").split(QLatin1Char(','));
    if (box.size() != 4) {
        *error = QStringLiteral("the graph has not been laid out");
        return false;
    }
    const qreal left = box.at(0).toDouble();
    const qreal bottom = box.at(1).toDouble();
    const qreal right = box.at(2).toDouble();
    const qreal top = box.at(3).toDouble();
    layout->bounds = QRectF(left, bottom, right - left, top - bottom);
    return collectElements(graph, layout, layout->bounds.top() + layout->bounds.bottom(), canceled);
}

} // namespace

bool readLayout(const QByteArray &xdot, GraphLayout *layout, QString *error, const std::function<bool()> &canceled)
{
    QMutexLocker locker(&graphvizMutex());
    graphvizErrors().clear();
    const agusererrf previous = agseterrf(collectGraphvizError);

    *layout = GraphLayout();
    error->clear();
    bool ok = false;
    Agraph_t *graph = agmemread(xdot.constData());
    if (!graph) {
        *error = graphvizErrors().isEmpty() ? QStringLiteral("no graph found") : graphvizErrors();
    } else {
        ok = readGraph(graph, layout, error, canceled);
        agclose(graph);
    }
    if (!ok) {
        *layout = GraphLayout();
    }
    agseterrf(previous);
    return ok;
}

int countNodes(const QByteArray &dot)
{
    QMutexLocker locker(&graphvizMutex());
    const agusererrf previous = agseterrf(collectGraphvizError);
    int count = -1;
    if (Agraph_t *graph = agmemread(dot.constData())) {
        count = agnnodes(graph);
        agclose(graph);
    }
    graphvizErrors().clear();
    agseterrf(previous);
    return count;
}

QString dotExecutable()
{
    const QString found = QStandardPaths::findExecutable(QStringLiteral("dot"));
    if (!found.isEmpty()) {
        return found;
    }
    const QFileInfo built(QStringLiteral(QUILLMAP_DOT_EXECUTABLE));
    return built.isAbsolute() && built.isExecutable() ? built.filePath() : QString();
}

QStringList dotArguments(const QString &fileName)
{
    // A fill colour shows only with the style "filled"; nodes without a
    // colour of their own are filled with the background's white.
    // An absolute path: a name starting with "-" is not taken for an option.
    return {QStringLiteral("-Txdot"), QStringLiteral("-Nstyle=filled"), QStringLiteral("-Nfillcolor=white"), QFileInfo(fileName).absoluteFilePath()};
}

} // namespace GraphViewer
