#pragma once

#include "io/Progress.h"

#include <QVector3D>

#include <omp.h>

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

    struct Key
    {
        std::uint32_t x, y, z;
        bool operator==(const Key &) const = default;
    };
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
    // The value stored with `key` (whose hash is `h`), storing `value` first when the key is new.
    int findOrInsert(const Key &key, std::uint64_t h, int value);
    // Starts fetching the slot of a key with this hash, to hide the latency of its lookup.
    void prefetch(std::uint64_t h) const
    {
#if defined(__GNUC__) || defined(__clang__)
        __builtin_prefetch(&slots_[h & mask_]);
#else
        (void)h;
#endif
    }

private:
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
    void grow();

    std::vector<Slot> slots_;
    std::uint64_t mask_ = 0;
    std::size_t count_ = 0;
};

// Merges `count` positions, the i-th given by position(i), the way VertexMap compares them:
// indices[i] receives the number of the first position equal to position i, positions being
// numbered in order of first appearance, and `merged` (cleared first) the first positions in
// that order, bit for bit as given. `expected` guesses the number of distinct positions. The
// threads split the keys between them by hash, each merging its share in order; the numbers are
// then given by a scan, so the result is the same whatever the number of threads. `position`
// is called from several threads at once; the progress sink hears 0 to 100 from this thread.
template<typename PositionOf>
void mergeEqualPositions(std::size_t count, const PositionOf &position, int *indices,
    std::vector<QVector3D> &merged, std::size_t expected, const ProgressSink &progress = {});

// Welds a parsed list of positions in place: vertices at exactly equal positions (as VertexMap
// compares them) become one, numbered in order of first appearance in `positions`, and every
// corner is renumbered to match. Corners must name existing positions.
void weldEqualPositions(std::vector<QVector3D> &positions, std::vector<int> &corners);

inline int VertexMap::findOrInsert(const Key &key, std::uint64_t h, int value)
{
    std::uint64_t i = h & mask_;
    for (;;) {
        const Slot &slot = slots_[i];
        if (slot.index < 0)
            break;
        // Equal keys are equal floats, given that no NaN gets here.
        if (slot.key == key)
            return slot.index;
        i = (i + 1) & mask_;
    }
    slots_[i] = Slot {key, value};
    if (++count_ * 2 > slots_.size())
        grow();
    return value;
}

inline int VertexMap::findOrAdd(const QVector3D &position, std::vector<QVector3D> &positions)
{
    const Key key = keyOf(position);
    const int index = static_cast<int>(positions.size());
    const int found = findOrInsert(key, hash(key), index);
    if (found == index)
        positions.push_back(position);
    return found;
}

namespace MergeDetail {

// ParseCommon::prefault, for this header.
void prefaultArray(const void *data, std::size_t bytes);
// How many threads share a merge of `count` positions: all, but never more than the positions.
int threadsFor(std::size_t count);
// The thread's share of the keys: the hash's high bits, spread over the threads.
inline int shareOf(std::uint64_t h, int threads)
{
    return static_cast<int>(((h >> 32) * static_cast<std::uint64_t>(threads)) >> 32);
}
// From indices[i] = the first i' with an equal position (i itself for a first), the numbers in
// order of first appearance; firsts[n] receives the i of number n.
void number(std::size_t count, int *indices, std::vector<int> &firsts);

} // namespace MergeDetail

template<typename PositionOf>
void mergeEqualPositions(std::size_t count, const PositionOf &position, int *indices,
    std::vector<QVector3D> &merged, std::size_t expected, const ProgressSink &progress)
{
    const int threads = MergeDetail::threadsFor(count);
    ProgressReporter reporter(progress, static_cast<qint64>(count));
#pragma omp parallel num_threads(threads) if (threads > 1)
    {
        // Every thread reads every position and keeps those of its share, in order, so the
        // first position of each key it meets is the first of the whole list. The positions of
        // its share are gathered by blocks; the slots of a block are prefetched while the block
        // before it is looked up.
        // (The team may be smaller than asked for: its own size splits the keys.)
        const int shares = omp_get_num_threads();
        const int share = omp_get_thread_num();
        VertexMap map(expected / static_cast<std::size_t>(shares));
        constexpr int block = 16;
        struct Block
        {
            VertexMap::Key keys[block];
            std::uint64_t hashes[block];
            int at[block];
            int size = 0;
        } blocks[2];
        std::size_t i = 0;
        auto gather = [&](Block &b) {
            b.size = 0;
            for (; i < count && b.size < block; ++i) {
                const int n = b.size;
                b.keys[n] = VertexMap::keyOf(position(i));
                b.hashes[n] = VertexMap::hash(b.keys[n]);
                b.at[n] = static_cast<int>(i);
                b.size += MergeDetail::shareOf(b.hashes[n], shares) == share;
            }
            for (int k = 0; k < b.size; ++k)
                map.prefetch(b.hashes[k]);
        };
        gather(blocks[0]);
        for (int current = 0; blocks[current].size > 0; current ^= 1) {
            gather(blocks[current ^ 1]);
            const Block &b = blocks[current];
            for (int k = 0; k < b.size; ++k)
                indices[b.at[k]] = map.findOrInsert(b.keys[k], b.hashes[k], b.at[k]);
            if (share == 0)
                reporter.update(static_cast<qint64>(i));
        }
    }
    std::vector<int> firsts;
    MergeDetail::number(count, indices, firsts);
    const int n = static_cast<int>(firsts.size());
    merged.clear();
    merged.reserve(firsts.size());
    MergeDetail::prefaultArray(merged.data(), firsts.size() * sizeof(QVector3D));
    merged.resize(firsts.size());
#pragma omp parallel for schedule(static) num_threads(threads) if (threads > 1)
    for (int k = 0; k < n; ++k)
        merged[k] = position(static_cast<std::size_t>(firsts[k]));
    reporter.finish();
}
