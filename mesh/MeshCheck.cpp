#include "MeshCheck.h"

#include "Mesh.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

namespace {

QString checkOctreeNode(
    const Octree *node, const Octree *parent, int depth, std::unordered_set<const Octree *> &leaves)
{
    if (node->parent != parent)
        return QStringLiteral("octree node at depth %1 has a wrong parent pointer").arg(depth);
    if (node->depth != depth)
        return QStringLiteral("octree node has depth %1 instead of %2").arg(node->depth).arg(depth);
    if (node->isLeaf()) {
        for (int slot = 1; slot < 8; ++slot) {
            if (node->children[slot])
                return QStringLiteral("octree leaf at depth %1 has a child in slot %2 but none "
                                      "in slot 0")
                    .arg(depth)
                    .arg(slot);
        }
        leaves.insert(node);
        return {};
    }
    for (int slot = 0; slot < 8; ++slot) {
        if (!node->children[slot])
            return QStringLiteral("octree inner node at depth %1 lacks its child in slot %2")
                .arg(depth)
                .arg(slot);
    }
    if (!node->triangleIndices.empty())
        return QStringLiteral("octree inner node at depth %1 lists %2 triangles")
            .arg(depth)
            .arg(node->triangleIndices.size());
    for (const auto &child : node->children) {
        QString problem = checkOctreeNode(child.get(), node, depth + 1, leaves);
        if (!problem.isEmpty())
            return problem;
    }
    return {};
}

} // namespace

