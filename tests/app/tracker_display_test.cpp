// Where the App draws the tracker display: for which scenes and runs, with which snapshot. The
// assembly layout records the step key of every frame it draws in the App's tracker_last_step,
// which shows whether the display was drawn at all.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/app.h"

namespace {

// A window that is never shown: a fixed clock and no keys.
class StillPlatform final : public Platform {
 public:
  double Time() override { return 10.0; }
  bool ShouldClose() override { return false; }
  void RequestClose() override {}
  void PollEvents() override {}
  bool IsKeyDown(int) override { return false; }
  bool AnyKeyDown() override { return false; }
  bool IsFullscreen() override { return false; }
  void SetFullscreen(bool) override {}
  void SetTitle(const char*) override {}
  void Present(const Framebuffer&) override {}
  void SwapBuffers() override {}
};

enum class RunKind { kWindow, kBench, kCapture };

// An App without music, configured by these options after the program name.
class Show {
 public:
  Show(RunKind run, std::vector<std::string> options) : args(std::move(options)) {
    args.insert(args.begin(), KESTREL_BINARY_DIR "/kestrel_prod");
    args.push_back("--no-audio");
    if (run == RunKind::kBench) args.push_back("--bench");
    if (run == RunKind::kCapture) {
      args.push_back("--capture");
      args.push_back(testing::TempDir() + "tracker_display_frames");
    }
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    app = std::make_unique<App>(static_cast<int>(args.size()), argv.data(),
                                [](const PlatformConfig&) { return std::make_unique<StillPlatform>(); });
  }
  App* operator->() { return app.get(); }

  std::vector<std::string> args;
  std::vector<char*> argv;
  std::unique_ptr<App> app;
};

}  // namespace

TEST(TrackerDisplay, DrawnForEveryScene2To8InWindowsAndCapturesOnly) {
  struct Case {
    const char* what;
    RunKind run;
    std::vector<std::string> options;
    bool drawn;
  };
  const Case cases[] = {
      {"scene 2, behind by default", RunKind::kWindow, {"--scene", "2"}, true},
      {"scene 2 in front", RunKind::kWindow, {"--scene", "2", "--tracker-front"}, true},
      {"scene 5, in front by default", RunKind::kWindow, {"--scene", "5"}, true},
      {"scene 8 behind", RunKind::kWindow, {"--scene", "8", "--tracker-behind"}, true},
      {"a capture", RunKind::kCapture, {"--scene", "4"}, true},
      {"scene 1", RunKind::kWindow, {"--scene", "1"}, false},
      {"scene 1 asked to draw it behind", RunKind::kWindow, {"--scene", "1", "--tracker-behind"}, false},
      {"hidden", RunKind::kWindow, {"--scene", "3", "--hide-tracker"}, false},
      {"hidden in front", RunKind::kWindow, {"--scene", "6", "--hide-tracker"}, false},
      {"a bench run", RunKind::kBench, {"--scene", "2"}, false},
      {"a bench run in front", RunKind::kBench, {"--scene", "7"}, false}};
  for (const Case& c : cases) {
    std::vector<std::string> options = c.options;
    options.insert(options.end(), {"--no-director", "--tracker-assembly"});
    Show show(c.run, options);
    ASSERT_EQ(show->tracker_last_step, -1);
    show->RenderFrame(0.0f);
    // At bar 0 the synthesiser's snapshot is step 0 of bar 0: key 0.
    EXPECT_EQ(show->tracker_last_step, c.drawn ? 0 : -1) << c.what;

    if (!c.drawn) {
      // Not drawn means the frame is the hidden show's, pixel for pixel.
      options.push_back("--hide-tracker");
      Show hidden(c.run, options);
      hidden->RenderFrame(0.0f);
      EXPECT_TRUE(show->frame.rgba == hidden->frame.rgba) << c.what;
    }
  }

  // Over a scene, the panel changes the picture (bar 20: past the fade in from black).
  Show front(RunKind::kWindow, {"--scene", "5", "--no-director", "--bar-offset", "20"});
  Show hidden(RunKind::kWindow, {"--scene", "5", "--no-director", "--hide-tracker", "--bar-offset", "20"});
  front->RenderFrame(0.0f);
  hidden->RenderFrame(0.0f);
  EXPECT_FALSE(front->frame.rgba == hidden->frame.rgba);
}

TEST(TrackerDisplay, AFrozenShowDrawsTheFrozenSnapshot) {
  Show show(RunKind::kWindow, {"--scene", "2", "--no-director", "--tracker-assembly"});
  show->RenderFrame(0.0f);
  EXPECT_EQ(show->tracker_last_step, 0);

  show->director_state.frozen = true;
  show->director_state.frozen_snapshot.step = 5;
  show->director_state.frozen_snapshot.bar_index = 7;
  show->director_state.frozen_snapshot.kick = 0.9f;
  show->RenderFrame(0.0f);
  EXPECT_EQ(show->tracker_last_step, 5 + 256 * 7);

  // Step 8 with an impact in the held snapshot flashes the listing; frame after frame it decays.
  show->director_state.frozen_snapshot.step = 8;
  show->director_state.frozen_snapshot.impact = 1.0f;
  show->RenderFrame(0.0f);
  EXPECT_FLOAT_EQ(show->tracker_flash, 0.7f);
  show->RenderFrame(0.0f);
  EXPECT_FLOAT_EQ(show->tracker_flash, 0.7f * 0.72f);

  show->director_state.frozen = false;
  show->RenderFrame(0.0f);
  EXPECT_EQ(show->tracker_last_step, 0);
}
