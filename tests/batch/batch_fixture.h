// A batch engine over a stand-in sender on the manual clock: the test answers each request.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "batch/batch_engine.h"
#include "batch/batch_requests.h"
#include "batch/batch_sender.h"
#include "manual_clock.h"
#include "orv/export.h"

namespace orv::test {

// A geocode answer of one hit.
inline constexpr const char* kHit =
    R"([{"id":"1","geoPoint":"121.4756,31.2283","type":"poi","name":"p","code":"310101",)"
    R"("address":{"name":"a","context":[]},"relevance":1,"distance":0}])";

class FakeSender : public detail::BatchSender {
 public:
  struct Sent {
    uint64_t id;
    detail::URLRequest request;
    Done done;
    bool cancelled = false;
    bool answered = false;
  };

  uint64_t send(detail::URLRequest request, Done done) override {
    sent.push_back(Sent{sent.size() + 1, std::move(request), std::move(done)});
    return sent.back().id;
  }
  void cancel(uint64_t id) override { sent.at(id - 1).cancelled = true; }

  // Answers request `i` (from 0) with an HTTP status, body and headers.
  void answer(size_t i, long status, std::string body = "[]",
              std::vector<std::pair<std::string, std::string>> headers = {}) {
    auto response = std::make_shared<detail::HTTPResponse>();
    response->statusCode = status;
    response->headers = std::move(headers);
    finish(i, detail::TransferOutcome{std::move(body), std::move(response), std::nullopt, {}});
  }
  // Ends request `i` with a transport error (a CURLcode).
  void fail(size_t i, int curlCode) {
    finish(i,
           detail::TransferOutcome{std::nullopt, nullptr, Error{"CURLE", curlCode, "failed"}, {}});
  }
  // The addresses of the requests sent, in order (the geocode batch's "address" parameter).
  std::vector<std::string> addresses() const;
  size_t open() const;

  std::vector<Sent> sent;

 private:
  void finish(size_t i, detail::TransferOutcome outcome) {
    Sent& s = sent.at(i);
    ASSERT_FALSE(s.answered) << "request " << i << " answered twice";
    s.answered = true;
    s.done(std::move(outcome));
  }
};

// A geocode batch of `addresses`, over a FakeSender.
struct ORV_HIDDEN BatchHarness {
  explicit BatchHarness(std::vector<std::string> addresses, BatchOptions options = {});

  void advance(std::chrono::duration<double> by) {
    clock.advance(std::chrono::duration_cast<RunLoop::Duration>(by));
  }
  // The outcome of input `index` (it must have exactly one).
  const BatchOutcome& outcomeOf(size_t index) const;
  size_t callbacksFor(size_t index) const;

  detail::ManualClock clock;
  std::shared_ptr<FakeSender> sender = std::make_shared<FakeSender>();
  std::vector<BatchOutcome> outcomes;
  int finishes = 0;
  std::shared_ptr<Batch::Engine> engine;
};

}  // namespace orv::test
