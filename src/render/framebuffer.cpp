#include "render/framebuffer.h"

#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "render/plain_paths.h"

// The whole-image passes below treat the pixels as one run of x, y, z floats.
static_assert(sizeof(Vec3) == 3 * sizeof(float));

namespace {

// The inclusive-exclusive span [lo, hi) of a rectangle edge clipped to [0, size), computed in
// 64 bits so that x + w cannot overflow. Empty when lo >= hi.
struct Span {
  std::int64_t lo;
  std::int64_t hi;
};
Span ClipSpan(int start, int length, std::size_t size) {
  const std::int64_t lo = std::max<std::int64_t>(start, 0);
  const std::int64_t hi =
      std::min<std::int64_t>(static_cast<std::int64_t>(size), std::int64_t{start} + length);
  return {lo, hi};
}


// The clipped source rectangle of one AddImage call with its placement and strength.
struct ImageRect {
  int sx, sy;
  std::int64_t col_lo, col_hi;  // source columns [col_lo, col_hi)
  std::int64_t row_lo, row_hi;  // source rows [row_lo, row_hi)
  float dx, dy, k;
};

// The plain bilinear split, one source pixel at a time. After the rejection tests every
// destination coordinate is within a source-size distance of the image, so the conversions are
// in range.
void AddImageScatter(Framebuffer& dst, const Framebuffer& src, const ImageRect& r) {
  const std::int64_t W = static_cast<std::int64_t>(dst.width);
  const std::int64_t H = static_cast<std::int64_t>(dst.height);
  for (std::int64_t i = r.row_lo; i < r.row_hi; ++i) {
    const Vec3* src_row = src.pixels.data() + static_cast<std::size_t>(i) * src.width;
    const float fy = static_cast<float>(i - r.sy) + r.dy;
    const float fy_floor = std::floor(fy);
    const std::int64_t py = static_cast<std::int64_t>(fy_floor);
    const float ty = fy - fy_floor;
    for (std::int64_t j = r.col_lo; j < r.col_hi; ++j) {
      const Vec3 s = src_row[j];
      const Vec3 v{r.k * s.x, r.k * s.y, r.k * s.z};
      if (v.x + v.y + v.z <= 1e-5f) continue;
      const float fx = static_cast<float>(j - r.sx) + r.dx;
      const float fx_floor = std::floor(fx);
      const std::int64_t px = static_cast<std::int64_t>(fx_floor);
      const float tx = fx - fx_floor;
      const float weights[4] = {(1.0f - tx) * (1.0f - ty), tx * (1.0f - ty), (1.0f - tx) * ty,
                                tx * ty};
      const std::int64_t xs[4] = {px, px + 1, px, px + 1};
      const std::int64_t ys[4] = {py, py, py + 1, py + 1};
      for (int n = 0; n < 4; ++n) {
        const float wgt = weights[n];
        if (!(wgt > 0.0f)) continue;
        if (xs[n] < 0 || xs[n] >= W || ys[n] < 0 || ys[n] >= H) continue;
        Vec3& d = dst.pixels[static_cast<std::size_t>(ys[n] * W + xs[n])];
        d.x += v.x * wgt;
        d.y += v.y * wgt;
        d.z += v.z * wgt;
      }
    }
  }
}

// One destination row of a gather tile: its floats d[0 .. floats), the scaled source rows a
// (above) and b (null when all black), the column weights and the two row weights. Float f of
// the row takes column a's value at v[f] and column b's at v[f + 3].
struct TermRow {
  float* d;
  std::int64_t floats;
  const float* va;
  const float* vb;
  const float* a0;  // 1 - tx per float
  const float* a1;  // tx
  float b1;         // ty of row a
  float b0;         // 1 - ty of row b
};

// value * weight where the weight is positive, else +0 (the plain loop adds nothing there).
inline float Term(float v, float w) { return w > 0.0f ? v * w : 0.0f; }

// Floats [f, floats) one at a time, in the order of the plain loop.
inline void AddTermsTail(const TermRow& t, std::int64_t f) {
  for (; f < t.floats; ++f) {
    float acc = t.d[f];
    if (t.va != nullptr) {
      acc += Term(t.va[f], t.a1[f] * t.b1);
      acc += Term(t.va[f + 3], t.a0[f + 3] * t.b1);
    }
    if (t.vb != nullptr) {
      acc += Term(t.vb[f], t.a1[f] * t.b0);
      acc += Term(t.vb[f + 3], t.a0[f + 3] * t.b0);
    }
    t.d[f] = acc;
  }
}

// Four floats at a time; stretches where both source rows are black are passed over (the plain
// loop adds nothing there).
void AddTermsSse2(const TermRow& t) {
  const __m128 zero = _mm_setzero_ps();
  const __m128 b1 = _mm_set1_ps(t.b1);
  const __m128 b0 = _mm_set1_ps(t.b0);
  const float* va = t.va != nullptr ? t.va : t.vb;  // a black row reads as the other, unused
  const float* vb = t.vb != nullptr ? t.vb : t.va;
  const auto term = [&](__m128 v, const float* a, __m128 b) {
    const __m128 w = _mm_mul_ps(_mm_loadu_ps(a), b);
    return _mm_and_ps(_mm_cmpgt_ps(w, zero), _mm_mul_ps(v, w));
  };
  std::int64_t f = 0;
  for (; f + 4 <= t.floats; f += 4) {
    const __m128 va0 = _mm_loadu_ps(va + f);
    const __m128 va3 = _mm_loadu_ps(va + f + 3);
    const __m128 vb0 = _mm_loadu_ps(vb + f);
    const __m128 vb3 = _mm_loadu_ps(vb + f + 3);
    const __m128i any = _mm_castps_si128(_mm_or_ps(_mm_or_ps(va0, va3), _mm_or_ps(vb0, vb3)));
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(any, _mm_setzero_si128())) == 0xFFFF) continue;
    __m128 acc = _mm_loadu_ps(t.d + f);
    if (t.va != nullptr) {
      acc = _mm_add_ps(acc, term(va0, t.a1 + f, b1));
      acc = _mm_add_ps(acc, term(va3, t.a0 + f + 3, b1));
    }
    if (t.vb != nullptr) {
      acc = _mm_add_ps(acc, term(vb0, t.a1 + f, b0));
      acc = _mm_add_ps(acc, term(vb3, t.a0 + f + 3, b0));
    }
    _mm_storeu_ps(t.d + f, acc);
  }
  AddTermsTail(t, f);
}

