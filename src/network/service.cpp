#include "network/service.h"

#include <mutex>

#include "orv/service_configuration.h"

namespace orv {
namespace {

std::mutex& configurationMutex() {
  static std::mutex mutex;
  return mutex;
}

ServiceConfiguration& storedConfiguration() {
  static ServiceConfiguration configuration;
  return configuration;
}

}  // namespace

void setServiceConfiguration(ServiceConfiguration configuration) {
  std::lock_guard lock(configurationMutex());
  storedConfiguration() = std::move(configuration);
}

ServiceConfiguration serviceConfiguration() {
  std::lock_guard lock(configurationMutex());
  return storedConfiguration();
}

}  // namespace orv

namespace orv::detail {

std::string_view defaultServiceBaseUrl() { return ORV_SERVICE_BASE_URL; }

std::string serviceBaseUrl() {
  std::string base = serviceConfiguration().baseUrl;
  if (base.empty()) base = std::string(defaultServiceBaseUrl());
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base;
}

std::string serviceUrl(std::string_view path) { return serviceBaseUrl() + std::string(path); }

}  // namespace orv::detail
