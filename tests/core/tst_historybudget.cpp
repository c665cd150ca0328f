#include "MeshAsserts.h"
#include "TestMeshes.h"
#include "mesh/HistoryMemory.h"
#include "mesh/Mesh.h"
#include "mesh/MeshCheck.h"

#include <QtTest>

#include <vector>

using namespace TestMeshes;

namespace {

// One brush application: saves the records within `rings` rings of `seed`, then pushes the
// vertices out along their normals.
void bump(Mesh &mesh, int seed, int rings)
{
    std::vector<int> vertices {seed % mesh.getNbVertices()};
    mesh.expandVertices(vertices, rings);
    const std::vector<int> triangles = mesh.getTrianglesFromVertices(vertices);
    mesh.pushState(triangles, vertices);
    for (int v : vertices)
        mesh.getVertex(v).position += mesh.getVertex(v).normal * 3.0f;
    mesh.updateMesh(triangles, mesh.getVerticesFromTriangles(triangles));
}

void stroke(Mesh &mesh, int seed, int rings = 2)
{
    mesh.newState();
    bump(mesh, seed, rings);
}

// Bytes held by the closed states, that is every undo state but the open (last) one.
std::size_t closedBytes(Mesh &mesh)
{
    std::size_t total = 0;
    const auto &states = mesh.getUndoStates();
    auto end = states.end();
    if (!states.empty())
        --end;
    for (auto it = states.begin(); it != end; ++it)
        total += it->bytes;
    return total;
}

} // namespace

// The history's memory budget: oldest states go first, the open state stays, what is kept still
// undoes exactly, and the content numbers that tell whether the mesh is back to a given version.
class TestHistoryBudget : public QObject
{
    Q_OBJECT

private slots:
    void init() { Vertex::visitCounter = Triangle::visitCounter = Mesh::historyCounter = 1; }

    void countsRecordsWithLists();
    void budgetDropsOldest_data();
    void budgetDropsOldest();
    void stateLimitStays();
    void overBudgetDuringStroke();
    void loweringBudgetDrops();
    void contentVersion();
    void contentVersionAfterDrops();
};

void TestHistoryBudget::countsRecordsWithLists()
{
    std::unique_ptr<Mesh> mesh = makeIcosphere(3);
    QCOMPARE(mesh->getHistoryBytes(), std::size_t(0));
    QCOMPARE(mesh->getHistoryBudget(), Mesh::defaultHistoryBudget);
    QCOMPARE(Mesh::defaultHistoryBudget, std::size_t(1) << 30);
    stroke(*mesh, 5);
    const State &state = mesh->getUndoStates().back();
    std::size_t lists = 0;
    for (const Vertex &v : state.savedVertices)
        lists += v.triangleIndices.heapBytes() + v.ringIndices.heapBytes();
    const std::size_t expected = state.savedTriangles.size() * sizeof(Triangle)
        + state.savedVertices.size() * sizeof(Vertex) + lists;
    QCOMPARE(mesh->getHistoryBytes(), expected);

    // Records that the dynamic topology appends straight to the open state's arrays count too.
    mesh->getVerticesState().push_back(mesh->getVertex(0));
    QCOMPARE(mesh->getHistoryBytes(),
        expected + HistoryMemory::recordBytes(mesh->getVerticesState().back()));

    // An undo keeps the state and adds its mirror on the redo side.
    mesh->getVerticesState().pop_back();
    mesh->undo();
    QVERIFY(mesh->getHistoryBytes() > expected);
    VERIFY_MESH(*mesh);
}

void TestHistoryBudget::budgetDropsOldest_data()
{
    QTest::addColumn<double>("strokesInBudget");
    QTest::addColumn<int>("strokes");
    QTest::newRow("smaller than one stroke") << 0.5 << 6;
    QTest::newRow("one and a half strokes") << 1.5 << 6;
    QTest::newRow("three and a half strokes") << 3.5 << 9;
    QTest::newRow("seven and a half strokes") << 7.5 << 10;
}

