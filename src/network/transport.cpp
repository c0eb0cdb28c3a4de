// The only place that drives libcurl's easy and multi interfaces.
#include "network/transport.h"

#include <curl/curl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "network/network_error.h"
#include "orv/service_configuration.h"
#include "platform/log.h"

namespace orv::detail {
namespace {

using Clock = std::chrono::steady_clock;

// libcurl does not tell a request's callbacks which connection carries it, so the transport keeps
// its open sockets, each with its ports (read once it is connected) and whether a request has gone
// out on it yet.
struct SocketState {
  int localPort = -1;
  int remotePort = -1;
  bool carried = false;
};
using Sockets = std::unordered_map<curl_socket_t, SocketState>;

struct Transfer {
  uint64_t id = 0;
  URLRequest request;
  Transport::Completion completion;
  std::string caFile;
  std::string proxy;
  size_t bodyLimit = 0;
  std::string body;
  bool bodyTooLarge = false;
  std::vector<std::pair<std::string, std::string>> headers;
  curl_slist* headerList = nullptr;
  char errorBuffer[CURL_ERROR_SIZE] = {};
  Clock::time_point started;                  // by the caller; the time-out runs from here
  std::optional<Clock::time_point> deadline;  // none without a time-out
  Clock::time_point handedOver;               // to libcurl, for the last attempt
  std::chrono::microseconds queued{0};        // waiting for a slot
  bool onFreshConnection = false;
  Sockets* sockets = nullptr;
  int attempts = 0;         // times the request was about to go out
  bool mayGoAgain = false;  // the last attempt met a connection that was already closed
  bool resendRefused = false;
};

int portOf(const sockaddr_storage& a) {
  if (a.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port);
  if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(a).sin6_port);
  return -1;
}

// Reads a connected socket's ports; false while it is not connected yet.
bool readPorts(curl_socket_t fd, SocketState& state) {
  sockaddr_storage local{}, remote{};
  socklen_t localSize = sizeof local, remoteSize = sizeof remote;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) != 0 ||
      ::getpeername(fd, reinterpret_cast<sockaddr*>(&remote), &remoteSize) != 0)
    return false;
  state.localPort = portOf(local);
  state.remotePort = portOf(remote);
  return true;
}

// The socket whose local and remote ports are these.
Sockets::iterator findSocket(Sockets& sockets, int localPort, int remotePort) {
  for (auto it = sockets.begin(); it != sockets.end(); ++it) {
    SocketState& state = it->second;
    if (state.localPort < 0 && !readPorts(it->first, state)) continue;
    if (state.localPort == localPort && state.remotePort == remotePort) return it;
  }
  return sockets.end();
}

// A kept-alive connection with nothing to read is open as far as anyone can tell; one with an end
// of stream, an error or unread bytes (a TLS close_notify) has been closed by the server.
bool closedByThePeer(curl_socket_t fd) {
  char c = 0;
  const ssize_t n = ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
  return !(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
}

curl_socket_t onOpenSocket(void* user, curlsocktype, curl_sockaddr* address) {
  const curl_socket_t fd =
      ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
  if (fd >= 0) static_cast<Sockets*>(user)->emplace(fd, SocketState{});
  return fd < 0 ? CURL_SOCKET_BAD : fd;
}

int onCloseSocket(void* user, curl_socket_t fd) {
  static_cast<Sockets*>(user)->erase(fd);
  return ::close(fd);
}

// libcurl sends a request again by itself when a kept-alive connection ends without an answer,
// even when the server had read the request. It goes again only when the connection was already
// closed before it went out, so it cannot have reached the server.
int onRequestReady(void* user, char*, char*, int remotePort, int localPort) {
  auto* t = static_cast<Transfer*>(user);
  if (t->attempts++ > 0 && !t->mayGoAgain) {
    t->resendRefused = true;
    return CURL_PREREQFUNC_ABORT;
  }
  const auto socket = findSocket(*t->sockets, localPort, remotePort);
  const bool reused = socket != t->sockets->end() && socket->second.carried;
  t->mayGoAgain = reused && closedByThePeer(socket->first);
  if (socket != t->sockets->end()) socket->second.carried = true;
  return CURL_PREREQFUNC_OK;
}

// Whole milliseconds left until `deadline`, rounded up.
long millisecondsUntil(Clock::time_point deadline, Clock::time_point now) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
  return static_cast<long>(std::clamp<decltype(left)>(left, 0, INT_MAX));
}

