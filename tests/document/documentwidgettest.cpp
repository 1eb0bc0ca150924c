/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "documentwidget.h"
#include "documenttabinterface.h"
#include "filedata.h"
#include "graphviewerplugin.h"

#include <KAboutData>
#include <KLocalizedString>
#include <KMessageWidget>
#include <KXMLGUIFactory>
#include <KXmlGuiWindow>

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QVBoxLayout>

#include <memory>

namespace {

QUrl fixtureUrl(const QString &name)
{
    return QUrl::fromLocalFile(QStringLiteral(QUILLMAP_FIXTURES_DIR "/") + name);
}

// Set for the second run of this test, from where no graph viewer part is found.
bool withGraphViewer()
{
    return qEnvironmentVariableIsEmpty("QUILLMAP_TEST_WITHOUT_GRAPH_VIEWER");
}

/// A window whose GUI factory the documents merge into.
struct Shell : public KXmlGuiWindow
{
    Shell()
    {
        setupGUI(Create, QStringLiteral("quillmapui.rc"));
    }
};

} // namespace

class DocumentWidgetTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        KLocalizedString::setApplicationDomain(QByteArrayLiteral("quillmap"));
        // The XML GUI files are found under the program's component name.
        KAboutData about(QStringLiteral("quillmap"), QStringLiteral("Quillmap"), QStringLiteral("test"));
        KAboutData::setApplicationData(about);
        Massif::addGraphViewerPluginPaths();
        // Run from a copy outside the build tree, the program has no viewer of its own.
        QCOMPARE(Massif::graphViewerFactory() != nullptr, withGraphViewer());
        QVERIFY(m_dir.isValid());
    }

    void tabsInOrder()
    {
        Shell shell;
        DocumentWidget doc(fixtureUrl(QStringLiteral("simple.massif")), {}, &shell, &shell);
        QSignalSpy finished(&doc, &DocumentWidget::loadingFinished);
        QVERIFY(finished.wait(20000));
        QVERIFY(doc.isParsed());
        QVERIFY(doc.data());

        auto *tabs = doc.findChild<QTabWidget *>();
        QVERIFY(tabs);
        QStringList shown;
        for (int i = 0; i < tabs->count(); ++i) {
            shown << QStringLiteral("%1 %2 %3").arg(QLatin1String(tabs->widget(i)->metaObject()->className()), tabs->tabText(i), tabs->tabIcon(i).name());
        }
        QStringList expected {QStringLiteral("ChartTab Memory Chart office-chart-area-stacked")};
        if (withGraphViewer()) {
            // The viewer's own icon, or the theme's graph where it has none.
            const QString icon =
                QIcon::hasThemeIcon(QStringLiteral("kgraphviewer")) ? QStringLiteral("kgraphviewer") : QStringLiteral("distribute-graph-directed");
            expected << QStringLiteral("CallGraphTab Callgraph ") + icon;
        }
        expected << QStringLiteral("FlameGraphTab Flame Graph office-chart-bar-stacked");
        expected << QStringLiteral("AllocatorsTab Allocators view-list-text");
        QCOMPARE(shown, expected);
        QCOMPARE(tabs->currentIndex(), 0);
        QCOMPARE(tabs->tabPosition(), QTabWidget::South);
    }

    void mergesOnlyTheCurrentTab_data()
    {
        QTest::addColumn<int>("tab");
        QTest::addColumn<bool>("beforeMerge");
        const int count = withGraphViewer() ? 3 : 2;
        for (int tab = 0; tab < count; ++tab) {
            QTest::addRow("tab %d, chosen before merging", tab) << tab << true;
            QTest::addRow("tab %d, chosen while merged", tab) << tab << false;
        }
    }

    void mergesOnlyTheCurrentTab()
    {
        QFETCH(int, tab);
        QFETCH(bool, beforeMerge);
        Shell shell;
        KXMLGUIFactory *factory = shell.guiFactory();
        DocumentWidget doc(fixtureUrl(QStringLiteral("simple.massif")), {}, &shell, &shell);
        QSignalSpy finished(&doc, &DocumentWidget::loadingFinished);
        QVERIFY(finished.wait(20000));
        auto *tabs = doc.findChild<QTabWidget *>();
        const auto merged = [factory, tabs] {
            QList<int> indexes;
            for (int i = 0; i < tabs->count(); ++i) {
                if (factory->clients().contains(static_cast<DocumentTabInterface *>(tabs->widget(i)))) {
                    indexes << i;
                }
            }
            return indexes;
        };
        QCOMPARE(merged(), QList<int>());

        if (beforeMerge) {
            // Not merged: the change waits for the merge.
            tabs->setCurrentIndex(tab);
            QCOMPARE(merged(), QList<int>());
            doc.mergeGuiClient(factory);
        } else {
            doc.mergeGuiClient(factory);
            QCOMPARE(merged(), QList<int> {0});
            tabs->setCurrentIndex(tab);
        }
        QVERIFY(factory->clients().contains(&doc));
        QCOMPARE(merged(), QList<int> {tab});

        // Back to the first tab while merged, then out altogether.
        tabs->setCurrentIndex(0);
        QCOMPARE(merged(), QList<int> {0});
        doc.unmergeGuiClient(factory);
        QVERIFY(!factory->clients().contains(&doc));
        QCOMPARE(merged(), QList<int>());
    }

    void mergedWhileLoading()
    {
        Shell shell;
        KXMLGUIFactory *factory = shell.guiFactory();
        DocumentWidget doc(fixtureUrl(QStringLiteral("simple.massif")), {}, &shell, &shell);
        QSignalSpy finished(&doc, &DocumentWidget::loadingFinished);
        // The parse result is still queued: only the document's own, empty client goes in.
        doc.mergeGuiClient(factory);
        QVERIFY(!doc.isParsed());
        QCOMPARE(factory->clients().size(), 2);
        QVERIFY(factory->clients().contains(&doc));

        QVERIFY(finished.wait(20000));
        auto *tabs = doc.findChild<QTabWidget *>();
        QVERIFY(factory->clients().contains(static_cast<DocumentTabInterface *>(tabs->widget(0))));
        QCOMPARE(factory->clients().size(), 3);
    }

    void errorPageWrapsAndCuts_data()
    {
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("longestKept");
        QTest::newRow("unbroken line") << QStringLiteral("Parse error in line 1:<br>") + QString(20000, QLatin1Char('x')) << 1000;
        QTest::newRow("entities") << QStringLiteral("Parse error in line 3:<br>") + QStringLiteral("&lt;&amp;").repeated(3000) << 1000;
        QTest::newRow("words") << QStringLiteral("Parse error in line 2:<br>") + QStringLiteral("word ").repeated(4000) << 1000;
        QTest::newRow("short line") << QStringLiteral("Parse error in line 9:<br>n1: 42") << 6;
    }

    void errorPageWrapsAndCuts()
    {
        QFETCH(QString, error);
        QFETCH(int, longestKept);
        KXMLGUIClient guiParent;
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        auto *doc = new DocumentWidget(QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("missing"))), {}, &guiParent, &window);
        layout->addWidget(doc);
        const QRect available = window.screen()->availableGeometry();
        window.resize(available.width() / 2, available.height() / 2);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        KMessageWidget *message = nullptr;
        QTRY_VERIFY((message = doc->findChild<KMessageWidget *>()) && message->isVisible());

        // The file's own error is replaced by the one under test.
        QVERIFY(QMetaObject::invokeMethod(doc, "showError", Q_ARG(QString, QStringLiteral("Parser Failed")), Q_ARG(QString, error)));
        QTest::qWait(50);
        QVERIFY2(window.width() <= available.width(), qPrintable(QString::number(window.width())));
        QVERIFY(message->geometry().right() <= doc->width());

        // Cut, but never inside an entity, and nothing of a short line goes.
        const QString shown = message->text().remove(QChar(0x200B));
        const QString line = shown.section(QLatin1String("<br>"), 1).section(QLatin1String("</p>"), 0, 0);
        QTextDocument text;
        text.setHtml(line);
        QVERIFY(text.toPlainText().size() <= longestKept + 1);
        if (longestKept < 1000) {
            QCOMPARE(line, error.section(QLatin1String("<br>"), 1));
        } else {
            QVERIFY(line.endsWith(QChar(0x2026)));
        }
        static const QRegularExpression brokenEntity(QStringLiteral("&[a-z]*(?![a-z;])"));
        QVERIFY(!line.contains(brokenEntity));
    }

    // The break points that let a long line wrap stay out of what is copied.
    void copiedErrorTextHasNoBreakPoints()
    {
        KXMLGUIClient guiParent;
        DocumentWidget doc(QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("missing"))), {}, &guiParent);
        doc.show();
        QVERIFY(QTest::qWaitForWindowExposed(&doc));
        KMessageWidget *message = nullptr;
        QTRY_VERIFY((message = doc.findChild<KMessageWidget *>()) && message->isVisible());
        const QString word = QString(200, QLatin1Char('x'));
        QVERIFY(QMetaObject::invokeMethod(&doc, "showError", Q_ARG(QString, QStringLiteral("Parser Failed")), Q_ARG(QString, QStringLiteral("line: ") + word)));

        QLabel *label = nullptr;
        const auto labels = message->findChildren<QLabel *>();
        for (QLabel *candidate : labels) {
            if (candidate->text().contains(QChar(0x200B))) {
                label = candidate;
            }
        }
        QVERIFY(label);
        QClipboard *clipboard = QGuiApplication::clipboard();
        clipboard->clear();
        label->setFocus();
        QTextDocument shown;
        shown.setHtml(label->text());
        label->setSelection(0, int(shown.toPlainText().size()));
        QVERIFY(label->selectedText().contains(QChar(0x200B)));
        QTest::keyClick(label, Qt::Key_C, Qt::ControlModifier);
        QTRY_VERIFY(clipboard->text().contains(word));
        QVERIFY(!clipboard->text().contains(QChar(0x200B)));

        // Text from elsewhere is left as it is.
        const QString foreign = QStringLiteral("a") + QChar(0x200B) + QStringLiteral("b");
        clipboard->setText(foreign);
        QCOMPARE(clipboard->text(), foreign);
    }

    void errorPageKeepsEveryLine_data()
    {
        QTest::addColumn<int>("width");
        QTest::newRow("narrowed") << 240;
        QTest::newRow("widened") << 1100;
    }

    void errorPageKeepsEveryLine()
    {
        // Wrapped into more lines than at its preferred width, the message
        // grows taller instead of losing its last lines, and shrinks back.
        QFETCH(int, width);
        KXMLGUIClient guiParent;
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        auto *doc = new DocumentWidget(QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("missing"))), {}, &guiParent, &window);
        layout->addWidget(doc);
        window.resize(600, 500);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        KMessageWidget *message = nullptr;
        QTRY_VERIFY((message = doc->findChild<KMessageWidget *>()) && message->isVisible());
        QVERIFY(QMetaObject::invokeMethod(doc,
                                          "showError",
                                          Q_ARG(QString, QStringLiteral("Parser Failed")),
                                          Q_ARG(QString,
                                                QStringLiteral("Could not parse file <i>file:///tmp/some/folder/massif.out.12345</i>.<br>"
                                                               "Parse error in line 1:<br>not a massif file: line 1 is binary data"))));
        QTest::qWait(50);
        window.resize(width, 500);
        QTRY_COMPARE(message->height(), message->heightForWidth(message->width()));
        QVERIFY(message->geometry().bottom() <= doc->height());
    }

    void longUrlWhileLoading()
    {
        // A name as long as file systems allow, in a deep directory.
        QString path = m_dir.path();
        for (int i = 0; i < 8; ++i) {
            path += QLatin1Char('/') + QString(200, QLatin1Char('d'));
        }
        KXMLGUIClient guiParent;
        DocumentWidget doc(QUrl::fromLocalFile(path + QStringLiteral("/massif.out.1")), {}, &guiParent);
        // Asked before the event loop runs, while the loading page is shown.
        auto *loading = doc.findChild<QLabel *>();
        QVERIFY(loading && loading->text().remove(QChar(0x200B)).contains(QLatin1String("massif.out.1")));
        const QSize available = doc.screen()->availableSize();
        QVERIFY2(loading->minimumSizeHint().width() <= available.width() / 2, qPrintable(QString::number(loading->minimumSizeHint().width())));
        QVERIFY(doc.minimumSizeHint().width() <= available.width());
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(DocumentWidgetTest)

#include "documentwidgettest.moc"
