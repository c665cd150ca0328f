#include "MeshAsserts.h"
#include "TestMeshes.h"
#include "mesh/Mesh.h"
#include "mesh/MeshCheck.h"

#include <QtTest>

#include <algorithm>
#include <vector>

using IntList = std::vector<int>;
Q_DECLARE_METATYPE(IntList)

using namespace TestMeshes;

namespace {

// Stroke operations on an open state. Each saves the records it is about to change first, as the
// brush and the dynamic topology do.

// Pushes the vertices within one ring of `seed` by `push`.
void bump(Mesh &mesh, int seed, const QVector3D &push)
{
    IntList vertices {seed};
    mesh.expandVertices(vertices, 1);
    const IntList triangles = mesh.getTrianglesFromVertices(vertices);
    mesh.pushState(triangles, vertices);
    for (int v : vertices)
        mesh.getVertex(v).position += push;
    mesh.updateMesh(triangles, mesh.getVerticesFromTriangles(triangles));
}

// Splits triangle t into three around a new vertex raised above its centre: one vertex and two
// triangles appended.
void split(Mesh &mesh, int t)
{
    const Triangle old = mesh.getTriangle(t);
    const int a = old.vertex1, b = old.vertex2, c = old.vertex3;
    mesh.pushState({t}, {a, b, c});
    auto &vertices = mesh.getVertices();
    auto &triangles = mesh.getTriangles();
    const QVector3D centre =
        (vertices[a].position + vertices[b].position + vertices[c].position) / 3.0f;
    const int v = mesh.getNbVertices();
    vertices.emplace_back(centre + old.normal * 3.0f, v);
    const int t1 = mesh.getNbTriangles();
    const int t2 = t1 + 1;
    triangles[t].vertex3 = v;
    triangles.emplace_back(old.normal, b, c, v, t1);
    triangles.emplace_back(old.normal, c, a, v, t2);
    vertices[a].addTriangle(t2);
    vertices[b].addTriangle(t1);
    vertices[c].removeTriangle(t);
    vertices[c].addTriangle(t1);
    vertices[c].addTriangle(t2);
    vertices[v].addTriangle(t);
    vertices[v].addTriangle(t1);
    vertices[v].addTriangle(t2);
    for (int i : {a, b, c, v})
        mesh.computeRingVertices(i);
    mesh.updateMesh({t, t1, t2}, {a, b, c, v});
}

// Removes triangle t; the last triangle takes its index.
void removeTriangle(Mesh &mesh, int t)
{
    auto &triangles = mesh.getTriangles();
    const int last = mesh.getNbTriangles() - 1;
    const Triangle &victim = triangles[t];
    const Triangle &moved = triangles[last];
    mesh.pushState({t, last},
        {victim.vertex1, victim.vertex2, victim.vertex3, moved.vertex1, moved.vertex2,
            moved.vertex3});
    triangles[t].leaf->removeAt(mesh, triangles[t].leafIndex);
    for (int corner : {victim.vertex1, victim.vertex2, victim.vertex3})
        mesh.getVertex(corner).removeTriangle(t);
    if (t != last) {
        triangles[t] = triangles[last];
        Triangle &now = triangles[t];
        now.id = t;
        for (int corner : {now.vertex1, now.vertex2, now.vertex3})
            mesh.getVertex(corner).replaceTriangle(last, t);
        now.leaf->triangleIndices[now.leafIndex] = t;
    }
    triangles.pop_back();
}

// Removes vertex v, which no triangle uses any more; the last vertex takes its index. Returns the
// index the former last vertex had.
int removeVertex(Mesh &mesh, int v)
{
    auto &vertices = mesh.getVertices();
    const int last = mesh.getNbVertices() - 1;
    IntList saved {v, last};
    saved.insert(saved.end(), vertices[last].ringIndices.begin(), vertices[last].ringIndices.end());
    mesh.pushState(vertices[last].triangleIndices, saved);
    if (v != last) {
        vertices[v] = vertices[last];
        vertices[v].id = v;
        for (int t : vertices[v].triangleIndices)
            mesh.getTriangle(t).replaceVertex(last, v);
        for (int n : vertices[v].ringIndices)
            mesh.getVertex(n).replaceRingVertex(last, v);
    }
    vertices.pop_back();
    return last;
}

// Cuts a hole: removes every triangle around `seed`, then `seed` itself.
void carve(Mesh &mesh, int seed)
{
    IntList ring = mesh.getVertex(seed).ringIndices;
    mesh.pushState({}, {seed});
    while (!mesh.getVertex(seed).triangleIndices.empty())
        removeTriangle(mesh, mesh.getVertex(seed).triangleIndices.front());
    for (int i : ring)
        mesh.computeRingVertices(i);
    mesh.computeRingVertices(seed);
    const int formerLast = removeVertex(mesh, seed);
    for (int &i : ring) {
        if (i == formerLast)
            i = seed;
    }
    // No position moved: only the normals of the ring change.
    mesh.updateMesh({}, ring);
}

void applyStroke(Mesh &mesh, const QString &ops, int seed)
{
    mesh.newState();
    for (const QString &op : ops.split(' ')) {
        seed = seed % mesh.getNbVertices();
        if (op == "bump")
            bump(mesh, seed, mesh.getVertex(seed).normal * 20.0f);
        else if (op == "far")
            bump(mesh, seed, mesh.getVertex(seed).normal * 400.0f);
        else if (op == "split")
            split(mesh, mesh.getVertex(seed).triangleIndices.front());
        else if (op == "carve")
            carve(mesh, seed);
        seed += 37;
    }
}

class CountingGpu : public MeshGpu
{
public:
    explicit CountingGpu(int *builds)
        : builds(builds)
    { }
    void build(const Mesh &mesh) override
    {
        ++*builds;
        capacityT = 2 * mesh.getNbTriangles();
        capacityV = 2 * mesh.getNbVertices();
    }
    void initShaders(const Mesh &) override { }
    int triangleCapacity() const override { return capacityT; }
    int vertexCapacity() const override { return capacityV; }
    void patchIndices(const Mesh &, const std::vector<int> &) override { }
    void patchPositions(const Mesh &, const std::vector<int> &) override { }
    void patchNormals(const Mesh &, const std::vector<int> &) override { }