// The same eight floats at a time (no fused multiply-add: each product is rounded as above).
__attribute__((target("avx2"))) void AddTermsAvx2(const TermRow& t) {
  const __m256 zero = _mm256_setzero_ps();
  const __m256 b1 = _mm256_set1_ps(t.b1);
  const __m256 b0 = _mm256_set1_ps(t.b0);
  const float* va = t.va != nullptr ? t.va : t.vb;
  const float* vb = t.vb != nullptr ? t.vb : t.va;
  const auto term = [&](__m256 v, const float* a, __m256 b) __attribute__((target("avx2"))) {
    const __m256 w = _mm256_mul_ps(_mm256_loadu_ps(a), b);
    return _mm256_and_ps(_mm256_cmp_ps(w, zero, _CMP_GT_OQ), _mm256_mul_ps(v, w));
  };
  std::int64_t f = 0;
  for (; f + 8 <= t.floats; f += 8) {
    const __m256 va0 = _mm256_loadu_ps(va + f);
    const __m256 va3 = _mm256_loadu_ps(va + f + 3);
    const __m256 vb0 = _mm256_loadu_ps(vb + f);
    const __m256 vb3 = _mm256_loadu_ps(vb + f + 3);
    const __m256i any =
        _mm256_castps_si256(_mm256_or_ps(_mm256_or_ps(va0, va3), _mm256_or_ps(vb0, vb3)));
    if (_mm256_testz_si256(any, any)) continue;
    __m256 acc = _mm256_loadu_ps(t.d + f);
    if (t.va != nullptr) {
      acc = _mm256_add_ps(acc, term(va0, t.a1 + f, b1));
      acc = _mm256_add_ps(acc, term(va3, t.a0 + f + 3, b1));
    }
    if (t.vb != nullptr) {
      acc = _mm256_add_ps(acc, term(vb0, t.a1 + f, b0));
      acc = _mm256_add_ps(acc, term(vb3, t.a0 + f + 3, b0));
    }
    _mm256_storeu_ps(t.d + f, acc);
  }
  AddTermsTail(t, f);
}

int g_vector_limit = 512;

using AddTermsFn = void (*)(const TermRow&);

// The widest rows this processor runs, within the limit tests may set.
AddTermsFn SelectedAddTerms() {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (g_vector_limit >= 256 && avx2) return AddTermsAvx2;
  return AddTermsSse2;
}

// Where source column j (or row i) lands: the whole destination pixel p = floor(f) and the
// fraction t = f - p of f = (j - sx) + dx, computed exactly as the plain split does.
struct Landing {
  std::int64_t p;
  float t;
};
Landing LandingOf(std::int64_t index, int origin, float offset) {
  const float f = static_cast<float>(index - origin) + offset;
  const float f_floor = std::floor(f);
  return {static_cast<std::int64_t>(f_floor), f - f_floor};
}

// True, with the shift p - index in `shift`, when every index of [lo, hi) lands that far away,
// which is the usual case. False otherwise: float rounding of an offset just below an integer
// can make two neighbours land on the same pixel, and then the gather below does not apply.
bool UniformShift(std::int64_t lo, std::int64_t hi, int origin, float offset,
                  std::int64_t& shift) {
  shift = LandingOf(lo, origin, offset).p - lo;
  for (std::int64_t index = lo + 1; index < hi; ++index) {
    if (LandingOf(index, origin, offset).p - index != shift) return false;
  }
  return true;
}

// The same split as AddImageScatter, gathered per destination pixel so that whole rows are added
// four floats at a time. Destination pixel (X, Y) receives, from the source pixels a = its
// upper-left and b = its own column or row, the four terms in the order the plain loop adds
// them: (row a, col a) tx*ty, (row a, col b) (1 - tx)*ty, (row b, col a) tx*(1 - ty),
// (row b, col b) (1 - tx)*(1 - ty), each weight formed from the same per-column and per-row
// fractions; so the sums are bit for bit those of the plain loop. Source pixels the plain loop
// skips (scaled sum at most 1e-5) enter as zero and weights that are not positive are masked,
// which adds +0 where it adds nothing. Returns false, having drawn nothing, when some column or
// row does not land at the common shift.
bool AddImageGather(Framebuffer& dst, const Framebuffer& src, const ImageRect& r) {
  std::int64_t cx = 0;
  std::int64_t cy = 0;
  if (!UniformShift(r.col_lo, r.col_hi, r.sx, r.dx, cx)) return false;
  if (!UniformShift(r.row_lo, r.row_hi, r.sy, r.dy, cy)) return false;
  const std::int64_t W = static_cast<std::int64_t>(dst.width);
  const std::int64_t H = static_cast<std::int64_t>(dst.height);
  // Destination pixels that receive anything: the landing range plus one to the right and down.
  const std::int64_t x_lo = std::max<std::int64_t>(r.col_lo + cx, 0);
  const std::int64_t x_hi = std::min<std::int64_t>(r.col_hi + cx, W - 1);  // inclusive
  const std::int64_t y_lo = std::max<std::int64_t>(r.row_lo + cy, 0);
  const std::int64_t y_hi = std::min<std::int64_t>(r.row_hi + cy, H - 1);  // inclusive
  if (x_lo > x_hi || y_lo > y_hi) return true;

  // Destination columns go in tiles so that the scratch rows fit on the stack. A tile of n
  // destination pixels reads n + 1 source columns, starting at its own first column's column a.
  constexpr std::int64_t kTile = 128;
  constexpr std::int64_t kSpan = 3 * (kTile + 1) + 1;  // floats, one spare for the vector tail
  alignas(16) float col_a0[kSpan];  // (1 - tx) per source column, repeated for its 3 channels
  alignas(16) float col_a1[kSpan];  // tx
  alignas(16) float rows_v[2][kSpan];  // k * source pixel, or 0 where the plain loop skips
  const AddTermsFn add_terms = SelectedAddTerms();
  for (std::int64_t tile_x = x_lo; tile_x <= x_hi; tile_x += kTile) {
    const std::int64_t n = std::min(kTile, x_hi + 1 - tile_x);
    const std::int64_t j0 = tile_x - cx - 1;  // source column of local float 0
    const std::int64_t floats = 3 * (n + 1);
    for (std::int64_t c = 0; c <= n; ++c) {
      const std::int64_t j = j0 + c;
      float a0 = 0.0f;
      float a1 = 0.0f;
      if (j >= r.col_lo && j < r.col_hi) {
        const float tx = LandingOf(j, r.sx, r.dx).t;
        a0 = 1.0f - tx;
        a1 = tx;
      }
      for (int ch = 0; ch < 3; ++ch) {
        col_a0[3 * c + ch] = a0;
        col_a1[3 * c + ch] = a1;
      }
    }
    col_a0[floats] = col_a1[floats] = 0.0f;

    // Fills one scratch row from source row i (all zero outside the rectangle); false when the
    // whole row adds nothing. Four pixels (twelve floats) at a time: the scaled channels are
    // regrouped per channel to form each pixel's sum (x + y) + z, and the skip decision is
    // spread back over the pixel's three floats. Runs of black source pixels are passed over.
    const __m128 scale = _mm_set1_ps(r.k);
    const __m128 dim = _mm_set1_ps(1e-5f);
    const auto load_row = [&](std::int64_t i, float* v) {
      const std::int64_t c_lo = std::max<std::int64_t>(r.col_lo - j0, 0);
      const std::int64_t c_hi = std::min<std::int64_t>(r.col_hi - j0, n + 1);  // exclusive
      if (i < r.row_lo || i >= r.row_hi || c_lo >= c_hi) {
        std::fill(v, v + floats + 1, 0.0f);
        return false;
      }
      // Only the columns outside the rectangle are cleared here; the loop writes the others.
      std::fill(v, v + 3 * c_lo, 0.0f);
      std::fill(v + 3 * c_hi, v + floats + 1, 0.0f);
      const Vec3* row = src.pixels.data() + static_cast<std::size_t>(i) * src.width;
      const float* in = &row[j0 + c_lo].x;
      float* out = v + 3 * c_lo;
      const std::int64_t count = c_hi - c_lo;
      int kept = 0;
      std::int64_t c = 0;
      for (; c + 4 <= count; c += 4, in += 12, out += 12) {
        const __m128 raw0 = _mm_loadu_ps(in);
        const __m128 raw1 = _mm_loadu_ps(in + 4);
        const __m128 raw2 = _mm_loadu_ps(in + 8);
        const __m128i bits = _mm_castps_si128(_mm_or_ps(_mm_or_ps(raw0, raw1), raw2));
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(bits, _mm_setzero_si128())) == 0xFFFF) {
          _mm_storeu_ps(out, _mm_setzero_ps());
          _mm_storeu_ps(out + 4, _mm_setzero_ps());
          _mm_storeu_ps(out + 8, _mm_setzero_ps());
          continue;
        }
        const __m128 p0 = _mm_mul_ps(scale, raw0);  // x0 y0 z0 x1
        const __m128 p1 = _mm_mul_ps(scale, raw1);  // y1 z1 x2 y2
        const __m128 p2 = _mm_mul_ps(scale, raw2);  // z2 x3 y3 z3
        const __m128 xs = _mm_shuffle_ps(_mm_shuffle_ps(p0, p1, _MM_SHUFFLE(3, 2, 3, 0)),
                                         _mm_shuffle_ps(p1, p2, _MM_SHUFFLE(1, 1, 2, 2)),
                                         _MM_SHUFFLE(2, 0, 1, 0));
        const __m128 ys = _mm_shuffle_ps(_mm_shuffle_ps(p0, p1, _MM_SHUFFLE(3, 0, 1, 1)),
                                         _mm_shuffle_ps(p1, p2, _MM_SHUFFLE(2, 2, 3, 3)),
                                         _MM_SHUFFLE(2, 0, 2, 0));
        const __m128 zs = _mm_shuffle_ps(_mm_shuffle_ps(p0, p1, _MM_SHUFFLE(1, 1, 2, 2)),
                                         _mm_shuffle_ps(p2, p2, _MM_SHUFFLE(3, 3, 0, 0)),
                                         _MM_SHUFFLE(2, 0, 2, 0));
        // Not (sum <= 1e-5), so that a NaN is kept as the plain loop keeps it.
        const __m128 keep = _mm_cmpnle_ps(_mm_add_ps(_mm_add_ps(xs, ys), zs), dim);
        kept |= _mm_movemask_ps(keep);
        _mm_storeu_ps(out, _mm_and_ps(p0, _mm_shuffle_ps(keep, keep, _MM_SHUFFLE(1, 0, 0, 0))));
        _mm_storeu_ps(out + 4,
                      _mm_and_ps(p1, _mm_shuffle_ps(keep, keep, _MM_SHUFFLE(2, 2, 1, 1))));
        _mm_storeu_ps(out + 8,
                      _mm_and_ps(p2, _mm_shuffle_ps(keep, keep, _MM_SHUFFLE(3, 3, 3, 2))));
      }
      for (; c < count; ++c, in += 3, out += 3) {
        const Vec3 t{r.k * in[0], r.k * in[1], r.k * in[2]};
        if (t.x + t.y + t.z <= 1e-5f) {
          out[0] = out[1] = out[2] = 0.0f;
          continue;
        }
        out[0] = t.x;
        out[1] = t.y;
        out[2] = t.z;
        kept = 1;
      }
      return kept != 0;
    };

    int slot_a = 0;  // scratch row holding source row a of the current destination row
    bool any_a = load_row(y_lo - cy - 1, rows_v[slot_a]);
    for (std::int64_t Y = y_lo; Y <= y_hi; ++Y) {
      const std::int64_t ib = Y - cy;
      const float* va = rows_v[slot_a];
      float* vb = rows_v[1 - slot_a];
      const bool any_b = load_row(ib, vb);
      if (any_a || any_b) {
        // Row fractions of rows a and b (0 weights for a row outside the rectangle; its pixels
        // are zero anyway).
        const float ty_a = (ib - 1 >= r.row_lo && ib - 1 < r.row_hi)
                               ? LandingOf(ib - 1, r.sy, r.dy).t
                               : 0.0f;
        const float ty_b =
            (ib >= r.row_lo && ib < r.row_hi) ? LandingOf(ib, r.sy, r.dy).t : 0.0f;
        TermRow row;
        row.d = &dst.pixels[static_cast<std::size_t>(Y * W + tile_x)].x;
        row.floats = 3 * n;
        row.va = any_a ? va : nullptr;
        row.vb = any_b ? vb : nullptr;
        row.a0 = col_a0;
        row.a1 = col_a1;
        row.b1 = ty_a;          // row a is above: weight ty
        row.b0 = 1.0f - ty_b;   // row b: weight 1 - ty
        add_terms(row);
      }
      slot_a = 1 - slot_a;
      any_a = any_b;
    }
  }
  return true;
}
}  // namespace

