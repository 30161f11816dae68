// The plug-in loaded by a test program that is not the monitoring host: its
// executable does not export GetHostAppID, though a library it loaded
// globally does. The plug-in must describe nothing here; its other entry
// points work as anywhere else.
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "counter_double.h"
#include "plugin_under_test.h"

namespace fs = std::filesystem;
using namespace testing_support;
using testing::ElementsAre;

namespace {

TEST(NotTheHost, DescriptorIsRefusedUntouchedAndLoadsNothing) {
#ifdef _WIN32
  HMODULE other = LoadLibraryA(KESTREL_HOST_APP_ID_LIBRARY);
  ASSERT_NE(other, nullptr);
  ASSERT_NE(GetProcAddress(other, "GetHostAppID"), nullptr);
#else
  ASSERT_NE(dlopen(KESTREL_HOST_APP_ID_LIBRARY, RTLD_NOW | RTLD_GLOBAL), nullptr);
  ASSERT_NE(dlsym(RTLD_DEFAULT, "GetHostAppID"), nullptr);  // the process has one
#endif
  CounterDouble library;
  library.SetScript("counter 1 300 1 raw\n");
  PluginFolder folder;
  folder.WriteConfiguration("[Source0]\nID=0\nName=raw\n");
  LoadedPlugin plugin(folder.plugin());

  unsigned char record[200];
  std::memset(record, 0xCC, sizeof record);
  uint32_t version = 0x00010002;
  std::memcpy(record, &version, sizeof version);
  unsigned char untouched[200];
  std::memcpy(untouched, record, sizeof record);

  EXPECT_EQ(plugin.GetSourceDesc(0, record), 0);
  EXPECT_EQ(std::memcmp(record, untouched, sizeof record), 0);
  EXPECT_THAT(library.Calls(), ElementsAre());  // no configuration was loaded

  // The other entry points work as anywhere else; the descriptor stays refused.
  EXPECT_EQ(plugin.GetSourcesNum(), 1u);
  library.ClearCalls();
  EXPECT_EQ(plugin.GetSourceDesc(0, record), 0);
  EXPECT_EQ(std::memcmp(record, untouched, sizeof record), 0);
  EXPECT_THAT(library.Calls(), ElementsAre());  // no AddCounter
  EXPECT_EQ(Bits(plugin.GetSourceData(0)), Bits(300.0f));
}

TEST(PluginName, ARenamedPluginReadsAndLogsUnderItsOwnName) {
  CounterDouble library;
  library.SetScript("counter 1 300 1 raw\n");
  const std::string name = "monitor" + fs::path(KESTREL_PLUGIN).extension().string();
  PluginFolder renamed(name);
  WriteFile(renamed / "kestrel.cfg", "[Source0]\nID=0\n");
  renamed.WriteConfiguration("[Settings]\nLoggingLevel=1\n[Source0]\nID=0\n[Source1]\nID=0\n");
  LoadedPlugin plugin(renamed.plugin());
  EXPECT_EQ(plugin.GetSourcesNum(), 2u);
  EXPECT_TRUE(fs::exists(renamed / "monitor.log"));
  EXPECT_FALSE(fs::exists(renamed / "kestrel.log"));
}

}  // namespace
