#include "orv/version.h"

#include <gtest/gtest.h>

#include "version/version_info.h"

namespace {

using orv::Bundle;
using orv::InfoValue;
using orv::detail::VersionCache;

TEST(VersionCache, TextIsTakenAsIsAnythingElseFallsBack) {
  const struct {
    std::optional<InfoValue> version, build;
    std::string expectVersion, expectBuild;
  } cases[] = {
      {std::nullopt, std::nullopt, "0.0.0", "0"},
      {InfoValue{std::string("2.3.1")}, InfoValue{std::string("418")}, "2.3.1", "418"},
      {InfoValue{2.5}, InfoValue{int64_t{418}}, "0.0.0", "0"},
  };
  for (const auto& c : cases) {
    Bundle bundle;
    if (c.version) bundle.setObject("CFBundleShortVersionString", *c.version);
    if (c.build) bundle.setObject("CFBundleVersion", *c.build);
    VersionCache cache(bundle);
    EXPECT_EQ(cache.sdkVersion(), c.expectVersion);
    EXPECT_EQ(cache.buildNumber(), c.expectBuild);
  }
}

TEST(VersionCache, FirstReadStaysAndEachValueIsReadOnItsOwn) {
  Bundle bundle;
  bundle.setObject("CFBundleShortVersionString", std::string("1.0.0"));
  VersionCache cache(bundle);
  EXPECT_EQ(cache.sdkVersion(), "1.0.0");
  // Reading the version did not compute the build number: it sees what is there when first read.
  bundle.setObject("CFBundleVersion", std::string("7"));
  bundle.setObject("CFBundleShortVersionString", std::string("9.9.9"));
  EXPECT_EQ(cache.buildNumber(), "7");
  bundle.clear();
  EXPECT_EQ(cache.sdkVersion(), "1.0.0");
  EXPECT_EQ(cache.buildNumber(), "7");
}

TEST(OrvVersion, ReadsTheLibrarysGeneratedBundle) {
  const auto& bundle = orv::detail::libraryBundle();
  const auto version = bundle.objectForInfoDictionaryKey("CFBundleShortVersionString");
  ASSERT_TRUE(version.has_value());
  EXPECT_EQ(orv::OrvVersion::sdkVersion(), std::get<std::string>(*version));
  EXPECT_NE(orv::OrvVersion::sdkVersion(), "0.0.0");
  const auto build = bundle.objectForInfoDictionaryKey("CFBundleVersion");
  EXPECT_EQ(orv::OrvVersion::buildNumber(), build ? std::get<std::string>(*build) : "0");
}

}  // namespace
