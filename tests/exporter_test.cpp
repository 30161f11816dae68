// kestrel-exporter run as its own process, scraped over a real socket.
//
// The cases: over the counter library over NVML (with the fake NVML behind
// it), over the counter-library double, or with no counter library at all.
// Each folder of exporter/ holds:
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
//            stamps and the port left out; <counters> stands for the NVML
//            counters of every GPU the script lists, and <exported> for as
//            many as metrics has kestrel_index_info lines
//   calls    (where present) the calls the counter-library double received,
//            without the loader's queries: each binding shows as its Init
//   exit     (where present) the status it exits with at once, serving
//            nothing; log is then all it wrote, standard output too
// Every answer also passes promtool's check, where promtool is installed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <regex>
#include <thread>

#include "counter_double.h"
#include "counters.h"
#include "exporter_process.h"
#include "scratch.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

// Long enough for the next request to take a reading of its own.
constexpr auto kPastReuse = std::chrono::milliseconds(600);

int Occurrences(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// What differs from run to run, written as the expected files write it: the
// scrape's duration, the readings' time, the log's time stamps and port.
std::string Masked(std::string text) {
  static const std::pair<std::regex, const char*> masks[] = {
      {std::regex("^kestrel_scrape_duration_seconds [^\n]*", std::regex::multiline),
       "kestrel_scrape_duration_seconds <seconds>"},
      {std::regex("^\\{\"time\":[0-9.]+,"), "{\"time\":<time>,"},
      {std::regex("^ts=[^ ]* ", std::regex::multiline), ""},
      {std::regex("address=127\\.0\\.0\\.1:[0-9]+"), "address=127.0.0.1:PORT"}};
  for (const auto& [pattern, written] : masks) text = std::regex_replace(text, pattern, written);
  return text;
}

// The log expected, its counts written out: so a counter added to the
// library's table changes only the cases that show every counter.
std::string ExpectedLog(const fs::path& dir) {
  const std::string log = WithCounters(ReadFile(dir / "log"), dir / "script");
  const int exported = Occurrences(ReadFile(dir / "metrics"), "\nkestrel_index_info{");
  return std::regex_replace(log, std::regex("<exported>"), std::to_string(exported));
}

class ExporterCase : public testing::TestWithParam<std::string> {};

TEST_P(ExporterCase, AnswersAsExpected) {
  const fs::path dir = fs::path(KESTREL_EXPORTER_CASES) / GetParam();
  CounterDouble calls;
  const std::string library = ReadWord(dir / "library", "nvml");
  // The fake NVML and the doubles each read the script from a variable of
  // their own; "none" names a folder that is not there.
  std::string path = KESTREL_DOUBLES "/" + library;
  if (library == "nvml") path = KESTREL_NVPMAPI_DIR ":" + path;
  const std::string script = (dir / "script").string();
  ExporterProcess exporter(SplitLines(ReadIfPresent(dir / "args")),
                           {{"LD_LIBRARY_PATH", path},
                            {"KESTREL_NVML_SCRIPT", script},
                            {"KESTREL_DOUBLE_SCRIPT", script}});
  if (fs::exists(dir / "exit")) {
    EXPECT_EQ(exporter.Wait(), std::stoi(ReadWord(dir / "exit")));
    EXPECT_EQ(exporter.log(), ReadFile(dir / "log"));
    return;
  }
  ASSERT_TRUE(exporter.listening()) << exporter.log();
  HttpAnswer answer;
  for (int scrape = std::stoi(ReadWord(dir / "scrapes", "1")); scrape > 0; --scrape) {
    answer = Ask(exporter.port(), "/metrics");
    if (scrape > 1) std::this_thread::sleep_for(kPastReuse);
  }
  ASSERT_EQ(answer.status, 200);
  HttpAnswer readings = Ask(exporter.port(), "/api/v1/readings");
  EXPECT_EQ(readings.status, 200);
  EXPECT_EQ(exporter.Stop(SIGTERM), 0);

  EXPECT_EQ(Masked(answer.body), ReadFile(dir / "metrics"));
  EXPECT_EQ(Masked(exporter.log()), ExpectedLog(dir));
  if (fs::exists(dir / "readings")) {
    EXPECT_EQ(Masked(readings.body), ReadFile(dir / "readings"));
  }
  if (fs::exists(dir / "calls")) {
    EXPECT_EQ(calls.CallsWithoutQueries(), ReadFile(dir / "calls"));
  }
  if (!fs::exists(KESTREL_PROMTOOL))
    GTEST_SKIP() << "promtool is not installed (Debian's prometheus): the format is not checked";
  EXPECT_EQ(Promtool(answer.body), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, ExporterCase,
                         testing::ValuesIn(CaseFolders(KESTREL_EXPORTER_CASES)),
                         [](const auto& info) { return CaseTestName(info.param); });

constexpr char kCounters[] =
    "counter 1 51000 1 gpu0_power_mw\n"
    "counter 1 52500 1 gpu1_power_mw\n"
    "counter 0 30 120 gpu0_load\n";

// The counter-library double, and the search path that finds it.
struct Double : CounterDouble {
  std::map<std::string, std::string> environment = {
      {"LD_LIBRARY_PATH", KESTREL_DOUBLES "/counterlib"}};
  explicit Double(const std::string& script = kCounters) { SetScript(script); }
  int CallsOf(const std::string& function) const {
    return static_cast<int>(std::ranges::count_if(
        Calls(), [&](const std::string& call) { return call.starts_with(function); }));
  }
};

TEST(Paths, OnlyThePageItsFilesTheReadingsAndTheMetricsAnswerAndOnlyToGetAndHead) {
  Double library;
  ExporterProcess exporter({"--web.telemetry-path", "/gpu<metrics>"}, library.environment);
  ASSERT_TRUE(exporter.listening()) << exporter.log();
  const int port = exporter.port();

  const std::string requests = ReadFile(KESTREL_EXPORTER_REQUESTS);
  HttpAnswer page = Ask(port, "/");
  EXPECT_NE(page.body.find("<a href=\"/gpu&lt;metrics&gt;\">"), std::string::npos) << page.body;
  // Every file the page names is a request of the table, served as it says.
  static const std::regex reference("(?:src|href)=\"(assets/[^\"]+)\"");
  std::sregex_iterator named(page.body.begin(), page.body.end(), reference), end;
  EXPECT_EQ(std::distance(named, end), 5) << page.body;
  for (; named != end; ++named)
    EXPECT_NE(requests.find("\nGET /" + named->str(1) + " -> 200 "), std::string::npos)
        << named->str(1);

  // Every request of the table answered as it says, each answer with the
  // headers that keep the browser to the exporter's own.
  const auto answer = [port](const std::string& request, const std::string&) {
    const size_t blank = request.find(' ');
    HttpAnswer answer = Ask(port, request.substr(blank + 1), request.substr(0, blank));
    std::string shown = std::to_string(answer.status);
    for (const char* header : {"content-type", "allow", "cache-control"}) {
      if (answer.headers.contains(header))
        shown += std::string(" ") + header + ": " + answer.headers[header];
    }
    // What is found is more than a stub; a HEAD answer gives the length of
    // the body it leaves out.
    if (answer.body.empty()) shown += " (no body)";
    if (answer.status == 200) {
      const size_t length = answer.body.empty() ? std::stoul("0" + answer.headers["content-length"])
                                                : answer.body.size();
      EXPECT_GT(length, 100u) << request;
    }
    EXPECT_EQ(answer.headers["x-content-type-options"], "nosniff") << request;
    const std::string& policy = answer.headers["content-security-policy"];
    EXPECT_NE(policy.find("default-src 'none'"), std::string::npos) << request;
    EXPECT_NE(policy.find("script-src 'self';"), std::string::npos) << request;
    EXPECT_EQ(policy.find("unsafe"), std::string::npos) << request;
    return shown;
  };
  EXPECT_EQ(WorkedOut(requests, answer), requests);

  // Two scrapes on one connection, as Prometheus keeps it, each answered
  // with the metrics.
  HttpAnswer kept = Exchange(port,
                             "GET /gpu<metrics> HTTP/1.1\r\nHost: x\r\n\r\n"
                             "GET /gpu<metrics> HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(Occurrences(kept.raw, "HTTP/1.1 200 OK\r\n"), 2) << kept.raw.substr(0, 300);
  EXPECT_EQ(Occurrences(kept.raw, "\nkestrel_power_watts{gpu=\"1\"} 52.5\n"), 2);
  EXPECT_EQ(exporter.Stop(SIGTERM), 0);
}

// Neither hostile requests nor a crowd of idle connections hold up the next
// scrape.
TEST(BadClients, AreRefusedOrLeftWaitingAndTheNextScrapeIsAnsweredAtOnce) {
  Double library;
  ExporterProcess exporter({}, library.environment);
  ASSERT_TRUE(exporter.listening()) << exporter.log();
  const int port = exporter.port();

  for (const char* request : {"GARBAGE\r\n\r\n", "GET\r\n\r\n", "GET /metrics HTTP/9.9\r\n\r\n",
                              "GET /metrics HTTP/1.1\r\nHost: x\r\nbroken header\r\n\r\n"}) {
    HttpAnswer answer = Exchange(port, request, 3000);
    EXPECT_TRUE(answer.status == 0 || (answer.status >= 400 && answer.status < 506))
        << request << " answered " << answer.status;
  }
  std::string huge = "GET /metrics HTTP/1.1\r\nHost: x\r\n";
  for (int i = 0; huge.size() < 1024 * 1024; ++i)
    huge += "X-Filler-" + std::to_string(i) + ": " + std::string(1000, 'a') + "\r\n";
  huge += "Connection: close\r\n\r\n";
  HttpAnswer answer = Exchange(port, huge, 5000);
  EXPECT_TRUE(answer.status == 0 || answer.status == 413 || answer.status == 431) << answer.status;

  std::vector<int> idle;
  for (int i = 0; i < 200; ++i) {
    int fd = Connect(port);
    ASSERT_GE(fd, 0) << "connection " << i;
    // Half of them stop in the middle of their request line.
    if (i % 2 == 1) (void)!write(fd, "GET /met", 8);
    idle.push_back(fd);
  }
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Ask(port, "/metrics").status, 200);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  for (int fd : idle) close(fd);
  EXPECT_EQ(exporter.Stop(SIGTERM), 0);
}

// The double takes its time over Sample, and says so when two threads are in
// it at once. SIGINT stops the exporter as SIGTERM does.
TEST(ConcurrentScrapers, ShareReadingsNeverEnterTheTableTwiceAtOnceAndAStopWaitsForThem) {
  Double library(std::string(kCounters) + "sleep Sample 400\n");
  ExporterProcess exporter({}, library.environment);
  ASSERT_TRUE(exporter.listening()) << exporter.log();
  std::vector<std::thread> scrapers(50);
  for (std::thread& scraper : scrapers)
    scraper = std::thread([port = exporter.port()] {
      const std::string metrics = Ask(port, "/metrics").body;
      EXPECT_NE(metrics.find("kestrel_load_ratio{gpu=\"0\"} 0.25\n"), std::string::npos) << metrics;
    });
  for (std::thread& scraper : scrapers) scraper.join();
  const int samples = library.CallsOf("Sample");
  EXPECT_LE(samples, 3);
  // Enabled once, typed once, whatever the number of scrapes.
  EXPECT_EQ(library.CallsOf("AddCounter"), 3);
  EXPECT_EQ(library.CallsOf("GetCounterAttribute"), 3);
  EXPECT_EQ(library.CallsOf("GetCounterValue"), 3 * samples);

  // Stopped in the middle of a fresh reading: the counters are removed and
  // the table shut down once it is done.
  std::this_thread::sleep_for(kPastReuse);
  std::thread scraper([port = exporter.port()] { Ask(port, "/metrics"); });
  while (library.CallsOf("Sample") == samples)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(exporter.Stop(SIGINT, 5000), 0);
  scraper.join();
  EXPECT_NE(exporter.log().find("msg=Stopping signal=SIGINT"), std::string::npos);
  const std::string calls = ReadFile(library.callsPath());
  EXPECT_TRUE(calls.ends_with("\nRemoveAllCounters\nShutdown\n")) << calls;
  EXPECT_EQ(library.CallsOf("Shutdown"), 1);
  EXPECT_EQ(library.CallsOf("OVERLAP"), 0);
}

// Twenty open pages and a scraper, each asking ten times a second: a reading
// is served again for half a second, so the counter table sees at most two
// rounds a second, and still a fresh one every half second.
TEST(ConcurrentScrapers, PagesAndAScraperCostAtMostTwoRoundsASecond) {
  Double library;
  ExporterProcess exporter({}, library.environment);
  ASSERT_TRUE(exporter.listening()) << exporter.log();
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  std::vector<std::thread> clients;
  for (int client = 0; client <= 20; ++client) {
    std::string path = client == 0 ? "/metrics" : "/api/v1/readings";
    clients.emplace_back([&, path, port = exporter.port()] {
      while (std::chrono::steady_clock::now() < until) {
        EXPECT_EQ(Ask(port, path).status, 200) << path;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    });
  }
  for (std::thread& client : clients) client.join();
  // Rounds begin at 0, 0.5, ... 3 s at the most; a little late at the least.
  EXPECT_LE(library.CallsOf("Sample"), 7);
  EXPECT_GE(library.CallsOf("Sample"), 5);
  EXPECT_EQ(library.CallsOf("OVERLAP"), 0);
  EXPECT_EQ(exporter.Stop(SIGTERM), 0);
}

TEST(Lifecycle, ACounterLibraryInstalledLaterIsBoundWithoutARestart) {
  Double library;
  ScratchDir folder;
  ExporterProcess exporter({}, {{"LD_LIBRARY_PATH", folder.path().string()}});
  ASSERT_TRUE(exporter.listening()) << exporter.log();
  EXPECT_NE(Ask(exporter.port(), "/metrics").body.find("\nkestrel_up 0\n"), std::string::npos);
  std::this_thread::sleep_for(kPastReuse);
  fs::create_symlink(KESTREL_DOUBLES "/counterlib/libnvpmapi.so", folder / "libnvpmapi.so");
  HttpAnswer answer = Ask(exporter.port(), "/metrics");
  EXPECT_NE(answer.body.find("\nkestrel_up 1\n"), std::string::npos);
  EXPECT_NE(answer.body.find("kestrel_power_watts{gpu=\"0\"} 51\n"), std::string::npos);
  EXPECT_EQ(exporter.Stop(SIGTERM), 0);
  // Two failed bindings (start and scrape), said once.
  EXPECT_EQ(Occurrences(exporter.log(), "Cannot bind the counter table"), 1) << exporter.log();
  EXPECT_EQ(Occurrences(exporter.log(), "Counter table bound"), 1) << exporter.log();
}

TEST(Lifecycle, APortInUseIsSaidAndExitsWithOne) {
  ExporterProcess holder({}, {});  // the port taken
  ASSERT_TRUE(holder.listening()) << holder.log();
  const std::string where = "127.0.0.1:" + std::to_string(holder.port());
  Double library;
  ExporterProcess exporter({"--web.listen-address=" + where}, library.environment);
  EXPECT_EQ(exporter.Wait(), 1);
  EXPECT_NE(exporter.log().find("level=error msg=\"Cannot listen\" address=" + where +
                                " why=\"Address already in use\""),
            std::string::npos)
      << exporter.log();
  EXPECT_EQ(library.CallsOf("Init"), 0);  // nothing bound for a server that cannot serve
}

// "[::1]:PORT" is IPv6 loopback alone; ":PORT", as exporters are usually
// started, every interface, IPv4 too.
TEST(Lifecycle, ListensWhereTheAddressSays) {
  const struct {
    const char* address;
    const char* logged;  // the address the log gives, a pattern
    bool ipv4;           // answers over IPv4 loopback
  } cases[] = {{":0", "address=(\\[::\\]|0\\.0\\.0\\.0):", true},
               {"[::1]:0", "address=\\[::1\\]:", false}};
  Double library;
  for (const auto& [address, logged, ipv4] : cases) {
    SCOPED_TRACE(address);
    ExporterProcess exporter({"--web.listen-address", address}, library.environment);
    if (!ipv4 && !exporter.listening() && exporter.log().find("Cannot listen") != std::string::npos)
      GTEST_SKIP() << "no IPv6 loopback here: " << exporter.log();
    ASSERT_TRUE(exporter.listening()) << exporter.log();
    const std::string log = exporter.log();
    EXPECT_TRUE(std::regex_search(log, std::regex(logged))) << log;
    EXPECT_EQ(Ask(exporter.port(), "/metrics").status == 200, ipv4);
    // IPv6 loopback reaches it exactly when it listens on IPv6.
    const int fd = Connect(exporter.port(), "::1");
    EXPECT_EQ(fd >= 0, log.find("address=[::") != std::string::npos) << log;
    if (fd >= 0) close(fd);
    EXPECT_EQ(exporter.Stop(SIGTERM), 0);
  }
}

}  // namespace
