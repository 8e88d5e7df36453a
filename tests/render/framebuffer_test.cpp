// Framebuffer: the exposure curve bytes, the whole-image and rectangle operations with their
// clipping, and the bilinear AddImage.

#include "render/framebuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Number of pixels whose light differs from zero.
int LitCount(const Framebuffer& fb) {
  int n = 0;
  for (const Vec3& p : fb.pixels) n += (p.x != 0.0f || p.y != 0.0f || p.z != 0.0f) ? 1 : 0;
  return n;
}

bool SamePixels(const Framebuffer& a, const Framebuffer& b) {
  return a.pixels.size() == b.pixels.size() &&
         std::memcmp(a.pixels.data(), b.pixels.data(), a.pixels.size() * sizeof(Vec3)) == 0;
}

const Vec3& At(const Framebuffer& fb, int x, int y) {
  return fb.pixels[static_cast<std::size_t>(y) * fb.width + static_cast<std::size_t>(x)];
}

std::uint8_t RedByteOf(float v) {
  Framebuffer fb(1, 1);
  fb.pixels[0] = Vec3{v, 0.0f, 0.0f};
  fb.ResolveRgba8();
  return static_cast<std::uint8_t>(fb.rgba[0] & 0xFFu);
}

TEST(Framebuffer, NewImageIsBlackAndResolvesToOpaqueBlack) {
  Framebuffer fb(640, 360);
  ASSERT_EQ(fb.pixels.size(), 640u * 360u);
  ASSERT_EQ(fb.rgba.size(), 640u * 360u);
  EXPECT_EQ(LitCount(fb), 0);
  for (std::uint32_t word : fb.rgba) ASSERT_EQ(word, kOpaqueBlack);
  fb.ResolveRgba8();
  for (std::uint32_t word : fb.rgba) ASSERT_EQ(word, kOpaqueBlack);
}

TEST(Framebuffer, ToneCurveBytes) {
  struct Case {
    float v;
    int byte;
  };
  const Case cases[] = {
      {0.25f, 64}, {0.5f, 112}, {1.0f, 174}, {2.0f, 229}, {3.0f, 247}, {4.0f, 252},
      {0.0f, 0},   {-0.0f, 0},  {-0.5f, 0},  {-1e30f, 0}, {-kInf, 0},  {kNaN, 0},
      {-kNaN, 0},  {1e-30f, 0}, {40.0f, 255}, {1e30f, 255}, {kInf, 255},
      {std::numeric_limits<float>::max(), 255}, {std::numeric_limits<float>::denorm_min(), 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RedByteOf(c.v), c.byte) << "v = " << c.v;
    EXPECT_EQ(ToneCurveByte(c.v), c.byte) << "v = " << c.v;
  }
}

TEST(Framebuffer, ResolvedWordHasBytesRgbaInMemory) {
  Framebuffer fb(2, 1);
  fb.pixels[0] = Vec3{1.0f, 0.5f, 0.0f};
  fb.pixels[1] = Vec3{0.0f, 0.0f, 4.0f};
  fb.ResolveRgba8();
  EXPECT_EQ(fb.rgba[0], 0xFF0070AEu);
  EXPECT_EQ(fb.rgba[1], 0xFFFC0000u);
  if constexpr (std::endian::native == std::endian::little) {
    std::uint8_t bytes[4];
    std::memcpy(bytes, &fb.rgba[0], 4);
    EXPECT_EQ(bytes[0], 174);
    EXPECT_EQ(bytes[1], 112);
    EXPECT_EQ(bytes[2], 0);
    EXPECT_EQ(bytes[3], 255);
  }
}

// ResolveRgba8 goes through a threshold table; it must give exactly the bytes of the direct
// curve. Near each byte boundary every float is checked (expf is within an ulp, so a byte can
// only flip within a few ulps of its threshold); elsewhere a coarse stride over all floats. Both
// the sixteen-wide (AVX-512), eight-wide (AVX2, where the processor has them) and the four-wide
// loop; the odd image size leaves a tail for the narrower loops and the one-at-a-time loop too.
class ResolvePaths : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { LimitResolveVectors(GetParam()); }
  void TearDown() override { LimitResolveVectors(512); }
};

