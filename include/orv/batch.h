// Whole datasets through the service: many requests of one kind (reverse geocoding, geocoding,
// fusion location of recorded fixes) with bounded concurrency, a client-side rate limit, retries
// of what may be retried, one request per distinct input, and cancellation.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "orv/error.h"
#include "orv/export.h"
#include "orv/geocode_res.h"
#include "orv/location.h"
#include "orv/location_res.h"
#include "orv/run_loop.h"

namespace orv {

class OrvClientLocation;
namespace detail {
struct BatchSpec;
}

struct ReverseGeocodeInput {
  double latitude = 0;  // GCJ-02
  double longitude = 0;
};

struct GeocodeInput {
  std::string address;
  std::string city;
};

struct BatchOptions {
  // Requests in flight at once.
  int concurrency = 8;
  // Requests started per second (token bucket refilled at this rate); 0 for no limit. Besides,
  // no span of one second and 25 ms ever holds more starts than the rate (rounded down), so a
  // service that counts per second sees no more, whatever the burst and the arrival jitter on the
  // way (the 25 ms cost 2.5 % of the rate): a batch may ask for a strict service's exact limit.
  double rate = 0;
  // Tokens the bucket holds: requests that may start back to back after an idle spell. Above 1
  // it also makes up for a run loop that wakes late (a busy machine).
  double burst = 2;
  // Requests per input at most, the first included.
  int maxAttempts = 4;
  // Backoff before retry k (from 1): a random share (half to all) of
  // min(maxBackoff, baseBackoff * 2^(k-1)).
  std::chrono::duration<double> baseBackoff{0.5};
  std::chrono::duration<double> maxBackoff{30.0};
  // After a 429 the rate drops to this share of what it was, then climbs back to `rate` by
  // `recovery` of the configured rate per second.
  double cutFactor = 0.7;
  double recovery = 0.05;
  // Outcomes in input order (true) or as they complete. In order, no request starts for an input
  // more than `reorderWindow` inputs past the oldest one not delivered yet.
  bool inOrder = true;
  size_t reorderWindow = 1024;
  // Seconds each request may take.
  double timeout = 30.0;
  // Seed of the backoff jitter (0: from the system's random device).
  uint64_t seed = 0;
  // When set, asked before every request (retries included), after the rate limit allows it: the
  // request goes out once `grant` has been called, from any thread, as long as the batch's thread
  // lives. One permission is asked for at a time; a grant that comes after the batch ended is
  // ignored. For a limit shared with other processes (a cluster's workers).
  std::function<void(std::function<void()> grant)> permit;
  // When set, called on the batch's thread as each request goes out (where a shared limit counts
  // a request's second from).
  std::function<void()> onSend;
  // When set, called on the batch's thread as each request sent ends: its answer or failure
  // arrived (a limit shared by arrival time at the service counts from here: the request has
  // arrived by then). A request still in flight when the batch ends gets no call.
  std::function<void()> onAnswer;
};

struct BatchError {
  ErrorCode code = ErrorCode::transportFailure;
  std::string domain;
  long status = -1;  // the HTTP status when an answer arrived
  std::string message;
};

struct BatchOutcome {
  size_t index = 0;  // the input's position
  // Requests sent for this input (a repeated input shares the first one's requests).
  int attempts = 0;
  std::optional<BatchError> error;
  // The answer: `location` for reverse geocoding and fusion location, `places` for geocoding.
  std::shared_ptr<LocationRes> location;
  std::vector<std::shared_ptr<GeocodeRes>> places;
};

struct BatchProgress {
  size_t total = 0;
  size_t done = 0;     // outcomes delivered, failures included
  size_t failed = 0;   // outcomes that are errors
  size_t retried = 0;  // requests sent again after a retryable failure
  size_t inFlight = 0;
  size_t requests = 0;     // requests sent in all
  size_t limited = 0;      // 429 answers
  double currentRate = 0;  // requests per second now allowed (0: no limit)
  // While a 429 pauses the endpoint: when the pause ends (the run loop's clock).
  std::optional<RunLoop::TimePoint> pausedUntil;
};

// A running batch. It lives on the thread that starts it: outcomes, timers and the finish arrive
// on that thread's run loop, which must run. Every input ends in exactly one outcome.
class ORV_API Batch {
 public:
  using OutcomeHandler = std::function<void(const BatchOutcome&)>;
  using FinishHandler = std::function<void()>;

  // Each starts at once. Without the client's privacy consent or key, every input ends at once
  // with consentMissing or keyMissing (delivered from the run loop, like every outcome).
  // Destroying `client` cancels the batch.
  static std::unique_ptr<Batch> reverseGeocode(OrvClientLocation& client,
                                               std::vector<ReverseGeocodeInput> inputs,
                                               const BatchOptions& options,
                                               OutcomeHandler onOutcome,
                                               FinishHandler onFinish = {});
  static std::unique_ptr<Batch> geocode(OrvClientLocation& client, std::vector<GeocodeInput> inputs,
                                        const BatchOptions& options, OutcomeHandler onOutcome,
                                        FinishHandler onFinish = {});
  // Fusion location of each recorded fix.
  static std::unique_ptr<Batch> trackLocation(OrvClientLocation& client,
                                              std::vector<Location> fixes,
                                              const BatchOptions& options, OutcomeHandler onOutcome,
                                              FinishHandler onFinish = {});

  // Ends every input without an outcome yet with ErrorCode::cancelled, delivered inside this
  // call (in order when the batch delivers in order), aborting the transfers in flight; then the
  // finish handler runs. Idempotent.
  void cancel();
  BatchProgress progress() const;
  bool finished() const;

  // Cancels what is still running, without calling the handlers any more.
  ~Batch();
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;

  struct ORV_HIDDEN Engine;

 private:
  explicit Batch(std::shared_ptr<Engine> engine);
  ORV_HIDDEN static std::unique_ptr<Batch> launch(OrvClientLocation& client,
                                                  detail::BatchSpec&& spec,
                                                  const BatchOptions& options,
                                                  OutcomeHandler onOutcome, FinishHandler onFinish);
  std::shared_ptr<Engine> engine_;
};

}  // namespace orv