Framebuffer::Framebuffer(std::size_t width_, std::size_t height_)
    : width(width_),
      height(height_),
      pixels(width_ * height_, Vec3{0.0f, 0.0f, 0.0f}),
      rgba(width_ * height_, kOpaqueBlack) {}

void Framebuffer::Fill(Vec3 colour) {
  if (!IsFinite(colour)) return;
  std::fill(pixels.begin(), pixels.end(), colour);
}

void Framebuffer::Clear() {
  // Every channel's bits ORed together, a block at a time so a mark ends the scan early.
  const std::size_t floats = 3 * pixels.size();
  if (floats == 0) return;
  const float* c = &pixels[0].x;
  constexpr std::size_t kBlock = 1024;  // floats per check
  std::size_t i = 0;
  bool black = true;
  while (black && i + kBlock <= floats) {
    __m128i bits = _mm_setzero_si128();
    for (std::size_t end = i + kBlock; i < end; i += 16) {
      const __m128i a = _mm_castps_si128(_mm_loadu_ps(c + i));
      const __m128i b = _mm_castps_si128(_mm_loadu_ps(c + i + 4));
      const __m128i d = _mm_castps_si128(_mm_loadu_ps(c + i + 8));
      const __m128i e = _mm_castps_si128(_mm_loadu_ps(c + i + 12));
      bits = _mm_or_si128(bits, _mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(d, e)));
    }
    black = _mm_movemask_epi8(_mm_cmpeq_epi8(bits, _mm_setzero_si128())) == 0xFFFF;
  }
  for (; black && i < floats; ++i) {
    std::uint32_t word;
    std::memcpy(&word, c + i, sizeof word);
    black = word == 0;
  }
  if (!black) Fill(Vec3(0.0f, 0.0f, 0.0f));
}

void Framebuffer::ScaleAdd(float k, Vec3 add) {
  if (!std::isfinite(k) || !IsFinite(add)) return;
  const std::size_t count = pixels.size();
  if (count == 0) return;
  // Four pixels are twelve channels, three vectors whose lanes cycle through x, y, z.
  float* c = &pixels[0].x;
  const __m128 scale = _mm_set1_ps(k);
  const __m128 add0 = _mm_setr_ps(add.x, add.y, add.z, add.x);
  const __m128 add1 = _mm_setr_ps(add.y, add.z, add.x, add.y);
  const __m128 add2 = _mm_setr_ps(add.z, add.x, add.y, add.z);
  std::size_t i = 0;
  for (; i + 4 <= count; i += 4, c += 12) {
    _mm_storeu_ps(c, _mm_add_ps(_mm_mul_ps(scale, _mm_loadu_ps(c)), add0));
    _mm_storeu_ps(c + 4, _mm_add_ps(_mm_mul_ps(scale, _mm_loadu_ps(c + 4)), add1));
    _mm_storeu_ps(c + 8, _mm_add_ps(_mm_mul_ps(scale, _mm_loadu_ps(c + 8)), add2));
  }
  for (; i < count; ++i) {
    Vec3& p = pixels[i];
    p.x = k * p.x + add.x;
    p.y = k * p.y + add.y;
    p.z = k * p.z + add.z;
  }
}

