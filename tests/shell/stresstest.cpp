/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

// Reliability of the whole application: documents opened, reloaded, switched
// and closed while they load or draw their call graph, memory given back
// afterwards, and texts from hostile files shown as text wherever they appear.

#include "documenttabinterface.h"
#include "documentwidget.h"
#include "dotgraphgenerator.h"
#include "filedata.h"
#include "graphviewerplugin.h"
#include "mainwindow.h"
#include "settings.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <KAboutData>
#include <KActionCollection>
#include <KChartChart>
#include <KLocalizedString>
#include <KMessageWidget>
#include <KParts/ReadOnlyPart>
#include <KSharedConfig>
#include <KXMLGUIFactory>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListView>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QStringListModel>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QThread>
#include <QTreeView>
#include <QWindow>

#include <memory>

#include <malloc.h>
#include <unistd.h>

using namespace Massif;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool underSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool underSanitizer = true;
#else
constexpr bool underSanitizer = false;
#endif
#else
constexpr bool underSanitizer = false;
#endif

// One arena for all threads, set before the first thread starts: glibc keeps
// the free top of every other arena, which malloc_trim() does not return, and
// the resident size would tell little about what the program holds.
[[maybe_unused]] const int oneArena = mallopt(M_ARENA_MAX, 1);

// Sanitizers are slow: every bounded wait is generous.
constexpr int LoadTimeout = 120000;
constexpr int LargeCopies = 20;

// One turn of the event loop, deferred deletions included.
void spinOnce()
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void flushDeferredDeletes()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

qint64 residentBytes()
{
    flushDeferredDeletes();
    malloc_trim(0);
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() * sysconf(_SC_PAGESIZE) : -1;
}

QByteArray snapshotRecord(int number, quint64 heap, const QByteArray &tree)
{
    return "#-----------\nsnapshot=" + QByteArray::number(number) + "\n#-----------\ntime=" + QByteArray::number(number * 1000) +
        "\nmem_heap_B=" + QByteArray::number(heap) + "\nmem_heap_extra_B=8\nmem_stacks_B=0\n" +
        (tree.isEmpty() ? QByteArray("heap_tree=empty\n") : "heap_tree=detailed\n" + tree);
}

// Many detailed snapshots of one wide tree: slow enough to parse that a
// document is still loading while the test acts on it, and large enough in
// memory that a lost one shows in the resident size.
QByteArray largeProfile(int snapshots, int functions)
{
    QByteArray tree =
        "n" + QByteArray::number(functions) + ": " + QByteArray::number(functions * 64) + " (heap allocation functions) malloc/new/new[], --alloc-fns, etc.\n";
    for (int i = 0; i < functions; ++i) {
        tree += " n1: 64 0x" + QByteArray::number(0x400000 + i, 16) + ": function_" + QByteArray::number(i) + "(int, char const*) (file" +
            QByteArray::number(i % 7) + ".c:" + QByteArray::number(i) + ")\n";
        tree += "  n0: 64 0x401000: main (main.c:10)\n";
    }
    QByteArray file = "desc: --massif-out-file=large.massif\ncmd: ./large\ntime_unit: i\n";
    for (int i = 0; i < snapshots; ++i) {
        file += snapshotRecord(i, functions * 64, tree);
    }
    return file;
}

QString renderedText(const QString &richText)
{
    QTextDocument document;
    document.setHtml(richText);
    return document.toPlainText();
}

