// Child processes the tests start (a private gpsd, the orv-emulator command) and stop.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace orv::test {

// Runs args[0] with `args` and standard output on /dev/null (standard error too when
// `quietErrors`); -1 when it cannot be started.
pid_t startQuiet(std::vector<std::string> args, bool quietErrors);
// Sends `signal` and waits: the exit code, or -1 when it did not exit on its own.
int stopProcess(pid_t pid, int signal = SIGTERM);

}  // namespace orv::test
