// Ordering, repeats and cancellation: every input ends with exactly one outcome.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "batch_fixture.h"

namespace orv::test {
namespace {

std::vector<size_t> indices(const std::vector<BatchOutcome>& outcomes) {
  std::vector<size_t> out;
  for (const auto& o : outcomes) out.push_back(o.index);
  return out;
}

TEST(BatchOrderTest, InOrderWhateverOrderTheAnswersComeIn) {
  BatchHarness h({"a", "b", "c", "d"});
  ASSERT_EQ(h.sender->sent.size(), 4u);
  h.sender->answer(3, 200, kHit);
  h.sender->answer(1, 404);
  EXPECT_TRUE(h.outcomes.empty());
  h.sender->answer(0, 200, kHit);
  EXPECT_EQ(indices(h.outcomes), (std::vector<size_t>{0, 1}));
  h.sender->answer(2, 200, kHit);
  EXPECT_EQ(indices(h.outcomes), (std::vector<size_t>{0, 1, 2, 3}));
  EXPECT_EQ(h.outcomeOf(1).error->status, 404);
  EXPECT_EQ(h.outcomeOf(3).places.size(), 1u);
  EXPECT_EQ(h.finishes, 1);
  EXPECT_EQ(h.engine->progress().failed, 1u);
}

TEST(BatchOrderTest, AsCompletedWhenAsked) {
  BatchOptions options;
  options.inOrder = false;
  BatchHarness h({"a", "b", "c"}, options);
  h.sender->answer(2, 200, kHit);
  h.sender->answer(0, 200, kHit);
  EXPECT_EQ(indices(h.outcomes), (std::vector<size_t>{2, 0}));
  h.sender->answer(1, 200, kHit);
  EXPECT_EQ(h.finishes, 1);
}

// An input stuck in retries holds back requests more than the window past it, so the outcomes
// waiting for it stay bounded.
TEST(BatchOrderTest, ReorderingWindowBoundsWhatStartsAhead) {
  BatchOptions options;
  options.reorderWindow = 3;
  options.concurrency = 8;
  BatchHarness h({"a", "b", "c", "d", "e"}, options);
  EXPECT_EQ(h.sender->addresses(), (std::vector<std::string>{"a", "b", "c"}));
  h.sender->answer(1, 200, kHit);
  h.sender->answer(2, 200, kHit);
  EXPECT_EQ(h.sender->sent.size(), 3u);
  h.sender->answer(0, 200, kHit);
  EXPECT_EQ(h.sender->addresses(), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
}

TEST(BatchOrderTest, ConcurrencyBoundsRequestsInFlight) {
  BatchOptions options;
  options.concurrency = 2;
  BatchHarness h({"a", "b", "c"}, options);
  EXPECT_EQ(h.sender->sent.size(), 2u);
  EXPECT_EQ(h.engine->progress().inFlight, 2u);
  h.sender->answer(1, 200, kHit);
  EXPECT_EQ(h.sender->sent.size(), 3u);
}

// Repeats are requested once and answered with the first one's outcome, also when they are
// reached after it ended; a retry of the shared request counts for all of them.
TEST(BatchDuplicateTest, RepeatedInputsAreRequestedOnce) {
  BatchOptions options;
  options.concurrency = 2;
  BatchHarness h({"a", "b", "a", "c", "b", "a"}, options);
  EXPECT_EQ(h.sender->addresses(), (std::vector<std::string>{"a", "b"}));
  h.sender->answer(1, 200, kHit);  // "b"; then "c" goes
  h.sender->answer(0, 500);        // "a" waits for its retry
  h.advance(std::chrono::seconds(1));
  EXPECT_EQ(h.sender->addresses(), (std::vector<std::string>{"a", "b", "c", "a"}));
  h.sender->answer(2, 200, "[]");
  h.sender->answer(3, 200, kHit);
  ASSERT_EQ(h.outcomes.size(), 6u);
  for (size_t i : {0, 2, 5}) {
    EXPECT_EQ(h.outcomeOf(i).attempts, 2) << i;
    EXPECT_EQ(h.outcomeOf(i).places.size(), 1u) << i;
  }
  EXPECT_EQ(h.outcomeOf(4).places.size(), 1u);
  EXPECT_EQ(h.outcomeOf(3).places.size(), 0u);
  EXPECT_EQ(h.engine->progress().requests, 4u);
}

// Cancelling ends every input once, whatever state it is in: answered, in flight (the transfer is
// aborted and its late answer ignored), waiting for a retry, or never sent.
TEST(BatchCancelTest, EveryInputEndsOnceWhateverItsState) {
  BatchOptions options;
  options.concurrency = 2;
  BatchHarness h({"done", "flying", "retrying", "flying2", "unsent"}, options);
  h.sender->answer(0, 200, kHit);  // "done"; "retrying" goes
  h.sender->answer(2, 503);        // it waits for its backoff; "flying2" goes
  ASSERT_EQ(h.sender->addresses(),
            (std::vector<std::string>{"done", "flying", "retrying", "flying2"}));
  h.engine->cancel(true);
  EXPECT_TRUE(h.sender->sent[1].cancelled);
  EXPECT_TRUE(h.sender->sent[3].cancelled);
  EXPECT_FALSE(h.sender->sent[0].cancelled);
  h.sender->answer(1, 200, kHit);  // too late
  h.advance(std::chrono::seconds(60));
  EXPECT_EQ(h.sender->sent.size(), 4u);
  EXPECT_FALSE(h.outcomeOf(0).error);
  for (size_t i : {1, 2, 3, 4}) EXPECT_EQ(h.outcomeOf(i).error->code, ErrorCode::cancelled) << i;
  EXPECT_EQ(h.outcomeOf(2).attempts, 1);
  EXPECT_EQ(h.outcomeOf(4).attempts, 0);
  EXPECT_EQ(indices(h.outcomes), (std::vector<size_t>{0, 1, 2, 3, 4}));
  EXPECT_EQ(h.finishes, 1);

  // After the end, cancel changes nothing.
  h.engine->cancel(true);
  EXPECT_EQ(h.outcomes.size(), 5u);
  EXPECT_EQ(h.finishes, 1);
}

// A handler may cancel its own batch: the rest is delivered inside that call, once each.
TEST(BatchCancelTest, CancelFromInsideAHandler) {
  BatchHarness h({});
  std::vector<BatchOutcome> seen;
  int finishes = 0;
  std::shared_ptr<Batch::Engine> engine;
  engine = std::make_shared<Batch::Engine>(
      detail::geocodeSpec({{"x", "c"}, {"y", "c"}, {"z", "c"}}, "k", 30), BatchOptions{}, h.sender,
      [&](const BatchOutcome& o) {
        seen.push_back(o);
        if (o.index == 0) engine->cancel(true);
      },
      [&] { ++finishes; });
  engine->start();
  h.sender->answer(1, 200, kHit);  // "y" waits for "x"
  h.sender->answer(0, 200, kHit);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_FALSE(seen[1].error);
  ASSERT_TRUE(seen[2].error);
  EXPECT_EQ(seen[2].error->code, ErrorCode::cancelled);
  EXPECT_TRUE(h.sender->sent[2].cancelled);
  EXPECT_EQ(finishes, 1);
  h.sender->answer(2, 200, kHit);
  EXPECT_EQ(seen.size(), 3u);
}

}  // namespace
}  // namespace orv::test
