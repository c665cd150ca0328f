// Surface fusion: vertices of the brushed area that came close to a vertex that is not their
// neighbour are removed in pairs, and the surroundings of the two are stitched together.
//
// Every join is first planned as a list of edits on the two fans (no record changes), checked
// against the triangles around the join, and applied only when the result is sound; a refused
// join leaves the mesh exactly as it was. The plans are made in FusionPlan.cpp.
#include "Grid.h"
#include "Topology.h"

#include "mesh/Mask.h"
#include "mesh/Mesh.h"
#include "sculpt/Sculptor.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <unordered_map>
#include <unordered_set>

namespace {

template<typename List>
bool contains(const List &list, int value)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

} // namespace

void Topology::adaptive(std::vector<int> &list, float d2Fusion)
{
    const std::vector<int> around = mesh->getVerticesFromTriangles(list);
    const int nbVertices = static_cast<int>(vertices.size());
    std::vector<int> inside;
    inside.reserve(around.size());
    for (int v : around) {
        if (v >= 0 && v < nbVertices
            && (vertices[v].position - center).lengthSquared() < radiusSquared)
            inside.push_back(v);
    }

    adaptTopology(inside, d2Fusion);

    // The triangles around the changed and the relaxed vertices: their corners or positions
    // changed, so the mesh update must see them, and their normals (rewritten by it) must be in
    // the history first.
    std::vector<int> changed = touchedVertices;
    changed.insert(changed.end(), relaxedVertices_.begin(), relaxedVertices_.end());
    const std::vector<int> added = mesh->getTrianglesFromVertices(changed);
    mesh->pushState(added, {});
    list.insert(list.end(), added.begin(), added.end());
    const int nbTriangles = static_cast<int>(triangles.size());
    const int counter = ++Triangle::visitCounter;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const int t = list[i];
        if (t < 0 || t >= nbTriangles || triangles[t].visitStamp == counter)
            continue;
        triangles[t].visitStamp = counter;
        list[kept++] = t;
    }
    list.resize(kept);
}

void Topology::adaptTopology(const std::vector<int> &list, float d2Fusion)
{
    touchedVertices.clear();
    trianglesToDelete.clear();
    verticesToDelete.clear();
    relaxedVertices_.clear();
    if (list.empty())
        return;

    const float d2 = d2Fusion * 0.25f;
    Aabb box(vertices[list.front()].position, vertices[list.front()].position);
    for (int v : list)
        box.expandsWithPoint(vertices[v].position);
    Grid grid(box);
    grid.init(std::sqrt(d2));
    grid.build(*mesh, list);

    std::vector<int> candidates;
    for (int v : list) {
        // A fully masked vertex is protected: it is not fused away.
        if (isDeleted(vertices[v]) || Mask::isFull(vertices[v]))
            continue;
        // Neighbours are never fused with v.
        const int counter = ++Vertex::visitCounter;
        for (int w : vertices[v].ringIndices) {
            if (!isDeleted(vertices[w]))
                vertices[w].visitStamp = counter;
        }
        grid.getNeighborhood(vertices[v].position, candidates);
        for (int c : candidates) {
            if (c == v || isDeleted(vertices[c]) || vertices[c].visitStamp == counter
                || Mask::isFull(vertices[c]))
                continue;
            if ((vertices[v].position - vertices[c].position).lengthSquared() >= d2)
                continue;
            if (vertices[v].ringIndices.size() > vertices[c].ringIndices.size())
                vertexJoin(v, c);
            else
                vertexJoin(c, v);
            break;
        }
    }

    deleteMarkedRecords();

    const int nbVertices = static_cast<int>(vertices.size());
    const int counter = ++Vertex::visitCounter;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < touchedVertices.size(); ++i) {
        const int v = touchedVertices[i];
        if (v < 0 || v >= nbVertices || vertices[v].visitStamp == counter)
            continue;
        vertices[v].visitStamp = counter;
        touchedVertices[kept++] = v;
    }
    touchedVertices.resize(kept);

    // Vertices on edges that are not ordinary stay where they are, as in the subdivision.
    for (int v : touchedVertices) {
        if (vertices[v].brushStamp == Vertex::brushCounter && vertexEdges(v).ordinary)
            relaxedVertices_.push_back(v);
    }
    if (relaxedVertices_.empty())
        return;
    mesh->expandVertices(relaxedVertices_, 1);
    // The relaxation moves vertices that no join saved.
    mesh->pushState({}, relaxedVertices_);
    Sculptor relax;
    relax.setMesh(mesh);
    relax.smooth(relaxedVertices_, 1.0f);
}