std::chrono::microseconds since(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration_cast<std::chrono::microseconds>(to - from);
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() &&
         (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
    s.remove_suffix(1);
  return s;
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t n = size * count;
  if (t->body.size() + n > t->bodyLimit) {
    t->bodyTooLarge = true;
    return CURL_WRITEFUNC_ERROR;
  }
  t->body.append(data, n);
  return n;
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t n = size * count;
  std::string_view line(data, n);
  if (line.starts_with("HTTP/")) {
    // A new response begins (after 1xx or a proxy's CONNECT answer): keep only the last one.
    t->headers.clear();
  } else if (auto colon = line.find(':'); colon != std::string_view::npos) {
    t->headers.emplace_back(std::string(trim(line.substr(0, colon))),
                            std::string(trim(line.substr(colon + 1))));
  }
  return n;
}

// Where the transfer's time went; libcurl's spans of its last attempt count from the moment that
// attempt was handed over.
TransferTimes timesOf(CURL* easy, const Transfer& t) {
  TransferTimes times;
  times.queued = t.queued;
  const auto offset = since(t.started, t.handedOver);
  const auto span = [&](CURLINFO info) {
    curl_off_t us = 0;
    curl_easy_getinfo(easy, info, &us);
    return us > 0 ? offset + std::chrono::microseconds(us) : std::chrono::microseconds{0};
  };
  times.connected = span(CURLINFO_CONNECT_TIME_T);
  times.secured = span(CURLINFO_APPCONNECT_TIME_T);
  times.sent = span(CURLINFO_PRETRANSFER_TIME_T);
  times.firstByte = span(CURLINFO_STARTTRANSFER_TIME_T);
  times.total = since(t.started, Clock::now());
  curl_easy_getinfo(easy, CURLINFO_NUM_CONNECTS, &times.connectionsOpened);
  curl_easy_getinfo(easy, CURLINFO_LOCAL_PORT, &times.localPort);
  return times;
}

Error ended() {
  return Error{std::string(kTransportErrorDomain), CURLE_ABORTED_BY_CALLBACK,
               "The network session has ended"};
}

}  // namespace

// Finished easy handles kept for the next transfers: creating one allocates its buffers and
// caches anew, which costs more than the rest of a short kept-alive exchange.
constexpr size_t kMaxIdleHandles = Transport::kMaxTransfersInFlight;

struct Transport::Impl {
  CURLM* multi = nullptr;
  CURLSH* share = nullptr;
  std::mutex mutex;
  std::condition_variable workArrived;  // only for waiting when curl_multi_poll fails
  std::deque<std::unique_ptr<Transfer>> pending;
  std::vector<uint64_t> cancels;  // under mutex
  uint64_t nextId = 1;            // under mutex
  bool ending = false;            // under mutex
  std::thread thread;
  std::atomic<size_t> bodyLimit{kDefaultResponseBodyLimit};
  std::unordered_set<CURL*> active;          // network thread only, then the ending thread
  std::vector<CURL*> idle;                   // likewise
  Sockets sockets;                           // likewise
  std::unordered_map<uint64_t, CURL*> byId;  // likewise: the active transfers
  // Started, waiting for one of the kMaxTransfersInFlight slots; likewise. libcurl is never
  // handed more: its own queue for a free connection lets a transfer outlive its time-out, and
  // each of its passes starts over every queued transfer while the running ones wait.
  std::deque<std::unique_ptr<Transfer>> waiting;
  std::optional<Clock::time_point> nextWaitingDeadline;  // the earliest in `waiting`

