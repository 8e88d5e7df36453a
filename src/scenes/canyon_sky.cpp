#include "scenes/canyon_sky.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "render/lanes16.h"
#include "render/lanes8.h"
#include "render/noise.h"
#include "render/primitives.h"
#include "scenes/canyon_internal.h"
#include "scenes/canyon_lanes.h"

using canyon_detail::kTwoPi;
using canyon_detail::N;
using canyon_detail::N01;
using canyon_detail::SS;

namespace {

// Dusk colours: a low orange sun and a warm grey mist.
constexpr Vec3 kSunColour(0.95f, 0.36f, 0.12f);
constexpr Vec3 kMistColour(0.19f, 0.185f, 0.175f);

// The screen frame rolled with the camera about (width/2, horizon row): an offset (u, v) from
// that centre, u to the right and v downward, lands at centre + rotated offset.
struct RolledFrame {
  float cx = 0.0f;
  float cy = 0.0f;
  float cr = 1.0f;
  float sr = 0.0f;

  Vec2 Place(float u, float v) const { return {cx + u * cr - v * sr, cy + u * sr + v * cr}; }
};

RolledFrame MakeRolledFrame(const Framebuffer& fb, float roll, int horizon_row) {
  RolledFrame rf;
  rf.cx = static_cast<float>(fb.width) / 2.0f;
  rf.cy = static_cast<float>(horizon_row);
  rf.cr = std::cos(roll);
  rf.sr = std::sin(roll);
  return rf;
}

// Per-frame terms of the sky.
struct SkyFrame {
  RolledFrame rolled;
  float W = 0.0f;
  float H = 0.0f;
  float t = 0.0f;
  float heading = 0.0f;
  float cloud_swing;  // 46 sin(1.7 heading): the bands move up and down as the camera turns
  float ridge_row;    // horizon / H
};

SkyFrame MakeSkyFrame(const Framebuffer& frame, float t, float roll, int horizon_row, float heading) {
  SkyFrame sf;
  sf.rolled = MakeRolledFrame(frame, roll, horizon_row);
  sf.W = static_cast<float>(frame.width);
  sf.H = static_cast<float>(frame.height);
  sf.t = t;
  sf.heading = heading;
  sf.cloud_swing = 46.0f * std::sin(1.7f * heading);
  sf.ridge_row = static_cast<float>(horizon_row) / sf.H;
  return sf;
}

// The sky colour at screen point (sx, sy).
Vec3 SkyColour(const SkyFrame& sf, float sx, float sy) {
  const RolledFrame& rf = sf.rolled;
  const float t = sf.t;
  const float heading = sf.heading;

  // 2. Rolled coordinates; two cloud layers scroll sideways with the heading at different rates.
  const float F = sx - rf.cx;
  const float E = sy - rf.cy;
  const float rotX = rf.cx + F * rf.cr + E * rf.sr;
  const float rotY = rf.cy + E * rf.cr - F * rf.sr;
  const float K = rotY / sf.H;
  const float J = 840.0f * heading + rotX;
  const float I = 520.0f * heading + rotX;

  // 3. Cloud bands bow downward toward the sides.
  const float fw = F / sf.W;
  const float Nc = sf.cloud_swing + (Clamp01(K) + 0.55f) * 92.0f * (fw * fw) + rotY;
  const float O = 0.014f * Nc;

  // 4. Domain warp.
  const float q = N(2, 0.0065f * I + 0.012f * t, O - 0.017f * t);
  const float p = N(1, 0.009425f * J - 0.01f * t, 0.75f * O + 0.021f * t);
  const float S = 0.025f * t;
  const float U = 14.5f * p + 43.5f * q + I;
  const float V = 29.0f * q - 37.7f * p + Nc;
  const float X = 12.76f * q + 52.2f * p + J;

  // 5. Cloud fields and the far ridge's outline.
  const float Y =
      Clamp01((N(3, 0.013f * U + S, 1.218f * p - 0.522f * q + 0.03f * Nc - 0.7f * S) + 1.0f) * 0.5f);
  const float a = N01(0, 0.0221f * X - 0.6f * S, 0.024f * V + S);
  const float b = N01(1, 0.018f * (X + t), 0.038f * V - 0.026f * t);
  const float r = N01(2, 0.008f * U, 0.25f * heading + 8.2f);

  // 6. Height masks.
  const float g = Clamp01((K + 0.42f) / 0.36f);
  const float S1 = SS(g);
  const float low_cut = 1.0f - SS(Clamp01((K - 0.76f) / 0.58f));
  const float upper = 1.0f - SS(Clamp01((K - 0.26f) / 0.64f));
  const float cloud_mask = S1 * low_cut;

  // 7. Dark blue-grey gradient, light, bright and dark cloud, the far ridge, a faint high glow.
  const float R = SS(Clamp01(K / 0.9f));
  Vec3 c(0.082f * R + 0.008f, 0.078f * R + 0.008f, 0.068f * R + 0.012f);
  const float light_cloud = 0.34f * cloud_mask * SS(Clamp01((Y - 0.36f) / 0.52f));
  c = Lerp(c, Vec3(0.22f, 0.22f, 0.205f), light_cloud);
  const float bright_cloud = 0.42f * cloud_mask * SS(Clamp01((a - 0.42f) / 0.54f));
  c = Lerp(c, Vec3(0.35f, 0.335f, 0.3f), bright_cloud);
  const float dark_cloud = 0.25f * cloud_mask * SS(Clamp01(2.0f * b - 0.9f));
  c = Lerp(c, Vec3(0.038f, 0.036f, 0.037f), dark_cloud);
  const float h0 = 0.13f * r + sf.ridge_row;
  const float ridge =
      0.62f * SS(Clamp01((K - (h0 - 0.063f)) / 0.073f)) * (1.0f - SS(Clamp01((K - (h0 + 0.075f)) / 0.3f)));
  c = Lerp(c, Vec3(0.02f, 0.02f, 0.022f), ridge);
  const float high_glow = SS(Clamp01((a - 0.36f) / 0.56f)) * upper;
  c += Vec3(0.01925f, 0.018425f, 0.0165f) * high_glow;
  return c;
}

// SkyColour at four screen points at once (sx[k], sy), lane by lane the same operations, written
// as four colours to out.
void SkyColours(const SkyFrame& sf, const float* sx, float sy, Vec3* out) {
  using namespace canyon_lanes;
  const RolledFrame& rf = sf.rolled;
  const float t = sf.t;
  const float heading = sf.heading;
  const float* table = NoiseTable();
  const F4 one = Splat(1.0f);

  // 2. Rolled coordinates; two cloud layers scroll sideways with the heading at different rates.
  const F4 F = Load(sx) - Splat(rf.cx);
  const F4 E = Splat(sy - rf.cy);
  const F4 rotX = Splat(rf.cx) + F * Splat(rf.cr) + E * Splat(rf.sr);
  const F4 rotY = Splat(rf.cy) + E * Splat(rf.cr) - F * Splat(rf.sr);
  const F4 K = rotY / Splat(sf.H);
  const F4 J = Splat(840.0f * heading) + rotX;
  const F4 I = Splat(520.0f * heading) + rotX;

  // 3. Cloud bands bow downward toward the sides.
  const F4 fw = F / Splat(sf.W);
  const F4 Nc = Splat(sf.cloud_swing) + (Clamp01(K) + Splat(0.55f)) * Splat(92.0f) * (fw * fw) + rotY;
  const F4 O = Splat(0.014f) * Nc;

  // 4. Domain warp.
  const F4 q = SampleNoise4(table, Splat(0.0065f) * I + Splat(0.012f * t), O - Splat(0.017f * t), 2);
  const F4 p =
      SampleNoise4(table, Splat(0.009425f) * J - Splat(0.01f * t), Splat(0.75f) * O + Splat(0.021f * t), 1);
  const float S = 0.025f * t;
  const F4 U = Splat(14.5f) * p + Splat(43.5f) * q + I;
  const F4 V = Splat(29.0f) * q - Splat(37.7f) * p + Nc;
  const F4 X = Splat(12.76f) * q + Splat(52.2f) * p + J;

  // 5. Cloud fields and the far ridge's outline.
  const auto n01 = [](F4 n) { return Clamp01((n + Splat(1.0f)) * Splat(0.5f)); };
  const F4 Y =
      n01(SampleNoise4(table, Splat(0.013f) * U + Splat(S),
                       Splat(1.218f) * p - Splat(0.522f) * q + Splat(0.03f) * Nc - Splat(0.7f * S), 3));
  const F4 a =
      n01(SampleNoise4(table, Splat(0.0221f) * X - Splat(0.6f * S), Splat(0.024f) * V + Splat(S), 0));
  const F4 b =
      n01(SampleNoise4(table, Splat(0.018f) * (X + Splat(t)), Splat(0.038f) * V - Splat(0.026f * t), 1));
  const F4 r = n01(SampleNoise4(table, Splat(0.008f) * U, Splat(0.25f * heading + 8.2f), 2));

  // 6. Height masks.
  const F4 g = Clamp01((K + Splat(0.42f)) / Splat(0.36f));
  const F4 S1 = SS(g);
  const F4 low_cut = one - SS(Clamp01((K - Splat(0.76f)) / Splat(0.58f)));
  const F4 upper = one - SS(Clamp01((K - Splat(0.26f)) / Splat(0.64f)));
  const F4 cloud_mask = S1 * low_cut;

  // 7. Dark blue-grey gradient, light, bright and dark cloud, the far ridge, a faint high glow.
  const F4 R = SS(Clamp01(K / Splat(0.9f)));
  F4 cr = Splat(0.082f) * R + Splat(0.008f);
  F4 cg = Splat(0.078f) * R + Splat(0.008f);
  F4 cb = Splat(0.068f) * R + Splat(0.012f);
  const auto lerp_to = [&cr, &cg, &cb](Vec3 target, F4 amount) {
    cr = cr + (Splat(target.x) - cr) * amount;
    cg = cg + (Splat(target.y) - cg) * amount;
    cb = cb + (Splat(target.z) - cb) * amount;
  };
  const F4 light_cloud = Splat(0.34f) * cloud_mask * SS(Clamp01((Y - Splat(0.36f)) / Splat(0.52f)));
  lerp_to(Vec3(0.22f, 0.22f, 0.205f), light_cloud);
  const F4 bright_cloud = Splat(0.42f) * cloud_mask * SS(Clamp01((a - Splat(0.42f)) / Splat(0.54f)));
  lerp_to(Vec3(0.35f, 0.335f, 0.3f), bright_cloud);
  const F4 dark_cloud = Splat(0.25f) * cloud_mask * SS(Clamp01(Splat(2.0f) * b - Splat(0.9f)));
  lerp_to(Vec3(0.038f, 0.036f, 0.037f), dark_cloud);
  const F4 h0 = Splat(0.13f) * r + Splat(sf.ridge_row);
  const F4 ridge = Splat(0.62f) * SS(Clamp01((K - (h0 - Splat(0.063f))) / Splat(0.073f))) *
                   (one - SS(Clamp01((K - (h0 + Splat(0.075f))) / Splat(0.3f))));
  lerp_to(Vec3(0.02f, 0.02f, 0.022f), ridge);
  const F4 high_glow = SS(Clamp01((a - Splat(0.36f)) / Splat(0.56f))) * upper;
  cr = cr + Splat(0.01925f) * high_glow;
  cg = cg + Splat(0.018425f) * high_glow;
  cb = cb + Splat(0.0165f) * high_glow;

  float rs[4];
  float gs[4];
  float bs[4];
  Store(rs, cr);
  Store(gs, cg);
  Store(bs, cb);
  for (int k = 0; k < 4; ++k) out[k] = Vec3(rs[k], gs[k], bs[k]);
}

// SkyColours at eight lanes with AVX2 and at sixteen with AVX-512F.
#pragma GCC push_options
#pragma GCC target("avx2")
namespace sky_avx2 {
namespace lanes = lanes8::generic;
#include "scenes/canyon_lane_ops.h"
#include "scenes/canyon_sky_lanes.h"
}  // namespace sky_avx2
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx512f")
namespace sky_avx512 {
namespace lanes = lanes16::generic;
#include "scenes/canyon_lane_ops.h"
#include "scenes/canyon_sky_lanes.h"
}  // namespace sky_avx512
#pragma GCC pop_options

}  // namespace

