// What the counter library and its callers agree on, written once: the
// function identifiers NVPMQueryInterface takes, the attribute that tells a
// raw counter from a percentage, the buffer every caller asks a counter
// name into, and the result codes the binder keeps for itself. The binder,
// the programs and our own counter library over NVML take them from here;
// the test doubles keep a copy of their own, written from the library's
// side, so that a slip here shows in the tests.
#pragma once

#include <cstdint>

namespace counter_interface {

inline constexpr uint32_t kInit = 0x38A4618F;
inline constexpr uint32_t kShutdown = 0x8E91D6F1;
inline constexpr uint32_t kGetNumCounters = 0xA2933EEA;
inline constexpr uint32_t kGetCounterName = 0xC6802424;
inline constexpr uint32_t kGetCounterAttribute = 0x4565C505;
inline constexpr uint32_t kAddCounter = 0xCD4624B6;
inline constexpr uint32_t kRemoveAllCounters = 0xCBA836E1;
inline constexpr uint32_t kSample = 0x35E5552F;
inline constexpr uint32_t kGetCounterValue = 0x1E0D2A02;

// GetCounterAttribute's type: non-zero for a raw counter, zero for a
// percentage (value / cycles * 100).
inline constexpr uint32_t kTypeAttribute = 2;

// The buffer every caller asks a counter's name into, terminator included.
inline constexpr uint32_t kNameBufferSize = 200;

// Result codes the binding layer makes itself. A counter library must not
// answer them, or its failure would read as the binder's.
inline constexpr int32_t kBindingFailed = -1;
inline constexpr int32_t kLibraryNotLoadable = -2;
inline constexpr int32_t kNotBound = -3;  // what an unbound entry answers
inline constexpr int32_t kNoServerConnection = -5;

constexpr bool IsBinderResult(int32_t code) {
  return code == kBindingFailed || code == kLibraryNotLoadable || code == kNotBound ||
         code == kNoServerConnection;
}

}  // namespace counter_interface
