// The orb stage's frame: drive, rig, focus, camera path and projection, flat view, scope timing,
// the fractal backdrop and the order of the layers.

#include "scenes/orb_stage.h"

#include <algorithm>
#include <cmath>

#include "render/primitives.h"

namespace {

constexpr float kTwoPi = 6.2831855f;

// Positive remainder of x / m, in [0, m) (0 for a non-finite x).
float WrapPositive(float x, float m) {
  if (!std::isfinite(x)) return 0.0f;
  float r = std::fmod(x, m);
  if (r < 0.0f) r += m;
  return r < m ? r : 0.0f;
}

// The orb a waypoint sits beside: (5m + 1) mod 8, visiting 1, 6, 3, 0, 5, 2, 7, 4.
int WaypointOrb(int m) {
  const int r = ((m % 8) + 8) % 8;
  return (5 * r + 1) % 8;
}

// Unit (-d.z, 0, d.x) across a direction in the horizontal plane; `fallback` when d is vertical.
Vec3 HorizontalSide(Vec3 d, bool* degenerate) {
  const float flat = std::sqrt(d.x * d.x + d.z * d.z);
  if (!(flat > 1e-8f)) {
    *degenerate = true;
    return {};
  }
  *degenerate = false;
  return {-d.z / flat, 0.0f, d.x / flat};
}

}  // namespace

float StageDrive(const MusicViz& mv) {
  if (!mv.active) return 0.0f;
  return Clamp01(0.85f * mv.impact + 0.25f * mv.kick + 0.18f * mv.lead + 0.7f * mv.cue_finale +
                 0.45f * mv.cue_club + 0.35f * mv.build);
}

float OrbVoice(const MusicViz& mv, int index) {
  switch (((index % 6) + 6) % 6) {
    case 0: return mv.kick;
    case 1: return mv.perc;
    case 2: return mv.bass;
    case 3: return mv.lead;
    case 4: return mv.impact;
    default: return mv.build;
  }
}

Vec3 OrbBaseColour(int index) {
  // Cyan, pink, gold, green, violet, orange, blue, mint: eight voices told apart at a glance.
  static constexpr Vec3 kColours[kOrbCount] = {
      {0.22f, 0.86f, 1.0f}, {1.0f, 0.25f, 0.62f}, {0.96f, 0.82f, 0.26f}, {0.35f, 1.0f, 0.58f},
      {0.72f, 0.42f, 1.0f}, {1.0f, 0.46f, 0.24f}, {0.42f, 0.62f, 1.0f},  {0.78f, 1.0f, 0.92f}};
  return kColours[index & (kOrbCount - 1)];
}

OrbRig BuildOrbRig(float T, const MusicViz& mv) {
  const float D = StageDrive(mv);
  const float b = mv.active ? mv.bar : 0.52f * T;
  const float a = mv.active ? mv.energy : 0.25f;
  const float a1 = 0.07f * a;

  OrbRig rig;
  // Drifting paths: every orb its own speeds from three hashes, on time and on the bar.
  for (int i = 0; i < kOrbCount; ++i) {
    const uint32_t ui = static_cast<uint32_t>(i);
    const float fi = static_cast<float>(i);
    const float um = HashUnit(ui * 1025551850u - 1640531527u);
    const float ut = HashUnit(1821285621u - ui * 2048144789u);
    const float uw = HashUnit(1759714724u - ui * 1255572915u);
    Orb& o = rig.orbs[static_cast<size_t>(i)];

    o.phase = (0.105f + 0.045f * um) * T + 2.3999631f * fi + (0.145f + 0.05f * ut) * b;
    o.size = 0.55f + 0.45f * um;
    o.charge = (i % 2 == 0) ? 1.0f : -1.0f;
    const float A = 0.34f + 0.34f * ut + 0.075f * mv.build + 0.11f * mv.cue_club + a1;

    const float wobble_x =
        std::sin((0.03885f + 0.01665f * um) * T + 1.8879864f * fi + (0.05365f + 0.0185f * ut) * b);
    const float x = A * std::sin(wobble_x + (0.16065f + 0.06885f * um) * T +
                                 (0.22185f + 0.0765f * ut) * b + 3.6719434f * fi) +
                    0.11f * std::sin(1.7f * fi + 0.19f * T);
    const float wobble_y =
        std::sin((0.03045f + 0.01305f * um) * T + 1.1959894f * fi + (0.04205f + 0.0145f * ut) * b);
    const float y = 0.88f * A * std::cos(wobble_y + (0.12705f + 0.05445f * um) * T +
                                         (0.17545f + 0.0605f * ut) * b + 2.9039555f * fi) +
                    0.09f * std::sin(0.9f * fi + 0.13f * T);
    const float z = 0.34f * std::sin((0.04305f + 0.01845f * um) * T + 0.9839849f * fi +
                                     (0.05945f + 0.0205f * ut) * b + 6.0f * ut) +
                    0.48f + 2.85f * uw;
    o.pos = Vec3(x, y, z);
    o.colour = OrbBaseColour(i) * (0.82f + 0.3f * um + 0.4f * D);
  }

  RelaxOrbRig(rig, mv, 3);
  return rig;
}

