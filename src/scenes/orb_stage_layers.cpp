// The orb stage's layers over the backdrop: near dust, fine dust, spark streaks, bonds, the orbs
// (halo, core, swarm, shell, rings, spiral arms, branches) and the scope. All additive splats
// into the main frame, whose decay gives every layer its trails. Every particle is placed by
// hashes of its index, so thinning with `dot_density` keeps the same particles frame to frame.

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "render/primitives.h"
#include "scenes/orb_stage.h"

namespace {

constexpr float kPi = 3.14159265f;
constexpr float kTwoPi = 6.2831855f;
constexpr float kHashScale = 1.0f / 16777216.0f;  // 2^-24

// The low 24 bits of a hash, for the values some layers scale several ways.
uint32_t Hash24(uint32_t seed) { return Hash32(seed) & 0xFFFFFFu; }

// Positive remainder of x / m, in [0, m) (0 for a non-finite x).
float WrapPositive(float x, float m) {
  if (!std::isfinite(x)) return 0.0f;
  float r = std::fmod(x, m);
  if (r < 0.0f) r += m;
  return r < m ? r : 0.0f;
}

// Depth size factor: nearer points draw larger, within [lo, hi].
float DepthSize(float depth, float lo, float hi) {
  return Clamp(1.45f / std::sqrt(std::max(depth, 0.25f)), lo, hi);
}

// Inside the frame grown by `margin` pixels on every side.
bool NearFrame(Vec2 s, float margin, float W, float H) {
  return s.x >= -margin && s.x <= W + margin && s.y >= -margin && s.y <= H + margin;
}

// The integer part of a non-negative value as 32 bits for a seed (wrapping beyond 2^32; 0 for
// a non-finite value).
uint32_t SeedPart(float v) {
  if (!std::isfinite(v)) return 0u;
  const double whole = std::floor(static_cast<double>(v));
  if (whole < 4294967296.0) return static_cast<uint32_t>(whole);
  return static_cast<uint32_t>(std::fmod(whole, 4294967296.0));
}

// floor(v) as a lattice cell (only its value modulo 2^32 reaches the hash) and the fraction.
void LatticeCell(float v, uint32_t& cell, float& frac) {
  if (!std::isfinite(v)) {
    cell = 0u;
    frac = 0.0f;
    return;
  }
  const float whole = std::floor(v);
  frac = v - whole;
  if (std::fabs(whole) < 2147483648.0f) {
    cell = static_cast<uint32_t>(static_cast<int32_t>(whole));
  } else {
    const double wrapped = std::fmod(static_cast<double>(whole), 4294967296.0);
    cell = static_cast<uint32_t>(static_cast<int64_t>(wrapped));
  }
}

// Recursive spark tree from one orb: each branch forks into two shorter, fainter ones.
void Branch(Framebuffer& frame, const StageLens& lens, Vec3 start, float angle, float len, int depth,
            Vec3 colour, float intensity, float radius) {
  if (depth <= 0 || intensity <= 0.002f || len <= 0.004f) return;
  const Vec3 end = start + Vec3(std::cos(angle) * len, std::sin(angle) * len,
                                0.52f * std::sin(0.37f * angle) * len);
  StageSegment(frame, lens, start, end, colour, intensity, radius);
  const float h = 0.11f * static_cast<float>(depth) + 0.45f;
  Branch(frame, lens, end, angle + h, 0.62f * len, depth - 1, colour, 0.72f * intensity,
         0.82f * radius);
  Branch(frame, lens, end, angle - 0.87f * h, 0.58f * len, depth - 1, colour, 0.62f * intensity,
         0.78f * radius);
}

}  // namespace

float FlowNoise(float x, float y) {
  float sum = 0.0f;
  float amplitude = 0.5f;
  for (int octave = 0; octave < 5; ++octave) {
    uint32_t ix = 0u, iy = 0u;
    float fx = 0.0f, fy = 0.0f;
    LatticeCell(x, ix, fx);
    LatticeCell(y, iy, fy);
    const float sx = Smoothstep(fx);
    const float sy = Smoothstep(fy);
    const uint32_t hx0 = ix * 73856093u;
    const uint32_t hx1 = hx0 + 73856093u;
    const uint32_t hy0 = iy * 19349663u;
    const uint32_t hy1 = hy0 + 19349663u;
    const float l00 = HashUnit(hx0 ^ hy0);
    const float l10 = HashUnit(hx1 ^ hy0);
    const float l01 = HashUnit(hx0 ^ hy1);
    const float l11 = HashUnit(hx1 ^ hy1);
    const float v = Lerp(Lerp(l00, l10, sx), Lerp(l01, l11, sx), sy);
    sum += (2.0f * v - 1.0f) * amplitude;
    amplitude *= 0.5f;
    x *= 2.02f;
    y *= 1.93f;
  }
  return sum;
}

OrbAxes OrbFrame(const Orb& orb, int index, float t, const MusicViz& mv) {
  const float f = static_cast<float>(index);
  const float ph = orb.phase;
  const float bp = mv.active ? mv.bar : 0.47f * t;
  const float a1 = 0.74f * std::cos(0.053f * t + 1.17f * f) + 0.29f * ph + 0.34f * mv.build;
  const float a2 = 0.92f * std::sin(0.73f * f + 0.071f * t) + 0.43f * ph + 0.012f * bp;
  const float a3 = (0.055f * mv.cue_club + 0.075f) * t * orb.charge + 0.61f * ph + 0.58f * mv.cue_finale;
  const float s1 = std::sin(a1), k1 = std::cos(a1);
  const float s2 = std::sin(a2), k2 = std::cos(a2);
  const float s3 = std::sin(a3), k3 = std::cos(a3);
  OrbAxes axes;
  axes.x = Normalize(Vec3(k3 * k2, s3 * k2, -s2));
  const Vec3 V(s2 * s1 * k3 - s3 * k1, s2 * s1 * s3 + k3 * k1, k2 * s1);
  axes.z = Normalize(Cross(axes.x, V));
  axes.y = Normalize(Cross(axes.z, axes.x));
  return axes;
}

