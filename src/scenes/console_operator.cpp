#include "scenes/console_operator.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "render/primitives.h"
#include "scenes/objects_scene.h"

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr float kTwoPi = 6.28318530717959f;
constexpr std::uint32_t kSeedStep = 747796405u;  // seed step per gated splat

// Density-gate salts of the console's own elements (the controls get theirs from the layout).
constexpr std::uint32_t kTopSalt = 0x2C1B3C6Du;
constexpr std::uint32_t kPanelSalt = 0x297A2D39u;
constexpr std::uint32_t kPlatterSalt = 0x7FEB352Du;
constexpr std::uint32_t kEqualiserSalt = 0x846CA68Bu;
constexpr std::uint32_t kHeadSalt = 0x1B873593u;
constexpr std::uint32_t kCrownSalt = 0xCC9E2D51u;
constexpr std::uint32_t kTorsoSalt = 0x85EBCA6Bu;
constexpr std::uint32_t kCollarSalt = 0xC2B2AE35u;
constexpr std::uint32_t kVisorSalt = 0x27D4EB2Fu;
constexpr std::uint32_t kHeadphoneSalt = 0x165667B1u;
constexpr std::uint32_t kHeadbandSalt = 0x9E3779B1u;
constexpr std::uint32_t kArmSalt = 0x61C88647u;
constexpr std::uint32_t kCrowdSalt = 0x68E31DA4u;

float U(std::uint32_t seed) { return HashUnit(seed); }

std::uint32_t Seed(int index, std::uint32_t salt) {
  return static_cast<std::uint32_t>(index) * kSeedStep + salt;
}

int PositiveMod(int a, int m) {
  const int r = a % m;
  return r < 0 ? r + m : r;
}

// Lerp of every field of a pose.
ArmPose Blend(const ArmPose& a, const ArmPose& b, float weight) {
  const float w = Clamp01(weight);
  ArmPose out;
  out.hand = Lerp(a.hand, b.hand, w);
  out.tip = Lerp(a.tip, b.tip, w);
  out.reach = Lerp(a.reach, b.reach, w);
  out.bend = Lerp(a.bend, b.bend, w);
  out.press = Lerp(a.press, b.press, w);
  return out;
}

// The main cross fader's position, shared by its drawer and the hand that reaches for it.
float CrossFaderValue(const ConsoleDrivers& d) {
  const float* L = d.L;
  return Clamp01(0.5f + 0.18f * (L[3] + L[0] - L[2]) + 0.22f * L[5] - 0.08f * L[7] +
                 0.05f * d.pulse * std::sin(kPi * d.beat / 2.0f));
}

