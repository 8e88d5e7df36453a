#include "render/splat_kernel.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "render/plain_paths.h"

namespace splat_kernel {

namespace {

// The constants of one splat, shared by every version.
struct Disc {
  float r2;      // R2 = radius^2 + 0.0001
  float inv_r2;  // 1 / R2, the one reciprocal per splat
};
Disc MakeDisc(float radius) {
  const float r2 = radius * radius + 0.0001f;
  return {r2, 1.0f / r2};
}

// One pixel exactly as the reference adds it.
inline void AddPixel(Vec3& p, float px, float x, float dy2, Disc disc, Vec3 colour, float intensity) {
  const float dx = px + 0.5f - x;
  const float d2 = dx * dx + dy2;
  if (!(d2 < disc.r2)) return;
  const float falloff = 1.0f - d2 * disc.inv_r2;
  const float weight = falloff * falloff * intensity;
  p.x += weight * colour.x;
  p.y += weight * colour.y;
  p.z += weight * colour.z;
}

// The columns of one row that can lie inside the disc: the square footprint's row narrowed to
// the chord at this height, widened by a pixel on each side so float rounding of the chord can
// never drop a pixel the per-pixel test would keep. Returns false when the row misses the disc
// altogether (then dx*dx + dy2 >= dy2 >= R2 for every pixel, so nothing would be added).
bool RowChord(float x, float dy2, Disc disc, Span cols, Span& out) {
  const float rest = disc.r2 - dy2;
  if (!(rest > 0.0f)) return false;
  out = cols;
  // Far-away centres or huge radii would make x - h lose its integer part; keep the square.
  if (!(std::fabs(x) < 1.0e6f) || !(rest < 1.0e12f)) return true;
  const float h = std::sqrt(rest);
  const float lo = std::floor(x - 0.5f - h) - 1.0f;
  const float hi = std::ceil(x - 0.5f + h) + 1.0f;
  if (lo > static_cast<float>(out.lo)) out.lo = static_cast<int>(lo);
  if (hi < static_cast<float>(out.hi)) out.hi = static_cast<int>(hi);
  return out.lo <= out.hi;
}

// Lanes (a, b, c, d) of v picked in the order d, c, b, a of the shuffle's arguments.
template <int D, int C, int B, int A>
inline __m128 SpreadSse2(__m128 v) {
  return _mm_shuffle_ps(v, v, _MM_SHUFFLE(D, C, B, A));
}

// Four floats of three pixels: p += weight * colour where `inside` is set, untouched elsewhere
// (a blend rather than adding zero, which would turn a stored -0.0 into +0.0).
inline void AddSpread(float* p, __m128 weight, __m128 inside, __m128 colour) {
  const __m128 old = _mm_loadu_ps(p);
  const __m128 sum = _mm_add_ps(old, _mm_mul_ps(weight, colour));
  _mm_storeu_ps(p, _mm_or_ps(_mm_and_ps(inside, sum), _mm_andnot_ps(inside, old)));
}

}  // namespace

void Reference(Vec3* pixels, std::size_t width, float x, float y, float radius, Vec3 colour, float intensity,
               Span cols, Span rows) {
  const Disc disc = MakeDisc(radius);
  for (int py = rows.lo; py <= rows.hi; ++py) {
    const float dy = static_cast<float>(py) + 0.5f - y;
    const float dy2 = dy * dy;
    Vec3* row = pixels + static_cast<std::size_t>(py) * width;
    for (int px = cols.lo; px <= cols.hi; ++px) {
      AddPixel(row[px], static_cast<float>(px), x, dy2, disc, colour, intensity);
    }
  }
}

void Sse2(Vec3* pixels, std::size_t width, float x, float y, float radius, Vec3 colour, float intensity,
          Span cols, Span rows) {
  const Disc disc = MakeDisc(radius);
  const __m128 lane_offset = _mm_setr_ps(0.0f, 1.0f, 2.0f, 3.0f);
  const __m128 half = _mm_set1_ps(0.5f);
  const __m128 centre_x = _mm_set1_ps(x);
  const __m128 r2 = _mm_set1_ps(disc.r2);
  const __m128 inv_r2 = _mm_set1_ps(disc.inv_r2);
  const __m128 one = _mm_set1_ps(1.0f);
  const __m128 gain = _mm_set1_ps(intensity);
  // Four pixels are twelve floats r g b r | g b r g | b r g b: the colour in that pattern, and
  // each weight spread over its pixel's three floats by shuffles.
  const __m128 colour0 = _mm_setr_ps(colour.x, colour.y, colour.z, colour.x);
  const __m128 colour1 = _mm_setr_ps(colour.y, colour.z, colour.x, colour.y);
  const __m128 colour2 = _mm_setr_ps(colour.z, colour.x, colour.y, colour.z);
  for (int py = rows.lo; py <= rows.hi; ++py) {
    const float dy = static_cast<float>(py) + 0.5f - y;
    const float dy2 = dy * dy;
    Span chord;
    if (!RowChord(x, dy2, disc, cols, chord)) continue;
    const __m128 dy2_lanes = _mm_set1_ps(dy2);
    Vec3* row = pixels + static_cast<std::size_t>(py) * width;
    int px = chord.lo;
    for (; px + 3 <= chord.hi; px += 4) {
      // Pixel indices are far below 2^24, so px + k is exact in float.
      const __m128 column = _mm_add_ps(_mm_set1_ps(static_cast<float>(px)), lane_offset);
      const __m128 dx = _mm_sub_ps(_mm_add_ps(column, half), centre_x);
      const __m128 d2 = _mm_add_ps(_mm_mul_ps(dx, dx), dy2_lanes);
      const __m128 inside = _mm_cmplt_ps(d2, r2);
      const __m128 falloff = _mm_sub_ps(one, _mm_mul_ps(d2, inv_r2));
      const __m128 weight = _mm_mul_ps(_mm_mul_ps(falloff, falloff), gain);
      float* p = &row[px].x;
      AddSpread(p, SpreadSse2<1, 0, 0, 0>(weight), SpreadSse2<1, 0, 0, 0>(inside), colour0);
      AddSpread(p + 4, SpreadSse2<2, 2, 1, 1>(weight), SpreadSse2<2, 2, 1, 1>(inside), colour1);
      AddSpread(p + 8, SpreadSse2<3, 3, 3, 2>(weight), SpreadSse2<3, 3, 3, 2>(inside), colour2);
    }
    for (; px <= chord.hi; ++px) {
      AddPixel(row[px], static_cast<float>(px), x, dy2, disc, colour, intensity);
    }
  }
}

__attribute__((target("avx2"))) void Avx2(Vec3* pixels, std::size_t width, float x, float y, float radius,
                                          Vec3 colour, float intensity, Span cols, Span rows) {
  const Disc disc = MakeDisc(radius);
  const __m256 lane_offset = _mm256_setr_ps(0.0f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f);
  const __m256 half = _mm256_set1_ps(0.5f);
  const __m256 centre_x = _mm256_set1_ps(x);
  const __m256 r2 = _mm256_set1_ps(disc.r2);
  const __m256 inv_r2 = _mm256_set1_ps(disc.inv_r2);
  const __m256 one = _mm256_set1_ps(1.0f);
  const __m256 gain = _mm256_set1_ps(intensity);
  // Eight pixels are 24 floats in three registers; colour pattern and weight spreading as in
  // the SSE2 version, with lane permutes.
  const float r = colour.x, g = colour.y, b = colour.z;
  const __m256 colour0 = _mm256_setr_ps(r, g, b, r, g, b, r, g);
  const __m256 colour1 = _mm256_setr_ps(b, r, g, b, r, g, b, r);
  const __m256 colour2 = _mm256_setr_ps(g, b, r, g, b, r, g, b);
  const __m256i spread0 = _mm256_setr_epi32(0, 0, 0, 1, 1, 1, 2, 2);
  const __m256i spread1 = _mm256_setr_epi32(2, 3, 3, 3, 4, 4, 4, 5);
  const __m256i spread2 = _mm256_setr_epi32(5, 5, 6, 6, 6, 7, 7, 7);
  const __m256i float_index = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  for (int py = rows.lo; py <= rows.hi; ++py) {
    const float dy = static_cast<float>(py) + 0.5f - y;
    const float dy2 = dy * dy;
    Span chord;
    if (!RowChord(x, dy2, disc, cols, chord)) continue;
    const __m256 dy2_lanes = _mm256_set1_ps(dy2);
    Vec3* row = pixels + static_cast<std::size_t>(py) * width;
    for (int px = chord.lo; px <= chord.hi; px += 8) {
      const __m256 column = _mm256_add_ps(_mm256_set1_ps(static_cast<float>(px)), lane_offset);
      const __m256 dx = _mm256_sub_ps(_mm256_add_ps(column, half), centre_x);
      const __m256 d2 = _mm256_add_ps(_mm256_mul_ps(dx, dx), dy2_lanes);
      const __m256 inside = _mm256_cmp_ps(d2, r2, _CMP_LT_OQ);
      const __m256 falloff = _mm256_sub_ps(one, _mm256_mul_ps(d2, inv_r2));
      const __m256 weight = _mm256_mul_ps(_mm256_mul_ps(falloff, falloff), gain);
      const __m256 add0 = _mm256_mul_ps(_mm256_permutevar8x32_ps(weight, spread0), colour0);
      const __m256 add1 = _mm256_mul_ps(_mm256_permutevar8x32_ps(weight, spread1), colour1);
      const __m256 add2 = _mm256_mul_ps(_mm256_permutevar8x32_ps(weight, spread2), colour2);
      // Pixels outside the disc keep their bits (a blend rather than adding zero, which would
      // turn a stored -0.0 into +0.0).
      const __m256 keep0 = _mm256_permutevar8x32_ps(inside, spread0);
      const __m256 keep1 = _mm256_permutevar8x32_ps(inside, spread1);
      const __m256 keep2 = _mm256_permutevar8x32_ps(inside, spread2);
      float* p = &row[px].x;
      if (px + 7 <= cols.hi) {
        const __m256 old0 = _mm256_loadu_ps(p);
        const __m256 old1 = _mm256_loadu_ps(p + 8);
        const __m256 old2 = _mm256_loadu_ps(p + 16);
        _mm256_storeu_ps(p, _mm256_blendv_ps(old0, _mm256_add_ps(old0, add0), keep0));
        _mm256_storeu_ps(p + 8, _mm256_blendv_ps(old1, _mm256_add_ps(old1, add1), keep1));
        _mm256_storeu_ps(p + 16, _mm256_blendv_ps(old2, _mm256_add_ps(old2, add2), keep2));
        continue;
      }
      // The last run at the range's edge: masked loads and stores touch only its pixels, and
      // of those only the ones inside the disc are written.
      const int floats = 3 * (chord.hi - px + 1);
      const __m256i run0 = _mm256_cmpgt_epi32(_mm256_set1_epi32(floats), float_index);
      const __m256i run1 = _mm256_cmpgt_epi32(_mm256_set1_epi32(floats - 8), float_index);
      const __m256i run2 = _mm256_cmpgt_epi32(_mm256_set1_epi32(floats - 16), float_index);
      const __m256i mask0 = _mm256_and_si256(run0, _mm256_castps_si256(keep0));
      const __m256i mask1 = _mm256_and_si256(run1, _mm256_castps_si256(keep1));
      const __m256i mask2 = _mm256_and_si256(run2, _mm256_castps_si256(keep2));
      _mm256_maskstore_ps(p, mask0, _mm256_add_ps(_mm256_maskload_ps(p, mask0), add0));
      _mm256_maskstore_ps(p + 8, mask1, _mm256_add_ps(_mm256_maskload_ps(p + 8, mask1), add1));
      _mm256_maskstore_ps(p + 16, mask2, _mm256_add_ps(_mm256_maskload_ps(p + 16, mask2), add2));
    }
  }
}

namespace {

// What every run of a splat shares in the AVX-512 version.
struct Run512 {
  __m512 r2, inv_r2, one, gain;
  __m512 colour0, colour1, colour2;   // r g b r ... shifted by one colour per register
  __m512i spread0, spread1, spread2;  // lane of the weight for each of the 48 floats
};

// Adds up to sixteen pixels starting at p, given their d2 and the lanes that belong to the run.
__attribute__((target("avx512f,bmi2"), always_inline)) inline void AddRun512(float* p, __m512 d2,
                                                                             __mmask16 run, const Run512& k) {
  const __mmask16 inside = _mm512_mask_cmp_ps_mask(run, d2, k.r2, _CMP_LT_OQ);
  if (inside == 0) return;
  const __m512 falloff = _mm512_sub_ps(k.one, _mm512_mul_ps(d2, k.inv_r2));
  const __m512 weight = _mm512_mul_ps(_mm512_mul_ps(falloff, falloff), k.gain);
  // Pixel k's bit becomes bits 3k, 3k+1, 3k+2 of a 48-bit float mask: only the floats of
  // pixels inside the disc are read and written.
  const std::uint64_t floats = _pdep_u64(inside, 0x249249249249ull) * 7u;
  const __mmask16 keep0 = static_cast<__mmask16>(floats);
  const __mmask16 keep1 = static_cast<__mmask16>(floats >> 16);
  const __mmask16 keep2 = static_cast<__mmask16>(floats >> 32);
  // (The zero-masking form with every lane set is the plain permute; GCC 12's header for the
  // unmasked one trips its own uninitialised-value warning.)
  const __m512 add0 = _mm512_mul_ps(_mm512_maskz_permutexvar_ps(0xFFFF, k.spread0, weight), k.colour0);
  _mm512_mask_storeu_ps(p, keep0, _mm512_add_ps(_mm512_maskz_loadu_ps(keep0, p), add0));
  // Small discs touch at most five pixels of a row, all in the first sixteen floats: the other
  // two blocks are left alone when no float of theirs is kept.
  if ((keep1 | keep2) == 0) return;
  const __m512 add1 = _mm512_mul_ps(_mm512_maskz_permutexvar_ps(0xFFFF, k.spread1, weight), k.colour1);
  const __m512 add2 = _mm512_mul_ps(_mm512_maskz_permutexvar_ps(0xFFFF, k.spread2, weight), k.colour2);
  _mm512_mask_storeu_ps(p + 16, keep1, _mm512_add_ps(_mm512_maskz_loadu_ps(keep1, p + 16), add1));
  _mm512_mask_storeu_ps(p + 32, keep2, _mm512_add_ps(_mm512_maskz_loadu_ps(keep2, p + 32), add2));
}

// The constants of one radius, colour and intensity in the AVX-512 version.
struct Pen512 {
  Disc disc;
  Run512 k;
  __m512 lane_centre;  // column + 0.5 for the sixteen lanes
};

__attribute__((target("avx512f,bmi2"), always_inline)) inline Pen512 MakePen512(float radius, Vec3 colour,
                                                                              float intensity) {
  const Disc disc = MakeDisc(radius);
  const float r = colour.x, g = colour.y, b = colour.z;
  return Pen512{
      disc,
      Run512{
          _mm512_set1_ps(disc.r2),
          _mm512_set1_ps(disc.inv_r2),
          _mm512_set1_ps(1.0f),
          _mm512_set1_ps(intensity),
          _mm512_setr_ps(r, g, b, r, g, b, r, g, b, r, g, b, r, g, b, r),
          _mm512_setr_ps(g, b, r, g, b, r, g, b, r, g, b, r, g, b, r, g),
          _mm512_setr_ps(b, r, g, b, r, g, b, r, g, b, r, g, b, r, g, b),
          _mm512_setr_epi32(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5),
          _mm512_setr_epi32(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10),
          _mm512_setr_epi32(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15),
      },
      // px + k + 0.5 is exact in float, so adding it in one step gives the same bits as the
      // reference's (px + 0.5) per pixel.
      _mm512_setr_ps(0.5f, 1.5f, 2.5f, 3.5f, 4.5f, 5.5f, 6.5f, 7.5f, 8.5f, 9.5f, 10.5f, 11.5f, 12.5f, 13.5f,
                     14.5f, 15.5f),
  };
}

__attribute__((target("avx512f,bmi2"), always_inline)) inline void Disc512(Vec3* pixels, std::size_t width,
                                                                         float x, float y, const Pen512& pen,
                                                                         Span cols, Span rows) {
  const Disc disc = pen.disc;
  const Run512& k = pen.k;
  const __m512 centre_x = _mm512_set1_ps(x);

  if (cols.hi - cols.lo < 16) {
    // At most sixteen columns: one run per row, always from the footprint's first column, so
    // the columns' dx*dx are worked out once for all rows.
    const __m512 dx =
        _mm512_sub_ps(_mm512_add_ps(_mm512_set1_ps(static_cast<float>(cols.lo)), pen.lane_centre), centre_x);
    const __m512 dx2 = _mm512_mul_ps(dx, dx);
    const __mmask16 run = static_cast<__mmask16>((1u << (cols.hi - cols.lo + 1)) - 1u);
    for (int py = rows.lo; py <= rows.hi; ++py) {
      const float dy = static_cast<float>(py) + 0.5f - y;
      const float dy2 = dy * dy;
      if (!(disc.r2 - dy2 > 0.0f)) continue;  // then d2 >= dy2 >= R2 on the whole row
      float* p = &pixels[static_cast<std::size_t>(py) * width + cols.lo].x;
      AddRun512(p, _mm512_add_ps(dx2, _mm512_set1_ps(dy2)), run, k);
    }
    return;
  }

  for (int py = rows.lo; py <= rows.hi; ++py) {
    const float dy = static_cast<float>(py) + 0.5f - y;
    const float dy2 = dy * dy;
    Span chord;
    if (!RowChord(x, dy2, disc, cols, chord)) continue;
    const __m512 dy2_lanes = _mm512_set1_ps(dy2);
    Vec3* row = pixels + static_cast<std::size_t>(py) * width;
    for (int px = chord.lo; px <= chord.hi; px += 16) {
      const __m512 column = _mm512_add_ps(_mm512_set1_ps(static_cast<float>(px)), pen.lane_centre);
      const __m512 dx = _mm512_sub_ps(column, centre_x);
      const __m512 d2 = _mm512_add_ps(_mm512_mul_ps(dx, dx), dy2_lanes);
      const int count = std::min(16, chord.hi - px + 1);
      AddRun512(&row[px].x, d2, static_cast<__mmask16>((1u << count) - 1u), k);
    }
  }
}

}  // namespace

__attribute__((target("avx512f,bmi2"))) void Avx512(Vec3* pixels, std::size_t width, float x, float y,
                                                    float radius, Vec3 colour, float intensity, Span cols,
                                                    Span rows) {
  Disc512(pixels, width, x, y, MakePen512(radius, colour, intensity), cols, rows);
}

__attribute__((target("avx512f,bmi2"))) void DotsAvx512(Vec3* pixels, std::size_t width, const Dots& dots,
                                                        float radius, Vec3 colour, float intensity) {
  // Small dots (one run per row) share the constants; a big one costs far more than making them
  // and takes the one-disc version.
  const Pen512 pen = MakePen512(radius, colour, intensity);
  for (int i = 0; i < dots.count; ++i) {
    const Span cols = dots.cols[i];
    if (cols.hi - cols.lo < 16) {
      Disc512(pixels, width, dots.xs[i], dots.ys[i], pen, cols, dots.rows[i]);
    } else {
      Avx512(pixels, width, dots.xs[i], dots.ys[i], radius, colour, intensity, cols, dots.rows[i]);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Planar images

namespace {

// The colour times the intensity, per channel: what a run adds per unit of weight.
struct PlaneGain {
  float red, green, blue;
};
inline PlaneGain MakePlaneGain(Vec3 colour, float intensity) {
  return {colour.x * intensity, colour.y * intensity, colour.z * intensity};
}

// a = 1 - dy*dy*(1/R2) of one row; no pixel of the row is inside the disc unless a > 0.
inline float RowTerm(float py, float y, Disc disc) {
  const float dy = py + 0.5f - y;
  return 1.0f - dy * dy * disc.inv_r2;
}

}  // namespace

void PlanesReference(const Planes& planes, float x, float y, float radius, Vec3 colour, float intensity,
                     Span cols, Span rows) {
  const Disc disc = MakeDisc(radius);
  const PlaneGain gain = MakePlaneGain(colour, intensity);
  for (int py = rows.lo; py <= rows.hi; ++py) {
    const float a = RowTerm(static_cast<float>(py), y, disc);
    if (!(a > 0.0f)) continue;
    const std::size_t row = static_cast<std::size_t>(py) * planes.stride;
    for (int px = cols.lo; px <= cols.hi; ++px) {
      const float dx = static_cast<float>(px) + 0.5f - x;
      const float falloff = a - dx * dx * disc.inv_r2;
      if (!(falloff > 0.0f)) continue;
      const float weight = falloff * falloff;
      const std::size_t i = row + static_cast<std::size_t>(px);
      planes.red[i] = std::fma(weight, gain.red, planes.red[i]);
      planes.green[i] = std::fma(weight, gain.green, planes.green[i]);
      planes.blue[i] = std::fma(weight, gain.blue, planes.blue[i]);
    }
  }
}

__attribute__((target("avx2,fma"))) void PlanesAvx2(const Planes& planes, float x, float y, float radius,
                                                    Vec3 colour, float intensity, Span cols, Span rows) {
  const Disc disc = MakeDisc(radius);
  const PlaneGain gain = MakePlaneGain(colour, intensity);
  // (Local copies: the vector stores may alias anything, so members would be reloaded per row.)
  float* const red = planes.red;
  float* const green = planes.green;
  float* const blue = planes.blue;
  const std::size_t stride = planes.stride;
  const __m256 gain_red = _mm256_set1_ps(gain.red);
  const __m256 gain_green = _mm256_set1_ps(gain.green);
  const __m256 gain_blue = _mm256_set1_ps(gain.blue);
  const __m256 inv_r2 = _mm256_set1_ps(disc.inv_r2);
  const __m256 zero = _mm256_setzero_ps();
  // px + k + 0.5 is exact in float, so one add gives the reference's (px + 0.5) per lane.
  const __m256 lane_centre = _mm256_setr_ps(0.5f, 1.5f, 2.5f, 3.5f, 4.5f, 5.5f, 6.5f, 7.5f);
  const __m256 centre_x = _mm256_set1_ps(x);
  for (int px = cols.lo; px <= cols.hi; px += 8) {
    // The columns' q = dx*dx*(1/R2), once for all rows of this run. Lanes past the footprint's
    // last column lie more than the radius from the centre (q > 1 >= a), so they add zero.
    const __m256 dx = _mm256_sub_ps(_mm256_add_ps(_mm256_set1_ps(static_cast<float>(px)), lane_centre), centre_x);
    const __m256 q = _mm256_mul_ps(_mm256_mul_ps(dx, dx), inv_r2);
    for (int py = rows.lo; py <= rows.hi; ++py) {
      const float a = RowTerm(static_cast<float>(py), y, disc);
      if (!(a > 0.0f)) continue;
      const __m256 falloff = _mm256_sub_ps(_mm256_set1_ps(a), q);
      const __m256 inside = _mm256_cmp_ps(falloff, zero, _CMP_GT_OQ);
      const __m256 weight = _mm256_and_ps(_mm256_mul_ps(falloff, falloff), inside);
      const std::size_t i = static_cast<std::size_t>(py) * stride + static_cast<std::size_t>(px);
      _mm256_storeu_ps(red + i, _mm256_fmadd_ps(weight, gain_red, _mm256_loadu_ps(red + i)));
      _mm256_storeu_ps(green + i, _mm256_fmadd_ps(weight, gain_green, _mm256_loadu_ps(green + i)));
      _mm256_storeu_ps(blue + i, _mm256_fmadd_ps(weight, gain_blue, _mm256_loadu_ps(blue + i)));
    }
  }
}

__attribute__((target("avx512f"))) void PlanesAvx512(const Planes& planes, float x, float y, float radius,
                                                     Vec3 colour, float intensity, Span cols, Span rows) {
  const Disc disc = MakeDisc(radius);
  const PlaneGain gain = MakePlaneGain(colour, intensity);
  float* const red = planes.red;  // (local copies, as in the AVX2 version)
  float* const green = planes.green;
  float* const blue = planes.blue;
  const std::size_t stride = planes.stride;
  const __m512 gain_red = _mm512_set1_ps(gain.red);
  const __m512 gain_green = _mm512_set1_ps(gain.green);
  const __m512 gain_blue = _mm512_set1_ps(gain.blue);
  const __m512 inv_r2 = _mm512_set1_ps(disc.inv_r2);
  const __m512 zero = _mm512_setzero_ps();
  const __m512 lane_centre = _mm512_setr_ps(0.5f, 1.5f, 2.5f, 3.5f, 4.5f, 5.5f, 6.5f, 7.5f, 8.5f, 9.5f,
                                            10.5f, 11.5f, 12.5f, 13.5f, 14.5f, 15.5f);
  const __m512 centre_x = _mm512_set1_ps(x);
  for (int px = cols.lo; px <= cols.hi; px += 16) {
    // As in the AVX2 version: q per column, once for all rows of the run.
    const __m512 dx = _mm512_sub_ps(_mm512_add_ps(_mm512_set1_ps(static_cast<float>(px)), lane_centre), centre_x);
    const __m512 q = _mm512_mul_ps(_mm512_mul_ps(dx, dx), inv_r2);
    for (int py = rows.lo; py <= rows.hi; ++py) {
      const float a = RowTerm(static_cast<float>(py), y, disc);
      if (!(a > 0.0f)) continue;
      const __m512 falloff = _mm512_sub_ps(_mm512_set1_ps(a), q);
      const __mmask16 inside = _mm512_cmp_ps_mask(falloff, zero, _CMP_GT_OQ);
      const __m512 weight = _mm512_maskz_mul_ps(inside, falloff, falloff);
      const std::size_t i = static_cast<std::size_t>(py) * stride + static_cast<std::size_t>(px);
      _mm512_storeu_ps(red + i, _mm512_fmadd_ps(weight, gain_red, _mm512_loadu_ps(red + i)));
      _mm512_storeu_ps(green + i, _mm512_fmadd_ps(weight, gain_green, _mm512_loadu_ps(green + i)));
      _mm512_storeu_ps(blue + i, _mm512_fmadd_ps(weight, gain_blue, _mm512_loadu_ps(blue + i)));
    }
  }
}

namespace {

template <KernelFn kKernel>
void DotsOneByOne(Vec3* pixels, std::size_t width, const Dots& dots, float radius, Vec3 colour,
                  float intensity) {
  for (int i = 0; i < dots.count; ++i) {
    kKernel(pixels, width, dots.xs[i], dots.ys[i], radius, colour, intensity, dots.cols[i], dots.rows[i]);
  }
}

}  // namespace

void DotsReference(Vec3* pixels, std::size_t width, const Dots& dots, float radius, Vec3 colour,
                   float intensity) {
  DotsOneByOne<&Reference>(pixels, width, dots, radius, colour, intensity);
}

void DotsSse2(Vec3* pixels, std::size_t width, const Dots& dots, float radius, Vec3 colour, float intensity) {
  DotsOneByOne<&Sse2>(pixels, width, dots, radius, colour, intensity);
}

void DotsAvx2(Vec3* pixels, std::size_t width, const Dots& dots, float radius, Vec3 colour, float intensity) {
  DotsOneByOne<&Avx2>(pixels, width, dots, radius, colour, intensity);
}

bool CpuHasAvx512() {
  static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("bmi2");
  return has;
}

bool CpuHasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

DotsFn SelectedDots() {
  static const DotsFn chosen = PlainPathsForced() ? &DotsReference
                               : CpuHasAvx512()   ? &DotsAvx512
                               : CpuHasAvx2()     ? &DotsAvx2
                                                  : &DotsSse2;
  return chosen;
}

PlanesFn SelectedPlanes() {
  static const PlanesFn chosen = PlainPathsForced()                                    ? nullptr
                                 : CpuHasAvx512()                                      ? &PlanesAvx512
                                 : CpuHasAvx2() && __builtin_cpu_supports("fma") ? &PlanesAvx2
                                                                                       : nullptr;
  return chosen;
}

KernelFn Selected() {
  static const KernelFn chosen = PlainPathsForced() ? &Reference
                                 : CpuHasAvx512()   ? &Avx512
                                 : CpuHasAvx2()     ? &Avx2
                                                    : &Sse2;
  return chosen;
}

}  // namespace splat_kernel
