// The show when the audio device cannot be had: it cannot be opened, cannot be started, or starts
// and never calls back. The App's real frame loop runs on a platform whose clock the test moves;
// every run must keep drawing, end by itself at its frame limit and leave the music's status line.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/app.h"
#include "audio/audio_output.h"

namespace {

// A window that is never shown: 20 frames a second of platform time, no keys.
class SteadyPlatform final : public Platform {
 public:
  double time = 5.0;
  bool close = false;
  int frames = 0;
  size_t lit_frames = 0;  // frames with any light in them

  double Time() override { return time; }
  bool ShouldClose() override { return close || frames >= 1000; }
  void RequestClose() override { close = true; }
  void PollEvents() override {}
  bool IsKeyDown(int) override { return false; }
  bool AnyKeyDown() override { return false; }
  bool IsFullscreen() override { return false; }
  void SetFullscreen(bool) override {}
  void SetTitle(const char*) override {}
  void Present(const Framebuffer& image) override {
    for (uint32_t p : image.rgba) {
      if ((p & 0xFFFFFFu) != 0) {
        lit_frames += 1;
        break;
      }
    }
  }
  void SwapBuffers() override {
    frames += 1;
    time += 0.05;
  }
};

struct FaultCase {
  AudioDeviceFault fault;
  const char* status;       // the start of the synthesiser's status line after start-up
  bool music_wanted_after;  // the App's wish for music once the device failed
};

TEST(DeviceFaults, TheShowRunsOnSilentlyAndEndsByItself) {
  const FaultCase cases[] = {
      {AudioDeviceFault::kInitFails, "Audio init failed (-401)", false},
      {AudioDeviceFault::kStartFails, "Audio start failed (-402)", false},
      // The device plays into nothing: the music position holds where it started, like a
      // paused device, and the show keeps drawing.
      {AudioDeviceFault::kNoCallbacks, "128-bar runtime trance synth playing", true},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.status);
    SetAudioDeviceFault(c.fault);
    std::vector<std::string> args = {KESTREL_BINARY_DIR "/kestrel_prod", "--windowed", "--bar-offset", "20",
                                     "--frames", "30", "--hide-tracker"};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    SteadyPlatform* platform = nullptr;
    auto app = std::make_unique<App>(static_cast<int>(args.size()), argv.data(), [&](const PlatformConfig&) {
      auto p = std::make_unique<SteadyPlatform>();
      platform = p.get();
      return p;
    });
    ASSERT_NE(platform, nullptr);
    EXPECT_EQ(app->synth->GetStatus().rfind(c.status, 0), 0u) << app->synth->GetStatus();
    EXPECT_EQ(app->options.audio_enabled, c.music_wanted_after);
    EXPECT_EQ(app->Run(), 0);
    EXPECT_EQ(platform->frames, 30);
    EXPECT_EQ(platform->lit_frames, 30u);
    // The clock stands at bar 20: on its silent path, or held by a device that never played.
    EXPECT_NEAR(app->DirectorView().ClockBar(), 20.0f, 1e-3f);
    app.reset();  // stops the device, even one that never called back
    SetAudioDeviceFault(AudioDeviceFault::kNone);
  }
}

TEST(DeviceFaults, MusicCanBeTriedAgainOnceTheDeviceWorks) {
  // The M key's path: a failed start leaves the music off; with the device back, it plays.
  SetAudioDeviceFault(AudioDeviceFault::kStartFails);
  std::vector<std::string> args = {KESTREL_BINARY_DIR "/kestrel_prod", "--windowed", "--bar-offset", "20"};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  App app(static_cast<int>(args.size()), argv.data(),
          [](const PlatformConfig&) { return std::make_unique<SteadyPlatform>(); });
  EXPECT_FALSE(app.options.audio_enabled);
  EXPECT_FALSE(app.synth->IsPlaying());
  SetAudioDeviceFault(AudioDeviceFault::kNone);
  app.DirectorView().ToggleMusic();
  EXPECT_TRUE(app.options.audio_enabled);
  EXPECT_TRUE(app.synth->IsPlaying());
  EXPECT_NEAR(app.DirectorView().ClockBar(), 20.0f, 0.05f);  // started at the pending bar
  app.StopAudio();
}

}  // namespace
