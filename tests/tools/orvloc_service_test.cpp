// The service commands and the demo of the built orvloc, against an emulator in this process.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "cli_run.h"
#include "emulator/emulator.h"
#include "fake_gpsd.h"
#include "nmea_logs.h"
#include "orv/coord_transform.h"
#include "orv/geocode_res.h"
#include "orv/location_res.h"
#include "test_server.h"

namespace {

namespace fs = std::filesystem;
using orv::emulator::Emulator;
using orv::emulator::EmulatorOptions;
using orv::test::CliRun;
using testing::HasSubstr;
using testing::Not;

const std::string kWalk = std::string(ORV_SOURCE_DIR) + "/data/demo-walk.csv";

fs::path scratch() {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "_" + info->name();
  for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  const fs::path dir =
      fs::temp_directory_path() / ("orvloc_service_" + std::to_string(::getpid()) + "_" + name);
  fs::create_directories(dir);
  return dir;
}

CliRun shell(const std::string& command) {
  const fs::path dir = scratch();
  CliRun run = orv::test::runShell(command, dir);
  fs::remove_all(dir);
  return run;
}

CliRun orvloc(const std::string& args) {
  return shell(std::string("'") + ORVLOC_PATH + "' " + args);
}

std::unique_ptr<Emulator> startEmulator(EmulatorOptions options = {}) {
  auto started = Emulator::start(std::move(options));
  EXPECT_TRUE(started.ok()) << started.error().message;
  return started ? std::move(started).value() : nullptr;
}

std::string serviceArgs(const Emulator& e) {
  return "--service '" + e.baseUrl() + "' --ca '" + e.caFile() + "'";
}

std::shared_ptr<orv::LocationRes> location(const std::string& json) {
  auto decoded = orv::LocationRes::decode(json);
  EXPECT_TRUE(decoded.ok()) << decoded.error().message << "\n" << json;
  return decoded ? decoded.value() : std::make_shared<orv::LocationRes>();
}

std::shared_ptr<orv::GeocodeRes> hit(const std::string& json) {
  auto decoded = orv::GeocodeRes::decode(json);
  EXPECT_TRUE(decoded.ok()) << decoded.error().message << "\n" << json;
  return decoded ? decoded.value() : std::make_shared<orv::GeocodeRes>();
}

std::string placeOf(const std::string& json) {
  const auto place = location(json)->location()->place();
  return place ? place->name() : "";
}

class ServiceCommands : public testing::Test {
 protected:
  static void SetUpTestSuite() { emulator_ = startEmulator().release(); }
  static void TearDownTestSuite() {
    delete emulator_;
    emulator_ = nullptr;
  }
  void SetUp() override { ASSERT_NE(emulator_, nullptr); }
  static std::string common() { return serviceArgs(*emulator_) + " --key orv-demo-key --agree"; }

