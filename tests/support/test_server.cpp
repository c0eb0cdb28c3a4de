#include "test_server.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace orv::test {
namespace {

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test certificate: ") + what);
}

void writePem(const std::string& path, const std::function<int(FILE*)>& write) {
  FILE* f = std::fopen(path.c_str(), "w");
  check(f != nullptr, "open");
  const int ok = write(f);
  std::fclose(f);
  check(ok == 1, "write");
}

int listenLoopback(int* port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 64) != 0) {
    ::close(fd);
    throw std::runtime_error("raw server: bind/listen");
  }
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  *port = ntohs(addr.sin_port);
  return fd;
}

}  // namespace

TestCertificate::TestCertificate(const std::vector<std::string>& subjectAltNames,
                                 const std::string& commonName) {
  char templ[] = "/tmp/orv-cert-XXXXXX";
  check(::mkdtemp(templ) != nullptr, "mkdtemp");
  dir_ = templ;
  certFile_ = dir_ + "/cert.pem";
  keyFile_ = dir_ + "/key.pem";

  EVP_PKEY* key = EVP_EC_gen("P-256");
  check(key != nullptr, "key");
  X509* cert = X509_new();
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), static_cast<long>(std::rand()) + 1);
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  X509_set_issuer_name(cert, name);
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
  std::string san;
  for (const auto& entry : subjectAltNames) san += (san.empty() ? "" : ",") + entry;
  const std::pair<int, std::string> extensions[] = {
      {NID_basic_constraints, "critical,CA:TRUE"},
      {NID_key_usage, "critical,digitalSignature,keyCertSign"},
      {NID_subject_key_identifier, "hash"},
      {NID_subject_alt_name, san}};
  for (const auto& [nid, value] : extensions) {
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    check(ext != nullptr, "extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
  }
  check(X509_sign(cert, key, EVP_sha256()) > 0, "sign");
  writePem(certFile_, [&](FILE* f) { return PEM_write_X509(f, cert); });
  writePem(keyFile_, [&](FILE* f) {
    return PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
  });
  X509_free(cert);
  EVP_PKEY_free(key);
}

TestCertificate::~TestCertificate() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

size_t ReceivedRequest::headerCount(const std::string& name) const {
  size_t n = 0;
  for (const auto& [k, v] : headers) n += ::strcasecmp(k.c_str(), name.c_str()) == 0 ? 1 : 0;
  return n;
}

std::string ReceivedRequest::header(const std::string& name) const {
  for (const auto& [k, v] : headers) {
    if (::strcasecmp(k.c_str(), name.c_str()) == 0) return v;
  }
  return {};
}

TestServer::TestServer(bool tls, size_t threads, int keepAliveSeconds)
    : certificate_(tls ? std::make_shared<TestCertificate>() : nullptr) {
  start(threads, keepAliveSeconds);
}

TestServer::TestServer(std::shared_ptr<TestCertificate> certificate, size_t threads)
    : certificate_(std::move(certificate)) {
  start(threads, kKeepAliveSeconds);
}

// The server's pool runs each accepted connection as one task, to its close.
class TestServer::CountingPool : public httplib::TaskQueue {
 public:
  CountingPool(TestServer& server, size_t threads) : server_(server), pool_(threads) {}
  void enqueue(std::function<void()> fn) override {
    {
      std::lock_guard lock(server_.mutex_);
      ++server_.connections_;
    }
    pool_.enqueue([this, fn = std::move(fn)] {
      fn();
      std::lock_guard lock(server_.mutex_);
      --server_.connections_;
      server_.connectionClosed_.notify_all();
    });
  }
  void shutdown() override { pool_.shutdown(); }

 private:
  TestServer& server_;
  httplib::ThreadPool pool_;
};

void TestServer::start(size_t threads, int keepAliveSeconds) {
  if (certificate_) {
    server_ = std::make_unique<httplib::SSLServer>(certificate_->certFile().c_str(),
                                                   certificate_->keyFile().c_str());
  } else {
    server_ = std::make_unique<httplib::Server>();
  }
  check(server_->is_valid(), "server setup");
  server_->set_tcp_nodelay(true);
  // Keep connections for as many requests as a client sends, like a production server.
  server_->set_keep_alive_max_count(1000000);
  server_->set_keep_alive_timeout(keepAliveSeconds);
  const int patience = std::max(keepAliveSeconds, kKeepAliveSeconds);
  server_->set_read_timeout(patience, 0);
  server_->set_write_timeout(patience, 0);
  server_->new_task_queue = [this, threads] { return new CountingPool(*this, threads); };
  auto dispatch = [this](const httplib::Request& req, httplib::Response& res) {
    ReceivedRequest r{req.method, req.path, req.target, {}, {}, req.body};
    for (const auto& [k, v] : req.params) r.query.emplace(k, v);
    for (const auto& [k, v] : req.headers) r.headers.emplace(k, v);
    Handler handler;
    {
      std::lock_guard lock(mutex_);
      received_.push_back(std::move(r));
      if (auto it = handlers_.find(req.path); it != handlers_.end()) handler = it->second;
    }
    if (handler) {
      handler(req, res);
    } else {
      res.status = 404;
    }
  };
  const char* any = ".*";
  server_->Get(any, dispatch);
  server_->Post(any, dispatch);
  server_->Put(any, dispatch);
  server_->Patch(any, dispatch);
  server_->Delete(any, dispatch);
  int listenFd = -1;
  server_->set_socket_options([&listenFd](int fd) {
    httplib::default_socket_options(fd);
    listenFd = fd;
  });
  port_ = server_->bind_to_any_port("127.0.0.1");
  check(port_ > 0 && listenFd >= 0, "bind");
  // The library listens with a backlog of 5; a burst of connections would then lose SYNs and
  // wait a second for their retransmission.
  check(::listen(listenFd, SOMAXCONN) == 0, "listen");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool TestServer::waitForConnectionsClosed(std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  return connectionClosed_.wait_for(lock, limit, [this] { return connections_ == 0; });
}

TestServer::~TestServer() {
  server_->stop();
  // The library's workers wait out the keep-alive time of every idle connection before they end.
  closeAcceptedConnections();
  thread_.join();
}

// The library keeps accepted sockets to itself; they are the ones whose local port is ours. Only
// shut down, never closed: the workers still own them.
void TestServer::closeAcceptedConnections() const {
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    int fd = -1;
    const std::string name = entry.path().filename();
    if (std::from_chars(name.data(), name.data() + name.size(), fd).ec != std::errc{}) continue;
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
        local.sin_family == AF_INET && ntohs(local.sin_port) == port_) {
      ::shutdown(fd, SHUT_RDWR);
    }
  }
}

