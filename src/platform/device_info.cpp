#include "platform/device_info.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <sys/random.h>
#include <sys/utsname.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <fstream>
#include <mutex>

#include "orv/device.h"
#include "platform/hex.h"

namespace orv {
namespace {

struct OverridesSlot {
  std::mutex mutex;
  DeviceOverrides value;
};

OverridesSlot& overrides() {
  static OverridesSlot slot;
  return slot;
}

}  // namespace

void setDeviceOverrides(DeviceOverrides value) {
  std::lock_guard lock(overrides().mutex);
  overrides().value = std::move(value);
}

namespace detail {
namespace {

using Id128 = std::array<unsigned char, 16>;

// Sysfs and devicetree values end in a newline or a NUL; none of them is long.
std::string readFact(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string text(4096, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  const auto isPadding = [](char c) { return c == '\0' || c == ' ' || (c >= '\t' && c <= '\r'); };
  while (!text.empty() && isPadding(text.back())) text.pop_back();
  size_t first = 0;
  while (first < text.size() && isPadding(text[first])) ++first;
  return text.substr(first);
}

std::optional<Id128> parseId128(std::string_view hex) {
  if (hex.size() != 32) return std::nullopt;
  Id128 id{};
  bool allZero = true;
  for (size_t i = 0; i < 32; ++i) {
    const char c = hex[i];
    int v = 0;
    if (c >= '0' && c <= '9') {
      v = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      v = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      v = c - 'A' + 10;
    } else {
      return std::nullopt;  // e.g. "uninitialized" before first boot completes
    }
    id[i / 2] = static_cast<unsigned char>(id[i / 2] << 4 | v);
    allZero = allZero && v == 0;
  }
  if (allZero) return std::nullopt;
  return id;
}

std::string formatUuid(Id128 id) {
  // Version 4 and the RFC 4122 variant, as systemd marks its app-specific ids.
  id[6] = static_cast<unsigned char>((id[6] & 0x0F) | 0x40);
  id[8] = static_cast<unsigned char>((id[8] & 0x3F) | 0x80);
  std::string text;
  text.reserve(36);
  for (size_t i = 0; i < id.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    appendHexByte(text, id[i]);
  }
  return text;
}

// systemd's app-specific id: HMAC-SHA256 keyed by the machine id over the app id, first half.
// The raw machine id never leaves the machine.
std::optional<std::string> appSpecificId(const Id128& machine, const Id128& app) {
  std::array<unsigned char, EVP_MAX_MD_SIZE> mac{};
  unsigned int length = 0;
  if (!HMAC(EVP_sha256(), machine.data(), static_cast<int>(machine.size()), app.data(), app.size(),
            mac.data(), &length) ||
      length < 16) {
    return std::nullopt;
  }
  Id128 id{};
  std::copy_n(mac.begin(), id.size(), id.begin());
  return formatUuid(id);
}

// os-release values may be quoted and, in double quotes, backslash-escaped.
std::string unquote(std::string_view value) {
  if (value.size() < 2 || (value.front() != '"' && value.front() != '\'') ||
      value.back() != value.front()) {
    return std::string(value);
  }
  const bool escapes = value.front() == '"';
  value = value.substr(1, value.size() - 2);
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (escapes && value[i] == '\\' && i + 1 < value.size()) ++i;
    out += value[i];
  }
  return out;
}

struct OsRelease {
  std::string name;
  std::string versionId;
};

std::optional<OsRelease> readOsRelease(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  OsRelease release;
  for (std::string line; std::getline(in, line);) {
    const auto eq = line.find('=');
    if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
    const std::string_view key(line.data(), eq);
    std::string_view value(line);
    value.remove_prefix(eq + 1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\r')) value.remove_suffix(1);
    if (key == "NAME") release.name = unquote(value);
    if (key == "VERSION_ID") release.versionId = unquote(value);
  }
  return release;
}

std::string firstNonEmpty(std::initializer_list<std::string> candidates) {
  for (const auto& c : candidates) {
    if (!c.empty()) return c;
  }
  return {};
}

}  // namespace

std::string validUtf8(std::string_view bytes) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      out += bytes[i++];
      continue;
    }
    // Length and the allowed range of the second byte (Unicode table 3-7); later bytes: 80..BF.
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
    }
    size_t valid = 1;  // bytes of the sequence that fit so far
    while (length != 0 && valid < length && i + valid < bytes.size()) {
      const auto b = static_cast<unsigned char>(bytes[i + valid]);
      if (b < (valid == 1 ? low : 0x80) || b > (valid == 1 ? high : 0xBF)) break;
      ++valid;
    }
    if (length != 0 && valid == length) {
      out.append(bytes.substr(i, length));
    } else {
      out += kReplacement;
    }
    i += valid;
  }
  return out;
}

DeviceFacts readDeviceFacts(const std::string& root) {
  utsname uts{};
  ::uname(&uts);
  DeviceFacts facts;
  if (auto machine = parseId128(readFact(root + "/etc/machine-id"))) {
    facts.vendorIdentifier = appSpecificId(*machine, *parseId128(kDeviceAppId));
  }
  // Only world-readable DMI fields: serials and the product UUID are root-only and personal.
  facts.model =
      firstNonEmpty({readFact(root + "/sys/class/dmi/id/product_name"),
                     readFact(root + "/sys/firmware/devicetree/base/model"), uts.machine});
  facts.manufacturer = firstNonEmpty({readFact(root + "/sys/class/dmi/id/sys_vendor"), "unknown"});
  auto release = readOsRelease(root + "/etc/os-release");
  if (!release) release = readOsRelease(root + "/usr/lib/os-release");
  if (!release) release.emplace();
  // Each field falls back on its own: some rolling distributions have no VERSION_ID.
  facts.systemName = firstNonEmpty({release->name, uts.sysname});
  facts.systemVersion = firstNonEmpty({release->versionId, uts.release});
  // DMI and os-release hold raw bytes, whatever their encoding.
  for (std::string* text :
       {&facts.model, &facts.manufacturer, &facts.systemName, &facts.systemVersion}) {
    *text = validUtf8(*text);
  }
  return facts;
}

DeviceFacts currentDevice() {
  static const DeviceFacts system = readDeviceFacts("");
  DeviceFacts facts = system;
  std::lock_guard lock(overrides().mutex);
  const DeviceOverrides& o = overrides().value;
  // The host's texts may be any bytes too.
  if (o.vendorIdentifier) facts.vendorIdentifier = validUtf8(*o.vendorIdentifier);
  if (o.model) facts.model = validUtf8(*o.model);
  if (o.systemName) facts.systemName = validUtf8(*o.systemName);
  if (o.systemVersion) facts.systemVersion = validUtf8(*o.systemVersion);
  if (o.manufacturer) facts.manufacturer = validUtf8(*o.manufacturer);
  return facts;
}

std::string randomUUID() {
  Id128 bytes{};
  size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t n = ::getrandom(bytes.data() + filled, bytes.size() - filled, 0);
    if (n > 0) {
      filled += static_cast<size_t>(n);
    } else if (n < 0 && errno != EINTR) {
      // Only kernels older than 3.17 lack getrandom; OpenSSL's generator is as good.
      RAND_bytes(bytes.data(), static_cast<int>(bytes.size()));
      break;
    }
  }
  return formatUuid(bytes);
}

}  // namespace detail
}  // namespace orv
