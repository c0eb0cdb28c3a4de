// A batch through a real client: the client's gate, and the end of the client ending the batch.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "orv/batch.h"
#include "orv/client.h"
#include "test_server.h"

namespace orv::test {
namespace {

class Silent : public LocationDelegate {
  void onReceivedLocationWithOrvLocation(std::shared_ptr<LocationRes>) override {}
  void onLocationErrorWithMsg(const std::string&) override {}
};

TEST(BatchClientTest, RefusedWithoutConsentAndCancelledWithItsClient) {
  RawServer silent(RawServer::Behaviour::neverAnswer);
  OrvClientLocation::setServiceConfiguration({silent.baseUrl(), "", {}});
  auto client = std::make_unique<OrvClientLocation>(std::make_shared<Silent>());
  client->initKey("k");

  std::vector<BatchOutcome> refusals;
  bool refusedAll = false;
  auto refused = Batch::geocode(
      *client, {{"a", "c"}, {"b", "c"}}, {}, [&](const BatchOutcome& o) { refusals.push_back(o); },
      [&] { refusedAll = true; });
  EXPECT_TRUE(refusals.empty());  // from the run loop, not inside the call
  ASSERT_TRUE(RunLoop::current().runUntil([&] { return refusedAll; }, std::chrono::seconds(10)));
  ASSERT_EQ(refusals.size(), 2u);
  for (const auto& o : refusals) EXPECT_EQ(o.error->code, ErrorCode::consentMissing);

  client->setAgreePrivacy(true);
  std::vector<BatchOutcome> outcomes;
  int finishes = 0;
  auto batch = Batch::geocode(
      *client, {{"a", "c"}, {"b", "c"}}, {}, [&](const BatchOutcome& o) { outcomes.push_back(o); },
      [&] { ++finishes; });
  EXPECT_EQ(batch->progress().inFlight, 2u);
  client.reset();
  ASSERT_EQ(outcomes.size(), 2u);
  for (const auto& o : outcomes) {
    EXPECT_EQ(o.error->code, ErrorCode::cancelled);
    EXPECT_EQ(o.attempts, 1);
  }
  EXPECT_EQ(finishes, 1);
  EXPECT_TRUE(batch->finished());
  batch.reset();
  OrvClientLocation::setServiceConfiguration({});
}

}  // namespace
}  // namespace orv::test
