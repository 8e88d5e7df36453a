// The App's frame loop on a scripted platform: the test owns the clock and the keyboard, and the
// App runs its real Run(), HandleKeys, finale and title code. The music is off (--no-audio), except
// in the tests of the music keys and the finale, where the synthesiser plays on miniaudio's device
// (the null backend on machines without a sound card).

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/app.h"
#include "timeline/status_title.h"

namespace {

constexpr double kFrameStep = 0.05;  // seconds of platform time per frame (title every 3rd frame)

// A platform whose clock advances by a fixed step per frame and whose keys the test holds down.
// `script` runs in PollEvents, once per frame, with the index of the frame about to be rendered.
class ScriptedPlatform final : public Platform {
 public:
  double time = 10.0;
  std::array<bool, kKeyCount> down{};
  bool other_key = false;  // a key with no role of its own (a letter)
  bool close = false;
  bool fullscreen = false;
  std::string title;
  int frames = 0;  // frames presented
  std::function<void(int frame)> script;
  std::function<void(int frame, const Framebuffer& image)> on_present;

  double Time() override { return time; }
  bool ShouldClose() override { return close || frames >= 10000; }
  void RequestClose() override { close = true; }
  void PollEvents() override {
    if (script) script(frames);
  }
  bool IsKeyDown(int key) override { return key >= 0 && key < kKeyCount && down[key]; }
  bool AnyKeyDown() override {
    if (other_key) return true;
    for (int key = 0; key < kKeyCount; ++key)
      if (key != kKeyEscape && down[key]) return true;
    return false;
  }
  bool IsFullscreen() override { return fullscreen; }
  void SetFullscreen(bool on) override { fullscreen = on; }
  void SetTitle(const char* text) override { title = text; }
  void Present(const Framebuffer& image) override {
    if (on_present) on_present(frames, image);
  }
  void SwapBuffers() override {
    frames += 1;
    time += kFrameStep;
  }
};

// An App on a scripted platform, configured by these options after the program name. The
// program name is the real executable's, so the show's own data files are found next to it.
class ScriptedShow {
 public:
  explicit ScriptedShow(std::vector<std::string> options, bool music = false)
      : args(std::move(options)) {
    args.insert(args.begin(), KESTREL_BINARY_DIR "/kestrel_prod");
    args.push_back("--windowed");
    if (!music) args.push_back("--no-audio");
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    app = std::make_unique<App>(static_cast<int>(args.size()), argv.data(),
                                [this](const PlatformConfig&) {
                                  auto p = std::make_unique<ScriptedPlatform>();
                                  platform = p.get();
                                  return p;
                                });
  }

