#pragma once

#include "Aabb.h"

#include <QVector3D>

#include <array>
#include <memory>
#include <vector>

class Mesh;
class Triangle;

// One node of the spatial index over a mesh's triangles. A node is either a leaf holding triangle
// indices, or an inner node with exactly eight children and an empty list. Triangles point back
// to their leaf (Triangle::leaf) and to their position in its list (Triangle::leafIndex).
class Octree
{
public:
    // A node holding more triangles than this is split (unless it is at maxDepth).
    static constexpr int leafCapacity = 2000;
    static constexpr int maxDepth = 8;
    // Margin added on every side of the reference box when a root is built after a load or a
    // rebuild caused by a triangle leaving the root.
    static constexpr float rootMargin = 0.2f;
    // A node splitting more triangles than this builds its children in parallel.
    static constexpr std::size_t parallelBuildSize = 50000;

    explicit Octree(Octree *parent = nullptr, int depth = 0);
    ~Octree();
    Octree(const Octree &) = delete;
    Octree &operator=(const Octree &) = delete;

    // Builds a freshly created node over the candidates whose visit stamp is not the current
    // Triangle::visitCounter. The root and the child in slot 7 take every such candidate whatever
    // its position, so no triangle is ever left outside the tree; other nodes take those whose
    // box centre lies in the cell.
    void build(Mesh &mesh, const std::vector<int> &candidates, const Aabb &box);
    // Creates and builds the eight children from this node's list, then empties the list.
    void split(Mesh &mesh);
    // Inserts triangle index `triangle` below this node when its centre lies in the cell.
    // Returns true when some leaf took it; the first child (in slot order) that takes it wins.
    bool addTriangle(Mesh &mesh, int triangle);
    // The same, called on the root, for triangles that come in runs with centres close together:
    // `hint` (null, or a leaf of this tree) is the leaf that the last placed triangle reached. It
    // and its ancestors are tried before the descent from the root, and it is updated. The result
    // is the same as without it. `margin` is this root's hintMargin(), computed once for a run.
    bool addTriangle(Mesh &mesh, int triangle, Octree *&hint, float margin);
    // How far inside a node's cell a centre must lie for the descent from this node to go
    // through that node.
    float hintMargin() const;

    // Triangles of every leaf whose loose box the ray hits, leaves in slot order.
    std::vector<int> intersectRay(const QVector3D &origin, const QVector3D &direction) const;
    // The same leaves (those with triangles), each with the ray parameter where the ray enters
    // its loose box (0 when the origin is inside), nearest first; equal entries keep slot order.
    struct RayLeaf
    {
        float entry;
        const Octree *leaf;
    };
    std::vector<RayLeaf> intersectRayLeaves(
        const QVector3D &origin, const QVector3D &direction) const;
    // Triangles of every leaf whose loose box the sphere hits, so every triangle with a corner
    // inside the sphere; each such leaf is appended to `leaves`.
    std::vector<int> intersectSphere(
        const QVector3D &center, float radiusSquared, std::vector<Octree *> &leaves);
    // The same leaves alone, appended to `leaves` in the same order, without their triangles.
    void intersectSphereLeaves(
        const QVector3D &center, float radiusSquared, std::vector<Octree *> &leaves);
    // Called on an empty leaf: collects the parent and its eight children when all the children
    // are empty leaves, and goes on upwards while the whole subtree stays empty.
    void cutEmptyLeaves(std::vector<Octree *> &nodes);

    // Removes the entry at `position` of this leaf's list: the last entry takes its place and its
    // triangle's leafIndex follows. The removed triangle's own leaf fields are left untouched.
    void removeAt(Mesh &mesh, int position);
    // Grows the loose box of this node and of its ancestors until one already holds `box`.
    void growLoose(const Aabb &box);

    // Cell of the child in `slot` of a node whose cell is `cell`, in 32-bit float arithmetic.
    static Aabb childCell(const Aabb &cell, int slot);

    bool isLeaf() const { return !children[0]; }
    // Number of nodes in this subtree, this one included.
    int countNodes() const;
    // Depth of the deepest node of this subtree.
    int maxDepthBelow() const;

    Octree *parent = nullptr; // not owning
    std::array<std::unique_ptr<Octree>, 8> children;
    Aabb aabbLoose;
    Aabb aabbSplit;
    std::vector<int> triangleIndices;
    int depth = 0;

private:
    // After this node's list and loose box are gathered: splits it when it holds too many
    // triangles, otherwise makes it the leaf of its triangles.
    void finishBuild(Mesh &mesh);
    void collectRay(
        const QVector3D &origin, const QVector3D &direction, std::vector<int> &result) const;
    void collectRayLeaves(
        const QVector3D &origin, const QVector3D &direction, std::vector<RayLeaf> &result) const;
    int slotInParent() const;
};
