// The App draws the orb stage for scenes 4 to 8, over the previous image (decayed, not cleared),
// each scene with its own look from the shipped settings file.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/app.h"

namespace {

// A headless App as the real program next to its data/ would be: bench mode, one manual scene.
std::unique_ptr<App> ShowScene(int scene) {
  static std::vector<std::string> args;
  static std::vector<char*> argv;
  args = {std::string(KESTREL_BINARY_DIR) + "/kestrel_prod", "--bench", "--scene", std::to_string(scene),
          // past the overlay's fade in from black at the start of the loop
          "--bar-offset", "20"};
  argv.clear();
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return std::make_unique<App>(static_cast<int>(args.size()), argv.data());
}

size_t LitPixels(const Framebuffer& fb) {
  size_t n = 0;
  for (const Vec3& p : fb.pixels)
    if (p.x + p.y + p.z > 0.05f) ++n;
  return n;
}

}  // namespace

TEST(OrbStageInTheShow, ScenesFourToEightDrawTheStageWithFiveLooks) {
  std::vector<std::vector<uint32_t>> images;
  for (int scene = 4; scene <= 8; ++scene) {
    SCOPED_TRACE(scene);
    std::unique_ptr<App> app = ShowScene(scene);
    // The shipped settings reached this scene, and not scenes 1 to 3.
    EXPECT_EQ(app->debug_params[0].trail, DebugParams{}.trail);
    EXPECT_EQ(app->camera_params[2].dist, SceneCameraParams{}.dist);

    // A bright mark is decayed by the scene's trail, not cleared.
    const size_t at = 2 * app->frame.width + 2;
    app->RenderFrame(10.0f);
    app->frame.pixels[at] = Vec3(50.0f, 50.0f, 50.0f);
    app->RenderFrame(10.0f + 1.0f / 60.0f);
    const float trail = app->debug_params[scene - 1].trail;
    // At bar 20 the timeline runs (no music, but a start bar), which moves the decay by under 2 %.
    EXPECT_GE(app->frame.pixels[at].x, 0.98f * 50.0f * trail);
    EXPECT_LE(app->frame.pixels[at].x, 1.01f * 50.0f * trail + 0.5f);

    for (int k = 0; k < 3; ++k) app->RenderFrame(10.0f + static_cast<float>(k + 2) / 60.0f);
    EXPECT_GT(LitPixels(app->frame), 1000u);
    images.push_back(app->frame.rgba);
  }
  for (size_t i = 0; i < images.size(); ++i)
    for (size_t j = 0; j < i; ++j) EXPECT_NE(images[i], images[j]) << "scenes " << j + 4 << " and " << i + 4;
}
