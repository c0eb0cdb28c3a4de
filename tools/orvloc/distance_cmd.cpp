// orvloc distance: great-circle distance in metres.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

#include "command.h"
#include "orv/coord_transform.h"
#include "text_number.h"

namespace orvloc {
namespace {

std::function<int()> setupDistance(CLI::App& cmd) {
  auto args = std::make_shared<std::vector<std::string>>();
  cmd.add_option("coordinates", *args, "LAT1 LNG1 LAT2 LNG2")->required()->expected(4);
  return [args] {
    double v[4];
    for (int i = 0; i < 4; ++i) {
      const auto n = parseNumber((*args)[i]);
      if (!n) throw UsageError{"not a number: " + (*args)[i]};
      v[i] = *n;
    }
    std::cout << formatNumber(orv::JyrCoorTransform::distanceByPoint(v[0], v[2], v[1], v[3]))
              << '\n';
    return kExitOk;
  };
}

const bool registered = registerCommand(
    {"distance", "distance in metres between LAT1 LNG1 and LAT2 LNG2", setupDistance});

}  // namespace
}  // namespace orvloc
