// Files no one should write, given to the plug-in in kestrelhost and to
// kestrelhost check. Neither ever crashes; the plug-in loads what the
// reading rules give, and check refuses what is no configuration file with a
// clear message on standard error, exit status 2 and nothing on standard
// output. And what JSON must escape.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "check_support.h"
#include "counter_double.h"
#include "plugin_under_test.h"
#include "process.h"
#include "scratch.h"

namespace fs = std::filesystem;
using namespace testing_support;
using namespace std::string_literals;

namespace {

constexpr size_t kReadersLimit = 64u << 20;

// In the plug-in's folder: kestrel.so, and kestrel.cfg as each test makes it.
class HostileInput : public testing::Test {
 protected:
  HostileInput() { library_.SetScript("counter 1 300 1 raw\ncounter 1 5 1 five\ncounter 1 6 1 six\n"); }

  HostRun Check(const std::string& file) { return RunHostIn(dir_, {"check", file}, ""); }

  void ExpectRefused(const std::string& file, const std::string& why) {
    HostRun run = Check(file);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "kestrelhost: cannot read " + file + ": " + why + "\n");
  }

  // The plug-in polled once in kestrelhost, which must end normally: its
  // first line, "kestrel.so: N sources".
  std::string Plugin() {
    HostRun run = RunHostIn(dir_, {"./kestrel.so", "--polls", "1", "--interval", "0"},
                            Doubles("counterlib"));
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exitCode, 0);
    output_ = run.out;
    return SplitLines(run.out).empty() ? "" : SplitLines(run.out)[0];
  }

  CounterDouble library_;
  PluginFolder folder_;
  const fs::path dir_ = folder_.plugin().parent_path();
  const fs::path cfg_ = folder_.configuration();
  std::string output_;
};

std::string RandomBytes(unsigned seed, size_t size, bool withNul) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) {
    do byte = static_cast<char>(generator() & 0xFF);
    while (!withNul && byte == '\0');
  }
  return bytes;
}

// A text file of exactly `size` bytes with one source: a long comment fills it.
void WriteTextOfSize(const fs::path& path, size_t size) {
  std::string head = "[Source0]\nID=1\n;";
  std::ofstream file(path, std::ios::binary);
  file << head << std::string(size - head.size() - 1, 'x') << '\n';
}

TEST_F(HostileInput, AMissingFileOrADanglingLinkIsRefusedAndGivesNoSources) {
  ExpectRefused("kestrel.cfg", "No such file or directory");
  EXPECT_EQ(Plugin(), "kestrel.so: 0 sources");
  fs::create_symlink(dir_ / "elsewhere.cfg", cfg_);
  ExpectRefused("kestrel.cfg", "No such file or directory");
}

TEST_F(HostileInput, ALinkToAFileIsRead) {
  WriteFile(dir_ / "real.cfg", "[Source0]\nID=1\nFoo=1\n");
  fs::create_symlink(dir_ / "real.cfg", cfg_);
  HostRun run = Check("kestrel.cfg");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out.rfind("kestrel.cfg:3: \"Foo\"", 0), 0u) << run.out;
}

// A directory opens, but reading it fails; a FIFO without a writer would
// block a reader.
TEST_F(HostileInput, ADirectoryAFifoOrADeviceIsRefusedWithoutWaitingAndGivesNoSources) {
  fs::create_directory(cfg_);
  ExpectRefused("kestrel.cfg", "it is a directory");
  EXPECT_EQ(Plugin(), "kestrel.so: 0 sources");
  fs::remove(cfg_);
  ASSERT_EQ(mkfifo(cfg_.c_str(), 0600), 0);
  ExpectRefused("kestrel.cfg", "it is not a regular file");
  EXPECT_EQ(Plugin(), "kestrel.so: 0 sources");
  ExpectRefused("/dev/zero", "it is not a regular file");
}

TEST_F(HostileInput, AFileWithoutReadPermissionIsRefused) {
  WriteFile(cfg_, "[Source0]\nID=1\n");
  fs::permissions(cfg_, fs::perms::none);
  if (access(cfg_.c_str(), R_OK) == 0) GTEST_SKIP() << "this user may read any file";
  ExpectRefused("kestrel.cfg", "Permission denied");
}

// A regular file whose reading fails half-way, for any user.
TEST_F(HostileInput, AFileWhoseReadingFailsIsRefused) {
  ExpectRefused("/proc/self/mem", "Input/output error");
}

// The plug-in reads a file up to its limit and no further; check draws the
// line at the same byte.
TEST_F(HostileInput, AFileBeyondThePluginsLimitIsRefusedAndOneAtTheLimitIsRead) {
  WriteTextOfSize(cfg_, kReadersLimit);
  HostRun atLimit = Check("kestrel.cfg");
  EXPECT_EQ(atLimit.exitCode, 0);
  EXPECT_EQ(atLimit.out, "");
  EXPECT_EQ(Plugin(), "kestrel.so: 1 source");

  WriteTextOfSize(cfg_, kReadersLimit + 1);
  ExpectRefused("kestrel.cfg", "it is larger than 64 MiB, the most that is read");
  EXPECT_EQ(Plugin(), "kestrel.so: 0 sources");
}

TEST_F(HostileInput, ASparseFileOfGigabytesIsRefusedAtOnce) {
  { std::ofstream create(cfg_); }
  fs::resize_file(cfg_, 4ull << 30);
  ExpectRefused("kestrel.cfg", "it is larger than 64 MiB, the most that is read");
}

