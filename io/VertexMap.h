#pragma once

#include <QVector3D>

#include <cstdint>
#include <vector>

// Maps exact corner positions to vertex indices while a file is read: two positions are the same
// vertex when their x, y and z compare equal as floats (so 0.0 and -0.0 are one vertex). An
// open-addressing hash table over the float bit patterns, with -0.0 folded onto 0.0; the
// positions themselves live in the caller's array, the table only holds indices into it.
// Positions must not be NaN (the readers refuse those before merging).
class VertexMap
{
public:
    explicit VertexMap(std::size_t expectedVertices = 0);

    // Index of the position in `positions`; appends it first when it is not there yet.
    int findOrAdd(const QVector3D &position, std::vector<QVector3D> &positions);

private:
    static std::uint64_t hash(const QVector3D &p);
    void grow(const std::vector<QVector3D> &positions);

    std::vector<std::int32_t> slots_; // -1 = empty
    std::uint64_t mask_ = 0;
    std::size_t count_ = 0;
};
