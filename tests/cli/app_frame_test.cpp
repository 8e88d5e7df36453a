// The App in this process, without window or music (bench mode): what RenderFrame keeps and
// clears between frames, and the PPM bytes of a saved frame.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/frame_capture.h"
#include "process.h"

namespace {

// An App configured by these options after the program name; --bench keeps it headless.
class HeadlessApp {
 public:
  explicit HeadlessApp(std::vector<std::string> options) : args(std::move(options)) {
    args.insert(args.begin(), "kestrel_prod");
    args.push_back("--bench");
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    app = std::make_unique<App>(static_cast<int>(args.size()), argv.data());
  }
  App& operator*() { return *app; }
  App* operator->() { return app.get(); }

 private:
  std::vector<std::string> args;
  std::vector<char*> argv;
  std::unique_ptr<App> app;
};

bool AllBlack(const Framebuffer& image) {
  for (const Vec3& p : image.pixels)
    if (p.x != 0.0f || p.y != 0.0f || p.z != 0.0f) return false;
  return true;
}

bool SamePixels(const Framebuffer& a, const Framebuffer& b) {
  for (size_t i = 0; i < a.pixels.size(); ++i) {
    const Vec3& p = a.pixels[i];
    const Vec3& q = b.pixels[i];
    if (p.x != q.x || p.y != q.y || p.z != q.z) return false;
  }
  return a.pixels.size() == b.pixels.size();
}

TEST(RenderFrame, SceneOneKeepsItsTrailAndStartsItClean) {
  // Two identical shows; one gets a bright mark in its trail buffer at chosen moments.
  HeadlessApp marked({"--scene", "1"});
  HeadlessApp plain({"--scene", "1"});
  const Vec3 mark{50.0f, 50.0f, 50.0f};
  const size_t at = 10 * marked->trail.width + 10;

  // Staying in scene 1: the mark survives, decayed by 0.86 per frame.
  marked->RenderFrame(0.0f);
  plain->RenderFrame(0.0f);
  marked->trail.pixels[at] = mark;
  marked->RenderFrame(0.1f);
  plain->RenderFrame(0.1f);
  EXPECT_GE(marked->trail.pixels[at].x, 0.86f * mark.x);

  // Another scene empties the trail; coming back to scene 1 clears it before the first frame.
  for (HeadlessApp* show : {&marked, &plain}) {
    (*show)->options.scene = 2;
    (*show)->RenderFrame(0.2f);
  }
  EXPECT_TRUE(AllBlack(marked->trail));
  marked->trail.pixels[at] = mark;
  for (HeadlessApp* show : {&marked, &plain}) {
    (*show)->options.scene = 1;
    (*show)->RenderFrame(0.3f);
  }
  EXPECT_TRUE(SamePixels(marked->trail, plain->trail));
  EXPECT_TRUE(marked->frame.rgba == plain->frame.rgba);
}

TEST(RenderFrame, SceneTwoDrawsTheArenaOverTheLastImage) {
  // Scene 2 fades what the frame holds instead of clearing it (its light trails); --dj-board
  // shows the same scene in the club look: the close-up with the console and the operator lit.
  // Bar 20: past the overlay's fade in from black at the start of the loop.
  HeadlessApp orbit({"--scene", "2", "--bar-offset", "20"});
  HeadlessApp club({"--dj-board", "--bar-offset", "20"});
  ASSERT_EQ(club->options.scene, 2);
  ASSERT_TRUE(club->options.club_stage_preview);
  const Vec3 mark{50.0f, 50.0f, 50.0f};
  orbit->frame.pixels[0] = mark;
  orbit->RenderFrame(0.5f);
  club->RenderFrame(0.5f);
  EXPECT_GT(orbit->frame.pixels[0].x, 0.15f * mark.x);
  EXPECT_LT(orbit->frame.pixels[0].x, mark.x);

  // Both show the arena; the club look is another picture (the close-up), not a recoloured orbit.
  size_t orbit_lit = 0, club_lit = 0, differing = 0;
  for (size_t i = 0; i < orbit->frame.pixels.size(); ++i) {
    const Vec3& a = orbit->frame.pixels[i];
    const Vec3& b = club->frame.pixels[i];
    orbit_lit += (a.x + a.y + a.z > 0.05f);
    club_lit += (b.x + b.y + b.z > 0.05f);
    differing += std::fabs((a.x + a.y + a.z) - (b.x + b.y + b.z)) > 0.05f;
  }
  EXPECT_GT(orbit_lit, 20000u);
  EXPECT_GT(club_lit, 20000u);
  EXPECT_GT(differing, 40000u);
  EXPECT_GE(club->BuildMusicViz().cue_club, 1.0f);
  EXPECT_EQ(orbit->BuildMusicViz().cue_club, 0.0f);
  EXPECT_EQ(club->ActiveScene(club->BuildMusicViz()), 2);
}

TEST(RenderFrame, SceneThreeDecaysTheFrameAndDrawsTheDotField) {
  HeadlessApp show({"--scene", "3", "--trail", "0.5", "--bar-offset", "20"});
  // The frame is decayed, not cleared: what was there keeps about half its light (the trail
  // setting; at bar 20 the running timeline moves the decay by under 2 %) and the dots add to it.
  // The trail buffer stays black.
  show->frame.Fill(Vec3{4.0f, 4.0f, 4.0f});
  show->trail.Fill(Vec3{1.0f, 1.0f, 1.0f});
  show->RenderFrame(2.0f);
  float least = 1e9f;
  float most = 0.0f;
  for (const Vec3& p : show->frame.pixels) {
    least = std::min(least, p.x);
    most = std::max(most, p.x);
  }
  EXPECT_GE(least, 0.98f * 2.0f);
  EXPECT_GT(most, 2.01f);
  EXPECT_TRUE(AllBlack(show->trail));
}

TEST(RenderFrame, TheOverlayOpensTheLoopFromBlackOverTheScene) {
  // At bar 0 the overlay's start fade covers the canyon completely; by bar 8 it is gone and the
  // title shows over the canyon.
  HeadlessApp start({"--scene", "1"});
  start->RenderFrame(0.0f);
  for (uint32_t word : start->frame.rgba) ASSERT_EQ(word, kOpaqueBlack);
  HeadlessApp titled({"--scene", "1", "--bar-offset", "8"});
  titled->RenderFrame(8.0f * 240.0f / 140.0f);
  EXPECT_FALSE(AllBlack(titled->frame));
}

TEST(RenderFrame, AfterTheFinaleEveryFrameIsBlack) {
  // Bar 8: past the start fade, so the frame before the finale is lit.
  HeadlessApp show({"--scene", "1", "--bar-offset", "8"});
  show->RenderFrame(0.0f);
  ASSERT_FALSE(AllBlack(show->frame));
  show->director_state.finished = true;
  show->glow.Fill(Vec3{1.0f, 1.0f, 1.0f});
  show->RenderFrame(1.0f);
  EXPECT_TRUE(AllBlack(show->frame));
  EXPECT_TRUE(AllBlack(show->glow));
  EXPECT_TRUE(AllBlack(show->trail));
  for (uint32_t word : show->frame.rgba) ASSERT_EQ(word, kOpaqueBlack);
}

TEST(WritePpm, WritesRowsTopFirstAsRgbBytes) {
  ScratchDir dir;
  Framebuffer image(3, 2);
  image.pixels[0] = Vec3{1.0f, 0.5f, 0.0f};  // top left: bytes 174, 112, 0
  image.pixels[5] = Vec3{0.0f, 0.25f, 4.0f};  // bottom right: 0, 64, 252
  image.ResolveRgba8();
  const std::string path = (dir / "small.ppm").string();
  ASSERT_TRUE(WritePpm(image, path));

  const std::string expected_header = "P6\n3 2\n255\n";
  const std::vector<uint8_t> expected_pixels = {174, 112, 0, 0, 0, 0, 0, 0, 0,
                                                0,   0,   0, 0, 0, 0, 0, 64, 252};
  const std::string ppm = ReadFileText(path);
  ASSERT_EQ(ppm.size(), expected_header.size() + expected_pixels.size());
  EXPECT_EQ(ppm.substr(0, expected_header.size()), expected_header);
  EXPECT_EQ(std::vector<uint8_t>(ppm.begin() + expected_header.size(), ppm.end()),
            expected_pixels);
}

TEST(WritePpm, ReportsFilesItCannotWriteWhole) {
  Framebuffer image(640, 360);
  ScratchDir dir;
  EXPECT_FALSE(WritePpm(image, (dir / "no_such_dir" / "a.ppm").string()));
  EXPECT_FALSE(WritePpm(image, dir.path.string()));  // a directory
  EXPECT_FALSE(WritePpm(image, "/dev/full"));        // opens, but no byte fits
}

}  // namespace
