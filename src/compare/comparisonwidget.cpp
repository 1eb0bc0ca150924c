/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "comparisonwidget.h"

#include "comparison.h"
#include "comparisonchart.h"
#include "difftreemodel.h"
#include "filedata.h"
#include "flamegraphview.h"
#include "formatting.h"
#include "profileloader.h"
#include "sitediffmodel.h"
#include "snapshotitem.h"

#include <KLocalizedString>
#include <KMessageWidget>
#include <KXMLGUIFactory>

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSortFilterProxyModel>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

using namespace Massif;

namespace {

enum Pages {
    ContentPage,
    LoadingPage,
    ErrorPage,
};

QTreeView *makeView(QWidget *parent, QSortFilterProxyModel *proxy, int sortColumn, bool tree)
{
    auto *view = new QTreeView(parent);
    view->setModel(proxy);
    view->setUniformRowHeights(true);
    view->setRootIsDecorated(tree);
    view->setAlternatingRowColors(true);
    view->setSortingEnabled(true);
    view->sortByColumn(sortColumn, Qt::DescendingOrder);
    view->header()->setStretchLastSection(false);
    view->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int column = 1; column < proxy->columnCount(); ++column) {
        view->header()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    }
    return view;
}

} // namespace

ComparisonWidget::ComparisonWidget(const Side &baseline, const Side &current, const QStringList &customAllocators, KXMLGUIClient *guiParent, QWidget *parent)
    : QWidget(parent), m_sides {baseline, current}
{
    // Without a parent client it stands alone, as in a test.
    if (guiParent) {
        guiParent->insertChildClient(this);
    }
    buildPages();
    startLoading(customAllocators);
}

ComparisonWidget::~ComparisonWidget()
{
    if (factory()) {
        factory()->removeClient(this);
    }
    // The parses stop first, then the views let go of what they show.
    for (ProfileLoader *&loader : m_loaders) {
        delete loader;
        loader = nullptr;
    }
    clearComparison();
    m_chart->setFiles(nullptr, nullptr, QString(), QString());
}

