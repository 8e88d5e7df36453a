// Splat kernel, clipping, lines, the font and the text drawers, and the shared hash.

#include "render/primitives.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <set>
#include <string>

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
const Vec3 kWhite{1.0f, 1.0f, 1.0f};

int LitCount(const Framebuffer& fb) {
  int n = 0;
  for (const Vec3& p : fb.pixels) n += (p.x != 0.0f || p.y != 0.0f || p.z != 0.0f) ? 1 : 0;
  return n;
}

bool SamePixels(const Framebuffer& a, const Framebuffer& b) {
  return a.pixels.size() == b.pixels.size() &&
         std::memcmp(a.pixels.data(), b.pixels.data(), a.pixels.size() * sizeof(Vec3)) == 0;
}

// Pixels equal up to float rounding of differently ordered but equal constants.
::testing::AssertionResult NearPixels(const Framebuffer& a, const Framebuffer& b) {
  for (std::size_t i = 0; i < a.pixels.size(); ++i) {
    const float d = std::fabs(a.pixels[i].x - b.pixels[i].x) +
                    std::fabs(a.pixels[i].y - b.pixels[i].y) +
                    std::fabs(a.pixels[i].z - b.pixels[i].z);
    if (!(d <= 1e-5f)) {
      return ::testing::AssertionFailure()
             << "pixel " << i % a.width << "," << i / a.width << " differs by " << d;
    }
  }
  return ::testing::AssertionSuccess();
}

const Vec3& At(const Framebuffer& fb, int x, int y) {
  return fb.pixels[static_cast<std::size_t>(y) * fb.width + static_cast<std::size_t>(x)];
}

TEST(Hash32, MatchesHandComputedMix) {
  // Worked through h ^= h >> 16; h *= 0x7FEB352D; h ^= h >> 15; h *= 0x846CA68B; h ^= h >> 16.
  // For 1: 1 -> 1 -> 0x7FEB352D -> 0x7FEBCAFB -> 0x6889F849 -> 0x688990C0.
  EXPECT_EQ(Hash32(0u), 0u);
  EXPECT_EQ(Hash32(1u), 0x688990C0u);
  EXPECT_EQ(Hash32(2u), 0xD1132181u);
  EXPECT_EQ(Hash32(12345u), 0x912EFCF7u);
  EXPECT_EQ(Hash32(0xFFFFFFFFu), 0x6768824Au);
  EXPECT_EQ(Hash32(0x38A5B9D1u), 0x5B7B69ECu);
  EXPECT_FLOAT_EQ(HashUnit(1u), static_cast<float>(0x8990C0u) / 16777216.0f);
}

TEST(Splat, InvalidArgumentsDrawNothing) {
  struct Case {
    float x, y, radius;
    Vec3 colour;
    float intensity;
  };
  const Case cases[] = {
      {5.5f, 5.5f, 2.0f, kWhite, 0.0f},
      {5.5f, 5.5f, 2.0f, kWhite, -1.0f},
      {5.5f, 5.5f, 0.0f, kWhite, 1.0f},
      {5.5f, 5.5f, -2.0f, kWhite, 1.0f},
      {kNaN, 5.5f, 2.0f, kWhite, 1.0f},
      {5.5f, kNaN, 2.0f, kWhite, 1.0f},
      {kInf, 5.5f, 2.0f, kWhite, 1.0f},
      {5.5f, -kInf, 2.0f, kWhite, 1.0f},
      {1e30f, 5.5f, 2.0f, kWhite, 1.0f},
      {5.5f, -1e30f, 2.0f, kWhite, 1.0f},
      {3e9f, -3e9f, 4e9f, kWhite, 1.0f},
      {1e30f, 1e30f, 1e30f, kWhite, 1.0f},
      {5.5f, 5.5f, kNaN, kWhite, 1.0f},
      {5.5f, 5.5f, kInf, kWhite, 1.0f},
      {5.5f, 5.5f, 2.0f, kWhite, kNaN},
      {5.5f, 5.5f, 2.0f, kWhite, kInf},
      {5.5f, 5.5f, 2.0f, Vec3{kNaN, 0.0f, 0.0f}, 1.0f},
      {5.5f, 5.5f, 2.0f, Vec3{0.0f, 0.0f, -kInf}, 1.0f},
      {-3.0f, 5.5f, 2.0f, kWhite, 1.0f},
      {5.5f, 13.0f, 2.0f, kWhite, 1.0f},
  };
  for (const Case& c : cases) {
    Framebuffer fb(12, 10);
    Splat(fb, c.x, c.y, c.radius, c.colour, c.intensity);
    SplatClipped(fb, c.x, c.y, c.radius, c.colour, c.intensity, 0, 0, 12, 10);
    SplatPlanes planes;
    PrepareSplatPlanes(planes, fb.width, fb.height);
    SplatIntoPlanes(planes, c.x, c.y, c.radius, c.colour, c.intensity);
    AddSplatPlanes(planes, fb.pixels.data());
    EXPECT_EQ(LitCount(fb), 0) << "x " << c.x << " y " << c.y << " radius " << c.radius;
  }
}

