#include "scenes/objects_scene.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "render/lanes8.h"
#include "render/parallel.h"
#include "render/plain_paths.h"
#include "render/primitives.h"
#include "render/splat_kernel.h"
#include "scenes/console_operator.h"

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr float kTwoPi = 6.28318530717959f;
constexpr std::uint32_t kSeedStep = 747796405u;  // seed step per gated splat

// Fixed per-index random number in [0, 1) (u(i * k) with a small multiplier k).
float U(std::uint32_t seed) { return HashUnit(seed); }

float Frac(float x) { return x - std::floor(x); }

// One octave-sum of the arcade's roughness: lattice values u(ix * 73856093 XOR iy * 19349663)
// at the four corners, smooth interpolation, mapped to [-1, 1]; five octaves, amplitude halving,
// coordinates scaled by 2.02 and 1.93 per octave (slightly off 2 so the lattices never align).
float RingNoise(float x, float y) {
  float sum = 0.0f;
  float amplitude = 0.5f;
  for (int octave = 0; octave < 5; ++octave) {
    const float fx = std::floor(x);
    const float fy = std::floor(y);
    const std::uint32_t ix = static_cast<std::uint32_t>(static_cast<std::int32_t>(fx));
    const std::uint32_t iy = static_cast<std::uint32_t>(static_cast<std::int32_t>(fy));
    const float tx = Smoothstep(x - fx);
    const float ty = Smoothstep(y - fy);
    const float v00 = U((ix * 73856093u) ^ (iy * 19349663u));
    const float v10 = U(((ix + 1u) * 73856093u) ^ (iy * 19349663u));
    const float v01 = U((ix * 73856093u) ^ ((iy + 1u) * 19349663u));
    const float v11 = U(((ix + 1u) * 73856093u) ^ ((iy + 1u) * 19349663u));
    const float bottom = Lerp(v00, v10, tx);
    const float top = Lerp(v01, v11, tx);
    const float value = Lerp(bottom, top, ty);
    sum += amplitude * (2.0f * value - 1.0f);
    amplitude *= 0.5f;
    x *= 2.02f;
    y *= 1.93f;
  }
  return sum;
}

void SetPhases(ScenePoint& p, float a, float b, float c, float d) {
  p.sin_a = std::sin(a);
  p.cos_a = std::cos(a);
  p.sin_b = std::sin(b);
  p.cos_b = std::cos(b);
  p.sin_c = std::sin(c);
  p.cos_c = std::cos(c);
  p.sin_d = std::sin(d);
  p.cos_d = std::cos(d);
}

// The arcade ring's per-frame terms, shared by every point of one frame.
struct RingFrame {
  float sin_slow = 0.0f, cos_slow = 1.0f;  // 0.72 t: the stone breathes along its normal
  float sin_fast = 0.0f, cos_fast = 1.0f;  // 2.1 t: the ring bobs
  float sin_t = 0.0f, cos_t = 1.0f;        // t: the band climbs
  float tint = 1.0f;                       // lead and impact brighten the band
  float intensity = 1.0f;                  // impact and dim
};

RingFrame MakeRingFrame(float t, const MusicViz& mv, float dim) {
  RingFrame rf;
  rf.sin_slow = std::sin(0.72f * t);
  rf.cos_slow = std::cos(0.72f * t);
  rf.sin_fast = std::sin(2.1f * t);
  rf.cos_fast = std::cos(2.1f * t);
  rf.sin_t = std::sin(t);
  rf.cos_t = std::cos(t);
  rf.tint = 1.0f + 0.22f * mv.lead + 0.9f * mv.impact;
  rf.intensity = (1.0f + 0.2f * mv.impact) * dim;
  return rf;
}

// Where SplatWorld puts a point: centre, radius and intensity on screen.
struct ScreenSplat {
  float x = 0.0f, y = 0.0f, radius = 0.0f, intensity = 0.0f;
  bool visible = false;  // false: nothing to draw
};

// SplatWorld's projection. (Inlined into the ring's loop, which projects some 56,000 points a
// frame.)
__attribute__((always_inline)) inline ScreenSplat ProjectWorldSplat(const CameraBasis& cam, Vec3 p, float k,
                                                                     float s, const DebugParams& dp) {
  // 1. Nothing to draw.
  if (!(k > 0.0f) || !(s > 0.0f)) return {};
  // 2. Depth; points at or behind the camera are skipped.
  const Vec3 rel = p - cam.eye;
  const float depth = Dot(rel, cam.forward);
  if (!(depth > 0.05f)) return {};
  // 3. Screen position.
  const float inv = cam.focal / depth;
  const float x = cam.cx + Dot(rel, cam.right) * inv;
  const float y = cam.cy - Dot(rel, cam.up) * inv;
  // 4. Radius: shrinks with depth, capped so near points stay cheap, floored so far ones show.
  float r = std::min(s * dp.dot_size * 56.0f / depth, 7.0f);
  if (r <= 0.35f) r = 0.35f;
  // 5. Depth fade: full up to depth 8, smoothly down to 35 % at 23 and beyond.
  const float e = Clamp01((depth - 8.0f) / 15.0f);
  const float fade = 1.0f - (1.95f - 1.3f * e) * e * e;
  const float intensity = k * dp.dot_alpha * fade;
  return {x, y, r, intensity, true};
}

// Ring points [from, to) into `pixels` (the framebuffer or one slot's buffer), or into `planes`
// when given.
void DrawRingPoints(Vec3* pixels, std::size_t width, std::size_t height, SplatPlanes* planes,
                    const CameraBasis& cam, const std::vector<ScenePoint>& ring, std::size_t from,
                    std::size_t to, const RingFrame& rf, const DebugParams& dp) {
  const Vec3 band_colour{1.0f, 0.05f, 0.88f};  // the magenta band climbing the stone
  for (std::size_t i = from; i < to; ++i) {
    const std::uint32_t seed = static_cast<std::uint32_t>(i) * kSeedStep + 521288629u;
    if (!DotKept(seed, dp.dot_density)) continue;
    const ScenePoint& p = ring[i];
    const float wave = p.sin_c * rf.cos_slow + p.cos_c * rf.sin_slow;    // sin(gamma + 0.72t)
    const float bob = p.sin_a * rf.cos_fast + p.cos_a * rf.sin_fast;     // sin(alpha + 2.1t)
    const float climb_sin = p.sin_b * rf.cos_t + p.cos_b * rf.sin_t;    // sin(beta + t)
    const float climb_cos = p.cos_b * rf.cos_t - p.sin_b * rf.sin_t;    // cos(beta + t)
    Vec3 pos = p.pos + p.normal * (0.018f * wave);
    pos.y += 0.1f * bob;
    // First-order update of sin(y' + t) for the displaced height y'.
    const float band = Clamp(climb_sin + climb_cos * (pos.y - p.pos.y), -1.0f, 1.0f) * 0.2f + 0.35f;
    const Vec3 colour = Lerp(p.color, band_colour, band) * rf.tint;
    const ScreenSplat screen = ProjectWorldSplat(cam, pos, p.intensity * rf.intensity, p.size, dp);
    if (!screen.visible) continue;
    if (planes != nullptr) {
      SplatIntoPlanes(*planes, screen.x, screen.y, screen.radius, colour, screen.intensity);
    } else {
      Splat(pixels, width, height, screen.x, screen.y, screen.radius, colour, screen.intensity);
    }
  }
}