void ComparisonWidget::buildPages()
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_stack = new QStackedWidget(this);
    layout->addWidget(m_stack);

    // The comparison itself.
    auto *content = new QWidget(m_stack);
    auto *contentLayout = new QVBoxLayout(content);
    m_summary = new QLabel(content);
    m_summary->setObjectName(QStringLiteral("comparisonSummary"));
    m_summary->setTextFormat(Qt::PlainText);
    m_summary->setWordWrap(true);
    QFont bold = m_summary->font();
    bold.setBold(true);
    m_summary->setFont(bold);
    contentLayout->addWidget(m_summary);

    auto *pickerRow = new QHBoxLayout;
    const QString pickerLabels[2] = {i18nc("@label:listbox", "Baseline:"), i18nc("@label:listbox", "Current:")};
    const QString pickerNames[2] = {QStringLiteral("baselineSnapshot"), QStringLiteral("currentSnapshot")};
    for (int side = 0; side < 2; ++side) {
        auto *label = new QLabel(pickerLabels[side], content);
        m_pickers[side] = new QComboBox(content);
        m_pickers[side]->setObjectName(pickerNames[side]);
        label->setBuddy(m_pickers[side]);
        pickerRow->addWidget(label);
        pickerRow->addWidget(m_pickers[side]);
        connect(m_pickers[side], &QComboBox::activated, this, &ComparisonWidget::snapshotChosen);
    }
    pickerRow->addStretch(1);
    contentLayout->addLayout(pickerRow);

    m_tabs = new QTabWidget(content);
    m_tabs->setDocumentMode(true);
    m_tabs->setTabPosition(QTabWidget::South);
    contentLayout->addWidget(m_tabs, 1);

    auto *treePage = new QWidget(m_tabs);
    auto *treeLayout = new QVBoxLayout(treePage);
    treeLayout->setContentsMargins(0, 0, 0, 0);
    auto *filter = new QLineEdit(treePage);
    filter->setObjectName(QStringLiteral("filterDiffTree"));
    filter->setPlaceholderText(i18nc("@info:placeholder", "filter"));
    filter->setClearButtonEnabled(true);
    treeLayout->addWidget(filter);
    m_treeModel = new DiffTreeModel(this);
    m_treeProxy = new QSortFilterProxyModel(this);
    m_treeProxy->setSourceModel(m_treeModel);
    m_treeProxy->setSortRole(DiffTreeModel::SortKeyRole);
    m_treeProxy->setFilterRole(DiffTreeModel::FilterTextRole);
    m_treeProxy->setFilterKeyColumn(DiffTreeModel::FunctionColumn);
    m_treeProxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    // A row stays while something below it matches, as in the data tree.
    m_treeProxy->setRecursiveFilteringEnabled(true);
    m_treeView = makeView(treePage, m_treeProxy, DiffTreeModel::ChangeColumn, true);
    m_treeView->setObjectName(QStringLiteral("diffTree"));
    treeLayout->addWidget(m_treeView);
    m_filterTimer = new QTimer(this);
    m_filterTimer->setSingleShot(true);
    m_filterTimer->setInterval(FilterDelayMilliseconds);
    connect(filter, &QLineEdit::textChanged, m_filterTimer, qOverload<>(&QTimer::start));
    connect(m_filterTimer, &QTimer::timeout, this, [this, filter] {
        m_treeProxy->setFilterFixedString(filter->text());
    });
    m_tabs->addTab(treePage, QIcon::fromTheme(QStringLiteral("view-list-tree")), i18nc("@title:tab", "Changes"));

    m_sitesModel = new SiteDiffModel(this);
    m_sitesProxy = new QSortFilterProxyModel(this);
    m_sitesProxy->setSourceModel(m_sitesModel);
    m_sitesProxy->setSortRole(SiteDiffModel::SortKeyRole);
    m_sitesView = makeView(m_tabs, m_sitesProxy, SiteDiffModel::ChangeColumn, false);
    m_sitesView->setObjectName(QStringLiteral("diffSites"));
    m_sitesView->header()->setSectionResizeMode(SiteDiffModel::LocationColumn, QHeaderView::Interactive);
    m_tabs->addTab(m_sitesView, QIcon::fromTheme(QStringLiteral("view-list-text")), i18nc("@title:tab", "Sites"));

    m_chart = new ComparisonChart(m_tabs);
    m_chart->setObjectName(QStringLiteral("comparisonChart"));
    m_tabs->addTab(m_chart, QIcon::fromTheme(QStringLiteral("office-chart-line")), i18nc("@title:tab", "Memory Chart"));

    m_flameGraph = new FlameGraphView(m_tabs);
    m_flameGraph->setObjectName(QStringLiteral("comparisonFlameGraph"));
    m_flameGraph->setColorFunction([this](const TreeLeafItem *node) {
        const auto row = m_currentRows.constFind(node);
        return Comparison::changeColor(row == m_currentRows.constEnd() ? 0 : m_comparison->tree().row(*row).change(), m_largestChange);
    });
    m_flameGraph->setToolTipRows([this](const TreeLeafItem *node) {
        const auto found = m_currentRows.constFind(node);
        if (found == m_currentRows.constEnd()) {
            return QString();
        }
        const HeapTreeDiff::Row &row = m_comparison->tree().row(*found);
        QString change = Comparison::formatChange(row.change());
        if (row.isNew()) {
            change = i18nc("@info:tooltip %1 change", "%1, new", change);
        } else if (row.baselineCost) {
            change = i18nc("@info:tooltip %1 change, %2 change in percent", "%1, %2", change, Comparison::formatPercent(row.changePercent()));
        }
        return i18nc("@info:tooltip", "<dt>change:</dt><dd>%1</dd>", change.toHtmlEscaped());
    });
    m_tabs->addTab(m_flameGraph, QIcon::fromTheme(QStringLiteral("office-chart-bar-stacked")), i18nc("@title:tab", "Flame Graph"));
    m_stack->addWidget(content);

    // Loading.
    auto *loading = new QWidget(m_stack);
    auto *loadingLayout = new QVBoxLayout(loading);
    loadingLayout->addStretch(1);
    m_loadingMessage = new QLabel(loading);
    m_loadingMessage->setAlignment(Qt::AlignCenter);
    m_loadingMessage->setWordWrap(true);
    loadingLayout->addWidget(m_loadingMessage);
    m_progress = new QProgressBar(loading);
    m_progress->setRange(0, 0);
    loadingLayout->addWidget(m_progress);
    auto *stop = new QToolButton(loading);
    stop->setObjectName(QStringLiteral("stopParsing"));
    stop->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    stop->setIcon(QIcon::fromTheme(QStringLiteral("process-stop")));
    stop->setIconSize(QSize(48, 48));
    connect(stop, &QToolButton::clicked, this, &ComparisonWidget::requestClose);
    auto *stopRow = new QHBoxLayout;
    stopRow->addStretch(1);
    stopRow->addWidget(stop);
    stopRow->addStretch(1);
    loadingLayout->addLayout(stopRow);
    loadingLayout->addStretch(1);
    m_stack->addWidget(loading);

    // Failure.
    m_errorMessage = new KMessageWidget(m_stack);
    m_errorMessage->setWordWrap(true);
    m_errorMessage->setMessageType(KMessageWidget::Error);
    m_errorMessage->setCloseButtonVisible(false);
    m_stack->addWidget(m_errorMessage);
}

