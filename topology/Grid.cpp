#include "Grid.h"

#include "mesh/Mesh.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double maxAxisCells = double(1 << 30);

// Number of cells of size `cell` needed to cover `extent`, at least 1.
double cellsOnAxis(float extent, double cell)
{
    const double n = std::ceil(double(extent) / cell);
    if (!(n >= 1.0))
        return 1.0; // empty, negative or not finite
    return std::min(n, maxAxisCells);
}

} // namespace

Grid::Grid(const Aabb &box)
    : box_(box)
{
    for (int k = 0; k < 3; ++k) {
        const float margin = 0.1f * (box_.max[k] - box_.min[k]);
        box_.min[k] -= margin;
        box_.max[k] += margin;
    }
}

void Grid::init(float size)
{
    nx_ = ny_ = nz_ = 1;
    cellSize_ = 0;
    // A size below 1 (or not a number) gives one cell for everything.
    if (size >= 1.0f) {
        double cell = std::min(std::ceil(double(size)), maxAxisCells);
        for (;;) {
            const double x = cellsOnAxis(box_.max.x() - box_.min.x(), cell);
            const double y = cellsOnAxis(box_.max.y() - box_.min.y(), cell);
            const double z = cellsOnAxis(box_.max.z() - box_.min.z(), cell);
            if (x * y * z <= double(maxCellCount)) {
                cellSize_ = int(cell);
                nx_ = int(x);
                ny_ = int(y);
                nz_ = int(z);
                break;
            }
            // Too many cells for memory: larger cells find the same pairs, among more others.
            cell *= 2.0;
            if (cell >= maxAxisCells)
                break; // one cell
        }
    }
    layerSize_ = nx_ * ny_;
    cellCount_ = layerSize_ * nz_ + 1;
    offsets_.assign(std::size_t(cellCount_) + 1, 0);
    entries_.clear();
}

int Grid::axisCell(float value, float min, int n) const
{
    const double d = (double(value) - double(min)) / double(cellSize_);
    if (!(d >= 0.0))
        return 0; // below the grid, or not a number
    if (d >= double(n))
        return n - 1;
    return int(d);
}

void Grid::cellOf(const QVector3D &p, int &ix, int &iy, int &iz) const
{
    if (cellSize_ == 0) {
        ix = iy = iz = 0;
        return;
    }
    ix = axisCell(p.x(), box_.min.x(), nx_);
    iy = axisCell(p.y(), box_.min.y(), ny_);
    iz = axisCell(p.z(), box_.min.z(), nz_);
}

void Grid::build(const Mesh &mesh, const std::vector<int> &vertices)
{
    const std::vector<Vertex> &records = mesh.getVertices();
    const int nbVertices = static_cast<int>(records.size());
    offsets_.assign(std::size_t(cellCount_) + 1, 0);
    std::vector<int> cells;
    cells.reserve(vertices.size());
    for (int v : vertices) {
        if (v < 0 || v >= nbVertices) {
            cells.push_back(-1);
            continue;
        }
        int ix;
        int iy;
        int iz;
        cellOf(records[v].position, ix, iy, iz);
        const int cell = ix + iy * nx_ + iz * layerSize_;
        cells.push_back(cell);
        ++offsets_[std::size_t(cell) + 1];
    }
    for (std::size_t c = 1; c < offsets_.size(); ++c)
        offsets_[c] += offsets_[c - 1];
    entries_.assign(std::size_t(offsets_.back()), -1);
    std::vector<int> fill(offsets_.begin(), offsets_.end() - 1);
    for (std::size_t k = 0; k < vertices.size(); ++k) {
        if (cells[k] >= 0)
            entries_[std::size_t(fill[std::size_t(cells[k])]++)] = vertices[k];
    }
}

std::vector<int> Grid::getNeighborhood(const QVector3D &p) const
{
    std::vector<int> out;
    getNeighborhood(p, out);
    return out;
}

void Grid::getNeighborhood(const QVector3D &p, std::vector<int> &out) const
{
    out.clear();
    if (offsets_.size() < std::size_t(cellCount_) + 1)
        return; // not built
    int ix;
    int iy;
    int iz;
    cellOf(p, ix, iy, iz);
    const int x0 = std::max(ix - 1, 0);
    const int x1 = std::min(ix + 1, nx_ - 1);
    const int y0 = std::max(iy - 1, 0);
    const int y1 = std::min(iy + 1, ny_ - 1);
    const int z0 = std::max(iz - 1, 0);
    const int z1 = std::min(iz + 1, nz_ - 1);
    for (int x = x0; x <= x1; ++x) {
        for (int y = y0; y <= y1; ++y) {
            for (int z = z0; z <= z1; ++z) {
                const int cell = x + y * nx_ + z * layerSize_;
                out.insert(out.end(), entries_.begin() + offsets_[cell],
                    entries_.begin() + offsets_[cell + 1]);
            }
        }
    }
}