// What a label shows, taken as rich or plain text as the label takes it.
QString shownText(const QLabel *label)
{
    const bool rich = label->textFormat() == Qt::RichText || (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
    // Zero-width spaces only let long runs wrap; nobody sees them.
    return (rich ? renderedText(label->text()) : label->text()).remove(QChar(0x200B));
}

// Hostile pieces of labels and commands: markup, entities, quotes,
// backslashes, control bytes and bytes that are no UTF-8.
const QByteArray markupFunction = QByteArrayLiteral("<b>bold</b>&amp;\"q\"'s'\\back\\slash<script>x</script>");
const QByteArray markupLocation = QByteArrayLiteral("<i>file</i>&lt;.c:1");
const QByteArray controlFunction = QByteArrayLiteral("ctl\x01\x02\x1b[31m\x7f"
                                                     "bad\xff\xfe\xc3(");
const QByteArray templateFunction = QByteArrayLiteral("std::vector<int>::operator<<(a&b){lambda()#1}|\"x\"");
// A legend label that asks for a colour no chart element has.
const QByteArray colourFunction = QByteArrayLiteral("<font size=\"7\" color=\"#1f2e3d\">WWWWWW</font>");
const QRgb colourOfLabel = qRgb(0x1f, 0x2e, 0x3d);
const QByteArray hostileCommand =
    QByteArrayLiteral("./<b>prog</b>&amp; <i>in</i> \"quoted\" 's' back\\slash [*] %1 %2 \x01\x07\x1b[0m \xff\xfe\xc3 \xc3\xa9t\xc3\xa9");
const QByteArray hostileDescription = QByteArrayLiteral("--massif-out-file=<u>x</u>&amp; \x01\xff");

QByteArray hostileProfile()
{
    const QByteArray main = "  n0: 1000 0x2: main (m.c:1)\n";
    QByteArray tree = "n4: 4000 (heap allocation functions) malloc/new/new[], --alloc-fns, etc.\n";
    tree += " n1: 1000 0x1: " + markupFunction + " (" + markupLocation + ")\n" + main;
    tree += " n1: 1000 0x5: " + colourFunction + " (z.c:4)\n" + main;
    tree += " n1: 1000 0x3: " + controlFunction + " (x.c:2)\n" + main;
    tree += " n1: 1000 0x4: " + templateFunction + " (y.cpp:3)\n" + main;
    return "desc: " + hostileDescription + "\ncmd: " + hostileCommand + "\ntime_unit: i\n" + snapshotRecord(0, 0, {}) + snapshotRecord(1, 4000, tree) +
        snapshotRecord(2, 4000, tree);
}

} // namespace

class StressTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void openManyAndCloseWhileLoading();
    void closeWithResultUndelivered();
    void reloadManyTimes();
    void switchTabsWhileLoading();
    void allocatorChangesWhileLoading();
    void closeWindowWhileLoading();
    void closeWhileCallGraphGenerates();

    void hostileTextsShownAsText();
    void hostileErrorPage_data();
    void hostileErrorPage();
    void hostileDotFile();

private:
    DocumentWidget *document(int index) const;
    DocumentWidget *openAndWait(const QUrl &url);
    QUrl largeUrl(int copy) const;
    void createWindow();
    void verifyMemoryBackNearBaseline();
    int dotFilesLeft() const;

    std::unique_ptr<MainWindow> m_window;
    QTabWidget *m_documents = nullptr;
    QTreeView *m_tree = nullptr;
    QStringListModel *m_allocators = nullptr;
    QTemporaryDir m_dir;
    QString m_tempDir;
    QString m_hostilePath;
    QString m_widePath;
    qint64 m_baseline = 0;
};

void StressTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    KLocalizedString::setApplicationDomain("quillmap");
    KAboutData about(QStringLiteral("quillmap"), QStringLiteral("Quillmap"), QStringLiteral("test"));
    KAboutData::setApplicationData(about);
    addGraphViewerPluginPaths();
    QVERIFY(m_dir.isValid());

    // Dot files go here, where the test can count what is left of them.
    m_tempDir = m_dir.filePath(QStringLiteral("tmp"));
    QVERIFY(QDir().mkpath(m_tempDir));
    qputenv("TMPDIR", QFile::encodeName(m_tempDir));
    QCOMPARE(QDir(QDir::tempPath()).canonicalPath(), QDir(m_tempDir).canonicalPath());

    const QString large = m_dir.filePath(QStringLiteral("large.massif"));
    QFile file(large);
    QVERIFY(file.open(QIODevice::WriteOnly));
    // A parse of a few hundred milliseconds; sanitizers make it several times slower.
    QVERIFY(file.write(largeProfile(underSanitizer ? 80 : 250, 600)) > 0);
    file.close();
    // Distinct URLs of one file: every copy gets a tab of its own.
    for (int i = 1; i < LargeCopies; ++i) {
        QVERIFY(QFile::link(large, m_dir.filePath(QStringLiteral("large-%1.massif").arg(i))));
    }

    // One snapshot with a wide tree: its call graph takes a while to write.
    m_widePath = m_dir.filePath(QStringLiteral("wide.massif"));
    QFile wide(m_widePath);
    QVERIFY(wide.open(QIODevice::WriteOnly));
    QVERIFY(wide.write(largeProfile(1, 6000)) > 0);
    wide.close();

    m_hostilePath = m_dir.filePath(QStringLiteral("hostile.massif"));
    QFile hostile(m_hostilePath);
    QVERIFY(hostile.open(QIODevice::WriteOnly));
    QVERIFY(hostile.write(hostileProfile()) > 0);
    hostile.close();

    // One whole cycle first, so that one-time caches (fonts, icons, plug-ins,
    // translations) are in the baseline.
    createWindow();
    QElapsedTimer timer;
    timer.start();
    DocumentWidget *loaded = openAndWait(largeUrl(0));
    qDebug() << "large parse" << timer.elapsed();
    QVERIFY(loaded);
    auto *tabs = loaded->findChild<QTabWidget *>();
    for (int i = tabs->count() - 1; i >= 0; --i) {
        tabs->setCurrentIndex(i);
        spinOnce();
    }
    m_window->closeCurrentFile();
    m_window.reset();
    m_baseline = residentBytes();
    const struct mallinfo2 heap = mallinfo2();
    qDebug() << "resident after the first cycle:" << m_baseline / (1024 * 1024) << "MiB; allocated" << (heap.uordblks + heap.hblkhd) / (1024 * 1024) << "MiB";
}

void StressTest::init()
{
    // Signs of a stop that did not work, or of a thread destroyed while running.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("still busy|Destroyed while thread|Timers cannot be")));
    KSharedConfig::Ptr config = KSharedConfig::openConfig();
    for (const QString &group : config->groupList()) {
        config->deleteGroup(group);
    }
    config->sync();
    Settings::self()->load();
    createWindow();
}

void StressTest::createWindow()
{
    m_window = std::make_unique<MainWindow>();
    m_window->setAttribute(Qt::WA_DeleteOnClose, false);
    m_window->show();
    m_documents = m_window->findChild<QTabWidget *>(QStringLiteral("documents"));
    m_tree = m_window->findChild<QTreeView *>(QStringLiteral("dataTreeView"));
    auto *allocatorView = m_window->findChild<QListView *>(QStringLiteral("allocatorView"));
    m_allocators = allocatorView ? qobject_cast<QStringListModel *>(allocatorView->model()) : nullptr;
    QVERIFY(m_documents && m_tree && m_allocators);
}

void StressTest::cleanup()
{
    m_window.reset();
    flushDeferredDeletes();
    QCOMPARE(dotFilesLeft(), 0);
}

DocumentWidget *StressTest::document(int index) const
{
    return qobject_cast<DocumentWidget *>(m_documents->widget(index));
}

DocumentWidget *StressTest::openAndWait(const QUrl &url)
{
    m_window->openFile(url);
    QPointer<DocumentWidget> opened = qobject_cast<DocumentWidget *>(m_documents->currentWidget());
    if (!QTest::qWaitFor(
            [opened] {
                return opened && opened->isParsed();
            },
            LoadTimeout)) {
        qWarning() << "not loaded:" << url;
        return nullptr;
    }
    return opened;
}

QUrl StressTest::largeUrl(int copy) const
{
    return QUrl::fromLocalFile(m_dir.filePath(copy == 0 ? QStringLiteral("large.massif") : QStringLiteral("large-%1.massif").arg(copy)));
}

int StressTest::dotFilesLeft() const
{
    return QDir(m_tempDir).entryList(QDir::Files | QDir::Hidden).size();
}

