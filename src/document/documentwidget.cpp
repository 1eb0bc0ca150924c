/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "documentwidget.h"
#include "allocatorstab.h"
#include "callgraphtab.h"
#include "charttab.h"
#include "filedata.h"
#include "flamegraphtab.h"
#include "formatting.h"
#include "graphviewerplugin.h"
#include "parseworker.h"
#include "snapshotitem.h"
#include "threadhandoff.h"

#include <KLocalizedString>
#include <KMessageWidget>
#include <KParts/ReadOnlyPart>
#include <KPluginFactory>
#include <KPluginMetaData>
#include <KXMLGUIFactory>

#include <QClipboard>
#include <QCoreApplication>
#include <QDebug>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QSpacerItem>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTextDocument>
#include <QThread>
#include <QToolButton>
#include <QVBoxLayout>

#include <limits>

namespace {

// Only the program's own viewer; its factory is loaded once per process.
KParts::ReadOnlyPart *createGraphViewerPart(QWidget *parent)
{
    return Massif::createGraphViewerPart(Massif::graphViewerFactory(), parent, parent);
}

// A label wraps only between words, so an unbroken run is given places to
// break; an error's text between two tags is cut after this many characters.
constexpr int BreakAfterChars = 40;
constexpr int MaxErrorTextChars = 1000;
constexpr QChar BreakPoint(0x200B);

/**
 * @p html with a zero-width space in every run of more than BreakAfterChars
 * visible characters and each text between tags cut to @p maxTextChars. Tags
 * and character entities are kept whole.
 */
QString wrappableHtml(const QString &html, int maxTextChars = std::numeric_limits<int>::max())
{
    QString result;
    result.reserve(html.size());
    int run = 0;
    int shown = 0;
    bool cut = false;
    for (qsizetype i = 0; i < html.size();) {
        const QChar c = html.at(i);
        if (c == QLatin1Char('<')) {
            const qsizetype end = html.indexOf(QLatin1Char('>'), i);
            const qsizetype next = end < 0 ? html.size() : end + 1;
            result += QStringView(html).sliced(i, next - i);
            i = next;
            run = 0;
            shown = 0;
            cut = false;
            continue;
        }
        qsizetype next = i + 1;
        if (c == QLatin1Char('&')) {
            const qsizetype end = html.indexOf(QLatin1Char(';'), i);
            if (end > i && end - i <= 10) {
                next = end + 1;
            }
        } else if (c.isHighSurrogate() && next < html.size() && html.at(next).isLowSurrogate()) {
            ++next;
        }
        if (cut) {
            i = next;
            continue;
        }
        if (shown == maxTextChars) {
            result += QChar(0x2026);
            cut = true;
            i = next;
            continue;
        }
        if (c.isSpace()) {
            run = 0;
        } else if (run == BreakAfterChars) {
            result += BreakPoint;
            run = 0;
        }
        result += QStringView(html).sliced(i, next - i);
        ++run;
        ++shown;
        i = next;
    }
    return result;
}

/**
 * Text copied from @p message without the break points wrappableHtml() put
 * in: whoever pastes it gets the text as the file holds it.
 */
void dropBreakPoints(const KMessageWidget *message, QClipboard::Mode mode)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    const QString copied = clipboard->text(mode);
    if (!copied.contains(BreakPoint)) {
        return;
    }
    QTextDocument page;
    page.setHtml(message->text());
    const QString plain = copied.simplified().remove(BreakPoint);
    if (!plain.isEmpty() && page.toPlainText().simplified().remove(BreakPoint).contains(plain)) {
        clipboard->setText(QString(copied).remove(BreakPoint), mode);
    }
}

} // namespace

DocumentWidget::DocumentWidget(const QUrl &file, const QStringList &customAllocators, KXMLGUIClient *guiParent, QWidget *parent)
    : QWidget(parent)
    , KXMLGUIClient(guiParent)
    , m_parseWorker(new Massif::ParseWorker)
    , m_file(file)
    , m_stack(new QStackedWidget(this))
    , m_tabs(new QTabWidget(m_stack))
{
    connect(m_parseWorker, &Massif::ParseWorker::finished, this, &DocumentWidget::parserFinished);
    connect(m_parseWorker, &Massif::ParseWorker::error, this, &DocumentWidget::showError);
    connect(m_parseWorker, &Massif::ParseWorker::progressRange, this, &DocumentWidget::setRange);
    connect(m_parseWorker, &Massif::ParseWorker::progress, this, &DocumentWidget::setProgress);

    auto *thread = new QThread(this);
    thread->start();
    m_parseWorker->moveToThread(thread);
    m_parseWorker->parse(m_file, customAllocators);

    setXMLFile(QStringLiteral("documentwidgetui.rc"), true);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_stack);
    m_tabs->setDocumentMode(true);
    m_tabs->setTabPosition(QTabWidget::South);
    m_stack->addWidget(m_tabs);

    buildLoadingPage();
    m_stack->setCurrentIndex(1);
}

