// What the synthesiser sounds like, checked on offline renders of small generated tracks.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "synth_test_util.h"

using namespace synth_test;

namespace {

bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

}  // namespace

TEST(SynthSound, SameInputRendersTheSameSamplesWhateverTheBlockSize) {
  TestSynth a(MakeTrack(8, {kGroove}));
  TestSynth b(MakeTrack(8, {kGroove}));
  RuntimeSynth& first = a.Prepare();
  RuntimeSynth& second = b.Prepare();
  const std::size_t frames = 2 * static_cast<std::size_t>(kFramesPerBar140);
  const std::vector<float> reference = Render(first, frames);
  EXPECT_TRUE(SameBits(reference, Render(second, frames, 37)));

  // Seeking resets every piece of sound state: after playing elsewhere, a seek to bar 4 sounds
  // exactly like a fresh seek to bar 4.
  first.SeekToBar(4.0f);
  const std::vector<float> after_playing = Render(first, frames / 2);
  TestSynth c(MakeTrack(8, {kGroove}));
  RuntimeSynth& fresh = c.Prepare();
  fresh.SeekToBar(4.0f);
  EXPECT_TRUE(SameBits(after_playing, Render(fresh, frames / 2, 4096)));

  // And the output is real sound, not silence: the check above cannot pass on zeros alone.
  EXPECT_GT(Rms(reference, 0, frames), 0.05);
}

TEST(SynthSound, KickEnergyArrivesOnTheBeats) {
  TestSynth t(MakeTrack(8, {kAllRests}));
  RuntimeSynth& synth = t.Prepare();
  const double frames_per_beat = kFramesPerBar140 / 4.0;
  const std::size_t frames = static_cast<std::size_t>(4 * kFramesPerBar140);
  const std::vector<float> out = Render(synth, frames);
  const std::size_t window = 2400;  // 50 ms
  for (int beat = 1; beat < 16; ++beat) {
    const auto onset = static_cast<std::size_t>(std::ceil(beat * frames_per_beat));
    const double after = Rms(out, onset, onset + window);
    const double before = Rms(out, onset - window, onset);
    SCOPED_TRACE(beat);
    EXPECT_GT(after, 4.0 * before);
  }
}

TEST(SynthSound, BassOfRestsIsSilent) {
  // The bass is the only voice near 554 Hz here (the pad holds G, the lead rests).
  const std::size_t frames = static_cast<std::size_t>(2 * kFramesPerBar140);
  auto render_bass = [frames](const char* pattern) {
    TestSynth t(MakeTrack(8, {pattern}));
    RuntimeSynth& synth = t.Prepare();
    synth.SeekToBar(2.0f);
    return Render(synth, frames);
  };
  const std::vector<float> notes = render_bass(kHighBass);
  const std::vector<float> rests = render_bass(kAllRests);
  const double with_notes = TonePower(notes, kHighBassHz);
  EXPECT_GT(with_notes, 1e-4);
  EXPECT_LT(TonePower(rests, kHighBassHz), 0.01 * with_notes);

  // Every step value of -90 or below is a rest; -89 is a (very low) note.
  EXPECT_TRUE(SameBits(rests, render_bass("-90 -5000 -99 . rest -2147483648 . . . . . . . . . .")));
  EXPECT_FALSE(SameBits(rests, render_bass("-89 -89 -89 -89 -89 -89 -89 -89 -89 -89 -89 -89 -89 -89 -89 -89")));
}

TEST(SynthSound, LoopRegionReplaysItsBarsWhilePositionKeepsCounting) {
  // The bass plays only in bars 100 to 116, so it can be heard whether bars after 116 are
  // replaced by bars 100 onward.
  const std::string track = MakeTrack(128, {kAllRests, kHighBass},
                                      {"0 100 0 0 0", "100 116 1 0 0", "116 128 0 0 0"});
  const std::size_t bar = static_cast<std::size_t>(kFramesPerBar140);
  auto render_from_115 = [&](bool loop) {
    TestSynth t(track);
    RuntimeSynth& synth = t.Prepare();
    if (loop) synth.SetLoopRegion(100.0f, 116.0f);
    synth.SeekToBar(115.0f);
    std::vector<float> out = Render(synth, 4 * bar);
    EXPECT_NEAR(synth.GetPosition().bars, 119.0f, 1e-3f);
    return std::vector<float>(out.begin() + 2 * bar, out.end());  // bars 116 to 119
  };
  const std::vector<float> looped = render_from_115(true);
  const std::vector<float> straight = render_from_115(false);
  const double replayed = TonePower(looped, kHighBassHz);
  EXPECT_GT(replayed, 1e-4);
  EXPECT_LT(TonePower(straight, kHighBassHz), 0.01 * replayed);

  // Beside the bass, the looped bars follow the loudness of bars 100 to 103 played directly
  // (the sound state differs, so compare 10 ms loudness envelopes, not samples).
  TestSynth t(track);
  RuntimeSynth& synth = t.Prepare();
  synth.SeekToBar(100.0f);
  const std::vector<float> direct = Render(synth, 3 * bar);
  const std::size_t window = 480;
  std::vector<double> a;
  std::vector<double> b;
  for (std::size_t w = 0; (w + 1) * window <= 3 * bar; ++w) {
    a.push_back(Rms(looped, w * window, (w + 1) * window));
    b.push_back(Rms(direct, w * window, (w + 1) * window));
  }
  double mean_a = 0.0;
  double mean_b = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    mean_a += a[i] / a.size();
    mean_b += b[i] / b.size();
  }
  double cov = 0.0;
  double var_a = 0.0;
  double var_b = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    cov += (a[i] - mean_a) * (b[i] - mean_b);
    var_a += (a[i] - mean_a) * (a[i] - mean_a);
    var_b += (b[i] - mean_b) * (b[i] - mean_b);
  }
  EXPECT_GT(cov / std::sqrt(var_a * var_b), 0.9);
  EXPECT_NEAR(mean_a, mean_b, 0.1 * mean_b);
}

