#include "render/primitives.h"

#include <immintrin.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

#include "render/fast_math.h"
#include "render/plain_paths.h"
#include "render/splat_kernel.h"

namespace {

// Inclusive pixel range of a splat footprint along one axis, clipped to [clip_lo, clip_hi], a
// non-empty range of pixel indices. Centres and radii of on-screen size are rounded in int; any
// other finite float goes through double, where floor(x) -/+ ceil(radius) is exact enough and
// cannot overflow, so only in-image values are ever converted to int.
using PixelRange = splat_kernel::Span;
PixelRange FarFootprintRange(float centre, float radius, int clip_lo, int clip_hi);
// (Inlined into every splat drawer: it runs twice per splat; the rare far path stays out of line.)
inline __attribute__((always_inline)) PixelRange FootprintRange(float centre, float radius, int clip_lo,
                                                               int clip_hi) {
  if (std::fabs(centre) < 1.0e7f && radius < 1.0e7f) {  // also false for NaN
    const int c = FloorToInt(centre);
    const int r = -FloorToInt(-radius);  // ceil
    const int lo = std::max(clip_lo, c - r);
    const int hi = std::min(clip_hi, c + r);
    if (lo > hi) return {1, 0};
    return {lo, hi};
  }
  return FarFootprintRange(centre, radius, clip_lo, clip_hi);
}

__attribute__((noinline)) PixelRange FarFootprintRange(float centre, float radius, int clip_lo,
                                                       int clip_hi) {
  const double c = std::floor(static_cast<double>(centre));
  const double r = std::ceil(static_cast<double>(radius));
  const double lo = std::max(static_cast<double>(clip_lo), c - r);
  const double hi = std::min(static_cast<double>(clip_hi), c + r);
  if (lo > hi) return {1, 0};
  return {static_cast<int>(lo), static_cast<int>(hi)};
}

// The pixel indices a clip rectangle [x0, x1) x [y0, y1) leaves of a width x height image;
// false when nothing is left. Worked out in 64 bits, so that any int rectangle is safe.
struct PixelBounds {
  int x_lo, x_hi, y_lo, y_hi;
};
bool ClipBounds(std::size_t width, std::size_t height, int x0, int y0, int x1, int y1, PixelBounds* out) {
  const std::int64_t x_lo = std::max(0, x0);
  const std::int64_t y_lo = std::max(0, y0);
  const std::int64_t x_hi = std::min<std::int64_t>(x1, static_cast<std::int64_t>(width)) - 1;
  const std::int64_t y_hi = std::min<std::int64_t>(y1, static_cast<std::int64_t>(height)) - 1;
  if (x_lo > x_hi || y_lo > y_hi) return false;
  *out = {static_cast<int>(x_lo), static_cast<int>(x_hi), static_cast<int>(y_lo), static_cast<int>(y_hi)};
  return true;
}

// Every argument a splat needs is a finite number and there is light to add. Non-finite input
// draws nothing; so does a NaN colour at a finite position, which would otherwise poison the
// persistent image.
bool SplatArgumentsValid(float x, float y, float radius, Vec3 colour, float intensity) {
  if (!(radius > 0.0f) || !(intensity > 0.0f)) return false;
  return std::isfinite(x) && std::isfinite(y) && std::isfinite(radius) && std::isfinite(intensity) &&
         IsFinite(colour);
}

}  // namespace

void Splat(Vec3* pixels, std::size_t width, std::size_t height, float x, float y, float radius, Vec3 colour,
           float intensity) {
  if (!SplatArgumentsValid(x, y, radius, colour, intensity)) return;
  PixelBounds bounds;
  if (!ClipBounds(width, height, 0, 0, INT_MAX, INT_MAX, &bounds)) return;
  const PixelRange cols = FootprintRange(x, radius, bounds.x_lo, bounds.x_hi);
  const PixelRange rows = FootprintRange(y, radius, bounds.y_lo, bounds.y_hi);
  if (cols.lo > cols.hi || rows.lo > rows.hi) return;
  splat_kernel::Selected()(pixels, width, x, y, radius, colour, intensity, cols, rows);
}

