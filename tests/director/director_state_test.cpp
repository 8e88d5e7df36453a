// The stateful director (clock, seek, finale, freeze, restart) against a fake music source and a
// fake platform clock.

#include <gtest/gtest.h>

#include <cmath>

#include "timeline/director.h"
#include "timeline/sequence.h"

namespace {

// A music source and a platform clock under the test's control. The source plays from the bar it
// was last sent to at the show's tempo and reports unwrapped bars, as both real sources do.
// RestartAudio behaves as the App's: start the source, then seek it to a pending bar_offset and
// clear that.
class FakeShow : public ShowHost {
 public:
  double now = 100.0;
  uint64_t frames = 0;
  float bpm = 140.0f;
  float* bar_offset = nullptr;
  bool playing = false;
  float play_from_bar = 0.0f;
  double play_from_time = 0.0;
  bool seek_ok = true;
  bool start_ok = true;
  TrackerSnapshot levels;

  // What the director did.
  float synth_volume = -1.0f;
  float synth_level = -1.0f;
  float synth_speed = -1.0f;
  float module_volume = -1.0f;
  int clears = 0;
  int stops = 0;
  int restarts = 0;

  void PlayFrom(float bar) {
    playing = true;
    play_from_bar = bar;
    play_from_time = now;
  }

  double Now() override { return now; }
  uint64_t FrameCount() override { return frames; }
  bool SourcePlaying() override { return playing; }
  float SourceBars() override {
    if (!playing) return 0.0f;
    return play_from_bar + static_cast<float>((now - play_from_time) * bpm / 240.0);
  }
  TrackerSnapshot SourceSnapshot() override {
    TrackerSnapshot snap = levels;
    snap.position = SourceBars();
    return snap;
  }
  bool SeekSource(float bar) override {
    if (!seek_ok) return false;
    play_from_bar = bar;
    play_from_time = now;
    return true;
  }
  void SetSynthMasterVolume(float volume) override { synth_volume = volume; }
  void SetSynthMusicLevel(float level) override { synth_level = level; }
  void SetSynthSpeed(float speed) override { synth_speed = speed; }
  void SetModuleVolume(float volume) override { module_volume = volume; }
  void StopAudio() override {
    ++stops;
    playing = false;
  }
  bool RestartAudio() override {
    ++restarts;
    playing = false;
    if (!start_ok) return false;
    PlayFrom(0.0f);
    if (std::fabs(*bar_offset) > 0.001f && SeekSource(PendingStartBar(*bar_offset, bpm))) *bar_offset = 0.0f;
    return true;
  }
  void ClearFramebuffers() override { ++clears; }
};

class DirectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseBuiltInSequence("test", timeline);
    config.sections = timeline.sections;
    config.cues = timeline.cues;
    config.loop_bars = timeline.loop_bars;
    config.has_platform = true;
    show.bar_offset = &bar_offset;
  }

  Director director() { return Director{state, config, show, bar_offset, audio_enabled}; }

  // One frame of the loop: the clock moves, then the finale logic runs.
  void Frame(double seconds) {
    show.now += seconds;
    show.frames += 1;
    director().UpdateFinale();
  }

  SequenceTimeline timeline;
  DirectorState state;
  DirectorConfig config;
  FakeShow show;
  float bar_offset = 0.0f;
  bool audio_enabled = true;
};

}  // namespace

TEST_F(DirectorTest, WithoutMusicTheClockStandsAtThePendingBar) {
  show.now = 5.0;
  Frame(30.0);
  EXPECT_EQ(director().ClockBar(), 0.0f);
  const MusicViz mv = director().BuildMusicViz();
  EXPECT_FALSE(mv.active);
  EXPECT_EQ(director().ActiveScene(mv), 1);  // the first section's scene
  // A seek while stopped only moves the pending bar (and clears the picture).
  EXPECT_TRUE(director().SeekMusic(50.0f));
  EXPECT_EQ(bar_offset, 50.0f);
  EXPECT_EQ(show.clears, 1);
  Frame(10.0);
  EXPECT_EQ(director().ClockBar(), 50.0f);
  EXPECT_EQ(director().ActiveScene(director().BuildMusicViz()), 3);
}

