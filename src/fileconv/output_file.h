// Output that appears under its name only when complete: written to a temporary file beside the
// target and renamed over it on commit, removed otherwise. Without a path it is standard output.
#pragma once

#include <fstream>
#include <ostream>
#include <string>

namespace orv::fileconv {

class OutputFile {
 public:
  explicit OutputFile(const std::string& path);  // "" means standard output; throws on failure
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  std::ostream& stream() { return *out_; }
  void commit();  // throws std::runtime_error when writing or renaming failed

 private:
  std::string path_, temp_;
  std::ofstream file_;
  std::ostream* out_;
  bool committed_ = false;
};

}  // namespace orv::fileconv