// Splats drawn through the planes and then added onto an image equal the same splats drawn
// straight into it, up to rounding (the planes fold the intensity into the colour and fuse the
// adds): discs of every size, cut by every edge, over a non-zero image. The planes are left all
// zero, margins included, so the next frame starts clean, and a second add changes nothing.
TEST(SplatPlanes, AddWhatTheSplatsAddAndAreLeftEmpty) {
  Framebuffer direct(83, 47);
  for (std::size_t i = 0; i < direct.pixels.size(); ++i) {
    direct.pixels[i] = Vec3{0.25f, 0.5f, 0.125f} * HashUnit(static_cast<std::uint32_t>(i));
  }
  Framebuffer planar(83, 47);
  planar.pixels = direct.pixels;
  SplatPlanes planes;
  PrepareSplatPlanes(planes, planar.width, planar.height);
  for (std::uint32_t i = 0; i < 60; ++i) {
    const float radius = 0.2f + 20.0f * HashUnit(i * 5u) * HashUnit(i * 5u + 1u);
    const float x = -8.0f + 99.0f * HashUnit(i * 5u + 2u);
    const float y = -8.0f + 63.0f * HashUnit(i * 5u + 3u);
    const Vec3 colour{1.0f, 0.4f, 0.8f * HashUnit(i * 5u + 4u)};
    Splat(direct, x, y, radius, colour, 0.3f);
    SplatIntoPlanes(planes, x, y, radius, colour, 0.3f);
  }
  ASSERT_LE(planes.rows_lo, planes.rows_hi);
  AddSplatPlanes(planes, planar.pixels.data());
  EXPECT_TRUE(NearPixels(direct, planar));
  EXPECT_GT(planes.rows_lo, planes.rows_hi);
  for (const std::vector<float>* plane : {&planes.red, &planes.green, &planes.blue}) {
    EXPECT_EQ(std::count(plane->begin(), plane->end(), 0.0f), static_cast<std::ptrdiff_t>(plane->size()));
  }
  const std::vector<Vec3> once = planar.pixels;
  AddSplatPlanes(planes, planar.pixels.data());
  EXPECT_EQ(0, std::memcmp(once.data(), planar.pixels.data(), once.size() * sizeof(Vec3)));

  // The add itself is exactly a channel-by-channel float add, pixel by pixel, whatever vectors
  // it takes: every pixel of a row (83 = five vectors of 16 and a tail of 3), every channel.
  Framebuffer summed(83, 47);
  for (std::size_t i = 0; i < summed.pixels.size(); ++i) {
    summed.pixels[i] = Vec3{0.3f, 0.7f, 0.1f} * HashUnit(static_cast<std::uint32_t>(i) + 7u);
  }
  for (std::uint32_t i = 0; i < 40; ++i) {
    SplatIntoPlanes(planes, 83.0f * HashUnit(i * 3u + 100u), 47.0f * HashUnit(i * 3u + 101u),
                    3.0f + 12.0f * HashUnit(i * 3u + 102u), Vec3{1.0f, 0.5f, 0.25f}, 0.7f);
  }
  std::vector<Vec3> expected = summed.pixels;
  for (int py = planes.rows_lo; py <= planes.rows_hi; ++py) {
    for (std::size_t px = 0; px < planes.width; ++px) {
      const std::size_t at = static_cast<std::size_t>(py) * planes.stride + px;
      Vec3& e = expected[static_cast<std::size_t>(py) * planes.width + px];
      e.x += planes.red[at];
      e.y += planes.green[at];
      e.z += planes.blue[at];
    }
  }
  AddSplatPlanes(planes, summed.pixels.data());
  EXPECT_EQ(0, std::memcmp(expected.data(), summed.pixels.data(), expected.size() * sizeof(Vec3)));

  // Only the rows the splats reached are touched by the add.
  Framebuffer band(83, 47);
  band.Fill(Vec3{-0.0f, -0.0f, -0.0f});
  SplatIntoPlanes(planes, 40.5f, 20.5f, 2.0f, kWhite, 1.0f);
  EXPECT_EQ(planes.rows_lo, 18);
  EXPECT_EQ(planes.rows_hi, 22);
  AddSplatPlanes(planes, band.pixels.data());
  EXPECT_TRUE(std::signbit(At(band, 40, 17).x));
  EXPECT_EQ(At(band, 40, 20).x, 1.0f);
}

