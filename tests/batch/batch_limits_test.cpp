// Retries, backoff, Retry-After and the rate limit, on the manual clock.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "batch/rate_limiter.h"
#include "batch/retry_policy.h"
#include "batch_fixture.h"

namespace orv::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

struct RetryCase {
  const char* name;
  long status;   // 0: a transport failure
  int curlCode;  // for status 0
  const char* body;
  bool retried;
  ErrorCode finalCode;
};

// Each failure once, with two attempts allowed: which ones go again, and what the input ends
// with when the second attempt fails the same way.
TEST(BatchRetryTest, WhichFailuresAreRetried) {
  const RetryCase cases[] = {
      {"connection refused", 0, 7, "", true, ErrorCode::networkUnreachable},
      {"name not resolved", 0, 6, "", true, ErrorCode::networkUnreachable},
      {"time-out", 0, 28, "", true, ErrorCode::timedOut},
      {"reset", 0, 56, "", true, ErrorCode::transportFailure},
      {"empty reply", 0, 52, "", true, ErrorCode::transportFailure},
      {"500", 500, 0, "{}", true, ErrorCode::httpStatus},
      {"502", 502, 0, "{}", true, ErrorCode::httpStatus},
      {"503", 503, 0, "{}", true, ErrorCode::httpStatus},
      {"504", 504, 0, "{}", true, ErrorCode::httpStatus},
      {"429", 429, 0, "{}", true, ErrorCode::httpStatus},
      {"400", 400, 0, "{}", false, ErrorCode::httpStatus},
      {"401", 401, 0, "{}", false, ErrorCode::httpStatus},
      {"403", 403, 0, "{}", false, ErrorCode::httpStatus},
      {"404", 404, 0, "{}", false, ErrorCode::httpStatus},
      {"501", 501, 0, "{}", false, ErrorCode::httpStatus},
      {"201", 201, 0, "[]", false, ErrorCode::httpStatus},
      {"undecodable", 200, 0, "{", false, ErrorCode::decodingFailed},
      {"certificate", 0, 60, "", false, ErrorCode::tls},
  };
  for (const RetryCase& c : cases) {
    SCOPED_TRACE(c.name);
    BatchOptions options;
    options.maxAttempts = 2;
    BatchHarness h({"a"}, options);
    const auto failOnce = [&](size_t i) {
      if (c.status == 0) {
        h.sender->fail(i, c.curlCode);
      } else {
        h.sender->answer(i, c.status, c.body);
      }
    };
    failOnce(0);
    h.advance(seconds(60));
    ASSERT_EQ(h.sender->sent.size(), c.retried ? 2u : 1u);
    if (c.retried) failOnce(1);
    const BatchOutcome& o = h.outcomeOf(0);
    ASSERT_TRUE(o.error);
    EXPECT_EQ(o.error->code, c.finalCode);
    EXPECT_EQ(o.error->status, c.status == 0 ? -1 : c.status);
    EXPECT_EQ(o.attempts, c.retried ? 2 : 1);
    EXPECT_EQ(h.finishes, 1);
  }
}

TEST(BatchRetryTest, BackoffDoublesWithinHalfAndAllUpToTheCap) {
  BatchOptions options;
  options.baseBackoff = std::chrono::duration<double>(0.5);
  options.maxBackoff = std::chrono::duration<double>(3.0);
  const double full[] = {0.5, 1.0, 2.0, 3.0, 3.0};
  for (int k = 1; k <= 5; ++k) {
    const auto lo = std::chrono::duration<double>(detail::backoffDelay(k, options, 0.0)).count();
    const auto hi =
        std::chrono::duration<double>(detail::backoffDelay(k, options, 0.999999)).count();
    EXPECT_NEAR(lo, full[k - 1] / 2, 1e-6) << k;
    EXPECT_NEAR(hi, full[k - 1], 1e-5) << k;
  }
  EXPECT_GT(detail::backoffDelay(1000, options, 0.5), RunLoop::Duration::zero());

  // In the engine: the retry of a 503 waits at least half the base backoff, at most all of it.
  BatchHarness h({"a"}, options);
  h.sender->answer(0, 503);
  h.advance(milliseconds(249));
  EXPECT_EQ(h.sender->sent.size(), 1u);
  h.advance(milliseconds(252));
  EXPECT_EQ(h.sender->sent.size(), 2u);
  h.sender->answer(1, 200, kHit);
  EXPECT_FALSE(h.outcomeOf(0).error);
  EXPECT_EQ(h.outcomeOf(0).attempts, 2);
  EXPECT_EQ(h.engine->progress().retried, 1u);
}

