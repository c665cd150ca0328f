#include "Octree.h"

#include "Mesh.h"
#include "Triangle.h"

#include <omp.h>

#include <algorithm>
#include <cmath>

Octree::Octree(Octree *parent, int depth)
    : parent(parent)
    , depth(depth)
{ }

Octree::~Octree() = default;

int Octree::slotInParent() const
{
    if (!parent)
        return -1;
    for (int slot = 0; slot < 8; ++slot) {
        if (parent->children[slot].get() == this)
            return slot;
    }
    return -1;
}

namespace {

// For a list this long, outside any parallel region, the passes of build and split run in
// chunks on all threads.
int chunksFor(std::size_t size)
{
    return size > Octree::parallelBuildSize && !omp_in_parallel() ? omp_get_max_threads() : 1;
}

// Aabb::expandsWithBox, inlined for the passes over whole lists.
inline void grow(Aabb &box, const Aabb &b)
{
    box.min = QVector3D(std::min(box.min.x(), b.min.x()), std::min(box.min.y(), b.min.y()),
        std::min(box.min.z(), b.min.z()));
    box.max = QVector3D(std::max(box.max.x(), b.max.x()), std::max(box.max.y(), b.max.y()),
        std::max(box.max.z(), b.max.z()));
}

// The candidates that `takes` accepts, in order, into `taken`, with `loose` grown by their boxes.
// Each chunk grows a box of its own from an empty one and the chunks' boxes are merged in order:
// min and max keep the earlier of two equal values, so this gives the very floats of a single
// pass (-0.0 and 0.0 included).
template<typename Takes>
void gather(const std::vector<Triangle> &triangles, const std::vector<int> &candidates,
    const Takes &takes, std::vector<int> &taken, Aabb &loose)
{
    const int chunks = chunksFor(candidates.size());
    std::vector<std::vector<int>> parts(static_cast<std::size_t>(chunks));
    std::vector<Aabb> boxes(static_cast<std::size_t>(chunks), Aabb::empty());
    const std::size_t size = candidates.size();
#pragma omp parallel for schedule(static, 1) num_threads(chunks) if (chunks > 1)
    for (int c = 0; c < chunks; ++c) {
        std::vector<int> &part = parts[c];
        Aabb &box = boxes[c];
        const std::size_t end = size * (c + 1) / chunks;
        part.reserve(end - size * c / chunks);
        for (std::size_t k = size * c / chunks; k < end; ++k) {
            const int index = candidates[k];
            const Triangle &t = triangles[index];
            if (!takes(t))
                continue;
            grow(box, t.aabb);
            part.push_back(index);
        }
    }
    for (const Aabb &box : boxes)
        loose.expandsWithBox(box);
    if (chunks == 1) {
        taken.swap(parts[0]);
        return;
    }
    std::size_t total = 0;
    for (const std::vector<int> &part : parts)
        total += part.size();
    taken.reserve(total);
    for (const std::vector<int> &part : parts)
        taken.insert(taken.end(), part.begin(), part.end());
}

} // namespace

void Octree::build(Mesh &mesh, const std::vector<int> &candidates, const Aabb &box)
{
    aabbSplit = box;
    aabbLoose = box;
    triangleIndices.clear();

    std::vector<Triangle> &triangles = mesh.getTriangles();
    const int counter = Triangle::visitCounter;
    // The root and slot 7 take whatever is left, so that every candidate ends in some leaf even
    // when rounding between sibling cells, or a centre outside the root's box, leaves it out.
    const bool takeAll = !parent || slotInParent() == 7;
    if (takeAll) {
        gather(
            triangles, candidates, [counter](const Triangle &t) { return t.visitStamp != counter; },
            triangleIndices, aabbLoose);
    } else {
        gather(
            triangles, candidates,
            [counter, this](const Triangle &t) {
                return t.visitStamp != counter && aabbSplit.containsPoint(t.aabb.computeCenter());
            },
            triangleIndices, aabbLoose);
    }

    finishBuild(mesh);
}

void Octree::finishBuild(Mesh &mesh)
{
    if (static_cast<int>(triangleIndices.size()) > leafCapacity && depth < maxDepth) {
        split(mesh);
        return;
    }

    std::vector<Triangle> &triangles = mesh.getTriangles();
    const int counter = Triangle::visitCounter;
    const int n = static_cast<int>(triangleIndices.size());
    for (int k = 0; k < n; ++k) {
        Triangle &t = triangles[triangleIndices[k]];
        t.visitStamp = counter;
        t.leaf = this;
        t.leafIndex = k;
    }
}