void Framebuffer::AddScaled(const Framebuffer& src, float k) {
  if (!(k > 0.0f) || !std::isfinite(k)) return;
  if (src.width != width || src.height != height) return;
  const std::size_t count = pixels.size();
  if (count == 0) return;
  // Every channel gets the same operation: the pixels as one run of floats, four at a time.
  const float* s = &src.pixels[0].x;
  float* d = &pixels[0].x;
  const std::size_t floats = 3 * count;
  const __m128 scale = _mm_set1_ps(k);
  std::size_t i = 0;
  for (; i + 4 <= floats; i += 4) {
    _mm_storeu_ps(d + i, _mm_add_ps(_mm_loadu_ps(d + i), _mm_mul_ps(scale, _mm_loadu_ps(s + i))));
  }
  for (; i < floats; ++i) d[i] += k * s[i];
}

void Framebuffer::AddPixel(int x, int y, Vec3 colour, float k) {
  if (x < 0 || y < 0 || static_cast<std::size_t>(x) >= width ||
      static_cast<std::size_t>(y) >= height)
    return;
  if (!std::isfinite(k) || !IsFinite(colour)) return;
  Vec3& p = pixels[static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x)];
  p.x += k * colour.x;
  p.y += k * colour.y;
  p.z += k * colour.z;
}

void Framebuffer::BlendPixel(int x, int y, Vec3 colour, float a) {
  if (x < 0 || y < 0 || static_cast<std::size_t>(x) >= width ||
      static_cast<std::size_t>(y) >= height)
    return;
  if (!std::isfinite(a) || !IsFinite(colour)) return;
  const float keep = 1.0f - a;
  Vec3& p = pixels[static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x)];
  p.x = a * colour.x + keep * p.x;
  p.y = a * colour.y + keep * p.y;
  p.z = a * colour.z + keep * p.z;
}

void Framebuffer::AddRect(int x, int y, int w, int h, Vec3 colour, float k) {
  if (w <= 0 || h <= 0 || !(k > 0.0f)) return;
  if (!std::isfinite(k) || !IsFinite(colour)) return;
  const Span cols = ClipSpan(x, w, width);
  const Span rows = ClipSpan(y, h, height);
  if (cols.lo >= cols.hi || rows.lo >= rows.hi) return;
  const Vec3 add{k * colour.x, k * colour.y, k * colour.z};
  for (std::int64_t py = rows.lo; py < rows.hi; ++py) {
    Vec3* row = pixels.data() + static_cast<std::size_t>(py) * width;
    for (std::int64_t px = cols.lo; px < cols.hi; ++px) {
      row[px].x += add.x;
      row[px].y += add.y;
      row[px].z += add.z;
    }
  }
}

void Framebuffer::BlendRect(int x, int y, int w, int h, Vec3 colour, float a) {
  if (w <= 0 || h <= 0) return;
  if (!std::isfinite(a) || !IsFinite(colour)) return;
  const Span cols = ClipSpan(x, w, width);
  const Span rows = ClipSpan(y, h, height);
  if (cols.lo >= cols.hi || rows.lo >= rows.hi) return;
  const float keep = 1.0f - a;
  const Vec3 target{a * colour.x, a * colour.y, a * colour.z};
  for (std::int64_t py = rows.lo; py < rows.hi; ++py) {
    Vec3* row = pixels.data() + static_cast<std::size_t>(py) * width;
    for (std::int64_t px = cols.lo; px < cols.hi; ++px) {
      Vec3& p = row[px];
      p.x = target.x + keep * p.x;
      p.y = target.y + keep * p.y;
      p.z = target.z + keep * p.z;
    }
  }
}

void Framebuffer::AddImage(const Framebuffer& src, int sx, int sy, int sw, int sh, float dx,
                           float dy, float k) {
  // 1. Empty source rectangle, no light, or a destination point that is not a number.
  if (sw <= 0 || sh <= 0 || !(k > 0.0f) || !std::isfinite(k)) return;
  if (!std::isfinite(dx) || !std::isfinite(dy)) return;

  // 2. Clip the source rectangle to the source image.
  const Span cols = ClipSpan(sx, sw, src.width);
  const Span rows = ClipSpan(sy, sh, src.height);
  if (cols.lo >= cols.hi || rows.lo >= rows.hi) return;

  // 3. Nothing to do when the shifted rectangle misses the destination. The tests are done in
  // float so that a far-away dx or dy is rejected before any conversion to int.
  const float dest_w = static_cast<float>(width);
  const float dest_h = static_cast<float>(height);
  const float left = static_cast<float>(cols.lo - sx) + dx;
  const float right = static_cast<float>(cols.hi - sx) + dx;
  const float top = static_cast<float>(rows.lo - sy) + dy;
  const float bottom = static_cast<float>(rows.hi - sy) + dy;
  if (std::ceil(right) < 0.0f || std::ceil(bottom) < 0.0f || std::floor(left) >= dest_w ||
      std::floor(top) >= dest_h)
    return;

  // 4. Split every source pixel bilinearly over the four destination pixels around its point.
  const ImageRect rect{sx, sy, cols.lo, cols.hi, rows.lo, rows.hi, dx, dy, k};
  // The plain-path switch keeps the per-source-pixel loop, the oracle of the gather.
  if (PlainPathsForced() || !AddImageGather(*this, src, rect)) AddImageScatter(*this, src, rect);
}

