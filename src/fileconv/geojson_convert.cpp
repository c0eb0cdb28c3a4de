// A single-pass JSON rewriter: it validates as it copies, and only replaces the two leading
// numbers of each position under "coordinates". Memory is bounded by the nesting depth and one
// output block, whatever the size of the document. It runs on one thread: unlike CSV records,
// a feature's end cannot be found without parsing everything before it.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <streambuf>
#include <string>
#include <vector>

#include "fileconv/file_convert.h"

namespace orv::fileconv {
namespace {

constexpr int kEnd = std::char_traits<char>::eof();
constexpr size_t kMaxDepth = 256;
constexpr size_t kFlushAt = 1 << 16;

// Where a value sits: ordinary GeoJSON, a "coordinates" value, or foreign data ("properties")
// that is never converted.
enum class Context { kGeoJson, kCoordinates, kOpaque };

class Rewriter {
 public:
  Rewriter(std::istream& in, std::ostream& out, const Options& options)
      : in_(*in.rdbuf()), out_(out), options_(options) {}

  Report run() {
    while (true) {
      copySpace(/*allowRecordSeparator=*/true);
      if (peek() == kEnd) break;
      path_.clear();
      if (peek() != '{') fail("expected a GeoJSON object");
      value(Context::kGeoJson);
    }
    flush();
    return report_;
  }

 private:
  struct Segment {
    std::string key;  // empty for an array element
    size_t index = 0;
  };

  int peek() { return in_.sgetc(); }
  char take() {
    const int c = in_.sbumpc();
    if (c == kEnd) fail("unexpected end of input");
    if (c == '\n') ++line_;
    buf_ += static_cast<char>(c);
    return static_cast<char>(c);
  }
  void expect(char c, const char* what) {
    if (peek() == kEnd) fail("unexpected end of input");
    if (peek() != c) fail(std::string("expected ") + what);
    take();
  }

  [[noreturn]] void fail(const std::string& what) {
    std::string where = "$";
    for (const auto& s : path_) {
      where += s.key.empty() ? "[" + std::to_string(s.index) + "]" : "." + s.key;
    }
    throw InputError("line " + std::to_string(line_) + ": " + where + ": " + what);
  }

  void flush() {
    out_.write(buf_.data(), static_cast<std::streamsize>(buf_.size()));
    if (!out_) throw std::runtime_error("writing output failed");
    buf_.clear();
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
      const int c = peek();
      if (c == kEnd) fail("unterminated string");
      if (c < 0x20 && c >= 0) fail("control character in string");
      take();
      if (c == '"') return raw;
      raw += static_cast<char>(c);
      if (c == '\\') {
        const int e = peek();
        if (e == kEnd || !std::strchr("\"\\/bfnrtu", e)) fail("invalid escape in string");
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
  void elements(Element element) {
    take();  // '['
    copySpace();
    if (peek() == ']') return void(take());
    rest(element);
  }

  // The elements after the opening bracket, through the closing one; the path names each.
  template <class Element>
  void rest(Element element) {
    path_.push_back({"", 0});
    while (true) {
      element();
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
    elements([&] { value(ctx); });
  }

  // Nested arrays down to positions; a position is an array that starts with a number.
  void coordinates() {
    take();  // '['
    copySpace();
    const int c = peek();
    if (c == '-' || (c >= '0' && c <= '9')) return position();
    if (peek() == ']') return void(take());
    rest([&] {
      if (path_.size() > kMaxDepth) fail("nesting too deep");
      if (buf_.size() >= kFlushAt) flush();  // a long line or ring streams too
      if (peek() != '[') fail("expected a position or an array of positions");
      coordinates();
    });
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
    const Coordinate r = options_.convert({*values[1], *values[0]});
    // Replace the latitude first so the longitude's offsets stay valid.
    std::string text;
    appendNumber(text, r.latitude, places[1]);
    buf_.replace(spans[1][0], spans[1][1] - spans[1][0], text);
    text.clear();
    appendNumber(text, r.longitude, places[0]);
    buf_.replace(spans[0][0], spans[0][1] - spans[0][0], text);
  }

  std::streambuf& in_;
  std::ostream& out_;
  const Options& options_;
  Report report_;
  std::string buf_;
  std::vector<Segment> path_;
  size_t line_ = 1;
};

}  // namespace

Report convertGeoJson(std::istream& in, std::ostream& out, const Options& options) {
  return Rewriter(in, out, options).run();
}

}  // namespace orv::fileconv
