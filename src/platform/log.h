// The library's log-line writer. Every subsystem writes through it; the client exposes the switch.
#pragma once

#include <functional>
#include <string_view>

namespace orv::detail {

// A sink receives one line without its terminator. An empty function restores standard output.
using LogSink = std::function<void(std::string_view line)>;

bool logEnabled();
void setLogEnabled(bool enabled);
void setLogSink(LogSink sink);

// One line, written only while logging is enabled.
void sdkLog(std::string_view line);
// One line, written whatever the switch says (version banner, background warnings).
void writeLine(std::string_view line);

}  // namespace orv::detail