void PrepareSplatPlanes(SplatPlanes& planes, std::size_t width, std::size_t height) {
  if (planes.width == width && planes.height == height) return;
  planes.width = width;
  planes.height = height;
  planes.stride = width + SplatPlanes::kMargin;
  const std::size_t floats = planes.stride * height;
  planes.red.assign(floats, 0.0f);
  planes.green.assign(floats, 0.0f);
  planes.blue.assign(floats, 0.0f);
  planes.rows_lo = 0;
  planes.rows_hi = -1;
}

void SplatIntoPlanes(SplatPlanes& planes, float x, float y, float radius, Vec3 colour, float intensity) {
  if (!SplatArgumentsValid(x, y, radius, colour, intensity)) return;
  if (planes.width == 0 || planes.height == 0) return;
  const PixelRange cols = FootprintRange(x, radius, 0, static_cast<int>(planes.width) - 1);
  const PixelRange rows = FootprintRange(y, radius, 0, static_cast<int>(planes.height) - 1);
  if (cols.lo > cols.hi || rows.lo > rows.hi) return;
  SplatIntoPlanesAt(planes, x, y, radius, colour, intensity, cols.lo, cols.hi, rows.lo, rows.hi);
}

void SplatIntoPlanesAt(SplatPlanes& planes, float x, float y, float radius, Vec3 colour, float intensity,
                       int col_lo, int col_hi, int row_lo, int row_hi) {
  const bool first = planes.rows_lo > planes.rows_hi;
  planes.rows_lo = first ? row_lo : std::min(planes.rows_lo, row_lo);
  planes.rows_hi = first ? row_hi : std::max(planes.rows_hi, row_hi);
  const splat_kernel::Planes target{planes.red.data(), planes.green.data(), planes.blue.data(), planes.stride};
  const splat_kernel::PlanesFn selected = splat_kernel::SelectedPlanes();
  const splat_kernel::PlanesFn kernel = selected != nullptr ? selected : &splat_kernel::PlanesReference;
  kernel(target, x, y, radius, colour, intensity, PixelRange{col_lo, col_hi}, PixelRange{row_lo, row_hi});
}

namespace {

// Sixteen pixels of one row: the three planes' values interleaved into RGB order and added onto
// the image's 48 floats, the same single-precision adds as one pixel at a time. Returns how many
// pixels it added.
__attribute__((target("avx512f"))) std::size_t AddPlaneRowAvx512(const float* red, const float* green,
                                                                 const float* blue, float* out,
                                                                 std::size_t width) {
  // Float k of the 48 is channel k % 3 of pixel k / 3: red and green come from one two-source
  // permute (index bit 4 picks green), blue is then put in by a masked permute.
  const __m512i red_green[3] = {_mm512_setr_epi32(0, 16, 0, 1, 17, 0, 2, 18, 0, 3, 19, 0, 4, 20, 0, 5),
                                _mm512_setr_epi32(21, 0, 6, 22, 0, 7, 23, 0, 8, 24, 0, 9, 25, 0, 10, 26),
                                _mm512_setr_epi32(0, 11, 27, 0, 12, 28, 0, 13, 29, 0, 14, 30, 0, 15, 31, 0)};
  const __m512i blue_index[3] = {_mm512_setr_epi32(0, 0, 0, 0, 0, 1, 0, 0, 2, 0, 0, 3, 0, 0, 4, 0),
                                 _mm512_setr_epi32(0, 5, 0, 0, 6, 0, 0, 7, 0, 0, 8, 0, 0, 9, 0, 0),
                                 _mm512_setr_epi32(10, 0, 0, 11, 0, 0, 12, 0, 0, 13, 0, 0, 14, 0, 0, 15)};
  const __mmask16 blue_lanes[3] = {0x4924, 0x2492, 0x9249};  // floats k with k % 3 == 2
  std::size_t px = 0;
  for (; px + 16 <= width; px += 16) {
    const __m512 r = _mm512_loadu_ps(red + px);
    const __m512 g = _mm512_loadu_ps(green + px);
    const __m512 b = _mm512_loadu_ps(blue + px);
    float* o = out + 3 * px;
    for (int v = 0; v < 3; ++v) {
      const __m512 rg = _mm512_permutex2var_ps(r, red_green[v], g);
      const __m512 rgb = _mm512_mask_permutexvar_ps(rg, blue_lanes[v], blue_index[v], b);
      _mm512_storeu_ps(o + 16 * v, _mm512_add_ps(_mm512_loadu_ps(o + 16 * v), rgb));
    }
  }
  return px;
}

}  // namespace