bool Topology::closedFan(int v, Fan &fan)
{
    fan.clear();
    const IndexList &own = vertices[v].triangleIndices;
    const int nbTriangles = static_cast<int>(triangles.size());
    fan.reserve(own.size());
    for (int t : own) {
        if (t < 0 || t >= nbTriangles)
            return false;
        const Triangle &tri = triangles[t];
        if (isDeleted(tri))
            return false;
        // The corners as buildFan turns them, v last.
        if (tri.vertex1 == v)
            fan.push_back({tri.vertex2, tri.vertex3, t});
        else if (tri.vertex2 == v)
            fan.push_back({tri.vertex3, tri.vertex1, t});
        else if (tri.vertex3 == v)
            fan.push_back({tri.vertex1, tri.vertex2, t});
        else
            return false;
    }
    const std::size_t n = fan.size();
    if (n < 3 || vertices[v].ringIndices.size() != n)
        return false;
    Fan chained = fan;
    if (!chainFan(chained))
        return false;
    // One cycle through every ring vertex once, with no triangle twice.
    for (std::size_t k = 0; k < n; ++k) {
        const FanRecord &record = chained[k];
        if (record.a == v || record.b == v || record.a == record.b
            || record.b != chained[(k + 1) % n].a || !contains(vertices[v].ringIndices, record.a))
            return false;
        for (std::size_t j = 0; j < k; ++j) {
            if (chained[j].a == record.a || chained[j].t == record.t)
                return false;
        }
    }
    fan = std::move(chained);
    return true;
}

void Topology::planEdit(JoinEdit::Kind kind, int first, int second)
{
    joinEdits_.push_back({kind, first, second});
}

bool Topology::vertexJoin(int a, int b)
{
    const int nbVertices = static_cast<int>(vertices.size());
    if (a == b || a < 0 || b < 0 || a >= nbVertices || b >= nbVertices || isDeleted(vertices[a])
        || isDeleted(vertices[b]))
        return false;
    // Both fans must be closed single cycles: a vertex on a border, or one where cones touch,
    // is not joined.
    Fan fanA;
    Fan fanB;
    if (!closedFan(a, fanA) || !closedFan(b, fanB))
        return false;
    const std::vector<int> ringA = vertices[a].ringIndices;
    const std::vector<int> ringB = vertices[b].ringIndices;
    if (contains(ringA, b) || contains(ringB, a) || fanA.size() < fanB.size())
        return false;
    // The join rewrites the triangle lists of both rings: every ring vertex must have ordinary
    // edges only, so that no edge of more than two triangles is touched.
    for (const std::vector<int> *ring : {&ringA, &ringB}) {
        for (int v : *ring) {
            if (!vertexEdges(v).ordinary)
                return false;
        }
    }

    std::vector<int> sortedA = ringA;
    std::vector<int> sortedB = ringB;
    std::sort(sortedA.begin(), sortedA.end());
    std::sort(sortedB.begin(), sortedB.end());
    std::vector<int> shared;
    std::set_intersection(
        sortedA.begin(), sortedA.end(), sortedB.begin(), sortedB.end(), std::back_inserter(shared));

    joinEdits_.clear();
    joinRefused_ = false;
    Fan planA = fanA;
    Fan planB = fanB;
    if (shared.empty())
        connect1Ring(planA, planB);
    else
        connectLinkedFans(planA, planB, shared);
    if (joinRefused_ || !joinIsSound(a, b, fanA, fanB, shared)) {
        joinEdits_.clear();
        return false;
    }

    // Apply: save, turn the fans' triangles so that a and b are their third corners, edit.
    mesh->pushState(vertices[a].triangleIndices, ringA);
    mesh->pushState(vertices[b].triangleIndices, ringB);
    saveVertex(a);
    saveVertex(b);
    Fan turned;
    buildFan(a, turned);
    buildFan(b, turned);
    for (const JoinEdit &edit : joinEdits_) {
        switch (edit.kind) {
        case JoinEdit::SetApex:
            triangles[edit.first].vertex3 = edit.second;
            break;
        case JoinEdit::AddTriangle:
            vertices[edit.first].addTriangle(edit.second);
            break;
        case JoinEdit::RemoveTriangle:
            vertices[edit.first].removeTriangle(edit.second);
            break;
        case JoinEdit::DropTriangle:
            markTriangleDeleted(edit.first);
            break;
        }
    }
    joinEdits_.clear();

    for (int v : ringA)
        mesh->computeRingVertices(v);
    for (int v : ringB)
        mesh->computeRingVertices(v);
    // The rings are where the neighbourhood changed (a and b themselves are gone).
    touchedVertices.push_back(a);
    touchedVertices.push_back(b);
    touchedVertices.insert(touchedVertices.end(), ringA.begin(), ringA.end());
    touchedVertices.insert(touchedVertices.end(), ringB.begin(), ringB.end());
    markVertexDeleted(a);
    markVertexDeleted(b);
    ++joinsMade;
    checkVertices(ringA, ringB);
    return true;
}

