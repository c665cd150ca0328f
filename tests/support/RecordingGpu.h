#pragma once

#include "mesh/Mesh.h"

#include <QStringList>

// A GPU half that records the calls the mesh makes on it ("build V T", "shaders S", "indices N",
// "positions N", "normals N"), with capacities twice the counts built. A vertex whose normal is
// not the normalised sum of its triangles' normals when it is patched logs "stale normal V".
class RecordingGpu : public MeshGpu
{
public:
    explicit RecordingGpu(QStringList *log)
        : log(log)
    { }
    void build(const Mesh &mesh) override
    {
        *log << QStringLiteral("build %1 %2").arg(mesh.getNbVertices()).arg(mesh.getNbTriangles());
        triangles = 2 * mesh.getNbTriangles();
        vertices = 2 * mesh.getNbVertices();
    }
    void initShaders(const Mesh &mesh) override
    {
        *log << QStringLiteral("shaders %1").arg(mesh.getShaderType());
    }
    int triangleCapacity() const override { return triangles; }
    int vertexCapacity() const override { return vertices; }
    void patchIndices(const Mesh &, const std::vector<int> &list) override
    {
        *log << QStringLiteral("indices %1").arg(list.size());
    }
    void patchPositions(const Mesh &, const std::vector<int> &list) override
    {
        *log << QStringLiteral("positions %1").arg(list.size());
    }
    void patchNormals(const Mesh &mesh, const std::vector<int> &list) override
    {
        for (int i : list) {
            QVector3D sum;
            for (int t : mesh.getVertex(i).triangleIndices)
                sum += mesh.getTriangle(t).normal;
            if (mesh.getVertex(i).normal != sum.normalized())
                *log << QStringLiteral("stale normal %1").arg(i);
        }
        *log << QStringLiteral("normals %1").arg(list.size());
    }

private:
    QStringList *log;
    int triangles = 0, vertices = 0;
};
