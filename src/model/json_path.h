// Where in a document a value sits, e.g. "location.address.context[2].code". Built on the stack
// while walking a tree and turned into text only when something fails.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orv::detail {

struct JsonPath {
  const JsonPath* parent = nullptr;
  std::string_view key;  // empty for an array element or the top level
  std::ptrdiff_t index = -1;

  JsonPath child(std::string_view k) const { return JsonPath{this, k, -1}; }
  JsonPath element(std::size_t i) const {
    return JsonPath{this, {}, static_cast<std::ptrdiff_t>(i)};
  }
  // "top level" for the root.
  std::string toString() const;
};

}  // namespace orv::detail
