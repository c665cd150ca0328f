#pragma once

#include "mesh/Aabb.h"

#include <QVector3D>

#include <cstdint>
#include <vector>

class Mesh;

// A uniform grid of cubic cells over a box, each cell listing vertex indices, to find the
// vertices near a point without comparing all pairs. Lives for one fusion pass.
//
// The box is the vertices' box enlarged by a tenth of its extent on every side. A cell size of
// 0 makes the whole grid one cell. The cells are stored as one index array with an offset per
// cell (filled in list order, so each cell keeps the order in which its vertices were filed).
class Grid
{
public:
    // Copies the box and enlarges it on each axis by 0.1 of its extent on that axis.
    explicit Grid(const Aabb &box);

    // Sets the cell size (an integer number of mesh units) and the dimensions. A size below 1
    // gives a single cell. A size with a fraction is rounded up, so that two points closer than
    // `size` always lie in neighbouring cells. When the cells would be more than maxCellCount,
    // the cell size is doubled until they are not (fewer, larger cells find the same pairs).
    void init(float size);
    // Files each listed vertex, in order, into the cell of its position. Points outside the
    // grid (or not finite) go to the nearest cell on each axis.
    void build(const Mesh &mesh, const std::vector<int> &vertices);
    // The vertices filed in the 3 x 3 x 3 cells around the cell of p (limited to the grid), x
    // outermost, then y, then z innermost.
    std::vector<int> getNeighborhood(const QVector3D &p) const;
    // Same, into `out` (cleared first), to reuse its storage.
    void getNeighborhood(const QVector3D &p, std::vector<int> &out) const;

    static constexpr std::int64_t maxCellCount = std::int64_t(1) << 21;

    const Aabb &getBox() const { return box_; }
    int getCellSize() const { return cellSize_; }
    int getNx() const { return nx_; }
    int getNy() const { return ny_; }
    int getNz() const { return nz_; }
    // Number of cells: nx * ny * nz + 1 (one more than the grid needs).
    int getCellCount() const { return cellCount_; }

private:
    // Cell coordinates of p on each axis, clamped into the grid.
    void cellOf(const QVector3D &p, int &ix, int &iy, int &iz) const;
    int axisCell(float value, float min, int n) const;

    Aabb box_;
    int nx_ = 1;
    int ny_ = 1;
    int nz_ = 1;
    int layerSize_ = 1;
    int cellSize_ = 0;
    int cellCount_ = 2;
    // Cell c holds entries_[offsets_[c] .. offsets_[c + 1]).
    std::vector<int> offsets_;
    std::vector<int> entries_;
};