// Closed documents give their memory back: within 30 % or 50 MiB of the
// resident size after the first cycle, whichever is more.
void StressTest::verifyMemoryBackNearBaseline()
{
    const qint64 now = residentBytes();
    const qint64 slack = std::max<qint64>(m_baseline * 3 / 10, 50 * 1024 * 1024);
    const struct mallinfo2 heap = mallinfo2();
    qDebug() << "resident:" << now / (1024 * 1024) << "MiB, baseline" << m_baseline / (1024 * 1024) << "MiB; allocated"
             << (heap.uordblks + heap.hblkhd) / (1024 * 1024) << "MiB";
    if (underSanitizer) {
        // The sanitizers' allocators keep freed memory in quarantine.
        return;
    }
    // A stopped parse that was left to end on its own, on a busy machine,
    // gives its memory back a little later: wait for it, within bounds.
    qint64 settled = now;
    QTRY_VERIFY2_WITH_TIMEOUT((settled = residentBytes()) <= m_baseline + slack,
                              qPrintable(QStringLiteral("%1 MiB resident, baseline %2 MiB").arg(settled >> 20).arg(m_baseline >> 20)),
                              60000);
}

void StressTest::openManyAndCloseWhileLoading()
{
    QList<QPointer<QThread>> threads;
    for (int i = 0; i < LargeCopies; ++i) {
        m_window->openFile(largeUrl(i));
        threads << document(i)->findChild<QThread *>(QString(), Qt::FindDirectChildrenOnly);
        QVERIFY(threads.last());
    }
    QCOMPARE(m_documents->count(), LargeCopies);
    while (m_documents->count() > 0) {
        m_window->closeCurrentFile();
    }
    flushDeferredDeletes();
    // Every parse thread has ended and gone with its document.
    for (const QPointer<QThread> &thread : std::as_const(threads)) {
        QVERIFY(!thread);
    }
    QCOMPARE(m_window->windowTitle(), QString());
    QCOMPARE(m_tree->model()->rowCount(), 0);

    // Once more, the event loop turning between the closes, so that some
    // parses end and send their results while others are stopped.
    for (int i = 0; i < 8; ++i) {
        m_window->openFile(largeUrl(i));
        spinOnce();
    }
    while (m_documents->count() > 0) {
        Q_EMIT m_documents->tabCloseRequested(0);
        spinOnce();
    }
    verifyMemoryBackNearBaseline();
}

// The parse ended and its result is queued for the document when the
// document is closed: the result must not be lost with its memory.
void StressTest::closeWithResultUndelivered()
{
    for (int round = 0; round < 6; ++round) {
        m_window->openFile(largeUrl(round));
        auto *thread = document(0)->findChild<QThread *>(QString(), Qt::FindDirectChildrenOnly);
        QVERIFY(thread);
        // The parse was queued on the thread first, so it has run when this returns.
        auto *probe = new QObject;
        probe->moveToThread(thread);
        QVERIFY(QMetaObject::invokeMethod(
            probe, [] {}, Qt::BlockingQueuedConnection));
        probe->deleteLater();
        QVERIFY(!document(0)->isParsed());
        m_window->closeCurrentFile();
        // Deleted before the queued result is delivered.
        flushDeferredDeletes();
    }
    verifyMemoryBackNearBaseline();
}

void StressTest::reloadManyTimes()
{
    // As fast as the action allows: it is enabled again once the new parse is done.
    QAction *reload = m_window->actionCollection()->action(QStringLiteral("file_reload"));
    QVERIFY(openAndWait(QUrl::fromLocalFile(QStringLiteral(QUILLMAP_FIXTURES_DIR "/simple.massif"))));
    for (int i = 0; i < 20; ++i) {
        QTRY_VERIFY_WITH_TIMEOUT(reload->isEnabled(), LoadTimeout);
        reload->trigger();
        QVERIFY(!reload->isEnabled());
    }
    QTRY_VERIFY_WITH_TIMEOUT(document(0)->isParsed(), LoadTimeout);
    QCOMPARE(m_documents->count(), 1);

    // Faster than any parse: each reload replaces a document that is still
    // loading. A reload costs ten times as much under a sanitizer.
    QPointer<DocumentWidget> loaded = openAndWait(largeUrl(0));
    QVERIFY(loaded);
    QList<QPointer<DocumentWidget>> replaced {loaded};
    const int reloads = underSanitizer ? 30 : 100;
    for (int i = 0; i < reloads; ++i) {
        m_window->reloadCurrentFile();
        replaced << document(1);
        spinOnce();
    }
    QCOMPARE(m_documents->count(), 2);
    QCOMPARE(m_documents->currentIndex(), 1);
    DocumentWidget *last = document(1);
    QTRY_VERIFY_WITH_TIMEOUT(last->isParsed(), LoadTimeout);
    flushDeferredDeletes();
    replaced.removeAll(QPointer<DocumentWidget>(last));
    for (const QPointer<DocumentWidget> &old : std::as_const(replaced)) {
        QVERIFY(!old);
    }
    QCOMPARE(m_tree->model()->rowCount(), last->data()->snapshots().size());
    QVERIFY(m_window->windowTitle().contains(QLatin1String("./large")));

    m_window->closeCurrentFile();
    m_window->closeCurrentFile();
    verifyMemoryBackNearBaseline();
}

