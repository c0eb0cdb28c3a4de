// A single-pass JSON rewriter: it validates as it copies, and only replaces the two leading
// numbers of each position under "coordinates". Memory is bounded by the nesting depth and one
// output block, whatever the size of the document. With more than one thread, runs of features
// (or of coordinate arrays, or of top-level objects) are cut off unparsed where their brackets
// close and rewritten on a pool, each by a rewriter that starts with the line and JSON path
// they had, so the output and the messages are those of one thread.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fileconv/file_convert.h"
#include "fileconv/json_source.h"
#include "fileconv/ordered_pool.h"

namespace orv::fileconv {
namespace {

constexpr int kEnd = JsonSource::kEnd;
constexpr size_t kMaxDepth = 256;
constexpr size_t kFlushAt = 1 << 16;
using Values = JsonSource::Values;

// Where a value sits: ordinary GeoJSON, a "coordinates" value, or foreign data ("properties")
// that is never converted.
enum class Context { kGeoJson, kCoordinates, kOpaque };

struct Segment {
  std::string key;  // empty for an array element
  size_t index = 0;
};

void merge(Report& into, const Report& part) {
  into.bad += part.bad;
  for (const uint64_t line : part.badLines) {
    if (into.badLines.size() < Report::kLinesKept) into.badLines.push_back(line);
  }
}

// A run of values cut off for the pool, with the text that came before it in the output.
struct Piece {
  std::string before;
  Report beforeReport;
  bool values = false;  // false: only `before`
  Values kind = Values::elements;
  std::string in;
  size_t line = 1;
  std::vector<Segment> path;  // of the first value
  std::string out;
  Report report;
  std::string error;  // what the rewriter refused the run with
};

// A run's refusal, raised when the run's turn to be written comes: every run after it is moot.
struct RunError : InputError {
  using InputError::InputError;
};

using Pool = OrderedPool<Piece>;

class Rewriter {
 public:
  // `out` null: the output stays in output() (a piece's rewriter). `pool`: runs are cut off and
  // queued on it, and the output goes there too, in order.
  Rewriter(JsonSource& in, std::ostream* out, const Options& options, Pool* pool = nullptr,
           const std::function<void(Piece&)>* deliver = nullptr)
      : in_(in), out_(out), options_(options), pool_(pool), deliver_(deliver) {}

  Report run() {
    while (true) {
      copySpace(/*allowRecordSeparator=*/true);
      if (peek() == kEnd) break;
      path_.clear();
      if (peek() != '{') fail("expected a GeoJSON object");
      if (!cut(Values::objects)) value(Context::kGeoJson);
    }
    flush();
    return report_;
  }

  // Rewrites a piece: values of its kind, separated as in their container, to the end.
  void piece(Piece& p) {
    line_ = p.line;
    path_ = std::move(p.path);
    buf_.swap(p.out);
    buf_.clear();
    while (true) {
      if (p.kind == Values::objects) {
        path_.clear();
        if (peek() != '{') fail("expected a GeoJSON object");
      }
      p.kind == Values::arrays ? coordinateArray() : value(Context::kGeoJson);
      copySpace(p.kind == Values::objects);
      if (peek() == kEnd) break;
      if (p.kind != Values::objects) {
        expect(',', "',' or ']'");
        copySpace();
        ++path_.back().index;
      }
    }
    settle();
    buf_.swap(p.out);
    p.report = std::move(report_);
  }

 private:
  int peek() { return in_.peek(); }
  char take() {
    const int c = in_.peek();
    if (c == kEnd) fail("unexpected end of input");
    in_.skip();
    if (c == '\n') ++line_;
    buf_ += static_cast<char>(c);
    return static_cast<char>(c);
  }

  // With a pool: cuts off the run of values of `kind` that starts here, if one does within the
  // size limits, and queues it behind the output so far.
  bool cut(Values kind) {
    if (!pool_) return false;
    const JsonSource::Run run = in_.run(kind, options_.blockSize, 4 * options_.blockSize);
    if (run.values == 0) return false;
    settle();
    auto piece = pool_->spare();
    piece->before.swap(buf_);
    buf_.clear();
    piece->beforeReport = std::exchange(report_, {});
    piece->values = true;
    piece->kind = kind;
    piece->in.assign(in_.take(run.length));
    piece->line = line_;
    piece->path = path_;
    line_ += static_cast<size_t>(std::count(piece->in.begin(), piece->in.end(), '\n'));
    if (!path_.empty()) path_.back().index += run.values - 1;
    pool_->submit(std::move(piece), *deliver_);
    return true;
  }
  void expect(char c, const char* what) {
    if (peek() == kEnd) fail("unexpected end of input");
    if (peek() != c) fail(std::string("expected ") + what);
    take();
  }

  [[noreturn]] void fail(const std::string& what) {
    std::string where = "$";
    for (const auto& s : path_) {
      // Appended piecewise: "[" + std::to_string(...) trips g++ 12's -Wrestrict at -O3.
      if (s.key.empty()) {
        where += '[';
        where += std::to_string(s.index);
        where += ']';
      } else {
        where += '.';
        where += s.key;
      }
    }
    throw InputError("line " + std::to_string(line_) + ": " + where + ": " + what);
  }

