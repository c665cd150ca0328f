#include "mesh/Aabb.h"
#include "mesh/Triangle.h"
#include "mesh/Vertex.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <vector>

using IntList = std::vector<int>;
Q_DECLARE_METATYPE(IntList)
Q_DECLARE_METATYPE(Aabb)

class TestRecords : public QObject
{
    Q_OBJECT

private slots:
    void removeFromList_data();
    void removeFromList();
    void replaceInList_data();
    void replaceInList();
    void replaceVertex_data();
    void replaceVertex();
    void positionOrder_data();
    void positionOrder();
    void freshRecordsAreNeverVisited();

    void containsPoint_data();
    void containsPoint();
    void boxRelations_data();
    void boxRelations();
    void intersectRay_data();
    void intersectRay();
    void intersectSphere_data();
    void intersectSphere();
    void growAndFlat();
};

void TestRecords::removeFromList_data()
{
    QTest::addColumn<IntList>("list");
    QTest::addColumn<int>("removed");
    QTest::addColumn<IntList>("expected");
    QTest::newRow("absent") << IntList {1, 2, 3} << 7 << IntList {1, 2, 3};
    QTest::newRow("single") << IntList {4} << 4 << IntList {};
    QTest::newRow("middle takes last") << IntList {1, 2, 3, 4} << 2 << IntList {1, 4, 3};
    QTest::newRow("first takes last") << IntList {1, 2, 3} << 1 << IntList {3, 2};
    QTest::newRow("last") << IntList {1, 2, 3} << 3 << IntList {1, 2};
    QTest::newRow("only first copy") << IntList {5, 6, 5, 7} << 5 << IntList {7, 6, 5};
    QTest::newRow("empty") << IntList {} << 1 << IntList {};
}

void TestRecords::removeFromList()
{
    QFETCH(IntList, list);
    QFETCH(int, removed);
    QFETCH(IntList, expected);
    Vertex v(0, 0, 0, 0);
    v.triangleIndices = list;
    v.ringIndices = list;
    v.removeTriangle(removed);
    v.removeRingVertex(removed);
    QCOMPARE(v.triangleIndices, expected);
    QCOMPARE(v.ringIndices, expected);
}

void TestRecords::replaceInList_data()
{
    QTest::addColumn<IntList>("list");
    QTest::addColumn<int>("oldIndex");
    QTest::addColumn<int>("newIndex");
    QTest::addColumn<IntList>("expected");
    QTest::newRow("absent") << IntList {1, 2} << 9 << 4 << IntList {1, 2};
    QTest::newRow("first copy only") << IntList {3, 1, 3} << 3 << 8 << IntList {8, 1, 3};
    QTest::newRow("last") << IntList {1, 2, 3} << 3 << 0 << IntList {1, 2, 0};
}

void TestRecords::replaceInList()
{
    QFETCH(IntList, list);
    QFETCH(int, oldIndex);
    QFETCH(int, newIndex);
    QFETCH(IntList, expected);
    Vertex v(QVector3D(1, 2, 3), 5);
    v.triangleIndices = list;
    v.ringIndices = list;
    v.replaceTriangle(oldIndex, newIndex);
    v.replaceRingVertex(oldIndex, newIndex);
    QCOMPARE(v.triangleIndices, expected);
    QCOMPARE(v.ringIndices, expected);
}

void TestRecords::replaceVertex_data()
{
    QTest::addColumn<int>("oldIndex");
    QTest::addColumn<IntList>("expected");
    QTest::newRow("first") << 10 << IntList {99, 11, 12};
    QTest::newRow("second") << 11 << IntList {10, 99, 12};
    QTest::newRow("third") << 12 << IntList {10, 11, 99};
    QTest::newRow("none falls back to third") << 42 << IntList {10, 11, 99};
}

void TestRecords::replaceVertex()
{
    QFETCH(int, oldIndex);
    QFETCH(IntList, expected);
    Triangle t(QVector3D(0, 0, 1), 10, 11, 12, 0);
    t.replaceVertex(oldIndex, 99);
    QCOMPARE((IntList {t.vertex1, t.vertex2, t.vertex3}), expected);
}

