// The brush: stroke scripts as read; every tool in every topology mode keeping masked vertices
// and making one history state, undone and redone bit for bit, and what each tool does under the
// brush; symmetry; one step of each tool (flatten, the smoothings, the adaptive move limit); and
// empty input.

#include "MeshAsserts.h"
#include "TestMeshes.h"
#include "mesh/Parallel.h"
#include "sculpt/MaskEdit.h"
#include "sculpt/Sculptor.h"
#include "sculpt/Stroke.h"
#include "sculpt/StrokeScript.h"

#include <QtTest>

#include <cmath>

#include <omp.h>

using namespace TestMeshes;

namespace {

// n dabs going straight down (-z) through (x, y), x evenly spaced from a to b (one dab: halfway),
// the press a quarter radius before the first.
StrokeScript stroke(int tool, int topology, float a, float b, int n, float y, float radius)
{
    StrokeScript s;
    s.tool = tool;
    s.topology = topology;
    s.hasPress = true;
    const auto ray = [y](float x) { return StrokeScript::Ray {{x, y, 1000}, {0, 0, -1}}; };
    for (int k = 0; k < n; ++k)
        s.dabs.push_back(
            {ray(n > 1 ? a + (b - a) * float(k) / float(n - 1) : 0.5f * (a + b)), radius});
    s.press = ray(s.dabs[0].ray.origin.x() - 0.25f * radius);
    return s;
}

// Positions and masks of the vertices masked at least `least`, sorted (the topology renumbers
// vertices).
std::vector<std::array<float, 4>> sortedVertices(const Mesh &mesh, float least)
{
    std::vector<std::array<float, 4>> out;
    for (const Vertex &v : mesh.getVertices())
        if (v.mask >= least)
            out.push_back({v.position.x(), v.position.y(), v.position.z(), v.mask});
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

class TestSculpt : public QObject
{
    Q_OBJECT

private slots:
    // "tool topology dabs symmetry intensity" as read, or a part of the error.
    void parse()
    {
        const QByteArray ray = R"({"origin": [0, 0, 1], "direction": [0, 0, -1])";
        const auto dabs = [&](const char *extra) { return "\"dabs\": [" + ray + extra + "}]"; };
        const std::pair<QByteArray, QString> rows[] = {{R"({"dabs": []})", "0 2 0 0 0.75"},
            {R"({"tool": "flatten", "topology": "adaptive", "intensity": 0.5, "detail": 1,
                "culling": true, "symmetry": true, )"
                    + dabs(R"(, "radius": 5)") + "}",
                "3 3 1 1 0.5"},
            {R"({"tool": 4, "topology": 4, "press": )" + ray + "}, " + dabs(R"(, "radius": 0.5)")
                    + "}",
                "4 4 1 0 0.75"},
            {"{dabs", "JSON"}, {R"({"tool": "smooth"})", "dabs"},
            {R"({"dabs": [], "tol": 1})", "tol"}, {R"({"dabs": [], "tool": "hammer"})", "hammer"},
            {R"({"dabs": [], "topology": 1.5})", "topology"},
            {R"({"dabs": [], "intensity": 1.5})", "intensity"},
            {R"({"dabs": [], "culling": 1})", "culling"},
            {"{" + dabs(R"(, "radius": 1e300)") + "}", "radius"},
            {R"({"dabs": [{"origin": [0, 0, 1], "direction": [0, 0, 0], "radius": 1}]})",
                "direction"},
            {R"({"dabs": [{"origin": [0, 1e39, 1], "direction": [0, 0, 1], "radius": 1}]})",
                "origin"},
            {"{" + dabs(R"(, "radius": 1}, )" + ray + R"(, "size": 1)") + "}", "dab 1"},
            {R"({"dabs": [], "press": )" + ray + R"(, "radius": 1}})", "press"}};
        for (const auto &[json, result] : rows) {
            StrokeScript s;
            QString got;
            const bool parsed = StrokeScript::parse(json, s, &got);
            if (parsed)
                got = QString::asprintf("%d %d %zu %d %g", s.tool, s.topology, s.dabs.size(),
                    int(s.symmetry), double(s.intensity));
            QVERIFY2(parsed == result.front().isDigit() && got.contains(result), qPrintable(got));
        }
    }

    void everyToolAndMode_data()
    {
        QTest::addColumn<int>("tool");
        QTest::addColumn<int>("topology");
        for (int tool : {INFLATE, DEFLATE, SMOOTH, FLATTEN, SWEEP, CREASE})
            for (int mode = DECIMATION; mode <= STATIC; ++mode)
                QTest::addRow("tool %d mode %d", tool, mode) << tool << mode;
    }
    // A sphere masked fully on x < 0 and half on x >= 0, a stroke across the boundary (mirrored
    // too when the topology changes): no fully masked vertex moves or disappears, the mesh stays
    // sound, and the stroke is one history state, undone and redone bit for bit. One static dab
    // moves each half-masked vertex by half of what it moves without a mask.
    void everyToolAndMode()
    {
        QFETCH(int, tool);
        QFETCH(int, topology);
        auto mesh = makeIcosphere(3);
        const float r = mesh->getVertex(0).position.length();
        for (Vertex &v : mesh->getVertices())
            v.mask = v.position.x() < 0.0f ? 1.0f : 0.5f;
        const MeshSnapshot original = snapshot(*mesh);
        const auto kept = sortedVertices(*mesh, 1.0f);
        const bool still = topology == STATIC;
        StrokeScript s =
            stroke(tool, topology, -0.4f * r, 0.4f * r, still ? 1 : 8, 0.05f * r, 0.45f * r);
        s.symmetry = !still;
        QCOMPARE(replayStroke(*mesh, s).applications,
            int(s.dabs.size()) * (s.symmetry && tool != SWEEP ? 2 : 1));
        QVERIFY(sortedVertices(*mesh, 1.0f) == kept);
        VERIFY_SOUND(*mesh, true);
        QCOMPARE(int(mesh->getUndoStates().size()), 1);
        const MeshSnapshot sculpted = snapshot(*mesh);
        for (const char step : QByteArray("uru")) {
            step == 'u' ? mesh->undo() : mesh->redo();
            VERIFY_SAME(step == 'u' ? original : sculpted, *mesh);
            VERIFY_MESH(*mesh);
        }
        if (!still)
            return;
        // Without the mask: inflate raises, deflate lowers, sweep moves along the drag (+x); every
        // tool moves only vertices in the brush (about the dab's hit, or the press's for sweep),
        // and inflate and deflate all those well inside it.
        auto free = makeIcosphere(3);
        replayStroke(*free, s);
        const QVector3D hit(0, 0.05f * r, std::sqrt(0.9975f) * r);
        int moved = 0;
        for (const Vertex &v : original.vertices) {
            const QVector3D full = free->getVertex(v.id).position - v.position;
            const QVector3D got = sculpted.vertices[v.id].position - v.position;
            QVERIFY((got - full * (1.0f - v.mask)).length() <= 1e-4f * r);
            const float d = (v.position - hit).length() / (0.45f * r);
            const float out = QVector3D::dotProduct(full, v.position) * (tool == DEFLATE ? -1 : 1);
            moved += !full.isNull();
            QVERIFY(full.isNull() ? d > 0.9f || (tool != INFLATE && tool != DEFLATE) : d < 1.3f);
            QVERIFY((out >= 0.0f || (tool != INFLATE && tool != DEFLATE))
                && (tool != SWEEP || (full.x() >= 0.0f && full.y() == 0.0f && full.z() == 0.0f)));
        }
        QVERIFY(moved > 20);
    }

    void pickedStep_data()
    {
        QTest::addColumn<int>("tool");
        QTest::addColumn<bool>("culling");
        for (int tool : {INFLATE, DEFLATE, SWEEP})
            for (bool culling : {false, true})
                QTest::addRow("tool %d culling %d", tool, int(culling)) << tool << culling;
    }
    // Inflate, deflate and sweep without topology changes deform their vertices while the
    // picking gathers them, piece by piece, the triangles of each piece updated on a second
    // thread when there is one: dabs over many pieces on a half-masked sphere leave the same
    // bits as the same dabs made whole after the pick, with one thread or several, and so does
    // their undo. The stroke outgrows the history's budget: the earlier state goes.
    void pickedStep()
    {
        QFETCH(int, tool);
        QFETCH(bool, culling);
        std::unique_ptr<Mesh> meshes[3] = {makeIcosphere(6), makeIcosphere(6), makeIcosphere(6)};
        const MeshSnapshot original = snapshot(*meshes[0]);
        const float r = meshes[0]->getVertex(0).position.length();
        const float r2 = 1.2f * r * r;
        const int threads = omp_get_max_threads();
        const auto restore = qScopeGuard([threads] { omp_set_num_threads(threads); });
        for (int pieces = 0; pieces < 3; ++pieces) {
            omp_set_num_threads(pieces == 2 ? 4 : 1);
            Mesh &mesh = *meshes[pieces];
            for (Vertex &v : mesh.getVertices())
                v.mask = v.position.x() < 0.0f ? 0.5f : 0.0f;
            Sculptor sculptor;
            sculptor.setTool(tool);
            sculptor.setTopoMode(STATIC);
            sculptor.setCulling(culling);
            sculptor.setSweepDir(QVector3D(1, 0, 0));
            sculptor.setMesh(&mesh);
            Picking picking;
            mesh.newState();
            mesh.pushState(allTriangles(mesh), {});
            mesh.setHistoryBudget(mesh.getHistoryBytes() + 1000);
            mesh.newState();
            for (int dab = 0; dab < 3; ++dab) {
                const QVector3D near(0.15f * float(dab - 1) * r, 0.1f * r, 3 * r);
                const QVector3D far(near.x(), near.y(), -3 * r);
                QVERIFY(picking.intersectRay(&mesh, near, far));
                picking.setRadiusWorldSquared(r2);
                sculptor.setSweepCenter(picking.getIntersectionPoint());
                if (pieces) {
                    Stroke::sculptDab(mesh, picking, sculptor, near, far, false);
                    continue;
                }
                picking.pickVerticesInSphere(r2);
                QVERIFY(picking.getPickedTriangles().size() >= trianglesBesideMinimum);
                sculptor.sculpt(picking.getPickedVertices(), picking.getIntersectionPoint(), r2,
                    QVector3D(0, 0, -1), &picking.getPickedTriangles(),
                    &picking.getPickedCorners());
            }
        }
        for (int pieces : {1, 2}) {
            VERIFY_SAME(snapshot(*meshes[0]), *meshes[pieces]);
            VERIFY_MESH(*meshes[pieces]);
        }
        for (auto &mesh : meshes) {
            QCOMPARE(int(mesh->getUndoStates().size()), 1);
            mesh->undo();
            VERIFY_SAME(original, *mesh);
        }
    }

    // A symmetric stroke leaves the sphere mirror-symmetric across x = 0, both halves moved. Off
    // the plane the halves do not overlap; on it a dab applies twice at the same place (with
    // several dabs there each half would see the other's work in turn, which is not symmetric).
    void symmetry()
    {
        for (const auto &[tool, x, count] : {std::tuple {INFLATE, 40.0f, 3}, {FLATTEN, 40.0f, 3},
                 {CREASE, 40.0f, 3}, {DEFLATE, 0.0f, 1}}) {
            auto mesh = makeIcosphere(4);
            const std::vector<QVector3D> start = positions(*mesh);
            StrokeScript s = stroke(tool, STATIC, x, x + 6.0f * (count - 1), count, 0, 30);
            s.symmetry = true;
            s.intensity = 1.0f;
            QCOMPARE(replayStroke(*mesh, s).applications, 2 * count);
            bool moved[2] = {false, false};
            for (std::size_t i = 0; i < start.size(); ++i) {
                const auto partner =
                    std::find(start.begin(), start.end(), Stroke::mirror(start[i]));
                QVERIFY(partner != start.end());
                const QVector3D &p = mesh->getVertex(int(i)).position;
                const QVector3D &q = mesh->getVertex(int(partner - start.begin())).position;
                QVERIFY2((p - Stroke::mirror(q)).length() <= 1e-3f, qPrintable(QString::number(i)));
                moved[start[i].x() < 0.0f] |= p != start[i];
            }
            QVERIFY(moved[0] && moved[1]);
        }
    }

    void brushSteps_data()
    {
        QTest::addColumn<int>("tool"); // -1: smoothFlat, -2: smoothNoLimit within tangent planes
        QTest::addColumn<int>("topology");
        for (int tool : {+INFLATE, +SMOOTH, +FLATTEN, +SWEEP, -1, -2})
            for (int mode : {UNIFORMISATION, ADAPTIVE})
                QTest::addRow("tool %d mode %d", tool, mode) << tool << mode;
    }
    // One step of a tool over the whole of a grid with bumps up and down. Flatten pulls the
    // vertices on both sides of the area's plane closer along its normal, without overshooting;
    // the smoothings without a limit move them within their tangent planes; in the adaptive mode no
    // vertex moves further than the move limit (flatten: pulling from above), a bound that binds.
    void brushSteps()
    {
        QFETCH(int, tool);
        QFETCH(int, topology);
        auto mesh = makeGrid(8);
        const float unit = mesh->getVertex(1).position.x() - mesh->getVertex(0).position.x();
        std::vector<int> list;
        for (int k = 10; k < 71; ++k)
            if (k % 9 != 0 && k % 9 != 8) {
                list.push_back(k);
                mesh->getVertex(k).position.setZ((k % 2 ? 2.0f : -2.0f) * unit);
            }
        mesh->updateMesh(allTriangles(*mesh), allVertices(*mesh));
        const std::vector<QVector3D> start = positions(*mesh);
        const float r2 = 64.0f * unit * unit;
        Sculptor sculptor;
        sculptor.setMesh(mesh.get());
        sculptor.setTopoMode(topology);
        sculptor.setSweepCenter(start[40]);
        sculptor.setSweepDir(QVector3D(0, 1, 0));
        std::vector<int> none; // places the brush and its thresholds, moving nothing
        const QVector3D centre = start[40] + QVector3D(0.31f, 0.17f, 0.05f) * unit;
        sculptor.sculpt(none, centre, r2, QVector3D(0, 0, -1));
        const QVector3D normal = sculptor.areaNormal(list), plane = sculptor.areaCenter(list);
        tool == INFLATE       ? sculptor.inflate(list, r2, 1.0f)
            : tool == SMOOTH  ? sculptor.smooth(list, 1.0f)
            : tool == FLATTEN ? sculptor.flatten(list, r2, 1.0f)
            : tool == SWEEP   ? sculptor.sweep(list, r2, 1.0f)
            : tool == -1      ? sculptor.smoothFlat(list, 1.0f)
                              : sculptor.smoothNoLimit(list, true);
        const float limit = std::sqrt(sculptor.getD2Move());
        float largest = 0.0f;
        for (int k : list) {
            const Vertex &v = mesh->getVertex(k);
            // The falloffs, four at a time (the list's length is odd), are bit for bit those of
            // one vertex alone.
            const float r = std::sqrt(r2), f = Sculptor::falloff((start[k] - centre).length() / r);
            QVERIFY(tool != INFLATE || topology == ADAPTIVE
                || v.position == start[k] + (v.normal * (r * 0.1f)) * f);
            const QVector3D m = v.position - start[k];
            const float h0 = start[k].distanceToPlane(plane, normal);
            const float h1 = v.position.distanceToPlane(plane, normal);
            QVERIFY(tool != FLATTEN
                || (std::abs(h1) < std::abs(h0) && h1 * h0 >= 0.0f
                    && QVector3D::crossProduct(m, normal).length() <= 1e-4f * unit));
            QVERIFY(tool >= 0 || std::abs(QVector3D::dotProduct(m, v.normal)) <= 1e-4f * unit);
            largest = std::max(largest, tool == FLATTEN && h0 < 0.0f ? 0.0f : m.length());
        }
        QVERIFY(topology != ADAPTIVE || tool < 0
            || (largest <= limit * 1.0001f && (tool == FLATTEN || largest >= limit * 0.9f)));
        QVERIFY(largest > 0.1f * unit);
    }

    // An empty selection, a flatten whose normals cancel out, a vertex without triangles under
    // every smoothing, clearing no mask, or no mesh at all: nothing changes.
    void nothingChanges()
    {
        auto mesh = meshFromArrays({{1, 1, 1}, {1, -1, -1}, {-1, 1, -1}, {-1, -1, 1}, {3, 3, 3}},
            {{0, 1, 2}, {0, 3, 1}, {0, 2, 3}, {1, 3, 2}});
        const MeshSnapshot before = snapshot(*mesh);
        QVERIFY(!MaskEdit::clear(*mesh)); // no mask to clear
        Sculptor sculptor, alone;
        sculptor.setMesh(mesh.get());
        std::vector<int> none, tetrahedron = {0, 1, 2, 3}, list = {0, 1, 2};
        for (int tool = INFLATE; tool <= CREASE; ++tool) {
            sculptor.setTool(tool);
            mesh->newState();
            sculptor.sculpt(none, QVector3D(1, 2, 3), 100.0f, QVector3D(0, 0, -1));
        }
        QVERIFY(none.empty() && sculptor.areaNormal(tetrahedron).isNull());
        sculptor.flatten(tetrahedron, 1e6f, 1.0f);
        sculptor.smooth({4}, 1.0f);
        sculptor.smoothFlat({4}, 1.0f);
        sculptor.smoothNoLimit({4}, false);
        VERIFY_SAME(before, *mesh);
        alone.sculpt(list, QVector3D(), 1.0f, QVector3D(0, 0, -1));
        alone.inflate(list, 1.0f, 1.0f);
        alone.smooth(list, 1.0f);
        alone.flatten(list, 1.0f, 1.0f);
        alone.sweep(list, 1.0f, 1.0f);
        QVERIFY(alone.areaNormal(list).isNull() && alone.areaCenter(list).isNull());
        QCOMPARE(list, (std::vector<int> {0, 1, 2}));
    }
};

QTEST_GUILESS_MAIN(TestSculpt)
#include "tst_sculpt.moc"