DocumentWidget::~DocumentWidget()
{
    stopParser();
    // The tabs go before the data they show: a call graph tab waits for its
    // generators, which may still read the heap trees.
    delete m_tabs;
    m_tabs = nullptr;
    m_currentTab = nullptr;
    delete m_data;
    m_data = nullptr;
    m_file.clear();
}

void DocumentWidget::buildLoadingPage()
{
    auto *page = new QWidget(m_stack);
    auto *layout = new QVBoxLayout(page);
    layout->addItem(new QSpacerItem(20, 247, QSizePolicy::Minimum, QSizePolicy::Expanding));

    m_loadingMessage = new QLabel(page);
    m_loadingMessage->setAlignment(Qt::AlignCenter);
    // A long URL wraps rather than widening the window.
    m_loadingMessage->setWordWrap(true);
    m_loadingMessage->setText(wrappableHtml(xi18nc("@info:status", "Loading file <filename>%1</filename>…", m_file.toString())));
    layout->addWidget(m_loadingMessage);

    m_loadingProgressBar = new QProgressBar(page);
    m_loadingProgressBar->setRange(0, 0);
    layout->addWidget(m_loadingProgressBar);

    auto *buttonRow = new QWidget(page);
    buttonRow->setLayoutDirection(Qt::LeftToRight);
    auto *buttonLayout = new QHBoxLayout(buttonRow);
    m_stopParserButton = new QToolButton(buttonRow);
    m_stopParserButton->setObjectName(QStringLiteral("stopParsing"));
    m_stopParserButton->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_stopParserButton->setIcon(QIcon::fromTheme(QStringLiteral("process-stop")));
    m_stopParserButton->setIconSize(QSize(48, 48));
    buttonLayout->addWidget(m_stopParserButton);
    connect(m_stopParserButton, &QToolButton::clicked, this, &DocumentWidget::requestClose);
    layout->addWidget(buttonRow);

    layout->addItem(new QSpacerItem(20, 230, QSizePolicy::Minimum, QSizePolicy::Expanding));
    m_stack->addWidget(page);
}

