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
#include "geometry/Picking.h"
#include "io/Files.h"
#include "mesh/SurfaceReport.h"
#include "sculpt/Sculptor.h"
#include "sculpt/Stroke.h"
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
    auto quad = [&](const QVector3D &a, const QVector3D &b, const QVector3D &c,
                    const QVector3D &d) {
        soup.insert(soup.end(), {Facet {a, b, c}, Facet {a, c, d}});
    };
    if (name == "repeated triangle") {
        TestMeshes::IcosphereData data = TestMeshes::icosphereData(3);
        data.triangles.insert(data.triangles.end(), 2, data.triangles.front());
        soup = facetsOf(data.positions, data.triangles);
    } else if (name == "cubes on an edge") {
        for (const QVector3D shift : {QVector3D(0, 0, 0), QVector3D(1, 1, 0)})
            for (Facet f : facetsOf(cubePositions, cubeFaces))
                soup.push_back({f[0] + shift, f[1] + shift, f[2] + shift});
    } else if (name == "three sheets on an edge") {
        for (int k = 0; k < 3; ++k) {
            const QVector3D d(std::cos(2 * pi * k / 3), std::sin(2 * pi * k / 3), 0.0f);
            auto p = [&](int i, int j) { return d * (i / 3.0f) + QVector3D(0, 0, j / 3.0f); };
            for (int i = 0; i < 9; ++i)
                quad(p(i % 3, i / 3), p(i % 3 + 1, i / 3), p(i % 3 + 1, i / 3 + 1),
                    p(i % 3, i / 3 + 1));
        }
    } else { // two closed cones, apex to apex
        for (const float s : {1.0f, -1.0f}) {
            auto r = [&](int k) {
                return QVector3D(0.5f * std::cos(pi * k / 6), 0.5f * std::sin(pi * k / 6), s);
            };
            for (int i = 0; i < 12; ++i) {
                const int a = s > 0 ? i : i + 1;
                soup.push_back({QVector3D(), r(i + i + 1 - a), r(a)});
                soup.push_back({QVector3D(0, 0, s), r(a), r(i + i + 1 - a)});
            }
        }
    }
    return Files::loadBytes(Files::Kind::Stl, binarySTL(soup));
}

// Empty when the surface got no worse from `before` to `after`.
QString compareSurfaces(const SurfaceReport &before, const SurfaceReport &after)
{
    const char *const names[] = {"edges of 3+ triangles", "border loops", "repeated", "degenerate"};
    const long b[] = {before.nonManifoldEdges, before.borderLoops, before.repeatedTriangles,
        before.degenerateTriangles};
    const long a[] = {after.nonManifoldEdges, after.borderLoops, after.repeatedTriangles,
        after.degenerateTriangles};
    for (int k = 0; k < 4; ++k) {
        if (a[k] > b[k])
            return QStringLiteral("%1 %2 became %3").arg(names[k]).arg(b[k]).arg(a[k]);
    }
    if (before.closed() && before.manifold() && !(after.closed() && after.manifold()))
        return QStringLiteral("a closed manifold is no longer one");
    return {};
}

