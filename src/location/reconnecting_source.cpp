#include "location/reconnecting_source.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "location/tcp_connect.h"
#include "platform/descriptor_watch.h"

namespace orv::detail {
namespace {

// Read per readiness event: a source faster than the parser must not keep the loop from its
// timers and other descriptors, nor pile up fixes before they are delivered.
constexpr size_t kReadBudget = 16 * 1024;

}  // namespace

ReconnectingSource::ReconnectingSource(SourceTiming timing,
                                       std::unique_ptr<SourceProtocol> protocol,
                                       const std::shared_ptr<LocationSink>& sink)
    : timing_(timing),
      protocol_(std::move(protocol)),
      sink_(sink),
      retryBackoff_(timing.firstRetry, timing.maxRetry) {}

ReconnectingSource::~ReconnectingSource() { end(); }

void ReconnectingSource::begin() {
  beginOutage();
  reopen();
}

void ReconnectingSource::end() {
  close();
  for (auto* timer : {&retryTimer_, &graceTimer_}) {
    if (*timer) std::exchange(*timer, nullptr)->invalidate();
  }
}

void ReconnectingSource::reopen() {
  retryTimer_.reset();
  std::string error;
  bool connecting = false;
  fd_ = protocol_->open(connecting, error);
  if (fd_ >= 0) {
    std::weak_ptr<ReconnectingSource> weak = weak_from_this();
    watch_ = DescriptorWatch::create(fd_, connecting ? EPOLLOUT : EPOLLIN, [weak](uint32_t ev) {
      if (auto self = weak.lock()) self->onReady(ev);
    });
    if (!watch_) error = "cannot wait for its data: " + errnoText(errno);
  }
  if (!watch_) {
    return attemptFailed(LocationFailure::sourceUnreachable, protocol_->cannotOpen(error), error);
  }
  connecting_ = connecting;
  if (!connecting_) return protocol_->began(*this);
  // A listener whose backlog is full never answers: the kernel would retry for minutes.
  connectTimer_ = after(timing_.connectWithin, [](ReconnectingSource& self) {
    self.connectTimer_.reset();
    const std::string why = errnoText(ETIMEDOUT);
    self.attemptFailed(LocationFailure::sourceUnreachable, self.protocol_->cannotOpen(why), why);
  });
}

void ReconnectingSource::onReady(uint32_t events) {
  if (!connecting_) return readSome();
  int error = connectOutcome(fd_);
  if (error == 0 && !(events & EPOLLERR)) {
    connecting_ = false;
    if (connectTimer_) std::exchange(connectTimer_, nullptr)->invalidate();
    watch_->setEvents(EPOLLIN);
    return protocol_->began(*this);
  }
  error = error != 0 ? error : ECONNREFUSED;
  attemptFailed(LocationFailure::sourceUnreachable, protocol_->cannotOpen(errnoText(error)),
                errnoText(error));
}

void ReconnectingSource::readSome() {
  char buffer[4096];
  reading_ = true;
  for (size_t total = 0; fd_ >= 0 && total < kReadBudget;) {
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n > 0) {
      total += static_cast<size_t>(n);
      protocol_->received(*this, std::string_view(buffer, static_cast<size_t>(n)));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    // End of stream (connection closed) or an error (device unplugged: EIO, ENODEV).
    ended(protocol_->endWhy(n < 0 ? errno : 0));
  }
  reading_ = false;
  if (fd_ >= 0) protocol_->readDone(*this);
  flush();
}

void ReconnectingSource::flush() {
  if (pending_.empty()) return;
  if (auto sink = sink_.lock()) sink->deliverLocations(std::exchange(pending_, {}));
  pending_.clear();
}

void ReconnectingSource::working() {
  if (!inOutage_) return;
  everWorked_ = true;
  inOutage_ = false;
  reported_ = false;
  retryBackoff_.reset();
  if (graceTimer_) std::exchange(graceTimer_, nullptr)->invalidate();
}

void ReconnectingSource::deliver(std::vector<Location> fixes) {
  pending_.insert(pending_.end(), fixes.begin(), fixes.end());
  if (!reading_) flush();
}

void ReconnectingSource::ended(const std::string& why) {
  attemptFailed(protocol_->endedEarlyKind(), protocol_->endedEarly(why), why);
}

void ReconnectingSource::fail(LocationFailure kind, const std::string& text) {
  flush();
  if (!reported_) report(kind, text);
  attemptFailed(kind, text, text);
}

// An attempt ended without the source working, or a working source went away: reopen with
// backoff. `text` reports a source that has never worked, at once; one that worked is quiet for
// the grace period.
void ReconnectingSource::attemptFailed(LocationFailure kind, const std::string& text,
                                       const std::string& why) {
  close();
  lastError_ = why;
  if (!everWorked_ && !reported_) report(kind, text);
  beginOutage();
  retryTimer_ = after(retryBackoff_.next(), [](ReconnectingSource& self) { self.reopen(); });
}

void ReconnectingSource::beginOutage() {
  if (inOutage_) return;
  inOutage_ = true;
  graceTimer_ = after(timing_.grace, [](ReconnectingSource& self) {
    self.graceTimer_.reset();
    if (self.reported_) return;
    // A source that never worked could not be reached; one that worked was lost.
    if (self.everWorked_) {
      self.report(LocationFailure::sourceLost, self.protocol_->lost(self.lastError_));
    } else if (const std::string silent = self.protocol_->silent(); !silent.empty()) {
      self.report(LocationFailure::sourceUnreachable, silent);
    }
  });
}

void ReconnectingSource::report(LocationFailure kind, const std::string& text) {
  reported_ = true;
  if (auto sink = sink_.lock()) sink->deliverError(kind, text);
}

std::shared_ptr<Timer> ReconnectingSource::after(RetryBackoff::Seconds delay,
                                                 void (*work)(ReconnectingSource&)) {
  return Timer::scheduled(delay, false, [weak = weak_from_this(), work](Timer&) {
    if (auto self = weak.lock()) work(*self);
  });
}

void ReconnectingSource::close() {
  if (connectTimer_) std::exchange(connectTimer_, nullptr)->invalidate();
  if (fd_ >= 0 && !connecting_) protocol_->closing();
  watch_.reset();  // before the descriptor goes
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
  connecting_ = false;
}

}  // namespace orv::detail
