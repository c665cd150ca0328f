#pragma once

#if defined(__SSE2__)
#include "mesh/Aabb.h"

#include <emmintrin.h>

namespace Geometry {

// A box's corners as three lanes each (the last lane unused): two loads within the box's six
// floats, min then max.
inline void boxLanes(const Aabb &box, __m128 &min, __m128 &max)
{
    static_assert(sizeof(Aabb) == 6 * sizeof(float));
    const auto *f = reinterpret_cast<const float *>(&box);
    min = _mm_loadu_ps(f);
    const __m128 upper = _mm_loadu_ps(f + 2);
    max = _mm_shuffle_ps(upper, upper, _MM_SHUFFLE(0, 3, 2, 1));
}

// Lane by lane, `yes` where `mask` is set and `no` elsewhere.
inline __m128 selectFour(__m128 mask, __m128 yes, __m128 no)
{
    return _mm_or_ps(_mm_and_ps(mask, yes), _mm_andnot_ps(mask, no));
}

// The lengths of four vectors given by their coordinates (x, y, z, each of four lanes), each
// with the operations of QVector3D::length (std::hypot of three floats) in the same order, so
// that every lane gets the bits that one vector alone would: the largest magnitude a, then
// a * sqrt((x / a)^2 + (y / a)^2 + (z / a)^2), and 0 when a is 0.
inline __m128 lengthFour(__m128 x, __m128 y, __m128 z)
{
    const __m128 sign = _mm_set1_ps(-0.0f);
    const __m128 ax = _mm_andnot_ps(sign, x);
    const __m128 ay = _mm_andnot_ps(sign, y);
    const __m128 az = _mm_andnot_ps(sign, z);
    // a = x < y ? (y < z ? z : y) : (x < z ? z : x), on the magnitudes.
    const __m128 a = selectFour(_mm_cmplt_ps(ax, ay), selectFour(_mm_cmplt_ps(ay, az), az, ay),
        selectFour(_mm_cmplt_ps(ax, az), az, ax));
    const __m128 qx = _mm_div_ps(ax, a);
    const __m128 qy = _mm_div_ps(ay, a);
    const __m128 qz = _mm_div_ps(az, a);
    const __m128 sum =
        _mm_add_ps(_mm_add_ps(_mm_mul_ps(qx, qx), _mm_mul_ps(qy, qy)), _mm_mul_ps(qz, qz));
    // A zero largest magnitude gives a zero length (a NaN one goes through the formula).
    return _mm_andnot_ps(_mm_cmpeq_ps(a, _mm_setzero_ps()), _mm_mul_ps(a, _mm_sqrt_ps(sum)));
}

} // namespace Geometry
#endif
