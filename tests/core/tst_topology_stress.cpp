// Seeded random strokes with the dynamic topology, through the same stroke steps as the view,
// with the mesh checked after every dab and the history checked stroke by stroke at the end.
//
// The CI run keeps to a few hundred dabs. A soak runs sessions with consecutive seeds for as long
// as asked:  ARGILIUM_SOAK_MINUTES=30 [ARGILIUM_SOAK_SEED=1] tst_topology_stress soak
// (scripts/soak does this); a failure prints its seed, and minutes 0 replays the one seed.

#include "TestMeshes.h"
#include "geometry/Geometry.h"
#include "geometry/Picking.h"
#include "mesh/MeshCheck.h"
#include "sculpt/Sculptor.h"
#include "sculpt/Stroke.h"
#include "topology/Topology.h"

#include <QElapsedTimer>
#include <QtTest>

#include <omp.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <numbers>
#include <random>
#include <thread>
#include <unordered_map>

class TestTopologyStress : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void randomStrokes_data();
    void randomStrokes();
    void soak();
};

namespace {

enum class Kind { Icosphere, Grid, Torus, ThinCylinder, Slab, Fold };
// The kinds of the plain sessions; fusion sessions use all.
constexpr int kindCount = 4;
constexpr int fusionKindCount = 6;

const char *kindName(Kind kind)
{
    switch (kind) {
    case Kind::Icosphere:
        return "icosphere";
    case Kind::Grid:
        return "grid";
    case Kind::Torus:
        return "torus";
    case Kind::ThinCylinder:
        return "thin cylinder";
    case Kind::Slab:
        return "slab";
    default:
        return "fold";
    }
}

// Closed torus of major radius 3 and minor radius 1.
std::unique_ptr<Mesh> makeTorus(int around, int tube)
{
    std::vector<QVector3D> positions;
    std::vector<std::array<int, 3>> triangles;
    const float pi = std::numbers::pi_v<float>;
    for (int i = 0; i < around; ++i) {
        const float u = 2.0f * pi * i / around;
        for (int j = 0; j < tube; ++j) {
            const float v = 2.0f * pi * j / tube;
            const float r = 3.0f + std::cos(v);
            positions.emplace_back(r * std::cos(u), r * std::sin(u), std::sin(v));
        }
    }
    for (int i = 0; i < around; ++i) {
        for (int j = 0; j < tube; ++j) {
            const int a = i * tube + j;
            const int b = ((i + 1) % around) * tube + j;
            const int c = ((i + 1) % around) * tube + (j + 1) % tube;
            const int d = i * tube + (j + 1) % tube;
            triangles.push_back({a, b, c});
            triangles.push_back({a, c, d});
        }
    }
    return TestMeshes::meshFromArrays(positions, triangles);
}

// Closed hexagonal prism thirty times longer than wide, with two rings only: its sides are
// long thin triangles, its caps fans around a centre vertex.
std::unique_ptr<Mesh> makeThinCylinder()
{
    const int sides = 6;
    std::vector<QVector3D> positions;
    std::vector<std::array<int, 3>> triangles;
    const float pi = std::numbers::pi_v<float>;
    for (int end = 0; end < 2; ++end) {
        for (int i = 0; i < sides; ++i) {
            const float a = 2.0f * pi * i / sides;
            positions.emplace_back(end ? 30.0f : 0.0f, std::cos(a), std::sin(a));
        }
    }
    positions.emplace_back(0.0f, 0.0f, 0.0f);
    positions.emplace_back(30.0f, 0.0f, 0.0f);
    const int c0 = 2 * sides;
    const int c1 = c0 + 1;
    for (int i = 0; i < sides; ++i) {
        const int j = (i + 1) % sides;
        triangles.push_back({i, j, sides + j});
        triangles.push_back({i, sides + j, sides + i});
        triangles.push_back({c0, j, i});
        triangles.push_back({c1, sides + i, sides + j});
    }
    return TestMeshes::meshFromArrays(positions, triangles);
}

// Closed thin slab: a square of 12 x 12 unit quads on top and below, 0.3 apart, joined by a
// strip of side quads. Deflating or flattening the top pushes it onto the bottom.
std::unique_ptr<Mesh> makeSlab()
{
    const int n = 12;
    const int side = n + 1;
    const float half = 0.15f;
    std::vector<QVector3D> positions;
    std::vector<std::array<int, 3>> triangles;
    for (int sheet = 0; sheet < 2; ++sheet) {
        for (int j = 0; j <= n; ++j) {
            for (int i = 0; i <= n; ++i)
                positions.emplace_back(float(i), float(j), sheet ? -half : half);
        }
    }
    const int bottom = side * side;
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            const int a = j * side + i;
            const int b = a + 1;
            const int c = a + side;
            const int d = c + 1;
            triangles.push_back({a, b, d}); // top, facing up
            triangles.push_back({a, d, c});
            triangles.push_back({bottom + a, bottom + d, bottom + b}); // bottom, facing down
            triangles.push_back({bottom + a, bottom + c, bottom + d});
        }
    }
    // The border, counter-clockwise seen from above.
    std::vector<int> loop;
    for (int i = 0; i < n; ++i)
        loop.push_back(i);
    for (int j = 0; j < n; ++j)
        loop.push_back(j * side + n);
    for (int i = n; i > 0; --i)
        loop.push_back(n * side + i);
    for (int j = n; j > 0; --j)
        loop.push_back(j * side);
    for (std::size_t k = 0; k < loop.size(); ++k) {
        const int p = loop[k];
        const int q = loop[(k + 1) % loop.size()];
        triangles.push_back({p, bottom + p, bottom + q});
        triangles.push_back({p, bottom + q, q});
    }
    return TestMeshes::meshFromArrays(positions, triangles);
}

