/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "configdialog.h"
#include "settings.h"

#include <KConfigGroup>
#include <KSharedConfig>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTest>

using Massif::ConfigDialog;
using Massif::Settings;

class ConfigDialogTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
    }

    void init()
    {
        KSharedConfig::Ptr config = KSharedConfig::openConfig();
        config->deleteGroup(QStringLiteral("Settings"));
        config->sync();
        Settings::self()->read();
    }

    void widgetsBoundToItems()
    {
        ConfigDialog dialog(nullptr);
        QCOMPARE(dialog.objectName(), QStringLiteral("settings"));

        auto *precision = dialog.findChild<QSpinBox *>(QStringLiteral("kcfg_PrettyCostPrecision"));
        auto *fontSize = dialog.findChild<QSpinBox *>(QStringLiteral("kcfg_LegendFontSize"));
        auto *templates = dialog.findChild<QCheckBox *>(QStringLiteral("kcfg_ShortenTemplates"));
        auto *position = dialog.findChild<QComboBox *>(QStringLiteral("kcfg_LegendPosition"));
        auto *alignment = dialog.findChild<QComboBox *>(QStringLiteral("kcfg_LegendAlignment"));
        QVERIFY(precision && fontSize && templates && position && alignment);

        QCOMPARE(precision->minimum(), 0);
        QCOMPARE(precision->maximum(), 99);
        QCOMPARE(fontSize->minimum(), 6);
        QCOMPARE(fontSize->maximum(), 14);

        QCOMPARE(precision->value(), 1);
        QCOMPARE(templates->isChecked(), false);
        QCOMPARE(position->currentIndex(), 4);
        QCOMPARE(alignment->currentIndex(), 1);
        QCOMPARE(fontSize->value(), 12);

        QCOMPARE(itemTexts(position),
                 QStringList({QStringLiteral("North"), QStringLiteral("East"), QStringLiteral("South"), QStringLiteral("West"), QStringLiteral("Floating")}));
        QCOMPARE(itemTexts(alignment),
                 QStringList({QStringLiteral("Left"), QStringLiteral("Center"), QStringLiteral("Right"), QStringLiteral("Top"), QStringLiteral("Bottom")}));
        // The settings items' tool tips reach the widgets.
        QCOMPARE(fontSize->toolTip(), QStringLiteral("Defines the font size used in the legend."));
    }

    void showsStoredValues()
    {
        KConfigGroup group = KSharedConfig::openConfig()->group(QStringLiteral("Settings"));
        group.writeEntry("legendPosition", QStringLiteral("East"));
        group.writeEntry("legendAlignment", QStringLiteral("Top"));
        group.writeEntry("legendFontSize", 9);
        Settings::self()->read();

        ConfigDialog dialog(nullptr);
        QCOMPARE(dialog.findChild<QComboBox *>(QStringLiteral("kcfg_LegendPosition"))->currentIndex(), 1);
        QCOMPARE(dialog.findChild<QComboBox *>(QStringLiteral("kcfg_LegendAlignment"))->currentIndex(), 3);
        QCOMPARE(dialog.findChild<QSpinBox *>(QStringLiteral("kcfg_LegendFontSize"))->value(), 9);
    }

    void applyStoresChangedValues()
    {
        ConfigDialog dialog(nullptr);
        QSignalSpy changed(&dialog, &KConfigDialog::settingsChanged);
        dialog.findChild<QComboBox *>(QStringLiteral("kcfg_LegendPosition"))->setCurrentIndex(0);
        dialog.findChild<QSpinBox *>(QStringLiteral("kcfg_PrettyCostPrecision"))->setValue(42);
        dialog.findChild<QCheckBox *>(QStringLiteral("kcfg_ShortenTemplates"))->setChecked(true);
        dialog.button(QDialogButtonBox::Apply)->click();

        QCOMPARE(changed.count(), 1);
        QCOMPARE(Settings::legendPosition(), int(Settings::EnumLegendPosition::North));
        QCOMPARE(Settings::prettyCostPrecision(), 42);
        QCOMPARE(Settings::shortenTemplates(), true);
        const KConfigGroup group = KSharedConfig::openConfig()->group(QStringLiteral("Settings"));
        QCOMPARE(group.readEntry("legendPosition", QString()), QStringLiteral("North"));
    }

    void deletedOnClose()
    {
        QPointer<ConfigDialog> dialog = new ConfigDialog(nullptr);
        dialog->show();
        QVERIFY(KConfigDialog::exists(QStringLiteral("settings")));
        dialog->close();
        QTRY_VERIFY(dialog.isNull());
        QVERIFY(!KConfigDialog::exists(QStringLiteral("settings")));
    }

private:
    static QStringList itemTexts(const QComboBox *box)
    {
        QStringList texts;
        for (int i = 0; i < box->count(); ++i) {
            texts << box->itemText(i);
        }
        return texts;
    }
};

QTEST_MAIN(ConfigDialogTest)

#include "configdialogtest.moc"
