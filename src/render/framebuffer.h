#pragma once
// The float light image every scene and overlay draws into, its whole-image and rectangle
// operations, and the exposure curve that turns accumulated light into 8-bit RGBA once per frame.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "render/math.h"

// One offset copy of AddImageTaps: shifted by (dx, dy) pixels, times k.
struct ImageTap {
  float dx = 0;
  float dy = 0;
  float k = 0;
};
// AddImageTaps merges taps shifted by less than this many pixels either way.
inline constexpr int kMaxTapShift = 4;

// Opaque black in the resolved image: bytes R, G, B, A = 0, 0, 0, 255 in memory.
constexpr std::uint32_t kOpaqueBlack = 0xFF000000u;

// Coordinates are pixels, x to the right, y downward; row 0 is the top of the picture.
// Rectangles are (x, y, w, h): top-left corner and size. Nothing here ever fails: parts outside
// the image are clipped, empty sizes or non-positive strengths are no-ops, and non-finite
// colours, factors or strengths make a call a no-op so that a NaN can never enter the image
// (it would persist through every later decay).
struct Framebuffer {
  std::size_t width = 0;
  std::size_t height = 0;
  std::vector<Vec3> pixels;          // light, row-major: pixel (x, y) at y*width + x
  std::vector<std::uint32_t> rgba;   // resolved: 0xFF000000 + B*65536 + G*256 + R per pixel

  Framebuffer(std::size_t width, std::size_t height);
  // One framebuffer per role lives as long as the application; copying one is a mistake.
  Framebuffer(const Framebuffer&) = delete;
  Framebuffer& operator=(const Framebuffer&) = delete;

  // Every pixel = colour; Fill({0, 0, 0}) is the clear.
  void Fill(Vec3 colour);
  // Fill({0, 0, 0}), writing only when some channel is not already +0: a buffer that stays
  // black is read, which costs less than writing it, and its memory is left untouched.
  void Clear();
  // Every pixel = k*pixel + add (decay, fade, tint).
  void ScaleAdd(float k, Vec3 add);
  // Every pixel += k*src pixel, when k > 0 and src has the same size; otherwise nothing.
  void AddScaled(const Framebuffer& src, float k);
  // pixel += k*colour, when (x, y) is inside the image.
  void AddPixel(int x, int y, Vec3 colour, float k);
  // pixel = a*colour + (1 - a)*pixel, when (x, y) is inside the image.
  void BlendPixel(int x, int y, Vec3 colour, float a);
  // pixel += k*colour over the part of the rectangle inside the image; nothing if w <= 0,
  // h <= 0 or k <= 0.
  void AddRect(int x, int y, int w, int h, Vec3 colour, float k);
  // pixel = a*colour + (1 - a)*pixel over the part of the rectangle inside the image; a is not
  // limited to [0, 1].
  void BlendRect(int x, int y, int w, int h, Vec3 colour, float a);
  // Adds the source rectangle (sx, sy, sw, sh) of src, times k, with its top-left corner at the
  // fractional point (dx, dy): each source pixel is split bilinearly over four destination pixels.
  // Several calls with small offsets and falling k make a cheap glow of one layer onto another.
  void AddImage(const Framebuffer& src, int sx, int sy, int sw, int sh, float dx, float dy,
                float k);
  // The sum of AddImage(src, sx, sy, sw, sh, sx + tap.dx, sy + tap.dy, tap.k) over the taps (a
  // glow of small offset copies). Where every shift is below kMaxTapShift pixels, the taps'
  // bilinear splits merge into one kernel of whole-pixel shifts that each destination pixel
  // gathers in one pass, with AVX2 and fused multiply-adds where the processor has them: the same
  // terms in another order, fused, and with the terms AddImage passes over as too dim (at most
  // 1e-5 each) kept. Otherwise, and on the plain paths, it makes those AddImage calls.
  void AddImageTaps(const Framebuffer& src, int sx, int sy, int sw, int sh, const ImageTap* taps,
                    int count);
  // Writes rgba from pixels with the exposure curve byte = trunc(255*(1 - exp(-1.15 v)) + 0.5),
  // per channel, clamped to [0, 255]; NaN resolves to 0.
  void ResolveRgba8();
};

// AddImage done the plain way, one source pixel at a time, each split over its four destination
// pixels. AddImage gathers the same terms per destination pixel in the same order (it falls back
// to this loop for the rare placements where that does not apply); tests compare the two.
void AddImageReference(Framebuffer& dst, const Framebuffer& src, int sx, int sy, int sw, int sh,
                       float dx, float dy, float k);

// AddImage adds whole rows with AVX2 where the processor has it, else SSE2, both giving the
// same bits (AVX-512 measured no faster there); AddImageTaps gathers its merged taps with
// AVX-512F where the processor has it, else AVX2 and FMA, again the same bits. Tests limit the
// width (512 is the default, 256 keeps AVX2, 128 SSE2, where AddImageTaps makes its AddImage
// calls one by one) to check each path on one machine; nothing else needs to.
void LimitAddImageVectors(int bits);
// Tests: limits ResolveRgba8's vectors to this many bits (512, the default, takes AVX-512 where
// the processor has it, 256 AVX2, 128 the four-wide SSE2 loop), so each loop can be checked on
// one machine.
void LimitResolveVectors(int bits);

// The exposure curve for one channel value, computed directly with expf. ResolveRgba8 gives
// exactly these bytes (through a threshold table); tests and tools use this as the reference.
std::uint8_t ToneCurveByte(float v);
