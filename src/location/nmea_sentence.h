// One NMEA 0183 sentence decoded into the values a fix is made of. Only GGA, RMC, GSA, GST and VTG
// from GNSS talkers are read; everything else is not ours and decodes to nothing.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

namespace orv::detail {

// Longest sentence accepted, from "$" to the checksum, terminator excluded. The standard's limit
// is 82 characters including "$" and CR LF, but receivers exceed it (long GSA of NMEA 4.1,
// proprietary sentences), so we allow twice that; anything longer is dropped.
inline constexpr std::size_t kNmeaMaxSentence = 164;

enum class NmeaType : uint8_t { gga, rmc, gsa, gst, vtg };

// Absent numbers are NaN; absent integers are zero or negative as noted.
struct NmeaSentence {
  static constexpr double kAbsent = std::numeric_limits<double>::quiet_NaN();

  NmeaType type = NmeaType::gga;
  uint16_t talker = 0;       // the two talker letters, first one in the high byte
  int32_t timeOfDayMs = -1;  // UTC time of day; -1 for sentences without time (GSA, VTG)
  // False when the sentence's quality or status field says "no fix" (GGA quality 0/7/8, RMC status
  // V or mode N/M/S, GSA fix type 1). A VTG without valid mode only loses its speed and course.
  bool fix = true;
  double latitude = kAbsent;   // degrees, south negative
  double longitude = kAbsent;  // degrees, west negative
  double altitude = kAbsent;   // metres above mean sea level
  double hdop = kAbsent;
  double vdop = kAbsent;
  int fixDimension = 0;            // GSA: 1 none, 2 two-dimensional, 3 three-dimensional; 0 absent
  double latitudeSigma = kAbsent;  // GST standard deviations, metres
  double longitudeSigma = kAbsent;
  double altitudeSigma = kAbsent;
  double speed = kAbsent;   // metres per second
  double course = kAbsent;  // degrees from true north, [0, 360)
  int year = 0;             // RMC date; 0 absent
  int month = 0;
  int day = 0;

  // The sentence's identity in an epoch's sequence: talker and type.
  uint32_t key() const { return (uint32_t{talker} << 8) | static_cast<uint32_t>(type); }
};

// Decodes one sentence, "$" to checksum without the line terminator. Nothing for sentences that
// are not ours, a wrong or malformed checksum, an unexpected field count, a malformed field or a
// value out of range: such a sentence must not contribute to a fix.
std::optional<NmeaSentence> decodeNmeaSentence(std::string_view line);

}  // namespace orv::detail