// Mesh check and surface comparison after each dab of random strokes in one topology mode;
// empty, or where and how the first dab failed.
QString runSession(Mesh &mesh, int mode, unsigned seed, int strokes)
{
    std::mt19937 engine(seed);
    auto uniform = [&](float a, float b) {
        return std::uniform_real_distribution<float>(a, b)(engine);
    };
    SurfaceReport surface = surfaceReport(mesh);
    for (int stroke = 0; stroke < strokes; ++stroke) {
        Sculptor sculptor;
        sculptor.setTopoMode(mode);
        sculptor.setTool(static_cast<int>(engine() % 4)); // inflate, deflate, smooth, flatten
        sculptor.setIntensity(uniform(0.2f, 1.0f));
        sculptor.setDetail(uniform(0.0f, 1.0f));
        const bool symmetry = engine() % 4 == 0;
        const float radius = 500.0f * std::exp(uniform(std::log(0.01f), std::log(0.2f)));
        // Along the normal of a random triangle onto its centre, then sideways along the surface.
        const Triangle &start =
            mesh.getTriangle(static_cast<int>(engine() % mesh.getNbTriangles()));
        const std::vector<Vertex> &v = mesh.getVertices();
        QVector3D point =
            (v[start.vertex1].position + v[start.vertex2].position + v[start.vertex3].position) / 3;
        const QVector3D normal = start.normal.isNull() ? QVector3D(0, 0, 1) : start.normal;
        QVector3D side = QVector3D::crossProduct(normal, QVector3D(0.3f, 0.5f, 0.8f)).normalized();
        Picking picking;
        picking.intersectRay(&mesh, point + normal * 500.0f, point - normal * 500.0f);
        Stroke::press(mesh, picking, sculptor);
        for (int dab = 0; dab < 8; ++dab) {
            const QVector3D nearPoint = point + normal * 500.0f;
            const QVector3D farPoint = point - normal * 500.0f;
            if (picking.intersectRay(&mesh, nearPoint, farPoint)) {
                picking.setRadiusWorldSquared(radius * radius);
                Stroke::sculptDab(mesh, picking, sculptor, nearPoint, farPoint, symmetry);
            }
            QString problem = checkMesh(mesh);
            const SurfaceReport after = surfaceReport(mesh);
            if (problem.isEmpty())
                problem = compareSurfaces(surface, after);
            if (!problem.isEmpty())
                return QStringLiteral("seed %1, stroke %2, dab %3: %4")
                    .arg(QString::number(seed), QString::number(stroke), QString::number(dab),
                        problem);
            surface = after;
            point += side * radius * uniform(0.1f, 0.6f);
        }
        Stroke::release(mesh);
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
    void reportedStroke_data();
    void reportedStroke();
    void weld_data();
    void weld();
    void sameStrokeAtEveryScale_data();
    void sameStrokeAtEveryScale();
};

void TestRealModels::sessions_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("mode");
    for (const QString &model : corpus + shapes) {
        for (int mode = DECIMATION; mode <= STATIC; ++mode)
            QTest::addRow("%s, %s", qPrintable(model), modeNames[mode]) << model << mode;
    }
}

void TestRealModels::sessions()
{
    QFETCH(QString, model);
    QFETCH(int, mode);
    std::unique_ptr<Mesh> mesh = loadModel(model);
    if (!mesh)
        return;
    const int strokes = qEnvironmentVariableIntValue("ARGILIUM_SOAK_STROKES");
    const unsigned seed = qEnvironmentVariableIntValue("ARGILIUM_SOAK_SEED");
    const QString failure = runSession(*mesh, mode, seed ? seed : 1, strokes ? strokes : 3);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

// The stroke that broke the spider: 60 inflate dabs from four sides towards the centre, with the
// brush radius 12% of half the diagonal.
void TestRealModels::reportedStroke_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<float>("detail");
    for (const float detail : {0.3f, 1.0f}) {
        for (const int mode : {UNIFORMISATION, ADAPTIVE})
            QTest::addRow("%s, detail %.1f", modeNames[mode], detail) << mode << detail;
    }
}

void TestRealModels::reportedStroke()
{
    QFETCH(int, mode);
    QFETCH(float, detail);
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
        const QVector3D across(d.y() + d.z(), d.x(), 0.0f);
        const float offset = -60.0f + 120.0f * (i % 15) / 14.0f;
        const QVector3D origin = d * 500.0f + across * offset + QVector3D(0, 0, 0.3f * offset);
        script.dabs.push_back({{origin, -d}, 30.0f});
    }
    replayStroke(*mesh, script);
    VERIFY_MESH(*mesh);
    const QString problem = compareSurfaces(before, surfaceReport(*mesh));
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

