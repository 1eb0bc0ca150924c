/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_GRAPHVIEWERPLUGIN_H
#define MASSIF_GRAPHVIEWERPLUGIN_H

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

} // namespace Massif

#endif
