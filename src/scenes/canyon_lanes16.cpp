// The canyon's fast paths sixteen points at a time with AVX-512F: the code of
// canyon_lanes_body.h on 64-byte vectors. Lane by lane the same operations as the eight-lane
// instance (canyon_lanes8.cpp), so the picture is the same at either width.

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "render/fast_math.h"
#include "render/lanes16.h"
#include "render/noise.h"
#include "scenes/canyon_internal.h"

#pragma GCC push_options
#pragma GCC target("avx512f")
namespace canyon_detail::lanes_avx512 {
namespace lanes = lanes16::generic;
#include "scenes/canyon_lane_ops.h"
#include "scenes/canyon_lanes_body.h"
}  // namespace canyon_detail::lanes_avx512
#pragma GCC pop_options
