// The plug-in's four entry points, called by this test program, built
// twice. Playing the monitoring host (PluginTest), it exports GetHostAppID
// from its executable: each test loads a fresh copy of the plug-in, next to
// its own configuration file, with the counter-library double behind it.
// Not playing it (NotTheHost), its executable does not export GetHostAppID,
// though a library it loaded globally does: the plug-in must describe
// nothing there; its other entry points work as anywhere else, the log's
// sharing rule among them. Every test runs in its own process.
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <sstream>

#include "counter_double.h"
#include "module.h"
#include "platform.h"
#include "plugin_under_test.h"
#include "scratch.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

// The plug-in loaded into this process, which then plays the monitoring host.
class LoadedPlugin {
 public:
  explicit LoadedPlugin(const fs::path& path)
      : module_(platform::LoadPlugin(path.string().c_str())) {
    if (module_ == nullptr) throw std::runtime_error(platform::LastLoadError());
    Resolve(GetSourcesNum, "GetSourcesNum");
    Resolve(GetSourceDesc, "GetSourceDesc");
    Resolve(GetSourceCaps, "GetSourceCaps");
    Resolve(GetSourceData, "GetSourceData");
  }
  ~LoadedPlugin() { platform::UnloadPlugin(module_); }
  LoadedPlugin(const LoadedPlugin&) = delete;
  LoadedPlugin& operator=(const LoadedPlugin&) = delete;

  uint32_t (*GetSourcesNum)() = nullptr;
  int32_t (*GetSourceDesc)(uint32_t index, void* record) = nullptr;
  int32_t (*GetSourceCaps)(uint32_t ignored, uint32_t capability, int32_t* result) = nullptr;
  float (*GetSourceData)(uint32_t index) = nullptr;

 private:
  template <class Function>
  void Resolve(Function*& function, const char* name) {
    function = reinterpret_cast<Function*>(platform::FindExport(module_, name));
    if (function == nullptr) throw std::runtime_error(std::string("no export ") + name);
  }
  void* module_;
};

uint32_t Bits(float value) { return std::bit_cast<uint32_t>(value); }

// Asks for a descriptor in a larger buffer, every byte but the version 0xCC,
// so that any byte the plug-in should not write shows. The answer, then each
// field after the version: a text up to its terminator, a number, or "-" for
// a field left as it was; "!" marks a byte written past a text's terminator
// (those are the host's), and a version written over ends it in "|version".
std::string Describe(const LoadedPlugin& plugin, uint32_t index, uint32_t version = 0x00010002) {
  unsigned char record[200];
  std::memset(record, 0xCC, sizeof record);
  std::memcpy(record, &version, sizeof version);
  std::string shown = std::to_string(plugin.GetSourceDesc(index, record));
  auto untouched = [](const unsigned char* from, const unsigned char* to) {
    return std::all_of(from, to, [](unsigned char b) { return b == 0xCC; });
  };
  const unsigned char* field = record + 4;
  for (size_t size : {32, 32, 4, 4, 4, 64, 16, 40}) {
    const auto length = static_cast<size_t>(std::find(field, field + size, '\0') - field);
    const bool endsClean = length < size && untouched(field + length + 1, field + size);
    float number;
    std::memcpy(&number, field, sizeof number);
    // Appended piece by piece: GCC 12 warns falsely about `"x" + std::string`.
    shown += '|';
    if (untouched(field, field + size))
      shown += '-';
    else if (size == 4)
      shown += testing::PrintToString(number);
    else
      shown.append(reinterpret_cast<const char*>(field), length).append(endsClean ? "" : "!");
    field += size;
  }
  return shown + (std::memcmp(record, &version, sizeof version) == 0 ? "" : "|version");
}

// The host's cases use files and locales as Linux has them.
#ifndef _WIN32
constexpr uint32_t kNoSourceBits = 0x7F7FFFFF;  // 3.4028235e38

const std::string kThreeSources = ReadFile(KESTREL_PLUGIN_EXPORTS_CFG);

const char* const kThreeCounters =
    "counter 1 300 1 raw\ncounter 0 1 4 quarter\ncounter 1 5 1 five\n";

// What a count of the three sources logs.
const std::string kCounted = "<time> GetSourcesNum() called\n<time> 3 returned\n";