TEST(Splat, WeightIsOneAtTheCentreAndFadesToZeroAtTheRim) {
  Framebuffer fb(12, 12);
  Splat(fb, 5.5f, 5.5f, 1.0f, Vec3{1.0f, 0.5f, 2.0f}, 0.75f);
  EXPECT_EQ(At(fb, 5, 5).r, 0.75f);
  EXPECT_EQ(At(fb, 5, 5).g, 0.375f);
  EXPECT_EQ(At(fb, 5, 5).b, 1.5f);
  // Direct neighbours sit at d2 = 1, just inside R2 = 1.0001: (1 - 1/1.0001)^2 ~ 1e-8. The
  // tolerance covers the float rounding of 1.0001 and of the cancellation.
  for (const auto& n : {std::pair{4, 5}, std::pair{6, 5}, std::pair{5, 4}, std::pair{5, 6}}) {
    EXPECT_NEAR(At(fb, n.first, n.second).r, 0.75f * 1e-8f, 0.75f * 3e-11f);
  }
  EXPECT_EQ(LitCount(fb), 5);

  // Radius 2: weight (1 - d2/4.0001)^2 inside, the 13 pixels with d2 <= 4 lit.
  Framebuffer wide(12, 12);
  Splat(wide, 5.5f, 5.5f, 2.0f, kWhite, 1.0f);
  EXPECT_EQ(LitCount(wide), 13);
  const float r2 = 4.0001f;
  EXPECT_NEAR(At(wide, 6, 5).r, (1.0f - 1.0f / r2) * (1.0f - 1.0f / r2), 1e-6f);
  EXPECT_NEAR(At(wide, 6, 6).r, (1.0f - 2.0f / r2) * (1.0f - 2.0f / r2), 1e-6f);
  EXPECT_GT(At(wide, 7, 5).r, 0.0f);
  EXPECT_LT(At(wide, 7, 5).r, 1e-8f);
  EXPECT_EQ(At(wide, 7, 6).r, 0.0f);
}

// A wide splat over light already in the image: every pixel of the footprint, whatever its
// place in a row (several pixels are weighed together), gets exactly the one-pixel formula, and
// the pixels outside the disc keep their light untouched.
TEST(Splat, WideSplatAddsTheFormulaToEveryPixelOfItsDisc) {
  for (const float cx : {9.3f, 10.0f, 2.7f}) {
    SCOPED_TRACE(cx);
    Framebuffer fb(21, 15);
    fb.Fill(Vec3{0.125f, -0.0f, 0.5f});
    const Vec3 colour{0.8f, 0.3f, 1.7f};
    const float cy = 7.6f;
    const float radius = 6.3f;
    const float intensity = 0.9f;
    Splat(fb, cx, cy, radius, colour, intensity);
    const float r2 = radius * radius + 0.0001f;
    const float inv_r2 = 1.0f / r2;
    int lit = 0;
    for (int py = 0; py < 15; ++py) {
      for (int px = 0; px < 21; ++px) {
        const float dx = static_cast<float>(px) + 0.5f - cx;
        const float dy = static_cast<float>(py) + 0.5f - cy;
        const float d2 = dx * dx + dy * dy;
        Vec3 expected{0.125f, -0.0f, 0.5f};
        if (d2 < r2) {
          const float falloff = 1.0f - d2 * inv_r2;
          const float weight = falloff * falloff * intensity;
          expected = Vec3{0.125f + weight * colour.x, -0.0f + weight * colour.y,
                          0.5f + weight * colour.z};
          ++lit;
        }
        const Vec3& got = At(fb, px, py);
        EXPECT_EQ(std::memcmp(&got, &expected, sizeof(Vec3)), 0) << px << "," << py;
      }
    }
    EXPECT_GT(lit, 60);
  }
}

TEST(Splat, SmallSplatsTouchOnlyTheirFootprint) {
  // Radius 0.5 on a pixel centre: only that pixel. On a pixel corner every neighbour centre is
  // at d2 = 0.5 > 0.2501, so nothing is drawn.
  Framebuffer fb(8, 8);
  Splat(fb, 3.5f, 3.5f, 0.5f, kWhite, 1.0f);
  EXPECT_EQ(LitCount(fb), 1);
  EXPECT_EQ(At(fb, 3, 3).r, 1.0f);
  Framebuffer corner(8, 8);
  Splat(corner, 4.0f, 4.0f, 0.5f, kWhite, 1.0f);
  EXPECT_EQ(LitCount(corner), 0);
  // Radius 0.3 off-centre: dimmer, still only its own pixel.
  Framebuffer off(8, 8);
  Splat(off, 3.6f, 3.5f, 0.3f, kWhite, 1.0f);
  EXPECT_EQ(LitCount(off), 1);
  EXPECT_LT(At(off, 3, 3).r, 1.0f);
}

