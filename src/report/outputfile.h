/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_OUTPUTFILE_H
#define MASSIF_OUTPUTFILE_H

#include <QString>
#include <QTemporaryFile>

namespace Massif {

/**
 * One file the report program writes. It is written under a temporary name
 * beside its final place, with the same suffix (the writers choose the image
 * format by it), and takes its name only when commit() is called, so that
 * a failure anywhere leaves no output file behind, nor a half-written one.
 */
class OutputFile
{
public:
    explicit OutputFile(const QString &fileName);

    /// Creates the temporary file; false when the directory is not writable.
    bool prepare();
    QString stagingPath() const;
    QString fileName() const
    {
        return m_fileName;
    }

    /// Writes @p data to the temporary file.
    bool write(const QByteArray &data);
    /// Renames the temporary file to the final name, replacing what was there.
    bool commit();

private:
    QString m_fileName;
    QTemporaryFile m_staging;
};

} // namespace Massif

#endif