std::string httpDate(std::chrono::system_clock::time_point t) {
  const std::time_t tt = std::chrono::system_clock::to_time_t(t);
  std::tm tm{};
  gmtime_r(&tt, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S GMT", &tm);
  return buf;
}

// A 429 pauses the whole endpoint until Retry-After, in either form: nothing is sent meanwhile,
// neither the retry nor the other inputs.
TEST(BatchRetryTest, RetryAfterPausesTheEndpointInBothForms) {
  struct Form {
    std::string value;
    double atLeast;  // seconds nothing may be sent
    double atMost;   // seconds by which the retry has gone
  };
  const Form forms[] = {
      {"3", 3.0, 3.01},
      // An HTTP date has whole seconds; now falls somewhere within the current one.
      {httpDate(std::chrono::system_clock::now() + seconds(6)), 4.9, 6.01},
  };
  for (const Form& f : forms) {
    SCOPED_TRACE(f.value);
    BatchOptions options;
    options.concurrency = 1;
    BatchHarness h({"a", "b"}, options);
    h.sender->answer(0, 429, "{}", {{"Retry-After", f.value}});
    const auto paused = h.engine->progress().pausedUntil;
    ASSERT_TRUE(paused);
    EXPECT_GE(*paused - h.clock.now(), std::chrono::duration_cast<RunLoop::Duration>(
                                           std::chrono::duration<double>(f.atLeast)));
    h.advance(std::chrono::duration<double>(f.atLeast - 0.01));
    EXPECT_EQ(h.sender->sent.size(), 1u);
    h.advance(std::chrono::duration<double>(f.atMost - f.atLeast + 0.02));
    ASSERT_EQ(h.sender->sent.size(), 2u);
    EXPECT_EQ(h.sender->addresses()[1], "a");  // the retry goes before the next input
    EXPECT_FALSE(h.engine->progress().pausedUntil);
  }
}

// Everything answered 429 for a while: one pause per overload (not one per answer), the rate cut
// once and then climbing back, every input ending with one outcome within its attempts.
TEST(BatchRetryTest, A429StormPausesOnceAndLowersTheRate) {
  BatchOptions options;
  options.rate = 10;
  options.burst = 4;
  options.concurrency = 4;
  options.maxAttempts = 3;
  options.recovery = 0.1;
  std::vector<std::string> inputs;
  for (int i = 0; i < 12; ++i) inputs.push_back("a" + std::to_string(i));
  BatchHarness h(inputs, options);
  ASSERT_EQ(h.sender->sent.size(), 4u);  // the burst
  for (size_t i = 0; i < 4; ++i) h.sender->answer(i, 429, "{}", {{"Retry-After", "2"}});
  const BatchProgress storm = h.engine->progress();
  EXPECT_EQ(storm.limited, 4u);
  EXPECT_NEAR(storm.currentRate, 7.0, 1e-9);  // cut once, though four answers said 429
  h.advance(milliseconds(1990));
  EXPECT_EQ(h.sender->sent.size(), 4u);
  // After the pause the bucket starts empty: requests go at the cut rate, not in a burst.
  h.advance(milliseconds(20));
  EXPECT_EQ(h.sender->sent.size(), 4u);
  h.advance(milliseconds(150));
  EXPECT_EQ(h.sender->sent.size(), 5u);
  // Then every answer succeeds, and the rate climbs back to the limit.
  for (int round = 0; round < 100 && h.outcomes.size() < inputs.size(); ++round) {
    for (size_t i = 0; i < h.sender->sent.size(); ++i) {
      if (!h.sender->sent[i].answered) h.sender->answer(i, 200, kHit);
    }
    h.advance(milliseconds(100));
  }
  for (size_t i = 0; i < inputs.size(); ++i) EXPECT_FALSE(h.outcomeOf(i).error) << i;
  EXPECT_EQ(h.sender->sent.size(), 16u);  // 12 inputs, 4 of them twice
  h.advance(seconds(5));
  EXPECT_NEAR(h.engine->progress().currentRate, 10.0, 1e-9);
  EXPECT_EQ(h.finishes, 1);
}

TEST(BatchRateTest, TokenBucketWithBurst) {
  detail::RateLimiter limiter(10, 2, 0.5, 0.1);
  const RunLoop::TimePoint t0{};
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(limiter.delay(t0), RunLoop::Duration::zero());
    limiter.take(t0);
  }
  // Empty: the next token in 100 ms.
  const auto wait = limiter.delay(t0);
  EXPECT_GE(wait, milliseconds(100));
  EXPECT_LE(wait, milliseconds(101));
  limiter.take(t0 + wait);
  // Idle for long: no more than the burst at once.
  const RunLoop::TimePoint t1 = t0 + seconds(10);
  int started = 0;
  while (limiter.delay(t1) == RunLoop::Duration::zero() && started < 10) {
    limiter.take(t1);
    ++started;
  }
  EXPECT_EQ(started, 2);
  // A cut halves the rate; it climbs by 1/s back to 10.
  limiter.limited(t1, seconds(1));
  EXPECT_EQ(limiter.delay(t1), seconds(1));
  EXPECT_NEAR(limiter.currentRate(t1 + seconds(1)), 5.0, 1e-9);
  EXPECT_NEAR(limiter.currentRate(t1 + seconds(3)), 7.0, 1e-9);
  EXPECT_NEAR(limiter.currentRate(t1 + seconds(30)), 10.0, 1e-9);
}