class PluginTest : public testing::Test {
 protected:
  void Load(const std::string& configuration) {
    library_.SetScript(kThreeCounters);
    folder_.WriteConfiguration(configuration);
    plugin_.emplace(folder_.plugin());
  }
  std::string Log() const { return LogWithoutTimeStamps(ReadFile(folder_.log())); }
  CounterDouble library_;
  PluginFolder folder_;
  std::optional<LoadedPlugin> plugin_;
};

// The first count reads the file and binds twice (the load, then the count);
// a later count binds once and reads nothing, and one whose binding fails
// counts none but keeps the sources of the last good count. A descriptor as
// the first call loads the configuration itself. Every field is at its
// offset, and not one byte more: the group only from version 1.2 on.
TEST_F(PluginTest, TheFirstCallLoadsTheFileOnceLaterCountsOnlyBindAFailedOneKeepsTheSources) {
  Load(kThreeSources);
  const std::string described = "1|first|MHz|100|-5|10|Not Available|";
  EXPECT_EQ(Describe(*plugin_, 0), described + "clocks|-");
  // The calls, pointers as P, without the loader's queries: a binding shows as its Init.
  EXPECT_EQ(library_.CallsWithoutQueries(),
            "Init\nGetCounterAttribute 1 2 P\nGetCounterAttribute 2 2 P\nAddCounter 0\n");
  for (uint32_t version : {0x00000000u, 0x00010001u, 0xFFFFFFFFu})
    EXPECT_EQ(Describe(*plugin_, 0, version),
              described + (version > 0x00010001u ? "clocks|-" : "-|-"))
        << version;
  folder_.WriteConfiguration("[Source0]\nID=0\n");  // not read again
  library_.ClearCalls();
  EXPECT_EQ(plugin_->GetSourcesNum(), 3u);
  EXPECT_EQ(plugin_->GetSourcesNum(), 3u);
  EXPECT_EQ(library_.CallsWithoutQueries(), "Init\nInit\n");

  library_.SetScript(std::string(kThreeCounters) + "init -7\n");
  const std::string logBefore = ReadFile(folder_.log());
  EXPECT_EQ(plugin_->GetSourcesNum(), 0u);
  EXPECT_EQ(ReadFile(folder_.log()), logBefore);  // no log line for a failed count
  EXPECT_THAT(Describe(*plugin_, 2), testing::StartsWith("1|third|"));
  EXPECT_EQ(Bits(plugin_->GetSourceData(2)), Bits(5.0f));
}

TEST_F(PluginTest, WithoutSourcesEveryCountReadsTheFileAgainItsLevelZeroLeavesTheLog) {
  Load("[Settings]\nLoggingLevel=1\n");
  EXPECT_EQ(plugin_->GetSourcesNum(), 0u);
  library_.ClearCalls();
  EXPECT_EQ(plugin_->GetSourcesNum(), 0u);
  // The empty list is cleared all the same, then bound in the load and again.
  EXPECT_EQ(library_.CallsWithoutQueries(), "RemoveAllCounters\nShutdown\nInit\nInit\n");
  EXPECT_EQ(Log(), "<time> GetSourcesNum() called\n<time> 0 returned\n");
  // Logging level 0 leaves the old log as it was.
  folder_.WriteConfiguration("[Settings]\nLoggingLevel=0\n[Source0]\nID=2\n");
  EXPECT_EQ(plugin_->GetSourcesNum(), 1u);
  plugin_->GetSourceData(0);
  EXPECT_EQ(Log(), "<time> GetSourcesNum() called\n<time> 0 returned\n");
}

