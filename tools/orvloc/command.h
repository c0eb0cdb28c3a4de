// Subcommands register themselves here from their own files; main.cpp only runs the registry.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace orvloc {

// Exit codes shared by every subcommand.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// A usage error found after parsing (for example two exclusive inputs): one line, exit 2.
struct UsageError {
  std::string message;
};

// Adds the subcommand's options to `cmd` and returns what runs it once parsing succeeded. The
// run function returns the exit code, or throws UsageError.
using Setup = std::function<std::function<int()>(CLI::App& cmd)>;

struct Command {
  std::string name;
  std::string description;
  Setup setup;
};

std::vector<Command>& commandRegistry();

// In a command file: `static const bool registered = orvloc::registerCommand({...});`
bool registerCommand(Command command);

}  // namespace orvloc
