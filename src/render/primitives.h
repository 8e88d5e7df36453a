#pragma once
// The drawing primitives everything on screen is made of: the soft additive disc (splat), lines
// of splats, the 5 x 7 bitmap font with its block, splat and glowing-label text drawers, and the
// 32-bit integer hash behind every stable pseudo-random choice. All of them only add light, hold
// no state, never allocate and never fail: non-finite or absurd positions, radii, colours or
// intensities draw nothing (or, for huge but finite sizes, are clipped to the image).

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "render/framebuffer.h"
#include "render/math.h"

// The 32-bit integer mix behind every stable pseudo-random choice (noise lattice, jitter,
// thinning). A float in [0, 1) is (Hash32(seed) & 0xFFFFFF) * 2^-24 (see HashUnit).
constexpr std::uint32_t Hash32(std::uint32_t h) {
  h ^= h >> 16;
  h *= 0x7FEB352Du;
  h ^= h >> 15;
  h *= 0x846CA68Bu;
  h ^= h >> 16;
  return h;
}

// The usual reduction of a hash to [0, 1): its low 24 bits scaled by 2^-24.
inline float HashUnit(std::uint32_t seed) {
  return static_cast<float>(Hash32(seed) & 0xFFFFFFu) * (1.0f / 16777216.0f);
}

// Adds one soft disc of light to the raw pixel storage of a framebuffer (so parallel tasks that
// work on `pixels` directly can draw). The centre of pixel (px, py) is (px + 0.5, py + 0.5); the
// weight is (1 - d2/R2)^2 with R2 = radius^2 + 0.0001, 1 at the centre and 0 at the rim. Draws
// nothing when radius <= 0 or intensity <= 0.
void Splat(Vec3* pixels, std::size_t width, std::size_t height, float x, float y, float radius,
           Vec3 colour, float intensity);

inline void Splat(Framebuffer& fb, float x, float y, float radius, Vec3 colour, float intensity) {
  Splat(fb.pixels.data(), fb.width, fb.height, x, y, radius, colour, intensity);
}

// A scratch image for very many splats (the arena's arcade ring): red, green and blue in planes
// of their own, each row followed by a margin, so the vector kernels add sixteen pixels of one
// colour with one plain load and store. Splats add into the planes from zero and the planes are
// then added onto the framebuffer in one pass: each pixel gets the same contributions, summed
// in another order, and each contribution is the splat's weight up to rounding (see
// `splat_kernel::Planes`). Keep one per scene and reuse it; it allocates only when the image
// size changes. Worth it only where `splat_kernel::SelectedPlanes()` has a vector version (the
// plain planar loop stands in elsewhere).
struct SplatPlanes {
  static constexpr std::size_t kMargin = 16;  // floats after each row's last pixel
  std::size_t width = 0;
  std::size_t height = 0;
  std::size_t stride = 0;  // floats per row: width + kMargin
  std::vector<float> red, green, blue;
  int rows_lo = 0;  // rows written since the planes were last added (empty when lo > hi)
  int rows_hi = -1;
};

// Sizes the planes for a width x height image, all zero. Planes of that size already are zero
// (AddSplatPlanes clears what it adds), so this allocates and clears only on a change of size.
void PrepareSplatPlanes(SplatPlanes& planes, std::size_t width, std::size_t height);
// The splat `Splat` would draw, added into the planes with the selected planar kernel: the same
// footprint and the same validity rules.
void SplatIntoPlanes(SplatPlanes& planes, float x, float y, float radius, Vec3 colour, float intensity);
// SplatIntoPlanes past its checks, for callers that have found the arguments valid and worked out
// the footprint as it does: columns col_lo ... col_hi and rows row_lo ... row_hi, inclusive, a
// non-empty range inside the planes, from floor(centre) -/+ ceil(radius).
void SplatIntoPlanesAt(SplatPlanes& planes, float x, float y, float radius, Vec3 colour, float intensity,
                       int col_lo, int col_hi, int row_lo, int row_hi);
// Adds the planes onto the pixels of an image of their size and leaves the planes zero.
void AddSplatPlanes(SplatPlanes& planes, Vec3* pixels);

