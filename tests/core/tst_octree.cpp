#include "MeshAsserts.h"
#include "TestMeshes.h"
#include "geometry/Geometry.h"
#include "mesh/Mesh.h"
#include "mesh/MeshCheck.h"

#include <QtTest>

#include <algorithm>
#include <array>
#include <random>
#include <set>
#include <vector>

using IntList = std::vector<int>;
Q_DECLARE_METATYPE(IntList)

using namespace TestMeshes;

namespace {

// A triangle soup: triangle i has its own three vertices 3i, 3i + 1, 3i + 2, and its box is
// centred on centres[i] with half extent s (exactly, for dyadic values). Not scaled: the octree is
// built over `box` as given.
std::unique_ptr<Mesh> soup(const std::vector<QVector3D> &centres, float s, const Aabb &box)
{
    std::vector<QVector3D> positions;
    std::vector<std::array<int, 3>> triangles;
    for (const QVector3D &c : centres) {
        const int k = static_cast<int>(positions.size());
        positions.push_back(c + QVector3D(-s, -s, -s));
        positions.push_back(c + QVector3D(s, -s, s));
        positions.push_back(c + QVector3D(0, s, 0));
        triangles.push_back({k, k + 1, k + 2});
    }
    auto mesh = rawMeshFromArrays(positions, triangles);
    for (int i = 0; i < mesh->getNbVertices(); ++i)
        mesh->computeRingVertices(i);
    for (Triangle &t : mesh->getTriangles())
        t.aabb = Geometry::triangleBox(mesh->getVertex(t.vertex1).position,
            mesh->getVertex(t.vertex2).position, mesh->getVertex(t.vertex3).position);
    mesh->rebuildOctree(box);
    mesh->initVBO();
    return mesh;
}

// n^3 centres on a lattice filling the cube [lo, hi]^3 (cell centres).
std::vector<QVector3D> lattice(int n, float lo, float hi)
{
    std::vector<QVector3D> result;
    const float step = (hi - lo) / n;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            for (int k = 0; k < n; ++k)
                result.emplace_back(
                    lo + (i + 0.5f) * step, lo + (j + 0.5f) * step, lo + (k + 0.5f) * step);
    return result;
}

// Moves the (private) vertices of the given triangles and updates the mesh.
void translateTriangles(Mesh &mesh, const IntList &triangles, const QVector3D &delta)
{
    const IntList vertices = mesh.getVerticesFromTriangles(triangles);
    for (int v : vertices)
        mesh.getVertex(v).position += delta;
    mesh.updateMesh(triangles, vertices);
}

IntList leafTriangles(const Octree *node)
{
    if (node->isLeaf())
        return node->triangleIndices;
    IntList all;
    for (const auto &child : node->children) {
        const IntList part = leafTriangles(child.get());
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

const Octree *ancestorAtDepth(const Octree *node, int depth)
{
    while (node && node->depth > depth)
        node = node->parent;
    return node;
}

// A strip of triangles (k, k+1, k+2) along x, flat.
std::unique_ptr<Mesh> strip(int nbTriangles)
{
    std::vector<QVector3D> positions;
    std::vector<std::array<int, 3>> triangles;
    for (int i = 0; i < nbTriangles + 2; ++i)
        positions.emplace_back(float(i / 2), float(i % 2), 0.0f);
    for (int k = 0; k < nbTriangles; ++k)
        triangles.push_back(
            k % 2 ? std::array<int, 3> {k + 1, k, k + 2} : std::array<int, 3> {k, k + 1, k + 2});
    return meshFromArrays(positions, triangles);
}

// Removes the last triangle as a decimation would, and its vertices when they end up unused
// and last.
void popLastTriangle(Mesh &mesh)
{
    auto &triangles = mesh.getTriangles();
    const int id = mesh.getNbTriangles() - 1;
    Triangle &t = triangles.back();
    t.leaf->removeAt(mesh, t.leafIndex);
    for (int corner : {t.vertex1, t.vertex2, t.vertex3})
        mesh.getVertex(corner).removeTriangle(id);
    triangles.pop_back();
    auto &vertices = mesh.getVertices();
    while (!vertices.empty() && vertices.back().triangleIndices.empty())
        vertices.pop_back();
}

} // namespace

class TestOctree : public QObject
{
    Q_OBJECT

private slots:
    void init() { Vertex::visitCounter = Triangle::visitCounter = 1; }

    void leafCapacity_data();
    void leafCapacity();
    void depthLimit();
    void childCells();
    void childSlot_data();
    void childSlot();
    void roundingBetweenCells_data();
    void roundingBetweenCells();

    void moveBetweenLeaves_data();
    void moveBetweenLeaves();
    void looseBoxGrowsUpwards();
    void rebuildWhenLeavingRoot_data();
    void rebuildWhenLeavingRoot();
    void splitAndMerge();
    void mergeChain();

    void queriesMatchBruteForce_data();
    void queriesMatchBruteForce();
    void looseBoxVersusCell();
};

void TestOctree::leafCapacity_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("split");
    QTest::newRow("2000 triangles") << 2000 << false;
    QTest::newRow("2001 triangles") << 2001 << true;
}

void TestOctree::leafCapacity()
{
    QFETCH(int, count);
    QFETCH(bool, split);
    auto mesh = strip(count);
    const Octree *root = mesh->getOctree();
    QCOMPARE(root->isLeaf(), !split);
    if (!split) {
        QCOMPARE(int(root->triangleIndices.size()), count);
        for (int k = 0; k < count; ++k) {
            QCOMPARE(root->triangleIndices[k], k);
            QCOMPARE(mesh->getTriangle(k).leafIndex, k);
            QCOMPARE(mesh->getTriangle(k).leaf, root);
        }
    } else {
        QVERIFY(root->triangleIndices.empty());
        for (const auto &child : root->children) {
            QCOMPARE(child->depth, 1);
            QCOMPARE(child->parent, root);
        }
        IntList all = leafTriangles(root);
        std::sort(all.begin(), all.end());
        QCOMPARE(int(all.size()), count);
        QCOMPARE(all.back(), count - 1);
    }
    VERIFY_MESH(*mesh);
}

void TestOctree::depthLimit()
{
    // 2100 triangles at one point can never be separated: the splits stop at depth 8.
    std::vector<QVector3D> centres(2100, QVector3D(1, 1, 1));
    centres.emplace_back(3, 3, 3);
    auto mesh = soup(centres, 0.0f, Aabb(QVector3D(0, 0, 0), QVector3D(4, 4, 4)));
    Octree *root = mesh->getOctree();
    QCOMPARE(root->maxDepthBelow(), 8);
    Octree *leaf = mesh->getTriangle(0).leaf;
    QCOMPARE(leaf->depth, 8);
    QCOMPARE(int(leaf->triangleIndices.size()), 2100);
    QCOMPARE(root->countNodes(), 1 + 8 * 8);

    // Crowded, touched by the brush, still not split.
    std::vector<Octree *> &leaves = mesh->getLeavesUpdate();
    mesh->getOctree()->intersectSphere(QVector3D(1, 1, 1), 0.01f, leaves);
    QVERIFY(std::find(leaves.begin(), leaves.end(), leaf) != leaves.end());
    mesh->checkLeavesUpdate();
    QVERIFY(leaf->isLeaf());
    QCOMPARE(root->maxDepthBelow(), 8);
    QVERIFY(mesh->getLeavesUpdate().empty());
    VERIFY_MESH(*mesh);
}

void TestOctree::childCells()
{
    // The eight cells of [0, 4]^3 cover it with halves in the documented slot order.
    const Aabb cell(QVector3D(0, 0, 0), QVector3D(4, 4, 4));
    const QVector3D lows[8] = {
        {0, 0, 0}, {2, 0, 0}, {2, 0, 2}, {0, 0, 2}, {0, 2, 0}, {2, 2, 0}, {2, 2, 2}, {0, 2, 2}};
    for (int slot = 0; slot < 8; ++slot) {
        const Aabb child = Octree::childCell(cell, slot);
        QCOMPARE(child.min, lows[slot]);
        QCOMPARE(child.max, lows[slot] + QVector3D(2, 2, 2));
    }
}

void TestOctree::childSlot_data()
{
    QTest::addColumn<QVector3D>("centre");
    QTest::addColumn<int>("slot");
    QTest::newRow("slot 0") << QVector3D(1, 1, 1) << 0;
    QTest::newRow("slot 1") << QVector3D(3, 1, 1) << 1;
    QTest::newRow("slot 2") << QVector3D(3, 1, 3) << 2;
    QTest::newRow("slot 3") << QVector3D(1, 1, 3) << 3;
    QTest::newRow("slot 4") << QVector3D(1, 3, 1) << 4;
    QTest::newRow("slot 5") << QVector3D(3, 3, 1) << 5;
    QTest::newRow("slot 6") << QVector3D(3, 3, 3) << 6;
    QTest::newRow("slot 7") << QVector3D(1, 3, 3) << 7;
    QTest::newRow("on the x boundary of 0 and 1") << QVector3D(2, 1, 1) << 0;
    QTest::newRow("on the centre of the cell") << QVector3D(2, 2, 2) << 0;
    QTest::newRow("on the z boundary, upper y") << QVector3D(1, 3, 2) << 4;
    QTest::newRow("on the root's max corner") << QVector3D(4, 4, 4) << 6;
    QTest::newRow("on the root's min face") << QVector3D(0, 1, 1) << 7;
    QTest::newRow("outside the root") << QVector3D(9, -3, 1) << 7;
}

void TestOctree::childSlot()
{
    QFETCH(QVector3D, centre);
    QFETCH(int, slot);
    // 2001 fillers in slot 5 force a split; the triangle under test comes last.
    std::vector<QVector3D> centres(2001, QVector3D(3.5f, 3.5f, 0.5f));
    centres.push_back(centre);
    auto mesh = soup(centres, 0.0f, Aabb(QVector3D(0, 0, 0), QVector3D(4, 4, 4)));
    const Octree *root = mesh->getOctree();
    QVERIFY(!root->isLeaf());
    const Triangle &t = mesh->getTriangles().back();
    QCOMPARE(ancestorAtDepth(t.leaf, 1), root->children[slot].get());
    VERIFY_MESH(*mesh);
}

namespace {

// Finds an x range [x0, x1] where x0 + hx lies above (gap) or below (overlap) the centre
// (x0 + x1) * 0.5 once rounded to 32-bit floats.
bool findRounding(bool gap, float &x0, float &x1)
{
    std::mt19937 random(gap ? 7 : 11);
    std::uniform_real_distribution<float> pick(-1000.0f, 1000.0f);
    for (int tries = 0; tries < 1000000; ++tries) {
        float a = pick(random), b = pick(random);
        if (a > b)
            std::swap(a, b);
        const float centre = (a + b) * 0.5f;
        const float lower = a + (b - a) * 0.5f;
        if (gap ? lower > centre : lower < centre) {
            x0 = a;
            x1 = b;
            return true;
        }
    }
    return false;
}

} // namespace

void TestOctree::roundingBetweenCells_data()
{
    QTest::addColumn<bool>("gap");
    QTest::newRow("gap between slots 0 and 1") << true;
    QTest::newRow("overlap of slots 0 and 1") << false;
}

void TestOctree::roundingBetweenCells()
{
    QFETCH(bool, gap);
    float x0 = 0, x1 = 0;
    QVERIFY(findRounding(gap, x0, x1));
    const Aabb root(QVector3D(x0, 0, 0), QVector3D(x1, 4, 4));
    const float hx = (x1 - x0) * 0.5f;
    const float cx = (x0 + x1) * 0.5f;
    // In the gap: x0 + hx, above slot 0's maximum and on slot 1's minimum. In the overlap: cx,
    // inside both.
    const QVector3D point(gap ? x0 + hx : cx, 1, 1);
    QVERIFY(root.containsPoint(point));
    QCOMPARE(Octree::childCell(root, 0).containsPoint(point), !gap);
    QCOMPARE(Octree::childCell(root, 1).containsPoint(point), !gap);
    const int expectedSlot = gap ? 7 : 0;

    // Built with the point in it.
    std::vector<QVector3D> centres(2001, QVector3D(cx, 3, 3));
    centres.push_back(point);
    auto mesh = soup(centres, 0.0f, root);
    const Triangle &t = mesh->getTriangles().back();
    QCOMPARE(ancestorAtDepth(t.leaf, 1), mesh->getOctree()->children[expectedSlot].get());
    VERIFY_MESH(*mesh);

    // Moved onto the point afterwards: in one leaf, listed once.
    const QVector3D delta = point - mesh->getTriangle(0).aabb.computeCenter();
    translateTriangles(*mesh, {0}, delta);
    QCOMPARE(mesh->getTriangle(0).aabb.computeCenter(), point);
    if (!gap)
        QCOMPARE(
            ancestorAtDepth(mesh->getTriangle(0).leaf, 1), mesh->getOctree()->children[0].get());
    VERIFY_MESH(*mesh);
}

void TestOctree::moveBetweenLeaves_data()
{
    QTest::addColumn<bool>("listedTwice");
    QTest::newRow("listed once") << false;
    QTest::newRow("listed twice") << true;
}

void TestOctree::moveBetweenLeaves()
{
    QFETCH(bool, listedTwice);
    // 1000 triangles in slot 0's cell, 1001 in slot 6's: one split.
    std::vector<QVector3D> centres = lattice(10, 1, 3);
    const std::vector<QVector3D> upper = lattice(10, 5, 7);
    centres.insert(centres.end(), upper.begin(), upper.end());
    centres.emplace_back(6.5f, 6.5f, 6.5f);
    auto mesh = soup(centres, 0.05f, Aabb(QVector3D(0, 0, 0), QVector3D(8, 8, 8)));
    Octree *root = mesh->getOctree();
    Octree *from = root->children[0].get();
    Octree *to = root->children[6].get();
    QCOMPARE(int(from->triangleIndices.size()), 1000);
    QCOMPARE(int(to->triangleIndices.size()), 1001);

    const int t = 17;
    Triangle &tri = mesh->getTriangle(t);
    QCOMPARE(tri.leaf, from);
    const int oldPosition = tri.leafIndex;
    const int last = from->triangleIndices.back();
    IntList list {t};
    if (listedTwice)
        list.push_back(t);
    translateTriangles(*mesh, list, QVector3D(4, 4, 4));

    QCOMPARE(tri.leaf, to);
    QCOMPARE(tri.leafIndex, 1001);
    QCOMPARE(int(to->triangleIndices.size()), 1002);
    QCOMPARE(int(from->triangleIndices.size()), 999);
    QCOMPARE(from->triangleIndices[oldPosition], last);
    QCOMPARE(mesh->getTriangle(last).leafIndex, oldPosition);
    QVERIFY(std::count(from->triangleIndices.begin(), from->triangleIndices.end(), t) == 0);
    QVERIFY(tri.aabb.contains(to->aabbLoose));
    VERIFY_MESH(*mesh);

    // Moving the last entry of a leaf leaves the rest in place.
    const int tail = to->triangleIndices.back();
    const IntList before(to->triangleIndices.begin(), to->triangleIndices.end() - 1);
    translateTriangles(*mesh, {tail}, QVector3D(-4, -4, -4));
    QCOMPARE(to->triangleIndices, before);
    QCOMPARE(mesh->getTriangle(tail).leaf, from);
    VERIFY_MESH(*mesh);
}

void TestOctree::looseBoxGrowsUpwards()
{
    // 2197 triangles in [1, 3]^3: slot 0 of the root splits again.
    auto mesh = soup(lattice(13, 1, 3), 0.01f, Aabb(QVector3D(0, 0, 0), QVector3D(8, 8, 8)));
    const Octree *root = mesh->getOctree();
    QVERIFY(!root->children[0]->isLeaf());
    const int chosen = 0;
    Triangle &t = mesh->getTriangle(chosen);
    Octree *leaf = t.leaf;
    QCOMPARE(leaf->depth, 2);
    QVERIFY(leaf->parent->aabbLoose.max.x() < 5.0f);

    // Stretched around its centre: the centre stays in the leaf, the box reaches x = y = 6,
    // beyond slot 0's loose box but not outside the root's.
    const QVector3D c = t.aabb.computeCenter();
    const QVector3D reach = QVector3D(6, 6, 6) - c;
    mesh->getVertex(t.vertex1).position = c + reach;
    mesh->getVertex(t.vertex2).position = c - reach;
    mesh->getVertex(t.vertex3).position = c + QVector3D(reach.x(), -reach.y(), 0);
    mesh->updateMesh({chosen}, {t.vertex1, t.vertex2, t.vertex3});
    QCOMPARE(mesh->getOctree(), root);
    QCOMPARE(t.leaf, leaf);
    for (const Octree *node = leaf; node; node = node->parent)
        QVERIFY(t.aabb.contains(node->aabbLoose));

    // A ray through the stretched part only still finds the triangle.
    const IntList hits = root->intersectRay(QVector3D(5.5f, 5.5f, -100), QVector3D(0, 0, 1));
    QVERIFY(std::find(hits.begin(), hits.end(), chosen) != hits.end());
    VERIFY_MESH(*mesh);
}

void TestOctree::rebuildWhenLeavingRoot_data()
{
    QTest::addColumn<QVector3D>("delta");
    QTest::newRow("just outside the root") << QVector3D(7.9f, 0, 0);
    QTest::newRow("beyond the enlarged box") << QVector3D(1000, 0, 0);
}

void TestOctree::rebuildWhenLeavingRoot()
{
    QFETCH(QVector3D, delta);
    std::vector<QVector3D> centres = lattice(13, 1, 7); // 2197 triangles
    auto mesh = soup(centres, 0.05f, Aabb(QVector3D(0, 0, 0), QVector3D(8, 8, 8)));
    std::vector<Octree *> &leaves = mesh->getLeavesUpdate();
    mesh->getOctree()->intersectSphere(QVector3D(4, 4, 4), 4.0f, leaves);
    QVERIFY(!leaves.empty());

    translateTriangles(*mesh, {5}, delta);
    const Octree *root = mesh->getOctree();
    QVERIFY(qFuzzyCompare(root->aabbSplit.min, QVector3D(-1.6f, -1.6f, -1.6f)));
    QVERIFY(qFuzzyCompare(root->aabbSplit.max, QVector3D(9.6f, 9.6f, 9.6f)));
    QVERIFY(mesh->getLeavesUpdate().empty());
    QVERIFY(mesh->getTriangle(5).leaf);
    QVERIFY(mesh->getTriangle(5).aabb.contains(mesh->getTriangle(5).leaf->aabbLoose));
    QVERIFY(mesh->getTriangle(5).aabb.contains(root->aabbLoose));
    VERIFY_MESH(*mesh);

    // Queries still reach it.
    const QVector3D c = mesh->getTriangle(5).aabb.computeCenter();
    const IntList hits = root->intersectRay(c - QVector3D(0, 0, 50), QVector3D(0, 0, 1));
    QVERIFY(std::find(hits.begin(), hits.end(), 5) != hits.end());
}

void TestOctree::splitAndMerge()
{
    std::vector<QVector3D> centres = lattice(10, 1, 3);
    const std::vector<QVector3D> upper = lattice(10, 5, 7);
    centres.insert(centres.end(), upper.begin(), upper.end());
    centres.emplace_back(6.5f, 6.5f, 6.5f);
    auto mesh = soup(centres, 0.05f, Aabb(QVector3D(0, 0, 0), QVector3D(8, 8, 8)));
    Octree *root = mesh->getOctree();
    IntList upperTriangles;
    for (int i = 1000; i < 2001; ++i)
        upperTriangles.push_back(i);
    IntList all(2001);
    for (int i = 0; i < 2001; ++i)
        all[i] = i;

    // Crowd slot 0 with 2001 triangles, empty slot 6.
    translateTriangles(*mesh, upperTriangles, QVector3D(-4, -4, -4));
    QCOMPARE(int(root->children[0]->triangleIndices.size()), 2001);
    QVERIFY(root->children[6]->triangleIndices.empty());
    root->intersectSphere(QVector3D(4, 4, 4), 1000.0f, mesh->getLeavesUpdate());
    QCOMPARE(int(mesh->getLeavesUpdate().size()), 8);
    mesh->checkLeavesUpdate();
    QVERIFY(mesh->getLeavesUpdate().empty());
    QVERIFY(!root->children[0]->isLeaf());
    QVERIFY(root->children[0]->triangleIndices.empty());
    QCOMPARE(root->children[0]->children[0]->depth, 2);
    QVERIFY(root->children[6]->isLeaf());
    QCOMPARE(root->countNodes(), 17);
    VERIFY_MESH(*mesh);

    // Move everything to slot 6: slot 0's children empty and merge; slot 6 splits.
    translateTriangles(*mesh, all, QVector3D(4, 4, 4));
    root->intersectSphere(QVector3D(4, 4, 4), 1000.0f, mesh->getLeavesUpdate());
    // A leaf met twice counts once.
    root->intersectSphere(QVector3D(4, 4, 4), 1000.0f, mesh->getLeavesUpdate());
    mesh->checkLeavesUpdate();
    QVERIFY(root->children[0]->isLeaf());
    QVERIFY(root->children[0]->triangleIndices.empty());
    QVERIFY(!root->children[6]->isLeaf());
    QCOMPARE(root->countNodes(), 17);
    VERIFY_MESH(*mesh);

    // Untouched empty leaves are left alone.
    const int nodes = root->countNodes();
    mesh->checkLeavesUpdate();
    QCOMPARE(root->countNodes(), nodes);
}

void TestOctree::mergeChain()
{
    // Triangle 0 alone in slot 6; 2001 triangles packed in [0.5, 1.5]^3 split slot 0 twice.
    std::vector<QVector3D> centres {QVector3D(6, 6, 6)};
    const std::vector<QVector3D> cluster = lattice(13, 0.5f, 1.5f);
    centres.insert(centres.end(), cluster.begin(), cluster.begin() + 2001);
    auto mesh = soup(centres, 0.01f, Aabb(QVector3D(0, 0, 0), QVector3D(8, 8, 8)));
    Octree *root = mesh->getOctree();
    QVERIFY(!root->children[0]->isLeaf());
    QVERIFY(!root->children[0]->children[0]->isLeaf());
    QCOMPARE(root->maxDepthBelow(), 3);

    // Decimate the whole cluster.
    while (mesh->getNbTriangles() > 1)
        popLastTriangle(*mesh);
    for (int i = 0; i < mesh->getNbVertices(); ++i)
        mesh->computeRingVertices(i);
    QCOMPARE(mesh->getNbVertices(), 3);
    VERIFY_MESH(*mesh);

    root->intersectSphere(QVector3D(1, 1, 1), 0.01f, mesh->getLeavesUpdate());
    QVERIFY(!mesh->getLeavesUpdate().empty());
    mesh->checkLeavesUpdate();
    // The whole emptied subtree goes, not only its lowest level.
    QVERIFY(root->children[0]->isLeaf());
    QCOMPARE(root->countNodes(), 9);
    VERIFY_MESH(*mesh);
}

void TestOctree::queriesMatchBruteForce_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("strokes");
    QTest::newRow("icosphere 4") << 4 << 0;
    QTest::newRow("icosphere 5 after strokes") << 5 << 30;
    QTest::newRow("icosphere 2, one leaf") << 2 << 10;
}

