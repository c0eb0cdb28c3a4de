// Decode -> encode -> decode is stable: whatever decodes, as a LocationRes or a GeocodeRes list,
// encodes to JSON that decodes to the same tree (same encoding, byte for byte). The same input
// as plain JSON must survive our writer: parsed, written, parsed again, an equal value.
#include <simdjson.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "json_value.h"
#include "orv/geocode_res.h"
#include "orv/location_res.h"

namespace {

using orv::fuzz::check;

void locationRoundTrip(std::string_view body) {
  auto first = orv::LocationRes::decode(body);
  if (!first.ok()) return;
  auto encoded = first.value()->encode();
  check(encoded.ok(), "decoded LocationRes encodes");
  auto second = orv::LocationRes::decode(encoded.value());
  check(second.ok(), "encoded LocationRes decodes");
  auto again = second.value()->encode();
  check(again.ok() && again.value() == encoded.value(), "LocationRes round trip is stable");
}

orv::Result<std::string> encodeList(const std::vector<std::shared_ptr<orv::GeocodeRes>>& list) {
  std::string out = "[";
  for (const auto& hit : list) {
    auto one = hit->encode();
    if (!one.ok()) return one.error();
    if (out.size() > 1) out += ',';
    out += one.value();
  }
  out += ']';
  return out;
}

void geocodeRoundTrip(std::string_view body) {
  auto first = orv::decodeGeocodeList(body);
  if (!first.ok()) return;
  auto encoded = encodeList(first.value());
  check(encoded.ok(), "decoded hits encode");
  auto second = orv::decodeGeocodeList(encoded.value());
  check(second.ok() && second.value().size() == first.value().size(), "encoded hits decode");
  auto again = encodeList(second.value());
  check(again.ok() && again.value() == encoded.value(), "GeocodeRes round trip is stable");
}

void writerRoundTrip(std::string_view body) {
  static simdjson::dom::parser original, rewritten;
  simdjson::dom::element a, b;
  if (original.parse(body.data(), body.size()).get(a)) return;
  orv::detail::JsonWriter w;
  orv::detail::writeValue(w, a, orv::detail::JsonPath{});
  auto out = std::move(w).finish();
  check(out.ok(), "a parsed value writes");
  check(!rewritten.parse(out.value()).get(b), "written value parses");
  check(orv::detail::sameValue(a, b), "written value equals the parsed one");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  locationRoundTrip(body);
  geocodeRoundTrip(body);
  writerRoundTrip(body);
  return 0;
}
