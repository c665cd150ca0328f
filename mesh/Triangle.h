#pragma once

#include "Aabb.h"

#include <QVector3D>

class Octree;

// One triangle of a mesh, stored by value in the mesh's triangle array; its id equals its index.
class Triangle
{
public:
    Triangle(const QVector3D &normal, int vertex1, int vertex2, int vertex3, int id);

    // vertex1 or vertex2 when equal to oldIndex, otherwise vertex3, whatever its value.
    void replaceVertex(int oldIndex, int newIndex);

    static inline int visitCounter = 1;

    // The fields that a brush step reads and writes for every triangle under the brush (leaf,
    // corners, box, normal) come first and together: 56 bytes, in one or two cache lines, never
    // three. The record has no padding (72 bytes with 64-bit pointers).
    Octree *leaf = nullptr; // not owning
    int vertex1 = -1;
    int vertex2 = -1;
    int vertex3 = -1;
    Aabb aabb;
    QVector3D normal;
    int visitStamp = 1;
    int historyStamp = 1;
    int id = -1;
    int leafIndex = -1;
};
static_assert(sizeof(Triangle) == 64 + sizeof(void *));
