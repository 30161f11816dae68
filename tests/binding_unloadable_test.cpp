// The binder when the counter library cannot be used. CTest runs this
// program twice: once with no counter library on the search path
// (KESTREL_EXPECT_STATUS=-2), once with a library that lacks
// NVPMQueryInterface (KESTREL_EXPECT_STATUS=-1). KESTREL_EXPECT_LOAD_ERROR is
// the system's reason for the failed load, where there is one.
#include <gtest/gtest.h>

#include <cstdlib>

#include "binding_slots.h"
#include "counter_api.h"
#include "counter_library.h"
#include "platform.h"

namespace {

TEST(UnusableLibrary, BinderReportsItAndEverySlotStaysUnbound) {
  const char* expected = std::getenv("KESTREL_EXPECT_STATUS");
  ASSERT_NE(expected, nullptr);
  int32_t status = std::atoi(expected);
  EXPECT_EQ(BindCounterApi(), status);
  EXPECT_EQ(CounterLibraryStatus, status);
  if (const char* reason = std::getenv("KESTREL_EXPECT_LOAD_ERROR")) {
    EXPECT_STREQ(platform::LastLoadError(), reason);
  }
  SlotOutputs out;
  for (int32_t result : CallEverySlot(out)) EXPECT_EQ(result, -3);
  EXPECT_TRUE(OutputsUntouched(out));
  // Binding again changes nothing.
  EXPECT_EQ(BindCounterApi(), status);
  EXPECT_EQ(CounterApiTable.Shutdown(), -3);
}

}  // namespace
