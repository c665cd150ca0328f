#pragma once

#include "State.h"

#include <cstddef>

class Triangle;
class Vertex;

// Memory held by history states: each saved record by value, plus, for a vertex, the storage of
// its triangle and ring lists that lies outside the record.
namespace HistoryMemory {

std::size_t recordBytes(const Triangle &triangle);
std::size_t recordBytes(const Vertex &vertex);
// Brings state.bytes up to date with the records appended since the last call (saved arrays only
// grow while a state is open) and returns it.
std::size_t update(State &state);
// Frees the spare capacity of a state that will not grow any more.
void shrink(State &state);

} // namespace HistoryMemory