void TestOctree::queriesMatchBruteForce()
{
    QFETCH(int, level);
    QFETCH(int, strokes);
    auto mesh = makeIcosphere(level);
    std::mt19937 random(1234 + level);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    auto randomVector = [&]() { return QVector3D(unit(random), unit(random), unit(random)); };

    // Random bumps: a few rings of vertices pushed along a random direction.
    for (int s = 0; s < strokes; ++s) {
        IntList vertices {std::uniform_int_distribution<int>(0, mesh->getNbVertices() - 1)(random)};
        mesh->expandVertices(vertices, 2);
        const QVector3D push = randomVector() * 40.0f;
        for (int v : vertices)
            mesh->getVertex(v).position += push;
        const IntList triangles = mesh->getTrianglesFromVertices(vertices);
        mesh->updateMesh(triangles, mesh->getVerticesFromTriangles(triangles));
        VERIFY_MESH(*mesh);
    }

    const Octree *root = mesh->getOctree();
    const auto &triangles = mesh->getTriangles();
    for (int q = 0; q < 150; ++q) {
        const QVector3D origin = randomVector() * 400.0f;
        QVector3D direction = randomVector();
        if (direction.isNull())
            continue;
        direction.normalize();
        const IntList result = root->intersectRay(origin, direction);
        const std::set<int> found(result.begin(), result.end());
        QCOMPARE(found.size(), result.size());
        for (int i = 0; i < int(triangles.size()); ++i) {
            const Triangle &t = triangles[i];
            QVector3D hit;
            const bool crossed =
                Geometry::intersectionSegmentTriangle(origin, origin + direction * 5000.0f,
                    mesh->getVertex(t.vertex1).position, mesh->getVertex(t.vertex2).position,
                    mesh->getVertex(t.vertex3).position, t.normal, hit);
            if (crossed || t.aabb.intersectRay(origin, direction))
                QVERIFY2(found.count(i),
                    qPrintable(QStringLiteral("ray %1 misses triangle %2").arg(q).arg(i)));
        }
    }

    for (int q = 0; q < 150; ++q) {
        const QVector3D centre = randomVector() * 300.0f;
        const float radius = 5.0f + 100.0f * (unit(random) + 1.0f);
        std::vector<Octree *> leaves;
        const IntList result = mesh->getOctree()->intersectSphere(centre, radius * radius, leaves);
        const std::set<int> found(result.begin(), result.end());
        QCOMPARE(found.size(), result.size());
        for (int i = 0; i < int(triangles.size()); ++i) {
            if ((triangles[i].aabb.computeCenter() - centre).lengthSquared() < radius * radius)
                QVERIFY2(found.count(i),
                    qPrintable(QStringLiteral("sphere %1 misses triangle %2").arg(q).arg(i)));
        }
        for (int i : result)
            QVERIFY(std::find(leaves.begin(), leaves.end(), triangles[i].leaf) != leaves.end());
        for (const Octree *leaf : leaves)
            QVERIFY(leaf->isLeaf());
    }
}

