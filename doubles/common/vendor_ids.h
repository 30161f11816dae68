// The counter library's function identifiers, as NVPMQueryInterface takes
// them, written down from the library's side for the stand-in libraries.
#pragma once

#include <cstdint>

namespace vendor {

inline constexpr uint32_t kInit = 0x38A4618F;
inline constexpr uint32_t kShutdown = 0x8E91D6F1;
inline constexpr uint32_t kGetNumCounters = 0xA2933EEA;
inline constexpr uint32_t kGetCounterName = 0xC6802424;
inline constexpr uint32_t kGetCounterAttribute = 0x4565C505;
inline constexpr uint32_t kAddCounter = 0xCD4624B6;
inline constexpr uint32_t kRemoveAllCounters = 0xCBA836E1;
inline constexpr uint32_t kSample = 0x35E5552F;
inline constexpr uint32_t kGetCounterValue = 0x1E0D2A02;
// Functions no program here uses, by the table slot that reaches them.
inline constexpr uint32_t kCall0 = 0xF96DCC24;
inline constexpr uint32_t kCall3 = 0x30AA87E5;
inline constexpr uint32_t kCall4 = 0x11BB4AF8;
inline constexpr uint32_t kCall5 = 0xC83474B9;
inline constexpr uint32_t kCall6 = 0xBC8FF957;
inline constexpr uint32_t kCall7 = 0xDBFF3EBE;
inline constexpr uint32_t kCall8 = 0xF4F49871;
inline constexpr uint32_t kCall9 = 0xE961A9C7;
inline constexpr uint32_t kCall10 = 0x7F80C1EF;
inline constexpr uint32_t kCall14 = 0xA1F5CCF5;
inline constexpr uint32_t kCall18 = 0x5864E258;
// Functions no table slot reaches.
inline constexpr uint32_t kUnreached[] = {0x82054A9E, 0xD3B468F6, 0x57FC239E, 0xA025DBF9,
                                          0x7663DB3F, 0x10747EF3, 0x667D65CA, 0x05D95ED0,
                                          0xCF03E7B6, 0x2A960947, 0x55CFA974};

}  // namespace vendor