void StressTest::switchTabsWhileLoading()
{
    const QUrl small = QUrl::fromLocalFile(QStringLiteral(QUILLMAP_FIXTURES_DIR "/simple.massif"));
    for (int i = 0; i < 4; ++i) {
        m_window->openFile(largeUrl(i));
    }
    m_window->openFile(small);
    const int count = m_documents->count();
    auto allParsed = [this, count] {
        for (int i = 0; i < count; ++i) {
            if (!document(i)->isParsed()) {
                return false;
            }
        }
        return true;
    };
    // Switch on every turn of the event loop until everything is in.
    QElapsedTimer bound;
    bound.start();
    for (int turn = 0; !allParsed() && bound.elapsed() < LoadTimeout; ++turn) {
        m_documents->setCurrentIndex(turn % count);
        QTest::qWait(5);
    }
    QVERIFY(allParsed());

    for (int i : {2, 4, 0, 3}) {
        m_documents->setCurrentIndex(i);
        DocumentWidget *current = document(i);
        QCOMPARE(m_tree->model()->rowCount(), current->data()->snapshots().size());
        QVERIFY(m_window->windowTitle().contains(current->file().fileName()));
        QVERIFY(m_window->actionCollection()->action(QStringLiteral("selectPeak"))->isEnabled());
        // Only the current document is merged, with the client of its current tab.
        const QList<KXMLGUIClient *> clients = m_window->guiFactory()->clients();
        for (int other = 0; other < count; ++other) {
            QCOMPARE(clients.contains(document(other)), other == i);
        }
        const auto tabs = current->findChildren<DocumentTabInterface *>();
        int merged = 0;
        for (DocumentTabInterface *tab : tabs) {
            merged += clients.contains(tab) ? 1 : 0;
        }
        QCOMPARE(merged, 1);
    }

    while (m_documents->count() > 0) {
        m_window->closeCurrentFile();
    }
    verifyMemoryBackNearBaseline();
}

void StressTest::allocatorChangesWhileLoading()
{
    m_window->openFile(QUrl::fromLocalFile(QStringLiteral(QUILLMAP_FIXTURES_DIR "/simple.massif")));
    m_window->openFile(largeUrl(0));
    QList<QPointer<DocumentWidget>> replaced;
    const QStringList lists[] = {
        {QStringLiteral("function_1(")},
        {QStringLiteral("function_1("), QStringLiteral("*_2(*")},
        {QStringLiteral("function_3(")},
    };
    for (int round = 0; round < 10; ++round) {
        replaced << document(1);
        m_allocators->setStringList(lists[round % 3]);
        spinOnce();
    }
    // Edited in place, which is another change of the list.
    replaced << document(1);
    QVERIFY(m_allocators->setData(m_allocators->index(0), QStringLiteral("function_7(")));
    QCOMPARE(m_documents->count(), 2);
    QCOMPARE(m_documents->currentIndex(), 1);
    DocumentWidget *last = document(1);
    QTRY_VERIFY_WITH_TIMEOUT(last->isParsed(), LoadTimeout);
    flushDeferredDeletes();
    for (const QPointer<DocumentWidget> &old : std::as_const(replaced)) {
        QVERIFY(!old);
    }

    // Parsed with the last list: function_7 is folded into the root, the others stay.
    QStringList rootFunctions;
    for (const TreeLeafItem *child : last->data()->peak()->heapTree()->children()) {
        rootFunctions << QString::fromLatin1(child->label());
    }
    const QString joined = rootFunctions.join(QLatin1Char('\n'));
    QVERIFY(!joined.contains(QLatin1String("function_7(")));
    QVERIFY(joined.contains(QLatin1String("function_1(")));
    QVERIFY(joined.contains(QLatin1String("function_3(")));
    QVERIFY(document(0)->isParsed());
}