  static Emulator* emulator_;
};

Emulator* ServiceCommands::emulator_ = nullptr;

// One command line per command, each printing JSON lines the library's decoders read back.
struct CommandCase {
  const char* name;
  std::string args;
  std::size_t lines;
  std::function<void(const std::vector<std::string>&)> check;
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.name; }

class EachCommand : public ServiceCommands, public testing::WithParamInterface<CommandCase> {};

TEST_P(EachCommand, PrintsOneRecordPerLine) {
  const auto& c = GetParam();
  const CliRun run = orvloc(c.args + " " + common());
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const auto lines = run.lines();
  ASSERT_EQ(lines.size(), c.lines) << run.out;
  c.check(lines);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, EachCommand,
    testing::Values(
        CommandCase{"track", "track 39.9030112 116.3915045 --accuracy 5 --altitude 44", 1,
                    [](const auto& lines) {
                      const auto res = location(lines[0]);
                      EXPECT_EQ(res->location()->address()->context()[2]->name(), "东城区");
                    }},
        CommandCase{"reverse", "reverse 31.2283 121.4756", 1,
                    [](const auto& lines) { EXPECT_EQ(placeOf(lines[0]), "上海博物馆"); }},
        CommandCase{"geocode", "geocode 人民大道 --city 上海市", 10,
                    [](const auto& lines) { EXPECT_EQ(hit(lines[0])->type(), "street"); }},
        CommandCase{"poi", "poi 博物馆 --city 上海市 --city-code 310100 --page 1 --size 1", 1,
                    [](const auto& lines) { EXPECT_EQ(hit(lines[0])->name(), "上海博物馆"); }},
        CommandCase{"nearby",
                    "nearby '' --location 121.4753,31.2316 --radius 300 --orderby distance "
                    "--size 3",
                    3,
                    [](const auto& lines) {
                      double previous = 0.0;
                      for (const auto& line : lines) {
                        const double d = hit(line)->distance();
                        EXPECT_GE(d, previous);
                        EXPECT_LE(d, 300.0);
                        previous = d;
                      }
                    }},
        CommandCase{"locate_once", "locate --once --speed 0 --replay '" + kWalk + "'", 1,
                    [](const auto& lines) { EXPECT_EQ(placeOf(lines[0]), "人民广场地铁站"); }},
        CommandCase{"locate_fast", "locate --fast --speed 20 --replay '" + kWalk + "'", 1,
                    [](const auto& lines) { EXPECT_FALSE(placeOf(lines[0]).empty()); }},
        CommandCase{"locate_continuous",
                    "locate --interval 0.1 --count 3 --speed 0 --replay '" + kWalk + "'", 3,
                    [](const auto& lines) {
                      for (const auto& line : lines) EXPECT_FALSE(placeOf(line).empty());
                    }}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(ServiceCommands, LocateFromAPrivateGpsd) {
  orv::test::PrivateGpsd gpsd;
  if (!gpsd.skipReason().empty()) GTEST_SKIP() << gpsd.skipReason();
  const CliRun run = orvloc("locate --source gpsd:127.0.0.1:" + std::to_string(gpsd.port()) +
                            " --count 3 --interval 0.2 " + common());
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const auto lines = run.lines();
  ASSERT_EQ(lines.size(), 3u) << run.out;
  for (const auto& line : lines) EXPECT_FALSE(placeOf(line).empty()) << line;
}

TEST_F(ServiceCommands, LocateEndsAtAPositioningFailure) {
  const std::string port = std::to_string(orv::test::unusedLoopbackPort());
  const CliRun run = orvloc("locate --source gpsd:127.0.0.1:" + port + " --count 3 " + common());
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "orvloc: 定位失败：cannot connect to gpsd at 127.0.0.1:" + port +
                         ": Connection refused\n");
}

TEST_F(ServiceCommands, LocateWithCountZeroRunsUntilSigterm) {
  // The first result arrives within the time the shell waits; the signal then ends the run.
  const CliRun run = shell("('" + std::string(ORVLOC_PATH) +
                           "' locate --count 0 --interval 0.1 --speed 0 --replay '" + kWalk + "' " +
                           common() + " & pid=$!; sleep 2; kill -TERM $pid; wait $pid)");
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_GE(run.lines().size(), 2u);
}

TEST_F(ServiceCommands, LocateFromAnNmeaPseudoTerminal) {
  int master = -1;
  int slave = -1;
  char name[64];
  termios raw{};
  ::cfmakeraw(&raw);
  ASSERT_EQ(::openpty(&master, &slave, name, &raw, nullptr), 0);
  // Buffered by the terminal until orvloc opens it.
  const std::string log = orv::test::asReceived(orv::test::kSirfParked);
  ASSERT_EQ(::write(master, log.data(), log.size()), static_cast<ssize_t>(log.size()));
  const CliRun run =
      orvloc(std::string("locate --once --source nmea:") + name + "@115200 " + common());
  ::close(master);
  ::close(slave);
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.lines().size(), 1u) << run.out;
}

TEST_F(ServiceCommands, LocateRefusesAnUnknownSource) {
  for (const char* source : {"usb", "gpsd:", "gpsd:host:99999", "gpsd:[::1",
                             "nmea:", "nmea:/dev/ttyUSB0@12", "nmea-tcp:host", "nmea-udp:x"}) {
    const CliRun run = orvloc(std::string("locate --source '") + source + "' " + common());
    EXPECT_EQ(run.code, 2) << source;
    EXPECT_THAT(run.err, HasSubstr("--source")) << source;
  }
}

TEST_F(ServiceCommands, TableHasAHeaderAndAlignedRows) {
  const CliRun run = orvloc("poi 博物馆 --city 上海市 --city-code 310100 --table " + common());
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out,
            "name                    type         location               relevance  address\n"
            "上海博物馆              museum       121.475600,31.228300        0.80  "
            "上海市黄浦区人民大道201号\n");
}

