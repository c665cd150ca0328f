// Loading pipeline and octree benchmark on generated icospheres, without a GPU.
//
//   bench_pipeline [--levels 5,7,8] [--runs N]
//
// For each level the records are built as a file reader builds them (not timed), then timed:
//   pipeline      Mesh::initTopology + Mesh::initVBO + Mesh::moveTo (rings, scaling, boxes,
//                 octree, vertex normals);
//   octree_build  Mesh::rebuildOctree over the loaded mesh's root box.
// JSON lines (see BenchCommon.h) in ms; peak_rss_mb is the process's peak resident memory after
// that measurement.

#include "BenchCommon.h"
#include "TestMeshes.h"
#include "mesh/Mesh.h"

#include <QElapsedTimer>

#include <cstring>

int main(int argc, char **argv)
{
    std::vector<int> levels {5, 7, 8};
    int runs = 5;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--levels") && i + 1 < argc) {
            levels = Bench::intList(QString::fromLocal8Bit(argv[++i]));
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
        Bench::report(QStringLiteral("pipeline"), size, Bench::stats(pipeline),
            QStringLiteral("ms"), Bench::peakRssMb());
        Bench::report(QStringLiteral("octree build"), size, Bench::stats(octree),
            QStringLiteral("ms"), Bench::peakRssMb());
    }
    return 0;
}