bool ComparisonWidget::sameFile() const
{
    return m_sides[0].file == m_sides[1].file;
}

bool ComparisonWidget::refersTo(const QUrl &file) const
{
    return m_sides[0].file == file || m_sides[1].file == file;
}

const FileData *ComparisonWidget::sideData(int side) const
{
    return sameFile() ? m_data[0].get() : m_data[side].get();
}

QString ComparisonWidget::title() const
{
    QString names[2];
    for (int side = 0; side < 2; ++side) {
        names[side] = m_sides[side].file.fileName();
        if (m_sides[side].snapshot >= 0) {
            names[side] = i18nc("@title:tab %1 file name, %2 snapshot number", "%1 #%2", names[side], QString::number(m_sides[side].snapshot));
        }
    }
    return i18nc("@title:tab baseline and current side of a comparison", "%1 vs %2", names[0], names[1]);
}

QString ComparisonWidget::summary() const
{
    return m_comparison ? m_comparison->summary() : QString();
}

void ComparisonWidget::startLoading(const QStringList &customAllocators)
{
    m_loaded = false;
    m_progress->setRange(0, 0);
    m_loadingMessage->setText(sameFile() ? xi18nc("@info:status", "Loading file <filename>%1</filename>…", m_sides[0].file.toString())
                                         : xi18nc("@info:status",
                                                  "Loading files <filename>%1</filename> and <filename>%2</filename>…",
                                                  m_sides[0].file.toString(),
                                                  m_sides[1].file.toString()));
    m_stack->setCurrentIndex(LoadingPage);
    for (int side = 0; side < (sameFile() ? 1 : 2); ++side) {
        auto *loader = new ProfileLoader(m_sides[side].file, customAllocators, this);
        m_loaders[side] = loader;
        connect(loader, &ProfileLoader::loaded, this, [this, side](FileData *data) {
            sideLoaded(side, data);
        });
        connect(loader, &ProfileLoader::failed, this, &ComparisonWidget::showError);
        // One bar for both files would jump back and forth: the first file's progress stands for both.
        if (side == 0) {
            connect(loader, &ProfileLoader::progressRange, m_progress, &QProgressBar::setRange);
            connect(loader, &ProfileLoader::progress, m_progress, &QProgressBar::setValue);
        }
    }
}

void ComparisonWidget::sideLoaded(int side, FileData *data)
{
    m_data[side].reset(data);
    // Done with its file; it goes once its signal has returned.
    m_loaders[side]->deleteLater();
    m_loaders[side] = nullptr;
    if (!sideData(0) || !sideData(1)) {
        return;
    }
    for (int s = 0; s < 2; ++s) {
        fillPicker(m_pickers[s], sideData(s), m_sides[s].snapshot);
    }
    m_chart->setFiles(sideData(0), sideData(1), m_sides[0].file.fileName(), m_sides[1].file.fileName());
    compare();
    m_loaded = true;
    m_stack->setCurrentIndex(ContentPage);
    Q_EMIT loadingFinished();
}

