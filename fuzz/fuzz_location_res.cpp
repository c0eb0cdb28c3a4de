// Any bytes as a fusion-location reply: a record or a clean error. A decoded record has every
// required record present and encodes (its texts were valid UTF-8, its numbers finite).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"
#include "orv/location_res.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using orv::fuzz::check;
  auto r = orv::LocationRes::decode(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!r.ok()) {
    orv::fuzz::checkDecodeError(r.error());
    return 0;
  }
  const auto& res = r.value();
  check(
      res && res->location() && res->location()->position() && res->location()->position()->point(),
      "required records present");
  if (const auto& place = res->location()->place()) check(place->distance() != nullptr, "distance");
  if (const auto& address = res->location()->address()) {
    for (const auto& part : address->context()) check(part != nullptr, "context element");
  }
  check(res->encode().ok(), "a decoded record encodes");
  return 0;
}
