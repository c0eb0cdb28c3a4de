// Runs a piece of a test in a child process inside a new, empty network namespace.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

namespace orv::testing {

struct NetnsOutcome {
  std::optional<std::string> answer;  // what `body` returned in the child
  std::string whyNot;                 // set when there is no answer
};

inline bool writeFile(const char* path, const std::string& text) {
  const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return ok;
}

// Without privileges, a user namespace of our own makes us root over the new network namespace
// (and lets `ip` configure it).
inline bool unshareNetwork() {
  if (::unshare(CLONE_NEWNET) == 0) return true;
  const std::string uid = std::to_string(::getuid()), gid = std::to_string(::getgid());
  return ::unshare(CLONE_NEWUSER | CLONE_NEWNET) == 0 &&
         writeFile("/proc/self/setgroups", "deny") &&
         writeFile("/proc/self/uid_map", "0 " + uid + " 1") &&
         writeFile("/proc/self/gid_map", "0 " + gid + " 1");
}

// Forks; the child leaves the test's network namespace for a fresh one (only a down `lo`), runs
// `body` there and sends back its text. The parent's namespace is never touched.
inline NetnsOutcome inFreshNetns(const std::function<std::string()>& body) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return {std::nullopt, "pipe failed"};
  const pid_t pid = ::fork();
  if (pid < 0) return {std::nullopt, "fork failed"};
  if (pid == 0) {
    ::close(fds[0]);
    // A leading '!' marks a reason for not answering.
    const std::string text = unshareNetwork()
                                 ? body()
                                 : "!network namespaces not permitted here (unshare: " +
                                       std::string(std::strerror(errno)) + ")";
    [[maybe_unused]] auto n = ::write(fds[1], text.data(), text.size());
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string text;
  char buf[256];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) != 0;) {
    if (n > 0) text.append(buf, static_cast<size_t>(n));
    if (n < 0 && errno != EINTR) break;
  }
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (text.empty()) return {std::nullopt, "the child gave no answer"};
  if (text[0] == '!') return {std::nullopt, text.substr(1)};
  return {text, {}};
}

// Whether the test's own namespace has a default route (IPv4 or IPv6).
inline bool hasDefaultRoute() {
  FILE* p = ::popen("ip route show default 2>/dev/null; ip -6 route show default 2>/dev/null", "r");
  if (!p) return false;
  char buf[64];
  const bool any = std::fgets(buf, sizeof buf, p) != nullptr;
  ::pclose(p);
  return any;
}

}  // namespace orv::testing
