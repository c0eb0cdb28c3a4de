#include "network/network_client.h"

#include <simdjson.h>

namespace orv::detail {

Result<EmptyResponse> JsonDecode<EmptyResponse>::decode(std::string_view json) {
  simdjson::dom::parser parser;
  simdjson::dom::element root;
  if (auto err = parser.parse(json.data(), json.size()).get(root); err != simdjson::SUCCESS) {
    return Error{"JSON", static_cast<int64_t>(err), simdjson::error_message(err)};
  }
  return EmptyResponse{};
}

bool isValidUtf8(std::string_view bytes) {
  return simdjson::validate_utf8(bytes.data(), bytes.size());
}

std::string decodeFailureLogLine(std::string_view description, std::string_view body) {
  std::string line = "解析错误：";
  line += description;
  line += "，原始数据：";
  line += isValidUtf8(body) ? body : std::string_view("无数据");
  return line;
}

NetworkClient& NetworkClient::shared() {
  static NetworkClient* instance = new NetworkClient(Transport::shared());
  return *instance;
}

}  // namespace orv::detail
