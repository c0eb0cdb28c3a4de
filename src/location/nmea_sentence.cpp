#include "location/nmea_sentence.h"

#include <array>
#include <charconv>
#include <chrono>
#include <cmath>

namespace orv::detail {
namespace {

constexpr double kKnot = 1852.0 / 3600.0;  // metres per second
constexpr std::size_t kMaxFields = 20;

// GNSS talkers: GPS, combined, GLONASS, Galileo, BeiDou (both spellings), QZSS (before and since
// NMEA 4.11), NavIC.
constexpr std::array<std::string_view, 9> kTalkers = {"GP", "GN", "GL", "GA", "GB",
                                                      "BD", "QZ", "GQ", "GI"};

class Fields {
 public:
  // Splits the data part (after the address field); false when there are too many fields.
  bool split(std::string_view data) {
    count_ = 0;
    while (true) {
      if (count_ == kMaxFields) return false;
      const auto comma = data.find(',');
      fields_[count_++] = data.substr(0, comma);
      if (comma == std::string_view::npos) return true;
      data.remove_prefix(comma + 1);
    }
  }
  std::size_t size() const { return count_; }
  std::string_view operator[](std::size_t i) const { return fields_[i]; }

 private:
  std::array<std::string_view, kMaxFields> fields_{};
  std::size_t count_ = 0;
};

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool isDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// A decimal number: optional minus, digits, optional fraction. No exponents, no "inf"/"nan".
// Empty is absent (NaN, true); anything else malformed is false.
bool number(std::string_view s, double& out) {
  out = NmeaSentence::kAbsent;
  if (s.empty()) return true;
  std::string_view digits = s.starts_with('-') ? s.substr(1) : s;
  const auto dot = digits.find('.');
  const std::string_view whole = digits.substr(0, dot);
  const std::string_view fraction =
      dot == std::string_view::npos ? std::string_view{} : digits.substr(dot + 1);
  if ((!whole.empty() && !isDigits(whole)) || (!fraction.empty() && !isDigits(fraction)) ||
      (whole.empty() && fraction.empty())) {
    return false;
  }
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc{} && end == s.data() + s.size() && std::isfinite(out);
}

// A number that must be absent or at least zero.
bool nonNegative(std::string_view s, double& out) { return number(s, out) && !(out < 0); }

// hhmmss with an optional fraction; -1 when empty. A leap second (60) is allowed.
bool timeOfDay(std::string_view s, int32_t& ms) {
  ms = -1;
  if (s.empty()) return true;
  if (s.size() < 6 || !isDigits(s.substr(0, 6))) return false;
  const int h = (s[0] - '0') * 10 + (s[1] - '0');
  const int m = (s[2] - '0') * 10 + (s[3] - '0');
  const int sec = (s[4] - '0') * 10 + (s[5] - '0');
  double fraction = 0;
  if (s.size() > 6) {
    if (s[6] != '.' || !number(s.substr(6), fraction)) return false;
    if (std::isnan(fraction)) fraction = 0;
  }
  if (h > 23 || m > 59 || sec > 60) return false;
  ms = ((h * 60 + m) * 60 + sec) * 1000 + static_cast<int32_t>(std::lround(fraction * 1000));
  return true;
}

// ddmm.mmmm (or dddmm.mmmm) with its hemisphere letter; both empty is absent.
bool angle(std::string_view value, std::string_view hemisphere, double maxDegrees, char positive,
           char negative, double& out) {
  out = NmeaSentence::kAbsent;
  if (value.empty() && hemisphere.empty()) return true;
  double v = 0;
  if (value.empty() || hemisphere.size() != 1 || value.starts_with('-') || !number(value, v)) {
    return false;
  }
  const double degrees = std::floor(v / 100);
  const double minutes = v - degrees * 100;
  if (minutes >= 60) return false;
  const double result = degrees + minutes / 60;
  if (result > maxDegrees) return false;
  if (hemisphere[0] == positive) {
    out = result;
  } else if (hemisphere[0] == negative) {
    out = -result;
  } else {
    return false;
  }
  return true;
}

bool oneOf(std::string_view field, std::string_view letters, bool emptyAllowed) {
  if (field.empty()) return emptyAllowed;
  return field.size() == 1 && letters.find(field[0]) != std::string_view::npos;
}

bool course(std::string_view s, double& out) {
  if (!nonNegative(s, out) || out > 360) return false;
  if (out == 360) out = 0;
  return true;
}

// The RMC and VTG mode indicator (NMEA 2.3): N not valid, M manual input and S simulator are not
// fixes from the receiver.
bool modeIsFix(std::string_view mode) {
  return mode.empty() || (mode != "N" && mode != "M" && mode != "S");
}

bool decodeGga(const Fields& f, NmeaSentence& s) {
  if (f.size() != 14) return false;
  if (!timeOfDay(f[0], s.timeOfDayMs) || !angle(f[1], f[2], 90, 'N', 'S', s.latitude) ||
      !angle(f[3], f[4], 180, 'E', 'W', s.longitude) || !oneOf(f[5], "012345678", false) ||
      !nonNegative(f[7], s.hdop) || !number(f[8], s.altitude) || !oneOf(f[9], "M", true)) {
    return false;
  }
  // 1 GPS, 2 differential, 3 PPS, 4 RTK fixed, 5 RTK float, 6 dead reckoning; 0 is no fix, 7
  // manual input and 8 simulation are not the receiver's own.
  const char quality = f[5][0];
  s.fix = quality >= '1' && quality <= '6' && s.timeOfDayMs >= 0;
  return true;
}

bool decodeRmc(const Fields& f, NmeaSentence& s) {
  if (f.size() < 11 || f.size() > 13) return false;
  const std::string_view mode = f.size() > 11 ? f[11] : std::string_view{};
  const std::string_view navStatus = f.size() > 12 ? f[12] : std::string_view{};
  if (!timeOfDay(f[0], s.timeOfDayMs) || !oneOf(f[1], "AV", false) ||
      !angle(f[2], f[3], 90, 'N', 'S', s.latitude) ||
      !angle(f[4], f[5], 180, 'E', 'W', s.longitude) || !nonNegative(f[6], s.speed) ||
      !course(f[7], s.course) || !oneOf(mode, "ADEFRPMSN", true) ||
      !oneOf(navStatus, "SCUV", true)) {
    return false;
  }
  s.speed *= kKnot;
  // The NMEA 4.1 navigational status is not read: u-blox units always send V ("no status").
  s.fix = f[1] == "A" && modeIsFix(mode) && s.timeOfDayMs >= 0;
  if (!f[8].empty()) {
    if (f[8].size() != 6 || !isDigits(f[8])) return false;
    const int d = (f[8][0] - '0') * 10 + (f[8][1] - '0');
    const int m = (f[8][2] - '0') * 10 + (f[8][3] - '0');
    const int y = (f[8][4] - '0') * 10 + (f[8][5] - '0');
    const int year = y < 80 ? 2000 + y : 1900 + y;
    const std::chrono::year_month_day ymd{std::chrono::year(year),
                                          std::chrono::month(static_cast<unsigned>(m)),
                                          std::chrono::day(static_cast<unsigned>(d))};
    if (!ymd.ok()) return false;
    s.year = year;
    s.month = m;
    s.day = d;
  }
  return true;
}

bool decodeGsa(const Fields& f, NmeaSentence& s) {
  if (f.size() != 17 && f.size() != 18) return false;
  double pdop = 0;
  if (!oneOf(f[0], "MA", true) || !oneOf(f[1], "123", false) || !nonNegative(f[14], pdop) ||
      !nonNegative(f[15], s.hdop) || !nonNegative(f[16], s.vdop)) {
    return false;
  }
  for (std::size_t i = 2; i < 14; ++i) {
    if (!f[i].empty() && !isDigits(f[i])) return false;
  }
  s.fixDimension = f[1][0] - '0';
  s.fix = s.fixDimension >= 2;
  return true;
}

bool decodeGst(const Fields& f, NmeaSentence& s) {
  double unused = 0;
  return f.size() == 8 && timeOfDay(f[0], s.timeOfDayMs) && nonNegative(f[1], unused) &&
         nonNegative(f[2], unused) && nonNegative(f[3], unused) && number(f[4], unused) &&
         nonNegative(f[5], s.latitudeSigma) && nonNegative(f[6], s.longitudeSigma) &&
         nonNegative(f[7], s.altitudeSigma) && s.timeOfDayMs >= 0;
}

bool decodeVtg(const Fields& f, NmeaSentence& s) {
  if (f.size() != 8 && f.size() != 9) return false;
  double magnetic = 0;
  double knots = 0;
  double kmh = 0;
  const std::string_view mode = f.size() > 8 ? f[8] : std::string_view{};
  if (!course(f[0], s.course) || !oneOf(f[1], "T", true) || !course(f[2], magnetic) ||
      !oneOf(f[3], "M", true) || !nonNegative(f[4], knots) || !oneOf(f[5], "N", true) ||
      !nonNegative(f[6], kmh) || !oneOf(f[7], "K", true) || !oneOf(mode, "ADEFRPMSN", true)) {
    return false;
  }
  s.speed = std::isnan(kmh) ? knots * kKnot : kmh / 3.6;
  // Without a valid mode the values are not the receiver's: drop them, the position sentences
  // decide whether the epoch is a fix.
  if (!modeIsFix(mode)) s.speed = s.course = NmeaSentence::kAbsent;
  return true;
}

}  // namespace

std::optional<NmeaSentence> decodeNmeaSentence(std::string_view line) {
  if (line.size() > kNmeaMaxSentence || !line.starts_with('$')) return std::nullopt;
  std::string_view body = line.substr(1);
  const auto star = body.find('*');
  if (star != std::string_view::npos) {
    const std::string_view sum = body.substr(star + 1);
    if (sum.size() != 2 || hexValue(sum[0]) < 0 || hexValue(sum[1]) < 0) return std::nullopt;
    body = body.substr(0, star);
    unsigned x = 0;
    for (char c : body) x ^= static_cast<unsigned char>(c);
    if (x != static_cast<unsigned>(hexValue(sum[0]) * 16 + hexValue(sum[1]))) return std::nullopt;
  }
  for (char c : body) {
    if (c < 0x20 || c > 0x7e || c == '$' || c == '*') return std::nullopt;
  }
  const auto comma = body.find(',');
  const std::string_view address = body.substr(0, comma);
  if (address.size() != 5 || comma == std::string_view::npos) return std::nullopt;
  const std::string_view talker = address.substr(0, 2);
  bool known = false;
  for (auto t : kTalkers) known = known || t == talker;
  if (!known) return std::nullopt;

  NmeaSentence s;
  s.talker = static_cast<uint16_t>((static_cast<unsigned char>(talker[0]) << 8) |
                                   static_cast<unsigned char>(talker[1]));
  const std::string_view type = address.substr(2);
  Fields fields;
  if (!fields.split(body.substr(comma + 1))) return std::nullopt;
  bool ok = false;
  if (type == "GGA") {
    s.type = NmeaType::gga;
    ok = decodeGga(fields, s);
  } else if (type == "RMC") {
    s.type = NmeaType::rmc;
    ok = decodeRmc(fields, s);
  } else if (type == "GSA") {
    s.type = NmeaType::gsa;
    ok = decodeGsa(fields, s);
  } else if (type == "GST") {
    s.type = NmeaType::gst;
    ok = decodeGst(fields, s);
  } else if (type == "VTG") {
    s.type = NmeaType::vtg;
    ok = decodeVtg(fields, s);
  }
  if (!ok) return std::nullopt;
  return s;
}

}  // namespace orv::detail
