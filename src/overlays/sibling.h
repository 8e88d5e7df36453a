#pragma once
// The sibling production "marlin": a storyboard of painted images drawn instead of the scenes, a
// line-drawn ("vector") greetings show in the overlay pass, and a half-resolution bloom at the end
// of its frame. The same code is in every build; the two compiled-in production constants decide
// whether any of it runs.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "render/framebuffer.h"
#include "render/math.h"
#include "timeline/music_viz.h"

class App;
class AssetStore;

// True when the production named by the two compiled-in constants is the sibling production: its
// name contains "marlin" or its default sequence is data/marlin/marlin_sequence.txt.
bool SiblingProductionActive(const char* production_name, const char* default_sequence_path);

// ---- Storyboard --------------------------------------------------------------------------------

inline constexpr const char* kStoryboardBackgroundFormat =
    "data/marlin/storyboard_frames/background/marlin_scene_%02d_background.png";
inline constexpr const char* kStoryboardForegroundFormat =
    "data/marlin/storyboard_frames/foreground_green/marlin_scene_%02d_foreground_green.png";

// A decoded picture as floats 0..1, four per pixel (R, G, B, A), rows top to bottom.
struct StoryboardImage {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<float> rgba;
  bool loaded = false;
};

// Background and green-screen foreground of scenes 1..8 (index scene - 1), loaded once.
struct Storyboard {
  std::array<StoryboardImage, 8> background;
  std::array<StoryboardImage, 8> foreground;
  bool loaded = false;  // the load has been tried; missing images stay empty
};

// Loads every image through the asset store (the foregrounds green-keyed), once; each image that
// cannot be loaded prints "MARLIN storyboard: PATH" on standard error and leaves its slot empty.
void LoadStoryboard(Storyboard& board, AssetStore& assets);

// The colour and opacity of one foreground pixel after green-screen keying: pixels whose green
// exceeds the larger of red and blue by a margin become transparent, with a soft edge, and the
// green spill of the pixels that stay is pulled down.
struct KeyedPixel {
  Vec3 colour;
  float alpha = 1;
};
KeyedPixel GreenKey(Vec3 colour);

// Draws an image scaled to cover the frame (cover) or to fit inside it, times zoom, centred and
// moved by (dx, dy) pixels, alpha-blended by its own alpha with its colour times brightness.
// An empty image draws nothing.
void DrawStoryboardImage(Framebuffer& fb, const StoryboardImage& image, bool cover, float zoom,
                         float brightness, float dx, float dy);

// The storyboard frame of `scene` (1..8) at frame time `time` and loop bar `loop_bar`: false,
// drawing nothing, when that scene's background is missing.
bool DrawStoryboardFrame(Framebuffer& fb, const Storyboard& board, int scene, float time, float loop_bar,
                         const MusicViz& mv);

// The frame loop's entry: false at once outside the sibling production; loads the images on first
// use and draws the storyboard of the active scene into app.frame when its background exists.
bool DrawStoryboardScene(App& app, float time, const MusicViz& mv);

// ---- Stroke font and vector text ---------------------------------------------------------------

// A glyph of the stroke font: line segments (x0, y0, x1, y1) in font units, y downward, the cap
// height 7 units, and the advance to the next glyph.
struct StrokeGlyph {
  const float* strokes = nullptr;
  int count = 0;
  float advance = 0;
};
// The glyph of a character, lower case folded to upper case; unknown characters get the space.
const StrokeGlyph& StrokeGlyphFor(char c);

// An anti-aliased line: every pixel of the segment's box widened by width + 2 is lit with a weight
// that falls off with its distance from the segment relative to width + 1. Nothing when intensity
// or width is not positive.
void DrawStroke(Framebuffer& fb, float x0, float y0, float x1, float y1, Vec3 colour, float intensity,
                float width);

// Width in pixels of a string: the advances times scale, plus scale * spacing between characters.
float StrokeTextWidth(const char* text, float scale, float spacing);

// A string of strokes with its top-left corner at (x, y), font units times scale. Only the first
// `reveal` share (0..1) of all its strokes is drawn, in order, so the text writes itself on. With
// glow > 0 two wider, dimmer passes (1.23 and 0.91 times the width) go under the core.
void DrawStrokeText(Framebuffer& fb, float x, float y, const char* text, Vec3 colour, float intensity,
                    float scale, float width, float spacing, float reveal, float glow);

// ---- Vector greetings and bloom ----------------------------------------------------------------

// The sibling's overlay for loop bar `loop_bar`: start fade, title cards with their rings and
// strokes, the greetings page.
void DrawVectorGreetings(Framebuffer& fb, float time, float loop_bar, const MusicViz& mv);
// The frame loop's entry: nothing outside the sibling production.
void DrawVectorGreetings(App& app, float time, const MusicViz& mv);

// Half-resolution bloom: the image reduced to ceil(w/2) x ceil(h/2), the light above `threshold`
// blurred there and added back with `strength`. Nothing when strength is not positive.
void Bloom(Framebuffer& fb, float threshold, float strength);

// The end of the sibling's frame (Bloom(frame, 0.38, 0.18)); nothing in other productions.
void FinishSiblingFrame(App& app);