void TestOctree::looseBoxVersusCell()
{
    // 2001 small triangles in slot 6's cell and one long triangle whose centre is in slot 0 but
    // whose box reaches far into slot 1's cell.
    std::vector<QVector3D> centres = lattice(13, 5, 7);
    centres.resize(2001);
    auto mesh = soup(centres, 0.01f, Aabb(QVector3D(0, 0, 0), QVector3D(8, 8, 8)));
    auto &vertices = mesh->getVertices();
    auto &triangles = mesh->getTriangles();
    const int v = mesh->getNbVertices();
    const int id = mesh->getNbTriangles();
    vertices.emplace_back(QVector3D(0.5f, 1, 1), v);
    vertices.emplace_back(QVector3D(7, 1, 1.5f), v + 1);
    vertices.emplace_back(QVector3D(0.5f, 1.5f, 1), v + 2);
    triangles.emplace_back(QVector3D(), v, v + 1, v + 2, id);
    for (int k = 0; k < 3; ++k)
        vertices[v + k].addTriangle(id);
    for (int k = 0; k < 3; ++k)
        mesh->computeRingVertices(v + k);
    mesh->updateMesh({id}, {v, v + 1, v + 2});
    const Octree *root = mesh->getOctree();
    QCOMPARE(triangles[id].leaf, root->children[0].get());
    VERIFY_MESH(*mesh);

    // The ray crosses only the loose part of slot 0's box.
    const QVector3D origin(6, 1.25f, -5);
    QVERIFY(!root->children[0]->aabbSplit.intersectRay(origin, QVector3D(0, 0, 1)));
    const IntList hits = root->intersectRay(origin, QVector3D(0, 0, 1));
    QVERIFY(std::find(hits.begin(), hits.end(), id) != hits.end());

    // A sphere touching the triangle's box there, but not slot 0's cell, returns it too.
    std::vector<Octree *> leaves;
    const QVector3D centre(6, 1.25f, 1.25f);
    QVERIFY(triangles[id].aabb.intersectSphere(centre, 0.25f));
    const IntList near = mesh->getOctree()->intersectSphere(centre, 0.25f, leaves);
    QVERIFY(std::find(near.begin(), near.end(), id) != near.end());
}

QTEST_GUILESS_MAIN(TestOctree)
#include "tst_octree.moc"