Vec3 CanyonSkyColour(const Framebuffer& frame, float t, float roll, int horizon_row, float heading, float sx,
                     float sy) {
  return SkyColour(MakeSkyFrame(frame, t, roll, horizon_row, heading), sx, sy);
}

void DrawCanyonSky(Framebuffer& frame, float t, float roll, int horizon_row, float heading, int parity,
                   int column_step, const int* sky_rows) {
  const std::size_t width = frame.width;
  const std::size_t height = frame.height;
  if (width == 0 || height == 0) return;

  const SkyFrame sf = MakeSkyFrame(frame, t, roll, horizon_row, heading);

  // Rows of column x that show sky: all of them, or those above the terrain.
  const auto sky_shows = [sky_rows](std::size_t x, std::size_t y) {
    return sky_rows == nullptr || static_cast<long>(y) < static_cast<long>(sky_rows[x]);
  };

  // 1. One evaluation per block of 2 rows by A columns. With interlacing the block is one column
  // wide and only the columns the march redraws this frame are visited.
  const bool interlaced = column_step == 2;
  const std::size_t A = interlaced ? 1 : 2;
  const float half_block = static_cast<float>(A) / 2.0f;
  const std::size_t first_column = interlaced ? static_cast<std::size_t>(parity & 1) : 0;
  const std::size_t column_stride = interlaced ? 2 : A;
  Vec3* pixels = frame.pixels.data();
  // Visible blocks of a row are evaluated as many at a time as the canyon's lane kernels take
  // (sixteen with AVX-512F, eight with AVX2), else four.
  const canyon_detail::LaneKernels* kernels = canyon_detail::FastLaneKernels();
  const int lanes = kernels ? kernels->lanes : 4;
  using SkyLanes = void (*)(const SkyFrame&, const float*, float, Vec3*);
  const SkyLanes sky_colours = lanes == 16  ? &sky_avx512::SkyColoursLanes
                               : lanes == 8 ? &sky_avx2::SkyColoursLanes
                                            : &SkyColours;
  constexpr int kMax = canyon_detail::kMaxLanes;
  struct PendingBlock {
    std::size_t n;
    float sx;
  };
  PendingBlock pending[kMax];
  int pending_count = 0;
  const auto flush = [&](std::size_t i, float sy) {
    if (pending_count == 0) return;
    float sx[kMax];
    for (int k = 0; k < lanes; ++k) sx[k] = pending[k < pending_count ? k : 0].sx;
    Vec3 colours[kMax];
    sky_colours(sf, sx, sy, colours);
    const std::size_t row_end = std::min(i + 2, height);
    for (int k = 0; k < pending_count; ++k) {
      const std::size_t n = pending[k].n;
      const std::size_t column_end = std::min(n + A, width);
      for (std::size_t y = i; y < row_end; ++y) {
        for (std::size_t x = n; x < column_end; ++x) {
          if (sky_shows(x, y)) pixels[y * width + x] = colours[k];
        }
      }
    }
    pending_count = 0;
  };
  for (std::size_t i = 0; i < height; i += 2) {
    const float sy = std::min(static_cast<float>(i) + 1.0f, sf.H - 0.5f);
    for (std::size_t n = first_column; n < width; n += column_stride) {
      const std::size_t column_end = std::min(n + A, width);
      bool visible = false;
      for (std::size_t x = n; x < column_end; ++x) visible = visible || sky_shows(x, i);
      if (!visible) continue;

      const float sx = std::min(static_cast<float>(n) + half_block, sf.W - 0.5f);
      pending[pending_count++] = {n, sx};
      if (pending_count == lanes) flush(i, sy);
    }
    flush(i, sy);
  }

  // 8. The low sun: 34 nested splats, on every column (the terrain covers it where nearer).
  const float u = (0.05f * std::sin(0.13f * t) + 0.72f) * sf.W - sf.W / 2.0f;
  const float v = 0.22f * sf.H - static_cast<float>(horizon_row);
  const Vec2 sun = sf.rolled.Place(u, v);
  if (!IsFinite(sun)) return;

  // With the terrain already drawn, the terrain pixels the glow reaches are kept aside and put
  // back afterwards, as if the terrain had been drawn over the glow.
  constexpr int kSunReach = 36;  // beyond the largest splat's footprint (radius 34)
  thread_local std::vector<std::pair<std::size_t, Vec3>> covered;  // keeps its storage
  covered.clear();
  covered.reserve((2 * kSunReach + 1) * (2 * kSunReach + 1));  // the whole square, once
  if (sky_rows != nullptr) {
    const float cx = std::floor(sun.x);
    const float cy = std::floor(sun.y);
    const long x0 = static_cast<long>(Clamp(cx - kSunReach, 0.0f, sf.W - 1.0f));
    const long x1 = static_cast<long>(Clamp(cx + kSunReach, 0.0f, sf.W - 1.0f));
    const long y0 = static_cast<long>(Clamp(cy - kSunReach, 0.0f, sf.H - 1.0f));
    const long y1 = static_cast<long>(Clamp(cy + kSunReach, 0.0f, sf.H - 1.0f));
    for (long y = y0; y <= y1; ++y) {
      for (long x = x0; x <= x1; ++x) {
        const std::size_t ux = static_cast<std::size_t>(x);
        const std::size_t uy = static_cast<std::size_t>(y);
        if (!sky_shows(ux, uy)) covered.emplace_back(uy * width + ux, pixels[uy * width + ux]);
      }
    }
  }
  for (int k = 34; k >= 1; --k) {
    const float kf = static_cast<float>(k);
    Splat(frame, sun.x, sun.y, kf, kSunColour, kf * 2.6470589e-5f);
  }
  for (const auto& [index, colour] : covered) pixels[index] = colour;
}

