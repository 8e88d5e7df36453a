// The sibling production: which production's overlays the two constants select, the storyboard's
// loading and drawing, the green key, the stroke font and its text, the vector greetings and the
// bloom.

#include "overlays/sibling.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app.h"
#include "assets/asset_store.h"
#include "assets/stb_image_write_impl.h"
#include "overlays/title_overlay.h"
#include "render/framebuffer.h"
#include "timeline/sequence.h"

namespace {

bool SamePixels(const Framebuffer& a, const Framebuffer& b) {
  if (a.pixels.size() != b.pixels.size()) return false;
  for (size_t i = 0; i < a.pixels.size(); ++i) {
    const Vec3& p = a.pixels[i];
    const Vec3& q = b.pixels[i];
    if (p.r != q.r || p.g != q.g || p.b != q.b) return false;
  }
  return true;
}

float Light(const Framebuffer& fb, int x, int y) {
  const Vec3& p = fb.pixels[static_cast<size_t>(y) * fb.width + x];
  return p.r + p.g + p.b;
}

int LitPixels(const Framebuffer& fb) {
  int lit = 0;
  for (const Vec3& p : fb.pixels) lit += (p.r + p.g + p.b) > 1e-6f;
  return lit;
}

bool AllFinite(const Framebuffer& fb) {
  for (const Vec3& p : fb.pixels)
    if (!std::isfinite(p.r) || !std::isfinite(p.g) || !std::isfinite(p.b)) return false;
  return true;
}

StoryboardImage SolidImage(int w, int h, Vec3 c, float a = 1.0f) {
  StoryboardImage image;
  image.width = w;
  image.height = h;
  image.loaded = true;
  image.rgba.resize(static_cast<size_t>(w) * h * 4);
  for (size_t i = 0; i < image.rgba.size(); i += 4) {
    image.rgba[i] = c.r;
    image.rgba[i + 1] = c.g;
    image.rgba[i + 2] = c.b;
    image.rgba[i + 3] = a;
  }
  return image;
}

// ---- Production constants ----------------------------------------------------------------------

TEST(SiblingProduction, TheConstantsSelectOneProductionsOverlays) {
  struct Case {
    const char* name;
    const char* sequence;
    bool kestrel;
    bool marlin;
  };
  const Case cases[] = {
      {"kestrel_prod", "data/kestrel/kestrel_sequence.txt", true, false},
      {"marlin_prod", "data/marlin/marlin_sequence.txt", false, true},
      {"kestrel_prod", "data/other.txt", true, false},           // the name alone
      {"show", "data/kestrel/kestrel_sequence.txt", true, false},  // the sequence alone
      {"marlin_test", "data/other.txt", false, true},
      {"show", "data/marlin/marlin_sequence.txt", false, true},
      {"show", "data/other.txt", false, false},
      {"show", "data/marlin/marlin_sequence.txt.bak", false, false},  // the path must match whole
      {nullptr, nullptr, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name ? c.name : "null") + " " + (c.sequence ? c.sequence : "null"));
    EXPECT_EQ(ProductionOverlaysActive(c.name, c.sequence), c.kestrel);
    EXPECT_EQ(SiblingProductionActive(c.name, c.sequence), c.marlin);
  }
}

TEST(SiblingProduction, ThisBuildRunsExactlyOneProductionsOverlays) {
  const bool marlin = std::string(kProductionName).find("marlin") != std::string::npos;
  EXPECT_EQ(SiblingProductionActive(kProductionName, kDefaultSequencePath), marlin);
  EXPECT_EQ(ProductionOverlaysActive(kProductionName, kDefaultSequencePath), !marlin);
  EXPECT_EQ(std::string(kDefaultSequencePath),
            marlin ? "data/marlin/marlin_sequence.txt" : "data/kestrel/kestrel_sequence.txt");
}

// ---- Storyboard --------------------------------------------------------------------------------