TEST_F(ServiceCommands, KeyFromAFile) {
  const fs::path dir = scratch();
  std::ofstream(dir / "key") << "  orv-demo-key \n";
  const CliRun ok = orvloc("geocode 天安门 --city 北京市 --agree --key-file '" +
                           (dir / "key").string() + "' " + serviceArgs(*emulator_));
  EXPECT_EQ(ok.code, 0) << ok.err;  // the key was read and trimmed

  const CliRun missing = orvloc("geocode x --city y --agree --key-file '" +
                                (dir / "none").string() + "' " + serviceArgs(*emulator_));
  EXPECT_EQ(missing.code, 2);
  EXPECT_THAT(missing.err, HasSubstr("cannot read the key file"));
  fs::remove_all(dir);
}

// Failures reach standard error as the client reports them, with exit 1 and nothing on stdout.
struct FailureCase {
  const char* name;
  EmulatorOptions emulator;
  std::string args;  // after "geocode 天安门 --city 北京市" and the service options
  std::string err;   // a prefix of standard error
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class Failures : public testing::TestWithParam<FailureCase> {};

TEST_P(Failures, ReportTheClientsMessage) {
  const auto& c = GetParam();
  auto emulator = startEmulator(c.emulator);
  ASSERT_NE(emulator, nullptr);
  const CliRun run =
      orvloc("geocode 天安门 --city 北京市 " + serviceArgs(*emulator) + " " + c.args);
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind(c.err, 0), 0u) << run.err;
  EXPECT_THAT(run.err, Not(HasSubstr("s3cret")));
}

EmulatorOptions faulty(double failRate, double dropRate, int latencyMs = 0) {
  EmulatorOptions o;
  o.failRate = failRate;
  o.dropRate = dropRate;
  o.latencyMs = latencyMs;
  return o;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Failures,
    testing::Values(
        FailureCase{
            "unknown_key", {}, "--agree --key 's3cret key'", "orvloc: 请求失败，状态码: 401\n"},
        FailureCase{"no_consent", {}, "--key orv-demo-key", "orvloc: 您未同意隐私政策\n"},
        FailureCase{"no_key", {}, "--agree", "orvloc: 您未配置 Appkey\n"},
        FailureCase{"dropped_connection", faulty(0.0, 1.0), "--agree --key orv-demo-key",
                    "orvloc: "},
        FailureCase{"slower_than_the_timeout", faulty(0.0, 0.0, 1500),
                    "--agree --key orv-demo-key --timeout 0.2",
                    "orvloc: no answer within 0.2 s\n"}),
    [](const auto& p) { return std::string(p.param.name); });

// The key never reaches the output, also where the log shows the URL with the key encoded.
TEST_F(ServiceCommands, TheLogMasksTheKeyAsSentInTheUrl) {
  const CliRun run = orvloc("geocode 天安门 --city 北京市 --agree --log --key 's3cret key&1' " +
                            serviceArgs(*emulator_));
  EXPECT_EQ(run.code, 1);
  EXPECT_THAT(run.err, HasSubstr("access_key=***&"));
  EXPECT_THAT(run.err, HasSubstr("orvloc: 请求失败，状态码: 401\n"));
  EXPECT_THAT(run.err + run.out, Not(HasSubstr("s3cret")));
}

TEST_F(ServiceCommands, UntrustedCertificateIsATransportFailure) {
  const CliRun run = orvloc("reverse 31.2283 121.4756 --agree --key orv-demo-key --service '" +
                            emulator_->baseUrl() + "'");
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.err.rfind("orvloc: ", 0), 0u) << run.err;
}

