/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_GRAPHVIEWERPLUGIN_H
#define MASSIF_GRAPHVIEWERPLUGIN_H

#include <QStringList>

class KPluginFactory;
class QObject;
class QWidget;

namespace KParts {
class ReadOnlyPart;
}

namespace Massif {

/**
 * Puts the directory of the program's own graph viewer part first in
 * QCoreApplication::libraryPaths(), so that "kf6/parts/kgraphviewerpart"
 * finds it before any component of that name installed elsewhere.
 * A program run from its build tree uses the build tree's plug-ins,
 * an installed one the installed plug-ins. Call after the application
 * object exists and before the part's factory is loaded.
 */
void addGraphViewerPluginPaths();

/// Where the program's own graph viewer part may be: its build tree's or its installation's plug-in directories.
QStringList graphViewerPluginDirectories();

/**
 * Loads the factory of "kf6/parts/kgraphviewerpart" from @p directories only,
 * never from anywhere else on the plug-in search path, where a component of
 * another package may go by that name. Null when none of them holds it.
 */
KPluginFactory *loadGraphViewerFactory(const QStringList &directories);

/// loadGraphViewerFactory() of graphViewerPluginDirectories(), once per process.
KPluginFactory *graphViewerFactory();

/**
 * Creates a graph viewer part with @p factory. Null without a factory or when
 * the part lacks the program's own viewer interface: the program then goes
 * on as without a graph viewer.
 */
KParts::ReadOnlyPart *createGraphViewerPart(KPluginFactory *factory, QWidget *parentWidget, QObject *parent);

} // namespace Massif

#endif
