#pragma once

#include <vector>

class Mesh;

// Facts about the surface a mesh makes, as opposed to the consistency of its records: where it
// is open, and where it is not a manifold. Files often hold such shapes; they are facts about the
// file, not faults of the program.
//
// Edges are the pairs of distinct corners of triangles with three distinct corners; a triangle
// with two or three equal corners is only counted as such.
struct SurfaceReport
{
    long borderEdges = 0; // edges of one triangle
    // Closed curves that the border edges make: one per simple loop, and one more for every
    // further pair of border edges at a vertex where loops touch (E - V + components of the
    // border-edge graph).
    long borderLoops = 0;
    long nonManifoldEdges = 0; // edges of more than two triangles
    long repeatedTriangles = 0; // triangles on the same three vertices as an earlier one
    long degenerateTriangles = 0; // triangles with two or three equal corners

    bool closed() const { return borderEdges == 0; }
    // A manifold surface, with or without a border.
    bool manifold() const
    {
        return nonManifoldEdges == 0 && repeatedTriangles == 0 && degenerateTriangles == 0;
    }
};

// Reads the vertices' triangle lists and the triangles' corners: the mesh must be consistent
// (checkMesh).
SurfaceReport surfaceReport(const Mesh &mesh);