// Open sheet folded into a hairpin: two flat halves of 8 x 8 unit quads 0.3 apart, joined by a
// half-circle bend. Inflating or deflating inside the fold pushes the halves together.
std::unique_ptr<Mesh> makeFold()
{
    const int length = 8;
    const int width = 8;
    const float radius = 0.15f;
    const float pi = std::numbers::pi_v<float>;
    std::vector<QVector3D> profile; // (x, 0, z) along the fold
    for (int k = length; k >= 0; --k)
        profile.emplace_back(float(k), 0.0f, 0.0f);
    for (int k = 1; k < 4; ++k) {
        const float phi = pi * k / 4.0f;
        profile.emplace_back(-radius * std::sin(phi), 0.0f, radius - radius * std::cos(phi));
    }
    for (int k = 0; k <= length; ++k)
        profile.emplace_back(float(k), 0.0f, 2.0f * radius);
    const int count = static_cast<int>(profile.size());
    std::vector<QVector3D> positions;
    std::vector<std::array<int, 3>> triangles;
    for (int j = 0; j <= width; ++j) {
        for (const QVector3D &p : profile)
            positions.emplace_back(p.x(), float(j), p.z());
    }
    for (int j = 0; j < width; ++j) {
        for (int k = 0; k + 1 < count; ++k) {
            const int a = j * count + k;
            const int b = a + 1;
            const int c = a + count;
            const int d = c + 1;
            triangles.push_back({a, b, d});
            triangles.push_back({a, d, c});
        }
    }
    return TestMeshes::meshFromArrays(positions, triangles);
}

std::unique_ptr<Mesh> makeMesh(Kind kind)
{
    switch (kind) {
    case Kind::Icosphere:
        return TestMeshes::makeIcosphere(2);
    case Kind::Grid:
        return TestMeshes::makeGrid(12);
    case Kind::Torus:
        return makeTorus(24, 10);
    case Kind::ThinCylinder:
        return makeThinCylinder();
    case Kind::Slab:
        return makeSlab();
    default:
        return makeFold();
    }
}

struct Random
{
    explicit Random(unsigned seed)
        : engine(seed)
    { }
    float uniform(float a, float b) { return std::uniform_real_distribution<float>(a, b)(engine); }
    int integer(int a, int b) { return std::uniform_int_distribution<int>(a, b)(engine); }
    bool chance(float p) { return uniform(0.0f, 1.0f) < p; }
    std::mt19937 engine;
};

std::uint64_t edgeKey(int a, int b)
{
    const auto lo = static_cast<std::uint32_t>(std::min(a, b));
    const auto hi = static_cast<std::uint32_t>(std::max(a, b));
    return (std::uint64_t(lo) << 32) | hi;
}

