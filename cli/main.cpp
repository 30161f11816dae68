// kestrelcli: lists the GPU's performance counters, samples them all in
// turn, or samples one of them once a second.
//
// Every result code is printed with "%u", so a negative code shows as its
// unsigned 32-bit form, and the program exits with 0 on every path.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "counter_api.h"
#include "counter_interface.h"
#include "numbers.h"
#include "platform.h"

namespace {

using counter_interface::kNameBufferSize;
using counter_interface::kTypeAttribute;
constexpr uint32_t kPauseMs = 1000;
constexpr int kReadingsPerCounter = 5;

unsigned AsUnsigned(int32_t code) { return static_cast<uint32_t>(code); }

// Output is flushed before every pause, so a reader on a pipe sees each
// reading as it is taken.
void Pause() {
  fflush(stdout);
  platform::SleepMilliseconds(kPauseMs);
}

void WaitForKey() {
  fflush(stdout);
  while (!platform::KeyIsWaiting()) platform::SleepMilliseconds(kPauseMs);
}

void PrintCounterName(uint32_t index) {
  char name[kNameBufferSize];
  uint32_t length = kNameBufferSize;
  if (CounterApiTable.GetCounterName(index, name, &length) != 0) {
    printf("\nCounter %d: %s\n", static_cast<int>(index), "<<<Error retrieving short name>>>");
  } else {
    name[kNameBufferSize - 1] = '\0';  // a library that forgets the terminator
    printf("Counter %d: %s\n", static_cast<int>(index), name);
  }
}

void PrintCounterType(uint32_t index) {
  uint64_t type = 0;
  if (CounterApiTable.GetCounterAttribute(index, kTypeAttribute, &type) != 0)
    printf("Could not determine counter type\n");
  else if (type != 0)
    printf("Type: Raw\n");
  else
    printf("Type: Percent\n");
}

void PrintPercent(uint64_t value, uint64_t cycles) {
  if (cycles == 0)
    printf("Percent: 0\n");
  else
    printf("Percent: %f\n", static_cast<double>(value) / static_cast<double>(cycles) * 100.0);
}

void PrintCounterSample(uint32_t index) {
  uint32_t sampleCount = 0;  // the counter server takes it as the capacity
  int32_t result = CounterApiTable.Sample(nullptr, &sampleCount);
  if (result != 0) {
    printf("Error %u sampling counter\n", AsUnsigned(result));
    return;
  }
  uint64_t value = 0;
  uint64_t cycles = 0;
  result = CounterApiTable.GetCounterValue(index, 0, &value, &cycles);
  if (result != 0) {
    printf("\nError %u retreiving counter value\n", AsUnsigned(result));
    return;
  }
  uint64_t type = 0;
  if (CounterApiTable.GetCounterAttribute(index, kTypeAttribute, &type) != 0) {
    printf("Value: %u  Cycle: %u", static_cast<uint32_t>(value), static_cast<uint32_t>(cycles));
    printf("  ");
    PrintPercent(value, cycles);
  } else if (type != 0) {
    printf("Value: %u  Cycle: %u\n", static_cast<uint32_t>(value), static_cast<uint32_t>(cycles));
  } else {
    PrintPercent(value, cycles);
  }
}

void ListCounters(uint32_t count) {
  printf("No argument provided - querying all available counters\n\n");
  for (uint32_t index = 0; index < count; ++index) {
    PrintCounterName(index);
    PrintCounterType(index);
    printf("\n");
  }
  printf("\nPress any key to exit");
  WaitForKey();
}

void SampleAllCounters(uint32_t count) {
  printf("\nSampling all available counters\nPress Ctrl+C to cancel\n");
  for (uint32_t index = 0; index < count; ++index) {
    printf("\n");
    PrintCounterName(index);
    PrintCounterType(index);
    int32_t result = CounterApiTable.AddCounter(index);
    if (result != 0) {
      printf("<<<Error adding counter: %u>>>", AsUnsigned(result));
      continue;
    }
    for (int reading = 0; reading < kReadingsPerCounter; ++reading) {
      PrintCounterSample(index);
      Pause();
    }
    CounterApiTable.RemoveAllCounters();
  }
  printf("\nPress any key to exit");
  WaitForKey();
}

void SampleOneCounter(const char* argument) {
  int32_t index = 0;
  if (!ParseLeadingInt(argument, &index)) {
    printf("Invalid counter index: %s\n", argument);
    return;
  }
  int32_t result = CounterApiTable.AddCounter(static_cast<uint32_t>(index));
  if (result != 0) {
    printf("Error adding counter: %u\n", AsUnsigned(result));
    return;
  }
  printf("Successfully added counter: %d\n\n", index);
  PrintCounterName(static_cast<uint32_t>(index));
  PrintCounterType(static_cast<uint32_t>(index));
  printf("\nPress any key to stop collection\n\n");
  fflush(stdout);
  while (!platform::KeyIsWaiting()) {
    PrintCounterSample(static_cast<uint32_t>(index));
    Pause();
  }
}

void Run(int argc, char** argv) {
  int32_t status = BindCounterApi();
  if (status != 0) {
    printf("NVPerfAPI initialization failed with error code: %u\n", AsUnsigned(status));
    return;
  }
  printf("NVPerfAPI initialization successful\n");
  uint32_t count = 0;
  int32_t result = CounterApiTable.GetNumCounters(&count);
  if (result != 0) {
    printf("INVPMGetNumCounters failed with error code: %u\n", AsUnsigned(result));
    return;
  }
  printf("Number of available counters: %u\n", count);
  if (argc != 2) {
    ListCounters(count);
    return;
  }
  printf("Counter provided via argument: %s\n", argv[1]);
  if (strcmp(argv[1], "sample") == 0)
    SampleAllCounters(count);
  else
    SampleOneCounter(argv[1]);
}

}  // namespace

int main(int argc, char** argv) {
  Run(argc, argv);
  CounterApiTable.Shutdown();
  fflush(stdout);
  return 0;
}