void ComparisonWidget::fillPicker(QComboBox *picker, const FileData *data, qint64 chosen)
{
    picker->clear();
    const QList<SnapshotItem *> snapshots = data->snapshots();
    for (const SnapshotItem *snapshot : snapshots) {
        if (!snapshot->heapTree()) {
            continue;
        }
        const QString text = snapshot == data->peak()
            ? i18nc("@item:inlistbox %1 snapshot number, %2 cost", "Snapshot #%1 (peak): %2", QString::number(snapshot->number()), formatCost(snapshot->cost()))
            : i18nc("@item:inlistbox %1 snapshot number, %2 cost", "Snapshot #%1: %2", QString::number(snapshot->number()), formatCost(snapshot->cost()));
        picker->addItem(text, qint64(snapshot->number()));
        if ((chosen < 0 && snapshot == data->peak()) || qint64(snapshot->number()) == chosen) {
            picker->setCurrentIndex(picker->count() - 1);
        }
    }
}

void ComparisonWidget::clearComparison()
{
    m_treeModel->setComparison(nullptr);
    m_sitesModel->setComparison(nullptr);
    m_flameGraph->setSnapshot(nullptr, false);
    m_currentRows.clear();
    m_largestChange = 0;
    m_comparison.reset();
}

void ComparisonWidget::compare()
{
    const SnapshotItem *snapshots[2] = {nullptr, nullptr};
    for (int side = 0; side < 2; ++side) {
        const FileData *data = sideData(side);
        const QVariant chosen = m_pickers[side]->currentData();
        snapshots[side] = chosen.isValid() ? Comparison::snapshotByNumber(data, quint32(chosen.toLongLong())) : data->peak();
        m_sides[side].snapshot = snapshots[side] && snapshots[side] != data->peak() ? qint64(snapshots[side]->number()) : -1;
    }
    clearComparison();
    m_comparison = std::make_unique<Comparison>(sideData(0), snapshots[0], sideData(1), snapshots[1]);
    m_treeModel->setComparison(m_comparison.get());
    m_sitesModel->setComparison(m_comparison.get());
    const HeapTreeDiff &diff = m_comparison->tree();
    m_currentRows = diff.currentNodeRows();
    for (qsizetype i = 0; i < diff.size(); ++i) {
        const qint64 change = diff.row(i).change();
        m_largestChange = std::max(m_largestChange, change < 0 ? quint64(0) - quint64(change) : quint64(change));
    }
    m_flameGraph->setSnapshot(snapshots[1], false);
    m_summary->setText(m_comparison->summary());
    Q_EMIT titleChanged(title());
}

void ComparisonWidget::snapshotChosen()
{
    if (m_loaded) {
        compare();
    }
}

void ComparisonWidget::setSnapshots(qint64 baseline, qint64 current)
{
    m_sides[0].snapshot = baseline;
    m_sides[1].snapshot = current;
    if (!m_loaded) {
        return;
    }
    for (int side = 0; side < 2; ++side) {
        fillPicker(m_pickers[side], sideData(side), m_sides[side].snapshot);
    }
    compare();
}

void ComparisonWidget::reload(const QStringList &customAllocators)
{
    for (ProfileLoader *&loader : m_loaders) {
        delete loader;
        loader = nullptr;
    }
    clearComparison();
    m_chart->setFiles(nullptr, nullptr, QString(), QString());
    m_data[0].reset();
    m_data[1].reset();
    startLoading(customAllocators);
}

void ComparisonWidget::showError(const QString &title, const QString &message)
{
    m_errorMessage->setText(QStringLiteral("<b>%1</b><p style=\"text-align:left\">%2</p>").arg(title, message));
    m_stack->setCurrentIndex(ErrorPage);
}
