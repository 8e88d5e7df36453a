// The synthesiser's control surface: clamps, loop region, seeking, position, snapshot, statuses.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "synth_test_util.h"

using namespace synth_test;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

struct ClampCase {
  const char* control;
  float input;
  float expected;
};

}  // namespace

TEST(SynthControls, ClampEveryControlToItsRange) {
  const ClampCase cases[] = {
      {"tempo", 50.0f, 80.0f},        {"tempo", 200.0f, 180.0f},     {"tempo", 123.5f, 123.5f},
      {"tempo", kNaN, 123.5f},  // NaN keeps the previous tempo
      {"tempo", kInf, 180.0f},
      {"volume", -1.0f, 0.0f},        {"volume", 2.0f, 1.0f},        {"volume", 0.3f, 0.3f},
      {"volume", kNaN, 0.0f},         {"music", -0.5f, 0.0f},        {"music", 7.0f, 1.0f},
      {"music", kNaN, 0.0f},          {"speed", 0.5f, 0.5f},         {"speed", 2.0f, 1.25f},
      {"speed", 0.02f, 0.02f},        {"speed", 0.0201f, 0.0201f},   {"speed", -3.0f, 0.02f},
      {"speed", kNaN, 0.02f},         {"speed", kInf, 1.25f},
  };
  RuntimeSynth synth;
  EXPECT_EQ(synth.GetTempo(), 140.0f);
  EXPECT_EQ(synth.GetMasterVolume(), 0.55f);
  for (const ClampCase& c : cases) {
    SCOPED_TRACE(std::string(c.control) + " " + std::to_string(c.input));
    const std::string control = c.control;
    if (control == "tempo") {
      synth.SetTempo(c.input);
      EXPECT_EQ(synth.GetTempo(), c.expected);
    } else if (control == "volume") {
      synth.SetMasterVolume(c.input);
      EXPECT_EQ(synth.GetMasterVolume(), c.expected);
    } else if (control == "music") {
      synth.SetMusicLevel(c.input);
      EXPECT_EQ(synth.GetMusicLevel(), c.expected);
    } else {
      synth.SetSpeed(c.input);
      EXPECT_EQ(synth.GetSpeed(), c.expected);
    }
  }
}

TEST(SynthControls, LoopRegionIsKeptOnlyWhenStartLiesBeforeEnd) {
  struct Case {
    float start, end, expected_start, expected_end;
  };
  const Case cases[] = {
      {100.0f, 116.0f, 100.0f, 116.0f}, {0.0f, 0.5f, 0.0f, 0.5f},   {5.0f, 5.0f, -1.0f, -1.0f},
      {8.0f, 4.0f, -1.0f, -1.0f},       {-1.0f, 4.0f, -1.0f, -1.0f}, {kNaN, 4.0f, -1.0f, -1.0f},
      {4.0f, kNaN, -1.0f, -1.0f},
  };
  RuntimeSynth synth;
  for (const Case& c : cases) {
    synth.SetLoopRegion(100.0f, 116.0f);
    synth.SetLoopRegion(c.start, c.end);
    EXPECT_EQ(synth.GetLoopStart(), c.expected_start) << c.start << " " << c.end;
    EXPECT_EQ(synth.GetLoopEnd(), c.expected_end) << c.start << " " << c.end;
  }
}

TEST(SynthControls, SeekSetsThePositionInBarsAtTheCurrentTempo) {
  TestSynth t(MakeTrack(8, {kHighBass}));
  RuntimeSynth& synth = t.Prepare();
  struct Case {
    float tempo, bar, expected_bars;
  };
  const Case cases[] = {{140.0f, 12.5f, 12.5f}, {90.0f, 3.0f, 3.0f}, {140.0f, -5.0f, 0.0f},
                        {140.0f, kNaN, 0.0f},  {140.0f, kInf, 0.0f},
                        {300.0f, 10.0f, 10.0f}};  // 300 bpm is held at 180 for seek and position
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bar);
    synth.SetTempo(c.tempo);
    EXPECT_TRUE(synth.SeekToBar(c.bar));
    const MusicPosition position = synth.GetPosition();
    EXPECT_NEAR(position.bars, c.expected_bars, 1e-4f);
    EXPECT_NEAR(position.beats, 4.0f * c.expected_bars, 4e-4f);
    EXPECT_NEAR(position.seconds, c.expected_bars * 240.0 / synth.GetTempo(), 1e-4);
    EXPECT_EQ(position.bpm, synth.GetTempo());
    EXPECT_EQ(position.level, 0.0f);
    EXPECT_EQ(synth.GetSampleCounter(), 0u);
  }
  // Bars are not wrapped by the track's 8-bar loop.
  synth.SetTempo(140.0f);
  synth.SeekToBar(20.0f);
  EXPECT_NEAR(synth.GetPosition().bars, 20.0f, 1e-4f);

  // Time runs at the speed: the floor speed advances 0.02 frames per frame.
  synth.SetSpeed(0.0f);
  const double seconds = synth.GetPosition().seconds;
  Render(synth, 48000);
  EXPECT_NEAR(synth.GetPosition().seconds - seconds, 0.02, 1e-9);
  EXPECT_EQ(synth.GetSampleCounter(), 48000u);
}

