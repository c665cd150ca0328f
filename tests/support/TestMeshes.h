#pragma once

#include "mesh/Mesh.h"

#include <QString>
#include <QVector3D>

#include <array>
#include <map>
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
// `sheets` grids of n x n unit quads stacked `gap` apart along z (sheet k at z = k gap), vertex
// (i, j) of sheet k at k (n + 1)^2 + j (n + 1) + i. Every sheet faces up, or, with `facing`,
// the odd ones face down, towards the sheet below.
std::unique_ptr<Mesh> makeStackedGrids(int n, int sheets, float gap, bool facing = false);

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
// normals and boxes of the triangles, exactly (bit for bit on the floats) or, for the normals,
// within `normalTolerance`. Stamps and octree places are not compared. Returns an empty string
// when equal, else the first difference.
QString compareWithSnapshot(
    const MeshSnapshot &expected, const Mesh &mesh, float normalTolerance = 0.0f);

// Number of triangles on each edge (smaller vertex index first); triangles marked for removal
// (negative visit stamp) are left out.
std::map<std::pair<int, int>, int> edgeCounts(const Mesh &mesh);
// Connected pieces of the surface (vertices linked through triangles).
int components(const Mesh &mesh);
// The consistency check, then the shape: finite positions, no vertex without a triangle, no
// triangle naming a vertex twice, one or two triangles on every edge (two on a closed mesh), and
// on an open mesh a border made of simple curves. Empty when sound, else the first problem.
QString soundness(const Mesh &mesh, bool closed);

} // namespace TestMeshes
