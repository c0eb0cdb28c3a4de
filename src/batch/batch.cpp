// The public face of batches: the client's gate, then the engine over the shared transport.
#include <memory>
#include <string>
#include <utility>

#include "batch/batch_engine.h"
#include "batch/batch_requests.h"
#include "batch/batch_sender.h"
#include "client/client_state.h"
#include "client/location_error.h"
#include "network/transport.h"

namespace orv {

std::unique_ptr<Batch> Batch::launch(OrvClientLocation& client, detail::BatchSpec&& spec,
                                     const BatchOptions& options, OutcomeHandler onOutcome,
                                     FinishHandler onFinish) {
  OrvClientLocation::State& state = *client.state_;
  state.checkThread();
  auto engine = std::make_shared<Engine>(
      std::move(spec), options, detail::transportSender(detail::Transport::shared(), state.home),
      std::move(onOutcome), std::move(onFinish));
  // Destroying the client cancels the batch (the outcomes still reach the batch's handler).
  state.onRelease.push_back([weak = std::weak_ptr<Engine>(engine)] {
    if (const auto e = weak.lock()) e->cancel(true);
  });
  if (!state.isAgree) {
    engine->refuse(detail::makeLocationError(ErrorCode::consentMissing, detail::kClientDomain,
                                             std::string(detail::kNoConsentMessage)));
  } else if (!state.accesskey) {
    engine->refuse(detail::makeLocationError(ErrorCode::keyMissing, detail::kClientDomain,
                                             std::string(detail::kNoKeyMessage)));
  } else {
    engine->start();
  }
  return std::unique_ptr<Batch>(new Batch(std::move(engine)));
}

namespace {

// How a kind's requests are made, with the key and time-out every one of them carries.
template <class Inputs>
detail::BatchSpec specOf(detail::BatchSpec (*make)(Inputs, std::string, double), Inputs inputs,
                         const BatchOptions& options) {
  return make(std::move(inputs), OrvClientLocation::sharedAccessKey(), options.timeout);
}

}  // namespace

std::unique_ptr<Batch> Batch::reverseGeocode(OrvClientLocation& client,
                                             std::vector<ReverseGeocodeInput> inputs,
                                             const BatchOptions& options, OutcomeHandler onOutcome,
                                             FinishHandler onFinish) {
  return launch(client, specOf(detail::reverseGeocodeSpec, std::move(inputs), options), options,
                std::move(onOutcome), std::move(onFinish));
}

std::unique_ptr<Batch> Batch::geocode(OrvClientLocation& client, std::vector<GeocodeInput> inputs,
                                      const BatchOptions& options, OutcomeHandler onOutcome,
                                      FinishHandler onFinish) {
  return launch(client, specOf(detail::geocodeSpec, std::move(inputs), options), options,
                std::move(onOutcome), std::move(onFinish));
}

std::unique_ptr<Batch> Batch::trackLocation(OrvClientLocation& client, std::vector<Location> fixes,
                                            const BatchOptions& options, OutcomeHandler onOutcome,
                                            FinishHandler onFinish) {
  return launch(client, specOf(detail::trackSpec, std::move(fixes), options), options,
                std::move(onOutcome), std::move(onFinish));
}

Batch::Batch(std::shared_ptr<Engine> engine) : engine_(std::move(engine)) {}

Batch::~Batch() { engine_->cancel(false); }

void Batch::cancel() { engine_->cancel(true); }

BatchProgress Batch::progress() const { return engine_->progress(); }

bool Batch::finished() const { return engine_->finished(); }

}  // namespace orv
