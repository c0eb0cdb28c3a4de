#include "service_fixture.h"

#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "emulator/emulator.h"
#include "fake_gpsd.h"
#include "network/network_checker.h"

struct test_gpsd {
  orv::test::FakeGpsd gpsd;
  std::thread server;
};

struct test_service {
  std::unique_ptr<orv::emulator::Emulator> emulator;
  std::string baseUrl;
  std::string caFile;
};

extern "C" {

test_service* test_service_start(void) {
  auto started = orv::emulator::Emulator::start({});
  if (!started) {
    std::fprintf(stderr, "cannot start the emulator: %s\n", started.error().message.c_str());
    return nullptr;
  }
  // The emulator is on loopback, which the default-route check does not look at.
  orv::detail::NetworkChecker::setFlagsQueryForTesting(
      [] { return std::optional<uint32_t>(orv::detail::NetworkChecker::kReachable); });
  auto* service = new test_service{std::move(started).value(), {}, {}};
  service->baseUrl = service->emulator->baseUrl();
  service->caFile = service->emulator->caFile();
  return service;
}

void test_service_stop(test_service* service) {
  orv::detail::NetworkChecker::setFlagsQueryForTesting(nullptr);
  delete service;
}

const char* test_service_base_url(const test_service* service) { return service->baseUrl.c_str(); }

const char* test_service_ca_file(const test_service* service) { return service->caFile.c_str(); }

const char* test_service_key(void) { return orv::emulator::kDemoKey; }

unsigned long test_service_requests(const test_service* service) {
  return static_cast<unsigned long>(service->emulator->stats().requests);
}

test_gpsd* test_gpsd_start(double latitude, double longitude) {
  auto* g = new test_gpsd;
  g->server = std::thread([g, latitude, longitude] {
    if (!g->gpsd.accept()) return;
    g->gpsd.greet();
    g->gpsd.send("{\"class\":\"TPV\",\"mode\":3,\"time\":\"2026-12-07T01:00:00.000Z\",\"lat\":" +
                 std::to_string(latitude) + ",\"lon\":" + std::to_string(longitude) +
                 ",\"altMSL\":4.0,\"eph\":5.0}\r\n");
    while (!g->gpsd.readLine().empty()) {
    }
  });
  return g;
}

int test_gpsd_port(const test_gpsd* gpsd) { return gpsd->gpsd.port(); }

void test_gpsd_stop(test_gpsd* gpsd) {
  gpsd->server.join();
  delete gpsd;
}

int test_unused_port(void) { return orv::test::freeLoopbackPort(); }

}  // extern "C"
