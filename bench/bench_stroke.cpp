// Brush stroke benchmark, without a GPU, through the code that `argilium-cli sculpt` replays.
//
//   bench_stroke [--levels 5,7,8] [--workloads inflate-static,...] [--dabs N] [--runs N]
//
// For each icosphere level and workload, a fresh mesh (not timed) receives one stroke of N dabs
// (default 100) at intensity 0.75 and detail 0.75, with a brush radius of 5% of the bounding-box
// diagonal, the dabs spread evenly along a 90-degree arc of a great circle, each a ray from
// outside towards the centre. Workloads: inflate, smooth, flatten and sweep without topology
// changes ("static"), and inflate in the four topology modes; "inflate-masked" is the static
// inflate with the half y < 0 of the sphere fully masked (the arc runs from the free half into it);
// "crease-static" and "crease-uniform" draw the crease along the arc; "deflate-fuse" is the
// adaptive mode on the same icosphere flattened to a thin lens (3% of its width), deflated from
// above along a straight line across its middle, so that the top is pushed onto the bottom and
// fuses. Each dab is timed as the view makes it: the pick along the ray, then the brush step (the
// selection, the topology, the tool and the mesh update). After the stroke, undo then redo are
// timed. Each workload runs N times (default 5), each time on a fresh mesh.
//
// JSON lines (see BenchCommon.h): "stroke <tool> <mode>" in ms per dab over the dabs whose ray
// met the mesh: "median" and "max" are the medians over the runs of each stroke's median and
// maximum, "min" and "worst" the fastest and slowest dab of all runs; with "triangles_after",
// "release_ms", "joins" (vertex pairs fused) and "hits" of the first run. "undo <tool> <mode>"
// and "redo <tool> <mode>" in ms. "checksum" names the mesh the first run's stroke leaves (SHA-1
// of the positions, normals and triangle corners): two builds sculpt alike when they print the
// same. "history_mb" is what the history holds after that stroke (Mesh::getHistoryBytes).

#include "BenchCommon.h"
#include "TestMeshes.h"
#include "mesh/Mesh.h"
#include "sculpt/Sculptor.h"
#include "sculpt/StrokeScript.h"
#include "topology/Topology.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>

#include <cmath>
#include <numbers>

namespace {

struct Workload
{
    const char *name;
    int tool;
    int mode;
    bool lens = false; // the flattened icosphere, deflated from above
    bool masked = false; // the half y < 0 fully masked
};

const Workload allWorkloads[] = {{"inflate-static", INFLATE, STATIC},
    {"smooth-static", SMOOTH, STATIC}, {"flatten-static", FLATTEN, STATIC},
    {"sweep-static", SWEEP, STATIC}, {"inflate-subdivide", INFLATE, SUBDIVISION},
    {"inflate-decimate", INFLATE, DECIMATION}, {"inflate-uniform", INFLATE, UNIFORMISATION},
    {"inflate-adaptive", INFLATE, ADAPTIVE}, {"deflate-fuse", DEFLATE, ADAPTIVE, true},
    {"inflate-masked", INFLATE, STATIC, false, true}, {"crease-static", CREASE, STATIC},
    {"crease-uniform", CREASE, UNIFORMISATION}};

StrokeScript makeStroke(const Workload &w, const Mesh &mesh, int dabs)
{
    float sphereRadius = 0.0f;
    Aabb bounds(mesh.getVertex(0).position, mesh.getVertex(0).position);
    for (const Vertex &v : mesh.getVertices()) {
        sphereRadius = std::max(sphereRadius, v.position.length());
        bounds.expandsWithPoint(v.position);
    }
    StrokeScript script;
    script.tool = w.tool;
    script.topology = w.mode;
    script.intensity = 0.75f;
    script.detail = 0.75f;
    const float radius = 0.05f * (bounds.max - bounds.min).length();
    // A great circle tilted off the icosphere's symmetry planes.
    const QVector3D a = QVector3D(1.0f, 0.2f, 0.1f).normalized();
    const QVector3D b = QVector3D::crossProduct(a, QVector3D(0.1f, 0.3f, 1.0f)).normalized();
    for (int k = 0; k < dabs; ++k) {
        StrokeScript::Dab dab;
        dab.radius = radius;
        if (w.lens) {
            // Straight down onto the top, along a line across the middle.
            const float u = float(k) / float(std::max(1, dabs - 1)) - 0.5f;
            dab.ray.origin =
                QVector3D(u * sphereRadius, 0.4f * u * sphereRadius, 3.0f * sphereRadius);
            dab.ray.direction = QVector3D(0.0f, 0.0f, -1.0f);
        } else {
            const float angle = 0.5f * std::numbers::pi_v<float> * k / std::max(1, dabs - 1);
            const QVector3D direction = a * std::cos(angle) + b * std::sin(angle);
            dab.ray.origin = direction * sphereRadius * 3.0f;
            dab.ray.direction = -direction;
        }
        script.dabs.push_back(dab);
    }
    return script;
}

QString checksum(const Mesh &mesh)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    auto add = [&hash](const auto &value) {
        hash.addData(QByteArrayView(reinterpret_cast<const char *>(&value), sizeof(value)));
    };
    for (const Vertex &v : mesh.getVertices()) {
        add(v.position);
        add(v.normal);
    }
    for (const Triangle &t : mesh.getTriangles()) {
        add(t.vertex1);
        add(t.vertex2);
        add(t.vertex3);
    }
    return QString::fromLatin1(hash.result().toHex().left(16));
}