  void run();
  // Wakes the network thread; false when libcurl could not (then the condition variable does).
  void wake();
  void end();
  void cancelNow(const std::vector<uint64_t>& ids);
  // Hands waiting transfers to libcurl while slots are free; ends those out of time.
  void admit();
  void noteWaiting(const Transfer& t) {
    if (t.deadline && (!nextWaitingDeadline || *t.deadline < *nextWaitingDeadline))
      nextWaitingDeadline = t.deadline;
  }
  // How long curl_multi_poll may sleep: until the first waiting transfer runs out of time.
  int pollTimeoutMs() const;
  void add(std::unique_ptr<Transfer> transfer);
  bool retryOnFreshConnection(CURL* easy, Transfer& t, CURLcode code, long status);
  void finish(CURL* easy, CURLcode code);
  // Ends every transfer in flight with `error` (a failed multi call leaves them in doubt).
  void failActive(const Error& error);
  // Detaches `easy` from the multi handle and frees it; returns its transfer.
  std::unique_ptr<Transfer> release(CURL* easy);
};

void Transport::Impl::admit() {
  const auto now = Clock::now();
  if (nextWaitingDeadline && now >= *nextWaitingDeadline) {
    nextWaitingDeadline.reset();
    for (auto it = waiting.begin(); it != waiting.end();) {
      Transfer& t = **it;
      if (!t.deadline || now < *t.deadline) {
        noteWaiting(t);
        ++it;
        continue;
      }
      TransferOutcome outcome;
      outcome.times.queued = outcome.times.total = since(t.started, now);
      outcome.error =
          Error{std::string(kTransportErrorDomain), CURLE_OPERATION_TIMEDOUT,
                "Operation timed out after " + std::to_string(outcome.times.total.count() / 1000) +
                    " milliseconds waiting for a free connection"};
      const std::unique_ptr<Transfer> expired = std::move(*it);
      it = waiting.erase(it);
      expired->completion(std::move(outcome));
    }
  }
  while (active.size() < Transport::kMaxTransfersInFlight && !waiting.empty()) {
    std::unique_ptr<Transfer> t = std::move(waiting.front());
    waiting.pop_front();
    add(std::move(t));
  }
  if (waiting.empty()) nextWaitingDeadline.reset();
}

int Transport::Impl::pollTimeoutMs() const {
  return nextWaitingDeadline
             ? static_cast<int>(millisecondsUntil(*nextWaitingDeadline, Clock::now()))
             : INT_MAX;
}

void Transport::Impl::add(std::unique_ptr<Transfer> owned) {
  CURL* easy = nullptr;
  if (idle.empty()) {
    easy = curl_easy_init();
  } else {
    easy = idle.back();
    idle.pop_back();
  }
  Transfer* t = owned.get();
  if (easy == nullptr) {
    t->completion(TransferOutcome{std::nullopt,
                                  nullptr,
                                  Error{std::string(kTransportErrorDomain), CURLE_OUT_OF_MEMORY,
                                        curl_easy_strerror(CURLE_OUT_OF_MEMORY)},
                                  {}});
    return;
  }
  const URLRequest& r = t->request;
  curl_easy_setopt(easy, CURLOPT_PRIVATE, owned.release());
  curl_easy_setopt(easy, CURLOPT_URL, r.url.c_str());
  curl_easy_setopt(easy, CURLOPT_SHARE, share);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, t->errorBuffer);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
  // gzip and deflate only: cheap to make and to undo for small JSON answers, where a server that
  // picks brotli at its default (highest) quality spends far longer than the exchange itself.
  curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!t->caFile.empty()) curl_easy_setopt(easy, CURLOPT_CAINFO, t->caFile.c_str());
  // An empty proxy disables the *_proxy environment variables: configuration comes from the host.
  curl_easy_setopt(easy, CURLOPT_PROXY, t->proxy.c_str());
  t->handedOver = Clock::now();
  t->queued = since(t->started, t->handedOver);
  if (t->deadline)
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, millisecondsUntil(*t->deadline, t->handedOver));
  curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(t->bodyLimit));
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, t);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, t);
  t->sockets = &sockets;
  curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, onOpenSocket);
  curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, &sockets);
  curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, onCloseSocket);
  curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, &sockets);
  curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, onRequestReady);
  curl_easy_setopt(easy, CURLOPT_PREREQDATA, t);

  if (r.method == HTTPMethod::get && !r.body) {
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  } else {
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, std::string(rawValue(r.method)).c_str());
    // The transfer owns the request until it ends, so libcurl may read the body in place.
    const char* body = r.body ? r.body->data() : "";
    const size_t size = r.body ? r.body->size() : 0;
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(size));
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body);
  }
  bool hasExpect = false;
  for (const auto& [name, value] : r.headers) {
    hasExpect = hasExpect || equalsIgnoringCase(name, "Expect");
    // "Name;" is libcurl's spelling of a header with an empty value.
    std::string line = value.empty() ? name + ";" : name + ": " + value;
    t->headerList = curl_slist_append(t->headerList, line.c_str());
  }
  // No 100-continue round trip before a body.
  if (!hasExpect) t->headerList = curl_slist_append(t->headerList, "Expect:");
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, t->headerList);
  // A refused handle still owes its caller one completion.
  active.insert(easy);
  byId.emplace(t->id, easy);
  if (const CURLMcode mc = curl_multi_add_handle(multi, easy); mc != CURLM_OK) {
    sdkLog(std::string("curl_multi_add_handle: ") + curl_multi_strerror(mc));
    finish(easy, CURLE_FAILED_INIT);
  }
}

