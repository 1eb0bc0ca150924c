/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "chartlegendcontrol.h"

#include <KChartLayoutItems>
#include <KChartLegend>

#include <QGridLayout>
#include <QMouseEvent>

ChartLegendControl::ChartLegendControl(KChart::Legend *legend, QObject *parent) : QObject(parent), m_legend(legend)
{
    legend->installEventFilter(this);
}

namespace {

/// The legend dataset whose text is @p text; -1 for none.
int datasetWithText(const KChart::Legend *legend, const QString &text)
{
    for (uint dataset = 0; dataset < legend->datasetCount(); ++dataset) {
        if (legend->text(dataset) == text) {
            return int(dataset);
        }
    }
    return -1;
}

} // namespace

int ChartLegendControl::datasetAt(const QPoint &position) const
{
    // The legend lays its entries out in a grid, one row per dataset: the
    // marker, maybe a line, and the text, whose words name the dataset.
    auto *grid = qobject_cast<QGridLayout *>(m_legend->layout());
    if (!grid) {
        return -1;
    }
    // A legend rebuilt since it was drawn has its entries placed only now.
    grid->activate();
    for (int i = 0; i < grid->count(); ++i) {
        QLayoutItem *item = grid->itemAt(i);
        const QRect geometry = item->geometry();
        if (position.y() < geometry.top() || position.y() > geometry.bottom()) {
            continue;
        }
        int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
        grid->getItemPosition(i, &row, &column, &rowSpan, &columnSpan);
        for (int j = 0; j < grid->count(); ++j) {
            int otherRow = 0;
            grid->getItemPosition(j, &otherRow, &column, &rowSpan, &columnSpan);
            if (otherRow != row) {
                continue;
            }
            if (const auto *text = dynamic_cast<KChart::TextLayoutItem *>(grid->itemAt(j))) {
                const int dataset = datasetWithText(m_legend, text->text());
                if (dataset >= 0) {
                    return dataset;
                }
            }
        }
    }
    return -1;
}

QPoint ChartLegendControl::entryPosition(int dataset) const
{
    auto *grid = qobject_cast<QGridLayout *>(m_legend->layout());
    if (!grid || dataset < 0) {
        return {-1, -1};
    }
    grid->activate();
    const QString wanted = m_legend->text(uint(dataset));
    for (int i = 0; i < grid->count(); ++i) {
        if (const auto *text = dynamic_cast<KChart::TextLayoutItem *>(grid->itemAt(i)); text && text->text() == wanted) {
            return text->geometry().center();
        }
    }
    return {-1, -1};
}

bool ChartLegendControl::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_legend) {
        return false;
    }
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton) {
            return false;
        }
        const int dataset = datasetAt(mouse->position().toPoint());
        if (dataset < 0) {
            return false;
        }
        if (event->type() == QEvent::MouseButtonPress) {
            Q_EMIT entryClicked(dataset);
        } else {
            Q_EMIT entryDoubleClicked(dataset);
        }
        return true;
    }
    return false;
}
