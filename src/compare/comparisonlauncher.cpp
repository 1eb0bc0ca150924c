/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "comparisonlauncher.h"

#include "documentwidget.h"
#include "filedata.h"
#include "snapshotitem.h"

#include <KConfigGroup>
#include <KLocalizedString>
#include <KSharedConfig>

#include <QAction>
#include <QFileDialog>
#include <QMenu>
#include <QTabWidget>

#include <algorithm>

ComparisonLauncher::ComparisonLauncher(QTabWidget *documents, KXMLGUIClient *guiParent, QWidget *window)
    : QObject(window)
    , m_documents(documents)
    , m_guiParent(guiParent)
    , m_window(window)
    , m_compareWithAction(new QAction(QIcon::fromTheme(QStringLiteral("document-compare")), i18nc("@action", "Compare With…"), this))
{
    m_compareWithAction->setToolTip(i18nc("@info:tooltip", "Compare the current file with another, its baseline"));
    connect(m_compareWithAction, &QAction::triggered, this, &ComparisonLauncher::compareWith);
    connect(m_documents, &QTabWidget::currentChanged, this, &ComparisonLauncher::updateAction);
    updateAction();
}

ComparisonLauncher::~ComparisonLauncher() = default;

QStringList ComparisonLauncher::customAllocators()
{
    // Keys "0", "1", ... in the order they were written in.
    const KConfigGroup group = KSharedConfig::openConfig()->group(QStringLiteral("Allocators"));
    QStringList keys = group.keyList();
    std::sort(keys.begin(), keys.end(), [](const QString &a, const QString &b) {
        return a.toULongLong() < b.toULongLong();
    });
    QStringList allocators;
    for (const QString &key : std::as_const(keys)) {
        allocators << group.readEntry(key, QString());
    }
    return allocators;
}

QUrl ComparisonLauncher::currentFile() const
{
    const auto *document = qobject_cast<DocumentWidget *>(m_documents->currentWidget());
    return document ? document->file() : QUrl();
}

void ComparisonLauncher::updateAction()
{
    m_compareWithAction->setEnabled(currentFile().isValid());
}

void ComparisonLauncher::compareWith()
{
    const QUrl current = currentFile();
    if (!current.isValid()) {
        return;
    }
    const QUrl baseline = QFileDialog::getOpenFileUrl(
        m_window, i18nc("@title:window", "Compare With Baseline"), current.adjusted(QUrl::RemoveFilename), i18n("Massif data files (massif.out.*)"));
    if (baseline.isValid()) {
        compare({baseline, -1}, {current, -1});
    }
}

ComparisonWidget *ComparisonLauncher::compare(const ComparisonWidget::Side &baseline, const ComparisonWidget::Side &current)
{
    auto *comparison = new ComparisonWidget(baseline, current, customAllocators(), m_guiParent, m_documents);
    QString title = comparison->title();
    title.replace(QLatin1Char('&'), QLatin1String("&&"));
    const int index = m_documents->addTab(comparison, QIcon::fromTheme(QStringLiteral("document-compare")), title);
    m_documents->setCurrentIndex(index);
    connect(comparison, &ComparisonWidget::requestClose, this, &ComparisonLauncher::closeRequested);
    connect(comparison, &ComparisonWidget::titleChanged, this, [this, comparison](QString text) {
        const int at = m_documents->indexOf(comparison);
        if (at != -1) {
            m_documents->setTabText(at, text.replace(QLatin1Char('&'), QLatin1String("&&")));
        }
    });
    return comparison;
}

void ComparisonLauncher::closeRequested()
{
    auto *comparison = qobject_cast<ComparisonWidget *>(sender());
    const int index = m_documents->indexOf(comparison);
    if (index != -1) {
        comparison->deleteLater();
        m_documents->removeTab(index);
    }
}

void ComparisonLauncher::fileOpened(const QUrl &file)
{
    for (int i = 0; i < m_documents->count(); ++i) {
        if (auto *comparison = qobject_cast<ComparisonWidget *>(m_documents->widget(i)); comparison && comparison->refersTo(file)) {
            comparison->reload(customAllocators());
        }
    }
}

void ComparisonLauncher::addSnapshotEntries(const QUrl &file, const Massif::FileData *data, const Massif::SnapshotItem *snapshot, QMenu *menu)
{
    if (!file.isValid() || !data || !snapshot || !snapshot->heapTree()) {
        return;
    }
    const qint64 number = snapshot->number();
    const Massif::SnapshotItem *peak = data->peak();
    menu->addSeparator();
    if (peak && peak != snapshot) {
        // The earlier snapshot is the baseline: what grew until the peak, or what was freed after it.
        const bool beforePeak = snapshot->time() <= peak->time();
        QAction *withPeak = menu->addAction(QIcon::fromTheme(QStringLiteral("document-compare")), i18nc("@action:inmenu", "Compare With Peak"));
        connect(
            withPeak,
            &QAction::triggered,
            this,
            [this, file, number, beforePeak] {
                if (beforePeak) {
                    compare({file, number}, {file, -1});
                } else {
                    compare({file, -1}, {file, number});
                }
            },
            Qt::QueuedConnection);
    }
    QAction *setBaseline = menu->addAction(i18nc("@action:inmenu", "Set as Baseline"));
    connect(setBaseline, &QAction::triggered, this, [this, file, number] {
        m_baselineFile = file;
        m_baselineSnapshot = number;
    });
    if (m_baselineFile.isValid() && !(m_baselineFile == file && m_baselineSnapshot == number)) {
        const QUrl baselineFile = m_baselineFile;
        const qint64 baselineSnapshot = m_baselineSnapshot;
        QAction *withBaseline =
            menu->addAction(QIcon::fromTheme(QStringLiteral("document-compare")),
                            i18nc("@action:inmenu %1 number of the baseline snapshot", "Compare With Snapshot #%1", QString::number(baselineSnapshot)));
        if (baselineFile != file) {
            withBaseline->setToolTip(baselineFile.toDisplayString());
        }
        connect(
            withBaseline,
            &QAction::triggered,
            this,
            [this, file, number, baselineFile, baselineSnapshot] {
                compare({baselineFile, baselineSnapshot}, {file, number});
            },
            Qt::QueuedConnection);
    }
}
