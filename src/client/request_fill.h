// How the client fills the request bodies from a fix and the device facts.
#pragma once

#include <string>

#include "model/request_bodies.h"
#include "orv/location.h"
#include "platform/device_info.h"

namespace orv::detail {

// The device's vendor identifier, or a new random UUID (made anew at every call) without one.
std::string assetId(const DeviceFacts& device);

// The fusion-location body for `fix`, stamped now with a new request id.
TrackRequest makeTrackRequest(const Location& fix, const DeviceFacts& device);

}  // namespace orv::detail
