#include "location/geoclue_provider.h"

#include <sys/epoll.h>
#include <systemd/sd-bus.h>
#include <time.h>

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "orv/run_loop.h"
#include "platform/descriptor_watch.h"
#include "platform/log.h"

namespace orv::detail {

namespace {

constexpr const char* kService = "org.freedesktop.GeoClue2";
constexpr const char* kManagerPath = "/org/freedesktop/GeoClue2/Manager";
constexpr const char* kManager = "org.freedesktop.GeoClue2.Manager";
constexpr const char* kClient = "org.freedesktop.GeoClue2.Client";
constexpr const char* kLocation = "org.freedesktop.GeoClue2.Location";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr const char* kBus = "org.freedesktop.DBus";
constexpr const char* kBusPath = "/org/freedesktop/DBus";
// GeoClue's name changing hands: it left the bus (no new owner), or came back.
constexpr const char* kOwnerMatch =
    "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
    "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='org.freedesktop.GeoClue2'";
constexpr const char* kBusLost = "lost the system bus connection to GeoClue";

uint64_t monotonicMicros() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1'000'000 + static_cast<uint64_t>(ts.tv_nsec) / 1000;
}

// Reads one "d" variant; false for any other type.
bool readDouble(sd_bus_message* m, double& out) {
  return sd_bus_message_read(m, "v", "d", &out) >= 0;
}

}  // namespace

GeoClueAccuracy geoClueAccuracyFor(double desiredAccuracy) {
  if (desiredAccuracy <= 10) return GeoClueAccuracy::exact;  // best (negative) included
  if (desiredAccuracy <= 100) return GeoClueAccuracy::street;
  if (desiredAccuracy <= 1000) return GeoClueAccuracy::neighborhood;
  return GeoClueAccuracy::city;
}

// One bus connection and GeoClue client for one sink, on the sink owner's run loop.
class GeoClueProvider::Session : public std::enable_shared_from_this<Session> {
 public:
  Session(const GeoClueProvider& provider, std::atomic<AuthorizationStatus>& status,
          const std::shared_ptr<LocationSink>& sink)
      : options_(provider.options_),
        getClientTimeout_(provider.getClientTimeout_),
        grace_(provider.grace_),
        status_(status),
        sink_(sink) {}
  ~Session() { end(); }

  void begin() {
    if (const int r = sd_bus_open_system(&bus_); r < 0) {
      bus_ = nullptr;
      return fail(LocationFailure::sourceUnreachable,
                  std::string("cannot connect to the system bus: ") + std::strerror(-r));
    }
    std::weak_ptr<Session> weak = weak_from_this();
    watch_ = DescriptorWatch::create(sd_bus_get_fd(bus_), EPOLLIN, [weak](uint32_t) {
      if (auto self = weak.lock()) self->pump();
    });
    // Watched before GetClient goes out on the same connection: no departure can slip between.
    if (const int r = sd_bus_add_match_async(bus_, nullptr, kOwnerMatch,
                                             &Session::onNameOwnerChanged, nullptr, this);
        r < 0) {
      return fail(LocationFailure::sourceUnreachable,
                  std::string("cannot watch GeoClue on the system bus: ") + std::strerror(-r));
    }
    requestClient();
    pump();
  }

  void end() {
    if (!bus_) return;
    if (started_ && sd_bus_is_open(bus_) > 0) {
      sd_bus_call_method_async(bus_, nullptr, kService, clientPath_.c_str(), kClient, "Stop",
                               nullptr, nullptr, "");
      sd_bus_flush(bus_);
    }
    watch_.reset();
    for (auto* timer : {&timer_, &graceTimer_}) {
      if (*timer) std::exchange(*timer, nullptr)->invalidate();
    }
    locationSlot_ = sd_bus_slot_unref(locationSlot_);
    bus_ = sd_bus_close_unref(bus_);
  }

