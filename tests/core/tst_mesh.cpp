// The mesh container: the loading pipeline and its parallel ring search against the serial one,
// the consistency check finding each kind of fault; the octree (thread count, depth
// limit, loose boxes, queries against a brute-force scan); undo and redo (exact snapshots, the
// state limit, the memory budget, content versions); the vertex lists with inline room against
// std::vector.

#include "MeshAsserts.h"
#include "RecordingGpu.h"
#include "TestMeshes.h"
#include "geometry/Geometry.h"
#include "mesh/Parallel.h"
#include "topology/Topology.h"

#include <QtTest>

#include <omp.h>

#include <bit>
#include <cmath>
#include <functional>
#include <numbers>
#include <random>
#include <set>

using IntList = std::vector<int>;
using Positions = std::vector<QVector3D>;
using Faces = std::vector<std::array<int, 3>>;
using namespace TestMeshes;

namespace {

bool contains(const IntList &list, int value)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

// Every octree node in breadth-first slot order: depth, boxes and list, then each triangle's
// place.
QStringList describeOctree(const Mesh &mesh)
{
    QStringList lines;
    std::vector<const Octree *> order {mesh.getOctree()};
    for (std::size_t k = 0; k < order.size(); ++k) {
        const Octree *node = order[k];
        QString line = QString::number(node->depth);
        for (const Aabb *b : {&node->aabbSplit, &node->aabbLoose})
            for (const QVector3D &p : {b->min, b->max})
                for (float f : {p.x(), p.y(), p.z()}) // the very floats, -0 apart from 0
                    line += QLatin1Char(' ') + QString::number(std::bit_cast<quint32>(f), 16);
        for (int t : node->triangleIndices)
            line += QLatin1Char(' ') + QString::number(t);
        lines << line;
        for (const auto &child : node->children)
            if (child)
                order.push_back(child.get());
    }
    for (const Triangle &t : mesh.getTriangles())
        lines << QString("%1 %2")
                     .arg(std::find(order.begin(), order.end(), t.leaf) - order.begin())
                     .arg(t.leafIndex);
    return lines;
}

// A triangle soup: triangle i has its own three vertices, and its box is centred on centres[i]
// with half extent s. Not scaled: the octree is built over `box` as given.
std::unique_ptr<Mesh> soup(const Positions &centres, float s, float box = 8)
{
    Positions positions;
    Faces triangles;
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
    mesh->rebuildOctree(Aabb(QVector3D(0, 0, 0), QVector3D(box, box, box)));
    mesh->initVBO();
    return mesh;
}

// Pushes the vertices within `rings` rings of `seed` by `push` along their normals, saving them
// first into the open state as the brush does. Returns the number of triangles updated.
std::size_t bump(Mesh &mesh, int seed, float push, int rings = 1)
{
    IntList vertices {seed % mesh.getNbVertices()};
    mesh.expandVertices(vertices, rings);
    const IntList triangles = mesh.getTrianglesFromVertices(vertices);
    mesh.pushState(triangles, vertices);
    for (int v : vertices)
        mesh.getVertex(v).position += mesh.getVertex(v).normal * push;
    mesh.updateMesh(triangles, mesh.getVerticesFromTriangles(triangles));
    return triangles.size();
}

// A stroke of bumps ("bump", or "far" out of the octree's box) and topology steps around the
// seed, as the dynamic topology runs them: long edges split ("split": records added) or short
// ones collapsed ("carve": records removed and moved into the freed slots).
void applyStroke(Mesh &mesh, const QString &ops, int seed)
{
    mesh.newState();
    for (const QString &op : ops.split(' ', Qt::SkipEmptyParts)) {
        seed = seed % mesh.getNbVertices();
        if (op == "bump" || op == "far") {
            bump(mesh, seed, op == "bump" ? 20.0f : 400.0f);
        } else {
            const QVector3D centre = mesh.getVertex(seed).position;
            const int neighbour = mesh.getVertex(seed).ringIndices[0];
            const float edge2 = (centre - mesh.getVertex(neighbour).position).lengthSquared();
            IntList triangles = mesh.getTrianglesFromVertices({seed});
            Topology topology(&mesh, centre, 4.0f * edge2);
            op == "split" ? topology.subdivision(triangles, 0.25f * edge2)
                          : topology.decimation(triangles, 4.0f * edge2);
            mesh.updateMesh(triangles, mesh.getVerticesFromTriangles(triangles));
        }
        seed += 37;
    }
}

} // namespace

