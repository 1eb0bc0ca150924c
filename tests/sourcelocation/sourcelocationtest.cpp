/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "sourcelocation.h"
#include "sourcefolderspage.h"
#include "sourcelocationopener.h"
#include "sourcesettings.h"

#include <KConfigDialog>
#include <KConfigGroup>
#include <KEditListWidget>
#include <KLocalizedString>
#include <KSharedConfig>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>

#include <functional>

using Massif::SourceLocation;

namespace {

void touch(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

/// Runs @p handler on the next modal dialog, from inside its event loop.
void handleNextModal(const std::function<void(QWidget *)> &handler)
{
    auto *timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, handler] {
        QWidget *widget = QApplication::activeModalWidget();
        if (widget && widget->isVisible()) {
            timer->stop();
            timer->deleteLater();
            handler(widget);
        }
    });
    timer->start(10);
}

QString plainText(const QString &html)
{
    QTextDocument document;
    document.setHtml(html);
    return document.toPlainText();
}

} // namespace

class SourceLocationTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        KLocalizedString::setApplicationDomain(QByteArrayLiteral("quillmap"));
        QVERIFY(m_dir.isValid());
        const QString root = m_dir.path();
        touch(root + QStringLiteral("/abs/a.c"));
        touch(root + QStringLiteral("/doc/massif.out.1"));
        touch(root + QStringLiteral("/doc/b.c"));
        touch(root + QStringLiteral("/src1/b.c"));
        touch(root + QStringLiteral("/src1/c.c"));
        touch(root + QStringLiteral("/src2/c.c"));
        touch(root + QStringLiteral("/src2/deep/x/d.c"));
        touch(root + QStringLiteral("/src2/aa/f.c"));
        touch(root + QStringLiteral("/src2/zz/sub/f.c"));
    }

    void fromLabel_data()
    {
        QTest::addColumn<QByteArray>("label");
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("line");
        QTest::newRow("plain") << QByteArray("0x1091C4: my_pool_alloc (custom_alloc.c:17)") << QStringLiteral("custom_alloc.c") << 17;
        QTest::newRow("path with spaces") << QByteArray("0x1: f (src/my dir/a b.c:7)") << QStringLiteral("src/my dir/a b.c") << 7;
        QTest::newRow("absolute") << QByteArray("0x1: g(int) (/home/u/p/x.cpp:120)") << QStringLiteral("/home/u/p/x.cpp") << 120;
        QTest::newRow("template function") << QByteArray("0x2: std::vector<int>::push_back(int const&) (stl_vector.h:1283)") << QStringLiteral("stl_vector.h")
                                           << 1283;
        QTest::newRow("object file, no line") << QByteArray("0x3: ??? (in /usr/lib/x86_64-linux-gnu/libc.so.6)") << QString() << 0;
        QTest::newRow("summary") << QByteArray("in 5 places, all below massif's threshold (1.00%)") << QString() << 0;
        QTest::newRow("no location") << QByteArray("0x1: main") << QString() << 0;
        QTest::newRow("line zero") << QByteArray("0x1: f (a.c:0)") << QString() << 0;
        QTest::newRow("no file") << QByteArray("0x1: f (:12)") << QString() << 0;
    }

    void fromLabel()
    {
        QFETCH(QByteArray, label);
        QFETCH(QString, file);
        QFETCH(int, line);
        const SourceLocation location = SourceLocation::fromLabel(label);
        QCOMPARE(location.isValid(), !file.isEmpty());
        QCOMPARE(Massif::SourceLocationOpener::canOpen(label), !file.isEmpty());
        if (location.isValid()) {
            QCOMPARE(location.file(), file);
            QCOMPARE(location.line(), line);
        }
    }

    void resolve_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("localDocument");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QStringList>("searched");
        const QStringList all {QStringLiteral("doc"), QStringLiteral("src1"), QStringLiteral("src2")};
        QTest::newRow("absolute and there") << QStringLiteral("%1/abs/a.c") << true << QStringLiteral("abs/a.c") << QStringList();
        QTest::newRow("profile's folder first") << QStringLiteral("b.c") << true << QStringLiteral("doc/b.c") << QStringList {QStringLiteral("doc")};
        QTest::newRow("remote profile: source folders") << QStringLiteral("b.c") << false << QStringLiteral("src1/b.c") << QStringList {QStringLiteral("src1")};
        QTest::newRow("source folders in order") << QStringLiteral("c.c") << true << QStringLiteral("src1/c.c") << all.mid(0, 2);
        QTest::newRow("absolute from elsewhere, by name") << QStringLiteral("/nonexistent/build/c.c") << true << QStringLiteral("src1/c.c") << all.mid(0, 2);
        QTest::newRow("in a subfolder") << QStringLiteral("x/d.c") << true << QStringLiteral("src2/deep/x/d.c") << all;
        QTest::newRow("whole relative path before the name") << QStringLiteral("sub/f.c") << true << QStringLiteral("src2/zz/sub/f.c") << all;
        QTest::newRow("nowhere") << QStringLiteral("missing.c") << true << QString() << all;
    }

    void resolve()
    {
        QFETCH(QString, file);
        QFETCH(bool, localDocument);
        QFETCH(QString, expected);
        QFETCH(QStringList, searched);
        const QString root = m_dir.path();
        if (file.contains(QLatin1String("%1"))) {
            file = file.arg(root);
        }
        const QStringList sources {root + QStringLiteral("/src1"), root + QStringLiteral("/src2")};
        QStringList looked;
        const QString found = SourceLocation(file, 3).resolve(localDocument ? root + QStringLiteral("/doc") : QString(), sources, &looked);
        QCOMPARE(found, expected.isEmpty() ? QString() : QFileInfo(root + QLatin1Char('/') + expected).absoluteFilePath());
        QStringList expectedSearched;
        for (const QString &folder : std::as_const(searched)) {
            expectedSearched << root + QLatin1Char('/') + folder;
        }
        QCOMPARE(looked, expectedSearched);
    }

    void editorArguments_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("arguments");
        const QString spaced = QStringLiteral("/tmp/my sources/a file.c");
        const QString quoted = QStringLiteral("/tmp/it's \"x\".c");
        const QString hostile = QStringLiteral("/tmp/$(touch pwned); `id` | x.c");
        QTest::newRow("kate, spaces") << QStringLiteral("kate --line %l %f") << spaced
                                      << QStringList {QStringLiteral("kate"), QStringLiteral("--line"), QStringLiteral("12"), spaced};
        QTest::newRow("inside a word, quotes") << QStringLiteral("code --goto %f:%l") << quoted
                                               << QStringList {QStringLiteral("code"), QStringLiteral("--goto"), quoted + QStringLiteral(":12")};
        QTest::newRow("shell syntax in the name") << QStringLiteral("emacs +%l %f") << hostile
                                                  << QStringList {QStringLiteral("emacs"), QStringLiteral("+12"), hostile};
        QTest::newRow("quoted program") << QStringLiteral("'/opt/my editor/ed' +%l \"%f\"") << spaced
                                        << QStringList {QStringLiteral("/opt/my editor/ed"), QStringLiteral("+12"), spaced};
        QTest::newRow("no file placeholder") << QStringLiteral("myeditor") << spaced << QStringList {QStringLiteral("myeditor"), spaced};
        QTest::newRow("escaped percent") << QStringLiteral("ed %%f %f") << spaced << QStringList {QStringLiteral("ed"), QStringLiteral("%f"), spaced};
        QTest::newRow("pipe is a word") << QStringLiteral("vim %f | tee") << spaced
                                        << QStringList {QStringLiteral("vim"), spaced, QStringLiteral("|"), QStringLiteral("tee")};
        QTest::newRow("unclosed quote") << QStringLiteral("kate 'x %f") << spaced << QStringList();
        QTest::newRow("empty") << QStringLiteral("  ") << spaced << QStringList();
    }

    void editorArguments()
    {
        QFETCH(QString, command);
        QFETCH(QString, path);
        QFETCH(QStringList, arguments);
        QCOMPARE(SourceLocation::editorArguments(command, path, 12), arguments);
    }

    void defaultEditorsName()
    {
        QStringList names;
        for (const auto &choice : SourceLocation::editorChoices()) {
            names << choice.name;
            QVERIFY(SourceLocation::editorArguments(choice.command, QStringLiteral("/a b.c"), 4).contains(QStringLiteral("/a b.c")) ||
                    SourceLocation::editorArguments(choice.command, QStringLiteral("/a b.c"), 4).contains(QStringLiteral("/a b.c:4")));
        }
        QCOMPARE(names,
                 QStringList({QStringLiteral("Kate"),
                              QStringLiteral("KDevelop"),
                              QStringLiteral("Qt Creator"),
                              QStringLiteral("Visual Studio Code"),
                              QStringLiteral("Emacs"),
                              QStringLiteral("Vim in Konsole")}));
    }

    void notFoundMessage_data()
    {
        QTest::addColumn<QStringList>("searched");
        QTest::addColumn<QString>("expected");
        QTest::newRow("folders") << QStringList {QStringLiteral("/p/doc"), QStringLiteral("/src/<odd> & co")}
                                 << QString::fromUtf8("The source file \u2018a<b>.c\u2019 was not found.\nFolders searched:\n/p/doc\n/src/<odd> & co");
        QTest::newRow("none") << QStringList() << QString::fromUtf8("The source file \u2018a<b>.c\u2019 was not found.\nNo folder was searched");
    }

    void notFoundMessage()
    {
        QFETCH(QStringList, searched);
        QFETCH(QString, expected);
        const QString text = plainText(SourceLocation(QStringLiteral("a<b>.c"), 1).notFoundMessage(searched)).simplified();
        QVERIFY2(text.startsWith(expected.simplified()), qPrintable(text));
    }

    void missingFileOffersSettings()
    {
        Massif::SourceSettings::setSourceFolders({m_dir.path() + QStringLiteral("/src1")});
        QString message;
        handleNextModal([&message](QWidget *box) {
            for (const QLabel *label : box->findChildren<QLabel *>()) {
                message += plainText(label->text()) + QLatin1Char(' ');
            }
            const auto buttons = box->findChildren<QPushButton *>();
            for (QPushButton *button : buttons) {
                if (button->text().remove(QLatin1Char('&')).startsWith(QLatin1String("Configure Source Folders"))) {
                    button->click();
                    return;
                }
            }
        });
        bool settingsShown = false;
        Massif::SourceLocationOpener::open(
            nullptr, "0x1: f (gone.c:3)", QUrl::fromLocalFile(m_dir.path() + QStringLiteral("/doc/massif.out.1")), [&settingsShown]() {
                settingsShown = true;
            });
        QVERIFY(settingsShown);
        QVERIFY2(message.contains(QLatin1String("gone.c")), qPrintable(message));
        QVERIFY2(message.contains(m_dir.path() + QStringLiteral("/doc")), qPrintable(message));
        QVERIFY2(message.contains(m_dir.path() + QStringLiteral("/src1")), qPrintable(message));
    }

    // The editor is started with the file as one argument: a name made to
    // break out of a shell command line starts nothing else.
    void editorStartedWithoutShell()
    {
        const QString doc = m_dir.path() + QStringLiteral("/doc");
        const QString name = QStringLiteral("my \"file\"; touch pwned $(touch pwned2).c");
        touch(doc + QLatin1Char('/') + name);
        Massif::SourceSettings::setSourceFolders({});
        Massif::SourceSettings::setEditorCommand(QStringLiteral("touch %f.opened-at-%l"));
        Massif::SourceLocationOpener::open(nullptr, "0x1: f (" + name.toUtf8() + ":42)", QUrl::fromLocalFile(doc + QStringLiteral("/massif.out.1")), {});
        QTRY_VERIFY(QFile::exists(doc + QLatin1Char('/') + name + QStringLiteral(".opened-at-42")));
        QVERIFY(!QFile::exists(QStringLiteral("pwned")));
        QVERIFY(!QFile::exists(doc + QStringLiteral("/pwned")));
        QVERIFY(!QFile::exists(QStringLiteral("pwned2")));
        Massif::SourceSettings::setEditorCommand(QString());
    }

    void settingsPageBindsItems()
    {
        KConfigDialog dialog(nullptr, QStringLiteral("sourcetest"), Massif::SourceSettings::self());
        dialog.addPage(new Massif::SourceFoldersPage, Massif::SourceSettings::self(), QStringLiteral("Source Folders"));
        auto *folders = dialog.findChild<KEditListWidget *>(QStringLiteral("kcfg_SourceFolders"));
        auto *command = dialog.findChild<QLineEdit *>(QStringLiteral("kcfg_EditorCommand"));
        auto *choice = dialog.findChild<QComboBox *>(QStringLiteral("editorChoice"));
        QVERIFY(folders && command && choice);
        dialog.show();

        folders->setItems({QStringLiteral("/one"), QStringLiteral("/two words")});
        const int vim = choice->findText(QStringLiteral("Vim in Konsole"));
        QVERIFY(vim > 0);
        choice->setCurrentIndex(vim);
        Q_EMIT choice->activated(vim);
        QCOMPARE(command->text(), QStringLiteral("konsole -e vim +%l %f"));
        dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Apply)->click();

        const KConfigGroup group = KSharedConfig::openConfig()->group(QStringLiteral("Source Locations"));
        QCOMPARE(group.readEntry("sourceFolders", QStringList()), QStringList({QStringLiteral("/one"), QStringLiteral("/two words")}));
        QCOMPARE(group.readEntry("editorCommand", QString()), QStringLiteral("konsole -e vim +%l %f"));

        // A command typed by hand shows as "Other command".
        command->setText(QStringLiteral("gedit +%l %f"));
        QCOMPARE(choice->currentIndex(), choice->count() - 1);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(SourceLocationTest)

#include "sourcelocationtest.moc"
