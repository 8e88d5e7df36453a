#pragma once

// The one record through which the music and the timeline reach the pictures. The App builds a
// fresh one every frame and hands it to the active scene and the overlays by const reference; a
// default record (all zero, inactive) draws every scene in its silent state.
// All levels lie in [0, 1]; 0 means silent or inactive.

#include <cstdint>

struct MusicViz {
  bool active = false;      // music plays, or the show was positioned away from bar 0
  float bar = 0.0f;         // timeline position in bars, wrapped into [0, loop length)
  float beat = 0.0f;        // beats played by the music source (4 per bar), not wrapped
  float step_phase = 0.0f;  // position inside the current sixteenth note, 0 to 1

  // Instrument levels of the playing arrangement.
  float kick = 0.0f;
  float perc = 0.0f;
  float bass = 0.0f;
  float lead = 0.0f;
  float pad = 0.0f;  // chords
  float clap = 0.0f;
  float hat = 0.0f;
  float ride = 0.0f;
  float impact = 0.0f;
  float build = 0.0f;   // riser amount
  float fill = 0.0f;    // drum fill amount
  float energy = 0.0f;  // weighted sum of the instrument levels

  // Levels of the named timeline cues.
  float cue_intro = 0.0f;
  float cue_title = 0.0f;
  float cue_beams = 0.0f;
  float cue_scan = 0.0f;
  float cue_nova = 0.0f;
  float cue_veil = 0.0f;
  float cue_reveal = 0.0f;
  float cue_greets = 0.0f;
  float cue_club = 0.0f;  // "club" combined with cue_reveal and cue_greets
  float cue_finale = 0.0f;

  float finale_flash = 0.0f;   // white flash of the finale; 0 outside its window
  float section_bar = 0.0f;    // bars since the start of the current scene's run of sections
  float section_time = 0.0f;   // section_bar in seconds, or the frame time with the director off
  std::int32_t scene = 0;      // the active scene, 1 to 8, once filled in
  std::int32_t bar_index = 0;  // bar rounded toward minus infinity
};