QString checkMesh(const Mesh &mesh)
{
    const std::vector<Vertex> &vertices = mesh.getVertices();
    const std::vector<Triangle> &triangles = mesh.getTriangles();
    const int nbV = mesh.getNbVertices();
    const int nbT = mesh.getNbTriangles();

    for (int i = 0; i < nbV; ++i) {
        if (vertices[i].id != i)
            return QStringLiteral("vertex %1 has id %2").arg(i).arg(vertices[i].id);
        if (!(vertices[i].mask >= 0.0f && vertices[i].mask <= 1.0f))
            return QStringLiteral("vertex %1 has mask %2, outside [0, 1]")
                .arg(i)
                .arg(vertices[i].mask);
    }
    for (int i = 0; i < nbT; ++i) {
        const Triangle &t = triangles[i];
        if (t.id != i)
            return QStringLiteral("triangle %1 has id %2").arg(i).arg(t.id);
        for (int corner : {t.vertex1, t.vertex2, t.vertex3}) {
            if (corner < 0 || corner >= nbV)
                return QStringLiteral("triangle %1 names vertex %2, out of range [0, %3)")
                    .arg(i)
                    .arg(corner)
                    .arg(nbV);
        }
    }

    // Each triangle appears in each corner's list as many times as the corner appears in it.
    std::vector<int> sorted;
    for (int i = 0; i < nbV; ++i) {
        sorted = vertices[i].triangleIndices;
        std::sort(sorted.begin(), sorted.end());
        for (std::size_t k = 0; k < sorted.size();) {
            const int t = sorted[k];
            std::size_t next = k;
            while (next < sorted.size() && sorted[next] == t)
                ++next;
            const long listed = static_cast<long>(next - k);
            k = next;
            if (t < 0 || t >= nbT)
                return QStringLiteral("vertex %1 lists triangle %2, out of range [0, %3)")
                    .arg(i)
                    .arg(t)
                    .arg(nbT);
            const Triangle &tri = triangles[t];
            const long expected = (tri.vertex1 == i) + (tri.vertex2 == i) + (tri.vertex3 == i);
            if (expected == 0)
                return QStringLiteral("vertex %1 lists triangle %2, which does not use it")
                    .arg(i)
                    .arg(t);
            if (listed != expected)
                return QStringLiteral("vertex %1 lists triangle %2 %3 times instead of %4")
                    .arg(i)
                    .arg(t)
                    .arg(listed)
                    .arg(expected);
        }
    }
    // Every listed pair is right, so a missing one shows in the total; only then look for it.
    long totalListed = 0;
    for (const Vertex &v : vertices)
        totalListed += static_cast<long>(v.triangleIndices.size());
    for (int i = 0; i < nbT && totalListed != 3L * nbT; ++i) {
        const Triangle &t = triangles[i];
        for (int corner : {t.vertex1, t.vertex2, t.vertex3}) {
            const auto &list = vertices[corner].triangleIndices;
            if (std::find(list.begin(), list.end(), i) == list.end())
                return QStringLiteral("triangle %1 is missing from the list of its vertex %2")
                    .arg(i)
                    .arg(corner);
        }
    }

    // Ring lists: the distinct other corners of the vertex's triangles, each once.
    std::vector<int> expected;
    std::vector<int> actual;
    for (int i = 0; i < nbV; ++i) {
        const Vertex &v = vertices[i];
        expected.clear();
        for (int t : v.triangleIndices) {
            const Triangle &tri = triangles[t];
            for (int corner : {tri.vertex1, tri.vertex2, tri.vertex3}) {
                if (corner != i)
                    expected.push_back(corner);
            }
        }
        std::sort(expected.begin(), expected.end());
        expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
        actual = v.ringIndices;
        std::sort(actual.begin(), actual.end());
        if (std::adjacent_find(actual.begin(), actual.end()) != actual.end())
            return QStringLiteral("vertex %1 has a neighbour twice in its ring").arg(i);
        if (actual != expected)
            return QStringLiteral("ring of vertex %1 has %2 entries, its triangles give %3 "
                                  "neighbours (or different ones)")
                .arg(i)
                .arg(actual.size())
                .arg(expected.size());
    }

    // Octree.
    const Octree *root = mesh.getOctree();
    if (!root)
        return nbT == 0 ? QString() : QStringLiteral("the mesh has triangles but no octree");
    std::unordered_set<const Octree *> leaves;
    QString problem = checkOctreeNode(root, nullptr, 0, leaves);
    if (!problem.isEmpty())
        return problem;
    for (int i = 0; i < nbT; ++i) {
        const Triangle &t = triangles[i];
        if (!t.leaf)
            return QStringLiteral("triangle %1 is in no octree leaf").arg(i);
        if (!leaves.count(t.leaf))
            return QStringLiteral("triangle %1 names a leaf that is not a leaf of the octree")
                .arg(i);
        const auto &list = t.leaf->triangleIndices;
        if (t.leafIndex < 0 || t.leafIndex >= static_cast<int>(list.size()))
            return QStringLiteral("triangle %1 has leaf index %2, its leaf lists %3 triangles")
                .arg(i)
                .arg(t.leafIndex)
                .arg(list.size());
        if (list[t.leafIndex] != i)
            return QStringLiteral("triangle %1: its leaf lists triangle %2 at its leaf index %3")
                .arg(i)
                .arg(list[t.leafIndex])
                .arg(t.leafIndex);
        // Ray and sphere queries skip a node whose loose box they miss: the loose box of the
        // leaf and of every ancestor must hold the triangle's box.
        for (const Octree *node = t.leaf; node; node = node->parent) {
            if (!t.aabb.contains(node->aabbLoose))
                return QStringLiteral(
                    "triangle %1's box is not inside the loose box of its octree node at depth %2")
                    .arg(i)
                    .arg(node->depth);
        }
    }
    // Every entry of every leaf is a triangle that names this leaf and position, so no triangle
    // is listed twice.
    long listed = 0;
    for (const Octree *leaf : leaves) {
        const auto &list = leaf->triangleIndices;
        for (int k = 0; k < static_cast<int>(list.size()); ++k) {
            const int t = list[k];
            if (t < 0 || t >= nbT)
                return QStringLiteral("an octree leaf lists triangle %1, out of range [0, %2)")
                    .arg(t)
                    .arg(nbT);
            if (triangles[t].leaf != leaf || triangles[t].leafIndex != k)
                return QStringLiteral("an octree leaf lists triangle %1 at position %2, but the "
                                      "triangle names another place")
                    .arg(t)
                    .arg(k);
        }
        listed += static_cast<long>(list.size());
    }
    if (listed != nbT)
        return QStringLiteral("the octree leaves list %1 entries for %2 triangles")
            .arg(listed)
            .arg(nbT);
    return {};
}