void StressTest::closeWindowWhileLoading()
{
    QList<QPointer<QThread>> threads;
    for (int i = 0; i < 5; ++i) {
        m_window->openFile(largeUrl(i));
        threads << document(i)->findChild<QThread *>(QString(), Qt::FindDirectChildrenOnly);
    }
    // Some parses may have ended by now, their results on the way.
    QTest::qWait(100);
    m_window.reset();
    for (const QPointer<QThread> &thread : std::as_const(threads)) {
        QVERIFY(!thread);
    }
    flushDeferredDeletes();
    QTest::qWait(50);
    verifyMemoryBackNearBaseline();
}

void StressTest::closeWhileCallGraphGenerates()
{
    const auto openWideCallGraph = [this]() -> DocumentWidget * {
        DocumentWidget *doc = openAndWait(QUrl::fromLocalFile(m_widePath));
        if (!doc) {
            return nullptr;
        }
        auto *tabs = doc->findChild<QTabWidget *>();
        int callGraph = -1;
        for (int i = 0; i < tabs->count(); ++i) {
            if (tabs->widget(i)->inherits("CallGraphTab")) {
                callGraph = i;
            }
        }
        if (callGraph < 0) {
            qWarning() << "no call graph tab";
            return nullptr;
        }
        // Showing the tab starts the generator of the peak snapshot.
        tabs->setCurrentIndex(callGraph);
        return doc;
    };
    // Alternately the whole snapshot and one of its nodes, so that every
    // selection replaces a generator, most of them still running.
    const auto selectTreeRows = [this](int rows) {
        const QModelIndex snapshot = m_tree->model()->index(0, 0);
        for (int row = 0; row < rows; ++row) {
            m_tree->selectionModel()->setCurrentIndex(m_tree->model()->index(row, 0, snapshot), QItemSelectionModel::ClearAndSelect);
            m_tree->selectionModel()->setCurrentIndex(snapshot, QItemSelectionModel::ClearAndSelect);
        }
    };

    // The document closes while the generator and several cancelled ones still run.
    DocumentWidget *doc = openWideCallGraph();
    QVERIFY(doc);
    QVERIFY(doc->findChild<DotGraphGenerator *>());
    selectTreeRows(5);
    QPointer<DocumentWidget> closed = doc;
    m_window->closeCurrentFile();
    flushDeferredDeletes();
    QVERIFY(!closed);
    QTRY_COMPARE(dotFilesLeft(), 0);

    // The window closes while the graph of another selection is being made.
    doc = openWideCallGraph();
    QVERIFY(doc);
    selectTreeRows(3);
    m_window.reset();
    flushDeferredDeletes();
    QTRY_COMPARE(dotFilesLeft(), 0);
}

