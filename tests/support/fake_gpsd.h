// Loopback stand-ins for gpsd in tests: a fake server the test drives line by line, and a real
// private gpsd fed NMEA sentences over TCP by a feeder thread.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

namespace orv::test {

// Speaks gpsd's side of one connection at a time, on 127.0.0.1 and an ephemeral port. Every
// wait ends after 5 s.
class FakeGpsd {
 public:
  FakeGpsd();
  ~FakeGpsd();
  FakeGpsd(const FakeGpsd&) = delete;
  FakeGpsd& operator=(const FakeGpsd&) = delete;

  uint16_t port() const { return port_; }
  bool accept();  // the next connection
  // VERSION with `protoMajor`, reads the client's request line, answers DEVICES and a WATCH
  // echoing "json" as `watchJson`. Returns the request line.
  std::string greet(int protoMajor = 3, bool watchJson = true);
  void send(std::string_view bytes);
  // One line from the client, without its newline; empty at end of stream or without one.
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
// (39.9 N, 116.4 E) every 200 ms. skipReason() says why not when gpsd is not installed.
class PrivateGpsd {
 public:
  PrivateGpsd();
  ~PrivateGpsd();
  const std::string& skipReason() const { return skipReason_; }
  uint16_t port() const { return port_; }

 private:
  std::string skipReason_;
  uint16_t port_ = 0;
  pid_t pid_ = -1;
  int stop_[2] = {-1, -1};  // a pipe: closing its write end stops the feeder
  std::thread feeder_;
};

}  // namespace orv::test
