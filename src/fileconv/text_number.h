// Numbers as the file converters (and orvloc) read and write them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orv::fileconv {

// The whole text must be a decimal number (no spaces, no trailing characters, finite). `places`,
// when given, receives decimalPlaces(text).
std::optional<double> parseNumber(std::string_view text, int* places = nullptr);

// The shortest plain decimal that reads back to the same double.
std::string formatNumber(double value);

// How many decimal places a coordinate is written with.
struct Precision {
  enum class Mode {
    keep,      // as many as the input value had, but at least `places`
    fixed,     // exactly `places`
    shortest,  // the shortest text that reads back to the same double
  };
  Mode mode = Mode::keep;
  int places = 7;
};

// The places to write a value with that had `given` places in the input; -1 for the shortest.
int placesFor(const Precision& precision, int given);

// Places of a decimal's text: digits after the point, less a positive exponent ("1.25e1": 1).
int decimalPlaces(std::string_view text);

// Appends `value` as plain decimal (no exponent) with `places` decimals, or the shortest round-trip
// text when `places` is negative.
void appendNumber(std::string& out, double value, int places);

// "shortest", or a number of places from 0 to 17; nullopt otherwise.
std::optional<Precision> parsePrecision(std::string_view text);

}  // namespace orv::fileconv