TEST_F(DirectorTest, ClockFollowsThePlayingSourcePlusTheOffset) {
  show.PlayFrom(10.0f);
  bar_offset = 2.0f;
  EXPECT_FLOAT_EQ(director().ClockBar(), 12.0f);
  Frame(240.0 / 140.0);  // one bar
  EXPECT_NEAR(director().ClockBar(), 13.0f, 1e-4f);
  show.play_from_bar = std::nanf("");
  EXPECT_FLOAT_EQ(director().ClockBar(), 2.0f);  // a non-finite position counts as 0
}

TEST_F(DirectorTest, RightArrowAtBar121EndsTheShowAtFinaleEnd) {
  show.PlayFrom(121.0f);
  state.in_finale = true;  // the finale clock started at 116
  state.finale_start_bar = 121.0f;
  state.finale_start_time = show.now;
  EXPECT_TRUE(director().SeekMusic(director().SeekableBar() + 4.0f));
  EXPECT_FLOAT_EQ(state.finale_start_bar, 123.35f);  // 125 clamped to FinaleEnd at 140 BPM
  EXPECT_TRUE(state.in_finale);
  EXPECT_FALSE(state.finished);
  EXPECT_EQ(bar_offset, 0.0f);

  Frame(0.0);
  EXPECT_TRUE(state.finished);
  EXPECT_FALSE(show.playing);
  EXPECT_GE(show.stops, 1);
  EXPECT_EQ(bar_offset, 0.0f);
  // Finished: nothing moves any more until a restart.
  const int clears = show.clears;
  Frame(5.0);
  EXPECT_EQ(show.clears, clears);

  // Any key: the music starts again from bar 0 and the first section.
  director().RestartShow();
  EXPECT_FALSE(state.finished);
  EXPECT_FALSE(state.in_finale);
  EXPECT_TRUE(show.playing);
  EXPECT_EQ(show.restarts, 1);
  EXPECT_FLOAT_EQ(show.synth_level, 1.0f);
  EXPECT_FLOAT_EQ(show.synth_speed, 1.0f);
  EXPECT_FLOAT_EQ(director().ClockBar(), 0.0f);
  EXPECT_EQ(director().ActiveScene(director().BuildMusicViz()), 1);
}

TEST_F(DirectorTest, SilentShowSeekingPastTheEndFinishesToo) {
  audio_enabled = false;
  bar_offset = 121.0f;
  EXPECT_TRUE(director().SeekMusic(director().SeekableBar() + 4.0f));
  EXPECT_FLOAT_EQ(bar_offset, 123.35f);
  Frame(0.0);
  EXPECT_TRUE(state.finished);
  EXPECT_EQ(bar_offset, 0.0f);
  director().RestartShow();
  EXPECT_EQ(show.restarts, 0);  // no music wanted: nothing to start
  EXPECT_FALSE(state.finished);
}

TEST_F(DirectorTest, FinaleRunsOnTheWallClockWithATapeStop) {
  show.PlayFrom(115.0f);
  Frame(0.0);
  EXPECT_FALSE(state.in_finale);
  // Long before the duck the synthesiser gets the configured volume, full level and speed.
  EXPECT_FLOAT_EQ(show.synth_volume, 1.0f);
  EXPECT_FLOAT_EQ(show.synth_level, 1.0f);
  EXPECT_FLOAT_EQ(show.synth_speed, 1.0f);

  const double spb = 240.0 / 140.0;
  Frame(spb * 1.05);  // crosses bar 116
  ASSERT_TRUE(state.in_finale);
  EXPECT_NEAR(state.finale_start_bar, 116.05f, 1e-3f);
  const double start = state.finale_start_time;
  EXPECT_EQ(start, show.now);

  // The synthesiser loops bars 100-116 now; the clock no longer reads the music.
  show.PlayFrom(100.0f);
  Frame(6.0 - 0.05 * spb);  // 6 s after bar 116: halfway down the duck
  EXPECT_NEAR(director().ClockBar(), 116.0f + 6.0f * 140.0f / 240.0f, 1e-3f);
  EXPECT_NEAR(show.synth_level, 0.5f, 1e-3f);
  EXPECT_NEAR(show.synth_speed, 1.0f - 0.94f * 0.5f, 1e-3f);
  EXPECT_FALSE(state.finished);

  Frame(6.5);  // 12.5 s
  EXPECT_FALSE(state.finished);
  EXPECT_FLOAT_EQ(show.synth_level, 0.0f);
  EXPECT_NEAR(show.synth_speed, 0.06f, 1e-6f);
  Frame(0.11);  // past 12.6 s: the end
  EXPECT_TRUE(state.finished);
  EXPECT_FALSE(show.playing);
}

