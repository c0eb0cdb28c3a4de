#include "batch_cmd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>

#include "batch_io.h"
#include "command.h"
#include "orv/batch.h"
#include "orv/run_loop.h"
#include "output.h"
#include "text_number.h"

namespace orvloc {
namespace {

// Appends whole records with one write each, so a kill leaves at most one partial record, which
// the next run cuts off; synced now and then and at the end.
class RecordSink {
 public:
  explicit RecordSink(const std::string& path) {
    if (path.empty()) return;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd_ < 0) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
    struct stat st {};
    empty_ = ::fstat(fd_, &st) == 0 && st.st_size == 0;
  }
  ~RecordSink() {
    if (fd_ != STDOUT_FILENO) {
      ::fdatasync(fd_);
      ::close(fd_);
    }
  }
  RecordSink(const RecordSink&) = delete;
  RecordSink& operator=(const RecordSink&) = delete;

  bool empty() const { return empty_; }
  void write(const std::string& record) {
    size_t at = 0;
    while (at < record.size()) {
      const ssize_t n = ::write(fd_, record.data() + at, record.size() - at);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0)
        throw std::runtime_error(std::string("writing the output: ") + std::strerror(errno));
      at += static_cast<size_t>(n);
    }
    empty_ = false;
    if (++sinceSync_ >= 1000 && fd_ != STDOUT_FILENO) {
      ::fdatasync(fd_);
      sinceSync_ = 0;
    }
  }

 private:
  int fd_ = STDOUT_FILENO;
  bool empty_ = true;
  int sinceSync_ = 0;
};

struct RowError {
  std::string code;
  long status = -1;
  std::string message;
  int attempts = 0;
};

class Formatter {
 public:
  Formatter(BatchKind kind, bool csv, std::vector<std::string> header)
      : kind_(kind), csv_(csv), header_(std::move(header)) {}

  std::string headerLine() const {
    std::string line;
    for (const auto& h : header_) line += csvField(h) + ",";
    line += kind_ == BatchKind::geocode ? "name,point,error" : "address,place,distance,error";
    return line + "\n";
  }

  std::string record(size_t row, const std::vector<std::string>& input, const orv::BatchOutcome* o,
                     const RowError* error) const {
    return csv_ ? csvRecord(input, o, error) : jsonRecord(row, input, o, error);
  }

 private:
  std::string jsonRecord(size_t row, const std::vector<std::string>& input,
                         const orv::BatchOutcome* o, const RowError* error) const {
    std::string line = "{\"row\": " + std::to_string(row) + ", \"input\": {";
    for (size_t i = 0; i < header_.size(); ++i) {
      line += (i ? ", " : "") + jsonString(header_[i]) + ": " + jsonString(input[i]);
    }
    line += "}, ";
    if (error) {
      line += "\"error\": {\"code\": " + jsonString(error->code) +
              ", \"status\": " + (error->status >= 0 ? std::to_string(error->status) : "null") +
              ", \"message\": " + jsonString(error->message) +
              ", \"attempts\": " + std::to_string(error->attempts) + "}}";
      return line + "\n";
    }
    return line + "\"result\": " + resultJson(*o) + "}\n";
  }

  std::string resultJson(const orv::BatchOutcome& o) const {
    if (kind_ != BatchKind::geocode) {
      if (!o.location) return "null";
      const auto json = o.location->encode();
      return json ? json.value() : "null";
    }
    std::string out = "[";
    for (size_t i = 0; i < o.places.size(); ++i) {
      const auto json = o.places[i]->encode();
      out += (i ? ", " : "") + (json ? json.value() : std::string("null"));
    }
    return out + "]";
  }

  std::string csvRecord(const std::vector<std::string>& input, const orv::BatchOutcome* o,
                        const RowError* error) const {
    std::string line;
    for (const auto& field : input) line += csvField(field) + ",";
    std::vector<std::string> cells(kind_ == BatchKind::geocode ? 2 : 3);
    if (o && kind_ == BatchKind::geocode && !o->places.empty()) {
      cells = {o->places.front()->name(), o->places.front()->geoPoint()};
    } else if (o && kind_ != BatchKind::geocode && o->location) {
      const auto all = locationCells(*o->location);
      if (all.size() == 5) cells = {all[2], all[3], all[4]};
    }
    for (const auto& c : cells) line += csvField(c) + ",";
    if (error) line += csvField(error->code + ": " + error->message);
    return line + "\n";
  }

