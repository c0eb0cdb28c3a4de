// Loopback servers for tests: a well-behaved HTTP/HTTPS server and raw-socket misbehaving ones.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
struct Request;
struct Response;
class Server;
}  // namespace httplib

namespace orv::test {

// A self-signed certificate (it is its own CA) and key, written as PEM files to a fresh temp
// directory that is removed with the object.
class TestCertificate {
 public:
  // `subjectAltNames` in OpenSSL's form, e.g. {"IP:127.0.0.1", "DNS:localhost"}.
  explicit TestCertificate(const std::vector<std::string>& subjectAltNames = {"IP:127.0.0.1",
                                                                              "DNS:localhost"},
                           const std::string& commonName = "127.0.0.1");
  ~TestCertificate();
  TestCertificate(const TestCertificate&) = delete;
  TestCertificate& operator=(const TestCertificate&) = delete;

  const std::string& certFile() const { return certFile_; }
  const std::string& keyFile() const { return keyFile_; }

 private:
  std::string dir_, certFile_, keyFile_;
};

struct ReceivedRequest {
  std::string method;
  std::string path;
  std::string target;                             // path and query exactly as sent
  std::multimap<std::string, std::string> query;  // decoded
  std::multimap<std::string, std::string> headers;
  std::string body;

  // Number of header fields called `name` (case-insensitive) and the first value.
  size_t headerCount(const std::string& name) const;
  std::string header(const std::string& name) const;
};

class TestServer {
 public:
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;
  // How long a connection may stay idle, also before its first request: a client starved of CPU
  // for longer would find a fresh connection closed. A silent client within a TLS handshake or a
  // request is waited for as long, and never less than this default.
  static constexpr int kKeepAliveSeconds = 5;

  // Plain HTTP, or HTTPS with a certificate for 127.0.0.1 and localhost.
  explicit TestServer(bool tls = false, size_t threads = 72,
                      int keepAliveSeconds = kKeepAliveSeconds);
  // HTTPS with the given certificate.
  explicit TestServer(std::shared_ptr<TestCertificate> certificate, size_t threads = 72);
  ~TestServer();

  int port() const { return port_; }
  // "http://127.0.0.1:<port>" or "https://...".
  std::string baseUrl() const;
  // The certificate to trust for the HTTPS server (empty for HTTP).
  std::string caFile() const;

  // Answers every method on `path`; unknown paths get 404. May be called while running.
  void handle(const std::string& path, Handler handler);
  std::vector<ReceivedRequest> received() const;
  size_t receivedCount() const;
  // Waits until the server has closed every connection it accepted (an idle one at the end of its
  // keep-alive time, with a TLS close_notify); false after `limit`.
  bool waitForConnectionsClosed(std::chrono::milliseconds limit) const;

 private:
  void start(size_t threads, int keepAliveSeconds);
  class CountingPool;
  void closeAcceptedConnections() const;
  std::shared_ptr<TestCertificate> certificate_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::map<std::string, Handler> handlers_;
  std::vector<ReceivedRequest> received_;
  // Accepted connections not closed yet (each one a task of the server's pool).
  size_t connections_ = 0;
  mutable std::condition_variable connectionClosed_;
};

// A raw TCP server on 127.0.0.1 that misbehaves on purpose.
class RawServer {
 public:
  enum class Behaviour {
    resetMidBody,  // reads the request, sends headers and half the announced body, then RST
    stallMidBody,  // sends headers and half the announced body, then nothing more
    neverAnswer,   // accepts and reads, never writes
    notHttp,       // answers with a line that is not an HTTP status line, then closes
  };
  explicit RawServer(Behaviour behaviour);
  ~RawServer();
  int port() const { return port_; }
  std::string baseUrl() const;

 private:
  void serve();
  Behaviour behaviour_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<int> connectionFd_{-1};  // the one being read or answered
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A raw HTTP/1.1 server on 127.0.0.1 that reads each request whole (head and Content-Length
// body), answers the first `answered` requests of each connection with 200 and {"text":"k"} (kept
// alive), and closes the connection without a word after reading the next one.
class ClosingServer {
 public:
  explicit ClosingServer(int answered);
  ~ClosingServer();
  std::string baseUrl() const;
  size_t requestsRead() const { return requestsRead_; }

 private:
  void serve();
  bool readRequest(int fd, std::string& buffer);
  int answered_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<int> connectionFd_{-1};
  std::atomic<bool> stop_{false};
  std::atomic<size_t> requestsRead_{0};
  std::thread thread_;
};

// A loopback port on which nothing listens (connection refused).
int unusedLoopbackPort();

}  // namespace orv::test
