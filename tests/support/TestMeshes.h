#pragma once

#include "mesh/Mesh.h"

#include <QString>
#include <QVector3D>

#include <array>
#include <memory>
#include <vector>

// Small meshes for tests and benchmarks. Every make* function returns a mesh already run through
// the loading pipeline (initTopology, initVBO, moveTo(origin)), with no message sink.
namespace TestMeshes {

struct IcosphereData
{
    std::vector<QVector3D> positions;
    std::vector<std::array<int, 3>> triangles;
};

// Unit icosphere: 12 vertices and 20 triangles at level 0, each level splitting every triangle
// into four (20 * 4^level triangles), outward winding.
IcosphereData icosphereData(int level);

// Builds the records as a file reader does (ids = indices, triangle normals from the corners,
// each triangle appended to its corners in order) and runs the pipeline.
std::unique_ptr<Mesh> meshFromArrays(
    const std::vector<QVector3D> &positions, const std::vector<std::array<int, 3>> &triangles);
// Same, without running the pipeline.
std::unique_ptr<Mesh> rawMeshFromArrays(
    const std::vector<QVector3D> &positions, const std::vector<std::array<int, 3>> &triangles);

std::unique_ptr<Mesh> makeTetrahedron();
// Open flat grid of n x n unit quads in the plane z = 0, each split into two triangles:
// (n + 1)^2 vertices, 2 n^2 triangles.
std::unique_ptr<Mesh> makeGrid(int n);
std::unique_ptr<Mesh> makeIcosphere(int level);

// Copies of a mesh's records, to compare a mesh with an earlier version of itself.
struct MeshSnapshot
{
    std::vector<Vertex> vertices;
    std::vector<Triangle> triangles;
};

// Every vertex index (0 .. n - 1) and every triangle index, in order.
std::vector<int> allVertices(const Mesh &mesh);
std::vector<int> allTriangles(const Mesh &mesh);
// The vertices' positions, in vertex order.
std::vector<QVector3D> positions(const Mesh &mesh);

MeshSnapshot snapshot(const Mesh &mesh);
// Compares positions, normals, ids, triangle and ring lists of the vertices, and ids, corners,
// normals and boxes of the triangles, exactly (bit for bit on the floats). Stamps and octree
// places are not compared. Returns an empty string when equal, else the first difference.
QString compareWithSnapshot(const MeshSnapshot &expected, const Mesh &mesh);

} // namespace TestMeshes
