#pragma once

// Loops over fewer elements than this run in the calling thread (an OpenMP `if` clause): on the
// brush-sized sets of one sculpting step, even a large brush's tens of thousands of records,
// waking the other threads and moving the records' cache lines between cores (the previous
// passes wrote them on this one) costs more than the loop itself. Only element-wise loops (each
// iteration writes its own element) take the clause, so their results do not depend on it.
constexpr int parallelMinimum = 100000;
