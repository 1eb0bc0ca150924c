/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "labelpieces.h"

namespace Massif {

LabelPieces splitLabelPieces(const QByteArray &label)
{
    LabelPieces pieces;
    qsizetype functionStart = 0;
    qsizetype functionEnd = label.size();

    if (label.startsWith("0x")) {
        const qsizetype colon = label.indexOf(": ");
        if (colon != -1) {
            pieces.address = label.left(colon);
            functionStart = colon + 2;
        }
    }
    if (label.endsWith(')')) {
        const qsizetype open = label.lastIndexOf(" (");
        if (open != -1) {
            pieces.location = label.mid(open + 2, label.size() - 1 - (open + 2));
            functionEnd = open;
        }
    }
    // An address separator inside the location must not invert the range.
    pieces.function = functionEnd > functionStart ? label.mid(functionStart, functionEnd - functionStart) : QByteArray();
    return pieces;
}

QByteArray labelFunction(const QByteArray &label)
{
    return splitLabelPieces(label).function;
}

} // namespace Massif