TEST_P(ResolvePaths, MatchesDirectCurveForEveryFloatNearEachByteBoundary) {
  Framebuffer fb(641, 361);
  float* channels = &fb.pixels[0].x;
  const std::size_t capacity = fb.pixels.size() * 3;
  std::size_t filled = 0;
  long mismatches = 0;
  auto flush = [&]() {
    for (std::size_t i = filled; i < capacity; ++i) channels[i] = 0.0f;
    fb.ResolveRgba8();
    for (std::size_t i = 0; i < filled; ++i) {
      const std::uint32_t got = (fb.rgba[i / 3] >> (8 * (i % 3))) & 0xFFu;
      if (got != ToneCurveByte(channels[i])) {
        if (mismatches < 5) ADD_FAILURE() << "v = " << channels[i] << " resolved to " << got;
        ++mismatches;
      }
    }
    filled = 0;
  };
  auto check = [&](std::uint32_t bits) {
    channels[filled++] = std::bit_cast<float>(bits);
    if (filled == capacity) flush();
  };
  // Boundary of byte b: the smallest float reaching it, found by bisection on the direct curve.
  for (int b = 1; b <= 255; ++b) {
    std::uint32_t lo = 0, hi = std::bit_cast<std::uint32_t>(100.0f);
    while (hi - lo > 1) {
      const std::uint32_t mid = lo + (hi - lo) / 2;
      (ToneCurveByte(std::bit_cast<float>(mid)) >= b ? hi : lo) = mid;
    }
    for (std::uint32_t bits = hi - 4096; bits < hi + 4096; ++bits) check(bits);
  }
  // Every 1021st bit pattern, positive and negative, infinities and NaNs included.
  for (std::uint64_t bits = 0; bits <= 0xFFFFFFFFu; bits += 1021) {
    check(static_cast<std::uint32_t>(bits));
  }
  flush();
  EXPECT_EQ(mismatches, 0);
}

INSTANTIATE_TEST_SUITE_P(Framebuffer, ResolvePaths, ::testing::Values(512, 256, 128));

TEST(Framebuffer, FillAndScaleAdd) {
  Framebuffer fb(4, 3);
  fb.Fill(Vec3{0.5f, 1.0f, 2.0f});
  fb.ScaleAdd(0.5f, Vec3{0.25f, 0.0f, -1.0f});
  for (const Vec3& p : fb.pixels) {
    EXPECT_EQ(p.r, 0.5f);
    EXPECT_EQ(p.g, 0.5f);
    EXPECT_EQ(p.b, 0.0f);
  }
  fb.Fill(Vec3{});
  EXPECT_EQ(LitCount(fb), 0);
}

// A NaN or infinity from outside must never reach the image: it would survive every decay.
TEST(Framebuffer, ClearLeavesEveryChannelPositiveZeroWhereverTheMarkIs) {
  // Clear only writes when it finds a channel that is not +0: a mark in the first, a middle or
  // the last channel, in the part after the last whole block of the scan, or a -0, must all go.
  // Odd sizes leave a tail after the blocks.
  for (const std::size_t w : {std::size_t{1}, std::size_t{37}, std::size_t{640}}) {
    Framebuffer fb(w, 23);
    const std::size_t floats = 3 * w * 23;
    for (const std::size_t at : {std::size_t{0}, floats / 2, floats - 5, floats - 1}) {
      for (const float mark : {1.0f, -0.0f, 1e-40f}) {
        float* c = &fb.pixels[0].x;
        c[at] = mark;
        fb.Clear();
        for (std::size_t i = 0; i < floats; ++i) {
          std::uint32_t bits;
          std::memcpy(&bits, c + i, sizeof bits);
          ASSERT_EQ(bits, 0u) << "width " << w << " mark at " << at << " left at " << i;
        }
      }
    }
    fb.Clear();  // black already: stays black
    EXPECT_TRUE(std::all_of(fb.pixels.begin(), fb.pixels.end(),
                            [](const Vec3& p) { return p.x == 0.0f && p.y == 0.0f && p.z == 0.0f; }));
  }
}