// The ring's projection eight points at a time. The points are read as rows of floats and
// transposed into one vector per field; every lane then takes exactly the scalar loop's
// operations in the scalar loop's order (no fused multiply-adds, min and clamp with the same NaN
// rules), so each splat gets the same bits.
constexpr std::size_t kPointFloats = sizeof(ScenePoint) / sizeof(float);
static_assert(sizeof(ScenePoint) % sizeof(float) == 0);
static_assert(offsetof(ScenePoint, pos) == 0 && offsetof(ScenePoint, normal) == 12 &&
              offsetof(ScenePoint, color) == 24 && offsetof(ScenePoint, intensity) == 36 &&
              offsetof(ScenePoint, size) == 40 && offsetof(ScenePoint, sin_a) == 44 &&
              offsetof(ScenePoint, cos_a) == 48 && offsetof(ScenePoint, sin_b) == 52 &&
              offsetof(ScenePoint, cos_b) == 56 && offsetof(ScenePoint, sin_c) == 60 &&
              offsetof(ScenePoint, cos_c) == 64);

bool g_ring_lanes = true;

bool RingLanesAvailable() {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2 && g_ring_lanes && !PlainPathsForced();
}

// Floats [offset, offset + 8) of eight consecutive points, one vector per float.
__attribute__((target("avx2"))) inline void TransposePoints(const float* first, std::size_t offset,
                                                            __m256 out[8]) {
  __m256 r[8];
  for (int i = 0; i < 8; ++i)
    r[i] = _mm256_loadu_ps(first + static_cast<std::size_t>(i) * kPointFloats + offset);
  const __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]);
  const __m256 t1 = _mm256_unpackhi_ps(r[0], r[1]);
  const __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]);
  const __m256 t3 = _mm256_unpackhi_ps(r[2], r[3]);
  const __m256 t4 = _mm256_unpacklo_ps(r[4], r[5]);
  const __m256 t5 = _mm256_unpackhi_ps(r[4], r[5]);
  const __m256 t6 = _mm256_unpacklo_ps(r[6], r[7]);
  const __m256 t7 = _mm256_unpackhi_ps(r[6], r[7]);
  const __m256 u0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
  const __m256 u1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
  const __m256 u2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
  const __m256 u3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
  const __m256 u4 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(1, 0, 1, 0));
  const __m256 u5 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(3, 2, 3, 2));
  const __m256 u6 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(1, 0, 1, 0));
  const __m256 u7 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(3, 2, 3, 2));
  out[0] = _mm256_permute2f128_ps(u0, u4, 0x20);
  out[1] = _mm256_permute2f128_ps(u1, u5, 0x20);
  out[2] = _mm256_permute2f128_ps(u2, u6, 0x20);
  out[3] = _mm256_permute2f128_ps(u3, u7, 0x20);
  out[4] = _mm256_permute2f128_ps(u0, u4, 0x31);
  out[5] = _mm256_permute2f128_ps(u1, u5, 0x31);
  out[6] = _mm256_permute2f128_ps(u2, u6, 0x31);
  out[7] = _mm256_permute2f128_ps(u3, u7, 0x31);
}

// Eight projected ring points: what DrawRingPoints computes for each before it splats.
struct RingSplats8 {
  alignas(32) float x[8], y[8], radius[8], intensity[8], red[8], green[8], blue[8];
  alignas(32) std::int32_t col_lo[8], col_hi[8], row_lo[8], row_hi[8];
  int visible = 0;  // bit k set where point k draws
  int placed = 0;   // bit k set where its splat is valid, near and on the planes, at the footprint above
};

