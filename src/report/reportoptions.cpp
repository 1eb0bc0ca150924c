/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "reportoptions.h"

#include <algorithm>

using namespace Massif;

bool ReportOptions::parseSnapshotChoice(const QString &text, SnapshotChoice *choice, quint32 *number)
{
    if (text == QLatin1String("peak")) {
        *choice = PeakSnapshot;
        return true;
    }
    if (text == QLatin1String("last")) {
        *choice = LastSnapshot;
        return true;
    }
    // Digits only: toUInt() would also take blanks and a plus sign.
    if (text.isEmpty() || std::any_of(text.cbegin(), text.cend(), [](QChar c) {
            return c < QLatin1Char('0') || c > QLatin1Char('9');
        })) {
        return false;
    }
    bool ok = false;
    const quint32 value = text.toUInt(&ok);
    if (!ok) {
        return false;
    }
    *choice = NumberedSnapshot;
    *number = value;
    return true;
}

QString ReportOptions::snapshotChoiceText(SnapshotChoice choice, quint32 number)
{
    switch (choice) {
    case PeakSnapshot:
        return QStringLiteral("peak");
    case LastSnapshot:
        return QStringLiteral("last");
    case NumberedSnapshot:
        break;
    }
    return QString::number(number);
}

bool ReportOptions::setSnapshot(const QString &text)
{
    return parseSnapshotChoice(text, &snapshot, &snapshotNumber);
}

QString ReportOptions::snapshotText() const
{
    return snapshotChoiceText(snapshot, snapshotNumber);
}

bool ReportOptions::setBaselineSnapshot(const QString &text)
{
    return parseSnapshotChoice(text, &baselineSnapshot, &baselineSnapshotNumber);
}

QString ReportOptions::baselineSnapshotText() const
{
    return snapshotChoiceText(baselineSnapshot, baselineSnapshotNumber);
}
