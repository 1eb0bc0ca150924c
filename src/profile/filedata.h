/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_FILEDATA_H
#define MASSIF_FILEDATA_H

#include <QList>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

namespace Massif {

class SnapshotItem;
class TreeStorage;

/**
 * One parsed massif file: its header values and its snapshots in file order.
 * Built by the parser only and read-only afterwards.
 */
class FileData : public QObject
{
    Q_OBJECT
public:
    explicit FileData(QObject *parent = nullptr);
    ~FileData() override;

    QString command() const
    {
        return m_command;
    }
    void setCommand(const QString &command)
    {
        m_command = command;
    }

    QString description() const
    {
        return m_description;
    }
    void setDescription(const QString &description)
    {
        m_description = description;
    }

    QString timeUnit() const
    {
        return m_timeUnit;
    }
    void setTimeUnit(const QString &unit)
    {
        m_timeUnit = unit;
    }

    QList<SnapshotItem *> snapshots() const
    {
        return m_snapshots;
    }
    /// Appends the snapshot and takes ownership of it.
    void addSnapshot(SnapshotItem *snapshot)
    {
        m_snapshots.append(snapshot);
    }

    SnapshotItem *peak() const
    {
        return m_peak;
    }
    void setPeak(SnapshotItem *peak)
    {
        m_peak = peak;
    }

    /// What the user should know about the file although it loaded, such as an early end; empty for a sound file.
    QString warning() const
    {
        return m_warning;
    }
    void setWarning(const QString &warning)
    {
        m_warning = warning;
    }

    /// Keeps the storage of heap tree nodes for as long as the file lives; the snapshots go first.
    void addTreeStorage(std::unique_ptr<TreeStorage> storage);

    /// Hands the snapshots and their storages over to another file, which joins pieces parsed apart.
    QList<SnapshotItem *> takeSnapshots();
    std::vector<std::unique_ptr<TreeStorage>> takeTreeStorages();

private:
    QString m_command;
    QString m_description;
    QString m_timeUnit;
    QList<SnapshotItem *> m_snapshots;
    SnapshotItem *m_peak = nullptr;
    std::vector<std::unique_ptr<TreeStorage>> m_treeStorages;
    QString m_warning;
};

} // namespace Massif

#endif
