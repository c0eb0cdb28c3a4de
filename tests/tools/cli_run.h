// Runs a command line through the shell, its output captured in files of a scratch folder.
#pragma once

#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace orv::test {

inline std::string readFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct CliRun {
  int code;
  std::string out, err;
  std::vector<std::string> lines() const {
    std::vector<std::string> result;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
  }
};

inline CliRun runShell(const std::string& command) {
  std::string dir = (std::filesystem::temp_directory_path() / "cli_run_XXXXXX").string();
  if (::mkdtemp(dir.data()) == nullptr) return {-1, "", "cannot make a scratch folder"};
  const int status = std::system((command + " >'" + dir + "/out' 2>'" + dir + "/err'").c_str());
  CliRun run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(dir + "/out"),
             readFile(dir + "/err")};
  std::filesystem::remove_all(dir);
  return run;
}

}  // namespace orv::test