int StageSegment(Framebuffer& frame, const StageLens& lens, Vec3 p0, Vec3 p1, Vec3 colour,
                 float intensity, float radius) {
  if (!(intensity > 0.0f)) return 0;
  const StageProjection a = ProjectStage(lens, p0);
  if (!a.in_front) return 0;
  const StageProjection b = ProjectStage(lens, p1);
  if (!b.in_front) return 0;

  // 1. Length on screen and the splat size at the segment's depth.
  const Vec2 S0 = a.screen;
  const Vec2 span = b.screen - a.screen;
  const float len = Length(span);
  const float f = Clamp(1.45f / std::sqrt(std::max((a.depth + b.depth) / 2.0f, 0.25f)), 0.45f, 1.85f) *
                  radius;

  // 2. About one splat per splat size, 2 ... 80 steps.
  const float steps = len / std::max(f, 1.5f);
  int n = steps < 80.0f ? static_cast<int>(steps) : 80;  // a NaN length draws the most
  n = std::max(n, 2);

  // 3. The jitter follows the segment's place in the world, so it stays put from frame to frame.
  const uint32_t hs = (SeedPart(std::fabs(p0.z + p1.z) * 1000.0f) * 83492791u) ^
                      (SeedPart(std::fabs(p0.y + p1.y) * 1000.0f) * 19349663u) ^
                      (SeedPart(std::fabs(p0.x + p1.x) * 1000.0f) * 73856093u);

  // 4. Splats along the line, swelling toward the middle, a few left out on long lines.
  const bool offset = len > 1e-4f;
  const Vec2 normal = offset ? Vec2(-span.y / len, span.x / len) : Vec2();
  int drawn = 0;
  for (int i = 0; i <= n; ++i) {
    const uint32_t ui = static_cast<uint32_t>(i);
    const float q = HashUnit(hs ^ (ui * 0x9E3779B9u));
    if (!(n < 9 || q >= 0.045f)) continue;
    const float s = static_cast<float>(i) / static_cast<float>(n);
    const float w = 0.65f + 0.35f * std::sin(kPi * s);
    const float side = (q - 0.5f) * f * (1.8f * w + 1.2f);
    const Vec2 point = S0 + s * span + side * normal;
    const float splat_radius = (0.7f * q + 0.75f) * f;
    const float splat_intensity = (0.62f + 0.62f * HashUnit(hs ^ (0u - ui * 2048144789u))) * w * intensity;
    Splat(frame, point.x, point.y, splat_radius, colour, splat_intensity);
    ++drawn;
  }
  return drawn;
}

void SplatArc(Framebuffer& frame, Vec2 a, Vec2 b, Vec3 colour, float intensity, float radius) {
  if (!(intensity > 0.0f) || !(radius > 0.0f)) return;
  const float steps = Length(b - a) / std::max(radius, 1.2f);
  int n = steps < 96.0f ? static_cast<int>(steps) : 96;
  n = std::max(n, 2);
  for (int i = 0; i <= n; ++i) {
    const float s = static_cast<float>(i) / static_cast<float>(n);
    const float w = 0.62f + 0.38f * std::sin(kPi * s);
    const Vec2 point = a + s * (b - a);
    Splat(frame, point.x, point.y, w * radius, colour, w * intensity);
  }
}

float NearDustDepth(int index, float t, float bar) {
  const uint32_t ui = static_cast<uint32_t>(index);
  const float u3 = HashUnit(ui * 0x3449A36Fu + 0x5Bu);
  return WrapPositive(6.3f * u3 - 0.2f * t - 0.045f * bar + 64.0f, 5.9f) + 0.28f;
}

