// The brush: stroke scripts as read; every tool in every topology mode keeping masked vertices
// and making one history state, undone and redone bit for bit, and what each tool does under the
// brush; symmetry; the crease's valley; the mask's history; and the sculptor's own steps
// (smoothing, flatten, the adaptive move limit, culling, a whole step, empty input).

#include "MeshAsserts.h"
#include "TestMeshes.h"
#include "geometry/Picking.h"
#include "sculpt/MaskEdit.h"
#include "sculpt/Sculptor.h"
#include "sculpt/Stroke.h"
#include "sculpt/StrokeScript.h"

#include <QtTest>

#include <cmath>

using namespace TestMeshes;

namespace {

// Dabs going straight down (-z) through (x, y) for each x, the press a quarter radius before the
// first.
StrokeScript stroke(int tool, int topology, const std::vector<float> &xs, float y, float radius)
{
    StrokeScript s;
    s.tool = tool;
    s.topology = topology;
    const auto ray = [y](float x) {
        return StrokeScript::Ray {QVector3D(x, y, 1000), QVector3D(0, 0, -1)};
    };
    s.hasPress = true;
    s.press = ray(xs.front() - 0.25f * radius);
    for (float x : xs)
        s.dabs.push_back({ray(x), radius});
    return s;
}

// n values evenly spaced from a to b; one value: halfway.
std::vector<float> spaced(float a, float b, int n)
{
    std::vector<float> xs;
    xs.reserve(n);
    for (int k = 0; k < n; ++k)
        xs.push_back(n > 1 ? a + (b - a) * float(k) / float(n - 1) : 0.5f * (a + b));
    return xs;
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

// Moves every vertex by a small pseudo-random amount (a fixed sequence) and updates the mesh.
void roughen(Mesh &mesh, float amount)
{
    unsigned state = 12345u;
    auto next = [&state]() {
        state = state * 1664525u + 1013904223u;
        return float(state >> 8) / float(1u << 24) * 2.0f - 1.0f;
    };
    for (Vertex &v : mesh.getVertices())
        v.position += QVector3D(next(), next(), next()) * amount;
    mesh.updateMesh(allTriangles(mesh), allVertices(mesh));
}

float largestMove(const Mesh &mesh, const std::vector<QVector3D> &start)
{
    float largest = 0.0f;
    for (std::size_t i = 0; i < start.size(); ++i)
        largest = std::max(largest, (mesh.getVertex(int(i)).position - start[i]).length());
    return largest;
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
            QString error;
            const bool parsed = StrokeScript::parse(json, s, &error);
            const QString got = !parsed ? error
                                        : QStringLiteral("%1 %2 %3 %4 %5")
                                              .arg(s.tool)
                                              .arg(s.topology)
                                              .arg(s.dabs.size())
                                              .arg(s.symmetry)
                                              .arg(s.intensity);
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
        StrokeScript s = stroke(
            tool, topology, spaced(-0.4f * r, 0.4f * r, still ? 1 : 8), 0.05f * r, 0.45f * r);
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
            const float out = QVector3D::dotProduct(full, v.position);
            moved += !full.isNull();
            QVERIFY(full.isNull() ? d > 0.9f || (tool != INFLATE && tool != DEFLATE) : d < 1.3f);
            QVERIFY(tool == INFLATE ? out >= 0.0f : tool == DEFLATE ? out <= 0.0f : true);
            QVERIFY(tool != SWEEP || (full.x() >= 0.0f && full.y() == 0.0f && full.z() == 0.0f));
        }
        QVERIFY(moved > 20);
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
            StrokeScript s = stroke(tool, STATIC, spaced(x, x + 6.0f * (count - 1), count), 0, 30);
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

    // A mask stroke and Invert/Clear mask are undo steps that restore the mask values exactly
    // (the positions, never moved by painting, are compared with them).
    void maskHistory()
    {
        auto mesh = makeIcosphere(3);
        const float r = mesh->getVertex(0).position.length();
        const auto none = sortedVertices(*mesh, 0.0f);
        QVERIFY(!MaskEdit::clear(*mesh) && mesh->getUndoStates().empty()); // nothing to clear
        replayStroke(
            *mesh, stroke(MASK, UNIFORMISATION, spaced(-0.3f * r, 0.3f * r, 6), 0, 0.5f * r));
        const auto painted = sortedVertices(*mesh, 0.0f);
        QVERIFY(!sortedVertices(*mesh, 1.0f).empty());
        QVERIFY(MaskEdit::invert(*mesh));
        const auto inverted = sortedVertices(*mesh, 0.0f);
        QCOMPARE(inverted[0][3], 1.0f - painted[0][3]);
        QVERIFY(MaskEdit::clear(*mesh) && sortedVertices(*mesh, 0.0f) == none);
        for (const auto *expected : {&inverted, &painted, &none}) {
            mesh->undo();
            QVERIFY(sortedVertices(*mesh, 0.0f) == *expected);
        }
        mesh->redo();
        mesh->redo();
        QVERIFY(sortedVertices(*mesh, 0.0f) == inverted);
        // A stroke beside the sphere changes nothing, though its press opened a history state.
        const MeshSnapshot before = snapshot(*mesh);
        QCOMPARE(replayStroke(*mesh, stroke(INFLATE, UNIFORMISATION, {400, 500}, 0, r)).hits, 0);
        QVERIFY(mesh->getUndoStates().size() == 3 && mesh->getRedoStates().empty());
        mesh->undo();
        VERIFY_SAME(before, *mesh);
    }

    // A straight crease across a flat grid leaves a valley narrower than deflate's (at half its
    // depth), mirror-symmetric about the stroke's line; with the invert key a ridge.
    void creaseValley()
    {
        const int n = 40;
        float width[2] = {0.0f, 0.0f};
        for (int tool : {+DEFLATE, +CREASE, -CREASE}) {
            auto mesh = makeGrid(n);
            const float s = mesh->getVertex(1).position.x() - mesh->getVertex(0).position.x();
            const float y0 = s * n / 2;
            StrokeScript line =
                stroke(std::abs(tool), STATIC, spaced(10 * s, 30 * s, 20), y0, 4.5f * s);
            line.invert = tool < 0;
            replayStroke(*mesh, line);
            float deepest = 0.0f;
            for (const Vertex &v : mesh->getVertices())
                deepest = std::max(deepest, line.invert ? v.position.z() : -v.position.z());
            QVERIFY(deepest > 0.2f * s);
            for (const Vertex &v : mesh->getVertices())
                if (!line.invert && -v.position.z() > 0.5f * deepest)
                    width[tool == CREASE] =
                        std::max(width[tool == CREASE], std::abs(v.position.y() - y0));
            for (int k = 0; tool == CREASE && k < (n + 1) * (n + 1); ++k) {
                const QVector3D p = mesh->getVertex(k).position;
                const QVector3D q =
                    mesh->getVertex((n - k / (n + 1)) * (n + 1) + k % (n + 1)).position;
                QVERIFY((QVector3D(p.x(), 2 * y0 - p.y(), p.z()) - q).length() < 5e-3f * s);
            }
        }
        QVERIFY(width[1] > 0.0f && width[1] < 0.7f * width[0]);
    }

    // The smoothings leave a flat grid flat, inside and along a straight border (next to a corner
    // the diagonal of the last quad gives a third border neighbour, so those are left out), and
    // a vertex without triangles where it is; smoothFlat moves a rough sphere's vertices within
    // their tangent planes.
    void smoothing()
    {
        const int n = 8;
        auto grid = makeGrid(n);
        std::vector<int> list;
        for (int k = 0; k < (n + 1) * (n + 1); ++k)
            if (std::abs(k % (n + 1) - n / 2) < n / 2 - 1
                || std::abs(k / (n + 1) - n / 2) < n / 2 - 1)
                list.push_back(k);
        const std::vector<QVector3D> flat = positions(*grid);
        Sculptor sculptor;
        sculptor.setMesh(grid.get());
        sculptor.smooth(list, 1.0f);
        sculptor.smoothFlat(list, 1.0f);
        sculptor.smoothNoLimit(list, true);
        QVERIFY(largestMove(*grid, flat) <= 1e-3f);
        auto loose = meshFromArrays({{1, 1, 1}, {1, -1, -1}, {-1, 1, -1}, {-1, -1, 1}, {3, 3, 3}},
            {{0, 1, 2}, {0, 3, 1}, {0, 2, 3}, {1, 3, 2}});
        const QVector3D alone = loose->getVertex(4).position;
        sculptor.setMesh(loose.get());
        sculptor.smooth({4}, 1.0f);
        sculptor.smoothFlat({4}, 1.0f);
        sculptor.smoothNoLimit({4}, false);
        QCOMPARE(loose->getVertex(4).position, alone);
        auto mesh = makeIcosphere(2);
        roughen(*mesh, 4.0f);
        const std::vector<QVector3D> start = positions(*mesh);
        sculptor.setMesh(mesh.get());
        sculptor.smoothFlat(allVertices(*mesh), 1.0f);
        for (const Vertex &v : mesh->getVertices())
            QVERIFY(std::abs(QVector3D::dotProduct(v.position - start[v.id], v.normal)) <= 1e-3f);
        QVERIFY(largestMove(*mesh, start) > 0.1f);
    }

    // Flatten pulls the vertices on both sides of the area's plane closer along its normal,
    // without overshooting; in the adaptive mode the move limit holds for the pull from above
    // only.
    void flattenPullsBothSides()
    {
        for (const int topoMode : {UNIFORMISATION, ADAPTIVE}) {
            auto mesh = makeGrid(8);
            const float unit = mesh->getVertex(1).position.x() - mesh->getVertex(0).position.x();
            std::vector<int> list;
            for (int j = 1; j < 8; ++j)
                for (int i = 1; i < 8; ++i) {
                    list.push_back(j * 9 + i);
                    mesh->getVertex(list.back()).position.setZ(((i + j) % 2 ? 2.0f : -2.0f) * unit);
                }
            mesh->updateMesh(allTriangles(*mesh), allVertices(*mesh));
            const float r2 = std::pow(8 * unit, 2.0f);
            Sculptor sculptor;
            sculptor.setMesh(mesh.get());
            sculptor.setTopoMode(topoMode);
            std::vector<int> none;
            sculptor.sculpt(none, mesh->getVertex(4 * 9 + 4).position, r2, QVector3D(0, 0, -1));
            const QVector3D normal = sculptor.areaNormal(list), plane = sculptor.areaCenter(list);
            QVERIFY(normal.z() > 0.99f);
            const std::vector<QVector3D> start = positions(*mesh);
            sculptor.flatten(list, r2, 1.0f);
            const float limit = std::sqrt(sculptor.getD2Move());
            bool belowBeyondLimit = false;
            for (int index : list) {
                const float h0 = start[index].distanceToPlane(plane, normal);
                const QVector3D p = mesh->getVertex(index).position, m = p - start[index];
                const float h1 = p.distanceToPlane(plane, normal);
                QVERIFY(std::abs(h1) < std::abs(h0) && h1 * h0 >= 0.0f);
                QVERIFY(QVector3D::crossProduct(m, normal).length() <= 1e-4f * unit);
                QVERIFY(topoMode != ADAPTIVE || h0 < 0.0f || m.length() <= limit * 1.0001f);
                belowBeyondLimit = belowBeyondLimit || (h0 < 0.0f && m.length() > limit * 1.01f);
            }
            QVERIFY(belowBeyondLimit);
        }
    }

    // In the adaptive mode no vertex moves further than the move limit in one step, a bound that
    // binds.
    void adaptiveMoveLimit()
    {
        for (const int tool : {INFLATE, SMOOTH, SWEEP}) {
            auto mesh = makeIcosphere(3);
            roughen(*mesh, 15.0f);
            const std::vector<QVector3D> start = positions(*mesh);
            const std::vector<int> list = allVertices(*mesh);
            const QVector3D c = mesh->getVertex(0).position;
            const float r2 = 4.0f * c.lengthSquared();
            Sculptor sculptor;
            sculptor.setMesh(mesh.get());
            sculptor.setTopoMode(ADAPTIVE);
            sculptor.setSweepCenter(c);
            sculptor.setSweepDir(QVector3D(0, 1, 0));
            std::vector<int> none; // places the brush and its thresholds, moving nothing
            sculptor.sculpt(none, c, r2, QVector3D(0, 0, -1));
            const float limit = std::sqrt(sculptor.getD2Move());
            tool == SMOOTH      ? sculptor.smooth(list, 1.0f)
                : tool == SWEEP ? sculptor.sweep(list, r2, 1.0f)
                                : sculptor.inflate(list, r2, 1.0f);
            const float largest = largestMove(*mesh, start);
            QVERIFY2(largest <= limit * 1.0001f && largest >= limit * 0.9f,
                qPrintable(QStringLiteral("%1, %2, %3").arg(tool).arg(largest).arg(limit)));
        }
    }

    // A whole step about a point on the sphere's rim as seen along -z: counts kept (static), the
    // picked vertices rise (with culling only those facing the eye), the rest stay, and the list
    // comes back widened to every vertex of the triangles around the picked ones.
    void step()
    {
        for (const bool culling : {false, true}) {
            auto mesh = makeIcosphere(3);
            const MeshSnapshot start = snapshot(*mesh);
            const QVector3D eye(0, 0, -1), rim = mesh->getVertex(0).position; // z = 0
            Picking picking;
            QVERIFY(picking.intersectRay(mesh.get(), rim * 2.0f, QVector3D(0, 0, 0)));
            const float r2 = rim.lengthSquared() * 0.04f;
            picking.pickVerticesInSphere(r2);
            std::vector<int> picked = picking.getPickedVertices();
            std::vector<int> around =
                mesh->getVerticesFromTriangles(mesh->getTrianglesFromVertices(picked));
            Sculptor sculptor;
            sculptor.setMesh(mesh.get());
            sculptor.setTopoMode(STATIC);
            sculptor.setCulling(culling);
            mesh->newState();
            sculptor.sculpt(picking.getPickedVertices(), picking.getIntersectionPoint(), r2, eye);
            QCOMPARE(mesh->getNbVertices(), int(start.vertices.size()));
            std::vector<int> result = picking.getPickedVertices();
            std::sort(result.begin(), result.end());
            std::sort(around.begin(), around.end());
            QCOMPARE(result, around);
            std::sort(picked.begin(), picked.end());
            int front = 0;
            for (int i = 0; i < mesh->getNbVertices(); ++i) {
                const Vertex &before = start.vertices[i];
                const bool facing = QVector3D::dotProduct(eye, before.normal) <= 0.0f;
                const bool moves =
                    std::binary_search(picked.begin(), picked.end(), i) && (facing || !culling);
                front += moves && facing;
                const float length = mesh->getVertex(i).position.length();
                QVERIFY(moves ? length > before.position.length()
                              : mesh->getVertex(i).position == before.position);
            }
            QVERIFY(front > 0 && front < int(picked.size()));
            VERIFY_MESH(*mesh);
        }
    }

    // An empty selection, a flatten whose normals cancel out, or no mesh at all: nothing moves.
    void nothingChanges()
    {
        auto mesh = makeTetrahedron();
        const MeshSnapshot before = snapshot(*mesh);
        Sculptor sculptor;
        sculptor.setMesh(mesh.get());
        for (int tool = INFLATE; tool <= CREASE; ++tool) {
            sculptor.setTool(tool);
            std::vector<int> none;
            mesh->newState();
            sculptor.sculpt(none, QVector3D(1, 2, 3), 100.0f, QVector3D(0, 0, -1));
            QVERIFY(none.empty());
        }
        QVERIFY(sculptor.areaNormal(allVertices(*mesh)).isNull());
        sculptor.flatten(allVertices(*mesh), 1e6f, 1.0f);
        VERIFY_SAME(before, *mesh);
        Sculptor alone;
        std::vector<int> list = {0, 1, 2};
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
