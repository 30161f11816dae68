// kestrelhost check on what is no configuration file and on command lines it
// does not take: a clear message on standard error, exit status 2, nothing
// on standard output, never a crash. And what JSON must escape.
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

class CheckInput : public testing::Test {
 protected:
  HostRun Check(const std::string& file) { return RunHostIn(dir_.path(), {"check", file}, ""); }

  void ExpectRefused(const std::string& file, const std::string& why) {
    HostRun run = Check(file);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "kestrelhost: cannot read " + file + ": " + why + "\n");
  }

  ScratchDir dir_;
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

TEST_F(CheckInput, AMissingFileOrADanglingLinkIsRefused) {
  ExpectRefused("kestrel.cfg", "No such file or directory");
  fs::create_symlink(dir_ / "elsewhere.cfg", dir_ / "kestrel.cfg");
  ExpectRefused("kestrel.cfg", "No such file or directory");
}

TEST_F(CheckInput, ALinkToAFileIsRead) {
  WriteFile(dir_ / "real.cfg", "[Source0]\nID=1\nFoo=1\n");
  fs::create_symlink(dir_ / "real.cfg", dir_ / "kestrel.cfg");
  HostRun run = Check("kestrel.cfg");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out.rfind("kestrel.cfg:3: \"Foo\"", 0), 0u) << run.out;
}

TEST_F(CheckInput, ADirectoryIsRefused) {
  fs::create_directory(dir_ / "kestrel.cfg");
  ExpectRefused("kestrel.cfg", "it is a directory");
}

TEST_F(CheckInput, AFifoOrADeviceIsRefusedWithoutWaiting) {
  ASSERT_EQ(mkfifo((dir_ / "kestrel.cfg").c_str(), 0600), 0);  // no writer: reading would block
  ExpectRefused("kestrel.cfg", "it is not a regular file");
  ExpectRefused("/dev/zero", "it is not a regular file");
}

TEST_F(CheckInput, AFileWithoutReadPermissionIsRefused) {
  WriteFile(dir_ / "kestrel.cfg", "[Source0]\nID=1\n");
  fs::permissions(dir_ / "kestrel.cfg", fs::perms::none);
  if (access((dir_ / "kestrel.cfg").c_str(), R_OK) == 0)
    GTEST_SKIP() << "this user may read any file";
  ExpectRefused("kestrel.cfg", "Permission denied");
}

// A regular file whose reading fails half-way, for any user.
TEST_F(CheckInput, AFileWhoseReadingFailsIsRefused) {
  ExpectRefused("/proc/self/mem", "Input/output error");
}

// The plug-in reads a file up to its limit and no further; check draws the
// line at the same byte.
TEST_F(CheckInput, AFileBeyondThePluginsLimitIsRefusedAndOneAtTheLimitIsRead) {
  CounterDouble library;
  library.SetScript("counter 1 300 1 raw\n");
  PluginFolder folder;
  WriteTextOfSize(folder.configuration(), kReadersLimit);
  HostRun atLimit = RunHostIn(folder.plugin().parent_path(), {"check", "kestrel.cfg"}, "");
  EXPECT_EQ(atLimit.exitCode, 0);
  EXPECT_EQ(atLimit.out, "");
  HostRun plugin = RunHostIn(folder.plugin().parent_path(), {"./kestrel.so", "--interval", "0"},
                             Doubles("counterlib"));
  EXPECT_EQ(SplitLines(plugin.out).at(0), "kestrel.so: 1 source");

  WriteTextOfSize(folder.configuration(), kReadersLimit + 1);
  HostRun beyond = RunHostIn(folder.plugin().parent_path(), {"check", "kestrel.cfg"}, "");
  EXPECT_EQ(beyond.exitCode, 2);
  EXPECT_EQ(beyond.out, "");
  EXPECT_EQ(beyond.err,
            "kestrelhost: cannot read kestrel.cfg: it is larger than 64 MiB, the most that is "
            "read\n");
  plugin = RunHostIn(folder.plugin().parent_path(), {"./kestrel.so", "--interval", "0"},
                     Doubles("counterlib"));
  EXPECT_EQ(SplitLines(plugin.out).at(0), "kestrel.so: 0 sources");
}

