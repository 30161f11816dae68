// The plug-in in a process that is not the monitoring host: this program's
// executable does not export GetHostAppID, though a library it loaded
// globally does. The plug-in must describe nothing here.
#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "counter_double.h"
#include "plugin_under_test.h"

using namespace testing_support;
using testing::ElementsAre;

namespace {

TEST(NotTheHost, DescriptorIsRefusedUntouchedAndLoadsNothing) {
  ASSERT_NE(dlopen(KESTREL_HOST_APP_ID_LIBRARY, RTLD_NOW | RTLD_GLOBAL), nullptr);
  ASSERT_NE(dlsym(RTLD_DEFAULT, "GetHostAppID"), nullptr);  // the process has one
  CounterDouble library;
  library.SetScript("counter 1 300 1 raw\n");
  PluginFolder folder;
  folder.WriteConfiguration("[Source0]\nID=0\nName=raw\n");
  LoadedPlugin plugin(folder.plugin());

  unsigned char record[160];
  std::memset(record, 0xCC, sizeof record);
  uint32_t version = 0x00010002;
  std::memcpy(record, &version, sizeof version);
  unsigned char untouched[160];
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

}  // namespace