// The shape checks of one dab; an empty string when the mesh is sound.
QString checkShape(const Mesh &mesh, bool closed)
{
    QString problem = checkMesh(mesh);
    if (!problem.isEmpty())
        return problem;
    const auto &vertices = mesh.getVertices();
    for (int i = 0; i < mesh.getNbVertices(); ++i) {
        const QVector3D &p = vertices[i].position;
        if (!std::isfinite(p.x()) || !std::isfinite(p.y()) || !std::isfinite(p.z()))
            return QStringLiteral("vertex %1 has a position that is not finite").arg(i);
        if (vertices[i].triangleIndices.empty())
            return QStringLiteral("vertex %1 has no triangle").arg(i);
    }
    std::unordered_map<std::uint64_t, int> edges;
    edges.reserve(mesh.getNbTriangles() * 2);
    for (const Triangle &t : mesh.getTriangles()) {
        if (t.vertex1 == t.vertex2 || t.vertex2 == t.vertex3 || t.vertex1 == t.vertex3)
            return QStringLiteral("triangle %1 names a vertex twice").arg(t.id);
        ++edges[edgeKey(t.vertex1, t.vertex2)];
        ++edges[edgeKey(t.vertex2, t.vertex3)];
        ++edges[edgeKey(t.vertex3, t.vertex1)];
    }
    std::unordered_map<int, int> borderEdgesAt;
    int borderEdges = 0;
    for (const auto &[key, count] : edges) {
        const int a = int(key >> 32);
        const int b = int(key & 0xffffffffu);
        if (closed && count != 2)
            return QStringLiteral("edge %1-%2 of a closed mesh has %3 triangles")
                .arg(a)
                .arg(b)
                .arg(count);
        if (count > 2)
            return QStringLiteral("edge %1-%2 has %3 triangles").arg(a).arg(b).arg(count);
        if (count == 1) {
            ++borderEdges;
            ++borderEdgesAt[a];
            ++borderEdgesAt[b];
        }
    }
    if (!closed && mesh.getNbTriangles() > 0) {
        if (borderEdges == 0)
            return QStringLiteral("the open mesh has no border left");
        // The border stays a set of simple curves: no vertex pinches two of its stretches.
        for (const auto &[v, count] : borderEdgesAt) {
            if (count != 2)
                return QStringLiteral("border vertex %1 has %2 border edges").arg(v).arg(count);
        }
    }
    return {};
}

// Positions bit for bit, triangles and lists exactly, normals within 1e-6.
QString compareMeshes(const TestMeshes::MeshSnapshot &expected, const Mesh &mesh)
{
    const auto &vertices = mesh.getVertices();
    const auto &triangles = mesh.getTriangles();
    if (expected.vertices.size() != vertices.size()
        || expected.triangles.size() != triangles.size())
        return QStringLiteral("counts %1 vertices, %2 triangles; expected %3, %4")
            .arg(vertices.size())
            .arg(triangles.size())
            .arg(expected.vertices.size())
            .arg(expected.triangles.size());
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        const Vertex &e = expected.vertices[i];
        const Vertex &a = vertices[i];
        if (e.position.x() != a.position.x() || e.position.y() != a.position.y()
            || e.position.z() != a.position.z())
            return QStringLiteral("vertex %1: position differs").arg(i);
        if ((e.normal - a.normal).length() > 1e-6f)
            return QStringLiteral("vertex %1: normal differs by %2")
                .arg(i)
                .arg((e.normal - a.normal).length());
        if (e.triangleIndices != a.triangleIndices)
            return QStringLiteral("vertex %1: triangle list differs").arg(i);
        if (e.ringIndices != a.ringIndices)
            return QStringLiteral("vertex %1: ring differs").arg(i);
    }
    for (std::size_t i = 0; i < triangles.size(); ++i) {
        const Triangle &e = expected.triangles[i];
        const Triangle &a = triangles[i];
        if (e.vertex1 != a.vertex1 || e.vertex2 != a.vertex2 || e.vertex3 != a.vertex3)
            return QStringLiteral("triangle %1: corners differ").arg(i);
        if ((e.normal - a.normal).length() > 1e-6f)
            return QStringLiteral("triangle %1: normal differs").arg(i);
    }
    return {};
}

struct SessionResult
{
    QString failure;
    int dabs = 0;
    int strokes = 0;
    int triangles = 0;
    int largest = 0;
    long joins = 0; // vertex pairs fused
};