void DrawNearDust(Framebuffer& frame, const StageFrame& sf, const DebugParams& p,
                  const MusicViz& mv) {
  const float W = static_cast<float>(frame.width);
  const float H = static_cast<float>(frame.height);
  const float t = sf.t;
  const float D = sf.drive;
  const StageCamera& cam = sf.lens.cam;
  const int N = static_cast<int>(Clamp(p.dot_density, 0.12f, 1.0f) * 720.0f);
  const float aspect = W / std::max(H, 1.0f);
  const float area = std::max(W * H, 1.0f);

  // 3. The orbs' pull on the screen, the same for every particle of the frame.
  float sx = 0.0f, sy = 0.0f;
  for (int o = 0; o < kOrbCount; ++o) {
    const StageProjection& op = sf.orb_screen[static_cast<size_t>(o)];
    if (!op.in_front) continue;
    const Orb& orb = sf.rig.orbs[static_cast<size_t>(o)];
    const float dx = op.screen.x - cam.cx;
    const float dy = op.screen.y - cam.cy;
    const float w = 1.0f / ((dx * dx + dy * dy) / area + 0.04f);
    sx += dx * orb.charge * orb.size * w;
    sy += dy * orb.charge * orb.size * w;
  }
  const float k = 0.000004f * mv.cue_finale + 0.000004f * D + 0.0000035f;

  for (int i = 0; i < N; ++i) {
    // 1, 2. Hashes, depth streaming toward the viewer, spread.
    const uint32_t ui = static_cast<uint32_t>(i);
    const float u1 = HashUnit(ui * 0x045D9F3Bu);
    const float u2 = HashUnit(ui * 0x119DE1F3u + 0x11u);
    const float u3 = HashUnit(ui * 0x3449A36Fu + 0x5Bu);
    const float u4 = HashUnit(ui * 0x27D4EB2Du + 0xFBu);
    const float depth = NearDustDepth(i, t, mv.bar);
    const float r = (0.72f + 0.42f * u4) * depth;

    // 4. Camera-space position, pushed by the orbs and drifting.
    const float a = (sx * k + 0.035f * std::sin((0.025f * u3 + 0.015f) * t + 9.0f * u1)) * depth +
                    (2.0f * u1 - 1.0f) * r * aspect;
    const float b = 0.02f * std::cos((0.012f + 0.02f * u1) * t + 8.0f * u2) * depth +
                    (2.0f * u2 - 1.0f) * r - sy * k * depth;

    // 5. Only what lands on or near the frame.
    if (!(depth > 0.2f)) continue;
    const Vec2 s = ProjectStageLocal(sf.lens, a, b, depth);
    if (!NearFrame(s, 12.0f, W, H)) continue;

    // 6. Twinkling pale blue motes.
    const float tw = std::sin((2.3f * u3 + 1.2f) * t + 17.0f * u1);
    const Vec3 colour(0.6845f + 0.2655f * tw, 0.764f + 0.216f * tw, 0.892f + 0.108f * tw);
    const float g = DepthSize(depth, 0.25f, 1.95f);
    const float radius = ((1.0f - u3) * 0.72f + 0.32f) * p.dot_size * g;
    const float intensity = (0.0126f * tw * D + 0.0294f * D + 0.009f * tw + 0.021f) * g;

    // 7. With a strong drive, an echo a little toward the centre: the dust seems to rush past.
    if (D > 0.25f && i % 5 == 0) {
      const Vec2 centre(cam.cx, cam.cy);
      const Vec2 echo = s - (0.02f * D) * (s - centre);
      Splat(frame, echo.x, echo.y, radius, colour, 0.45f * intensity);
    }
    Splat(frame, s.x, s.y, radius, colour, intensity);
  }
}

void DrawFineDust(Framebuffer& frame, const StageFrame& sf, const DebugParams& p,
                  const MusicViz& mv) {
  const float W = static_cast<float>(frame.width);
  const float H = static_cast<float>(frame.height);
  const float t = sf.t;
  const float D = sf.drive;
  const StageCamera& cam = sf.lens.cam;
  const int N = static_cast<int>(Clamp(p.dot_density, 0.08f, 1.0f) * 1180.0f);
  const float aspect = W / std::max(H, 1.0f);
  const float area = std::max(W * H, 1.0f);
  const float k1 = 0.000003f * mv.build + 0.0000035f + 0.0000045f * mv.cue_club;
  const float k0 = 0.000004f * D + 0.0000022f;
  const Vec3 dark(0.05f, 0.09f, 0.14f);
  const float tint = 0.18f * mv.lead + 0.62f;

  for (int i = 0; i < N; ++i) {
    // 1. Hashes.
    const uint32_t ui = static_cast<uint32_t>(i);
    const uint32_t h1 = Hash24(ui * 0x632BE59Bu);
    const float u2 = HashUnit(ui * 0x85157AF5u + 0x1Fu);
    const uint32_t h3 = Hash24(ui * 0x94D049BBu + 0x67u);
    const float u4 = HashUnit(ui * 0x165667B1u + 0x269u);
    const float u1 = static_cast<float>(h1) * kHashScale;
    const float u3 = static_cast<float>(h3) * kHashScale;

    // 2, 3. Depth streaming toward the viewer, a slow circling drift.
    const float depth0 = WrapPositive(4.8f * u3 - 0.135f * t - 0.06f * mv.bar + 80.0f, 4.3f) + 0.34f;
    const float r = (0.56f + 0.52f * u4) * depth0;
    const float ang = (0.035f + 0.055f * u3) * t + kTwoPi * u1;
    const float a0 = 0.035f * std::sin(ang) * depth0 + (2.0f * u1 - 1.0f) * r * aspect;
    const float b0 = 0.026f * std::cos(1.17f * ang) * depth0 + (2.0f * u2 - 1.0f) * r;
    const float depth = depth0 + 0.1f * std::sin(0.53f * ang + 5.0f * u2);

    // 4. Pull toward the orbs near the particle on the screen; the nearest lends its colour.
    const float inv_depth = 1.0f / std::max(depth, 0.25f);
    const float px = cam.cx + a0 * cam.focal * inv_depth;
    const float py = cam.cy - b0 * cam.focal * inv_depth;
    float SX = 0.0f, SY = 0.0f;
    float nearest = -1.0f;
    Vec3 orb_colour;
    for (int o = 0; o < kOrbCount; ++o) {
      const StageProjection& op = sf.orb_screen[static_cast<size_t>(o)];
      if (!op.in_front) continue;
      const Orb& orb = sf.rig.orbs[static_cast<size_t>(o)];
      const float dx = op.screen.x - px;
      const float dy = op.screen.y - py;
      const float w = 1.0f / ((dx * dx + dy * dy) / area + 0.012f);
      const float q = orb.charge * orb.size * w;
      SX += q * dx;
      SY += q * dy;
      if (w > nearest) {
        nearest = w;
        orb_colour = orb.colour;
      }
    }

    // 5. Along the pull and across it: the dust curls around the orbs.
    const float a = a0 + (SX * k1 - SY * k0) * depth;
    const float b = b0 - (SX * k0 + SY * k1) * depth;

    // 6.
    if (!(depth > 0.2f)) continue;
    const Vec3 colour = Lerp(dark, orb_colour, tint);
    const float g = DepthSize(depth, 0.3f, 2.0f);
    const Vec2 s = ProjectStageLocal(sf.lens, a, b, depth);
    const float radius = g * (0.45f + 1.1f * u3 + 0.45f * D) * p.dot_size;
    const float intensity = (0.013f + 0.016f * u3 + 0.0091f * mv.perc + 0.0112f * mv.perc * u3 +
                             0.0224f * u3 * D + 0.0182f * D) *
                            p.dot_alpha;
    Splat(frame, s.x, s.y, radius, colour, intensity);
  }
}

