// The service commands and the demo of the built orvloc, against an emulator in this process.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "cli_run.h"
#include "emulator/emulator.h"
#include "orv/geocode_res.h"
#include "orv/location_res.h"
#include "test_server.h"

namespace {

using orv::emulator::Emulator;
using orv::emulator::EmulatorOptions;
using orv::test::CliRun;
using orv::test::runShell;
using testing::HasSubstr;
using testing::Not;

const std::string kOrvloc = std::string("'") + ORVLOC_PATH + "' ";
const std::string kWalk = std::string(ORV_SOURCE_DIR) + "/data/demo-walk.csv";

CliRun orvloc(const std::string& args) { return runShell(kOrvloc + args); }

std::unique_ptr<Emulator> startEmulator(EmulatorOptions options = {}) {
  auto started = Emulator::start(std::move(options));
  EXPECT_TRUE(started.ok()) << started.error().message;
  return started ? std::move(started).value() : nullptr;
}

std::string serviceArgs(const Emulator& e) {
  return " --service '" + e.baseUrl() + "' --ca '" + e.caFile() + "'";
}

std::shared_ptr<orv::LocationRes> location(const std::string& json) {
  auto decoded = orv::LocationRes::decode(json);
  EXPECT_TRUE(decoded.ok()) << decoded.error().message << "\n" << json;
  return decoded ? decoded.value() : std::make_shared<orv::LocationRes>();
}

std::vector<std::shared_ptr<orv::GeocodeRes>> hits(const std::string& json) {
  auto decoded = orv::decodeGeocodeList(json);
  EXPECT_TRUE(decoded.ok()) << decoded.error().message << "\n" << json;
  return decoded ? decoded.value() : std::vector<std::shared_ptr<orv::GeocodeRes>>{};
}

std::string placeOf(const std::string& json) {
  const auto detail = location(json)->location();
  return detail && detail->place() ? detail->place()->name() : "";
}

class ServiceCommands : public testing::Test {
 protected:
  static void SetUpTestSuite() { emulator_ = startEmulator().release(); }
  static void TearDownTestSuite() { delete std::exchange(emulator_, nullptr); }
  void SetUp() override { ASSERT_NE(emulator_, nullptr); }
  static std::string common() { return serviceArgs(*emulator_) + " --key orv-demo-key --agree"; }

