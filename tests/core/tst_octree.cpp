// The octree: splits, slots and depth limit, triangles moving between leaves, loose boxes, merges,
// the rebuild when a triangle leaves the root, and queries against a brute-force scan.

#include "MeshAsserts.h"
#include "TestMeshes.h"
#include "geometry/Geometry.h"

#include <QtTest>

#include <algorithm>
#include <random>
#include <set>

using IntList = std::vector<int>;
using namespace TestMeshes;

namespace {

// A triangle soup: triangle i has its own three vertices, and its box is centred on centres[i]
// with half extent s. Not scaled: the octree is built over `box` as given.
std::unique_ptr<Mesh> soup(const std::vector<QVector3D> &centres, float s,
    const Aabb &box = Aabb(QVector3D(0, 0, 0), QVector3D(8, 8, 8)))
{
    std::vector<QVector3D> positions;
    std::vector<std::array<int, 3>> triangles;
    for (const QVector3D &c : centres) {
        const int k = static_cast<int>(positions.size());
        positions.insert(positions.end(),
            {c + QVector3D(-s, -s, -s), c + QVector3D(s, -s, s), c + QVector3D(0, s, 0)});
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

// n^3 cell centres of a lattice filling the cube [lo, hi]^3.
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
void translate(Mesh &mesh, const IntList &triangles, const QVector3D &delta)
{
    const IntList vertices = mesh.getVerticesFromTriangles(triangles);
    for (int v : vertices)
        mesh.getVertex(v).position += delta;
    mesh.updateMesh(triangles, vertices);
}

bool contains(const IntList &list, int value)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

} // namespace

class TestOctree : public QObject
{
    Q_OBJECT

private slots:
    void init() { Vertex::visitCounter = Triangle::visitCounter = 1; }
    void depthLimit();
    void childSlot();
    void looseBoxGrowsUpwards();
    void rebuildWhenLeavingRoot();
    void splitAndMerge();
    void mergeChain();
    void queriesMatchBruteForce();
};

void TestOctree::depthLimit()
{
    // 2100 triangles at one point can never be separated: the splits stop at depth 8, and a
    // crowded leaf touched by the brush is not split again.
    std::vector<QVector3D> centres(2100, QVector3D(1, 1, 1));
    centres.emplace_back(3, 3, 3);
    auto mesh = soup(centres, 0.0f, Aabb(QVector3D(0, 0, 0), QVector3D(4, 4, 4)));
    Octree *root = mesh->getOctree();
    Octree *leaf = mesh->getTriangle(0).leaf;
    QVERIFY(leaf->depth == 8 && leaf->triangleIndices.size() == 2100);
    QCOMPARE(root->countNodes(), 1 + 8 * 8);
    root->intersectSphere(QVector3D(1, 1, 1), 0.01f, mesh->getLeavesUpdate());
    mesh->checkLeavesUpdate();
    QVERIFY(leaf->isLeaf() && root->maxDepthBelow() == 8 && mesh->getLeavesUpdate().empty());
    VERIFY_MESH(*mesh);
}

// The root's child holding a triangle's centre, at the split and when placed again: inside a
// cell, on the boundaries between cells (the lower slot), on the root's faces and corner, and
// outside the root (the nearest slot).
void TestOctree::childSlot()
{
    for (const auto &[centre, slot] : {std::pair {QVector3D(3, 1, 3), 2}, {QVector3D(1, 3, 3), 7},
             {QVector3D(2, 1, 1), 0}, {QVector3D(2, 2, 2), 0}, {QVector3D(4, 4, 4), 6},
             {QVector3D(0, 1, 1), 7}, {QVector3D(9, -3, 1), 7}}) {
        // 2001 fillers in slot 5 force a split; the triangle under test comes last.
        std::vector<QVector3D> centres(2001, QVector3D(3.5f, 3.5f, 0.5f));
        centres.push_back(centre);
        auto mesh = soup(centres, 0.0f, Aabb(QVector3D(0, 0, 0), QVector3D(4, 4, 4)));
        const Octree *node = mesh->getTriangles().back().leaf;
        while (node->depth > 1)
            node = node->parent;
        QCOMPARE(node, mesh->getOctree()->children[slot].get());
        // Placed again from the root (when inside it), it lands in the same leaf.
        Triangle &t = mesh->getTriangles().back();
        Octree *leaf = t.leaf;
        if (mesh->getOctree()->aabbSplit.containsPoint(centre)) {
            leaf->removeAt(*mesh, t.leafIndex);
            QVERIFY(mesh->getOctree()->addTriangle(*mesh, mesh->getNbTriangles() - 1));
            QCOMPARE(t.leaf, leaf);
        }
        VERIFY_MESH(*mesh);
    }
}

void TestOctree::looseBoxGrowsUpwards()
{
    // 2197 triangles in [1, 3]^3: slot 0 of the root splits again.
    auto mesh = soup(lattice(13, 1, 3), 0.01f);
    const Octree *root = mesh->getOctree();
    Triangle &t = mesh->getTriangle(0);
    Octree *leaf = t.leaf;
    // Stretched around its centre: the centre stays in the leaf, the box reaches x = y = 6,
    // beyond slot 0's loose box but not outside the root's. Every ancestor's loose box grows.
    const QVector3D c = t.aabb.computeCenter();
    const QVector3D reach = QVector3D(6, 6, 6) - c;
    mesh->getVertex(t.vertex1).position = c + reach;
    mesh->getVertex(t.vertex2).position = c - reach;
    mesh->getVertex(t.vertex3).position = c + QVector3D(reach.x(), -reach.y(), 0);
    mesh->updateMesh({0}, {t.vertex1, t.vertex2, t.vertex3});
    QVERIFY(mesh->getOctree() == root && t.leaf == leaf && leaf->depth == 2);
    for (const Octree *node = leaf; node; node = node->parent)
        QVERIFY(t.aabb.contains(node->aabbLoose));
    // A ray through the stretched part only still finds the triangle.
    QVERIFY(contains(root->intersectRay(QVector3D(5.5f, 5.5f, -100), QVector3D(0, 0, 1)), 0));
    VERIFY_MESH(*mesh);
}

// A triangle moved just outside the root, or far beyond the box a rebuild would enlarge it to.
void TestOctree::rebuildWhenLeavingRoot()
{
    for (const float dx : {7.9f, 1000.0f}) {
        auto mesh = soup(lattice(13, 1, 7), 0.05f);
        mesh->getOctree()->intersectSphere(QVector3D(4, 4, 4), 4.0f, mesh->getLeavesUpdate());
        QVERIFY(!mesh->getLeavesUpdate().empty());
        translate(*mesh, {5}, QVector3D(dx, 0, 0));
        // Rebuilt over a box holding the moved triangle; the pending leaves are gone.
        const Octree *root = mesh->getOctree();
        QVERIFY(mesh->getLeavesUpdate().empty());
        VERIFY_MESH(*mesh);
        const QVector3D c = mesh->getTriangle(5).aabb.computeCenter();
        QVERIFY(contains(root->intersectRay(c - QVector3D(0, 0, 50), QVector3D(0, 0, 1)), 5));
    }
}

void TestOctree::splitAndMerge()
{
    // 1000 triangles in slot 0's cell of [0, 8]^3 and 1001 in slot 6's: one split.
    std::vector<QVector3D> centres = lattice(10, 1, 3), upper = lattice(10, 5, 7);
    centres.insert(centres.end(), upper.begin(), upper.end());
    centres.emplace_back(6.5f, 6.5f, 6.5f);
    auto mesh = soup(centres, 0.05f);
    Octree *root = mesh->getOctree();
    const IntList all = allTriangles(*mesh);
    // Crowd slot 0 with 2001 triangles (one listed twice, moved once), empty slot 6: each moved
    // triangle leaves its place to its old leaf's last entry; every leaf met by the brush is
    // checked, slot 0 splits.
    IntList moved(all.begin() + 999, all.end());
    moved[0] = 1000;
    translate(*mesh, moved, QVector3D(-4, -4, -4));
    root->intersectSphere(QVector3D(4, 4, 4), 1000.0f, mesh->getLeavesUpdate());
    QCOMPARE(int(mesh->getLeavesUpdate().size()), 8);
    mesh->checkLeavesUpdate();
    QVERIFY(mesh->getLeavesUpdate().empty() && !root->children[0]->isLeaf());
    QCOMPARE(root->countNodes(), 17);
    VERIFY_MESH(*mesh);
    // Everything to slot 6: slot 0's children empty and merge, slot 6 splits. A leaf met twice
    // counts once.
    translate(*mesh, all, QVector3D(4, 4, 4));
    root->intersectSphere(QVector3D(4, 4, 4), 1000.0f, mesh->getLeavesUpdate());
    root->intersectSphere(QVector3D(4, 4, 4), 1000.0f, mesh->getLeavesUpdate());
    mesh->checkLeavesUpdate();
    QVERIFY(root->children[0]->isLeaf() && !root->children[6]->isLeaf());
    QCOMPARE(root->countNodes(), 17);
    VERIFY_MESH(*mesh);
}

void TestOctree::mergeChain()
{
    // Triangle 0 alone in slot 6; 2001 triangles packed in [0.5, 1.5]^3 split slot 0 twice.
    std::vector<QVector3D> centres = lattice(13, 0.5f, 1.5f);
    centres.resize(2001);
    centres.insert(centres.begin(), QVector3D(6, 6, 6));
    auto mesh = soup(centres, 0.01f);
    Octree *root = mesh->getOctree();
    QCOMPARE(root->maxDepthBelow(), 3);
    // The whole cluster decimated, as the dynamic topology removes records: last first.
    auto &triangles = mesh->getTriangles();
    while (triangles.size() > 1) {
        Triangle &t = triangles.back();
        t.leaf->removeAt(*mesh, t.leafIndex);
        triangles.pop_back();
    }
    mesh->getVertices().erase(mesh->getVertices().begin() + 3, mesh->getVertices().end());
    VERIFY_MESH(*mesh);
    root->intersectSphere(QVector3D(1, 1, 1), 0.01f, mesh->getLeavesUpdate());
    mesh->checkLeavesUpdate();
    // The whole emptied subtree goes, not only its lowest level.
    QVERIFY(root->children[0]->isLeaf() && root->countNodes() == 9);
    VERIFY_MESH(*mesh);
}

// Rays and spheres against a scan of every triangle: nothing the octree returns is listed twice,
// no triangle that the ray crosses (or whose box it meets) or whose centre is in the sphere is
// left out; the sphere's leaves hold what it returns.
void TestOctree::queriesMatchBruteForce()
{
    for (const auto &[level, strokes] : {std::pair {5, 30}, {2, 10}}) { // level 2: one leaf
        auto mesh = makeIcosphere(level);
        std::mt19937 random(1234 + level);
        std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
        auto randomVector = [&]() { return QVector3D(unit(random), unit(random), unit(random)); };
        // Random bumps: two rings of vertices pushed along a random direction.
        for (int s = 0; s < strokes; ++s) {
            IntList vertices {int(random() % mesh->getNbVertices())};
            mesh->expandVertices(vertices, 2);
            const QVector3D push = randomVector() * 40.0f;
            for (int v : vertices)
                mesh->getVertex(v).position += push;
            const IntList triangles = mesh->getTrianglesFromVertices(vertices);
            mesh->updateMesh(triangles, mesh->getVerticesFromTriangles(triangles));
        }
        VERIFY_MESH(*mesh);
        const auto &triangles = mesh->getTriangles();
        for (int q = 0; q < 150; ++q) {
            const QVector3D origin = randomVector() * 400.0f,
                            direction = randomVector().normalized();
            const IntList ray = mesh->getOctree()->intersectRay(origin, direction);
            const QVector3D centre = randomVector() * 300.0f;
            const float radius = 5.0f + 100.0f * (unit(random) + 1.0f);
            std::vector<Octree *> leaves;
            const IntList near =
                mesh->getOctree()->intersectSphere(centre, radius * radius, leaves);
            QCOMPARE(std::set<int>(ray.begin(), ray.end()).size(), ray.size());
            QCOMPARE(std::set<int>(near.begin(), near.end()).size(), near.size());
            for (int i = 0; i < int(triangles.size()); ++i) {
                const Triangle &t = triangles[i];
                QVector3D hit;
                const bool crossed = t.aabb.intersectRay(origin, direction)
                    || Geometry::intersectionSegmentTriangle(origin, origin + direction * 5000.0f,
                        mesh->getVertex(t.vertex1).position, mesh->getVertex(t.vertex2).position,
                        mesh->getVertex(t.vertex3).position, t.normal, hit);
                QVERIFY2(
                    !crossed || contains(ray, i), qPrintable(QString("ray %1: %2").arg(q).arg(i)));
                QVERIFY2((t.aabb.computeCenter() - centre).lengthSquared() >= radius * radius
                        || contains(near, i),
                    qPrintable(QString("sphere %1: %2").arg(q).arg(i)));
            }
            for (int i : near)
                QVERIFY(std::find(leaves.begin(), leaves.end(), triangles[i].leaf) != leaves.end());
        }
    }
}

QTEST_GUILESS_MAIN(TestOctree)
#include "tst_octree.moc"
