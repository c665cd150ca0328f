#include "Vertex.h"

#include <algorithm>

static_assert(sizeof(Vertex) == 128, "a vertex record spans two cache lines");

namespace {

void replaceFirst(IndexList &list, int oldIndex, int newIndex)
{
    auto it = std::find(list.begin(), list.end(), oldIndex);
    if (it != list.end())
        *it = newIndex;
}

void removeFirst(IndexList &list, int index)
{
    auto it = std::find(list.begin(), list.end(), index);
    if (it == list.end())
        return;
    *it = list.back();
    list.pop_back();
}

} // namespace

Vertex::Vertex(float x, float y, float z, int id)
    : position(x, y, z)
    , id(id)
{ }

Vertex::Vertex(const QVector3D &position, int id)
    : position(position)
    , id(id)
{ }

void Vertex::replaceTriangle(int oldIndex, int newIndex)
{
    replaceFirst(triangleIndices, oldIndex, newIndex);
}

void Vertex::replaceRingVertex(int oldIndex, int newIndex)
{
    replaceFirst(ringIndices, oldIndex, newIndex);
}

void Vertex::removeTriangle(int index)
{
    removeFirst(triangleIndices, index);
}

void Vertex::removeRingVertex(int index)
{
    removeFirst(ringIndices, index);
}

bool Vertex::operator<(const Vertex &other) const
{
    if (position.x() != other.position.x())
        return position.x() < other.position.x();
    if (position.y() != other.position.y())
        return position.y() < other.position.y();
    return position.z() < other.position.z();
}
