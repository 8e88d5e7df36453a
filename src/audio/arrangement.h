#pragma once
// The fixed arrangement of the runtime synthesiser: a pure function from a bar position to the
// levels and modulations of every voice (intro, breakdown, builds, drop, peak, finale, phrase
// fills and impacts) plus the patterns and chord set the track's sections put in force.

#include "audio/synth_track.h"

struct ArrangementState {
  float bar = 0.0f;        // bar position within the loop, 0 <= bar < loop_bars
  float bar_phase = 0.0f;  // fraction of the current bar
  float kick = 0.0f;
  float perc = 0.0f;  // eighth-note noise percussion
  float bass = 0.0f;
  float lead = 0.0f;
  float pad = 0.0f;
  float echo = 0.0f;  // echo send
  float clap = 0.0f;  // backbeat clap
  float hat = 0.0f;   // sixteenth-note noise hat
  float ride = 0.0f;  // offbeat open hat
  float fill16 = 0.0f;  // fill in the last bar of each 16
  float impact = 0.0f;  // hit at certain bar starts
  float lead_octave = 0.0f;
  float build = 0.0f;  // noise roll before drops
  float fill = 0.0f;   // fill at the end of each 8- and 16-bar phrase
  float bass_cutoff = 0.0f;
  float lead_cutoff = 0.0f;
  float pad_cutoff = 0.0f;
  float mix = 0.0f;  // overall gain
  int bar_index = 0;
  int bar_in_8 = 0;
  int bar_in_16 = 0;
  int bass_pattern = 0;  // index into track.bass_patterns in force at `bar`
  int lead_pattern = 0;  // index into track.lead_patterns
  int chord_set = 0;     // index into track.chord_sets
};

// Evaluates the arrangement at bar position x (may lie outside the loop; it is wrapped).
// The track's sections must be sorted by start, as validation leaves them.
// Allocates nothing: called once per output sample on the audio thread.
ArrangementState EvaluateArrangement(const SynthTrack& track, double x);