// Calls that find nothing to answer touch nothing: a descriptor out of range
// or without a record, any capability but 1 (or 1 without a result), a value
// before any count or of a missing source. None calls the library; only the
// values of missing sources after a count are logged, with no name.
TEST_F(PluginTest, CallsThatFindNothingWriteNothingAndCallNothing) {
  Load(kThreeSources);
  EXPECT_EQ(Bits(plugin_->GetSourceData(0)), kNoSourceBits);
  for (uint32_t ignored : {0u, 0xFFFFFFFFu})
    for (uint32_t capability : {0u, 1u, 2u, 0xFFFFFFFFu}) {
      int32_t result = 55;
      EXPECT_EQ(plugin_->GetSourceCaps(ignored, capability, &result), capability == 1);
      EXPECT_EQ(result, capability == 1 ? 1 : 55);
    }
  EXPECT_EQ(plugin_->GetSourceCaps(0, 1, nullptr), 0);
  EXPECT_THAT(library_.Calls(), testing::IsEmpty());
  EXPECT_FALSE(folder_.HasLog());

  ASSERT_EQ(plugin_->GetSourcesNum(), 3u);
  library_.ClearCalls();
  std::string missing;
  for (uint32_t index : {3u, 0x80000000u, 0xFFFFFFFFu}) {
    missing += "<time> GetSourceData(" + std::to_string(index) +
               ") - (none) -  340282346638528859811704183484516925440.000000\n";
    EXPECT_EQ(Describe(*plugin_, index), "0|-|-|-|-|-|-|-|-") << index;
    EXPECT_EQ(Bits(plugin_->GetSourceData(index)), kNoSourceBits) << index;
  }
  EXPECT_EQ(plugin_->GetSourceDesc(0, nullptr), 0);
  EXPECT_THAT(library_.Calls(), testing::IsEmpty());
  EXPECT_EQ(Log(), kCounted + missing);
}

// Lines are stamped with the local date and time: the form of the stamp is
// held by every expected log, its value here. The system clock, as the log
// reads it: time() may lag it by a tick.
TEST_F(PluginTest, EveryCountStartsTheLogAfreshAndALogThatCannotBeWrittenChangesNoAnswer) {
  Load(kThreeSources);
  auto stampNow = [] {
    time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    return (std::ostringstream() << std::put_time(localtime(&now), "%d-%m-%Y, %H:%M:%S.")).str();
  };
  std::string before = stampNow();
  ASSERT_EQ(plugin_->GetSourcesNum(), 3u);
  EXPECT_THAT(ReadFile(folder_.log()).substr(0, 21), testing::AnyOf(before, stampNow()));
  fs::remove(folder_.log());
  plugin_->GetSourceData(1);
  EXPECT_EQ(Log(), "<time> GetSourceData(1) - second -  25.000000\n");
  ASSERT_EQ(plugin_->GetSourcesNum(), 3u);
  EXPECT_EQ(Log(), kCounted);
  // A line that cannot be written is dropped and the call answers as usual
  // (while another writer holds the log: NotTheHost below, on both systems).
  fs::remove(folder_.log());
  fs::create_symlink("/dev/full", folder_.log());  // opens, but every write fails
  EXPECT_EQ(plugin_->GetSourcesNum(), 3u);
  EXPECT_EQ(Bits(plugin_->GetSourceData(1)), Bits(25.0f));
}

// The plug-in's own name is the one the host loaded it by, made absolute
// when it is loaded: a later change of folder moves neither the
// configuration nor the log, and a link is not followed to its target.
TEST_F(PluginTest, OwnNameIsTheLoadedNameTakenDownAtLoading) {
  ScratchDir elsewhere;
  fs::create_directory(elsewhere / "plugins");
  fs::create_symlink(folder_.plugin(), elsewhere / "plugins" / "gpu.so");
  WriteFile(elsewhere / "plugins" / "gpu.cfg", "[Settings]\nLoggingLevel=1\n[Source0]\nID=0\n");
  folder_.WriteConfiguration("[Source0]\nID=0\n[Source1]\nID=1\n");
  library_.SetScript(kThreeCounters);
  fs::current_path(elsewhere.path());
  LoadedPlugin plugin("plugins/gpu.so");
  fs::current_path(folder_.plugin().parent_path());
  EXPECT_EQ(plugin.GetSourcesNum(), 1u);
  EXPECT_TRUE(fs::exists(elsewhere / "plugins" / "gpu.log"));
  EXPECT_FALSE(folder_.HasLog());
}