__attribute__((target("avx2"))) void ProjectRing8(const ScenePoint* points, const CameraBasis& cam,
                                                  const RingFrame& rf, const DebugParams& dp,
                                                  const SplatPlanes& planes, RingSplats8& out) {
  using namespace lanes8;
  const float* first = &points[0].pos.x;
  __m256 a[8];  // pos x y z, normal x y z, colour r g
  __m256 b[8];  // colour b, intensity, size, sin_a, cos_a, sin_b, cos_b, sin_c
  TransposePoints(first, 0, a);
  TransposePoints(first, 8, b);
  const V8 pos_x = reinterpret_cast<V8>(a[0]);
  const V8 pos_y = reinterpret_cast<V8>(a[1]);
  const V8 pos_z = reinterpret_cast<V8>(a[2]);
  const V8 normal_x = reinterpret_cast<V8>(a[3]);
  const V8 normal_y = reinterpret_cast<V8>(a[4]);
  const V8 normal_z = reinterpret_cast<V8>(a[5]);
  const V8 colour_r = reinterpret_cast<V8>(a[6]);
  const V8 colour_g = reinterpret_cast<V8>(a[7]);
  const V8 colour_b = reinterpret_cast<V8>(b[0]);
  const V8 point_intensity = reinterpret_cast<V8>(b[1]);
  const V8 size = reinterpret_cast<V8>(b[2]);
  const V8 sin_a = reinterpret_cast<V8>(b[3]);
  const V8 cos_a = reinterpret_cast<V8>(b[4]);
  const V8 sin_b = reinterpret_cast<V8>(b[5]);
  const V8 cos_b = reinterpret_cast<V8>(b[6]);
  const V8 sin_c = reinterpret_cast<V8>(b[7]);
  const V8 cos_c = V8{points[0].cos_c, points[1].cos_c, points[2].cos_c, points[3].cos_c,
                      points[4].cos_c, points[5].cos_c, points[6].cos_c, points[7].cos_c};

  // The stone breathes, bobs and the band climbs.
  const V8 wave = sin_c * rf.cos_slow + cos_c * rf.sin_slow;
  const V8 bob = sin_a * rf.cos_fast + cos_a * rf.sin_fast;
  const V8 climb_sin = sin_b * rf.cos_t + cos_b * rf.sin_t;
  const V8 climb_cos = cos_b * rf.cos_t - sin_b * rf.sin_t;
  const V8 push = 0.018f * wave;
  const V8 px = pos_x + normal_x * push;
  const V8 py = (pos_y + normal_y * push) + 0.1f * bob;
  const V8 pz = pos_z + normal_z * push;
  const V8 band = Clamp8(climb_sin + climb_cos * (py - pos_y), -1.0f, 1.0f) * 0.2f + 0.35f;
  const V8 red = (colour_r + (1.0f - colour_r) * band) * rf.tint;
  const V8 green = (colour_g + (0.05f - colour_g) * band) * rf.tint;
  const V8 blue = (colour_b + (0.88f - colour_b) * band) * rf.tint;

  // ProjectWorldSplat.
  const V8 k = point_intensity * rf.intensity;
  const V8 rx = px - cam.eye.x;
  const V8 ry = py - cam.eye.y;
  const V8 rz = pz - cam.eye.z;
  const V8 depth = rx * cam.forward.x + ry * cam.forward.y + rz * cam.forward.z;
  const I8 visible = (k > 0.0f) & (size > 0.0f) & (depth > 0.05f);
  const V8 inv = cam.focal / depth;
  const V8 x = cam.cx + (rx * cam.right.x + ry * cam.right.y + rz * cam.right.z) * inv;
  const V8 y = cam.cy - (rx * cam.up.x + ry * cam.up.y + rz * cam.up.z) * inv;
  V8 radius = size * dp.dot_size * 56.0f / depth;
  radius = Select(Splat8(7.0f) < radius, Splat8(7.0f), radius);  // std::min(r, 7)
  radius = Select(radius <= 0.35f, Splat8(0.35f), radius);
  const V8 e = Clamp01x8((depth - 8.0f) / 15.0f);
  const V8 fade = 1.0f - (1.95f - 1.3f * e) * e * e;
  const V8 intensity = k * dp.dot_alpha * fade;

  Store8(out.x, x);
  Store8(out.y, y);
  Store8(out.radius, radius);
  Store8(out.intensity, intensity);
  Store8(out.red, red);
  Store8(out.green, green);
  Store8(out.blue, blue);
  out.visible = _mm256_movemask_ps(reinterpret_cast<__m256>(visible));

  // SplatIntoPlanes's checks and footprint for the splats of on-screen size: finite arguments,
  // some light, and floor(centre) -/+ ceil(radius) clipped to the planes. The others (none in
  // the show) take SplatIntoPlanes itself.
  const V8 huge = Splat8(1.0e7f);
  const V8 inf = Splat8(__builtin_inff());
  const I8 finite_light =
      (Abs8(intensity) < inf) & (Abs8(red) < inf) & (Abs8(green) < inf) & (Abs8(blue) < inf);
  const I8 near = visible & (Abs8(x) < huge) & (Abs8(y) < huge) & (intensity > 0.0f) & finite_light;
  const I8 reach = -FloorToInt8(-radius);  // ceil, as FootprintRange
  const I8 cx = FloorToInt8(x);
  const I8 cy = FloorToInt8(y);
  const I8 right = I8{} + (static_cast<std::int32_t>(planes.width) - 1);
  const I8 bottom = I8{} + (static_cast<std::int32_t>(planes.height) - 1);
  const I8 zero_i = I8{};
  I8 col_lo = cx - reach;
  col_lo = col_lo < zero_i ? zero_i : col_lo;
  I8 col_hi = cx + reach;
  col_hi = col_hi > right ? right : col_hi;
  I8 row_lo = cy - reach;
  row_lo = row_lo < zero_i ? zero_i : row_lo;
  I8 row_hi = cy + reach;
  row_hi = row_hi > bottom ? bottom : row_hi;
  // Lanes that are not near hold meaningless footprints; they are not used.
  _mm256_store_si256(reinterpret_cast<__m256i*>(out.col_lo), reinterpret_cast<__m256i>(col_lo));
  _mm256_store_si256(reinterpret_cast<__m256i*>(out.col_hi), reinterpret_cast<__m256i>(col_hi));
  _mm256_store_si256(reinterpret_cast<__m256i*>(out.row_lo), reinterpret_cast<__m256i>(row_lo));
  _mm256_store_si256(reinterpret_cast<__m256i*>(out.row_hi), reinterpret_cast<__m256i>(row_hi));
  out.placed = _mm256_movemask_ps(reinterpret_cast<__m256>(near));
}

// DrawRingPoints into the planes, eight points at a time where the processor has AVX2.
void DrawRingPointsIntoPlanes(SplatPlanes& planes, const CameraBasis& cam,
                              const std::vector<ScenePoint>& ring, const RingFrame& rf,
                              const DebugParams& dp) {
  std::size_t i = 0;
  if (RingLanesAvailable()) {
    RingSplats8 s;
    for (; i + 8 <= ring.size(); i += 8) {
      ProjectRing8(&ring[i], cam, rf, dp, planes, s);
      for (int lane = 0; lane < 8; ++lane) {
        if ((s.visible >> lane & 1) == 0) continue;
        const std::uint32_t seed = static_cast<std::uint32_t>(i + lane) * kSeedStep + 521288629u;
        if (!DotKept(seed, dp.dot_density)) continue;
        const Vec3 colour{s.red[lane], s.green[lane], s.blue[lane]};
        if ((s.placed >> lane & 1) == 0) {
          SplatIntoPlanes(planes, s.x[lane], s.y[lane], s.radius[lane], colour, s.intensity[lane]);
        } else if (s.col_lo[lane] <= s.col_hi[lane] && s.row_lo[lane] <= s.row_hi[lane]) {
          SplatIntoPlanesAt(planes, s.x[lane], s.y[lane], s.radius[lane], colour, s.intensity[lane],
                            s.col_lo[lane], s.col_hi[lane], s.row_lo[lane], s.row_hi[lane]);
        }
      }
    }
  }
  DrawRingPoints(nullptr, planes.width, planes.height, &planes, cam, ring, i, ring.size(), rf, dp);
}

}  // namespace

void UseRingLanes(bool on) {
  g_ring_lanes = on;
}

// ---------------------------------------------------------------------------------------------
// Shared rules