// A hang shows as a dab that never ends: the watchdog prints the seed and stops the process.
class Watchdog
{
public:
    explicit Watchdog(int limitSeconds)
        : limit_(limitSeconds)
        , thread_([this] { run(); })
    { }
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    void arm(unsigned seed, int dab)
    {
        seed_ = seed;
        dab_ = dab;
        started_ = std::chrono::steady_clock::now().time_since_epoch().count();
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stop_) {
            wake_.wait_for(lock, std::chrono::seconds(1));
            const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
            const auto elapsed = std::chrono::steady_clock::duration(now - started_.load());
            if (started_.load() != 0 && elapsed > std::chrono::seconds(limit_)) {
                std::fprintf(stderr, "SOAK FAILURE seed %u: dab %d ran for more than %d s\n",
                    seed_.load(), dab_.load(), limit_);
                std::fflush(stderr);
                std::abort();
            }
        }
    }

    const int limit_;
    std::atomic<unsigned> seed_ {0};
    std::atomic<int> dab_ {0};
    std::atomic<std::chrono::steady_clock::rep> started_ {0};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

// Random strokes on a fresh mesh of the given kind until `dabBudget` dabs have been made; then
// the last strokes (11 at most) are undone one by one and redone. A fusion session sculpts mostly
// in the adaptive mode with the tools that push surfaces together.
SessionResult runSession(Kind kind, unsigned seed, int dabBudget, Watchdog *watchdog, bool fusion)
{
    SessionResult result;
    const long joinsBefore = Topology::joinsMade;
    Random random(seed);
    auto mesh = makeMesh(kind);
    const bool closed = kind != Kind::Grid && kind != Kind::Fold;
    const float diagonal = 500.0f;
    // Meshes that grew past this are coarsened by the next stroke, so that a session stays fast.
    const int growthLimit = 30000;

    struct Copies
    {
        TestMeshes::MeshSnapshot before;
        TestMeshes::MeshSnapshot after;
    };
    std::deque<Copies> history;
    // ARGILIUM_SOAK_TRACE=1 prints each stroke's settings (to study a failing seed).
    const bool trace = qEnvironmentVariableIsSet("ARGILIUM_SOAK_TRACE");
    auto fail = [&](const QString &what) {
        result.failure = QStringLiteral("seed %1, %2 mesh%6, stroke %3, dab %4: %5")
                             .arg(seed)
                             .arg(QLatin1String(kindName(kind)))
                             .arg(result.strokes)
                             .arg(result.dabs)
                             .arg(what)
                             .arg(fusion ? QStringLiteral(" (fusion)") : QString());
        return result;
    };

    while (result.dabs < dabBudget) {
        if (mesh->getNbTriangles() == 0)
            return fail(QStringLiteral("the mesh lost all its triangles"));
        Sculptor sculptor;
        sculptor.setTool(random.integer(0, 4));
        const int modes[3] = {DECIMATION, SUBDIVISION, UNIFORMISATION};
        sculptor.setTopoMode(modes[random.integer(0, 2)]);
        if (fusion) {
            const int tools[8] = {
                INFLATE, DEFLATE, FLATTEN, INFLATE, DEFLATE, FLATTEN, SMOOTH, SWEEP};
            sculptor.setTool(tools[random.integer(0, 7)]);
            if (random.chance(0.75f))
                sculptor.setTopoMode(ADAPTIVE);
        }
        sculptor.setIntensity(random.uniform(0.0f, 1.0f));
        sculptor.setDetail(random.uniform(0.0f, 1.0f));
        sculptor.setCulling(random.chance(0.2f));
        const bool symmetry = random.chance(0.3f);
        // World radii that the radius slider gives at the usual zooms: 0.2% to 30% of the
        // diagonal, spread evenly on a log scale.
        float radius = diagonal * std::exp(random.uniform(std::log(0.002f), std::log(0.3f)));
        if (mesh->getNbTriangles() > growthLimit) {
            sculptor.setTopoMode(DECIMATION);
            sculptor.setDetail(0.0f);
            radius = diagonal * 0.25f;
        }
        const float radiusSquared = radius * radius;
        const int dabCount = random.integer(2, 12);
        if (trace)
            std::printf("stroke %d: tool %d, mode %d, intensity %.3f, detail %.3f, culling %d, "
                        "symmetry %d, radius %.4g, %d dabs, %d triangles\n",
                result.strokes, sculptor.getTool(), sculptor.getTopoMode(), sculptor.getIntensity(),
                sculptor.getDetail(), int(sculptor.getCulling()), int(symmetry), radius, dabCount,
                mesh->getNbTriangles());

        // A random point of a random triangle, reached along its normal from outside.
        const Triangle &start = mesh->getTriangle(random.integer(0, mesh->getNbTriangles() - 1));
        float u = random.uniform(0.0f, 1.0f);
        float v = random.uniform(0.0f, 1.0f);
        if (u + v > 1.0f) {
            u = 1.0f - u;
            v = 1.0f - v;
        }
        const auto &records = mesh->getVertices();
        QVector3D point = records[start.vertex1].position * (1.0f - u - v)
            + records[start.vertex2].position * u + records[start.vertex3].position * v;
        QVector3D normal = start.normal.isNull() ? QVector3D(0, 0, 1) : start.normal;
        const float angle = random.uniform(0.0f, 2.0f * std::numbers::pi_v<float>);

        history.push_back({TestMeshes::snapshot(*mesh), {}});
        if (history.size() > std::size_t(Mesh::maxUndoStates))
            history.pop_front();

        Picking picking;
        QVector3D nearPoint = point + normal * diagonal;
        QVector3D farPoint = point - normal * diagonal;
        picking.intersectRay(mesh.get(), nearPoint, farPoint);
        Stroke::press(*mesh, picking, sculptor);
        QVector3D lastNear = nearPoint;
        for (int d = 0; d < dabCount && result.dabs < dabBudget; ++d) {
            nearPoint = point + normal * diagonal;
            farPoint = point - normal * diagonal;
            const bool hit = picking.intersectRay(mesh.get(), nearPoint, farPoint);
            if (hit)
                picking.setRadiusWorldSquared(radiusSquared);
            if (watchdog)
                watchdog->arm(seed, result.dabs);
            if (hit || sculptor.isSweep()) {
                if (sculptor.isSweep()) {
                    sculptor.setSweepCenter(
                        Geometry::projectOnLine(sculptor.getSweepCenter(), nearPoint, farPoint));
                    sculptor.setSweepDir((nearPoint - lastNear).normalized());
                    picking.setMesh(mesh.get());
                    picking.setIntersectionPoint(sculptor.getSweepCenter());
                    picking.setRadiusWorldSquared(radiusSquared);
                }
                Stroke::sculptDab(*mesh, picking, sculptor, nearPoint, farPoint, symmetry);
                lastNear = nearPoint;
            }
            ++result.dabs;
            const QString problem = checkShape(*mesh, closed);
            if (!problem.isEmpty())
                return fail(problem);
            result.largest = std::max(result.largest, mesh->getNbTriangles());

            // Next dab: along the surface in a slowly turning direction.
            if (hit) {
                point = picking.getIntersectionPoint();
                const int t = picking.getPickedTriangle();
                if (t >= 0 && t < mesh->getNbTriangles() && !mesh->getTriangle(t).normal.isNull())
                    normal = mesh->getTriangle(t).normal;
            }
            QVector3D side = QVector3D::crossProduct(normal, QVector3D(0.3f, 0.5f, 0.8f));
            if (side.isNull())
                side = QVector3D::crossProduct(normal, QVector3D(1, 0, 0));
            side.normalize();
            const QVector3D other = QVector3D::crossProduct(normal, side);
            const float a = angle + random.uniform(-0.5f, 0.5f);
            point +=
                (side * std::cos(a) + other * std::sin(a)) * radius * random.uniform(0.1f, 0.6f);
        }
        if (watchdog)
            watchdog->arm(seed, -1);
        Stroke::release(*mesh);
        ++result.strokes;
        const QString problem = checkShape(*mesh, closed);
        if (!problem.isEmpty())
            return fail(problem);
        history.back().after = TestMeshes::snapshot(*mesh);
    }

    // Undo stroke by stroke, then redo.
    const int steps = static_cast<int>(history.size());
    for (int i = steps - 1; i >= 0; --i) {
        mesh->undo();
        QString problem = compareMeshes(history[i].before, *mesh);
        if (problem.isEmpty())
            problem = checkMesh(*mesh);
        if (!problem.isEmpty())
            return fail(QStringLiteral("undo %1 of %2: %3").arg(steps - i).arg(steps).arg(problem));
    }
    for (int i = 0; i < steps; ++i) {
        mesh->redo();
        QString problem = compareMeshes(history[i].after, *mesh);
        if (problem.isEmpty())
            problem = checkMesh(*mesh);
        if (!problem.isEmpty())
            return fail(QStringLiteral("redo %1 of %2: %3").arg(i + 1).arg(steps).arg(problem));
    }
    result.triangles = mesh->getNbTriangles();
    result.joins = Topology::joinsMade - joinsBefore;
    return result;
}

} // namespace
void TestTopologyStress::initTestCase()
{
    // One thread: the flatten tool's parallel sums are the only thing that depends on the
    // thread count, and a failing seed must replay exactly.
    omp_set_num_threads(1);
}