// A data directory beside a pretend executable holding only scene 2's background (a 4 x 2 PNG).
class StoryboardFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("sibling_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir);
    const auto folder = dir / "data/marlin/storyboard_frames/background";
    std::filesystem::create_directories(folder);
    const std::vector<std::uint8_t> rgb(4 * 2 * 3, 200);
    std::vector<std::uint8_t> png;
    ASSERT_TRUE(EncodePngRgb8(rgb.data(), 4, 2, png));
    FILE* f = std::fopen((folder / "marlin_scene_02_background.png").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(png.data(), 1, png.size(), f);
    std::fclose(f);
    assets.SetBase((dir / "marlin_prod").string());
    // Run from an empty directory, so that only the files beside the pretend executable count
    // (not a data/ of the working directory).
    std::filesystem::create_directories(dir / "elsewhere");
    previous = std::filesystem::current_path();
    std::filesystem::current_path(dir / "elsewhere");
  }
  void TearDown() override {
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(dir);
  }

  std::filesystem::path dir;
  std::filesystem::path previous;
  AssetStore assets;
};

TEST_F(StoryboardFiles, EachMissingImageIsReportedOnceAndItsSceneIsNotDrawn) {
  Storyboard board;
  ::testing::internal::CaptureStderr();
  LoadStoryboard(board, assets);
  LoadStoryboard(board, assets);  // loaded once: no second report
  const std::string err = ::testing::internal::GetCapturedStderr();

  std::string expected;
  for (int n = 1; n <= 8; ++n) {
    char line[200];
    if (n != 2) {
      std::snprintf(line, sizeof line, "MARLIN storyboard: data/marlin/storyboard_frames/background/"
                                       "marlin_scene_%02d_background.png\n", n);
      expected += line;
    }
    std::snprintf(line, sizeof line, "MARLIN storyboard: data/marlin/storyboard_frames/foreground_green/"
                                     "marlin_scene_%02d_foreground_green.png\n", n);
    expected += line;
  }
  EXPECT_EQ(err, expected);
  EXPECT_TRUE(board.background[1].loaded);
  EXPECT_EQ(board.background[1].width, 4);
  EXPECT_EQ(board.background[1].height, 2);

  // Scene 1 has no background: nothing drawn, the caller draws the normal scene.
  Framebuffer fb(64, 36), before(64, 36);
  fb.Fill({0.1f, 0.2f, 0.3f});
  before.Fill({0.1f, 0.2f, 0.3f});
  MusicViz mv;
  EXPECT_FALSE(DrawStoryboardFrame(fb, board, 1, 1.0f, 3.0f, mv));
  EXPECT_TRUE(SamePixels(fb, before));
  // Scene 2 has one: the whole frame is its grey, brightened, without its foreground.
  EXPECT_TRUE(DrawStoryboardFrame(fb, board, 2, 1.0f, 3.0f, mv));
  EXPECT_TRUE(AllFinite(fb));
  EXPECT_EQ(LitPixels(fb), 64 * 36);
  EXPECT_GT(fb.pixels[0].r, 200.0f / 255.0f);
}

TEST(Storyboard, AnImageOfZeroSizeDrawsNothing) {
  Framebuffer fb(40, 30), before(40, 30);
  StoryboardImage empty;
  empty.loaded = true;
  for (bool cover : {true, false}) {
    DrawStoryboardImage(fb, empty, cover, 1.0f, 1.0f, 0.0f, 0.0f);
    StoryboardImage flat = SolidImage(0, 5, {1, 1, 1});
    DrawStoryboardImage(fb, flat, cover, 1.0f, 1.0f, 0.0f, 0.0f);
  }
  EXPECT_TRUE(SamePixels(fb, before));
}

TEST(Storyboard, CoverFillsTheFrameAndFitLeavesBars) {
  // A tall 1 x 2 picture on a wide 40 x 20 frame.
  const StoryboardImage tall = SolidImage(1, 2, {0.5f, 0.25f, 1.0f});
  Framebuffer cover(40, 20), fit(40, 20);
  DrawStoryboardImage(cover, tall, true, 1.0f, 2.0f, 0.0f, 0.0f);
  DrawStoryboardImage(fit, tall, false, 1.0f, 2.0f, 0.0f, 0.0f);
  EXPECT_EQ(LitPixels(cover), 40 * 20);
  EXPECT_FLOAT_EQ(cover.pixels[0].r, 1.0f);  // colour times brightness
  EXPECT_FLOAT_EQ(cover.pixels[0].b, 2.0f);
  // Fitted: 10 pixels wide, centred; columns 15..24 lit, the rest black.
  for (int x = 0; x < 40; ++x) EXPECT_EQ(Light(fit, x, 10) > 0.0f, x >= 15 && x < 25) << x;
  // Half transparent: half the light, half the old picture.
  Framebuffer blend(8, 8);
  blend.Fill({1, 1, 1});
  DrawStoryboardImage(blend, SolidImage(2, 2, {0, 0, 0}, 0.5f), true, 1.0f, 1.0f, 0.0f, 0.0f);
  EXPECT_FLOAT_EQ(blend.pixels[27].g, 0.5f);
}