bool DotKept(std::uint32_t seed, float density) {
  if (density >= 0.999f) return true;
  return density >= HashUnit(seed);
}

float ObjectsDrive(const MusicViz& mv) {
  if (!mv.active) return 0.0f;
  return Clamp01((mv.cue_finale + mv.lead) * 0.2f + mv.kick * 0.3f + mv.impact * 0.9f +
                 mv.build * 0.55f);
}

void SplatWorld(Vec3* pixels, std::size_t width, std::size_t height, const CameraBasis& cam,
                Vec3 p, Vec3 col, float k, float s, const DebugParams& dp) {
  const ScreenSplat splat = ProjectWorldSplat(cam, p, k, s, dp);
  if (splat.visible) Splat(pixels, width, height, splat.x, splat.y, splat.radius, col, splat.intensity);
}

void SplatWorld(const SplatTarget& to, const CameraBasis& cam, Vec3 p, Vec3 col, float k, float s,
                const DebugParams& dp) {
  const ScreenSplat splat = ProjectWorldSplat(cam, p, k, s, dp);
  if (splat.visible) Splat(to, splat.x, splat.y, splat.radius, col, splat.intensity);
}

void SplatSegment(const SplatTarget& fb, const CameraBasis& cam, Vec3 a, Vec3 b, Vec3 col, float k, float s,
                  const DebugParams& dp, std::uint32_t seed) {
  const float length = Length(b - a);
  const float steps = length * 8.0f;
  int n = std::isfinite(steps) ? static_cast<int>(std::min(steps, 56.0f)) : 56;
  if (n < 3) n = 2;
  for (int i = 0; i <= n; ++i, seed += kSeedStep) {
    if (!DotKept(seed, dp.dot_density)) continue;
    const float t = static_cast<float>(i) / static_cast<float>(n);
    const float h = std::sin(kPi * t);
    SplatWorld(fb, cam, Lerp(a, b, t), col, k * (0.52f + 0.48f * h), s * (0.78f + 0.3f * h), dp);
  }
}

// ---------------------------------------------------------------------------------------------
// Clouds

void BuildRingCloud(std::vector<ScenePoint>& points) {
  points.clear();
  points.reserve(kRingReserve);
  for (int f = 0; f < 112; ++f) {
    const float g = static_cast<float>(f) / 111.0f;  // height parameter
    const int tier = std::min(static_cast<int>(3.0f * g), 2);
    const float h = 3.0f * g - static_cast<float>(tier);  // height inside the tier
    for (int l = 0; l < 880; ++l) {
      const float r = static_cast<float>(l) / 880.0f;  // angle parameter
      const float o = Frac(44.0f * r) - 0.5f;          // position inside one of 44 bays
      // The arched openings: a straight-sided arch with a round top in every bay of every tier.
      const float arch_top = 0.44f + 0.34f * std::sqrt(std::max(0.0f, 1.0f - 8.650518f * o * o));
      if (std::fabs(o) < 0.34f && h > 0.1f && h < arch_top) continue;
      // Two stretches where the upper wall has fallen.
      if (r > 0.085f && r < 0.135f && g > 0.48f) continue;
      if (r > 0.61f && r < 0.67f && g > 0.7f) continue;

      const float noise = RingNoise(38.0f * r + 1.5f, 18.0f * g - 2.0f);
      const float w = 0.018f * std::sin(12.0f * r + 30.0f * kPi * g) + 0.18f * noise;
      const float A = 6.2f + w;
      const float B = 4.0f + 0.68f * w;
      const float ca = std::cos(kTwoPi * r);
      const float sa = std::sin(kTwoPi * r);
      ScenePoint p;
      p.pos = Vec3{ca * A, 3.1f * g + 0.42f * w, sa * B};
      p.normal = Normalize(Vec3{ca / A, 0.05f, sa / B});
      // Moonlight from the upper left front.
      const float K = Clamp01(0.5f - 0.1547132f * p.normal.x + 0.3094264f * p.normal.y +
                              0.36099744f * p.normal.z);
      const float L = 0.35f + 0.85f * K;
      p.color = Vec3{0.96f * L, L * (tier == 1 ? 0.75f : 0.66f), 0.4f * L};
      p.intensity = 0.011f;
      p.size = 1.0f;
      SetPhases(p, 0.4f * p.pos.z + 0.5f * p.pos.x, p.pos.y, 0.32f * p.pos.z + 0.38f * p.pos.x,
                p.pos.x);
      points.push_back(p);
    }
  }
}