void RelaxOrbRig(OrbRig& rig, const MusicViz& mv, int passes) {
  // Equal charges repel, opposite ones attract, more strongly with the music. The squared
  // distance is held at 0.018 or more so that close orbs do not fling each other away.
  const float repel = 0.0024f * mv.impact + 0.0018f + 0.0016f * mv.cue_club;
  const float attract = -0.001488f * mv.impact - 0.001116f - 0.000992f * mv.cue_club;
  for (int pass = 0; pass < passes; ++pass) {
    for (int i = 0; i < kOrbCount; ++i) {
      for (int j = i + 1; j < kOrbCount; ++j) {
        Orb& oi = rig.orbs[static_cast<size_t>(i)];
        Orb& oj = rig.orbs[static_cast<size_t>(j)];
        const Vec3 delta = oi.pos - oj.pos;
        const Vec3 dir = Normalize(delta);
        const float d2 = std::max(Dot(delta, delta), 0.018f);
        const float k = (oi.charge == oj.charge ? repel : attract) / d2;
        oi.pos += k * dir;
        oj.pos -= k * dir;
      }
    }
  }
}

StageFocusRecord StageFocus(const OrbRig& rig, const MusicViz& mv) {
  const float D = StageDrive(mv);
  Vec3 S;
  float M = 0.0f;

  // 1. The orbs, weighted by their voices and sizes; the first heaviest is the strongest.
  StageFocusRecord focus;
  float heaviest = -1.0f;
  for (int i = 0; i < kOrbCount; ++i) {
    const Orb& o = rig.orbs[static_cast<size_t>(i)];
    const float m = (1.7f * OrbVoice(mv, i) + 0.75f + 0.7f * D) * o.size;
    if (m > heaviest) {
      heaviest = m;
      focus.strongest = o.pos;
    }
    S += m * o.pos;
    M += m;
  }

  // 2. Close pairs pull the focus toward their middle.
  const float pair_weight =
      0.7f * mv.cue_club + 0.9f * mv.cue_finale + 1.5f * mv.impact + 0.55f;
  for (int i = 0; i < kOrbCount; ++i) {
    for (int j = i + 1; j < kOrbCount; ++j) {
      const Vec3 pi = rig.orbs[static_cast<size_t>(i)].pos;
      const Vec3 pj = rig.orbs[static_cast<size_t>(j)].pos;
      const float a = (1.0f - Smoothstep((Length(pi - pj) - 0.2f) / 0.95f)) * pair_weight;
      if (a > 0.001f) {
        S += a * ((pi + pj) * 0.5f);
        M += a;
      }
    }
  }

  // 3. Centroid and spread.
  focus.centroid = M > 0.001f ? Vec3(S.x / M, S.y / M, S.z / M) : Vec3(0.0f, 0.0f, 1.45f);
  float spread = 0.0f;
  for (const Orb& o : rig.orbs) spread = std::max(spread, Length(o.pos - focus.centroid));
  focus.radius = Clamp(spread, 0.35f, 1.35f);
  return focus;
}

