/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "callgraphexport.h"

#include "dotgraphgenerator.h"

#include <QFile>

#include <graphviz/cgraph.h>
#include <graphviz/gvc.h>

#include <memory>

namespace Massif {

namespace {

char *cString(const char *text)
{
    return const_cast<char *>(text);
}

// Graphviz reports through a global callback; one render runs at a time here.
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

} // namespace

QByteArray callGraphDot(const SnapshotItem *snapshot, const QString &timeUnit)
{
    DotGraphGenerator generator(snapshot, timeUnit);
    generator.start();
    generator.wait();
    QFile file(generator.outputFileName());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray renderDotAsSvg(const QByteArray &dot, QString *error)
{
    graphvizErrors().clear();
    const agusererrf previous = agseterrf(collectGraphvizError);
    const std::unique_ptr<GVC_t, int (*)(GVC_t *)> context(gvContext(), gvFreeContext);
    QByteArray svg;
    Agraph_t *graph = agmemread(dot.constData());
    if (!graph) {
        *error = graphvizErrors();
    } else {
        // The generator gives colours without a style; the viewer fills them.
        for (Agnode_t *node = agfstnode(graph); node; node = agnxtnode(graph, node)) {
            const char *fill = agget(node, cString("fillcolor"));
            const char *style = agget(node, cString("style"));
            if (fill && *fill && (!style || !*style)) {
                agsafeset(node, cString("style"), cString("filled"), cString(""));
            }
        }
        if (gvLayout(context.get(), graph, "dot") == 0) {
            char *data = nullptr;
            unsigned int length = 0;
            if (gvRenderData(context.get(), graph, "svg", &data, &length) == 0) {
                svg = QByteArray(data, length);
            } else {
                *error = graphvizErrors();
            }
            gvFreeRenderData(data);
            gvFreeLayout(context.get(), graph);
        } else {
            *error = graphvizErrors();
        }
        agclose(graph);
    }
    agseterrf(previous);
    if (svg.isEmpty() && error->isEmpty()) {
        *error = QStringLiteral("Graphviz produced no drawing");
    }
    return svg;
}

} // namespace Massif
