#include "batch/batch_engine.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <utility>

#include "batch/retry_policy.h"
#include "client/location_error.h"

namespace orv {
namespace {

constexpr size_t kNoJob = std::numeric_limits<size_t>::max();

BatchError toBatchError(const LocationError& e) {
  return BatchError{e.code, e.domain, e.status, e.message};
}

uint64_t seedOf(uint64_t seed) { return seed != 0 ? seed : std::random_device{}(); }

}  // namespace

Batch::Engine::Engine(detail::BatchSpec spec, const BatchOptions& options,
                      std::shared_ptr<detail::BatchSender> sender, OutcomeHandler onOutcome,
                      FinishHandler onFinish)
    : spec_(std::move(spec)),
      options_(options),
      sender_(std::move(sender)),
      onOutcome_(std::move(onOutcome)),
      onFinish_(std::move(onFinish)),
      loop_(RunLoop::current()),
      limiter_(options.rate, options.burst, options.cutFactor, options.recovery),
      random_(seedOf(options.seed)),
      jobOfInput_(spec_.count, kNoJob),
      inputFinished_(spec_.count, false) {
  options_.concurrency = std::max(1, options_.concurrency);
  options_.maxAttempts = std::max(1, options_.maxAttempts);
  options_.reorderWindow = std::max<size_t>(1, options_.reorderWindow);
}

void Batch::Engine::start() {
  started_ = true;
  step();
}

void Batch::Engine::refuse(LocationError error) {
  started_ = true;
  loop_.post([weak = weak_from_this(), error = std::move(error)] {
    const auto self = weak.lock();
    if (!self || self->cancelled_) return;
    BatchOutcome outcome;
    outcome.error = toBatchError(error);
    for (size_t i = 0; i < self->spec_.count; ++i) self->finishInput(i, outcome);
    self->nextInput_ = self->spec_.count;
    self->deliver();
  });
}

void Batch::Engine::step() {
  do {
    pump();
  } while (deliver() && !cancelled_);
}

void Batch::Engine::pump() {
  if (cancelled_ || !started_) return;
  const RunLoop::TimePoint t = now();
  while (!waiting_.empty() && waiting_.begin()->first <= t) {
    ready_.push_back(waiting_.begin()->second);
    waiting_.erase(waiting_.begin());
  }
  while (inFlight_ < static_cast<size_t>(options_.concurrency)) {
    if (ready_.empty()) {
      const std::optional<size_t> job = nextNewJob();
      if (!job) break;
      ready_.push_back(*job);
    }
    const RunLoop::Duration wait = limiter_.delay(t);
    if (wait > RunLoop::Duration::zero()) {
      wakeAt(t + wait);
      break;
    }
    if (!permitted()) break;
    const size_t job = ready_.front();
    ready_.pop_front();
    limiter_.take(t);
    send(job);
    if (cancelled_) return;
  }
  if (!waiting_.empty()) wakeAt(waiting_.begin()->first);
}

std::optional<size_t> Batch::Engine::nextNewJob() {
  while (nextInput_ < spec_.count) {
    if (options_.inOrder && nextInput_ >= nextDelivery_ + options_.reorderWindow) break;
    const size_t input = nextInput_++;
    const auto [it, added] = jobOfKey_.try_emplace(spec_.key(input), jobs_.size());
    jobOfInput_[input] = it->second;
    if (added) {
      jobs_.emplace_back();
      jobs_.back().inputs.push_back(input);
      return it->second;
    }
    Job& job = jobs_[it->second];
    if (job.done) {
      finishInput(input, *job.result);
    } else {
      job.inputs.push_back(input);
    }
  }
  return std::nullopt;
}

bool Batch::Engine::permitted() {
  if (!options_.permit) return true;
  if (permits_ > 0) {
    --permits_;
    return true;
  }
  if (permitAsked_) return false;
  permitAsked_ = true;
  options_.permit([weak = weak_from_this(), loop = &loop_] {
    loop->post([weak] {
      const auto self = weak.lock();
      if (!self || self->cancelled_ || self->finished()) return;
      self->permitAsked_ = false;
      ++self->permits_;
      self->step();
    });
  });
  return false;
}

void Batch::Engine::send(size_t index) {
  Job& job = jobs_[index];
  const int attempt = ++job.attempts;
  Result<detail::URLRequest> request = spec_.build(job.inputs.front());
  if (!request) {
    // Nothing went out: the permission it was given serves the next request.
    if (options_.permit) ++permits_;
    BatchOutcome outcome;
    outcome.error = toBatchError(
        detail::requestError(request.error(), nullptr, std::chrono::system_clock::now()));
    complete(index, std::move(outcome));
    return;
  }
  ++requests_;
  if (options_.onSend) options_.onSend();
  if (attempt > 1) ++retried_;
  ++inFlight_;
  job.inFlight = true;
  job.transfer =
      sender_->send(std::move(request).value(),
                    [weak = weak_from_this(), index, attempt](detail::TransferOutcome outcome) {
                      if (const auto self = weak.lock())
                        self->onAnswer(index, attempt, std::move(outcome));
                    });
}

void Batch::Engine::onAnswer(size_t index, int attempt, detail::TransferOutcome answer) {
  if (options_.onAnswer) options_.onAnswer();
  Job& job = jobs_[index];
  // A cancelled batch has ended this job already.
  if (cancelled_ || job.done || !job.inFlight || job.attempts != attempt) return;
  job.inFlight = false;
  --inFlight_;
  BatchOutcome outcome;
  const std::optional<LocationError> failure = spec_.decode(std::move(answer), outcome);
  if (failure) {
    const RunLoop::TimePoint t = now();
    const detail::RetryKind kind = detail::retryKind(*failure);
    const RunLoop::Duration backoff = detail::backoffDelay(
        job.attempts, options_, std::uniform_real_distribution<double>(0, 1)(random_));
    if (kind == detail::RetryKind::limited) {
      ++limited_;
      limiter_.limited(t, failure->retryAfter
                              ? std::chrono::duration_cast<RunLoop::Duration>(*failure->retryAfter)
                              : backoff);
    }
    if (kind != detail::RetryKind::never && job.attempts < options_.maxAttempts) {
      // After a 429 the retry waits for the pause (the limiter holds it); otherwise its backoff.
      waiting_.emplace(kind == detail::RetryKind::limited ? t : t + backoff, index);
      step();
      return;
    }
    outcome.error = toBatchError(*failure);
  }
  complete(index, std::move(outcome));
  step();
}

void Batch::Engine::complete(size_t index, BatchOutcome outcome) {
  Job& job = jobs_[index];
  job.done = true;
  outcome.attempts = job.attempts;
  job.result = std::make_shared<const BatchOutcome>(std::move(outcome));
  for (const size_t input : job.inputs) finishInput(input, *job.result);
  job.inputs.clear();
  job.inputs.shrink_to_fit();
}

void Batch::Engine::finishInput(size_t input, const BatchOutcome& outcome) {
  if (inputFinished_[input]) return;
  inputFinished_[input] = true;
  BatchOutcome& stored = undelivered_.emplace(input, outcome).first->second;
  stored.index = input;
  if (stored.error) ++failed_;
}

bool Batch::Engine::deliver() {
  // A handler that cancels delivers the rest itself; this pass then stops.
  if (delivering_) return false;
  const auto self = shared_from_this();
  delivering_ = true;
  bool any = false;
  while (!undelivered_.empty()) {
    auto it = options_.inOrder ? undelivered_.find(nextDelivery_) : undelivered_.begin();
    if (it == undelivered_.end()) break;
    const BatchOutcome outcome = std::move(it->second);
    undelivered_.erase(it);
    if (options_.inOrder) ++nextDelivery_;
    ++delivered_;
    any = true;
    if (!detached_ && onOutcome_) onOutcome_(outcome);
  }
  delivering_ = false;
  if (finished() && !finishCalled_) {
    finishCalled_ = true;
    if (timer_) timer_->invalidate();
    if (!detached_ && onFinish_) onFinish_();
  }
  return any;
}

void Batch::Engine::wakeAt(RunLoop::TimePoint when) {
  if (timer_ && timer_->isValid() && timerDue_ <= when) return;
  if (timer_) timer_->invalidate();
  timerDue_ = when;
  const auto in = std::chrono::duration<double>(std::max(RunLoop::Duration::zero(), when - now()));
  timer_ = Timer::scheduled(in, false, [weak = weak_from_this()](Timer&) {
    if (const auto self = weak.lock()) {
      self->timer_.reset();
      self->step();
    }
  });
}

void Batch::Engine::cancel(bool deliverOutcomes) {
  // The handlers stay: this may run inside one of them.
  if (!deliverOutcomes) detached_ = true;
  if (cancelled_ || finished()) return;
  cancelled_ = true;
  if (timer_) timer_->invalidate();
  timer_.reset();
  for (Job& job : jobs_) {
    if (job.inFlight) sender_->cancel(job.transfer);
    job.inFlight = false;
  }
  inFlight_ = 0;
  ready_.clear();
  waiting_.clear();
  for (size_t i = 0; i < spec_.count; ++i) {
    if (inputFinished_[i]) continue;
    BatchOutcome outcome;
    outcome.attempts = jobOfInput_[i] != kNoJob ? jobs_[jobOfInput_[i]].attempts : 0;
    outcome.error =
        BatchError{ErrorCode::cancelled, std::string(detail::kClientDomain), -1, "cancelled"};
    finishInput(i, outcome);
  }
  nextInput_ = spec_.count;
  delivering_ = false;
  deliver();
}

BatchProgress Batch::Engine::progress() const {
  BatchProgress p;
  p.total = spec_.count;
  p.done = delivered_;
  p.failed = failed_;
  p.retried = retried_;
  p.inFlight = inFlight_;
  p.requests = requests_;
  p.limited = limited_;
  const RunLoop::TimePoint t = now();
  p.currentRate = limiter_.currentRate(t);
  p.pausedUntil = limiter_.pausedUntil(t);
  return p;
}

}  // namespace orv
