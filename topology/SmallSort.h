#pragma once

#include <algorithm>
#include <iterator>
#include <vector>

// Ascending sort of the short index lists of a vertex's neighbourhood (a handful of triangles or
// neighbours): by insertion, which beats std::sort's set-up on such lists; std::sort beyond.
// The result is the same as std::sort's for any list of integers.
template<typename Iterator>
void sortSmall(Iterator first, Iterator last)
{
    if (last - first > 32) {
        std::sort(first, last);
        return;
    }
    if (first == last)
        return;
    for (Iterator i = std::next(first); i != last; ++i) {
        const auto value = *i;
        Iterator j = i;
        for (; j != first && value < *std::prev(j); --j)
            *j = *std::prev(j);
        *j = value;
    }
}

// Ascending sort of a long list of record indices: by digits of 11 bits, least significant
// first, in as many passes as the largest index needs (two up to four million records). Short
// lists, and lists with a negative entry, go to std::sort. The result is the same as std::sort's.
inline void sortIndices(std::vector<int> &list, std::vector<int> &scratch)
{
    if (list.size() < 1024) {
        std::sort(list.begin(), list.end());
        return;
    }
    const auto [lowest, highest] = std::minmax_element(list.begin(), list.end());
    const int low = *lowest;
    const int high = *highest;
    if (low < 0) {
        std::sort(list.begin(), list.end());
        return;
    }
    constexpr int bits = 11;
    constexpr int buckets = 1 << bits;
    scratch.resize(list.size());
    std::vector<int> *from = &list;
    std::vector<int> *to = &scratch;
    for (int shift = 0; shift < 31 && (high >> shift) != 0; shift += bits) {
        std::size_t start[buckets] = {};
        for (int value : *from)
            ++start[(value >> shift) & (buckets - 1)];
        std::size_t sum = 0;
        for (std::size_t &s : start) {
            const std::size_t count = s;
            s = sum;
            sum += count;
        }
        for (int value : *from)
            (*to)[start[(value >> shift) & (buckets - 1)]++] = value;
        std::swap(from, to);
    }
    if (from != &list)
        list.swap(scratch);
}