Vec3 StageWaypoint(int n, const OrbRig& rig, const StageFocusRecord& focus, float t,
                   const MusicViz& mv) {
  const float D = StageDrive(mv);
  const auto orb_pos = [&](int m) { return rig.orbs[static_cast<size_t>(WaypointOrb(m))].pos; };

  // 1. This waypoint's hashes.
  const uint32_t q = static_cast<uint32_t>(n) * 0x9E3779B9u;
  const float ue = HashUnit(q ^ 0xC3A5C85Cu);
  const float ug = HashUnit(q ^ 0x165667B1u);
  const float ul = HashUnit(q ^ 0x8AED2A6Bu);
  const float uo = HashUnit(q ^ 0xD3A2646Cu);
  const float uu = HashUnit(q ^ 0xB7E15162u);
  const float sg = HashUnit(q ^ 0x243F6A88u) >= 0.5f ? 1.0f : -1.0f;

  // 2. A frame along the line through the neighbouring waypoints' orbs.
  const Vec3 chord = orb_pos(n + 1) - orb_pos(n - 1);
  const Vec3 dir = Length(chord) > 0.001f ? Normalize(chord) : Vec3(0.0f, 0.0f, 1.0f);
  bool degenerate = false;
  Vec3 side = HorizontalSide(dir, &degenerate);
  if (degenerate) {
    const float yz = std::sqrt(dir.y * dir.y + dir.z * dir.z);
    side = yz > 1e-8f ? Vec3(0.0f, dir.z / yz, -dir.y / yz) : Vec3(1.0f, 0.0f, 0.0f);
  }
  const Vec3 up = Normalize(Cross(side, dir));

  // 3. Offsets beside the orb, so the camera passes it instead of flying through it.
  const float across = sg * (0.045f * mv.cue_club + 0.17f * uu + 0.026f * D + 0.125f);
  const float lift = 0.03f * std::sin((0.18f + 0.12f * ue) * t + kTwoPi * ug) + 0.19f * ul -
                     0.095f + mv.cue_finale * (0.07f * ul - 0.035f);
  const float along = mv.build * (0.06f * uo - 0.03f) + 0.18f * uo - 0.09f;

  // 4. Pulled a little toward the centroid.
  const Vec3 point = orb_pos(n) + across * side + lift * up + along * dir;
  return Lerp(point, focus.centroid, 0.045f + 0.035f * mv.cue_finale);
}

Vec3 CatmullRom(Vec3 p0, Vec3 p1, Vec3 p2, Vec3 p3, float s) {
  const float s2 = s * s;
  const float s3 = s2 * s;
  const Vec3 c0 = 2.0f * p1;
  const Vec3 c1 = (p2 - p0) * s;
  const Vec3 c2 = (2.0f * p0 - 5.0f * p1 + 4.0f * p2 - p3) * s2;
  const Vec3 c3 = (3.0f * (p1 - p2) + p3 - p0) * s3;
  return 0.5f * (c0 + c1 + c2 + c3);
}