void DrawSparkStreaks(Framebuffer& frame, const StageFrame& sf, const DebugParams& p,
                      const MusicViz& mv) {
  const float W = static_cast<float>(frame.width);
  const float H = static_cast<float>(frame.height);
  const float t = sf.t;
  const float D = sf.drive;
  const int N = static_cast<int>(Clamp(p.dot_density, 0.08f, 1.0f) * 320.0f);
  const float bp = mv.active ? mv.bar : 0.52f * t;
  const float aspect = W / std::max(H, 1.0f);
  const float speed = 0.1584f + 0.2088f * D + 0.108f * mv.cue_finale + 0.1656f * mv.cue_club;
  const Vec3 white(0.95f, 0.98f, 1.0f);

  for (int i = 0; i < N; ++i) {
    // 1. Hashes.
    const uint32_t ui = static_cast<uint32_t>(i);
    const float u1 = HashUnit(ui * 0x7F4A7C15u);
    const float u2 = HashUnit(ui * 0x94D049BBu + 0xDu);
    const float u3 = HashUnit(ui * 0x165667B1u + 0x61u);
    const float u4 = HashUnit(ui * 0x27D4EB2Du + 0xD3u);
    const uint32_t h5 = Hash24(ui * 0x85EBCA6Bu + 0x1F7u);
    const uint32_t h6 = Hash24(ui * 0xC3A5C85Cu + 0x2BDu);
    const float u5 = static_cast<float>(h5) * kHashScale;
    const float u6 = static_cast<float>(h6) * kHashScale;

    // 2, 3. Fast streams toward the viewer, faster with the music.
    const float depth = WrapPositive(2.85f * u3 - speed * t - 0.05f * bp + 32.0f, 2.55f) + 0.24f;
    const float r = (0.9f + 0.82f * u4) * depth;
    const float ang = (0.22f + 0.36f * u5) * t + kTwoPi * u6 + 0.025f * bp;
    const float a = std::sin(ang) * depth * (0.07f * D + 0.05f) + (2.0f * u1 - 1.0f) * r * aspect;
    const float b = std::cos(1.31f * ang) * depth * (mv.lead + 1.0f) * 0.04f + (2.0f * u2 - 1.0f) * r;

    // 4.
    if (!(depth > 0.2f)) continue;
    const Vec2 head = ProjectStageLocal(sf.lens, a, b, depth);
    if (!NearFrame(head, 60.0f, W, H)) continue;

    // 5. One orb's colour, some streaks whitened.
    const int o = static_cast<int>(8.0f * u6) & 7;
    const Vec3 base = sf.rig.orbs[static_cast<size_t>(o)].colour * (0.5f + 0.48f * u5);
    const float kw = 0.2f * (D + 1.0f) * u4;
    const Vec3 colour = Lerp(base, white, kw);

    // 6.
    const float g = DepthSize(depth, 0.5f, 2.65f);
    const float radius = g * (0.38f + 1.32f * u5 + 0.82f * D) * p.dot_size;
    const float intensity = (0.01f + 0.024f * u4 + 0.014f * D + 0.0336f * u4 * D +
                             0.0168f * mv.cue_finale * u4 + 0.007f * mv.cue_finale) *
                            p.dot_alpha;

    // 7. The tail: the same spot a little farther away and wider out.
    const float tdepth = depth + 0.18f * D + 0.28f * u5 + 0.14f;
    if (tdepth > 0.2f) {
      const Vec2 tail = ProjectStageLocal(sf.lens, a * (1.02f + 0.04f * u6), b * (1.02f + 0.04f * u4), tdepth);
      const Vec2 mid = head + 0.42f * (tail - head);
      Splat(frame, mid.x, mid.y, 0.9f * radius, colour, 0.38f * intensity);
      Splat(frame, tail.x, tail.y, 0.55f * radius, colour, 0.2f * intensity);
    }

    // 8.
    Splat(frame, head.x, head.y, radius, colour, intensity);
  }
}

void DrawBonds(Framebuffer& frame, const StageFrame& sf, const DebugParams& p,
               const MusicViz& mv) {
  const float t = sf.t;
  const float D = sf.drive;
  const float radius = (0.7f * D + 0.55f) * p.dot_size;
  for (int i = 0; i < kOrbCount; ++i) {
    for (int j = i + 1; j < kOrbCount; ++j) {
      const Orb& oi = sf.rig.orbs[static_cast<size_t>(i)];
      const Orb& oj = sf.rig.orbs[static_cast<size_t>(j)];

      // 1, 2. Close pairs bond, pulsing with their phases; the cues bond everything.
      const Vec3 d = oi.pos - oj.pos;
      const float dist = Length(d);
      const float w = Clamp01((dist - 0.16f) / 0.89f);
      const float m = std::sin(1.1f * t + oi.phase - oj.phase);
      const float strength =
          p.dot_alpha * ((1.0f - Smoothstep(w)) * (0.0169f * m + 0.0351f) +
                         m * (0.00845f * mv.cue_finale + 0.00715f * mv.cue_club) +
                         0.01485f * mv.cue_club + 0.01755f * mv.cue_finale);
      if (strength <= 0.003f) continue;

      // 3. A curve bulging sideways through a control point.
      const float root = std::sqrt(d.x * d.x + d.y * d.y + 0.0484f * d.z * d.z);
      const Vec3 bd = root > 1e-8f ? Vec3(-d.y / root, d.x / root, 0.22f * d.z / root) : Vec3();
      const float bulge = (0.035f * D + 0.025f) *
                          std::sin(11.0f * static_cast<float>(i) + 7.0f * static_cast<float>(j) + 0.7f * t);
      const Vec3 M = (oi.pos + oj.pos) * 0.5f + bulge * bd;

      // 4, 5. Eighteen dotted segments, brighter in the middle.
      const Vec3 colour = (oi.colour + oj.colour) * 0.5f;
      Vec3 previous = oi.pos;
      for (int k = 1; k <= 18; ++k) {
        const float s = static_cast<float>(k) / 18.0f;
        const float a = std::sin(kPi * s);
        const Vec3 point = Lerp(Lerp(oi.pos, oj.pos, s), M, a);
        StageSegment(frame, sf.lens, previous, point, colour, (a + 1.0f) / 2.0f * strength, radius);
        previous = point;
      }
    }
  }
}

