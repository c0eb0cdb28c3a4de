#include "platform/device_info.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <regex>

#include "orv/device.h"

namespace orv::detail {
namespace {

namespace fs = std::filesystem;

bool isV4Uuid(const std::string& s) {
  static const std::regex kUuid(
      "[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
  return std::regex_match(s, kUuid);
}

TEST(RandomUuidTest, UpperCaseVersion4AndUnique) {
  const std::string id = randomUUID();
  EXPECT_TRUE(isV4Uuid(id)) << id;
  EXPECT_NE(randomUUID(), id);
}

TEST(VendorIdTest, MatchesSystemdAppSpecificId) {
  const std::string cmd =
      "systemd-id128 machine-id --app-specific=" + std::string(kDeviceAppId) + " -u 2>/dev/null";
  FILE* p = ::popen(cmd.c_str(), "r");
  char buf[64] = {};
  const bool got = p && std::fgets(buf, sizeof buf, p);
  const int status = p ? ::pclose(p) : -1;
  if (!got || status != 0) GTEST_SKIP() << "systemd-id128 is not available or has no machine id";
  std::string expected(buf);
  while (!expected.empty() && std::isspace(static_cast<unsigned char>(expected.back()))) {
    expected.pop_back();
  }
  for (char& c : expected) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(readDeviceFacts("").vendorIdentifier, expected);
}

using Files = std::map<std::string, std::string>;

// A fake root holding only the given files.
class FakeRoot {
 public:
  explicit FakeRoot(const Files& files) {
    std::string pattern = (fs::temp_directory_path() / "orv-device-XXXXXX").string();
    dir_ = ::mkdtemp(pattern.data());
    for (const auto& [path, content] : files) {
      const fs::path file = dir_ / path;
      fs::create_directories(file.parent_path());
      std::ofstream(file, std::ios::binary) << content;
    }
  }
  ~FakeRoot() { fs::remove_all(dir_); }
  FakeRoot(const FakeRoot&) = delete;
  FakeRoot& operator=(const FakeRoot&) = delete;
  std::string path() const { return dir_.string(); }

 private:
  fs::path dir_;
};

struct Uname {
  Uname() { ::uname(&uts); }
  utsname uts{};
};

// Lower and upper case ids are the same id; anything but 32 hex digits (not all zero) is none.
TEST(DeviceFactsTest, MachineIdGivesTheAppSpecificId) {
  const std::optional<std::string> kId = "829636FE-9A38-4CE6-B07E-6ADD08772B1B";
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"0123456789abcdef0123456789abcdef\n", kId},
      {"0123456789ABCDEF0123456789ABCDEF", kId},
      {"", std::nullopt},
      {"uninitialized\n", std::nullopt},
      {"00000000000000000000000000000000\n", std::nullopt},
      {"0123456789abcdef0123456789abcde\n", std::nullopt},
      {"0123456789abcdef0123456789abcdeg\n", std::nullopt},
  };
  for (const auto& [id, expected] : cases) {
    FakeRoot root(Files{{"etc/machine-id", id}});
    EXPECT_EQ(readDeviceFacts(root.path()).vendorIdentifier, expected) << '"' << id << '"';
  }
  FakeRoot absent(Files{});
  EXPECT_EQ(readDeviceFacts(absent.path()).vendorIdentifier, std::nullopt);
}

struct FactsCase {
  const char* name;
  Files files;
  // Expected facts; "uname:machine", "uname:sysname" and "uname:release" stand for uname's.
  const char* model;
  const char* manufacturer;
  const char* systemName;
  const char* systemVersion;
};

void PrintTo(const FactsCase& c, std::ostream* os) { *os << c.name; }

class FallbackTest : public ::testing::TestWithParam<FactsCase> {};

TEST_P(FallbackTest, ReadsTheFirstSourceThatSaysSomething) {
  const FactsCase& c = GetParam();
  FakeRoot root(c.files);
  const Uname u;
  auto resolve = [&](const std::string& want) -> std::string {
    if (want == "uname:machine") return u.uts.machine;
    if (want == "uname:sysname") return u.uts.sysname;
    if (want == "uname:release") return u.uts.release;
    return want;
  };
  const DeviceFacts facts = readDeviceFacts(root.path());
  EXPECT_EQ(facts.model, resolve(c.model));
  EXPECT_EQ(facts.manufacturer, resolve(c.manufacturer));
  EXPECT_EQ(facts.systemName, resolve(c.systemName));
  EXPECT_EQ(facts.systemVersion, resolve(c.systemVersion));
}

const std::string kDmiModel = "sys/class/dmi/id/product_name";
const std::string kDmiVendor = "sys/class/dmi/id/sys_vendor";
const std::string kDtModel = "sys/firmware/devicetree/base/model";

INSTANTIATE_TEST_SUITE_P(
    DeviceFacts, FallbackTest,
    ::testing::Values(
        FactsCase{"DmiAndEtcWin",
                  {{kDmiModel, "ThinkPad X13\n"},
                   {kDmiVendor, "LENOVO\n"},
                   {kDtModel, std::string("Raspberry Pi 4\0", 15)},
                   {"etc/os-release", "NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n"},
                   {"usr/lib/os-release", "NAME=Other\nVERSION_ID=1\n"}},
                  "ThinkPad X13",
                  "LENOVO",
                  "Debian GNU/Linux",
                  "12"},
        FactsCase{"DevicetreeModelWithItsTrailingNul",
                  {{kDtModel, std::string("Raspberry Pi 4 Model B Rev 1.4\0", 31)}},
                  "Raspberry Pi 4 Model B Rev 1.4",
                  "unknown",
                  "uname:sysname",
                  "uname:release"},
        FactsCase{"NothingButBlankDmiFields",
                  {{kDmiModel, " \n"}, {kDmiVendor, "\n"}},
                  "uname:machine",
                  "unknown",
                  "uname:sysname",
                  "uname:release"},
        FactsCase{"UsrLibOsReleaseWhenEtcHasNone",
                  {{"usr/lib/os-release", "# vendor\nNAME='Fedora Linux'\nVERSION_ID=40\n"}},
                  "uname:machine",
                  "unknown",
                  "Fedora Linux",
                  "40"},
        FactsCase{"EscapesAndNoVersionId",
                  {{"etc/os-release",
                    "PRETTY_NAME=\"x\"\nNAME=\"Arch \\\"Linux\\\"\"\nBUILD_ID=rolling\n"}},
                  "uname:machine",
                  "unknown",
                  "Arch \"Linux\"",
                  "uname:release"}),
    [](const auto& info) { return std::string(info.param.name); });

// Invalid sequences become U+FFFD, one per maximal subpart (as the Unicode standard recommends);
// valid text stays as it is.
TEST(ValidUtf8Test, ReplacesInvalidSequences) {
  const std::pair<std::string, std::string> cases[] = {
      {"ThinkPad X1 \xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80", "ThinkPad X1 é中😀"},
      {"Caf\xe9 PC", "Caf\uFFFD PC"},
      {"\xe2\x82", "\uFFFD"},                            // truncated at the end
      {"\xe2\x82x", "\uFFFDx"},                          // truncated before ASCII
      {"\xc0\xaf", "\uFFFD\uFFFD"},                      // overlong
      {"\xed\xa0\x80", "\uFFFD\uFFFD\uFFFD"},            // surrogate
      {"\xf4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
      {"\xff\xfe", "\uFFFD\uFFFD"},
      {std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const auto& [in, want] : cases)
    EXPECT_EQ(validUtf8(in), want) << ::testing::PrintToString(in);
}

TEST(DeviceFactsTest, RawBytesOfTheSystemBecomeValidUtf8) {
  FakeRoot root(Files{{"sys/class/dmi/id/product_name", "Think\xffPad\n"},
                      {"sys/class/dmi/id/sys_vendor", "Len\xc3ovo\n"},
                      {"etc/os-release", "NAME=\"Deb\xe9ian\"\nVERSION_ID=12\x80\n"}});
  const DeviceFacts facts = readDeviceFacts(root.path());
  EXPECT_EQ(facts.model, "Think\uFFFDPad");
  EXPECT_EQ(facts.manufacturer, "Len\uFFFDovo");
  EXPECT_EQ(facts.systemName, "Deb\uFFFDian");
  EXPECT_EQ(facts.systemVersion, "12\uFFFD");
}

TEST(DeviceOverridesTest, SetFactsWinUntilCleared) {
  const DeviceFacts system = currentDevice();
  DeviceOverrides o;
  o.model = "Tracker T1";
  o.manufacturer = "Acme";
  o.vendorIdentifier = "00000000-0000-4000-8000-000000000001";
  setDeviceOverrides(o);
  const DeviceFacts facts = currentDevice();
  EXPECT_EQ(facts.model, "Tracker T1");
  EXPECT_EQ(facts.manufacturer, "Acme");
  EXPECT_EQ(facts.vendorIdentifier, o.vendorIdentifier);
  EXPECT_EQ(facts.systemName, system.systemName);
  EXPECT_EQ(facts.systemVersion, system.systemVersion);
  o.model = "Tracker \xff";
  setDeviceOverrides(o);
  EXPECT_EQ(currentDevice().model, "Tracker \uFFFD");
  setDeviceOverrides({});
  EXPECT_EQ(currentDevice().model, system.model);
  EXPECT_EQ(currentDevice().vendorIdentifier, system.vendorIdentifier);
}

}  // namespace
}  // namespace orv::detail