void TestHistoryBudget::budgetDropsOldest()
{
    QFETCH(double, strokesInBudget);
    QFETCH(int, strokes);
    std::unique_ptr<Mesh> mesh = makeIcosphere(4);

    // Size of one stroke, measured on a copy of the same mesh.
    std::size_t strokeBytes = 0;
    {
        std::unique_ptr<Mesh> probe = makeIcosphere(4);
        stroke(*probe, 0);
        strokeBytes = probe->getHistoryBytes();
    }
    QVERIFY(strokeBytes > 0);
    const auto budget = std::size_t(double(strokeBytes) * strokesInBudget);
    mesh->setHistoryBudget(budget);

    // Seeds far apart on the sphere, so that strokes save about the same amount each.
    std::vector<MeshSnapshot> before;
    for (int i = 0; i < strokes; ++i) {
        before.push_back(snapshot(*mesh));
        stroke(*mesh, 211 * i);
        // Opening this state dropped the oldest ones until the closed states fit, or until only
        // the previous stroke was left.
        const int closed = int(mesh->getUndoStates().size()) - 1;
        QVERIFY2(closedBytes(*mesh) <= budget || closed <= 1,
            qPrintable(QStringLiteral("stroke %1: %2 bytes in %3 closed states, budget %4")
                           .arg(i)
                           .arg(closedBytes(*mesh))
                           .arg(closed)
                           .arg(budget)));
        QVERIFY(mesh->getHistoryBytes() <= budget + strokeBytes * 2);
    }
    // One more empty state closes the last stroke under the same rule.
    mesh->newState();
    const int kept = int(mesh->getUndoStates().size()) - 1;
    QVERIFY(closedBytes(*mesh) <= budget || kept <= 1);
    QVERIFY(kept >= 1);
    if (strokesInBudget >= 1.0)
        QVERIFY(kept >= int(strokesInBudget) - 1);
    QVERIFY(kept <= int(strokesInBudget) + 1);

    // Every kept stroke undoes exactly, newest first; then nothing more undoes.
    mesh->undo(); // the empty state
    const MeshSnapshot end = snapshot(*mesh);
    for (int k = 0; k < kept; ++k) {
        mesh->undo();
        VERIFY_SAME(before[strokes - 1 - k], *mesh);
    }
    const MeshSnapshot oldest = snapshot(*mesh);
    mesh->undo();
    VERIFY_SAME(oldest, *mesh);
    VERIFY_MESH(*mesh);
    for (int k = 0; k <= kept; ++k)
        mesh->redo();
    VERIFY_SAME(end, *mesh);
    VERIFY_MESH(*mesh);
}

void TestHistoryBudget::stateLimitStays()
{
    std::unique_ptr<Mesh> mesh = makeIcosphere(2);
    for (int i = 0; i < 15; ++i)
        stroke(*mesh, 17 * i, 1);
    QCOMPARE(int(mesh->getUndoStates().size()), Mesh::maxUndoStates);
    QVERIFY(mesh->getHistoryBytes() < mesh->getHistoryBudget());
}

void TestHistoryBudget::overBudgetDuringStroke()
{
    std::unique_ptr<Mesh> mesh = makeIcosphere(4);
    for (int i = 0; i < 4; ++i)
        stroke(*mesh, 300 * i, 1);
    const std::size_t small = mesh->getHistoryBytes();
    mesh->setHistoryBudget(small + small / 8);
    QCOMPARE(int(mesh->getUndoStates().size()), 4);

    // A wide stroke outgrows the budget while it runs: the older states go at once, the open
    // one keeps everything it saved and still undoes exactly.
    const MeshSnapshot before = snapshot(*mesh);
    mesh->newState();
    for (int i = 0; i < 6; ++i)
        bump(*mesh, 40 * i, 4);
    QCOMPARE(int(mesh->getUndoStates().size()), 1);
    QVERIFY(mesh->getHistoryBytes() > mesh->getHistoryBudget());
    mesh->undo();
    VERIFY_SAME(before, *mesh);
    VERIFY_MESH(*mesh);
}

