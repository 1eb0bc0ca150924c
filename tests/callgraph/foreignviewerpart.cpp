/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

// A graph viewer part of another package under the plug-in name of ours: the
// same file name and the interface id that package uses, with operations in
// an order of its own. The program must never take it for its own viewer.

#include <KParts/ReadOnlyPart>
#include <KPluginFactory>

#include <QWidget>

class ForeignViewerInterface
{
public:
    virtual void setLayoutMethod(const QString &method) = 0;
    virtual void centerOnNode(const QString &nodeId) = 0;

protected:
    virtual ~ForeignViewerInterface() = default;
};

Q_DECLARE_INTERFACE(ForeignViewerInterface, "org.kde.KGraphViewerInterface")

class ForeignViewerPart
    : public KParts::ReadOnlyPart
    , public ForeignViewerInterface
{
    Q_OBJECT
    Q_INTERFACES(ForeignViewerInterface)
public:
    ForeignViewerPart(QWidget *parentWidget, QObject *parent, const KPluginMetaData &metaData, const QVariantList &) : KParts::ReadOnlyPart(parent, metaData)
    {
        setWidget(new QWidget(parentWidget));
    }

    void setLayoutMethod(const QString &) override
    {
    }
    void centerOnNode(const QString &) override
    {
    }

protected:
    bool openFile() override
    {
        return false;
    }
};

K_PLUGIN_FACTORY_WITH_JSON(ForeignViewerPartFactory, "foreignviewerpart.json", registerPlugin<ForeignViewerPart>();)

#include "foreignviewerpart.moc"