namespace {

// The swarm of orb f: particles on flowing orbits in the orb's own frame, each living a cycle
// of fading in and out, bursting outward with a strong drive.
void DrawSwarm(Framebuffer& frame, const StageFrame& sf, const DebugParams& p, const MusicViz& mv,
               int f, float v) {
  const float W = static_cast<float>(frame.width);
  const float H = static_cast<float>(frame.height);
  const float t = sf.t;
  const float D = sf.drive;
  const Orb& orb = sf.rig.orbs[static_cast<size_t>(f)];
  const Vec3 oc = orb.colour;
  const float chg = orb.charge;
  const float ff = static_cast<float>(f);
  const float bp = mv.active ? mv.bar : 0.52f * t;
  const OrbAxes axes = OrbFrame(orb, f, t, mv);
  const int n = static_cast<int>(Clamp(p.dot_density, 0.1f, 1.0f) * 156.0f);
  const float spin = ((0.42f * v + 0.4f + 0.38f * mv.cue_club) * t + 0.03f * bp) * chg;
  const float sc = 0.045f * mv.build + 0.068f * mv.cue_finale + 0.035f * v + 0.036f * orb.size + 0.07f;
  const float twist = 5.0f * mv.build + 7.0f + 5.5f * mv.cue_finale;
  const float life_rate = 0.07f * mv.cue_club + 0.075f * v + 0.035f;
  const Vec3 cool(0.52f, 0.9f, 1.0f);

  for (int k = 0; k < n; ++k) {
    // 1. Hashes.
    const uint32_t s = (static_cast<uint32_t>(f) * 0x9E3779B9u) ^ (0u - static_cast<uint32_t>(k) * 2048144789u);
    const float av = HashUnit(s ^ 0x243F6A88u);
    const uint32_t h28 = Hash24(s ^ 0xC3A5C85Cu);
    const uint32_t hA = Hash24(s ^ 0xD3A2646Cu);
    const float ay = HashUnit(s ^ 0x165667B1u);
    const float E = HashUnit(s ^ 0xFD7046C5u);
    const float F = HashUnit(s ^ 0x8AED2A6Bu);
    const uint32_t hK = Hash24(s ^ 0xB7E15162u);
    const float u28 = static_cast<float>(h28) * kHashScale;
    const float uA = static_cast<float>(hA) * kHashScale;
    const float uK = static_cast<float>(hK) * kHashScale;

    // 2. Life cycle: fade in, live, fade out.
    const float G = WrapPositive(life_rate * t + ay + 0.014f * bp, 1.0f);
    const float I = Clamp01((G - 0.02f) / 0.22f);
    const float L = 1.0f - Smoothstep((G - 0.78f) / 0.22f);
    const float alive = Smoothstep(I) * L;
    const float nz = FlowNoise(7.5f * av + 0.1f * t + 0.025f * bp, 7.5f * uK + 2.3f * ff);

    // 3. Orbit radius and angle.
    const float Rp = (1.08f * std::pow(av, 0.46f) + 0.22f * alive * D + 0.1f * alive + 0.13f) * sc *
                     (1.0f + (0.12f * v + 0.11f) * nz);
    const float Ob = twist * Rp + (1.25f * F + 0.42f) * spin + (0.55f * v + 0.75f) * nz + kTwoPi * uK;

    // 4. Height above the orbit plane.
    const float P0 = sc * (std::sin((E + 0.42f) * t + 1.74f * Ob + 9.0f * ay) * (0.24f * v + 0.16f + 0.16f * D) +
                           (1.18f * mv.cue_finale + 0.92f) * uA - (0.59f * mv.cue_finale + 0.46f));

    // 5. In the plane: an ellipse that breathes.
    const float el = 0.48f + 0.58f * u28;
    float V = std::sin(Ob) * Rp * el;
    float R = std::cos(Ob) * Rp *
              (1.0f + (0.1f * v + 0.06f) * std::sin((0.88f + 2.65f * uK) * t + kTwoPi * F + 0.08f * bp));
    float P = P0;

    // 6. Burst outward on strong drive.
    const float Ub = Smoothstep((E - 0.35f) / 0.65f) * D * D;
    if (Ub > 0.001f) {
      const Vec3 dir = Normalize(Vec3(V, R, P));
      const float grow = (1.2f * uA + 0.28f) * Ub * sc;
      V += grow * dir.x;
      R += grow * dir.y;
      P += grow * dir.z;
    }

    // 7.
    const Vec3 point = orb.pos + R * axes.x + V * axes.y + P * axes.z;
    const StageProjection head = ProjectStage(sf.lens, point);
    if (!head.in_front || !NearFrame(head.screen, 48.0f, W, H)) continue;

    // 8. The orb's colour, whitened while lit, cooled by the lead.
    const float ac = 0.2f * alive + 0.58f * F + 0.48f;
    const float ad = Clamp01(0.55f * D + 0.55f * v + 0.22f * alive) * (0.3f * uA + 0.16f);
    const Vec3 c1(Lerp(ac * oc.r, 1.0f, ad), Lerp(ac * oc.g, 0.86f, ad), Lerp(ac * oc.b, 0.48f, ad));
    const Vec3 colour = Lerp(c1, cool, 0.18f * E * mv.lead);

    // 9.
    const float iq = ((0.01152f + 0.02232f * u28) * alive + 0.00672f + 0.01302f * u28) *
                     (1.0f + 0.95f * v + 0.7f * D) * p.dot_alpha;
    const float rq = DepthSize(head.depth, 0.34f, 2.2f) * (1.05f * Ub + 0.72f * v + 0.96f * av + 0.46f) *
                     p.dot_size;

    // 10. A trailing splat a little back along the orbit.
    if (E > 0.62f || D > 0.38f) {
      const float Ob1 = Ob - (0.15f * E + 0.11f) * chg * (v + 1.0f);
      const float P1 = P - (0.18f * F + 0.05f) * sc;
      const Vec3 back = orb.pos + (std::cos(Ob1) * Rp) * axes.x + (std::sin(Ob1) * Rp * el) * axes.y + P1 * axes.z;
      const StageProjection bs = ProjectStage(sf.lens, back);
      if (bs.in_front) {
        const Vec2 mid = head.screen + 0.55f * (bs.screen - head.screen);
        Splat(frame, mid.x, mid.y, 0.86f * rq, colour, 0.34f * iq);
      }
    }

    // 11.
    Splat(frame, head.screen.x, head.screen.y, rq, colour, iq);
  }
}

}  // namespace

