// A host that owns its event loop (one epoll descriptor) and embeds the client in it.
//
//   epoll_host TRACK_CSV
//
// It starts the service emulator inside this process (a real host sets its own service URL),
// sends one of each request in turn, then positions continuously from a recorded track (CSV:
// time,lat,lng,alt,hacc,vacc,speed), printing one line per outcome. It exits with 0 only when
// every outcome it waited for arrived.
//
// The library needs three things from a host loop: watch RunLoop::pollFd(), sleep no longer
// than RunLoop::timeUntilNextTimer(), and call RunLoop::processPending() after every wake-up.
// Every delegate callback runs inside processPending(), on the thread that created the client.
#include <orv/bundle.h>
#include <orv/client.h>
#include <orv/location_service.h>
#include <orv/run_loop.h>
#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "emulator/emulator.h"

namespace {

constexpr int kPositions = 3;          // samples of the continuous run
constexpr double kInterval = 0.5;      // seconds between samples
constexpr double kReplaySpeed = 10.0;  // the track plays ten times faster than recorded
constexpr time_t kGiveUpAfter = 30;    // seconds; the host's own timer, next to the library's

using Hits = std::vector<std::shared_ptr<orv::GeocodeRes>>;

// "lat,lng address" of an answer; answers carry GCJ-02 coordinates.
std::string describe(const orv::LocationRes& answer, orv::Coordinate* point = nullptr) {
  const auto& detail = answer.location();
  if (!detail || !detail->position() || !detail->position()->point()) return "(no position)";
  const orv::Coordinate at{detail->position()->point()->latitude(),
                           detail->position()->point()->longitude()};
  if (point) *point = at;
  char text[64];
  std::snprintf(text, sizeof text, "%.6f,%.6f", at.latitude, at.longitude);
  const bool named = detail->address() && !detail->address()->name().empty();
  return std::string(text) + " " + (named ? detail->address()->name() : "(no address)");
}

std::string describe(const Hits& hits) {
  return std::to_string(hits.size()) + (hits.size() == 1 ? " hit" : " hits") +
         (hits.empty() ? "" : ", first " + hits[0]->name());
}

// The host's side of the client. Each answer prints a line and sends the next request; the
// continuous run comes last, because its answers arrive through the same callback as fusion's.
class Host final : public orv::LocationDelegate {
 public:
  enum class Step { fusion, reverse, geocode, placeSearch, nearbySearch, run, done };

  void begin(orv::OrvClientLocation& client) {
    client_ = &client;
    // Fusion location of a fix the host got elsewhere (WGS-84, People's Square, Shanghai).
    orv::Location fix;
    fix.coordinate = {31.2350226, 121.4680549};
    fix.horizontalAccuracy = 5.0;
    fix.timestamp = std::chrono::system_clock::now();
    client.getTrackLocation(fix);
  }
  // After this no callback touches the client (a place search in flight is still delivered).
  void end() {
    step_ = Step::done;
    client_ = nullptr;
  }
  bool finished() const { return step_ == Step::done; }
  bool succeeded() const { return finished() && !failed_ && positions_ == kPositions; }

  void onReceivedLocationWithOrvLocation(std::shared_ptr<orv::LocationRes> answer) override {
    if (step_ == Step::fusion) {
      std::printf("fusion: %s\n", describe(*answer, &here_).c_str());
      next();
    } else if (step_ == Step::run) {
      std::printf("position %d: %s\n", ++positions_, describe(*answer).c_str());
      if (positions_ == kPositions) {
        client_->stopLocation();
        end();
      }
    }  // else an answer of the run that was on its way when the run stopped
  }
  void onReceivedReverseCodeWithOrvLocation(std::shared_ptr<orv::LocationRes> answer) override {
    std::printf("reverse geocode: %s\n", describe(*answer).c_str());
    next();
  }
  void onReceivedGeocodeWithResult(const Hits& hits) override {
    std::printf("geocode: %s\n", describe(hits).c_str());
    next();
  }
  // Both searches answer here; they are sent one after the other, so the step tells them apart.
  void onReceivedPoiSearchWithResult(const Hits& hits) override {
    if (step_ != Step::placeSearch && step_ != Step::nearbySearch) return;
    std::printf("%s: %s\n", step_ == Step::placeSearch ? "place search" : "nearby search",
                describe(hits).c_str());
    next();
  }
  // Typed failures: a host could retry on timedOut but not on httpStatus 401.
  void onLocationError(const orv::LocationError& error) override {
    std::printf("failure (%s, status %ld): %s\n",
                std::string(orv::errorCodeName(error.code)).c_str(), error.status,
                error.message.c_str());
    failed_ = true;
    if (client_) client_->stopLocation();
    end();
  }
  // Required; the library calls it only through onLocationError's default, overridden above.
  void onLocationErrorWithMsg(const std::string& /*msg*/) override {}