  BatchKind kind_;
  bool csv_;
  std::vector<std::string> header_;
};

// The rows of the table as the engine's inputs; a row that cannot be one gets its error now.
struct Inputs {
  std::vector<orv::ReverseGeocodeInput> points;
  std::vector<orv::GeocodeInput> addresses;
  std::vector<orv::Location> fixes;
  std::vector<size_t> rowOf;  // engine index -> row
  std::map<size_t, RowError> invalid;
};

double field(const CsvTable& t, size_t row, std::optional<size_t> column, double fallback,
             bool* ok) {
  if (!column) return fallback;
  const std::string& text = t.rows[row][*column];
  if (text.empty()) return fallback;
  const auto n = parseNumber(text);
  if (!n || !std::isfinite(*n)) {
    *ok = false;
    return 0;
  }
  return *n;
}

Inputs collect(BatchKind kind, const CsvTable& t, size_t firstRow) {
  Inputs in;
  const auto lat = t.column({"lat", "latitude"});
  const auto lng = t.column({"lng", "lon", "longitude"});
  const auto address = t.column({"address"});
  const auto city = t.column({"city"});
  if (kind == BatchKind::geocode ? !address : !lat || !lng) {
    throw UsageError{kind == BatchKind::geocode ? "the input has no address column"
                                                : "the input needs lat and lng columns"};
  }
  for (size_t row = firstRow; row < t.rows.size(); ++row) {
    bool ok = true;
    if (kind == BatchKind::geocode) {
      in.addresses.push_back({t.rows[row][*address], city ? t.rows[row][*city] : ""});
    } else {
      const double la = field(t, row, lat, NAN, &ok), ln = field(t, row, lng, NAN, &ok);
      ok = ok && std::isfinite(la) && std::isfinite(ln);
      if (kind == BatchKind::reverse && ok) in.points.push_back({la, ln});
      if (kind == BatchKind::track && ok) {
        orv::Location fix;
        fix.coordinate = {la, ln};
        fix.altitude = field(t, row, t.column({"alt", "altitude"}), 0.0, &ok);
        fix.horizontalAccuracy = field(t, row, t.column({"hacc"}), -1.0, &ok);
        fix.verticalAccuracy = field(t, row, t.column({"vacc"}), -1.0, &ok);
        fix.speed = field(t, row, t.column({"speed"}), -1.0, &ok);
        if (ok) in.fixes.push_back(fix);
      }
    }
    if (ok) {
      in.rowOf.push_back(row);
    } else {
      in.invalid[row] = RowError{"requestNotBuildable", -1, "a number column is not a number", 0};
    }
  }
  return in;
}

std::string duration(double seconds) {
  if (!(seconds >= 0) || seconds > 1e7) return "?";
  const long s = std::lround(seconds);
  return s >= 60 ? std::to_string(s / 60) + "m" + std::to_string(s % 60) + "s"
                 : std::to_string(s) + "s";
}

}  // namespace

void addBatchOptions(CLI::App& cmd, BatchArgs& a) {
  cmd.add_option("--input", a.input, "CSV file: one request per row (other arguments not given)")
      ->check(CLI::ExistingFile);
  cmd.add_option("--output", a.output,
                 "output file (default standard output); an existing one is resumed");
  cmd.add_option("--format", a.format, "json (JSON lines) or csv")
      ->check(CLI::IsMember({"json", "csv"}))
      ->capture_default_str();
  cmd.add_option("--rate", a.rate, "requests per second at most (0: no limit)")
      ->check(CLI::NonNegativeNumber);
  cmd.add_option("--burst", a.burst, "requests that may start back to back")
      ->check(CLI::Range(1.0, 1e6))
      ->capture_default_str();
  cmd.add_option("--concurrency", a.concurrency, "requests in flight at most")
      ->check(CLI::Range(1, 4096))
      ->capture_default_str();
  cmd.add_option("--attempts", a.attempts, "requests per row at most")
      ->check(CLI::Range(1, 100))
      ->capture_default_str();
}

