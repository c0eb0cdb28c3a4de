#include "network/network_error.h"

#include <algorithm>

namespace orv::detail {

namespace {

// ASCII only: std::tolower follows the host's locale, and header names are ASCII tokens.
unsigned char asciiLower(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 'A' && u <= 'Z' ? static_cast<unsigned char>(u + ('a' - 'A')) : u;
}

}  // namespace

bool CaseInsensitiveLess::operator()(std::string_view a, std::string_view b) const {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const unsigned char ca = asciiLower(a[i]);
    const unsigned char cb = asciiLower(b[i]);
    if (ca != cb) return ca < cb;
  }
  return a.size() < b.size();
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  CaseInsensitiveLess less;
  return !less(a, b) && !less(b, a);
}

std::optional<std::string> HTTPResponse::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (equalsIgnoringCase(key, name)) return value;
  }
  return std::nullopt;
}

std::string NetworkError::errorDescription() const {
  switch (kind_) {
    case Kind::networkError:
      return underlying_ ? underlying_->message : std::string();
    case Kind::invalidURL:
      return "无效的URL";
    case Kind::invalidRequest:
      return "无效的请求";
    case Kind::encodingFailed:
      return "数据编码失败";
    case Kind::decodingFailed:
      return "数据解码失败";
  }
  return {};
}

Error NetworkError::toError() const {
  if (kind_ == Kind::networkError && underlying_) return *underlying_;
  return Error{std::string(kNetworkErrorDomain), static_cast<int64_t>(kind_), errorDescription()};
}

Error statusError(long status) {
  return Error{std::string(kStatusErrorDomain), status,
               "请求失败，状态码: " + std::to_string(status)};
}

bool isNetworkError(const Error& error, NetworkError::Kind kind) {
  return error.domain == kNetworkErrorDomain && error.code == static_cast<int64_t>(kind);
}

}  // namespace orv::detail
