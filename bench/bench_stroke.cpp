// Brush stroke benchmark with the dynamic topology, without a GPU.
//
//   bench_stroke [--levels 5,7,8] [--modes static,subdivide,decimate,uniform,adaptive,fuse]
//                [--dabs N]
//
// For each icosphere level and topology mode, a fresh mesh (not timed) receives one inflate
// stroke of N dabs (default 100) at the default intensity and detail, with a brush radius of 5%
// of the bounding-box diagonal, the dabs spread evenly along a 90-degree arc of a great circle.
// "fuse" is the adaptive mode on the same icosphere flattened to a thin lens (3% of its width),
// deflated from above along a straight line across its middle, so that the top is pushed onto
// the bottom and fuses with it.
// Each dab is timed as the view makes it: the pick along the ray, then Stroke::sculptDab (the
// selection, the topology, the tool and the mesh update). One JSON object per line:
// {"name": "stroke_<mode>", "size" (triangles before), "median_ms", "min_ms", "max_ms" (per dab),
//  "peak_rss_mb", "triangles_after", "release_ms" (the octree reorganisation at release),
//  "joins" (vertex pairs fused), "hits" (dabs whose ray met the mesh: a fused spot of the lens
//  is a tunnel that a later ray may pass through)}. The per-dab times are those of the hits.

#include "TestMeshes.h"
#include "geometry/Picking.h"
#include "mesh/Mesh.h"
#include "sculpt/Sculptor.h"
#include "sculpt/Stroke.h"
#include "topology/Topology.h"

#include <QElapsedTimer>
#include <QFile>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <vector>

namespace {

double peakRssMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1.0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1.0;
}

struct Mode
{
    const char *name;
    int id;
    bool lens = false; // the flattened icosphere, deflated from above
};

const Mode allModes[] = {{"static", STATIC}, {"subdivide", SUBDIVISION}, {"decimate", DECIMATION},
    {"uniform", UNIFORMISATION}, {"adaptive", ADAPTIVE}, {"fuse", ADAPTIVE, true}};

} // namespace

int main(int argc, char **argv)
{
    std::vector<int> levels {5, 7, 8};
    std::vector<Mode> modes(std::begin(allModes), std::end(allModes));
    int dabs = 100;
    // BENCH_TRACE=1 prints every dab's time on stderr.
    const bool trace = qEnvironmentVariableIsSet("BENCH_TRACE");
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--levels") && i + 1 < argc) {
            levels.clear();
            for (const QString &l : QString::fromLocal8Bit(argv[++i]).split(','))
                levels.push_back(l.toInt());
        } else if (!std::strcmp(argv[i], "--modes") && i + 1 < argc) {
            modes.clear();
            for (const QString &m : QString::fromLocal8Bit(argv[++i]).split(',')) {
                for (const Mode &known : allModes) {
                    if (m == QLatin1String(known.name))
                        modes.push_back(known);
                }
            }
        } else if (!std::strcmp(argv[i], "--dabs") && i + 1 < argc) {
            dabs = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr,
                "usage: bench_stroke [--levels 5,7,8] "
                "[--modes static,subdivide,decimate,uniform,adaptive,fuse] [--dabs N]\n");
            return 2;
        }
    }

    for (int level : levels) {
        const TestMeshes::IcosphereData data = TestMeshes::icosphereData(level);
        for (const Mode &mode : modes) {
            Vertex::visitCounter = Vertex::brushCounter = Triangle::visitCounter = 1;
            Mesh::historyCounter = 1;
            std::vector<QVector3D> positions = data.positions;
            if (mode.lens) {
                for (QVector3D &p : positions)
                    p.setZ(p.z() * 0.03f);
            }
            auto mesh = TestMeshes::meshFromArrays(positions, data.triangles);
            const int size = mesh->getNbTriangles();
            float sphereRadius = 0.0f;
            for (const Vertex &v : mesh->getVertices())
                sphereRadius = std::max(sphereRadius, v.position.length());
            // Diagonal of the vertices' bounding box (500 after loading).
            Aabb bounds(mesh->getVertex(0).position, mesh->getVertex(0).position);
            for (const Vertex &v : mesh->getVertices())
                bounds.expandsWithPoint(v.position);
            const float radius = 0.05f * (bounds.max - bounds.min).length();

            Sculptor sculptor;
            sculptor.setTool(mode.lens ? DEFLATE : INFLATE);
            sculptor.setTopoMode(mode.id);
            Picking picking;
            // A great circle tilted off the icosphere's symmetry planes.
            const QVector3D a = QVector3D(1.0f, 0.2f, 0.1f).normalized();
            const QVector3D b =
                QVector3D::crossProduct(a, QVector3D(0.1f, 0.3f, 1.0f)).normalized();
            auto ray = [&](int k, QVector3D &nearPoint, QVector3D &farPoint) {
                if (mode.lens) {
                    // Straight down onto the top, along a line across the middle.
                    const float u = float(k) / float(std::max(1, dabs - 1)) - 0.5f;
                    const QVector3D p(u * sphereRadius, 0.4f * u * sphereRadius, 0.0f);
                    nearPoint = p + QVector3D(0.0f, 0.0f, 3.0f * sphereRadius);
                    farPoint = p - QVector3D(0.0f, 0.0f, 3.0f * sphereRadius);
                    return;
                }
                const float angle = 0.5f * std::numbers::pi_v<float> * k / std::max(1, dabs - 1);
                const QVector3D direction = a * std::cos(angle) + b * std::sin(angle);
                nearPoint = direction * sphereRadius * 3.0f;
                farPoint = QVector3D(0.0f, 0.0f, 0.0f);
            };

            QVector3D nearPoint;
            QVector3D farPoint;
            ray(0, nearPoint, farPoint);
            picking.intersectRay(mesh.get(), nearPoint, farPoint);
            Stroke::press(*mesh, picking, sculptor);
            const long joinsBefore = Topology::joinsMade;
            int hits = 0;
            std::vector<double> times;
            times.reserve(dabs);
            for (int k = 0; k < dabs; ++k) {
                ray(k, nearPoint, farPoint);
                QElapsedTimer timer;
                timer.start();
                if (!picking.intersectRay(mesh.get(), nearPoint, farPoint))
                    continue; // a miss sculpts nothing: not counted
                ++hits;
                picking.setRadiusWorldSquared(radius * radius);
                Stroke::sculptDab(*mesh, picking, sculptor, nearPoint, farPoint, false);
                times.push_back(timer.nsecsElapsed() / 1e6);
                if (trace)
                    std::fprintf(stderr, "dab %d: %.3f ms, %d triangles\n", k, times.back(),
                        mesh->getNbTriangles());
            }
            QElapsedTimer timer;
            timer.start();
            Stroke::release(*mesh);
            const double releaseMs = timer.nsecsElapsed() / 1e6;

            if (times.empty())
                times.push_back(0.0); // no hit at all
            std::sort(times.begin(), times.end());
            const std::size_t n = times.size();
            const double median = n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2.0;
            std::printf("{\"name\": \"stroke_%s\", \"size\": %d, \"median_ms\": %.3f, \"min_ms\": "
                        "%.3f, \"max_ms\": %.3f, \"peak_rss_mb\": %.1f, \"triangles_after\": %d, "
                        "\"release_ms\": %.3f, \"joins\": %ld, \"hits\": %d}\n",
                mode.name, size, median, times.front(), times.back(), peakRssMb(),
                mesh->getNbTriangles(), releaseMs, Topology::joinsMade - joinsBefore, hits);
            std::fflush(stdout);
        }
    }
    return 0;
}
