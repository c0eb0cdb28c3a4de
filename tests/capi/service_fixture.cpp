#include "service_fixture.h"

#include <cstdio>
#include <memory>
#include <string>

#include "emulator/emulator.h"

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
  auto* service = new test_service{std::move(started).value(), {}, {}};
  service->baseUrl = service->emulator->baseUrl();
  service->caFile = service->emulator->caFile();
  return service;
}

void test_service_stop(test_service* service) { delete service; }

const char* test_service_base_url(const test_service* service) { return service->baseUrl.c_str(); }

const char* test_service_ca_file(const test_service* service) { return service->caFile.c_str(); }

const char* test_service_key(void) { return orv::emulator::kDemoKey; }

}  // extern "C"
