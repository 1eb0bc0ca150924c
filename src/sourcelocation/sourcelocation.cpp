/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "sourcelocation.h"

#include "labelpieces.h"

#include <KLocalizedString>
#include <KShell>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

namespace Massif {

namespace {

// A bound on the subfolder search, so that a source folder set to "/" or
// to a home directory does not freeze the program.
constexpr int MaximumEntriesPerFolder = 200000;

bool isFile(const QString &path)
{
    return QFileInfo(path).isFile();
}

QString findBelow(const QString &folder, const QString &relative)
{
    const QString name = QFileInfo(relative).fileName();
    const QString tail = QLatin1Char('/') + QDir::cleanPath(relative);
    QDirIterator it(folder, {name}, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    int seen = 0;
    QString sameName;
    while (it.hasNext() && seen++ < MaximumEntriesPerFolder) {
        const QString path = it.next();
        // A file whose path ends with the whole relative path wins over one that only shares the name.
        if (path.endsWith(tail)) {
            return path;
        }
        if (sameName.isEmpty()) {
            sameName = path;
        }
    }
    return sameName;
}

} // namespace

SourceLocation SourceLocation::fromLabel(const QByteArray &label)
{
    const QByteArray location = splitLabelPieces(label).location;
    const qsizetype colon = location.lastIndexOf(':');
    if (colon <= 0 || colon + 1 >= location.size()) {
        return {};
    }
    bool ok = false;
    const int line = location.mid(colon + 1).toInt(&ok);
    if (!ok || line <= 0) {
        return {};
    }
    return SourceLocation(QString::fromUtf8(location.left(colon)), line);
}

QString SourceLocation::resolve(const QString &documentFolder, const QStringList &sourceFolders, QStringList *searched) const
{
    if (searched) {
        searched->clear();
    }
    if (!isValid()) {
        return QString();
    }
    const QFileInfo info(m_file);
    if (info.isAbsolute() && info.isFile()) {
        return info.absoluteFilePath();
    }
    // A relative path is tried as it is below each folder, then by its name
    // alone; an absolute path from another machine by its name alone.
    const QString relative = info.isAbsolute() ? info.fileName() : m_file;
    const QString name = info.fileName();
    QStringList folders;
    if (!documentFolder.isEmpty()) {
        folders << documentFolder;
    }
    for (const QString &folder : sourceFolders) {
        if (!folder.isEmpty() && !folders.contains(folder)) {
            folders << folder;
        }
    }
    for (const QString &folder : std::as_const(folders)) {
        if (searched) {
            searched->append(folder);
        }
        const QDir dir(folder);
        if (isFile(dir.filePath(relative))) {
            return QFileInfo(dir.filePath(relative)).absoluteFilePath();
        }
        if (name != relative && isFile(dir.filePath(name))) {
            return QFileInfo(dir.filePath(name)).absoluteFilePath();
        }
    }
    for (const QString &folder : sourceFolders) {
        if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
            continue;
        }
        const QString found = findBelow(folder, info.isAbsolute() ? m_file.mid(1) : m_file);
        if (!found.isEmpty()) {
            return QFileInfo(found).absoluteFilePath();
        }
    }
    return QString();
}

QString SourceLocation::notFoundMessage(const QStringList &searched) const
{
    QString text = xi18nc("@info", "The source file <filename>%1</filename> was not found.", m_file);
    if (searched.isEmpty()) {
        text += QLatin1String("<p>") + i18nc("@info", "No folder was searched: the profile is not a local file and no source folders are set.") +
            QLatin1String("</p>");
        return text;
    }
    text += QLatin1String("<p>") + i18nc("@info", "Folders searched:") + QLatin1String("</p><ul>");
    for (const QString &folder : searched) {
        text += QLatin1String("<li>") + folder.toHtmlEscaped() + QLatin1String("</li>");
    }
    text += QLatin1String("</ul>");
    return text;
}

QStringList SourceLocation::editorArguments(const QString &command, const QString &path, int line)
{
    KShell::Errors error = KShell::NoError;
    // No AbortOnMeta: nothing here reaches a shell, so "|" or ";" are plain characters.
    QStringList words = KShell::splitArgs(command.trimmed(), KShell::TildeExpand, &error);
    if (error != KShell::NoError || words.isEmpty()) {
        return {};
    }
    bool hasFile = false;
    for (QString &word : words) {
        QString result;
        for (qsizetype i = 0; i < word.size(); ++i) {
            if (word.at(i) == QLatin1Char('%') && i + 1 < word.size()) {
                const QChar next = word.at(i + 1);
                if (next == QLatin1Char('f')) {
                    result += path;
                    hasFile = true;
                    ++i;
                    continue;
                }
                if (next == QLatin1Char('l')) {
                    result += QString::number(line);
                    ++i;
                    continue;
                }
                if (next == QLatin1Char('%')) {
                    result += QLatin1Char('%');
                    ++i;
                    continue;
                }
            }
            result += word.at(i);
        }
        word = result;
    }
    if (!hasFile) {
        words << path;
    }
    return words;
}

QList<SourceLocation::EditorChoice> SourceLocation::editorChoices()
{
    return {
        {i18nc("@item:inlistbox editor", "Kate"), QStringLiteral("kate --line %l %f")},
        {i18nc("@item:inlistbox editor", "KDevelop"), QStringLiteral("kdevelop %f:%l")},
        {i18nc("@item:inlistbox editor", "Qt Creator"), QStringLiteral("qtcreator -client %f:%l")},
        {i18nc("@item:inlistbox editor", "Visual Studio Code"), QStringLiteral("code --goto %f:%l")},
        {i18nc("@item:inlistbox editor", "Emacs"), QStringLiteral("emacs +%l %f")},
        {i18nc("@item:inlistbox editor", "Vim in Konsole"), QStringLiteral("konsole -e vim +%l %f")},
    };
}

} // namespace Massif
