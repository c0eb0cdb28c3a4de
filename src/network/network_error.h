// The request layer's errors and the outcome record handed to completions.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "network/url_request.h"
#include "orv/result.h"

namespace orv::detail {

// Domain of the Error made from a NetworkError without payload; code = the kind's value.
inline constexpr std::string_view kNetworkErrorDomain = "NetworkError";
// Domain of the status error; code = the HTTP status.
inline constexpr std::string_view kStatusErrorDomain = "NetworkClient";
// Domain of libcurl transport errors; code = the CURLcode.
inline constexpr std::string_view kTransportErrorDomain = "CURLE";

class NetworkError {
 public:
  enum class Kind : uint8_t {
    networkError,
    invalidURL,
    invalidRequest,
    encodingFailed,
    decodingFailed
  };

  static NetworkError networkError(Error transportError) {
    return NetworkError(Kind::networkError, std::move(transportError));
  }
  static NetworkError invalidURL() { return NetworkError(Kind::invalidURL, {}); }
  static NetworkError invalidRequest() { return NetworkError(Kind::invalidRequest, {}); }
  static NetworkError encodingFailed() { return NetworkError(Kind::encodingFailed, {}); }
  static NetworkError decodingFailed() { return NetworkError(Kind::decodingFailed, {}); }

  Kind kind() const { return kind_; }
  // The carried transport error, for `networkError` only.
  const std::optional<Error>& underlying() const { return underlying_; }
  std::string errorDescription() const;
  // As the outcome carries it: `networkError` is its transport error itself (whose message is
  // the localized description); the others have kNetworkErrorDomain and their description.
  Error toError() const;

 private:
  NetworkError(Kind kind, std::optional<Error> underlying)
      : kind_(kind), underlying_(std::move(underlying)) {}
  Kind kind_;
  std::optional<Error> underlying_;
};

// The status error for an answer outside 200..299.
Error statusError(long status);

// Which rule of the request layer failed, so that the client types a failure without reading
// its domain or text.
enum class RequestFailure : uint8_t {
  notBuildable,  // the URL or the body could not be made; nothing was sent
  transport,     // the transfer failed; the code is the transport's (CURLcode)
  noResponse,    // the transfer ended without an HTTP response
  status,        // an answer outside 200..299; the code is the status
  undecodable,   // no body, or one that does not decode
};

// An Error as the request layer hands it on: the host-visible record plus its typed kind.
struct RequestError : Error {
  RequestFailure kind = RequestFailure::notBuildable;
};

inline RequestError requestFailure(RequestFailure kind, Error error) {
  return RequestError{std::move(error), kind};
}

bool isNetworkError(const Error& error, NetworkError::Kind kind);

// Either the decoded value with its response, or an error with the response when there was one.
template <class T>
class RequestResult {
 public:
  using ResponsePtr = std::shared_ptr<const HTTPResponse>;

  static RequestResult success(T value, ResponsePtr response) {
    return RequestResult(Success{std::move(value), std::move(response)});
  }
  static RequestResult failure(RequestError error, ResponsePtr response = nullptr) {
    return RequestResult(Failure{std::move(error), std::move(response)});
  }
  // A request that could not be built: the builder's error (URL or body), unchanged.
  static RequestResult failure(Error unbuilt) {
    return failure(requestFailure(RequestFailure::notBuildable, std::move(unbuilt)));
  }

  bool isSuccess() const { return v_.index() == 0; }
  T& value() { return std::get<0>(v_).value; }
  const T& value() const { return std::get<0>(v_).value; }
  const RequestError& error() const { return std::get<1>(v_).error; }
  // Always set on success; on failure only when an HTTP response arrived.
  const ResponsePtr& response() const {
    return isSuccess() ? std::get<0>(v_).response : std::get<1>(v_).response;
  }
  // Where the transfer's time went (all zero when nothing was sent).
  const TransferTimes& times() const { return times_; }
  void setTimes(const TransferTimes& times) { times_ = times; }

 private:
  struct Success {
    T value;
    ResponsePtr response;
  };
  struct Failure {
    RequestError error;
    ResponsePtr response;
  };
  explicit RequestResult(std::variant<Success, Failure> v) : v_(std::move(v)) {}
  std::variant<Success, Failure> v_;
  TransferTimes times_;
};

}  // namespace orv::detail
