/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_LABELKEY_H
#define MASSIF_LABELKEY_H

#include <QByteArrayView>
#include <QHashFunctions>

#include <cstring>

namespace Massif {

/**
 * What a heap tree node is matched by when two trees are compared: its
 * function and source location, never its code address, which changes with
 * every build. All below-threshold summaries share one key. The views point
 * into the label, which must outlive the key.
 */
struct LabelKey
{
    QByteArrayView function;
    QByteArrayView location;
    bool summary = false;

    bool operator==(const LabelKey &other) const
    {
        return summary == other.summary && (summary || (function == other.function && location == other.location));
    }
    bool operator!=(const LabelKey &other) const
    {
        return !(*this == other);
    }
};

inline size_t qHash(const LabelKey &key, size_t seed = 0)
{
    if (key.summary) {
        return seed ^ 0x9e3779b9u;
    }
    return qHashMulti(seed, key.function, key.location);
}

/// isThresholdSummary() for a view, fast on labels that are none: it looks for the rare apostrophe first.
inline bool isSummaryLabel(QByteArrayView label)
{
    static constexpr QByteArrayView before("below massif");
    static constexpr QByteArrayView after("'s threshold");
    const char *data = label.data();
    const qsizetype size = label.size();
    for (qsizetype from = before.size(); from < size;) {
        const void *found = memchr(data + from, '\'', size_t(size - from));
        if (!found) {
            return false;
        }
        const qsizetype at = static_cast<const char *>(found) - data;
        if (label.sliced(at - before.size(), before.size()) == before && label.sliced(at).startsWith(after)) {
            return true;
        }
        from = at + 1;
    }
    return false;
}

/// The pieces of splitLabelPieces(), without copying, and the summary test of isThresholdSummary().
inline LabelKey labelKey(QByteArrayView label)
{
    LabelKey key;
    if (isSummaryLabel(label)) {
        key.summary = true;
        return key;
    }
    qsizetype functionStart = 0;
    qsizetype functionEnd = label.size();
    if (label.startsWith(QByteArrayView("0x"))) {
        const qsizetype colon = label.indexOf(QByteArrayView(": "));
        if (colon != -1) {
            functionStart = colon + 2;
        }
    }
    if (label.endsWith(')')) {
        const qsizetype open = label.lastIndexOf(QByteArrayView(" ("));
        if (open != -1) {
            key.location = label.sliced(open + 2, label.size() - 1 - (open + 2));
            functionEnd = open;
        }
    }
    if (functionEnd > functionStart) {
        key.function = label.sliced(functionStart, functionEnd - functionStart);
    }
    return key;
}

} // namespace Massif

#endif
