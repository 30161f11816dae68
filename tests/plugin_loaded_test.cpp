// The plug-in loaded by a test program that is not the monitoring host: its
// executable does not export GetHostAppID, though a library it loaded
// globally does. The plug-in must describe nothing here; its other entry
// points work as anywhere else, the log's sharing rule among them.
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

#include <filesystem>

#include "counter_double.h"
#include "plugin_under_test.h"

namespace fs = std::filesystem;
using namespace testing_support;
using testing::ElementsAre;

namespace {

// The log held open by another program, as a writer or as a reader. On
// Windows the plug-in's share mode keeps a second writer out; on Linux the
// plug-in's lock is flock, which this writer takes too.
class HeldLog {
 public:
#ifdef _WIN32
  HeldLog(const fs::path& log, bool writer)
      : handle_(CreateFileA(log.string().c_str(), writer ? GENERIC_WRITE : GENERIC_READ,
                            FILE_SHARE_READ | (writer ? 0 : FILE_SHARE_WRITE), nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~HeldLog() { CloseHandle(handle_); }
  bool held() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
#else
  HeldLog(const fs::path& log, bool writer) : fd_(open(log.c_str(), writer ? O_WRONLY : O_RDONLY)) {
    if (writer && flock(fd_, LOCK_EX | LOCK_NB) != 0) fd_ = -1;
  }
  ~HeldLog() { close(fd_); }
  bool held() const { return fd_ >= 0; }

 private:
  int fd_;
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
  EXPECT_THAT(library.Calls(), ElementsAre());  // no configuration loaded, no AddCounter
  // The other entry points work as anywhere else; the descriptor stays refused.
  EXPECT_EQ(plugin.GetSourcesNum(), 2u);
  library.ClearCalls();
  EXPECT_EQ(Describe(plugin, 0), "0|-|-|-|-|-|-|-|-");
  EXPECT_THAT(library.Calls(), ElementsAre());
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
