/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef DOCUMENTWIDGET_H
#define DOCUMENTWIDGET_H

#include "modelitem.h"

#include <KXMLGUIClient>

#include <QUrl>
#include <QWidget>

class DocumentTabInterface;
class KMessageWidget;
class KXMLGUIFactory;
class QIcon;
class QLabel;
class QMenu;
class QProgressBar;
class QStackedWidget;
class QTabWidget;
class QToolButton;

namespace Massif {
class FileData;
class ParseWorker;
} // namespace Massif

/**
 * One open massif file: loads it on a thread of its own, then shows its tabs
 * (memory chart, call graph, allocators) or the error that stopped it.
 */
class DocumentWidget
    : public QWidget
    , public KXMLGUIClient
{
    Q_OBJECT
public:
    DocumentWidget(const QUrl &file, const QStringList &customAllocators, KXMLGUIClient *guiParent, QWidget *parent = nullptr);
    ~DocumentWidget() override;

    Massif::FileData *data() const
    {
        return m_data;
    }
    QUrl file() const
    {
        return m_file;
    }
    bool isParsed() const
    {
        return m_loaded;
    }

    void settingsChanged();
    void selectModelItem(const Massif::ModelItem &item);

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;
    bool eventFilter(QObject *watched, QEvent *event) override;

    void mergeGuiClient(KXMLGUIFactory *factory);
    void unmergeGuiClient(KXMLGUIFactory *factory);

Q_SIGNALS:
    void loadingFinished();
    void modelItemSelected(const Massif::ModelItem &item);
    void contextMenuRequested(const Massif::ModelItem &item, QMenu *menu);
    /// Two snapshots of this document's file to compare, numbered as in the file.
    void compareSnapshotsRequested(qint64 baseline, qint64 current);
    void requestClose();

private Q_SLOTS:
    void stopParser();
    void parserFinished(const QUrl &file, Massif::FileData *data);
    void setProgress(int value);
    void setRange(int minimum, int maximum);
    void showError(const QString &title, const QString &error);
    void slotTabChanged(int tab);

private:
    void buildLoadingPage();
    void addTab(DocumentTabInterface *tab, const QIcon &icon, const QString &title);
    QList<DocumentTabInterface *> documentTabs() const;

    Massif::FileData *m_data = nullptr;
    Massif::ParseWorker *m_parseWorker = nullptr;
    QUrl m_file;
    DocumentTabInterface *m_currentTab = nullptr;
    QStackedWidget *m_stack = nullptr;
    QTabWidget *m_tabs = nullptr;
    KMessageWidget *m_errorMessage = nullptr;
    QLabel *m_loadingMessage = nullptr;
    QProgressBar *m_loadingProgressBar = nullptr;
    QToolButton *m_stopParserButton = nullptr;
    bool m_loaded = false;
};

#endif