void AddSplatPlanes(SplatPlanes& planes, Vec3* pixels) {
  if (planes.rows_lo > planes.rows_hi) return;
  static const bool avx512 = splat_kernel::CpuHasAvx512() && !PlainPathsForced();
  for (int py = planes.rows_lo; py <= planes.rows_hi; ++py) {
    const std::size_t row = static_cast<std::size_t>(py);
    float* red = planes.red.data() + row * planes.stride;
    float* green = planes.green.data() + row * planes.stride;
    float* blue = planes.blue.data() + row * planes.stride;
    Vec3* out = pixels + row * planes.width;
    std::size_t px = 0;
    if (avx512 && planes.width != 0) px = AddPlaneRowAvx512(red, green, blue, &out[0].x, planes.width);
    for (; px < planes.width; ++px) {
      out[px].x += red[px];
      out[px].y += green[px];
      out[px].z += blue[px];
    }
    // The margin too: runs that reach past the last column add there (zero weights, or the part
    // of a disc that lies beyond the image's right edge).
    std::fill(red, red + planes.stride, 0.0f);
    std::fill(green, green + planes.stride, 0.0f);
    std::fill(blue, blue + planes.stride, 0.0f);
  }
  planes.rows_lo = 0;
  planes.rows_hi = -1;
}

void SplatClipped(Framebuffer& fb, float x, float y, float radius, Vec3 colour, float intensity, int x0,
                  int y0, int x1, int y1) {
  if (!SplatArgumentsValid(x, y, radius, colour, intensity)) return;
  PixelBounds bounds;
  if (!ClipBounds(fb.width, fb.height, x0, y0, x1, y1, &bounds)) return;
  const PixelRange cols = FootprintRange(x, radius, bounds.x_lo, bounds.x_hi);
  const PixelRange rows = FootprintRange(y, radius, bounds.y_lo, bounds.y_hi);
  if (cols.lo > cols.hi || rows.lo > rows.hi) return;
  splat_kernel::Selected()(fb.pixels.data(), fb.width, x, y, radius, colour, intensity, cols, rows);
}

void SplatLine(Framebuffer& fb, Vec2 a, Vec2 b, Vec3 colour, float intensity, float radius) {
  if (!SplatArgumentsValid(a.x, a.y, radius, colour, intensity)) return;
  if (!IsFinite(b)) return;
  const Vec2 d = b - a;
  // The length may overflow to infinity for far-apart finite ends; the cap keeps n finite and
  // the conversion defined, and the splats that land at infinity draw nothing.
  const float steps = Length(d) * 0.58f;
  int n = steps < 48.0f ? static_cast<int>(steps) : 48;
  n = std::max(n, 2);
  const float count = static_cast<float>(n);
  for (int i = 0; i <= n; ++i) {
    const float t = static_cast<float>(i) / count;
    Splat(fb.pixels.data(), fb.width, fb.height, a.x + t * d.x, a.y + t * d.y, radius, colour, intensity);
  }
}

// ---------------------------------------------------------------------------------------------
// Font

