/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "flamegraphtab.h"

#include "filedata.h"
#include "flamegraphsvgwriter.h"
#include "flamegraphview.h"
#include "formatting.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <KActionCollection>
#include <KLocalizedString>
#include <KMessageBox>
#include <KStandardAction>

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QVBoxLayout>

FlameGraphTab::FlameGraphTab(Massif::FileData *data, KXMLGUIClient *guiParent, QWidget *parent)
    : DocumentTabInterface(data, guiParent, parent)
    , m_view(new FlameGraphView(this))
    , m_header(new QLabel(this))
    , m_searchField(new QLineEdit(this))
    , m_matchLabel(new QLabel(this))
    , m_pendingItem(nullptr, nullptr)
{
    setXMLFile(QStringLiteral("flamegraphtabui.rc"), true);
    setupActions();

    m_view->setObjectName(QStringLiteral("flameGraphView"));
    m_searchField->setObjectName(QStringLiteral("flameGraphSearch"));
    m_searchField->setPlaceholderText(i18nc("@info:placeholder", "Search functions…"));
    m_searchField->setClearButtonEnabled(true);
    m_header->setTextFormat(Qt::PlainText);

    auto *row = new QHBoxLayout;
    row->setContentsMargins(6, 4, 6, 4);
    row->setSpacing(12);
    row->addWidget(m_header, 1);
    row->addWidget(m_matchLabel);
    row->addWidget(m_searchField);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(row);
    layout->addWidget(m_view, 1);

    connect(m_view, &FlameGraphView::frameActivated, this, &FlameGraphTab::frameActivated);
    connect(m_view, &FlameGraphView::contextMenuRequested, this, &FlameGraphTab::frameContextMenu);
    connect(m_view, &FlameGraphView::zoomChanged, this, &FlameGraphTab::refreshHeader);
    connect(m_searchField, &QLineEdit::textChanged, this, &FlameGraphTab::searchChanged);

    if (data) {
        const auto snapshots = data->snapshots();
        for (const Massif::SnapshotItem *snapshot : snapshots) {
            if (snapshot->heapTree()) {
                m_snapshotOfRoot.insert(snapshot->heapTree(), snapshot);
            }
        }
        m_pendingItem = Massif::ModelItem(nullptr, data->peak());
        m_pending = true;
    }
    refreshHeader();
}

FlameGraphTab::~FlameGraphTab() = default;

void FlameGraphTab::setupActions()
{
    m_saveAsAction = KStandardAction::saveAs(this, &FlameGraphTab::saveCurrentGraph, actionCollection());

    m_resetZoomAction = actionCollection()->addAction(QStringLiteral("flamegraph_reset_zoom"));
    m_resetZoomAction->setText(i18nc("@action", "Reset Zoom"));
    m_resetZoomAction->setIcon(QIcon::fromTheme(QStringLiteral("zoom-original")));
    actionCollection()->setDefaultShortcut(m_resetZoomAction, QKeySequence(Qt::CTRL | Qt::Key_0));
    m_resetZoomAction->setEnabled(false);
    connect(m_resetZoomAction, &QAction::triggered, m_view, &FlameGraphView::resetZoom);

    m_invertedAction = actionCollection()->addAction(QStringLiteral("flamegraph_inverted"));
    m_invertedAction->setText(i18nc("@action", "Inverted"));
    m_invertedAction->setToolTip(i18nc("@info:tooltip", "Outermost callers at the base, allocation sites on top, merged by function"));
    m_invertedAction->setIcon(QIcon::fromTheme(QStringLiteral("object-flip-vertical")));
    m_invertedAction->setCheckable(true);
    connect(m_invertedAction, &QAction::toggled, this, &FlameGraphTab::setInverted);

    m_colorByCostAction = actionCollection()->addAction(QStringLiteral("flamegraph_color_by_cost"));
    m_colorByCostAction->setText(i18nc("@action", "Color by Cost"));
    m_colorByCostAction->setIcon(QIcon::fromTheme(QStringLiteral("format-fill-color")));
    m_colorByCostAction->setCheckable(true);
    connect(m_colorByCostAction, &QAction::toggled, m_view, &FlameGraphView::setColorByCost);

    m_zoomAction = new QAction(QIcon::fromTheme(QStringLiteral("zoom-in")), i18nc("@action", "Zoom Into"), this);
    connect(m_zoomAction, &QAction::triggered, this, [this]() {
        m_view->zoomTo(m_zoomAction->data().toInt());
    });
}

void FlameGraphTab::settingsChanged()
{
    m_view->settingsChanged();
    refreshHeader();
}

void FlameGraphTab::selectModelItem(const Massif::ModelItem &item)
{
    if (m_selectionLock || (!item.first && !item.second)) {
        return;
    }
    m_pendingItem = item;
    if (!isVisible()) {
        // Laid out when shown, so that a hidden tab costs nothing per selection.
        m_pending = true;
        return;
    }
    m_pending = false;
    showItem(item);
}

void FlameGraphTab::showEvent(QShowEvent *event)
{
    DocumentTabInterface::showEvent(event);
    if (m_pending) {
        m_pending = false;
        showItem(m_pendingItem);
    }
}

