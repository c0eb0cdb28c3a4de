// The process-wide sender: runs a URLRequest on the session and hands the decoded outcome to the
// caller's completion on the main queue.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "network/network_error.h"
#include "network/transport.h"
#include "network/url_request.h"
#include "orv/run_loop.h"
#include "platform/log.h"
#include "platform/run_loop_impl.h"

namespace orv::detail {

// Decoding contract of the wire model; specialised next to each result type.
template <class T>
struct JsonDecode;

// A result type for answers whose body does not matter: any well-formed JSON decodes.
struct EmptyResponse {};

template <>
struct JsonDecode<EmptyResponse> {
  static Result<EmptyResponse> decode(std::string_view json);
};

bool isValidUtf8(std::string_view bytes);

// "解析错误：" + description + "，原始数据：" + the body as text, or "无数据" when not UTF-8.
std::string decodeFailureLogLine(std::string_view description, std::string_view body);

class NetworkClient {
 public:
  static NetworkClient& shared();

  Transport& session() const { return *session_; }

  // Starts the transfer and returns at once; `completion` runs exactly once, later, on the
  // main queue. Returns the transfer's id for the session's cancel().
  template <class T>
  uint64_t request(const URLRequest& request, std::function<void(RequestResult<T>)> completion) {
    return this->request<T>(request, std::move(completion), handleOf(RunLoop::main()));
  }

  // The same, with `completion` run on the loop behind `deliverOn`; dropped if that loop has
  // ended by then.
  template <class T>
  uint64_t request(const URLRequest& request, std::function<void(RequestResult<T>)> completion,
                   std::shared_ptr<LoopHandle> deliverOn) {
    // The transport calls its completion once, so the caller's completion moves on unshared.
    return session_->start(request, [completion = std::move(completion),
                                     deliverOn =
                                         std::move(deliverOn)](TransferOutcome outcome) mutable {
      deliverOn->post([outcome = std::move(outcome), completion = std::move(completion)]() mutable {
        handleResponse<T>(std::move(outcome.body), std::move(outcome.response),
                          std::move(outcome.error), completion, outcome.times);
      });
    });
  }

  // Checks and decodes one finished transfer; the first rule that applies decides.
  template <class T>
  static void handleResponse(std::optional<std::string> data,
                             std::shared_ptr<const HTTPResponse> response,
                             std::optional<Error> error,
                             const std::function<void(RequestResult<T>)>& completion,
                             const TransferTimes& times = {}) {
    RequestResult<T> result = evaluate<T>(std::move(data), std::move(response), std::move(error));
    result.setTimes(times);
    completion(std::move(result));
  }

 private:
  explicit NetworkClient(Transport& session) : session_(&session) {}

  template <class T>
  static RequestResult<T> evaluate(std::optional<std::string> data,
                                   std::shared_ptr<const HTTPResponse> response,
                                   std::optional<Error> error) {
    using R = RequestResult<T>;
    auto fail = [&](RequestFailure kind, Error e) {
      return R::failure(requestFailure(kind, std::move(e)), response);
    };
    if (error) {
      return fail(RequestFailure::transport,
                  NetworkError::networkError(std::move(*error)).toError());
    }
    if (!response)
      return fail(RequestFailure::noResponse, NetworkError::invalidRequest().toError());
    if (response->statusCode < 200 || response->statusCode > 299) {
      return fail(RequestFailure::status, statusError(response->statusCode));
    }
    if (!data) return fail(RequestFailure::undecodable, NetworkError::decodingFailed().toError());
    Result<T> decoded = JsonDecode<T>::decode(*data);
    if (!decoded) {
      sdkLog(decodeFailureLogLine(decoded.error().message, *data));
      return fail(RequestFailure::undecodable, NetworkError::decodingFailed().toError());
    }
    return R::success(std::move(decoded).value(), std::move(response));
  }

  Transport* session_;
};

}  // namespace orv::detail
