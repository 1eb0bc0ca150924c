/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "graphviewerplugin.h"
#include "kgraphviewerinterface.h"

#include <KParts/ReadOnlyPart>
#include <KPluginFactory>
#include <KPluginMetaData>

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
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

QStringList graphViewerPluginDirectories()
{
    return ownPluginDirectories();
}

KPluginFactory *loadGraphViewerFactory(const QStringList &directories)
{
    for (const QString &directory : directories) {
        const QString path = directory + QStringLiteral("/kf6/parts/kgraphviewerpart.so");
        if (!QFileInfo::exists(path)) {
            continue;
        }
        // An absolute file name: the metadata is read from that file, not searched for.
        const auto result = KPluginFactory::loadFactory(KPluginMetaData(QFileInfo(path).absoluteFilePath()));
        if (result.plugin) {
            return result.plugin;
        }
        qWarning() << "graph viewer part" << path << "cannot be loaded:" << result.errorText;
    }
    return nullptr;
}

KPluginFactory *graphViewerFactory()
{
    // A missing part stays missing for the rest of the run.
    static KPluginFactory *const factory = loadGraphViewerFactory(ownPluginDirectories());
    return factory;
}

KParts::ReadOnlyPart *createGraphViewerPart(KPluginFactory *factory, QWidget *parentWidget, QObject *parent)
{
    if (!factory) {
        return nullptr;
    }
    KParts::ReadOnlyPart *part = factory->create<KParts::ReadOnlyPart>(parentWidget, parent);
    if (part && !qobject_cast<KGraphViewer::KGraphViewerInterface *>(part)) {
        qWarning() << "the graph viewer part lacks the program's viewer interface; the call graph is left out";
        delete part;
        return nullptr;
    }
    return part;
}

} // namespace Massif
