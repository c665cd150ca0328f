#pragma once

#include <algorithm>
#include <iterator>

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
