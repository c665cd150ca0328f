#include "VertexMap.h"

#include <algorithm>

namespace {

std::size_t capacityFor(std::size_t n)
{
    // Load factor at most one half.
    return std::bit_ceil(std::max<std::size_t>(16, n * 2));
}

} // namespace

VertexMap::VertexMap(std::size_t expectedVertices)
    : slots_(capacityFor(expectedVertices), Slot {{0, 0, 0}, -1})
    , mask_(slots_.size() - 1)
{ }

void VertexMap::grow()
{
    std::vector<Slot> old(slots_.size() * 2, Slot {{0, 0, 0}, -1});
    old.swap(slots_);
    mask_ = slots_.size() - 1;
    for (const Slot &slot : old) {
        if (slot.index < 0)
            continue;
        std::uint64_t i = hash(slot.key) & mask_;
        while (slots_[i].index >= 0)
            i = (i + 1) & mask_;
        slots_[i] = slot;
    }
}

void weldEqualPositions(std::vector<QVector3D> &positions, std::vector<int> &corners)
{
    VertexMap map(positions.size());
    std::vector<QVector3D> welded;
    welded.reserve(positions.size());
    std::vector<int> newIndex(positions.size());
    for (std::size_t i = 0; i < positions.size(); ++i)
        newIndex[i] = map.findOrAdd(positions[i], welded);
    if (welded.size() == positions.size())
        return;
    for (int &c : corners)
        c = newIndex[static_cast<std::size_t>(c)];
    welded.shrink_to_fit();
    positions.swap(welded);
}
