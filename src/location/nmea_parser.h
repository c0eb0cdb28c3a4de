// Turns an NMEA 0183 byte stream into fixes: frames sentences, decodes them (nmea_sentence.h) and
// combines the sentences of one epoch (same UTC time) into one Location.
//
// An epoch begins with a sentence that carries a new time; sentences without a time (GSA, VTG)
// belong to the epoch whose timed sentences precede them. It ends when a sentence with another
// time arrives, or, once the receiver's cycle has been seen, at the sentence that ends the cycle
// (same talker, type and repeat count), so a fix leaves as soon as its last sentence is read
// rather than one epoch later. The first epoch of a stream therefore comes out when the second
// one begins. Sentences of an epoch already handed out are dropped; a lost sentence changes the
// learned end of the cycle only when the next epoch confirms it, so it costs one epoch at most.
//
// The combined fix: position from GGA (else RMC), altitude from GGA unless GSA says 2D, speed and
// course from RMC or VTG, accuracies from the GST standard deviations (horizontal: the root sum
// of squares of the latitude and longitude deviations) else DOP × kNmeaUere, else -1. An epoch is
// a fix only when it has a position and none of its quality or status fields says otherwise.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "location/nmea_sentence.h"
#include "orv/location.h"

namespace orv::detail {

// User equivalent range error (metres, one sigma) of a single-frequency receiver without GST:
// the accuracy reported is DOP times this.
inline constexpr double kNmeaUere = 5.0;

// The values of one epoch merged so far; NaN is absent.
struct NmeaEpoch {
  int32_t timeOfDayMs = -1;
  bool noFix = false;  // a GGA or RMC said so
  bool positionFromGga = false;
  int fixDimension = 0;  // the best of the epoch's GSAs (one per constellation in NMEA 4.1)
  double latitude = NmeaSentence::kAbsent;
  double longitude = NmeaSentence::kAbsent;
  double altitude = NmeaSentence::kAbsent;
  double hdop = NmeaSentence::kAbsent;
  double vdop = NmeaSentence::kAbsent;
  double latitudeSigma = NmeaSentence::kAbsent;
  double longitudeSigma = NmeaSentence::kAbsent;
  double altitudeSigma = NmeaSentence::kAbsent;
  double speed = NmeaSentence::kAbsent;
  double course = NmeaSentence::kAbsent;
  int year = 0;
  int month = 0;
  int day = 0;
};

class NmeaParser {
 public:
  using WallClock = std::function<std::chrono::system_clock::time_point()>;

  // `now` dates the epochs until an RMC gives the date (default: the system clock).
  explicit NmeaParser(WallClock now = {});

  // Bytes as they arrive, in any chunking. Appends a fix for each epoch completed.
  void feed(std::string_view bytes, std::vector<Location>& fixes);
  // One sentence without its line terminator.
  void feedSentence(std::string_view line, std::vector<Location>& fixes);
  // The stream ended: completes the open epoch.
  void flush(std::vector<Location>& fixes);
  // Forget the stream (a new connection): partial line, open epoch and the learned cycle.
  void reset();

 private:
  // One sentence's place in the epoch's sequence: its key and how often the key came before.
  struct Step {
    uint32_t key = UINT32_MAX;
    int repeat = 0;
    bool operator==(const Step&) const = default;
  };
  void merge(const NmeaSentence& s);
  void finish(std::vector<Location>& fixes);
  void closeEpoch(std::vector<Location>& fixes);
  void openEpoch();
  Step nextStep(uint32_t key);
  std::chrono::system_clock::time_point timestamp(int32_t timeOfDayMs);

  WallClock now_;
  std::string line_;
  bool inSentence_ = false;  // between "$" and the terminator
  bool overlong_ = false;

  // The open epoch: merged values, whether it was already handed out, and its sequence so far.
  NmeaEpoch epoch_;
  bool open_ = false;
  bool emitted_ = false;
  std::vector<uint32_t> keys_;
  Step last_;
  Step terminator_;  // the step that ends the receiver's cycle
  Step candidate_;   // a different end seen once, which the next epoch may confirm

  // The date of the newest RMC and the time of day of the newest dated epoch, for rollovers.
  std::chrono::sys_days date_{};
  bool haveDate_ = false;
  int32_t dateTimeMs_ = 0;
};

}  // namespace orv::detail
