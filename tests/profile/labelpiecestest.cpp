/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#include "labelpieces.h"

#include <QHash>
#include <QTest>

using namespace Massif;

class LabelPiecesTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void split_data();
    void split();
    void hashAndEquality();
};

void LabelPiecesTest::split_data()
{
    QTest::addColumn<QByteArray>("label");
    QTest::addColumn<QByteArray>("address");
    QTest::addColumn<QByteArray>("function");
    QTest::addColumn<QByteArray>("location");

    QTest::newRow("full") << QByteArray("0x4C2FB0F: malloc (vg_replace_malloc.c:299)") << QByteArray("0x4C2FB0F") << QByteArray("malloc")
                          << QByteArray("vg_replace_malloc.c:299");
    QTest::newRow("arguments kept") << QByteArray("0x1: f(int, char) (a.cpp:3)") << QByteArray("0x1") << QByteArray("f(int, char)") << QByteArray("a.cpp:3");
    QTest::newRow("in object") << QByteArray("0x40057A: ??? (in /usr/lib/libfoo.so)") << QByteArray("0x40057A") << QByteArray("???")
                               << QByteArray("in /usr/lib/libfoo.so");
    QTest::newRow("address without separator") << QByteArray("0x1234 main (a.c:1)") << QByteArray() << QByteArray("0x1234 main") << QByteArray("a.c:1");
    QTest::newRow("parenthesis without opener") << QByteArray("0x1: operator()") << QByteArray("0x1") << QByteArray("operator()") << QByteArray();
    QTest::newRow("location only") << QByteArray(" (x.c:1)") << QByteArray() << QByteArray() << QByteArray("x.c:1");
    QTest::newRow("summary") << QByteArray("in 3 places, all below massif's threshold (1.00%)") << QByteArray()
                             << QByteArray("in 3 places, all below massif's threshold") << QByteArray("1.00%");
    QTest::newRow("empty") << QByteArray() << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("separator inside location") << QByteArray("0x1 (a: b)") << QByteArray("0x1 (a") << QByteArray() << QByteArray("a: b");
}

void LabelPiecesTest::split()
{
    QFETCH(QByteArray, label);
    QFETCH(QByteArray, address);
    QFETCH(QByteArray, function);
    QFETCH(QByteArray, location);
    const LabelPieces pieces = splitLabelPieces(label);
    QCOMPARE(pieces.address, address);
    QCOMPARE(pieces.function, function);
    QCOMPARE(pieces.location, location);
    QCOMPARE(labelFunction(label), function);
}

void LabelPiecesTest::hashAndEquality()
{
    const LabelPieces a {"0x1", "f", "a.c:1"};
    const LabelPieces b {"0x2", "f", "a.c:1"};
    QVERIFY(a == LabelPieces({"0x1", "f", "a.c:1"}));
    QVERIFY(a != b);
    const quint32 expected = quint32(qHash(QByteArray("f"), 0)) + 17u * quint32(qHash(QByteArray("a.c:1"), 0)) + 19u * quint32(qHash(QByteArray("0x1"), 0));
    QCOMPARE(quint32(qHash(a)), expected);

    QHash<LabelPieces, int> sites;
    sites[a] += 1;
    sites[b] += 1;
    sites[a] += 1;
    QCOMPARE(sites.size(), 2);
    QCOMPARE(sites.value(a), 2);
}

QTEST_GUILESS_MAIN(LabelPiecesTest)

#include "labelpiecestest.moc"
