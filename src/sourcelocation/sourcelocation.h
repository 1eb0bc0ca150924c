/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_SOURCELOCATION_H
#define MASSIF_SOURCELOCATION_H

#include <QList>
#include <QString>
#include <QStringList>

namespace Massif {

/**
 * Where a heap tree node's code is: the "file.c:123" of its label. Finds the
 * file on disk and builds the command that opens it in an editor, without
 * widgets, so that every view and a command-line program can share it.
 */
class SourceLocation
{
public:
    SourceLocation() = default;
    SourceLocation(const QString &file, int line) : m_file(file), m_line(line)
    {
    }

    /// The location piece of @p label when it names a file and a line; invalid otherwise.
    static SourceLocation fromLabel(const QByteArray &label);

    bool isValid() const
    {
        return !m_file.isEmpty() && m_line > 0;
    }
    QString file() const
    {
        return m_file;
    }
    int line() const
    {
        return m_line;
    }

    /**
     * The file on disk, or an empty string: the path as written when it is
     * absolute and exists, else looked up in @p documentFolder (the massif
     * file's folder, empty when it is not local) and then in each of
     * @p sourceFolders, first directly, then in their subfolders.
     * @p searched receives the folders looked in, in order.
     */
    QString resolve(const QString &documentFolder, const QStringList &sourceFolders, QStringList *searched = nullptr) const;

    /// What the user reads when resolve() found nothing: the file and the folders searched, as rich text.
    QString notFoundMessage(const QStringList &searched) const;

    /**
     * The program and its arguments that open @p path at @p line with
     * @p command: the command is split as a shell would split words, but
     * never run by a shell; "%f" and "%l" inside the words become the path
     * and the line, so that a path with spaces or quotes stays one argument.
     * Without "%f" the path is appended. Empty when the command is empty or
     * cannot be split (an unclosed quote).
     */
    static QStringList editorArguments(const QString &command, const QString &path, int line);

    struct EditorChoice
    {
        QString name;
        QString command;
    };
    /// Editors offered in the settings, each with its command.
    static QList<EditorChoice> editorChoices();

private:
    QString m_file;
    int m_line = 0;
};

} // namespace Massif

#endif
