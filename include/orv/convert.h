// Whole arrays of coordinates converted at once, on the widest vector unit the CPU offers.
//
// The engine follows the same formulas, constants, region test and order of operations as
// `JyrCoorTransform`; its sine, cosine and arctangent are vector versions, so results may differ
// from the single forms in the last bits: by at most 1e-10 degree per coordinate. Inputs that are
// not finite, or too large for the vector functions, are converted by the single forms and give
// exactly their results.
//
// GCJ-02 to WGS-84 (and BD-09 to WGS-84, which goes through GCJ-02) has two methods:
// - `iterative` (the default): p <- p - (forward(p) - target), all lanes of a vector until each
//   is within 1e-9 degree, at most 30 rounds; the result is the step taken from the best point.
//   Where a preimage exists the result is within 1e-10 degree of it (a few 1e-12 typically):
//   far more accurate than the quadrant search (about one metre), and many times faster. At the
//   region's edges too: iterates of a target inside the region stay inside it. A strip along the
//   west and south edges is the image of no point; there the result is the point just across the
//   edge, which maps onto itself.
// - `search`: the quadrant search of `JyrCoorTransform::transformFromGCJToWGS`, point by point,
//   with exactly its results.
//
// The engine picks AVX-512, AVX2 or SSE4 on x86-64 and NEON on arm64 at run time, with a portable
// fallback (plain C++ on one lane). Every function is thread-safe and never throws.
#pragma once

#include <span>

#include "orv/export.h"
#include "orv/location.h"

namespace orv {

enum class Direction { wgsToGcj, gcjToWgs, gcjToBaidu, baiduToGcj, wgsToBaidu, baiduToWgs };

enum class InverseMethod { iterative, search };

// out[i] = conversion of in[i]. `out` may be `in` itself, otherwise the two must not overlap.
// Returns false and writes nothing when `out` is shorter than `in`. Any alignment is fine.
ORV_API bool convert(Direction direction, std::span<const Coordinate> in, std::span<Coordinate> out,
                     InverseMethod inverse = InverseMethod::iterative) noexcept;

// The same on separate latitude and longitude columns (degrees). Each output column may be the
// input column of the same name, otherwise it must not overlap any input. Returns false and writes
// nothing when the input columns differ in length, an output is shorter than them, the outputs
// overlap each other or an output overlaps an input other than its own.
ORV_API bool convert(Direction direction, std::span<const double> latitude,
                     std::span<const double> longitude, std::span<double> outLatitude,
                     std::span<double> outLongitude,
                     InverseMethod inverse = InverseMethod::iterative) noexcept;

// The instruction set the engine runs on: "AVX3" (AVX-512), "AVX2", "SSE4", "SSSE3", "NEON", or
// "SCALAR" for the portable fallback.
ORV_API const char* convertTarget() noexcept;

}  // namespace orv