StageCamera BuildStageCamera(std::size_t width, std::size_t height, float t,
                             const SceneCameraParams& cam, const MusicViz& mv, const OrbRig& rig) {
  const float W = static_cast<float>(width);
  const float H = static_cast<float>(height);
  const float D = StageDrive(mv);
  const float fwd = cam.forward;
  const auto orb_pos = [&](int m) { return rig.orbs[static_cast<size_t>(WaypointOrb(m))].pos; };

  // 1. Bar clock and focus.
  const float bp = mv.active ? mv.bar : 0.45f * t;
  const StageFocusRecord focus = StageFocus(rig, mv);

  // 2. Place on the spline: about one waypoint every 4.3 bars. Waypoint indices are kept within
  //    the int range: far beyond any show (where floats hold only whole numbers) the place is
  //    taken modulo 2^30, and a non-finite one is the start.
  float f = 0.235f * bp + 0.026f * t + 0.01f * fwd;
  if (!std::isfinite(f)) f = 0.0f;
  if (!(std::fabs(f) < 1073741824.0f)) f = std::fmod(f, 1073741824.0f);
  const float hf = std::floor(f);
  const int h = static_cast<int>(hf);
  const float s = Smoothstep(f - hf);
  const auto P = [&](int n) { return StageWaypoint(n, rig, focus, t, mv); };
  const Vec3 P0 = P(h - 1), P1 = P(h), P2 = P(h + 1), P3 = P(h + 2), P4 = P(h + 3);
  const Vec3 A = CatmullRom(P0, P1, P2, P3, s);
  const Vec3 Bp = CatmullRom(P1, P2, P3, P4, s);

  // 3. Frame of motion.
  const Vec3 dirAB = Normalize(Bp - A);
  bool degenerate = false;
  Vec3 side = HorizontalSide(dirAB, &degenerate);
  if (degenerate) side = Vec3(1.0f, 0.0f, 0.0f);
  const Vec3 up = Normalize(Cross(side, dirAB));

  // 4. Gaze target between the next two orbs, swaying. It slides on to the pair after them
  //    while the camera covers this stretch of the spline: switching pairs at once when the
  //    camera passes a waypoint would jerk the view by several degrees in one frame.
  const float mix =
      Clamp(0.18f * std::sin(0.5684712f * bp + 0.06289469f * t + 0.024190264f * fwd) + 0.48f,
            0.28f, 0.72f);
  const float sway = (0.03f * D + 0.105f) *
                     std::sin(0.04982566f * t + 0.45034733f * bp + 0.019163715f * fwd + 1.3f);
  const float nod = (0.025f * mv.cue_finale + 0.07f) *
                    std::cos(0.6127677f * bp + 0.067795575f * t + 0.02607522f * fwd + 0.4f);
  const Vec3 gaze_now = Lerp(orb_pos(h + 1), orb_pos(h + 2), mix);
  const Vec3 gaze_next = Lerp(orb_pos(h + 2), orb_pos(h + 3), mix);
  const Vec3 T0 = Lerp(gaze_now, gaze_next, s) + sway * side + nod * up;
  const Vec3 T1 = Lerp(T0, focus.centroid, 0.06f * mv.cue_finale + 0.1f);

  // 5. Position on the spline, weaving a little, plus the scene's offsets.
  const float w1 = std::cos(0.07596371f * t + 0.6865951f * bp + 0.029216811f * fwd + 1.1f);
  const float w2 = (0.024f * D + 0.07f) *
                   std::sin(0.96713924f * bp + 0.10700264f * t + 0.04115486f * fwd + 0.7f);
  Vec3 pos = A + w2 * side + (0.052f * w1) * up +
             Vec3(0.006f * cam.side, 0.006f * cam.height, 0.0035f * fwd);

  // 6. Look point: ahead along the path, drawn toward the gaze target and the strongest orb.
  const float w3 = std::cos(0.047375217f * t + 0.42819908f * bp + 0.018221237f * fwd + 0.6f);
  const float w4 = (0.026f * D + 0.08f) *
                   std::sin(0.34698892f * bp + 0.038390264f * t + 0.014765485f * fwd + 2.1f);
  const float ahead = 0.08f * mv.cue_club + 0.2f * focus.radius + 0.72f;
  const Vec3 L0 = pos + ahead * dirAB + w4 * side + (0.06f * w3) * up;
  const float k = Clamp(0.04f * mv.cue_club + 0.055f * D + 0.15f, 0.12f, 0.3f);
  const Vec3 L1 = Lerp(L0, T1, k);
  Vec3 L2 = Lerp(L1, focus.strongest, 0.02f * mv.impact + 0.025f * D);
  L2.z = Clamp(L2.z, 0.5f, 3.25f);

  // 7. Keep the look point a little way off, so the view direction stays defined.
  const float md = 0.035f * D + 0.2f;
  if (Length(L2 - pos) < md) {
    const Vec3 back = (Dot(dirAB, dirAB) > 0.0f) ? dirAB : Vec3(0.0f, 0.0f, 1.0f);
    pos = L2 - md * back;
  }

  // 8. Screen centre, focal scale and the turns toward the look point.
  StageCamera c;
  c.cx = W / 2.0f + 0.65f * cam.side;
  c.cy = H / 2.0f - 0.45f * cam.height;
  c.pos = pos;
  c.focal = (0.036f * mv.cue_finale + 0.026f * D + 0.0014f * cam.fov_off + 0.56f) * std::min(W, H) /
            std::max(cam.dist, 0.35f);
  const Vec3 d = L2 - pos;
  c.yaw = std::atan2(d.x, d.z) + 0.12f * cam.yaw;
  c.pitch = std::atan2(-d.y, std::max(std::sqrt(d.x * d.x + d.z * d.z), 0.001f)) +
            0.0008f * cam.height;
  c.roll = 0.055f * std::sin(0.018f * bp + 0.052f * t) + 0.24f * dirAB.x - 0.1f * dirAB.y +
           0.06f * mv.cue_club + 0.14f * mv.cue_finale;
  return c;
}

