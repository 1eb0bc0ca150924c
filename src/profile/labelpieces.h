/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_LABELPIECES_H
#define MASSIF_LABELPIECES_H

#include <QByteArray>
#include <QHashFunctions>

namespace Massif {

/// A heap tree label divided into code address, function and source location.
struct LabelPieces
{
    QByteArray address;
    QByteArray function;
    QByteArray location;

    bool operator==(const LabelPieces &other) const
    {
        return address == other.address && function == other.function && location == other.location;
    }
    bool operator!=(const LabelPieces &other) const
    {
        return !(*this == other);
    }
};

inline size_t qHash(const LabelPieces &pieces, size_t seed = 0)
{
    Q_UNUSED(seed)
    const quint32 function = quint32(::qHash(pieces.function, 0));
    const quint32 location = quint32(::qHash(pieces.location, 0));
    const quint32 address = quint32(::qHash(pieces.address, 0));
    return quint32(function + 17u * location + 19u * address);
}

LabelPieces splitLabelPieces(const QByteArray &label);

/// The function piece of the label: what custom allocators are compared with.
QByteArray labelFunction(const QByteArray &label);

} // namespace Massif

#endif
