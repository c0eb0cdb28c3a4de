// Loopback stand-ins for gpsd in tests: a fake server the test drives line by line, and a real
// private gpsd fed NMEA sentences over TCP by a feeder thread.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace orv::test {

inline constexpr std::string_view kGpsdVersionLine =
    "{\"class\":\"VERSION\",\"release\":\"3.22\",\"rev\":\"3.22\",\"proto_major\":3,"
    "\"proto_minor\":14}\r\n";

// Speaks gpsd's side of a connection by hand. One connection at a time; every wait is bounded.
class FakeGpsd {
 public:
  FakeGpsd();  // listening on 127.0.0.1, an ephemeral port
  ~FakeGpsd();
  FakeGpsd(const FakeGpsd&) = delete;
  FakeGpsd& operator=(const FakeGpsd&) = delete;

  uint16_t port() const { return port_; }
  // Waits for the next connection; false after 5 s without one.
  bool accept();
  // VERSION with `protoMajor`, then the client's request line, answered by DEVICES and WATCH
  // echoing "json" as `watchJson`. Returns the request line.
  std::string greet(int protoMajor = 3, bool watchJson = true);
  void send(std::string_view bytes);
  // One line from the client, without its newline; empty after 5 s or at end of stream.
  std::string readLine();
  void disconnect();
  void stopListening();
  void listenAgain();  // on the same port

 private:
  int listenFd_ = -1;
  int connFd_ = -1;
  uint16_t port_ = 0;
  std::string received_;
};

// A private gpsd on loopback whose receiver is a feeder thread writing a GGA and an RMC sentence
// (39.9 N, 116.4 E) every 200 ms. Unavailable (see skipReason) when gpsd is not installed.
class PrivateGpsd {
 public:
  PrivateGpsd();
  ~PrivateGpsd();
  PrivateGpsd(const PrivateGpsd&) = delete;
  PrivateGpsd& operator=(const PrivateGpsd&) = delete;

  // Empty when gpsd runs.
  const std::string& skipReason() const { return skipReason_; }
  uint16_t port() const { return port_; }

 private:
  void feed(int listenFd);

  std::string skipReason_;
  std::string dir_;
  uint16_t port_ = 0;
  pid_t pid_ = -1;
  std::thread feeder_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool accepted_ = false;
  bool stopping_ = false;
};

}  // namespace orv::test
