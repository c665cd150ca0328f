#include "HistoryMemory.h"

#include "Triangle.h"
#include "Vertex.h"

namespace HistoryMemory {

std::size_t recordBytes(const Triangle &)
{
    return sizeof(Triangle);
}

std::size_t recordBytes(const Vertex &vertex)
{
    return sizeof(Vertex) + vertex.triangleIndices.heapBytes() + vertex.ringIndices.heapBytes();
}

std::size_t update(State &state)
{
    if (state.countedTriangles > state.savedTriangles.size()
        || state.countedVertices > state.savedVertices.size()) {
        // Something removed saved records: count again from the start.
        state.bytes = 0;
        state.countedTriangles = 0;
        state.countedVertices = 0;
    }
    for (std::size_t i = state.countedTriangles; i < state.savedTriangles.size(); ++i)
        state.bytes += recordBytes(state.savedTriangles[i]);
    for (std::size_t i = state.countedVertices; i < state.savedVertices.size(); ++i)
        state.bytes += recordBytes(state.savedVertices[i]);
    state.countedTriangles = state.savedTriangles.size();
    state.countedVertices = state.savedVertices.size();
    return state.bytes;
}

void shrink(State &state)
{
    state.savedTriangles.shrink_to_fit();
    state.savedVertices.shrink_to_fit();
}

} // namespace HistoryMemory
