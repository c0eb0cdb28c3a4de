#include "location/nmea_parser.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace orv::detail {
namespace {

using std::chrono::system_clock;
constexpr int32_t kHalfDayMs = 12 * 3600 * 1000;

bool present(double v) { return !std::isnan(v); }

void setIfAbsent(double& slot, double value) {
  if (!present(slot)) slot = value;
}

}  // namespace

NmeaParser::NmeaParser(WallClock now) : now_(std::move(now)) {
  if (!now_) now_ = [] { return system_clock::now(); };
  line_.reserve(kNmeaMaxSentence);
}

void NmeaParser::feed(std::string_view bytes, std::vector<Location>& fixes) {
  for (char c : bytes) {
    if (c == '$') {
      // "$" never occurs inside a sentence: it always starts one, which also resynchronises
      // after noise or a sentence cut short.
      line_.assign(1, c);
      inSentence_ = true;
      overlong_ = false;
    } else if (c == '\r' || c == '\n') {
      if (inSentence_ && !overlong_) feedSentence(line_, fixes);
      inSentence_ = false;
    } else if (inSentence_) {
      if (line_.size() >= kNmeaMaxSentence) {
        overlong_ = true;
      } else {
        line_.push_back(c);
      }
    }
  }
}

void NmeaParser::feedSentence(std::string_view line, std::vector<Location>& fixes) {
  const auto s = decodeNmeaSentence(line);
  if (!s) return;
  if (s->timeOfDayMs >= 0) {
    if (!open_ || epoch_.timeOfDayMs != s->timeOfDayMs) {
      closeEpoch(fixes);
      openEpoch();
    }
  } else if (!open_) {
    // Before the first timed sentence of a stream: its epoch began before we joined.
    return;
  }
  last_ = nextStep(s->key());
  if (emitted_) return;  // a late sentence of an epoch already handed out
  merge(*s);
  if (last_ == terminator_) finish(fixes);
}

void NmeaParser::flush(std::vector<Location>& fixes) {
  if (open_ && !emitted_) finish(fixes);
}

void NmeaParser::reset() {
  inSentence_ = overlong_ = false;
  line_.clear();
  open_ = emitted_ = false;
  epoch_ = {};
  keys_.clear();
  last_ = terminator_ = candidate_ = {};
}

NmeaParser::Step NmeaParser::nextStep(uint32_t key) {
  const int repeat = static_cast<int>(std::count(keys_.begin(), keys_.end(), key));
  keys_.push_back(key);
  return {key, repeat};
}

void NmeaParser::closeEpoch(std::vector<Location>& fixes) {
  if (!open_) return;
  if (!emitted_) finish(fixes);
  // Where this epoch ended teaches the cycle's terminator. A lost sentence moves that end for
  // one epoch only, so the terminator changes when two epochs in a row agree on a new one.
  if (terminator_ == Step{} || last_ == terminator_ || last_ == candidate_) {
    terminator_ = last_;
    candidate_ = {};
  } else {
    candidate_ = last_;
  }
}

void NmeaParser::openEpoch() {
  epoch_ = {};
  keys_.clear();
  open_ = true;
  emitted_ = false;
}

void NmeaParser::merge(const NmeaSentence& s) {
  NmeaEpoch& e = epoch_;
  if (s.timeOfDayMs >= 0) e.timeOfDayMs = s.timeOfDayMs;
  switch (s.type) {
    case NmeaType::gga:
      if (!s.fix) {
        e.noFix = true;
        break;
      }
      if (present(s.latitude) && present(s.longitude)) {
        e.latitude = s.latitude;
        e.longitude = s.longitude;
        e.positionFromGga = true;
      }
      e.altitude = s.altitude;
      if (present(s.hdop)) e.hdop = s.hdop;
      break;
    case NmeaType::rmc:
      if (!s.fix) {
        e.noFix = true;
        break;
      }
      if (!e.positionFromGga && present(s.latitude) && present(s.longitude)) {
        e.latitude = s.latitude;
        e.longitude = s.longitude;
      }
      setIfAbsent(e.speed, s.speed);
      setIfAbsent(e.course, s.course);
      if (s.year != 0) {
        e.year = s.year;
        e.month = s.month;
        e.day = s.day;
      }
      break;
    case NmeaType::gsa:
      e.fixDimension = std::max(e.fixDimension, s.fixDimension);
      if (s.fixDimension >= 2) {
        setIfAbsent(e.hdop, s.hdop);
        setIfAbsent(e.vdop, s.vdop);
      }
      break;
    case NmeaType::gst:
      e.latitudeSigma = s.latitudeSigma;
      e.longitudeSigma = s.longitudeSigma;
      e.altitudeSigma = s.altitudeSigma;
      break;
    case NmeaType::vtg:
      setIfAbsent(e.speed, s.speed);
      setIfAbsent(e.course, s.course);
      break;
  }
}

void NmeaParser::finish(std::vector<Location>& fixes) {
  emitted_ = true;
  const NmeaEpoch& e = epoch_;
  if (e.noFix || e.fixDimension == 1 || e.timeOfDayMs < 0 || !present(e.latitude) ||
      !present(e.longitude)) {
    return;
  }
  Location fix;
  fix.coordinate = {e.latitude, e.longitude};
  // A standard deviation of zero is a receiver's placeholder, not a perfect fix.
  const auto sigma = [](double v) { return present(v) && v > 0; };
  const auto dop = [](double v) { return present(v) && v > 0 ? v * kNmeaUere : -1.0; };
  if (sigma(e.latitudeSigma) && sigma(e.longitudeSigma)) {
    fix.horizontalAccuracy = std::hypot(e.latitudeSigma, e.longitudeSigma);
  } else {
    fix.horizontalAccuracy = dop(e.hdop);
  }
  if (present(e.altitude) && e.fixDimension != 2) {
    fix.altitude = e.altitude;
    fix.verticalAccuracy = sigma(e.altitudeSigma) ? e.altitudeSigma : dop(e.vdop);
  }
  fix.speed = present(e.speed) ? e.speed : -1.0;
  fix.course = present(e.course) ? e.course : -1.0;
  fix.timestamp = timestamp(e.timeOfDayMs);
  fixes.push_back(fix);
}

system_clock::time_point NmeaParser::timestamp(int32_t timeOfDayMs) {
  using namespace std::chrono;
  const milliseconds timeOfDay(timeOfDayMs);
  if (epoch_.year != 0) {
    date_ = sys_days{year_month_day{year(epoch_.year), month(static_cast<unsigned>(epoch_.month)),
                                    day(static_cast<unsigned>(epoch_.day))}};
    haveDate_ = true;
  } else if (haveDate_ && timeOfDayMs < dateTimeMs_ - kHalfDayMs) {
    date_ += days(1);  // midnight passed since the last RMC
  }
  if (haveDate_) {
    dateTimeMs_ = timeOfDayMs;
    return date_ + timeOfDay;
  }
  // No date yet: today's, or yesterday's or tomorrow's when the receiver's time of day is on
  // the other side of midnight from our clock.
  const auto now = now_();
  const auto today = floor<days>(now);
  system_clock::time_point best = today + timeOfDay;
  for (const auto d : {today - days(1), today + days(1)}) {
    const system_clock::time_point candidate = d + timeOfDay;
    if (abs(candidate - now) < abs(best - now)) best = candidate;
  }
  return best;
}

}  // namespace orv::detail