    int *builds;
    int capacityT = 0;
    int capacityV = 0;
};

const char *const strokeKinds[] = {
    "bump", "split split", "carve", "bump carve split", "split carve", "carve carve bump"};

} // namespace

class TestHistory : public QObject
{
    Q_OBJECT

private slots:
    void init() { Vertex::visitCounter = Triangle::visitCounter = Mesh::historyCounter = 1; }

    void nothingToUndo();
    void strokeUndoRedo_data();
    void strokeUndoRedo();
    void twelveStrokes();
    void newStrokeClearsRedo();
    void firstStateUndoneThenRedone();
    void newStateAfterUndos_data();
    void newStateAfterUndos();
    void recordsSavedOnce();
    void undoRebuildsThroughGpu();
};

void TestHistory::nothingToUndo()
{
    auto mesh = makeIcosphere(2);
    const MeshSnapshot before = snapshot(*mesh);
    mesh->undo();
    mesh->redo();
    VERIFY_SAME(before, *mesh);
    QVERIFY(mesh->getUndoStates().empty());
    QVERIFY(mesh->getRedoStates().empty());
    QCOMPARE(mesh->getCurrentStateIndex(), -1);
    QVERIFY(!mesh->isFirstStateUndone());
}

void TestHistory::strokeUndoRedo_data()
{
    QTest::addColumn<QString>("ops");
    QTest::addColumn<int>("triangleChange");
    QTest::addColumn<int>("vertexChange");
    QTest::newRow("bump") << "bump" << 0 << 0;
    QTest::newRow("bump out of the root box") << "far" << 0 << 0;
    QTest::newRow("split adds records") << "split split" << 4 << 2;
    QTest::newRow("carve removes records") << "carve" << -6 << -1;
    QTest::newRow("split, carve and bump in one stroke") << "split carve bump" << -4 << 0;
}

