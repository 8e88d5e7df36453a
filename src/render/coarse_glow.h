#pragma once
// Wide soft text dots drawn at a coarser resolution. A dot of radius r touches about 3r^2 pixels,
// and the title's zooming halos reach r = 60: nearly all of the overlay's cost. Their light
// changes little from one pixel to the next, so it is computed only at every second (fourth,
// eighth) pixel in each direction and spread back onto the image bilinearly: a quarter (a
// sixteenth, a sixty-fourth) of the work. For a dot of radius r and peak light P the spread
// light is within 3P/r^2 (15P/r^2, 63P/r^2) of the exact one, the bilinear error of the kernel's
// curvature; callers choose the dots where that is below what the picture shows.

#include <cstddef>
#include <vector>

#include "render/framebuffer.h"
#include "render/math.h"

// Samples of light at the image points (step*j, step*i); zero outside the box written since the
// glow was last added.
struct GlowGrid {
  int step = 0;
  std::size_t width = 0;   // samples per row
  std::size_t height = 0;  // rows
  std::vector<Vec3> samples;  // row-major, plus one spare sample for four-float loads
  int x_lo = 0;  // the box written (empty when lo > hi)
  int x_hi = -1;
  int y_lo = 0;
  int y_hi = -1;
};

// The grids' steps: every second, fourth and eighth pixel.
inline constexpr int kGlowLevels = 3;

// Keep one per image size and reuse it; it allocates only when the size changes.
struct CoarseGlow {
  std::size_t image_width = 0;
  std::size_t image_height = 0;
  // Level l samples every 2^(l + 1)th pixel; each level is spread onto the points of the next
  // finer one, and the finest onto the image.
  GlowGrid levels[kGlowLevels];
  std::vector<Vec3> spread;  // two rows spread to the finer width, plus spares
};

// Sizes the glow for a width x height image, all zero (nothing allocated when the size is the same).
void PrepareCoarseGlow(CoarseGlow& glow, std::size_t width, std::size_t height);
// DrawSplatText's dots (the same centres, jitter included) added into the grid of step 2, 4 or 8
// instead of the image. Any other step draws nothing.
void DrawSplatTextCoarse(CoarseGlow& glow, int step, float x, float y, const char* text, Vec3 colour,
                         float intensity, float dot_radius, float cell, float jitter, float phase);
// Adds the glow onto an image of its size, each pixel bilinearly from its four nearest samples,
// and leaves every sample zero. An image of another size gets nothing (the glow is still cleared).
void AddCoarseGlow(CoarseGlow& glow, Framebuffer& fb);
