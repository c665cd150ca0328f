#pragma once

#include <QString>

class Mesh;

// Consistency check of a mesh: ids equal indices, masks within [0, 1], vertex indices in range,
// each triangle listed once in each of its corners' triangle lists and nowhere else, ring lists
// equal (as sets) to what Mesh::computeRingVertices builds, octree nodes well formed, each triangle
// in exactly one leaf of the current tree at its Triangle::leafIndex. Returns an empty string when
// the mesh is consistent, otherwise a readable description of the first problem found.
QString checkMesh(const Mesh &mesh);