 private:
  // Lets sd-bus do what is due, then waits for what it needs next: its descriptor and timeout.
  void pump() {
    auto keep = shared_from_this();
    int r = 0;
    while (bus_ && (r = sd_bus_process(bus_, nullptr)) > 0) {
    }
    if (!bus_) return;
    // The calls still pending when the connection went come back as errors first; those stay
    // silent and this is the one report.
    if (r < 0 || busLost_ || sd_bus_is_open(bus_) <= 0) {
      fail(LocationFailure::sourceLost, kBusLost);
      return end();
    }
    const int events = sd_bus_get_events(bus_);
    if (watch_ && events >= 0) watch_->setEvents(static_cast<uint32_t>(events));
    uint64_t due = UINT64_MAX;
    if (timer_) std::exchange(timer_, nullptr)->invalidate();
    if (sd_bus_get_timeout(bus_, &due) >= 0 && due != UINT64_MAX) {
      const uint64_t now = monotonicMicros();
      const double seconds = due > now ? static_cast<double>(due - now) / 1e6 : 0.0;
      std::weak_ptr<Session> weak = weak_from_this();
      timer_ = Timer::scheduled(std::chrono::duration<double>(seconds), false, [weak](Timer&) {
        if (auto self = weak.lock()) {
          self->timer_.reset();
          self->pump();
        }
      });
    }
  }

  // Asks GeoClue for a client; the rest of the setup follows its answer.
  void requestClient() {
    sd_bus_message* call = nullptr;
    int r =
        sd_bus_message_new_method_call(bus_, &call, kService, kManagerPath, kManager, "GetClient");
    if (r >= 0) {
      const auto usec = std::chrono::duration_cast<std::chrono::microseconds>(getClientTimeout_);
      r = sd_bus_call_async(bus_, nullptr, call, &Session::onGetClient, this,
                            static_cast<uint64_t>(usec.count()));
    }
    sd_bus_message_unref(call);
    if (r < 0)
      fail(LocationFailure::sourceUnreachable,
           std::string("cannot ask GeoClue for a client: ") + std::strerror(-r));
  }

  // An error reply as our failure: denial changes the status. No reply has three causes: our
  // connection went (pump() reports that), GeoClue left the bus (the grace period reports that),
  // or GeoClue held the call, waiting for an authorization agent; the bus tells them apart.
  bool failed(sd_bus_message* reply, const char* what) {
    if (!sd_bus_message_is_method_error(reply, nullptr)) return false;
    const sd_bus_error* e = sd_bus_message_get_error(reply);
    if (sd_bus_is_open(bus_) <= 0) {
      busLost_ = true;
    } else if (gone_) {
      // Reported when the grace period ends.
    } else if (sd_bus_error_has_name(e, SD_BUS_ERROR_ACCESS_DENIED)) {
      status_ = AuthorizationStatus::denied;
      fail(LocationFailure::permissionDenied,
           std::string("GeoClue denied access to the location: ") + (e->message ? e->message : ""));
    } else if (sd_bus_error_has_name(e, SD_BUS_ERROR_NO_REPLY) ||
               sd_bus_error_has_name(e, SD_BUS_ERROR_TIMEOUT)) {
      // GetClient waits for the user's agent; anything else unanswered is GeoClue not answering.
      const bool getClient = std::strcmp(what, "GetClient") == 0;
      askWhetherGeoClueIsThere(
          getClient ? LocationFailure::permissionPending : LocationFailure::sourceUnreachable,
          getClient ? std::string(kGeoClueNoAgentMessage)
                    : std::string("GeoClue ") + what + " was not answered");
    } else if (sd_bus_error_has_name(e, SD_BUS_ERROR_SERVICE_UNKNOWN) ||
               sd_bus_error_has_name(e, SD_BUS_ERROR_NAME_HAS_NO_OWNER)) {
      fail(LocationFailure::sourceUnreachable, "GeoClue is not available on the system bus");
    } else {
      fail(LocationFailure::protocolError,
           std::string("GeoClue ") + what + " failed: " + (e->message ? e->message : e->name));
    }
    return true;
  }

