// The monitoring host's descriptor of one source, as the host lays it out.
// The host sets the version; a record of version 0x00010001 or less ends at
// the group field and has none.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr uint32_t kFirstVersionWithGroup = 0x00010002;

struct MonitoringSourceDesc {
  uint32_t version;
  char name[32];
  char units[32];
  float maxLimit;
  float minLimit;
  float gridDim;
  char description[64];
  char group[16];
};

static_assert(offsetof(MonitoringSourceDesc, version) == 0);
static_assert(offsetof(MonitoringSourceDesc, name) == 4);
static_assert(offsetof(MonitoringSourceDesc, units) == 36);
static_assert(offsetof(MonitoringSourceDesc, maxLimit) == 68);
static_assert(offsetof(MonitoringSourceDesc, minLimit) == 72);
static_assert(offsetof(MonitoringSourceDesc, gridDim) == 76);
static_assert(offsetof(MonitoringSourceDesc, description) == 80);
static_assert(offsetof(MonitoringSourceDesc, group) == 144);
static_assert(sizeof(MonitoringSourceDesc) == 160);