TEST(Splat, FootprintIsClippedAtTheImageEdges) {
  // Centre half a pixel left of the image: only columns 0 (dx = 1) and 1 (dx = 2) are in reach.
  Framebuffer fb(10, 10);
  Splat(fb, -0.5f, 5.5f, 2.0f, kWhite, 1.0f);
  EXPECT_EQ(LitCount(fb), 4);
  EXPECT_GT(At(fb, 0, 4).r, 0.0f);
  EXPECT_GT(At(fb, 1, 5).r, 0.0f);
  // A huge but finite radius covers the whole image with the centre weight.
  Framebuffer all(10, 10);
  Splat(all, 5.0f, 5.0f, 1e30f, Vec3{0.5f, 0.25f, 0.0f}, 2.0f);
  for (const Vec3& p : all.pixels) {
    ASSERT_EQ(p.r, 1.0f);
    ASSERT_EQ(p.g, 0.5f);
  }
  // An empty image takes nothing and does not fail.
  Framebuffer empty(0, 0);
  Splat(empty, 0.0f, 0.0f, 3.0f, kWhite, 1.0f);
}

TEST(Splat, ClippedSplatIsTheSplatMaskedByTheRectangle) {
  Framebuffer full(20, 20);
  Splat(full, 10.3f, 9.8f, 4.0f, kWhite, 1.0f);
  struct Clip {
    int x0, y0, x1, y1;
  };
  const Clip clips[] = {{9, 8, 12, 11},           {0, 0, 20, 20},        {INT_MIN, INT_MIN, INT_MAX, INT_MAX},
                        {-5, 10, 8, 30},          {11, 0, 11, 20},       {12, 12, 9, 9},
                        {25, 0, 40, 20},          {0, -9, 20, -1},       {INT_MAX, INT_MAX, INT_MIN, INT_MIN}};
  for (const Clip& c : clips) {
    Framebuffer clipped(20, 20);
    SplatClipped(clipped, 10.3f, 9.8f, 4.0f, kWhite, 1.0f, c.x0, c.y0, c.x1, c.y1);
    for (int y = 0; y < 20; ++y) {
      for (int x = 0; x < 20; ++x) {
        const bool inside = x >= c.x0 && x < c.x1 && y >= c.y0 && y < c.y1;
        ASSERT_EQ(At(clipped, x, y).r, inside ? At(full, x, y).r : 0.0f)
            << "clip " << c.x0 << "," << c.y0 << "," << c.x1 << "," << c.y1 << " at " << x << "," << y;
      }
    }
  }
}

TEST(SplatLine, SplatCountFollowsTheLength) {
  // Length 0: n = 2, three splats on the same pixel centre.
  Framebuffer point(16, 16);
  SplatLine(point, Vec2{5.5f, 5.5f}, Vec2{5.5f, 5.5f}, kWhite, 0.5f, 0.5f);
  EXPECT_EQ(LitCount(point), 1);
  EXPECT_EQ(At(point, 5, 5).r, 1.5f);

  // Length 10: n = trunc(5.8) = 5, six splats two pixels apart.
  Framebuffer shortline(32, 8);
  SplatLine(shortline, Vec2{10.5f, 3.5f}, Vec2{20.5f, 3.5f}, kWhite, 1.0f, 0.5f);
  EXPECT_EQ(LitCount(shortline), 6);
  for (int i = 0; i <= 5; ++i) EXPECT_NEAR(At(shortline, 10 + 2 * i, 3).r, 1.0f, 1e-5f);

  // Length 192: capped at n = 48, 49 splats four pixels apart.
  Framebuffer longline(200, 8);
  SplatLine(longline, Vec2{0.5f, 3.5f}, Vec2{192.5f, 3.5f}, kWhite, 1.0f, 0.5f);
  EXPECT_EQ(LitCount(longline), 49);
  for (int i = 0; i <= 48; ++i) EXPECT_NEAR(At(longline, 4 * i, 3).r, 1.0f, 1e-5f);
}

