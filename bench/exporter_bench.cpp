// kestrel-exporter's own cost of a scrape, over the counter library over NVML
// with the fake NVML behind it answering at once, with KESTREL_BENCH_GPUS
// GPUs (bench/run measures 1 and 8):
//   - ReadsInAPlainLoop: Sample and every counter's GetCounterValue, the
//     reads a scrape cannot do without (the baseline);
//   - ScrapeServerSide: the same round through the exporter's session, and
//     the exposition written from it;
//   - PageReadingServerSide: the same round, and the live page's JSON;
//   - ScrapeKeepAlive: a whole scrape through the HTTP server, from a client
//     on loopback that keeps its connection, as Prometheus does; scrapes
//     this close together are answered from a reading served again, so this
//     is the exporter's cost of a scrape beside the round;
//   - ScrapeNewConnection: the same, connecting anew each time;
//   - ScrapeKeepAlive/EmptyAnswer: the same HTTP server answering a fixed short text
//     without reading anything: what HTTP over loopback costs on its own.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "counter_api.h"
#include "counter_session.h"
#include "exposition.h"
#include "http_server.h"
#include "readings_json.h"
#include "routes.h"
#include "service.h"
#include "shared_readings.h"

namespace {

int Gpus() {
  const char* gpus = std::getenv("KESTREL_BENCH_GPUS");
  return gpus != nullptr ? std::atoi(gpus) : 8;
}

// Every field the counter library reads, for each GPU.
std::string Script(int gpus) {
  std::string script;
  for (int gpu = 0; gpu < gpus; ++gpu) {
    char bus[32];
    std::snprintf(bus, sizeof bus, "gpu 0000:%02x:00.0\n", 0x10 + gpu);
    script += bus;
    script += "utilization_gpu 40\nutilization_memory 20\nencoder 1\ndecoder 2\nfan 50\n"
              "memory_total 25769803776\nmemory_used 1073741824\npower 250000\n"
              "power_limit 350000\nclock_graphics 1500\nclock_sm 1500\nclock_mem 5000\n"
              "max_clock_sm 1980\ntemperature 60\npcie_tx 1000\npcie_rx 2000\nthrottle 0\n";
  }
  return script;
}

exporter::CounterSession& Session() {
  static exporter::CounterSession* session = [] {
    const auto script = std::filesystem::temp_directory_path() / "kestrel-exporter-bench";
    std::ofstream(script) << Script(Gpus());
    setenv("KESTREL_NVML_SCRIPT", script.c_str(), 1);
    auto* opened = new exporter::CounterSession(std::nullopt);
    bool bound = opened->Open();
    std::filesystem::remove(script);
    if (!bound) {
      std::fprintf(stderr, "cannot bind the NVML counter library: check LD_LIBRARY_PATH\n");
      std::exit(1);
    }
    return opened;
  }();
  return *session;
}

void ReadsInAPlainLoop(benchmark::State& state) {
  // The counters the session enabled, read as a scrape reads them.
  auto counters = Session().Read().counters;
  for (auto _ : state) {
    uint32_t count = 0;
    benchmark::DoNotOptimize(CounterApiTable.Sample(nullptr, &count));
    for (const exporter::ExportedCounter& counter : *counters) {
      uint64_t value = 0, cycles = 0;
      benchmark::DoNotOptimize(CounterApiTable.GetCounterValue(counter.index, 0, &value, &cycles));
    }
    benchmark::ClobberMemory();
  }
  state.counters["gpus"] = Gpus();
  state.counters["counters"] = static_cast<double>(counters->size());
}

void ScrapeServerSide(benchmark::State& state) {
  size_t bytes = 0;
  exporter::ExpositionWriter writer("bench");
  for (auto _ : state) {
    std::string text = writer.Write(Session().Read());
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}

// What a live page's request costs the exporter when it takes a reading of
// its own: the round, then the JSON.
void PageReadingServerSide(benchmark::State& state) {
  size_t bytes = 0;
  for (auto _ : state) {
    std::string json = exporter::ReadingsJson(Session().Read());
    bytes = json.size();
    benchmark::DoNotOptimize(json.data());
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}

int Connect(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  close(fd);
  return -1;
}

// One GET on a kept connection: the answer's headers, then as many bytes as
// their Content-Length says.
bool GetKept(int fd, std::string& answer) {
  const char request[] = "GET /metrics HTTP/1.1\r\nHost: b\r\n\r\n";
  if (write(fd, request, sizeof request - 1) != sizeof request - 1) return false;
  answer.clear();
  size_t end = std::string::npos, length = 0;
  char buffer[65536];
  while (end == std::string::npos || answer.size() < end + 4 + length) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) return false;
    answer.append(buffer, static_cast<size_t>(got));
    if (end == std::string::npos && (end = answer.find("\r\n\r\n")) != std::string::npos) {
      size_t field = answer.find("Content-Length: ");
      if (field == std::string::npos || field > end) return false;
      length = std::stoul(answer.substr(field + 16));
    }
  }
  return answer.compare(0, 12, "HTTP/1.1 200") == 0;
}

std::string Get(int port) {
  std::string answer;
  if (int fd = Connect(port); fd >= 0) {
    const char request[] = "GET /metrics HTTP/1.1\r\nHost: b\r\nConnection: close\r\n\r\n";
    (void)!write(fd, request, sizeof request - 1);
    char buffer[65536];
    for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) answer.append(buffer, got);
    close(fd);
  }
  return answer;
}

// The exporter's HTTP server in this process, on a free loopback port,
// answering as the exporter does, or a fixed text.
struct Server {
  exporter::SharedReadings readings{Session()};
  std::unique_ptr<exporter::HttpServer> http;
  int port = 0;
  explicit Server(bool empty = false) {
    std::string why;
    int socket = platform::ListenOn("127.0.0.1:0", &why);
    std::string address = platform::BoundAddress(socket);
    port = std::stoi(address.substr(address.rfind(':') + 1));
    exporter::Handler fixed = [](std::string_view, std::string_view) {
      return exporter::Response{200, "text/plain", "kestrel_up 1\n", {}};
    };
    http = exporter::HttpServer::Start(
        socket, empty ? fixed : exporter::Routes(readings, "/metrics", "bench"));
  }
};

void ScrapeKeepAlive(benchmark::State& state, bool empty) {
  Server server(empty);
  int fd = Connect(server.port);
  std::string answer;
  for (auto _ : state)
    if (!GetKept(fd, answer)) state.SkipWithError("the scrape failed");
  close(fd);
}

void ScrapeNewConnection(benchmark::State& state) {
  Server server;
  for (auto _ : state)
    if (Get(server.port).compare(0, 12, "HTTP/1.1 200") != 0) state.SkipWithError("the scrape failed");
}

BENCHMARK(ReadsInAPlainLoop);
BENCHMARK(ScrapeServerSide);
BENCHMARK(PageReadingServerSide);
BENCHMARK_CAPTURE(ScrapeKeepAlive, , false)->UseRealTime();
BENCHMARK_CAPTURE(ScrapeKeepAlive, EmptyAnswer, true)->UseRealTime();
BENCHMARK(ScrapeNewConnection)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
