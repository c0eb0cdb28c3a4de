// The conversion engine's vector kernels and the single forms they fall back on, shared by the
// public entry points and the per-instruction-set kernels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "orv/convert.h"

namespace orv::detail {

// The single form of `direction`: for the inverses, the quadrant search.
Coordinate convertSingle(Direction direction, Coordinate c);

// The vector kernels, on the instruction set picked at run time. The inverses are iterative.
// Output may be the input itself.
void engineConvert(Direction direction, const Coordinate* in, Coordinate* out, size_t n);
void engineConvert(Direction direction, const double* lat, const double* lng, double* outLat,
                   double* outLng, size_t n);
const char* engineTargetName();

// Why output columns of n doubles cannot be written while the input columns are read, or null
// when they can: each output may be the input column of the same name exactly, otherwise it
// shares no element with an input or with the other output.
const char* columnsOverlap(const double* lat, const double* lng, const double* outLat,
                           const double* outLng, size_t n);

struct EngineTarget {
  std::string name;
  int64_t bits;  // opaque to callers
};

// The compiled instruction sets this CPU can run, best first.
std::vector<EngineTarget> availableEngineTargets();

// Pins the engine to `target` (one of the available ones) for the whole process; 0 undoes it.
// Not thread-safe: for tests and benchmarks only.
void pinEngineTarget(int64_t target);

}  // namespace orv::detail
