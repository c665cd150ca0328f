// Undo and redo: strokes that move, add and remove records come back bit for bit; the state
// limit, the memory budget (oldest states first, the open state kept) and the content numbers
// that tell whether the mesh is back to a given version.

#include "MeshAsserts.h"
#include "RecordingGpu.h"
#include "TestMeshes.h"
#include "topology/Topology.h"

#include <QtTest>

using IntList = std::vector<int>;
using namespace TestMeshes;

namespace {

// Stroke operations on an open state. Each saves the records it is about to change first, as the
// brush and the dynamic topology do.

// Pushes the vertices within `rings` rings of `seed` by `push` along their normals.
void bump(Mesh &mesh, int seed, float push, int rings = 1)
{
    IntList vertices {seed % mesh.getNbVertices()};
    mesh.expandVertices(vertices, rings);
    const IntList triangles = mesh.getTrianglesFromVertices(vertices);
    mesh.pushState(triangles, vertices);
    for (int v : vertices)
        mesh.getVertex(v).position += mesh.getVertex(v).normal * push;
    mesh.updateMesh(triangles, mesh.getVerticesFromTriangles(triangles));
}

// A topology step around `seed`, as the dynamic topology runs it within a stroke: long edges
// split (records added) or short ones collapsed (records removed and moved into the freed slots).
void remesh(Mesh &mesh, int seed, bool refine)
{
    const QVector3D centre = mesh.getVertex(seed).position;
    const float edge2 =
        (centre - mesh.getVertex(mesh.getVertex(seed).ringIndices[0]).position).lengthSquared();
    IntList triangles = mesh.getTrianglesFromVertices({seed});
    Topology topology(&mesh, centre, 4.0f * edge2);
    refine ? topology.subdivision(triangles, 0.25f * edge2)
           : topology.decimation(triangles, 4.0f * edge2);
    mesh.updateMesh(triangles, mesh.getVerticesFromTriangles(triangles));
}

void applyStroke(Mesh &mesh, const QString &ops, int seed)
{
    mesh.newState();
    for (const QString &op : ops.split(' ')) {
        seed = seed % mesh.getNbVertices();
        if (op == "bump")
            bump(mesh, seed, 20.0f);
        else if (op == "far")
            bump(mesh, seed, 400.0f);
        else if (op == "split" || op == "carve")
            remesh(mesh, seed, op == "split");
        seed += 37;
    }
}

const char *const strokeKinds[] = {
    "bump", "split split", "carve", "bump carve split", "split carve", "carve carve bump"};

// Bytes held by the closed states, that is every undo state but the open (last) one.
std::size_t closedBytes(const Mesh &mesh)
{
    std::size_t total = 0;
    const auto &states = mesh.getUndoStates();
    for (auto it = states.begin(); it != states.end() && std::next(it) != states.end(); ++it)
        total += it->bytes;
    return total;
}

} // namespace

class TestHistory : public QObject
{
    Q_OBJECT

private slots:
    void init() { Vertex::visitCounter = Triangle::visitCounter = Mesh::historyCounter = 1; }
    void strokeUndoRedo();
    void twelveStrokes();
    void newStateAfterUndos();
    void recordsSavedOnce();
    void budgetDropsOldest();
    void overBudgetDuringStroke();
    void contentVersion();
};

