// orvloc: command-line front end of orvLib. Each subcommand lives in its own *_cmd.cpp file.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <map>

#include "command.h"

namespace orvloc {

std::vector<Command>& commandRegistry() {
  static std::vector<Command> commands;
  return commands;
}

bool registerCommand(Command command) {
  commandRegistry().push_back(std::move(command));
  return true;
}

}  // namespace orvloc

namespace {

void usageError(const std::string& message) {
  std::string line = message;
  std::replace(line.begin(), line.end(), '\n', ' ');
  std::fprintf(stderr, "orvloc: %s (see orvloc --help)\n", line.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"orvloc: coordinate conversion and location tools of orvLib"};
  app.require_subcommand(1);
  // Registration order depends on link order; list commands by name.
  auto& commands = orvloc::commandRegistry();
  std::sort(commands.begin(), commands.end(),
            [](const auto& a, const auto& b) { return a.name < b.name; });
  std::map<CLI::App*, std::function<int()>> runs;
  for (const auto& command : commands) {
    CLI::App* sub = app.add_subcommand(command.name, command.description);
    runs[sub] = command.setup(*sub);
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    return orvloc::kExitOk;
  } catch (const CLI::CallForAllHelp&) {
    std::fputs(app.help("", CLI::AppFormatMode::All).c_str(), stdout);
    return orvloc::kExitOk;
  } catch (const CLI::ParseError& e) {
    usageError(e.what());
    return orvloc::kExitUsage;
  }
  for (auto& [sub, run] : runs) {
    if (!sub->parsed()) continue;
    try {
      return run();
    } catch (const orvloc::UsageError& e) {
      usageError(e.message);
      return orvloc::kExitUsage;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "orvloc: %s\n", e.what());
      return orvloc::kExitFailure;
    }
  }
  return orvloc::kExitUsage;
}