void dumpPositions(const Mesh &mesh, const QString &name)
{
    const QString folder = qEnvironmentVariable("BENCH_DUMP");
    if (folder.isEmpty())
        return;
    QFile file(folder + u'/' + name + QStringLiteral(".f32"));
    if (!file.open(QIODevice::WriteOnly))
        return;
    for (const Vertex &v : mesh.getVertices())
        file.write(reinterpret_cast<const char *>(&v.position), sizeof(QVector3D));
}

QString label(const char *name)
{
    return QString::fromLatin1(name).replace(u'-', u' ');
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<int> levels {5, 7, 8};
    std::vector<Workload> workloads(std::begin(allWorkloads), std::end(allWorkloads));
    int dabs = 100;
    int runs = 5;
    // BENCH_TRACE=1 prints every dab's time on stderr. BENCH_REPEAT=N replays each stroke N more
    // times, undoing it in between, so that a profiler sees mostly the stroke. BENCH_DUMP=folder
    // writes the positions the first run's stroke leaves, as raw floats, to
    // folder/<workload>-<level>.f32, for comparing two builds' strokes vertex by vertex.
    const bool trace = qEnvironmentVariableIsSet("BENCH_TRACE");
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        const QString value = i + 1 < argc ? QString::fromLocal8Bit(argv[i + 1]) : QString();
        if (arg == QLatin1String("--levels") && i + 1 < argc) {
            levels = Bench::intList(value);
        } else if (arg == QLatin1String("--workloads") && i + 1 < argc) {
            workloads.clear();
            for (const QString &m : value.split(u',')) {
                for (const Workload &known : allWorkloads) {
                    if (m == QLatin1String(known.name))
                        workloads.push_back(known);
                }
            }
        } else if (arg == QLatin1String("--dabs") && i + 1 < argc) {
            dabs = std::max(1, value.toInt());
        } else if (arg == QLatin1String("--runs") && i + 1 < argc) {
            runs = std::max(1, value.toInt());
        } else {
            std::fprintf(stderr,
                "usage: bench_stroke [--levels 5,7,8] [--workloads inflate-static,smooth-static,"
                "flatten-static,sweep-static,inflate-subdivide,inflate-decimate,inflate-uniform,"
                "inflate-adaptive,deflate-fuse,inflate-masked,crease-static,crease-uniform] "
                "[--dabs N] [--runs N]\n");
            return 2;
        }
        ++i;
    }

    for (int level : levels) {
        const TestMeshes::IcosphereData data = TestMeshes::icosphereData(level);
        for (const Workload &w : workloads) {
            std::vector<double> times, runMedians, runMaxima, undoTimes, redoTimes;
            QJsonObject extra;
            int size = 0;
            for (int run = 0; run < runs; ++run) {
                Vertex::visitCounter = Vertex::brushCounter = Triangle::visitCounter = 1;
                Mesh::historyCounter = 1;
                std::vector<QVector3D> positions = data.positions;
                if (w.lens) {
                    for (QVector3D &p : positions)
                        p.setZ(p.z() * 0.03f);
                }
                auto mesh = TestMeshes::meshFromArrays(positions, data.triangles);
                if (w.masked) {
                    for (Vertex &v : mesh->getVertices())
                        v.mask = positions[v.id].y() < 0.0f ? 1.0f : 0.0f;
                }
                size = mesh->getNbTriangles();
                const StrokeScript script = makeStroke(w, *mesh, dabs);

                const long joinsBefore = Topology::joinsMade;
                QElapsedTimer timer;
                timer.start();
                const StrokeReport stroke = replayStroke(*mesh, script);
                const double strokeMs = timer.nsecsElapsed() / 1e6;
                std::vector<double> runTimes;
                double dabsMs = 0.0;
                for (std::size_t k = 0; k < stroke.dabs.size(); ++k) {
                    dabsMs += stroke.dabs[k].milliseconds;
                    if (stroke.dabs[k].hit || w.tool == SWEEP)
                        runTimes.push_back(stroke.dabs[k].milliseconds);
                    if (trace)
                        std::fprintf(stderr, "dab %zu: %.3f ms\n", k, stroke.dabs[k].milliseconds);
                }
                const Bench::Stats runStats = Bench::stats(runTimes);
                runMedians.push_back(runStats.median);
                runMaxima.push_back(runStats.max);
                times.insert(times.end(), runTimes.begin(), runTimes.end());
                const int trianglesAfter = mesh->getNbTriangles();
                if (run == 0) {
                    extra.insert(QStringLiteral("triangles_after"), trianglesAfter);
                    // Everything after the last dab: the octree reorganisation at release.
                    extra.insert(
                        QStringLiteral("release_ms"), Bench::rounded(strokeMs - dabsMs, 3));
                    extra.insert(QStringLiteral("joins"), int(Topology::joinsMade - joinsBefore));
                    extra.insert(QStringLiteral("hits"), stroke.hits);
                    extra.insert(QStringLiteral("checksum"), checksum(*mesh));
                    dumpPositions(*mesh, QStringLiteral("%1-%2").arg(w.name).arg(level));
                    extra.insert(QStringLiteral("history_mb"),
                        Bench::rounded(mesh->getHistoryBytes() / (1024.0 * 1024.0), 2));
                }

                for (int r = qEnvironmentVariableIntValue("BENCH_REPEAT"); r > 0; --r) {
                    mesh->undo();
                    replayStroke(*mesh, script);
                }
                timer.restart();
                mesh->undo();
                undoTimes.push_back(timer.nsecsElapsed() / 1e6);
                const bool undone = mesh->getNbTriangles() == size;
                timer.restart();
                mesh->redo();
                redoTimes.push_back(timer.nsecsElapsed() / 1e6);
                if (!undone || mesh->getNbTriangles() != trianglesAfter) {
                    std::fprintf(stderr, "bench_stroke: undo or redo did not restore the counts\n");
                    return 1;
                }
            }
            // Per dab: the median and the maximum of each stroke, their medians over the runs;
            // the fastest and slowest dab of all runs besides.
            const Bench::Stats all = Bench::stats(times);
            extra.insert(QStringLiteral("worst"), Bench::rounded(all.max, 3));
            const QString name = label(w.name);
            Bench::report(QStringLiteral("stroke ") + name, size,
                {Bench::stats(runMedians).median, all.min, Bench::stats(runMaxima).median},
                QStringLiteral("ms"), Bench::peakRssMb(), extra);
            Bench::report(QStringLiteral("undo ") + name, size, Bench::stats(undoTimes),
                QStringLiteral("ms"), Bench::peakRssMb());
            Bench::report(QStringLiteral("redo ") + name, size, Bench::stats(redoTimes),
                QStringLiteral("ms"), Bench::peakRssMb());
        }
    }
    return 0;
}
