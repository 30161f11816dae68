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

#include <array>
#include <cstring>
#include <filesystem>

#include "counter_double.h"
#include "plugin_under_test.h"

namespace fs = std::filesystem;
using namespace testing_support;
using testing::ElementsAre;

namespace {

// Loaded under another name besides, it reads and logs under that name.
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
  PluginFolder folder("monitor" + fs::path(KESTREL_PLUGIN).extension().string());
  WriteFile(folder / "kestrel.cfg", "[Source0]\nID=0\n");
  folder.WriteConfiguration("[Settings]\nLoggingLevel=1\n[Source0]\nID=0\n[Source1]\nID=0\n");
  LoadedPlugin plugin(folder.plugin());
  std::array<unsigned char, 200> untouched;
  untouched.fill(0xCC);
  const uint32_t version = 0x00010002;
  std::memcpy(untouched.data(), &version, sizeof version);
  auto expectRefused = [&] {
    auto record = untouched;
    EXPECT_EQ(plugin.GetSourceDesc(0, record.data()), 0);
    EXPECT_EQ(record, untouched);
    EXPECT_THAT(library.Calls(), ElementsAre());  // no configuration loaded, no AddCounter
  };
  expectRefused();
  // The other entry points work as anywhere else; the descriptor stays refused.
  EXPECT_EQ(plugin.GetSourcesNum(), 2u);
  library.ClearCalls();
  expectRefused();
  EXPECT_EQ(Bits(plugin.GetSourceData(0)), Bits(300.0f));
  EXPECT_TRUE(fs::exists(folder / "monitor.log"));
  EXPECT_FALSE(fs::exists(folder / "kestrel.log"));
}

}  // namespace
