#pragma once

// Loops over fewer elements than this run in the calling thread (an OpenMP `if` clause): on the
// brush-sized sets of one sculpting step, waking the other threads and moving the records' cache
// lines between cores costs more than the loop itself. Only element-wise loops (each iteration
// writes its own element) take the clause, so their results do not depend on it.
constexpr int parallelMinimum = 20000;
