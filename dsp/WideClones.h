#pragma once

// A function compiled twice, for AVX2 and for the baseline, the copy picked
// once at load time by what the processor has. Only for loops whose every
// value is computed on its own: the wider vectors then change the speed and
// nothing else (AVX2 alone brings no fused multiply-add).
#if defined(__x86_64__) || defined(__i386__)
#define VEX_WIDE_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define VEX_WIDE_CLONES
#endif