namespace {

// One term of a merged glow row: weight times a source row read from the destination's first
// float on, shifted by the term's whole-pixel offset.
struct TapTerm {
  float w;
  const float* src;
};

// d[f] += the sum over the terms of w * src[f], each sum formed with fused multiply-adds in the
// order of the terms; four vectors at a time so each weight is broadcast once per 32 floats.
__attribute__((target("avx2,fma"))) void GatherTapTerms(float* d, std::int64_t floats, const TapTerm* terms,
                                                        int count) {
  std::int64_t f = 0;
  for (; f + 32 <= floats; f += 32) {
    __m256 a0 = _mm256_setzero_ps();
    __m256 a1 = _mm256_setzero_ps();
    __m256 a2 = _mm256_setzero_ps();
    __m256 a3 = _mm256_setzero_ps();
    for (int e = 0; e < count; ++e) {
      const __m256 w = _mm256_set1_ps(terms[e].w);
      const float* s = terms[e].src + f;
      a0 = _mm256_fmadd_ps(w, _mm256_loadu_ps(s), a0);
      a1 = _mm256_fmadd_ps(w, _mm256_loadu_ps(s + 8), a1);
      a2 = _mm256_fmadd_ps(w, _mm256_loadu_ps(s + 16), a2);
      a3 = _mm256_fmadd_ps(w, _mm256_loadu_ps(s + 24), a3);
    }
    _mm256_storeu_ps(d + f, _mm256_add_ps(_mm256_loadu_ps(d + f), a0));
    _mm256_storeu_ps(d + f + 8, _mm256_add_ps(_mm256_loadu_ps(d + f + 8), a1));
    _mm256_storeu_ps(d + f + 16, _mm256_add_ps(_mm256_loadu_ps(d + f + 16), a2));
    _mm256_storeu_ps(d + f + 24, _mm256_add_ps(_mm256_loadu_ps(d + f + 24), a3));
  }
  for (; f + 8 <= floats; f += 8) {
    __m256 a = _mm256_setzero_ps();
    for (int e = 0; e < count; ++e)
      a = _mm256_fmadd_ps(_mm256_set1_ps(terms[e].w), _mm256_loadu_ps(terms[e].src + f), a);
    _mm256_storeu_ps(d + f, _mm256_add_ps(_mm256_loadu_ps(d + f), a));
  }
  // The last floats one at a time, fused alike.
  for (; f < floats; ++f) {
    float a = 0.0f;
    for (int e = 0; e < count; ++e) a = std::fma(terms[e].w, terms[e].src[f], a);
    d[f] += a;
  }
}

// GatherTapTerms sixteen floats a vector: each float takes the same fused multiply-adds in the
// same order, so the same bits.
__attribute__((target("avx512f"))) void GatherTapTerms512(float* d, std::int64_t floats, const TapTerm* terms,
                                                          int count) {
  std::int64_t f = 0;
  for (; f + 64 <= floats; f += 64) {
    __m512 a0 = _mm512_setzero_ps();
    __m512 a1 = _mm512_setzero_ps();
    __m512 a2 = _mm512_setzero_ps();
    __m512 a3 = _mm512_setzero_ps();
    for (int e = 0; e < count; ++e) {
      const __m512 w = _mm512_set1_ps(terms[e].w);
      const float* s = terms[e].src + f;
      a0 = _mm512_fmadd_ps(w, _mm512_loadu_ps(s), a0);
      a1 = _mm512_fmadd_ps(w, _mm512_loadu_ps(s + 16), a1);
      a2 = _mm512_fmadd_ps(w, _mm512_loadu_ps(s + 32), a2);
      a3 = _mm512_fmadd_ps(w, _mm512_loadu_ps(s + 48), a3);
    }
    _mm512_storeu_ps(d + f, _mm512_add_ps(_mm512_loadu_ps(d + f), a0));
    _mm512_storeu_ps(d + f + 16, _mm512_add_ps(_mm512_loadu_ps(d + f + 16), a1));
    _mm512_storeu_ps(d + f + 32, _mm512_add_ps(_mm512_loadu_ps(d + f + 32), a2));
    _mm512_storeu_ps(d + f + 48, _mm512_add_ps(_mm512_loadu_ps(d + f + 48), a3));
  }
  for (; f + 16 <= floats; f += 16) {
    __m512 a = _mm512_setzero_ps();
    for (int e = 0; e < count; ++e)
      a = _mm512_fmadd_ps(_mm512_set1_ps(terms[e].w), _mm512_loadu_ps(terms[e].src + f), a);
    _mm512_storeu_ps(d + f, _mm512_add_ps(_mm512_loadu_ps(d + f), a));
  }
  for (; f < floats; ++f) {
    float a = 0.0f;
    for (int e = 0; e < count; ++e) a = std::fma(terms[e].w, terms[e].src[f], a);
    d[f] += a;
  }
}

// The merged taps of AddImageTaps, for at most this many source columns (the scratch rows are on
// the stack).
constexpr std::int64_t kMaxTapColumns = 704;
constexpr int kTapKernel = 2 * kMaxTapShift + 1;    // whole-pixel shifts -kMaxTapShift ... kMaxTapShift
constexpr std::int64_t kTapPad = 2 * kMaxTapShift;  // black source columns either side of a row

}  // namespace

void Framebuffer::AddImageTaps(const Framebuffer& src, int sx, int sy, int sw, int sh, const ImageTap* taps,
                               int count) {
  if (taps == nullptr || count <= 0) return;
  static const bool fused = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  const Span cols = ClipSpan(sx, sw, src.width);
  const Span rows = ClipSpan(sy, sh, src.height);

  // 1. The kernel: tap t sends source pixel (j, i) to the four pixels around (j + dx, i + dy),
  //    so its weights sit at the whole shifts floor(dx) and floor(dx) + 1 (and likewise in y).
  float kernel[kTapKernel][kTapKernel] = {};
  bool mergeable = fused && g_vector_limit >= 256 && !PlainPathsForced() && sw > 0 && sh > 0 &&
                   cols.hi - cols.lo <= kMaxTapColumns;
  for (int t = 0; t < count && mergeable; ++t) {
    const ImageTap& tap = taps[t];
    if (!(tap.k > 0.0f) || !std::isfinite(tap.k)) continue;  // AddImage draws nothing
    const float limit = static_cast<float>(kMaxTapShift);
    if (!(tap.dx >= -limit && tap.dx < limit && tap.dy >= -limit && tap.dy < limit)) {
      mergeable = false;
      break;
    }
    const float fx = std::floor(tap.dx);
    const float fy = std::floor(tap.dy);
    const float tx = tap.dx - fx;
    const float ty = tap.dy - fy;
    const int u = static_cast<int>(fx) + kMaxTapShift;  // kernel column of shift floor(dx)
    const int v = static_cast<int>(fy) + kMaxTapShift;
    kernel[v][u] += tap.k * ((1.0f - tx) * (1.0f - ty));  // u, v <= 2 * kMaxTapShift - 1
    kernel[v][u + 1] += tap.k * (tx * (1.0f - ty));
    kernel[v + 1][u] += tap.k * ((1.0f - tx) * ty);
    kernel[v + 1][u + 1] += tap.k * (tx * ty);
  }
  if (!mergeable) {
    for (int t = 0; t < count; ++t)
      AddImage(src, sx, sy, sw, sh, static_cast<float>(sx) + taps[t].dx, static_cast<float>(sy) + taps[t].dy,
               taps[t].k);
    return;
  }
  if (cols.lo >= cols.hi || rows.lo >= rows.hi) return;

  // 2. The shifts that carry weight, and the destination pixels they reach.
  int u_lo = kTapKernel, u_hi = -1, v_lo = kTapKernel, v_hi = -1;
  for (int v = 0; v < kTapKernel; ++v) {
    for (int u = 0; u < kTapKernel; ++u) {
      if (!(kernel[v][u] > 0.0f)) continue;
      u_lo = std::min(u_lo, u);
      u_hi = std::max(u_hi, u);
      v_lo = std::min(v_lo, v);
      v_hi = std::max(v_hi, v);
    }
  }
  if (u_hi < 0) return;
  const std::int64_t W = static_cast<std::int64_t>(width);
  const std::int64_t H = static_cast<std::int64_t>(height);
  const std::int64_t x_lo = std::max<std::int64_t>(0, cols.lo + u_lo - kMaxTapShift);
  const std::int64_t x_hi = std::min<std::int64_t>(W - 1, cols.hi - 1 + u_hi - kMaxTapShift);
  const std::int64_t y_lo = std::max<std::int64_t>(0, rows.lo + v_lo - kMaxTapShift);
  const std::int64_t y_hi = std::min<std::int64_t>(H - 1, rows.hi - 1 + v_hi - kMaxTapShift);
  if (x_lo > x_hi || y_lo > y_hi) return;

  // 3. Source rows of the rectangle copied between black margins, in a ring of the kernel's
  //    height; all-black rows are noted and add nothing.
  constexpr std::int64_t kRowFloats = 3 * (kMaxTapColumns + 2 * kTapPad);
  alignas(32) float ring[kTapKernel][kRowFloats];
  bool lit[kTapKernel] = {};
  const std::int64_t columns = cols.hi - cols.lo;
  for (auto& row : ring) {
    std::fill(row, row + 3 * kTapPad, 0.0f);
    std::fill(row + 3 * (kTapPad + columns), row + kRowFloats, 0.0f);
  }
  const auto load = [&](std::int64_t i) {
    float* row = ring[i % kTapKernel];
    const float* in =
        &src.pixels[static_cast<std::size_t>(i) * src.width + static_cast<std::size_t>(cols.lo)].x;
    const std::int64_t floats = 3 * columns;
    std::memcpy(row + 3 * kTapPad, in, static_cast<std::size_t>(floats) * sizeof(float));
    // Whether any value is other than +-0, four at a time.
    __m128 nonzero = _mm_setzero_ps();
    std::int64_t f = 0;
    for (; f + 4 <= floats; f += 4)
      nonzero = _mm_or_ps(nonzero, _mm_cmpneq_ps(_mm_loadu_ps(in + f), _mm_setzero_ps()));
    bool any = _mm_movemask_ps(nonzero) != 0;
    for (; f < floats; ++f) any = any || in[f] != 0.0f;
    lit[i % kTapKernel] = any;
  };

  // 4. Each destination row gathers its terms: weight (v, u) reads source row Y - (v - shift)
  //    at column X - (u - shift); sixteen floats a vector where the processor has AVX-512F.
  static const bool avx512 = __builtin_cpu_supports("avx512f");
  const auto gather = avx512 && g_vector_limit >= 512 ? &GatherTapTerms512 : &GatherTapTerms;
  TapTerm terms[kTapKernel * kTapKernel];
  std::int64_t loaded = rows.lo - 1;  // the last source row copied into the ring
  for (std::int64_t Y = y_lo; Y <= y_hi; ++Y) {
    const std::int64_t newest = std::min<std::int64_t>(rows.hi - 1, Y - (v_lo - kMaxTapShift));
    while (loaded < newest) load(++loaded);
    int n = 0;
    for (int v = v_lo; v <= v_hi; ++v) {
      const std::int64_t i = Y - (v - kMaxTapShift);
      if (i < rows.lo || i >= rows.hi || !lit[i % kTapKernel]) continue;
      const float* row = ring[i % kTapKernel];
      for (int u = u_lo; u <= u_hi; ++u) {
        if (!(kernel[v][u] > 0.0f)) continue;
        // Source column of destination column x_lo, as an index into the ring row.
        const std::int64_t column = x_lo - (u - kMaxTapShift) - cols.lo + kTapPad;
        terms[n++] = TapTerm{kernel[v][u], row + 3 * column};
      }
    }
    if (n == 0) continue;
    gather(&pixels[static_cast<std::size_t>(Y * W + x_lo)].x, 3 * (x_hi - x_lo + 1), terms, n);
  }
}

