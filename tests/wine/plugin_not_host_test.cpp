// A program whose executable does not export GetHostAppID, though a library
// it loaded does: to the plug-in it is not the monitoring host.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "counter_double.h"
#include "plugin_under_test.h"

using namespace testing_support;

TEST(NotTheHost, DescriptorIsRefusedUntouchedAndLoadsNothing) {
  HMODULE other = LoadLibraryA(KESTREL_HOST_APP_ID_LIBRARY);
  ASSERT_NE(other, nullptr);
  ASSERT_NE(GetProcAddress(other, "GetHostAppID"), nullptr);
  CounterDouble library;
  library.SetScript("counter 1 300 1 raw\n");
  PluginFolder folder;
  folder.WriteConfiguration("[Source0]\r\nID=0\r\nName=first\r\n");
  LoadedPlugin plugin(folder.plugin());
  unsigned char record[200];
  std::memset(record, 0xCC, sizeof record);
  uint32_t version = 0x00010002;
  std::memcpy(record, &version, sizeof version);
  EXPECT_EQ(plugin.GetSourceDesc(0, record), 0);
  for (size_t i = sizeof version; i < sizeof record; ++i) ASSERT_EQ(record[i], 0xCC) << i;
  // Nothing was loaded: the configuration's counter was never asked about.
  for (const std::string& call : library.Calls()) EXPECT_NE(call.rfind("AddCounter", 0), 0u);
  EXPECT_EQ(plugin.GetSourcesNum(), 1u);  // the count does load it
}