  // Reports `ifThere` unless GeoClue has left the bus; one question at a time.
  void askWhetherGeoClueIsThere(LocationFailure kind, std::string ifThere) {
    if (asking_) return;
    const int r = sd_bus_call_method_async(bus_, nullptr, kBus, kBusPath, kBus, "GetNameOwner",
                                           &Session::onOwner, this, "s", kService);
    if (r < 0) return fail(kind, ifThere);
    asking_ = true;
    unansweredKind_ = kind;
    unansweredFailure_ = std::move(ifThere);
  }

  static int onOwner(sd_bus_message* reply, void* userdata, sd_bus_error*) {
    auto* self = static_cast<Session*>(userdata);
    self->asking_ = false;
    if (sd_bus_is_open(self->bus_) <= 0) {
      self->busLost_ = true;
    } else if (sd_bus_message_is_method_error(reply, nullptr)) {
      self->left();
    } else if (!self->gone_) {
      self->fail(self->unansweredKind_, self->unansweredFailure_);
    }
    return 0;
  }

  static int onNameOwnerChanged(sd_bus_message* signal, void* userdata, sd_bus_error*) {
    auto* self = static_cast<Session*>(userdata);
    const char *name = nullptr, *previous = nullptr, *current = nullptr;
    if (sd_bus_message_read(signal, "sss", &name, &previous, &current) < 0 || !current) return 0;
    if (*current == '\0') {
      self->left();
    } else if (self->gone_) {
      self->cameBack();
    }
    return 0;
  }

