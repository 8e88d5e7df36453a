#pragma once
// The show's own overlay, drawn over every scene once per frame: the fade-in from black at the
// start of the loop, the presenter line, the zooming title with its echoes, subtitle and orbiting
// ring, the oracle head and subtitles, and the greetings screen with its scrolling rows and the
// end flourish. Everything is additive splat text or dots; the cue levels of MusicViz decide what
// shows, and within a cue the title animations follow fixed bars of the loop.

#include <cstddef>

#include "render/framebuffer.h"
#include "render/math.h"
#include "render/coarse_glow.h"
#include "timeline/music_viz.h"

class App;

// Frame-wide values every overlay string and dot is drawn with.
struct OverlayStyle {
  float flicker = 0;       // phase stepping 18 times a second and every sixth of a bar
  float glow = 0;          // music glow, 0 to 1
  float radius_scale = 1;  // 1.24 over the canyon (scene 1), else 1
  float alpha_scale = 1;   // 2.35 over the canyon, else 1
  // Where the wide glow passes go at a coarser resolution (see kCoarseGlowError); null draws
  // every dot at full resolution. Whoever sets it adds the glow onto the image (AddCoarseGlow).
  CoarseGlow* wide_dots = nullptr;
};

// A glow pass goes into OverlayStyle::wide_dots, when there is one, on the coarsest grid (every
// eighth, fourth or second pixel) where the grid's error, at most (step/2)^2 * 4/r^2 of the peak
// light of one of its dots (intensity times the colour's largest channel), stays below this: 0.6
// of a level where the exposure curve is steepest. That takes the wide halos of the zooming title
// and leaves the tight, bright cores at full resolution.
inline constexpr float kCoarseGlowError = 0.002f;

// The style of one frame: glow from the finale cue and the music, flicker from the frame time and
// the loop bar, the larger and brighter dots over scene 1.
OverlayStyle MakeOverlayStyle(float time, float loop_bar, const MusicViz& mv);

// The zoom-in animation of a title string for a progress x (0 at its start, 1 when settled).
struct TitleCurve {
  float progress = 0;  // clamp01(x)
  float fade = 0;      // fast fade-in
  float scale = 1;     // 5.9 times too large at the start, settling at 1 with a small bump
  float echo = 0;      // strength of the expanding echo copies; 0 once settled
};
TitleCurve MakeTitleCurve(float x);

// One glowing string: a wide halo, a middle and a core pass of DrawSplatText at the same place.
// Nothing when amount <= 0.
void GlowText(Framebuffer& fb, const OverlayStyle& style, float x, float y, const char* text, Vec3 colour,
              float amount, float size, float cell, float jitter, float phase);

// GlowText restricted to the clip rectangle x0 <= px < x1, y0 <= py < y1.
void GlowTextClipped(Framebuffer& fb, const OverlayStyle& style, float x, float y, const char* text,
                     Vec3 colour, float amount, float size, float cell, float jitter, float phase, int x0,
                     int y0, int x1, int y1);

// Three expanding echoes of a string centred on the frame at y, driven by a title curve.
// Skipped when amount <= 0 or the curve's echo is spent.
void EchoText(Framebuffer& fb, const OverlayStyle& style, const char* text, float y, float cell, float size,
              Vec3 colour, float amount, const TitleCurve& curve, float jitter);

// Left edge of a string of `length` characters at `cell` centred on x = width / 2 (a glyph
// cell is 6 cells wide).
float CentredTextX(float width, std::size_t length, float cell);

// ---- Greetings ---------------------------------------------------------------------------------

inline constexpr int kGreetingCount = 11;
extern const char* const kGreetings[kGreetingCount];
// "SOFTWARE RENDERED": the entry the upper row starts on.
inline constexpr int kGreetingAlignEntry = 9;

// Where one scrolling row stands at greetings bar `gbar`.
struct GreetStrip {
  float length = 0;       // the whole list with an 82-pixel gap after each entry
  float align_entry = 0;  // start of "SOFTWARE RENDERED" within the strip
  float start = 0;        // x of the first copy's first entry
};
GreetStrip LayoutGreetStrip(float width, float cell, float speed, float offset, float gbar, bool align);

// One scrolling row of the greetings list at greetings bar `gbar`, faded by `greets`.
void GreetScroller(Framebuffer& fb, const OverlayStyle& style, float gbar, float greets, float y, float cell,
                   float size, float amount, float speed, float offset, bool align);

// ---- The whole overlay -------------------------------------------------------------------------

// What the overlay reads besides MusicViz: the director's clock and the music configuration.
struct TitleOverlayClock {
  float clock_bar = 0;    // the director's bar clock, not wrapped
  float bpm = 140;        // configured tempo
  float loop_bars = 128;  // sequence loop length
  bool playing = false;   // the selected music source plays
  float duck = 0;         // the finale's music duck, 0 before bar 116, 1 two seconds later
};

// Draws the overlay over the scene already in fb, for frame time `time` (seconds). mv.scene is
// the active scene.
// `wide_dots`, when given, takes the wide glow passes (prepared for fb's size; it is added onto fb
// before DrawTitleOverlay returns).
void DrawTitleOverlay(Framebuffer& fb, float time, const MusicViz& mv, const TitleOverlayClock& clock,
                      CoarseGlow* wide_dots = nullptr);

// True when the production named by the two compiled-in constants shows this overlay: its name
// contains "kestrel" or its default sequence is data/kestrel/kestrel_sequence.txt.
bool ProductionOverlaysActive(const char* production_name, const char* default_sequence_path);

// The frame loop's entry: draws into app.frame with the App's clock and configuration; returns at
// once in the sibling production.
void DrawTitleOverlay(App& app, float time, const MusicViz& mv);