TEST(SplatLine, BadEndsOrSizesDrawNothing) {
  Framebuffer fb(16, 16);
  SplatLine(fb, Vec2{kNaN, 2.0f}, Vec2{5.0f, 5.0f}, kWhite, 1.0f, 1.0f);
  SplatLine(fb, Vec2{2.0f, 2.0f}, Vec2{5.0f, kInf}, kWhite, 1.0f, 1.0f);
  SplatLine(fb, Vec2{2.0f, 2.0f}, Vec2{5.0f, 5.0f}, kWhite, 1.0f, kNaN);
  SplatLine(fb, Vec2{2.0f, 2.0f}, Vec2{5.0f, 5.0f}, Vec3{kNaN, 1.0f, 1.0f}, 1.0f, 1.0f);
  SplatLine(fb, Vec2{2.0f, 2.0f}, Vec2{5.0f, 5.0f}, kWhite, 0.0f, 1.0f);
  // Ends so far apart that the length overflows to infinity.
  SplatLine(fb, Vec2{-3e38f, 5.0f}, Vec2{3e38f, 5.0f}, kWhite, 1.0f, 1.0f);
  EXPECT_EQ(LitCount(fb), 0);
}

TEST(Font, LowerCaseFoldsAndUnknownCharactersGetTheFallback) {
  const GlyphBits fallback = {0x1F, 0x01, 0x02, 0x04, 0x00, 0x04, 0x00};
  for (char c = 'a'; c <= 'z'; ++c) EXPECT_EQ(GlyphRows(c), GlyphRows(static_cast<char>(c - 32)));
  const std::string unknown = std::string("?!\"$%&()*<@\\^_`{|}~\t\x7f\x80\xff") + '\0';
  for (char c : unknown) {
    EXPECT_EQ(GlyphRows(c), fallback) << "byte " << static_cast<int>(static_cast<unsigned char>(c));
  }
  // Spot checks of the table, and every glyph is its own: a copy slip would make two equal.
  EXPECT_EQ(GlyphRows('0'), (GlyphBits{0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}));
  EXPECT_EQ(GlyphRows('Q'), (GlyphBits{0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}));
  EXPECT_EQ(GlyphRows('\''), (GlyphBits{0x04, 0x04, 0x08, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(GlyphRows(' '), (GlyphBits{}));
  const std::string known = " #'+,-./:;=>0123456789[]ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::set<GlyphBits> distinct;
  for (char c : known) {
    EXPECT_NE(GlyphRows(c), fallback) << c;
    distinct.insert(GlyphRows(c));
  }
  EXPECT_EQ(distinct.size(), known.size());
}

TEST(BlockText, OneSquarePerDotAndSixCellAdvance) {
  Framebuffer fb(64, 32);
  DrawBlockText(fb, 3, 2, "A", kWhite, 0.5f, 2);
  EXPECT_EQ(LitCount(fb), 18 * 4);  // 18 dots in "A", 2 x 2 pixels each
  EXPECT_EQ(At(fb, 5, 2).r, 0.5f);  // top row 01110: first dot in column 1
  EXPECT_EQ(At(fb, 4, 2).r, 0.0f);

  // "aB" is "A" followed by "B" one cell of 6 columns later; a leading space only advances.
  Framebuffer pair(64, 32), parts(64, 32), spaced(64, 32), shifted(64, 32);
  DrawBlockText(pair, 3, 2, "aB", kWhite, 1.0f, 2);
  DrawBlockText(parts, 3, 2, "A", kWhite, 1.0f, 2);
  DrawBlockText(parts, 15, 2, "B", kWhite, 1.0f, 2);
  EXPECT_TRUE(SamePixels(pair, parts));
  DrawBlockText(spaced, 3, 2, " ?", kWhite, 1.0f, 2);
  DrawBlockText(shifted, 15, 2, "\x01", kWhite, 1.0f, 2);
  EXPECT_TRUE(SamePixels(spaced, shifted));
}

TEST(BlockText, NothingForBadStrengthCellOrFarPositions) {
  Framebuffer fb(64, 32);
  DrawBlockText(fb, 3, 2, "A", kWhite, 0.0f, 2);
  DrawBlockText(fb, 3, 2, "A", kWhite, kNaN, 2);
  DrawBlockText(fb, 3, 2, "A", kWhite, 1.0f, 0);
  DrawBlockText(fb, 3, 2, "A", kWhite, 1.0f, -3);
  DrawBlockText(fb, 3, 2, "A", Vec3{kInf, 0.0f, 0.0f}, 1.0f, 1);
  DrawBlockText(fb, 3, 2, nullptr, kWhite, 1.0f, 1);
  // Pens and rows that would overflow an int.
  DrawBlockText(fb, INT_MAX - 5, 2, "WWWWWW", kWhite, 1.0f, 1000);
  DrawBlockText(fb, 3, INT_MAX - 5, "WWW", kWhite, 1.0f, INT_MAX);
  DrawBlockText(fb, INT_MIN, INT_MIN, "WWW", kWhite, 1.0f, INT_MAX);
  EXPECT_EQ(LitCount(fb), 0);
}

TEST(SplatText, WithoutJitterDotsSitOnTheGrid) {
  // Radius 0.5 splats on pixel centres light exactly one pixel each: the block text pattern.
  Framebuffer splats(80, 16), blocks(80, 16);
  DrawSplatText(splats, 2.5f, 3.5f, "K#9q", kWhite, 1.0f, 0.5f, 1.0f, 0.0f, 0.0f);
  DrawBlockText(blocks, 2, 3, "K#9q", kWhite, 1.0f, 1);
  EXPECT_TRUE(SamePixels(splats, blocks));
  // A fractional cell advances 6 cells per character, spaces included.
  Framebuffer text(80, 20), parts(80, 20);
  DrawSplatText(text, 2.5f, 3.5f, "A B", kWhite, 1.0f, 0.5f, 2.0f, 0.0f, 0.0f);
  DrawSplatText(parts, 2.5f, 3.5f, "A", kWhite, 1.0f, 0.5f, 2.0f, 0.0f, 0.0f);
  DrawSplatText(parts, 26.5f, 3.5f, "B", kWhite, 1.0f, 0.5f, 2.0f, 0.0f, 0.0f);
  EXPECT_TRUE(SamePixels(text, parts));
}

TEST(SplatText, JitterIsStableBoundedAndDrivenByPhase) {
  Framebuffer a(120, 40), b(120, 40), moved(120, 40);
  DrawSplatText(a, 10.0f, 10.0f, "KESTREL", kWhite, 1.0f, 0.6f, 3.0f, 1.5f, 0.7f);
  DrawSplatText(b, 10.0f, 10.0f, "KESTREL", kWhite, 1.0f, 0.6f, 3.0f, 1.5f, 0.7f);
  DrawSplatText(moved, 10.0f, 10.0f, "KESTREL", kWhite, 1.0f, 0.6f, 3.0f, 1.5f, 1.9f);
  EXPECT_TRUE(SamePixels(a, b));
  EXPECT_FALSE(SamePixels(a, moved));
  // The offset is (cos(a), sin(1.31a)) * amp with amp < jitter, so every lit pixel centre lies
  // within sqrt(2)*jitter + radius of its font dot.
  Framebuffer grid(120, 40);
  DrawSplatText(grid, 10.0f, 10.0f, "KESTREL", kWhite, 1.0f, 0.01f, 3.0f, 0.0f, 0.0f);
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 120; ++x) {
      if (At(a, x, y).r == 0.0f) continue;
      bool near = false;
      for (int pen = 0; pen < 7 && !near; ++pen) {
        const GlyphBits& rows = GlyphRows("KESTREL"[pen]);
        for (int i = 0; i < 7 && !near; ++i) {
          for (int m = 0; m < 5 && !near; ++m) {
            if ((rows[i] & (0x10 >> m)) == 0) continue;
            const float dx = x + 0.5f - (10.0f + pen * 18.0f + m * 3.0f);
            const float dy = y + 0.5f - (10.0f + i * 3.0f);
            const float reach = 1.4143f * 1.5f + 0.6f;
            near = dx * dx + dy * dy < reach * reach;
          }
        }
      }
      ASSERT_TRUE(near) << "stray light at " << x << "," << y;
    }
  }
}

TEST(SplatText, ClippedTextIsTheTextMaskedByTheRectangle) {
  Framebuffer full(100, 30);
  DrawSplatText(full, 4.0f, 5.0f, "CLIP 42", kWhite, 0.8f, 1.2f, 2.0f, 0.9f, 0.3f);
  Framebuffer clipped(100, 30);
  DrawSplatTextClipped(clipped, 4.0f, 5.0f, "CLIP 42", kWhite, 0.8f, 1.2f, 2.0f, 0.9f, 0.3f, 20,
                       8, 61, 17);
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 100; ++x) {
      const bool inside = x >= 20 && x < 61 && y >= 8 && y < 17;
      ASSERT_EQ(At(clipped, x, y).r, inside ? At(full, x, y).r : 0.0f) << x << "," << y;
    }
  }
  Framebuffer none(100, 30);
  DrawSplatTextClipped(none, 4.0f, 5.0f, "CLIP", kWhite, 1.0f, 1.0f, 2.0f, 0.0f, 0.0f, 200, 0,
                       300, 30);
  DrawSplatText(none, kNaN, 5.0f, "CLIP", kWhite, 1.0f, 1.0f, 2.0f, 0.0f, 0.0f);
  DrawSplatText(none, 4.0f, 5.0f, "CLIP", kWhite, 1.0f, 1.0f, kInf, 0.0f, 0.0f);
  DrawSplatText(none, 4.0f, 5.0f, "CLIP", kWhite, 1.0f, 1.0f, 2.0f, kInf, 0.0f);
  DrawSplatText(none, 1e30f, 5.0f, "CLIP", kWhite, 1.0f, 1.0f, 2.0f, 1.0f, 1e30f);
  DrawSplatText(none, 4.0f, 5.0f, nullptr, kWhite, 1.0f, 1.0f, 2.0f, 0.0f, 0.0f);
  EXPECT_EQ(LitCount(none), 0);
  // A NaN jitter is no jitter: the dots stay on the grid.
  Framebuffer nan_jitter(100, 30), plain(100, 30);
  DrawSplatText(nan_jitter, 4.0f, 5.0f, "CLIP", kWhite, 1.0f, 1.0f, 2.0f, kNaN, 0.0f);
  DrawSplatText(plain, 4.0f, 5.0f, "CLIP", kWhite, 1.0f, 1.0f, 2.0f, 0.0f, 0.0f);
  EXPECT_TRUE(SamePixels(nan_jitter, plain));
}

