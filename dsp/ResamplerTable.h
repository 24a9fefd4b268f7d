#pragma once
#include <cstdint>

// The resampler's large filter: coefficients and their first differences.
// Defined in ResamplerTable.cpp, which tools/gen_resampler_table.py writes.
inline constexpr int32_t kResamplerNwing = 8192;  // one wing, 32 zero crossings
inline constexpr int32_t kResamplerNpc = 256;     // entries per zero crossing
inline constexpr int32_t kResamplerLpScl = 14746; // unity-gain scale, 0.90 in Q14

extern const int16_t kResamplerImp[kResamplerNwing];
extern const int16_t kResamplerImpD[kResamplerNwing];
