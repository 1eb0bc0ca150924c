/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "freedmemory.h"

#include <QtGlobal>

#ifdef __GLIBC__
#include <malloc.h>
#endif

void Massif::returnFreedMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}