void TestHistoryBudget::loweringBudgetDrops()
{
    std::unique_ptr<Mesh> mesh = makeIcosphere(3);
    for (int i = 0; i < 5; ++i)
        stroke(*mesh, 50 * i);
    QCOMPARE(int(mesh->getUndoStates().size()), 5);
    mesh->setHistoryBudget(0);
    // Only the current state is left, and it still undoes.
    QCOMPARE(int(mesh->getUndoStates().size()), 1);
    QCOMPARE(mesh->getCurrentStateIndex(), 0);
    mesh->undo();
    QVERIFY(mesh->isFirstStateUndone());
    VERIFY_MESH(*mesh);
}

void TestHistoryBudget::contentVersion()
{
    std::unique_ptr<Mesh> mesh = makeIcosphere(2);
    QCOMPARE(mesh->getContentVersion(), std::uint64_t(0));
    mesh->undo();
    QCOMPARE(mesh->getContentVersion(), std::uint64_t(0));

    // A press with no drag opens a state that saves nothing: the content is the same.
    mesh->newState();
    QCOMPARE(mesh->getContentVersion(), std::uint64_t(0));
    bump(*mesh, 3, 1);
    const std::uint64_t first = mesh->getContentVersion();
    QVERIFY(first != 0);
    stroke(*mesh, 30);
    const std::uint64_t second = mesh->getContentVersion();
    QVERIFY(second != first && second != 0);
    mesh->newState();
    QCOMPARE(mesh->getContentVersion(), second);

    mesh->undo(); // the empty state
    QCOMPARE(mesh->getContentVersion(), second);
    mesh->undo();
    QCOMPARE(mesh->getContentVersion(), first);
    mesh->undo();
    QCOMPARE(mesh->getContentVersion(), std::uint64_t(0));
    mesh->redo();
    QCOMPARE(mesh->getContentVersion(), first);
    mesh->redo();
    QCOMPARE(mesh->getContentVersion(), second);

    // A new stroke after an undo is a new content, never one seen before.
    mesh->undo();
    stroke(*mesh, 60);
    const std::uint64_t third = mesh->getContentVersion();
    QVERIFY(third != 0 && third != first && third != second);
    mesh->undo();
    QCOMPARE(mesh->getContentVersion(), first);
}

void TestHistoryBudget::contentVersionAfterDrops()
{
    // Versions reached by undo stay right when the state limit or the budget dropped the oldest
    // states, including the case where the oldest state was the current one.
    std::unique_ptr<Mesh> mesh = makeIcosphere(3);
    std::vector<std::uint64_t> versions {mesh->getContentVersion()};
    for (int i = 0; i < 14; ++i) {
        stroke(*mesh, 23 * i, 1);
        versions.push_back(mesh->getContentVersion());
    }
    const int kept = int(mesh->getUndoStates().size());
    for (int k = 1; k <= kept; ++k) {
        mesh->undo();
        QCOMPARE(mesh->getContentVersion(), versions[versions.size() - 1 - k]);
    }
    mesh->redo(); // current state is the first one again, the others are undone
    const std::uint64_t atFirst = mesh->getContentVersion();
    QCOMPARE(atFirst, versions[versions.size() - kept]);
    // Opening a state now drops every state: the content they led to becomes the base.
    mesh->newState();
    QCOMPARE(mesh->getContentVersion(), atFirst);
    mesh->undo();
    QCOMPARE(mesh->getContentVersion(), atFirst);

    mesh->setHistoryBudget(0);
    stroke(*mesh, 7);
    const std::uint64_t a = mesh->getContentVersion();
    stroke(*mesh, 70);
    QCOMPARE(int(mesh->getUndoStates().size()), 1);
    mesh->undo();
    QCOMPARE(mesh->getContentVersion(), a);
    VERIFY_MESH(*mesh);
}

QTEST_APPLESS_MAIN(TestHistoryBudget)
#include "tst_historybudget.moc"