void BuildSaucerCloud(std::vector<ScenePoint>& points) {
  points.clear();
  points.reserve(kSaucerPoints);
  // The model's normals are unused by the drawing; they point away from the model's centre.
  // 1. Hull: 15 rings of 72, a flat lens darkening and dropping toward the rim.
  for (int i = 1; i <= 15; ++i) {
    const float d = static_cast<float>(i) / 15.0f;
    const float e = 0.14f + 0.86f * d;
    const float g = Clamp01((d - 0.62f) * 2.631579f);
    const float h = g * g;
    for (int j = 0; j < 72; ++j) {
      const float angle = static_cast<float>(j) * (kPi / 36.0f);
      const float sh = std::sin(static_cast<float>(j) * kPi / 12.0f + kPi * d);
      const float D = 0.0364f * (sh + 1.0f) + (0.78f - 0.52f * g) * h;
      ScenePoint p;
      p.pos = Vec3{std::cos(angle) * e,
                   0.03f * std::sin(kPi * d) - ((0.3f - 0.2f * g) * h + 0.025f),
                   std::sin(angle) * e * 0.68f};
      p.normal = Normalize(p.pos);
      p.color = Vec3{D + 0.4f, 0.7f - D, 0.92f - 0.0182f * (sh + 1.0f) - (0.39f - 0.26f * g) * h};
      p.intensity = (0.078f - 0.052f * g) * h + 0.05f;
      p.size = (1.08f - 0.72f * g) * h + 0.82f;
      const float a = 0.21816617f * static_cast<float>(j) + 0.26666668f * static_cast<float>(i);
      SetPhases(p, a, 0.0f, 0.0f, 0.0f);
      points.push_back(p);
    }
  }
  // 2. Dome: 9 rings of 54 from the rim up to the top. Its shimmer phase runs around each ring
  //    and shifts from ring to ring, like the hull's.
  for (int r = 0; r <= 8; ++r) {
    const float e = static_cast<float>(r) / 8.0f;
    const float radius = 0.42f * std::sin(e * kPi / 2.0f);
    for (int j = 0; j < 54; ++j) {
      const float angle = kTwoPi * static_cast<float>(j) / 54.0f;
      ScenePoint p;
      p.pos = Vec3{std::cos(angle) * radius, 0.02f + 0.32f * std::cos(e * kPi / 2.0f),
                   std::sin(angle) * radius * 0.76f};
      p.normal = Normalize(p.pos);
      p.color = Vec3{0.55f + 0.1505f * e, 0.9f - 0.217f * e, 1.0f - 0.098f * e};
      p.intensity = 0.04f;
      p.size = 0.72f;
      SetPhases(p, angle + 0.5f * static_cast<float>(r), 0.0f, 0.0f, 0.0f);
      points.push_back(p);
    }
  }
  // 3. Underside: 6 small rings of 42, the bright engine.
  for (int i = 0; i < 6; ++i) {
    const float radius = 0.08f + 0.06f * static_cast<float>(i);
    for (int j = 0; j < 42; ++j) {
      const float angle = kTwoPi * static_cast<float>(j) / 42.0f;
      ScenePoint p;
      p.pos = Vec3{std::cos(angle) * radius, -0.18f - 0.01f * static_cast<float>(i),
                   std::sin(angle) * radius * 0.62f};
      p.normal = Normalize(p.pos);
      p.color = Vec3{0.96f, 1.0f, 0.92f};
      p.intensity = 0.07f - 0.00448f * static_cast<float>(i);
      p.size = 0.92f;
      SetPhases(p, angle + 0.5f * static_cast<float>(i), 0.0f, 0.0f, 0.0f);
      points.push_back(p);
    }
  }
  // 4. Rim lights: every third magenta, the others cyan.
  for (int j = 0; j < 24; ++j) {
    const float angle = kTwoPi * static_cast<float>(j) / 24.0f;
    ScenePoint p;
    p.pos = Vec3{1.04f * std::cos(angle), -0.1f, 0.71f * std::sin(angle)};
    p.normal = Normalize(p.pos);
    p.color = (j % 3 == 0) ? Vec3{1.0f, 0.22f, 0.68f} : Vec3{0.12f, 0.95f, 1.0f};
    p.intensity = 0.115f;
    p.size = 1.45f;
    SetPhases(p, angle, 0.0f, 0.0f, 0.0f);
    points.push_back(p);
  }
}

// ---------------------------------------------------------------------------------------------
// Frame set-up

ObjectsMix MakeObjectsMix(const MusicViz& mv) {
  ObjectsMix mix;
  mix.club = Clamp01(std::max(mv.cue_club, mv.cue_reveal));
  mix.veil = Clamp01((1.0f - 0.7f * mix.club) * mv.cue_veil);
  mix.closeup = Clamp01(std::max(0.3f * mix.veil, mix.club));
  mix.console = Clamp01(std::max(0.58f * mix.veil, mix.club));
  mix.dim = 1.0f - 0.92f * Clamp01(std::max(0.24f * mix.veil, mix.club));
  mix.drive = ObjectsDrive(mv);
  return mix;
}

CameraBasis ObjectsCamera(float t, const SceneCameraParams& cam, const ObjectsMix& mix,
                          std::size_t width, std::size_t height) {
  const float o = mix.closeup;
  const float R = 13.5f * cam.dist;
  const Vec3 orbit{std::sin(0.24f * t + cam.yaw) * R + cam.side,
                   cam.height + 4.4f + 0.8f * std::sin(0.31f * t),
                   std::cos(0.24f * t + cam.yaw) * R};
  const Vec3 close{1.8f * std::sin(0.16f * t) + 0.25f * cam.side,
                   2.15f + 0.2f * cam.height + 0.18f * std::sin(0.42f * t), -6.9f * cam.dist};
  const Vec3 eye = Lerp(orbit, close, o);
  const Vec3 target{0.0f, 1.8f - 0.78f * o, -0.1f * o};
  const float fov = Lerp(cam.fov_off + 52.0f, 0.35f * cam.fov_off + 50.0f, o);
  return BuildLookAt(eye, target, fov, 0.0f, width, height);
}

SaucerFlight SaucerAt(int n, float section_time) {
  SaucerFlight flight;
  const float sec = section_time;
  const float s = std::max(sec - 1.0f, 0.0f);
  const float T = 1.0f + 0.14f * static_cast<float>(n);  // arrival, seconds into the section
  flight.visible = Smoothstep((sec - (T - 0.06f)) * 6.25f);
  const float R = 1.0f - Smoothstep((sec - T) * 3.125f);
  flight.radius = 28.0f - (1.0f - R * R * R) * 19.7f;
  flight.spin = 1.75f * std::max(sec - T, 0.0f);
  flight.angle = 0.62f * s + 1.2566371f * static_cast<float>(n) + 0.45f;
  return flight;
}

// ---------------------------------------------------------------------------------------------
// Element drawers

void DrawFloorGrid(const SplatTarget& fb, const CameraBasis& cam, float t, const DebugParams& dp,
                   const MusicViz& mv, float drive) {
  const float d0 = drive;
  const Vec3 colour{0.05f + 0.055f * d0 + 0.0125f * mv.perc, 0.26f + 0.286f * d0 + 0.065f * mv.perc,
                    0.38f + 0.418f * d0 + 0.095f * mv.perc};
  const float intensity = 0.055f + 0.06325f * d0;
  const float size = 1.0f + 0.4f * d0;
  const float drift = 4.0f * std::sin(0.2f * t);
  // No density gate: the grid is the floor the rest stands on.
  for (int j = 0; j < 54; ++j) {
    const float z = 0.45f * static_cast<float>(j) - 12.0f + drift;
    for (int i = -12; i <= 12; ++i)
      SplatWorld(fb, cam, Vec3{static_cast<float>(i), -0.05f, z}, colour, intensity, size, dp);
  }
}