class TestMesh : public QObject
{
    Q_OBJECT

private slots:
    void init() { Vertex::visitCounter = Triangle::visitCounter = Mesh::historyCounter = 1; }
    void pipeline();
    void loadingRingsMatchRingComputation();
    void octreeIndependentOfThreads();
    void checkFindsFaults();
    void octreeDepthLimit();
    void looseBoxGrowsUpwards();
    void runOfMovesKeepsDescentLeaves();
    void queriesMatchBruteForce();
    void strokeUndoRedo();
    void newStateAfterUndos();
    void overBudgetDuringStroke();
    void indexListSameAsVector();
};

// Degenerate input through the loading pipeline: every vertex at one point (no division by
// zero: the scale stays 1), a vertex used by nothing, and the empty mesh (no octree).
void TestMesh::pipeline()
{
    const QVector3D p(3, -2, 7);
    const std::tuple<Positions, Faces, float> cases[] = {
        {{p, p, p, p}, {{0, 1, 2}, {0, 2, 3}, {1, 3, 2}}, 1.0f},
        {{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {5, 5, 5}}, {{0, 1, 2}}, float(500.0 / std::sqrt(75.0))},
        {{}, {}, 1.0f}};
    for (const auto &[positions, triangles, scale] : cases) {
        auto mesh = meshFromArrays(positions, triangles);
        QVERIFY(qFuzzyCompare(mesh->getScale(), scale));
        VERIFY_MESH(*mesh);
        QCOMPARE(mesh->getOctree() == nullptr, positions.empty());
        for (int i = 0; i < mesh->getNbVertices(); ++i) {
            QCOMPARE(mesh->getVertex(i).position, positions[i] * mesh->getScale());
            QVERIFY(std::isfinite(mesh->getVertex(i).normal.x()));
        }
    }
    // The loading and a step's update (boxes, cross products and normals by lanes, four at a
    // time) give the boxes and normals of the definitions, degenerate triangles included.
    std::unique_ptr<Mesh> meshes[] = {
        makeIcosphere(3), meshFromArrays(std::get<0>(cases[0]), std::get<1>(cases[0]))};
    for (auto &mesh : meshes) {
        MeshSnapshot expected = snapshot(*mesh);
        for (Triangle &t : expected.triangles) {
            const QVector3D &a = expected.vertices[t.vertex1].position;
            const QVector3D &b = expected.vertices[t.vertex2].position;
            const QVector3D &c = expected.vertices[t.vertex3].position;
            t.normal = Geometry::triangleNormal(a, b, c);
            t.aabb = Geometry::triangleBox(a, b, c);
        }
        for (Vertex &v : expected.vertices) {
            QVector3D sum;
            for (int t : v.triangleIndices)
                sum += expected.triangles[t].normal;
            v.normal = sum.normalized();
        }
        VERIFY_SAME(expected, *mesh);
        mesh->updateMesh(allTriangles(*mesh), allVertices(*mesh));
        VERIFY_SAME(expected, *mesh);
    }
}