void LimitAddImageVectors(int bits) { g_vector_limit = bits; }

void AddImageReference(Framebuffer& dst, const Framebuffer& src, int sx, int sy, int sw, int sh,
                       float dx, float dy, float k) {
  // Steps 1 to 3 as in AddImage, then always the plain per-source-pixel loop.
  if (sw <= 0 || sh <= 0 || !(k > 0.0f) || !std::isfinite(k)) return;
  if (!std::isfinite(dx) || !std::isfinite(dy)) return;
  const Span cols = ClipSpan(sx, sw, src.width);
  const Span rows = ClipSpan(sy, sh, src.height);
  if (cols.lo >= cols.hi || rows.lo >= rows.hi) return;
  const float left = static_cast<float>(cols.lo - sx) + dx;
  const float right = static_cast<float>(cols.hi - sx) + dx;
  const float top = static_cast<float>(rows.lo - sy) + dy;
  const float bottom = static_cast<float>(rows.hi - sy) + dy;
  if (std::ceil(right) < 0.0f || std::ceil(bottom) < 0.0f ||
      std::floor(left) >= static_cast<float>(dst.width) ||
      std::floor(top) >= static_cast<float>(dst.height))
    return;
  AddImageScatter(dst, src, {sx, sy, cols.lo, cols.hi, rows.lo, rows.hi, dx, dy, k});
}

std::uint8_t ToneCurveByte(float v) {
  float t = 1.0f - std::exp(-1.15f * v);
  // Written so that NaN fails the first test and becomes 0.
  t = t > 0.0f ? t : 0.0f;
  t = t < 1.0f ? t : 1.0f;
  return static_cast<std::uint8_t>(t * 255.0f + 0.5f);
}