// Where a scene's splats go: the pixels of an image, or, with `planes`, planes of the image's
// size that the scene adds onto it later in one pass (AddSplatPlanes). Drawing code that takes a
// target adds the same light either way, summed in another order and, on the planes, each
// contribution up to rounding. A Framebuffer converts to a target of its own pixels.
struct SplatTarget {
  SplatTarget(Framebuffer& fb)  // NOLINT: implicit, so a framebuffer is a target
      : pixels(fb.pixels.data()), width(fb.width), height(fb.height) {}
  SplatTarget(Framebuffer& fb, SplatPlanes* planes_)
      : pixels(fb.pixels.data()), width(fb.width), height(fb.height), planes(planes_) {}
  Vec3* pixels;
  std::size_t width;
  std::size_t height;
  SplatPlanes* planes = nullptr;
};

inline void Splat(const SplatTarget& to, float x, float y, float radius, Vec3 colour, float intensity) {
  if (to.planes != nullptr) {
    SplatIntoPlanes(*to.planes, x, y, radius, colour, intensity);
  } else {
    Splat(to.pixels, to.width, to.height, x, y, radius, colour, intensity);
  }
}

// Splat restricted to the clip rectangle x0 <= px < x1, y0 <= py < y1 (and to the image).
void SplatClipped(Framebuffer& fb, float x, float y, float radius, Vec3 colour, float intensity,
                  int x0, int y0, int x1, int y1);

// A row of n + 1 equal splats from a to b, n = clamp(trunc(|b - a| * 0.58), 2, 48): about one
// splat per 1.7 pixels, thinning into a dotted string on long lines. Overlaps add up.
void SplatLine(Framebuffer& fb, Vec2 a, Vec2 b, Vec3 colour, float intensity, float radius);

// The 5 x 7 font: 7 row bytes, top row first, low 5 bits used, bit 4 the leftmost column.
// Lower-case letters fold to upper case; characters without a glyph get a question-mark shape.
using GlyphBits = std::array<std::uint8_t, 7>;
const GlyphBits& GlyphRows(char c);

// Width of a character cell in font columns (5 glyph columns and one empty column).
constexpr int kGlyphAdvance = 6;
constexpr int kGlyphRows = 7;

// One filled cell x cell square per font dot, top-left of the first character at (x, y); each
// character advances 6*cell. Nothing when strength <= 0.
void DrawBlockText(Framebuffer& fb, int x, int y, const char* text, Vec3 colour, float strength,
                   int cell);

// One splat per font dot at (pen + m*cell, y + i*cell); with jitter > 0 every dot moves along its
// own small closed path, fixed by the character, its index in the text and the dot's row and
// column, and driven by phase. Each character advances the pen by 6*cell.
void DrawSplatText(Framebuffer& fb, float x, float y, const char* text, Vec3 colour,
                   float intensity, float dot_radius, float cell, float jitter, float phase);

// DrawSplatText on the raw pixel storage of a width x height image, as Splat takes it.
void DrawSplatText(Vec3* pixels, std::size_t width, std::size_t height, float x, float y, const char* text,
                   Vec3 colour, float intensity, float dot_radius, float cell, float jitter, float phase);

// The splat text drawers move their dots with polynomial sines and cosines. With `on` they use
// libm's instead: the plain version, which tests render as the oracle for whole overlay frames.
// Nothing else switches it; it is not meant to change while frames are drawn.
void UseReferenceTextJitter(bool on);

// DrawSplatText restricted to the clip rectangle x0 <= px < x1, y0 <= py < y1.
void DrawSplatTextClipped(Framebuffer& fb, float x, float y, const char* text, Vec3 colour,
                          float intensity, float dot_radius, float cell, float jitter,
                          float phase, int x0, int y0, int x1, int y1);

// A label drawn as a stack of passes: splat style (soft dots with halo and accent passes) when
// `lit` or `accent` is set, block style (font squares with an eight-pass or layered halo)
// otherwise. The halo goes into `layer` when one is given (the tracker display's glow layer),
// else into the target.
void DrawGlowLabel(Framebuffer& fb, int x, int y, const char* text, Vec3 base, bool alt, bool lit,
                   bool halo, bool accent, float strength, float level, float jitter, float phase,
                   Vec3 glowA, Vec3 glowB, Vec3 glowC, Framebuffer* layer = nullptr);
