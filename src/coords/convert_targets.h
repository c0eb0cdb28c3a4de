// Which of the engine's compiled instruction sets this CPU can run, and a way to pin one, so that
// tests and benchmarks can exercise every one of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orv::detail {

struct EngineTarget {
  std::string name;
  int64_t bits;  // opaque to callers
};

std::vector<EngineTarget> availableEngineTargets();

// Pins the engine to `target` (one of the available ones) for the whole process; 0 undoes it.
// Not thread-safe: for tests and benchmarks only.
void pinEngineTarget(int64_t target);

}  // namespace orv::detail
