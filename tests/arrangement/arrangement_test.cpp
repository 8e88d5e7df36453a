// The fixed arrangement: wrapping of the position, the levels at the landmark bars of the piece
// (values derived by hand from the ramp terms), fills, impacts and the section lookup.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "audio/arrangement.h"

namespace {

SynthTrack TrackOfLength(float loop_bars) {
  SynthTrack track = MakeFallbackTrack();
  track.loop_bars = loop_bars;
  track.sections.clear();
  return track;
}

float SmoothStep(float t) { return t * t * (3.0f - 2.0f * t); }

TEST(Arrangement, PositionWrapsIntoTheLoop) {
  const SynthTrack t128 = TrackOfLength(128.0f);
  struct Case {
    double x;
    float loop;
    float bar;
    int bar_index;
  };
  const Case cases[] = {
      {130.0, 128.0f, 2.0f, 2},     {-3.0, 128.0f, 125.0f, 125}, {128.0, 128.0f, 0.0f, 0},
      {37.25, 128.0f, 37.25f, 37},  {5.75, 0.5f, 0.75f, 0},      {-0.25, 0.0f, 0.75f, 0},
      {100.5, 96.0f, 4.5f, 4},      {-96.0, 96.0f, 0.0f, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.x);
    const ArrangementState a = EvaluateArrangement(TrackOfLength(c.loop), c.x);
    EXPECT_FLOAT_EQ(a.bar, c.bar);
    EXPECT_EQ(a.bar_index, c.bar_index);
    EXPECT_FLOAT_EQ(a.bar_phase, c.bar - std::floor(c.bar));
  }
  const ArrangementState a = EvaluateArrangement(t128, 93.5);
  EXPECT_EQ(a.bar_in_8, 5);
  EXPECT_EQ(a.bar_in_16, 13);
}

TEST(Arrangement, BarStaysBelowTheLoopEndAndFinite) {
  // Just below the loop end rounds to 128 in single precision: that is bar 0 of the next pass.
  const SynthTrack track = TrackOfLength(128.0f);
  const double below_end[] = {128.0 - 1e-9, -1e-12};
  for (double x : below_end) {
    const ArrangementState a = EvaluateArrangement(track, x);
    EXPECT_GE(a.bar, 0.0f);
    EXPECT_LT(a.bar, 128.0f);
  }
  const ArrangementState nan = EvaluateArrangement(track, std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(nan.bar, 0.0f);
  EXPECT_EQ(nan.bar_index, 0);
}

TEST(Arrangement, LevelsAtTheLandmarksOfThePiece) {
  const SynthTrack track = TrackOfLength(128.0f);
  using F = float ArrangementState::*;
  struct Case {
    double bar;
    const char* what;
    F field;
    float expected;
  };
  const float s46 = std::sin(0.19634955f * 46.0f);
  const float s100 = std::sin(0.19634955f * 100.0f);
  const Case cases[] = {
      // Bar 0: the quiet start of the intro.
      {0.0, "kick", &ArrangementState::kick, 0.9f},
      {0.0, "bass", &ArrangementState::bass, 0.78f},
      {0.0, "perc", &ArrangementState::perc, 0.156f},
      {0.0, "lead", &ArrangementState::lead, 0.08f},
      {0.0, "pad", &ArrangementState::pad, 0.51f},
      {0.0, "echo", &ArrangementState::echo, 0.2f},
      {0.0, "clap", &ArrangementState::clap, 0.0f},
      {0.0, "hat", &ArrangementState::hat, 0.0f},
      {0.0, "ride", &ArrangementState::ride, 0.0f},
      {0.0, "build", &ArrangementState::build, 0.0f},
      {0.0, "fill", &ArrangementState::fill, 0.0f},
      {0.0, "impact", &ArrangementState::impact, 0.0f},
      {0.0, "mix", &ArrangementState::mix, 0.94f},
      {0.0, "lead_octave", &ArrangementState::lead_octave, 0.0f},
      // Bar 20: intro complete, clap fully in.
      {20.0, "kick", &ArrangementState::kick, 1.0f},
      {20.0, "clap", &ArrangementState::clap, 0.07f},
      {20.0, "lead", &ArrangementState::lead, 0.52f},
      // Bar 44: first build at its top.
      {44.0, "build", &ArrangementState::build, 0.28f},
      // Bar 46: deep in the breakdown, the lead thinned and the hat nearly gone.
      {46.0, "lead", &ArrangementState::lead, 0.3224f},
      {46.0, "hat", &ArrangementState::hat, 0.05f * 0.4f},
      {46.0, "clap", &ArrangementState::clap, 0.07f * 0.45f},
      {46.0, "perc", &ArrangementState::perc, (0.156f + 0.004f * s46 + 0.6825f + 0.0175f * s46) * 0.78f},
      // Bar 49: the build is cut half way.
      {49.0, "build", &ArrangementState::build, 0.14f},
      // Bar 88: second half with the octave layer lifted.
      {88.0, "lead_octave", &ArrangementState::lead_octave, 0.88f},
      {88.0, "mix", &ArrangementState::mix, 0.99f},
      {88.0, "ride", &ArrangementState::ride, 0.07f},
      // Bar 100: the peak.
      {100.0, "lead", &ArrangementState::lead, 0.52f * 1.08f},
      {100.0, "lead_octave", &ArrangementState::lead_octave, 0.8f},
      {100.0, "pad", &ArrangementState::pad, 1.32f * (0.51f + 0.05f * s100)},
      {100.0, "bass", &ArrangementState::bass, 0.88f},
      {100.0, "hat", &ArrangementState::hat, 0.15f},
      {100.0, "echo", &ArrangementState::echo, 0.4f},
      {100.0, "mix", &ArrangementState::mix, 1.03f},
      // Bar 120: the finale.
      {120.0, "lead_octave", &ArrangementState::lead_octave, 1.4f},
      {120.0, "lead", &ArrangementState::lead, 0.52f * 1.46f},
      {120.0, "bass", &ArrangementState::bass, 1.1f},
      {120.0, "mix", &ArrangementState::mix, 1.07f},
      {120.0, "build", &ArrangementState::build, 0.0f},
      // Impacts at bar starts.
      {64.0, "impact", &ArrangementState::impact, 1.0f},
      {112.0, "impact", &ArrangementState::impact, 1.0f},
      {32.0, "impact", &ArrangementState::impact, 0.68f},
      {16.5, "impact", &ArrangementState::impact, 0.68f * std::exp(-3.1f)},
      {40.0, "impact", &ArrangementState::impact, 0.0f},
      {65.0, "impact", &ArrangementState::impact, 0.0f},
      // Fills: the last 38 % of every sixteenth bar and the last 30 % of every eighth.
      {14.9, "fill", &ArrangementState::fill, 0.0f},
      {14.9, "fill16", &ArrangementState::fill16, 0.0f},
      {7.9, "fill16", &ArrangementState::fill16, 0.0f},
      {7.9, "fill", &ArrangementState::fill, 0.24f * SmoothStep(0.2f * 3.571428f)},
      {15.9, "fill16", &ArrangementState::fill16, 0.55f * SmoothStep(0.28f * 2.7777777f)},
      {15.9, "fill", &ArrangementState::fill, 0.36f * SmoothStep(0.28f * 2.7777777f)},
      {31.99, "fill16", &ArrangementState::fill16, 0.55f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "bar " << c.bar << " " << c.what);
    const ArrangementState a = EvaluateArrangement(track, c.bar);
    // Single-precision formulas against hand-derived sums: a few units in the last place.
    EXPECT_NEAR(a.*(c.field), c.expected, 2e-5f);
  }
}

TEST(Arrangement, LaterSectionWinsAndIndicesAreClamped) {
  SynthTrack track = TrackOfLength(128.0f);
  track.bass_patterns.resize(3);
  track.lead_patterns.resize(3);
  track.chord_sets.resize(2);
  track.sections = {{0.0f, 64.0f, 1, 2, 0}, {32.0f, 128.0f, 2, 0, 1}, {100.0f, 110.0f, 5, -4, 9}};
  struct Case {
    double bar;
    int bass, lead, chord;
  };
  const Case cases[] = {
      {10.0, 1, 2, 0},   // only the first
      {50.0, 2, 0, 1},   // both match: the later one in start order wins
      {64.0, 2, 0, 1},   // end is exclusive
      {105.0, 2, 0, 1},  // 5 clamps to 2, -4 to 0, 9 to 1
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bar);
    const ArrangementState a = EvaluateArrangement(track, c.bar);
    EXPECT_EQ(a.bass_pattern, c.bass);
    EXPECT_EQ(a.lead_pattern, c.lead);
    EXPECT_EQ(a.chord_set, c.chord);
  }

  // A gap plays the first of each; empty lists give index 0.
  track.sections = {{10.0f, 20.0f, 2, 2, 1}};
  const ArrangementState gap = EvaluateArrangement(track, 5.0);
  EXPECT_EQ(gap.bass_pattern, 0);
  EXPECT_EQ(gap.lead_pattern, 0);
  EXPECT_EQ(gap.chord_set, 0);
  track.bass_patterns.clear();
  EXPECT_EQ(EvaluateArrangement(track, 15.0).bass_pattern, 0);
}

}  // namespace
