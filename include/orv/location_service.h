// Where device fixes come from. The host chooses a provider process-wide before creating clients.
// Without a choice starts use the system default (useSystemDefault()).
#pragma once

#include <memory>
#include <string>

#include "orv/export.h"
#include "orv/location_provider.h"
#include "orv/location_sources.h"
#include "orv/result.h"

namespace orv {

class ORV_API LocationService {
 public:
  // Installs the host's own provider; a null one means useNone().
  static void use(std::shared_ptr<LocationProvider> provider);
  // Installs a fresh provider: status 4 (authorized when in use).
  static std::shared_ptr<SimulatedLocationProvider> useSimulated();
  // Fails (nothing changes) when the file cannot be read or a row is malformed.
  static Result<bool> useReplay(const ReplayOptions& options);
  // Fixes from gpsd (authorization: when in use). Nothing connects before the first start; a
  // daemon that cannot be reached, is not gpsd, or stays away more than 10 s after losing the
  // connection fails the start or the run through the delegate.
  static void useGpsd(const GpsdOptions& options = {});
  // The default: at each start, the first system source that answers (today gpsd at
  // 127.0.0.1:2947). When none answers the start fails with a text naming what was tried.
  static void useSystemDefault();
  // Fails (nothing changes) when the source text or baud rate is malformed. Nothing is opened
  // before the first start; a source that cannot be opened then is a positioning failure.
  static Result<bool> useNmea(const NmeaOptions& options);
  // Fails (nothing changes) when the library was built without GeoClue support or the desktop
  // id is empty. Nothing talks to the bus before the first start.
  static Result<bool> useGeoClue(const GeoClueOptions& options);
  // No provider: every start fails with a text saying how to choose one.
  static void useNone();
};

}  // namespace orv