TEST_F(CheckInput, ASparseFileOfGigabytesIsRefusedAtOnce) {
  { std::ofstream create(dir_ / "kestrel.cfg"); }
  fs::resize_file(dir_ / "kestrel.cfg", 4ull << 30);
  ExpectRefused("kestrel.cfg", "it is larger than 64 MiB, the most that is read");
}

// The reader would end a value at a NUL byte, whatever the file is meant to be.
TEST_F(CheckInput, NulBytesMakeABinaryFileAndTheLineIsNamed) {
  WriteFile(dir_ / "kestrel.cfg", "[Source0]\r\nID=1\rName=ab\0cd\n"s);
  ExpectRefused("kestrel.cfg", "it is not a text file: line 3 holds a NUL byte");
  WriteFile(dir_ / "kestrel.cfg", "[Source0]\n\0"s);
  ExpectRefused("kestrel.cfg", "it is not a text file: line 2 holds a NUL byte");
}

// With its byte-order mark a UTF-16 file is read as the plug-in reads it;
// without one it is a file full of NUL bytes.
TEST_F(CheckInput, AFileSavedAsUtf16IsReadWithItsMarkOnly) {
  const std::string text = "[\0S\0o\0u\0r\0c\0e\0\x30\0]\0\n\0I\0D\0=\0\x31\0\n\0N\0m\0e\0=\0x\0"s;
  WriteFile(dir_ / "kestrel.cfg", "\xFF\xFE"s + text);
  HostRun run = Check("kestrel.cfg");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "kestrel.cfg:3: \"Nme\" is not a key the plug-in reads: did you mean Name?\n");
  WriteFile(dir_ / "kestrel.cfg", text);
  ExpectRefused("kestrel.cfg", "it is not a text file: line 1 holds a NUL byte");
}

TEST_F(CheckInput, RandomBytesNeverCrash) {
  for (unsigned seed = 1; seed <= 4; ++seed) {
    WriteFile(dir_ / "kestrel.cfg", RandomBytes(seed, 64 * 1024, true));
    HostRun binary = Check("kestrel.cfg");
    EXPECT_EQ(binary.signal, 0) << "seed " << seed;
    EXPECT_EQ(binary.exitCode, 2) << "seed " << seed;

    WriteFile(dir_ / "kestrel.cfg", RandomBytes(seed, 64 * 1024, false) +
                                        "\n[Source0]\nID=1\n[Source1]\n" +
                                        RandomBytes(seed + 100, 4096, false));
    HostRun text = RunHostIn(dir_.path(), {"check", "--json", "kestrel.cfg"}, "");
    EXPECT_EQ(text.signal, 0) << "seed " << seed;
    EXPECT_EQ(text.exitCode, 1) << "seed " << seed;
    EXPECT_EQ(text.out.back(), '\n');
  }
}

// Every string is escaped, and a byte that is not UTF-8 is taken as Latin-1,
// so the output stays valid JSON whatever the file holds.
TEST_F(CheckInput, JsonEscapesTheFileNameAndTheValues) {
  const std::string name = "we\"ird\\name.cfg";
  WriteFile(dir_ / name, "[Source0]\nID=1\nName=caf\xC3\xA9 \xFF\x01" + std::string(30, 'x') + "\n");
  HostRun run = RunHostIn(dir_.path(), {"check", "--json", name}, "");
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

TEST(CheckCommandLine, WrongCommandLinesExitWith2AndSayHowItGoes) {
  const std::vector<std::vector<std::string>> wrong = {
      {"check"},         {"check", "a.cfg", "b.cfg"}, {"check", "--xml", "a.cfg"},
      {"init", "extra"}, {"init", "--out"},           {"init", "--out", "a", "--out", "b"}};
  ScratchDir dir;
  for (const auto& arguments : wrong) {
    HostRun run = RunHostIn(dir.path(), arguments, "");
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exitCode, 2) << testing::PrintToString(arguments);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("usage: kestrelhost PLUGIN", 0), 0u) << run.err;
    EXPECT_NE(run.err.find("kestrelhost check CONFIG [--json]"), std::string::npos);
  }
}

}  // namespace
