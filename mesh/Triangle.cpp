#include "Triangle.h"

Triangle::Triangle(const QVector3D &normal, int vertex1, int vertex2, int vertex3, int id)
    : vertex1(vertex1)
    , vertex2(vertex2)
    , vertex3(vertex3)
    , normal(normal)
    , id(id)
{ }

void Triangle::replaceVertex(int oldIndex, int newIndex)
{
    if (vertex1 == oldIndex)
        vertex1 = newIndex;
    else if (vertex2 == oldIndex)
        vertex2 = newIndex;
    else
        vertex3 = newIndex;
}
