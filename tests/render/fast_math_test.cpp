// The polynomial sine and cosine of the hot paths against double-precision libm.

#include "render/fast_math.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

// Over the whole range the show uses, on a dense grid plus the quadrant boundaries (where a
// wrong quadrant or sign would show at once), the error stays near float rounding.
TEST(FastMath, SinCosMatchLibmOverTheUsedRange) {
  double worst_sin = 0.0, worst_cos = 0.0;
  auto check = [&](float x) {
    float s, c;
    FastSinCos(x, s, c);
    worst_sin = std::max(worst_sin, std::fabs(s - std::sin(static_cast<double>(x))));
    worst_cos = std::max(worst_cos, std::fabs(c - std::cos(static_cast<double>(x))));
    EXPECT_EQ(FastSin(x), s);
    EXPECT_EQ(FastCos(x), c);
  };
  for (int i = -400000; i <= 400000; ++i) check(static_cast<float>(i) * 0.0204799f);  // +-8192
  for (int k = -64; k <= 64; ++k) {
    const float edge = static_cast<float>(k) * 0.785398163f;
    check(std::nextafter(edge, -1e9f));
    check(edge);
    check(std::nextafter(edge, 1e9f));
  }
  EXPECT_LT(worst_sin, 2e-7);
  EXPECT_LT(worst_cos, 2e-7);
}

// The reduction's rounding without the library call: the same whole number as std::nearbyint,
// ties to even included, on both sides of the range where it hands over to the library.
TEST(FastMath, RoundToWholeMatchesNearbyint) {
  using fast_math_detail::RoundToWhole;
  const float cases[] = {0.0f,       0.3f,        0.5f,       1.5f,       2.5f,      -0.5f,
                         -1.5f,      -2.5f,       -2.7f,      1e-30f,     123456.5f, -98765.49f,
                         4194303.5f, -4194302.5f, 4194304.0f, 4194305.0f, 1e9f,      -3e10f};
  for (const float y : cases) EXPECT_EQ(RoundToWhole(y), std::nearbyint(y)) << y;
  for (int i = -300000; i <= 300000; ++i) {
    const float y = static_cast<float>(i) * 0.2500001f;
    ASSERT_EQ(RoundToWhole(y), std::nearbyint(y)) << y;
  }
}

// Four lanes at once give each lane exactly the one-at-a-time bits, over the used range, at the
// quadrant edges, and when one lane is huge or not a number (the others must not change).
TEST(FastMath, FourLanesGiveTheScalarBits) {
  const auto check = [](const float (&xs)[4]) {
    __m128 s4, c4;
    FastSinCos4(_mm_loadu_ps(xs), s4, c4);
    float ss[4], cs[4];
    _mm_storeu_ps(ss, s4);
    _mm_storeu_ps(cs, c4);
    for (int k = 0; k < 4; ++k) {
      float s, c;
      FastSinCos(xs[k], s, c);
      ASSERT_EQ(std::bit_cast<std::uint32_t>(ss[k]), std::bit_cast<std::uint32_t>(s)) << xs[k];
      ASSERT_EQ(std::bit_cast<std::uint32_t>(cs[k]), std::bit_cast<std::uint32_t>(c)) << xs[k];
    }
  };
  for (int i = -200000; i <= 200000; i += 4) {
    const float a = static_cast<float>(i) * 0.0409597f;  // +-8192
    check({a, -a, a * 0.37f, a + 0.1f});
  }
  for (int k = -64; k <= 64; ++k) {
    const float edge = static_cast<float>(k) * 0.785398163f;
    check({std::nextafter(edge, -1e9f), edge, std::nextafter(edge, 1e9f), -edge});
  }
  const float nan = std::numeric_limits<float>::quiet_NaN();
  check({1.0f, 8192.5f, -2.0f, 3.0f});
  check({nan, 0.5f, -0.0f, 1e30f});
}

TEST(FastMath, ExactValuesAndNonFinite) {
  EXPECT_EQ(FastSin(0.0f), 0.0f);
  EXPECT_EQ(FastCos(0.0f), 1.0f);
  EXPECT_TRUE(std::isnan(FastSin(std::numeric_limits<float>::infinity())));
  EXPECT_TRUE(std::isnan(FastCos(-std::numeric_limits<float>::infinity())));
  EXPECT_TRUE(std::isnan(FastSin(std::numeric_limits<float>::quiet_NaN())));
  // Past the exact reduction's range the library takes over, so huge arguments stay sines.
  for (const float x : {8192.5f, -1.0e6f, 3.0e9f, 1.0e38f}) {
    EXPECT_EQ(FastSin(x), std::sin(x)) << x;
    EXPECT_EQ(FastCos(x), std::cos(x)) << x;
  }
}

}  // namespace