// A stroke of no step, a bump out of the root box, subdivisions (records added), a decimation
// (records removed), and all in one stroke; `change` is the sign of the change in the vertex count.
void TestHistory::strokeUndoRedo()
{
    for (const auto &[ops, change] : {std::pair<QString, int> {"", 0}, {"far", 0},
             {"split split", 1}, {"carve", -1}, {"split carve bump", 0}}) {
        auto mesh = makeIcosphere(3);
        QStringList log;
        mesh->setGpu(std::make_unique<RecordingGpu>(&log));
        mesh->initVBO();
        const MeshSnapshot before = snapshot(*mesh);
        if (!ops.isEmpty())
            applyStroke(*mesh, ops, 100);
        VERIFY_SOUND(*mesh, true);
        const int added = mesh->getNbVertices() - int(before.vertices.size());
        QVERIFY(change == 0 || (change > 0 ? added > 0 : added < 0));
        const MeshSnapshot after = snapshot(*mesh);
        // Undo and redo twice each (the second does nothing), then undo again; each goes through a
        // full buffer build.
        log.clear();
        for (const char step : QByteArray("uurru")) {
            step == 'u' ? mesh->undo() : mesh->redo();
            VERIFY_SAME(step == 'u' ? before : after, *mesh);
            VERIFY_MESH(*mesh);
        }
        QCOMPARE(mesh->isFirstStateUndone(), !ops.isEmpty());
        QCOMPARE(mesh->getCurrentStateIndex(), ops.isEmpty() ? -1 : 0);
        QCOMPARE(log.filter(QRegularExpression("^build")).size(), ops.isEmpty() ? 0 : 3);
    }
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
    // Eleven undos walk back to the mesh after the first stroke; a twelfth does nothing.
    for (int u = 1; u <= 12; ++u) {
        mesh->undo();
        VERIFY_SAME(snapshots[std::max(12 - u, 1)], *mesh);
        VERIFY_MESH(*mesh);
    }
    QCOMPARE(int(mesh->getRedoStates().size()), 11);
    for (int r = 1; r <= 12; ++r) {
        mesh->redo();
        VERIFY_SAME(snapshots[std::min(1 + r, 12)], *mesh);
    }
}

// A stroke after some undos clears the redo states: after three, after all but the oldest, after
// every one.
void TestHistory::newStateAfterUndos()
{
    for (const auto &[undos, statesAfter] : {std::pair {3, 8}, {10, 1}, {11, 1}}) {
        auto mesh = makeIcosphere(2);
        for (int s = 0; s < 11; ++s)
            applyStroke(*mesh, strokeKinds[s % 6], 7 + 13 * s);
        for (int u = 0; u < undos; ++u)
            mesh->undo();
        const MeshSnapshot atNewState = snapshot(*mesh);
        applyStroke(*mesh, "bump split", 50);
        const MeshSnapshot current = snapshot(*mesh);
        VERIFY_MESH(*mesh);
        QCOMPARE(int(mesh->getUndoStates().size()), statesAfter);
        QCOMPARE(mesh->getCurrentStateIndex(), statesAfter - 1);
        QVERIFY(mesh->getRedoStates().empty() && !mesh->isFirstStateUndone());
        mesh->redo(); // nothing to redo
        VERIFY_SAME(current, *mesh);
        mesh->undo();
        VERIFY_SAME(atNewState, *mesh);
        VERIFY_MESH(*mesh);
        QCOMPARE(mesh->isFirstStateUndone(), statesAfter == 1);
    }
}

void TestHistory::recordsSavedOnce()
{
    auto mesh = makeTetrahedron();
    // No open state: nothing is saved.
    mesh->pushState({0}, {0});
    QVERIFY(mesh->getTrianglesState().empty() && mesh->getUndoStates().empty());
    mesh->newState();
    mesh->pushState({0, 0, 2}, {3, 3});
    mesh->pushState({2, 1}, {3, 1});
    IntList ids;
    for (const Triangle &t : mesh->getUndoStates().back().savedTriangles)
        ids.push_back(t.id);
    for (const Vertex &v : mesh->getUndoStates().back().savedVertices)
        ids.push_back(v.id);
    QCOMPARE(ids, IntList({0, 2, 1, 3, 1}));
    // Records appended to the state directly count too.
    const std::size_t bytes = mesh->getHistoryBytes();
    mesh->getVerticesState().push_back(mesh->getVertex(0));
    QVERIFY(bytes > 0 && mesh->getHistoryBytes() > bytes);
    // A new state saves them again.
    mesh->newState();
    mesh->pushState({0}, {3});
    QCOMPARE(int(mesh->getTrianglesState().size()), 1);
}

