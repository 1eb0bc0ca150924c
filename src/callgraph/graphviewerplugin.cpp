/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "graphviewerplugin.h"

#include <QCoreApplication>
#include <QDir>
#include <QStringList>

namespace Massif {

static QString canonicalDirectory(const QString &path)
{
    return QDir(path).canonicalPath();
}

static QStringList ownPluginDirectories()
{
    const QString applicationDir = canonicalDirectory(QCoreApplication::applicationDirPath());
    const QString buildDir = canonicalDirectory(QStringLiteral(QUILLMAP_BUILD_DIR));
    QStringList candidates;
    if (!buildDir.isEmpty() && (applicationDir == buildDir || applicationDir.startsWith(buildDir + QLatin1Char('/')))) {
        candidates << QStringLiteral(QUILLMAP_BUILD_PLUGIN_DIR);
    }
    // Relative to the program first, so that a relocated installation uses its own copy.
    candidates << QCoreApplication::applicationDirPath() + QStringLiteral("/../" QUILLMAP_INSTALL_LIBDIR "/quillmap/plugins");
    candidates << QStringLiteral(QUILLMAP_INSTALL_PLUGIN_DIR);

    QStringList directories;
    for (const QString &candidate : std::as_const(candidates)) {
        const QString directory = canonicalDirectory(candidate);
        if (!directory.isEmpty() && !directories.contains(directory)) {
            directories << directory;
        }
    }
    return directories;
}

void addGraphViewerPluginPaths()
{
    const QStringList own = ownPluginDirectories();
    QStringList paths = own;
    const QStringList current = QCoreApplication::libraryPaths();
    for (const QString &path : current) {
        if (!own.contains(canonicalDirectory(path))) {
            paths << path;
        }
    }
    QCoreApplication::setLibraryPaths(paths);
}

} // namespace Massif