void DrawCanyonMist(Framebuffer& target, float t, float roll, int horizon_row, const DebugParams& p,
                    const MusicViz& mv) {
  if (!(p.fog > 0.0f)) return;
  const RolledFrame rf = MakeRolledFrame(target, roll, horizon_row);
  const float W = static_cast<float>(target.width);
  const float H = static_cast<float>(target.height);
  const float P = CanyonPulse(mv);

  for (int i = 0; i < 34; ++i) {
    const float fi = static_cast<float>(i);
    // 1. Height up the band A, patchiness e, and fades at the bottom and the very top.
    const float A = (fi + 0.35f) / 34.0f;
    const float e = N01(3, 7.5f * A + 0.06f * t, 0.31f * fi + 0.26f * t);
    const float Im = Clamp01((e - 0.18f) / 0.68f);
    const float top = Clamp01((A - 0.96f) * 25.0f);
    const float rise = Clamp01((A - 0.1f) / 0.28f);

    // 2. Swaying sideways, from 0.78H upward.
    const float u = std::sin(11.7f * A + 0.18f * t) * W * (0.075f * A + 0.01875f);
    const float v = std::sin(17.0f * A + 0.23f * t) * H * 0.018f + 0.78f * H - 0.34f * H * (A * A) -
                    static_cast<float>(horizon_row);
    const Vec2 centre = rf.Place(u, v);

    // 3.-5.
    const float radius = 28.9f * e + 23.8f - (21.25f * e * A + 17.5f * A);
    const float intensity =
        SS(Im) * (0.033f - 0.022f * rise) * (rise * rise) * (1.0f - SS(top)) * (1.0f + 0.65f * P) * p.fog;
    Splat(target, centre.x, centre.y, radius, kMistColour, intensity);
  }
}

