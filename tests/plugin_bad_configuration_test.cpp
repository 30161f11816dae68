// Configuration files no one should write, read by the plug-in in kestrelhost:
// the host never crashes and the plug-in loads what the reading rules give.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>

#include "counter_double.h"
#include "plugin_under_test.h"
#include "process.h"
#include "scratch.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

class BadConfiguration : public testing::Test {
 protected:
  BadConfiguration() {
    library_.SetScript("counter 1 300 1 raw\ncounter 1 5 1 five\ncounter 1 6 1 six\n");
  }

  // kestrelhost's first line, "kestrel.so: N sources", after checking that
  // it ended normally.
  std::string RunHost() {
    ProgramOptions options;
    options.arguments = {folder_.plugin().string(), "--polls", "1", "--interval", "0"};
    options.timeoutSeconds = 30;
    ProgramRun run = RunProgram(KESTRELHOST, options);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exitCode, 0);
    output_ = run.output;
    return SplitLines(run.output).empty() ? "" : SplitLines(run.output)[0];
  }

  CounterDouble library_;
  PluginFolder folder_;
  std::string output_;
};

std::string RandomBytes(unsigned seed, size_t size) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(generator() & 0xFF);
  return bytes;
}

TEST_F(BadConfiguration, RandomBytesNeverCrash) {
  for (unsigned seed = 1; seed <= 5; ++seed) {
    folder_.WriteConfiguration(RandomBytes(seed, 64 * 1024));
    EXPECT_EQ(RunHost(), "kestrel.so: 0 sources") << "seed " << seed;
  }
}

TEST_F(BadConfiguration, SourcesAmidRandomBytesStillLoad) {
  folder_.WriteConfiguration(RandomBytes(7, 4096) + "\n[Source0]\nID=1\nName=found\n" +
                             RandomBytes(8, 4096));
  EXPECT_EQ(RunHost(), "kestrel.so: 1 source");
  EXPECT_NE(output_.find("found"), std::string::npos);
}

TEST_F(BadConfiguration, NulBytesEndAValueAndSpoilANameThatHoldsThem) {
  using namespace std::string_literals;
  folder_.WriteConfiguration("[Source0]\nID=1\0 junk\nName=ab\0cd\n[Sour\0ce1]\nID=2\n"s);
  EXPECT_EQ(RunHost(), "kestrel.so: 1 source");
  EXPECT_NE(output_.find("\n0   ab "), std::string::npos) << output_;
}

TEST_F(BadConfiguration, TenThousandSectionsGiveTenThousandSources) {
  std::string text;
  for (int i = 0; i < 10000; ++i)
    text += "[Source" + std::to_string(i) + "]\nID=" + std::to_string(i % 3) + "\n";
  text += "[Source0]\nID=\n";  // a repeated section is never searched
  folder_.WriteConfiguration(text);
  EXPECT_EQ(RunHost(), "kestrel.so: 10000 sources");
}

TEST_F(BadConfiguration, MegabyteLinesAreCutToTheirFields) {
  const std::string megabyte(1 << 20, 'x');
  folder_.WriteConfiguration("[" + megabyte + "]\n" + megabyte + "\n[Source0]\nID=2" +
                             std::string(1 << 20, ' ') + "x\nName=" + megabyte + "\nMaxLimit=1" +
                             std::string(1 << 20, '0') + "\n");
  EXPECT_EQ(RunHost(), "kestrel.so: 1 source");
  EXPECT_NE(output_.find("\n0   " + std::string(31, 'x') + " Raw"), std::string::npos) << output_;
  EXPECT_EQ(library_.Calls().back(), "Shutdown");
  EXPECT_NE(ReadFile(library_.callsPath()).find("AddCounter 2\n"), std::string::npos);
}

TEST_F(BadConfiguration, MissingFileGivesNoSources) {
  EXPECT_EQ(RunHost(), "kestrel.so: 0 sources");
}

TEST_F(BadConfiguration, UnreadableFilesGiveNoSources) {
  fs::create_directory(folder_.configuration());  // opens, but reads fail
  EXPECT_EQ(RunHost(), "kestrel.so: 0 sources");
  fs::remove(folder_.configuration());
  ASSERT_EQ(mkfifo(folder_.configuration().c_str(), 0600), 0);  // no writer: must not block
  EXPECT_EQ(RunHost(), "kestrel.so: 0 sources");
}

}  // namespace
