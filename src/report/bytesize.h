/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_BYTESIZE_H
#define MASSIF_BYTESIZE_H

#include <QString>

namespace Massif {

/**
 * Reads a size such as "1048576", "512B", "64MiB", "1.5GB" or "2 kib": a
 * decimal number, optionally with a fraction, and a unit, binary (KiB, MiB,
 * GiB, TiB) or decimal (kB, MB, GB, TB), in any letter case, rounded to
 * whole bytes. Returns false for anything else and for sizes beyond 64 bits.
 */
bool parseByteSize(const QString &text, quint64 *bytes);

} // namespace Massif

#endif