// Whatever the burst and however late the loop wakes, no span of a second and the arrival
// allowance holds more starts than the rate, and late wake-ups are made up: the long-run rate
// stays at the limit over that span.
TEST(BatchRateTest, NeverMoreThanTheRateInAnySecondYetLatenessIsMadeUp) {
  detail::RateLimiter limiter(20, 5, 0.7, 0.05);
  std::mt19937 random(3);
  std::vector<RunLoop::TimePoint> starts;
  RunLoop::TimePoint t{};
  const RunLoop::TimePoint end = t + seconds(30);
  while (t < end) {
    const auto wait = limiter.delay(t);
    if (wait == RunLoop::Duration::zero()) {
      limiter.take(t);
      starts.push_back(t);
      continue;
    }
    // The timer fires up to 15 ms late.
    t += wait + std::chrono::microseconds(random() % 15000);
  }
  const auto span = seconds(1) + detail::RateLimiter::kArrivalAllowance;
  size_t busiest = 0;
  for (size_t i = 0, j = 0; i < starts.size(); ++i) {
    while (starts[j] <= starts[i] - span) ++j;
    busiest = std::max(busiest, i - j + 1);
  }
  EXPECT_EQ(busiest, 20u);
  EXPECT_GE(static_cast<double>(starts.size()),
            20.0 * 30 / std::chrono::duration<double>(span).count() - 5);
}

// A limit shared with other processes: one permission asked at a time, every request (a retry
// too) waits for its own, each answer is reported, and a grant arriving after the end is dropped.
TEST(BatchPermitTest, EachRequestWaitsForAGrantFromAnyThread) {
  std::vector<std::function<void()>> asked;
  BatchOptions options;
  options.concurrency = 4;
  options.baseBackoff = seconds(1);
  options.permit = [&asked](std::function<void()> grant) { asked.push_back(std::move(grant)); };
  size_t sends = 0;
  options.onSend = [&sends] { ++sends; };
  size_t answers = 0;
  options.onAnswer = [&answers] { ++answers; };
  BatchHarness h({"a", "b", "c"}, options);
  EXPECT_TRUE(h.sender->sent.empty());
  ASSERT_EQ(asked.size(), 1u);
  // Granted from another thread: the request goes out on the batch's loop.
  std::thread([&] { asked[0](); }).join();
  EXPECT_TRUE(h.sender->sent.empty());
  RunLoop::current().processPending();
  EXPECT_EQ(h.sender->addresses(), (std::vector<std::string>{"a"}));
  ASSERT_EQ(asked.size(), 2u);
  asked[1]();
  RunLoop::current().processPending();
  ASSERT_EQ(asked.size(), 3u);
  h.sender->answer(0, 503);
  h.sender->answer(1, 200, kHit);
  EXPECT_EQ(answers, 2u);
  asked[2]();
  RunLoop::current().processPending();
  EXPECT_EQ(h.sender->addresses(), (std::vector<std::string>{"a", "b", "c"}));
  // The retry of "a" is due but waits for a permission too.
  h.advance(seconds(2));
  RunLoop::current().processPending();
  EXPECT_EQ(h.sender->sent.size(), 3u);
  ASSERT_EQ(asked.size(), 4u);
  h.engine->cancel(true);
  asked[3]();
  RunLoop::current().processPending();
  EXPECT_EQ(h.sender->sent.size(), 3u);
  EXPECT_EQ(sends, 3u);
  EXPECT_EQ(h.outcomes.size(), 3u);
  EXPECT_EQ(h.finishes, 1);
}

}  // namespace
}  // namespace orv::test