const Massif::SnapshotItem *FlameGraphTab::snapshotOfNode(const Massif::TreeLeafItem *node) const
{
    while (node && node->parent()) {
        node = node->parent();
    }
    return m_snapshotOfRoot.value(node);
}

void FlameGraphTab::showItem(const Massif::ModelItem &item)
{
    const Massif::SnapshotItem *snapshot = item.second ? item.second : snapshotOfNode(item.first);
    if (!snapshot) {
        return;
    }
    if (snapshot != m_view->layout().snapshot()) {
        m_view->setSnapshot(snapshot, m_invertedAction->isChecked());
        if (!m_searchField->text().isEmpty()) {
            searchChanged(m_searchField->text());
        }
    }
    m_selectedNode = item.first;
    m_view->setSelectedFrame(item.first ? m_view->layout().frameOfNode(item.first) : 0);
    refreshHeader();
}

void FlameGraphTab::frameActivated(int index)
{
    const Massif::FlameGraphLayout &layout = m_view->layout();
    const Massif::ModelItem item = index == 0 ? Massif::ModelItem(nullptr, layout.snapshot()) : Massif::ModelItem(layout.frame(index).node, nullptr);
    m_pendingItem = item;
    m_selectedNode = item.first;
    // The selection comes back through the document; it is shown already.
    m_selectionLock = true;
    Q_EMIT modelItemSelected(item);
    m_selectionLock = false;
}

void FlameGraphTab::frameContextMenu(int index, const QPoint &globalPos)
{
    const Massif::FlameGraphLayout &layout = m_view->layout();
    QMenu menu;
    m_zoomAction->setData(index);
    m_zoomAction->setEnabled(index != m_view->zoomFrame());
    menu.addAction(m_zoomAction);
    menu.addAction(m_resetZoomAction);
    if (index > 0 && layout.frame(index).node) {
        menu.addSeparator();
        Q_EMIT contextMenuRequested(Massif::ModelItem(layout.frame(index).node, nullptr), &menu);
    }
    menu.exec(globalPos);
}

void FlameGraphTab::searchChanged(const QString &needle)
{
    const double share = m_view->search(needle);
    m_matchLabel->setText(needle.isEmpty() ? QString() : i18nc("@info:status", "%1% of the snapshot matched", QLocale().toString(share * 100.0, 'f', 1)));
}

void FlameGraphTab::setInverted(bool inverted)
{
    const Massif::SnapshotItem *snapshot = m_view->layout().snapshot();
    if (!snapshot) {
        return;
    }
    m_view->setSnapshot(snapshot, inverted);
    if (!m_searchField->text().isEmpty()) {
        searchChanged(m_searchField->text());
    }
    m_view->setSelectedFrame(m_selectedNode ? m_view->layout().frameOfNode(m_selectedNode) : -1);
    refreshHeader();
}

void FlameGraphTab::refreshHeader()
{
    const Massif::FlameGraphLayout &layout = m_view->layout();
    m_resetZoomAction->setEnabled(m_view->isZoomed());
    if (!layout.snapshot()) {
        m_header->clear();
        return;
    }
    QString text = layout.displayText(0);
    if (data && layout.snapshot() == data->peak()) {
        text = i18nc("@label %1: snapshot and its cost", "%1 (peak)", text);
    }
    if (m_view->isZoomed()) {
        text = i18nc("@label %1: snapshot, %2: function zoomed into", "%1, zoomed into %2", text, layout.displayText(m_view->zoomFrame()));
    }
    m_header->setText(text);
}

void FlameGraphTab::saveCurrentGraph()
{
    const QString svgFilter = i18n("SVG Image (*.svg)");
    const QString pngFilter = i18n("PNG Image (*.png)");
    QString filter = svgFilter;
    QString fileName =
        QFileDialog::getSaveFileName(this, i18nc("@title:window", "Save Flame Graph"), QString(), svgFilter + QLatin1String(";;") + pngFilter, &filter);
    if (fileName.isEmpty()) {
        return;
    }
    // A name typed without a suffix gets the one of the chosen type.
    if (QFileInfo(fileName).suffix().isEmpty()) {
        fileName += filter == pngFilter ? QLatin1String(".png") : QLatin1String(".svg");
    }
    saveImage(fileName);
}

bool FlameGraphTab::saveImage(const QString &fileName)
{
    bool saved = false;
    if (QFileInfo(fileName).suffix().compare(QLatin1String("svg"), Qt::CaseInsensitive) == 0) {
        Massif::FlameGraphSvgWriter writer(m_view->layout());
        writer.setWidth(std::max(800, m_view->viewport()->width()));
        writer.setRowHeight(m_view->graphPainter().rowHeight());
        writer.setZoomFrame(m_view->zoomFrame());
        writer.setColorByCost(m_colorByCostAction->isChecked());
        writer.setTitle(m_header->text());
        saved = writer.write(fileName);
    } else {
        saved = m_view->renderImage().save(fileName);
    }
    if (!saved) {
        KMessageBox::error(this, i18n("Failed to save the image to %1.", fileName), QString());
    }
    return saved;
}
