#include "scratch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "counters.h"

namespace testing_support {

ScratchDir::ScratchDir() {
  static std::atomic<int> serial{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  path_ = std::filesystem::temp_directory_path() /
          ("kestrel-test-" + std::to_string(stamp) + "-" + std::to_string(serial++));
  std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& content) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) throw std::runtime_error("cannot write " + path.string());
  file << content;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) lines.push_back(line);
  return lines;
}

std::vector<std::string> CaseFolders(const std::filesystem::path& root) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(root))
    if (entry.is_directory()) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadIfPresent(const std::filesystem::path& path) {
  return std::filesystem::exists(path) ? ReadFile(path) : "";
}

std::string ReadWord(const std::filesystem::path& path, const std::string& otherwise) {
  std::string text = ReadIfPresent(path);
  text.erase(text.find_last_not_of("\r\n") + 1);
  return text.empty() ? otherwise : text;
}

std::string CaseTestName(const std::string& name) {
  return std::regex_replace(name, std::regex("[^A-Za-z0-9]"), "_");
}

std::string WorkedOut(
    const std::string& table,
    const std::function<std::string(const std::string& input, const std::string& written)>& result) {
  std::string worked;
  for (const std::string& line : SplitLines(table)) {
    const size_t arrow = line.rfind(" -> ");
    if (line.starts_with("#") || arrow == std::string::npos)
      worked += line;
    else
      worked += line.substr(0, arrow + 4) + result(line.substr(0, arrow), line.substr(arrow + 4));
    worked += "\n";
  }
  return worked;
}

std::string Unescaped(const std::string& text) {
  std::string bytes;
  for (size_t at = 0; at < text.size(); ++at) {
    if (text.compare(at, 2, "\\t") == 0 || text.compare(at, 2, "\\n") == 0) {
      bytes += text[++at] == 't' ? '\t' : '\n';
    } else if (text.compare(at, 2, "\\x") == 0 && at + 3 < text.size()) {
      bytes += static_cast<char>(std::stoi(text.substr(at + 2, 2), nullptr, 16));
      at += 3;
    } else {
      bytes += text[at];
    }
  }
  return bytes;
}

std::string WithCounters(const std::string& expected, const std::filesystem::path& script) {
  const auto gpus =
      std::ranges::count_if(SplitLines(ReadIfPresent(script)),
                            [](const std::string& line) { return line.starts_with("gpu "); });
  return std::regex_replace(expected, std::regex("<counters>"),
                            std::to_string(nvpm::kCountersPerGpu * gpus));
}

std::string AsWritten(const std::string& text) {
#ifdef _WIN32
  return std::regex_replace(text, std::regex("\n"), "\r\n");
#else
  return text;
#endif
}

}  // namespace testing_support
