/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "bytesize.h"

#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace Massif {

bool parseByteSize(const QString &text, quint64 *bytes)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*([0-9]+)(?:\\.([0-9]+))?\\s*([kmgt]i?b|b)?\\s*$"), QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch()) {
        return false;
    }
    const QString unit = match.captured(3).toLower();
    quint64 factor = 1;
    if (unit.size() > 1) {
        const quint64 base = unit.size() == 3 ? 1024 : 1000;
        const int power = QStringLiteral("kmgt").indexOf(unit.at(0)) + 1;
        for (int i = 0; i < power; ++i) {
            factor *= base;
        }
    }

    // The whole part exactly, in integers; the fraction rounded to a byte.
    bool ok = false;
    const quint64 whole = match.captured(1).toULongLong(&ok);
    if (!ok || whole > std::numeric_limits<quint64>::max() / factor) {
        return false;
    }
    quint64 result = whole * factor;
    const QString fraction = match.captured(2);
    if (!fraction.isEmpty()) {
        const double rounded = std::round(QString(QStringLiteral("0.") + fraction).toDouble() * static_cast<double>(factor));
        if (rounded >= static_cast<double>(std::numeric_limits<quint64>::max() - result)) {
            return false;
        }
        result += static_cast<quint64>(rounded);
    }
    *bytes = result;
    return true;
}

} // namespace Massif