TEST(Storyboard, TheGreenKeyClearsStrongGreenAndKeepsTheRest) {
  const Vec3 screen[] = {{0, 1, 0}, {0.1f, 0.9f, 0.1f}, {0.2f, 0.8f, 0.3f}, {0.3f, 0.75f, 0.2f}};
  for (const Vec3& c : screen) EXPECT_EQ(GreenKey(c).alpha, 0.0f) << c.r << " " << c.g << " " << c.b;
  const Vec3 kept[] = {{1, 0, 0}, {0, 0, 1}, {0.5f, 0.5f, 0.5f}, {1, 1, 1}, {0.9f, 0.6f, 0.45f},
                       {0, 0, 0}, {0.2f, 0.6f, 0.8f}, {0.8f, 0.85f, 0.2f}};
  for (const Vec3& c : kept) {
    const KeyedPixel k = GreenKey(c);
    EXPECT_EQ(k.alpha, 1.0f) << c.r << " " << c.g << " " << c.b;
    EXPECT_FLOAT_EQ(k.colour.r, c.r);
    EXPECT_FLOAT_EQ(k.colour.b, c.b);
    EXPECT_LE(k.colour.g, c.g);
  }
  // Between the two: partly transparent, its green spill pulled down.
  const KeyedPixel edge = GreenKey({0.3f, 0.48f, 0.3f});
  EXPECT_GT(edge.alpha, 0.0f);
  EXPECT_LT(edge.alpha, 1.0f);
  EXPECT_LT(edge.colour.g, 0.48f);
}

// ---- Strokes -----------------------------------------------------------------------------------

TEST(Stroke, NonPositiveIntensityOrWidthDrawsNothing) {
  const float bad[][2] = {{0, 1}, {-1, 1}, {1, 0}, {1, -2}, {NAN, 1}, {1, NAN}};
  Framebuffer fb(50, 50), before(50, 50);
  for (const auto& b : bad) DrawStroke(fb, 10, 10, 40, 30, {1, 1, 1}, b[0], b[1]);
  EXPECT_TRUE(SamePixels(fb, before));
}

TEST(Stroke, LightFallsOffWithDistanceAndStaysInItsBox) {
  Framebuffer fb(100, 100);
  const float width = 2.0f;
  DrawStroke(fb, 20, 50, 80, 50, {1, 1, 1}, 1.0f, width);
  EXPECT_NEAR(Light(fb, 50, 50), 3.0f, 1e-5f);
  float last = Light(fb, 50, 50);
  for (int d = 1; d <= 2; ++d) {
    EXPECT_LT(Light(fb, 50, 50 + d), last);
    EXPECT_FLOAT_EQ(Light(fb, 50, 50 + d), Light(fb, 50, 50 - d));  // both sides alike
    last = Light(fb, 50, 50 + d);
  }
  EXPECT_GT(last, 0.0f);
  EXPECT_EQ(Light(fb, 50, 53), 0.0f);  // width + 1 away: no light
  // Round ends: past the end the light falls off the same way.
  EXPECT_FLOAT_EQ(Light(fb, 82, 50), Light(fb, 50, 52));
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 100; ++x) {
      if (x < 16 || x > 84 || y < 46 || y > 54) {
        ASSERT_EQ(Light(fb, x, y), 0.0f) << x << "," << y;
      }
    }
  // Off the image: clipped, no fault.
  DrawStroke(fb, -50, -50, 150, 150, {1, 1, 1}, 1.0f, 3.0f);
  EXPECT_TRUE(AllFinite(fb));
}

