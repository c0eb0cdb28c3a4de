// What the commands reading a location source share with `locate`: choosing the source, and
// ending cleanly on SIGINT or SIGTERM.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace orvloc {

// Installs the provider that `source` names (as `locate --source`); a message when it cannot.
// Throws UsageError for a malformed source text.
std::optional<std::string> chooseLocationSource(const std::string& source, double speed);

// While the returned handle lives, SIGINT and SIGTERM stop the main run loop and set
// interruptedBySignal().
std::shared_ptr<void> catchInterrupts();
bool interruptedBySignal();

}  // namespace orvloc