namespace {

struct GlyphEntry {
  char c;
  GlyphBits rows;
};

// Row bytes, top row first; bit 4 is the leftmost column.
constexpr GlyphEntry kGlyphs[] = {
    {' ', {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},  {'#', {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A}},
    {'\'', {0x04, 0x04, 0x08, 0x00, 0x00, 0x00, 0x00}}, {'+', {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00}},
    {',', {0x00, 0x00, 0x00, 0x00, 0x06, 0x04, 0x08}},  {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},  {'/', {0x01, 0x02, 0x02, 0x04, 0x08, 0x08, 0x10}},
    {':', {0x00, 0x04, 0x04, 0x00, 0x04, 0x04, 0x00}},  {';', {0x00, 0x04, 0x04, 0x00, 0x04, 0x04, 0x08}},
    {'=', {0x00, 0x00, 0x1F, 0x00, 0x1F, 0x00, 0x00}},  {'>', {0x10, 0x08, 0x04, 0x02, 0x04, 0x08, 0x10}},
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},  {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},  {'3', {0x1E, 0x01, 0x01, 0x0E, 0x01, 0x01, 0x1E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},  {'5', {0x1F, 0x10, 0x10, 0x1E, 0x01, 0x01, 0x1E}},
    {'6', {0x0E, 0x10, 0x10, 0x1E, 0x11, 0x11, 0x0E}},  {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},  {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x01, 0x0E}},
    {'[', {0x0E, 0x08, 0x08, 0x08, 0x08, 0x08, 0x0E}},  {']', {0x0E, 0x02, 0x02, 0x02, 0x02, 0x02, 0x0E}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},  {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},  {'D', {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},  {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0E}},  {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x1F}},  {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},  {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},  {'N', {0x11, 0x19, 0x15, 0x13, 0x11, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},  {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}},  {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},  {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},  {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},  {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x0A, 0x04, 0x04, 0x04, 0x04}},  {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
};
constexpr int kGlyphCount = static_cast<int>(sizeof(kGlyphs) / sizeof(kGlyphs[0]));

// A question-mark shape for every character without a glyph.
constexpr GlyphBits kFallbackGlyph = {0x1F, 0x01, 0x02, 0x04, 0x00, 0x04, 0x00};

// Byte value -> index into kGlyphs, or -1 for the fallback; lower case folded to upper case.
struct GlyphIndex {
  std::int8_t index[256];
};
constexpr GlyphIndex BuildGlyphIndex() {
  GlyphIndex table{};
  for (int byte = 0; byte < 256; ++byte) {
    int c = byte;
    if (c >= 'a' && c <= 'z') c = c - 'a' + 'A';
    table.index[byte] = -1;
    for (int g = 0; g < kGlyphCount; ++g) {
      if (static_cast<unsigned char>(kGlyphs[g].c) == c) table.index[byte] = static_cast<std::int8_t>(g);
    }
  }
  return table;
}
constexpr GlyphIndex kGlyphIndex = BuildGlyphIndex();

}  // namespace

const GlyphBits& GlyphRows(char c) {
  const int g = kGlyphIndex.index[static_cast<unsigned char>(c)];
  return g < 0 ? kFallbackGlyph : kGlyphs[g].rows;
}