// The text drawers call the splat kernel themselves (the checks that hold for the whole text
// are made once); the image must be exactly that of one Splat, or SplatClipped, per font dot,
// for text hanging off every edge and a clip rectangle reaching outside the image.
TEST(SplatText, SameBitsAsOneSplatPerDot) {
  struct Case {
    float x, y, radius, cell;
    int x0, y0, x1, y1;
  };
  const Case cases[] = {{-7.3f, -4.6f, 1.7f, 2.3f, -5, 3, 40, 200},
                        {30.2f, 11.9f, 3.2f, 1.6f, 33, -9, 500, 17},
                        {-19.5f, 5.5f, 0.4f, 1.0f, 0, 0, 3, 8},
                        // Whole-number centres, negative ones too (their floor is themselves).
                        {-6.0f, -2.0f, 1.0f, 1.0f, 0, 0, 64, 24}};
  const char* text = "W0=>9Ag";
  const Vec3 colour{0.9f, 0.4f, 0.2f};
  for (const Case& c : cases) {
    Framebuffer drawn(64, 24), dots(64, 24), drawn_clipped(64, 24), dots_clipped(64, 24);
    DrawSplatText(drawn, c.x, c.y, text, colour, 0.7f, c.radius, c.cell, 0.0f, 0.0f);
    DrawSplatTextClipped(drawn_clipped, c.x, c.y, text, colour, 0.7f, c.radius, c.cell, 0.0f,
                         0.0f, c.x0, c.y0, c.x1, c.y1);
    float pen = c.x;
    for (const char* p = text; *p != '\0'; ++p, pen += 6.0f * c.cell) {
      const GlyphBits& rows = GlyphRows(*p);
      for (int i = 0; i < 7; ++i) {
        for (int m = 0; m < 5; ++m) {
          if ((rows[i] & (0x10 >> m)) == 0) continue;
          const float px = pen + static_cast<float>(m) * c.cell;
          const float py = c.y + static_cast<float>(i) * c.cell;
          Splat(dots.pixels.data(), 64, 24, px, py, c.radius, colour, 0.7f);
          SplatClipped(dots_clipped, px, py, c.radius, colour, 0.7f, c.x0, c.y0, c.x1, c.y1);
        }
      }
    }
    EXPECT_TRUE(SamePixels(drawn, dots)) << c.x;
    EXPECT_TRUE(SamePixels(drawn_clipped, dots_clipped)) << c.x;
    EXPECT_GT(LitCount(drawn), 0) << c.x;
  }
}

