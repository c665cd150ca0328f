#include "MaskEdit.h"

#include "mesh/Mesh.h"

#include <vector>

namespace {

template<typename Change>
bool apply(Mesh &mesh, Change change)
{
    std::vector<Vertex> &vertices = mesh.getVertices();
    std::vector<int> changed;
    for (int i = 0; i < mesh.getNbVertices(); ++i) {
        if (change(vertices[i].mask) != vertices[i].mask)
            changed.push_back(i);
    }
    if (changed.empty())
        return false;
    mesh.newState();
    mesh.pushState({}, changed);
    for (int i : changed)
        vertices[i].mask = change(vertices[i].mask);
    if (MeshGpu *gpu = mesh.getGpu())
        gpu->patchMasks(mesh, changed);
    return true;
}

} // namespace

namespace MaskEdit {

bool invert(Mesh &mesh)
{
    return apply(mesh, [](float m) { return 1.0f - m; });
}

bool clear(Mesh &mesh)
{
    return apply(mesh, [](float) { return 0.0f; });
}

} // namespace MaskEdit