void DrawBeacons(Framebuffer& target, const CanyonView& view, float cam_z, float t, const DebugParams& p,
                 const MusicViz& mv) {
  // 1. Lit by the cues, from 5 s into the section.
  const float act = Clamp01(std::max(0.26f * mv.cue_scan, mv.cue_beams) + 0.24f * mv.cue_intro);
  if (act <= 0.001f || !(mv.section_time >= 5.0f)) return;

  // 2.
  const float P = CanyonPulse(mv);
  const float cr = 1.0f / std::sqrt(view.slope * view.slope + 1.0f);
  const float sr = view.slope * cr;
  const float W = view.width;
  const float H = view.height;
  const auto height_at = [&p](float x, float z) { return TerrainHeight(x, z, p, true); };

  for (int i = 0; i < 4; ++i) {
    const float fi = static_cast<float>(i);
    const std::uint32_t seed = 0x6F3AD91Bu + static_cast<std::uint32_t>(i) * 0x9E3779B9u;

    // a. Beacon i comes in 5 + 0.7i seconds into the section.
    const float fade = SS(Clamp01((mv.section_time - (5.0f + 0.7f * fi)) / 0.85f));
    if (fade <= 0.001f) continue;

    // b.-c. Hovering ahead of the camera, wandering across the river.
    const float phase = static_cast<float>(Hash32(seed) & 0xFFFFFFu) * 3.7450704e-7f + 1.37f * fi;
    const float z = 0.8f * std::sin(phase + 0.24f * t) + 9.5f * fi + cam_z + 48.0f;
    const float x = 10.0f * std::sin(0.035f * z) + 18.0f * std::sin(0.011f * z) +
                    0.74f * std::sin(phase + 0.42f * t + 0.14f * kTwoPi * mv.step_phase);

    // d. Ground under it, smoothed over a small cross.
    const float h0 = height_at(x, z);
    const float ground = 0.5f * h0 + 0.15f * (height_at(x - 0.55f, z) + height_at(x + 0.55f, z)) +
                         0.1f * (height_at(x, z - 0.75f) + height_at(x, z + 0.75f)) + 0.12f;

    // e. Only over the glowing river.
    const float glow = RiverGlow(x, z, h0, t, mv);
    if (!(glow > 0.005f)) continue;

    // f.-h. Project by angle and distance.
    const float dx = x - view.camX;
    const float dz = z - view.camZ;
    const float dist = std::sqrt(dx * dx + dz * dz);
    if (!(dist > 0.6f)) continue;
    const float rel_raw = std::atan2(dx, dz) - view.heading;
    const float rel = std::atan2(std::sin(rel_raw), std::cos(rel_raw));
    const float sx = rel * 2.0f / view.fov;
    if (!(std::fabs(sx) <= 1.2f)) continue;
    const float X = (sx + 1.0f) * 0.5f * W;
    const float Y = sx * view.slope * W * 0.5f + view.horizon - (ground - view.camH) * 180.0f / dist;
    if (!(X >= -24.0f && X <= W + 24.0f && Y >= -24.0f && Y <= H + 24.0f)) continue;

    // i.-j. Size from distance, flicker on the sixteenths; the fourth beacon is dimmer.
    const float a3 = Clamp01((fi - 2.6f) / 1.4f);
    const float flicker = std::sin(3.2f * t + phase + kTwoPi * mv.step_phase);
    const float r = Clamp((52.0f * P + 260.0f) / dist, 1.85f, 4.8f);
    const float spread = (0.45f * P + 3.8f) * r;
    const float s = fade * act * ((0.066f + 0.039f * P) * flicker + (0.154f + 0.091f * P)) * (1.0f - SS(a3)) *
                    (0.52f * glow + 0.72f);

    // k. Red halo and orange core.
    Splat(target, X, Y, 1.35f * spread, (P + 2.1f) * Vec3(0.72f, 0.035f, 0.018f), 0.18f * s);
    Splat(target, X, Y, 1.95f * r, (P + 2.6f) * Vec3(1.25f, 0.35f, 0.07f), 0.38f * s);

    // l. Sparks up the rolled vertical to 42 pixels above the top edge.
    const Vec2 base(X, Y);
    const Vec2 top(X + (Y + 42.0f) * sr, Y - (Y + 42.0f) * cr);
    const Vec3 hot(1.62f * P + 2.43f, 0.09f * P + 0.135f, 0.036f * P + 0.054f);
    const Vec3 warm(0.648f * P + 1.08f, 0.0315f * P + 0.0525f, 0.0162f * P + 0.027f);
    DrawSparkBeam(target, base, top, hot, warm, s, r, spread, t, phase, seed);
  }
}

