// orvloc version: the library's version banner values.
#include <CLI/CLI.hpp>
#include <iostream>

#include "command.h"
#include "orv/version.h"

namespace orvloc {
namespace {

std::function<int()> setupVersion(CLI::App&) {
  return [] {
    std::cout << "orvLib " << orv::OrvVersion::sdkVersion() << " (build "
              << orv::OrvVersion::buildNumber() << ")\n";
    return kExitOk;
  };
}

const bool registered =
    registerCommand({"version", "print the library version and build number", setupVersion});

}  // namespace
}  // namespace orvloc