StageLens MakeStageLens(const StageCamera& cam) {
  StageLens lens;
  lens.cam = cam;
  lens.cos_yaw = std::cos(cam.yaw);
  lens.sin_yaw = std::sin(cam.yaw);
  lens.cos_pitch = std::cos(cam.pitch);
  lens.sin_pitch = std::sin(cam.pitch);
  lens.cos_roll = std::cos(cam.roll);
  lens.sin_roll = std::sin(cam.roll);
  return lens;
}

Vec2 ProjectStageLocal(const StageLens& lens, float a, float b, float depth) {
  const float focal = lens.cam.focal;
  const float sx = lens.cam.cx + focal * (lens.cos_roll * a + lens.sin_roll * b) / depth;
  const float sy = lens.cam.cy - focal * (lens.cos_roll * b - lens.sin_roll * a) / depth;
  return {sx, sy};
}

StageProjection ProjectStage(const StageLens& lens, Vec3 p) {
  // Turn by -yaw about y, then by -pitch about x.
  const Vec3 d = p - lens.cam.pos;
  const float x1 = lens.cos_yaw * d.x - lens.sin_yaw * d.z;
  const float z1 = lens.cos_yaw * d.z + lens.sin_yaw * d.x;
  const float y2 = lens.cos_pitch * d.y + lens.sin_pitch * z1;
  const float z2 = lens.cos_pitch * z1 - lens.sin_pitch * d.y;

  StageProjection out;
  out.depth = z2;
  out.in_front = z2 > 0.2f;
  if (out.in_front) out.screen = ProjectStageLocal(lens, x1, y2, z2);
  return out;
}

StageProjection ProjectStage(const StageCamera& camera, Vec3 p) {
  return ProjectStage(MakeStageLens(camera), p);
}

StageView BuildStageView(std::size_t width, std::size_t height, float t,
                         const SceneCameraParams& cam, const MusicViz& mv) {
  const float W = static_cast<float>(width);
  const float H = static_cast<float>(height);
  const float D = StageDrive(mv);
  StageView v;
  v.cx = 3.0f * cam.side + W / 2.0f;
  v.cy = 0.52f * H - 1.8f * cam.height;
  v.scale = (0.025f * D + 0.0025f * cam.fov_off + 0.045f * mv.cue_finale + 0.44f) *
            std::min(W, H) / std::max(cam.dist, 0.35f);
  v.angle = cam.yaw + 0.22f * mv.cue_finale + 0.1f * mv.cue_club * std::sin(0.42f * t) +
            0.035f * std::sin(0.037f * t);
  return v;
}

float ScopeAmount(float t, const MusicViz& mv) {
  const float B = mv.active ? mv.bar : 0.92f * t;
  const float cyc = WrapPositive(B, 33.0f);
  const float fade_out = 1.0f - Smoothstep((cyc - 9.85f) / 0.55f);
  const float fade_in = Smoothstep((cyc - 7.6f) / 0.55f);
  return Clamp01(fade_out * fade_in);
}

bool StageBlockKept(int c0, int r0, float dot_density) {
  if (dot_density >= 0.999f) return true;
  const uint32_t seed = static_cast<uint32_t>(c0 / 5) * 747796405u -
                        static_cast<uint32_t>(r0 / 5) * 1816287232u + 1101515057u;
  return HashUnit(seed) <= dot_density;
}

