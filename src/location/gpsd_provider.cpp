#include "location/gpsd_provider.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>
#include <vector>

#include "location/gpsd_protocol.h"
#include "location/reconnecting_source.h"
#include "location/tcp_connect.h"
#include "platform/log.h"

namespace orv::detail {
namespace {

constexpr std::string_view kWatch = "?WATCH={\"enable\":true,\"json\":true}\n";

void logSkipped(std::string_view address, std::string_view why) {
  if (logEnabled())
    sdkLog("gpsd " + std::string(address) + ": skipped a line: " + std::string(why));
}

std::string secondsText(GpsdTiming::Seconds s) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", s.count());
  return text;
}

// One connection to gpsd at a time: VERSION, our WATCH request and its answer within
// answerWithin of connecting, then fixes. The source works once gpsd accepted the watch.
class GpsdSession final : public SourceProtocol {
 public:
  GpsdSession(GpsdOptions options, GpsdTiming timing)
      : options_(std::move(options)), address_(gpsdAddress(options_)), timing_(timing) {}

  int open(bool& connecting, std::string& error) override {
    return startTcpConnect(options_.host, options_.port, connecting, error);
  }

  void began(ReconnectingSource& source) override {
    splitter_.reset();
    answered_ = versionSeen_ = watching_ = watchDue_ = false;
    answerTimer_ = source.after(timing_.answerWithin, [](ReconnectingSource& s) {
      auto& self = static_cast<GpsdSession&>(s.protocol());
      self.answerTimer_.reset();
      s.fail(LocationFailure::sourceUnreachable, "gpsd at " + self.address_ +
                                                     " did not answer within " +
                                                     secondsText(self.timing_.answerWithin) + " s");
    });
  }

  void closing() override {
    if (answerTimer_) std::exchange(answerTimer_, nullptr)->invalidate();
  }

  void received(ReconnectingSource& source, std::string_view bytes) override {
    std::optional<std::pair<LocationFailure, std::string>> verdict;
    std::vector<Location> fixes;
    const auto failWith = [&](LocationFailure kind, std::string text) {
      verdict.emplace(kind, std::move(text));
    };
    splitter_.feed(bytes, [&](std::string_view line, bool overlong) {
      if (verdict) return;
      answered_ = true;
      if (overlong) return logSkipped(address_, "longer than 64 KiB");
      const GpsdMessage m = readGpsdLine(line, parser_, std::chrono::system_clock::now());
      if (!versionSeen_ && m.kind != GpsdMessage::Kind::version) {
        return failWith(
            LocationFailure::protocolError,
            "the server at " + address_ + " is not gpsd (it did not begin with VERSION)");
      }
      switch (m.kind) {
        case GpsdMessage::Kind::skipped:
          return logSkipped(address_, m.detail);
        case GpsdMessage::Kind::other:
          return;
        case GpsdMessage::Kind::version:
          if (versionSeen_) return;
          versionSeen_ = true;
          if (m.protoMajor != 3) {
            return failWith(LocationFailure::protocolError,
                            "gpsd at " + address_ + " speaks protocol " +
                                std::to_string(m.protoMajor) + ", not 3");
          }
          watchDue_ = true;  // once the read is done: a gpsd that closed at once was lost
          return;
        case GpsdMessage::Kind::watch:
          if (!m.watchJson) {
            return failWith(LocationFailure::protocolError,
                            "gpsd at " + address_ + " refused the WATCH request");
          }
          if (!watching_) {
            watching_ = true;
            closing();  // answered in time
            source.working();
          }
          return;
        case GpsdMessage::Kind::error:
          return failWith(LocationFailure::protocolError,
                          "gpsd at " + address_ + " reported an error: " + m.detail);
        case GpsdMessage::Kind::fix:
          fixes.push_back(m.fix);
          return;
      }
    });
    source.deliver(std::move(fixes));
    if (verdict) source.fail(verdict->first, verdict->second);
  }

  void readDone(ReconnectingSource& source) override {
    if (!std::exchange(watchDue_, false)) return;
    if (::send(source.fd(), kWatch.data(), kWatch.size(), MSG_NOSIGNAL) < 0) {
      source.ended(errnoText(errno));
    }
  }

  // A gpsd that answered and then went away was reached: the connection was lost.
  std::string cannotOpen(const std::string& error) const override {
    return "cannot connect to gpsd at " + address_ + ": " + error;
  }
  std::string endedEarly(const std::string& why) const override {
    return answered_ ? "lost the connection to gpsd at " + address_ + ": " + why : cannotOpen(why);
  }
  LocationFailure endedEarlyKind() const override {
    return answered_ ? LocationFailure::sourceLost : LocationFailure::sourceUnreachable;
  }
  // The answer deadline reports a gpsd that never answers.
  std::string silent() const override { return {}; }
  std::string lost(const std::string& why) const override {
    return "lost the connection to gpsd at " + address_ + " and could not reconnect: " + why;
  }
  // A gpsd that closes with our WATCH request unread resets the connection: it closed it.
  std::string endWhy(int error) const override {
    return error != 0 && error != ECONNRESET ? errnoText(error) : "connection closed";
  }

 private:
  const GpsdOptions options_;
  const std::string address_;
  const GpsdTiming timing_;
  GpsdLineSplitter splitter_;
  simdjson::dom::parser parser_;
  bool answered_ = false;  // a line arrived in this session
  bool versionSeen_ = false;
  bool watching_ = false;
  bool watchDue_ = false;  // VERSION came: the WATCH request goes out after this read
  std::shared_ptr<Timer> answerTimer_;
};

}  // namespace

std::string gpsdAddress(const GpsdOptions& options) {
  const bool v6 = options.host.find(':') != std::string::npos;
  return (v6 ? "[" + options.host + "]" : options.host) + ":" + std::to_string(options.port);
}

std::optional<std::string> probeTcp(const GpsdOptions& options, GpsdTiming::Seconds timeout) {
  bool connecting = false;
  std::string why;
  const int fd = startTcpConnect(options.host, options.port, connecting, why);
  if (fd < 0) return why;
  int error = 0;
  if (connecting) {
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(timeout).count();
    pollfd p{fd, POLLOUT, 0};
    int n = 0;
    while ((n = ::poll(&p, 1, static_cast<int>(std::clamp<int64_t>(ms, 0, 86'400'000)))) < 0 &&
           errno == EINTR) {
    }
    error = n == 0 ? ETIMEDOUT : n < 0 ? errno : connectOutcome(fd);
  }
  ::close(fd);
  if (error == 0) return std::nullopt;
  return errnoText(error);
}

GpsdProvider::GpsdProvider(GpsdOptions options, GpsdTiming timing)
    : upstream_(std::make_shared<SharedUpstream>(
          [options = std::move(options), timing](const std::shared_ptr<LocationSink>& sink) {
            const SourceTiming sourceTiming{timing.firstRetry, timing.maxRetry, timing.giveUpAfter,
                                            timing.answerWithin};
            auto source = std::make_shared<ReconnectingSource>(
                sourceTiming, std::make_unique<GpsdSession>(options, timing), sink);
            source->begin();
            return streamEndingWith([source] { source->end(); });
          })) {}

GpsdProvider::~GpsdProvider() = default;

}  // namespace orv::detail
