#pragma once
// The oracle: at the eight spoken lines of the loop, a glowing wire-frame head in the upper right
// and, under it, the line's words one at a time, timed to the speech. The schedule is the one
// table the synthesiser's voices are triggered from (timeline/oracle_lines.h).

#include "overlays/title_overlay.h"
#include "render/framebuffer.h"
#include "timeline/music_viz.h"
#include "timeline/oracle_lines.h"

// The schedule at one bar: all zero and no text when no line is active.
struct OracleCue {
  const char* text = nullptr;  // the active line
  float text_level = 0;        // word display envelope
  float voice_level = 0;       // while the voice speaks (lights the head)
  float head_level = 0;        // envelope of the head
  float text_progress = 0;     // 0 at the start, 1 at the text's end
  float speech_progress = 0;   // 0 at the start, 1 at the speech's end
};

// `one_second` and `three_seconds` are those lengths in bars at the current tempo.
OracleCue EvaluateOracle(float loop_bar, float one_second, float three_seconds);

// The longest word shown; longer words are cut.
inline constexpr int kOracleWordMax = 23;

// The one word on screen and how it is drawn; strength 0 when nothing shows.
struct OracleWord {
  char text[kOracleWordMax + 1] = {};
  float strength = 0;  // N: the word's envelope times the line's and the subtitle strength
  float cell = 1.32f;  // O
  float x = 0;         // left edge of the word
  float y = 150;
  int box_x0 = 0, box_y0 = 146, box_x1 = 0, box_y1 = 164;  // clip box, 124 x 18 pixels
  float speech_progress = 0;
  float fraction = 0;  // f: how far through this word's share of the line
  float voice = 0;     // G: voice level times subtitle strength
};

// Picks the word of `text` for the cue's progress and lays it out centred under the head.
OracleWord LayoutOracleWord(const char* text, const OracleCue& cue, float strength, float glow, float width);

// Draws a laid-out word in pale cyan glow, clipped to its box; nothing when its strength is 0.
void DrawOracleWord(Framebuffer& fb, const OverlayStyle& style, const MusicViz& mv, const OracleWord& word);

// The head centred at (x, y); nothing when amount <= 0.
void DrawOracleHead(Framebuffer& fb, float x, float y, float flicker, const MusicViz& mv, float amount,
                    float glow, float voice, float radius_scale, float alpha_scale);

// The caller's side: head and word at the loop bar for subtitle strength `strength`; nothing
// while the greetings are (nearly) full.
void DrawOracleSubtitles(Framebuffer& fb, const OverlayStyle& style, const MusicViz& mv, float loop_bar,
                         float bpm, float strength, float greets);