void DrawStageBackdrop(Framebuffer& frame, float t, const DebugParams& p, const MusicViz& mv,
                       const StageView& view, const OrbRig& rig) {
  const float D = StageDrive(mv);

  // 1. Iterations: more with the cues and the music.
  const float a = mv.active ? mv.energy : 0.25f;
  const int N = static_cast<int>(5.0f * mv.cue_finale + 4.0f * mv.cue_club + 3.0f * a) + 12;

  // 2. The Julia constant drifts with two of the orbs.
  const float cr = 0.055f * std::sin(0.11f * mv.bar + 0.09f * t) + 0.34f * rig.orbs[1].pos.x - 0.62f;
  const float ci = 0.045f * std::cos(0.07f * t + mv.lead) + 0.32f * rig.orbs[4].pos.y + 0.22f;

  const float zoom = 0.18f * mv.cue_finale + 1.42f;
  const float ca = std::cos(view.angle);
  const float sa = std::sin(view.angle);
  const float strength = 0.009f * mv.cue_club + 0.014f * mv.cue_finale + 0.006f * (a + 1.0f);
  const float trap_falloff = -18.0f - 16.0f * D;
  const float q = 0.32f * mv.cue_finale;

  // 3. 5 x 5 blocks, a stable hashed share of them.
  for (int r0 = 0; r0 < static_cast<int>(frame.height); r0 += 5) {
    for (int c0 = 0; c0 < static_cast<int>(frame.width); c0 += 5) {
      if (!StageBlockKept(c0, r0, p.dot_density)) continue;

      // 4. The block centre on the plane.
      const float py = (static_cast<float>(r0) + 2.5f - view.cy) / view.scale;
      const float px = (static_cast<float>(c0) + 2.5f - view.cx) / view.scale;
      float zr = (ca * px + sa * py) * zoom;
      float zi = (ca * py - sa * px) * zoom;

      // 5. Iterate with an orbit trap on a line and a circle.
      float trap = 99.0f;
      int i = 0;
      for (; i < N; ++i) {
        const float nr = zr * zr - zi * zi + cr;
        const float ni = 2.0f * zr * zi + ci;
        zr = nr;
        zi = ni;
        const float mag = std::sqrt(zr * zr + zi * zi);
        trap = std::min({trap, std::fabs(0.72f * zr - 0.38f * zi), std::fabs(mag - 0.58f)});
        if (mag > 3.2f) break;
      }
      const float esc = 1.0f - static_cast<float>(i) / static_cast<float>(std::max(N, 1));
      const float glow = std::exp(trap_falloff * trap);

      // 6. Faint: a few per cent at most.
      const float amount = Clamp01(0.45f * esc + 1.25f * glow) * strength;
      if (amount <= 0.002f) continue;

      // 7. Blue-violet glow, cyan where it escapes, warmer in the finale.
      const float g = Clamp01(glow);
      const float e = 0.55f * esc;
      const float r = Lerp(Lerp(0.565f * g + 0.015f, 0.16f, e), 1.0f, q);
      const float gr = Lerp(Lerp(0.195f * g + 0.055f, 0.82f, e), 0.76f, q);
      const float bl = Lerp(Lerp(0.85f * g + 0.1f, 1.0f, e), 0.25f, q);

      // 8.
      frame.BlendRect(c0, r0, 5, 5, Vec3(r, gr, bl), amount);
    }
  }
}

StageFrame BuildStageFrame(std::size_t width, std::size_t height, float t,
                           const SceneCameraParams& cam, const MusicViz& mv) {
  StageFrame sf;
  sf.t = t;
  sf.drive = StageDrive(mv);
  sf.rig = BuildOrbRig(t + 0.01f * cam.forward, mv);
  sf.view = BuildStageView(width, height, t, cam, mv);
  sf.lens = MakeStageLens(BuildStageCamera(width, height, t, cam, mv, sf.rig));
  sf.scope = ScopeAmount(t, mv);
  for (int i = 0; i < kOrbCount; ++i)
    sf.orb_screen[static_cast<size_t>(i)] = ProjectStage(sf.lens, sf.rig.orbs[static_cast<size_t>(i)].pos);
  return sf;
}

void OrbStage::Draw(Framebuffer& frame, float t, const DebugParams& p, const SceneCameraParams& cam,
                    const MusicViz& mv) const {
  const float D = StageDrive(mv);

  // 1. Decay: the trails of every layer; a faint blue floor that rises with the music.
  const float factor =
      Clamp(p.trail - 0.03f * D - 0.02f * mv.cue_club - 0.04f * mv.cue_finale, 0.62f, 0.96f);
  const float e = mv.energy;
  const float fin = mv.cue_finale;
  const Vec3 floor_light(0.0001f + 0.000065f * e + 0.00012f * fin,
                         0.00014f + 0.000091f * e + 0.000168f * fin,
                         0.00024f + 0.000156f * e + 0.000288f * fin);
  frame.ScaleAdd(factor, floor_light);

  // 2 to 5. Rig, plane view, camera, scope window.
  const StageFrame sf = BuildStageFrame(frame.width, frame.height, t, cam, mv);

  // 6. Layers, back to front.
  DrawStageBackdrop(frame, t, p, mv, sf.view, sf.rig);
  DrawNearDust(frame, sf, p, mv);
  DrawFineDust(frame, sf, p, mv);
  DrawSparkStreaks(frame, sf, p, mv);
  DrawBonds(frame, sf, p, mv);
  DrawOrbs(frame, sf, p, mv);
  DrawScope(frame, sf, p, mv);
}