  // GeoClue left the bus, and our client with it. Silent for the grace period, as a lost gpsd or
  // NMEA source is, in case it comes back (restarted, or activated by another program).
  void left() {
    if (gone_) return;
    gone_ = true;
    started_ = false;
    locationSlot_ = sd_bus_slot_unref(locationSlot_);
    std::weak_ptr<Session> weak = weak_from_this();
    graceTimer_ = Timer::scheduled(grace_, false, [weak](Timer&) {
      auto self = weak.lock();
      if (!self) return;
      self->graceTimer_.reset();
      if (!self->gone_) return;
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%g",
                    std::chrono::duration<double>(self->grace_).count());
      self->fail(LocationFailure::sourceLost,
                 std::string("GeoClue left the system bus and did not come back within ") +
                     seconds + " s");
    });
  }

  // Back on the bus: a new client, as at the start.
  void cameBack() {
    gone_ = false;
    if (graceTimer_) std::exchange(graceTimer_, nullptr)->invalidate();
    clientPath_.clear();
    requestClient();
  }

  static int onGetClient(sd_bus_message* reply, void* userdata, sd_bus_error*) {
    auto* self = static_cast<Session*>(userdata);
    if (self->failed(reply, "GetClient")) return 0;
    const char* path = nullptr;
    if (sd_bus_message_read(reply, "o", &path) < 0 || !path) {
      self->fail(LocationFailure::protocolError, "GeoClue answered GetClient without a client");
      return 0;
    }
    self->clientPath_ = path;
    self->configureAndStart();
    return 0;
  }

  void configureAndStart() {
    const char* client = clientPath_.c_str();
    const auto level = static_cast<uint32_t>(geoClueAccuracyFor(options_.desiredAccuracy));
    const double filter = options_.distanceFilter;
    const auto threshold =
        static_cast<uint32_t>(filter > 0 && filter < 4e9 ? std::ceil(filter) : 0);
    // One connection keeps its messages in order: the match is in place before Start arrives.
    int r = sd_bus_call_method_async(bus_, nullptr, kService, client, kProperties, "Set",
                                     &Session::onSet, this, "ssv", kClient, "DesktopId", "s",
                                     options_.desktopId.c_str());
    if (r >= 0) {
      r = sd_bus_call_method_async(bus_, nullptr, kService, client, kProperties, "Set",
                                   &Session::onSet, this, "ssv", kClient, "RequestedAccuracyLevel",
                                   "u", level);
    }
    if (r >= 0) {
      r = sd_bus_call_method_async(bus_, nullptr, kService, client, kProperties, "Set",
                                   &Session::onSet, this, "ssv", kClient, "DistanceThreshold", "u",
                                   threshold);
    }
    if (r >= 0) {
      r = sd_bus_match_signal_async(bus_, &locationSlot_, kService, client, kClient,
                                    "LocationUpdated", &Session::onLocationUpdated, nullptr, this);
    }
    if (r >= 0) {
      r = sd_bus_call_method_async(bus_, nullptr, kService, client, kClient, "Start",
                                   &Session::onStart, this, "");
    }
    if (r < 0)
      fail(LocationFailure::sourceUnreachable,
           std::string("cannot start the GeoClue client: ") + std::strerror(-r));
  }

  static int onSet(sd_bus_message* reply, void* userdata, sd_bus_error*) {
    static_cast<Session*>(userdata)->failed(reply, "client setup");
    return 0;
  }

  static int onStart(sd_bus_message* reply, void* userdata, sd_bus_error*) {
    auto* self = static_cast<Session*>(userdata);
    if (self->failed(reply, "Start")) return 0;
    self->started_ = true;
    self->status_ = AuthorizationStatus::authorizedWhenInUse;
    return 0;
  }

  static int onLocationUpdated(sd_bus_message* signal, void* userdata, sd_bus_error*) {
    auto* self = static_cast<Session*>(userdata);
    const char* previous = nullptr;
    const char* current = nullptr;
    if (sd_bus_message_read(signal, "oo", &previous, &current) < 0 || !current) return 0;
    sd_bus_call_method_async(self->bus_, nullptr, kService, current, kProperties, "GetAll",
                             &Session::onLocation, self, "s", kLocation);
    return 0;
  }

  static int onLocation(sd_bus_message* reply, void* userdata, sd_bus_error*) {
    auto* self = static_cast<Session*>(userdata);
    if (sd_bus_message_is_method_error(reply, nullptr)) return 0;  // gone already: a newer one
    Location fix;
    if (!readLocation(reply, fix)) {
      sdkLog("GeoClue: location with missing or invalid values skipped");
      return 0;
    }
    if (auto sink = self->sink_.lock()) sink->deliverLocations({fix});
    return 0;
  }

  // The Location object's properties (a{sv}): Latitude and Longitude required and in range;
  // Altitude -DBL_MAX, Speed and Heading -1 mean unknown; GeoClue has no vertical accuracy.
  static bool readLocation(sd_bus_message* m, Location& fix) {
    double lat = NAN, lon = NAN, accuracy = -1, altitude = -DBL_MAX, speed = -1, heading = -1;
    uint64_t seconds = 0, micros = 0;
    if (sd_bus_message_enter_container(m, 'a', "{sv}") < 0) return false;
    while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
      const char* key = nullptr;
      if (sd_bus_message_read(m, "s", &key) < 0) return false;
      const std::string_view k = key;
      bool ok = true;
      if (k == "Latitude") {
        ok = readDouble(m, lat);
      } else if (k == "Longitude") {
        ok = readDouble(m, lon);
      } else if (k == "Accuracy") {
        ok = readDouble(m, accuracy);
      } else if (k == "Altitude") {
        ok = readDouble(m, altitude);
      } else if (k == "Speed") {
        ok = readDouble(m, speed);
      } else if (k == "Heading") {
        ok = readDouble(m, heading);
      } else if (k == "Timestamp") {
        ok = sd_bus_message_read(m, "v", "(tt)", &seconds, &micros) >= 0;
      } else {
        ok = sd_bus_message_skip(m, "v") >= 0;
      }
      if (!ok || sd_bus_message_exit_container(m) < 0) return false;
    }
    if (!(std::fabs(lat) <= 90) || !(std::fabs(lon) <= 180)) return false;
    fix.coordinate = {lat, lon};
    fix.horizontalAccuracy = std::isfinite(accuracy) && accuracy >= 0 ? accuracy : -1.0;
    fix.altitude = std::isfinite(altitude) && altitude != -DBL_MAX ? altitude : 0.0;
    fix.speed = std::isfinite(speed) && speed >= 0 ? speed : -1.0;
    fix.course = std::isfinite(heading) && heading >= 0 && heading < 360 ? heading : -1.0;
    fix.timestamp =
        seconds == 0
            ? std::chrono::system_clock::now()
            : std::chrono::system_clock::time_point(std::chrono::seconds(seconds) +
                                                    std::chrono::microseconds(micros % 1'000'000));
    return true;
  }

  void fail(LocationFailure kind, const std::string& text) {
    if (auto sink = sink_.lock()) sink->deliverError(kind, text);
  }

  GeoClueOptions options_;
  std::chrono::milliseconds getClientTimeout_;
  std::chrono::milliseconds grace_;
  std::atomic<AuthorizationStatus>& status_;
  std::weak_ptr<LocationSink> sink_;
  sd_bus* bus_ = nullptr;
  std::unique_ptr<DescriptorWatch> watch_;
  std::shared_ptr<Timer> timer_;       // sd-bus's next timeout
  std::shared_ptr<Timer> graceTimer_;  // while GeoClue is away
  sd_bus_slot* locationSlot_ = nullptr;
  std::string clientPath_;
  std::string unansweredFailure_;
  LocationFailure unansweredKind_ = LocationFailure::sourceUnreachable;
  bool started_ = false;
  bool busLost_ = false;
  bool gone_ = false;
  bool asking_ = false;
};