void TestHistory::strokeUndoRedo()
{
    QFETCH(QString, ops);
    QFETCH(int, triangleChange);
    QFETCH(int, vertexChange);
    auto mesh = makeIcosphere(3);
    const MeshSnapshot before = snapshot(*mesh);
    applyStroke(*mesh, ops, 100);
    VERIFY_MESH(*mesh);
    QCOMPARE(mesh->getNbTriangles(), int(before.triangles.size()) + triangleChange);
    QCOMPARE(mesh->getNbVertices(), int(before.vertices.size()) + vertexChange);
    const MeshSnapshot after = snapshot(*mesh);
    QVERIFY(!compareWithSnapshot(before, *mesh).isEmpty());

    mesh->undo();
    VERIFY_SAME(before, *mesh);
    VERIFY_MESH(*mesh);
    QVERIFY(mesh->isFirstStateUndone());
    mesh->undo();
    VERIFY_SAME(before, *mesh);

    mesh->redo();
    VERIFY_SAME(after, *mesh);
    VERIFY_MESH(*mesh);
    mesh->redo();
    VERIFY_SAME(after, *mesh);

    mesh->undo();
    VERIFY_SAME(before, *mesh);
    VERIFY_MESH(*mesh);
}

void TestHistory::twelveStrokes()
{
    auto mesh = makeIcosphere(3);
    std::vector<MeshSnapshot> snapshots {snapshot(*mesh)};
    for (int s = 0; s < 12; ++s) {
        applyStroke(*mesh, strokeKinds[s % 6], 5 + 101 * s);
        VERIFY_MESH(*mesh);
        snapshots.push_back(snapshot(*mesh));
    }
    QCOMPARE(int(mesh->getUndoStates().size()), Mesh::maxUndoStates);
    QCOMPARE(mesh->getCurrentStateIndex(), 10);

    // Eleven undos walk back to the mesh after the first stroke; the twelfth does nothing.
    for (int u = 1; u <= 11; ++u) {
        mesh->undo();
        VERIFY_SAME(snapshots[12 - u], *mesh);
        VERIFY_MESH(*mesh);
    }
    QVERIFY(mesh->isFirstStateUndone());
    mesh->undo();
    VERIFY_SAME(snapshots[1], *mesh);
    QCOMPARE(int(mesh->getRedoStates().size()), 11);

    // And redo walks forward again.
    for (int r = 1; r <= 11; ++r) {
        mesh->redo();
        VERIFY_SAME(snapshots[1 + r], *mesh);
        VERIFY_MESH(*mesh);
        QCOMPARE(mesh->getCurrentStateIndex(), r - 1 + (r == 1 ? 0 : 0));
    }
    mesh->redo();
    VERIFY_SAME(snapshots[12], *mesh);
}

void TestHistory::newStrokeClearsRedo()
{
    auto mesh = makeIcosphere(2);
    applyStroke(*mesh, "split", 3);
    applyStroke(*mesh, "bump", 9);
    mesh->undo();
    const MeshSnapshot afterFirst = snapshot(*mesh);
    applyStroke(*mesh, "carve", 20);
    VERIFY_MESH(*mesh);
    QVERIFY(mesh->getRedoStates().empty());
    QCOMPARE(int(mesh->getUndoStates().size()), 2);
    const MeshSnapshot current = snapshot(*mesh);
    mesh->redo();
    VERIFY_SAME(current, *mesh);
    mesh->undo();
    VERIFY_SAME(afterFirst, *mesh);
    VERIFY_MESH(*mesh);
}

