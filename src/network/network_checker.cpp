#include "network/network_checker.h"

#include <mutex>

#include "platform/route_query.h"

namespace orv::detail {
namespace {

struct Seam {
  std::mutex mutex;
  NetworkChecker::FlagsQuery query;
};

Seam& seam() {
  static Seam value;
  return value;
}

}  // namespace

static_assert(NetworkChecker::kReachable == kRouteReachable);
static_assert(NetworkChecker::kConnectionRequired == kRouteConnectionRequired);

bool NetworkChecker::isNetworkReachable() {
  FlagsQuery query;
  {
    std::lock_guard lock(seam().mutex);
    query = seam().query;
  }
  // Called outside the lock: a slow or re-entrant test query must not block other callers.
  return isReachable(query ? query() : queryDefaultRouteFlags());
}

void NetworkChecker::setFlagsQueryForTesting(FlagsQuery query) {
  std::lock_guard lock(seam().mutex);
  seam().query = std::move(query);
}

}  // namespace orv::detail
