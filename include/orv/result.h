// Errors as values: a domain, a code and a message, plus a result that is a value or an error.
#pragma once

#include <cassert>
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

// Either a value or an Error. Check ok() (or the bool conversion) before reading the value:
// value(), operator* and operator-> on an error are a precondition violation (asserted in debug
// builds), never an exception.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
  Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & {
    assert(ok() && "orv::Result::value() called on an error");
    return *std::get_if<0>(&v_);
  }
  const T& value() const& {
    assert(ok() && "orv::Result::value() called on an error");
    return *std::get_if<0>(&v_);
  }
  T&& value() && {
    assert(ok() && "orv::Result::value() called on an error");
    return std::move(*std::get_if<0>(&v_));
  }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  template <class U>
  T value_or(U&& fallback) const& {
    return ok() ? *std::get_if<0>(&v_) : static_cast<T>(std::forward<U>(fallback));
  }
  template <class U>
  T value_or(U&& fallback) && {
    return ok() ? std::move(*std::get_if<0>(&v_)) : static_cast<T>(std::forward<U>(fallback));
  }

  // Precondition: !ok().
  const Error& error() const {
    assert(!ok() && "orv::Result::error() called on a value");
    return *std::get_if<1>(&v_);
  }

 private:
  std::variant<T, Error> v_;
};

}  // namespace orv