// The host may have chosen a locale with a decimal comma; the plug-in's
// numbers are read and written with a point all the same.
TEST_F(PluginTest, DecimalCommaLocaleOfTheHostChangesNoNumber) {
  ScratchDir locales;
  std::string build =
      "localedef -i de_DE -f UTF-8 " + (locales / "de_DE.UTF-8").string() + " >/dev/null 2>&1";
  if (std::system(build.c_str()) != 0) GTEST_SKIP() << "cannot build a de_DE locale here";
  setenv("LOCPATH", locales.path().c_str(), 1);
  ASSERT_NE(setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
  ASSERT_STREQ(localeconv()->decimal_point, ",");  // the locale is in force

  Load("[Settings]\nLoggingLevel=1\n[Source0]\nID=1\nName=q\nMaxLimit=12.5 MHz\n");
  ASSERT_EQ(plugin_->GetSourcesNum(), 1u);
  EXPECT_EQ(Describe(*plugin_, 0), "1|q|%|12.5|0|0|Not Available||-");
  EXPECT_EQ(Bits(plugin_->GetSourceData(0)), Bits(25.0f));
  EXPECT_THAT(Log(), testing::EndsWith("<time> GetSourceData(0) - q -  25.000000\n"));
}
#endif

// The log held open by another program, as a writer or as a reader. On
// Windows the plug-in's share mode keeps a second writer out; on Linux the
// plug-in's lock is flock, which this writer takes too.
struct HeldLog {
#ifdef _WIN32
  HeldLog(const fs::path& log, bool writer)
      : handle(CreateFileA(log.string().c_str(), writer ? GENERIC_WRITE : GENERIC_READ,
                           FILE_SHARE_READ | (writer ? 0 : FILE_SHARE_WRITE), nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~HeldLog() { CloseHandle(handle); }
  bool held() const { return handle != INVALID_HANDLE_VALUE; }
  HANDLE handle;
#else
  HeldLog(const fs::path& log, bool writer) : fd(open(log.c_str(), writer ? O_WRONLY : O_RDONLY)) {
    if (writer && flock(fd, LOCK_EX | LOCK_NB) != 0) fd = -1;
  }
  ~HeldLog() { close(fd); }
  bool held() const { return fd >= 0; }
  int fd;
#endif
};

// Loaded under another name besides, it reads and logs under that name. A
// line is dropped while another writer holds the log, which is not emptied
// either; a reader does not get in the way.
TEST(NotTheHost, DescriptorIsRefusedUntouchedAndLoadsNothingTheLogIsShared) {
#ifdef _WIN32
  HMODULE other = LoadLibraryA(KESTREL_HOST_APP_ID_LIBRARY);
  ASSERT_NE(other, nullptr);
  ASSERT_NE(GetProcAddress(other, "GetHostAppID"), nullptr);
#else
  ASSERT_NE(dlopen(KESTREL_HOST_APP_ID_LIBRARY, RTLD_NOW | RTLD_GLOBAL), nullptr);
  ASSERT_NE(dlsym(RTLD_DEFAULT, "GetHostAppID"), nullptr);  // the process has one
#endif
  CounterDouble library;
  library.SetScript("counter 1 300 1 raw\ncounter 0 1 4 quarter\n");
  PluginFolder folder("monitor" + fs::path(KESTREL_PLUGIN).extension().string());
  WriteFile(folder / "kestrel.cfg", "[Source0]\nID=0\n");
  folder.WriteConfiguration("[Settings]\nLoggingLevel=1\n[Source0]\nID=0\n[Source1]\nID=1\n");
  LoadedPlugin plugin(folder.plugin());
  EXPECT_EQ(Describe(plugin, 0), "0|-|-|-|-|-|-|-|-");
  EXPECT_THAT(library.Calls(), testing::IsEmpty());  // no configuration loaded, no AddCounter
  // The other entry points work as anywhere else; the descriptor stays refused.
  EXPECT_EQ(plugin.GetSourcesNum(), 2u);
  library.ClearCalls();
  EXPECT_EQ(Describe(plugin, 0), "0|-|-|-|-|-|-|-|-");
  EXPECT_THAT(library.Calls(), testing::IsEmpty());
  EXPECT_FALSE(fs::exists(folder / "kestrel.log"));
  for (bool writer : {true, false}) {
    HeldLog holder(folder / "monitor.log", writer);
    ASSERT_TRUE(holder.held());
    EXPECT_TRUE(!writer || plugin.GetSourcesNum() == 2u);
    EXPECT_EQ(Bits(plugin.GetSourceData(writer ? 0 : 1)), Bits(writer ? 300.0f : 25.0f));
  }
  EXPECT_EQ(LogWithoutTimeStamps(ReadFile(folder / "monitor.log")),
            AsWritten("<time> GetSourcesNum() called\n<time> 2 returned\n"
                      "<time> GetSourceData(1) - quarter -  25.000000\n"));
}

}  // namespace