void TestHistory::firstStateUndoneThenRedone()
{
    auto mesh = makeIcosphere(2);
    const MeshSnapshot before = snapshot(*mesh);
    applyStroke(*mesh, "bump split", 4);
    const MeshSnapshot after = snapshot(*mesh);

    mesh->undo();
    QVERIFY(mesh->isFirstStateUndone());
    QCOMPARE(mesh->getCurrentStateIndex(), 0);
    mesh->redo();
    QVERIFY(!mesh->isFirstStateUndone());
    QCOMPARE(mesh->getCurrentStateIndex(), 0);
    VERIFY_SAME(after, *mesh);
    mesh->undo();
    VERIFY_SAME(before, *mesh);
    VERIFY_MESH(*mesh);
}

void TestHistory::newStateAfterUndos_data()
{
    QTest::addColumn<int>("undos");
    QTest::addColumn<int>("statesAfter");
    QTest::newRow("no undo: oldest dropped") << 0 << 11;
    QTest::newRow("three undos") << 3 << 8;
    QTest::newRow("back to the oldest state") << 10 << 1;
    QTest::newRow("oldest state undone too") << 11 << 1;
}

void TestHistory::newStateAfterUndos()
{
    QFETCH(int, undos);
    QFETCH(int, statesAfter);
    auto mesh = makeIcosphere(2);
    for (int s = 0; s < 11; ++s)
        applyStroke(*mesh, strokeKinds[s % 6], 7 + 13 * s);
    for (int u = 0; u < undos; ++u)
        mesh->undo();
    const MeshSnapshot atNewState = snapshot(*mesh);

    applyStroke(*mesh, "bump split", 50);
    VERIFY_MESH(*mesh);
    QCOMPARE(int(mesh->getUndoStates().size()), statesAfter);
    QCOMPARE(mesh->getCurrentStateIndex(), statesAfter - 1);
    QVERIFY(mesh->getRedoStates().empty());
    QVERIFY(!mesh->isFirstStateUndone());

    mesh->undo();
    VERIFY_SAME(atNewState, *mesh);
    VERIFY_MESH(*mesh);
    if (statesAfter == 1) {
        QVERIFY(mesh->isFirstStateUndone());
        mesh->undo();
        VERIFY_SAME(atNewState, *mesh);
    }
}

void TestHistory::recordsSavedOnce()
{
    auto mesh = makeTetrahedron();
    // No open state: nothing is saved, and the arrays handed out are a scratch pair.
    mesh->pushState({0}, {0});
    QVERIFY(mesh->getTrianglesState().empty());
    QVERIFY(mesh->getUndoStates().empty());

    mesh->newState();
    mesh->pushState({0, 0, 2}, {3, 3});
    mesh->pushState({2, 1}, {3, 1});
    const State &state = mesh->getUndoStates().back();
    QCOMPARE(&mesh->getTrianglesState(), &state.savedTriangles);
    QCOMPARE(&mesh->getVerticesState(), &state.savedVertices);
    IntList triangleIds, vertexIds;
    for (const Triangle &t : state.savedTriangles)
        triangleIds.push_back(t.id);
    for (const Vertex &v : state.savedVertices)
        vertexIds.push_back(v.id);
    QCOMPARE(triangleIds, IntList({0, 2, 1}));
    QCOMPARE(vertexIds, IntList({3, 1}));
    QCOMPARE(state.triangleCount, 4);
    QCOMPARE(state.vertexCount, 4);
    QCOMPARE(state.octreeBox, mesh->getOctree()->aabbSplit);

    // A new state saves them again.
    mesh->newState();
    mesh->pushState({0}, {3});
    QCOMPARE(int(mesh->getTrianglesState().size()), 1);
    QCOMPARE(int(mesh->getVerticesState().size()), 1);
}

void TestHistory::undoRebuildsThroughGpu()
{
    auto mesh = makeIcosphere(1);
    int builds = 0;
    mesh->setGpu(std::make_unique<CountingGpu>(&builds));
    mesh->initVBO();
    QCOMPARE(builds, 1);
    applyStroke(*mesh, "bump", 2);
    QCOMPARE(builds, 1);
    mesh->undo();
    QCOMPARE(builds, 2);
    mesh->redo();
    QCOMPARE(builds, 3);
}

QTEST_GUILESS_MAIN(TestHistory)
#include "tst_history.moc"