// The rings computed for all vertices at once while loading are the lists that
// computeRingVertices gives, order included, whether read from the records or from a reader's
// array of corners: on an icosphere (short lists), and a fan of 40 triangles around vertex 0
// repeated with flipped triangles (long lists), with a repeated triangle, a triangle with a
// repeated corner, and a vertex used by nothing. Both ways scale the positions alike.
void TestMesh::loadingRingsMatchRingComputation()
{
    Positions positions = {{0, 0, 0}, {0, 0, 1}};
    Faces faces;
    for (int k = 0, n = 40; k < n; ++k) {
        const float a = 2.0f * std::numbers::pi_v<float> * k / n;
        positions.emplace_back(std::cos(a), std::sin(a), 0.0f);
        faces.insert(faces.end(), {{0, 2 + k, 2 + (k + 1) % n}, {0, 2 + (k + 1) % n, 2 + k}});
    }
    faces.insert(faces.end(), {{0, 3, 3}, faces[7]});
    const IcosphereData sphere = icosphereData(3);
    for (const auto &[p, f] : {std::pair(sphere.positions, sphere.triangles), {positions, faces}}) {
        const auto mesh = meshFromArrays(p, f);
        IntList corners;
        for (const auto &face : f)
            corners.insert(corners.end(), face.begin(), face.end());
        const auto fromCorners = rawMeshFromArrays(p, f);
        fromCorners->initTopology({}, corners.data());
        for (int i = 0; i < mesh->getNbVertices(); ++i) {
            const IntList loaded(mesh->getVertex(i).ringIndices);
            QCOMPARE(IntList(fromCorners->getVertex(i).ringIndices), loaded);
            QCOMPARE(fromCorners->getVertex(i).position, mesh->getVertex(i).position);
            mesh->computeRingVertices(i);
            QCOMPARE(loaded, IntList(mesh->getVertex(i).ringIndices));
        }
    }
}

// The octree built by several threads is the tree one thread builds, node for node and list for
// list; so is a rebuild over the old root's own box, which must not be read after the old tree is
// freed (undo and redo rebuild that way; found by AddressSanitizer). A step large enough for its
// octree pass to run beside the vertex normals leaves the records and the tree that one thread
// leaves.
void TestMesh::octreeIndependentOfThreads()
{
    const IcosphereData data = icosphereData(6);
    QVERIFY(data.triangles.size() > Octree::parallelBuildSize);
    const int before = omp_get_max_threads();
    const auto restore = qScopeGuard([before] { omp_set_num_threads(before); });
    std::unique_ptr<Mesh> meshes[2];
    QStringList trees[2][3];
    for (int run : {0, 1}) {
        omp_set_num_threads(run == 0 ? 1 : 4);
        auto &mesh = meshes[run] = meshFromArrays(data.positions, data.triangles);
        trees[run][0] = describeOctree(*mesh);
        mesh->rebuildOctree(mesh->getOctree()->aabbSplit);
        trees[run][1] = describeOctree(*mesh);
        mesh->newState();
        const float push = 0.2f * mesh->getVertex(0).position.distanceToPoint(mesh->getCenter());
        QVERIFY(bump(*mesh, 0, push, 60) >= octreeBesideNormalsMinimum);
        trees[run][2] = describeOctree(*mesh);
        VERIFY_MESH(*mesh);
    }
    QVERIFY(trees[0][2] != trees[0][1]); // triangles did change leaves
    for (const QStringList &tree : {trees[0][1], trees[1][0], trees[1][1]})
        QCOMPARE(tree, trees[0][0]);
    QCOMPARE(trees[1][2], trees[0][2]);
    VERIFY_SAME(snapshot(*meshes[0]), *meshes[1]);
}