TEST_F(DirectorTest, ModulePlayerFadesWithDuckAndBlack) {
  config.audio_source = 0;
  config.audio_gain = 0.8f;
  show.PlayFrom(60.0f);
  Frame(0.0);
  EXPECT_FLOAT_EQ(show.module_volume, 0.8f);
  EXPECT_EQ(show.synth_level, -1.0f);  // the synthesiser is left alone
  // In the finale at 6 s: duck 0.5, no black yet.
  state.in_finale = true;
  state.finale_start_bar = 116.0f;
  state.finale_start_time = show.now;
  Frame(6.0);
  EXPECT_NEAR(show.module_volume, 0.4f, 1e-3f);
  // A seek back below 116 restores the configured volume at once.
  director().SeekMusic(20.0f);
  EXPECT_FLOAT_EQ(show.module_volume, 0.8f);
  EXPECT_FALSE(state.in_finale);
}

TEST_F(DirectorTest, SeekingIntoTheFinaleStartsItsClockAtTheTarget) {
  show.PlayFrom(40.0f);
  EXPECT_TRUE(director().SeekMusic(118.0f));
  EXPECT_TRUE(state.in_finale);
  EXPECT_FLOAT_EQ(state.finale_start_bar, 118.0f);
  Frame(240.0 / 140.0);
  EXPECT_NEAR(director().ClockBar(), 119.0f, 1e-4f);
  // Seeking back below 116 leaves the finale.
  EXPECT_TRUE(director().SeekMusic(100.0f));
  EXPECT_FALSE(state.in_finale);
  EXPECT_FLOAT_EQ(director().ClockBar(), 100.0f);
}

TEST_F(DirectorTest, FailedSeekKeepsTheOffsetAndThePicture) {
  show.PlayFrom(40.0f);
  bar_offset = 0.5f;
  show.seek_ok = false;
  EXPECT_FALSE(director().SeekMusic(60.0f));
  EXPECT_EQ(bar_offset, 0.5f);
  EXPECT_EQ(show.clears, 0);
}

TEST_F(DirectorTest, SectionStepsThroughTheSourceWithWraps) {
  show.PlayFrom(50.0f);
  EXPECT_TRUE(director().StepSection(+1));
  EXPECT_FLOAT_EQ(director().ClockBar(), 64.0f);
  EXPECT_TRUE(director().StepSection(+1));  // 64 itself is within the margin: on to 80
  EXPECT_FLOAT_EQ(director().ClockBar(), 80.0f);
  EXPECT_TRUE(director().StepSection(-1));
  EXPECT_FLOAT_EQ(director().ClockBar(), 64.0f);
  director().SeekMusic(0.0f);
  EXPECT_TRUE(director().StepSection(-1));  // before the first start: the last section
  EXPECT_FLOAT_EQ(director().ClockBar(), 112.0f);
  EXPECT_TRUE(director().StepSection(+1));  // past the last start: the first section
  EXPECT_FLOAT_EQ(director().ClockBar(), 0.0f);
}

