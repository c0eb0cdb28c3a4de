// What a batch of each kind sends and how it reads the answers: the client's request bodies and
// decoders, and its typed errors.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "network/transport.h"
#include "network/url_request.h"
#include "orv/batch.h"
#include "orv/error.h"
#include "orv/result.h"

namespace orv::detail {

struct BatchSpec {
  size_t count = 0;
  // Inputs with equal keys are requested once.
  std::function<std::string(size_t)> key;
  std::function<Result<URLRequest>(size_t)> build;
  // Fills `out` from a successful answer, or returns the typed failure.
  std::function<std::optional<LocationError>(TransferOutcome, BatchOutcome& out)> decode;
};

BatchSpec reverseGeocodeSpec(std::vector<ReverseGeocodeInput> inputs, std::string accessKey,
                             double timeout);
BatchSpec geocodeSpec(std::vector<GeocodeInput> inputs, std::string accessKey, double timeout);
BatchSpec trackSpec(std::vector<Location> fixes, std::string accessKey, double timeout);

}  // namespace orv::detail