void DrawBlockText(Framebuffer& fb, int x, int y, const char* text, Vec3 colour, float strength, int cell) {
  if (text == nullptr || !(strength > 0.0f) || cell <= 0) return;
  // Pen positions are kept in 64 bits: a long text with a big cell must not overflow, and a
  // square that misses the image is skipped before it is narrowed back to int.
  const std::int64_t width = static_cast<std::int64_t>(fb.width);
  const std::int64_t height = static_cast<std::int64_t>(fb.height);
  const std::int64_t step = static_cast<std::int64_t>(kGlyphAdvance) * cell;
  std::int64_t pen = x;
  for (const char* p = text; *p != '\0'; ++p, pen += step) {
    if (pen >= width || pen + step <= 0) continue;
    const GlyphBits& rows = GlyphRows(*p);
    for (int i = 0; i < kGlyphRows; ++i) {
      const std::int64_t top = std::int64_t{y} + std::int64_t{i} * cell;
      if (top >= height || top + cell <= 0) continue;
      for (int m = 0; m < 5; ++m) {
        if ((rows[i] & (0x10 >> m)) == 0) continue;
        const std::int64_t left = pen + std::int64_t{m} * cell;
        if (left >= width || left + cell <= 0) continue;
        fb.AddRect(static_cast<int>(left), static_cast<int>(top), cell, cell, colour, strength);
      }
    }
  }
}

namespace {

// Text jitter through libm's cosf and sinf instead of the polynomial ones (test oracle, and
// what the plain-path switch runs).
bool g_reference_jitter = PlainPathsForced();

// Clip rectangle of the splat text drawers; the unclipped drawer uses the whole int range.
struct ClipRect {
  int x0, y0, x1, y1;
};

// FootprintRange of four dots of one radius at once, for the dots whose centres are of
// on-screen size (|c| < 1e7, where the one-dot rules round in int): the same ranges, with the
// floor taken by truncation and a correction for negative fractions. `near` has bit k set for
// each such lane k; the others (far, or not finite) are left to the one-dot rules.
struct NearFootprints4 {
  alignas(16) int col_lo[4], col_hi[4], row_lo[4], row_hi[4];
  int near = 0;
  __m128i reach, x_lo, x_hi, y_lo, y_hi;
  bool usable;

  NearFootprints4(float radius, const PixelBounds& b)
      : reach(_mm_set1_epi32(radius < 1.0e7f ? -FloorToInt(-radius) : 0)),
        x_lo(_mm_set1_epi32(b.x_lo)),
        x_hi(_mm_set1_epi32(b.x_hi)),
        y_lo(_mm_set1_epi32(b.y_lo)),
        y_hi(_mm_set1_epi32(b.y_hi)),
        usable(radius < 1.0e7f) {}

  static __m128i Floor(__m128 v) {
    const __m128i truncated = _mm_cvttps_epi32(v);
    // -1 (all bits set) where truncation went up, i.e. for negative non-integers.
    return _mm_add_epi32(truncated, _mm_castps_si128(_mm_cmpgt_ps(_mm_cvtepi32_ps(truncated), v)));
  }
  static __m128i Max(__m128i a, __m128i b) {
    const __m128i a_greater = _mm_cmpgt_epi32(a, b);
    return _mm_or_si128(_mm_and_si128(a_greater, a), _mm_andnot_si128(a_greater, b));
  }
  static __m128i Min(__m128i a, __m128i b) {
    const __m128i a_greater = _mm_cmpgt_epi32(a, b);
    return _mm_or_si128(_mm_and_si128(a_greater, b), _mm_andnot_si128(a_greater, a));
  }
  static __m128 Near(__m128 v) {  // |v| < 1e7, false for NaN
    const __m128 magnitude = _mm_andnot_ps(_mm_set1_ps(-0.0f), v);
    return _mm_cmplt_ps(magnitude, _mm_set1_ps(1.0e7f));
  }

