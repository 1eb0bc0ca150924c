/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "graphlayout.h"

#include <QDebug>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>

#include <graphviz/cgraph.h>
#include <graphviz/gvc.h>
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

GVC_t *graphvizContext()
{
    static GVC_t *const context = gvContext();
    return context;
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

// A fill colour only shows with the style "filled"; give it to nodes that
// have a fill colour and no style of their own.
void fillColoredNodes(Agraph_t *graph)
{
    for (Agnode_t *node = agfstnode(graph); node; node = agnxtnode(graph, node)) {
        const char *fill = agget(node, cString("fillcolor"));
        const char *style = agget(node, cString("style"));
        if (fill && *fill && (!style || !*style)) {
            agsafeset(node, cString("style"), cString("filled"), cString(""));
        }
    }
}

void collectElements(Agraph_t *graph, GraphLayout *layout, qreal flipY)
{
    static const char *const edgeDrawings[] = {"_draw_", "_ldraw_", "_hdraw_", "_tdraw_", "_hldraw_", "_tldraw_"};
    for (Agnode_t *node = agfstnode(graph); node; node = agnxtnode(graph, node)) {
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
}

bool renderLayout(Agraph_t *graph, GraphLayout *layout, QString *error)
{
    GVC_t *const context = graphvizContext();
    if (gvLayout(context, graph, "dot") != 0) {
        *error = graphvizErrors();
        return false;
    }
    // Rendering to xdot attaches the drawing operations to every object.
    char *data = nullptr;
    unsigned int length = 0;
    const int rendered = gvRenderData(context, graph, "xdot", &data, &length);
    gvFreeRenderData(data);
    if (rendered != 0) {
        gvFreeLayout(context, graph);
        *error = graphvizErrors();
        return false;
    }
    const QStringList box = attribute(graph, "bb").split(QLatin1Char(','));
    if (box.size() == 4) {
        const qreal left = box.at(0).toDouble();
        const qreal bottom = box.at(1).toDouble();
        const qreal right = box.at(2).toDouble();
        const qreal top = box.at(3).toDouble();
        layout->bounds = QRectF(left, bottom, right - left, top - bottom);
    }
    collectElements(graph, layout, layout->bounds.top() + layout->bounds.bottom());
    gvFreeLayout(context, graph);
    return true;
}

} // namespace

bool layoutDot(const QByteArray &dot, GraphLayout *layout, QString *error)
{
    QMutexLocker locker(&graphvizMutex());
    graphvizErrors().clear();
    const agusererrf previous = agseterrf(collectGraphvizError);

    *layout = GraphLayout();
    bool ok = false;
    Agraph_t *graph = agmemread(dot.constData());
    if (!graph) {
        *error = graphvizErrors().isEmpty() ? QStringLiteral("no graph found") : graphvizErrors();
    } else {
        fillColoredNodes(graph);
        ok = renderLayout(graph, layout, error);
        agclose(graph);
    }
    if (!ok) {
        *layout = GraphLayout();
    }
    agseterrf(previous);
    return ok;
}

} // namespace GraphViewer
