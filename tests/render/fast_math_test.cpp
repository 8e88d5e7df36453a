// The polynomial sine and cosine of the hot paths against double-precision libm.

#include "render/fast_math.h"

#include <gtest/gtest.h>

#include <cmath>
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

TEST(FastMath, ExactValuesAndNonFinite) {
  EXPECT_EQ(FastSin(0.0f), 0.0f);
  EXPECT_EQ(FastCos(0.0f), 1.0f);
  EXPECT_TRUE(std::isnan(FastSin(std::numeric_limits<float>::infinity())));
  EXPECT_TRUE(std::isnan(FastCos(-std::numeric_limits<float>::infinity())));
  EXPECT_TRUE(std::isnan(FastSin(std::numeric_limits<float>::quiet_NaN())));
}

}  // namespace
