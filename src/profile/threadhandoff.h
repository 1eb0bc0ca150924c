/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_THREADHANDOFF_H
#define MASSIF_THREADHANDOFF_H

// Parsed data crosses threads as the argument of a queued signal, under locks
// inside Qt. A thread sanitizer does not see those locks in a Qt built without
// it, and would take every later read of the data for a race. These two calls
// tell it about the hand-over; in any other build they are empty.

#if defined(__SANITIZE_THREAD__)
#define QUILLMAP_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QUILLMAP_TSAN 1
#endif
#endif

#ifdef QUILLMAP_TSAN
extern "C" void __tsan_acquire(void *address);
extern "C" void __tsan_release(void *address);
#endif

namespace Massif {

/// Called by the thread that built @p object, before handing it over.
inline void releaseToOtherThread(const void *object)
{
#ifdef QUILLMAP_TSAN
    __tsan_release(const_cast<void *>(object));
#else
    Q_UNUSED(object)
#endif
}

/// Called by the thread that receives @p object, before reading it.
inline void acquireFromOtherThread(const void *object)
{
#ifdef QUILLMAP_TSAN
    __tsan_acquire(const_cast<void *>(object));
#else
    Q_UNUSED(object)
#endif
}

} // namespace Massif

#endif
