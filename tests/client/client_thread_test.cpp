// A client belongs to the thread that created it: its outcomes arrive on that thread's loop.
#include <gtest/gtest.h>
#include <httplib.h>

#include <thread>

#include "client_fixture.h"
#include "network/service.h"

namespace orv::test {
namespace {

// Notes the thread of every callback.
class ThreadNotingDelegate : public LocationDelegate {
 public:
  void onReceivedLocationWithOrvLocation(std::shared_ptr<LocationRes>) override { note(); }
  void onLocationErrorWithMsg(const std::string&) override { note(); }
  void onReceivedGeocodeWithResult(const GeocodeList&) override { note(); }
  void onReceivedPoiSearchWithResult(const GeocodeList&) override { note(); }

  std::vector<std::thread::id> threads;

 private:
  void note() { threads.push_back(std::this_thread::get_id()); }
};

class ClientThreadTest : public ::testing::Test {
 protected:
  ClientThreadTest() {
    for (const auto path : {detail::kGeocodePath, detail::kPlaceSearchPath}) {
      server.handle(std::string(path), [](const httplib::Request&, httplib::Response& res) {
        res.set_content(kTwoHits, "application/json");
        RunLoop::main().post([] {});  // wakes a wait on the main loop
      });
    }
    OrvClientLocation::setServiceConfiguration({server.baseUrl(), server.caFile(), ""});
  }
  ~ClientThreadTest() override { OrvClientLocation::setServiceConfiguration({}); }

  TestServer server{true};
};

TEST_F(ClientThreadTest, TwoWorkerThreadsEachGetTheirOwnOutcomes) {
  constexpr size_t kOutcomes = 15;  // five rounds of two answers and one failure
  bool onOwnThread[2] = {false, false};
  auto work = [&](bool& ok) {
    auto delegate = std::make_shared<ThreadNotingDelegate>();
    {
      OrvClientLocation client(delegate);
      client.initKey("test-key");
      client.setAgreePrivacy(true);
      for (int i = 0; i < 5; ++i) {
        client.getGeocCode("天安门", "北京");
        client.poiKeySearch("咖啡", "010", "北京", 1, 10);
        client.getReverseCode(NAN, 116.4);  // fails before sending, still on this thread's loop
      }
      RunLoop::current().runUntil([&] { return delegate->threads.size() == kOutcomes; },
                                  std::chrono::seconds(20));
    }
    ok = delegate->threads == std::vector(kOutcomes, std::this_thread::get_id());
  };
  std::thread a(work, std::ref(onOwnThread[0]));
  std::thread b(work, std::ref(onOwnThread[1]));
  a.join();
  b.join();
  RunLoop::main().processPending();  // nothing was delivered to the main loop either
  EXPECT_TRUE(onOwnThread[0] && onOwnThread[1]);
}

// An outcome that arrives after its thread (and loop) ended is dropped, not delivered to freed
// memory.
TEST_F(ClientThreadTest, OutcomeForAnEndedThreadIsDropped) {
  auto delegate = std::make_shared<ThreadNotingDelegate>();
  std::thread([&] {
    OrvClientLocation client(delegate);
    client.initKey("test-key");
    client.setAgreePrivacy(true);
    client.poiKeySearch("咖啡", "010", "北京", 1, 10);  // holds the client until it is handled
  }).join();
  const bool arrived = RunLoop::main().runUntil([&] { return server.receivedCount() == 1; },
                                                std::chrono::seconds(10));
  EXPECT_TRUE(arrived);
  RunLoop::main().runFor(std::chrono::milliseconds(300));
  EXPECT_TRUE(delegate->threads.empty());
}

#ifndef NDEBUG
TEST(ClientThreadDeathTest, CallFromAnotherThreadStopsDebugBuilds) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_DEATH(
      {
        OrvClientLocation client(nullptr);
        std::thread([&] { client.setAgreePrivacy(true); }).join();
      },
      "called off the thread that created it");
}
#endif

}  // namespace
}  // namespace orv::test