// The JSON object after `"<member>":` in a demo line.
std::string member(const std::string& line, const std::string& name) {
  const std::string key = "\"" + name + "\":";
  const auto at = line.find(key);
  if (at == std::string::npos) return "";
  return line.substr(at + key.size(), line.size() - at - key.size() - 1);
}

std::vector<std::shared_ptr<orv::GeocodeRes>> hitsOf(const std::string& line) {
  auto decoded = orv::decodeGeocodeList(member(line, "hits"));
  EXPECT_TRUE(decoded.ok()) << decoded.error().message << "\n" << line;
  return decoded ? decoded.value() : std::vector<std::shared_ptr<orv::GeocodeRes>>{};
}

TEST(Demo, AtMaxSpeedGoesThroughEveryStepInOrder) {
  const CliRun run = orvloc("demo --speed max --interval 0.1 --json");
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  std::vector<std::string> steps;
  std::map<std::string, std::vector<std::string>> byStep;
  for (const auto& line : run.lines()) {
    const auto step = line.substr(9, line.find('"', 9) - 9);  // {"step":"...
    steps.push_back(step);
    byStep[step].push_back(line);
  }
  EXPECT_THAT(steps, testing::ElementsAre("run", "run", "run", "reverse", "geocode", "poi",
                                          "nearby", "offline"));
  ASSERT_EQ(byStep["offline"].size(), 1u);

  // The run starts at the walk's first fix and ends at its last; what each search finds is the
  // commands' and the emulator's concern, here only that each step's answer decodes.
  EXPECT_EQ(placeOf(member(byStep["run"].front(), "location")), "人民广场地铁站");
  const auto last = location(member(byStep["run"].back(), "location"));
  const auto reverse = location(member(byStep["reverse"][0], "location"));
  EXPECT_EQ(reverse->location()->place()->name(), last->location()->place()->name());
  for (const char* step : {"geocode", "poi", "nearby"}) {
    EXPECT_FALSE(hitsOf(byStep[step][0]).empty()) << step;
  }

  // Without network: the last fix converted on the device, and nothing else.
  std::ifstream walk(kWalk);
  std::string row, lastRow;
  while (std::getline(walk, row)) lastRow = row;
  std::istringstream cells(lastRow);
  std::string time, lat, lng;
  std::getline(cells, time, ',');
  std::getline(cells, lat, ',');
  std::getline(cells, lng, ',');
  const auto gcj = orv::JyrCoorTransform::transformFromWGSToGCJ({std::stod(lat), std::stod(lng)});
  const auto offline = location(member(byStep["offline"][0], "location"));
  EXPECT_DOUBLE_EQ(offline->location()->position()->point()->latitude(), gcj.latitude);
  EXPECT_DOUBLE_EQ(offline->location()->position()->point()->longitude(), gcj.longitude);
  EXPECT_EQ(offline->location()->address()->name(), "");
  EXPECT_EQ(offline->location()->place()->name(), "");
  EXPECT_EQ(offline->id(), "");
}

// The emulator is on loopback: a machine without a default route still gets its answers.
TEST(Demo, NeedsNoDefaultRoute) {
  if (std::system("unshare -rn true >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "network namespaces not permitted here";
  }
  const CliRun run = shell(std::string("unshare -rn sh -c \"ip link set lo up && '") + ORVLOC_PATH +
                           "' demo --speed max --interval 0.1 --json\"");
  ASSERT_EQ(run.code, 0) << run.err;
  const auto lines = run.lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(placeOf(member(lines[0], "location")), "人民广场地铁站");
}

TEST(Demo, ForPeopleEachStepHasItsHeadingAndNoLogNoise) {
  const CliRun run = orvloc("demo --speed 400 --interval 0.25");
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  std::size_t at = 0;
  for (const char* heading : {"Continuous run: 4 samples", "Reverse geocode", "Geocode",
                              "Place search", "Nearby search", "Service out of reach", "Done in"}) {
    const auto found = run.out.find(heading, at);
    ASSERT_NE(found, std::string::npos) << heading << "\n" << run.out;
    at = found;
  }
}

}  // namespace
