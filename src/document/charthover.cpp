/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "charthover.h"

#include "chartoverlay.h"
#include "chartzoom.h"
#include "detailedcostmodel.h"
#include "filedata.h"
#include "formatting.h"
#include "labelpieces.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <KLocalizedString>

#include <QAbstractItemView>
#include <QEvent>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>

#include <algorithm>
#include <cmath>

namespace {
constexpr int CursorGap = 16;

QString shareText(quint64 part, quint64 whole)
{
    const double percent = whole ? 100.0 * double(part) / double(whole) : 0.0;
    return i18nc("@info share of the total cost", "%1 %", QLocale().toString(percent, 'f', 1));
}
} // namespace

ChartHover::ChartHover(QWidget *chart,
                       ChartZoom *zoom,
                       ChartOverlay *overlay,
                       const Massif::FileData *data,
                       const Massif::DetailedCostModel *detailed,
                       const QAbstractItemView *functions,
                       QObject *parent)
    : QObject(parent), m_chart(chart), m_zoom(zoom), m_overlay(overlay), m_data(data), m_detailed(detailed), m_functions(functions), m_panel(new QLabel(chart))
{
    m_panel->setObjectName(QStringLiteral("chartHoverPanel"));
    m_panel->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_panel->setTextFormat(Qt::RichText);
    m_panel->setFrameShape(QFrame::StyledPanel);
    m_panel->setAutoFillBackground(true);
    m_panel->setBackgroundRole(QPalette::ToolTipBase);
    m_panel->setForegroundRole(QPalette::ToolTipText);
    m_panel->setMargin(4);
    m_panel->hide();
    chart->setMouseTracking(true);
    chart->installEventFilter(this);
}

QLabel *ChartHover::panel() const
{
    return m_panel;
}

bool ChartHover::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_chart) {
        switch (event->type()) {
        case QEvent::MouseMove:
            showAt(static_cast<QMouseEvent *>(event)->position());
            break;
        case QEvent::Leave:
        case QEvent::Hide:
            hide();
            break;
        case QEvent::ToolTip:
            // The panel says what the chart's tooltip would, and the tooltip
            // would cover it.
            return m_panel->isVisible();
        default:
            break;
        }
    }
    return false;
}

QString ChartHover::functionLine(const QModelIndex &segment, double time, const Massif::SnapshotItem *snapshot) const
{
    // The segment runs straight between two detailed snapshots: its cost is
    // told at the end nearest in time, unless the function holds nothing there.
    const int column = segment.column();
    int row = segment.row();
    int other = qMin(row + 1, m_detailed->rowCount() - 1);
    const auto timeAt = [this, column](int r) {
        return m_detailed->index(r, column).data().toDouble();
    };
    const auto costAt = [this, column](int r) {
        return m_detailed->index(r, column + 1).data().toULongLong();
    };
    if (std::abs(timeAt(other) - time) < std::abs(timeAt(row) - time) || costAt(row) == 0) {
        std::swap(row, other);
    }
    const quint64 cost = costAt(row);
    const Massif::SnapshotItem *owner = snapshotAtTime(timeAt(row));
    const quint64 total = owner ? owner->cost() : snapshot->cost();
    const QString name = functionName(row, column).toHtmlEscaped();
    const QString costText = Massif::formatCost(cost).toHtmlEscaped();
    if (owner && owner != snapshot) {
        return i18nc(
            "@info hover panel: function, cost, share, snapshot", "%1: %2 (%3 of snapshot #%4)", name, costText, shareText(cost, total), owner->number());
    }
    return i18nc("@info hover panel: function, cost, share", "%1: %2 (%3)", name, costText, shareText(cost, total));
}

QString ChartHover::functionName(int row, int column) const
{
    QString name = m_detailed->headerData(column, Qt::Horizontal).toString();
    // The legend names a function by its location only where two read alike;
    // the panel always says where it is.
    if (const Massif::TreeLeafItem *node = m_detailed->modelItemAt(m_detailed->index(row, column)).first) {
        const QString location = QString::fromUtf8(Massif::splitLabelPieces(node->label()).location);
        if (!location.isEmpty() && !name.contains(location)) {
            name = i18nc("@info hover panel: function (location)", "%1 (%2)", name, location);
        }
    }
    return name;
}

void ChartHover::hide()
{
    m_panel->hide();
    m_overlay->clearLine();
}

void ChartHover::refresh()
{
    if (m_panel->isVisible()) {
        showAt(m_position);
    }
}

const Massif::SnapshotItem *ChartHover::nearestSnapshot(double time) const
{
    const QList<Massif::SnapshotItem *> snapshots = m_data->snapshots();
    if (snapshots.isEmpty()) {
        return nullptr;
    }
    const auto later = std::lower_bound(snapshots.cbegin(), snapshots.cend(), time, [](const Massif::SnapshotItem *snapshot, double t) {
        return snapshot->time() < t;
    });
    if (later == snapshots.cbegin()) {
        return *later;
    }
    if (later == snapshots.cend()) {
        return snapshots.constLast();
    }
    const Massif::SnapshotItem *before = *(later - 1);
    return time - before->time() <= (*later)->time() - time ? before : *later;
}

const Massif::SnapshotItem *ChartHover::snapshotAtTime(double time) const
{
    const Massif::SnapshotItem *snapshot = nearestSnapshot(time);
    return snapshot && snapshot->time() == time ? snapshot : nullptr;
}

void ChartHover::showAt(const QPointF &position)
{
    m_position = position;
    const QRectF area = m_zoom->plotArea();
    if (!area.contains(position)) {
        hide();
        return;
    }
    const QPointF value = m_zoom->valueAt(position);
    const Massif::SnapshotItem *snapshot = nearestSnapshot(value.x());
    if (!snapshot) {
        hide();
        return;
    }
    const QString unit = m_data->timeUnit();
    // Times as the file writes them, without group separators.
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    QStringList lines;
    lines << i18nc("@info hover panel", "<b>Snapshot #%1</b> at %2 %3", snapshot->number(), locale.toString(snapshot->time(), 'g', 12), unit.toHtmlEscaped());
    lines << i18nc("@info hover panel", "Total: %1", Massif::formatCost(snapshot->cost()).toHtmlEscaped());

    // The function whose drawn area holds the mouse, as a click takes it.
    if (const QModelIndex hit = m_functions ? m_functions->indexAt(position.toPoint()) : QModelIndex(); hit.isValid()) {
        lines << functionLine(hit, value.x(), snapshot);
    }
    const QString text = lines.join(QLatin1String("<br/>"));
    if (text != m_panel->text()) {
        m_panel->setText(text);
        m_panel->adjustSize();
    }

    const double lineX = m_zoom->pixelAt(snapshot->time());
    m_overlay->setLine(lineX, area);

    // Beside the mouse, on the side where it fits.
    const QSize size = m_panel->size();
    QPoint topLeft = position.toPoint() + QPoint(CursorGap, CursorGap);
    if (topLeft.x() + size.width() > m_chart->width()) {
        topLeft.rx() = int(position.x()) - CursorGap - size.width();
    }
    if (topLeft.y() + size.height() > m_chart->height()) {
        topLeft.ry() = int(position.y()) - CursorGap - size.height();
    }
    m_panel->move(topLeft.x() < 0 ? 0 : topLeft.x(), topLeft.y() < 0 ? 0 : topLeft.y());
    m_panel->show();
    m_panel->raise();
}
