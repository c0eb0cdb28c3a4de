// Cancelling single requests: whatever the moment, each request ends with exactly one callback
// (none for an outcome the client would drop).
#include <gtest/gtest.h>
#include <httplib.h>

#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "client_fixture.h"
#include "network/service.h"

namespace orv::test {
namespace {

// Holds the server's answers until opened.
struct Gate {
  std::mutex mutex;
  std::condition_variable opened;
  bool open = false;
  void release() {
    std::lock_guard lock(mutex);
    open = true;
    opened.notify_all();
  }
  void wait() {
    std::unique_lock lock(mutex);
    opened.wait(lock, [this] { return open; });
  }
};

struct RequestKind {
  std::string name;
  std::string path;
  std::function<RequestHandle(OrvClientLocation&)> start;
  std::string answer;
  std::string successEvent;
  bool outlivesClient;  // place searches are delivered after the client is gone
};

void PrintTo(const RequestKind& kind, std::ostream* os) { *os << kind.name; }

Location fix() {
  Location l;
  l.coordinate = {39.9, 116.4};
  l.horizontalAccuracy = 5;
  return l;
}

const RequestKind kKinds[] = {
    {"Track", std::string(detail::kTrackPointsPath),
     [](OrvClientLocation& c) { return c.getTrackLocationWithHandle(fix()); }, kLocationAnswer,
     "delegate:location", false},
    {"Reverse", std::string(detail::kReverseGeocodePath),
     [](OrvClientLocation& c) { return c.getReverseCodeWithHandle(39.9, 116.4); }, kLocationAnswer,
     "delegate:reverse", false},
    {"Geocode", std::string(detail::kGeocodePath),
     [](OrvClientLocation& c) { return c.getGeocCodeWithHandle("天安门", "北京"); }, kTwoHits,
     "delegate:geocode:2", false},
    {"PlaceSearch", std::string(detail::kPlaceSearchPath),
     [](OrvClientLocation& c) { return c.poiKeySearchWithHandle("咖啡", "010", "北京", 1, 10); },
     kTwoHits, "delegate:poi:2", true},
    {"NearbySearch", std::string(detail::kNearbySearchPath),
     [](OrvClientLocation& c) {
       return c.poiNearbySearchWithHandle("咖啡", "116.4,39.9", 500, "", "", 1, 10);
     },
     kTwoHits, "delegate:poi:2", true},
};

class RequestCancelTest : public ClientTest, public ::testing::WithParamInterface<RequestKind> {
 protected:
  RequestCancelTest() {
    server.handle(GetParam().path, [gate = gate, body = GetParam().answer](const httplib::Request&,
                                                                           httplib::Response& res) {
      RunLoop::main().post([] {});  // wakes the wait for the request's arrival
      gate->wait();
      res.set_content(body, "application/json");
    });
  }
  ~RequestCancelTest() override { gate->release(); }

  // The request is at the server, which holds its answer.
  RequestHandle startHeld() {
    RequestHandle handle = GetParam().start(*client);
    EXPECT_TRUE(waitFor([&] { return server.receivedCount() == 1; }));
    return handle;
  }
  // Exactly one callback, the cancellation, and no other after the answer is let through.
  void expectCancelledOnce(const RequestHandle& handle) {
    ASSERT_TRUE(waitFor([&] { return delegate->calls == 1; }));
    gate->release();
    RunLoop::main().runFor(std::chrono::milliseconds(300));
    EXPECT_EQ(delegate->calls, 1u);
    ASSERT_EQ(delegate->typed.size(), 1u);
    EXPECT_EQ(delegate->typed[0].code, ErrorCode::cancelled);
    EXPECT_EQ(delegate->typed[0].message, "请求已取消");
    EXPECT_EQ(delegate->typed[0].status, -1);
    EXPECT_TRUE(handle.finished());
  }

  std::shared_ptr<Gate> gate = std::make_shared<Gate>();
  std::unique_ptr<OrvClientLocation> client = makeClient();
};

TEST_P(RequestCancelTest, BeforeItIsSent) {
  const RequestHandle handle = GetParam().start(*client);
  handle.cancel();
  EXPECT_EQ(delegate->calls, 0u) << "reported inside the call";
  expectCancelledOnce(handle);
}

TEST_P(RequestCancelTest, InFlightTheTransferIsAborted) {
  const RequestHandle handle = startHeld();
  handle.cancel();
  handle.cancel();  // idempotent
  // Reported while the server still holds the answer: the transfer did not wait for it.
  expectCancelledOnce(handle);
}

TEST_P(RequestCancelTest, FromAnotherThread) {
  const RequestHandle handle = startHeld();
  std::thread([copy = handle] { copy.cancel(); }).join();
  expectCancelledOnce(handle);
}

TEST_P(RequestCancelTest, AfterCompletionChangesNothing) {
  gate->release();
  const RequestHandle handle = GetParam().start(*client);
  ASSERT_TRUE(waitFor([&] { return delegate->calls == 1; }));
  EXPECT_TRUE(handle.finished());
  handle.cancel();
  RunLoop::main().runFor(std::chrono::milliseconds(100));
  EXPECT_EQ(trace.count(GetParam().successEvent), 1u);
  EXPECT_EQ(delegate->calls, 1u);
}

// Outcomes the client would drop are aborted with it (no callback); searches are still answered.
TEST_P(RequestCancelTest, ClientDestroyedWithTheRequestInFlight) {
  const RequestHandle handle = startHeld();
  client.reset();
  if (GetParam().outlivesClient) {
    gate->release();
    ASSERT_TRUE(waitFor([&] { return delegate->calls == 1; }));
    EXPECT_EQ(trace.count(GetParam().successEvent), 1u);
  } else {
    // Ends while the server still holds the answer: the transfer was aborted.
    ASSERT_TRUE(waitFor([&] { return handle.finished(); }));
    gate->release();
    RunLoop::main().runFor(std::chrono::milliseconds(300));
    EXPECT_EQ(delegate->calls, 0u);
  }
  handle.cancel();  // outlives its client harmlessly
}

INSTANTIATE_TEST_SUITE_P(Kinds, RequestCancelTest, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return info.param.name; });

// A request that could not be built, cancelled before its failure is handled, reports the
// cancellation instead; a call the gate turns down has nothing to cancel.
TEST_F(ClientTest, CancelOfAnUnbuildableRequestAndOfARefusedCall) {
  auto client = makeClient();
  const RequestHandle unbuildable = client->getReverseCodeWithHandle(NAN, 116.4);
  unbuildable.cancel();
  ASSERT_TRUE(waitFor([&] { return delegate->calls == 1; }));
  EXPECT_EQ(delegate->typed.at(0).code, ErrorCode::cancelled);

  client->setAgreePrivacy(false);
  const RequestHandle refused = client->getGeocCodeWithHandle("天安门", "北京");
  EXPECT_TRUE(refused.empty());
  EXPECT_TRUE(refused.finished());
  refused.cancel();
  EXPECT_EQ(delegate->typed.at(1).code, ErrorCode::consentMissing);
  RunLoop::main().runFor(std::chrono::milliseconds(100));
  EXPECT_EQ(delegate->calls, 2u);
}

}  // namespace
}  // namespace orv::test
