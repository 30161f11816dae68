// What `kestrelhost check` found in a configuration file, and how it prints
// it: one line each, "FILE:LINE: explanation", or a JSON array.
#pragma once

#include <string>
#include <vector>

struct Finding {
  int line;
  const char* kind;  // a short fixed word: "never-read", "text-cut", ...
  std::string message;
};

class Findings {
 public:
  void Add(int line, const char* kind, std::string message);
  bool empty() const { return findings_.empty(); }

  // In line order; findings on one line in the order they were made.
  void PrintText(const char* file) const;
  void PrintJson(const char* file) const;

 private:
  std::vector<Finding> Sorted() const;
  std::vector<Finding> findings_;
};

// `text` as a JSON string, quotes included. Bytes that are not UTF-8 are
// taken as Latin-1, so the result is always valid JSON.
std::string JsonString(const std::string& text);
