// The orv-emulator command as a script uses it: the --info file, --key, plain HTTP and a clean
// stop on SIGTERM. (Its HTTPS default is run by the C host example's test.)
#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "process.h"

namespace {

namespace fs = std::filesystem;

TEST(EmulatorCommand, WritesItsInfoFileServesAndStopsOnSigterm) {
  const fs::path dir = fs::temp_directory_path() / ("emulator_cli_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path info = dir / "info";
  // The command renames its finished info file into place: wait for that on an inotify watch.
  const int watch = ::inotify_init1(IN_CLOEXEC);
  ASSERT_GE(::inotify_add_watch(watch, dir.c_str(), IN_MOVED_TO), 0);
  const pid_t pid = orv::test::startQuiet(
      {ORV_EMULATOR_PATH, "--info", info.string(), "--quiet", "--key", "k1", "--http"}, false);
  pollfd p{watch, POLLIN, 0};
  const bool moved = pid > 0 && ::poll(&p, 1, 10000) == 1;
  ::close(watch);
  if (!moved) orv::test::stopProcess(pid, SIGKILL);
  ASSERT_TRUE(moved);

  std::map<std::string, std::string> written;
  std::ifstream in(info);
  for (std::string line; std::getline(in, line);) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) written[line.substr(0, eq)] = line.substr(eq + 1);
  }
  EXPECT_EQ(written["base_url"].rfind("http://127.0.0.1:", 0), 0u) << written["base_url"];
  EXPECT_EQ(written["ca_file"], "");

  httplib::Client client(written["base_url"]);
  const std::string path = "/location/scenario/v1/geocode?address=x&access_key=";
  auto refused = client.Get(path + "orv-demo-key");  // --key replaces the demo key
  EXPECT_TRUE(refused && refused->status == 401);
  auto answered = client.Get(path + "k1");
  EXPECT_TRUE(answered && answered->status == 200);

  EXPECT_EQ(orv::test::stopProcess(pid), 0);
  EXPECT_FALSE(fs::exists(info));
  fs::remove_all(dir);
}

}  // namespace