TEST(StrokeFont, AdvancesAndStrokeCounts) {
  struct Case {
    char c;
    int strokes;
    float advance;
  };
  const Case cases[] = {{' ', 0, 3.1f}, {'-', 1, 4.9f}, {'/', 1, 4.5f}, {'0', 9, 6.0f}, {'2', 6, 5.7f}};
  for (const Case& c : cases) {
    EXPECT_EQ(StrokeGlyphFor(c.c).count, c.strokes) << c.c;
    EXPECT_FLOAT_EQ(StrokeGlyphFor(c.c).advance, c.advance) << c.c;
  }
  // Every letter, digit and mark is drawn (strokes inside the cap box and its advance); lower
  // case is the upper-case glyph; anything else is a space.
  const std::string defined = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789!'+-./";
  for (char c : defined) {
    const StrokeGlyph& g = StrokeGlyphFor(c);
    EXPECT_GT(g.count, 0) << c;
    for (int i = 0; i < g.count * 4; ++i) {
      const float v = g.strokes[i];
      EXPECT_GE(v, 0.0f) << c;
      EXPECT_LE(v, i % 2 == 0 ? g.advance : 7.5f) << c;
    }
  }
  EXPECT_EQ(&StrokeGlyphFor('q'), &StrokeGlyphFor('Q'));
  EXPECT_EQ(StrokeGlyphFor('#').count, 0);
}

TEST(StrokeFont, TextWidthIsTheAdvancesPlusSpacing) {
  EXPECT_FLOAT_EQ(StrokeTextWidth("", 3.0f, 1.0f), 0.0f);
  EXPECT_FLOAT_EQ(StrokeTextWidth("-", 2.0f, 5.0f), 9.8f);  // one character: no spacing
  EXPECT_FLOAT_EQ(StrokeTextWidth("/-", 1.0f, 0.5f), 4.5f + 4.9f + 0.5f);
  EXPECT_FLOAT_EQ(StrokeTextWidth("0 2", 2.0f, 0.25f), 2.0f * (6.0f + 3.1f + 5.7f) + 2.0f * 2.0f * 0.25f);
  EXPECT_FLOAT_EQ(StrokeTextWidth("ab", 1.0f, 0.0f), StrokeTextWidth("AB", 1.0f, 0.0f));
}

TEST(StrokeFont, RevealDrawsTheFirstShareOfTheStrokesInOrder) {
  // "EH" has 4 + 3 strokes; "EEEE" 16. Half of "EEEE" is exactly "EE".
  Framebuffer half(200, 40), whole(200, 40);
  DrawStrokeText(half, 10, 10, "EEEE", {1, 0.5f, 0.2f}, 0.6f, 3.0f, 0.8f, 0.6f, 0.5f, 0.0f);
  DrawStrokeText(whole, 10, 10, "EE", {1, 0.5f, 0.2f}, 0.6f, 3.0f, 0.8f, 0.6f, 1.0f, 0.0f);
  EXPECT_TRUE(SamePixels(half, whole));
  EXPECT_GT(LitPixels(half), 0);

  // The strokes of one glyph in order: a quarter of "EEEE" is the first E, stroke by stroke.
  Framebuffer quarter(200, 40), manual(200, 40);
  DrawStrokeText(quarter, 10, 10, "EEEE", {1, 1, 1}, 0.5f, 3.0f, 0.8f, 0.6f, 0.25f, 0.0f);
  const StrokeGlyph& e = StrokeGlyphFor('E');
  for (int s = 0; s < e.count; ++s) {
    const float* k = e.strokes + 4 * s;
    DrawStroke(manual, 10 + 3 * k[0], 10 + 3 * k[1], 10 + 3 * k[2], 10 + 3 * k[3], {1, 1, 1}, 0.5f, 0.8f);
  }
  EXPECT_TRUE(SamePixels(quarter, manual));

  // Nothing at reveal 0; glow adds light under the core without moving the text.
  Framebuffer none(200, 40), glow(200, 40);
  DrawStrokeText(none, 10, 10, "EEEE", {1, 1, 1}, 0.5f, 3.0f, 0.8f, 0.6f, 0.0f, 1.0f);
  EXPECT_EQ(LitPixels(none), 0);
  DrawStrokeText(glow, 10, 10, "EE", {1, 0.5f, 0.2f}, 0.6f, 3.0f, 0.8f, 0.6f, 1.0f, 1.0f);
  EXPECT_GT(Light(glow, 10, 10), Light(whole, 10, 10));
}

// ---- Vector greetings --------------------------------------------------------------------------