TEST(SynthSound, HalfSpeedHalvesThePitchAndTheTempo) {
  const std::size_t frames = static_cast<std::size_t>(2 * kFramesPerBar140);
  auto render_at = [frames](float speed, float& bars_after) {
    TestSynth t(MakeTrack(8, {kHighBass}));
    RuntimeSynth& synth = t.Prepare();
    synth.SeekToBar(2.0f);
    synth.SetSpeed(speed);
    std::vector<float> out = Render(synth, frames);
    bars_after = synth.GetPosition().bars;
    return out;
  };
  float bars_full = 0.0f;
  float bars_half = 0.0f;
  const std::vector<float> full = render_at(1.0f, bars_full);
  const std::vector<float> half = render_at(0.5f, bars_half);
  EXPECT_NEAR(bars_full, 4.0f, 1e-3f);
  EXPECT_NEAR(bars_half, 3.0f, 1e-3f);
  // At full speed nothing sounds an octave below the bass; at half speed the bass moves there
  // (its saw still has a weaker second harmonic at the old pitch).
  EXPECT_GT(TonePower(full, kHighBassHz), 20.0 * TonePower(full, kHighBassHz / 2.0));
  EXPECT_GT(TonePower(half, kHighBassHz / 2.0), 2.0 * TonePower(half, kHighBassHz));
}

TEST(SynthSound, EachOracleLineStartsAtItsBar) {
  TestSynth t(MakeTrack(96, {kGroove}));
  // Every voice a tenth of a second of constant level, so its first frame is unmistakable.
  const std::vector<std::int16_t> burst(4800, 16384);
  for (const OracleVoiceCue& cue : kOracleVoiceCues) WriteMonoWav(t.VoicePath(cue.file), burst);
  RuntimeSynth& synth = t.Prepare();
  EXPECT_EQ(synth.GetVoiceStatus(), "oracle voice 8/8 loaded");
  synth.SetMusicLevel(0.0f);  // only the voices remain

  for (const OracleVoiceCue& cue : kOracleVoiceCues) {
    SCOPED_TRACE(cue.file);
    const float lead_in = 0.01f;  // bars
    synth.SeekToBar(cue.bar - lead_in);
    const std::vector<float> out = Render(synth, 2 * static_cast<std::size_t>(lead_in * kFramesPerBar140));
    std::size_t first = out.size();
    for (std::size_t i = 0; i < out.size() / 2; ++i) {
      if (out[2 * i] != 0.0f) {
        first = i;
        break;
      }
    }
    const double seek_frame = std::llrint((cue.bar - lead_in) * kFramesPerBar140);
    const double expected = std::ceil(cue.bar * kFramesPerBar140) - seek_frame;
    EXPECT_NEAR(static_cast<double>(first), expected, 2.0);
    ASSERT_LT(first, out.size() / 2);
    EXPECT_GT(out[2 * first], 0.2f);
    EXPECT_NEAR(out[2 * first + 1], SoftClip(0.96f * (out[2 * first] / (1.0f - out[2 * first]))), 1e-4f);
  }
}

TEST(SynthSound, AbsurdNotesStillRenderFiniteSound) {
  TestSynth t("loop_bars = 4\n"
              "bass_pattern = 2000000000 -89 2000000000 -89 2000000000 -89 2000000000 -89 "
              "2000000000 -89 2000000000 -89 2000000000 -89 2000000000 -89\n"
              "lead_pattern = 2147483647 2147483647 2147483647 2147483647 2147483647 2147483647 "
              "2147483647 2147483647 2147483647 2147483647 2147483647 2147483647 2147483647 "
              "2147483647 2147483647 2147483647\n"
              "chord_set = -2147483648 2147483647 0 0 -2147483648 2147483647 0 0 0 0 0 0 0 0 0 0\n");
  RuntimeSynth& synth = t.Prepare();
  ASSERT_TRUE(synth.GetTrack().loaded) << synth.GetTrackStatus();
  synth.SeekToBar(5.0f);  // inside the lead's entry, so every voice sounds
  const std::vector<float> out = Render(synth, static_cast<std::size_t>(kFramesPerBar140));
  for (float x : out) ASSERT_TRUE(std::isfinite(x) && std::fabs(x) < 1.0f);
}

TEST(SynthSound, LevelFollowsTheOutputAndAnEmptyBlockOnlyDecaysIt) {
  TestSynth t(MakeTrack(8, {kGroove}));
  RuntimeSynth& synth = t.Prepare();
  Render(synth, 48000);
  const MusicPosition before = synth.GetPosition();
  EXPECT_GT(before.level, 0.05f);
  EXPECT_LT(before.level, 1.0f);
  synth.RenderOffline(nullptr, 0);
  const MusicPosition after = synth.GetPosition();
  EXPECT_FLOAT_EQ(after.level, before.level * 0.82f);
  EXPECT_EQ(after.seconds, before.seconds);

  // Master volume 0 silences everything.
  synth.SetMasterVolume(0.0f);
  const std::vector<float> silent = Render(synth, 4800);
  for (float x : silent) ASSERT_EQ(x, 0.0f);
}
