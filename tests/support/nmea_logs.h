// Receiver logs as real units write them, for the NMEA parser, provider and command tests. Each
// log repeats one epoch's sentences with the time (and position) of each epoch.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>

namespace orv::test {

// "$" + body + "*" + checksum.
inline std::string nmeaSentence(std::string_view body) {
  unsigned sum = 0;
  for (char c : body) sum ^= static_cast<unsigned char>(c);
  char tail[4];
  std::snprintf(tail, sizeof tail, "*%02X", sum);
  return "$" + std::string(body) + tail;
}

// One sentence per line, each ending in CR LF as on the wire.
inline std::string nmeaLines(std::initializer_list<std::string> bodies) {
  std::string out;
  for (const auto& body : bodies) out += nmeaSentence(body) + "\r\n";
  return out;
}

// u-blox M8 in NMEA 4.1: combined GN talker, one GSA per constellation, GST enabled, driving east
// at 12.5 m/s (three epochs). Satellite views (GSV) carry nothing for a fix.
inline const std::string kUbloxDriving = [] {
  std::string log;
  for (const auto& [t, lng] : {std::pair<std::string, std::string>{"081230.00", "11623.45678"},
                               {"081231.00", "11623.46553"},
                               {"081232.00", "11623.47428"}}) {
    log += nmeaLines({
        "GNRMC," + t + ",A,3954.12345,N," + lng + ",E,24.298,87.65,071226,,,A,V",
        "GNVTG,87.65,T,,M,24.298,N,45.000,K,A",
        "GNGGA," + t + ",3954.12345,N," + lng + ",E,1,18,0.72,52.3,M,-8.1,M,,",
        "GNGSA,A,3,02,05,12,13,15,18,20,25,29,,,,1.31,0.72,1.09,1",
        "GNGSA,A,3,65,66,75,76,,,,,,,,,1.31,0.72,1.09,2",
        "GPGSV,1,1,04,02,46,300,38,05,55,052,42,12,20,118,33,13,35,080,40,1",
        "GNGST," + t + ",12,1.8,1.2,65.3,1.5,1.1,2.6",
    });
  }
  return log;
}();

// SiRF-style GPS-only receiver in NMEA 2.3, parked just before midnight, no VTG or GST.
inline const std::string kSirfParked = [] {
  std::string log;
  for (const std::string t : {"235958.000", "235959.000"}) {
    log += nmeaLines({
        "GPGGA," + t + ",3112.3456,N,12128.7654,E,1,07,1.2,8.5,M,10.2,M,,0000",
        "GPGSA,A,3,03,06,09,17,19,22,28,,,,,,2.1,1.2,1.7",
        "GPRMC," + t + ",A,3112.3456,N,12128.7654,E,0.00,,071226,,,A",
    });
  }
  return log;
}();

}  // namespace orv::test
