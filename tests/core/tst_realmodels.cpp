// Random strokes on real models that nobody on the project made (gathered by scripts/corpus) and
// on small shapes that are not manifolds, in every topology mode, with the mesh check after every
// dab and the surface's faults never growing in number: edges of more than two triangles, border
// loops, repeated triangles, triangles with two equal corners; a closed manifold stays one.
//
// The same strokes on one mesh written in three units (1, 1e-4 and 1e4 times the same coordinates)
// give the same result up to the unit factor and float rounding.
//
// CI runs 3 strokes per model and mode (a model missing from the corpus is skipped, or fails with
// ARGILIUM_CORPUS_REQUIRED set, as scripts/test sets it). scripts/soak runs longer sessions:
// ARGILIUM_SOAK_STROKES=N [ARGILIUM_SOAK_SEED=S] tst_realmodels sessions.

#include "MeshAsserts.h"
#include "MeshBytes.h"
#include "TestIo.h"
#include "TestMeshes.h"
#include "io/Files.h"
#include "mesh/SurfaceReport.h"
#include "sculpt/Sculptor.h"
#include "sculpt/StrokeScript.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <omp.h>

#include <cfloat>
#include <cmath>
#include <numbers>
#include <random>

namespace {

// The spider's OBJ reads as the same surface as its STL (weld), so only the STL is sculpted.
const QStringList corpus = {"spider.stl", "wuson.stl", "max-export.stl", "sphere-with-hole.stl",
    "rock.3ds", "bunny.stl", "gearwheel.stl"};
const QStringList shapes = {
    "repeated triangle", "cubes on an edge", "three sheets on an edge", "cones on a vertex"};
const char *const modeNames[] = {"decimate", "subdivide", "uniform", "adaptive", "static"};

// The small shapes that are not manifolds, read from a binary STL so that their corners at equal
// positions are welded as the readers weld them.
std::unique_ptr<Mesh> makeShape(const QString &name)
{
    using namespace MeshBytes;
    const float pi = std::numbers::pi_v<float>;
    FacetList soup;
    if (name == "repeated triangle") {
        TestMeshes::IcosphereData data = TestMeshes::icosphereData(3);
        data.triangles.insert(data.triangles.end(), 2, data.triangles.front());
        soup = facetsOf(data.positions, data.triangles);
    } else if (name == "cubes on an edge") {
        for (const QVector3D shift : {QVector3D(0, 0, 0), QVector3D(1, 1, 0)})
            for (Facet f : facetsOf(cubePositions, cubeFaces))
                soup.push_back({f[0] + shift, f[1] + shift, f[2] + shift});
    } else if (name == "three sheets on an edge") {
        for (int k = 0; k < 27; ++k) { // sheet k / 9, quad k % 9
            const QVector3D d(std::cos(2 * pi * (k / 9) / 3), std::sin(2 * pi * (k / 9) / 3), 0);
            auto p = [&](int i, int j) { return d * (i / 3.0f) + QVector3D(0, 0, j / 3.0f); };
            const int i = k % 3, j = k / 3 % 3;
            soup.insert(soup.end(),
                {Facet {p(i, j), p(i + 1, j), p(i + 1, j + 1)},
                    Facet {p(i, j), p(i + 1, j + 1), p(i, j + 1)}});
        }
    } else { // two closed cones, apex to apex
        for (int k = 0; k < 24; ++k) {
            const float s = k < 12 ? 1.0f : -1.0f;
            auto r = [&](int j) {
                return QVector3D(0.5f * std::cos(pi * j / 6), 0.5f * std::sin(pi * j / 6), s);
            };
            const int i = k % 12, a = s > 0 ? i : i + 1, b = i + i + 1 - a;
            soup.insert(soup.end(),
                {Facet {QVector3D(), r(b), r(a)}, Facet {QVector3D(0, 0, s), r(a), r(b)}});
        }
    }
    return Files::loadBytes(Files::Kind::Stl, binarySTL(soup));
}

// Empty when the surface got no worse from `before` to `after`.
QString compareSurfaces(const SurfaceReport &before, const SurfaceReport &after)
{
    const std::pair<const char *, long SurfaceReport::*> counts[] = {
        {"edges of 3+ triangles", &SurfaceReport::nonManifoldEdges},
        {"border loops", &SurfaceReport::borderLoops},
        {"repeated", &SurfaceReport::repeatedTriangles},
        {"degenerate", &SurfaceReport::degenerateTriangles}};
    for (const auto &[name, count] : counts)
        if (after.*count > before.*count)
            return QStringLiteral("%1 %2 became %3").arg(name).arg(before.*count).arg(after.*count);
    if (before.closed() && before.manifold() && !(after.closed() && after.manifold()))
        return QStringLiteral("a closed manifold is no longer one");
    return {};
}

// Random strokes of 8 dabs in one topology mode, with the mesh check and the surface comparison
// after each stroke; empty, or where and how the first stroke failed.
QString runSession(Mesh &mesh, int mode, unsigned seed, int strokes)
{
    std::mt19937 engine(seed);
    auto uniform = [&](float a, float b) {
        return std::uniform_real_distribution<float>(a, b)(engine);
    };
    SurfaceReport surface = surfaceReport(mesh);
    for (int stroke = 0; stroke < strokes; ++stroke) {
        StrokeScript script;
        script.topology = mode;
        script.tool = static_cast<int>(engine() % 4); // inflate, deflate, smooth, flatten
        script.intensity = uniform(0.2f, 1.0f);
        script.detail = uniform(0.0f, 1.0f);
        script.symmetry = engine() % 4 == 0;
        const float radius = 500.0f * std::exp(uniform(std::log(0.01f), std::log(0.2f)));
        // Along the normal of a random triangle onto its centre, then sideways along the surface.
        const Triangle &start =
            mesh.getTriangle(static_cast<int>(engine() % mesh.getNbTriangles()));
        const std::vector<Vertex> &v = mesh.getVertices();
        QVector3D point =
            (v[start.vertex1].position + v[start.vertex2].position + v[start.vertex3].position) / 3;
        const QVector3D normal = start.normal.isNull() ? QVector3D(0, 0, 1) : start.normal;
        const QVector3D side =
            QVector3D::crossProduct(normal, QVector3D(0.3f, 0.5f, 0.8f)).normalized();
        for (int dab = 0; dab < 8; ++dab, point += side * radius * uniform(0.1f, 0.6f))
            script.dabs.push_back({{point + normal * 500.0f, -normal}, radius});
        replayStroke(mesh, script);
        const SurfaceReport after = surfaceReport(mesh);
        if (const QString problem = checkMesh(mesh) + compareSurfaces(surface, after);
            !problem.isEmpty())
            return QStringLiteral("seed %1, stroke %2: %3").arg(seed).arg(stroke).arg(problem);
        surface = after;
    }
    return {};
}

// A model of the corpus (in $ARGILIUM_CORPUS, by default where scripts/corpus puts it), or one of
// the shapes; null (with the test skipped, or failed under ARGILIUM_CORPUS_REQUIRED) when a corpus
// file is missing.
std::unique_ptr<Mesh> loadModel(const QString &name)
{
    if (shapes.contains(name))
        return makeShape(name);
    const QString cache = qEnvironmentVariable("XDG_CACHE_HOME", QDir::homePath() + "/.cache");
    const QString dir = qEnvironmentVariable("ARGILIUM_CORPUS", cache + "/argilium/corpus");
    QString error;
    std::unique_ptr<Mesh> mesh = Files::load(dir + '/' + name, {}, &error);
    if (!mesh && qEnvironmentVariableIsSet("ARGILIUM_CORPUS_REQUIRED"))
        QTest::qFail(qPrintable(error), __FILE__, __LINE__);
    else if (!mesh)
        QTest::qSkip(qPrintable(error + " (run scripts/corpus)"), __FILE__, __LINE__);
    return mesh;
}

} // namespace

