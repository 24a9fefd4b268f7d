#pragma once
// The public-domain JAMA/TNT linear-algebra templates, included in one place.
// GCC 12 reports a false -Wuse-after-free in TNT's reference counting (the
// count is read only while the block is alive); silence just that.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuse-after-free"
#endif
#include <jama/jama_svd.h>
#include <tnt/tnt_array2d.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