Aabb Octree::childCell(const Aabb &cell, int slot)
{
    const float x0 = cell.min.x(), y0 = cell.min.y(), z0 = cell.min.z();
    const float x1 = cell.max.x(), y1 = cell.max.y(), z1 = cell.max.z();
    const float cx = (x0 + x1) * 0.5f, cy = (y0 + y1) * 0.5f, cz = (z0 + z1) * 0.5f;
    const float hx = (x1 - x0) * 0.5f, hy = (y1 - y0) * 0.5f, hz = (z1 - z0) * 0.5f;
    switch (slot) {
    case 0:
        return Aabb(QVector3D(x0, y0, z0), QVector3D(cx, cy, cz));
    case 1:
        return Aabb(QVector3D(x0 + hx, y0, z0), QVector3D(cx + hx, cy, cz));
    case 2:
        return Aabb(QVector3D(cx, cy - hy, cz), QVector3D(x1, y1 - hy, z1));
    case 3:
        return Aabb(QVector3D(x0, y0, z0 + hz), QVector3D(cx, cy, cz + hz));
    case 4:
        return Aabb(QVector3D(x0, y0 + hy, z0), QVector3D(cx, cy + hy, cz));
    case 5:
        return Aabb(QVector3D(cx, cy, cz - hz), QVector3D(x1, y1, z1 - hz));
    case 6:
        return Aabb(QVector3D(cx, cy, cz), QVector3D(x1, y1, z1));
    default:
        return Aabb(QVector3D(cx - hx, cy, cz), QVector3D(x1 - hx, y1, z1));
    }
}

void Octree::split(Mesh &mesh)
{
    // Building the children one after the other from the whole list, each taking the
    // not yet placed triangles whose centre lies in its cell and slot 7 taking the rest, sends
    // every triangle to the first slot among 0 to 6 whose cell holds its centre, or else to slot
    // 7: a child's subtree places every triangle the child takes. Sorting the list into those
    // eight groups in one pass gives each child only its own candidates, in the same order, and
    // each child takes all of them: the same pass grows the children's loose boxes, and the
    // children go on from there as build would after gathering them.
    Aabb cells[8];
    for (int slot = 0; slot < 8; ++slot)
        cells[slot] = childCell(aabbSplit, slot);
    const std::vector<Triangle> &triangles = mesh.getTriangles();
    const int counter = Triangle::visitCounter;
    // In chunks for a long list, each sorting its part and growing boxes of its own from empty
    // ones; the groups then join the parts in order, and the boxes merge in order (see gather).
    const int chunks = chunksFor(triangleIndices.size());
    std::vector<std::array<std::vector<int>, 8>> parts(static_cast<std::size_t>(chunks));
    std::vector<std::array<Aabb, 8>> boxes(static_cast<std::size_t>(chunks));
    const std::size_t size = triangleIndices.size();
#pragma omp parallel for schedule(static, 1) num_threads(chunks) if (chunks > 1)
    for (int c = 0; c < chunks; ++c) {
        boxes[c].fill(Aabb::empty());
        for (std::size_t k = size * c / chunks; k < size * (c + 1) / chunks; ++k) {
            const int index = triangleIndices[k];
            const Triangle &t = triangles[index];
            if (t.visitStamp == counter)
                continue;
            const QVector3D centre = t.aabb.computeCenter();
            int slot = 0;
            while (slot < 7 && !cells[slot].containsPoint(centre))
                ++slot;
            parts[c][slot].push_back(index);
            grow(boxes[c][slot], t.aabb);
        }
    }
    std::vector<int>().swap(triangleIndices);
    std::size_t total = 0;
    for (int slot = 0; slot < 8; ++slot) {
        auto child = std::make_unique<Octree>(this, depth + 1);
        child->aabbSplit = cells[slot];
        child->aabbLoose = cells[slot];
        for (int c = 0; c < chunks; ++c)
            child->aabbLoose.expandsWithBox(boxes[c][slot]);
        std::vector<int> &group = child->triangleIndices;
        if (chunks == 1) {
            group.swap(parts[0][slot]);
        } else {
            std::size_t count = 0;
            for (const auto &part : parts)
                count += part[slot].size();
            group.reserve(count);
            for (auto &part : parts) {
                group.insert(group.end(), part[slot].begin(), part[slot].end());
                std::vector<int>().swap(part[slot]);
            }
        }
        total += group.size();
        children[slot] = std::move(child);
    }
    // The children's subtrees place disjoint sets of triangles: large ones are built in
    // parallel, each exactly as it would be alone.
#pragma omp parallel for schedule(dynamic, 1) if (total > parallelBuildSize)
    for (int slot = 0; slot < 8; ++slot)
        children[slot]->finishBuild(mesh);
    // A child's cell, computed in floats, can reach a rounding step beyond this cell: this loose
    // box grows to hold the children's, so that loose boxes stay nested and a triangle inside its
    // leaf's loose box is inside every ancestor's.
    for (const auto &child : children)
        aabbLoose.expandsWithBox(child->aabbLoose);
}

