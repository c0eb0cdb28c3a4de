// orvloc reverse, geocode and track with --input FILE: a whole file through the batch engine.
#pragma once

#include <string>

#include "session.h"

namespace CLI {
class App;
}

namespace orvloc {

struct BatchArgs {
  std::string input;
  std::string output;  // empty: standard output (no resume)
  std::string format = "json";
  double rate = 0;
  double burst = 2;
  int concurrency = 8;
  int attempts = 4;
};

enum class BatchKind { reverse, geocode, track };

void addBatchOptions(CLI::App& cmd, BatchArgs& args);

// Exit 0 when every row got a result, 1 when some ended in an error (all rows written).
int runBatch(BatchKind kind, const BatchArgs& args, const ServiceOptions& service);

}  // namespace orvloc
