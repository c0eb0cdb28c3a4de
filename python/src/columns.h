// Whole-column conversion: the one place that picks the engine behind orvlib.convert.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "orv/convert.h"

namespace orvpy {

enum class System { wgs84, gcj02, bd09 };
// How GCJ-02 (and BD-09) go back to WGS-84.
enum class Inverse { iterative, search };

// Throws pybind11::value_error naming the accepted values.
System parseSystem(const std::string& name, const char* argument);
Inverse parseInverse(const std::string& name);

// The engine's direction; none for the same system.
std::optional<orv::Direction> directionOf(System src, System dst);

// out[i] = the conversion of (lat[i], lng[i]), for contiguous columns of n points. The outputs
// may be the inputs of the same name (otherwise no overlap). Pure arithmetic: callers run it
// without the GIL.
void convertColumns(System src, System dst, Inverse inverse, const double* lat, const double* lng,
                    double* outLat, double* outLng, std::size_t n);

}  // namespace orvpy