// libcurl 7.88 takes a kept-alive TLS connection that the server has closed (close_notify sent)
// for alive, and its own retry picks the next such connection until it gives up with a send
// failure. The request never reached the server then, so it goes once more on a new connection,
// within what is left of its time-out.
bool Transport::Impl::retryOnFreshConnection(CURL* easy, Transfer& t, CURLcode code, long status) {
  long connects = 0;
  curl_easy_getinfo(easy, CURLINFO_NUM_CONNECTS, &connects);
  if (code != CURLE_SEND_ERROR || status != 0 || connects != 0 || t.onFreshConnection ||
      !t.mayGoAgain)
    return false;
  const auto now = Clock::now();
  if (t.deadline && now >= *t.deadline) return false;
  curl_multi_remove_handle(multi, easy);
  t.onFreshConnection = true;
  t.errorBuffer[0] = '\0';
  t.handedOver = now;
  curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
  if (t.deadline) curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, millisecondsUntil(*t.deadline, now));
  return curl_multi_add_handle(multi, easy) == CURLM_OK;
}

void Transport::Impl::finish(CURL* easy, CURLcode code) {
  Transfer* raw = nullptr;
  curl_easy_getinfo(easy, CURLINFO_PRIVATE, &raw);
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  if (retryOnFreshConnection(easy, *raw, code, status)) return;
  TransferOutcome outcome;
  outcome.times = timesOf(easy, *raw);
  if (status > 0) {
    auto response = std::make_shared<HTTPResponse>();
    response->statusCode = status;
    response->headers = std::move(raw->headers);
    char* url = nullptr;
    curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &url);
    response->url = url != nullptr ? url : raw->request.url;
    outcome.response = std::move(response);
  }
  if (code == CURLE_OK && outcome.response) {
    outcome.body = std::move(raw->body);
  } else if (raw->bodyTooLarge || code == CURLE_FILESIZE_EXCEEDED) {
    outcome.error =
        Error{std::string(kTransportErrorDomain), CURLE_FILESIZE_EXCEEDED,
              "Response body exceeds the limit of " + std::to_string(raw->bodyLimit) + " bytes"};
  } else if (raw->resendRefused) {
    outcome.error =
        Error{std::string(kTransportErrorDomain), CURLE_GOT_NOTHING, "Empty reply from server"};
  } else if (code != CURLE_OK) {
    std::string message = raw->errorBuffer[0] != '\0' ? raw->errorBuffer : curl_easy_strerror(code);
    outcome.error = Error{std::string(kTransportErrorDomain), code, std::move(message)};
  }
  std::unique_ptr<Transfer> t = release(easy);
  t->completion(std::move(outcome));
}

