// The plug-in's Windows seams, in a test program that plays the monitoring
// host (its executable exports GetHostAppID, as kestrelhost.exe's does): the
// log's sharing rule. (The plug-in cases compare the log's CRLF lines.)
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "counter_double.h"
#include "plugin_under_test.h"
#include "scratch.h"

namespace fs = std::filesystem;
using namespace testing_support;
using testing::ElementsAre;

extern "C" __declspec(dllexport) uint32_t GetHostAppID() { return 7; }

namespace {

const char* const kTwoSources =
    "[Settings]\r\nLoggingLevel=1\r\n[Source0]\r\nID=0\r\nName=first\r\n[Source1]\r\nID=1\r\n";

class WindowsPlugin : public testing::Test {
 protected:
  void SetUp() override {
    library_.SetScript("counter 1 300 1 raw\ncounter 0 1 4 quarter\n");
    folder_.WriteConfiguration(kTwoSources);
    plugin_.emplace(folder_.plugin());
  }
  HANDLE OpenLog(DWORD access, DWORD share) const {
    return CreateFileA(folder_.log().string().c_str(), access, share, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  std::vector<std::string> LogLines() const {
    return SplitLines(LogWithoutTimeStamps(ReadFile(folder_.log())));
  }

  CounterDouble library_;
  PluginFolder folder_;
  std::optional<LoadedPlugin> plugin_;
};

TEST_F(WindowsPlugin, ASecondWriterMakesTheLineDropAReaderDoesNot) {
  ASSERT_EQ(plugin_->GetSourcesNum(), 2u);
  HANDLE writer = OpenLog(GENERIC_WRITE, FILE_SHARE_READ);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Bits(plugin_->GetSourceData(0)), Bits(300.0f));
  EXPECT_EQ(plugin_->GetSourcesNum(), 2u);  // nor is the held log emptied
  CloseHandle(writer);

  HANDLE reader = OpenLog(GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Bits(plugin_->GetSourceData(1)), Bits(25.0f));
  CloseHandle(reader);
  EXPECT_THAT(LogLines(), ElementsAre("<time> GetSourcesNum() called\r", "<time> 2 returned\r",
                                      "<time> GetSourceData(1) - quarter -  25.000000\r"));
}

}  // namespace
