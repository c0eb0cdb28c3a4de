// Faults on demand: which requests get dropped or answered 500, decided from a seed and the
// request's arrival number alone, so a run with the same seed repeats.
#pragma once

#include <cstdint>

namespace orv::emulator {

enum class Fault { none, drop, fail };

class FaultPlan {
 public:
  FaultPlan(double dropRate, double failRate, uint64_t seed)
      : dropRate_(dropRate), failRate_(failRate), seed_(seed) {}

  // The fault of the request that arrived `requestNumber`-th (from 0). A drop is decided first;
  // the failure rate applies to the requests that were not dropped.
  Fault decide(uint64_t requestNumber) const;

 private:
  double draw(uint64_t requestNumber, uint64_t stream) const;

  double dropRate_;
  double failRate_;
  uint64_t seed_;
};

}  // namespace orv::emulator