TEST(Framebuffer, NonFiniteArgumentsLeaveTheImageUnchanged) {
  Framebuffer fb(8, 8);
  fb.Fill(Vec3{0.25f, 0.5f, 0.75f});
  Framebuffer before(8, 8);
  before.Fill(Vec3{0.25f, 0.5f, 0.75f});
  Framebuffer src(8, 8);
  src.Fill(Vec3{1.0f, 1.0f, 1.0f});
  const Vec3 nan_colour{kNaN, 0.0f, 0.0f};
  const Vec3 inf_colour{0.0f, kInf, 0.0f};
  fb.Fill(nan_colour);
  fb.ScaleAdd(kNaN, Vec3{});
  fb.ScaleAdd(0.5f, inf_colour);
  fb.AddScaled(src, kInf);
  fb.AddScaled(src, kNaN);
  fb.AddPixel(1, 1, nan_colour, 1.0f);
  fb.AddPixel(1, 1, Vec3{1.0f, 1.0f, 1.0f}, kInf);
  fb.BlendPixel(1, 1, Vec3{1.0f, 1.0f, 1.0f}, kNaN);
  fb.AddRect(0, 0, 8, 8, inf_colour, 1.0f);
  fb.AddRect(0, 0, 8, 8, Vec3{1.0f, 1.0f, 1.0f}, kNaN);
  fb.BlendRect(0, 0, 8, 8, nan_colour, 0.5f);
  fb.BlendRect(0, 0, 8, 8, Vec3{}, -kInf);
  fb.AddImage(src, 0, 0, 8, 8, kNaN, 0.0f, 1.0f);
  fb.AddImage(src, 0, 0, 8, 8, 0.0f, -kInf, 1.0f);
  fb.AddImage(src, 0, 0, 8, 8, 1e30f, 0.0f, 1.0f);
  fb.AddImage(src, 0, 0, 8, 8, 0.0f, -1e30f, 1.0f);
  fb.AddImage(src, 0, 0, 8, 8, 0.0f, 0.0f, kNaN);
  EXPECT_TRUE(SamePixels(fb, before));
}

TEST(Framebuffer, AddScaledOnlyWithPositiveFactorAndSameSize) {
  Framebuffer fb(4, 4);
  Framebuffer src(4, 4);
  src.Fill(Vec3{1.0f, 2.0f, 3.0f});
  Framebuffer other(4, 5);
  other.Fill(Vec3{1.0f, 1.0f, 1.0f});
  fb.AddScaled(src, 0.0f);
  fb.AddScaled(src, -1.0f);
  fb.AddScaled(other, 1.0f);
  EXPECT_EQ(LitCount(fb), 0);
  fb.AddScaled(src, 0.5f);
  fb.AddScaled(src, 0.5f);
  for (const Vec3& p : fb.pixels) {
    EXPECT_EQ(p.r, 1.0f);
    EXPECT_EQ(p.g, 2.0f);
    EXPECT_EQ(p.b, 3.0f);
  }
}

// The whole-image passes work on several pixels at a time: every pixel, including those past
// the last full group, must get its own channel's operation (x, y and z differ here).
TEST(Framebuffer, WholeImagePassesTreatEveryPixelAndChannelAlike) {
  for (const auto& [w, h] : {std::pair{1, 1}, std::pair{3, 1}, std::pair{4, 1}, std::pair{7, 3}}) {
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    Framebuffer fb(w, h);
    Framebuffer src(w, h);
    std::vector<Vec3> expected(fb.pixels.size());
    for (std::size_t i = 0; i < fb.pixels.size(); ++i) {
      const float f = static_cast<float>(i);
      fb.pixels[i] = Vec3{0.1f * f + 0.03f, 0.7f - 0.05f * f, 0.013f * f * f};
      src.pixels[i] = Vec3{0.02f * f, 0.3f + 0.01f * f, 1.5f - 0.1f * f};
      const Vec3 p = fb.pixels[i];
      const Vec3 s = src.pixels[i];
      const Vec3 decayed{0.86f * p.x + 0.25f, 0.86f * p.y + -0.5f, 0.86f * p.z + 2.0f};
      expected[i] = Vec3{decayed.x + 0.75f * s.x, decayed.y + 0.75f * s.y,
                         decayed.z + 0.75f * s.z};
    }
    fb.ScaleAdd(0.86f, Vec3{0.25f, -0.5f, 2.0f});
    fb.AddScaled(src, 0.75f);
    fb.ResolveRgba8();
    for (std::size_t i = 0; i < fb.pixels.size(); ++i) {
      const Vec3& e = expected[i];
      EXPECT_EQ(std::bit_cast<std::uint32_t>(fb.pixels[i].x), std::bit_cast<std::uint32_t>(e.x));
      EXPECT_EQ(std::bit_cast<std::uint32_t>(fb.pixels[i].y), std::bit_cast<std::uint32_t>(e.y));
      EXPECT_EQ(std::bit_cast<std::uint32_t>(fb.pixels[i].z), std::bit_cast<std::uint32_t>(e.z));
      const std::uint32_t word = kOpaqueBlack + ToneCurveByte(e.z) * 65536u +
                                 ToneCurveByte(e.y) * 256u + ToneCurveByte(e.x);
      EXPECT_EQ(fb.rgba[i], word) << "pixel " << i;
    }
  }
}

