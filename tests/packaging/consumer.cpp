// A host program built only against the installed (or embedded) library.
#include <orv/orv.h>

#include <cstdio>
#include <string>
#include <string_view>

// The version of the install the host's build found.
static_assert(std::string_view(ORV_VERSION_STRING) == ORV_EXPECTED_VERSION);

int main() {
  const std::string parts = std::to_string(ORV_VERSION_MAJOR) + "." +
                            std::to_string(ORV_VERSION_MINOR) + "." +
                            std::to_string(ORV_VERSION_PATCH);
  if (parts != ORV_VERSION_STRING || orv::OrvVersion::sdkVersion() != ORV_VERSION_STRING) {
    std::fprintf(stderr, "version macros %s (%s) but library %s\n", ORV_VERSION_STRING,
                 parts.c_str(), orv::OrvVersion::sdkVersion().c_str());
    return 1;
  }
  const orv::Coordinate gcj = orv::JyrCoorTransform::transformFromWGSToGCJ({39.9, 116.4});
  std::printf("%s %.6f %.6f\n", orv::OrvVersion::sdkVersion().c_str(), gcj.latitude, gcj.longitude);
  return gcj.latitude != 39.9 ? 0 : 1;
}