void TestRecords::positionOrder_data()
{
    QTest::addColumn<QVector3D>("a");
    QTest::addColumn<QVector3D>("b");
    QTest::addColumn<bool>("aLess");
    QTest::addColumn<bool>("bLess");
    QTest::newRow("x decides") << QVector3D(0, 9, 9) << QVector3D(1, 0, 0) << true << false;
    QTest::newRow("y on equal x") << QVector3D(1, 0, 9) << QVector3D(1, 1, 0) << true << false;
    QTest::newRow("z on equal x y") << QVector3D(1, 1, 2) << QVector3D(1, 1, 1) << false << true;
    QTest::newRow("equal") << QVector3D(1, 2, 3) << QVector3D(1, 2, 3) << false << false;
    QTest::newRow("signed zeros equal")
        << QVector3D(0.0f, -0.0f, 0.0f) << QVector3D(-0.0f, 0.0f, -0.0f) << false << false;
    const float one = 1.0f;
    const float next = std::nextafter(one, 2.0f);
    QTest::newRow("last bit") << QVector3D(1, 1, one) << QVector3D(1, 1, next) << true << false;
}

void TestRecords::positionOrder()
{
    QFETCH(QVector3D, a);
    QFETCH(QVector3D, b);
    QFETCH(bool, aLess);
    QFETCH(bool, bLess);
    const Vertex va(a, 0);
    const Vertex vb(b, 1);
    QCOMPARE(va < vb, aLess);
    QCOMPARE(vb < va, bLess);
}

void TestRecords::freshRecordsAreNeverVisited()
{
    // Traversals advance a counter before comparing, so a fresh record (stamp 1) never counts
    // as visited once a counter has moved on.
    const Vertex v(1, 2, 3, 7);
    QCOMPARE(v.id, 7);
    QCOMPARE(v.visitStamp, 1);
    QCOMPARE(v.brushStamp, 1);
    QCOMPARE(v.historyStamp, 1);
    QCOMPARE(v.normal, QVector3D(0, 0, 0));
    QVERIFY(v.triangleIndices.empty() && v.ringIndices.empty());
    const Triangle t(QVector3D(0, 1, 0), 1, 2, 3, 4);
    QCOMPARE(t.leaf, nullptr);
    QCOMPARE(t.leafIndex, -1);
    QCOMPARE(t.aabb, Aabb());
    QCOMPARE(t.visitStamp, 1);
    QCOMPARE(t.historyStamp, 1);
}

void TestRecords::containsPoint_data()
{
    QTest::addColumn<QVector3D>("p");
    QTest::addColumn<bool>("inside");
    QTest::newRow("centre") << QVector3D(0.5f, 0.5f, 0.5f) << true;
    QTest::newRow("min face x") << QVector3D(0.0f, 0.5f, 0.5f) << false;
    QTest::newRow("min face z") << QVector3D(0.5f, 0.5f, 0.0f) << false;
    QTest::newRow("max face x") << QVector3D(1.0f, 0.5f, 0.5f) << true;
    QTest::newRow("max corner") << QVector3D(1.0f, 1.0f, 1.0f) << true;
    QTest::newRow("min corner") << QVector3D(0.0f, 0.0f, 0.0f) << false;
    QTest::newRow("beyond max") << QVector3D(1.0001f, 0.5f, 0.5f) << false;
}

void TestRecords::containsPoint()
{
    QFETCH(QVector3D, p);
    QFETCH(bool, inside);
    QCOMPARE(Aabb(QVector3D(0, 0, 0), QVector3D(1, 1, 1)).containsPoint(p), inside);
}

void TestRecords::boxRelations_data()
{
    QTest::addColumn<Aabb>("a");
    QTest::addColumn<Aabb>("b");
    QTest::addColumn<bool>("aInsideB");
    QTest::addColumn<bool>("outside");
    const Aabb unit(QVector3D(0, 0, 0), QVector3D(1, 1, 1));
    QTest::newRow("same box") << unit << unit << true << false;
    QTest::newRow("inner") << Aabb(QVector3D(0.2f, 0.2f, 0.2f), QVector3D(0.8f, 0.8f, 1)) << unit
                           << true << false;
    QTest::newRow("sharing a face")
        << Aabb(QVector3D(1, 0, 0), QVector3D(2, 1, 1)) << unit << false << false;
    QTest::newRow("disjoint on z")
        << Aabb(QVector3D(0, 0, 1.5f), QVector3D(1, 1, 2)) << unit << false << true;
    QTest::newRow("disjoint below")
        << Aabb(QVector3D(0, -3, 0), QVector3D(1, -2, 1)) << unit << false << true;
    QTest::newRow("overlapping") << Aabb(QVector3D(0.5f, 0.5f, 0.5f), QVector3D(2, 2, 2)) << unit
                                 << false << false;
}

