/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef COMPARISONWIDGET_H
#define COMPARISONWIDGET_H

#include <KXMLGUIClient>

#include <QHash>
#include <QUrl>
#include <QWidget>

#include <memory>

class FlameGraphView;
class KMessageWidget;
class QComboBox;
class QLabel;
class QProgressBar;
class QSortFilterProxyModel;
class QStackedWidget;
class QTabWidget;
class QTimer;
class QTreeView;

namespace Massif {
class Comparison;
class ComparisonChart;
class DiffTreeModel;
class FileData;
class ProfileLoader;
class SiteDiffModel;
class TreeLeafItem;
} // namespace Massif

/**
 * A document of the main window's tab bar that compares one snapshot with
 * another, of one file or of two: the summary line, the merged heap tree,
 * the sites, both total curves and the current tree as a flame graph
 * coloured by change. It reads its files itself, on threads of
 * its own, so that it does not depend on the documents that show them.
 */
class ComparisonWidget
    : public QWidget
    , public KXMLGUIClient
{
    Q_OBJECT
public:
    /// A file and the number of one of its snapshots; a negative number stands for the peak.
    struct Side
    {
        QUrl file;
        qint64 snapshot = -1;
    };

    ComparisonWidget(const Side &baseline, const Side &current, const QStringList &customAllocators, KXMLGUIClient *guiParent, QWidget *parent = nullptr);
    ~ComparisonWidget() override;

    /// "BASE vs CURRENT": the file names, with the snapshot numbers where they are not the peaks.
    QString title() const;
    /// The summary line of the comparison; empty while loading.
    QString summary() const;
    bool isLoaded() const
    {
        return m_loaded;
    }
    /// Whether either side reads @p file.
    bool refersTo(const QUrl &file) const;
    Side baseline() const
    {
        return m_sides[0];
    }
    Side current() const
    {
        return m_sides[1];
    }
    const Massif::Comparison *comparison() const
    {
        return m_comparison.get();
    }

    /// Reads both files again, keeping the chosen snapshots where they still exist.
    void reload(const QStringList &customAllocators);
    /// Compares other snapshots; a negative number stands for the peak.
    void setSnapshots(qint64 baseline, qint64 current);

    /// Longest a filter keystroke waits for the next before the tree is filtered.
    static constexpr int FilterDelayMilliseconds = 150;

Q_SIGNALS:
    void loadingFinished();
    void titleChanged(const QString &title);
    void requestClose();

private Q_SLOTS:
    void showError(const QString &title, const QString &message);
    void snapshotChosen();

private:
    void sideLoaded(int side, Massif::FileData *data);
    void buildPages();
    void startLoading(const QStringList &customAllocators);
    void clearComparison();
    void compare();
    void fillPicker(QComboBox *picker, const Massif::FileData *data, qint64 chosen);
    const Massif::FileData *sideData(int side) const;
    bool sameFile() const;

    Side m_sides[2];
    Massif::ProfileLoader *m_loaders[2] = {nullptr, nullptr};
    std::unique_ptr<Massif::FileData> m_data[2];
    std::unique_ptr<Massif::Comparison> m_comparison;
    bool m_loaded = false;

    QStackedWidget *m_stack = nullptr;
    QLabel *m_loadingMessage = nullptr;
    QProgressBar *m_progress = nullptr;
    KMessageWidget *m_errorMessage = nullptr;
    QLabel *m_summary = nullptr;
    QComboBox *m_pickers[2] = {nullptr, nullptr};
    QTabWidget *m_tabs = nullptr;
    QTreeView *m_treeView = nullptr;
    QTreeView *m_sitesView = nullptr;
    Massif::DiffTreeModel *m_treeModel = nullptr;
    QSortFilterProxyModel *m_treeProxy = nullptr;
    Massif::SiteDiffModel *m_sitesModel = nullptr;
    QSortFilterProxyModel *m_sitesProxy = nullptr;
    Massif::ComparisonChart *m_chart = nullptr;
    FlameGraphView *m_flameGraph = nullptr;
    /// Where the flame graph's nodes find their change.
    QHash<const Massif::TreeLeafItem *, qint32> m_currentRows;
    quint64 m_largestChange = 0;
    QTimer *m_filterTimer = nullptr;
};

#endif