  void flush() {
    if (!pool_ && !out_) return;  // a piece's rewriter keeps its output whole
    settle();
    if (pool_) {
      auto piece = pool_->spare();
      piece->before.swap(buf_);
      buf_.clear();
      piece->beforeReport = std::exchange(report_, {});
      piece->values = false;
      pool_->submit(std::move(piece), *deliver_);
    } else {
      out_->write(buf_.data(), static_cast<std::streamsize>(buf_.size()));
      if (!*out_) throw std::runtime_error("writing output failed");
      buf_.clear();
    }
  }

  void copySpace(bool allowRecordSeparator = false) {
    for (int c = peek();
         c == ' ' || c == '\t' || c == '\n' || c == '\r' || (allowRecordSeparator && c == 0x1e);
         c = peek()) {
      take();
    }
  }

  void value(Context ctx) {
    if (buf_.size() >= kFlushAt) flush();
    if (path_.size() > kMaxDepth) fail("nesting too deep");
    const int c = peek();
    if (ctx == Context::kCoordinates) {
      if (c != '[') fail("expected an array of positions");
      coordinates();
    } else if (c == '{') {
      object(ctx);
    } else if (c == '[') {
      array(ctx);
    } else if (c == '"') {
      string();
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      number();
    } else if (c == 't') {
      literal("true");
    } else if (c == 'f') {
      literal("false");
    } else if (c == 'n') {
      literal("null");
    } else {
      fail(c == kEnd ? "unexpected end of input" : "expected a value");
    }
  }

  void literal(const char* word) {
    for (const char* p = word; *p; ++p) {
      if (peek() != *p) fail(std::string("expected ") + word);
      take();
    }
  }

  // Returns the raw text between the quotes.
  std::string string() {
    expect('"', "a string");
    std::string raw;
    while (true) {
      // Plain characters in bulk: no quote, backslash, control character (so no line break).
      const std::string_view ahead = in_.buffered();
      size_t plain = 0;
      while (plain < ahead.size() && ahead[plain] != '"' && ahead[plain] != '\\' &&
             static_cast<unsigned char>(ahead[plain]) >= 0x20) {
        ++plain;
      }
      buf_.append(ahead.data(), plain);
      raw.append(in_.take(plain));
      const int c = peek();
      if (c == kEnd) fail("unterminated string");
      if (c < 0x20 && c >= 0) fail("control character in string");
      take();
      if (c == '"') return raw;
      raw += static_cast<char>(c);
      if (c == '\\') {
        const int e = peek();
        // strchr finds the terminator too: a NUL is no escape.
        if (e == kEnd || e == 0 || !std::strchr("\"\\/bfnrtu", e)) fail("invalid escape in string");
        raw += take();
        if (e == 'u') {
          for (int i = 0; i < 4; ++i) {
            if (!std::isxdigit(peek())) fail("invalid \\u escape in string");
            raw += take();
          }
        }
      }
    }
  }

  void digits() {
    if (!std::isdigit(peek())) fail("invalid number");
    while (std::isdigit(peek())) take();
  }

  // Copies a number after checking the JSON grammar; returns its text.
  std::string number() {
    const size_t start = buf_.size();
    if (peek() == '-') take();
    if (peek() == '0') {
      take();
    } else {
      digits();
    }
    if (peek() == '.') take(), digits();
    if (peek() == 'e' || peek() == 'E') {
      take();
      if (peek() == '+' || peek() == '-') take();
      digits();
    }
    return buf_.substr(start);
  }

  void object(Context ctx) {
    take();  // '{'
    copySpace();
    if (peek() == '}') return void(take());
    while (true) {
      if (peek() != '"') fail("expected a member name");
      const std::string key = string();
      copySpace();
      expect(':', "':'");
      copySpace();
      Context child = ctx;
      if (ctx == Context::kGeoJson && key == "coordinates") child = Context::kCoordinates;
      if (ctx == Context::kGeoJson && key == "properties") child = Context::kOpaque;
      // The member stays on the path until its separator, so an error there names it.
      path_.push_back({key.empty() ? "\"\"" : key, 0});
      value(child);
      copySpace();
      if (peek() == ',') {
        path_.pop_back();
        take();
        copySpace();
        continue;
      }
      expect('}', "',' or '}'");
      path_.pop_back();
      return;
    }
  }

  template <class Element>
  void elements(Element element, std::optional<Values> runs) {
    take();  // '['
    copySpace();
    if (peek() == ']') return void(take());
    rest(element, runs);
  }

  // The elements after the opening bracket, through the closing one; the path names each.
  // `runs`: the kind of run that may be cut off for the pool.
  template <class Element>
  void rest(Element element, std::optional<Values> runs = std::nullopt) {
    path_.push_back({"", 0});
    while (true) {
      if (!runs || !cut(*runs)) element();
      copySpace();
      if (peek() == ',') {
        take();
        copySpace();
        ++path_.back().index;
        continue;
      }
      expect(']', "',' or ']'");
      break;
    }
    path_.pop_back();
  }

