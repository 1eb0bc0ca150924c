/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "settings.h"
#include "formatting.h"

#include <KConfigGroup>
#include <KSharedConfig>

#include <QFile>
#include <QStandardPaths>
#include <QTest>

using Massif::Settings;

class SettingsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        clearConfig();
    }

    void init()
    {
        clearConfig();
        Settings::self()->read();
    }

    void defaultsFromEmptyConfiguration()
    {
        QCOMPARE(Settings::prettyCostPrecision(), 1);
        QCOMPARE(Settings::shortenTemplates(), false);
        QCOMPARE(Settings::legendPosition(), 4);
        QCOMPARE(Settings::legendPosition(), int(Settings::EnumLegendPosition::Floating));
        QCOMPARE(Settings::legendAlignment(), 1);
        QCOMPARE(Settings::legendAlignment(), int(Settings::EnumLegendAlignment::Center));
        QCOMPARE(Settings::legendFontSize(), 12);
    }

    void itemsHaveTheirNamesKeysAndTexts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("toolTip");
        QTest::newRow("precision") << QStringLiteral("PrettyCostPrecision") << QStringLiteral("prettyCostPrecision") << QStringLiteral("Cost Precision")
                                   << QStringLiteral("Defines the number of places after the comma for memory costs shown in the application.");
        QTest::newRow("templates")
            << QStringLiteral("ShortenTemplates") << QStringLiteral("shortenTemplates") << QStringLiteral("Shorten Templates")
            << QStringLiteral("Defines whether identifiers of C++ template instantiations should be shortened by removing their template arguments.");
        QTest::newRow("position") << QStringLiteral("LegendPosition") << QStringLiteral("legendPosition") << QStringLiteral("Legend Position")
                                  << QStringLiteral("Defines the position of the legend relative to the plot.");
        QTest::newRow("alignment") << QStringLiteral("LegendAlignment") << QStringLiteral("legendAlignment") << QStringLiteral("Legend Alignment")
                                   << QStringLiteral("Defines the alignment of the legend.");
        QTest::newRow("font size") << QStringLiteral("LegendFontSize") << QStringLiteral("legendFontSize") << QStringLiteral("Legend Font Size")
                                   << QStringLiteral("Defines the font size used in the legend.");
    }

    void itemsHaveTheirNamesKeysAndTexts()
    {
        QFETCH(QString, name);
        QFETCH(QString, key);
        QFETCH(QString, label);
        QFETCH(QString, toolTip);
        const KConfigSkeletonItem *item = Settings::self()->findItem(name);
        QVERIFY(item);
        QCOMPARE(item->group(), QStringLiteral("Settings"));
        QCOMPARE(item->key(), key);
        QCOMPARE(item->label(), label);
        QCOMPARE(item->toolTip(), toolTip);
    }

    void itemsInDeclaredOrder()
    {
        QStringList names;
        const auto items = Settings::self()->items();
        for (const KConfigSkeletonItem *item : items) {
            names << item->name();
        }
        QCOMPARE(names,
                 QStringList({QStringLiteral("PrettyCostPrecision"),
                              QStringLiteral("ShortenTemplates"),
                              QStringLiteral("LegendPosition"),
                              QStringLiteral("LegendAlignment"),
                              QStringLiteral("LegendFontSize")}));
    }

    void enumsStoredByChoiceName()
    {
        Settings::self()->legendPositionItem()->setValue(Settings::EnumLegendPosition::West);
        Settings::self()->legendAlignmentItem()->setValue(Settings::EnumLegendAlignment::Bottom);
        Settings::self()->prettyCostPrecisionItem()->setValue(3);
        Settings::setShortenTemplates(true);
        Settings::self()->legendFontSizeItem()->setValue(8);
        QVERIFY(Settings::self()->save());

        const KConfigGroup group = freshGroup();
        QCOMPARE(group.readEntry("legendPosition", QString()), QStringLiteral("West"));
        QCOMPARE(group.readEntry("legendAlignment", QString()), QStringLiteral("Bottom"));
        QCOMPARE(group.readEntry("prettyCostPrecision", 0), 3);
        QCOMPARE(group.readEntry("shortenTemplates", false), true);
        QCOMPARE(group.readEntry("legendFontSize", 0), 8);
    }

    void valuesReadBackFromConfiguration()
    {
        KConfigGroup group = KSharedConfig::openConfig()->group(QStringLiteral("Settings"));
        group.writeEntry("legendPosition", QStringLiteral("South"));
        group.writeEntry("legendAlignment", QStringLiteral("Right"));
        group.writeEntry("prettyCostPrecision", 2);
        group.writeEntry("shortenTemplates", true);
        group.writeEntry("legendFontSize", 14);
        Settings::self()->read();

        QCOMPARE(Settings::legendPosition(), int(Settings::EnumLegendPosition::South));
        QCOMPARE(Settings::legendAlignment(), int(Settings::EnumLegendAlignment::Right));
        QCOMPARE(Settings::prettyCostPrecision(), 2);
        QCOMPARE(Settings::shortenTemplates(), true);
        QCOMPARE(Settings::legendFontSize(), 14);
    }

    void fontSizeClampedToRange()
    {
        KConfigGroup group = KSharedConfig::openConfig()->group(QStringLiteral("Settings"));
        group.writeEntry("legendFontSize", 40);
        Settings::self()->read();
        QCOMPARE(Settings::legendFontSize(), 14);
        group.writeEntry("legendFontSize", 2);
        Settings::self()->read();
        QCOMPARE(Settings::legendFontSize(), 6);
    }

    // The formatting functions read the configuration directly, so a saved
    // value must reach them without any notification.
    void savedValuesReachFormatting()
    {
        Settings::self()->prettyCostPrecisionItem()->setValue(3);
        Settings::setShortenTemplates(true);
        QVERIFY(Settings::self()->save());
        QVERIFY(Massif::formatCost(1536).contains(QLatin1String("500")));
        QCOMPARE(Massif::shortenTemplates(QByteArrayLiteral("std::vector<int>::push_back")), QByteArrayLiteral("std::vector<>::push_back"));

        Settings::self()->prettyCostPrecisionItem()->setValue(0);
        Settings::setShortenTemplates(false);
        QVERIFY(Settings::self()->save());
        QVERIFY(!Massif::formatCost(1536).contains(QLatin1String("500")));
        QCOMPARE(Massif::shortenTemplates(QByteArrayLiteral("std::vector<int>::push_back")), QByteArrayLiteral("std::vector<int>::push_back"));
    }

private:
    static void clearConfig()
    {
        KSharedConfig::Ptr config = KSharedConfig::openConfig();
        config->deleteGroup(QStringLiteral("Settings"));
        config->sync();
    }

    static KConfigGroup freshGroup()
    {
        // A separate object that reads what is on disk, not the shared cache.
        static KSharedConfig::Ptr disk;
        disk = KSharedConfig::openConfig(KSharedConfig::openConfig()->name(), KConfig::SimpleConfig);
        disk->reparseConfiguration();
        return disk->group(QStringLiteral("Settings"));
    }
};

QTEST_GUILESS_MAIN(SettingsTest)

#include "settingstest.moc"
