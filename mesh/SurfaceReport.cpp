#include "SurfaceReport.h"

#include "Mesh.h"

#include <algorithm>
#include <numeric>
#include <utility>

namespace {

bool hasDistinctCorners(const Triangle &t)
{
    return t.vertex1 != t.vertex2 && t.vertex2 != t.vertex3 && t.vertex1 != t.vertex3;
}

// E - V + C of the graph that the border edges make.
long countLoops(std::vector<std::pair<int, int>> &edges)
{
    if (edges.empty())
        return 0;
    std::vector<int> ends;
    ends.reserve(edges.size() * 2);
    for (const auto &[a, b] : edges) {
        ends.push_back(a);
        ends.push_back(b);
    }
    std::sort(ends.begin(), ends.end());
    ends.erase(std::unique(ends.begin(), ends.end()), ends.end());
    auto slot = [&ends](int v) {
        return static_cast<int>(std::lower_bound(ends.begin(), ends.end(), v) - ends.begin());
    };
    std::vector<int> parent(ends.size());
    std::iota(parent.begin(), parent.end(), 0);
    auto root = [&parent](int i) {
        while (parent[i] != i)
            i = parent[i] = parent[parent[i]];
        return i;
    };
    long components = static_cast<long>(ends.size());
    for (const auto &[a, b] : edges) {
        const int ra = root(slot(a));
        const int rb = root(slot(b));
        if (ra != rb) {
            parent[ra] = rb;
            --components;
        }
    }
    return static_cast<long>(edges.size()) - static_cast<long>(ends.size()) + components;
}

} // namespace

SurfaceReport surfaceReport(const Mesh &mesh)
{
    const std::vector<Vertex> &vertices = mesh.getVertices();
    const std::vector<Triangle> &triangles = mesh.getTriangles();
    const int nbVertices = mesh.getNbVertices();
    const int nbTriangles = mesh.getNbTriangles();
    long borderEdges = 0;
    long nonManifoldEdges = 0;
    long repeatedTriangles = 0;
    long degenerateTriangles = 0;
    std::vector<std::pair<int, int>> border;

#pragma omp parallel for schedule(static) reduction(+ : degenerateTriangles)
    for (int t = 0; t < nbTriangles; ++t)
        degenerateTriangles += hasDistinctCorners(triangles[t]) ? 0 : 1;

        // Each edge is counted at its smaller end, each triangle at its smallest corner.
#pragma omp parallel reduction(+ : borderEdges, nonManifoldEdges, repeatedTriangles)
    {
        std::vector<int> others;
        std::vector<std::pair<int, int>> keys;
        std::vector<std::pair<int, int>> ownBorder;
#pragma omp for schedule(static)
        for (int v = 0; v < nbVertices; ++v) {
            others.clear();
            keys.clear();
            for (int t : vertices[v].triangleIndices) {
                const Triangle &tri = triangles[t];
                if (!hasDistinctCorners(tri))
                    continue;
                int lo = nbVertices;
                int hi = -1;
                for (int corner : {tri.vertex1, tri.vertex2, tri.vertex3}) {
                    if (corner > v)
                        others.push_back(corner);
                    if (corner != v) {
                        lo = std::min(lo, corner);
                        hi = std::max(hi, corner);
                    }
                }
                if (lo > v)
                    keys.emplace_back(lo, hi);
            }
            std::sort(others.begin(), others.end());
            for (std::size_t i = 0; i < others.size();) {
                std::size_t j = i;
                while (j < others.size() && others[j] == others[i])
                    ++j;
                if (j - i == 1) {
                    ++borderEdges;
                    ownBorder.emplace_back(v, others[i]);
                } else if (j - i > 2) {
                    ++nonManifoldEdges;
                }
                i = j;
            }
            std::sort(keys.begin(), keys.end());
            for (std::size_t i = 1; i < keys.size(); ++i)
                repeatedTriangles += keys[i] == keys[i - 1] ? 1 : 0;
        }
#pragma omp critical
        border.insert(border.end(), ownBorder.begin(), ownBorder.end());
    }

    SurfaceReport report;
    report.borderEdges = borderEdges;
    report.nonManifoldEdges = nonManifoldEdges;
    report.repeatedTriangles = repeatedTriangles;
    report.degenerateTriangles = degenerateTriangles;
    report.borderLoops = countLoops(border);
    return report;
}