class GlowLabelTest : public ::testing::Test {
 protected:
  const Vec3 base{0.9f, 0.8f, 0.7f};
  const Vec3 glowA{0.1f, 0.2f, 0.9f};
  const Vec3 glowB{0.8f, 0.1f, 0.3f};
  const Vec3 glowC{0.2f, 0.9f, 0.1f};
  Framebuffer fb{96, 24};
  Framebuffer layer{96, 24};
  Framebuffer expected{96, 24};
  Framebuffer expected_layer{96, 24};
};

TEST_F(GlowLabelTest, PlainBlockLabelIsTheBaseColourAtStrengthOne) {
  DrawGlowLabel(fb, 10, 8, "DJ", base, false, false, false, false, 0.3f, 0.5f, 0.2f, 0.0f, glowA,
                glowB, glowC, &layer);
  DrawBlockText(expected, 10, 8, "DJ", base, 1.0f, 1);
  EXPECT_TRUE(SamePixels(fb, expected));
  EXPECT_EQ(LitCount(layer), 0);
}

TEST_F(GlowLabelTest, BlockHaloGoesToTheLayerWhenThereIsOne) {
  DrawGlowLabel(fb, 10, 8, "DJ", base, true, false, true, false, 0.5f, 0.0f, 0.0f, 0.0f, glowA,
                glowB, glowC, &layer);
  DrawBlockText(expected_layer, 10, 8, "DJ", glowC * 3.05f, 0.25f, 1);
  DrawBlockText(expected, 10, 8, "DJ", base * 0.82f, 1.0f, 1);
  EXPECT_TRUE(NearPixels(layer, expected_layer));
  EXPECT_TRUE(NearPixels(fb, expected));
}