// Every reader welds exactly equal positions (-0 equal to 0): a cube split in two halves that
// name their own copies of the corners reads as 8 vertices of a closed surface, and the spider's
// OBJ, which its exporter split along texture seams, as the binary STL of the same spider.
void TestRealModels::weld_data()
{
    using namespace MeshBytes;
    QTest::addColumn<QString>("file"); // of the corpus, or empty for `bytes`
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("vertices");
    // The second half of the faces names a copy of the corners, with -0 for 0.
    PositionList twice = cubePositions;
    for (const QVector3D &p : cubePositions)
        twice.push_back({p.x() ? p.x() : -0.0f, p.y() ? p.y() : -0.0f, p.z() ? p.z() : -0.0f});
    FaceList faces = cubeFaces;
    for (std::size_t i = 6; i < faces.size(); ++i)
        faces[i] = {faces[i][0] + 8, faces[i][1] + 8, faces[i][2] + 8};
    const FaceList firstHalf(cubeFaces.begin(), cubeFaces.begin() + 6);
    const FaceList secondHalf(cubeFaces.begin() + 6, cubeFaces.end());
    const int obj = int(Files::Kind::Obj);
    const int threeDs = int(Files::Kind::ThreeDs);
    QTest::newRow("OBJ cube, split") << QString() << obj << objText(twice, faces) << 8;
    QTest::newRow("3DS cube in two objects")
        << QString() << threeDs
        << file3DS(object3DS("A", vertexList(cubePositions) + faceList(firstHalf))
               + object3DS("B", vertexList(cubePositions) + faceList(secondHalf)))
        << 8;
    QTest::newRow("spider OBJ") << "spider.obj" << obj << QByteArray() << 722;
}

void TestRealModels::weld()
{
    QFETCH(QString, file);
    QFETCH(int, kind);
    QFETCH(QByteArray, bytes);
    QFETCH(int, vertices);
    QString error;
    std::unique_ptr<Mesh> mesh =
        file.isEmpty() ? Files::loadBytes(Files::Kind(kind), bytes, {}, &error) : loadModel(file);
    if (!mesh) {
        QVERIFY2(!file.isEmpty(), qPrintable(error)); // a missing corpus file is reported already
        return;
    }
    VERIFY_MESH(*mesh);
    QCOMPARE(mesh->getNbVertices(), vertices);
    const SurfaceReport surface = surfaceReport(*mesh);
    if (file.isEmpty()) {
        QVERIFY(surface.closed() && surface.manifold());
    } else {
        // The same surface as the binary STL of the spider, border for border.
        std::unique_ptr<Mesh> stl = loadModel("spider.stl");
        QVERIFY(stl);
        const SurfaceReport expected = surfaceReport(*stl);
        QCOMPARE(surface.borderEdges, expected.borderEdges);
        QCOMPARE(surface.borderLoops, expected.borderLoops);
    }
}

void TestRealModels::sameStrokeAtEveryScale_data()
{
    QTest::addColumn<int>("tool");
    QTest::addColumn<int>("mode");
    QTest::newRow("inflate, uniform") << int(INFLATE) << int(UNIFORMISATION);
    QTest::newRow("smooth, subdivide") << int(SMOOTH) << int(SUBDIVISION);
}

// Triangle normals come from the scaled corners (a reader's, in file units, were null for small
// triangles), and the saved file's normals are of unit length along the corners' cross product.
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
    std::vector<QVector3D> reference, referencePositions;
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
        if (referencePositions.empty())
            referencePositions = sculpted;
        QCOMPARE(sculpted.size(), referencePositions.size());
        for (std::size_t i = 0; i < sculpted.size(); ++i)
            QVERIFY((sculpted[i] - referencePositions[i]).length() < tolerance);
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
            for (int k = 1; k < 4; ++k) {
                if (scale == 1.0f)
                    reference.push_back(v[k]);
                QVERIFY((v[k] - reference[3 * t + k - 1]).length()
                    < tolerance / (mesh->getScale() * scale));
            }
        }
    }
}

QTEST_GUILESS_MAIN(TestRealModels)
#include "tst_realmodels.moc"
