// The default source when the host chose none: the first system source that answers at start.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "location/location_stream.h"

namespace orv::detail {

// One system source the default may use, in order of preference.
struct SystemCandidate {
  std::string name;  // "gpsd at 127.0.0.1:2947"
  // Cheap check at each start: nothing when the source answers, else why not.
  std::function<std::optional<std::string>()> probe;
  // The provider to stream from; made once, on first use.
  std::function<std::shared_ptr<LocationProvider>()> make;
};

// The candidates, most preferred first.
std::vector<SystemCandidate> systemCandidates();

class SystemProvider final : public OpenOnlyProvider {
 public:
  explicit SystemProvider(std::vector<SystemCandidate> candidates = systemCandidates());

  // The status of the source last chosen; not determined before the first start.
  AuthorizationStatus authorizationStatus() const override;
  void requestAuthorization(bool always) override;
  std::unique_ptr<LocationStream> open(const std::shared_ptr<LocationSink>& sink) override;

 private:
  struct Entry {
    SystemCandidate candidate;
    std::shared_ptr<LocationProvider> provider;
  };
  std::shared_ptr<LocationProvider> choose(std::string& tried);

  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
  std::shared_ptr<LocationProvider> lastChosen_;
};

}  // namespace orv::detail