void DrawArenaFloor(const SplatTarget& fb, const CameraBasis& cam, float t, const DebugParams& dp,
                    const MusicViz& mv, const ObjectsMix& mix) {
  const float a = Clamp01(0.44f + 0.68f * mv.cue_nova + 0.28f * mv.cue_veil) * mix.dim;
  if (a <= 0.001f) return;
  const float d0 = mix.drive;
  const float nova = mv.cue_nova;
  const float reveal = mv.cue_reveal;

  // 1. 28 concentric rippling rings; only the outer quarter lights up.
  const float m = (std::sin(kTwoPi * mv.step_phase + 1.3f * t) + 1.0f) / 2.0f;
  const float ripple = 0.012f + 0.022f * d0 + 0.012f * nova;
  const Vec3 base{0.35f - 0.105f * nova, 0.28f + 0.1428f * nova, 0.22f + 0.21f * nova};
  const Vec3 hot{0.88f + 0.066f * reveal + 0.024f * m, 0.58f - 0.231f * reveal - 0.084f * m,
                 0.32f + 0.198f * reveal + 0.072f * m};
  for (int n = 0; n < 28; ++n) {
    const float q = static_cast<float>(n + 1) / 28.0f;
    const float C = q;
    const int count = static_cast<int>(74.0f * C) + 54;
    const float F = Smoothstep((q - 0.74f) * 3.846154f);
    const float R = 0.22f * m * reveal + 0.62f * F;
    const Vec3 colour = Lerp(base, hot, R) * (1.0f + 0.75f * d0);
    const float intensity = (0.01f + 0.012f * F) * a;
    const float size = 0.82f + 0.42f * F + 0.32f * d0;
    const std::uint32_t salt =
        0u - static_cast<std::uint32_t>(n) * 1128748497u - 461959917u;
    for (int j = 0; j < count; ++j) {
      if (!DotKept(static_cast<std::uint32_t>(j) * kSeedStep + salt, dp.dot_density)) continue;
      const float frac = static_cast<float>(j) / static_cast<float>(count);
      const float angle = kTwoPi * frac;
      const float y = std::sin(16.0f * kPi * frac + 1.2f * t + 5.0f * C) * ripple - 0.2f;
      SplatWorld(fb, cam, Vec3{std::cos(angle) * 5.6f * C, y, std::sin(angle) * 3.46f * C},
                 colour, intensity, size, dp);
    }
  }

  // 2. Four counter-rotating rings, magenta and cyan in turn.
  const Vec3 magenta{1.1f + 0.8f * d0, 0.198f + 0.144f * d0, 0.726f + 0.528f * d0};
  const Vec3 cyan{0.11f + 0.08f * d0, 0.968f + 0.704f * d0, 1.1f + 0.8f * d0};
  const float intensity = (0.03f + 0.014f * reveal) * a;
  const float size = 1.18f + 0.34f * d0;
  for (int i = 0; i < 4; ++i) {
    const float B = 0.33f + 0.19f * static_cast<float>(i);
    const float w = (i % 2 == 0) ? 0.045f : -0.035f;
    const Vec3& colour = (i % 2 == 0) ? magenta : cyan;
    const std::uint32_t salt = static_cast<std::uint32_t>(i) * 636447971u - 2013549775u;
    for (int j = 0; j < 126; ++j) {
      if (!DotKept(static_cast<std::uint32_t>(j) * kSeedStep + salt, dp.dot_density)) continue;
      const float angle = static_cast<float>(j) * kTwoPi / 126.0f + w * t;
      SplatWorld(fb, cam,
                 Vec3{std::cos(angle) * 5.55f * B, 0.015f * static_cast<float>(i) - 0.13f,
                      std::sin(angle) * 3.42f * B},
                 colour, intensity, size, dp);
    }
  }
}

std::size_t ArcadeRingSlots(std::size_t points, float density, std::size_t workers) {
  const float kept = std::floor(static_cast<float>(points) * Clamp01(density));
  const std::size_t M = static_cast<std::size_t>(kept);
  const std::size_t cap = std::min<std::size_t>(std::max<std::size_t>(workers, 1), 8);
  return std::min(std::max<std::size_t>(1, M >> 12), cap);
}

void DrawArcadeRing(Framebuffer& fb, const CameraBasis& cam, const std::vector<ScenePoint>& ring,
                    float t, const DebugParams& dp, const MusicViz& mv, float dim,
                    std::size_t slots, std::vector<std::vector<Vec3>>& slot_buffers,
                    SplatPlanes& planes, ThreadPool& pool) {
  const RingFrame rf = MakeRingFrame(t, mv, dim);
  const std::size_t N = ring.size();
  const std::size_t width = fb.width;
  const std::size_t height = fb.height;
  if (slots <= 1) {
    SplatPlanes* scratch = nullptr;
    if (splat_kernel::SelectedPlanes() != nullptr) {
      PrepareSplatPlanes(planes, width, height);
      scratch = &planes;
    }
    if (scratch != nullptr) {
      DrawRingPointsIntoPlanes(*scratch, cam, ring, rf, dp);
      AddSplatPlanes(*scratch, fb.pixels.data());
    } else {
      DrawRingPoints(fb.pixels.data(), width, height, nullptr, cam, ring, 0, N, rf, dp);
    }
    return;
  }

  // Pass 1: each slot draws its share of the points into its own image; the framebuffer is
  // not touched, so no slot waits for another. The pieces reach their inputs through one
  // pointer, which keeps the loop body small enough that calling it allocates nothing.
  struct RingJob {
    const CameraBasis* cam;
    const std::vector<ScenePoint>* ring;
    const RingFrame* rf;
    const DebugParams* dp;
    std::vector<std::vector<Vec3>>* buffers;
    Vec3* pixels;
    std::size_t width, height, points, slots;
  };
  slot_buffers.resize(slots);
  const RingJob job{&cam,  &ring,  &rf, &dp,         &slot_buffers, fb.pixels.data(),
                    width, height, N,   slots};
  Parallel::ForRangeIn(pool, 0, slots, 1, [j = &job](std::size_t from, std::size_t to) {
    const std::size_t pixel_count = j->width * j->height;
    for (std::size_t k = from; k < to; ++k) {
      std::vector<Vec3>& buffer = (*j->buffers)[k];
      buffer.resize(pixel_count);
      std::fill(buffer.begin(), buffer.end(), Vec3{});
      DrawRingPoints(buffer.data(), j->width, j->height, nullptr, *j->cam, *j->ring, k * j->points / j->slots,
                     (k + 1) * j->points / j->slots, *j->rf, *j->dp);
    }
  });

  // Pass 2: each pixel range sums the slots into the framebuffer; one task owns each range.
  Parallel::ForRangeIn(pool, 0, width * height, 4096, [j = &job](std::size_t from, std::size_t to) {
    const std::vector<std::vector<Vec3>>& buffers = *j->buffers;
    for (std::size_t i = from; i < to; ++i) {
      Vec3 sum;
      for (std::size_t k = 0; k < j->slots; ++k) sum += buffers[k][i];
      j->pixels[i] += sum;
    }
  });
}