namespace {

// How far a centre must lie from the three middle planes of `cell` to be in only its octant's
// child: far more than the rounding of the children's cells, which grows with the coordinates.
float middleClearance(const Aabb &cell)
{
    float size = 0.0f;
    for (int k = 0; k < 3; ++k)
        size = std::max({size, std::abs(cell.min[k]), std::abs(cell.max[k])});
    return 1e-5f * size;
}

// The descent of addTriangle below a node whose cell holds the centre, with the triangle's
// record and centre found once for all levels.
bool placeTriangle(Octree &node, Triangle &t, int triangle, const QVector3D &center)
{
    node.aabbLoose.expandsWithBox(t.aabb);
    if (!node.isLeaf()) {
        // A centre clear of the three middle planes (by far more than the rounding of the
        // children's cells) can only lie in the child of its octant: that child alone is tried.
        const Aabb &cell = node.aabbSplit;
        const float clearance = middleClearance(cell);
        const QVector3D middle = cell.computeCenter();
        const QVector3D offset = center - middle;
        if (std::abs(offset.x()) > clearance && std::abs(offset.y()) > clearance
            && std::abs(offset.z()) > clearance) {
            // Slots by octant (x, y, z high): see Octree::childCell.
            static constexpr int slotOfOctant[8] = {0, 1, 4, 5, 3, 2, 7, 6};
            const int octant = (offset.x() > 0.0f ? 1 : 0) | (offset.y() > 0.0f ? 2 : 0)
                | (offset.z() > 0.0f ? 4 : 0);
            Octree &child = *node.children[slotOfOctant[octant]];
            if (child.aabbSplit.containsPoint(center))
                return placeTriangle(child, t, triangle, center);
        }
        // Neighbouring cells can overlap by a rounding step: the first child that takes the
        // triangle keeps it, so it is never listed twice.
        for (auto &child : node.children) {
            if (child->aabbSplit.containsPoint(center)
                && placeTriangle(*child, t, triangle, center))
                return true;
        }
        return false;
    }
    t.leafIndex = static_cast<int>(node.triangleIndices.size());
    t.leaf = &node;
    node.triangleIndices.push_back(triangle);
    return true;
}

} // namespace

bool Octree::addTriangle(Mesh &mesh, int triangle)
{
    Triangle &t = mesh.getTriangles()[triangle];
    const QVector3D center = t.aabb.computeCenter();
    return aabbSplit.containsPoint(center) && placeTriangle(*this, t, triangle, center);
}

float Octree::hintMargin() const
{
    return 2.0f * middleClearance(aabbSplit);
}

bool Octree::addTriangle(Mesh &mesh, int triangle, Octree *&hint, float margin)
{
    Triangle &t = mesh.getTriangles()[triangle];
    const QVector3D center = t.aabb.computeCenter();
    // Every middle plane that the descent from here compares the centre with, down to a node N,
    // lies on or outside N's cell, to within a rounding step. A centre inside N's cell by more
    // than the margin (hintMargin: twice this node's clearance, the largest on the way down) is
    // clear of all of them and inside every cell on the way: the descent goes through N, growing
    // the loose boxes from here down to it, which growLoose does from N up (loose boxes are
    // nested). The hinted leaf is tried first, then its ancestors.
    Octree *node = hint;
    if (node) {
        auto holds = [&](const Aabb &cell) {
            return (cell.min.x() + margin < center.x()) & (center.x() + margin <= cell.max.x())
                & (cell.min.y() + margin < center.y()) & (center.y() + margin <= cell.max.y())
                & (cell.min.z() + margin < center.z()) & (center.z() + margin <= cell.max.z());
        };
        while (node != this && node && !holds(node->aabbSplit))
            node = node->parent;
    }
    if (node && node != this && node->isLeaf()) {
        // The hinted leaf itself, as the descent would leave it there: its loose box and its
        // ancestors' grow as far as they must (loose boxes are nested).
        node->growLoose(t.aabb);
        t.leafIndex = static_cast<int>(node->triangleIndices.size());
        t.leaf = node;
        node->triangleIndices.push_back(triangle);
    } else if (node && node != this) {
        node->parent->growLoose(t.aabb);
        if (!placeTriangle(*node, t, triangle, center))
            return false;
    } else if (!aabbSplit.containsPoint(center) || !placeTriangle(*this, t, triangle, center)) {
        return false;
    }
    hint = t.leaf;
    return true;
}