namespace {

// Asks the bus itself, with a short timeout: is GeoClue running, or can it be started?
std::optional<std::string> probeGeoClue() {
  sd_bus* bus = nullptr;
  if (const int r = sd_bus_open_system(&bus); r < 0) {
    return std::string("no system bus: ") + std::strerror(-r);
  }
  sd_bus_set_method_call_timeout(bus, 500'000);
  char** running = nullptr;
  char** activatable = nullptr;
  std::optional<std::string> why = "not on the system bus";
  if (const int r = sd_bus_list_names(bus, &running, &activatable); r < 0) {
    why = std::string("the system bus does not answer: ") + std::strerror(-r);
  }
  for (char** list : {running, activatable}) {
    for (char** n = list; n && *n; ++n) {
      if (std::strcmp(*n, kService) == 0) why.reset();
      std::free(*n);
    }
    std::free(list);
  }
  sd_bus_flush_close_unref(bus);
  return why;
}

}  // namespace

SystemCandidate geoClueSystemCandidate() {
  return SystemCandidate{"GeoClue2 on the system bus", [] { return probeGeoClue(); },
                         [] {
                           GeoClueOptions options;
                           options.desktopId = program_invocation_short_name;
                           return std::make_shared<GeoClueProvider>(options);
                         }};
}

GeoClueProvider::GeoClueProvider(GeoClueOptions options, std::chrono::milliseconds getClientTimeout,
                                 std::chrono::milliseconds grace)
    : options_(std::move(options)),
      getClientTimeout_(getClientTimeout),
      grace_(grace),
      // Sessions copy the settings but update the status: streams keep the provider alive.
      upstream_(std::make_shared<SharedUpstream>([this](const std::shared_ptr<LocationSink>& sink) {
        auto session = std::make_shared<Session>(*this, status_, sink);
        session->begin();
        return streamEndingWith([session] { session->end(); });
      })) {}

}  // namespace orv::detail
