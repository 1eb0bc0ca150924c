/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "foldedstacks.h"

#include "formatting.h"
#include "plaintext.h"
#include "snapshotitem.h"
#include "treeleafitem.h"

#include <QHash>
#include <QIODevice>

namespace Massif {

namespace {

class FoldedWriter
{
public:
    explicit FoldedWriter(QIODevice *device) : m_device(device)
    {
    }

    void writeLine(const QByteArray &path, quint64 bytes)
    {
        if (bytes == 0) {
            return;
        }
        m_buffer += path;
        m_buffer += ' ';
        m_buffer += QByteArray::number(bytes);
        m_buffer += '\n';
        if (m_buffer.size() >= 1 << 16) {
            flush();
        }
    }

    // A path's bytes are those its last frame holds itself: the frame's cost
    // minus what its children hold. Massif's children never hold more, but a
    // damaged file is not allowed to make a count wrap around.
    void writeNode(const TreeLeafItem *node, QByteArray &path)
    {
        const qsizetype length = path.size();
        if (length > 0) {
            path += ';';
        }
        path += frame(node->label());
        quint64 children = 0;
        const QList<TreeLeafItem *> nodes = node->children();
        for (const TreeLeafItem *child : nodes) {
            children += child->cost();
            writeNode(child, path);
        }
        writeLine(path, node->cost() > children ? node->cost() - children : 0);
        path.truncate(length);
    }

    bool flush()
    {
        if (!m_buffer.isEmpty() && m_device->write(m_buffer) != m_buffer.size()) {
            m_failed = true;
        }
        m_buffer.clear();
        return !m_failed;
    }

private:
    // Labels repeat a lot, and each one reads the template setting.
    QByteArray frame(const QByteArray &label)
    {
        auto it = m_frames.constFind(label);
        if (it == m_frames.constEnd()) {
            it = m_frames.insert(label, foldedFrame(label));
        }
        return it.value();
    }

    QIODevice *m_device;
    QHash<QByteArray, QByteArray> m_frames;
    QByteArray m_buffer;
    bool m_failed = false;
};

} // namespace

QByteArray foldedFrame(const QByteArray &label)
{
    QString frame = readableText(displayLabel(label));
    frame.replace(QLatin1Char(';'), QLatin1Char(','));
    return frame.toUtf8();
}

bool writeFoldedStacks(const SnapshotItem &snapshot, QIODevice *device)
{
    FoldedWriter writer(device);
    QByteArray path;
    if (const TreeLeafItem *root = snapshot.heapTree()) {
        writer.writeNode(root, path);
    } else {
        writer.writeLine("(heap allocation functions)", snapshot.memHeap());
    }
    writer.writeLine("(stacks)", snapshot.memStacks());
    return writer.flush();
}

} // namespace Massif
