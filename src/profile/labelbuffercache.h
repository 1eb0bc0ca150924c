/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef LABELBUFFERCACHE_H
#define LABELBUFFERCACHE_H

#include <QByteArray>
#include <QHash>

#include <utility>

namespace Massif {

/**
 * Something worked out from a label, kept per label buffer.
 *
 * The nodes of a parsed file with equal labels share one label buffer, so a
 * pass over millions of nodes works out each value once per buffer and then
 * finds it by the buffer's address instead of hashing the text. Labels that
 * are equal in separate buffers get the value worked out once each, which
 * the worker has to give alike for equal texts.
 */
template<typename T>
class LabelBufferCache
{
public:
    /// The value for @p label, from @p workOut(label) the first time its buffer comes.
    template<typename WorkOut>
    T value(const QByteArray &label, WorkOut workOut)
    {
        const std::pair key(label.constData(), label.size());
        auto known = m_values.constFind(key);
        if (known == m_values.cend()) {
            known = m_values.insert(key, workOut(label));
        }
        return *known;
    }

private:
    QHash<std::pair<const char *, qsizetype>, T> m_values;
};

} // namespace Massif

#endif