  void Compute(const float* xs, const float* ys) {
    const __m128 x = _mm_load_ps(xs);
    const __m128 y = _mm_load_ps(ys);
    near = usable ? _mm_movemask_ps(_mm_and_ps(Near(x), Near(y))) : 0;
    if (near == 0) return;
    const __m128i cx = Floor(x);
    const __m128i cy = Floor(y);
    _mm_store_si128(reinterpret_cast<__m128i*>(col_lo), Max(x_lo, _mm_sub_epi32(cx, reach)));
    _mm_store_si128(reinterpret_cast<__m128i*>(col_hi), Min(x_hi, _mm_add_epi32(cx, reach)));
    _mm_store_si128(reinterpret_cast<__m128i*>(row_lo), Max(y_lo, _mm_sub_epi32(cy, reach)));
    _mm_store_si128(reinterpret_cast<__m128i*>(row_hi), Min(y_hi, _mm_add_epi32(cy, reach)));
  }
};

void DrawSplatTextImpl(Vec3* pixels, std::size_t width, std::size_t height, float x, float y,
                       const char* text, Vec3 colour, float intensity, float dot_radius, float cell,
                       float jitter, float phase, const ClipRect* clip) {
  if (text == nullptr) return;
  if (!SplatArgumentsValid(x, y, dot_radius, colour, intensity)) return;
  // The pixel bounds every dot is clipped to: the image, or its overlap with the clip rectangle.
  PixelBounds bounds;
  const ClipRect whole{0, 0, INT_MAX, INT_MAX};
  const ClipRect& c = clip != nullptr ? *clip : whole;
  if (!ClipBounds(width, height, c.x0, c.y0, c.x1, c.y1, &bounds)) return;
  const splat_kernel::DotsFn draw_dots = splat_kernel::SelectedDots();
  const bool jittered = jitter > 0.0f;
  float pen = x;
  std::uint32_t k = 0;
  // One glyph's lit dots, padded to whole groups of four for the jitter lanes.
  constexpr int kDotsPerGlyph = static_cast<int>(kGlyphRows) * 5;
  constexpr int kLaneDots = (kDotsPerGlyph + 3) / 4 * 4;
  alignas(16) float xs[kLaneDots];
  alignas(16) float ys[kLaneDots];
  alignas(16) float angles[kLaneDots];
  alignas(16) float amps[kLaneDots];
  PixelRange col_spans[kDotsPerGlyph];
  PixelRange row_spans[kDotsPerGlyph];
  NearFootprints4 near_spans(dot_radius, bounds);
  for (const char* p = text; *p != '\0'; ++p, ++k, pen += kGlyphAdvance * cell) {
    const std::uint32_t byte = static_cast<unsigned char>(*p);
    const GlyphBits& rows = GlyphRows(*p);
    int n = 0;
    for (std::uint32_t i = 0; i < kGlyphRows; ++i) {
      for (std::uint32_t m = 0; m < 5; ++m) {
        if ((rows[i] & (0x10u >> m)) == 0) continue;
        xs[n] = pen + static_cast<float>(m) * cell;
        ys[n] = y + static_cast<float>(i) * cell;
        if (jittered) {
          // Fixed by character, index and dot, so the offsets stay put from frame to frame and
          // only the phase moves each dot around its own closed path.
          const std::uint32_t seed =
              byte * 0x9E3779B1u ^ (0u - k) * 0x7A143589u ^ i * 0x27D4EB2Fu ^ (0u - m) * 0x3D4D51C3u;
          angles[n] = static_cast<float>(Hash32(seed) & 0xFFFFFFu) * 3.7450704e-7f + phase;
          amps[n] =
              (static_cast<float>(Hash32(seed ^ 0x8DA6B343u) & 0xFFFFFFu) * 3.8743018e-8f + 0.35f) * jitter;
        }
        ++n;
      }
    }
    // The lanes past the last dot, for the four-at-a-time jitter and footprints below.
    for (int j = n; j < (n + 3) / 4 * 4; ++j) xs[j] = ys[j] = angles[j] = amps[j] = 0.0f;
    if (jittered) {
      // Each dot moves by (cos(angle), sin(1.31 angle)) * amp. The polynomial sine and cosine
      // are within 2e-7 of libm for the phases the show uses (far below 8192 radians), a shift
      // far below a visible one; four dots at a time give each dot exactly the one-at-a-time bits.
      if (g_reference_jitter) {
        for (int j = 0; j < n; ++j) {
          xs[j] += std::cos(angles[j]) * amps[j];
          ys[j] += std::sin(1.31f * angles[j]) * amps[j];
        }
      } else {
        for (int j = 0; j < n; j += 4) {
          const __m128 angle = _mm_load_ps(angles + j);
          const __m128 amp = _mm_load_ps(amps + j);
          __m128 sine, cosine, unused;
          FastSinCos4(angle, unused, cosine);
          FastSinCos4(_mm_mul_ps(_mm_set1_ps(1.31f), angle), sine, unused);
          _mm_store_ps(xs + j, _mm_add_ps(_mm_load_ps(xs + j), _mm_mul_ps(cosine, amp)));
          _mm_store_ps(ys + j, _mm_add_ps(_mm_load_ps(ys + j), _mm_mul_ps(sine, amp)));
        }
      }
    }
    // What Splat or SplatClipped would do for each dot, with the checks that hold for the whole
    // text done once above: the dots that touch the clipped image, drawn together. The
    // footprints of dots near the image are worked out four at a time; any other dot (far away
    // or not finite) takes the one-dot rules.
    int drawn = 0;
    for (int j = 0; j < n; ++j) {
      const float cx = xs[j];
      const float cy = ys[j];
      if (j % 4 == 0) near_spans.Compute(xs + j, ys + j);
      const int lane = j % 4;
      PixelRange cols, dot_rows;
      if ((near_spans.near >> lane & 1) != 0) {
        cols = {near_spans.col_lo[lane], near_spans.col_hi[lane]};
        dot_rows = {near_spans.row_lo[lane], near_spans.row_hi[lane]};
      } else {
        if (!std::isfinite(cx) || !std::isfinite(cy)) continue;
        cols = FootprintRange(cx, dot_radius, bounds.x_lo, bounds.x_hi);
        dot_rows = FootprintRange(cy, dot_radius, bounds.y_lo, bounds.y_hi);
      }
      if (cols.lo > cols.hi || dot_rows.lo > dot_rows.hi) continue;
      xs[drawn] = cx;
      ys[drawn] = cy;
      col_spans[drawn] = cols;
      row_spans[drawn] = dot_rows;
      ++drawn;
    }
    const splat_kernel::Dots dots{xs, ys, col_spans, row_spans, drawn};
    draw_dots(pixels, width, dots, dot_radius, colour, intensity);
  }
}

}  // namespace

