// A host program built only against the installed (or embedded) library.
#include <orv/orv.h>

#include <cstdio>

int main() {
  const orv::Coordinate gcj = orv::JyrCoorTransform::transformFromWGSToGCJ({39.9, 116.4});
  std::printf("%s %.6f %.6f\n", orv::OrvVersion::sdkVersion().c_str(), gcj.latitude, gcj.longitude);
  return gcj.latitude != 39.9 ? 0 : 1;
}