int runBatch(BatchKind kind, const BatchArgs& args, const ServiceOptions& service) {
  const bool csv = args.format == "csv";
  const CsvTable table = readCsvFile(args.input);
  const size_t resumed = args.output.empty() ? 0 : prepareResume(args.output, csv);
  if (resumed > table.rows.size()) {
    throw UsageError{args.output + " holds more rows than " + args.input};
  }
  Inputs in = collect(kind, table, resumed);
  RecordSink sink(args.output);
  const Formatter format(kind, csv, table.header);
  if (csv && sink.empty()) sink.write(format.headerLine());

  size_t nextRow = resumed, errors = 0;
  std::map<size_t, std::string> pending;
  const auto flush = [&] {
    for (auto it = pending.begin(); it != pending.end() && it->first == nextRow;
         it = pending.erase(it), ++nextRow) {
      sink.write(it->second);
    }
  };
  for (const auto& [row, error] : in.invalid) {
    pending[row] = format.record(row, table.rows[row], nullptr, &error);
    ++errors;
  }
  flush();

  Session session(service);
  orv::BatchOptions options;
  options.rate = args.rate;
  options.burst = args.burst;
  options.concurrency = args.concurrency;
  options.maxAttempts = args.attempts;
  options.timeout = std::min(service.timeout, 30.0);
  bool finished = false;
  const auto onOutcome = [&](const orv::BatchOutcome& o) {
    const size_t row = in.rowOf[o.index];
    if (o.error) {
      const RowError e{std::string(orv::errorCodeName(o.error->code)), o.error->status,
                       o.error->message, o.attempts};
      pending[row] = format.record(row, table.rows[row], nullptr, &e);
      ++errors;
    } else {
      pending[row] = format.record(row, table.rows[row], &o, nullptr);
    }
    flush();
  };
  const auto onFinish = [&] { finished = true; };
  const auto started = std::chrono::steady_clock::now();
  std::unique_ptr<orv::Batch> batch;
  auto& client = session.client();
  switch (kind) {
    case BatchKind::reverse:
      batch = orv::Batch::reverseGeocode(client, in.points, options, onOutcome, onFinish);
      break;
    case BatchKind::geocode:
      batch = orv::Batch::geocode(client, in.addresses, options, onOutcome, onFinish);
      break;
    case BatchKind::track:
      batch = orv::Batch::trackLocation(client, in.fixes, options, onOutcome, onFinish);
      break;
  }
  const auto elapsed = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  };
  std::shared_ptr<orv::Timer> ticker;
  if (::isatty(STDERR_FILENO)) {
    ticker = orv::Timer::scheduled(std::chrono::milliseconds(500), true, [&](orv::Timer&) {
      const orv::BatchProgress p = batch->progress();
      const double rate = elapsed() > 0 ? static_cast<double>(p.done) / elapsed() : 0;
      std::string line = "\r" + std::to_string(resumed + p.done) + "/" +
                         std::to_string(table.rows.size()) + " rows  " + fixedText(rate, 1) +
                         "/s  " + std::to_string(p.failed) + " failed  ETA " +
                         duration(rate > 0 ? static_cast<double>(p.total - p.done) / rate : -1);
      if (p.pausedUntil) {
        line +=
            "  paused (429) " +
            duration(
                std::chrono::duration<double>(*p.pausedUntil - orv::RunLoop::main().now()).count());
      }
      std::fprintf(stderr, "%s\033[K", line.c_str());
    });
  }
  orv::RunLoop::main().runUntil([&] { return finished; }, std::chrono::hours(24 * 365));
  if (ticker) {
    ticker->invalidate();
    std::fprintf(stderr, "\r\033[K");
  }
  flush();
  const orv::BatchProgress p = batch->progress();
  std::fprintf(stderr,
               "orvloc: %zu rows (%zu already done): %zu results, %zu errors; %zu requests "
               "(%zu retries, %zu answered 429) in %s\n",
               table.rows.size(), resumed, table.rows.size() - resumed - errors, errors, p.requests,
               p.retried, p.limited, duration(elapsed()).c_str());
  return errors == 0 ? kExitOk : kExitFailure;
}

}  // namespace orvloc