void UseReferenceTextJitter(bool on) {
  g_reference_jitter = on;
}

void DrawSplatText(Vec3* pixels, std::size_t width, std::size_t height, float x, float y, const char* text,
                   Vec3 colour, float intensity, float dot_radius, float cell, float jitter, float phase) {
  DrawSplatTextImpl(pixels, width, height, x, y, text, colour, intensity, dot_radius, cell, jitter, phase,
                    nullptr);
}

void DrawSplatText(Framebuffer& fb, float x, float y, const char* text, Vec3 colour, float intensity,
                   float dot_radius, float cell, float jitter, float phase) {
  DrawSplatText(fb.pixels.data(), fb.width, fb.height, x, y, text, colour, intensity, dot_radius, cell,
                jitter, phase);
}

void DrawSplatTextClipped(Framebuffer& fb, float x, float y, const char* text, Vec3 colour, float intensity,
                          float dot_radius, float cell, float jitter, float phase, int x0, int y0, int x1,
                          int y1) {
  const ClipRect clip{x0, y0, x1, y1};
  DrawSplatTextImpl(fb.pixels.data(), fb.width, fb.height, x, y, text, colour, intensity, dot_radius, cell,
                    jitter, phase, &clip);
}

namespace {

// x + d without signed overflow at the ends of the int range (the label passes are offset by a
// pixel or two); a clamped position is far off-screen either way.
int OffsetInt(int v, int d) {
  const std::int64_t moved = std::int64_t{v} + d;
  return static_cast<int>(std::clamp<std::int64_t>(moved, INT32_MIN, INT32_MAX));
}

}  // namespace