TEST(VectorGreetings, CardsEarlyInTheLoopNothingMidLoopAndThePageWithTheCue) {
  MusicViz mv;
  Framebuffer cards(640, 360), again(640, 360), quiet(640, 360), page(640, 360);
  DrawVectorGreetings(cards, 1.0f, 3.0f, mv);
  DrawVectorGreetings(again, 1.0f, 3.0f, mv);
  EXPECT_TRUE(SamePixels(cards, again));
  EXPECT_GT(LitPixels(cards), 5000);
  EXPECT_TRUE(AllFinite(cards));
  // The title is centred: the light of its rows balances about the middle of the frame.
  double sum = 0, moment = 0;
  for (int y = 136; y < 192; ++y)
    for (int x = 0; x < 640; ++x) {
      sum += Light(cards, x, y);
      moment += Light(cards, x, y) * (x + 0.5);
    }
  ASSERT_GT(sum, 0.0);
  EXPECT_NEAR(moment / sum, 320.0, 12.0);

  DrawVectorGreetings(quiet, 20.0f, 40.0f, mv);  // no cue, no card, no fade
  EXPECT_EQ(LitPixels(quiet), 0);

  mv.cue_greets = 1.0f;
  DrawVectorGreetings(page, 20.0f, 40.0f, mv);
  EXPECT_GT(LitPixels(page), 5000);
  EXPECT_TRUE(AllFinite(page));
}

// ---- Bloom -------------------------------------------------------------------------------------

TEST(Bloom, StrengthZeroOrBelowLeavesTheImageAndDimLightIsNotBloomed) {
  Framebuffer fb(33, 17), before(33, 17);
  fb.Fill({2, 1, 0.5f});
  before.Fill({2, 1, 0.5f});
  Bloom(fb, 0.1f, 0.0f);
  Bloom(fb, 0.1f, -1.0f);
  EXPECT_TRUE(SamePixels(fb, before));
  Framebuffer dim(32, 16), dim_before(32, 16);
  dim.Fill({0.3f, 0.3f, 0.3f});
  dim_before.Fill({0.3f, 0.3f, 0.3f});
  Bloom(dim, 0.38f, 1.0f);
  EXPECT_TRUE(SamePixels(dim, dim_before));
}

TEST(Bloom, ASingleBrightPixelSpreadsSymmetrically) {
  // Even and odd sizes; the bright pixel's 2 x 2 block is the centre of the spread.
  const int sizes[][4] = {{64, 48, 30, 20}, {33, 17, 16, 8}, {31, 19, 14, 8}};
  for (const auto& s : sizes) {
    const int w = s[0], h = s[1], px = s[2], py = s[3];
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    Framebuffer fb(w, h);
    fb.pixels[static_cast<size_t>(py) * w + px] = {10, 10, 10};
    Bloom(fb, 0.5f, 1.0f);
    EXPECT_TRUE(AllFinite(fb));
    auto delta = [&](int x, int y) {
      return Light(fb, x, y) - ((x == px && y == py) ? 30.0f : 0.0f);
    };
    EXPECT_GT(delta(px - 3, py), 0.0f);
    EXPECT_GT(delta(px, py - 3), 0.0f);
    EXPECT_GT(delta(px - 2, py - 2), 0.0f);
    for (int k = 0; k <= 6; ++k)
      for (int j = 0; j <= 6; ++j) {
        if (px - k < 0 || px + 1 + k >= w || py - j < 0 || py + 1 + j >= h) continue;
        const float a = delta(px - k, py - j);
        const float tol = 1e-5f + 1e-4f * a;
        EXPECT_NEAR(a, delta(px + 1 + k, py - j), tol) << k << "," << j;
        EXPECT_NEAR(a, delta(px - k, py + 1 + j), tol) << k << "," << j;
        EXPECT_NEAR(a, delta(px + 1 + k, py + 1 + j), tol) << k << "," << j;
      }
    // Light falls off away from the pixel, and far away there is none.
    EXPECT_GT(delta(px - 1, py), delta(px - 4, py));
    EXPECT_EQ(delta(0, 0) + delta(w - 1, h - 1) > 0.0f, false);
  }
  // A bright pixel in the last, half-filled column and row of an odd image.
  Framebuffer edge(33, 17);
  edge.pixels[16 * 33 + 32] = {10, 10, 10};
  Bloom(edge, 0.5f, 1.0f);
  EXPECT_TRUE(AllFinite(edge));
  EXPECT_GT(Light(edge, 31, 16), 0.0f);
  EXPECT_GT(Light(edge, 32, 15), 0.0f);
}

}  // namespace
