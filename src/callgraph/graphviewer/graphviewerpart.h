/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef GRAPHVIEWER_GRAPHVIEWERPART_H
#define GRAPHVIEWER_GRAPHVIEWERPART_H

#include "graphlayoutworker.h"
#include "kgraphviewerinterface.h"

#include <KParts/ReadOnlyPart>

#include <QPointer>
#include <QVariantList>

namespace GraphViewer {

class GraphView;

/**
 * The graph viewer component: opens a dot file, lays it out with Graphviz
 * on a worker thread and shows it. Emits graphLoaded() once a file is shown.
 */
class GraphViewerPart
    : public KParts::ReadOnlyPart
    , public KGraphViewer::KGraphViewerInterface
{
    Q_OBJECT
    Q_INTERFACES(KGraphViewer::KGraphViewerInterface)
public:
    GraphViewerPart(QWidget *parentWidget, QObject *parent, const KPluginMetaData &metaData, const QVariantList &args);
    ~GraphViewerPart() override;

    bool openUrl(const QUrl &url) override;
    bool closeUrl() override;

    void zoomIn() override;
    void zoomOut() override;
    void setZoomFactor(double factor) override;
    void setPannerPosition(PannerPosition position) override;
    void setPannerEnabled(bool enabled) override;
    void centerOnNode(const QString &nodeId) override;

Q_SIGNALS:
    void graphLoaded();

protected:
    bool openFile() override;

private:
    void layoutFinished(quint64 ticket, const std::shared_ptr<const GraphLayout> &layout, const QString &error);

    // The part's widget; it may be destroyed by whoever it was embedded in.
    QPointer<GraphView> view;
    // The ticket of the newest request; older results are dropped.
    GraphLayoutWorker::Ticket latestTicket;
    QString pendingFile;
    // While opening, the previous graph stays until the new one is laid out.
    bool opening = false;
};

} // namespace GraphViewer

#endif