void DrawGlowLabel(Framebuffer& fb, int x, int y, const char* text, Vec3 base, bool alt, bool lit, bool halo,
                   bool accent, float strength, float level, float jitter, float phase, Vec3 glowA,
                   Vec3 glowB, Vec3 glowC, Framebuffer* layer) {
  if (text == nullptr) return;
  const float s = strength;
  const float fx = static_cast<float>(x);
  const float fy = static_cast<float>(y);

  if (lit || accent) {
    // Splat style: soft dots, brighter and looser with the level.
    const float lv = Clamp01((alt ? 0.3f : 0.0f) + level);
    const float radius = lv * (accent ? 0.34f : 0.06f) + (accent ? 0.06f : 0.0f) + (halo ? 0.05f : 0.0f) +
                         (lit ? 0.72f : 0.82f);
    const float intensity = (alt ? 0.225f : 0.18f) * (halo ? 1.05f : 1.0f);
    const float spread =
        accent ? 0.14f * lv + (alt ? 0.24f : 0.06f) + jitter : 0.08f * lv + (halo ? 0.03f : 0.0f);
    if (halo) {
      Framebuffer& halo_target = layer != nullptr ? *layer : fb;
      const Vec3 halo_colour = alt ? glowC : glowA;
      const float colour_gain = layer != nullptr ? 3.2f : 1.8f;
      const float intensity_gain = layer != nullptr ? 0.18f : 0.22f;
      DrawSplatText(halo_target, fx, fy, text, halo_colour * colour_gain, intensity * intensity_gain,
                    radius + 0.7f, 1.0f, spread + 0.12f, phase + 1.7f);
    }
    if (accent) {
      DrawSplatText(fb, fx - 0.7f, fy, text, glowB * 1.7f, intensity * 0.07f, radius + 0.2f, 1.0f,
                    spread + 0.18f, phase + 2.4f);
      DrawSplatText(fb, fx + 0.7f, fy + 0.6f, text, glowA * 1.6f, intensity * 0.06f, radius + 0.15f, 1.0f,
                    spread + 0.12f, phase - 1.2f);
    }
    DrawSplatText(fb, fx, fy, text, base * 3.8f, intensity, radius, 1.0f, spread, phase);
    return;
  }

  // Block style: font squares, with the halo either in the layer or as eight offset passes.
  if (!halo) {
    DrawBlockText(fb, x, y, text, base, 1.0f, 1);
    return;
  }
  if (layer != nullptr) {
    if (alt) {
      DrawBlockText(*layer, x, y, text, glowC * 3.05f, 0.5f * s, 1);
    } else {
      DrawBlockText(*layer, x, y, text, glowA * 2.4f, 0.28f * s, 1);
    }
    DrawBlockText(fb, x, y, text, base * 0.82f, 1.0f, 1);
    return;
  }
  const Vec3 k1 = alt ? glowC : glowA;
  const Vec3 k2 = alt ? glowB : glowA;
  const float w = 0.72f * s;
  const float v = 0.52f * s;
  DrawBlockText(fb, OffsetInt(x, -2), y, text, k1, 0.6f * w, 1);
  DrawBlockText(fb, OffsetInt(x, 2), y, text, k1, 0.6f * w, 1);
  DrawBlockText(fb, x, OffsetInt(y, -2), text, k2, 0.55f * v, 1);
  DrawBlockText(fb, x, OffsetInt(y, 2), text, glowB, 0.38f * v, 1);
  DrawBlockText(fb, OffsetInt(x, -1), y, text, k1, w, 1);
  DrawBlockText(fb, OffsetInt(x, 1), y, text, k1, w, 1);
  DrawBlockText(fb, x, OffsetInt(y, -1), text, k2, v, 1);
  DrawBlockText(fb, x, OffsetInt(y, 1), text, glowB, 0.65f * v, 1);
  DrawBlockText(fb, x, y, text, base, 1.0f, 1);
}
