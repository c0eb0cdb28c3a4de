// The batch forms of orvloc (reverse, geocode, track with --input) against in-process emulators:
// the records in input order, errors with their attempts, and resuming after a kill -9.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <simdjson.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "cli_run.h"
#include "emulator/emulator.h"

namespace {

using orv::emulator::Emulator;
using orv::emulator::EmulatorOptions;
using orv::test::CliRun;
using orv::test::readFile;
using orv::test::runShell;
using testing::HasSubstr;

const std::string kOrvloc = std::string("'") + ORVLOC_PATH + "' ";
const std::string kWalk = std::string(ORV_SOURCE_DIR) + "/data/demo-walk.csv";

std::unique_ptr<Emulator> startEmulator(EmulatorOptions options = {}) {
  auto started = Emulator::start(std::move(options));
  EXPECT_TRUE(started.ok()) << started.error().message;
  return started ? std::move(started).value() : nullptr;
}

std::string common(const Emulator& e) {
  return " --service '" + e.baseUrl() + "' --ca '" + e.caFile() + "' --key orv-demo-key --agree";
}

class Scratch {
 public:
  Scratch() {
    std::string dir = (std::filesystem::temp_directory_path() / "orvloc_batch_XXXXXX").string();
    EXPECT_NE(::mkdtemp(dir.data()), nullptr);
    dir_ = dir;
  }
  ~Scratch() { std::filesystem::remove_all(dir_); }
  std::string write(const std::string& name, const std::string& text) const {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    return (dir_ / name).string();
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

 private:
  std::filesystem::path dir_;
};

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// Each case: an emulator, a scratch directory and orvloc's batch commands against them.
class OrvlocBatch : public testing::Test {
 protected:
  bool start(EmulatorOptions options = {}) {
    emulator = startEmulator(std::move(options));
    return emulator != nullptr;
  }
  // "orvloc <command> --input <input><extra>" with the emulator's service, key and consent.
  std::string orvloc(const std::string& command, const std::string& input,
                     const std::string& extra = "") const {
    return kOrvloc + command + " --input '" + input + "'" + extra + common(*emulator);
  }

  std::unique_ptr<Emulator> emulator;
  Scratch s;
};

// Every row once, in order, each a whole JSON record with a result.
void expectComplete(const std::string& output, size_t rows) {
  const auto lines = linesOf(output);
  ASSERT_EQ(lines.size(), rows) << output;
  simdjson::dom::parser parser;
  for (size_t i = 0; i < rows; ++i) {
    simdjson::dom::element record;
    ASSERT_EQ(parser.parse(lines[i]).get(record), simdjson::SUCCESS) << lines[i];
    int64_t row = -1;
    EXPECT_EQ(record["row"].get(row), simdjson::SUCCESS);
    EXPECT_EQ(row, static_cast<int64_t>(i));
    EXPECT_EQ(record["result"].error(), simdjson::SUCCESS) << lines[i];
  }
}

TEST_F(OrvlocBatch, ReverseKeepsColumnsAndOrderAndReportsBadRows) {
  ASSERT_TRUE(start());
  const std::string input = s.write("in.csv",
                                    "id,lat,lng,note\n"
                                    "a,31.2283,121.4756,\"x, y\"\n"
                                    "b,31.2316,121.4753,\n"
                                    "c,not-a-number,121.4753,\n"
                                    "d,31.2283,121.4756,again\n");
  const CliRun run = runShell(orvloc("reverse", input));
  EXPECT_EQ(run.code, 1) << run.err;
  const auto lines = linesOf(run.out);
  ASSERT_EQ(lines.size(), 4u) << run.out;
  EXPECT_THAT(lines[0], HasSubstr(R"("row": 0, "input": {"id": "a", "lat": "31.2283", )"
                                  R"("lng": "121.4756", "note": "x, y"}, "result": {)"));
  EXPECT_THAT(lines[0], HasSubstr("上海博物馆"));
  EXPECT_THAT(lines[2], HasSubstr(R"("error": {"code": "requestNotBuildable", "status": null)"));
  EXPECT_THAT(lines[3], HasSubstr("上海博物馆"));
  EXPECT_THAT(run.err, HasSubstr("4 rows (0 already done): 3 results, 1 errors; 2 requests"));
}

TEST_F(OrvlocBatch, FailuresEndAfterTheirAttemptsAndCsvHasAnErrorColumn) {
  EmulatorOptions options;
  options.failRate = 1.0;
  ASSERT_TRUE(start(options));
  const std::string input = s.write("in.csv", "address,city\n人民大道,上海市\n");
  CliRun run = runShell(orvloc("geocode", input, " --attempts 2"));
  EXPECT_EQ(run.code, 1);
  EXPECT_THAT(run.out, HasSubstr(R"("error": {"code": "httpStatus", "status": 500, )"));
  EXPECT_THAT(run.out, HasSubstr(R"("attempts": 2})"));
  EXPECT_EQ(emulator->stats().requests, 2u);

  run = runShell(orvloc("geocode", input, " --attempts 1 --format csv"));
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(linesOf(run.out).at(0), "address,city,name,point,error");
  EXPECT_THAT(linesOf(run.out).at(1), HasSubstr("人民大道,上海市,,,httpStatus: "));

  run = runShell(orvloc("geocode 人民大道", input));
  EXPECT_EQ(run.code, 2);
}

TEST_F(OrvlocBatch, TrackEnrichesEachFixOfARecordedTrack) {
  ASSERT_TRUE(start());
  const std::string out = s.path("out.jsonl");
  const CliRun run = runShell(orvloc("track", kWalk, " --output '" + out + "' --concurrency 16"));
  ASSERT_EQ(run.code, 0) << run.err;
  const size_t rows = linesOf(readFile(kWalk)).size() - 1;
  expectComplete(readFile(out), rows);
}

// A run killed with SIGKILL at a random moment, then run again with the same arguments: every
// row exactly once, in order; a torn last line is cut off and written again.
TEST_F(OrvlocBatch, ResumeAfterKillAtRandomMoments) {
  EmulatorOptions options;
  options.latencyMs = 5;
  ASSERT_TRUE(start(options));
  std::string csv = "lat,lng\n";
  const size_t rows = 60;
  for (size_t i = 0; i < rows; ++i) csv += "31.2" + std::to_string(200 + i) + ",121.4756\n";
  const std::string input = s.write("in.csv", csv);
  std::mt19937 random(std::random_device{}());
  for (int round = 0; round < 4; ++round) {
    const std::string out = s.path("out" + std::to_string(round) + ".jsonl");
    if (round == 3) {
      // A torn record, as a kill in the middle of a write would leave.
      s.write("out3.jsonl", "{\"row\": 0, \"input\": {\"la");
    }
    const std::string command =
        orvloc("reverse", input, " --output '" + out + "' --concurrency 4 --rate 400");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::execl("/bin/sh", "sh", "-c", ("exec " + command + " 2>/dev/null").c_str(), nullptr);
      ::_exit(127);
    }
    // The kill lands anywhere from before the first request to after the last.
    std::this_thread::sleep_for(
        std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 250)(random)));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    const CliRun rerun = runShell(command);
    ASSERT_EQ(rerun.code, 0) << rerun.err;
    expectComplete(readFile(out), rows);
  }
}

}  // namespace
