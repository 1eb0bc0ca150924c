/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_PLAINTEXT_H
#define MASSIF_PLAINTEXT_H

#include <QByteArray>
#include <QString>

namespace Massif {

/**
 * Text from a profile as it may be shown on a terminal or in a file: bytes
 * that are no UTF-8 become U+FFFD, and so do control characters (escape
 * sequences, line breaks) and the marks that reorder text on screen.
 */
QString readableText(const QByteArray &bytes);
QString readableText(const QString &text);

/// The plain text of the parse worker's rich-text messages: line breaks kept, markup dropped, entities decoded.
QString plainTextOfMessage(const QString &richText);

} // namespace Massif

#endif