class TestRealModels : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { omp_set_num_threads(1); } // a failing seed replays exactly
    void sessions_data();
    void sessions();
    void reportedStroke();
    void weld();
    void sameStrokeAtEveryScale_data();
    void sameStrokeAtEveryScale();
};

void TestRealModels::sessions_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("mode");
    for (const QString &model : corpus + shapes)
        for (int mode = DECIMATION; mode <= STATIC; ++mode)
            QTest::addRow("%s, %s", qPrintable(model), modeNames[mode]) << model << mode;
}

void TestRealModels::sessions()
{
    QFETCH(QString, model);
    QFETCH(int, mode);
    if (std::unique_ptr<Mesh> mesh = loadModel(model)) {
        const int strokes = qEnvironmentVariableIntValue("ARGILIUM_SOAK_STROKES");
        const unsigned seed = qEnvironmentVariableIntValue("ARGILIUM_SOAK_SEED");
        const QString failure = runSession(*mesh, mode, seed ? seed : 1, strokes ? strokes : 3);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }
}

// The stroke that broke the spider: 60 inflate dabs from four sides towards the centre, with the
// brush radius 12% of half the diagonal, in the uniform and adaptive modes at two details.
void TestRealModels::reportedStroke()
{
    for (const auto &[mode, detail] : {std::pair {UNIFORMISATION, 0.3f}, {ADAPTIVE, 0.3f},
             {UNIFORMISATION, 1.0f}, {ADAPTIVE, 1.0f}}) {
        std::unique_ptr<Mesh> mesh = loadModel("spider.stl");
        if (!mesh)
            return;
        const SurfaceReport before = surfaceReport(*mesh);
        StrokeScript script;
        script.topology = mode;
        script.detail = detail;
        const QVector3D sides[] = {{1, 0, 0}, {0, 0, 1}, {-1, 0, 0}, {0, 1, 0}};
        for (int i = 0; i < 60; ++i) {
            const QVector3D &d = sides[i / 15];
            const float offset = -60.0f + 120.0f * (i % 15) / 14.0f;
            const QVector3D origin = d * 500.0f + QVector3D(d.y() + d.z(), d.x(), 0.3f) * offset;
            script.dabs.push_back({{origin, -d}, 30.0f});
        }
        replayStroke(*mesh, script);
        VERIFY_MESH(*mesh);
        const QString problem = compareSurfaces(before, surfaceReport(*mesh));
        QVERIFY2(problem.isEmpty(), qPrintable(QString("%1 %2: ").arg(mode).arg(detail) + problem));
    }
}

