/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "plaintext.h"

#include <QRegularExpression>

namespace Massif {

namespace {

bool isUnsafe(char32_t c)
{
    // C0 and C1 controls, DEL, and the bidirectional embeddings, overrides
    // and isolates that can make a line read differently from what it holds.
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) || (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069) || c == 0x200e || c == 0x200f || c == 0x061c;
}

} // namespace

QString readableText(const QString &text)
{
    QString result = text;
    for (QChar &c : result) {
        if (isUnsafe(c.unicode())) {
            c = QChar::ReplacementCharacter;
        }
    }
    return result;
}

QString readableText(const QByteArray &bytes)
{
    // Invalid sequences decode to U+FFFD.
    return readableText(QString::fromUtf8(bytes));
}

QString plainTextOfMessage(const QString &richText)
{
    static const QRegularExpression lineBreak(QStringLiteral("<br\\s*/?>"), QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression tag(QStringLiteral("<[^>]*>"));
    QString text = richText;
    text.replace(lineBreak, QStringLiteral("\n"));
    text.remove(tag);
    // What came from the file was escaped with toHtmlEscaped(); "&amp;" last,
    // so that an escaped entity stays as written.
    text.replace(QLatin1String("&lt;"), QLatin1String("<"));
    text.replace(QLatin1String("&gt;"), QLatin1String(">"));
    text.replace(QLatin1String("&quot;"), QLatin1String("\""));
    text.replace(QLatin1String("&#39;"), QLatin1String("'"));
    text.replace(QLatin1String("&amp;"), QLatin1String("&"));
    return text;
}

} // namespace Massif
