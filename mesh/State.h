#pragma once

#include "Aabb.h"
#include "RecordLog.h"
#include "Triangle.h"
#include "Vertex.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// One undo step: the mesh's counts and octree cell when the step was opened, and copies of the
// records as they were before their first change in this step (each copy keeps its id).
class State
{
public:
    int triangleCount = 0;
    int vertexCount = 0;
    RecordLog<Triangle> savedTriangles;
    RecordLog<Vertex> savedVertices;
    Aabb octreeBox;

    // Memory bookkeeping (HistoryMemory): bytes of the saved records counted so far, with their
    // lists, and how many records of each array that count covers.
    std::size_t bytes = 0;
    std::size_t countedTriangles = 0;
    std::size_t countedVertices = 0;
    // Names the mesh content that applying this state's stroke led to (Mesh::getContentVersion).
    std::uint64_t serial = 0;
};