// Each kind of fault the consistency check looks for, made on a sound icosphere: the check names
// it.
void TestMesh::checkFindsFaults()
{
    Octree foreign;
    std::unique_ptr<Mesh> m;
    Triangle *t = nullptr;
    const std::pair<const char *, std::function<void()>> faults[] = {
        {"vertex 2 has id 7", [&] { m->getVertex(2).id = 7; }},
        {"triangle 3 has id -1", [&] { t->id = -1; }},
        {"out of range", [&] { t->vertex2 = m->getNbVertices(); }},
        {"missing from the list", [&] { m->getVertex(t->vertex1).removeTriangle(3); }},
        {"does not use it",
            [&] { m->getVertex(t->vertex1 && t->vertex2 && t->vertex3 ? 0 : 1).addTriangle(3); }},
        {"2 times instead of 1", [&] { m->getVertex(t->vertex1).addTriangle(3); }},
        {"ring of vertex", [&] { m->getVertex(5).ringIndices.pop_back(); }},
        {"twice in its ring",
            [&] { m->getVertex(5).addRingVertex(m->getVertex(5).ringIndices[0]); }},
        {"at its leaf index", [&] { std::swap(t->leafIndex, m->getTriangle(4).leafIndex); }},
        {"in no octree leaf", [&] { t->leaf = nullptr; }},
        {"not a leaf of the octree", [&] { t->leaf = &foreign; }},
        {"names another place", [&] { t->leaf->triangleIndices.push_back(3); }},
        {"not inside the loose box", [&] { t->aabb.max += QVector3D(1000, 0, 0); }}};
    for (const auto &[expected, fault] : faults) {
        m = makeIcosphere(1);
        t = &m->getTriangle(3);
        VERIFY_MESH(*m);
        fault();
        const QString problem = checkMesh(*m);
        QVERIFY2(problem.contains(expected), qPrintable(expected + (" / " + problem)));
    }
}

// 2100 triangles at one point can never be separated: the splits stop at depth 8, and a crowded
// leaf touched by the brush is not split again.
void TestMesh::octreeDepthLimit()
{
    Positions centres(2100, QVector3D(1, 1, 1));
    centres.emplace_back(3, 3, 3);
    auto mesh = soup(centres, 0.0f, 4);
    Octree *root = mesh->getOctree(), *leaf = mesh->getTriangle(0).leaf;
    QVERIFY(leaf->depth == 8 && leaf->triangleIndices.size() == 2100);
    QCOMPARE(root->countNodes(), 1 + 8 * 8);
    root->intersectSphere(QVector3D(1, 1, 1), 0.01f, mesh->getLeavesUpdate());
    mesh->checkLeavesUpdate();
    QVERIFY(leaf->isLeaf() && root->maxDepthBelow() == 8 && mesh->getLeavesUpdate().empty());
    VERIFY_MESH(*mesh);
    // The lone triangle moved to another cell, listed twice in the update: it moves once.
    const IntList corners = mesh->getVerticesFromTriangles({2100});
    for (int v : corners)
        mesh->getVertex(v).position.setY(1);
    mesh->updateMesh({2100, 2100}, corners);
    QVERIFY(mesh->getTriangle(2100).leaf->aabbSplit.containsPoint(QVector3D(3, 1, 3)));
    VERIFY_MESH(*mesh);
}

