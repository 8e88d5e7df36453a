// Wide text dots drawn on the coarse grids and spread onto the image, against the same dots drawn
// at full resolution: within the error the grids promise, at every pixel, borders included.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "render/coarse_glow.h"
#include "render/framebuffer.h"
#include "render/primitives.h"

namespace {

struct DotCase {
  const char* what;
  int width, height;
  int step;
  float dot_x, dot_y;  // the first of the four dots of "."
  float radius, cell, jitter;
};

float LargestDifference(const Framebuffer& a, const Framebuffer& b) {
  float largest = 0.0f;
  for (std::size_t i = 0; i < a.pixels.size(); ++i) {
    const Vec3 d = a.pixels[i] - b.pixels[i];
    largest = std::max({largest, std::fabs(d.x), std::fabs(d.y), std::fabs(d.z)});
  }
  return largest;
}

TEST(CoarseGlow, WideDotsStayWithinTheGridsErrorEverywhere) {
  // "." is four dots in a square, at columns 1 and 2 and rows 5 and 6 of its cell. The cell is
  // wider than a dot, so each pixel sees one dot's error. Odd sizes and dots hanging over every
  // edge check the last samples of each grid.
  const DotCase cases[] = {
      {"half, centred", 640, 360, 2, 250.0f, 60.0f, 17.0f, 40.0f, 0.0f},
      {"half, jittered, off grid", 640, 360, 2, 251.3f, 60.7f, 24.5f, 53.0f, 3.1f},
      {"quarter, centred", 640, 360, 4, 200.0f, 40.0f, 36.0f, 80.0f, 0.0f},
      {"quarter, jittered, off grid", 640, 360, 4, 203.7f, 41.2f, 58.0f, 120.0f, 2.4f},
      {"half, jitter as wide as the dot", 640, 360, 2, 300.0f, 150.0f, 20.0f, 90.0f, 20.0f},
      {"quarter, jitter as wide as the dot", 640, 360, 4, 300.0f, 150.0f, 40.0f, 140.0f, 40.0f},
      {"half, over the top left corner", 101, 67, 2, -3.0f, -5.0f, 20.0f, 45.0f, 0.0f},
      {"half, over the bottom right corner", 101, 67, 2, 74.0f, 40.0f, 20.0f, 45.0f, 0.0f},
      {"quarter, over the bottom right corner", 101, 67, 4, 70.0f, 45.0f, 33.0f, 70.0f, 1.0f},
      {"quarter, larger than the image", 37, 23, 4, 10.0f, 20.0f, 70.0f, 150.0f, 0.0f},
      {"eighth, jittered, off grid", 640, 360, 8, 301.3f, 150.6f, 60.0f, 130.0f, 3.0f},
      {"eighth, over the bottom right corner", 101, 67, 8, 95.0f, 60.0f, 40.0f, 90.0f, 0.0f},
  };
  const Vec3 colour{1.0f, 0.5f, 0.25f};
  const float intensity = 0.2f;
  for (const DotCase& c : cases) {
    Framebuffer exact(c.width, c.height);
    Framebuffer spread(c.width, c.height);
    const float x = c.dot_x - c.cell;
    const float y = c.dot_y - 5.0f * c.cell;
    DrawSplatText(exact, x, y, ".", colour, intensity, c.radius, c.cell, c.jitter, 0.7f);
    CoarseGlow glow;
    PrepareCoarseGlow(glow, c.width, c.height);
    DrawSplatTextCoarse(glow, c.step, x, y, ".", colour, intensity, c.radius, c.cell, c.jitter, 0.7f);
    AddCoarseGlow(glow, spread);
    const float peak = intensity * colour.x;
    const float half_steps = 0.5f * static_cast<float>(c.step);
    const float promised = half_steps * half_steps * 4.0f * peak / (c.radius * c.radius);
    EXPECT_LE(LargestDifference(exact, spread), promised) << c.what;
    // The dots are really there.
    float brightest = 0.0f;
    for (const Vec3& p : spread.pixels) brightest = std::max(brightest, p.x);
    EXPECT_GT(brightest, 0.5f * peak) << c.what;
  }
}

TEST(CoarseGlow, AddingLeavesTheGridsClear) {
  CoarseGlow glow;
  PrepareCoarseGlow(glow, 64, 48);
  // Jitter as wide as the dots: the cleared box must follow every dot.
  DrawSplatTextCoarse(glow, 2, 10.0f, 8.0f, "KE", Vec3{1.0f, 1.0f, 1.0f}, 0.3f, 9.0f, 4.0f, 9.0f, 0.0f);
  DrawSplatTextCoarse(glow, 4, 12.0f, 9.0f, "KE", Vec3{1.0f, 1.0f, 1.0f}, 0.3f, 19.0f, 4.0f, 19.0f, 0.0f);
  DrawSplatTextCoarse(glow, 8, 14.0f, 7.0f, "KE", Vec3{1.0f, 1.0f, 1.0f}, 0.3f, 29.0f, 4.0f, 29.0f, 0.0f);
  Framebuffer first(64, 48);
  AddCoarseGlow(glow, first);
  EXPECT_GT(first.pixels[20 * 64 + 20].x, 0.1f);
  Framebuffer second(64, 48);
  AddCoarseGlow(glow, second);
  EXPECT_EQ(LargestDifference(second, Framebuffer(64, 48)), 0.0f);

  // An image of another size gets nothing, and the glow drawn for it is dropped.
  DrawSplatTextCoarse(glow, 2, 10.0f, 8.0f, "KE", Vec3{1.0f, 1.0f, 1.0f}, 0.3f, 9.0f, 4.0f, 1.0f, 0.0f);
  Framebuffer other(48, 64);
  AddCoarseGlow(glow, other);
  EXPECT_EQ(LargestDifference(other, Framebuffer(48, 64)), 0.0f);
  AddCoarseGlow(glow, second);
  EXPECT_EQ(LargestDifference(second, Framebuffer(64, 48)), 0.0f);
}

TEST(CoarseGlow, BadArgumentsDrawNothing) {
  struct Bad {
    const char* what;
    int step;
    float x, radius, cell, intensity;
  };
  const Bad cases[] = {
      {"step 3", 3, 10.0f, 9.0f, 4.0f, 0.3f},
      {"step 16", 16, 10.0f, 9.0f, 4.0f, 0.3f},
      {"step 1", 1, 10.0f, 9.0f, 4.0f, 0.3f},
      {"x not a number", 2, NAN, 9.0f, 4.0f, 0.3f},
      {"infinite cell", 2, 10.0f, 9.0f, INFINITY, 0.3f},
      {"far away", 4, 3.0e9f, 9.0f, 4.0f, 0.3f},
      {"no radius", 2, 10.0f, 0.0f, 4.0f, 0.3f},
      {"no light", 4, 10.0f, 9.0f, 4.0f, 0.0f},
  };
  for (const Bad& b : cases) {
    CoarseGlow glow;
    PrepareCoarseGlow(glow, 64, 48);
    DrawSplatTextCoarse(glow, b.step, b.x, 8.0f, "KE", Vec3{1.0f, 1.0f, 1.0f}, b.intensity, b.radius, b.cell,
                        1.0f, 0.0f);
    Framebuffer fb(64, 48);
    AddCoarseGlow(glow, fb);
    EXPECT_EQ(LargestDifference(fb, Framebuffer(64, 48)), 0.0f) << b.what;
  }
  // An unprepared glow (and an empty image) take nothing and fail nothing.
  CoarseGlow empty;
  DrawSplatTextCoarse(empty, 2, 10.0f, 8.0f, "KE", Vec3{1.0f, 1.0f, 1.0f}, 0.3f, 9.0f, 4.0f, 1.0f, 0.0f);
  PrepareCoarseGlow(empty, 0, 0);
  DrawSplatTextCoarse(empty, 4, 10.0f, 8.0f, "KE", Vec3{1.0f, 1.0f, 1.0f}, 0.3f, 9.0f, 4.0f, 1.0f, 0.0f);
  Framebuffer none(0, 0);
  AddCoarseGlow(empty, none);
}

}  // namespace
