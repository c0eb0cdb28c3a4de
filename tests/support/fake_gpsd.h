// A loopback stand-in for gpsd (or any line-based TCP server) that a test drives line by line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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

}  // namespace orv::test