void DrawOrbs(Framebuffer& frame, const StageFrame& sf, const DebugParams& p, const MusicViz& mv) {
  const float t = sf.t;
  const float D = sf.drive;
  const StageLens& lens = sf.lens;
  for (int f = 0; f < kOrbCount; ++f) {
    const Orb& orb = sf.rig.orbs[static_cast<size_t>(f)];
    const StageProjection& centre = sf.orb_screen[static_cast<size_t>(f)];
    // An orb behind the camera draws nothing of itself, even parts that would be in front.
    if (!centre.in_front) continue;
    const float v = OrbVoice(mv, f);
    const Vec3 oc = orb.colour;
    const float ph = orb.phase;
    const uint32_t uf = static_cast<uint32_t>(f);
    const float ff = static_cast<float>(f);

    // 1. Halo, glow and a warm white core.
    const float g = DepthSize(centre.depth, 0.42f, 1.85f);
    const Vec2 c = centre.screen;
    Splat(frame, c.x, c.y, (9.6f * v + 8.16f + 11.52f * D) * p.dot_size * g, oc, 0.03f * D + 0.01f);
    Splat(frame, c.x, c.y, (2.0f * v + 2.4f * D + 1.7f) * p.dot_size * 2.0f * g, oc, 0.038f * (v + 1.0f));
    Splat(frame, c.x, c.y, (1.5f * v + 1.275f + 1.8f * D) * p.dot_size * g, Vec3(1.0f, 0.95f, 0.82f),
          0.08f * v + 0.12f);

    // 2. Swarm.
    DrawSwarm(frame, sf, p, mv, f, v);

    // 3. Shell: 42 dots on a slightly squashed, turning sphere, lit from the upper left.
    {
      const uint32_t sA = uf * 251711779u;
      const uint32_t sB = uf * 199940369u;
      const uint32_t sC = uf * 0xC2B2AE35u;
      const float W3 = std::cos(0.23f * ph), X3 = std::sin(0.23f * ph);
      const float U3 = std::sin(0.31f * ph), V3 = std::cos(0.31f * ph);
      const float rs = 0.024f * D + 0.02f * v + 0.038f;
      for (uint32_t k = 0; k < 42u; ++k) {
        const float qH = HashUnit((k * 668265261u) ^ sC);
        const float Nn = kTwoPi * HashUnit(sB ^ (0u - k * 2048144789u)) + (0.12f * qH + 0.18f) * t + 0.17f * ph;
        const float J = 2.0f * HashUnit(sA ^ (0u - k * 1640531527u)) - 1.0f;
        const float O = std::sqrt(std::max(1.0f - J * J, 0.0f));
        const float Q = std::cos(Nn) * O;
        const float R = std::sin(Nn) * O;
        const float e1 = W3 * R - X3 * J;
        const float e2 = W3 * J + X3 * R;
        const float ex = e2 * U3 + V3 * Q;
        const float ez = e2 * V3 - U3 * Q;
        const Vec3 point = orb.pos + Vec3(ex * rs, 0.84f * e1 * rs, 1.18f * ez * rs);
        const StageProjection sp = ProjectStage(lens, point);
        if (!sp.in_front) continue;
        const float K = Clamp01(0.23702042f * e1 - 0.1728274f * ex + 0.5f - 0.40490988f * ez) * 0.95f + 0.3f;
        const float L = 0.22f * v * qH;
        const Vec3 colour(Lerp(K * oc.r, 1.0f, L), Lerp(K * oc.g, 0.92f, L), Lerp(K * oc.b, 0.72f, L));
        const float radius = DepthSize(sp.depth, 0.4f, 1.95f) * (0.95f * qH + 0.55f + 0.35f * v) * p.dot_size;
        const float intensity = (0.0195f * qH * D + 0.03f * qH + 0.01625f * D + 0.025f) * p.dot_alpha;
        Splat(frame, sp.screen.x, sp.screen.y, radius, colour, intensity);
      }
    }

    // 4. Rings: two counter-turning rings of dots, thinned by dot_density.
    for (uint32_t ri = 0; ri < 2u; ++ri) {
      const float fri = static_cast<float>(ri);
      const float S = (0.08f * ff + 0.42f) * (ri == 0 ? t : -t) + ph;
      const float G = 0.02f * mv.cue_finale + 0.02f * v + 0.027f * fri + 0.034f;
      for (uint32_t j = 0; j < 38u; ++j) {
        if (!(p.dot_density >= 0.999f ||
              HashUnit(uf * 472095496u + j * 747796405u + ri * 480862923u - 1012545444u) <= p.dot_density))
          continue;
        const float I = HashUnit((uf * 180146467u) ^ (ri * 1663821211u) ^ (0u - j * 2062189835u));
        if (I < 0.22f) continue;
        const float L = HashUnit((uf * 0x94D049BBu) ^ (ri * 668265261u) ^ (j * 73244475u));
        const float fj = static_cast<float>(j);
        const float Vv = I - 0.5f;
        const float Y = 0.165347f * fj + S + 0.2f * Vv;
        const float K = (0.54f * I + 0.78f) * G;
        const float M = std::sin(3.0f * (0.2f * Vv + S) + 0.496041f * fj + ff + t);
        const Vec3 point = orb.pos + Vec3(std::cos(Y) * K * (0.12f * M + 1.0f + 0.22f * (L - 0.5f)),
                                          std::sin(Y) * K * (0.32f * L + 0.56f),
                                          (std::sin(2.0f * Y + 0.2f * t) + 1.4f * Vv) * K * 0.45f);
        const StageProjection sp = ProjectStage(lens, point);
        if (!sp.in_front) continue;
        const float radius = DepthSize(sp.depth, 0.38f, 1.75f) * (0.55f * L + 0.42f + 0.4f * v) * p.dot_size;
        Splat(frame, sp.screen.x, sp.screen.y, radius, oc, (0.02f * I + 0.012f) * p.dot_alpha);
      }
    }

    // 5. Spiral arms winding with the orb's charge, more of them with the cues.
    {
      const int arms = 2 + static_cast<int>(2.0f * mv.cue_finale + 1.5f * mv.cue_club);
      const float sg = orb.charge > 0.0f ? 1.0f : -1.0f;
      const float wind = sg * (5.654867f * mv.build + 10.681416f + 7.539823f * mv.cue_finale);
      const float fin = 0.35f * mv.cue_finale;
      const Vec3 colour(Lerp(oc.r, 1.0f, fin), Lerp(oc.g, 0.88f, fin), Lerp(oc.b, 0.42f, fin));
      for (int j = 0; j < arms; ++j) {
        const uint32_t uj = static_cast<uint32_t>(j);
        const float base = kTwoPi * static_cast<float>(j) / static_cast<float>(arms) + ph + 0.12f * t;
        Vec3 previous = orb.pos;
        for (uint32_t k = 1; k <= 28u; ++k) {
          const float R = static_cast<float>(k) / 28.0f;
          const float P = HashUnit((0u - uj * 0x61C88647u) ^ (uf * 374761393u) ^ (0x85EBCA6Bu - (k - 1u) * 2048144789u));
          const float U = HashUnit((uf * 668265261u) ^ (uj * 1663821211u) ^ (0x94D049BBu - (k - 1u) * 1798288965u));
          if (!(P >= 0.08f * R + 0.17f || k <= 2u)) continue;
          const float angle = wind * R + base + (P - 0.5f) * 0.38f;
          const float Y = (0.04f * v + 0.13f + 0.03f * D) * R * R + 0.018f;
          const Vec3 point = orb.pos + Vec3(std::cos(angle) * Y * (0.28f * U + 0.88f),
                                            std::sin(angle) * Y * (0.24f * P + 0.68f),
                                            (std::sin(kTwoPi * R + 0.73f * angle) + 0.8f * (U - 0.5f)) * Y * 0.7f);
          const float intensity = (1.0f - 0.58f * R) * (0.017f * D + 0.013f * v + 0.014f * U + 0.007f) * p.dot_alpha;
          StageSegment(frame, lens, previous, point, colour, intensity, (0.5f * P + 0.46f + 0.32f * R) * p.dot_size);
          previous = point;
        }
      }
    }

    // 6. Branching sparks, only with the music or the cues.
    if (D > 0.1f || mv.cue_club > 0.05f || mv.cue_finale > 0.05f) {
      const float len = 0.045f * D + 0.052f + 0.03f * v;
      const int depth = mv.cue_finale > 0.2f ? 4 : 3;
      const Vec3 colour = Lerp(oc, Vec3(0.96f, 0.98f, 1.0f), 0.3f);
      const float intensity = (0.018f * mv.cue_club + 0.02f * D + 0.018f + 0.024f * mv.cue_finale) * p.dot_alpha;
      const float radius = (0.45f * D + 0.58f) * p.dot_size;
      for (int j = 0; j < 2; ++j) {
        const float angle = static_cast<float>(j) * kPi + ph + 0.4f * std::sin(ff + 0.6f * t);
        Branch(frame, lens, orb.pos, angle, len, depth, colour, intensity, radius);
      }
    }
  }
}