void StressTest::hostileTextsShownAsText()
{
    DocumentWidget *doc = openAndWait(QUrl::fromLocalFile(m_hostilePath));
    QVERIFY(doc);
    const QString function = QString::fromUtf8(markupFunction);
    const QString location = QString::fromUtf8(markupLocation);

    // Window title: plain text, the command exactly as it was run.
    const QString command = QString::fromUtf8(hostileCommand);
    QCOMPARE(doc->data()->command(), command);
    QVERIFY2(m_window->windowHandle()->title().contains(command), qPrintable(m_window->windowHandle()->title()));

    // Data tree: plain text for display, escaped markup in the tooltips.
    const QModelIndex peak = m_tree->model()->index(1, 0);
    QCOMPARE(m_tree->model()->rowCount(peak), 4);
    QStringList displays;
    QStringList tooltips;
    for (int row = 0; row < 4; ++row) {
        const QModelIndex node = m_tree->model()->index(row, 0, peak);
        displays << node.data(Qt::DisplayRole).toString();
        tooltips << renderedText(node.data(Qt::ToolTipRole).toString());
    }
    const QString allDisplays = displays.join(QLatin1Char('\n'));
    const QString allTooltips = tooltips.join(QLatin1Char('\n'));
    QVERIFY2(allDisplays.contains(QString::fromLatin1(markupFunction + " (" + markupLocation + ')')), qPrintable(allDisplays));
    QVERIFY2(allTooltips.contains(function), qPrintable(allTooltips));
    QVERIFY(allTooltips.contains(location));
    QVERIFY(allTooltips.contains(QString::fromUtf8(templateFunction)));
    QVERIFY(allTooltips.contains(QStringLiteral("bad\ufffd\ufffd\ufffd(")));

    // Chart header and its tooltip.
    auto *tabs = doc->findChild<QTabWidget *>();
    QLabel *header = nullptr;
    for (QLabel *label : tabs->widget(0)->findChildren<QLabel *>()) {
        if (label->text().contains(QLatin1String("consumption"))) {
            header = label;
        }
    }
    QVERIFY(header);
    const QString program = command.section(QLatin1Char(' '), 0, 0);
    QVERIFY2(shownText(header).contains(QStringLiteral("Memory consumption of ") + program), qPrintable(header->text()));
    const QString headerTooltip = renderedText(header->toolTip());
    QVERIFY2(headerTooltip.contains(command.left(command.indexOf(QLatin1Char('\x01')))), qPrintable(headerTooltip));
    QVERIFY(headerTooltip.contains(QStringLiteral("--massif-out-file=<u>x</u>&amp;")));

    // The chart's legend draws its labels as text too: a label that asks for
    // a colour must not get it anywhere in the tab.
    QVERIFY(tabs->widget(0)->findChild<KChart::Chart *>());
    const QImage image = tabs->widget(0)->grab().toImage();
    if (qEnvironmentVariableIsSet("STRESSTEST_SAVE_IMAGE")) {
        image.save(qEnvironmentVariable("STRESSTEST_SAVE_IMAGE"));
    }
    int coloured = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            coloured += image.pixel(x, y) == colourOfLabel ? 1 : 0;
        }
    }
    QCOMPARE(coloured, 0);

    // Allocators table tooltips.
    auto *allocatorsView = tabs->widget(tabs->count() - 1)->findChild<QTreeView *>();
    QVERIFY(allocatorsView);
    QString allocatorTooltips;
    for (int row = 0; row < allocatorsView->model()->rowCount(); ++row) {
        allocatorTooltips += renderedText(allocatorsView->model()->index(row, 0).data(Qt::ToolTipRole).toString());
    }
    QVERIFY2(allocatorTooltips.contains(function), qPrintable(allocatorTooltips));
    QVERIFY(allocatorTooltips.contains(location));
    QVERIFY(allocatorTooltips.contains(QString::fromUtf8(templateFunction)));

    // Every tab shows without trouble, the call graph included.
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        spinOnce();
    }
}

void StressTest::hostileErrorPage_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("shownLine");
    // Text is shown as it is, markup and all; what is not text is described.
    QTest::newRow("markup") << QByteArrayLiteral("<i>it</i>&amp; \"q\" \\") << QStringLiteral("<i>it</i>&amp; \"q\" \\");
    QTest::newRow("markup, control bytes and no UTF-8")
        << QByteArrayLiteral("<i>it</i>&amp;\x01\x02\x1b[1m\x7f\xff\xfe\xc3 \"q\" \\") << QStringLiteral("not a massif file: line 3 is binary data");
}