// Every reader welds exactly equal positions (-0 equal to 0): a cube split in two halves that
// name their own copies of the corners (in OBJ; in 3DS, as two objects) reads as 8 vertices of a
// closed surface, and the spider's OBJ, which its exporter split along texture seams, as the
// binary STL of the same spider, border for border.
void TestRealModels::weld()
{
    using namespace MeshBytes;
    PositionList twice = cubePositions; // the second half of the faces names copies, -0 for 0
    for (const QVector3D &p : cubePositions)
        twice.push_back({p.x() ? p.x() : -0.0f, p.y() ? p.y() : -0.0f, p.z() ? p.z() : -0.0f});
    FaceList faces = cubeFaces;
    for (std::size_t i = 6; i < faces.size(); ++i)
        faces[i] = {faces[i][0] + 8, faces[i][1] + 8, faces[i][2] + 8};
    const FaceList firstHalf(cubeFaces.begin(), cubeFaces.begin() + 6),
        secondHalf(cubeFaces.begin() + 6, cubeFaces.end());
    for (const auto &[kind, bytes] : {std::pair {Files::Kind::Obj, objText(twice, faces)},
             {Files::Kind::ThreeDs,
                 file3DS(object3DS("A", vertexList(cubePositions) + faceList(firstHalf))
                     + object3DS("B", vertexList(cubePositions) + faceList(secondHalf)))}}) {
        QString error;
        std::unique_ptr<Mesh> mesh = Files::loadBytes(kind, bytes, {}, &error);
        QVERIFY2(mesh, qPrintable(error));
        VERIFY_MESH(*mesh);
        QCOMPARE(mesh->getNbVertices(), 8);
        QVERIFY(surfaceReport(*mesh).closed() && surfaceReport(*mesh).manifold());
    }
    std::unique_ptr<Mesh> obj = loadModel("spider.obj"),
                          stl = obj ? loadModel("spider.stl") : nullptr;
    if (!stl)
        return;
    VERIFY_MESH(*obj);
    QCOMPARE(obj->getNbVertices(), 722);
    const SurfaceReport surface = surfaceReport(*obj), expected = surfaceReport(*stl);
    QCOMPARE(surface.borderEdges, expected.borderEdges);
    QCOMPARE(surface.borderLoops, expected.borderLoops);
}

