// The configuration file's rules, written once: the plug-in reads the file
// by them, and `kestrelhost check` judges a file by the same ones.
#pragma once

#include <cstdint>

namespace configuration {

// [Settings]: only LoggingLevel, 0 for no log.
inline constexpr char kSettings[] = "Settings";
inline constexpr char kLoggingLevel[] = "LoggingLevel";

// The sources are sections Source0, Source1, ..., read from 0 up to the
// first without an ID, and never beyond this position.
inline constexpr char kSourcePrefix[] = "Source";
inline constexpr int32_t kLastSourcePosition = 0x7FFFFFFF;

// A source's keys.
inline constexpr char kId[] = "ID";
inline constexpr char kName[] = "Name";
inline constexpr char kDim[] = "Dim";
inline constexpr char kMaxLimit[] = "MaxLimit";
inline constexpr char kMinLimit[] = "MinLimit";
inline constexpr char kGridDim[] = "GridDim";
inline constexpr char kGroup[] = "Group";
inline constexpr char kModType[] = "ModType";
inline constexpr char kModFactor[] = "ModFactor";
inline constexpr const char* kSourceKeys[] = {kId,      kName,  kDim,    kMaxLimit, kMinLimit,
                                              kGridDim, kGroup, kModType, kModFactor};

// How ModType changes a reading v with ModFactor f; any other value leaves
// the reading as it is.
enum Modifier : int32_t {
  kMultiply = 1,      // v * f
  kDivideBy = 2,      // v / f, 0 for f <= 0
  kDivideInto = 3,    // f / v, 0 for v <= 0
  kAdd = 4,           // v + f
  kSubtract = 5,      // v - f
  kSubtractFrom = 6,  // f - v
};
inline constexpr int32_t kLastModifier = kSubtractFrom;

}  // namespace configuration
