#include "audio/arrangement.h"

#include <algorithm>
#include <cmath>

namespace {

float Clamp01(float x) { return std::min(std::max(x, 0.0f), 1.0f); }

float Smooth(float t) { return t * t * (3.0f - 2.0f * t); }

// 0 before bar a, 1 after bar a + n, linear in between.
float Ramp(float g, float a, float n) { return Clamp01((g - a) / n); }

int ClampIndex(int index, std::size_t count) {
  if (count == 0) return 0;
  return std::min(std::max(index, 0), static_cast<int>(count) - 1);
}

}  // namespace

ArrangementState EvaluateArrangement(const SynthTrack& track, double x) {
  ArrangementState a;

  // Position within the loop. A non-finite position (never produced by a running clock) plays
  // bar 0 rather than feeding NaN into the integer bar counters.
  const double loop = track.loop_bars >= 1.0f ? static_cast<double>(track.loop_bars) : 1.0;
  double wrapped = std::isfinite(x) ? std::fmod(x, loop) : 0.0;
  if (!(wrapped >= 0.0)) wrapped += loop;
  float g = static_cast<float>(wrapped);
  // A position a hair below the loop end can round up to it in single precision: that is bar 0.
  if (!(g < static_cast<float>(loop))) g = 0.0f;
  a.bar = g;
  const float floor_g = std::floor(g);
  a.bar_phase = g - floor_g;
  // An infinite loop length keeps any finite bar; the counters saturate instead of overflowing.
  a.bar_index = floor_g < 1.0e9f ? static_cast<int>(floor_g) : 1000000000;
  a.bar_in_8 = a.bar_index & 7;
  a.bar_in_16 = a.bar_index & 15;

  // Ramp terms: the shape of the piece over 128 bars.
  const float s = std::sin(0.19634955f * g);  // one cycle per 32 bars
  const float in = Smooth(Ramp(g, 0.0f, 5.0f));
  const float rp = Smooth(Ramp(g, 1.0f, 4.0f));
  const float rl = Smooth(Ramp(g, 4.0f, 8.0f));
  const float cl = Smooth(Ramp(g, 12.0f, 8.0f));
  const float ht = Smooth(Ramp(g, 24.0f, 8.0f));
  const float brk = Smooth(Ramp(g, 40.0f, 4.0f)) * (1.0f - Smooth(Ramp(g, 48.0f, 4.0f)));
  const float mid = Smooth(Ramp(g, 48.0f, 4.0f)) * (1.0f - Smooth(Ramp(g, 64.0f, 4.0f)));
  const float rd = Smooth(Ramp(g, 56.0f, 8.0f));
  const float drop = Smooth(Ramp(g, 64.0f, 8.0f));
  const float peak = Smooth(Ramp(g, 96.0f, 4.0f)) * (1.0f - Smooth(Ramp(g, 112.0f, 4.0f)));
  const float fin = Smooth(Ramp(g, 112.0f, 8.0f));
  const float b1 = (1.0f - Smooth(Ramp(g, 48.0f, 2.0f))) * Smooth(Ramp(g, 36.0f, 8.0f));
  const float b2 = (1.0f - Smooth(Ramp(g, 80.0f, 2.0f))) * Smooth(Ramp(g, 72.0f, 6.0f));
  const float b3 = (1.0f - Smooth(Ramp(g, 112.0f, 2.0f))) * Smooth(Ramp(g, 104.0f, 7.0f));

  // Levels.
  a.kick = 0.9f + 0.1f * in;
  a.perc = (0.156f + 0.004f * s + (0.6825f + 0.0175f * s) * rp) * (1.0f - 0.22f * brk) *
           (1.0f - 0.28f * peak + 0.08f * fin);
  a.bass = (0.78f + 0.22f * in) * (1.0f - 0.12f * peak + 0.1f * fin);
  a.lead = (0.08f + 0.44f * rl - brk * (0.0304f + 0.1672f * rl)) *
           (1.0f + 0.18f * drop - 0.1f * mid - 0.1f * peak + 0.28f * fin);
  a.pad = (1.0f + 0.2f * peak + 0.16f * fin + 0.12f * drop) * (0.51f + 0.05f * s);
  a.echo = 0.2f + 0.1f * rl + 0.1f * peak + 0.06f * fin;
  a.clap = (0.07f + 0.03f * mid + 0.035f * fin + 0.04f * drop) * cl *
           (1.0f - 0.55f * brk - 0.18f * peak);
  a.hat = (0.05f * mid + 0.05f * ht + 0.05f * fin + 0.06f * peak + 0.04f * drop) *
          (1.0f - 0.6f * brk);
  a.ride = (0.035f * drop + 0.035f * rd + 0.055f * fin) * (1.0f - 0.5f * brk);
  const float octave_lift = (g >= 80.0f && g < 96.0f) ? 0.3f : (g >= 112.0f ? 0.28f : 0.0f);
  a.lead_octave = 0.54f * fin + 0.22f * peak + 0.24f * mid + 0.58f * drop + octave_lift;
  a.build = 0.28f * std::max(b1, std::max(b2, b3));
  a.bass_cutoff = 0.55f + 0.1f * s + 0.08f * drop + 0.08f * fin + 0.06f * peak + 0.1f * mid;
  a.lead_cutoff = 0.57f + 0.09f * s + 0.12f * fin + 0.12f * a.lead_octave + 0.14f * drop;
  a.pad_cutoff = 0.32f + 0.06f * s + 0.1f * fin + 0.12f * peak + 0.12f * drop;
  a.mix = 0.94f + 0.05f * drop + 0.08f * fin + 0.04f * peak;

  // Fills at the end of each 8- and 16-bar phrase.
  const float p = a.bar_phase;
  const float f16 = a.bar_in_16 == 15 ? Smooth(Clamp01((p - 0.62f) * 2.7777777f)) : 0.0f;
  const float f8 = a.bar_in_8 == 7 ? Smooth(Clamp01((p - 0.7f) * 3.571428f)) : 0.0f;
  a.fill16 = 0.55f * f16;
  a.fill = std::max(0.24f * f8, 0.36f * f16);

  // Impacts on the section starts; full strength at the drop and the finale.
  switch (a.bar_index) {
    case 64:
    case 112:
      a.impact = std::exp(-6.2f * p);
      break;
    case 16:
    case 32:
    case 48:
    case 80:
    case 96:
      a.impact = std::exp(-6.2f * p) * 0.68f;
      break;
    default:
      a.impact = 0.0f;
  }

  // Patterns in force: the last matching section wins; bars in a gap play the first of each.
  int bass = 0;
  int lead = 0;
  int chord = 0;
  // Sections are sorted by start, so the scan can stop at the first one that starts later.
  for (const SynthSection& section : track.sections) {
    if (section.start > g) break;
    if (g < section.end) {
      bass = section.bass;
      lead = section.lead;
      chord = section.chord;
    }
  }
  a.bass_pattern = ClampIndex(bass, track.bass_patterns.size());
  a.lead_pattern = ClampIndex(lead, track.lead_patterns.size());
  a.chord_set = ClampIndex(chord, track.chord_sets.size());
  return a;
}
