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

// Without privileges, a user namespace of our own makes us root over the new network namespace
// (and lets `ip` configure it).
inline bool unshareNetwork() {
  if (::unshare(CLONE_NEWNET) == 0) return true;
  const auto write = [](const char* path, const std::string& text) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    if (fd >= 0) ::close(fd);
    return ok;
  };
  return ::unshare(CLONE_NEWUSER | CLONE_NEWNET) == 0 && write("/proc/self/setgroups", "deny") &&
         write("/proc/self/uid_map", "0 " + std::to_string(::getuid()) + " 1") &&
         write("/proc/self/gid_map", "0 " + std::to_string(::getgid()) + " 1");
}

// Forks; the child leaves the test's network namespace for a fresh one (only a down `lo`), runs
// `body` there and sends back its text, where a leading '!' marks a reason for not answering.
// The parent's namespace is never touched.
inline NetnsOutcome inFreshNetns(const std::function<std::string()>& body) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return {std::nullopt, "pipe failed"};
  const pid_t pid = ::fork();
  if (pid < 0) return {std::nullopt, "fork failed"};
  if (pid == 0) {
    ::close(fds[0]);
    const std::string text = unshareNetwork() ? body()
                                              : "!network namespaces not permitted here (" +
                                                    std::string(std::strerror(errno)) + ")";
    [[maybe_unused]] auto n = ::write(fds[1], text.data(), text.size());
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string text;
  char buf[256];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR);) {
    if (n > 0) text.append(buf, static_cast<size_t>(n));
  }
  ::close(fds[0]);
  ::waitpid(pid, nullptr, 0);
  if (text.empty()) return {std::nullopt, "the child gave no answer"};
  if (text[0] == '!') return {std::nullopt, text.substr(1)};
  return {text, {}};
}

// Whether the test's own namespace has a default route (IPv4 or IPv6).
inline bool hasDefaultRoute() {
  FILE* p = ::popen("ip route show default 2>/dev/null; ip -6 route show default 2>/dev/null", "r");
  char buf[64];
  const bool any = p && std::fgets(buf, sizeof buf, p) != nullptr;
  if (p) ::pclose(p);
  return any;
}

}  // namespace orv::testing