  static Emulator* emulator_;
};

Emulator* ServiceCommands::emulator_ = nullptr;

// One command line per command (and the table form), each line read back with the library's
// decoders.
TEST_F(ServiceCommands, EachCommandPrintsOneRecordPerLine) {
  const std::string replay = " --replay '" + kWalk + "'";
  const struct {
    std::string args;
    std::size_t lines;
    std::function<void(const std::vector<std::string>&)> check;
  } cases[] = {
      {"track 39.9030112 116.3915045 --accuracy 5 --altitude 44", 1,
       [](const auto& l) {
         EXPECT_EQ(location(l[0])->location()->address()->context()[2]->name(), "东城区");
       }},
      {"reverse 31.2283 121.4756", 1,
       [](const auto& l) { EXPECT_EQ(placeOf(l[0]), "上海博物馆"); }},
      {"geocode 人民大道 --city 上海市", 10,
       [](const auto& l) { EXPECT_EQ(hits("[" + l[0] + "]").at(0)->type(), "street"); }},
      {"poi 博物馆 --city 上海市 --city-code 310100 --page 1 --size 1", 1,
       [](const auto& l) { EXPECT_EQ(hits("[" + l[0] + "]").at(0)->name(), "上海博物馆"); }},
      {"poi 博物馆 --city 上海市 --city-code 310100 --table", 2,
       [](const auto& l) {
         EXPECT_EQ(
             l[0],
             "name                    type         location               relevance  address");
         EXPECT_EQ(l[1],
                   "上海博物馆              museum       121.475600,31.228300        0.80  "
                   "上海市黄浦区人民大道201号");
       }},
      {"nearby '' --location 121.4753,31.2316 --radius 300 --orderby distance --size 3", 3,
       [](const auto& l) { EXPECT_LE(hits("[" + l[2] + "]").at(0)->distance(), 300.0); }},
      {"locate --once --speed 0" + replay, 1,
       [](const auto& l) { EXPECT_EQ(placeOf(l[0]), "人民广场地铁站"); }},
      {"locate --fast --speed 20" + replay, 1, [](const auto& l) { EXPECT_NE(placeOf(l[0]), ""); }},
      {"locate --interval 0.1 --count 3 --speed 0" + replay, 3,
       [](const auto& l) {
         for (const auto& line : l) EXPECT_NE(placeOf(line), "");
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const CliRun run = orvloc(c.args + common());
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const auto lines = run.lines();
    ASSERT_EQ(lines.size(), c.lines) << run.out;
    c.check(lines);
  }
}

TEST_F(ServiceCommands, LocateEndsAtAPositioningFailureAndRefusesUnknownSources) {
  const std::string port = std::to_string(orv::test::unusedLoopbackPort());
  const CliRun run = orvloc("locate --source gpsd:127.0.0.1:" + port + " --count 3" + common());
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "orvloc: 定位失败：cannot connect to gpsd at 127.0.0.1:" + port +
                         ": Connection refused\n");

  for (const char* source : {"usb", "gpsd:", "gpsd:host:99999", "gpsd:[::1",
                             "nmea:", "nmea:/dev/ttyUSB0@12", "nmea-tcp:host", "nmea-udp:x"}) {
    const CliRun refused = orvloc(std::string("locate --source '") + source + "'" + common());
    EXPECT_EQ(refused.code, 2) << source;
    EXPECT_THAT(refused.err, HasSubstr("--source")) << source;
  }
}

// An endless run prints each sample as it comes and ends cleanly on SIGTERM. The reader keeps
// the pipe open until the command has ended, so only the signal can end it.
TEST_F(ServiceCommands, EndlessLocateStreamsUntilTerminated) {
  const CliRun run = runShell(
      "d=$(mktemp -d) && mkfifo \"$d/p\" && { " + kOrvloc + "locate --count 0 --interval 0.2" +
      " --replay '" + kWalk + "'" + common() + " >\"$d/p\" & pid=$!; exec 3<\"$d/p\";" +
      " head -n 2 <&3; kill -TERM $pid; wait $pid; echo \"exit $?\"; exec 3<&-; rm -r \"$d\"; }");
  const auto lines = run.lines();
  ASSERT_EQ(lines.size(), 3u) << run.out << run.err;
  EXPECT_NE(placeOf(lines[0]), "");
  EXPECT_EQ(lines[2], "exit 0");
}

TEST_F(ServiceCommands, KeyFromAFile) {
  const auto key =
      std::filesystem::temp_directory_path() / ("orvloc_key_" + std::to_string(::getpid()));
  std::ofstream(key) << "  orv-demo-key \n";
  const std::string args = "geocode 天安门 --city 北京市 --agree" + serviceArgs(*emulator_);
  const CliRun ok = orvloc(args + " --key-file '" + key.string() + "'");
  EXPECT_EQ(ok.code, 0) << ok.err;  // read and trimmed
  std::filesystem::remove(key);
  const CliRun missing = orvloc(args + " --key-file '" + key.string() + "'");
  EXPECT_TRUE(missing.code == 2 &&
              missing.err.find("cannot read the key file") != std::string::npos)
      << missing.err;
}

// The key never reaches the output, also where the log shows the URL with the key encoded; the
// service's refusal reaches standard error as the client reports it.
TEST_F(ServiceCommands, TheLogMasksTheKeyAsSentInTheUrl) {
  const CliRun run = orvloc("geocode 天安门 --city 北京市 --agree --log --key 's3cret key&1'" +
                            serviceArgs(*emulator_));
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_THAT(run.err, HasSubstr("access_key=***&"));
  EXPECT_THAT(run.err, HasSubstr("orvloc: 请求失败，状态码: 401\n"));
  EXPECT_THAT(run.err, Not(HasSubstr("s3cret")));
}

TEST_F(ServiceCommands, UntrustedCertificateIsATransportFailure) {
  const CliRun run = orvloc("reverse 31.2283 121.4756 --agree --key orv-demo-key --service '" +
                            emulator_->baseUrl() + "'");
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.err.rfind("orvloc: ", 0), 0u) << run.err;
}

// An answer slower than --timeout ends the command with exit 1.
TEST(ServiceFaults, SlowAnswersTimeOut) {
  EmulatorOptions slow;
  slow.latencyMs = 1500;
  auto emulator = startEmulator(slow);
  ASSERT_NE(emulator, nullptr);
  const CliRun run =
      orvloc("geocode 天安门 --city 北京市 --agree --key orv-demo-key --timeout 0.2" +
             serviceArgs(*emulator));
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "orvloc: no answer within 0.2 s\n");
}

// The JSON object after `"<member>":` in a demo line.
std::string member(const std::string& line, const std::string& name) {
  const std::string key = "\"" + name + "\":";
  const auto at = line.find(key);
  return at == std::string::npos ? ""
                                 : line.substr(at + key.size(), line.size() - at - key.size() - 1);
}

TEST(Demo, AsJsonGoesThroughEveryStepInOrder) {
  const CliRun run = orvloc("demo --speed max --interval 0.1 --json");
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  std::vector<std::string> steps;
  for (const auto& line : run.lines()) steps.push_back(line.substr(9, line.find('"', 9) - 9));
  EXPECT_THAT(steps, testing::ElementsAre("run", "run", "run", "reverse", "geocode", "poi",
                                          "nearby", "offline"));
  // Each answer decodes; what the searches find is the commands' concern.
  EXPECT_EQ(placeOf(member(run.lines().at(0), "location")), "人民广场地铁站");
  EXPECT_FALSE(hits(member(run.lines().at(4), "hits")).empty());
}

// The demo for people, in a network namespace with only loopback: the emulator is on loopback,
// so a machine without a default route still gets every answer.
TEST(Demo, ForPeopleNeedsNoDefaultRoute) {
  if (std::system("unshare -rn true >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "network namespaces not permitted here";
  }
  const CliRun run = runShell("unshare -rn sh -c \"ip link set lo up && " + kOrvloc +
                              "demo --speed 400 --interval 0.25\"");
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.err, "");  // no log noise
  std::size_t at = 0;
  // The place of the first fix comes from the service.
  for (const char* heading :
       {"Continuous run: 4 samples", "人民广场地铁站", "Reverse geocode", "Geocode", "Place search",
        "Nearby search", "Service out of reach", "Done in"}) {
    at = run.out.find(heading, at);
    ASSERT_NE(at, std::string::npos) << heading << "\n" << run.out;
  }
}

}  // namespace
