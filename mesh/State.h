#pragma once

#include "Aabb.h"
#include "Triangle.h"
#include "Vertex.h"

#include <vector>

// One undo step: the mesh's counts and octree cell when the step was opened, and copies of the
// records as they were before their first change in this step (each copy keeps its id).
class State
{
public:
    int triangleCount = 0;
    int vertexCount = 0;
    std::vector<Triangle> savedTriangles;
    std::vector<Vertex> savedVertices;
    Aabb octreeBox;
};