void DocumentWidget::stopParser()
{
    if (!m_parseWorker) {
        return;
    }
    Massif::ParseWorker *worker = m_parseWorker;
    m_parseWorker = nullptr;
    Massif::ParseWorker::stopThread(worker, m_file);
    // A result sent just before the stop is still queued for this widget; it
    // is taken now, so that its data is freed instead of lost with the event.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void DocumentWidget::setRange(int minimum, int maximum)
{
    m_loadingProgressBar->setRange(minimum, maximum);
}

void DocumentWidget::setProgress(int value)
{
    m_loadingProgressBar->setValue(value);
}

void DocumentWidget::parserFinished(const QUrl &file, Massif::FileData *data)
{
    Massif::acquireFromOtherThread(data);
    if (!m_parseWorker) {
        // Stopped: the document is closing and shows nothing more.
        delete data;
        return;
    }
    const Massif::SnapshotItem *peak = data->peak();
    qDebug() << "loaded massif file:" << file;
    qDebug() << "description:" << data->description();
    qDebug() << "command:" << data->command();
    qDebug() << "time unit:" << data->timeUnit();
    qDebug() << "snapshots:" << data->snapshots().size();
    qDebug() << "peak: snapshot #" << peak->number() << "after" << peak->time() << data->timeUnit();
    qDebug() << "peak cost:" << Massif::formatCost(peak->memHeap()) << "heap" << Massif::formatCost(peak->memHeapExtra()) << "heap extra"
             << Massif::formatCost(peak->memStacks()) << "stacks";

    m_data = data;
    m_file = file;

    auto *chartTab = new ChartTab(m_data, this, this);
    connect(chartTab, &ChartTab::compareSnapshotsRequested, this, &DocumentWidget::compareSnapshotsRequested);
    addTab(chartTab, QIcon::fromTheme(QStringLiteral("office-chart-area-stacked")), i18nc("@title:tab", "Memory Chart"));
    if (KParts::ReadOnlyPart *part = createGraphViewerPart(this)) {
        // The viewer's own icon comes with its application, which our own
        // viewer plug-in does not bring along; a graph from the theme stands in.
        const QIcon icon = QIcon::fromTheme(QStringLiteral("kgraphviewer"), QIcon::fromTheme(QStringLiteral("distribute-graph-directed")));
        addTab(new CallGraphTab(m_data, part, this, this), icon, i18nc("@title:tab", "Callgraph"));
    }
    addTab(new FlameGraphTab(m_data, this, this), QIcon::fromTheme(QStringLiteral("office-chart-bar-stacked")), i18nc("@title:tab", "Flame Graph"));
    addTab(new AllocatorsTab(m_data, this, this), QIcon::fromTheme(QStringLiteral("view-list-text")), i18nc("@title:tab", "Allocators"));

    m_tabs->setCurrentIndex(0);
    connect(m_tabs, &QTabWidget::currentChanged, this, &DocumentWidget::slotTabChanged);
    slotTabChanged(0);

    if (!m_data->warning().isEmpty()) {
        // Above the tabs: what they show is not all that the file was meant to hold.
        auto *warning = new KMessageWidget(m_data->warning(), this);
        warning->setObjectName(QStringLiteral("fileWarning"));
        warning->setMessageType(KMessageWidget::Warning);
        warning->setWordWrap(true);
        static_cast<QVBoxLayout *>(layout())->insertWidget(0, warning);
    }

    m_loaded = true;
    m_stack->setCurrentIndex(0);
    Q_EMIT loadingFinished();
}

void DocumentWidget::addTab(DocumentTabInterface *tab, const QIcon &icon, const QString &title)
{
    m_tabs->addTab(tab, icon, title);
    connect(tab, &DocumentTabInterface::modelItemSelected, this, &DocumentWidget::modelItemSelected);
    connect(tab, &DocumentTabInterface::contextMenuRequested, this, &DocumentWidget::contextMenuRequested);
}

void DocumentWidget::showError(const QString &title, const QString &error)
{
    if (!m_parseWorker) {
        return;
    }
    if (!m_errorMessage) {
        m_errorMessage = new KMessageWidget(m_stack);
        m_stack->addWidget(m_errorMessage);
        m_errorMessage->setWordWrap(true);
        m_errorMessage->setMessageType(KMessageWidget::Error);
        m_errorMessage->setCloseButtonVisible(false);
        m_errorMessage->installEventFilter(this);
        QClipboard *clipboard = QGuiApplication::clipboard();
        connect(clipboard, &QClipboard::dataChanged, m_errorMessage, [message = m_errorMessage] {
            dropBreakPoints(message, QClipboard::Clipboard);
        });
        connect(clipboard, &QClipboard::selectionChanged, m_errorMessage, [message = m_errorMessage] {
            dropBreakPoints(message, QClipboard::Selection);
        });
    }
    m_errorMessage->setText(wrappableHtml(QStringLiteral("<b>%1</b><p style=\"text-align:left\">%2</p>").arg(title).arg(error), MaxErrorTextChars));
    m_stack->setCurrentWidget(m_errorMessage);
}

bool DocumentWidget::eventFilter(QObject *watched, QEvent *event)
{
    // The message fixes its height for the width it prefers; at a narrower
    // one its text wraps into more lines, and the last ones would be cut.
    if (watched == m_errorMessage && (event->type() == QEvent::Resize || event->type() == QEvent::Show)) {
        const int needed = m_errorMessage->heightForWidth(m_errorMessage->width());
        if (needed > 0 && needed != m_errorMessage->height()) {
            m_errorMessage->setFixedHeight(needed);
        }
    }
    return QWidget::eventFilter(watched, event);
}

QSize DocumentWidget::minimumSizeHint() const
{
    // Whatever a page holds, it does not push the window beyond the screen;
    // the docks and bars need their room beside it.
    const QSize hint = QWidget::minimumSizeHint();
    const QScreen *current = screen();
    return current ? hint.boundedTo(current->availableSize() / 2) : hint;
}

QSize DocumentWidget::sizeHint() const
{
    const QSize hint = QWidget::sizeHint();
    const QScreen *current = screen();
    return current ? hint.boundedTo(current->availableSize()) : hint;
}

void DocumentWidget::slotTabChanged(int tab)
{
    if (!factory()) {
        return;
    }
    if (m_currentTab) {
        factory()->removeClient(m_currentTab);
    }
    if (tab < 0 || tab >= m_tabs->count()) {
        return;
    }
    m_currentTab = static_cast<DocumentTabInterface *>(m_tabs->widget(tab));
    factory()->addClient(m_currentTab);
}

QList<DocumentTabInterface *> DocumentWidget::documentTabs() const
{
    QList<DocumentTabInterface *> tabs;
    for (int i = 0; m_tabs && i < m_tabs->count(); ++i) {
        tabs << static_cast<DocumentTabInterface *>(m_tabs->widget(i));
    }
    return tabs;
}

void DocumentWidget::settingsChanged()
{
    const auto tabs = documentTabs();
    for (DocumentTabInterface *tab : tabs) {
        tab->settingsChanged();
    }
}

void DocumentWidget::selectModelItem(const Massif::ModelItem &item)
{
    const auto tabs = documentTabs();
    for (DocumentTabInterface *tab : tabs) {
        tab->selectModelItem(item);
    }
}

void DocumentWidget::mergeGuiClient(KXMLGUIFactory *factory)
{
    factory->addClient(this);
    const auto tabs = documentTabs();
    for (int i = 0; i < tabs.size(); ++i) {
        if (i != m_tabs->currentIndex()) {
            factory->removeClient(tabs.at(i));
        }
    }
    // The tab merged now is the one the next tab change has to take out again.
    m_currentTab = tabs.value(m_tabs->currentIndex());
}

void DocumentWidget::unmergeGuiClient(KXMLGUIFactory *factory)
{
    factory->removeClient(this);
}
