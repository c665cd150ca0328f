#pragma once

#include <QVector3D>

#include <bit>
#include <cstdint>
#include <vector>

// Maps exact corner positions to vertex indices while a file is read: two positions are the same
// vertex when their x, y and z compare equal as floats (so 0.0 and -0.0 are one vertex). An
// open-addressing hash table over the float bit patterns, with -0.0 folded onto 0.0; each slot
// holds the key and the vertex index, so that a lookup touches one cache line.
// Positions must not be NaN (the readers refuse those before merging).
class VertexMap
{
public:
    explicit VertexMap(std::size_t expectedVertices = 0);

    // Index of the position in `positions`; appends it first when it is not there yet.
    int findOrAdd(const QVector3D &position, std::vector<QVector3D> &positions);
    // Starts fetching the slot where `position` will be looked up, to hide the memory latency
    // of a lookup a little later.
    void prefetch(const QVector3D &position) const;

private:
    struct Key
    {
        std::uint32_t x, y, z;
        bool operator==(const Key &) const = default;
    };
    struct Slot
    {
        Key key;
        std::int32_t index; // -1 = empty
    };

    static std::uint32_t bitsOf(float f)
    {
        const std::uint32_t u = std::bit_cast<std::uint32_t>(f);
        return u == 0x80000000u ? 0u : u; // -0.0 is the same key as 0.0
    }
    static Key keyOf(const QVector3D &p) { return {bitsOf(p.x()), bitsOf(p.y()), bitsOf(p.z())}; }
    static std::uint64_t hash(const Key &k)
    {
        std::uint64_t h = k.x * 0x9E3779B97F4A7C15ull;
        h ^= k.y * 0xC2B2AE3D27D4EB4Full;
        h ^= k.z * 0x165667B19E3779F9ull;
        h ^= h >> 29;
        h *= 0xBF58476D1CE4E5B9ull;
        h ^= h >> 32;
        return h;
    }
    void grow();

    std::vector<Slot> slots_;
    std::uint64_t mask_ = 0;
    std::size_t count_ = 0;
};

// Welds a parsed list of positions in place: vertices at exactly equal positions (as VertexMap
// compares them) become one, numbered in order of first appearance in `positions`, and every
// corner is renumbered to match. Corners must name existing positions.
void weldEqualPositions(std::vector<QVector3D> &positions, std::vector<int> &corners);

inline void VertexMap::prefetch(const QVector3D &position) const
{
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(&slots_[hash(keyOf(position)) & mask_]);
#else
    (void)position;
#endif
}

inline int VertexMap::findOrAdd(const QVector3D &position, std::vector<QVector3D> &positions)
{
    const Key key = keyOf(position);
    std::uint64_t i = hash(key) & mask_;
    for (;;) {
        const Slot &slot = slots_[i];
        if (slot.index < 0)
            break;
        // Equal keys are equal floats, given that no NaN gets here.
        if (slot.key == key)
            return slot.index;
        i = (i + 1) & mask_;
    }
    const int index = static_cast<int>(positions.size());
    positions.push_back(position);
    slots_[i] = Slot {key, index};
    if (++count_ * 2 > slots_.size())
        grow();
    return index;
}
