/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_FOLDEDSTACKS_H
#define MASSIF_FOLDEDSTACKS_H

#include <QByteArray>

class QIODevice;

namespace Massif {

class SnapshotItem;

/**
 * Writes a snapshot's heap tree as folded stacks, the input format of flame
 * graph tools: one line "root;caller;callee BYTES" per path, root first,
 * with the bytes allocated in the last frame itself. The lines sum to the
 * snapshot's cost: stack bytes get a line "(stacks)" of their own, and a
 * snapshot without a tree one line for its whole heap.
 * Returns false when the device fails.
 */
bool writeFoldedStacks(const SnapshotItem &snapshot, QIODevice *device);

/// One frame's name: the label without address, with ";" and unreadable bytes replaced.
QByteArray foldedFrame(const QByteArray &label);

} // namespace Massif

#endif
