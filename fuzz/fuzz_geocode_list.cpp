// Any bytes as a geocode or place-search reply: a list or a clean error, never part of a list.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"
#include "orv/geocode_res.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using orv::fuzz::check;
  auto r = orv::decodeGeocodeList(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!r.ok()) {
    orv::fuzz::checkDecodeError(r.error());
    return 0;
  }
  for (const auto& hit : r.value()) {
    check(hit && hit->address(), "hit and its address present");
    if (hit->categories()) {
      for (const auto& c : *hit->categories()) check(c != nullptr, "category present");
    }
    check(hit->encode().ok(), "a decoded hit encodes");
  }
  return 0;
}