void DrawScope(Framebuffer& frame, const StageFrame& sf, const DebugParams& p,
               const MusicViz& mv) {
  const float sa = sf.scope;
  if (!(sa > 0.002f)) return;
  const float W = static_cast<float>(frame.width);
  const float H = static_cast<float>(frame.height);
  const float t = sf.t;
  const float D = sf.drive;
  const StageView& view = sf.view;
  const float ca = std::cos(view.angle);
  const float sn = std::sin(view.angle);
  const auto place = [&](float X, float Y) {
    return Vec2(view.cx + (ca * X - sn * Y) * view.scale, view.cy + (ca * Y + sn * X) * view.scale);
  };

  // 1. Scan lines every 20 rows.
  for (int y = 12; y < static_cast<int>(frame.height); y += 20)
    frame.BlendRect(0, y, static_cast<int>(frame.width), 1, Vec3(0.08f, 0.38f, 0.46f), 0.03f * sa);

  // 2. The cross of the axes.
  SplatArc(frame, Vec2(view.cx - 0.46f * W, view.cy), Vec2(view.cx + 0.46f * W, view.cy),
           Vec3(0.12f, 0.68f, 0.78f), 0.032f * sa, 0.72f * p.dot_size);
  SplatArc(frame, Vec2(view.cx, view.cy - 0.4f * H), Vec2(view.cx, view.cy + 0.4f * H),
           Vec3(0.36f, 0.26f, 0.82f), 0.024f * sa, 0.64f * p.dot_size);

  // 3. One Lissajous trace per orb, wavering with flow noise.
  const float bp = mv.active ? mv.bar : 0.92f * t;
  const float o = 0.18f * (mv.lead + 1.0f);
  const float trace_intensity = (0.014f * mv.lead + 0.03f + 0.012f * D) * p.dot_alpha * sa;
  const float trace_radius = (0.3f * mv.perc + 0.7f) * p.dot_size;
  const float bead_radius = (0.9f * mv.lead + 0.82f + 0.45f * D) * p.dot_size;
  const float bead_intensity = (0.035f * D + 0.07f) * p.dot_alpha * sa;
  const Vec3 spark_white(0.95f, 0.98f, 1.0f);
  for (int m = 0; m < kOrbCount; ++m) {
    const float fm = static_cast<float>(m);
    const uint32_t um = static_cast<uint32_t>(m);
    const Vec3 b = OrbBaseColour(m);
    const Vec3 tc(Lerp(b.r, 0.78f, o), Lerp(b.g, 0.96f, o), Lerp(b.b, 1.0f, o));
    const Vec3 bead_colour = Lerp(tc, Vec3(1.0f, 0.76f, 0.34f), 0.18f * mv.impact);
    Vec2 previous;
    for (int i = 0; i <= 146; ++i) {
      const float fi = static_cast<float>(i);
      const float B = 0.04303552f * fi;
      // a to d.
      const float nz = FlowNoise(1.7f * std::cos(B + fm) + 0.05f * t,
                                 1.7f * std::sin(0.05594617f * fi + fm) + 0.04f * bp);
      const float X = std::sin(2.0f * B - 0.23f * t + fm) *
                          (0.003f * mv.lead * nz + 0.085f * mv.lead + 0.0048f * nz + 0.136f) +
                      std::sin((0.085f * fm + 1.0f) * B + 0.42f * bp + 0.9f * fm) * (0.042f * nz + 1.19f);
      const float Y = std::sin(3.0f * B + 0.19f * t + 1.7f * fm) *
                          (0.0032f * mv.perc * D + 0.074f * mv.perc + 0.0048f * D + 0.111f) +
                      std::cos((0.07f * fm + 1.55f) * B - 0.29f * bp) * (0.0304f * D + 0.703f);
      const Vec2 Pi = place(X, Y);

      // e. The trace.
      if (i > 0) SplatArc(frame, previous, Pi, tc, trace_intensity, trace_radius);
      previous = Pi;

      // f. Beads.
      if (i % 9 == 0) Splat(frame, Pi.x, Pi.y, bead_radius, bead_colour, bead_intensity);

      // g. Sparkles scattered around every third point.
      if (i % 3 == 0) {
        const uint32_t J = (0u - um * 0x61C88647u) ^ (0u - static_cast<uint32_t>(i) * 2048144789u);
        for (uint32_t nn = 0; nn < 3u; ++nn) {
          const float uL = static_cast<float>(Hash24(J ^ (0u - nn * 1798288965u) ^ 0x243F6A88u)) * kHashScale;
          const float uO = static_cast<float>(Hash24((nn * 1663821211u) ^ J)) * kHashScale;
          const Vec3 colour = tc + (0.2f * uL) * (spark_white - tc);
          const float a = kTwoPi * uO + 0.13f * t;
          const float dist = (2.0f * mv.lead + 1.8f + 7.0f * uL) * p.dot_size;
          const Vec2 at = Pi + Vec2(std::cos(a), std::sin(a)) * dist;
          Splat(frame, at.x, at.y, (0.35f + 0.7f * uO + 0.24f * D) * p.dot_size, colour,
                (0.018f + 0.018f * uO + 0.012f * D) * p.dot_alpha * sa);
        }
      }
    }
  }

  // 4. Marks where the orbs are, flattened onto the scope.
  for (int i = 0; i < kOrbCount; ++i) {
    const Orb& orb = sf.rig.orbs[static_cast<size_t>(i)];
    const float X = 0.1f * std::sin(0.17f * t + orb.phase) + 0.62f * orb.pos.x;
    const float Y = 0.08f * std::cos(orb.phase - 0.13f * t) + 0.66f * orb.pos.y;
    const Vec2 at = place(X, Y);
    Splat(frame, at.x, at.y, (1.8f * OrbVoice(mv, i) + 1.0f) * p.dot_size, orb.colour,
          (0.055f * D + 0.075f) * p.dot_alpha * sa);
  }
}