TEST_F(GlowLabelTest, BlockHaloWithoutLayerIsEightOffsetPasses) {
  DrawGlowLabel(fb, 10, 8, "OK", base, false, false, true, false, 2.0f, 0.0f, 0.0f, 0.0f, glowA,
                glowB, glowC, nullptr);
  const float w = 1.44f, v = 1.04f;  // 0.72*s and 0.52*s with s = 2
  DrawBlockText(expected, 8, 8, "OK", glowA, 0.6f * w, 1);
  DrawBlockText(expected, 12, 8, "OK", glowA, 0.6f * w, 1);
  DrawBlockText(expected, 10, 6, "OK", glowA, 0.55f * v, 1);
  DrawBlockText(expected, 10, 10, "OK", glowB, 0.38f * v, 1);
  DrawBlockText(expected, 9, 8, "OK", glowA, w, 1);
  DrawBlockText(expected, 11, 8, "OK", glowA, w, 1);
  DrawBlockText(expected, 10, 7, "OK", glowA, v, 1);
  DrawBlockText(expected, 10, 9, "OK", glowB, 0.65f * v, 1);
  DrawBlockText(expected, 10, 8, "OK", base, 1.0f, 1);
  EXPECT_TRUE(NearPixels(fb, expected));
}

TEST_F(GlowLabelTest, LitHaloLabelWithNonFiniteLevel) {
  // alt with a NaN level: lv = 0, radius 0.05 + 0.72, intensity 0.225*1.05, jitter 0.03.
  DrawGlowLabel(fb, 10, 8, "LIT", base, true, true, true, false, 1.0f, kNaN, 5.0f, 0.4f, glowA,
                glowB, glowC, &layer);
  const float radius = 0.77f, intensity = 0.225f * 1.05f, jitter = 0.03f;
  DrawSplatText(expected_layer, 10.0f, 8.0f, "LIT", glowC * 3.2f, intensity * 0.18f,
                radius + 0.7f, 1.0f, jitter + 0.12f, 0.4f + 1.7f);
  DrawSplatText(expected, 10.0f, 8.0f, "LIT", base * 3.8f, intensity, radius, 1.0f, jitter, 0.4f);
  EXPECT_TRUE(NearPixels(layer, expected_layer));
  EXPECT_TRUE(NearPixels(fb, expected));
}

TEST_F(GlowLabelTest, AccentLabelAddsTwoOffsetPasses) {
  // lv = 0.5: radius 0.5*0.34 + 0.06 + 0.82, intensity 0.18, jitter 0.07 + 0.06 + 0.2.
  DrawGlowLabel(fb, 10, 8, "ACC", base, false, false, false, true, 1.0f, 0.5f, 0.2f, 0.9f, glowA,
                glowB, glowC, &layer);
  const float radius = 1.05f, intensity = 0.18f, jitter = 0.33f;
  DrawSplatText(expected, 9.3f, 8.0f, "ACC", glowB * 1.7f, intensity * 0.07f, radius + 0.2f, 1.0f,
                jitter + 0.18f, 0.9f + 2.4f);
  DrawSplatText(expected, 10.7f, 8.6f, "ACC", glowA * 1.6f, intensity * 0.06f, radius + 0.15f,
                1.0f, jitter + 0.12f, 0.9f - 1.2f);
  DrawSplatText(expected, 10.0f, 8.0f, "ACC", base * 3.8f, intensity, radius, 1.0f, jitter, 0.9f);
  EXPECT_TRUE(NearPixels(fb, expected));
  EXPECT_EQ(LitCount(layer), 0);
}

TEST_F(GlowLabelTest, ExtremePositionsDoNotOverflow) {
  DrawGlowLabel(fb, INT_MIN, INT_MAX, "EDGE", base, false, false, true, false, 1.0f, 0.0f, 0.0f,
                0.0f, glowA, glowB, glowC, nullptr);
  DrawGlowLabel(fb, INT_MAX, INT_MIN, "EDGE", base, true, true, true, true, 1.0f, 1.0f, 1.0f,
                0.0f, glowA, glowB, glowC, nullptr);
  EXPECT_EQ(LitCount(fb), 0);
}

}  // namespace
