#pragma once

#include "IndexList.h"

#include <QVector3D>

// One vertex of a mesh, stored by value in the mesh's vertex array; its id equals its index.
// Records start on a cache line: a record then spans two lines, never three, and the position
// with the stamps (what the picking reads) always sits in its first.
class alignas(64) Vertex
{
public:
    Vertex(float x, float y, float z, int id);
    Vertex(const QVector3D &position, int id);

    void setPosition(const QVector3D &p) { position = p; }

    void addTriangle(int index) { triangleIndices.push_back(index); }
    void addRingVertex(int index) { ringIndices.push_back(index); }
    // The first element equal to oldIndex, from the front, becomes newIndex.
    void replaceTriangle(int oldIndex, int newIndex);
    void replaceRingVertex(int oldIndex, int newIndex);
    // The first element equal to index is overwritten by the last one; order is not kept.
    void removeTriangle(int index);
    void removeRingVertex(int index);

    // Lexicographic order on x, y, z with plain float comparisons (0.0 equals -0.0).
    bool operator<(const Vertex &other) const;

    // Process-wide stamp counters; a record is marked when its stamp equals the counter.
    static inline int visitCounter = 1;
    static inline int brushCounter = 1;

    QVector3D position;
    int visitStamp = 1;
    int brushStamp = 1;
    int historyStamp = 1;
    int id = -1;
    // How much the vertex is protected from the brush, 0 (free) to 1 (fully masked); see Mask.h.
    float mask = 0.0f;
    IndexList triangleIndices;
    QVector3D normal;
    IndexList ringIndices;
};
