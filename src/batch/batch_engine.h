// The batch's scheduler: jobs (one per distinct input), the rate limit, retries, the reordering
// window and the delivery of outcomes. Lives on one thread and its run loop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "batch/batch_requests.h"
#include "batch/batch_sender.h"
#include "batch/rate_limiter.h"
#include "orv/batch.h"
#include "orv/run_loop.h"

namespace orv {

struct Batch::Engine : std::enable_shared_from_this<Batch::Engine> {
  Engine(detail::BatchSpec spec, const BatchOptions& options,
         std::shared_ptr<detail::BatchSender> sender, OutcomeHandler onOutcome,
         FinishHandler onFinish);

  // Starts sending (the first requests go out inside this call).
  void start();
  // Every input ends with `error`, delivered from the run loop.
  void refuse(LocationError error);
  // Ends every unfinished input with ErrorCode::cancelled; `deliver` false drops the outcomes
  // and every later callback (the owner is going away).
  void cancel(bool deliver);
  BatchProgress progress() const;
  bool finished() const { return delivered_ == spec_.count; }

 private:
  struct Job {
    std::vector<size_t> inputs;
    int attempts = 0;
    bool inFlight = false;
    bool done = false;
    uint64_t transfer = 0;
    std::shared_ptr<const BatchOutcome> result;  // once done, for later repeats
  };

  RunLoop::TimePoint now() const { return loop_.now(); }
  // Sends what the limits allow, then delivers; again while delivering opens the window.
  void step();
  void pump();
  std::optional<size_t> nextNewJob();
  // Whether a request may go out now under options_.permit; asks for the next permission if not.
  bool permitted();
  void send(size_t job);
  void onAnswer(size_t job, int attempt, detail::TransferOutcome outcome);
  void complete(size_t job, BatchOutcome outcome);
  void finishInput(size_t input, const BatchOutcome& outcome);
  // Hands over what may be delivered now; returns whether anything was.
  bool deliver();
  void wakeAt(RunLoop::TimePoint when);

  detail::BatchSpec spec_;
  BatchOptions options_;
  std::shared_ptr<detail::BatchSender> sender_;
  OutcomeHandler onOutcome_;
  FinishHandler onFinish_;
  RunLoop& loop_;
  mutable detail::RateLimiter limiter_;  // reading the rate brings it up to date
  std::mt19937_64 random_;

  std::vector<Job> jobs_;
  std::unordered_map<std::string, size_t> jobOfKey_;
  std::vector<size_t> jobOfInput_;  // kNoJob until the input is reached
  std::vector<bool> inputFinished_;
  size_t nextInput_ = 0;
  std::deque<size_t> ready_;                           // retries due now, oldest first
  std::multimap<RunLoop::TimePoint, size_t> waiting_;  // retries by due time
  std::map<size_t, BatchOutcome> undelivered_;
  size_t nextDelivery_ = 0;  // in order: the next input to deliver
  size_t delivered_ = 0;
  size_t failed_ = 0;
  size_t retried_ = 0;
  size_t inFlight_ = 0;
  size_t requests_ = 0;
  size_t limited_ = 0;
  bool cancelled_ = false;
  bool started_ = false;
  bool finishCalled_ = false;
  bool delivering_ = false;
  bool detached_ = false;  // the owner has gone: no more callbacks
  bool permitAsked_ = false;
  size_t permits_ = 0;  // granted, not used yet
  std::shared_ptr<Timer> timer_;
  RunLoop::TimePoint timerDue_{};
};

}  // namespace orv
