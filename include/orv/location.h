// Coordinates and device fixes as the public API carries them.
#pragma once

#include <chrono>

namespace orv {

// Latitude then longitude, degrees.
struct Coordinate {
  double latitude = 0.0;
  double longitude = 0.0;
};

// One device fix. Negative accuracies and speed mean "invalid", as device location services report.
struct Location {
  Coordinate coordinate;
  double altitude = 0.0;
  double horizontalAccuracy = -1.0;
  double verticalAccuracy = -1.0;
  double speed = -1.0;
  double course = -1.0;
  std::chrono::system_clock::time_point timestamp{};
};

}  // namespace orv