void DrawWalkers(const SplatTarget& fb, const CameraBasis& cam, float t, const DebugParams& dp,
                 const MusicViz& mv, const ObjectsMix& mix) {
  const float a = Clamp01(0.26f + 0.74f * mv.cue_nova + 0.24f * mv.cue_veil) * mix.dim;
  if (a <= 0.001f) return;
  const float d0 = mix.drive;
  const float ph = mv.active ? mv.beat : 1.4f * t;
  const float E = 0.49f + 0.03f * d0;  // hip height
  const float I = (0.034f + 0.018f * mv.cue_nova + 0.02f * d0) * a;
  const Vec3 head_colour = Vec3{0.94f, 0.98f, 1.0f} * (1.2f + d0);
  for (int i = 0; i < 14; ++i) {
    const std::uint32_t ui = static_cast<std::uint32_t>(i);
    if (!DotKept(ui * kSeedStep + 345788203u, dp.dot_density)) continue;
    const float fi = static_cast<float>(i);
    const float th = (0.18f + 0.08f * mv.cue_nova) * t + fi * kTwoPi / 14.0f;
    const float ct = std::cos(th);
    const float st = std::sin(th);
    const float x0 = (4.3f + 0.18f * std::sin(1.3463969f * fi)) * ct;
    const float z0 = (2.44f + 0.13f * std::cos(0.89759797f * fi)) * st;
    const float x = x0 + 0.045f * std::cos(0.67319846f * fi + 4.08407f * ph);
    const float z = z0;
    const float sw = std::sin(1.1219975f * fi + kTwoPi * ph);
    // Blue to cyan, fixed per figure.
    const float K = static_cast<float>(Hash32(ui * 0x9E3779B9u) & 0xFFFFFFu) * (1.0f / 16777216.0f);
    const Vec3 base{0.12f + 0.88f * K, 0.88f - 0.72f * K, 1.0f - 0.36f * K};

    const Vec3 hip{x, E, z};
    const Vec3 hip_base{x, E - 0.22f, z};
    const Vec3 neck{x, E + 0.3f, z};
    SplatSegment(fb, cam, hip_base, neck, base * (1.3f + 0.8f * d0), I, 0.92f, dp,
                 ui + 980193775u);
    const float reach = 0.23f + 0.04f * sw;
    SplatSegment(fb, cam, hip, hip + Vec3{ct * reach, 0.0f, st * reach}, base * 1.4f, 0.76f * I,
                 0.76f, dp, ui - 995926751u);
    const Vec3 stride = Vec3{-st, 0.0f, ct} * (0.24f * sw);
    const Vec3 spread = Vec3{ct, 0.0f, st} * 0.1f;
    const Vec3 ground{x0, 0.03f, z0};
    SplatSegment(fb, cam, hip_base, ground + stride + spread, base * 1.1f, 0.7f * I, 0.7f, dp,
                 ui + 1103515245u);
    SplatSegment(fb, cam, hip_base, ground - stride - spread, base * 1.1f, 0.7f * I, 0.7f, dp,
                 ui + 668265263u);
    SplatWorld(fb, cam, neck, head_colour, 1.15f * I, 1.2f + 0.5f * d0, dp);
  }
}

void DrawSaucers(const SplatTarget& fb, const CameraBasis& cam, const std::vector<ScenePoint>& saucer,
                 float t, const DebugParams& dp, const MusicViz& mv, const ObjectsMix& mix) {
  const float J = Clamp((0.1872f + 0.048f * mv.cue_nova + 0.0768f * mv.cue_scan) *
                            (1.0f - 0.88f * mix.club) * (1.0f - 0.88f * mv.cue_veil),
                        0.0f, 0.26f);
  if (!(J > 0.0f)) return;
  const Vec3 glint{0.16f, 0.96f, 1.0f};
  const float tint = 1.0f + 0.32f * mv.lead + 0.72f * mv.impact;
  const float boost = (1.0f + 0.18f * mv.kick + 0.3f * mv.lead) * J * mix.dim;
  const float grow = 0.92f + 0.14f * mv.lead;
  const float sin_w = std::sin(7.8f * t);
  const float cos_w = std::cos(7.8f * t);
  for (int n = 0; n < 5; ++n) {
    const SaucerFlight flight = SaucerAt(n, mv.section_time);
    const float Q = flight.visible;
    if (Q <= 0.001f) continue;
    const float cw = std::cos(flight.spin);
    const float sw = std::sin(flight.spin);
    const float ct = std::cos(flight.angle);
    const float st = std::sin(flight.angle);
    const float S = flight.radius;
    for (std::size_t j = 0; j < saucer.size(); ++j) {
      const std::uint32_t seed = static_cast<std::uint32_t>(j) * kSeedStep + 1985811115u;
      if (!DotKept(seed, dp.dot_density)) continue;
      const ScenePoint& p = saucer[j];
      const float qx = 0.68f * (cw * p.pos.x + sw * p.pos.z);
      const float qz = 0.68f * (cw * p.pos.z - sw * p.pos.x);
      const Vec3 world{S * st - st * qx + ct * qz, 3.85f + 0.68f * p.pos.y,
                       S * ct - ct * qx - st * qz};
      const float shimmer = p.sin_a * cos_w + p.cos_a * sin_w;  // sin(alpha + 7.8t)
      const Vec3 colour = Lerp(p.color, glint, 0.19f * (shimmer + 1.0f)) * tint;
      SplatWorld(fb, cam, world, colour, p.intensity * boost * Q, p.size * grow, dp);
    }
  }
}

void DrawEmbers(const SplatTarget& fb, const CameraBasis& cam, float t, const DebugParams& dp,
                const MusicViz& mv, const ObjectsMix& mix) {
  const float d0 = mix.drive;
  const float intensity = 0.035f * mix.dim * (1.0f + 0.4f * mv.perc + 1.25f * mv.build);
  for (int j = 0; j < 420; ++j) {
    const std::uint32_t uj = static_cast<std::uint32_t>(j);
    if (!DotKept(uj * kSeedStep - 1914216052u, dp.dot_density)) continue;
    const float a = U(uj * 47u);
    const float b = U(uj * 17u);
    const float e = U(uj * 31u);
    const float radius = 7.0f + 5.0f * e;
    const float speed = 0.1f + 0.15f * a;
    const float angle = kTwoPi * b + speed * t;
    const float height = 0.2f + 5.4f * a +
                         0.35f * mv.impact * std::sin(3.0f * speed * t + 6.0f * kPi * b + 5.0f * t);
    const Vec3 colour = Vec3{0.12f + 0.88f * a, 0.6f - 0.5f * a, 1.0f - 0.35f * a} * (1.0f + 0.8f * d0);
    const float size = 1.2f + 1.8f * a + mv.kick * (0.216f + 0.324f * a);
    SplatWorld(fb, cam, Vec3{std::cos(angle) * radius, height, std::sin(angle) * radius}, colour,
               intensity, size, dp);
  }
}

