/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_SOURCELOCATIONOPENER_H
#define MASSIF_SOURCELOCATIONOPENER_H

#include <QByteArray>

#include <functional>

class QUrl;
class QWidget;

namespace Massif {

/**
 * Opens the source location of a heap tree node in the user's editor, as
 * the settings say, or tells the user why it cannot.
 */
class SourceLocationOpener
{
public:
    /// Whether @p label names a file and a line.
    static bool canOpen(const QByteArray &label);

    /**
     * Finds the file of @p label near @p document and in the source folders,
     * then starts the editor command, or the desktop's default application
     * when none is set. A file not found gives a message with a button that
     * calls @p showSettings.
     */
    static void open(QWidget *parent, const QByteArray &label, const QUrl &document, const std::function<void()> &showSettings);
};

} // namespace Massif

#endif
