/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef KGRAPHVIEWERINTERFACE_H
#define KGRAPHVIEWERINTERFACE_H

#include <QObject>
#include <QString>

namespace KGraphViewer {

/**
 * The operations of the graph viewer part beyond those of a read-only part,
 * reached with qobject_cast on the part. The order of the operations is part
 * of the interface.
 */
class KGraphViewerInterface
{
public:
    /// Where the overview of the whole graph sits in the view.
    enum PannerPosition {
        TopLeft = 0,
        TopRight = 1,
        BottomLeft = 2,
        BottomRight = 3,
        Auto = 4,
    };

    virtual void zoomIn() = 0;
    virtual void zoomOut() = 0;
    /// 1.0 shows one graph point per pixel.
    virtual void setZoomFactor(double factor) = 0;
    virtual void setPannerPosition(PannerPosition position) = 0;
    virtual void setPannerEnabled(bool enabled) = 0;
    /// Centres the view on the node with the dot id @p nodeId, if there is one.
    virtual void centerOnNode(const QString &nodeId) = 0;

protected:
    virtual ~KGraphViewerInterface() = default;
};

} // namespace KGraphViewer

// An id of the program's own: another package installs a graph viewer part of
// the same plug-in name whose interface has the same operations in another
// order, and a cast on a shared id would call through the wrong table.
#define KGraphViewerInterface_iid "org.quillmap.GraphViewerInterface/1.0"
Q_DECLARE_INTERFACE(KGraphViewer::KGraphViewerInterface, KGraphViewerInterface_iid)

#endif
