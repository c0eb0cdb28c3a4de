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

// One sentence per line.
inline std::string nmeaLines(std::initializer_list<std::string> bodies) {
  std::string out;
  for (const auto& body : bodies) out += nmeaSentence(body) + "\n";
  return out;
}

// u-blox M8 in NMEA 4.1: combined GN talker, GPS + GLONASS + Galileo, GST enabled, driving
// east at 12.5 m/s (three epochs).
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
        "GNGSA,A,3,03,05,13,,,,,,,,,,1.31,0.72,1.09,3",
        "GPGSV,3,1,10,02,46,300,38,05,55,052,42,12,20,118,33,13,35,080,40,1",
        "GPGSV,3,2,10,15,28,044,36,18,61,271,44,20,14,319,30,25,37,210,39,1",
        "GPGSV,3,3,10,29,72,171,45,31,05,263,,1",
        "GLGSV,1,1,04,65,40,050,35,66,62,310,41,75,22,120,30,76,55,205,38,1",
        "GAGSV,1,1,03,03,33,270,37,05,48,101,40,13,12,160,28,7",
        "GNGLL,3954.12345,N," + lng + ",E," + t + ",A,A",
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
        "GPGSV,2,1,07,03,48,045,41,06,23,310,35,09,55,130,43,17,12,080,30",
        "GPGSV,2,2,07,19,31,220,38,22,66,010,45,28,09,290,29",
        "GPRMC," + t + ",A,3112.3456,N,12128.7654,E,0.00,,071226,,,A",
    });
  }
  return log;
}();

// A receiver that has not found satellites yet: empty positions, quality 0, status V.
inline const std::string kNoFixReceiver = [] {
  std::string log;
  for (const std::string t : {"000000.00", "000001.00", "000002.00"}) {
    log += nmeaLines({
        "GPRMC," + t + ",V,,,,,,,071226,,,N",
        "GPVTG,,,,,,,,,N",
        "GPGGA," + t + ",,,,,0,00,99.99,,,,,,",
        "GPGSA,A,1,,,,,,,,,,,,,99.99,99.99,99.99",
        "GPGSV,1,1,00",
        "GPGLL,,,,," + t + ",V,N",
    });
  }
  return log;
}();

// A BeiDou + GPS + QZSS receiver with differential corrections, NMEA 4.1 (BD, GB, QZ talkers).
inline const std::string kBeidouDifferential = [] {
  std::string log;
  for (const std::string t : {"040610.000", "040611.000"}) {
    log += nmeaLines({
        "GNGGA," + t + ",2232.8765,N,11403.1234,E,2,21,0.6,35.0,M,-2.5,M,1.0,0123",
        "GNGSA,A,3,10,12,24,25,32,,,,,,,,1.0,0.6,0.8,1",
        "BDGSA,A,3,201,203,206,209,213,216,,,,,,,1.0,0.6,0.8,4",
        "QZGSA,A,3,193,,,,,,,,,,,,1.0,0.6,0.8,5",
        "BDGSV,2,1,06,201,40,120,44,203,52,200,45,206,33,040,40,209,60,300,46,1",
        "GBGSV,2,2,06,213,20,080,37,216,15,160,35,1",
        "GNRMC," + t + ",A,2232.8765,N,11403.1234,E,1.50,120.0,071226,,,D,S",
    });
  }
  return log;
}();

// As sent on the wire: every line ends in CR LF.
inline std::string asReceived(std::string_view log) {
  std::string out;
  for (char c : log) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

}  // namespace orv::test