std::unique_ptr<Transfer> Transport::Impl::release(CURL* easy) {
  Transfer* raw = nullptr;
  curl_easy_getinfo(easy, CURLINFO_PRIVATE, &raw);
  std::unique_ptr<Transfer> t(raw);
  active.erase(easy);
  byId.erase(t->id);
  if (const CURLMcode mc = curl_multi_remove_handle(multi, easy); mc != CURLM_OK) {
    sdkLog(std::string("curl_multi_remove_handle: ") + curl_multi_strerror(mc));
  }
  if (idle.size() < kMaxIdleHandles) {
    curl_easy_reset(easy);  // keeps its caches; every option is set again on reuse
    idle.push_back(easy);
  } else {
    curl_easy_cleanup(easy);
  }
  curl_slist_free_all(t->headerList);
  t->headerList = nullptr;
  return t;
}

void Transport::Impl::failActive(const Error& error) {
  sdkLog(error.message);
  const std::vector<CURL*> inFlight(active.begin(), active.end());
  for (CURL* easy : inFlight) release(easy)->completion(TransferOutcome{{}, nullptr, error, {}});
}

void Transport::Impl::cancelNow(const std::vector<uint64_t>& ids) {
  for (const uint64_t id : ids) {
    const Error cancelled{std::string(kTransportErrorDomain), CURLE_ABORTED_BY_CALLBACK,
                          "cancelled"};
    if (const auto it = byId.find(id); it != byId.end()) {
      release(it->second)->completion(TransferOutcome{{}, nullptr, cancelled, {}});
      continue;
    }
    // Not handed to libcurl yet; otherwise it has ended already.
    const auto queued =
        std::find_if(waiting.begin(), waiting.end(), [id](const auto& t) { return t->id == id; });
    if (queued == waiting.end()) continue;
    std::unique_ptr<Transfer> t = std::move(*queued);
    waiting.erase(queued);
    t->completion(TransferOutcome{{}, nullptr, cancelled, {}});
  }
}

void Transport::Impl::run() {
  for (;;) {
    std::vector<uint64_t> cancelled;
    {
      std::lock_guard lock(mutex);
      if (ending) return;
      for (auto& t : pending) {
        noteWaiting(*t);
        waiting.push_back(std::move(t));
      }
      pending.clear();
      cancelled.swap(cancels);
    }
    cancelNow(cancelled);
    admit();
    int running = 0;
    if (const CURLMcode mc = curl_multi_perform(multi, &running); mc != CURLM_OK) {
      failActive(Error{"CURLM", mc, std::string("curl_multi_perform: ") + curl_multi_strerror(mc)});
    }
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
      if (msg->msg == CURLMSG_DONE) finish(msg->easy_handle, msg->data.result);
    }
    // Slots freed just now go to the next waiting transfers (libcurl runs them at once).
    admit();
    // Sleeps until a socket is ready, libcurl's own next deadline, the time-out of a waiting
    // transfer, or a wake-up: new work or the end. An idle session does not wake at all.
    if (const CURLMcode mc = curl_multi_poll(multi, nullptr, 0, pollTimeoutMs(), nullptr);
        mc != CURLM_OK) {
      failActive(Error{"CURLM", mc, std::string("curl_multi_poll: ") + curl_multi_strerror(mc)});
      std::unique_lock lock(mutex);
      workArrived.wait(lock, [this] {
        return ending || !pending.empty() || !cancels.empty() || !waiting.empty();
      });
    }
  }
}

void Transport::Impl::wake() {
  if (const CURLMcode mc = curl_multi_wakeup(multi); mc != CURLM_OK) {
    sdkLog(std::string("curl_multi_wakeup: ") + curl_multi_strerror(mc));
  }
  workArrived.notify_one();
}