namespace {

// The exposure curve as a threshold table. The curve is monotonic in v, so each byte b >= 1 has
// a smallest float thr[b] from which on the byte is at least b. The thresholds are found once by
// bisection on the real curve (ToneCurveByte), which makes the table give exactly its bytes.
// Non-negative floats order like their bit patterns, so a value is located by its bits: the
// span from thr[1] to thr[255] is cut into buckets of 2^shift bit patterns, each holding the
// byte at its start and the offset of the one threshold inside it, if any. That is two integer
// compares and one small load per channel instead of an expf.
struct ToneTable {
  std::uint32_t first_bits = 0;  // bucket-aligned start of the table
  std::uint32_t full_bits = 0;   // bits of thr[255]: from here on the byte is 255
  int shift = 0;
  std::uint32_t offset_mask = 0;
  std::vector<std::uint32_t> buckets;  // byte at bucket start << 24 | threshold offset
};

std::uint32_t FloatBits(float v) { return std::bit_cast<std::uint32_t>(v); }

// Smallest non-negative float whose byte is at least b (1 <= b <= 255), as bits.
std::uint32_t ThresholdBits(int b) {
  std::uint32_t lo = 0;                  // +0 gives byte 0 < b
  std::uint32_t hi = FloatBits(100.0f);  // gives 255 >= b
  while (hi - lo > 1) {
    const std::uint32_t mid = lo + (hi - lo) / 2;
    if (ToneCurveByte(std::bit_cast<float>(mid)) >= b) {
      hi = mid;
    } else {
      lo = mid;
    }
  }
  return hi;
}

ToneTable BuildToneTable() {
  std::uint32_t thresholds[256] = {};
  for (int b = 1; b <= 255; ++b) thresholds[b] = ThresholdBits(b);
  // The widest buckets that still hold at most one threshold each (16 bits suffices for this
  // curve; the loop only guards the assumption).
  for (int shift = 16;; --shift) {
    ToneTable table;
    table.shift = shift;
    table.offset_mask = (1u << shift) - 1u;
    table.first_bits = thresholds[1] & ~table.offset_mask;
    table.full_bits = thresholds[255];
    const std::size_t count = ((table.full_bits - table.first_bits) >> shift) + 1;
    table.buckets.assign(count, 0);
    bool fits = true;
    int byte = 0;
    for (std::size_t i = 0; i < count && fits; ++i) {
      const std::uint32_t start = table.first_bits + (static_cast<std::uint32_t>(i) << shift);
      const std::uint32_t end = start + table.offset_mask;  // inclusive
      while (byte < 255 && thresholds[byte + 1] <= start) ++byte;
      std::uint32_t entry = static_cast<std::uint32_t>(byte) << 24 | (1u << shift);
      if (byte < 255 && thresholds[byte + 1] <= end) {
        entry = static_cast<std::uint32_t>(byte) << 24 | (thresholds[byte + 1] - start);
        if (byte + 1 < 255 && thresholds[byte + 2] <= end) fits = false;
      }
      table.buckets[i] = entry;
    }
    if (fits) return table;
  }
}

const ToneTable& GetToneTable() {
  static const ToneTable table = BuildToneTable();
  return table;
}

inline std::uint32_t ToneByte(const ToneTable& table, float v) {
  const std::uint32_t bits = FloatBits(v);
  if (bits < table.first_bits) return 0;  // +0, denormals and values too dim for byte 1
  if (bits >= table.full_bits) {
    // Up to +infinity the byte is 255; above that lie NaNs and all negative values, which give 0.
    return bits <= 0x7F800000u ? 255u : 0u;
  }
  const std::uint32_t rel = bits - table.first_bits;
  const std::uint32_t entry = table.buckets[rel >> table.shift];
  const std::uint32_t offset = rel & table.offset_mask;
  return (entry >> 24) + (offset >= (entry & 0xFFFFFFu) ? 1u : 0u);
}

// ToneByte for four channels at once in SSE2 lanes: the range tests and the bucket arithmetic
// four wide, the bucket reads one at a time. Bit patterns compare as signed integers here: every
// negative value (sign bit set) then lies below first_bits and gives 0, as in ToneByte.
inline __m128i ToneBytes4(const ToneTable& table, const std::uint32_t* buckets, __m128i bits) {
  const __m128i first = _mm_set1_epi32(static_cast<std::int32_t>(table.first_bits));
  const __m128i full = _mm_set1_epi32(static_cast<std::int32_t>(table.full_bits));
  const __m128i below = _mm_cmplt_epi32(bits, first);
  const __m128i at_full = _mm_cmpgt_epi32(full, bits);  // bits < full_bits
  const __m128i middle = _mm_andnot_si128(below, at_full);
  // From thr[255] up to +infinity 255; NaNs above it 0.
  const __m128i not_nan = _mm_cmplt_epi32(bits, _mm_set1_epi32(0x7F800001));
  const __m128i saturated = _mm_and_si128(_mm_andnot_si128(at_full, not_nan), _mm_set1_epi32(255));

  const __m128i rel = _mm_and_si128(_mm_sub_epi32(bits, first), middle);  // 0 outside the middle
  const __m128i index = _mm_srl_epi32(rel, _mm_cvtsi32_si128(table.shift));
  const __m128i offset = _mm_and_si128(rel, _mm_set1_epi32(static_cast<std::int32_t>(table.offset_mask)));
  alignas(16) std::uint32_t at[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(at), index);
  const __m128i entry = _mm_setr_epi32(
      static_cast<std::int32_t>(buckets[at[0]]), static_cast<std::int32_t>(buckets[at[1]]),
      static_cast<std::int32_t>(buckets[at[2]]), static_cast<std::int32_t>(buckets[at[3]]));
  // Both the offset and the threshold offset are below 2^24, so the signed compare is exact.
  const __m128i short_of = _mm_cmplt_epi32(offset, _mm_and_si128(entry, _mm_set1_epi32(0xFFFFFF)));
  const __m128i byte =
      _mm_add_epi32(_mm_srli_epi32(entry, 24), _mm_andnot_si128(short_of, _mm_set1_epi32(1)));
  return _mm_or_si128(_mm_and_si128(middle, byte), _mm_andnot_si128(middle, saturated));
}

// The twelve channel bytes of four pixels (as the 32-bit lanes of v0, v1, v2, in R G B R G B
// order) packed into four RGBA words: pixel k's three bytes move from byte 3k to byte 4k and the
// alpha is set.
inline void StoreRgba4(std::uint32_t* dst, __m128i v0, __m128i v1, __m128i v2) {
  const __m128i pixel0 = _mm_setr_epi32(0x00FFFFFF, 0, 0, 0);
  const __m128i pixel1 = _mm_setr_epi32(0, 0x00FFFFFF, 0, 0);
  const __m128i pixel2 = _mm_setr_epi32(0, 0, 0x00FFFFFF, 0);
  const __m128i pixel3 = _mm_setr_epi32(0, 0, 0, 0x00FFFFFF);
  const __m128i alpha = _mm_set1_epi32(static_cast<std::int32_t>(kOpaqueBlack));
  // Every value is 0 ... 255, so the saturating packs keep them as they are.
  const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(v0, v1), _mm_packs_epi32(v2, v2));
  __m128i words = _mm_and_si128(bytes, pixel0);
  words = _mm_or_si128(words, _mm_and_si128(_mm_slli_si128(bytes, 1), pixel1));
  words = _mm_or_si128(words, _mm_and_si128(_mm_slli_si128(bytes, 2), pixel2));
  words = _mm_or_si128(words, _mm_and_si128(_mm_slli_si128(bytes, 3), pixel3));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_or_si128(words, alpha));
}

// ToneBytes4 eight channels wide, the bucket reads gathered.
__attribute__((target("avx2"))) inline __m256i ToneBytes8(const ToneTable& table,
                                                          const std::uint32_t* buckets,
                                                          __m256i bits) {
  const __m256i first = _mm256_set1_epi32(static_cast<std::int32_t>(table.first_bits));
  const __m256i full = _mm256_set1_epi32(static_cast<std::int32_t>(table.full_bits));
  const __m256i below = _mm256_cmpgt_epi32(first, bits);
  const __m256i at_full = _mm256_cmpgt_epi32(full, bits);  // bits < full_bits
  const __m256i middle = _mm256_andnot_si256(below, at_full);
  const __m256i not_nan = _mm256_cmpgt_epi32(_mm256_set1_epi32(0x7F800001), bits);
  const __m256i saturated =
      _mm256_and_si256(_mm256_andnot_si256(at_full, not_nan), _mm256_set1_epi32(255));

  const __m256i rel = _mm256_and_si256(_mm256_sub_epi32(bits, first), middle);
  const __m256i index = _mm256_srl_epi32(rel, _mm_cvtsi32_si128(table.shift));
  const __m256i offset =
      _mm256_and_si256(rel, _mm256_set1_epi32(static_cast<std::int32_t>(table.offset_mask)));
  const __m256i entry =
      _mm256_i32gather_epi32(reinterpret_cast<const int*>(buckets), index, 4);
  const __m256i short_of =
      _mm256_cmpgt_epi32(_mm256_and_si256(entry, _mm256_set1_epi32(0xFFFFFF)), offset);
  const __m256i byte = _mm256_add_epi32(_mm256_srli_epi32(entry, 24),
                                        _mm256_andnot_si256(short_of, _mm256_set1_epi32(1)));
  return _mm256_or_si256(_mm256_and_si256(middle, byte), _mm256_andnot_si256(middle, saturated));
}

