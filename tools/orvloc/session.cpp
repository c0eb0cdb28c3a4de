#include "session.h"

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <fstream>

#include "command.h"
#include "network/request_builder.h"
#include "orv/bundle.h"
#include "orv/run_loop.h"

namespace orvloc {

struct Session::Inbox {
  std::size_t count = 0;
  std::function<void(const Outcome&)> handler;

  void deliver(Outcome outcome) {
    ++count;
    if (handler) handler(outcome);
  }
};

namespace {

class CollectingDelegate : public orv::LocationDelegate {
 public:
  explicit CollectingDelegate(std::shared_ptr<Session::Inbox> inbox) : inbox_(std::move(inbox)) {}

  void onReceivedLocationWithOrvLocation(std::shared_ptr<orv::LocationRes> location) override {
    inbox_->deliver({Outcome::Kind::location, std::move(location), {}, {}});
  }
  void onLocationErrorWithMsg(const std::string& msg) override {
    inbox_->deliver({Outcome::Kind::error, nullptr, {}, msg});
  }
  void onReceivedReverseCodeWithOrvLocation(std::shared_ptr<orv::LocationRes> location) override {
    inbox_->deliver({Outcome::Kind::reverse, std::move(location), {}, {}});
  }
  void onReceivedGeocodeWithResult(
      const std::vector<std::shared_ptr<orv::GeocodeRes>>& result) override {
    inbox_->deliver({Outcome::Kind::geocode, nullptr, result, {}});
  }
  void onReceivedPoiSearchWithResult(
      const std::vector<std::shared_ptr<orv::GeocodeRes>>& result) override {
    inbox_->deliver({Outcome::Kind::poi, nullptr, result, {}});
  }

 private:
  std::shared_ptr<Session::Inbox> inbox_;
};

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
  if (from.empty()) return;
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

std::chrono::steady_clock::duration seconds(double s) {
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(s));
}

}  // namespace

void addServiceOptions(CLI::App& cmd, ServiceOptions& o) {
  auto* key = cmd.add_option("--key", o.key, "access key of the location web service");
  cmd.add_option("--key-file", o.keyFile, "read the access key from this file's first line")
      ->excludes(key);
  cmd.add_flag("--agree", o.agree, "the user agrees to the privacy policy");
  cmd.add_option("--service", o.service, "base URL of the service (https://host:port)");
  cmd.add_option("--ca", o.ca, "PEM file of certificate authorities to trust");
  cmd.add_flag("--log", o.log, "write the library's log lines to standard error");
  cmd.add_flag("--table", o.table, "print a table instead of JSON lines");
  cmd.add_option("--timeout", o.timeout, "give up after this many seconds")
      ->capture_default_str()
      ->check(CLI::PositiveNumber);
}

std::string readKeyFile(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) throw UsageError{"cannot read the key file " + path};
  const auto first = line.find_first_not_of(" \t\r");
  const auto last = line.find_last_not_of(" \t\r");
  return first == std::string::npos ? std::string() : line.substr(first, last - first + 1);
}

void declareLocationUse() {
  orv::Bundle::mainBundle().setObject("NSLocationWhenInUseUsageDescription",
                                      std::string("orvloc shows positions from a track"));
}

Session::Session(const ServiceOptions& o) : inbox_(std::make_shared<Inbox>()) {
  std::string key = o.key;
  if (!o.keyFile.empty()) key = readKeyFile(o.keyFile);
  if (o.log) {
    // Request URLs in the log carry the key as the library encodes it; both forms are masked.
    const std::vector<std::string> forms{key, orv::detail::percentEncodeQueryComponent(key)};
    orv::OrvClientLocation::setLogSink([forms](std::string_view line) {
      std::string text(line);
      for (const auto& form : forms) replaceAll(text, form, "***");
      std::fprintf(stderr, "%s\n", text.c_str());
    });
  } else {
    orv::OrvClientLocation::setLogSink([](std::string_view) {});
  }
  orv::OrvClientLocation::setIsLogEnabled(o.log);
  orv::OrvClientLocation::setServiceConfiguration({o.service, o.ca, {}});
  client_ = std::make_unique<orv::OrvClientLocation>(std::make_shared<CollectingDelegate>(inbox_));
  // Without a key the library's own gate reports what is missing.
  if (!o.key.empty() || !o.keyFile.empty()) client_->initKey(key);
  client_->setAgreePrivacy(o.agree);
}

Session::~Session() = default;

void Session::onOutcome(std::function<void(const Outcome&)> handler) {
  inbox_->handler = std::move(handler);
}

std::size_t Session::received() const { return inbox_->count; }

bool Session::waitFor(std::size_t total, double timeoutSeconds) {
  if (inbox_->count >= total) return true;
  return runUntil([&] { return inbox_->count >= total; }, timeoutSeconds);
}

bool Session::runUntil(const std::function<bool()>& done, double timeoutSeconds) {
  return orv::RunLoop::main().runUntil(done, seconds(timeoutSeconds));
}

void Session::runFor(double s) { orv::RunLoop::main().runFor(seconds(s)); }

}  // namespace orvloc
