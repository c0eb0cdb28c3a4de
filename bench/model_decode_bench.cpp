// Decoding service replies into records (µs per document, MB/s) beside simdjson's parse alone,
// and writing the fusion-location body.
#include <benchmark/benchmark.h>
#include <simdjson.h>

#include <string>

#include "model/json_reader.h"
#include "model/request_bodies.h"
#include "orv/geocode_res.h"
#include "orv/location_res.h"

namespace {

// A place-search reply of 20 hits, about 8 KB, mostly Chinese texts as the service sends them.
const std::string& geocodeReply() {
  static const std::string reply = [] {
    const char* names[] = {"北京市东城区故宫博物院", "天安门广场东侧国家博物馆",
                           "王府井大街步行街百货大楼", "景山公园万春亭观景台"};
    std::string s = "[";
    for (int i = 0; i < 20; ++i) {
      const std::string n = std::to_string(i);
      if (i > 0) s += ',';
      s += R"({"id":"B000A8UIN)" + n + R"(","geoPoint":"116.39)" + n + R"(,39.91)" + n +
           R"(","type":"风景名胜;公园广场","name":")" + names[i % 4] + R"(","code":"1101)" + n +
           R"(","categories":[{"id":"110200","name":"公园广场"}],)"
           R"("address":{"name":"北京市东城区景山前街4号","context":[)"
           R"({"type":"province","name":"北京市","code":"110000"},)"
           R"({"type":"district","name":"东城区","code":"110101"}]},)"
           R"("relevance":0.)" +
           std::to_string(97 - i) + R"(,"distance":)" + std::to_string(125 + 37 * i) + ".5}";
    }
    return s + "]";
  }();
  return reply;
}

const std::string& locationReply() {
  static const std::string reply =
      R"({"id":"7d0c6a51-2f43-4b8e-9c1d-3a5e6f708192","asset":"A1B2C3D4-E5F6-4711-8899-AABBCCDDEEFF",)"
      R"("location":{"timestamp":1733390400123,"address":{"name":"北京市东城区东华门街道景山前街4号",)"
      R"("context":[{"type":"province","name":"北京市","code":"110000"},)"
      R"({"type":"district","name":"东城区","code":"110101"},)"
      R"({"type":"street","name":"东华门街道","code":"110101001"}]},)"
      R"("place":{"type":"风景名胜","name":"故宫博物院","distance":{"line":42.5}},)"
      R"("position":{"point":{"longitude":116.403963,"latitude":39.915119}}}})";
  return reply;
}

void perDocument(benchmark::State& state, const std::string& doc) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
  // Seconds per document, shown with an SI prefix ("12u" is 12 µs).
  state.counters["per_doc"] = benchmark::Counter(
      1, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["bytes"] = static_cast<double>(doc.size());
}

void BM_GeocodeList_ParseOnly(benchmark::State& state) {
  const std::string& doc = geocodeReply();
  simdjson::dom::parser parser;
  std::string padded;
  for (auto _ : state) {
    auto root = orv::detail::parseDocument(doc, parser, padded);
    benchmark::DoNotOptimize(root);
  }
  perDocument(state, doc);
}
BENCHMARK(BM_GeocodeList_ParseOnly);

void BM_GeocodeList_Decode(benchmark::State& state) {
  const std::string& doc = geocodeReply();
  if (!orv::decodeGeocodeList(doc).ok()) state.SkipWithError("reply does not decode");
  for (auto _ : state) {
    auto list = orv::decodeGeocodeList(doc);
    benchmark::DoNotOptimize(list);
  }
  perDocument(state, doc);
}
BENCHMARK(BM_GeocodeList_Decode);

void BM_LocationRes_Decode(benchmark::State& state) {
  const std::string& doc = locationReply();
  if (!orv::LocationRes::decode(doc).ok()) state.SkipWithError("reply does not decode");
  for (auto _ : state) {
    auto res = orv::LocationRes::decode(doc);
    benchmark::DoNotOptimize(res);
  }
  perDocument(state, doc);
}
BENCHMARK(BM_LocationRes_Decode);

void BM_TrackRequest_Encode(benchmark::State& state) {
  orv::detail::TrackRequest r;
  r.timestamp = 1733390400123;
  r.id = "3F2A9C1E-7B4D-4E8A-9C21-5D6E7F8A9B0C";
  r.asset.id = "A1B2C3D4-E5F6-4711-8899-AABBCCDDEEFF";
  r.asset.manufacturer = "Apple";
  r.asset.model = "iPhone";
  r.asset.os = orv::detail::OSInfo{"iOS", "17.4.1"};
  r.location.gnss.point = {116.397428, 39.90923};
  r.location.gnss.accuracy = 35.2;
  r.location.gnss.altitude = 43.6;
  r.location.gnss.verticalAccuracy = 12.3;
  r.location.gnss.velocity = 0.8;
  for (auto _ : state) {
    auto body = r.toJson();
    benchmark::DoNotOptimize(body);
  }
}
BENCHMARK(BM_TrackRequest_Encode);

}  // namespace

BENCHMARK_MAIN();
