/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "treeleafitem.h"
#include "treestorage.h"

#include <QTest>

#include <algorithm>

using namespace Massif;

namespace {

// Checks that every child's parent and row match its place in the list.
bool linksHold(const TreeLeafItem *node)
{
    const auto children = node->children();
    for (qsizetype i = 0; i < children.size(); ++i) {
        if (children.at(i)->parent() != node || children.at(i)->row() != i || !linksHold(children.at(i))) {
            return false;
        }
    }
    return true;
}

} // namespace

class TreeLeafItemTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void childrenOfBothKinds_data();
    void childrenOfBothKinds();
    void storageLabels();
    void labelsSharedAcrossStorages();
    void largeChildArrays();
};

void TreeLeafItemTest::childrenOfBothKinds_data()
{
    QTest::addColumn<bool>("inStorage");
    QTest::newRow("made with new") << false;
    QTest::newRow("in a storage") << true;
}

void TreeLeafItemTest::childrenOfBothKinds()
{
    QFETCH(bool, inStorage);
    TreeStorage storage;
    const QByteArray *rootLabel = storage.pooledLabel("root");
    auto *heapRoot = inStorage ? nullptr : new TreeLeafItem;
    TreeLeafItem *root = inStorage ? storage.createNode(rootLabel, 100) : heapRoot;

    // Appending one by one past several powers of two keeps order, parents and rows.
    QList<TreeLeafItem *> made;
    for (int i = 0; i < 37; ++i) {
        TreeLeafItem *child = inStorage ? storage.createNode(storage.pooledLabel("child"), quint64(i)) : new TreeLeafItem;
        child->setCost(quint64(i));
        root->addChild(child);
        made << child;
    }
    QCOMPARE(root->children(), made);
    QCOMPARE(root->childCount(), qsizetype(37));
    QVERIFY(linksHold(root));

    // The list handed out refers to the node's array; changing it leaves the node alone.
    QList<TreeLeafItem *> reversed = root->children();
    std::reverse(reversed.begin(), reversed.end());
    QCOMPARE(root->children(), made);

    // Replacing with the node's own list, and with a shorter reordered one.
    root->setChildren(root->children());
    QCOMPARE(root->children(), made);
    const QList<TreeLeafItem *> kept = reversed.mid(0, 10);
    root->setChildren(kept);
    QCOMPARE(root->children(), kept);
    for (qsizetype i = 0; i < kept.size(); ++i) {
        QCOMPARE(kept.at(i)->row(), int(i));
        QCOMPARE(kept.at(i)->parent(), root);
    }
    // Dropped children keep their parent and are not deleted.
    QCOMPARE(made.first()->parent(), root);

    // A node made with new may hang below a node of a storage, which then deletes it.
    auto *separate = new TreeLeafItem;
    separate->setLabel("separate");
    separate->addChild(new TreeLeafItem);
    kept.first()->addChild(separate);
    QCOMPARE(kept.first()->children().last(), separate);

    if (!inStorage) {
        // Owned children are deleted with their parent; those dropped above by the test.
        root->setChildren(made);
        delete heapRoot;
    }
}

void TreeLeafItemTest::storageLabels()
{
    TreeStorage storage;
    const QByteArray *a = storage.pooledLabel("0x1: f() (a.c:1)");
    QCOMPARE(storage.pooledLabel(QByteArray("0x1: f() (a.c:1)")), a);
    QVERIFY(storage.pooledLabel("0x1: g() (a.c:1)") != a);

    TreeLeafItem *one = storage.createNode(a, 1);
    TreeLeafItem *two = storage.createNode(a, 2);
    QCOMPARE(one->label().constData(), two->label().constData());
    // A label set afterwards is the node's own; the pooled one stays for the others.
    one->setLabel("in 7 places, all below massif's threshold (01.00%)");
    QCOMPARE(one->label(), QByteArray("in 7 places, all below massif's threshold (01.00%)"));
    QCOMPARE(two->label(), QByteArray("0x1: f() (a.c:1)"));
    QCOMPARE(storage.pooledLabel("0x1: f() (a.c:1)"), a);

    // A node of a storage finds it, also in later blocks.
    QCOMPARE(TreeStorage::of(one), &storage);
    TreeLeafItem *late = nullptr;
    for (int i = 0; i < 100000; ++i) {
        late = storage.createNode(a, 0);
    }
    QCOMPARE(TreeStorage::of(late), &storage);
    QVERIFY(storage.reservedBytes() >= qint64(100000 * sizeof(TreeLeafItem)));
    // Compact: no more than a quarter above the nodes themselves.
    QVERIFY(storage.reservedBytes() < qint64(125000 * sizeof(TreeLeafItem)));
}

void TreeLeafItemTest::labelsSharedAcrossStorages()
{
    TreeStorage first;
    TreeStorage second;
    const QByteArray *inFirst = first.pooledLabel("main (m.c:3)");
    const QByteArray *inSecond = second.pooledLabel("main (m.c:3)");
    const QByteArray *onlySecond = second.pooledLabel("helper (h.c:9)");
    const QByteArray *own = second.keepLabel("main (m.c:3)");
    QVERIFY(inFirst->constData() != inSecond->constData());

    QHash<QByteArray, QByteArray> labels;
    first.shareLabels(&labels);
    second.shareLabels(&labels);
    QCOMPARE(inSecond->constData(), inFirst->constData());
    QCOMPARE(*onlySecond, QByteArray("helper (h.c:9)"));
    QCOMPARE(labels.size(), 2);
    // A node's own label stays its own.
    QVERIFY(own->constData() != inFirst->constData());
}

void TreeLeafItemTest::largeChildArrays()
{
    // Arrays larger than a block's share get a mapping of their own; links still hold.
    TreeStorage storage;
    TreeLeafItem *root = storage.createNode(storage.pooledLabel("root"), 0);
    QList<TreeLeafItem *> children;
    for (int i = 0; i < 50000; ++i) {
        children << storage.createNode(storage.pooledLabel("leaf"), 1);
    }
    storage.attachChildren(root, children.constData(), quint32(children.size()));
    QCOMPARE(root->children(), children);
    QVERIFY(linksHold(root));
    QCOMPARE(TreeStorage::of(children.last()), &storage);
}

QTEST_GUILESS_MAIN(TreeLeafItemTest)

#include "treeleafitemtest.moc"