bool Topology::joinIsSound(
    int a, int b, const Fan &fanA, const Fan &fanB, const std::vector<int> &shared) const
{
    // The fans' triangles with their planned corners (a, b, centre) and drops.
    std::unordered_map<int, std::array<int, 3>> corners;
    std::unordered_set<int> dropped;
    for (const Fan *fan : {&fanA, &fanB}) {
        const int centre = fan == &fanA ? a : b;
        for (const FanRecord &r : *fan)
            corners[r.t] = {r.a, r.b, centre};
    }
    // The vertices whose triangle lists change: the two rings.
    std::vector<int> around = vertices[a].ringIndices;
    around.insert(around.end(), vertices[b].ringIndices.begin(), vertices[b].ringIndices.end());
    std::sort(around.begin(), around.end());
    around.erase(std::unique(around.begin(), around.end()), around.end());
    auto isAround = [&around](
                        int v) { return std::binary_search(around.begin(), around.end(), v); };
    std::unordered_map<int, std::vector<int>> lists;
    auto listOf = [&](int v) -> std::vector<int> & {
        auto it = lists.find(v);
        if (it == lists.end())
            it = lists.emplace(v, vertices[v].triangleIndices).first;
        return it->second;
    };

    for (const JoinEdit &edit : joinEdits_) {
        switch (edit.kind) {
        case JoinEdit::SetApex: {
            auto it = corners.find(edit.first);
            if (it == corners.end() || !isAround(edit.second))
                return false;
            it->second[2] = edit.second;
            break;
        }
        case JoinEdit::AddTriangle:
            if (!isAround(edit.first) || !corners.count(edit.second))
                return false;
            listOf(edit.first).push_back(edit.second);
            break;
        case JoinEdit::RemoveTriangle: {
            if (!isAround(edit.first))
                return false;
            std::vector<int> &list = listOf(edit.first);
            auto it = std::find(list.begin(), list.end(), edit.second);
            if (it == list.end())
                return false;
            *it = list.back();
            list.pop_back();
            break;
        }
        case JoinEdit::DropTriangle:
            if (!corners.count(edit.first))
                return false;
            dropped.insert(edit.first);
            break;
        }
    }

    auto cornersNow = [&](int t) -> std::array<int, 3> {
        const Triangle &tri = triangles[t];
        return {tri.vertex1, tri.vertex2, tri.vertex3};
    };
    auto cornersAfter = [&](int t) -> std::array<int, 3> {
        auto it = corners.find(t);
        return it != corners.end() ? it->second : cornersNow(t);
    };

    // Every kept fan triangle has three distinct corners around the join, neither a nor b, at
    // most one of them shared by the two rings (a triangle between two shared vertices would
    // glue the two surfaces along a seam instead of joining them), is listed by each of its
    // corners, and repeats no other triangle.
    for (const auto &[t, c] : corners) {
        if (dropped.count(t))
            continue;
        if (c[0] == c[1] || c[1] == c[2] || c[0] == c[2])
            return false;
        int sharedCorners = 0;
        for (int v : c)
            sharedCorners += std::binary_search(shared.begin(), shared.end(), v) ? 1 : 0;
        if (sharedCorners > 1)
            return false;
        std::array<int, 3> key = c;
        std::sort(key.begin(), key.end());
        for (int v : c) {
            if (v == a || v == b || !isAround(v))
                return false;
            const std::vector<int> &list = listOf(v);
            if (std::count(list.begin(), list.end(), t) != 1)
                return false;
        }
        for (int u : listOf(c[0])) {
            if (u == t || dropped.count(u))
                continue;
            std::array<int, 3> other = cornersAfter(u);
            std::sort(other.begin(), other.end());
            if (other == key)
                return false;
        }
    }

    // Around each ring vertex: its listed triangles are kept and use it, each edge has at most
    // one triangle in each direction (so at most two, opposite ways), and its border edges are
    // the ones it had: the join neither glues a third triangle to an edge nor opens a hole.
    std::unordered_map<int, std::array<int, 2>> before;
    std::unordered_map<int, std::array<int, 2>> after;
    auto countEdges = [](int v, const std::array<int, 3> &c,
                          std::unordered_map<int, std::array<int, 2>> &edges) {
        for (int k = 0; k < 3; ++k) {
            if (c[k] != v)
                continue;
            ++edges[c[(k + 1) % 3]][0]; // v -> next
            ++edges[c[(k + 2) % 3]][1]; // previous -> v
        }
    };
    for (int v : around) {
        before.clear();
        after.clear();
        for (int t : vertices[v].triangleIndices)
            countEdges(v, cornersNow(t), before);
        const std::vector<int> &list = listOf(v);
        for (std::size_t k = 0; k < list.size(); ++k) {
            const int t = list[k];
            if (dropped.count(t))
                return false;
            const std::array<int, 3> c = cornersAfter(t);
            if (c[0] != v && c[1] != v && c[2] != v)
                return false;
            for (std::size_t j = 0; j < k; ++j) {
                if (list[j] == t)
                    return false;
            }
            countEdges(v, c, after);
        }
        for (const auto &[w, count] : after) {
            if (w == a || w == b || count[0] > 1 || count[1] > 1)
                return false;
            const bool borderAfter = count[0] + count[1] == 1;
            auto it = before.find(w);
            const bool borderBefore = it != before.end() && it->second[0] + it->second[1] == 1;
            if (borderAfter != borderBefore)
                return false;
        }
        for (const auto &[w, count] : before) {
            if (w == a || w == b)
                continue;
            if (count[0] + count[1] == 1 && !after.count(w))
                return false;
        }
    }
    return true;
}