void Transport::Impl::end() {
  {
    std::lock_guard lock(mutex);
    if (ending) return;
    ending = true;
  }
  wake();
  thread.join();
  // What never finished still owes its caller one completion.
  const Error error = ended();
  for (auto* queue : {&pending, &waiting}) {
    for (auto& t : *queue) t->completion(TransferOutcome{{}, nullptr, error, {}});
    queue->clear();
  }
  const std::vector<CURL*> inFlight(active.begin(), active.end());
  for (CURL* easy : inFlight) release(easy)->completion(TransferOutcome{{}, nullptr, error, {}});
  for (CURL* easy : idle) curl_easy_cleanup(easy);
  idle.clear();
  curl_multi_cleanup(multi);
  curl_share_cleanup(share);
  curl_global_cleanup();
}

Transport::Transport() : impl_(new Impl) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  impl_->multi = curl_multi_init();
  curl_multi_setopt(impl_->multi, CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
  // No limit per host: the session's own bound on running transfers keeps libcurl from queueing.
  curl_multi_setopt(impl_->multi, CURLMOPT_MAXCONNECTS,
                    static_cast<long>(2 * kMaxTransfersInFlight));
  impl_->share = curl_share_init();
  curl_share_setopt(impl_->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
  curl_share_setopt(impl_->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
  impl_->thread = std::thread([impl = impl_] { impl->run(); });
  pthread_setname_np(impl_->thread.native_handle(), "orv-network");
}

Transport::~Transport() {
  impl_->end();
  delete impl_;
}

Transport& Transport::shared() {
  // Never destroyed, so a late caller finds it; its thread ends and is joined at exit.
  static Transport* instance = [] {
    auto* t = new Transport();
    std::atexit([] { shared().impl_->end(); });
    return t;
  }();
  return *instance;
}

uint64_t Transport::start(URLRequest request, Completion completion) {
  auto t = std::make_unique<Transfer>();
  t->request = std::move(request);
  t->completion = std::move(completion);
  ServiceConfiguration config = serviceConfiguration();
  t->caFile = std::move(config.caFile);
  t->proxy = std::move(config.proxy);
  t->bodyLimit = impl_->bodyLimit.load();
  t->started = Clock::now();
  if (const double seconds = t->request.timeoutInterval; seconds > 0) {
    t->deadline = t->started + std::chrono::ceil<Clock::duration>(
                                   std::chrono::duration<double>(std::min(seconds, 2.0e6)));
  }
  bool wasEmpty = false;
  uint64_t id = 0;
  {
    std::unique_lock lock(impl_->mutex);
    if (impl_->ending) {
      // The session has ended (the process is exiting): nothing runs transfers any more.
      lock.unlock();
      t->completion(TransferOutcome{{}, nullptr, ended(), {}});
      return 0;
    }
    t->id = impl_->nextId++;
    id = t->id;
    wasEmpty = impl_->pending.empty() && impl_->cancels.empty();
    impl_->pending.push_back(std::move(t));
  }
  // Otherwise a wake-up is already on its way: the network thread takes the whole queue at once.
  if (wasEmpty) impl_->wake();
  return id;
}

void Transport::cancel(uint64_t id) {
  bool wasEmpty = false;
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->ending || id == 0) return;
    wasEmpty = impl_->pending.empty() && impl_->cancels.empty();
    impl_->cancels.push_back(id);
  }
  if (wasEmpty) impl_->wake();
}

void Transport::setResponseBodyLimit(size_t bytes) { impl_->bodyLimit.store(bytes); }
size_t Transport::responseBodyLimit() const { return impl_->bodyLimit.load(); }

ErrorCode transportErrorCode(int64_t code) {
  switch (static_cast<CURLcode>(code)) {
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
      return ErrorCode::networkUnreachable;
    case CURLE_OPERATION_TIMEDOUT:
      return ErrorCode::timedOut;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CLIENTCERT:
      return ErrorCode::tls;
    case CURLE_FILESIZE_EXCEEDED:
      return ErrorCode::responseTooLarge;
    default:
      return ErrorCode::transportFailure;
  }
}

}  // namespace orv::detail
