/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_FREEDMEMORY_H
#define MASSIF_FREEDMEMORY_H

namespace Massif {

/**
 * Gives the memory the heap keeps of freed blocks back to the system. After a
 * large file is parsed or closed, the C library would otherwise keep the pages
 * of its many freed blocks for the process, spread over the threads' arenas.
 */
void returnFreedMemory();

} // namespace Massif

#endif
