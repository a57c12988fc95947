// The cache-buster numbers of analytics hits: the run-time library's pseudo-random generator,
// never seeded, with its own state per thread starting at 1. Each call steps
// state = state * 214013 + 2531011 (mod 2^32) and yields (state >> 16) & 0x7FFF, so a thread's
// first two values are 41 and 18467.
#pragma once

[[nodiscard]] int NextReportRandom();