void StressTest::hostileErrorPage()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, shownLine);
    // A file name with markup, and an offending line.
    const QString path = m_dir.filePath(QStringLiteral("<b>x<u>&amp;.massif"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("desc: x\ncmd: y\n" + line + '\n');
    file.close();

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^invalid line 3")));
    const QUrl url = QUrl::fromLocalFile(path);
    m_window->openFile(url);
    DocumentWidget *broken = document(0);
    // The loading page names the file as it is.
    QLabel *loading = nullptr;
    for (QLabel *label : broken->findChildren<QLabel *>()) {
        if (label->text().contains(QLatin1String("Loading"))) {
            loading = label;
        }
    }
    QVERIFY(loading);
    QVERIFY2(shownText(loading).contains(url.toString()), qPrintable(loading->text()));

    KMessageWidget *message = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((message = broken->findChild<KMessageWidget *>()) && message->isVisible(), LoadTimeout);
    QLabel *messageLabel = nullptr;
    for (QLabel *label : message->findChildren<QLabel *>()) {
        if (label->text() == message->text()) {
            messageLabel = label;
        }
    }
    QVERIFY(messageLabel);
    const QString shown = shownText(messageLabel);
    QVERIFY2(shown.contains(shownLine), qPrintable(shown));
    QVERIFY2(shown.contains(url.toString()), qPrintable(shown));
    QCOMPARE(KLocalizedString::removeAcceleratorMarker(m_documents->tabText(0)), url.fileName());
}

// Every text that Graphviz draws for a graph: the "text" of its drawing operations.
void collectDrawnTexts(const QJsonValue &value, QStringList &texts)
{
    if (value.isArray()) {
        for (const QJsonValue &element : value.toArray()) {
            collectDrawnTexts(element, texts);
        }
    } else if (value.isObject()) {
        const QJsonObject object = value.toObject();
        if (object.value(QLatin1String("op")).toString() == QLatin1String("T")) {
            texts << object.value(QLatin1String("text")).toString();
        }
        for (const QJsonValue &member : object) {
            collectDrawnTexts(member, texts);
        }
    }
}

// The graphs that the call graph tab hands to the viewer are valid dot files,
// and the labels in them are drawn as the text of the profile.
void StressTest::hostileDotFile()
{
    const QString dot = QStandardPaths::findExecutable(QStringLiteral("dot"));
    if (dot.isEmpty()) {
        QSKIP("Graphviz's dot is not installed");
    }
    DocumentWidget *doc = openAndWait(QUrl::fromLocalFile(m_hostilePath));
    QVERIFY(doc);
    auto *part = doc->findChild<KParts::ReadOnlyPart *>();
    if (!part) {
        QSKIP("the graph viewer part is not available");
    }
    doc->findChild<QTabWidget *>()->setCurrentIndex(1);

    // The peak snapshot (boxes), then the subtree of each of its nodes (records).
    const QModelIndex peak = m_tree->model()->index(1, 0);
    QList<QModelIndex> rows {peak};
    for (int row = 0; row < m_tree->model()->rowCount(peak); ++row) {
        rows << m_tree->model()->index(row, 0, peak);
    }
    QUrl previous;
    QStringList drawn;
    for (const QModelIndex &row : std::as_const(rows)) {
        m_tree->selectionModel()->setCurrentIndex(row, QItemSelectionModel::ClearAndSelect);
        QTRY_VERIFY_WITH_TIMEOUT(part->url().isValid() && part->url() != previous, LoadTimeout);
        previous = part->url();
        QProcess process;
        process.start(dot, {QStringLiteral("-Tjson"), part->url().toLocalFile()});
        QVERIFY(process.waitForFinished(LoadTimeout));
        const QByteArray errors = process.readAllStandardError();
        QVERIFY2(errors.isEmpty(), errors.constData());
        QCOMPARE(process.exitCode(), 0);
        QJsonParseError error;
        const QJsonDocument graph = QJsonDocument::fromJson(process.readAllStandardOutput(), &error);
        QVERIFY2(graph.isObject(), qPrintable(error.errorString()));
        QStringList texts;
        collectDrawnTexts(graph.object(), texts);
        drawn << texts;
    }
    // Control bytes become blanks and bytes that are no UTF-8 replacement characters.
    const QStringList expected {
        QString::fromUtf8(markupFunction + " (" + markupLocation + ')'),
        QString::fromUtf8(colourFunction + " (z.c:4)"),
        QStringLiteral("ctl   [31m\x7f"
                       "bad\ufffd\ufffd\ufffd( (x.c:2)"),
        QString::fromUtf8(templateFunction + " (y.cpp:3)"),
    };
    for (const QString &label : expected) {
        QVERIFY2(drawn.count(label) >= 2, qPrintable(label + QLatin1String(" not in\n") + drawn.join(QLatin1Char('\n'))));
    }
}

QTEST_MAIN(StressTest)

#include "stresstest.moc"
