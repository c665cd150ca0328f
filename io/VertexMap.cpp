#include "VertexMap.h"
#include "ParseCommon.h"

#include <algorithm>
#include <atomic>
#include <climits>

namespace {

std::size_t capacityFor(std::size_t n)
{
    // Load factor at most one half.
    return std::bit_ceil(std::max<std::size_t>(16, n * 2));
}

} // namespace

VertexMap::VertexMap(std::size_t expectedVertices)
    : mask_(capacityFor(expectedVertices) - 1)
{
    slots_.reserve(mask_ + 1);
    ParseCommon::prefault(slots_.data(), (mask_ + 1) * sizeof(Slot));
    slots_.assign(mask_ + 1, Slot {{0, 0, 0}, -1});
}

void VertexMap::grow()
{
    std::vector<Slot> old;
    old.reserve(slots_.size() * 2);
    ParseCommon::prefault(old.data(), old.capacity() * sizeof(Slot));
    old.assign(old.capacity(), Slot {{0, 0, 0}, -1});
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

namespace MergeDetail {

void prefaultArray(const void *data, std::size_t bytes)
{
    ParseCommon::prefault(data, bytes);
}

int threadsFor(std::size_t count)
{
    // All threads whatever the size (but none without work), so that the smallest files check
    // the shared merge too.
    return static_cast<int>(std::clamp<std::size_t>(
        count, 1, static_cast<std::size_t>(std::max(1, omp_get_max_threads()))));
}

void number(std::size_t count, int *indices, std::vector<int> &firsts)
{
    // Each chunk counts its firsts, numbers them from its offset and marks them with the high
    // bit; then every entry takes the number of its first, which another chunk may be unmarking
    // at the same time (hence the atomic accesses, plain moves on common processors).
    const int chunks = threadsFor(count);
    auto begin = [&](int c) { return count * static_cast<std::size_t>(c) / chunks; };
    std::vector<std::size_t> offsets(static_cast<std::size_t>(chunks) + 1, 0);
#pragma omp parallel for schedule(static, 1) num_threads(chunks) if (chunks > 1)
    for (int c = 0; c < chunks; ++c) {
        std::size_t firstsHere = 0;
        for (std::size_t i = begin(c); i < begin(c + 1); ++i)
            firstsHere += static_cast<std::size_t>(indices[i]) == i;
        offsets[c + 1] = firstsHere;
    }
    for (int c = 0; c < chunks; ++c)
        offsets[c + 1] += offsets[c];
    firsts.reserve(offsets[chunks]);
    ParseCommon::prefault(firsts.data(), offsets[chunks] * sizeof(int));
    firsts.resize(offsets[chunks]);
    constexpr int marked = INT_MIN;
#pragma omp parallel for schedule(static, 1) num_threads(chunks) if (chunks > 1)
    for (int c = 0; c < chunks; ++c) {
        std::size_t next = offsets[c];
        for (std::size_t i = begin(c); i < begin(c + 1); ++i) {
            if (static_cast<std::size_t>(indices[i]) == i) {
                firsts[next] = static_cast<int>(i);
                std::atomic_ref<int>(indices[i])
                    .store(static_cast<int>(next++) | marked, std::memory_order_relaxed);
            }
        }
    }
#pragma omp parallel for schedule(static, 1) num_threads(chunks) if (chunks > 1)
    for (int c = 0; c < chunks; ++c) {
        for (std::size_t i = begin(c); i < begin(c + 1); ++i) {
            std::atomic_ref<int> entry(indices[i]);
            int value = entry.load(std::memory_order_relaxed);
            if (value >= 0)
                value = std::atomic_ref<int>(indices[value]).load(std::memory_order_relaxed);
            entry.store(value & INT_MAX, std::memory_order_relaxed);
        }
    }
}

} // namespace MergeDetail

void weldEqualPositions(std::vector<QVector3D> &positions, std::vector<int> &corners)
{
    std::vector<int> newIndex(positions.size());
    std::vector<QVector3D> welded;
    mergeEqualPositions(
        positions.size(), [&positions](std::size_t i) { return positions[i]; }, newIndex.data(),
        welded, positions.size());
    if (welded.size() == positions.size())
        return;
    const auto n = static_cast<std::ptrdiff_t>(corners.size());
#pragma omp parallel for schedule(static) if (n > 100000)
    for (std::ptrdiff_t k = 0; k < n; ++k)
        corners[k] = newIndex[static_cast<std::size_t>(corners[k])];
    positions.swap(welded);
}