// The reader ends a value at a NUL byte and spoils a name that holds one,
// so check takes such a file for a binary one and names the line.
TEST_F(HostileInput, NulBytesEndAValueSpoilANameAndMakeABinaryFile) {
  WriteFile(cfg_, "[Source0]\nID=1\0 junk\nName=ab\0cd\n[Sour\0ce1]\nID=2\n"s);
  EXPECT_EQ(Plugin(), "kestrel.so: 1 source");
  EXPECT_NE(output_.find("\n0   ab "), std::string::npos) << output_;
  ExpectRefused("kestrel.cfg", "it is not a text file: line 2 holds a NUL byte");
  WriteFile(cfg_, "[Source0]\r\nID=1\rName=ab\0cd\n"s);
  ExpectRefused("kestrel.cfg", "it is not a text file: line 3 holds a NUL byte");
  WriteFile(cfg_, "[Source0]\n\0"s);
  ExpectRefused("kestrel.cfg", "it is not a text file: line 2 holds a NUL byte");
}

// With its byte-order mark a UTF-16 file is read as the plug-in reads it;
// without one it is a file full of NUL bytes.
TEST_F(HostileInput, AFileSavedAsUtf16IsReadWithItsMarkOnly) {
  const std::string text = "[\0S\0o\0u\0r\0c\0e\0\x30\0]\0\n\0I\0D\0=\0\x31\0\n\0N\0m\0e\0=\0x\0"s;
  WriteFile(cfg_, "\xFF\xFE"s + text);
  HostRun run = Check("kestrel.cfg");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "kestrel.cfg:3: \"Nme\" is not a key the plug-in reads: did you mean Name?\n");
  WriteFile(cfg_, text);
  ExpectRefused("kestrel.cfg", "it is not a text file: line 1 holds a NUL byte");
}

TEST_F(HostileInput, RandomBytesNeverCrash) {
  for (unsigned seed = 1; seed <= 4; ++seed) {
    WriteFile(cfg_, RandomBytes(seed, 64 * 1024, true));
    HostRun binary = Check("kestrel.cfg");
    EXPECT_EQ(binary.signal, 0) << "seed " << seed;
    EXPECT_EQ(binary.exitCode, 2) << "seed " << seed;
    EXPECT_EQ(Plugin(), "kestrel.so: 0 sources") << "seed " << seed;
  }
}

TEST_F(HostileInput, SourcesAmidRandomBytesStillLoadAndAreReported) {
  for (unsigned seed = 1; seed <= 4; ++seed) {
    WriteFile(cfg_, RandomBytes(seed, 64 * 1024, false) + "\n[Source0]\nID=1\nName=found\n" +
                        RandomBytes(seed + 100, 4096, false));
    EXPECT_EQ(Plugin(), "kestrel.so: 1 source") << "seed " << seed;
    EXPECT_NE(output_.find("found"), std::string::npos);
    HostRun text = RunHostIn(dir_, {"check", "--json", "kestrel.cfg"}, "");
    EXPECT_EQ(text.signal, 0) << "seed " << seed;
    EXPECT_EQ(text.exitCode, 1) << "seed " << seed;
    EXPECT_EQ(text.out.back(), '\n');
  }
}

TEST_F(HostileInput, TenThousandSectionsGiveTenThousandSources) {
  std::string text;
  for (int i = 0; i < 10000; ++i)
    text += "[Source" + std::to_string(i) + "]\nID=" + std::to_string(i % 3) + "\n";
  text += "[Source0]\nID=\n";  // a repeated section is never searched
  WriteFile(cfg_, text);
  EXPECT_EQ(Plugin(), "kestrel.so: 10000 sources");
}

TEST_F(HostileInput, MegabyteLinesAreCutToTheirFields) {
  const std::string megabyte(1 << 20, 'x');
  WriteFile(cfg_, "[" + megabyte + "]\n" + megabyte + "\n[Source0]\nID=2" +
                      std::string(1 << 20, ' ') + "x\nName=" + megabyte + "\nMaxLimit=1" +
                      std::string(1 << 20, '0') + "\n");
  EXPECT_EQ(Plugin(), "kestrel.so: 1 source");
  EXPECT_NE(output_.find("\n0   " + std::string(31, 'x') + " Raw"), std::string::npos) << output_;
  EXPECT_EQ(library_.Calls().back(), "Shutdown");
  EXPECT_NE(ReadFile(library_.callsPath()).find("AddCounter 2\n"), std::string::npos);
}

// Every string is escaped, and a byte that is not UTF-8 is taken as Latin-1,
// so the output stays valid JSON whatever the file holds.
TEST_F(HostileInput, JsonEscapesTheFileNameAndTheValues) {
  const std::string name = "we\"ird\\name.cfg";
  WriteFile(dir_ / name, "[Source0]\nID=1\nName=caf\xC3\xA9 \xFF\x01" + std::string(30, 'x') + "\n");
  HostRun run = RunHostIn(dir_, {"check", "--json", name}, "");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out,
            "[\n"
            "  {\"file\": \"we\\\"ird\\\\name.cfg\", \"line\": 3, \"kind\": \"text-cut\", "
            "\"message\": \"Name is 38 characters long: only its first 31 are kept, "
            "\\\"caf\xC3\xA9 \\u00ff\\\\x01" +
                std::string(23, 'x') +
                "\\\"\"}\n"
                "]\n");
}

}  // namespace
