/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "comparison.h"

#include "filedata.h"
#include "formatting.h"
#include "snapshotitem.h"

#include <KLocalizedString>

#include <QLocale>

#include <algorithm>

using namespace Massif;

Comparison::Comparison(const FileData *baselineFile, const SnapshotItem *baseline, const FileData *currentFile, const SnapshotItem *current)
    : m_baselineFile(baselineFile)
    , m_currentFile(currentFile)
    , m_baseline(baseline)
    , m_current(current)
    , m_tree(baseline ? baseline->heapTree() : nullptr, current ? current->heapTree() : nullptr)
    , m_sites(baseline ? baseline->heapTree() : nullptr, current ? current->heapTree() : nullptr)
{
}

Comparison Comparison::ofPeaks(const FileData *baselineFile, const FileData *currentFile)
{
    return Comparison(baselineFile, baselineFile ? baselineFile->peak() : nullptr, currentFile, currentFile ? currentFile->peak() : nullptr);
}

const SnapshotItem *Comparison::snapshotByNumber(const FileData *file, quint32 number)
{
    if (!file) {
        return nullptr;
    }
    const QList<SnapshotItem *> snapshots = file->snapshots();
    for (const SnapshotItem *snapshot : snapshots) {
        if (snapshot->number() == number) {
            return snapshot;
        }
    }
    return nullptr;
}

qint64 Comparison::change() const
{
    const quint64 baseline = m_baseline ? m_baseline->cost() : 0;
    const quint64 current = m_current ? m_current->cost() : 0;
    return qint64(current) - qint64(baseline);
}

QString Comparison::formatChange(qint64 change)
{
    const QString size = formatCost(change < 0 ? quint64(0) - quint64(change) : quint64(change));
    return change < 0 ? i18nc("@item negative change of a size", "-%1", size) : i18nc("@item positive change of a size", "+%1", size);
}

QString Comparison::formatPercent(double percent)
{
    const QString number = QLocale::system().toString(std::abs(percent), 'f', 1);
    return percent < 0 ? i18nc("@item negative change in percent", "-%1%", number) : i18nc("@item positive change in percent", "+%1%", number);
}

QColor Comparison::changeColor(qint64 change, quint64 largest)
{
    if (change == 0 || largest == 0) {
        return QColor::fromHsv(-1, 0, 225);
    }
    const double size = std::min(1.0, double(change < 0 ? quint64(0) - quint64(change) : quint64(change)) / double(largest));
    // Even a small change shows, faintly.
    const int saturation = 40 + int(size * 215.0);
    return QColor::fromHsv(change > 0 ? 0 : 220, saturation, 235);
}

QString Comparison::summary() const
{
    const quint64 baselineCost = m_baseline ? m_baseline->cost() : 0;
    const quint64 currentCost = m_current ? m_current->cost() : 0;
    const qint64 difference = change();
    const QString changeText = baselineCost ? i18nc("@info:status change of the heap: size, percent",
                                                    "%1, %2",
                                                    formatChange(difference),
                                                    formatPercent(double(difference) * 100.0 / double(baselineCost)))
                                            : formatChange(difference);
    const bool peaks =
        m_baseline && m_current && (!m_baselineFile || m_baselineFile->peak() == m_baseline) && (!m_currentFile || m_currentFile->peak() == m_current);
    const QString heap = peaks
        ? i18nc(
              "@info:status %1 baseline cost, %2 current cost, %3 change", "Peak %1 -> %2 (%3)", formatCost(baselineCost), formatCost(currentCost), changeText)
        : i18nc("@info:status snapshot numbers %1 and %3, costs %2 and %4, %5 change",
                "Snapshot #%1 %2 -> snapshot #%3 %4 (%5)",
                m_baseline ? QString::number(m_baseline->number()) : QStringLiteral("-"),
                formatCost(baselineCost),
                m_current ? QString::number(m_current->number()) : QStringLiteral("-"),
                formatCost(currentCost),
                changeText);
    const int grown = m_sites.grownSites(GrowthThreshold);
    return i18nc("@info:status heap change; sites that grew",
                 "%1; %2",
                 heap,
                 i18ncp("@info:status", "%1 site grew by more than 10%", "%1 sites grew by more than 10%", grown));
}