TEST_F(DirectorTest, FreezeHoldsEverythingAndResumesWhereItStopped) {
  show.PlayFrom(50.0f);
  show.levels.kick = 0.75f;
  show.frames = 321;
  const double frozen_at = director().FrameTime(show.now);
  const MusicViz live = director().BuildMusicViz();

  director().SetFrozen(true);
  EXPECT_TRUE(state.frozen);
  EXPECT_FALSE(show.playing);  // the music stops
  EXPECT_EQ(state.frozen_frame_count, 321u);
  EXPECT_FLOAT_EQ(state.frozen_snapshot.kick, 0.75f);
  director().SetFrozen(true);  // no change
  EXPECT_EQ(show.stops, 1);

  // Ten seconds later nothing has moved.
  show.levels.kick = 0.1f;
  Frame(10.0);
  EXPECT_FLOAT_EQ(director().ClockBar(), 50.0f);
  EXPECT_DOUBLE_EQ(director().FrameTime(show.now), frozen_at);
  const MusicViz held = director().BuildMusicViz();
  EXPECT_FLOAT_EQ(held.bar, live.bar);
  EXPECT_FLOAT_EQ(held.kick, 0.75f);

  // Unfreeze: the music restarts at bar 50 and the frame time carries on from where it stopped.
  director().SetFrozen(false);
  EXPECT_FALSE(state.frozen);
  EXPECT_TRUE(show.playing);
  EXPECT_TRUE(audio_enabled);
  EXPECT_EQ(bar_offset, 0.0f);
  EXPECT_FLOAT_EQ(director().ClockBar(), 50.0f);
  EXPECT_NEAR(director().FrameTime(show.now), frozen_at, 1e-9);
  Frame(1.5);
  EXPECT_NEAR(director().FrameTime(show.now), frozen_at + 1.5, 1e-9);
  EXPECT_NEAR(director().ClockBar(), 50.0f + 1.5f * 140.0f / 240.0f, 1e-4f);
}

TEST_F(DirectorTest, FreezeWithoutMusicKeepsThePendingBarAndTheFrameTime) {
  audio_enabled = false;
  bar_offset = 30.0f;
  state.time_offset = 2.0;
  const double frozen_at = director().FrameTime(show.now);
  EXPECT_NEAR(frozen_at, 30.0 * 240.0 / 140.0 + 100.0 + 2.0, 1e-6);
  director().SetFrozen(true);
  Frame(10.0);
  director().SetFrozen(false);
  EXPECT_EQ(show.restarts, 0);
  EXPECT_FALSE(audio_enabled);
  EXPECT_FLOAT_EQ(bar_offset, 30.0f);
  EXPECT_NEAR(director().FrameTime(show.now), frozen_at, 1e-6);
}

TEST_F(DirectorTest, FailedRestartAfterFreezeSwitchesAudioOff) {
  show.PlayFrom(50.0f);
  director().SetFrozen(true);
  show.start_ok = false;
  director().SetFrozen(false);
  EXPECT_FALSE(audio_enabled);
  EXPECT_FLOAT_EQ(director().ClockBar(), 50.0f);  // held at the pending bar
}

TEST_F(DirectorTest, MusicToggle) {
  director().ToggleMusic();
  EXPECT_TRUE(show.playing);
  EXPECT_TRUE(audio_enabled);
  // Muting 7 bars in holds the clock there rather than at bar 0 ...
  show.now += 7.0 * 240.0 / 140.0;
  director().ToggleMusic();
  EXPECT_FALSE(show.playing);
  EXPECT_FALSE(audio_enabled);
  EXPECT_FLOAT_EQ(director().ClockBar(), 7.0f);
  // ... and the music comes back from there.
  director().ToggleMusic();
  EXPECT_TRUE(show.playing);
  EXPECT_FLOAT_EQ(director().ClockBar(), 7.0f);
  EXPECT_EQ(bar_offset, 0.0f);
  director().ToggleMusic();
  show.start_ok = false;
  director().ToggleMusic();
  EXPECT_FALSE(audio_enabled);
}

TEST_F(DirectorTest, BenchRunsUseNoWallClock) {
  config.bench = true;
  bar_offset = 117.0f;
  director().SeekMusic(118.0f);
  EXPECT_EQ(state.finale_start_time, 0.0);
  Frame(100.0);
  EXPECT_FLOAT_EQ(director().ClockBar(), 118.0f);  // only the pending bar counts
  EXPECT_FALSE(state.finished);
}