// Budgets of no stroke (only the current state kept), of half a stroke, of three and a half.
void TestHistory::budgetDropsOldest()
{
    for (const auto &[strokesInBudget, strokes] : {std::pair {0.0, 5}, {0.5, 6}, {3.5, 9}}) {
        std::unique_ptr<Mesh> mesh = makeIcosphere(4);
        std::unique_ptr<Mesh> probe = makeIcosphere(4); // one stroke measured on a copy
        probe->newState();
        bump(*probe, 0, 3.0f, 2);
        const auto budget = std::size_t(double(probe->getHistoryBytes()) * strokesInBudget);
        if (budget > 0)
            mesh->setHistoryBudget(budget);
        // Seeds far apart on the sphere, so that strokes save about the same amount each.
        std::vector<MeshSnapshot> before;
        for (int i = 0; i < strokes; ++i) {
            before.push_back(snapshot(*mesh));
            mesh->newState();
            bump(*mesh, 211 * i, 3.0f, 2);
            // Opening this state dropped the oldest ones until the closed states fit, or until only
            // the previous stroke was left.
            QVERIFY(
                budget == 0 || closedBytes(*mesh) <= budget || mesh->getUndoStates().size() <= 2);
        }
        if (budget == 0) {
            // Lowering the budget to nothing keeps the current state only, and it still undoes.
            mesh->setHistoryBudget(0);
            QCOMPARE(int(mesh->getUndoStates().size()), 1);
            mesh->undo();
            VERIFY_SAME(before.back(), *mesh);
            continue;
        }
        mesh->newState(); // closes the last stroke under the same rule
        const int kept = int(mesh->getUndoStates().size()) - 1;
        QVERIFY(closedBytes(*mesh) <= budget || kept <= 1);
        QVERIFY(kept >= std::max(1, int(strokesInBudget) - 1) && kept <= int(strokesInBudget) + 1);
        // Every kept stroke undoes exactly, newest first; then nothing more undoes.
        mesh->undo(); // the empty state
        const MeshSnapshot end = snapshot(*mesh);
        for (int k = 0; k < kept; ++k) {
            mesh->undo();
            VERIFY_SAME(before[strokes - 1 - k], *mesh);
        }
        mesh->undo();
        VERIFY_SAME(before[strokes - kept], *mesh);
        for (int k = 0; k <= kept; ++k)
            mesh->redo();
        VERIFY_SAME(end, *mesh);
        VERIFY_MESH(*mesh);
    }
}

void TestHistory::overBudgetDuringStroke()
{
    std::unique_ptr<Mesh> mesh = makeIcosphere(4);
    for (int i = 0; i < 4; ++i)
        applyStroke(*mesh, "bump", 300 * i);
    mesh->setHistoryBudget(mesh->getHistoryBytes() * 9 / 8);
    QCOMPARE(int(mesh->getUndoStates().size()), 4);
    // A wide stroke outgrows the budget while it runs: the older states go at once, the open
    // one keeps everything it saved and still undoes exactly.
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

void TestHistory::contentVersion()
{
    std::unique_ptr<Mesh> mesh = makeIcosphere(2);
    QCOMPARE(mesh->getContentVersion(), std::uint64_t(0));
    // A press with no drag opens a state that saves nothing: the content is the same.
    mesh->undo();
    mesh->newState();
    QCOMPARE(mesh->getContentVersion(), std::uint64_t(0));
    bump(*mesh, 3, 3.0f);
    const auto first = mesh->getContentVersion();
    applyStroke(*mesh, "bump", 30);
    const auto second = mesh->getContentVersion();
    QVERIFY(first != 0 && second != first && second != 0);
    mesh->newState();
    QCOMPARE(mesh->getContentVersion(), second);
    const std::vector<std::uint64_t> walk = {second, first, 0, first, second};
    for (std::size_t i = 0; i < walk.size(); ++i) {
        i < 3 ? mesh->undo() : mesh->redo();
        QCOMPARE(mesh->getContentVersion(), walk[i]);
    }
    // A new stroke after an undo is a new content, never one seen before.
    mesh->undo();
    applyStroke(*mesh, "bump", 60);
    const auto third = mesh->getContentVersion();
    QVERIFY(third != 0 && third != first && third != second);
    // Versions reached by undo stay right when the limit drops the oldest states, including the
    // one that was current.
    std::vector<std::uint64_t> versions {third};
    for (int i = 0; i < 14; ++i) {
        applyStroke(*mesh, "bump", 23 * i);
        versions.push_back(mesh->getContentVersion());
    }
    const int kept = int(mesh->getUndoStates().size());
    for (int k = 1; k <= kept; ++k) {
        mesh->undo();
        QCOMPARE(mesh->getContentVersion(), versions[versions.size() - 1 - k]);
    }
    mesh->redo();
    const auto atFirst = mesh->getContentVersion();
    mesh->newState(); // drops every state: the content they led to becomes the base
    mesh->undo();
    QCOMPARE(mesh->getContentVersion(), atFirst);
    VERIFY_MESH(*mesh);
}

QTEST_APPLESS_MAIN(TestHistory)
#include "tst_history.moc"
