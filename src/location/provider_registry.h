// The process-wide provider choice. Managers ask for the current one at each call, so a choice
// made before clients exist applies to all of them.
#pragma once

#include <memory>

#include "orv/location_provider.h"

namespace orv::detail {

// The process-wide choice, or the default provider that fails every start.
std::shared_ptr<LocationProvider> currentLocationProvider();
void setLocationProvider(std::shared_ptr<LocationProvider> provider);

// The localized description of the failure every start meets when no provider is chosen.
extern const char* const kNoLocationProviderMessage;

// The localized description of a GeoClue GetClient that no authorization agent answered: the one
// provider failure that is about permission while it is still not determined.
extern const char* const kGeoClueNoAgentMessage;

}  // namespace orv::detail
