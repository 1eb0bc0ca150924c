/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "reportoptions.h"

#include <algorithm>

using namespace Massif;

bool ReportOptions::setSnapshot(const QString &text)
{
    if (text == QLatin1String("peak")) {
        snapshot = PeakSnapshot;
        return true;
    }
    if (text == QLatin1String("last")) {
        snapshot = LastSnapshot;
        return true;
    }
    // Digits only: toUInt() would also take blanks and a plus sign.
    if (text.isEmpty() || std::any_of(text.cbegin(), text.cend(), [](QChar c) {
            return c < QLatin1Char('0') || c > QLatin1Char('9');
        })) {
        return false;
    }
    bool ok = false;
    const quint32 number = text.toUInt(&ok);
    if (!ok) {
        return false;
    }
    snapshot = NumberedSnapshot;
    snapshotNumber = number;
    return true;
}

QString ReportOptions::snapshotText() const
{
    switch (snapshot) {
    case PeakSnapshot:
        return QStringLiteral("peak");
    case LastSnapshot:
        return QStringLiteral("last");
    case NumberedSnapshot:
        break;
    }
    return QString::number(snapshotNumber);
}