 private:
  void next() {
    if (!client_) return;
    step_ = static_cast<Step>(static_cast<int>(step_) + 1);
    char centre[64];  // "lng,lat", as the nearby search takes it
    std::snprintf(centre, sizeof centre, "%.6f,%.6f", here_.longitude, here_.latitude);
    switch (step_) {
      case Step::reverse:
        client_->getReverseCode(here_.latitude, here_.longitude);
        break;
      case Step::geocode:
        client_->getGeocCode("人民大道", "上海市");
        break;
      case Step::placeSearch:
        client_->poiKeySearch("博物馆", "310100", "上海市", 1, 5);
        break;
      case Step::nearbySearch:
        client_->poiNearbySearch("", centre, 500, "", "distance", 1, 5);
        break;
      case Step::run:
        client_->setIsLocateOnce(false);
        client_->setInterval(kInterval);
        client_->startLocation();
        break;
      default:
        break;
    }
  }

  orv::OrvClientLocation* client_ = nullptr;
  Step step_ = Step::fusion;
  orv::Coordinate here_;  // where fusion placed the host (GCJ-02)
  int positions_ = 0;
  bool failed_ = false;
};

bool watch(int epfd, int fd) {
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = fd;
  return epoll_ctl(epfd, EPOLL_CTL_ADD, fd, &event) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s TRACK_CSV\n", argv[0]);
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  // Process-wide set-up, before any client: the service, the usage declaration positioning
  // requires, and where device fixes come from.
  auto emulator = orv::emulator::Emulator::start({});
  if (!emulator) {
    std::fprintf(stderr, "cannot start the emulator: %s\n", emulator.error().message.c_str());
    return 1;
  }
  orv::OrvClientLocation::setServiceConfiguration(
      {emulator.value()->baseUrl(), emulator.value()->caFile(), ""});
  orv::Bundle::mainBundle().setObject("NSLocationWhenInUseUsageDescription",
                                      std::string("shows where the vehicle is"));
  if (auto replay = orv::LocationService::useReplay({argv[1], kReplaySpeed, false}); !replay) {
    std::fprintf(stderr, "%s\n", replay.error().message.c_str());
    return 1;
  }

  // The host's loop: one epoll descriptor watching the library's descriptor and the host's own
  // (here a timer that gives up on a run that hangs).
  orv::RunLoop& orvLoop = orv::RunLoop::main();  // this thread's loop: main() creates the client
  const int epfd = epoll_create1(EPOLL_CLOEXEC);
  const int giveUp = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
  const itimerspec once{{0, 0}, {kGiveUpAfter, 0}};
  if (epfd < 0 || giveUp < 0 || timerfd_settime(giveUp, 0, &once, nullptr) != 0 ||
      !watch(epfd, orvLoop.pollFd()) || !watch(epfd, giveUp)) {
    std::perror("epoll_host");
    return 1;
  }

  auto host = std::make_shared<Host>();
  auto client = std::make_unique<orv::OrvClientLocation>(host);
  client->initKey(orv::emulator::kDemoKey);
  client->setAgreePrivacy(true);
  host->begin(*client);

  bool gaveUp = false;
  while (!host->finished() && !gaveUp) {
    int timeoutMs = -1;  // no library timer: sleep until a descriptor is ready
    if (auto due = orvLoop.timeUntilNextTimer()) {
      // Rounded up: rounding down would wake just before the timer is due, and spin.
      timeoutMs = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(*due).count());
    }
    epoll_event events[4];
    const int ready = epoll_wait(epfd, events, 4, timeoutMs);
    if (ready < 0 && errno != EINTR) {
      std::perror("epoll_wait");
      break;
    }
    for (int i = 0; i < ready; ++i) gaveUp = gaveUp || events[i].data.fd == giveUp;
    orvLoop.processPending();  // posted work, library descriptors and due timers; never blocks
  }
  if (gaveUp) std::puts("gave up waiting");

  // Stopping: the run, then the client (outcomes still on their way are dropped), then what
  // the process set up.
  host->end();
  client->stopLocation();
  client.reset();
  orv::LocationService::useNone();
  emulator.value()->stop();
  close(giveUp);
  close(epfd);

  const bool ok = host->succeeded() && !gaveUp;
  std::puts(ok ? "done: every outcome arrived" : "failed: some outcomes did not arrive");
  return ok ? 0 : 1;
}