void TestRecords::boxRelations()
{
    QFETCH(Aabb, a);
    QFETCH(Aabb, b);
    QFETCH(bool, aInsideB);
    QFETCH(bool, outside);
    QCOMPARE(a.contains(b), aInsideB);
    QCOMPARE(a.isOutside(b), outside);
    QCOMPARE(b.isOutside(a), outside);
}

void TestRecords::intersectRay_data()
{
    QTest::addColumn<QVector3D>("origin");
    QTest::addColumn<QVector3D>("direction");
    QTest::addColumn<bool>("hit");
    QTest::newRow("through") << QVector3D(-1, 0.5f, 0.5f) << QVector3D(1, 0, 0) << true;
    QTest::newRow("from inside") << QVector3D(0.5f, 0.5f, 0.5f) << QVector3D(0, 1, 0) << true;
    QTest::newRow("box behind") << QVector3D(2, 0.5f, 0.5f) << QVector3D(1, 0, 0) << false;
    QTest::newRow("miss beside") << QVector3D(-1, 2, 0.5f) << QVector3D(1, 0, 0) << false;
    QTest::newRow("diagonal") << QVector3D(-1, -1, -1) << QVector3D(1, 1, 1) << true;
    // Grazing an edge (tmax equals tmin) touches the closed box.
    QTest::newRow("grazing edge") << QVector3D(-1, 0, 0.5f) << QVector3D(1, 1, 0) << true;
    QTest::newRow("grazing corner") << QVector3D(0, -1, 0.5f) << QVector3D(1, 1, 0) << true;
    // Zero direction component with the origin on a slab plane: inside the slab, no 0/0.
    QTest::newRow("nan on slab") << QVector3D(-1, 0, 0.5f) << QVector3D(1, 0, 0) << true;
    QTest::newRow("zero component inside slab")
        << QVector3D(-1, 0.5f, 0.5f) << QVector3D(1, 0, 0) << true;
}

void TestRecords::intersectRay()
{
    QFETCH(QVector3D, origin);
    QFETCH(QVector3D, direction);
    QFETCH(bool, hit);
    QCOMPARE(Aabb(QVector3D(0, 0, 0), QVector3D(1, 1, 1)).intersectRay(origin, direction), hit);
}

void TestRecords::intersectSphere_data()
{
    QTest::addColumn<QVector3D>("center");
    QTest::addColumn<float>("radiusSquared");
    QTest::addColumn<bool>("hit");
    QTest::newRow("centre inside") << QVector3D(0.5f, 0.5f, 0.5f) << 0.01f << true;
    QTest::newRow("touching face") << QVector3D(2, 0.5f, 0.5f) << 1.0f << false;
    QTest::newRow("just over face") << QVector3D(2, 0.5f, 0.5f) << 1.0001f << true;
    QTest::newRow("touching corner") << QVector3D(2, 2, 1) << 2.0f << false;
    QTest::newRow("over corner") << QVector3D(2, 2, 1) << 2.01f << true;
    QTest::newRow("far") << QVector3D(5, 5, 5) << 1.0f << false;
}

void TestRecords::intersectSphere()
{
    QFETCH(QVector3D, center);
    QFETCH(float, radiusSquared);
    QFETCH(bool, hit);
    QCOMPARE(
        Aabb(QVector3D(0, 0, 0), QVector3D(1, 1, 1)).intersectSphere(center, radiusSquared), hit);
}

void TestRecords::growAndFlat()
{
    Aabb box(QVector3D(1, 1, 1), QVector3D(1, 1, 1));
    box.expandsWithPoint(QVector3D(3, 0, 1));
    QCOMPARE(box.min, QVector3D(1, 0, 1));
    QCOMPARE(box.max, QVector3D(3, 1, 1));
    QCOMPARE(box.computeCenter(), QVector3D(2, 0.5f, 1));

    // Only the axis of zero extent is thickened.
    box.enlargeIfFlat(0.5f);
    QCOMPARE(box.min, QVector3D(1, 0, 0.5f));
    QCOMPARE(box.max, QVector3D(3, 1, 1.5f));

    box.expandsWithBox(Aabb(QVector3D(2, -1, 0.75f), QVector3D(2.5f, 0.5f, 4)));
    QCOMPARE(box.min, QVector3D(1, -1, 0.5f));
    QCOMPARE(box.max, QVector3D(3, 1, 4));
}

QTEST_APPLESS_MAIN(TestRecords)
#include "tst_records.moc"
