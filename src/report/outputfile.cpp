/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "outputfile.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>

#include <sys/stat.h>

using namespace Massif;

OutputFile::OutputFile(const QString &fileName) : m_fileName(fileName)
{
}

bool OutputFile::prepare()
{
    const QFileInfo info(m_fileName);
    // Lower case: the chart tab compares the suffix case-sensitively.
    const QString suffix = info.suffix().toLower();
    m_staging.setFileTemplate(info.absoluteDir().filePath(QLatin1Char('.') + info.fileName() + QLatin1String(".XXXXXX") +
                                                          (suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix)));
    if (!m_staging.open()) {
        return false;
    }
    // Named now, so that other writers can open it by its name.
    m_staging.fileName();
    m_staging.close();
    // A temporary file is private to its owner; an output file is made as
    // any other new file would be.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(QFile::encodeName(stagingPath()).constData(), 0666 & ~mask);
    return true;
}

QString OutputFile::stagingPath() const
{
    return m_staging.fileName();
}

bool OutputFile::write(const QByteArray &data)
{
    if (!m_staging.open()) {
        return false;
    }
    const bool written = m_staging.write(data) == data.size() && m_staging.flush();
    m_staging.close();
    return written;
}

bool OutputFile::commit()
{
    // rename() replaces an existing file in one step; QFile::rename() would refuse.
    if (std::rename(QFile::encodeName(stagingPath()).constData(), QFile::encodeName(m_fileName).constData()) != 0) {
        return false;
    }
    m_staging.setAutoRemove(false);
    return true;
}