  std::vector<std::string> args;
  std::vector<char*> argv;
  ScriptedPlatform* platform = nullptr;  // owned by the App
  std::unique_ptr<App> app;
};

bool AllBlack(const Framebuffer& image) {
  for (uint32_t p : image.rgba)
    if ((p & 0xFFFFFFu) != 0) return false;
  return true;
}

// One step of a keyboard script: hold these keys for this many frames, then look.
struct KeyStep {
  const char* name;
  std::vector<int> held;
  int frames;
};

struct Seen {
  std::string title;
  float bar = 0;
  bool frozen = false;
};

// Runs the App's frame loop through `steps` (each followed by a few frames with no key held, so
// the next step is a fresh press) and records what each step left behind. The last step should
// hold Escape.
std::map<std::string, Seen> RunKeySteps(ScriptedShow& show, const std::vector<KeyStep>& steps,
                                        int* status) {
  std::map<std::string, Seen> seen;
  size_t step = 0;
  int step_start = 0;
  constexpr int kReleaseFrames = 4;  // more than one title interval
  ScriptedPlatform& p = *show.platform;
  App& app = *show.app;
  p.script = [&](int frame) {
    while (step < steps.size() &&
           frame >= step_start + steps[step].frames + kReleaseFrames) {
      seen[steps[step].name] =
          Seen{p.title, app.DirectorView().ClockBar(), app.director_state.frozen};
      step_start = frame;
      step += 1;
    }
    p.down.fill(false);
    if (step >= steps.size()) return;
    if (frame < step_start + steps[step].frames)
      for (int key : steps[step].held) p.down[key] = true;
  };
  *status = app.Run();
  return seen;
}

TEST(ScriptedShow, KeysSeekChooseFreezeAndQuitAsTheTitleSays) {
  ScriptedShow show({});
  int status = -1;
  const std::vector<KeyStep> steps = {
      {"start", {}, 1},
      {"right held", {kKeyRight}, 8},  // one press, however long it is held
      {"right 2", {kKeyRight}, 1},
      {"right 3", {kKeyRight}, 1},
      {"right 4", {kKeyRight}, 1},
      {"right 5", {kKeyRight}, 1},
      {"digit 5", {kKey1 + 4}, 2},
      {"director back", {kKeyD}, 1},
      {"two digits", {kKey1 + 1, kKey1 + 6}, 1},  // the highest wins
      {"space", {kKeySpace}, 1},
      {"right while frozen", {kKeyRight}, 1},
      {"director while frozen", {kKeyD}, 1},
      {"digit while frozen", {kKey1 + 3}, 1},
      {"space again", {kKeySpace}, 1},
      {"page up", {kKeyPageUp}, 1},
      {"left", {kKeyLeft}, 1},
      {"end", {kKeyEnd}, 1},
      {"home", {kKeyHome}, 1},
      {"escape", {kKeyEscape}, 1},
  };
  const std::map<std::string, Seen> seen = RunKeySteps(show, steps, &status);
  EXPECT_EQ(status, 0);
  ASSERT_TRUE(show.platform->close);

  // The title's FPS figure comes from the scripted clock: 1 / 0.05 s.
  const auto title = [](int scene, bool director, bool frozen) {
    return StatusTitle(kProductionName, scene, director, frozen, 1.0 / kFrameStep);
  };
  struct Expect {
    const char* step;
    float bar;
    std::string title;
  };
  // The music is off, so the clock stands at the pending bar and only keys move it. The shipped
  // sequence: canyon 0-16, dot field 16-40, arena 40-64, ..., orb stage 112-114 and 114-128.
  const Expect expected[] = {
      {"start", 0.0f, title(1, true, false)},
      {"right held", 4.0f, title(1, true, false)},
      {"right 4", 16.0f, title(3, true, false)},
      {"right 5", 20.0f, title(3, true, false)},
      {"digit 5", 20.0f, title(5, false, false)},
      {"director back", 20.0f, title(3, true, false)},
      {"two digits", 20.0f, title(7, false, false)},
      {"space", 20.0f, title(7, false, true)},
      {"right while frozen", 20.0f, title(7, false, true)},
      {"director while frozen", 20.0f, title(7, false, true)},
      {"digit while frozen", 20.0f, title(4, false, true)},
      {"space again", 20.0f, title(4, false, false)},
      {"page up", 16.0f, title(4, false, false)},  // to the start of the current section
      {"left", 12.0f, title(4, false, false)},
      {"end", 114.0f, title(4, false, false)},  // the start of the last section
      {"home", 0.0f, title(4, false, false)},
  };
  for (const Expect& e : expected) {
    SCOPED_TRACE(e.step);
    ASSERT_EQ(seen.count(e.step), 1u);
    EXPECT_FLOAT_EQ(seen.at(e.step).bar, e.bar);
    EXPECT_EQ(seen.at(e.step).title, e.title);
  }
}

TEST(ScriptedShow, UnfreezingResumesTheFrameTimeWhereItStopped) {
  ScriptedShow show({"--bar-offset", "50"});
  ScriptedPlatform& p = *show.platform;
  App& app = *show.app;
  std::vector<double> frame_times;  // the frame time each presented frame was rendered with
  p.on_present = [&](int, const Framebuffer&) {
    frame_times.push_back(app.DirectorView().FrameTime(p.Time()));
  };
  p.script = [&](int frame) {
    p.down.fill(false);
    if (frame == 10 || frame == 20) p.down[kKeySpace] = true;
    if (frame == 15) p.time += 10.0;  // ten seconds pass while frozen
    if (frame == 30) p.down[kKeyEscape] = true;
  };
  EXPECT_EQ(app.Run(), 0);
  ASSERT_EQ(frame_times.size(), 31u);  // the frame that saw Escape is still shown

  // Running: bar 50 in seconds plus the platform clock. The held time is taken with the bar in
  // single precision, so comparisons across the freeze allow a float's rounding at ~100 s; the
  // renderer receives the time as a float anyway.
  const double bar50 = 50.0 * 240.0 / 140.0;
  const double kTol = 1e-5;
  EXPECT_NEAR(frame_times[9], bar50 + 10.0 + 9 * kFrameStep, 1e-9);
  // Frozen from frame 10 on: the time holds through the ten-second jump.
  for (int frame = 10; frame < 20; ++frame) EXPECT_EQ(frame_times[frame], frame_times[10]);
  EXPECT_NEAR(frame_times[10], frame_times[9] + kFrameStep, kTol);
  // Unfrozen at frame 20: the time goes on from where it stopped, not ten seconds later.
  EXPECT_NEAR(frame_times[20], frame_times[10], kTol);
  EXPECT_NEAR(frame_times[21], frame_times[10] + kFrameStep, kTol);
  EXPECT_FLOAT_EQ(app.DirectorView().ClockBar(), 50.0f);
}

TEST(ScriptedShow, FinaleEndsBlackAndOnlyANewKeyRestartsFromBarZero) {
  // Started at bar 121 the finale clock runs from the first frame and ends at FinaleEnd(),
  // 123.35 bars at 140 BPM: 2.35 bars, about 4.03 s later.
  ScriptedShow show({"--bar-offset", "121"});
  ScriptedPlatform& p = *show.platform;
  App& app = *show.app;
  const double start = p.time;
  double finished_at = -1;
  int finished_frame = -1;
  int black_frames_while_finished = 0;
  int frames_while_finished = 0;
  bool fullscreen_after_f11 = false;
  bool finished_after_f11 = false;
  std::string title_after_restart;
  float bar_after_restart = -1;
  bool lit_after_restart = false;
  p.on_present = [&](int frame, const Framebuffer& image) {
    if (app.director_state.finished) {
      if (finished_frame < 0) {
        finished_frame = frame;
        finished_at = p.Time() - start;
      }
      frames_while_finished += 1;
      black_frames_while_finished += AllBlack(image);
    } else if (finished_frame >= 0 && frame > finished_frame + 70) {
      lit_after_restart = lit_after_restart || !AllBlack(image);
    }
  };
  p.script = [&](int frame) {
    p.down.fill(false);
    p.other_key = false;
    if (finished_frame < 0) return;
    const int since = frame - finished_frame;
    // F11 after the finale toggles full screen and does not restart; a letter key restarts.
    if (since >= 20 && since < 25) p.down[kKeyF11] = true;
    if (since == 40) {
      fullscreen_after_f11 = p.fullscreen;
      finished_after_f11 = app.director_state.finished;
    }
    if (since >= 60 && since < 64) p.other_key = true;
    if (since == 64) bar_after_restart = app.DirectorView().ClockBar();
    // Without music the clock stays at bar 0, where the loop opens from black: four bars on, the
    // start fade has nearly ended and the canyon shows.
    if (since >= 66 && since < 68) p.down[kKeyRight] = true;
    if (since == 70) title_after_restart = p.title;
    if (since == 76) p.down[kKeyEscape] = true;
  };
  EXPECT_EQ(app.Run(), 0);

  ASSERT_GE(finished_frame, 0) << "the finale never ended";
  EXPECT_NEAR(finished_at, 2.35 * 240.0 / 140.0, kFrameStep + 1e-6);
  EXPECT_EQ(frames_while_finished, 60);
  EXPECT_EQ(black_frames_while_finished, frames_while_finished);
  EXPECT_TRUE(fullscreen_after_f11);
  EXPECT_TRUE(finished_after_f11);
  EXPECT_FALSE(app.director_state.finished);
  EXPECT_FLOAT_EQ(bar_after_restart, 0.0f);
  EXPECT_EQ(title_after_restart, StatusTitle(kProductionName, 1, true, false, 1.0 / kFrameStep));
  EXPECT_TRUE(lit_after_restart);  // the canyon is back
}

// What the App's music looked like at the start of one frame.
struct MusicLook {
  bool playing = false;
  bool audio_enabled = false;
  bool frozen = false;
  float bar_offset = 0;
  float clock = 0;
  float synth_bars = 0;
};

MusicLook LookAtMusic(App& app) {
  return MusicLook{app.synth->IsPlaying(), app.options.audio_enabled, app.director_state.frozen,
                   app.options.bar_offset, app.DirectorView().ClockBar(),
                   app.synth->GetPosition().bars};
}

// The music plays in real time while the scripted clock does not: positions are checked to lie
// within a generous bar or two of where a seek put them.
constexpr float kRealTimeSlack = 2.0f;

TEST(ScriptedShow, MusicKeysStartSeekFreezeAndStopTheSynthesiser) {
  ScriptedShow show({"--bar-offset", "50"}, /*music=*/true);
  App& app = *show.app;
  ScriptedPlatform& p = *show.platform;
  // Construction started the synthesiser and sent it to the pending start bar, used up by that.
  ASSERT_TRUE(app.synth->IsPlaying()) << app.synth->GetStatus();
  EXPECT_TRUE(app.options.audio_enabled);
  EXPECT_EQ(app.options.bar_offset, 0.0f);
  EXPECT_GE(app.synth->GetPosition().bars, 50.0f - 1e-3f);
  EXPECT_LT(app.synth->GetPosition().bars, 50.0f + kRealTimeSlack);

  std::map<int, MusicLook> looks;
  p.script = [&](int frame) {
    looks[frame] = LookAtMusic(app);
    p.down.fill(false);
    if (frame == 2 || frame == 10) p.down[kKeyM] = true;
    if (frame == 6) p.down[kKeyRight] = true;
    if (frame == 14 || frame == 22) p.down[kKeySpace] = true;
    if (frame == 18) p.time += 10.0;  // a pause while frozen
    if (frame == 26) p.down[kKeyEscape] = true;
  };
  EXPECT_EQ(app.Run(), 0);
  ASSERT_EQ(looks.size(), 27u);

  // M stops the music and switches it off; the clock stands where the music was, as the
  // pending bar.
  const MusicLook& muted = looks[3];
  EXPECT_FALSE(muted.playing);
  EXPECT_FALSE(muted.audio_enabled);
  EXPECT_GE(muted.clock, 50.0f);
  EXPECT_LT(muted.clock, 50.0f + kRealTimeSlack);
  EXPECT_FLOAT_EQ(muted.bar_offset, muted.clock);
  // Right while silent only moves the pending bar.
  const MusicLook& sought = looks[7];
  EXPECT_FALSE(sought.playing);
  EXPECT_FLOAT_EQ(sought.bar_offset, muted.clock + 4.0f);
  EXPECT_FLOAT_EQ(sought.clock, muted.clock + 4.0f);
  // M again starts the synthesiser there and uses the pending bar up.
  const MusicLook& resumed = looks[11];
  EXPECT_TRUE(resumed.playing);
  EXPECT_TRUE(resumed.audio_enabled);
  EXPECT_EQ(resumed.bar_offset, 0.0f);
  EXPECT_GE(resumed.synth_bars, sought.clock - 1e-3f);
  EXPECT_LT(resumed.synth_bars, sought.clock + kRealTimeSlack);
  EXPECT_NEAR(resumed.clock, resumed.synth_bars, 0.05f);  // read one device period apart at most
  // Space stops the music and holds the clock; the pause does not move it.
  const MusicLook& frozen = looks[15];
  EXPECT_TRUE(frozen.frozen);
  EXPECT_FALSE(frozen.playing);
  EXPECT_GE(frozen.clock, resumed.synth_bars);
  EXPECT_FLOAT_EQ(looks[21].clock, frozen.clock);
  // Space again plays on from the held bar.
  const MusicLook& thawed = looks[23];
  EXPECT_FALSE(thawed.frozen);
  EXPECT_TRUE(thawed.playing);
  EXPECT_TRUE(thawed.audio_enabled);
  EXPECT_EQ(thawed.bar_offset, 0.0f);
  EXPECT_GE(thawed.synth_bars, frozen.clock - 1e-3f);
  EXPECT_LT(thawed.synth_bars, frozen.clock + kRealTimeSlack);
}

TEST(ScriptedShow, FinaleSlowsFadesAndStopsTheSynthesiserAndAKeyRestartsIt) {
  // From bar 116 the finale runs on the scripted clock: the music level falls and the speed drops
  // to 6 % between 5 and 7 s, and 12.6 s after bar 116 the show ends and the music stops.
  ScriptedShow show({"--bar-offset", "116"}, /*music=*/true);
  App& app = *show.app;
  ScriptedPlatform& p = *show.platform;
  ASSERT_TRUE(app.synth->IsPlaying()) << app.synth->GetStatus();

  struct Controls {
    float master = -1, level = -1, speed = -1;
    bool playing = false;
  };
  std::map<int, Controls> seen;
  int finished_frame = -1;
  float start_bar = -1;  // where the finale clock started: 116 plus the music played before it
  p.script = [&](int frame) {
    if (frame == 1) start_bar = app.director_state.finale_start_bar;
    const RuntimeSynth& synth = *app.synth;
    seen[frame] = Controls{synth.GetMasterVolume(), synth.GetMusicLevel(), synth.GetSpeed(),
                           synth.IsPlaying()};
    p.down.fill(false);
    p.other_key = false;
    if (finished_frame < 0 && app.director_state.finished) finished_frame = frame;
    if (finished_frame >= 0 && frame == finished_frame + 5) p.other_key = true;
    if (finished_frame >= 0 && frame == finished_frame + 10) p.down[kKeyEscape] = true;
  };
  EXPECT_EQ(app.Run(), 0);

  // Frame n ran its finale step at n * 0.05 s on the finale clock, which started at the bar the
  // music had reached by the first frame (116 plus however long the machine took to get there);
  // the script of frame n + 1 sees the result.
  ASSERT_GE(start_bar, 116.0f);
  ASSERT_LT(start_bar, 116.0f + kRealTimeSlack);
  const auto at_seconds = [&](double seconds) {
    return seen.at(static_cast<int>(std::lround(seconds / kFrameStep)) + 1);
  };
  const auto clock_at = [&](double seconds) {
    return start_bar + static_cast<float>(140.0 * seconds / 240.0);
  };
  const Controls before = at_seconds(4.5);
  EXPECT_TRUE(before.playing);
  EXPECT_EQ(before.master, 1.0f);  // the configured gain
  EXPECT_EQ(before.level, 1.0f);
  EXPECT_EQ(before.speed, 1.0f);
  const Controls half = at_seconds(6.0);  // halfway down the duck when the clock started at 116
  EXPECT_NEAR(half.level, 1.0f - MusicDuck(clock_at(6.0), 140.0f), 1e-5f);
  EXPECT_GT(half.level, 0.1f);
  EXPECT_LT(half.level, 0.9f);
  EXPECT_NEAR(half.speed, 1.0f - 0.94f * (1.0f - half.level), 1e-5f);
  const Controls ducked = at_seconds(8.0);
  EXPECT_TRUE(ducked.playing);
  EXPECT_EQ(ducked.level, 0.0f);
  EXPECT_NEAR(ducked.speed, 0.06f, 1e-6f);

  ASSERT_GE(finished_frame, 0) << "the finale never ended";
  const double finale_seconds = (FinaleEnd(140.0f) - start_bar) * 240.0 / 140.0;  // 12.6 from 116
  // The first frame at or past the end finished the show (the clock is a float: allow 1 ms).
  const double finished_at = (finished_frame - 1) * kFrameStep;
  EXPECT_GE(finished_at, finale_seconds - 1e-3);
  EXPECT_LT(finished_at, finale_seconds + kFrameStep + 1e-3);
  EXPECT_FALSE(seen.at(finished_frame).playing);
  // A key restarts the show: the music plays again from the start at full level and speed.
  const Controls restarted = seen.at(finished_frame + 7);
  EXPECT_TRUE(restarted.playing);
  EXPECT_EQ(restarted.level, 1.0f);
  EXPECT_EQ(restarted.speed, 1.0f);
  EXPECT_LT(app.synth->GetPosition().bars, kRealTimeSlack);
}

TEST(ScriptedShow, ModuleThatCannotStartLeavesTheShowSilentAtThePendingBar) {
  ScriptedShow show({"--xm", "--xm-path", "/nonexistent_kestrel/missing.xm", "--bar-offset", "30"},
                    /*music=*/true);
  App& app = *show.app;
  EXPECT_FALSE(app.options.audio_enabled);
  EXPECT_FALSE(app.synth->IsPlaying());  // the synthesiser is not tried instead
  ScriptedPlatform& p = *show.platform;
  p.script = [&](int frame) {
    if (frame == 5) p.down[kKeyEscape] = true;
  };
  EXPECT_EQ(app.Run(), 0);
  EXPECT_FLOAT_EQ(app.DirectorView().ClockBar(), 30.0f);
  EXPECT_FLOAT_EQ(app.options.bar_offset, 30.0f);
  EXPECT_EQ(app.xm->GetStatus(), "XM load failed (-6): /nonexistent_kestrel/missing.xm");
  EXPECT_FALSE(app.xm->IsPlaying());
}

// The show's own module on the real device: the clock follows its orders, a seek moves it,
// freezing stops it and unfreezing plays on from the held bar.
TEST(ScriptedShow, ModulePlayerDrivesTheClockSeeksFreezesAndResumes) {
  ScriptedShow show({"--xm", "--bar-offset", "50"}, /*music=*/true);
  App& app = *show.app;
  ScriptedPlatform& p = *show.platform;
  ASSERT_TRUE(app.xm->IsPlaying()) << app.xm->GetStatus();
  EXPECT_FALSE(app.synth->IsPlaying());
  EXPECT_EQ(app.xm->GetStatus(), "XM playing: KESTREL SYNTH VM");
  EXPECT_EQ(app.options.bar_offset, 0.0f);  // used up by the start
  EXPECT_GE(app.xm->GetPosition().bars, 50.0f);
  EXPECT_LT(app.xm->GetPosition().bars, 50.0f + kRealTimeSlack);

  struct Look {
    bool playing = false;
    bool frozen = false;
    float clock = 0;
    float module_bars = 0;
    float volume = 0;
    TrackerSnapshot snapshot;
  };
  std::map<int, Look> looks;
  p.script = [&](int frame) {
    looks[frame] = Look{app.xm->IsPlaying(), app.director_state.frozen, app.DirectorView().ClockBar(),
                        app.xm->GetPosition().bars, app.xm->GetVolume(), app.xm->GetVizSnapshot()};
    p.down.fill(false);
    if (frame == 2) p.down[kKeyRight] = true;
    if (frame == 6 || frame == 14) p.down[kKeySpace] = true;
    if (frame == 10) p.time += 10.0;  // a pause while frozen
    if (frame == 18) p.down[kKeyEscape] = true;
  };
  EXPECT_EQ(app.Run(), 0);
  ASSERT_EQ(looks.size(), 19u);

  // Every frame gives the module the configured gain.
  EXPECT_FLOAT_EQ(looks[1].volume, 1.0f);
  EXPECT_EQ(looks[1].snapshot.source, 1);
  EXPECT_EQ(looks[1].snapshot.length, 128);
  // Right: four orders on.
  const Look& sought = looks[4];
  EXPECT_TRUE(sought.playing);
  EXPECT_GE(sought.module_bars, looks[2].module_bars + 4.0f - 0.1f);
  EXPECT_NEAR(sought.clock, sought.module_bars, 0.1f);
  // Space: stopped, the clock held through the pause.
  const Look& frozen = looks[8];
  EXPECT_TRUE(frozen.frozen);
  EXPECT_FALSE(frozen.playing);
  EXPECT_FLOAT_EQ(looks[13].clock, frozen.clock);
  // Space again: the module plays on from the held bar.
  const Look& thawed = looks[16];
  EXPECT_FALSE(thawed.frozen);
  EXPECT_TRUE(thawed.playing);
  EXPECT_GE(thawed.module_bars, frozen.clock - 1.0f / 16.0f);
  EXPECT_LT(thawed.module_bars, frozen.clock + kRealTimeSlack);
}

// From bar 119.5, half way down the duck, the finale fades the module to silence and stops it
// at the show's end (bar 123.35, 6.6 s later).
TEST(ScriptedShow, FinaleFadesAndStopsTheModulePlayer) {
  ScriptedShow show({"--xm", "--bar-offset", "119.5"}, /*music=*/true);
  App& app = *show.app;
  ScriptedPlatform& p = *show.platform;
  ASSERT_TRUE(app.xm->IsPlaying()) << app.xm->GetStatus();
  std::vector<float> volumes;
  bool stopped_when_finished = false;
  p.script = [&](int frame) {
    volumes.push_back(app.xm->GetVolume());
    if (app.director_state.finished) stopped_when_finished = !app.xm->IsPlaying();
    if (frame == 160) p.down[kKeyEscape] = true;
  };
  EXPECT_EQ(app.Run(), 0);
  EXPECT_TRUE(app.director_state.finished);
  EXPECT_TRUE(stopped_when_finished);
  EXPECT_FALSE(app.xm->IsPlaying());
  // The volume only falls, from the duck's middle to nothing.
  ASSERT_GT(volumes.size(), 150u);
  for (std::size_t i = 2; i < volumes.size(); ++i) EXPECT_LE(volumes[i], volumes[i - 1] + 1e-6f);
  EXPECT_GT(volumes[1], 0.2f);
  EXPECT_LT(volumes[1], 0.8f);
  EXPECT_EQ(volumes.back(), 0.0f);
}

}  // namespace
