#pragma once

#include "mesh/Mesh.h"

#include <QStringList>

// A GPU half that records the calls the mesh makes on it ("build V T", "shaders S", "indices N",
// "positions N", "normals N"), with capacities twice the counts built. A vertex whose normal is
// not the normalised sum of its triangles' normals when it is patched logs "stale normal V".
class RecordingGpu : public MeshGpu
{
public:
    using Indices = std::vector<int>;
    explicit RecordingGpu(QStringList *log)
        : log(log)
    { }
    void build(const Mesh &mesh) override
    {
        vertices = 2 * mesh.getNbVertices();
        triangles = 2 * mesh.getNbTriangles();
        *log << QStringLiteral("build %1 %2").arg(vertices / 2).arg(triangles / 2);
    }
    void initShaders(const Mesh &mesh) override { note("shaders", mesh.getShaderType()); }
    int triangleCapacity() const override { return triangles; }
    int vertexCapacity() const override { return vertices; }
    void patchIndices(const Mesh &, const Indices &l) override { note("indices", l.size()); }
    void patchPositions(const Mesh &, const Indices &l) override { note("positions", l.size()); }
    void patchNormals(const Mesh &mesh, const Indices &list) override
    {
        for (int i : list) {
            QVector3D sum;
            for (int t : mesh.getVertex(i).triangleIndices)
                sum += mesh.getTriangle(t).normal;
            if (mesh.getVertex(i).normal != sum.normalized())
                note("stale normal", i);
        }
        note("normals", list.size());
    }

private:
    void note(const char *what, qsizetype n) { *log << QStringLiteral("%1 %2").arg(what).arg(n); }
    QStringList *log;
    int triangles = 0, vertices = 0;
};
