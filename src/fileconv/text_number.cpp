#include "fileconv/text_number.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace orv::fileconv {

namespace {

constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                             1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// Plain decimals of at most 15 digits ("-31.1234567"): the digits as an integer, divided by a
// power of ten. Both are exact doubles, so the one division rounds correctly, as from_chars
// does. Anything else (exponents, more digits) is left to from_chars.
std::optional<double> parseShort(std::string_view text, int* places) {
  const char* p = text.data();
  const char* end = p + text.size();
  const bool negative = p != end && *p == '-';
  p += negative;
  uint64_t digits = 0;
  int count = 0, fraction = -1;
  for (; p != end; ++p) {
    const unsigned d = static_cast<unsigned char>(*p) - '0';
    if (d < 10) {
      digits = digits * 10 + d;
      ++count;
      fraction += fraction >= 0;
    } else if (*p == '.' && fraction < 0 && count > 0 && p + 1 != end) {
      fraction = 0;
    } else {
      return std::nullopt;
    }
  }
  fraction = std::max(fraction, 0);
  if (count == 0 || count > 15) return std::nullopt;
  if (places) *places = fraction;
  const double v = static_cast<double>(digits) / kPow10[fraction];
  return negative ? -v : v;
}

}  // namespace

std::optional<double> parseNumber(std::string_view text, int* places) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (auto v = parseShort(text, places)) return v;
  double value = 0.0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(value)) {
    return std::nullopt;
  }
  if (places) *places = decimalPlaces(text);
  return value;
}

std::string formatNumber(double value) {
  std::string s;
  appendNumber(s, value, -1);
  return s;
}

int placesFor(const Precision& precision, int given) {
  switch (precision.mode) {
    case Precision::Mode::keep:
      return std::max(precision.places, given);
    case Precision::Mode::fixed:
      return precision.places;
    case Precision::Mode::shortest:
      break;
  }
  return -1;
}

int decimalPlaces(std::string_view text) {
  const size_t point = text.find('.');
  const size_t e = text.find_first_of("eE");
  int places = 0;
  if (point != std::string_view::npos) {
    places = static_cast<int>(std::min(e, text.size()) - point - 1);
  }
  if (e != std::string_view::npos) {
    int exponent = 0;
    std::string_view rest = text.substr(e + 1);
    if (!rest.empty() && rest.front() == '+') rest.remove_prefix(1);
    std::from_chars(rest.data(), rest.data() + rest.size(), exponent);
    places -= std::clamp(exponent, -400, 400);
  }
  return std::max(places, 0);
}

void appendNumber(std::string& out, double value, int places) {
  // Up to 15 places and 2^53 units of the last place: the product is within half an ulp of the
  // exact value times 10^places, so unless it lies near a halfway point its nearest integer is
  // the correctly rounded digits, exactly what to_chars writes. Near halfway, to_chars decides.
  if (places >= 0 && places <= 15 && std::abs(value) < 1e15 / kPow10[places]) {
    const double scaled = std::abs(value) * kPow10[places];
    const auto whole = static_cast<uint64_t>(scaled);  // floor: scaled is not negative
    const double rest = scaled - static_cast<double>(whole);
    if (std::abs(rest - 0.5) > scaled * 0x1p-50 + 0x1p-60) {
      uint64_t units = whole + (rest > 0.5);
      char digits[24];
      char* d = digits + sizeof digits;
      // Two digits at a time from the last place: the places, the point, then the whole part.
      const auto pair = [&] {
        d -= 2;
        std::memcpy(d, kPairs + 2 * (units % 100), 2);
        units /= 100;
      };
      int left = places;
      for (; left >= 2; left -= 2) pair();
      if (left == 1) {
        *--d = static_cast<char>('0' + units % 10);
        units /= 10;
      }
      if (places > 0) *--d = '.';
      while (units >= 100) pair();
      if (units >= 10) {
        pair();
      } else {
        *--d = static_cast<char>('0' + units);
      }
      if (std::signbit(value)) *--d = '-';
      out.append(d, digits + sizeof digits);
      return;
    }
  }
  char buf[400];  // fixed notation of the largest double with the most places asked for
  const auto r = places < 0 ? std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed)
                            : std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed,
                                            std::min(places, 40));
  out.append(buf, r.ptr);
}

std::optional<Precision> parsePrecision(std::string_view text) {
  if (text == "shortest") return Precision{Precision::Mode::shortest, 0};
  int places = -1;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), places);
  if (ec != std::errc() || ptr != text.data() + text.size() || places < 0 || places > 17) {
    return std::nullopt;
  }
  return Precision{Precision::Mode::fixed, places};
}

}  // namespace orv::fileconv
