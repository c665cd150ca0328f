#include "VertexMap.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

std::uint32_t bitsOf(float f)
{
    std::uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u == 0x80000000u ? 0u : u; // -0.0 hashes like 0.0
}

std::size_t capacityFor(std::size_t n)
{
    // Load factor at most one half.
    return std::bit_ceil(std::max<std::size_t>(16, n * 2));
}

} // namespace

VertexMap::VertexMap(std::size_t expectedVertices)
    : slots_(capacityFor(expectedVertices), -1)
    , mask_(slots_.size() - 1)
{ }

std::uint64_t VertexMap::hash(const QVector3D &p)
{
    std::uint64_t h = bitsOf(p.x()) * 0x9E3779B97F4A7C15ull;
    h ^= bitsOf(p.y()) * 0xC2B2AE3D27D4EB4Full;
    h ^= bitsOf(p.z()) * 0x165667B19E3779F9ull;
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 32;
    return h;
}

int VertexMap::findOrAdd(const QVector3D &position, std::vector<QVector3D> &positions)
{
    std::uint64_t i = hash(position) & mask_;
    for (;;) {
        const std::int32_t slot = slots_[i];
        if (slot < 0)
            break;
        const QVector3D &q = positions[static_cast<std::size_t>(slot)];
        // Plain float equality: 0.0 == -0.0, and no NaN ever gets here.
        if (q.x() == position.x() && q.y() == position.y() && q.z() == position.z())
            return slot;
        i = (i + 1) & mask_;
    }
    const int index = static_cast<int>(positions.size());
    positions.push_back(position);
    slots_[i] = index;
    if (++count_ * 2 > slots_.size())
        grow(positions);
    return index;
}

void VertexMap::grow(const std::vector<QVector3D> &positions)
{
    std::vector<std::int32_t> old(slots_.size() * 2, -1);
    old.swap(slots_);
    mask_ = slots_.size() - 1;
    for (std::int32_t slot : old) {
        if (slot < 0)
            continue;
        std::uint64_t i = hash(positions[static_cast<std::size_t>(slot)]) & mask_;
        while (slots_[i] >= 0)
            i = (i + 1) & mask_;
        slots_[i] = slot;
    }
}
