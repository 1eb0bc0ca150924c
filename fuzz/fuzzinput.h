/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef QUILLMAP_FUZZINPUT_H
#define QUILLMAP_FUZZINPUT_H

#include <QByteArray>

/**
 * Reads @p input as a massif file, without and with custom allocators (plain
 * and wildcard), and writes the dot graph of every snapshot and of a subtree.
 * Aborts when a dot file written for parsed data is not valid dot.
 */
void processFuzzInput(const QByteArray &input);

#endif