TEST(Framebuffer, AddPixelAndBlendPixelSkipOutsideCoordinates) {
  Framebuffer fb(5, 4);
  const int outside[][2] = {{-1, 0}, {0, -1}, {5, 0}, {0, 4}, {INT_MIN, INT_MIN}, {INT_MAX, 2}};
  for (const auto& xy : outside) {
    fb.AddPixel(xy[0], xy[1], Vec3{1.0f, 1.0f, 1.0f}, 1.0f);
    fb.BlendPixel(xy[0], xy[1], Vec3{1.0f, 1.0f, 1.0f}, 1.0f);
  }
  EXPECT_EQ(LitCount(fb), 0);
  fb.AddPixel(4, 3, Vec3{1.0f, 2.0f, 0.0f}, 0.5f);
  EXPECT_EQ(At(fb, 4, 3).r, 0.5f);
  EXPECT_EQ(At(fb, 4, 3).g, 1.0f);
  fb.BlendPixel(4, 3, Vec3{0.0f, 0.0f, 1.0f}, 0.25f);
  EXPECT_FLOAT_EQ(At(fb, 4, 3).r, 0.375f);
  EXPECT_FLOAT_EQ(At(fb, 4, 3).g, 0.75f);
  EXPECT_FLOAT_EQ(At(fb, 4, 3).b, 0.25f);
  EXPECT_EQ(LitCount(fb), 1);
}

// Each case: the rectangle and the clipped rectangle it must touch (x0, y0, x1, y1 exclusive),
// or an empty one. Ends of the int range must neither overflow nor wrap around.
struct RectCase {
  int x, y, w, h;
  float k;
  int x0, y0, x1, y1;
};
const RectCase kRectCases[] = {
    {-5, -5, 10, 10, 1.0f, 0, 0, 5, 5},
    {2, 3, 4, 5, 1.0f, 2, 3, 6, 8},
    {15, 5, 10, 2, 1.0f, 15, 5, 20, 7},
    {3, 3, 0, 5, 1.0f, 0, 0, 0, 0},
    {3, 3, 5, -1, 1.0f, 0, 0, 0, 0},
    {3, 3, 5, 5, 0.0f, 0, 0, 0, 0},
    {3, 3, 5, 5, -2.0f, 0, 0, 0, 0},
    {20, 0, 5, 5, 1.0f, 0, 0, 0, 0},
    {-5, 0, 5, 5, 1.0f, 0, 0, 0, 0},
    {INT_MAX - 2, 0, INT_MAX, 4, 1.0f, 0, 0, 0, 0},
    {INT_MIN, 0, INT_MAX, 4, 1.0f, 0, 0, 0, 0},
    {-10, INT_MIN, INT_MAX, INT_MAX, 1.0f, 0, 0, 0, 0},
    {-10, -10, INT_MAX, INT_MAX, 1.0f, 0, 0, 20, 10},
};