// Triangle normals come from the scaled corners (a reader's, in file units, were null for small
// triangles), and the saved file's normals are of unit length along the corners' cross product.
void TestRealModels::sameStrokeAtEveryScale_data()
{
    QTest::addColumn<int>("tool");
    QTest::addColumn<int>("mode");
    QTest::newRow("inflate, uniform") << int(INFLATE) << int(UNIFORMISATION);
    QTest::newRow("smooth, subdivide") << int(SMOOTH) << int(SUBDIVISION);
}

void TestRealModels::sameStrokeAtEveryScale()
{
    QFETCH(int, tool);
    QFETCH(int, mode);
    // A sphere of 1,280 triangles of radius about 1, made a little uneven so that no two edges
    // are of equal length (a tie could then be broken differently at each scale).
    TestMeshes::IcosphereData data = TestMeshes::icosphereData(3);
    for (std::size_t i = 0; i < data.positions.size(); ++i)
        data.positions[i] *= 1.0f + 0.05f * std::sin(float(i) * 12.9898f);
    const MeshBytes::FaceList faces(data.triangles.begin(), data.triangles.end());
    StrokeScript script;
    script.tool = tool;
    script.topology = mode;
    script.intensity = 1.0f;
    const int dabs = 20;
    for (int k = 0; k < dabs; ++k) {
        const QVector3D d = QVector3D(std::cos(0.05f * k), std::sin(0.05f * k), 0.4f).normalized();
        script.dabs.push_back({{d * 400.0f, -d}, 40.0f});
    }
    // Loaded positions differ between the scales by the rounding of the file's coordinates and of
    // the scale factor, a few float steps of the 500-unit frame; each dab moves vertices along
    // normals computed from positions that differ so, which can add as much again.
    const float tolerance = 500.0f * 16.0f * FLT_EPSILON * (1 + dabs);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("saved.stl"));
    std::vector<QVector3D> reference;
    for (const float scale : {1.0f, 1e-4f, 1e4f}) {
        MeshBytes::PositionList scaled = data.positions;
        for (QVector3D &p : scaled)
            p *= scale;
        QString error;
        auto mesh = Files::loadBytes(
            Files::Kind::Stl, MeshBytes::binarySTL(MeshBytes::facetsOf(scaled, faces)), {}, &error);
        QVERIFY2(mesh, qPrintable(error));
        QCOMPARE(replayStroke(*mesh, script).hits, dabs);
        VERIFY_MESH(*mesh);
        const std::vector<QVector3D> sculpted = TestMeshes::positions(*mesh);
        if (reference.empty())
            reference = sculpted;
        QCOMPARE(sculpted.size(), reference.size());
        for (std::size_t i = 0; i < sculpted.size(); ++i)
            QVERIFY((sculpted[i] - reference[i]).length() < tolerance);
        QVERIFY(Files::saveSTL(*mesh, path, {}, &error));
        const QByteArray bytes = TestIo::readFile(path);
        QCOMPARE(bytes.size(), 84 + 50 * qsizetype(mesh->getNbTriangles()));
        for (int t = 0; t < mesh->getNbTriangles(); ++t) {
            QVector3D v[4]; // the normal, then the corners back in the file's units
            for (int k = 0; k < 12; ++k)
                v[k / 3][k % 3] = qFromLittleEndian<float>(bytes.constData() + 84 + 50 * t + 4 * k)
                    / (k < 3 ? 1.0f : scale);
            QVERIFY(std::abs(v[0].length() - 1.0f) < 1e-5f);
            QVERIFY(QVector3D::dotProduct(v[0], QVector3D::normal(v[1], v[2], v[3])) > 1 - 1e-4f);
        }
    }
}

QTEST_GUILESS_MAIN(TestRealModels)
#include "tst_realmodels.moc"
