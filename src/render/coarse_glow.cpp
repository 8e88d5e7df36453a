#include "render/coarse_glow.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "render/primitives.h"

namespace {

void SizeGrid(GlowGrid& grid, int step, std::size_t width, std::size_t height) {
  grid.step = step;
  grid.width = width;
  grid.height = height;
  grid.samples.assign(width * height + 1, Vec3{});
  grid.x_lo = grid.y_lo = 0;
  grid.x_hi = grid.y_hi = -1;
}

// Samples needed to spread onto n finer points: finer point k lies between samples k/2 and
// k/2 + 1, so the last one needs sample (n - 1)/2 + 1.
std::size_t CoarserCount(std::size_t n) {
  return n == 0 ? 0 : (n - 1) / 2 + 2;
}

bool BoxEmpty(const GlowGrid& grid) {
  return grid.x_lo > grid.x_hi || grid.y_lo > grid.y_hi;
}

void WidenBox(GlowGrid& grid, int x_lo, int x_hi, int y_lo, int y_hi) {
  const bool empty = BoxEmpty(grid);
  grid.x_lo = empty ? x_lo : std::min(grid.x_lo, x_lo);
  grid.x_hi = empty ? x_hi : std::max(grid.x_hi, x_hi);
  grid.y_lo = empty ? y_lo : std::min(grid.y_lo, y_lo);
  grid.y_hi = empty ? y_hi : std::max(grid.y_hi, y_hi);
}

void ClearBox(GlowGrid& grid) {
  for (int i = grid.y_lo; i <= grid.y_hi; ++i) {
    Vec3* row = &grid.samples[static_cast<std::size_t>(i) * grid.width];
    std::fill(row + grid.x_lo, row + grid.x_hi + 1, Vec3{});
  }
  grid.x_lo = grid.y_lo = 0;
  grid.x_hi = grid.y_hi = -1;
}

// The finer points k whose two samples k/2 and k/2 + 1 include one of lo ... hi, within [0, n).
struct FinerSpan {
  int lo, hi;
};
FinerSpan SpanOver(int lo, int hi, std::size_t n) {
  return {std::max(0, 2 * (lo - 1)), std::min(static_cast<int>(n) - 1, 2 * hi + 1)};
}

// A sample row spread over the finer points k0 ... k1 (k0 even), two at a time: point k lies
// between samples k/2 and k/2 + 1, at fraction t_even from the first for even k and t_odd for
// odd k. Each Vec3 is loaded and stored as four floats, the fourth being the next one's red: the
// next store overwrites it, and the row and `out` have a spare element at the end for the last.
void SpreadRow(const Vec3* row, int k0, int k1, float t_even, float t_odd, Vec3* out) {
  const __m128 keep_even = _mm_set1_ps(1.0f - t_even);
  const __m128 take_even = _mm_set1_ps(t_even);
  const __m128 keep_odd = _mm_set1_ps(1.0f - t_odd);
  const __m128 take_odd = _mm_set1_ps(t_odd);
  float* o = &out->x;
  for (int k = k0; k <= k1; k += 2, o += 6) {
    const int j = k >> 1;
    const __m128 left = _mm_loadu_ps(&row[j].x);
    const __m128 right = _mm_loadu_ps(&row[j + 1].x);
    _mm_storeu_ps(o, _mm_add_ps(_mm_mul_ps(keep_even, left), _mm_mul_ps(take_even, right)));
    _mm_storeu_ps(o + 3, _mm_add_ps(_mm_mul_ps(keep_odd, left), _mm_mul_ps(take_odd, right)));
  }
}

// The finer points an AddGridOnto wrote.
struct FinerBox {
  bool empty = true;
  FinerSpan cols{0, -1}, rows{0, -1};
};

// Adds the grid, spread bilinearly, onto a finer image of width x height points, and clears it.
// The finer point k of either axis sits at k + offset in units of half a sample step (offset 0.5
// for the pixel centres of the image, 0 for the points of a twice finer grid).
FinerBox AddGridOnto(GlowGrid& grid, Vec3* dst, std::size_t width, std::size_t height, float offset,
                     Vec3* spread) {
  if (BoxEmpty(grid)) return FinerBox{};
  const FinerSpan cols = SpanOver(grid.x_lo, grid.x_hi, width);
  const FinerSpan rows = SpanOver(grid.y_lo, grid.y_hi, height);
  const float t_even = 0.5f * offset;
  const float t_odd = 0.5f * offset + 0.5f;
  const int count = 3 * (cols.hi - cols.lo + 1);  // floats per finer row
  Vec3* upper = spread;                           // sample row i spread, then row i + 1
  Vec3* lower = spread + width + 2;
  int upper_row = -2;  // none spread yet
  for (int k = rows.lo; k <= rows.hi; ++k) {
    const int i = k >> 1;
    if (upper_row != i) {
      // Each sample row serves two finer rows, so the lower spread row is usually the next
      // upper one.
      if (upper_row >= 0 && upper_row + 1 == i) {
        std::swap(upper, lower);
      } else {
        SpreadRow(&grid.samples[static_cast<std::size_t>(i) * grid.width], cols.lo, cols.hi, t_even, t_odd,
                  upper);
      }
      SpreadRow(&grid.samples[static_cast<std::size_t>(i + 1) * grid.width], cols.lo, cols.hi, t_even, t_odd,
                lower);
      upper_row = i;
    }
    const float s = (k & 1) != 0 ? t_odd : t_even;
    const float r = 1.0f - s;
    float* d = &dst[static_cast<std::size_t>(k) * width + static_cast<std::size_t>(cols.lo)].x;
    const float* a = &upper->x;
    const float* b = &lower->x;
    for (int f = 0; f < count; ++f) d[f] += r * a[f] + s * b[f];
  }
  ClearBox(grid);
  return FinerBox{false, cols, rows};
}

}  // namespace

