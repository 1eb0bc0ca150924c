/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef FLAMEGRAPHTAB_H
#define FLAMEGRAPHTAB_H

#include "documenttabinterface.h"

#include <QHash>

class FlameGraphView;
class QAction;
class QLabel;
class QLineEdit;

/**
 * The flame graph of one snapshot: the peak at first, then whichever
 * snapshot or node is selected anywhere, with the selected node highlighted.
 * A hidden tab lays out what was selected only once it is shown.
 */
class FlameGraphTab : public DocumentTabInterface
{
    Q_OBJECT
public:
    FlameGraphTab(Massif::FileData *data, KXMLGUIClient *guiParent, QWidget *parent = nullptr);
    ~FlameGraphTab() override;

    void settingsChanged() override;

    /// Saves the graph as shown: SVG when the name ends in ".svg", else a raster image. Reports a failure itself.
    bool saveImage(const QString &fileName);

    FlameGraphView *view() const
    {
        return m_view;
    }

public Q_SLOTS:
    void selectModelItem(const Massif::ModelItem &item) override;

protected:
    void showEvent(QShowEvent *event) override;

private Q_SLOTS:
    void saveCurrentGraph();
    void frameActivated(int index);
    void frameContextMenu(int index, const QPoint &globalPos);
    void searchChanged(const QString &needle);
    void setInverted(bool inverted);
    void refreshHeader();

private:
    void setupActions();
    void showItem(const Massif::ModelItem &item);
    const Massif::SnapshotItem *snapshotOfNode(const Massif::TreeLeafItem *node) const;

    FlameGraphView *m_view;
    QLabel *m_header;
    QLineEdit *m_searchField;
    QLabel *m_matchLabel;
    QAction *m_saveAsAction = nullptr;
    QAction *m_resetZoomAction = nullptr;
    QAction *m_invertedAction = nullptr;
    QAction *m_colorByCostAction = nullptr;
    QAction *m_zoomAction = nullptr;
    // Heap tree roots to their snapshots, for nodes selected without one.
    QHash<const Massif::TreeLeafItem *, const Massif::SnapshotItem *> m_snapshotOfRoot;
    Massif::ModelItem m_pendingItem;
    const Massif::TreeLeafItem *m_selectedNode = nullptr;
    bool m_pending = false;
    bool m_selectionLock = false;
};

#endif