// Eight pixels (24 channels, three vectors) at a time; returns how many pixels it converted.
__attribute__((target("avx2"))) std::size_t ResolveAvx2(const ToneTable& table,
                                                        const float* channels,
                                                        std::uint32_t* dst, std::size_t count) {
  const std::uint32_t* buckets = table.buckets.data();
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const float* c = channels + 3 * i;
    const __m256i v0 =
        ToneBytes8(table, buckets, _mm256_castps_si256(_mm256_loadu_ps(c)));
    const __m256i v1 =
        ToneBytes8(table, buckets, _mm256_castps_si256(_mm256_loadu_ps(c + 8)));
    const __m256i v2 =
        ToneBytes8(table, buckets, _mm256_castps_si256(_mm256_loadu_ps(c + 16)));
    StoreRgba4(dst + i, _mm256_castsi256_si128(v0), _mm256_extracti128_si256(v0, 1),
               _mm256_castsi256_si128(v1));
    StoreRgba4(dst + i + 4, _mm256_extracti128_si256(v1, 1), _mm256_castsi256_si128(v2),
               _mm256_extracti128_si256(v2, 1));
  }
  return i;
}

// ToneBytes8 sixteen channels wide with AVX-512: the same integer steps, the range tests as
// masks, and only the channels in the table's middle range gathered. (The masked and zeroing
// forms of the intrinsics, with every lane selected, because GCC 12 warns of the undefined
// source vector that the plain forms pass.)
__attribute__((target("avx512f,avx512bw"))) inline __m512i ToneBytes16(const ToneTable& table,
                                                                       const std::uint32_t* buckets,
                                                                       __m512i bits) {
  const __m512i first = _mm512_set1_epi32(static_cast<std::int32_t>(table.first_bits));
  const __m512i full = _mm512_set1_epi32(static_cast<std::int32_t>(table.full_bits));
  const __mmask16 below = _mm512_cmplt_epi32_mask(bits, first);
  const __mmask16 at_full = _mm512_cmplt_epi32_mask(bits, full);  // bits < full_bits
  const __mmask16 middle = static_cast<__mmask16>(~below & at_full);
  const __mmask16 not_nan = _mm512_cmplt_epi32_mask(bits, _mm512_set1_epi32(0x7F800001));
  const __mmask16 saturating = static_cast<__mmask16>(~at_full & not_nan);
  const __m512i saturated = _mm512_maskz_mov_epi32(saturating, _mm512_set1_epi32(255));

  const __m512i rel = _mm512_maskz_sub_epi32(middle, bits, first);
  const __m512i index = _mm512_maskz_srl_epi32(0xFFFF, rel, _mm_cvtsi32_si128(table.shift));
  const __m512i offset =
      _mm512_and_si512(rel, _mm512_set1_epi32(static_cast<std::int32_t>(table.offset_mask)));
  const __m512i entry = _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), middle, index, buckets, 4);
  const __mmask16 short_of =
      _mm512_cmpgt_epi32_mask(_mm512_and_si512(entry, _mm512_set1_epi32(0xFFFFFF)), offset);
  const __m512i top_byte = _mm512_maskz_srli_epi32(0xFFFF, entry, 24);
  const __m512i byte =
      _mm512_mask_add_epi32(top_byte, static_cast<__mmask16>(~short_of), top_byte, _mm512_set1_epi32(1));
  return _mm512_mask_mov_epi32(saturated, middle, byte);
}

// Sixteen pixels (48 channels, three vectors) at a time; returns how many pixels it converted.
// The channel bytes are narrowed, each group of three dwords (four pixels) moved into its
// 128-bit lane, the bytes spread to RGBA within the lanes and the alpha set.
__attribute__((target("avx512f,avx512bw"))) std::size_t ResolveAvx512(const ToneTable& table,
                                                                      const float* channels,
                                                                      std::uint32_t* dst, std::size_t count) {
  const std::uint32_t* buckets = table.buckets.data();
  const __m512i spread_dwords = _mm512_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0, 6, 7, 8, 0, 9, 10, 11, 0);
  // In each lane: bytes 0 1 2, 3 4 5, 6 7 8, 9 10 11 to the low three bytes of each dword.
  const __m512i spread_bytes =
      _mm512_setr4_epi32(static_cast<std::int32_t>(0xFF020100u), static_cast<std::int32_t>(0xFF050403u),
                         static_cast<std::int32_t>(0xFF080706u), static_cast<std::int32_t>(0xFF0B0A09u));
  const __m512i alpha = _mm512_set1_epi32(static_cast<std::int32_t>(kOpaqueBlack));
  std::size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const float* c = channels + 3 * i;
    const __m128i b0 = _mm512_maskz_cvtepi32_epi8(
        0xFFFF, ToneBytes16(table, buckets, _mm512_castps_si512(_mm512_loadu_ps(c))));
    const __m128i b1 = _mm512_maskz_cvtepi32_epi8(
        0xFFFF, ToneBytes16(table, buckets, _mm512_castps_si512(_mm512_loadu_ps(c + 16))));
    const __m128i b2 = _mm512_maskz_cvtepi32_epi8(
        0xFFFF, ToneBytes16(table, buckets, _mm512_castps_si512(_mm512_loadu_ps(c + 32))));
    __m512i bytes = _mm512_castsi128_si512(b0);
    bytes = _mm512_inserti32x4(bytes, b1, 1);
    bytes = _mm512_inserti32x4(bytes, b2, 2);
    const __m512i lanes = _mm512_maskz_permutexvar_epi32(0xFFFF, spread_dwords, bytes);
    const __m512i rgba = _mm512_or_si512(_mm512_shuffle_epi8(lanes, spread_bytes), alpha);
    _mm512_storeu_si512(dst + i, rgba);
  }
  return i;
}

int g_resolve_vector_limit = 512;

}  // namespace

void LimitResolveVectors(int bits) {
  g_resolve_vector_limit = bits;
}

void Framebuffer::ResolveRgba8() {
  const ToneTable& table = GetToneTable();
  const std::uint32_t* buckets = table.buckets.data();
  const std::size_t count = pixels.size();
  const Vec3* src = pixels.data();
  std::uint32_t* dst = rgba.data();
  const float* channels = count != 0 ? &src[0].x : nullptr;
  std::size_t i = 0;
  // Sixteen pixels at a time where the processor has AVX-512 (F and BW), eight where it has AVX2
  // (the plain-path switch keeps SSE2), then four, then one.
  static const bool avx2 = __builtin_cpu_supports("avx2") && !PlainPathsForced();
  static const bool avx512 = avx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
  if (avx512 && g_resolve_vector_limit >= 512 && count != 0) i = ResolveAvx512(table, channels, dst, count);
  if (avx2 && g_resolve_vector_limit >= 256 && count != 0)
    i += ResolveAvx2(table, channels + 3 * i, dst + i, count - i);
  for (; i + 4 <= count; i += 4) {
    const float* c = channels + 3 * i;
    const __m128i v0 = ToneBytes4(table, buckets, _mm_castps_si128(_mm_loadu_ps(c)));
    const __m128i v1 = ToneBytes4(table, buckets, _mm_castps_si128(_mm_loadu_ps(c + 4)));
    const __m128i v2 = ToneBytes4(table, buckets, _mm_castps_si128(_mm_loadu_ps(c + 8)));
    StoreRgba4(dst + i, v0, v1, v2);
  }
  for (; i < count; ++i) {
    const std::uint32_t r = ToneByte(table, src[i].x);
    const std::uint32_t g = ToneByte(table, src[i].y);
    const std::uint32_t b = ToneByte(table, src[i].z);
    dst[i] = kOpaqueBlack + b * 65536u + g * 256u + r;
  }
}