void TestTopologyStress::randomStrokes_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<unsigned>("seed");
    QTest::addColumn<int>("dabs");
    QTest::addColumn<bool>("fusion");
    for (int kind = 0; kind < kindCount; ++kind) {
        for (unsigned seed : {11u, 12u}) {
            QTest::newRow(qPrintable(
                QStringLiteral("%1, seed %2").arg(QLatin1String(kindName(Kind(kind)))).arg(seed)))
                << kind << seed << 50 << false;
        }
    }
    // Mostly adaptive strokes that push surfaces together.
    for (Kind kind : {Kind::Slab, Kind::Fold, Kind::Icosphere, Kind::Torus}) {
        QTest::newRow(
            qPrintable(QStringLiteral("fusion, %1, seed 11").arg(QLatin1String(kindName(kind)))))
            << int(kind) << 11u << 40 << true;
    }
    // Seeds that the soak once failed, with enough dabs to reach the failure.
    QTest::newRow("grid, seed 1029: border pinched by removing a border corner")
        << int(Kind::Grid) << 1029u << 140 << false;
    QTest::newRow("grid, seed 1017: normal of a folded corner after undo")
        << int(Kind::Grid) << 1017u << 150 << false;
}

void TestTopologyStress::randomStrokes()
{
    QFETCH(int, kind);
    QFETCH(unsigned, seed);
    QFETCH(int, dabs);
    QFETCH(bool, fusion);
    const SessionResult result = runSession(Kind(kind), seed, dabs, nullptr, fusion);
    QVERIFY2(result.failure.isEmpty(), qPrintable(result.failure));
    if (fusion) {
        qInfo("%ld joins", result.joins);
        // The slab and the fold are made to be pushed together.
        if (Kind(kind) == Kind::Slab || Kind(kind) == Kind::Fold)
            QVERIFY(result.joins > 0);
    }
    QCOMPARE(result.dabs, dabs);
}