TEST(Framebuffer, AddRectTouchesExactlyTheClippedRectangle) {
  for (const RectCase& c : kRectCases) {
    Framebuffer fb(20, 10);
    fb.AddRect(c.x, c.y, c.w, c.h, Vec3{1.0f, 0.5f, 0.25f}, c.k);
    for (int py = 0; py < 10; ++py) {
      for (int px = 0; px < 20; ++px) {
        const bool inside = px >= c.x0 && px < c.x1 && py >= c.y0 && py < c.y1;
        const Vec3 expected = inside ? Vec3{c.k, 0.5f * c.k, 0.25f * c.k} : Vec3{};
        ASSERT_EQ(At(fb, px, py).r, expected.r)
            << "rect " << c.x << "," << c.y << "," << c.w << "," << c.h << " at " << px << "," << py;
        ASSERT_EQ(At(fb, px, py).b, expected.b);
      }
    }
  }
}

TEST(Framebuffer, BlendRectClipsAndBlends) {
  for (const RectCase& c : kRectCases) {
    if (c.k <= 0.0f) continue;  // BlendRect has no strength test; its amount is below
    Framebuffer fb(20, 10);
    fb.Fill(Vec3{1.0f, 1.0f, 1.0f});
    fb.BlendRect(c.x, c.y, c.w, c.h, Vec3{0.0f, 0.0f, 3.0f}, 0.25f);
    for (int py = 0; py < 10; ++py) {
      for (int px = 0; px < 20; ++px) {
        const bool inside = px >= c.x0 && px < c.x1 && py >= c.y0 && py < c.y1;
        ASSERT_EQ(At(fb, px, py).r, inside ? 0.75f : 1.0f) << px << "," << py;
        ASSERT_EQ(At(fb, px, py).b, inside ? 1.5f : 1.0f) << px << "," << py;
      }
    }
  }
}

TEST(Framebuffer, BlendRectAmountOneIsFillAndZeroKeeps) {
  Framebuffer fb(16, 9);
  for (std::size_t i = 0; i < fb.pixels.size(); ++i) {
    fb.pixels[i] = Vec3{static_cast<float>(i), 0.5f, 2.0f};
  }
  Framebuffer kept(16, 9);
  kept.pixels = fb.pixels;
  fb.BlendRect(0, 0, 16, 9, Vec3{3.0f, 4.0f, 5.0f}, 0.0f);
  EXPECT_TRUE(SamePixels(fb, kept));
  fb.BlendRect(-3, -3, 100, 100, Vec3{3.0f, 4.0f, 5.0f}, 1.0f);
  Framebuffer filled(16, 9);
  filled.Fill(Vec3{3.0f, 4.0f, 5.0f});
  EXPECT_TRUE(SamePixels(fb, filled));
  // Amounts beyond 1 extrapolate rather than clamp.
  fb.BlendRect(0, 0, 1, 1, Vec3{0.0f, 0.0f, 0.0f}, 2.0f);
  EXPECT_EQ(At(fb, 0, 0).r, -3.0f);
}

class AddImageTest : public ::testing::Test {
 protected:
  // A 4 x 3 source whose pixel (x, y) holds (x + 1 + 10*y, 0, 1).
  AddImageTest() : src(4, 3), dst(10, 8) {
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 4; ++x) src.pixels[y * 4 + x] = Vec3{x + 1.0f + 10.0f * y, 0.0f, 1.0f};
    }
  }
  Framebuffer src;
  Framebuffer dst;
};

TEST_F(AddImageTest, IntegerOffsetMovesEachPixelOntoOne) {
  dst.AddImage(src, 1, 1, 2, 2, 5.0f, 3.0f, 2.0f);
  EXPECT_EQ(LitCount(dst), 4);
  EXPECT_EQ(At(dst, 5, 3).r, 2.0f * 12.0f);
  EXPECT_EQ(At(dst, 6, 3).r, 2.0f * 13.0f);
  EXPECT_EQ(At(dst, 5, 4).r, 2.0f * 22.0f);
  EXPECT_EQ(At(dst, 6, 4).r, 2.0f * 23.0f);
  EXPECT_EQ(At(dst, 6, 4).b, 2.0f);
}