// A ring of n dots around (x, z) at `lift` above the surface.
template <typename Colour>
void DrawDotRing(const SplatTarget& fb, const CameraBasis& cam, float x, float z, float rx, float rz,
                 float lift, int n, Colour colour, float k, float s, float u, float t, const DebugParams& dp,
                 bool gated, std::uint32_t seed) {
  for (int i = 0; i < n; ++i) {
    if (gated && !DotKept(Seed(i, seed), dp.dot_density)) continue;
    const float angle = kTwoPi * static_cast<float>(i) / static_cast<float>(n);
    const float px = x + std::cos(angle) * rx;
    const float pz = z + std::sin(angle) * rz;
    SplatWorld(fb, cam, Vec3{px, ConsoleSurface(px, pz, u, t) + lift, pz}, colour(angle), k, s, dp);
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Drivers and poses

ConsoleDrivers MakeConsoleDrivers(float t, const MusicViz& mv) {
  ConsoleDrivers d;
  if (mv.active) {
    const float beat = std::isfinite(mv.beat) ? mv.beat : 1.72f * t;
    d.beat = t * 0.035f + beat;
    d.bars = mv.bar + 0.006f * t;
    const float levels[8] = {std::max(0.0f, mv.lead), std::max(0.0f, mv.build),
                             std::max(0.0f, mv.bass), mv.impact,
                             std::max(0.0f, mv.perc), mv.fill,
                             mv.clap,                 std::max(0.0f, mv.kick)};
    for (int i = 0; i < 8; ++i) d.L[i] = Clamp01(levels[i]);
    d.ph = mv.step_phase;
    d.pulse = 0.0f;
    d.groove = std::max(0.0f, mv.energy);
    d.u = ObjectsDrive(mv);
  } else {
    // The built-in pulse: a short bump once per unit of a, 1.72 per second.
    const float a = 1.72f * t;
    d.beat = a;
    d.bars = 0.25f * a;
    d.pulse = Smoothstep(std::sin(kTwoPi * a) * 1.7857145f - 0.7857145f);
    const float weights[8] = {0.24f, 0.2f, 0.26f, 0.0f, 0.18f, 0.16f, 0.0f, 0.42f};
    for (int i = 0; i < 8; ++i) d.L[i] = d.pulse * weights[i];
    const float steps = 4.0f * a;
    d.ph = steps - std::floor(steps);
    d.groove = 0.35f * d.pulse;
    d.u = 0.35f * d.pulse;
  }
  return d;
}

float ConsoleSurface(float x, float z, float u, float t) {
  return 0.79f - 0.045f * z + 0.018f * u * std::sin(2.2f * x + 4.0f * z + 2.0f * t);
}

OperatorSway MakeOperatorSway(const ConsoleDrivers& d) {
  const float* L = d.L;
  const float B = d.bars;
  OperatorSway w;
  w.hb = (0.01f + 0.012f * d.groove) * std::sin(kTwoPi * d.beat) + 0.055f * L[7];
  w.sx1 = 0.025f * (1.0f + d.groove) * std::sin(kPi * d.beat / 2.0f + 0.7f * L[0]);
  w.sx2 = (0.045f + 0.04f * d.groove) * std::sin(1.8221238f * B + 1.2f * L[2]);
  w.sz = 0.035f * (1.0f + d.u) * std::sin(2.2933629f * B + 0.8f * L[5]);
  w.sy = (0.024f + 0.026f * d.groove) * std::sin(4.1469026f * B + 0.9f * L[4]);
  w.cb = (0.055f + 0.025f * L[0]) * std::sin(1.4765486f * B + 0.7f * L[1]);
  w.head = Vec3{0.2f * w.cb + w.sx1 + 0.36f * w.sx2, 1.86f + w.hb - 0.018f * L[7],
                0.28f + 0.42f * w.sz};
  return w;
}

float PhrasePosition(float bars) { return bars - 4.0f * std::floor(bars / 4.0f); }

int PhraseIndex(float bars) {
  const float g = std::floor(bars / 4.0f);
  // Far outside the show's range the index only needs to stay a defined integer.
  if (!(std::fabs(g) < 1.0e9f)) return 0;
  return static_cast<int>(g);
}

ArmPose PoseHandsUp(float s, float b, const ConsoleDrivers& d, const OperatorSway& w) {
  const float P = PhrasePosition(d.bars);
  const float q = 7.539823f * Clamp01((P - 2.1f) / 1.75f) + 0.8f * s + 0.18f * d.bars;
  const float qs = std::sin(q);
  const float qc = std::cos(0.72f * q + 0.4f * s);
  ArmPose pose;
  pose.hand = Vec3{(0.58f + 0.12f * b + 0.075f * qc) * s + 0.25f * w.sx1,
                   2.13f + 0.18f * b + 0.35f * w.hb, 0.16f - 0.06f * b + 0.035f * qs};
  pose.tip = pose.hand + Vec3{(0.15f + 0.18f * b + 0.105f * qs) * s, 0.7f + 0.38f * b + 0.105f * qc,
                              -0.13f + 0.095f * qs};
  pose.reach = 0.78f + 0.22f * b;
  pose.bend = 0.0f;
  pose.press = b;
  return pose;
}

ArmPose PosePump(float s, float b, const ConsoleDrivers& d, const OperatorSway& w) {
  const float q = 6.5973444f * d.beat + 0.85f * s;
  const float qs = std::sin(q);
  const float qc = std::cos(0.72f * q + 0.4f * s);
  ArmPose pose;
  pose.hand = Vec3{(0.56f + 0.14f * b + 0.045f * qc) * s + 0.22f * w.sx1 + 0.1f * w.sx2,
                   1.57f + 0.17f * b + 0.03f * qs + 0.45f * w.hb, 0.13f - 0.025f * b + 0.024f * qc};
  pose.tip = pose.hand + Vec3{(0.14f + 0.06f * b + 0.03f * qs) * s, 0.18f + 0.08f * b + 0.028f * qc,
                              -0.08f + 0.036f * qs};
  pose.reach = 0.86f + 0.12f * b;
  pose.bend = 0.0f;
  pose.press = b;
  return pose;
}

ArmPose PoseHeadphone(float s, float b, const ConsoleDrivers& d, const OperatorSway& w) {
  const float bs = Smoothstep(b);
  const float P = PhrasePosition(d.bars);
  const float qs = std::sin(6.5973444f * P + 1.5173893f * s);
  ArmPose pose;
  pose.hand = Vec3{(0.38f + 0.08f * bs) * s + 0.38f * w.sx1 + 0.24f * w.sx2,
                   1.61f + 0.16f * bs + 0.42f * w.hb, 0.1f + 0.035f * qs};
  pose.tip = pose.hand + Vec3{(0.13f + 0.08f * bs) * s, 0.26f + 0.2f * bs, -0.11f + 0.055f * qs};
  pose.reach = 0.62f + 0.2f * bs;
  pose.bend = 0.12f;
  pose.press = bs;
  return pose;
}

// The rest pose. Each hand lies on its platter, scratching a little just above the surface, the
// fingertip reaching forward and down onto the record. In the reach phrases it travels to a
// station on the console and back, the weight rising and falling smoothly with the phrase:
//   left hand (phrases G mod 8 = 2): the main cross fader's cap, wherever the fader stands;
//   right hand (G mod 8 = 6): the knob at (1.98, 0.52) in every other such phrase, the right
//   centre pad (0.22, -0.58) in the others.
// The wrist hovers 0.3 above the station and the fingertip 0.12 above it, so every reach starts
// on a platter and never leaves the console.
ArmPose PoseRest(float s, float reach_weight, const ConsoleDrivers& d, float t) {
  const float u = d.u;
  const float scratch = std::sin(1.25f * kPi * d.bars + (s > 0.0f ? 1.3f : 0.0f));
  ArmPose platter;
  platter.hand = Vec3{1.35f * s + (s > 0.0f ? 0.043f : 0.04f) * scratch, 1.10f, -0.08f};
  platter.tip = platter.hand + Vec3{-0.05f * s, -0.15f, -0.1f};
  platter.reach = 0.35f;
  platter.bend = 0.3f;
  platter.press = 0.25f + 0.5f * d.L[7];

  float sx = 0.0f;
  float sz = 0.0f;
  if (s < 0.0f) {
    sx = -0.92f + 1.84f * CrossFaderValue(d);
    sz = -0.72f;
  } else if (PositiveMod(PhraseIndex(d.bars), 16) < 8) {
    sx = 1.98f;
    sz = 0.52f;
  } else {
    sx = 0.22f;
    sz = -0.58f;
  }
  const float top = ConsoleSurface(sx, sz, u, t);
  ArmPose station;
  station.hand = Vec3{sx + 0.05f * s, top + 0.3f, sz - 0.1f};
  station.tip = Vec3{sx, top + 0.12f, sz};
  station.reach = 0.55f;
  station.bend = 0.2f;
  station.press = 0.5f;
  return Blend(platter, station, reach_weight);
}

void OperatorPoses(const ConsoleDrivers& d, const OperatorSway& w, const MusicViz& mv, float t,
                   ArmPose& left, ArmPose& right) {
  const float* L = d.L;
  const float P = PhrasePosition(d.bars);
  const int G = PhraseIndex(d.bars);
  const int g4 = PositiveMod(G, 4);
  const int g8 = PositiveMod(G, 8);

  // Gesture weights, each windowed smoothly inside the 4-bar phrase.
  const float V = Smoothstep((P - 0.28f) * 2.272727f) * (1.0f - Smoothstep((P - 1.18f) * 1.8518516f));
  const float lift = Clamp01(0.12f * d.groove + 0.45f * d.pulse + 0.28f * L[5] + 0.68f * L[1] +
                             1.1f * L[3]);
  const float W = Smoothstep((P - 2.1f) * 2.222222f) * (0.28f + 0.72f * lift) *
                  (1.0f - Smoothstep((P - 3.2f) * 1.5384619f));
  const float up_left = Clamp01(g4 == 1 ? W : 0.0f);
  const float up_right = Clamp01(g4 == 3 ? W : 0.0f);
  const float reach_left =
      g8 == 2 ? Clamp01(V * Clamp01(0.12f * L[7] + 0.22f * L[2] + 0.58f) *
                        (1.0f - Clamp01(0.6f * L[5] + L[3] + up_left)))
              : 0.0f;
  // The right hand reaches with the melody: lead and build.
  const float reach_right =
      g8 == 6 ? Clamp01(V * Clamp01(0.2f * L[0] + 0.18f * L[1] + 0.58f) *
                        (1.0f - Clamp01(0.6f * L[5] + L[3] + up_right)))
              : 0.0f;
  const float phones_left =
      g8 == 0 ? Clamp01(Smoothstep((P - 0.92f) * 3.846155f) *
                        (1.0f - Smoothstep((P - 1.46f) * 2.5f)) *
                        Clamp01(0.24f * d.groove + 0.5f * L[4] + 0.24f) * (1.0f - reach_left))
              : 0.0f;
  const float phones_right =
      g8 == 4 ? Clamp01(Smoothstep((P - 1.12f) * 2.9411762f) *
                        (1.0f - Smoothstep((P - 1.82f) * 2.3809526f)) *
                        Clamp01(0.44f * L[1] + 0.24f + 0.28f * d.groove) * (1.0f - reach_right))
              : 0.0f;
  const float pump = Clamp01(mv.finale_flash);

  // The gesture's amount b is its own weight: a gesture grows as it blends in.
  left = PoseRest(-1.0f, reach_left, d, t);
  right = PoseRest(1.0f, reach_right, d, t);
  left = Blend(left, PoseHeadphone(-1.0f, phones_left, d, w), phones_left);
  right = Blend(right, PoseHeadphone(1.0f, phones_right, d, w), phones_right);
  left = Blend(left, PoseHandsUp(-1.0f, up_left, d, w), up_left);
  right = Blend(right, PoseHandsUp(1.0f, up_right, d, w), up_right);
  left = Blend(left, PosePump(-1.0f, pump, d, w), pump);
  right = Blend(right, PosePump(1.0f, pump, d, w), pump);
}

// ---------------------------------------------------------------------------------------------
// Control drawers

void DrawKnob(const SplatTarget& fb, const CameraBasis& cam, float x, float z, float value, float glow,
              Vec3 col, float k, float u, float t, const DebugParams& dp, std::uint32_t seed) {
  const float g = Clamp01(glow);
  const float v = Clamp01(value);
  const float rx = 0.15f + 0.018f * g;
  const float rz = 0.72f * rx;
  const float pointer = 4.7f * v - 3.9207964f;
  // The ring lights up toward the pointer.
  const Vec3 unlit{0.08f, 0.44f, 0.58f};
  const float ring_glow = 1.0f + 0.85f * g;
  DrawDotRing(
      fb, cam, x, z, rx, rz, 0.085f, 34,
      [&](float angle) {
        return Lerp(unlit, col, 1.0f - 0.55f * std::fabs(std::sin(angle - pointer))) * ring_glow;
      },
      0.05f * k, 1.24f + 0.372f * u, u, t, dp, true, seed);
  // Pointer from the centre toward the ring (never thinned).
  const float px = std::cos(pointer) * rx;
  const float pz = std::sin(pointer) * rz;
  for (int i = 0; i < 9; ++i) {
    const float f = 0.9f * static_cast<float>(i) / 8.0f;
    const float dx = x + px * f;
    const float dz = z + pz * f;
    SplatWorld(fb, cam, Vec3{dx, ConsoleSurface(dx, dz, u, t) + 0.105f, dz}, col * (1.0f + 1.15f * g),
               0.06f * k, 1.35f + 0.405f * u, dp);
  }
  SplatWorld(fb, cam, Vec3{x, ConsoleSurface(x, z, u, t) + 0.12f, z}, col * (0.6f + 0.8f * g),
             0.045f * k, 1.35f + 0.405f * u, dp);
}

void DrawChannelFader(const SplatTarget& fb, const CameraBasis& cam, float x, float z0, float z1, float value,
                      float glow, Vec3 col, float k, float u, float t, const DebugParams& dp,
                      std::uint32_t seed) {
  const float g = Clamp01(glow);
  const float v = Clamp01(value);
  const Vec3 track{0.05f + 0.0175f * g, 0.34f + 0.119f * g, 0.43f + 0.1505f * g};
  for (int i = 0; i < 24; ++i) {
    if (!DotKept(Seed(i, seed), dp.dot_density)) continue;
    const float z = Lerp(z0, z1, static_cast<float>(i) / 23.0f);
    SplatWorld(fb, cam, Vec3{x, ConsoleSurface(x, z, u, t) + 0.06f, z}, track, 0.046f * k,
               1.08f + 0.324f * u, dp);
  }
  const Vec3 cap = col * (1.0f + 0.9f * g);
  DrawDotRing(
      fb, cam, x, z0 + (z1 - z0) * v, 0.13f + 0.01f * g, 0.075f, 0.095f, 28,
      [&](float) { return cap; }, 0.06f * k, 1.32f + 0.396f * u, u, t, dp, false, seed);
}

void DrawCrossFader(const SplatTarget& fb, const CameraBasis& cam, float x0, float x1, float z, float value,
                    float glow, Vec3 col, float k, float u, float t, const DebugParams& dp,
                    std::uint32_t seed) {
  const float g = Clamp01(glow);
  const float v = Clamp01(value);
  const Vec3 track{0.06f + 0.018f * g, 0.32f + 0.096f * g, 0.42f + 0.126f * g};
  for (int i = 0; i < 32; ++i) {
    if (!DotKept(Seed(i, seed), dp.dot_density)) continue;
    const float x = Lerp(x0, x1, static_cast<float>(i) / 31.0f);
    SplatWorld(fb, cam, Vec3{x, ConsoleSurface(x, z, u, t) + 0.06f, z}, track, 0.046f * k,
               1.05f + 0.315f * u, dp);
  }
  const Vec3 cap = col * (1.0f + 0.95f * g);
  DrawDotRing(
      fb, cam, x0 + (x1 - x0) * v, z, 0.15f, 0.055f, 0.1f, 30, [&](float) { return cap; },
      0.058f * k, 1.35f + 0.405f * u, u, t, dp, false, seed);
}

void DrawPad(const SplatTarget& fb, const CameraBasis& cam, float x, float z, float lit, Vec3 col, float k,
             float u, float t, const DebugParams& dp, std::uint32_t seed) {
  const float e = Clamp01(lit);
  // Outline: 7 dots per side, around the rectangle from its near left corner.
  const Vec3 corners[5] = {{x - 0.17f, 0.0f, z - 0.12f},
                           {x + 0.17f, 0.0f, z - 0.12f},
                           {x + 0.17f, 0.0f, z + 0.12f},
                           {x - 0.17f, 0.0f, z + 0.12f},
                           {x - 0.17f, 0.0f, z - 0.12f}};
  const Vec3 outline = Lerp(Vec3{0.06f, 0.32f, 0.4f}, col, e) * (1.0f + 1.35f * e);
  const float outline_size = 1.22f + 0.45f * e + u * (0.366f + 0.135f * e);
  for (int side = 0; side < 4; ++side) {
    for (int m = 0; m < 7; ++m) {
      const int i = side * 7 + m;
      if (!DotKept(Seed(i, seed), dp.dot_density)) continue;
      const Vec3 p = Lerp(corners[side], corners[side + 1], static_cast<float>(m) / 7.0f);
      SplatWorld(fb, cam, Vec3{p.x, ConsoleSurface(p.x, p.z, u, t) + 0.082f, p.z}, outline,
                 0.055f * k, outline_size, dp);
    }
  }
  SplatWorld(fb, cam, Vec3{x, ConsoleSurface(x, z, u, t) + 0.115f, z}, col * (0.2f + 1.35f * e),
             (0.055f + 0.04f * e) * k, 1.45f + 0.435f * u, dp);
}

void DrawMeter(const SplatTarget& fb, const CameraBasis& cam, float x, float z, float level, Vec3 col,
               float k, float u, float t, const DebugParams& dp, std::uint32_t seed) {
  const float e = Clamp01(level);
  const Vec3 low{0.08f, 0.95f, 0.85f};
  const Vec3 unlit{0.025f, 0.2f, 0.24f};
  for (int i = 0; i <= 10; ++i) {
    if (!DotKept(Seed(i, seed), dp.dot_density)) continue;
    const float step = 0.1f * static_cast<float>(i);
    const float pz = z - 0.07f * static_cast<float>(i);
    const Vec3 p{x, ConsoleSurface(x, pz, u, t) + 0.09f, pz};
    if (e >= step) {
      const Vec3 colour = Lerp(low, col, Smoothstep((step - 0.62f) * 2.631579f)) * (1.0f + 0.8f * e);
      SplatWorld(fb, cam, p, colour, 0.07f * k, 1.35f + 0.405f * u, dp);
    } else {
      SplatWorld(fb, cam, p, unlit, 0.04f * k, 0.92f + 0.276f * u, dp);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Arms

void DrawLimb(const SplatTarget& fb, const CameraBasis& cam, Vec3 a, Vec3 b, Vec3 col, float thickness,
              float k, float u, const DebugParams& dp, std::uint32_t seed) {
  // Two directions across the limb: the first horizontal, the second completing the frame.
  const Vec3 dir = Normalize(b - a);
  Vec3 w1 = Normalize(Vec3{-dir.z, 0.0f, dir.x});
  if (Length(w1) < 0.001f) w1 = Vec3{1.0f, 0.0f, 0.0f};
  Vec3 w2 = Normalize(Cross(w1, dir));
  if (Length(w2) < 0.001f) w2 = Vec3{0.0f, 0.0f, 1.0f};
  const Vec3 core = col * (1.0f + 0.34f * u);
  const Vec3 side1 = col * (0.84f + 0.24f * u);
  const Vec3 side2 = col * (0.74f + 0.22f * u);
  const Vec3 side3 = col * (0.68f + 0.18f * u);
  const Vec3 side4 = col * (0.58f + 0.16f * u);
  for (int i = 0; i < 36; ++i) {
    if (!DotKept(Seed(i, seed), dp.dot_density)) continue;
    const float f = static_cast<float>(i) / 35.0f;
    const float A = std::sin(kPi * f);
    const float G = 1.0f + 0.18f * A;  // bulge
    const float m = 0.72f + 0.28f * A;
    const float off = (0.05f + 0.032f * m) * G * thickness;
    const Vec3 p = Lerp(a, b, f);
    SplatWorld(fb, cam, p, core, 0.06f * k * G, 1.42f + 0.28f * G + u * (0.426f + 0.084f * G), dp);
    SplatWorld(fb, cam, p + w1 * off, side1, 0.04f * k * G,
               1.08f + 0.24f * m + u * (0.324f + 0.072f * m), dp);
    SplatWorld(fb, cam, p - w1 * off, side2, 0.037f * k * G,
               1.02f + 0.2f * m + u * (0.306f + 0.06f * m), dp);
    SplatWorld(fb, cam, p + w2 * (0.62f * off), side3, 0.034f * k * G,
               0.96f + 0.18f * m + u * (0.288f + 0.054f * m), dp);
    SplatWorld(fb, cam, p - w2 * (0.48f * off), side4, 0.028f * k * G,
               0.86f + 0.16f * m + u * (0.258f + 0.048f * m), dp);
  }
}

void DrawHand(const SplatTarget& fb, const CameraBasis& cam, const ArmPose& pose, float s, Vec3 col, float k,
              float u, const DebugParams& dp, std::uint32_t seed) {
  const float reach = pose.reach;
  Vec3 dir = Normalize(pose.tip - pose.hand);
  if (Length(dir) < 0.001f) dir = Vec3{0.0f, -1.0f, 0.0f};
  // The palm: gated splats from the wrist to the fingertip.
  for (int i = 0; i < 15; ++i) {
    if (!DotKept(Seed(i, seed), dp.dot_density)) continue;
    const Vec3 p = Lerp(pose.hand, pose.tip, static_cast<float>(i) / 14.0f);
    SplatWorld(fb, cam, p, col * (1.0f + 0.45f * u), 0.058f * k, 1.4f + 0.42f * u, dp);
  }
  // Fingertip, knuckle and fingers are never thinned: the hand must read at any density.
  SplatWorld(fb, cam, pose.tip, col * (1.24f + 0.65f * u), 0.11f * k, 2.05f + 0.615f * u, dp);
  SplatWorld(fb, cam, pose.tip - dir * 0.04f - Vec3{0.0f, 0.02f, 0.0f}, col * 0.78f, 0.074f * k,
             1.56f + 0.468f * u, dp);
  const Vec3 finger = col * (0.92f + 0.4f * u + 0.35f * reach);
  const float finger_size = 1.36f + 0.28f * reach + u * (0.408f + 0.084f * reach);
  for (int j = -2; j <= 2; ++j) {
    const float W = 0.5f * static_cast<float>(j);
    const float X = (0.72f + 0.5f * reach) * W;
    const float Y = 0.064f + 0.066f * reach + 0.015f * std::fabs(W);
    const Vec3 spread{(0.042f + 0.07f * reach) * s * X, 0.052f * reach - 0.01f * std::fabs(W),
                      0.012f * X};
    SplatWorld(fb, cam, pose.tip + dir * Y + spread, finger, 0.048f * k, finger_size, dp);
  }
}

void DrawArm(const SplatTarget& fb, const CameraBasis& cam, const ArmPose& given, float s, Vec3 col,
             const ConsoleDrivers& d, const OperatorSway& w, float k, const DebugParams& dp,
             std::uint32_t seed) {
  const float u = d.u;
  ArmPose pose = given;
  // 1. Shoulder.
  const Vec3 S{0.3f * w.sx1 + 0.43f * s + 0.12f * w.sx2, 1.43f + 0.75f * w.hb + 0.7f * s * w.sy,
               0.3f + 0.22f * s * w.sz};
  // 2. The fingertip stays within a hand's length of the wrist.
  const float max_tip = 0.17f + 0.14f * Clamp01(pose.reach);
  const Vec3 to_tip = pose.tip - pose.hand;
  const float tip_length = Length(to_tip);
  if (tip_length > max_tip) pose.tip = pose.hand + to_tip * (max_tip / tip_length);
  // 3. Elbow: partway to the hand and out to the side, tucked in toward the body by `bend`.
  const float off = Clamp(0.14f * Length(pose.hand - S), 0.07f, 0.18f);
  const Vec3 E0 = S + (pose.hand - S) * 0.46f + Vec3{off * s, 0.14f * pose.reach - 0.22f, 0.1f};
  const float sw = (0.018f + 0.026f * pose.press) * std::sin(3.926991f * d.bars + 1.7f * s);
  const float g = Clamp01(pose.bend);
  Vec3 elbow;
  elbow.x = Lerp(E0.x, (0.055f + 0.025f * pose.press) * s + 0.88f * S.x + sw, 0.78f * g);
  elbow.z = Lerp(E0.z, 0.39f + 0.045f * pose.press, 0.68f * g);
  elbow.y = Lerp(E0.y, S.y - 0.19f + 0.045f * pose.press + 0.45f * std::fabs(sw), 0.68f * g);
  elbow.y = std::min(elbow.y, S.y + 0.11f * pose.reach);
  elbow.y = std::max(elbow.y, std::min(S.y, pose.hand.y) + 0.05f);
  // 4. Joints (never thinned), upper arm, forearm, hand.
  const Vec3 sleeve = Lerp(Vec3{0.24f, 0.58f, 0.82f}, col, 0.72f);
  SplatWorld(fb, cam, S, sleeve * (1.0f + 0.35f * u), 0.084f * k, 1.7f + 0.51f * u, dp);
  DrawLimb(fb, cam, S, elbow, col, 1.12f, k, u, dp, seed);
  SplatWorld(fb, cam, elbow, sleeve * (0.75f + 0.55f * u), 0.08f * k, 1.7f + 0.51f * u, dp);
  DrawLimb(fb, cam, elbow, pose.hand, col, 0.92f, k, u, dp, seed + 0x3C6EF372u);
  SplatWorld(fb, cam, pose.hand, sleeve * (0.95f + 0.5f * u), 0.08f * k, 1.66f + 0.498f * u, dp);
  DrawHand(fb, cam, pose, s, col, k, u, dp, seed + 0xDAA66D2Bu);
}

void DrawSearchlights(const SplatTarget& fb, const CameraBasis& cam, float t, const ConsoleDrivers& d,
                      float k, const DebugParams& dp) {
  const float* L = d.L;
  const float u = d.u;
  const float boost = 1.0f + 0.95f * L[1] + 0.75f * L[0];
  const float intensity = (0.026f + 0.018f * L[1]) * k;
  for (int b = 0; b < 7; ++b) {
    const float beam = static_cast<float>(b);
    const float x0 = 1.3f * beam - 3.9f;
    const float x1 = 7.4f * std::sin(beam * kPi / 3.0f + 0.7f * t);
    const Vec3 colour =
        Vec3{0.05f + 0.15833333f * beam, 0.9f - 0.13666667f * beam, 1.0f - 0.06333333f * beam} * boost;
    for (int i = 0; i < 86; ++i) {
      const float f = static_cast<float>(i) / 85.0f;
      const Vec3 p{x0 + f * (x1 - x0),
                   1.55f + 2.6f * f + 0.18f * std::sin(2.0f * beam / 3.0f + 3.0f * t + kTwoPi * f),
                   0.1f + 5.3f * f};
      SplatWorld(fb, cam, p, colour, intensity, 1.4f + 1.1f * f + u * (0.42f + 0.33f * f), dp);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The whole console

namespace {

void DrawConsoleBody(const SplatTarget& fb, const CameraBasis& cam, float t, const DebugParams& dp,
                     const ConsoleDrivers& d, float k) {
  const float* L = d.L;
  const float u = d.u;

  // 1. Top surface: dark blue centre, magenta rim, a wave running across with the beat.
  const float top_glow = 1.0f + 0.45f * L[0];
  for (int i = 0; i < 88; ++i) {
    const float x = 8.1f * static_cast<float>(i) / 87.0f - 4.05f;
    const float ex = std::fabs(2.0f * (static_cast<float>(i) / 87.0f - 0.5f));
    for (int j = 0; j < 18; ++j) {
      if (!DotKept(Seed(i * 18 + j, kTopSalt), dp.dot_density)) continue;
      const float z = 1.94f * static_cast<float>(j) / 17.0f - 1.02f;
      const float edge = std::max(ex, std::fabs(2.0f * (static_cast<float>(j) / 17.0f - 0.5f)));
      const float wv = u * (1.0f + std::sin(2.1f * x + 5.0f * z - kPi * d.beat)) * 0.5f;
      const Vec3 colour = Vec3{0.05f + 0.63f * edge + 0.198f * wv, 0.3f - 0.154f * edge - 0.0484f * wv,
                               0.42f + 0.14f * edge + 0.044f * wv} *
                          top_glow;
      SplatWorld(fb, cam, Vec3{x, ConsoleSurface(x, z, u, t), z}, colour, 0.038f * k,
                 1.12f + 0.336f * u, dp);
    }
  }

  // 2. Front panel: a pattern running along with the steps.
  const float panel_glow = 1.0f + 0.9f * u;
  for (int i = 0; i < 88; ++i) {
    const float x = 8.1f * static_cast<float>(i) / 87.0f - 4.05f;
    const float D = std::sin(kTwoPi * d.ph + 0.64998466f * static_cast<float>(i) - 6.0f * t);
    const Vec3 colour = Vec3{0.505f + 0.445f * D, 0.19f - 0.09f * D, 0.54f + 0.12f * D} * panel_glow;
    for (int j = 0; j < 14; ++j) {
      if (!DotKept(Seed(i * 14 + j, kPanelSalt), dp.dot_density)) continue;
      SplatWorld(fb, cam, Vec3{x, 0.18f + 0.044615384f * static_cast<float>(j), -1.1f}, colour,
                 0.033f * k, 1.0f + 0.3f * u, dp);
    }
  }

  // 3. Two platters turning in opposite directions; the rim is magenta.
  const float spin = 1.0f + 0.65f * u;
  const Vec3 disc = Vec3{0.12f, 0.85f, 1.0f} * spin;
  const Vec3 rim = Vec3{1.0f, 0.12f, 0.72f} * spin;
  for (int side = 0; side < 2; ++side) {
    const float cx = side == 0 ? -1.35f : 1.35f;
    const float turn = side == 0 ? 0.1f * d.beat + 1.2f * t : -0.12f * d.beat - 1.1f * t;
    for (int w = 0; w < 15; ++w) {
      const float radius = static_cast<float>(w + 1) / 15.0f * (0.58f + 0.035f * L[7]);
      const bool is_rim = w >= 12;
      for (int j = 0; j < 44; ++j) {
        const int index = (side * 15 + w) * 44 + j;
        if (!DotKept(Seed(index, kPlatterSalt), dp.dot_density)) continue;
        const float angle = turn + kTwoPi * static_cast<float>(j) / 44.0f;
        const float x = cx + std::cos(angle) * radius;
        const float z = -0.08f + std::sin(angle) * radius * 0.72f;
        const float y = ConsoleSurface(x, z, u, t) + (is_rim ? 0.066f : 0.05f);
        if (is_rim)
          SplatWorld(fb, cam, Vec3{x, y, z}, rim, 0.045f * k, 1.45f + 0.435f * u, dp);
        else
          SplatWorld(fb, cam, Vec3{x, y, z}, disc, 0.03f * k, 0.95f + 0.285f * u, dp);
      }
    }
  }

  // 4. Controls.
  struct Knob {
    float x, z, value, glow;
    Vec3 col;
  };
  const Knob knobs[9] = {
      {-2.78f, 0.52f, 0.44f + 0.46f * L[2] - 0.1f * L[4], L[2], {0.12f, 0.92f, 1.0f}},
      {-2.38f, 0.52f, 0.38f + 0.5f * L[4], L[4], {0.48f, 1.0f, 0.84f}},
      {-1.98f, 0.52f, 0.46f + 0.35f * L[7] + 0.22f * L[2], L[7] + L[2], {1.0f, 0.24f, 0.7f}},
      {1.98f, 0.52f, 0.44f + 0.36f * L[0] + 0.18f * L[4], L[0], {1.0f, 0.2f, 0.72f}},
      {2.38f, 0.52f, 0.52f + 0.4f * L[0] + 0.18f * L[1], L[0] + L[1], {0.2f, 0.82f, 1.0f}},
      {2.78f, 0.52f, 0.48f + 0.46f * L[1], L[1] + L[3], {1.0f, 0.72f, 0.22f}},
      {-0.34f, 0.4f, 0.4f + 0.44f * L[2] + 0.16f * L[5], L[7] + L[2], {0.14f, 0.96f, 1.0f}},
      {0.0f, 0.42f, 0.52f + 0.34f * L[1] - 0.12f * L[4], L[1] + L[5], {1.0f, 0.72f, 0.22f}},
      {0.34f, 0.4f, 0.46f + 0.42f * L[0] + 0.16f * L[3], L[3] + L[0], {1.0f, 0.2f, 0.7f}},
  };
  std::uint32_t salt = 0x5BD1E995u;
  for (const Knob& knob : knobs) {
    DrawKnob(fb, cam, knob.x, knob.z, knob.value, knob.glow, knob.col, k, u, t, dp, salt);
    salt += 0x9E3779B9u;
  }
  DrawChannelFader(fb, cam, -0.48f, -0.52f, 0.32f, knobs[2].value, L[7] + L[2],
                   Vec3{0.16f, 0.92f, 1.0f}, k, u, t, dp, salt);
  salt += 0x9E3779B9u;
  DrawChannelFader(fb, cam, 0.48f, -0.52f, 0.32f, knobs[3].value, L[0] + L[4],
                   Vec3{1.0f, 0.18f, 0.7f}, k, u, t, dp, salt);
  salt += 0x9E3779B9u;
  DrawCrossFader(fb, cam, -0.92f, 0.92f, -0.72f, CrossFaderValue(d), L[7] + L[5],
                 Vec3{1.0f, 0.34f, 0.8f}, k, u, t, dp, salt);
  salt += 0x9E3779B9u;
  DrawMeter(fb, cam, -0.16f, 0.48f, 0.25f * d.groove + 0.6f * L[7] + 0.55f * L[2],
            Vec3{1.0f, 0.28f, 0.64f}, k, u, t, dp, salt);
  salt += 0x9E3779B9u;
  DrawMeter(fb, cam, 0.16f, 0.48f, 0.25f * d.groove + 0.64f * L[0] + 0.35f * L[4],
            Vec3{1.0f, 0.24f, 0.72f}, k, u, t, dp, salt);
  salt += 0x9E3779B9u;
  DrawCrossFader(fb, cam, -0.4f, 0.4f, -0.36f, 0.5f + 0.2f * (L[2] - L[0]) + 0.24f * L[5],
                 0.35f * L[3] + L[5], Vec3{0.92f, 0.96f, 1.0f}, k, u, t, dp, salt);
  salt += 0x9E3779B9u;
  DrawPad(fb, cam, -0.22f, -0.58f, L[6] + 0.55f * L[5], Vec3{0.16f, 0.92f, 1.0f}, k, u, t, dp,
          salt);
  salt += 0x9E3779B9u;
  DrawPad(fb, cam, 0.22f, -0.58f, L[3] + 0.42f * L[5], Vec3{1.0f, 0.2f, 0.7f}, k, u, t, dp, salt);
  salt += 0x9E3779B9u;
  // Pad banks: a light chases through the eight pads of each bank twice per phrase (the right
  // bank the other way round), and each pad also flashes with one of the eight levels.
  const float chase = 2.0f * PhrasePosition(d.bars);  // 0 .. 8
  for (int bank = 0; bank < 2; ++bank) {
    const Vec3 col = bank == 0 ? Vec3{0.12f, 0.9f, 1.0f} : Vec3{1.0f, 0.18f, 0.7f};
    for (int row = 0; row < 2; ++row) {
      for (int l = 0; l < 4; ++l) {
        const int index = row * 4 + l;
        const float place = static_cast<float>(bank == 0 ? index : 7 - index);
        const float near = Smoothstep(1.0f - std::fabs(chase - place));
        const float lit = 0.5f * near + 0.55f * L[(index + 3 * bank) % 8];
        const float x = bank == 0 ? 0.42f * static_cast<float>(l) - 2.76f
                                  : 0.42f * static_cast<float>(l) + 1.74f;
        DrawPad(fb, cam, x, row == 0 ? -0.72f : -0.42f, lit, col, k, u, t, dp, salt);
        salt += 0x9E3779B9u;
      }
    }
  }

  // 5. Equaliser wall behind the operator: cyan at the foot, pink at the top.
  const float eq_glow = 1.0f + 0.95f * u;
  for (int bar = 0; bar < 13; ++bar) {
    const float height =
        std::min(1.3f * L[1] + 0.9f * u + 0.7f + 0.7f * U(491u * static_cast<std::uint32_t>(bar)), 4.6f);
    for (int column = 0; column < 2; ++column) {
      const float x = 0.9666667f * static_cast<float>(bar) - 5.8f + (column == 0 ? -0.2f : 0.2f);
      for (int l = 0; l <= 41; ++l) {
        const float y = 0.28f + 4.4f * static_cast<float>(l) / 41.0f;
        if (y > height) break;
        if (!DotKept(Seed((bar * 2 + column) * 42 + l, kEqualiserSalt), dp.dot_density)) continue;
        const float s = Smoothstep((static_cast<float>(l) / 41.0f - 0.52f) * 2.0833333f);
        const Vec3 colour = Vec3{0.1f + 0.9f * s, 0.72f - 0.54f * s, 1.0f - 0.48f * s} * eq_glow;
        SplatWorld(fb, cam, Vec3{x, y, 1.75f}, colour, 0.032f * k,
                   1.0f + 0.75f * s + (0.3f + 0.225f * s) * u, dp);
      }
    }
  }
}

void DrawOperator(const SplatTarget& fb, const CameraBasis& cam, float t, const DebugParams& dp,
                  const MusicViz& mv, const ConsoleDrivers& d, const OperatorSway& w, float k) {
  const float* L = d.L;
  const float u = d.u;
  const Vec3 H = w.head;
  const float cb = w.cb;

  // Head: a disc of scattered dots facing the viewer.
  const Vec3 head_colour = Vec3{0.72f, 0.92f, 1.0f} * (1.0f + 0.28f * L[0]);
  for (int i = 0; i < 64; ++i) {
    if (!DotKept(Seed(i, kHeadSalt), dp.dot_density)) continue;
    const std::uint32_t ui = static_cast<std::uint32_t>(i);
    const float r = 0.12f + 0.2f * U(31u * ui);
    const float A = kTwoPi * U(17u * ui);
    const Vec3 p{H.x + r * std::cos(A) * (1.0f + 0.25f * cb), H.y - 0.025f + 0.72f * r * std::sin(A),
                 H.z + 0.035f * r * std::cos(A + kPi / 2.0f)};
    SplatWorld(fb, cam, p, head_colour, 0.022f * k, 0.78f + 0.234f * u, dp);
  }
  // Crown arc.
  const Vec3 crown = Vec3{0.08f, 0.82f, 1.0f} * (1.0f + 0.28f * L[4]);
  for (int l = 0; l < 62; ++l) {
    if (!DotKept(Seed(l, kCrownSalt), dp.dot_density)) continue;
    const float fl = static_cast<float>(l);
    const Vec3 p{H.x + (1.0f + 0.2f * cb) * (0.008524589f * fl - 0.26f),
                 H.y + 0.02f + 0.18f * std::sin(0.051501516f * fl), H.z - 0.018f};
    SplatWorld(fb, cam, p, crown, 0.04f * k, 1.2f + 0.36f * u, dp);
  }
  // Torso: waist to shoulders, dark blue core, magenta toward the outer shoulders.
  for (int i = 0; i < 220; ++i) {
    if (!DotKept(Seed(i, kTorsoSalt), dp.dot_density)) continue;
    const std::uint32_t ui = static_cast<std::uint32_t>(i);
    const float I = U(41u * ui);
    const float X = 2.0f * U(23u * ui) - 1.0f;
    const float Y = Smoothstep((I - 0.58f) * 2.3809524f);
    const float W = Clamp01((I - 0.1f) * 1.4285715f);
    const float half_width = 0.4104f + 0.13953601f * Y -
                             W * W * (0.41860798f + 0.14232671f * Y - 0.27907202f * W -
                                      0.094884485f * W * Y) -
                             0.0756f * std::fabs(I - 0.72f);
    const Vec3 p{X * half_width + (1.0f - 0.45f * I) * w.sx1 + 0.76f * I * w.sx2,
                 0.91f + 0.82f * I + Y * w.sy + (0.45f + 0.24f * I) * w.hb,
                 0.23f + 0.13f * std::sin(kPi * I) + 0.52f * X * w.sz};
    const float q = Clamp01(2.0f * (std::fabs(X) + 0.28f * I) - 0.4f);
    const float q2 = I * q * q;
    const Vec3 colour = Vec3{0.09f + q2 * (2.73f - 1.82f * q), 0.25f - q2 * (0.45f - 0.3f * q),
                             0.42f + q2 * (0.72f - 0.48f * q)} *
                        (1.0f + 0.62f * u);
    SplatWorld(fb, cam, p, colour, 0.028f * k, 1.04f + 0.312f * u, dp);
  }
  // Collar ring.
  const Vec3 collar = Vec3{0.94f, 0.98f, 1.0f} * (1.0f + 0.25f * L[0]);
  for (int i = 0; i < 54; ++i) {
    if (!DotKept(Seed(i, kCollarSalt), dp.dot_density)) continue;
    const float angle = kTwoPi * static_cast<float>(i) / 53.0f;
    const Vec3 p{0.14f * std::cos(angle) + 0.72f * w.sx1 + 0.46f * w.sx2,
                 1.62f + 0.52f * w.hb + 0.035f * std::sin(angle),
                 0.24f + 0.03f * std::sin(angle + kPi / 4.0f)};
    SplatWorld(fb, cam, p, collar, 0.038f * k, 1.04f + 0.312f * u, dp);
  }
  // Visor across the eyes.
  const Vec3 visor = Vec3{1.0f, 0.16f, 0.72f} * (1.0f + 0.6f * L[0]);
  for (int i = 0; i < 44; ++i) {
    if (!DotKept(Seed(i, kVisorSalt), dp.dot_density)) continue;
    const float fi = static_cast<float>(i);
    const Vec3 p{0.85f * w.sx1 - 0.28f + 0.013023255f * fi,
                 H.y + 0.03f + 0.035f * std::sin(0.0730603f * fi), -0.025f};
    SplatWorld(fb, cam, p, visor, 0.052f * k, 1.34f + 0.402f * u, dp);
  }
  // Headphones.
  const Vec3 Cc = Vec3{0.07f, 0.82f, 1.0f} * (1.0f + 0.34f * L[4] + 0.2f * u);
  const Vec3 Cm = Vec3{1.0f, 0.18f, 0.72f} * (1.0f + 0.24f * u + 0.4f * L[0]);
  std::uint32_t salt = kHeadphoneSalt;
  for (int side = 0; side < 2; ++side) {
    const float s = side == 0 ? -1.0f : 1.0f;
    const Vec3 cup{H.x + s * (0.35f + 0.16f * std::fabs(cb)), H.y - 0.01f + 0.12f * w.hb,
                   H.z - 0.03f + 0.14f * s * cb};
    // Rim: an upright ellipse, its outer half pushed back, cyan at the sides, magenta at the top
    // and bottom.
    for (int i = 0; i < 46; ++i) {
      if (!DotKept(Seed(i, salt), dp.dot_density)) continue;
      const float angle = kTwoPi * static_cast<float>(i) / 46.0f;
      const float ca = std::cos(angle);
      const float sa = std::sin(angle);
      const float q = Clamp01((std::fabs(sa) - 0.15f) * 1.1764705f);
      const Vec3 colour = Lerp(Cc, Cm, q * q * (1.02f - 0.68f * q));
      const Vec3 p = cup + Vec3{0.12f * ca * s, 0.158f * sa, 0.03f + 0.028f * std::max(ca, 0.0f)};
      SplatWorld(fb, cam, p, colour, 0.054f * k, 1.3f + 0.39f * u, dp);
    }
    salt += kSeedStep;
    const Vec3 inner_colour = Vec3{0.025f, 0.16f, 0.24f} * (1.0f + 0.35f * u + 0.7f * L[2]);
    for (int i = 0; i < 34; ++i) {
      if (!DotKept(Seed(i, salt), dp.dot_density)) continue;
      const float angle = kTwoPi * static_cast<float>(i) / 34.0f;
      const Vec3 p = cup + Vec3{0.072f * std::cos(angle) * s, 0.104f * std::sin(angle), 0.056f};
      SplatWorld(fb, cam, p, inner_colour, 0.05f * k, 1.08f + 0.324f * u, dp);
    }
    salt += kSeedStep;
    // Outer bar on the cup's outside, bowed outward in the middle.
    for (int i = 0; i < 22; ++i) {
      if (!DotKept(Seed(i, salt), dp.dot_density)) continue;
      const float f = static_cast<float>(i) / 21.0f;
      const Vec3 p = cup + Vec3{s * (0.118f + 0.032f * std::sin(kPi * f)), -0.112f + 0.224f * f, 0.0f};
      SplatWorld(fb, cam, p, Cm, 0.042f * k, 1.05f + 0.315f * u, dp);
    }
    salt += kSeedStep;
    // Two rows arching from the cup to the top of the head; o is each row's offset from the
    // cup's edge (inside negative, outside positive).
    for (int row = 0; row < 2; ++row) {
      const float o = row == 0 ? -0.018f : 0.036f;
      const Vec3& colour = row == 0 ? Cc : Cm;
      const Vec3 from = cup + Vec3{s * o, 0.158f, 0.0f};
      const Vec3 to{H.x + s * (0.315f + 0.55f * o), H.y + 0.205f, H.z - 0.05f};
      for (int i = 0; i < 20; ++i) {
        if (!DotKept(Seed(i, salt), dp.dot_density)) continue;
        const float f = static_cast<float>(i) / 19.0f;
        const float bulge = 0.012f * std::sin(kPi * f);
        const Vec3 p = Lerp(from, to, f) + Vec3{s * bulge, bulge, 0.0f};
        SplatWorld(fb, cam, p, colour, 0.037f * k, 0.96f + 0.288f * u, dp);
      }
      salt += kSeedStep;
    }
  }
  // Headband: an inner cyan and an outer magenta arc over the head.
  for (int arc = 0; arc < 2; ++arc) {
    const float N = arc == 0 ? 0.085f : 0.051f;
    const float z = H.z - (arc == 0 ? 0.066f : 0.03f);
    const Vec3 colour = (arc == 0 ? Cc : Cm * 0.78f) * (1.0f + 0.22f * u);
    const float intensity = (arc == 0 ? 0.03f : 0.024f) * k;
    const float size = arc == 0 ? 0.92f + 0.276f * u : 0.78f + 0.234f * u;
    for (int l = 0; l < 62; ++l) {
      if (!DotKept(Seed(l, kHeadbandSalt + static_cast<std::uint32_t>(arc) * 0x632BE5ABu),
                   dp.dot_density))
        continue;
      const float fl = static_cast<float>(l);
      const Vec3 p{H.x - 0.39f + 0.012786884f * fl + cb * (0.0012786884f * fl - 0.039f),
                   H.y + N + (0.305f + 0.02f * d.groove) * std::sin(0.051501516f * fl), z};
      SplatWorld(fb, cam, p, colour, intensity, size, dp);
    }
  }
  // Arms.
  ArmPose left;
  ArmPose right;
  OperatorPoses(d, w, mv, t, left, right);
  DrawArm(fb, cam, left, -1.0f, Vec3{1.0f, 0.28f, 0.74f}, d, w, k, dp, kArmSalt);
  DrawArm(fb, cam, right, 1.0f, Vec3{0.44f, 0.95f, 1.0f}, d, w, k, dp, kArmSalt + 0x1F123BB5u);
}

void DrawCrowd(const SplatTarget& fb, const CameraBasis& cam, float t, const DebugParams& dp,
               const ConsoleDrivers& d, float k) {
  const float u = d.u;
  const float glow = 1.0f + 0.95f * u;
  for (int i = 0; i < 760; ++i) {
    if (!DotKept(Seed(i, kCrowdSalt), dp.dot_density)) continue;
    const std::uint32_t ui = static_cast<std::uint32_t>(i);
    const float a = U(47u * ui);
    const Vec3 p{13.5f * U(13u * ui) - 6.75f,
                 0.05f + 0.82f * a + 0.16f * d.L[7] * std::sin(5.0f * t + kTwoPi * a),
                 3.4f * U(29u * ui) - 5.6f};
    const Vec3 colour = Vec3{0.08f + 0.92f * a, 0.34f - 0.2f * a, 0.55f + 0.07f * a} * glow;
    SplatWorld(fb, cam, p, colour, 0.026f * k, 1.0f + 1.2f * a + u * (0.3f + 0.36f * a), dp);
  }
}

}  // namespace

void DrawConsoleAndOperator(const SplatTarget& fb, const CameraBasis& cam, float t, const DebugParams& dp,
                            const MusicViz& mv, float k) {
  if (!(k > 0.001f)) return;
  const ConsoleDrivers d = MakeConsoleDrivers(t, mv);
  const OperatorSway w = MakeOperatorSway(d);
  DrawConsoleBody(fb, cam, t, dp, d, k);
  DrawOperator(fb, cam, t, dp, mv, d, w, k);
  DrawSearchlights(fb, cam, t, d, k, dp);
  DrawCrowd(fb, cam, t, dp, d, k);
}