void TestTopologyStress::soak()
{
    const QByteArray minutesText = qgetenv("ARGILIUM_SOAK_MINUTES");
    if (minutesText.isEmpty())
        QSKIP("soak only on demand (ARGILIUM_SOAK_MINUTES)");
    const double minutes = minutesText.toDouble();
    const QByteArray seedText = qgetenv("ARGILIUM_SOAK_SEED");
    unsigned seed = seedText.isEmpty() ? 1u : seedText.toUInt();
    Watchdog watchdog(120);
    QElapsedTimer timer;
    timer.start();
    long totalDabs = 0;
    long totalJoins = 0;
    int sessions = 0;
    do {
        // Each seed: a plain session, then a fusion session (mostly adaptive strokes).
        for (const bool fusion : {false, true}) {
            const Kind kind = Kind(seed % (fusion ? fusionKindCount : kindCount));
            const SessionResult result = runSession(kind, seed, 150, &watchdog, fusion);
            if (!result.failure.isEmpty()) {
                std::printf("SOAK FAILURE %s\n", qPrintable(result.failure));
                std::fflush(stdout);
                QFAIL(qPrintable(result.failure));
            }
            totalDabs += result.dabs;
            totalJoins += result.joins;
            ++sessions;
            std::printf("soak: seed %u (%s%s) ok: %d strokes, %d dabs, %ld joins, largest %d "
                        "triangles, %d at the end; %.1f min\n",
                seed, kindName(kind), fusion ? ", fusion" : "", result.strokes, result.dabs,
                result.joins, result.largest, result.triangles, timer.elapsed() / 60000.0);
            std::fflush(stdout);
        }
        ++seed;
    } while (timer.elapsed() < minutes * 60000.0);
    std::printf(
        "soak: %d sessions, %ld dabs, %ld joins, no failure\n", sessions, totalDabs, totalJoins);
}

int main(int argc, char **argv)
{
    // A soak runs for longer than Qt Test lets one test function run by default.
    if (qEnvironmentVariableIsSet("ARGILIUM_SOAK_MINUTES")
        && !qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT")) {
        const double minutes = qgetenv("ARGILIUM_SOAK_MINUTES").toDouble();
        qputenv("QTEST_FUNCTION_TIMEOUT", QByteArray::number(qint64((minutes + 15.0) * 60000.0)));
    }
    QCoreApplication app(argc, argv);
    TestTopologyStress test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_topology_stress.moc"
