// A location source read through one descriptor on the calling thread's run loop, and reopened
// with backoff when it fails: an NMEA device or socket, a gpsd connection. No thread of its own.
//
// A source counts as working only once its protocol says so (NMEA: bytes arrived; gpsd: it
// accepted the watch request). Until then (from the start, and after a loss) it is in an outage.
// An attempt that fails while the source has never worked is reported at once; one that fails
// after it worked is quiet, and the outage is reported when it outlasts the grace period. One
// report per outage. Reopening waits firstRetry, doubling up to maxRetry, reset by working. A TCP
// connect gives up after connectWithin. Each readiness reads a bounded amount, so a source faster
// than its parser neither holds up the run loop nor piles up fixes.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "location/retry_backoff.h"
#include "orv/location_provider.h"
#include "orv/run_loop.h"

namespace orv::detail {

class DescriptorWatch;
class ReconnectingSource;

struct SourceTiming {
  RetryBackoff::Seconds firstRetry{0.25};
  RetryBackoff::Seconds maxRetry{8.0};
  RetryBackoff::Seconds grace{10.0};
  RetryBackoff::Seconds connectWithin{5.0};
};

// What one kind of source is opened with, how its bytes are read and how its failures read.
// Called on the source's loop.
class SourceProtocol {
 public:
  virtual ~SourceProtocol() = default;
  // Opens the descriptor (non-blocking); `connecting` when a TCP connect is under way. -1 with
  // `error` ("No such file or directory") when it cannot.
  virtual int open(bool& connecting, std::string& error) = 0;
  // An opened (connected) descriptor begins a session.
  virtual void began(ReconnectingSource&) {}
  // Bytes of the session, in order.
  virtual void received(ReconnectingSource& source, std::string_view bytes) = 0;
  // A read is done and the session still open: the time to answer what it brought.
  virtual void readDone(ReconnectingSource&) {}
  // The session's descriptor is about to close.
  virtual void closing() {}

  // The texts a host sees: an attempt that could not open or connect; one that ended before the
  // source worked (`why`: "connection closed"); a source that sent nothing, or that was lost,
  // for the grace period.
  virtual std::string cannotOpen(const std::string& error) const = 0;
  virtual std::string endedEarly(const std::string& why) const = 0;
  virtual LocationFailure endedEarlyKind() const { return LocationFailure::sourceUnreachable; }
  // Empty: silence is reported by the protocol itself.
  virtual std::string silent() const = 0;
  virtual std::string lost(const std::string& why) const = 0;
  // Why reading ended: 0 is the end of the stream.
  virtual std::string endWhy(int error) const = 0;
};

class ReconnectingSource : public std::enable_shared_from_this<ReconnectingSource> {
 public:
  ReconnectingSource(SourceTiming timing, std::unique_ptr<SourceProtocol> protocol,
                     const std::shared_ptr<LocationSink>& sink);
  ~ReconnectingSource();
  ReconnectingSource(const ReconnectingSource&) = delete;
  ReconnectingSource& operator=(const ReconnectingSource&) = delete;

  void begin();
  // Closes the source and stops every timer; nothing is delivered afterwards.
  void end();

  // For the protocol, during a session:
  int fd() const { return fd_; }
  SourceProtocol& protocol() { return *protocol_; }
  bool isOpen() const { return fd_ >= 0; }
  // The source works: the outage (if any) is over.
  void working();
  // Handed over once the current read is done (a failure it ends with is reported first).
  void deliver(std::vector<Location> fixes);
  // The session ended before or while working (a send failed): as if reading had ended.
  void ended(const std::string& why);
  // The session is unusable (the peer speaks another protocol, did not answer): reported at
  // once (after the fixes delivered before it), once per outage, and the source reopened with
  // backoff.
  void fail(LocationFailure kind, const std::string& text);
  // A one-shot timer on this loop that runs `work` while the source exists.
  std::shared_ptr<Timer> after(RetryBackoff::Seconds delay, void (*work)(ReconnectingSource&));

 private:
  void reopen();
  void onReady(uint32_t events);
  void readSome();
  void attemptFailed(LocationFailure kind, const std::string& text, const std::string& why);
  void beginOutage();
  void report(LocationFailure kind, const std::string& text);
  void flush();
  void close();

  const SourceTiming timing_;
  const std::unique_ptr<SourceProtocol> protocol_;
  std::weak_ptr<LocationSink> sink_;
  int fd_ = -1;
  std::unique_ptr<DescriptorWatch> watch_;
  bool connecting_ = false;
  bool everWorked_ = false;
  bool reported_ = false;  // this outage has been reported
  bool inOutage_ = false;  // not working: from the start or a loss until it works
  std::string lastError_;
  std::vector<Location> pending_;  // fixes of the current read, handed over at its end
  bool reading_ = false;
  RetryBackoff retryBackoff_;
  std::shared_ptr<Timer> retryTimer_;
  std::shared_ptr<Timer> graceTimer_;
  std::shared_ptr<Timer> connectTimer_;
};

}  // namespace orv::detail