void Octree::collectRay(
    const QVector3D &origin, const QVector3D &direction, std::vector<int> &result) const
{
    if (!aabbLoose.intersectRay(origin, direction))
        return;
    if (isLeaf()) {
        result.insert(result.end(), triangleIndices.begin(), triangleIndices.end());
        return;
    }
    for (const auto &child : children)
        child->collectRay(origin, direction, result);
}

std::vector<int> Octree::intersectRay(const QVector3D &origin, const QVector3D &direction) const
{
    std::vector<int> result;
    collectRay(origin, direction, result);
    return result;
}

void Octree::collectRayLeaves(
    const QVector3D &origin, const QVector3D &direction, std::vector<RayLeaf> &result) const
{
    float entry;
    if (!aabbLoose.intersectRay(origin, direction, &entry))
        return;
    if (isLeaf()) {
        if (!triangleIndices.empty())
            result.push_back({std::max(entry, 0.0f), this});
        return;
    }
    for (const auto &child : children)
        child->collectRayLeaves(origin, direction, result);
}

std::vector<Octree::RayLeaf> Octree::intersectRayLeaves(
    const QVector3D &origin, const QVector3D &direction) const
{
    std::vector<RayLeaf> result;
    collectRayLeaves(origin, direction, result);
    std::stable_sort(result.begin(), result.end(),
        [](const RayLeaf &a, const RayLeaf &b) { return a.entry < b.entry; });
    return result;
}

void Octree::intersectSphereLeaves(
    const QVector3D &center, float radiusSquared, std::vector<Octree *> &leaves)
{
    // The loose box, which holds the boxes of the triangles below: a vertex inside the sphere
    // belongs to a triangle whose centre, and so whose cell, may lie well outside the sphere.
    if (!aabbLoose.intersectSphere(center, radiusSquared))
        return;
    if (isLeaf()) {
        leaves.push_back(this);
        return;
    }
    for (auto &child : children)
        child->intersectSphereLeaves(center, radiusSquared, leaves);
}

std::vector<int> Octree::intersectSphere(
    const QVector3D &center, float radiusSquared, std::vector<Octree *> &leaves)
{
    const std::size_t first = leaves.size();
    intersectSphereLeaves(center, radiusSquared, leaves);
    std::vector<int> result;
    for (std::size_t k = first; k < leaves.size(); ++k)
        result.insert(
            result.end(), leaves[k]->triangleIndices.begin(), leaves[k]->triangleIndices.end());
    return result;
}

void Octree::cutEmptyLeaves(std::vector<Octree *> &nodes)
{
    // `emptied` is the node whose whole subtree has just been found empty; it still has its
    // children until the caller detaches them, so it counts as an empty leaf here.
    Octree *emptied = this;
    Octree *p = parent;
    while (p) {
        for (const auto &child : p->children) {
            if (child.get() == emptied)
                continue;
            if (!child->triangleIndices.empty() || !child->isLeaf())
                return;
        }
        nodes.push_back(p);
        for (const auto &child : p->children)
            nodes.push_back(child.get());
        emptied = p;
        p = p->parent;
    }
}

void Octree::removeAt(Mesh &mesh, int position)
{
    const int last = static_cast<int>(triangleIndices.size()) - 1;
    if (position < 0 || position > last)
        return;
    if (position != last) {
        const int moved = triangleIndices[last];
        triangleIndices[position] = moved;
        mesh.getTriangles()[moved].leafIndex = position;
    }
    triangleIndices.pop_back();
}

void Octree::growLoose(const Aabb &box)
{
    for (Octree *node = this; node && !box.contains(node->aabbLoose); node = node->parent)
        node->aabbLoose.expandsWithBox(box);
}

int Octree::countNodes() const
{
    int n = 1;
    if (!isLeaf()) {
        for (const auto &child : children)
            n += child->countNodes();
    }
    return n;
}

int Octree::maxDepthBelow() const
{
    int d = depth;
    if (!isLeaf()) {
        for (const auto &child : children)
            d = std::max(d, child->maxDepthBelow());
    }
    return d;
}