void DrawSparkBeam(Framebuffer& target, Vec2 base, Vec2 top, Vec3 hot, Vec3 warm, float strength,
                   float radius, float spread, float t, float phase, std::uint32_t seed) {
  // 1.
  const Vec2 d = top - base;
  const float len = Length(d);
  if (!(len > 1.0f)) return;
  const float ux = d.x / len;
  const float uy = d.y / len;
  const float blink_phase = 7.2f * t + phase;
  constexpr float kUnit = 1.0f / 16777216.0f;

  for (int j = 0; j < 20; ++j) {
    const float fj = static_cast<float>(j);
    const std::uint32_t f = seed + static_cast<std::uint32_t>(j) * 0x632BE59Bu;
    const auto h = [f](std::uint32_t k) { return static_cast<float>(Hash32(f ^ k) & 0xFFFFFFu); };

    // a. Climbing at 0.34 to 0.48 beam lengths per second and wrapping.
    const float climb = (h(0xA4093822u) * 0.14f * kUnit + 0.34f) * t;
    const float along = h(0u) * 0.05f * kUnit + 0.05f * fj + climb + 0.025f * phase;
    const float v = along - std::floor(along);

    // b. Fade in at the base, out at the top, twinkle.
    const float fade_in = Clamp01(10.0f * v);
    const float fade_out = 1.0f - SS(Clamp01((v - 0.94f) / 0.06f));
    const float tw = std::sin(1.91f * fj + blink_phase);
    const float level = SS(fade_in) * fade_out * strength;

    // c. Scattered sideways.
    const float side = (h(0x55F0B4ADu) * 0.68f * kUnit - 0.34f) * spread;
    const float x = base.x + v * d.x + side * -uy;
    const float y = base.y + v * d.y + side * ux;

    // d.-e. Warm halo and hot core.
    const float size = h(0xCF5AD432u);
    Splat(target, x, y, (size * 0.0864f * kUnit + 0.4136f) * spread, warm, level * (0.2412f + 0.0588f * tw));
    Splat(target, x, y, (size * 0.2448f * kUnit + 0.7852f) * radius, hot, level * (0.5824f + 0.1176f * tw));
  }
}