void TestMesh::looseBoxGrowsUpwards()
{
    Positions centres; // 13^3 triangles in [1, 3]^3: slot 0 of the root splits again
    const float step = 2.0f / 13;
    for (int i = 0; i < 13 * 13 * 13; ++i)
        centres.emplace_back(1 + (i / 169 + 0.5f) * step, 1 + (i / 13 % 13 + 0.5f) * step,
            1 + (i % 13 + 0.5f) * step);
    auto mesh = soup(centres, 0.01f);
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

// Triangles moved in a run go where the descent from the root sends them. In this root's cell
// the first two children overlap by a rounding step on x (x0 + hx < cx): a centre there belongs
// to slot 0, the first that holds it, even right after a triangle went to slot 1.
void TestMesh::runOfMovesKeepsDescentLeaves()
{
    Positions centres; // 13^3 degenerate triangles over the cell: the root splits once
    for (int i = 0; i < 13 * 13 * 13; ++i)
        centres.emplace_back(1 + i / 169 * 0.55f, 1 + i / 13 % 13 * 0.55f, 1 + i % 13 * 0.55f);
    centres.insert(centres.end(), 2, QVector3D(2, 6, 2)); // slot 4
    auto mesh = soup(centres, 0.0f);
    const float x0 = 0.501f, x1 = 8.531f;
    QVERIFY(x0 + (x1 - x0) * 0.5f < (x0 + x1) * 0.5f);
    mesh->rebuildOctree(Aabb(QVector3D(x0, x0, x0), QVector3D(x1, x1, x1)));
    const Octree *root = mesh->getOctree();
    const int first = mesh->getNbTriangles() - 2;
    const QVector3D targets[] = {{6, 2, 2}, {(x0 + x1) * 0.5f, 2, 2}};
    for (int k : {0, 1})
        for (int v : mesh->getVerticesFromTriangles({first + k}))
            mesh->getVertex(v).position = targets[k];
    mesh->updateMesh({first, first + 1}, mesh->getVerticesFromTriangles({first, first + 1}));
    QVERIFY(mesh->getTriangle(first).leaf == root->children[1].get());
    QVERIFY(mesh->getTriangle(first + 1).leaf == root->children[0].get());
    VERIFY_MESH(*mesh);
}

// Rays and spheres against a scan of every triangle: nothing the octree returns is listed twice,
// no triangle that the ray crosses (or whose box it meets) or whose centre is in the sphere is
// left out; the sphere's leaves hold what it returns.
void TestMesh::queriesMatchBruteForce()
{
    for (const auto &[level, strokes] : {std::pair {5, 30}, {2, 10}}) { // level 2: one leaf
        auto mesh = makeIcosphere(level);
        std::mt19937 random(1234 + level);
        std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
        auto randomVector = [&]() { return QVector3D(unit(random), unit(random), unit(random)); };
        for (int s = 0; s < strokes; ++s) { // two rings of vertices pushed in a random direction
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
            const QVector3D origin = randomVector() * 400.0f, dir = randomVector().normalized();
            const IntList ray = mesh->getOctree()->intersectRay(origin, dir);
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
                const bool crossed = t.aabb.intersectRay(origin, dir)
                    || Geometry::intersectionSegmentTriangle(origin, origin + dir * 5000.0f,
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

// A stroke of no step, a bump out of the octree's box, subdivisions (records added), a
// decimation (records removed), and all in one stroke, each through a full buffer build.
void TestMesh::strokeUndoRedo()
{
    for (const QString ops : {"", "far", "split split", "carve", "split carve bump"}) {
        auto mesh = makeIcosphere(3);
        QStringList log;
        mesh->setGpu(std::make_unique<RecordingGpu>(&log));
        mesh->initVBO();
        const MeshSnapshot before = snapshot(*mesh);
        if (!ops.isEmpty())
            applyStroke(*mesh, ops, 100);
        VERIFY_SOUND(*mesh, true);
        if (ops == "split split" || ops == "carve") // records added, or removed
            QCOMPARE(mesh->getNbVertices() > int(before.vertices.size()), ops != "carve");
        const MeshSnapshot after = snapshot(*mesh);
        log.clear();
        for (const char step : QByteArray("uurru")) { // the second undo and redo do nothing
            step == 'u' ? mesh->undo() : mesh->redo();
            VERIFY_SAME(step == 'u' ? before : after, *mesh);
            VERIFY_MESH(*mesh);
        }
        QCOMPARE(log.filter(QRegularExpression("^build")).size(), ops.isEmpty() ? 0 : 3);
    }
}

// A state that saves nothing (a press with no drag), then strokes beyond the state limit, some
// undos (three, all but the oldest state, all) and a new stroke: the content version names the
// content each undo and redo goes back to, also after the limit dropped states, and never an
// earlier number for new content; the new stroke clears the redo states and undoes exactly.
void TestMesh::newStateAfterUndos()
{
    for (const auto &[undos, statesAfter] : {std::pair {3, 8}, {10, 1}, {11, 1}}) {
        auto mesh = makeIcosphere(2);
        mesh->newState();
        std::vector<std::uint64_t> versions {mesh->getContentVersion()};
        for (int s = 0; s < 14; ++s) {
            applyStroke(*mesh, s % 2 ? "split" : "bump carve", 7 + 13 * s);
            versions.push_back(mesh->getContentVersion());
        }
        QVERIFY(versions[0] == 0 && std::set(versions.begin(), versions.end()).size() == 15);
        for (int u = 1; u <= undos; ++u) {
            mesh->undo();
            QCOMPARE(mesh->getContentVersion(), versions[14 - u]);
        }
        mesh->redo();
        QCOMPARE(mesh->getContentVersion(), versions[15 - undos]);
        mesh->undo();
        const MeshSnapshot atNewState = snapshot(*mesh);
        applyStroke(*mesh, "bump split", 50);
        const MeshSnapshot current = snapshot(*mesh);
        QVERIFY(!std::count(versions.begin(), versions.end(), mesh->getContentVersion()));
        QCOMPARE(int(mesh->getUndoStates().size()), statesAfter);
        QVERIFY(mesh->getRedoStates().empty() && !mesh->isFirstStateUndone());
        mesh->redo(); // nothing to redo
        VERIFY_SAME(current, *mesh);
        mesh->undo();
        VERIFY_SAME(atNewState, *mesh);
        QCOMPARE(mesh->getContentVersion(), versions[14 - undos]);
        VERIFY_MESH(*mesh);
        QCOMPARE(mesh->isFirstStateUndone(), statesAfter == 1);
    }
}

// A wide stroke outgrows the budget while it runs: the older states go at once, the open one
// keeps everything it saved and still undoes exactly.
void TestMesh::overBudgetDuringStroke()
{
    std::unique_ptr<Mesh> mesh = makeIcosphere(4);
    for (int i = 0; i < 4; ++i)
        applyStroke(*mesh, "bump", 300 * i);
    mesh->setHistoryBudget(mesh->getHistoryBytes() * 9 / 8);
    QCOMPARE(int(mesh->getUndoStates().size()), 4);
    const MeshSnapshot before = snapshot(*mesh);
    mesh->newState();
    for (int i = 0; i < 6; ++i)
        bump(*mesh, 40 * i, 3.0f, 4);
    QCOMPARE(int(mesh->getUndoStates().size()), 1);
    QVERIFY(mesh->getHistoryBytes() > mesh->getHistoryBudget());
    mesh->undo();
    VERIFY_SAME(before, *mesh);
    VERIFY_MESH(*mesh);
}

// The vertex lists with inline room against std::vector under the same edits, wandering about
// sizes inside the room, across its end and on the heap; their copies and moves. The history's
// block lists against std::vector.
void TestMesh::indexListSameAsVector()
{
    std::mt19937 random(1);
    for (const int reach : {5, int(IndexList::inlineCapacity) + 2, 40}) {
        IndexList list;
        IntList expected;
        for (int step = 0; step < 3000; ++step) {
            const int value = int(random() % 1000), size = int(expected.size());
            const int at = size ? int(random() % size) : 0;
            const auto choice = random() % 4;
            if (choice == 0 && size < reach) {
                list.push_back(value), expected.push_back(value);
            } else if (choice == 1 && size < reach) {
                list.insert(list.begin() + at, value),
                    expected.insert(expected.begin() + at, value);
            } else if (choice == 2 && size) {
                list.erase(list.begin() + at), expected.erase(expected.begin() + at);
            } else if (choice == 3) { // copies and moves keep the entries, wherever they lie
                IndexList copy(list);
                IndexList moved(std::move(copy));
                list = moved;
                list = std::move(moved);
            }
            QCOMPARE(IntList(list.begin(), list.end()), expected);
        }
    }
    // The history's record lists keep their records in order across their blocks.
    RecordLog<int> log;
    IntList expected;
    for (int i = 0; i < 3 * int(RecordLog<int>::blockSize) + 5; ++i)
        log.push_back(i * 7), expected.push_back(i * 7);
    log.shrink_to_fit();
    QVERIFY(IntList(log.begin(), log.end()) == expected && log[4097] == expected[4097]);
}

QTEST_GUILESS_MAIN(TestMesh)
#include "tst_mesh.moc"
