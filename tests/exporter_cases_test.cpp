// kestrel-exporter run as its own process over the counter library over
// NVML (with the fake NVML behind it), over the counter-library double, or
// with no counter library at all, scraped over a real socket. Each folder of
// exporter/ holds:
//   library  nvml (absent: nvml), counterlib, none, or another folder of
//            the doubles (noexport: a library without its query function)
//   script   the fake NVML's or the double's script
//   args     more of the command line, one argument a line
//   scrapes  how many scrapes to make, each on a reading of its own; the
//            last one is compared (absent: 1)
//   metrics  what that scrape answers, byte for byte, the scrape's duration
//            written as <seconds>
//   readings (where present) what /api/v1/readings answers right after,
//            byte for byte, its time written as <time>: the same reading
//   log      the exporter's standard error once stopped with SIGTERM, time
//            stamps and the port left out
//   calls    (where present) the calls the counter-library double received,
//            without the loader's queries: each binding shows as its Init
// Every answer also passes promtool's check, where promtool is installed.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <thread>

#include "counter_double.h"
#include "exporter_process.h"
#include "scratch.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

std::string Word(const fs::path& file, const std::string& otherwise) {
  std::string text = ReadIfPresent(file);
  text.erase(text.find_last_not_of("\r\n") + 1);
  return text.empty() ? otherwise : text;
}

std::string MaskDuration(const std::string& metrics) {
  static const std::regex duration("^kestrel_scrape_duration_seconds [^\n]*", std::regex::multiline);
  return std::regex_replace(metrics, duration, "kestrel_scrape_duration_seconds <seconds>");
}

std::string MaskTime(const std::string& readings) {
  static const std::regex time("^\\{\"time\":[0-9.]+,");
  return std::regex_replace(readings, time, "{\"time\":<time>,");
}

std::string MaskLog(const std::string& log) {
  static const std::regex stamp("^ts=[^ ]* ", std::regex::multiline);
  static const std::regex port("address=127\\.0\\.0\\.1:[0-9]+");
  return std::regex_replace(std::regex_replace(log, stamp, ""), port, "address=127.0.0.1:PORT");
}

class ExporterCase : public testing::TestWithParam<std::string> {};

TEST_P(ExporterCase, AnswersAsExpected) {
  const fs::path dir = fs::path(KESTREL_EXPORTER_CASES) / GetParam();
  ScratchDir scratch;
  CounterDouble calls;
  std::string library = Word(dir / "library", "nvml");
  std::map<std::string, std::string> environment;
  if (library == "nvml") {
    environment["LD_LIBRARY_PATH"] = std::string(KESTREL_NVPMAPI_DIR) + ":" + KESTREL_DOUBLES "/nvml";
    environment["KESTREL_NVML_SCRIPT"] = (dir / "script").string();
  } else if (library == "none") {
    environment["LD_LIBRARY_PATH"] = scratch.path().string();
  } else {
    environment["LD_LIBRARY_PATH"] = std::string(KESTREL_DOUBLES "/") + library;
    environment["KESTREL_DOUBLE_SCRIPT"] = (dir / "script").string();
  }
  std::vector<std::string> args;
  for (const std::string& line : SplitLines(ReadIfPresent(dir / "args"))) args.push_back(line);

  ExporterProcess exporter(args, environment);
  ASSERT_TRUE(exporter.listening()) << exporter.log();
  HttpAnswer answer;
  for (int scrape = std::stoi(Word(dir / "scrapes", "1")); scrape > 0; --scrape) {
    answer = Ask(exporter.port(), "/metrics");
    // A reading is served again for half a second.
    if (scrape > 1) std::this_thread::sleep_for(std::chrono::milliseconds(600));
  }
  ASSERT_EQ(answer.status, 200);
  EXPECT_EQ(answer.headers["content-type"], "text/plain; version=0.0.4; charset=utf-8");
  HttpAnswer readings = Ask(exporter.port(), "/api/v1/readings");
  EXPECT_EQ(readings.status, 200);
  EXPECT_EQ(readings.headers["content-type"], "application/json");
  EXPECT_EQ(exporter.Stop(SIGTERM), 0);

  EXPECT_EQ(MaskDuration(answer.body), ReadFile(dir / "metrics"));
  EXPECT_EQ(MaskLog(exporter.log()), ReadFile(dir / "log"));
  if (fs::exists(dir / "readings")) {
    EXPECT_EQ(MaskTime(readings.body), ReadFile(dir / "readings"));
  }
  if (fs::exists(dir / "calls")) {
    EXPECT_EQ(calls.CallsWithoutQueries(), ReadFile(dir / "calls"));
  }
  if (fs::exists(KESTREL_PROMTOOL))
    EXPECT_EQ(Promtool(answer.body), "");
  else
    GTEST_SKIP() << "promtool is not installed (Debian's prometheus): the format is not checked";
}

INSTANTIATE_TEST_SUITE_P(Cases, ExporterCase,
                         testing::ValuesIn(CaseFolders(KESTREL_EXPORTER_CASES)),
                         [](const auto& info) { return CaseTestName(info.param); });

}  // namespace