TEST_F(AddImageTest, HalfPixelOffsetSplitsBetweenNeighbours) {
  dst.AddImage(src, 0, 0, 1, 1, 2.5f, 1.0f, 1.0f);
  EXPECT_EQ(LitCount(dst), 2);
  EXPECT_EQ(At(dst, 2, 1).r, 0.5f);
  EXPECT_EQ(At(dst, 3, 1).r, 0.5f);
  dst.Fill(Vec3{});
  dst.AddImage(src, 0, 0, 1, 1, 2.25f, 1.5f, 1.0f);
  EXPECT_EQ(LitCount(dst), 4);
  EXPECT_EQ(At(dst, 2, 1).r, 0.75f * 0.5f);
  EXPECT_EQ(At(dst, 3, 1).r, 0.25f * 0.5f);
  EXPECT_EQ(At(dst, 2, 2).r, 0.75f * 0.5f);
  EXPECT_EQ(At(dst, 3, 2).r, 0.25f * 0.5f);
}

TEST_F(AddImageTest, DimPixelsAreSkipped) {
  src.Fill(Vec3{3e-6f, 3e-6f, 4e-6f});  // sum 1e-5 after k = 1: skipped
  dst.AddImage(src, 0, 0, 4, 3, 0.0f, 0.0f, 1.0f);
  EXPECT_EQ(LitCount(dst), 0);
  dst.AddImage(src, 0, 0, 4, 3, 0.0f, 0.0f, 1.5f);
  EXPECT_EQ(LitCount(dst), 12);
}

TEST_F(AddImageTest, ClipsSourceAndDestination) {
  // Source rectangle hanging off the source's top-left: only source pixel (0, 0) exists, and it
  // lands at (2 + 3, 2 + 3).
  dst.AddImage(src, -2, -2, 3, 3, 3.0f, 3.0f, 1.0f);
  EXPECT_EQ(LitCount(dst), 1);
  EXPECT_EQ(At(dst, 5, 5).r, 1.0f);
  // Partly off the destination's left and bottom edges: only the pixels that land inside.
  dst.Fill(Vec3{});
  dst.AddImage(src, 0, 0, 4, 3, -2.0f, 6.0f, 1.0f);
  EXPECT_EQ(LitCount(dst), 4);
  EXPECT_EQ(At(dst, 0, 6).r, 3.0f);
  EXPECT_EQ(At(dst, 1, 7).r, 14.0f);
  // Wholly outside, empty or dark.
  const float far[][2] = {{-4.0f, 0.0f}, {10.0f, 0.0f}, {0.0f, -3.0f}, {0.0f, 8.0f}};
  dst.Fill(Vec3{});
  for (const auto& d : far) dst.AddImage(src, 0, 0, 4, 3, d[0], d[1], 1.0f);
  dst.AddImage(src, 0, 0, 0, 3, 1.0f, 1.0f, 1.0f);
  dst.AddImage(src, 0, 0, 4, -1, 1.0f, 1.0f, 1.0f);
  dst.AddImage(src, 4, 0, 4, 3, 1.0f, 1.0f, 1.0f);
  dst.AddImage(src, INT_MIN, INT_MIN, INT_MAX, INT_MAX, 1.0f, 1.0f, 1.0f);
  dst.AddImage(src, 0, 0, 4, 3, 1.0f, 1.0f, 0.0f);
  EXPECT_EQ(LitCount(dst), 0);
  // A rectangle reaching the ends of the int range is clipped without overflow.
  dst.AddImage(src, -10, -10, INT_MAX, INT_MAX, -10.0f, -10.0f, 1.0f);
  EXPECT_EQ(LitCount(dst), 12);
}


