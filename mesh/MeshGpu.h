#pragma once

#include <vector>

class Mesh;

// The GPU half of a mesh, implemented by the render layer: buffers of positions, normals, masks
// and triangle corner indices, and the shader program. A Mesh without one (tests, command line)
// skips every GPU step. All calls come from the thread that owns the OpenGL context.
class MeshGpu
{
public:
    virtual ~MeshGpu() = default;

    // Full upload of positions, vertex normals, masks and triangle indices from the mesh's
    // arrays, with room for twice the present counts.
    virtual void build(const Mesh &mesh) = 0;
    // Rebuilds the shader program for mesh.getShaderType().
    virtual void initShaders(const Mesh &mesh) = 0;
    // Capacities, in elements (triangles and vertices), of the index and position buffers.
    virtual int triangleCapacity() const = 0;
    virtual int vertexCapacity() const = 0;
    // In-place writes of the listed elements; every index is below the matching capacity.
    virtual void patchIndices(const Mesh &mesh, const std::vector<int> &triangles) = 0;
    virtual void patchPositions(const Mesh &mesh, const std::vector<int> &vertices) = 0;
    virtual void patchNormals(const Mesh &mesh, const std::vector<int> &vertices) = 0;
    // Masks of the listed vertices; a GPU half that draws no mask may ignore them.
    virtual void patchMasks(const Mesh &, const std::vector<int> &) { }

    // Bytes of data per vertex (position, normal, mask) and per triangle (three indices); the
    // buffers hold twice that for the counts of their last full build.
    static constexpr int bytesPerVertex = 3 * 4 + 3 * 4 + 4;
    static constexpr int bytesPerTriangle = 3 * 4;
};