  void array(Context ctx) {
    elements([&] { value(ctx); },
             ctx == Context::kGeoJson ? std::optional(Values::elements) : std::nullopt);
  }

  // Nested arrays down to positions; a position is an array that starts with a number.
  void coordinates() {
    take();  // '['
    copySpace();
    const int c = peek();
    if (c == '-' || (c >= '0' && c <= '9')) return position();
    if (peek() == ']') return void(take());
    rest([&] { coordinateArray(); }, Values::arrays);
  }

  void coordinateArray() {
    if (path_.size() > kMaxDepth) fail("nesting too deep");
    if (buf_.size() >= kFlushAt) flush();  // a long line or ring streams too
    if (peek() != '[') fail("expected a position or an array of positions");
    coordinates();
  }

  // The opening bracket is already copied. Replaces the first two numbers in place; a position
  // whose numbers are off the globe (or beyond a double) stays as it was and is counted.
  void position() {
    const size_t line = line_;
    size_t spans[2][2] = {};
    std::optional<double> values[2];
    int places[2] = {};
    size_t count = 0;
    rest([&] {
      const int c = peek();
      if (!(c == '-' || (c >= '0' && c <= '9'))) fail("expected a number");
      const size_t start = buf_.size();
      const std::string n = number();
      if (count < 2) {
        spans[count][0] = start, spans[count][1] = buf_.size();
        int given = 0;
        values[count] = parseNumber(n, &given);
        places[count] = placesFor(options_.precision, given);
      }
      ++count;
    });
    if (count < 2) fail("a position needs longitude and latitude");
    if (!values[0] || !values[1] || std::abs(*values[0]) > 180.0 || std::abs(*values[1]) > 90.0) {
      if (report_.badLines.size() < Report::kLinesKept) report_.badLines.push_back(line);
      ++report_.bad;
      return;
    }
    pending_.push_back(
        {{spans[0][0], spans[0][1]}, {spans[1][0], spans[1][1]}, places[0], places[1]});
    lng_.push_back(*values[0]);
    lat_.push_back(*values[1]);
  }

  // Converts the positions waiting in the output together (the vector engine's lanes do not
  // depend on each other) and writes their numbers in place. Runs before output leaves.
  void settle() {
    if (pending_.empty()) return;
    options_.convert(lat_, lng_);
    scratch_.clear();
    size_t from = 0;
    for (size_t i = 0; i < pending_.size(); ++i) {
      const Pending& p = pending_[i];
      scratch_.append(buf_, from, p.lng[0] - from);
      appendNumber(scratch_, lng_[i], p.lngPlaces);
      scratch_.append(buf_, p.lng[1], p.lat[0] - p.lng[1]);
      appendNumber(scratch_, lat_[i], p.latPlaces);
      from = p.lat[1];
    }
    scratch_.append(buf_, from);
    buf_.swap(scratch_);
    pending_.clear(), lat_.clear(), lng_.clear();
  }

  struct Pending {
    size_t lng[2], lat[2];  // the numbers' offsets in buf_
    int lngPlaces, latPlaces;
  };

  JsonSource& in_;
  std::ostream* out_;
  const Options& options_;
  Pool* pool_;
  const std::function<void(Piece&)>* deliver_;
  Report report_;
  std::string buf_;
  std::vector<Segment> path_;
  size_t line_ = 1;
  std::vector<Pending> pending_;
  std::vector<double> lat_, lng_;
  std::string scratch_;
};

}  // namespace

Report convertGeoJson(std::istream& in, std::ostream& out, const Options& options) {
  JsonSource source(in, options.blockSize);
  Report report;
  if (options.threads <= 1) {
    report = Rewriter(source, &out, options).run();
  } else {
    const std::function<void(Piece&)> deliver = [&](Piece& p) {
      if (!p.error.empty()) throw RunError(p.error);
      out.write(p.before.data(), static_cast<std::streamsize>(p.before.size()));
      merge(report, p.beforeReport);
      if (p.values) {
        out.write(p.out.data(), static_cast<std::streamsize>(p.out.size()));
        merge(report, p.report);
      }
      if (!out) throw std::runtime_error("writing output failed");
    };
    Pool pool(options.threads, [&options](Piece& p) {
      p.error.clear();
      if (!p.values) return;
      JsonSource text(p.in);
      try {
        Rewriter(text, nullptr, options).piece(p);
      } catch (const InputError& e) {
        p.error = e.what();
      }
    });
    try {
      Rewriter(source, nullptr, options, &pool, &deliver).run();
    } catch (const RunError&) {
      throw;
    } catch (const InputError&) {
      pool.drain(deliver);  // the reader's own refusal: a run before it that failed comes first
      throw;
    }
    pool.drain(deliver);
  }
  if (source.failed()) throw std::runtime_error("reading input failed");
  return report;
}

}  // namespace orv::fileconv
