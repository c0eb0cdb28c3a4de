#include "platform/device_info.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

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
using Files = std::map<std::string, std::string>;

TEST(RandomUuidTest, UpperCaseVersion4AndUnique) {
  const std::string id = randomUUID();
  EXPECT_TRUE(std::regex_match(
      id, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")))
      << id;
  EXPECT_NE(randomUUID(), id);
}

TEST(VendorIdTest, MatchesSystemdAppSpecificId) {
  const std::string cmd = "systemd-id128 machine-id --app-specific=" + std::string(kDeviceAppId) +
                          " -u 2>/dev/null | tr a-f A-F";
  FILE* p = ::popen(cmd.c_str(), "r");
  char buf[64] = {};
  const bool got = p && std::fscanf(p, "%63s", buf) == 1;
  if (p) ::pclose(p);
  if (!got) GTEST_SKIP() << "systemd-id128 is not available or has no machine id";
  EXPECT_EQ(readDeviceFacts("").vendorIdentifier, std::string(buf));
}

// A fake root holding only the given files.
class FakeRoot {
 public:
  explicit FakeRoot(const Files& files) {
    std::string pattern = (fs::temp_directory_path() / "orv-device-XXXXXX").string();
    dir_ = ::mkdtemp(pattern.data());
    for (const auto& [path, content] : files) {
      fs::create_directories((dir_ / path).parent_path());
      std::ofstream(dir_ / path, std::ios::binary) << content;
    }
  }
  ~FakeRoot() { fs::remove_all(dir_); }
  std::string path() const { return dir_.string(); }

 private:
  fs::path dir_;
};

// Lower and upper case ids are the same id; anything but 32 hex digits (not all zero) is none.
TEST(DeviceFactsTest, MachineIdGivesTheAppSpecificId) {
  const std::optional<std::string> kId = "829636FE-9A38-4CE6-B07E-6ADD08772B1B";
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"0123456789abcdef0123456789abcdef\n", kId},
      {"0123456789ABCDEF0123456789ABCDEF", kId},
      {"uninitialized\n", std::nullopt},
      {"00000000000000000000000000000000\n", std::nullopt},
      {"0123456789abcdef0123456789abcdeg\n", std::nullopt},
  };
  for (const auto& [id, expected] : cases) {
    FakeRoot root(Files{{"etc/machine-id", id}});
    EXPECT_EQ(readDeviceFacts(root.path()).vendorIdentifier, expected) << '"' << id << '"';
  }
}

struct FactsCase {
  const char* name;
  Files files;
  // model, manufacturer, systemName, systemVersion; "uname:..." stands for uname's field.
  std::vector<std::string> facts;
};

void PrintTo(const FactsCase& c, std::ostream* os) { *os << c.name; }

class FallbackTest : public ::testing::TestWithParam<FactsCase> {};

TEST_P(FallbackTest, ReadsTheFirstSourceThatSaysSomething) {
  utsname u{};
  ::uname(&u);
  const std::map<std::string, std::string> fromUname = {
      {"uname:machine", u.machine}, {"uname:sysname", u.sysname}, {"uname:release", u.release}};
  std::vector<std::string> want = GetParam().facts;
  for (auto& w : want) {
    if (fromUname.count(w)) w = fromUname.at(w);
  }
  FakeRoot root(GetParam().files);
  const DeviceFacts f = readDeviceFacts(root.path());
  EXPECT_EQ((std::vector{f.model, f.manufacturer, f.systemName, f.systemVersion}), want);
}

const std::string kDmiModel = "sys/class/dmi/id/product_name";
const std::string kDmiVendor = "sys/class/dmi/id/sys_vendor";
const std::string kDtModel = "sys/firmware/devicetree/base/model";
const std::string kOsRelease = "etc/os-release";

INSTANTIATE_TEST_SUITE_P(
    DeviceFacts, FallbackTest,
    ::testing::Values(
        FactsCase{"DmiAndEtcWin",
                  {{kDmiModel, "ThinkPad X13\n"},
                   {kDmiVendor, "LENOVO\n"},
                   {kDtModel, std::string("Raspberry Pi 4\0", 15)},
                   {kOsRelease, "NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n"},
                   {"usr/lib/os-release", "NAME=Other\nVERSION_ID=1\n"}},
                  {"ThinkPad X13", "LENOVO", "Debian GNU/Linux", "12"}},
        FactsCase{"DevicetreeModelWithItsTrailingNul",
                  {{kDtModel, std::string("Raspberry Pi 4 Model B\0", 23)}},
                  {"Raspberry Pi 4 Model B", "unknown", "uname:sysname", "uname:release"}},
        FactsCase{"NothingButBlankDmiFields",
                  {{kDmiModel, " \n"}, {kDmiVendor, "\n"}},
                  {"uname:machine", "unknown", "uname:sysname", "uname:release"}},
        FactsCase{"UsrLibOsReleaseWhenEtcHasNone",
                  {{"usr/lib/os-release", "# vendor\nNAME='Fedora Linux'\nVERSION_ID=40\n"}},
                  {"uname:machine", "unknown", "Fedora Linux", "40"}},
        FactsCase{"EscapesAndNoVersionId",
                  {{kOsRelease, "PRETTY_NAME=\"x\"\nNAME=\"Arch \\\"Linux\\\"\"\nBUILD_ID=r\n"}},
                  {"uname:machine", "unknown", "Arch \"Linux\"", "uname:release"}},
        FactsCase{"RawBytesBecomeValidUtf8",
                  {{kDmiModel, "Think\xffPad\n"},
                   {kDmiVendor, "Len\xc3ovo\n"},
                   {kOsRelease, "NAME=\"Deb\xe9ian\"\nVERSION_ID=12\x80\n"}},
                  {"Think\uFFFDPad", "Len\uFFFDovo", "Deb\uFFFDian", "12\uFFFD"}}),
    [](const auto& info) { return std::string(info.param.name); });

// Invalid sequences become U+FFFD, one per maximal subpart (as the Unicode standard recommends);
// valid text stays as it is.
TEST(ValidUtf8Test, ReplacesInvalidSequences) {
  const std::pair<std::string, std::string> cases[] = {
      {std::string("a\0b \xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80", 13), std::string("a\0b é中😀", 13)},
      {"Caf\xe9 PC", "Caf\uFFFD PC"},                    // continuation missing
      {"\xe2\x82", "\uFFFD"},                            // truncated at the end
      {"\xc0\xaf", "\uFFFD\uFFFD"},                      // overlong
      {"\xed\xa0\x80", "\uFFFD\uFFFD\uFFFD"},            // surrogate
      {"\xf4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
  };
  for (const auto& [in, want] : cases) {
    EXPECT_EQ(validUtf8(in), want) << ::testing::PrintToString(in);
  }
}

TEST(DeviceOverridesTest, SetFactsWinUntilCleared) {
  const DeviceFacts system = currentDevice();
  DeviceOverrides o;
  o.model = "Tracker \xff";
  o.vendorIdentifier = "00000000-0000-4000-8000-000000000001";
  setDeviceOverrides(o);
  const DeviceFacts facts = currentDevice();
  EXPECT_EQ(facts.model, "Tracker \uFFFD");
  EXPECT_EQ(facts.vendorIdentifier, o.vendorIdentifier);
  EXPECT_EQ(facts.systemName, system.systemName);
  setDeviceOverrides({});
  EXPECT_EQ(currentDevice().model, system.model);
  EXPECT_EQ(currentDevice().vendorIdentifier, system.vendorIdentifier);
}

}  // namespace
}  // namespace orv::detail
