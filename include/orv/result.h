// Errors as values: a domain, a code and a message, plus a result that is a value or an error.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace orv {

// Stands in for a platform error object: `message` is its localized description.
struct Error {
  std::string domain;
  int64_t code = 0;
  std::string message;
};

template <class T>
class Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
  Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  const Error& error() const { return std::get<1>(v_); }

 private:
  std::variant<T, Error> v_;
};

}  // namespace orv
