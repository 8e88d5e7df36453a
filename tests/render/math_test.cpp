// The shared clamping, easing and vector helpers.

#include "render/math.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(Math, Clamp01AndSmoothstep) {
  struct Case {
    float x, clamped, eased;
  };
  const Case cases[] = {
      {-1.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f},  {0.25f, 0.25f, 0.15625f}, {0.5f, 0.5f, 0.5f},
      {1.0f, 1.0f, 1.0f},  {7.0f, 1.0f, 1.0f},  {kNaN, 0.0f, 0.0f},       {kInf, 0.0f, 0.0f},
      {-kInf, 0.0f, 0.0f},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Clamp01(c.x), c.clamped) << c.x;
    EXPECT_EQ(Smoothstep(c.x), c.eased) << c.x;
  }
}

TEST(Math, VectorHelpers) {
  const Vec3 a{1, 2, 3}, b{4, -5, 6};
  const Vec3 c = Cross(a, b);
  EXPECT_EQ(c.x, 27.0f);
  EXPECT_EQ(c.y, 6.0f);
  EXPECT_EQ(c.z, -13.0f);
  EXPECT_EQ(Dot(a, b), 12.0f);
  EXPECT_EQ((a * b).y, -10.0f);
  EXPECT_EQ((2.0f * a - b).z, 0.0f);
  // Colours and positions are the same storage.
  EXPECT_EQ(a.r, 1.0f);
  EXPECT_EQ(a.g, 2.0f);
  EXPECT_EQ(a.b, 3.0f);
  const Vec3 n = Normalize(Vec3{0, 3, 4});
  EXPECT_FLOAT_EQ(n.y, 0.6f);
  EXPECT_FLOAT_EQ(n.z, 0.8f);
  EXPECT_EQ(Normalize(Vec3{0, 1e-9f, 0}).y, 0.0f);
  EXPECT_EQ(Normalize(Vec3{kNaN, 1, 0}).y, 0.0f);
  EXPECT_EQ(Length(Vec2{3, 4}), 5.0f);
}

}  // namespace
