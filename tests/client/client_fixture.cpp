#include "client_fixture.h"

#include "orv/bundle.h"

namespace orv::test {

std::vector<std::string> Trace::logLines() const {
  std::vector<std::string> out;
  for (const auto& e : events) {
    if (!e.starts_with("delegate:")) out.push_back(e);
  }
  return out;
}

ClientTest::ClientTest() {
  OrvClientLocation::setServiceConfiguration({server.baseUrl(), server.caFile(), ""});
  OrvClientLocation::setIsLogEnabled(true);
  OrvClientLocation::setLogSink([this](std::string_view line) { trace.events.emplace_back(line); });
}

ClientTest::~ClientTest() {
  OrvClientLocation::setLogSink({});
  OrvClientLocation::setIsLogEnabled(false);
  OrvClientLocation::setServiceConfiguration({});
  // Outcomes still queued belong to this test; run them out before the trace goes away.
  RunLoop::main().processPending();
}

std::unique_ptr<OrvClientLocation> ClientTest::makeClient(
    std::shared_ptr<LocationDelegate> withDelegate) {
  auto client = std::make_unique<OrvClientLocation>(std::move(withDelegate));
  client->setAgreePrivacy(true);
  client->initKey("test-key");
  return client;
}

void ClientTest::answer(const std::string& path, int status, const std::string& body) {
  server.handle(path, [=](const httplib::Request&, httplib::Response& res) {
    res.status = status;
    res.set_content(body, "application/json");
  });
}

// Reachability follows the configured service: the server on loopback routes, a broadcast
// address never leads to a service.
void ClientTest::setReachable(bool reachable) {
  OrvClientLocation::setServiceConfiguration(
      {reachable ? server.baseUrl() : "https://255.255.255.255", server.caFile(), ""});
}

PositioningTest::PositioningTest() {
  provider->setAuthorizationStatus(AuthorizationStatus::authorizedWhenInUse);
  Bundle::mainBundle().setObject("NSLocationWhenInUseUsageDescription", std::string("test"));
  setReachable(false);
}

PositioningTest::~PositioningTest() {
  client.reset();
  Bundle::mainBundle().clear();
  LocationService::useNone();
}

}  // namespace orv::test
