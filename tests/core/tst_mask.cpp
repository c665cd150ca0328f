#include "MeshAsserts.h"
#include "TestMeshes.h"
#include "sculpt/MaskEdit.h"
#include "sculpt/Sculptor.h"
#include "sculpt/StrokeScript.h"

#include <QtTest>

#include <algorithm>
#include <tuple>

using namespace TestMeshes;

namespace {

// Rays going down through (x0, y, 0) .. (x1, y, 0) (one dab: halfway), slightly tilted so that
// they meet no octree cell face edge-on; the press a quarter radius before the first dab.
StrokeScript lineStroke(int tool, int topology, float x0, float x1, float y, float radius, int dabs)
{
    StrokeScript s {tool, topology};
    s.hasPress = true;
    const QVector3D down(1e-4f, 2e-4f, -1.0f);
    const auto ray = [&](float x) {
        return StrokeScript::Ray {QVector3D(x, y, 0) - 1000 * down, down};
    };
    const float step = dabs > 1 ? (x1 - x0) / float(dabs - 1) : 0.0f;
    const float first = dabs > 1 ? x0 : 0.5f * (x0 + x1);
    s.press = ray(first - 0.25f * radius);
    for (int k = 0; k < dabs; ++k)
        s.dabs.push_back({ray(first + step * k), radius});
    return s;
}

// Positions and masks of the vertices masked at least `least`, sorted (the topology renumbers
// vertices).
std::vector<std::tuple<float, float, float, float>> sortedVertices(const Mesh &mesh, float least)
{
    std::vector<std::tuple<float, float, float, float>> out;
    for (const Vertex &v : mesh.getVertices()) {
        if (v.mask >= least)
            out.emplace_back(v.position.x(), v.position.y(), v.position.z(), v.mask);
    }
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

class TestMask : public QObject
{
    Q_OBJECT

private slots:
    void brushRespectsMask_data();
    void brushRespectsMask();
    void maskHistory();
    void creaseValley();
};

void TestMask::brushRespectsMask_data()
{
    QTest::addColumn<int>("tool");
    QTest::addColumn<int>("topology");
    for (int tool : {INFLATE, DEFLATE, SMOOTH, FLATTEN, SWEEP, CREASE})
        for (int mode = DECIMATION; mode <= STATIC; ++mode)
            QTest::addRow("tool %d mode %d", tool, mode) << tool << mode;
}

// A sphere masked fully on x < 0 and half on x >= 0, a stroke across the boundary: no fully masked
// vertex moves or disappears, whatever the tool and the topology do to the rest; one static dab
// moves each half-masked vertex by half of what it moves without a mask.
void TestMask::brushRespectsMask()
{
    QFETCH(int, tool);
    QFETCH(int, topology);
    auto mesh = makeIcosphere(3);
    const float r = mesh->getVertex(0).position.length();
    for (Vertex &v : mesh->getVertices())
        v.mask = v.position.x() < 0.0f ? 1.0f : 0.5f;
    const auto kept = sortedVertices(*mesh, 1.0f);
    const std::vector<QVector3D> start = positions(*mesh);
    const int dabs = topology == STATIC ? 1 : 8;
    const StrokeScript s =
        lineStroke(tool, topology, -0.4f * r, 0.4f * r, 0.05f * r, 0.45f * r, dabs);
    replayStroke(*mesh, s);
    QVERIFY(sortedVertices(*mesh, 1.0f) == kept);
    VERIFY_MESH(*mesh);
    if (topology != STATIC)
        return;
    auto free = makeIcosphere(3);
    replayStroke(*free, s);
    float largest = 0.0f;
    for (std::size_t i = 0; i < start.size(); ++i) {
        const QVector3D full = free->getVertex(int(i)).position - start[i];
        const QVector3D expected = full * (1.0f - mesh->getVertex(int(i)).mask);
        largest = std::max(largest, full.length());
        QVERIFY((mesh->getVertex(int(i)).position - start[i] - expected).length() <= 1e-4f * r);
    }
    QVERIFY(largest > 1e-2f * r);
}

// A mask stroke and Invert/Clear mask are undo steps that restore the mask values exactly (the
// positions, never moved by painting, are compared with them).
void TestMask::maskHistory()
{
    auto mesh = makeIcosphere(3);
    const float r = mesh->getVertex(0).position.length();
    const auto none = sortedVertices(*mesh, 0.0f);
    QVERIFY(!MaskEdit::clear(*mesh) && mesh->getUndoStates().empty()); // nothing to clear: no step
    replayStroke(*mesh, lineStroke(MASK, UNIFORMISATION, -0.3f * r, 0.3f * r, 0.0f, 0.5f * r, 6));
    const auto painted = sortedVertices(*mesh, 0.0f);
    QVERIFY(!sortedVertices(*mesh, 1.0f).empty());
    QVERIFY(MaskEdit::invert(*mesh));
    const auto inverted = sortedVertices(*mesh, 0.0f);
    QCOMPARE(std::get<3>(inverted[0]), 1.0f - std::get<3>(painted[0]));
    QVERIFY(MaskEdit::clear(*mesh) && sortedVertices(*mesh, 0.0f) == none);
    for (const auto *expected : {&inverted, &painted, &none}) {
        mesh->undo();
        QVERIFY(sortedVertices(*mesh, 0.0f) == *expected);
    }
    mesh->redo();
    mesh->redo();
    QVERIFY(sortedVertices(*mesh, 0.0f) == inverted);
}

// A straight crease across a flat grid leaves a valley narrower than deflate's (at half its
// depth), mirror-symmetric about the stroke's line; with the invert key a ridge.
void TestMask::creaseValley()
{
    const int n = 40;
    float width[2] = {0.0f, 0.0f};
    for (int tool : {+DEFLATE, +CREASE, -CREASE}) {
        auto mesh = makeGrid(n);
        const float s = mesh->getVertex(1).position.x() - mesh->getVertex(0).position.x();
        const float y0 = s * n / 2;
        StrokeScript stroke = lineStroke(std::abs(tool), STATIC, 10 * s, 30 * s, y0, 4.5f * s, 20);
        stroke.invert = tool < 0;
        replayStroke(*mesh, stroke);
        float deepest = 0.0f;
        for (const Vertex &v : mesh->getVertices())
            deepest = std::max(deepest, stroke.invert ? v.position.z() : -v.position.z());
        QVERIFY(deepest > 0.2f * s);
        for (const Vertex &v : mesh->getVertices()) {
            if (!stroke.invert && -v.position.z() > 0.5f * deepest)
                width[tool == CREASE] =
                    std::max(width[tool == CREASE], std::abs(v.position.y() - y0));
        }
        for (int k = 0; tool == CREASE && k < (n + 1) * (n + 1); ++k) {
            const QVector3D p = mesh->getVertex(k).position;
            const QVector3D q = mesh->getVertex((n - k / (n + 1)) * (n + 1) + k % (n + 1)).position;
            QVERIFY((QVector3D(p.x(), 2 * y0 - p.y(), p.z()) - q).length() < 5e-3f * s);
        }
    }
    QVERIFY(width[1] > 0.0f && width[1] < 0.7f * width[0]);
}

QTEST_APPLESS_MAIN(TestMask)
#include "tst_mask.moc"
