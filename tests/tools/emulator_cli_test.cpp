// The orv-emulator command: what a script relies on (the --info file, plain HTTP on request, a
// clean stop on SIGTERM).
#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <utility>

#include "process.h"

namespace {

namespace fs = std::filesystem;

std::map<std::string, std::string> readInfo(const fs::path& path) {
  std::map<std::string, std::string> info;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) info[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return info;
}

class EmulatorCommand : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("emulator_cli_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    info_ = dir_ / "info";
  }
  void TearDown() override {
    if (pid_ > 0) orv::test::stopProcess(pid_, SIGKILL);
    fs::remove_all(dir_);
  }
  // The command renames its finished info file into place: wait for that on an inotify watch.
  void start(std::vector<std::string> args) {
    const int watch = ::inotify_init1(IN_CLOEXEC);
    const bool watching = ::inotify_add_watch(watch, dir_.c_str(), IN_MOVED_TO) >= 0;
    args.insert(args.begin(), ORV_EMULATOR_PATH);
    pid_ = orv::test::startQuiet(args, false);
    pollfd p{watch, POLLIN, 0};
    const bool moved = watching && pid_ > 0 && ::poll(&p, 1, 10000) == 1;
    ::close(watch);
    ASSERT_TRUE(moved);
    ASSERT_TRUE(fs::exists(info_));
  }
  // Exit status after SIGTERM.
  int stop() { return orv::test::stopProcess(std::exchange(pid_, -1)); }

  fs::path dir_, info_;
  pid_t pid_ = -1;
};

TEST_P(EmulatorCommand, WritesItsInfoFileServesAndStopsOnSigterm) {
  const bool http = GetParam();
  std::vector<std::string> args{"--info", info_.string(), "--quiet", "--key", "k1"};
  if (http) args.push_back("--http");
  start(args);
  auto info = readInfo(info_);
  const std::string base = info["base_url"];
  EXPECT_EQ(base.rfind(http ? "http://127.0.0.1:" : "https://127.0.0.1:", 0), 0u) << base;
  EXPECT_EQ(info["ca_file"].empty(), http);

  httplib::Client client(base);
  if (!http) {
    client.set_ca_cert_path(info["ca_file"]);
    client.enable_server_certificate_verification(true);
  }
  const std::string path = "/location/scenario/v1/geocode";
  auto refused = client.Get(path + "?access_key=orv-demo-key&address=x&city=y");
  ASSERT_TRUE(refused) << httplib::to_string(refused.error());
  EXPECT_EQ(refused->status, 401);  // --key replaces the demo key
  EXPECT_EQ(refused->body.rfind("{\"code\":401,", 0), 0u) << refused->body;
  auto answered = client.Get(path + "?access_key=k1&address=%E5%A4%A9%E5%AE%89%E9%97%A8&city=");
  ASSERT_TRUE(answered);
  EXPECT_EQ(answered->status, 200);

  EXPECT_EQ(stop(), 0);
  EXPECT_FALSE(fs::exists(info_));
  if (!http) {
    EXPECT_FALSE(fs::exists(info["ca_file"]));
  }
}

INSTANTIATE_TEST_SUITE_P(Transports, EmulatorCommand, testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Http" : "Https"; });

}  // namespace
