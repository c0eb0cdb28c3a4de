#include "location/gpsd_protocol.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace orv::detail {
namespace {

using simdjson::dom::element;
using simdjson::dom::object;

std::optional<double> number(object obj, std::string_view key) {
  element value;
  if (obj[key].get(value) != simdjson::SUCCESS) return std::nullopt;
  double out = 0;
  if (value.get_double().get(out) != simdjson::SUCCESS || !std::isfinite(out)) return std::nullopt;
  return out;
}

GpsdMessage skipped(std::string why) {
  GpsdMessage m;
  m.kind = GpsdMessage::Kind::skipped;
  m.detail = std::move(why);
  return m;
}

// A fix from a TPV with mode 2 or 3; `other` when gpsd has no fix yet.
GpsdMessage readTpv(object tpv, std::chrono::system_clock::time_point now) {
  GpsdMessage m;
  const auto mode = number(tpv, "mode");
  if (!mode || *mode < 2) return m;
  const auto lat = number(tpv, "lat");
  const auto lon = number(tpv, "lon");
  if (!lat || !lon) return skipped("TPV fix without lat/lon");
  if (std::abs(*lat) > 90 || std::abs(*lon) > 180) return skipped("TPV coordinates out of range");

  Location& fix = m.fix;
  fix.coordinate = {*lat, *lon};
  const auto altitude = number(tpv, "altMSL") ? number(tpv, "altMSL") : number(tpv, "alt");
  fix.altitude = altitude.value_or(0.0);
  const auto epv = number(tpv, "epv");
  fix.verticalAccuracy = altitude && epv ? *epv : -1.0;
  if (const auto eph = number(tpv, "eph")) {
    fix.horizontalAccuracy = *eph;
  } else {
    const auto epx = number(tpv, "epx");
    const auto epy = number(tpv, "epy");
    if (epx || epy) fix.horizontalAccuracy = std::max(epx.value_or(-1.0), epy.value_or(-1.0));
  }
  fix.speed = number(tpv, "speed").value_or(-1.0);
  fix.course = number(tpv, "track").value_or(-1.0);
  fix.timestamp = now;
  std::string_view time;
  if (tpv["time"].get(time) == simdjson::SUCCESS) {
    if (const auto t = parseGpsdTime(time)) fix.timestamp = *t;
  }
  m.kind = GpsdMessage::Kind::fix;
  return m;
}

// Digits at text[pos, pos + n) as a number, or -1.
int digits(std::string_view text, size_t pos, size_t n) {
  if (pos + n > text.size()) return -1;
  int v = 0;
  const auto [end, ec] = std::from_chars(text.data() + pos, text.data() + pos + n, v);
  return ec == std::errc{} && end == text.data() + pos + n && text[pos] != '-' ? v : -1;
}

}  // namespace

void GpsdLineSplitter::feed(std::string_view bytes, const LineHandler& handle) {
  while (!bytes.empty()) {
    const auto eol = bytes.find('\n');
    const std::string_view part = bytes.substr(0, eol);
    bytes = eol == std::string_view::npos ? std::string_view{} : bytes.substr(eol + 1);
    const bool complete = eol != std::string_view::npos;
    if (!discarding_ && pending_.size() + part.size() > kMaxGpsdLine + 1) {
      // +1: a '\r' before the newline does not count against the limit.
      pending_.clear();
      discarding_ = true;
      handle({}, true);
    }
    if (discarding_) {
      if (complete) discarding_ = false;
      continue;
    }
    if (!complete) {
      pending_.append(part);
      continue;
    }
    std::string_view line = part;
    if (!pending_.empty()) {
      pending_.append(part);
      line = pending_;
    }
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() > kMaxGpsdLine) {
      handle({}, true);
    } else if (!line.empty()) {
      handle(line, false);
    }
    pending_.clear();
  }
}

void GpsdLineSplitter::reset() {
  pending_.clear();
  discarding_ = false;
}

GpsdMessage readGpsdLine(std::string_view line, simdjson::dom::parser& parser,
                         std::chrono::system_clock::time_point now) {
  object obj;
  // The parser validates UTF-8, so invalid text fails here like malformed JSON.
  if (const auto error = parser.parse(line.data(), line.size(), true).get(obj)) {
    return skipped(std::string("not a JSON object: ") + simdjson::error_message(error));
  }
  std::string_view cls;
  if (obj["class"].get(cls) != simdjson::SUCCESS) return skipped("object without a class");
  GpsdMessage m;
  if (cls == "TPV") return readTpv(obj, now);
  if (cls == "VERSION") {
    m.kind = GpsdMessage::Kind::version;
    const auto major = number(obj, "proto_major");
    m.protoMajor = major && std::abs(*major) < 1e9 ? static_cast<int64_t>(*major) : -1;
  } else if (cls == "WATCH") {
    m.kind = GpsdMessage::Kind::watch;
    bool json = false;
    m.watchJson = obj["json"].get(json) == simdjson::SUCCESS && json;
  } else if (cls == "ERROR") {
    m.kind = GpsdMessage::Kind::error;
    std::string_view message;
    m.detail = obj["message"].get(message) == simdjson::SUCCESS ? message : "unknown error";
  }
  return m;
}

std::optional<std::chrono::system_clock::time_point> parseGpsdTime(std::string_view text) {
  // YYYY-MM-DDTHH:MM:SS[.fff...]Z
  if (text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text.back() != 'Z') {
    return std::nullopt;
  }
  const int y = digits(text, 0, 4), mo = digits(text, 5, 2), d = digits(text, 8, 2);
  const int h = digits(text, 11, 2), mi = digits(text, 14, 2), s = digits(text, 17, 2);
  // The clock's nanoseconds reach only about 1678 to 2262; GPS time begins in 1980.
  if (y < 1970 || y > 2200 || mo < 0 || d < 0 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 ||
      s > 60) {
    return std::nullopt;
  }
  const std::chrono::year_month_day date{std::chrono::year{y},
                                         std::chrono::month{static_cast<unsigned>(mo)},
                                         std::chrono::day{static_cast<unsigned>(d)}};
  if (!date.ok()) return std::nullopt;
  std::chrono::nanoseconds fraction{0};
  const std::string_view rest = text.substr(19, text.size() - 20);
  if (!rest.empty()) {
    if (rest[0] != '.' || rest.size() < 2 || rest.size() > 10) return std::nullopt;
    int64_t scale = 100000000;
    for (const char c : rest.substr(1)) {
      if (c < '0' || c > '9') return std::nullopt;
      fraction += std::chrono::nanoseconds((c - '0') * scale);
      scale /= 10;
    }
  }
  const auto seconds = std::chrono::sys_days{date} + std::chrono::hours{h} +
                       std::chrono::minutes{mi} + std::chrono::seconds{s};
  return std::chrono::time_point_cast<std::chrono::system_clock::duration>(seconds + fraction);
}

}  // namespace orv::detail