void PrepareCoarseGlow(CoarseGlow& glow, std::size_t width, std::size_t height) {
  if (glow.image_width == width && glow.image_height == height && !glow.levels[0].samples.empty()) return;
  glow.image_width = width;
  glow.image_height = height;
  std::size_t finer_width = width;
  std::size_t finer_height = height;
  for (int level = 0; level < kGlowLevels; ++level) {
    GlowGrid& grid = glow.levels[level];
    SizeGrid(grid, 2 << level, CoarserCount(finer_width), CoarserCount(finer_height));
    finer_width = grid.width;
    finer_height = grid.height;
  }
  glow.spread.assign(2 * (width + 2), Vec3{});
}

void DrawSplatTextCoarse(CoarseGlow& glow, int step, float x, float y, const char* text, Vec3 colour,
                         float intensity, float dot_radius, float cell, float jitter, float phase) {
  GlowGrid* grid = nullptr;
  for (GlowGrid& level : glow.levels) {
    if (level.step == step) grid = &level;
  }
  if (grid == nullptr || grid->width == 0 || grid->height == 0 || text == nullptr) return;
  const std::size_t length = std::strlen(text);
  if (length == 0) return;
  // Image point (X, Y) is the point (X/step + 0.5, Y/step + 0.5) of the grid, whose sample j has
  // its centre at j + 0.5 as a pixel would; every length shrinks by the step, the dots' jitter
  // paths included.
  const float inv = 1.0f / static_cast<float>(step);
  const float gx = x * inv + 0.5f;
  const float gy = y * inv + 0.5f;
  const float gcell = cell * inv;
  const float gradius = dot_radius * inv;
  const float gjitter = jitter * inv;
  DrawSplatText(grid->samples.data(), grid->width, grid->height, gx, gy, text, colour, intensity, gradius,
                gcell, gjitter, phase);

  // The samples the dots may have touched: every dot lies within the jitter of its font
  // position, and its footprint within its radius (and a sample for the rounding) of that.
  const float last_column = static_cast<float>(kGlyphAdvance * length - 2) * gcell;
  const float reach = std::fabs(gjitter) + gradius + 1.0f;
  float x_min = std::min(gx, gx + last_column) - reach;
  float x_max = std::max(gx, gx + last_column) + reach;
  float y_min = std::min(gy, gy + 6.0f * gcell) - reach;
  float y_max = std::max(gy, gy + 6.0f * gcell) + reach;
  const float right = static_cast<float>(grid->width - 1);
  const float bottom = static_cast<float>(grid->height - 1);
  // Bounds that are not finite (such dots draw nothing) take the whole grid, to be safe.
  if (!std::isfinite(x_max - x_min) || !std::isfinite(y_max - y_min)) {
    x_min = y_min = 0.0f;
    x_max = right;
    y_max = bottom;
  }
  if (x_max < 0.0f || x_min > right || y_max < 0.0f || y_min > bottom) return;
  const auto index = [](float v, float last) { return static_cast<int>(std::clamp(v, 0.0f, last)); };
  WidenBox(*grid, index(x_min, right), index(x_max, right), index(y_min, bottom), index(y_max, bottom));
}

void AddCoarseGlow(CoarseGlow& glow, Framebuffer& fb) {
  if (fb.width != glow.image_width || fb.height != glow.image_height) {
    for (GlowGrid& level : glow.levels) ClearBox(level);
    return;
  }
  // Each grid onto the points of the next finer one, coarsest first, then the finest onto the
  // pixel centres.
  for (int level = kGlowLevels - 1; level > 0; --level) {
    GlowGrid& finer = glow.levels[level - 1];
    const FinerBox written = AddGridOnto(glow.levels[level], finer.samples.data(), finer.width, finer.height,
                                         0.0f, glow.spread.data());
    if (!written.empty) WidenBox(finer, written.cols.lo, written.cols.hi, written.rows.lo, written.rows.hi);
  }
  AddGridOnto(glow.levels[0], fb.pixels.data(), fb.width, fb.height, 0.5f, glow.spread.data());
}
