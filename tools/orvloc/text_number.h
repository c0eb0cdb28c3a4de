// Numbers as the tool reads and writes them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvloc {

// The whole text must be a decimal number (no spaces, no trailing characters, finite).
std::optional<double> parseNumber(std::string_view text);

// The shortest plain decimal that reads back to the same double.
std::string formatNumber(double value);

}  // namespace orvloc