// AddImage gathers each destination pixel's four terms in rows of floats; the plain
// one-source-pixel-at-a-time split is kept as AddImageReference. The two must give the same bits
// for every placement: the glow taps of the tracker display (fractions that round differently
// per column far from the origin), whole and half pixels, offsets a hair off an integer (where
// neighbours can land on one pixel), rectangles hanging off every edge and wider than one
// column tile, over a source with dark, dim, skipped, huge and infinite pixels; with each
// vector width.
TEST(AddImageOracle, SameBitsAsThePlainSplit) {
  Framebuffer src(300, 40);
  std::uint32_t h = 12345u;
  const auto next = [&h] {
    h = h * 1664525u + 1013904223u;
    return (h >> 8) & 0xFFFFu;
  };
  for (Vec3& p : src.pixels) {
    const std::uint32_t kind = next() % 8;
    const float a = static_cast<float>(next()) / 65536.0f;
    if (kind < 3) p = Vec3{};                                          // dark
    else if (kind == 3) p = Vec3{3e-6f * a, 3e-6f, 4e-6f};             // near the skip level
    else if (kind == 4) p = Vec3{1e30f * a, 2.0f, 0.0f};               // huge
    else p = Vec3{a * 3.0f, 0.5f * a, static_cast<float>(next() % 3)};  // ordinary light
  }
  src.pixels[300 * 1 + 7] = Vec3{kInf, 1.0f, 0.0f};
  for (int j = 0; j < 300; ++j) src.pixels[20 * 300 + j] = Vec3{};  // one all-dark row

  struct Case {
    int sx, sy, sw, sh;
    float dx, dy, k;
  };
  const Case cases[] = {
      {20, 4, 250, 30, 248.0f - 0.55f, 12.0f - 0.2f, 0.074f},   // tracker taps
      {20, 4, 250, 30, 248.0f + 3.85f, 12.0f - 0.15f, 0.019f},
      {20, 4, 250, 30, 248.0f - 1.8f, 12.0f + 1.65f, 0.028f},
      {20, 4, 250, 30, 248.0f, 12.0f, 0.032f},                   // whole pixels
      {0, 0, 300, 40, 0.5f, 0.5f, 1.0f},                          // half pixels, every tile
      {0, 0, 300, 40, -1e-7f, 3.0f - 1e-7f, 1.0f},                // a hair below integers
      {0, 0, 300, 40, 1e-7f, 1e-7f, 2.0f},                        // a hair above
      {-5, -5, 200, 60, -17.3f, -12.6f, 0.5f},                    // off the top-left
      {100, 10, 250, 40, 500.7f, 30.2f, 0.5f},                    // off the bottom-right
      {0, 0, 300, 40, 1000.25f, 10.0f, 1.0f},                  // lands far right: clipped
      {3, 2, 5, 3, 0.99999994f, 2.0000002f, 3.0f},                // tiny
  };
  for (const int bits : {256, 128}) {
  LimitAddImageVectors(bits);  // AVX2 rows where this machine has them, then SSE2
  for (const Case& c : cases) {
    Framebuffer fast(640, 64);
    Framebuffer plain(640, 64);
    for (std::size_t i = 0; i < fast.pixels.size(); ++i) {
      const float v = static_cast<float>(next()) / 65536.0f;
      fast.pixels[i] = plain.pixels[i] = Vec3{v, 0.25f * v, 0.0f};
    }
    Framebuffer before(640, 64);
    before.pixels = plain.pixels;
    fast.AddImage(src, c.sx, c.sy, c.sw, c.sh, c.dx, c.dy, c.k);
    AddImageReference(plain, src, c.sx, c.sy, c.sw, c.sh, c.dx, c.dy, c.k);
    EXPECT_TRUE(SamePixels(fast, plain)) << "dx " << c.dx << " dy " << c.dy << " bits " << bits;
    // Every case but the one that lands wholly outside adds light somewhere, so the comparison
    // is not of two untouched images.
    EXPECT_EQ(SamePixels(before, plain), c.dx > 999.0f) << "dx " << c.dx;
  }
  }
  LimitAddImageVectors(512);
}

