#include "emulator/faults.h"

namespace orv::emulator {
namespace {

// SplitMix64: a stateless mix, so any request's draw is computed without replaying the others.
uint64_t mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

}  // namespace

double FaultPlan::draw(uint64_t requestNumber, uint64_t stream) const {
  const uint64_t bits = mix(mix(seed_) ^ (requestNumber * 2 + stream));
  return static_cast<double>(bits >> 11) * 0x1.0p-53;  // uniform in [0, 1)
}

Fault FaultPlan::decide(uint64_t requestNumber) const {
  if (dropRate_ > 0 && draw(requestNumber, 0) < dropRate_) return Fault::drop;
  if (failRate_ > 0 && draw(requestNumber, 1) < failRate_) return Fault::fail;
  return Fault::none;
}

}  // namespace orv::emulator
