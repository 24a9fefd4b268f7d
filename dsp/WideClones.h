#pragma once

// A function compiled twice, for AVX2 and for the baseline, the copy picked
// once at load time by what the processor has. Only for loops whose every
// value is computed on its own: the wider vectors then change the speed and
// nothing else (AVX2 alone brings no fused multiply-add).
//
// ThreadSanitizer cannot run the picking code before it has started itself:
// its builds keep the baseline copy only.
#if defined(__SANITIZE_THREAD__)
#define VEX_WIDE_CLONES_OFF 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VEX_WIDE_CLONES_OFF 1
#endif
#endif

#if (defined(__x86_64__) || defined(__i386__)) && !defined(VEX_WIDE_CLONES_OFF)
#define VEX_WIDE_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define VEX_WIDE_CLONES
#endif

// The vector types of such loops: eight floats or four doubles, one AVX2
// register or two SSE2 ones. Each lane computes on its own. Their alignment
// differs between the two copies of a function: storage a copy reads
// through them is aligned to 32 bytes explicitly.
typedef float Float8 __attribute__((vector_size(32)));
typedef double Double4 __attribute__((vector_size(32)));
