// The description of one request to the service, and its conversion into a URLRequest.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "network/http_method.h"
#include "network/url_request.h"
#include "orv/result.h"

namespace orv::detail {

// Any value that writes itself as JSON through `Result<std::string> toJson() const`.
class JsonBody {
 public:
  template <class T>
  requires(!std::is_same_v<std::decay_t<T>, JsonBody>)
      JsonBody(T value)  // NOLINT: implicit so a record can be assigned directly
      : self_(std::make_shared<const Model<std::decay_t<T>>>(std::move(value))) {}

  Result<std::string> toJson() const { return self_->toJson(); }

 private:
  struct Concept {
    virtual ~Concept() = default;
    virtual Result<std::string> toJson() const = 0;
  };
  template <class T>
  struct Model final : Concept {
    explicit Model(T v) : value(std::move(v)) {}
    Result<std::string> toJson() const override { return value.toJson(); }
    T value;
  };
  // Immutable once made, so copies may share it.
  std::shared_ptr<const Concept> self_;
};

struct RequestBuilder {
  std::string urlString;
  HTTPMethod method = HTTPMethod::get;
  std::map<std::string, std::string> headers;
  std::map<std::string, std::string> queryParameters;
  std::optional<JsonBody> bodyParameters;
  double timeoutInterval = 30.0;

  // Fails with NetworkError invalidURL, or with the body's own encoding error unchanged.
  Result<URLRequest> makeURLRequest() const;
};

// The host part of an absolute URL as written (an IPv6 literal without its brackets), or
// nothing when the URL cannot be parsed.
std::optional<std::string> urlHost(const std::string& url);

// Percent-encodes every byte outside RFC 3986's unreserved set, so "&", "=", "+", "#", "%" and
// spaces inside a query name or value reach the server as themselves.
std::string percentEncodeQueryComponent(std::string_view text);

}  // namespace orv::detail
