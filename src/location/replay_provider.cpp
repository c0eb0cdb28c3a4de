#include "location/replay_provider.h"

#include <charconv>
#include <cmath>
#include <utility>

#include "orv/run_loop.h"

namespace orv::detail {
namespace {

constexpr std::string_view kHeader = "time,lat,lng,alt,hacc,vacc,speed";
constexpr int kFields = 7;

std::string_view trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

Error lineError(std::string_view name, size_t line, const std::string& what) {
  return Error{"orv.location.replay", static_cast<int64_t>(line),
               std::string(name) + ":" + std::to_string(line) + ": " + what};
}

// Seconds to wait before row `index` of pass `pass`, measured from the start of playback. A new
// pass begins one mean row spacing after the last row, so a looped track keeps its rhythm.
double rowOffset(const std::vector<TrackRow>& rows, size_t index, uint64_t pass) {
  const double span = rows.back().time - rows.front().time;
  const double spacing = rows.size() > 1 ? span / static_cast<double>(rows.size() - 1) : 1.0;
  return static_cast<double>(pass) * (span + spacing) + rows[index].time - rows.front().time;
}

}  // namespace

Result<std::vector<TrackRow>> parseTrack(std::string_view text, std::string_view name) {
  std::vector<TrackRow> rows;
  size_t lineNo = 0;
  bool headerSeen = false;
  while (!text.empty()) {
    const auto eol = text.find('\n');
    const std::string_view line = trim(text.substr(0, eol));
    text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
    ++lineNo;
    if (line.empty()) continue;
    if (!headerSeen) {
      if (line != kHeader) {
        return lineError(name, lineNo, "expected header \"" + std::string(kHeader) + "\"");
      }
      headerSeen = true;
      continue;
    }
    double v[kFields];
    std::string_view rest = line;
    for (int i = 0; i < kFields; ++i) {
      const auto comma = rest.find(',');
      if ((comma == std::string_view::npos) != (i == kFields - 1)) {
        return lineError(name, lineNo, "expected 7 comma-separated fields");
      }
      const std::string_view field = trim(rest.substr(0, comma));
      rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
      const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), v[i]);
      if (field.empty() || ec != std::errc{} || end != field.data() + field.size() ||
          !std::isfinite(v[i])) {
        return lineError(name, lineNo, "field " + std::to_string(i + 1) + " is not a number");
      }
    }
    if (!rows.empty() && v[0] < rows.back().time) {
      return lineError(name, lineNo, "time goes backwards");
    }
    TrackRow row;
    row.time = v[0];
    row.fix.coordinate = {v[1], v[2]};
    row.fix.altitude = v[3];
    row.fix.horizontalAccuracy = v[4];
    row.fix.verticalAccuracy = v[5];
    row.fix.speed = v[6];
    rows.push_back(row);
  }
  if (rows.empty()) {
    return lineError(name, lineNo, headerSeen ? "no rows after the header" : "empty file");
  }
  return rows;
}

struct ReplayProvider::Playback {
  std::weak_ptr<LocationSink> sink;
  std::shared_ptr<const std::vector<TrackRow>> rows;
  double speed = 1.0;
  bool loop = false;
  size_t next = 0;
  uint64_t pass = 0;
  RunLoop::TimePoint origin{};
  std::chrono::system_clock::time_point wallOrigin{};  // stamped on the first row
  std::shared_ptr<Timer> timer;

  void scheduleNext(const std::shared_ptr<Playback>& self) {
    double wait = 0.0;
    if (speed > 0.0) {
      const auto due =
          origin + std::chrono::duration_cast<RunLoop::Duration>(
                       std::chrono::duration<double>(rowOffset(*rows, next, pass) / speed));
      wait = std::chrono::duration<double>(due - RunLoop::current().now()).count();
    }
    std::weak_ptr<Playback> weak = self;
    timer = Timer::scheduled(std::chrono::duration<double>(wait), false, [weak](Timer&) {
      if (auto p = weak.lock()) p->fire(p);
    });
  }

  void fire(const std::shared_ptr<Playback>& self) {
    auto target = sink.lock();
    if (!target) return;
    Location fix = (*rows)[next].fix;
    // The recorded spacing at any pace: what is derived from fix times (dwell, speed) does not
    // depend on how fast the track plays.
    fix.timestamp = wallOrigin + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                     std::chrono::duration<double>(rowOffset(*rows, next, pass)));
    if (++next == rows->size()) {
      next = 0;
      ++pass;
    }
    // Schedule before delivering so the next row's due time does not depend on the sink.
    if (next != 0 || loop) scheduleNext(self);
    target->deliverLocations({fix});
  }
};

ReplayProvider::ReplayProvider(std::vector<TrackRow> rows, const ReplayOptions& options)
    : rows_(std::make_shared<const std::vector<TrackRow>>(std::move(rows))),
      speed_(options.speed),
      loop_(options.loop),
      status_(options.authorizationStatus) {}

AuthorizationStatus ReplayProvider::authorizationStatus() const { return status_; }

std::unique_ptr<LocationStream> ReplayProvider::open(const std::shared_ptr<LocationSink>& sink) {
  auto playback = std::make_shared<Playback>();
  playback->sink = sink;
  playback->rows = rows_;
  playback->speed = speed_;
  playback->loop = loop_;
  playback->origin = RunLoop::current().now();
  playback->wallOrigin = std::chrono::system_clock::now();
  playback->scheduleNext(playback);
  return streamEndingWith([playback] {
    if (playback->timer) playback->timer->invalidate();
  });
}

}  // namespace orv::detail