// AddImageTaps against its taps added one by one, the plain way: the merged kernel sums the same
// terms in another order (with the dim ones AddImage skips, at most 1e-5 each), so they agree to
// within float rounding; taps it cannot merge, or the SSE2 limit, give the calls' very bits.
TEST(AddImageTaps, MatchesItsTapsAddedOneByOne) {
  Framebuffer src(300, 60);
  std::uint32_t h = 777u;
  const auto next = [&h] {
    h = h * 1664525u + 1013904223u;
    return static_cast<float>((h >> 8) & 0xFFFFu) / 65536.0f;
  };
  for (Vec3& p : src.pixels) {
    const float kind = next();
    if (kind < 0.3f) p = Vec3{};                              // dark
    else if (kind < 0.4f) p = Vec3{3e-6f, 2e-6f * next(), 0.0f};  // below AddImage's skip level
    else p = Vec3{3.0f * next(), 0.5f * next(), next()};      // ordinary light
  }
  // The tracker display's ring of taps, and taps at the edges of what merges.
  const std::vector<ImageTap> ring = {
      {0.0f, 0.0f, 0.032f},     {-0.55f, -0.2f, 0.074f}, {0.7f, 0.15f, 0.074f},   {-1.25f, 0.35f, 0.063f},
      {1.35f, -0.3f, 0.063f},   {-0.15f, -1.2f, 0.055f}, {0.25f, 1.35f, 0.055f},  {-2.35f, -0.45f, 0.039f},
      {2.45f, 0.4f, 0.039f},    {-1.8f, 1.65f, 0.028f},  {1.9f, -1.7f, 0.028f},   {-3.8f, 0.2f, 0.019f},
      {3.85f, -0.15f, 0.019f}};
  const std::vector<ImageTap> edges = {{-4.0f, -4.0f, 0.5f}, {3.99f, 3.5f, 0.25f}, {2.0f, -3.0f, 0.0f},
                                       {1.0f, 1.0f, -1.0f}};
  const std::vector<ImageTap> too_far = {{0.5f, 0.5f, 0.2f}, {4.5f, 0.0f, 0.1f}};
  struct Case {
    const char* what;
    int sx, sy, sw, sh;
    const std::vector<ImageTap>* taps;
    bool merged;
  };
  const Case cases[] = {
      {"tracker ring inside", 20, 4, 250, 40, &ring, true},
      {"tracker ring off the top left", -6, -3, 120, 30, &ring, true},
      {"tracker ring off the bottom right", 200, 30, 120, 40, &ring, true},
      {"shifts at the limits", 10, 10, 280, 40, &edges, true},
      {"a shift beyond the limit", 10, 10, 200, 40, &too_far, false},
  };
  const auto largest_gap = [](const Framebuffer& a, const Framebuffer& b) {
    float gap = 0.0f;
    for (std::size_t i = 0; i < a.pixels.size(); ++i) {
      for (int c = 0; c < 3; ++c) {
        const float x = (&a.pixels[i].x)[c];
        const float y = (&b.pixels[i].x)[c];
        gap = std::max(gap, std::fabs(x - y) / (1.0f + std::fabs(y)));
      }
    }
    return gap;
  };
  // AVX-512 where this machine has it, AVX2, then SSE2 (the calls one by one). The merged taps
  // must give the same bits at either vector width.
  std::vector<std::vector<Vec3>> widest;  // each case's pixels at 512 bits
  for (const int bits : {512, 256, 128}) {
    LimitAddImageVectors(bits);
    for (std::size_t n = 0; n < std::size(cases); ++n) {
      const Case& c = cases[n];
      Framebuffer merged(300, 60);
      Framebuffer plain(300, 60);
      merged.AddImageTaps(src, c.sx, c.sy, c.sw, c.sh, c.taps->data(), static_cast<int>(c.taps->size()));
      for (const ImageTap& t : *c.taps)
        AddImageReference(plain, src, c.sx, c.sy, c.sw, c.sh, static_cast<float>(c.sx) + t.dx,
                          static_cast<float>(c.sy) + t.dy, t.k);
      EXPECT_GT(LitCount(plain), 1000) << c.what;
      if (c.merged && bits >= 256) {
        EXPECT_LE(largest_gap(merged, plain), 2e-4f) << c.what;
        EXPECT_FALSE(SamePixels(merged, plain)) << c.what << ": the taps were not merged";
      } else {
        EXPECT_TRUE(SamePixels(merged, plain)) << c.what << " bits " << bits;
      }
      if (bits == 512) {
        widest.push_back(merged.pixels);
      } else if (bits == 256) {
        Framebuffer at_512(300, 60);
        at_512.pixels = widest[n];
        EXPECT_TRUE(SamePixels(merged, at_512)) << c.what << ": AVX2 and AVX-512 differ";
      }
    }
  }
  LimitAddImageVectors(512);
}

}  // namespace
