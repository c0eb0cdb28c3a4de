#include "network/request_builder.h"

#include <curl/curl.h>

#include "network/network_error.h"
#include "platform/hex.h"

namespace orv::detail {
namespace {

struct UrlHandle {
  UrlHandle() : url(curl_url()) {}
  ~UrlHandle() { curl_url_cleanup(url); }
  UrlHandle(const UrlHandle&) = delete;
  UrlHandle& operator=(const UrlHandle&) = delete;
  CURLU* url;
};

bool isUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

}  // namespace

std::optional<std::string> urlHost(const std::string& url) {
  UrlHandle handle;
  char* host = nullptr;
  if (handle.url == nullptr ||
      curl_url_set(handle.url, CURLUPART_URL, url.c_str(), 0) != CURLUE_OK ||
      curl_url_get(handle.url, CURLUPART_HOST, &host, 0) != CURLUE_OK) {
    return std::nullopt;
  }
  std::string text(host);
  curl_free(host);
  if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
    text = text.substr(1, text.size() - 2);
  }
  return text;
}

std::string percentEncodeQueryComponent(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (isUnreserved(c)) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      appendHexByte(out, c);
    }
  }
  return out;
}

Result<URLRequest> RequestBuilder::makeURLRequest() const {
  UrlHandle handle;
  if (handle.url == nullptr) return NetworkError::invalidURL().toError();
  if (curl_url_set(handle.url, CURLUPART_URL, urlString.c_str(), 0) != CURLUE_OK) {
    return NetworkError::invalidURL().toError();
  }
  if (!queryParameters.empty()) {
    // We encode names and values ourselves: libcurl's own query encoding leaves the first "=" of
    // an item alone and would turn a space into "+".
    std::string query;
    for (const auto& [name, value] : queryParameters) {
      if (!query.empty()) query.push_back('&');
      query += percentEncodeQueryComponent(name);
      query.push_back('=');
      query += percentEncodeQueryComponent(value);
    }
    if (curl_url_set(handle.url, CURLUPART_QUERY, query.c_str(), 0) != CURLUE_OK) {
      return NetworkError::invalidURL().toError();
    }
  }
  char* formed = nullptr;
  if (curl_url_get(handle.url, CURLUPART_URL, &formed, 0) != CURLUE_OK || formed == nullptr) {
    return NetworkError::invalidURL().toError();
  }
  URLRequest request;
  request.url = formed;
  curl_free(formed);
  request.method = method;
  request.timeoutInterval = timeoutInterval;
  for (const auto& [name, value] : headers) request.headers[name] = value;
  if (!request.headers.contains("Content-Type")) {
    request.headers["Content-Type"] = "application/json";
  }
  if (bodyParameters) {
    Result<std::string> json = bodyParameters->toJson();
    if (!json) return json.error();
    request.body = std::move(json).value();
  }
  return request;
}

}  // namespace orv::detail