void DrawBackdrop(const SplatTarget& fb, const CameraBasis& cam, float t, const DebugParams& dp,
                  const MusicViz& mv, const ObjectsMix& mix) {
  const float a = mix.veil;
  if (a <= 0.001f) return;
  const float d0 = mix.drive;
  const float F = Smoothstep((mv.cue_reveal - 0.4f) * 1.6666666f);  // the centre opens

  // 1. The wall of light: 92 columns x 42 rows, waving with the steps.
  const float sway = 0.04f + 0.035f * d0;
  const float step = kTwoPi * mv.step_phase;
  const float brighten = 1.2f + d0;
  const float size = 1.0f + 0.42f * d0;
  for (int i = 0; i < 92; ++i) {
    const float c = static_cast<float>(i) / 91.0f;
    const float x = 9.8f * c - 4.9f;
    const float wave = std::sin(28.274334f * c + 1.2f * t + step);
    const float r = Smoothstep((std::fabs(c - 0.5f) + 0.38f * F - 0.2f) * 2.631579f);
    const float open = (1.0f - r * F) * a;
    const std::uint32_t salt = static_cast<std::uint32_t>(i) * 978503801u - 1941098767u;
    for (int j = 0; j < 42; ++j) {
      if (!DotKept(static_cast<std::uint32_t>(j) * kSeedStep + salt, dp.dot_density)) continue;
      const float fj = static_cast<float>(j);
      const float y = 0.22f + 0.09804878f * fj + sway * wave;
      const float z = 0.18f + 0.01707317f * fj + 0.035f * wave;
      const float w = std::sin(1.3792357f * fj + 5.0f * t + 7.0f * c);
      const Vec3 colour = Vec3{0.54f + 0.46f * w, 0.48f - 0.36f * w, 0.83f - 0.17f * w} * brighten;
      SplatWorld(fb, cam, Vec3{x, y, z}, colour, open * (0.029f + 0.006f * w), size, dp);
    }
  }

  // 2. Nine vertical beams, magenta and cyan in turn, their tops swaying.
  const float g = 1.4f + 0.8f * d0;
  const Vec3 magenta{g, 0.16f * g, 0.64f * g};
  const Vec3 cyan{0.14f + 0.08f * d0, 0.92f * g, g};
  const float intensity = a * (0.024f + 0.012f * mv.build) * (1.0f - 0.72f * F);
  const float beam_size = 1.2f + 0.35f * d0;
  for (int j = 0; j < 9; ++j) {
    const float fj = static_cast<float>(j);
    const float x = 1.2375f * fj - 4.95f;
    const Vec3 foot{x, 0.12f, 0.05f};
    const Vec3 top{x + 0.18f * std::sin(fj * kPi / 4.0f + 0.6f * t), 4.38f, 0.72f};
    SplatSegment(fb, cam, foot, top, (j % 2 == 1) ? magenta : cyan, intensity, beam_size, dp,
                 static_cast<std::uint32_t>(j) - 267578828u);
  }
}

// ---------------------------------------------------------------------------------------------
// The scene object

ObjectsScene::ObjectsScene() {
  BuildRingCloud(ring_points);
  BuildSaucerCloud(saucer_points);
}

void ObjectsScene::PrepareScratch(std::size_t width, std::size_t height) const {
  if (splat_kernel::SelectedPlanes() != nullptr) PrepareSplatPlanes(ring_planes, width, height);
}

void ObjectsScene::Draw(Framebuffer& fb, float time, const DebugParams& dp,
                        const SceneCameraParams& cam, const MusicViz& mv) const {
  Draw(fb, time, dp, cam, mv, ThreadPool::Instance());
}

void ObjectsScene::Draw(Framebuffer& fb, float time, const DebugParams& dp,
                        const SceneCameraParams& cam, const MusicViz& mv, ThreadPool& pool) const {
  const float t = time;

  // 1. Music mixes.
  const ObjectsMix mix = MakeObjectsMix(mv);
  const float d0 = mix.drive;
  const float o = mix.closeup;

  // 2. The previous frame decays and a faint violet floor of light is added.
  const float keep = Clamp(dp.trail - 0.025f * d0 - 0.015f * o, 0.15f, 0.98f);
  fb.ScaleAdd(keep, Vec3{0.002f + 0.0014f * d0 + 0.0009f * o, 0.001f + 0.0007f * d0 + 0.00045f * o,
                         0.004f + 0.0028f * d0 + 0.0018f * o});

  // 3. Camera.
  const CameraBasis camera = ObjectsCamera(t, cam, mix, fb.width, fb.height);

  // 4. The elements. Every one only adds light, so their order changes nothing but float
  //    rounding. When the ring is drawn through the planes (one core, a planar kernel), the
  //    other elements' splats go into the same planes first, where the planar kernel adds a
  //    disc several times faster than into the interleaved frame, and the ring's one pass adds
  //    them all onto the frame.
  const std::size_t slots = ArcadeRingSlots(ring_points.size(), dp.dot_density, pool.Workers());
  const bool planar = slots <= 1 && splat_kernel::SelectedPlanes() != nullptr;
  if (planar) PrepareSplatPlanes(ring_planes, fb.width, fb.height);
  const SplatTarget out = planar ? SplatTarget(fb, &ring_planes) : SplatTarget(fb);
  DrawFloorGrid(out, camera, t, dp, mv, d0);
  DrawArenaFloor(out, camera, t, dp, mv, mix);
  if (mix.console > 0.001f) DrawConsoleAndOperator(out, camera, t, dp, mv, mix.console);
  DrawWalkers(out, camera, t, dp, mv, mix);
  DrawSaucers(out, camera, saucer_points, t, dp, mv, mix);
  DrawEmbers(out, camera, t, dp, mv, mix);
  DrawBackdrop(out, camera, t, dp, mv, mix);
  DrawArcadeRing(fb, camera, ring_points, t, dp, mv, mix.dim, slots, slot_buffers, ring_planes, pool);
}