std::string TestServer::baseUrl() const {
  return std::string(certificate_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

std::string TestServer::caFile() const { return certificate_ ? certificate_->certFile() : ""; }

void TestServer::handle(const std::string& path, Handler handler) {
  std::lock_guard lock(mutex_);
  handlers_[path] = std::move(handler);
}

std::vector<ReceivedRequest> TestServer::received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

size_t TestServer::receivedCount() const {
  std::lock_guard lock(mutex_);
  return received_.size();
}

RawServer::RawServer(Behaviour behaviour) : behaviour_(behaviour) {
  listenFd_ = listenLoopback(&port_);
  thread_ = std::thread([this] { serve(); });
}

RawServer::~RawServer() {
  stop_ = true;
  // Wakes the blocking accept() or read().
  ::shutdown(listenFd_, SHUT_RDWR);
  if (int fd = connectionFd_.load(); fd >= 0) ::shutdown(fd, SHUT_RDWR);
  thread_.join();
  ::close(listenFd_);
}

std::string RawServer::baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

void RawServer::serve() {
  std::vector<int> held;
  while (!stop_) {
    const int fd = ::accept(listenFd_, nullptr, nullptr);
    if (fd < 0) continue;
    connectionFd_ = fd;
    if (stop_) ::shutdown(fd, SHUT_RDWR);
    // Read until the end of the request head.
    std::string head;
    char buf[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n <= 0) break;
      head.append(buf, static_cast<size_t>(n));
    }
    const std::string halfBody =
        "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 1000\r\n\r\n" +
        std::string(500, ' ');
    switch (behaviour_) {
      case Behaviour::resetMidBody: {
        (void)::write(fd, halfBody.data(), halfBody.size());
        linger l{1, 0};  // close with RST
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        connectionFd_ = -1;
        ::close(fd);
        break;
      }
      case Behaviour::stallMidBody:
        (void)::write(fd, halfBody.data(), halfBody.size());
        held.push_back(fd);
        break;
      case Behaviour::neverAnswer:
        held.push_back(fd);
        break;
      case Behaviour::notHttp: {
        const std::string line = "hello, this is not HTTP\r\n\r\n";
        (void)::write(fd, line.data(), line.size());
        connectionFd_ = -1;
        ::close(fd);
        break;
      }
    }
  }
  for (int fd : held) ::close(fd);
}

ClosingServer::ClosingServer(int answered) : answered_(answered) {
  listenFd_ = listenLoopback(&port_);
  thread_ = std::thread([this] { serve(); });
}

ClosingServer::~ClosingServer() {
  stop_ = true;
  // Wakes the blocking accept() or read().
  ::shutdown(listenFd_, SHUT_RDWR);
  if (int fd = connectionFd_.load(); fd >= 0) ::shutdown(fd, SHUT_RDWR);
  thread_.join();
  ::close(listenFd_);
}

std::string ClosingServer::baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

bool ClosingServer::readRequest(int fd, std::string& buffer) {
  char chunk[4096];
  for (;;) {
    if (const size_t end = buffer.find("\r\n\r\n"); end != std::string::npos) {
      size_t length = 0;
      std::string head = buffer.substr(0, end);
      std::transform(head.begin(), head.end(), head.begin(), ::tolower);
      if (const size_t at = head.find("content-length:"); at != std::string::npos) {
        length = std::stoul(head.substr(at + 15));
      }
      if (buffer.size() >= end + 4 + length) {
        buffer.erase(0, end + 4 + length);
        return true;
      }
    }
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<size_t>(n));
  }
}

void ClosingServer::serve() {
  while (!stop_) {
    const int fd = ::accept(listenFd_, nullptr, nullptr);
    if (fd < 0) continue;
    connectionFd_ = fd;
    if (stop_) ::shutdown(fd, SHUT_RDWR);
    std::string buffer;
    for (int n = 0; readRequest(fd, buffer); ++n) {
      ++requestsRead_;
      if (n == answered_) break;
      const std::string ok =
          "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
          "Content-Length: 12\r\n\r\n{\"text\":\"k\"}";
      (void)::write(fd, ok.data(), ok.size());
    }
    connectionFd_ = -1;
    ::close(fd);
  }
}

int unusedLoopbackPort() {
  int port = 0;
  int fd = listenLoopback(&port);
  ::close(fd);
  return port;
}

}  // namespace orv::test
