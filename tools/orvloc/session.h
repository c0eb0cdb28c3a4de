// What the service commands share: the common options, one client whose outcomes are collected
// as they arrive, and the main run loop driven until the awaited outcomes are in.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "orv/client.h"

namespace CLI {
class App;
}

namespace orvloc {

struct ServiceOptions {
  std::string key;
  std::string keyFile;
  bool agree = false;
  std::string service;  // base URL; empty: the library's default
  std::string ca;       // PEM bundle; empty: the system store
  bool log = false;
  bool table = false;
  double timeout = 40.0;  // seconds; the library's own request time-out is 30 s
};

void addServiceOptions(CLI::App& cmd, ServiceOptions& options);

// One delegate callback.
struct Outcome {
  enum class Kind { location, reverse, geocode, poi, error };
  Kind kind = Kind::error;
  std::shared_ptr<orv::LocationRes> location;
  std::vector<std::shared_ptr<orv::GeocodeRes>> hits;
  std::string message;
};

// Routes the library's log (to standard error with --log, nowhere otherwise, so that standard
// output carries only results), sets the service configuration, then creates the client with
// the key and consent as given. Throws UsageError when the key file cannot be read.
class Session {
 public:
  explicit Session(const ServiceOptions& options);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  orv::OrvClientLocation& client() { return *client_; }
  // Called on the main run loop for every outcome, in arrival order.
  void onOutcome(std::function<void(const Outcome&)> handler);
  std::size_t received() const;
  // Runs the main run loop until `total` outcomes have arrived since the session began, or the
  // time-out passes. Returns whether they arrived.
  bool waitFor(std::size_t total, double timeoutSeconds);
  // Runs the main run loop until `done` holds or the time-out passes. Returns whether it held.
  bool runUntil(const std::function<bool()>& done, double timeoutSeconds);
  // Runs the main run loop for a while, handling whatever arrives.
  void runFor(double seconds);

  struct Inbox;

 private:
  std::shared_ptr<Inbox> inbox_;
  std::unique_ptr<orv::OrvClientLocation> client_;
};

// Declares in the host bundle the use of location that the library requires before a run.
void declareLocationUse();

// Reads the key file's first line without its surrounding white space. The key itself never
// appears in a message.
std::string readKeyFile(const std::string& path);

}  // namespace orvloc