TEST(SynthControls, SnapshotDescribesTheSectionInForce) {
  // Sections [0, 64) -> (1, 2, 0) and [32, 128) -> (2, 0, 1): from bar 32 the later one wins.
  std::string text = "title = SNAP\nmodule_type = Snapshot synth\nloop_bars = 128\n";
  for (int p = 0; p < 3; ++p) {
    std::string steps;
    for (int s = 0; s < 16; ++s) steps += std::to_string(p * 100 + s) + " ";
    text += "bass_pattern = " + steps + "\nlead_pattern = " + steps + "\n";
  }
  text += "chord_set = 0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\n";
  text += "chord_set = 20 21 22 23 24 25 26 27 28 29 30 31 32 33 34 35\n";
  text += "section = 0 64 1 2 0\nsection = 32 128 bass=2 lead=0 chord=1\n";
  TestSynth t(text);
  RuntimeSynth& synth = t.Prepare();
  ASSERT_TRUE(synth.GetTrack().loaded) << synth.GetTrackStatus();

  synth.SeekToBar(50.3f);
  TrackerSnapshot snap = synth.GetVizSnapshot();
  EXPECT_EQ(snap.source, 0);
  EXPECT_EQ(snap.title, "SNAP");
  EXPECT_EQ(snap.type, "Snapshot synth");
  EXPECT_NEAR(snap.position, 50.3f, 1e-4f);
  EXPECT_NEAR(snap.beats, 201.2f, 1e-3f);
  EXPECT_EQ(snap.bpm, 140.0f);
  EXPECT_NEAR(snap.step_phase, 0.8f, 1e-3f);  // 50.3 bars = 804.8 sixteenths
  EXPECT_EQ(snap.bar_index, 50);
  EXPECT_EQ(snap.order, 50);
  EXPECT_EQ(snap.bar_in_8, 2);
  EXPECT_EQ(snap.beat, 1);
  EXPECT_EQ(snap.step, 4);
  EXPECT_EQ(snap.bass_pattern, 2);
  EXPECT_EQ(snap.pattern, 2);
  EXPECT_EQ(snap.lead_pattern, 0);
  EXPECT_EQ(snap.chord_set, 1);
  EXPECT_EQ(snap.bass_steps[0], 200);
  EXPECT_EQ(snap.bass_steps[15], 215);
  EXPECT_EQ(snap.lead_steps[3], 3);
  // Bar 50 is chord 25 & 3 = 1 of the set: notes 4 to 7.
  EXPECT_EQ(snap.chord, (std::array<std::int32_t, 4>{24, 25, 26, 27}));
  EXPECT_EQ(snap.length, 128);
  EXPECT_EQ(snap.rows, 16);
  EXPECT_EQ(snap.channels, 7);
  EXPECT_EQ(snap.speed, 6);
  EXPECT_EQ(snap.pattern_rows[10].row, -1);
  EXPECT_EQ(snap.channel_volume[0], 0.0f);
  // The levels are the arrangement's at that bar.
  // (The seek lands on a whole frame, a hair away from 50.3.)
  const double bars = 140.0 * synth.GetPosition().seconds / 60.0 / 4.0;
  const ArrangementState a = EvaluateArrangement(synth.GetTrack(), bars);
  EXPECT_EQ(snap.kick, a.kick);
  EXPECT_EQ(snap.lead, a.lead);
  EXPECT_EQ(snap.pad, a.pad);

  // Bar 20 is inside only the first section; bar 120 with the loop region plays bar 104.
  synth.SeekToBar(20.0f);
  snap = synth.GetVizSnapshot();
  EXPECT_EQ(snap.bass_pattern, 1);
  EXPECT_EQ(snap.lead_pattern, 2);
  EXPECT_EQ(snap.chord_set, 0);
  synth.SetLoopRegion(100.0f, 116.0f);
  synth.SeekToBar(120.0f);
  snap = synth.GetVizSnapshot();
  EXPECT_NEAR(snap.position, 104.0f, 1e-3f);
  EXPECT_NEAR(snap.beats, 416.0f, 1e-2f);
  EXPECT_EQ(snap.bar_index, 104);
  EXPECT_NEAR(synth.GetPosition().bars, 120.0f, 1e-3f);
}

TEST(SynthControls, StatusTextsOfTheLoads) {
  TestSynth t(MakeTrack(8, {kGroove}));
  RuntimeSynth& synth = t.Prepare();
  EXPECT_EQ(synth.GetStatus(), "Synth stopped");
  EXPECT_EQ(synth.GetTrackStatus(), "Loaded synth track " + t.TrackPath().string());
  EXPECT_EQ(synth.GetVoiceStatus(), "oracle voice 0/8 loaded");
  synth.Stop();
  EXPECT_EQ(synth.GetStatus(), "Synth stopped");

  // A missing file falls back to the built-in 96-bar track.
  synth.SetTrackPath((t.dir.path() / "missing.txt").string());
  EXPECT_EQ(synth.GetTrackStatus(), "No synth track file found; using fallback");
  EXPECT_FALSE(synth.GetTrack().loaded);
  EXPECT_EQ(synth.GetTrack().loop_bars, 96.0f);
}
