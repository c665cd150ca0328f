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

    int visitStamp = 1;
    int historyStamp = 1;
    int id = -1;
    int vertex1 = -1;
    int vertex2 = -1;
    int vertex3 = -1;
    QVector3D normal;
    Aabb aabb;
    Octree *leaf = nullptr; // not owning
    int leafIndex = -1;
};
