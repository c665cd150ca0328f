#pragma once

#include "Vertex.h"

#include <QVector3D>

// The mask protects vertices from the brush: every deformation moves a vertex by (1 - mask) of
// the step it would otherwise take, and the dynamic topology leaves the edges between two fully
// masked vertices alone.
namespace Mask {

inline bool isFull(const Vertex &v)
{
    return v.mask >= 1.0f;
}

// Moves v by (1 - mask) of `step`: a free vertex exactly by `step`, a fully masked one not at all
// (its position stays bit for bit).
inline void move(Vertex &v, const QVector3D &step)
{
    if (v.mask <= 0.0f)
        v.position += step;
    else if (v.mask < 1.0f)
        v.position += step * (1.0f - v.mask);
}

// Moves v towards `target` by (1 - mask) of the way: a free vertex lands exactly on it.
inline void moveTowards(Vertex &v, const QVector3D &target)
{
    if (v.mask <= 0.0f)
        v.position = target;
    else
        move(v, target - v.position);
}

// A mask value kept within [0, 1] (a NaN gives 0).
inline float clamped(float value)
{
    return value >= 1.0f ? 1.0f : (value > 0.0f ? value : 0.0f);
}

} // namespace Mask
