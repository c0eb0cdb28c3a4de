#include "platform/device_info.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <filesystem>
#include <fstream>
#include <map>
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

// The id is systemd's app-specific id for the machine id (`systemd-id128 machine-id
// --app-specific=` agrees); lower and upper case ids are the same id; anything but 32 hex
// digits (not all zero) is none.
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

// Each fact comes from the first source that says something; raw bytes become valid UTF-8.
// Expected: model, manufacturer, systemName, systemVersion ("uname:..." stands for uname's).
TEST(DeviceFactsTest, ReadsTheFirstSourceThatSaysSomething) {
  utsname u{};
  ::uname(&u);
  const std::map<std::string, std::string> fromUname = {
      {"uname:machine", u.machine}, {"uname:sysname", u.sysname}, {"uname:release", u.release}};
  const std::string dmi = "sys/class/dmi/id/", dtModel = "sys/firmware/devicetree/base/model";
  const std::pair<Files, std::vector<std::string>> cases[] = {
      {{{dmi + "product_name", "Think\xffPad\n"},
        {dmi + "sys_vendor", "LENOVO\n"},
        {dtModel, std::string("Raspberry Pi 4\0", 15)},
        {"etc/os-release", "NAME=\"Deb\xe9ian\"\nVERSION_ID='12'\n"},
        {"usr/lib/os-release", "NAME=Other\nVERSION_ID=1\n"}},
       {"Think\uFFFDPad", "LENOVO", "Deb\uFFFDian", "12"}},
      {{{dmi + "product_name", " \n"},
        {dmi + "sys_vendor", "\n"},
        {dtModel, std::string("Pi 4\0", 5)}},
       {"Pi 4", "unknown", "uname:sysname", "uname:release"}},
      {{{"usr/lib/os-release", "# vendor\nNAME=\"Arch \\\"Linux\\\"\"\nBUILD_ID=r\n"}},
       {"uname:machine", "unknown", "Arch \"Linux\"", "uname:release"}},
  };
  for (auto [files, want] : cases) {
    for (auto& w : want) {
      if (fromUname.count(w)) w = fromUname.at(w);
    }
    FakeRoot root(files);
    const DeviceFacts f = readDeviceFacts(root.path());
    EXPECT_EQ((std::vector{f.model, f.manufacturer, f.systemName, f.systemVersion}), want);
  }
}

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

// A host's facts win (the client's requests show them) and become valid UTF-8; clearing them
// brings back the system's.
TEST(DeviceOverridesTest, SetFactsWinUntilCleared) {
  const DeviceFacts system = currentDevice();
  DeviceOverrides o;
  o.model = "Tracker \xff";
  setDeviceOverrides(o);
  EXPECT_EQ(currentDevice().model, "Tracker \uFFFD");
  EXPECT_EQ(currentDevice().systemName, system.systemName);
  setDeviceOverrides({});
  EXPECT_EQ(currentDevice().model, system.model);
}

}  // namespace
}  // namespace orv::detail
