#include "emulator/emulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

#include "emulator/certificate.h"
#include "emulator/endpoints.h"
#include "emulator/faults.h"
#include "emulator/places.h"

namespace orv::emulator {
namespace {

Error optionError(const std::string& message) { return Error{"EmulatorOptions", 1, message}; }

bool isLoopback(const std::string& host) {
  if (host == "localhost") return true;
  in_addr v4{};
  if (::inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  return ::inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

std::optional<Error> validate(const EmulatorOptions& o) {
  if (!isLoopback(o.bindAddress)) {
    return optionError("bind address " + o.bindAddress + " is not a loopback address");
  }
  if (o.port < 0 || o.port > 65535) return optionError("port must be 0 to 65535");
  if (o.keys.empty()) return optionError("at least one access key is needed");
  if (o.latencyMs < 0) return optionError("latency must not be negative");
  if (!(o.failRate >= 0.0 && o.failRate <= 1.0)) return optionError("fail rate must be 0 to 1");
  if (!(o.dropRate >= 0.0 && o.dropRate <= 1.0)) return optionError("drop rate must be 0 to 1");
  if (o.rate < 0) return optionError("rate must not be negative");
  if (o.threads < 1) return optionError("at least one thread is needed");
  return std::nullopt;
}

std::string addressText(const sockaddr_storage& a, int* port) {
  char buf[INET6_ADDRSTRLEN] = "";
  if (a.ss_family == AF_INET) {
    const auto& in = reinterpret_cast<const sockaddr_in&>(a);
    ::inet_ntop(AF_INET, &in.sin_addr, buf, sizeof buf);
    *port = ntohs(in.sin_port);
  } else if (a.ss_family == AF_INET6) {
    const auto& in = reinterpret_cast<const sockaddr_in6&>(a);
    ::inet_ntop(AF_INET6, &in.sin6_addr, buf, sizeof buf);
    *port = ntohs(in.sin6_port);
  }
  return buf;
}

// Calls `act(fd)` for each connected socket of the process whose local port is `localPort` and,
// unless `peerPort` is negative, whose peer is `peerAddress`:`peerPort`. httplib does not hand
// out its sockets, so they are found among the process's descriptors by their addresses. Returns
// whether any matched.
template <class Act>
bool forEachConnection(int localPort, int peerPort, const std::string& peerAddress, Act act) {
  bool any = false;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
    int fd = -1;
    try {
      fd = std::stoi(entry.path().filename().string());
    } catch (const std::exception&) {
      continue;
    }
    sockaddr_storage local{}, peer{};
    socklen_t localLen = sizeof local, peerLen = sizeof peer;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLen) != 0 ||
        ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLen) != 0) {
      continue;
    }
    int foundLocalPort = -1, foundPeerPort = -1;
    addressText(local, &foundLocalPort);
    const std::string foundPeer = addressText(peer, &foundPeerPort);
    if (foundLocalPort != localPort) continue;
    if (peerPort >= 0 && (foundPeerPort != peerPort || foundPeer != peerAddress)) continue;
    any = act(fd) || any;
  }
  return any;
}

// Resets the TCP connection a request arrived on. An abortive close (linger 0) sends the reset;
// /dev/null then takes the socket's descriptor number, so the server library, which still holds
// that number, reads end-of-file at once and closes it as usual. (A socket merely disconnected
// would keep the library's TLS layer retrying its read for about a second, holding a thread.)
bool resetConnection(const httplib::Request& req) {
  return forEachConnection(req.local_port, req.remote_port, req.remote_addr, [](int fd) {
    const linger abortive{1, 0};
    if (::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive) != 0) return false;
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0) return false;
    const bool replaced = ::dup3(null, fd, O_CLOEXEC) == fd;
    ::close(null);
    return replaced;
  });
}

// A server thread waiting on an idle keep-alive connection only notices the stop when the
// connection ends or its keep-alive time runs out (seconds); ending the connections makes the
// stop immediate even while a client keeps its connections pooled.
void shutDownConnections(int port) {
  forEachConnection(port, -1, {}, [](int fd) { return ::shutdown(fd, SHUT_RDWR) == 0; });
}

void ignoreSigpipe() {
  struct sigaction current {};
  if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
  }
}

}  // namespace

struct Emulator::Impl {
  explicit Impl(EmulatorOptions o)
      : options(std::move(o)),
        endpoints(PlaceSet::bundled(), options.keys),
        faults(options.dropRate, options.failRate, options.seed),
        rate(options.rate) {}

  void serve(const httplib::Request& req, httplib::Response& res);
  void log(const httplib::Request& req, const std::string& outcome,
           std::chrono::steady_clock::time_point started) const;

  EmulatorOptions options;
  Endpoints endpoints;
  FaultPlan faults;
  RateWindow rate;
  std::unique_ptr<SelfSignedCertificate> certificate;
  std::string caFile;
  std::unique_ptr<httplib::Server> server;
  std::thread thread;
  int port = 0;
  std::atomic<bool> listenEnded{false};
  std::atomic<uint64_t> requests{0}, dropped{0}, failed{0}, limited{0};
};

