#include "service_fixture.h"

#include <cstdio>
#include <memory>
#include <string>

#include "emulator/emulator.h"

struct test_service {
  std::unique_ptr<orv::emulator::Emulator> emulator;
  std::string baseUrl, caFile;
};

extern "C" {

test_service* test_service_start(void) {
  auto started = orv::emulator::Emulator::start({});
  if (!started) {
    std::fprintf(stderr, "cannot start the emulator: %s\n", started.error().message.c_str());
    return nullptr;
  }
  auto& emulator = *started.value();
  return new test_service{std::move(started).value(), emulator.baseUrl(), emulator.caFile()};
}

void test_service_stop(test_service* service) { delete service; }
const char* test_service_base_url(const test_service* service) { return service->baseUrl.c_str(); }
const char* test_service_ca_file(const test_service* service) { return service->caFile.c_str(); }
const char* test_service_key(void) { return orv::emulator::kDemoKey; }

}  // extern "C"
