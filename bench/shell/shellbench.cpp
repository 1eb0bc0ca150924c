/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

// The whole road of one file in the real program: from the start of the
// process to the chart shown and the data tree filled, with the memory held
// then and after the tab is closed, beside the bare parse of the same file.
// A 10 ms timer records the longest time the GUI thread did not answer.
// Memory is what the program holds as shipped: nothing here trims the heap.
//
//   shellbench [FILE]      (QT_QPA_PLATFORM=offscreen works)

#include "documentwidget.h"
#include "filedata.h"
#include "graphviewerplugin.h"
#include "mainwindow.h"
#include "parser.h"
#include "readaheaddevice.h"
#include "residentmemory.h"

#include <KAboutData>
#include <KCompressionDevice>
#include <KLocalizedString>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTextStream>
#include <QTimer>
#include <QTreeView>

#include <memory>

namespace {

double bareParseSeconds(const QString &path)
{
    KCompressionDevice device(path);
    device.open(QIODevice::ReadOnly);
    Massif::ReadAheadDevice input(&device);
    input.open(QIODevice::ReadOnly);
    QElapsedTimer timer;
    timer.start();
    Massif::Parser parser;
    std::unique_ptr<Massif::FileData> data(parser.parse(&input));
    const double seconds = timer.nsecsElapsed() / 1e9;
    return data ? seconds : -1.0;
}

QElapsedTimer benchClock;
// When the document began to build its tabs: the parse was over then.
qint64 parseDeliveredAt = -1;

void noteDelivery(QtMsgType, const QMessageLogContext &, const QString &message)
{
    if (parseDeliveredAt < 0 && message.startsWith(QLatin1String("loaded massif file:"))) {
        parseDeliveredAt = benchClock.elapsed();
    }
}

// Records the ticks of a 10 ms timer; a long gap is a time the GUI thread did not answer.
class StallMeter : public QObject
{
public:
    StallMeter()
    {
        m_timer.setInterval(10);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            m_ticks << benchClock.elapsed();
        });
    }
    void start()
    {
        m_ticks = {benchClock.elapsed()};
        m_timer.start();
    }
    void stop()
    {
        m_timer.stop();
        m_ticks << benchClock.elapsed();
    }
    // The longest gap between ticks that ended in [from, to].
    qint64 longestGap(qint64 from, qint64 to) const
    {
        qint64 longest = 0;
        for (qsizetype i = 1; i < m_ticks.size(); ++i) {
            if (m_ticks.at(i) >= from && m_ticks.at(i) <= to) {
                longest = qMax(longest, m_ticks.at(i) - m_ticks.at(i - 1));
            }
        }
        return longest;
    }

private:
    QTimer m_timer;
    QList<qint64> m_ticks;
};

} // namespace

int main(int argc, char **argv)
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    KLocalizedString::setApplicationDomain("quillmap");
    KAboutData about(QStringLiteral("quillmap"), QStringLiteral("Quillmap"), QStringLiteral("bench"));
    KAboutData::setApplicationData(about);
    Massif::addGraphViewerPluginPaths();

    const QString path = app.arguments().size() > 1 ? app.arguments().at(1) : QStringLiteral(QUILLMAP_BENCH_INPUT);
    const double parseSeconds = bareParseSeconds(path);

    sinceStart.restart();
    benchClock.start();
    qInstallMessageHandler(noteDelivery);
    auto *window = new Massif::MainWindow;
    window->show();
    QCoreApplication::processEvents();
    const qint64 baseline = residentBytes();
    StallMeter loadStalls;
    loadStalls.start();
    window->openFile(QUrl::fromLocalFile(path));
    auto *documents = window->findChild<QTabWidget *>(QStringLiteral("documents"));
    auto *document = qobject_cast<DocumentWidget *>(documents->currentWidget());

    double loadedSeconds = 0;
    qint64 tabsBuiltAt = 0;
    qint64 paintStartedAt = 0;
    qint64 paintEndedAt = 0;
    QEventLoop shown;
    QObject::connect(document, &DocumentWidget::loadingFinished, &shown, [&] {
        tabsBuiltAt = benchClock.elapsed();
        // Shown once the chart and the tree have painted.
        QTimer::singleShot(0, &shown, [&] {
            paintStartedAt = benchClock.elapsed();
            window->repaint();
            paintEndedAt = benchClock.elapsed();
            loadedSeconds = sinceStart.nsecsElapsed() / 1e9;
            loadStalls.stop();
            shown.quit();
        });
    });
    shown.exec();
    auto *tree = window->findChild<QTreeView *>(QStringLiteral("dataTreeView"));
    const int treeRows = tree->model()->rowCount();
    const qint64 loadedMemory = residentBytes();

    const auto closeAll = [window] {
        QMetaObject::invokeMethod(window, "closeCurrentFile");
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        return residentBytes();
    };
    const qint64 closedMemory = closeAll();

    // A second round shows whether what stays after closing grows: one-time
    // caches and loaded libraries do not, a leak would.
    window->openFile(QUrl::fromLocalFile(path));
    auto *again = qobject_cast<DocumentWidget *>(documents->currentWidget());
    QEventLoop reloaded;
    QObject::connect(again, &DocumentWidget::loadingFinished, &reloaded, &QEventLoop::quit);
    reloaded.exec();
    const qint64 secondClosedMemory = closeAll();

    QTextStream out(stdout);
    out << "input: " << path << " (" << QString::number(QFile(path).size() / 1e6, 'f', 1) << " MB)\n\n";
    out << QStringLiteral("%1 %2\n").arg(QStringLiteral("bare parse (s)"), -44).arg(parseSeconds, 0, 'f', 3);
    out << QStringLiteral("%1 %2\n").arg(QStringLiteral("window start to chart shown, tree filled (s)"), -44).arg(loadedSeconds, 0, 'f', 3);
    out << QStringLiteral("%1 %2\n").arg(QStringLiteral("beyond the bare parse (s)"), -44).arg(loadedSeconds - parseSeconds, 0, 'f', 3);
    out << QStringLiteral("%1 %2\n").arg(QStringLiteral("longest GUI stall while parsing (ms)"), -44).arg(loadStalls.longestGap(0, parseDeliveredAt));
    out << QStringLiteral("%1 %2\n")
               .arg(QStringLiteral("longest GUI stall showing the result (ms)"), -44)
               .arg(loadStalls.longestGap(parseDeliveredAt, benchClock.elapsed()));
    out << QStringLiteral("%1 %2\n").arg(QStringLiteral("  of which building the tabs (ms)"), -44).arg(tabsBuiltAt - parseDeliveredAt);
    out << QStringLiteral("%1 %2\n").arg(QStringLiteral("  of which the first paint (ms)"), -44).arg(paintEndedAt - paintStartedAt);
    out << QStringLiteral("%1 %2\n").arg(QStringLiteral("data tree rows"), -44).arg(treeRows);
    out << QStringLiteral("%1 %2\n").arg(QStringLiteral("resident with the window open, no file (MB)"), -44).arg(baseline / 1e6, 0, 'f', 1);
    out << QStringLiteral("%1 %2\n").arg(QStringLiteral("resident with the file shown (MB)"), -44).arg(loadedMemory / 1e6, 0, 'f', 1);
    out << QStringLiteral("%1 %2\n").arg(QStringLiteral("resident after closing the tab (MB)"), -44).arg(closedMemory / 1e6, 0, 'f', 1);
    out << QStringLiteral("%1 %2\n").arg(QStringLiteral("resident after a second open and close (MB)"), -44).arg(secondClosedMemory / 1e6, 0, 'f', 1);
    delete window;
    return 0;
}