void Emulator::Impl::serve(const httplib::Request& req, httplib::Response& res) {
  const auto started = std::chrono::steady_clock::now();
  // A refused request is answered at once: a limit is the cheapest thing a service does.
  if (const auto retryAfter = rate.admit(started)) {
    ++limited;
    ++requests;
    res.status = 429;
    res.set_header("Retry-After", std::to_string(retryAfter->count()));
    res.set_content(errorReply(429, "rate_limited", "too many requests").body,
                    "application/json; charset=utf-8");
    log(req, "429 (rate)", started);
    return;
  }
  const uint64_t number = requests.fetch_add(1);
  if (options.latencyMs > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(options.latencyMs));
  }
  const Fault fault = faults.decide(number);
  if (fault == Fault::drop) {
    ++dropped;
    const bool reset = resetConnection(req);
    log(req, reset ? "dropped" : "dropped (reset failed)", started);
    res.status = 500;  // only seen if the reset failed
    return;
  }
  Reply reply;
  if (fault == Fault::fail) {
    ++failed;
    reply = errorReply(500, "injected_failure", "failure injected by the emulator");
  } else {
    Incoming in{req.method, req.path, {}, req.body};
    for (const auto& [k, v] : req.params) in.query.emplace(k, v);
    reply = endpoints.handle(in);
  }
  res.status = reply.status;
  res.set_content(reply.body, "application/json; charset=utf-8");
  log(req, std::to_string(reply.status) + (fault == Fault::fail ? " (injected)" : ""), started);
}

void Emulator::Impl::log(const httplib::Request& req, const std::string& outcome,
                         std::chrono::steady_clock::time_point started) const {
  if (!options.requestLog) return;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - started)
                      .count();
  options.requestLog(req.method + " " + req.path + " " + outcome + " " + std::to_string(ms) +
                     " ms");
}

Emulator::Emulator(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Emulator::~Emulator() { stop(); }

Result<std::unique_ptr<Emulator>> Emulator::start(EmulatorOptions options) {
  if (auto e = validate(options)) return *e;
  ignoreSigpipe();
  auto impl = std::make_unique<Impl>(std::move(options));
  const EmulatorOptions& o = impl->options;
  if (o.tls) {
    std::vector<std::string> names{"IP:127.0.0.1", "IP:::1", "DNS:localhost"};
    if (o.bindAddress != "localhost" && o.bindAddress != "127.0.0.1" && o.bindAddress != "::1") {
      names.push_back("IP:" + o.bindAddress);
    }
    auto cert = SelfSignedCertificate::create(names, o.bindAddress);
    if (!cert) return cert.error();
    impl->certificate = std::move(cert).value();
    impl->caFile = impl->certificate->certFile();
    impl->server = std::make_unique<httplib::SSLServer>(impl->certificate->certFile().c_str(),
                                                        impl->certificate->keyFile().c_str());
  } else {
    impl->server = std::make_unique<httplib::Server>();
  }
  if (!impl->server->is_valid()) return Error{"Emulator", 1, "cannot set up the server"};
  httplib::Server& s = *impl->server;
  const int threads = o.threads;
  s.new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<size_t>(threads)); };
  s.set_tcp_nodelay(true);
  s.set_payload_max_length(1 << 20);
  Impl* self = impl.get();
  auto serve = [self](const httplib::Request& req, httplib::Response& res) {
    self->serve(req, res);
  };
  // One catch-all route per method: faults and the 404/405 answers apply to every path alike.
  const char* any = ".*";
  s.Get(any, serve);
  s.Post(any, serve);
  s.Put(any, serve);
  s.Patch(any, serve);
  s.Delete(any, serve);
  s.Options(any, serve);
  if (o.port == 0) {
    impl->port = s.bind_to_any_port(o.bindAddress);
  } else if (s.bind_to_port(o.bindAddress, o.port)) {
    impl->port = o.port;
  }
  if (impl->port <= 0) {
    return Error{"Emulator", 2, "cannot bind " + o.bindAddress + ":" + std::to_string(o.port)};
  }
  impl->thread = std::thread([self] {
    self->server->listen_after_bind();
    self->listenEnded = true;
  });
  while (!s.is_running() && !self->listenEnded) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (!s.is_running()) {
    impl->thread.join();
    return Error{"Emulator", 3, "the server did not start"};
  }
  return std::unique_ptr<Emulator>(new Emulator(std::move(impl)));
}

std::string Emulator::baseUrl() const {
  const std::string& host = impl_->options.bindAddress;
  const bool v6 = host.find(':') != std::string::npos;
  return std::string(impl_->options.tls ? "https" : "http") + "://" +
         (v6 ? "[" + host + "]" : host) + ":" + std::to_string(impl_->port);
}

std::string Emulator::caFile() const { return impl_->caFile; }

int Emulator::port() const { return impl_->port; }

EmulatorStats Emulator::stats() const {
  return EmulatorStats{impl_->requests.load(), impl_->dropped.load(), impl_->failed.load(),
                       impl_->limited.load(), impl_->rate.busiestSecond()};
}

void Emulator::stop() {
  if (!impl_->server) return;
  impl_->server->stop();
  shutDownConnections(impl_->port);
  if (impl_->thread.joinable()) impl_->thread.join();
  impl_->server.reset();
  impl_->certificate.reset();
}

}  // namespace orv::emulator
