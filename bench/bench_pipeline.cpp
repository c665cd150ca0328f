// Loading pipeline and octree benchmark on generated icospheres, without a GPU.
//
//   bench_pipeline [--levels 5,7,8] [--runs N]
//
// For each level the records are built as a file reader builds them (not timed), then timed:
//   pipeline      Mesh::initTopology + Mesh::initVBO + Mesh::moveTo (rings, scaling, boxes,
//                 octree, vertex normals);
//   octree_build  Mesh::rebuildOctree over the loaded mesh's root box.
// One JSON object per line: {"name", "size" (triangles), "median_ms", "min_ms", "max_ms",
// "peak_rss_mb"}; peak_rss_mb is the process's peak resident memory after that measurement.

#include "TestMeshes.h"
#include "mesh/Mesh.h"

#include <QElapsedTimer>
#include <QFile>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <cstring>
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

void report(const char *name, int size, std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    const std::size_t n = times.size();
    const double median = n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2.0;
    std::printf("{\"name\": \"%s\", \"size\": %d, \"median_ms\": %.3f, \"min_ms\": %.3f, "
                "\"max_ms\": %.3f, \"peak_rss_mb\": %.1f}\n",
        name, size, median, times.front(), times.back(), peakRssMb());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<int> levels {5, 7, 8};
    int runs = 5;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--levels") && i + 1 < argc) {
            levels.clear();
            for (const QString &l : QString::fromLocal8Bit(argv[++i]).split(','))
                levels.push_back(l.toInt());
        } else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: bench_pipeline [--levels 5,7,8] [--runs N]\n");
            return 2;
        }
    }

    for (int level : levels) {
        const TestMeshes::IcosphereData data = TestMeshes::icosphereData(level);
        const int size = static_cast<int>(data.triangles.size());
        std::vector<double> pipeline, octree;
        for (int run = 0; run < runs; ++run) {
            Vertex::visitCounter = Triangle::visitCounter = Mesh::historyCounter = 1;
            auto mesh = TestMeshes::rawMeshFromArrays(data.positions, data.triangles);
            QElapsedTimer timer;
            timer.start();
            mesh->initTopology();
            mesh->initVBO();
            mesh->moveTo(QVector3D(0.0f, 0.0f, 0.0f));
            pipeline.push_back(timer.nsecsElapsed() / 1e6);

            const Aabb box = mesh->getOctree()->aabbSplit;
            timer.restart();
            mesh->rebuildOctree(box);
            octree.push_back(timer.nsecsElapsed() / 1e6);
        }
        report("pipeline", size, pipeline);
        report("octree_build", size, octree);
    }
    return 0;
}
