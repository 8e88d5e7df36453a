#include "scenes/dot_field.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "render/noise.h"
#include "render/primitives.h"
#include "scenes/canyon.h"
#include "scenes/canyon_internal.h"

using canyon_detail::kPi;
using canyon_detail::kTwoPi;

namespace {

// A world point on screen: centre, radius and the depth fade's share of the strength.
struct ProjectedDot {
  bool drawn = false;  // in front of the eye and near enough to the image to touch it
  float x = 0.0f;
  float y = 0.0f;
  float radius = 0.0f;
  float fade = 0.0f;  // 1 - 0.75 ss(fade): the share of its strength the dot keeps at its depth
};

ProjectedDot Project(const CameraBasis& cam, Vec3 point, float size, const DebugParams& p, std::size_t width,
                     std::size_t height) {
  ProjectedDot dot;
  // 1. Depth along the view; nothing behind or touching the eye (a NaN depth fails too).
  const Vec3 rel = point - cam.eye;
  const float depth = Dot(rel, cam.forward);
  if (!(depth > 0.05f)) return dot;

  // 2. Radius, upper limit first, then the lower.
  dot.radius = std::max(std::min(size * p.dot_size * 72.0f / depth, 7.0f), 0.35f);

  // 3. Far dots keep a quarter of their strength.
  const float fade = Clamp01((depth - 12.0f) / 118.0f);
  dot.fade = 1.0f - 0.75f * Smoothstep(fade);

  // 4. Screen point.
  dot.x = Dot(rel, cam.right) * cam.focal / depth + cam.cx;
  dot.y = cam.cy - Dot(rel, cam.up) * cam.focal / depth;

  // A splat never reaches further than its radius (at most 7) from its centre: one whose centre
  // lies further out than that adds nothing, and need not be shaded. (NaN fails the test.)
  const float reach = dot.radius + 1.0f;
  dot.drawn = dot.x > -reach && dot.x < static_cast<float>(width) + reach && dot.y > -reach &&
              dot.y < static_cast<float>(height) + reach;
  return dot;
}

// 5. The splat of a projected dot with its intensity.
void SplatProjected(Framebuffer& fb, const ProjectedDot& dot, Vec3 colour, float intensity,
                    const DebugParams& p) {
  if (!dot.drawn) return;
  const float strength = dot.fade * intensity * p.dot_alpha;
  Splat(fb, dot.x, dot.y, dot.radius, colour, strength);
}

}  // namespace

void ProjectSplat(Framebuffer& fb, const CameraBasis& cam, Vec3 point, Vec3 colour, float intensity,
                  float size, const DebugParams& p) {
  SplatProjected(fb, Project(cam, point, size, p, fb.width, fb.height), colour, intensity, p);
}

DotFieldView BuildDotFieldView(float t, const DebugParams& p, const SceneCameraParams& cam, std::size_t width,
                               std::size_t height) {
  DotFieldView view;
  // Eye on the centre line, 4.2 units above the smoothed ground.
  const float camZ = 16.0f * t * p.speed + cam.forward;
  const float camX = CanyonCentre(camZ) + cam.side;
  const Vec3 eye(camX, CameraGround(camX, camZ, p) + 4.2f + cam.height, camZ);

  // Looking at a point 34 units ahead, a little above the ground there.
  const float target_z = camZ + 34.0f;
  const float tx0 = CanyonCentre(target_z) + 0.35f * cam.side;
  const Vec3 target(tx0 + 18.0f * std::sin(cam.yaw),
                    0.3f * cam.height + CameraGround(tx0, target_z, p) + 1.2f, target_z);

  // Bank into the bends of the path.
  const float bend = CanyonPathAngle(camZ + 22.0f) - CanyonPathAngle(camZ - 22.0f);
  const float roll = Clamp(bend * -3.0f * p.bank, -0.5f, 0.5f);
  view.camera = BuildLookAt(eye, target, cam.fov_off + 62.0f, roll, width, height);
  view.camZ = camZ;

  // The sun of the heightfield.
  const float a = p.sun_angle;
  view.sun_sin = std::sin(a);
  view.sun_cos = std::cos(a);
  view.sun = Normalize(Vec3(view.sun_sin, 0.36f, view.sun_cos));
  return view;
}

namespace {

// The music's ripple on the ground of the dot field.
float GroundRipple(float x, float z, float t, const MusicViz& mv) {
  if (!mv.active) return 0.0f;
  return std::sin(0.13f * x + 0.05f * z + 3.0f * t) * (0.1f * mv.bass + 0.34f * mv.impact);
}

// DotFieldGroundHeight on a slice of the terrain at z (what a whole row of dots shares).
float GroundOnSlice(float x, canyon_detail::TerrainSlice& slice, float t, const DebugParams& p,
                    const MusicViz& mv) {
  return canyon_detail::HeightOnSlice(x, slice, p, true) + GroundRipple(x, slice.z, t, mv);
}

// Whether a row's points, from x_first to x_last at z, lie where the lane kernels read them
// (the flight never leaves that range; a clock far beyond it takes the exact path).
bool LanesApply(float x_first, float x_last, float z) {
  const float limit = canyon_detail::kLaneMaxCoordinate;
  return std::fabs(x_first) < limit && std::fabs(x_last) < limit && std::fabs(z) < limit;
}

// Runs a lane kernel over `count` points of one row at z (xs, and hs unless null) in batches of
// the kernels' width, each batch padded with its last point, and gathers the results into out.
template <class Kernel>
void InBatches(const canyon_detail::LaneKernels& kernels, int count, const float* xs, float z,
               const float* hs, float* out, const Kernel& kernel) {
  constexpr int kMax = canyon_detail::kMaxLanes;
  const int lanes = kernels.lanes;
  for (int first = 0; first < count; first += lanes) {
    const int n = std::min(lanes, count - first);
    float bx[kMax];
    float bz[kMax];
    float bh[kMax];
    float result[kMax];
    for (int k = 0; k < lanes; ++k) {
      const int i = first + std::min(k, n - 1);
      bx[k] = xs[i];
      bz[k] = z;
      bh[k] = hs != nullptr ? hs[i] : 0.0f;
    }
    kernel(bx, bz, bh, result);
    std::copy(result, result + n, out + first);
  }
}

}  // namespace

float DotFieldGroundHeight(float x, float z, float t, const DebugParams& p, const MusicViz& mv) {
  canyon_detail::TerrainSlice slice = canyon_detail::MakeSlice(z);
  return GroundOnSlice(x, slice, t, p, mv);
}

bool TerrainDotKept(int i, int k, float density) {
  if (density >= 0.999f) return true;
  const std::uint32_t seed =
      static_cast<std::uint32_t>(i) * 0x2C9277B5u - static_cast<std::uint32_t>(k) * 0x7FEBA0D0u + 0x42C8F31Du;
  return HashUnit(seed) <= density;
}

bool ShipDotKept(std::uint32_t j, float density, bool odd_even, std::uint64_t frame_index) {
  if (odd_even && (j & 1u) != (frame_index & 1u)) return false;
  const float dens = std::min(density, 1.0f);
  return dens >= 0.999f || HashUnit(j * 0x2C9277B5u + 0xF1500A11u) <= dens;
}

DropshipTiming DropshipTimingAt(float section_time, float section_bar) {
  DropshipTiming d;
  d.vis = Smoothstep((section_time - 4.0f) / 1.4f);
  d.arrive = Smoothstep((section_time - 4.2f) / 4.2f);
  d.late = std::max(section_bar - 19.0f, 0.0f);
  d.leave = Smoothstep(d.late / 1.35f);
  d.settle = Clamp01((d.arrive - 0.1f) / 0.82f);
  d.damping = 1.0f - 0.88f * d.leave;
  return d;
}

float DropshipWobble(const DropshipTiming& timing, float k) {
  return k * (1.0f - 0.88f * timing.leave) * Smoothstep(timing.settle);
}

namespace {

// The smoothed ground under the centre line at z, where the path of the ship is read from.
Vec3 PathPoint(float z, const DebugParams& p) {
  const float x = CanyonCentre(z);
  return Vec3(x, CameraGround(x, z, p), z);
}

}  // namespace

DropshipPose DropshipPoseAt(float t, const DropshipTiming& timing, const CameraBasis& camera,
                            const DebugParams& p) {
  const float arrive = timing.arrive;
  const float late = timing.late;
  const float leave = timing.leave;
  const float d = timing.damping;
  const auto A = [&timing](float k) { return DropshipWobble(timing, k); };
  const Vec3& right = camera.right;
  const Vec3& up = camera.up;
  const Vec3& forward = camera.forward;

  // Position in the camera's frame: from behind, left of and above the eye to a hover about 14
  // units ahead, then forward and up out of view from bar 19 of the section.
  const float side_wob = std::sin(1.41f * t + 0.35f) * A(0.09f) + std::sin(0.83f * t + 1.2f) * A(0.22f);
  const float s0 = 0.12f * d * std::sin(0.72f * t) + side_wob;
  const float side = (Lerp(s0, 0.72f, leave) + 3.2f) * arrive - 3.2f;
  const float ahead =
      (std::sin(1.19f * t + 2.1f) * A(0.16f) + std::sin(0.47f * t + 0.6f) * A(0.46f) + 14.1f) * arrive +
      5.5f * late * late - 3.5f;
  const float lift = (std::sin(1.33f * t + 0.7f) * A(0.1f) + std::sin(0.64f * t + 2.0f) * A(0.24f) +
                      0.12f * d * std::sin(1.1f * t) - 7.55f) *
                         arrive +
                     6.0f * late * late + 8.0f;
  const Vec3 ship = camera.eye + ahead * forward + side * right + lift * up;

  // 1. The canyon's direction around the ship, from the smoothed ground along the centre line.
  const float zs = ship.z + 12.0f * arrive + 6.0f;
  const Vec3 d1 = Normalize(PathPoint(zs + 18.0f, p) - PathPoint(zs - 36.0f, p));
  const Vec3 d2 = Normalize(PathPoint(zs + 72.0f, p) - PathPoint(zs - 12.0f, p));
  const Vec3 dir = Normalize(Lerp(d1, d2, 0.58f));
  const float turn = d2.x * d1.z - d2.z * d1.x;

  // 2. Yaw: the wobble, against the sideways drift, and into the coming bend.
  const float yaw_wob = std::sin(1.07f * t + 0.25f) * A(0.07f) + std::sin(0.56f * t + 2.4f) * A(0.18f) -
                        side_wob * A(0.22f) + std::tanh(5.0f * turn) * A(0.26f) * arrive;
  const float yw =
      0.8f * yaw_wob + std::sin(0.73f * t + 1.1f) * A(0.05f) + std::sin(1.29f * t + 0.4f) * A(0.022f);
  const Vec3 h = Normalize(dir + yw * right);

  // 3. Half along the view, half along the canyon, looser while leaving.
  const float follow = (0.62f + 0.34f * arrive) * (1.0f - 0.92f * leave);
  const Vec3 f1 = Normalize(Lerp(forward, h, follow));

  // 4. Climb-out: nose up and a little to the right, straightening as it speeds away.
  const float cl = 1.0f / std::max(11.0f * late + 5.5f, 1.0f);
  const float e = std::min(15.0f * late * cl, 0.78f);
  const Vec3 exit_dir = Normalize(1.8f * cl * right + forward + e * up);
  const Vec3 f2 = Normalize(Lerp(f1, exit_dir, leave));

  // 5. Sway.
  const float sw =
      (std::sin(0.72f * t + 4.0f) * A(0.08f) + std::sin(1.41f * t + 0.8f) * A(0.028f)) * (1.0f - leave);
  const Vec3 F = Normalize(f2 + sw * right);

  // 6. Level axes around the nose direction.
  const Vec3 R = Normalize(Vec3(F.z, 0.0f, -F.x));
  const Vec3 U = Normalize(Cross(F, R));

  // 7. Bank: wobble, into the bend, tilted while flying in, levelled out (slightly right) leaving.
  const float b = std::sin(0.91f * t + 0.4f) * A(0.04f) + std::sin(1.83f * t + 2.0f) * A(0.016f) +
                  0.3f * d * std::tanh(-6.0f * turn) * arrive - 0.3f * (1.0f - arrive);
  const float roll = b - (b + 0.11f) * leave;
  const float co = std::cos(roll);
  const float si = std::sin(roll);

  DropshipPose pose;
  pose.centre = ship;
  pose.across = co * R + si * U;
  pose.up = co * U - si * R;
  pose.along = F;
  return pose;
}

void Canyon::DrawDotField(Framebuffer& frame, float t, const DebugParams& p, const SceneCameraParams& cam,
                          const MusicViz& mv, std::size_t frame_index) const {
  const float P = CanyonPulse(mv);

  // 1. Decay toward a faint blue floor that keeps the trails from reaching black.
  const float keep = Clamp(p.trail - 0.035f * P, 0.15f, 0.98f);
  frame.ScaleAdd(keep, Vec3(0.0015f + 0.00075f * P, 0.001f + 0.0005f * P, 0.003f + 0.0015f * P));

  // 2. Camera. A clock so far out that the flight has no place on the path (or a non-finite one)
  // shows the start of the flight instead of projecting from nowhere.
  NoiseTable();
  DotFieldView view = BuildDotFieldView(t, p, cam, frame.width, frame.height);
  if (!IsFinite(view.camera.eye) || !IsFinite(view.camera.forward)) {
    t = 0.0f;
    view = BuildDotFieldView(t, p, cam, frame.width, frame.height);
  }
  const CameraBasis& camera = view.camera;
  const float camZ = view.camZ;

  // 3. Terrain dots, rippling with the music and glowing in its sixteenth-note wave. Their
  // heights, lights and shadows come from the canyon's lane kernels where the processor has them
  // (each within a few millionths of the exact value), else exactly.
  const Vec3 glow_colour = (0.4f * mv.lead + 1.0f + 0.8f * mv.impact) * Vec3(0.05f, 0.75f, 1.0f);
  const float terrain_intensity = 0.05f * P + 0.04f;
  const float terrain_size = 0.6325f * P + 1.15f;
  const canyon_detail::LaneKernels* kernels =
      canyon_detail::ExactCanyonMarch() ? nullptr : canyon_detail::FastLaneKernels();
  const canyon_detail::LaneTerms lane_terms =
      kernels ? canyon_detail::MakeLaneTerms(p) : canyon_detail::LaneTerms{};
  for (int k = 0; k < kDotFieldRows; ++k) {
    const float z = camZ + 4.0f + 0.78f * static_cast<float>(k);
    // The terms of the terrain that depend on z alone, shared by the row.
    canyon_detail::TerrainSlice row = canyon_detail::MakeSlice(z);
    const float centre = canyon_detail::SliceCentre(row);

    // a. Thinning.
    std::array<float, kDotFieldColumns> xs;
    int kept = 0;
    for (int i = 0; i < kDotFieldColumns; ++i) {
      if (TerrainDotKept(i, k, p.dot_density))
        xs[static_cast<std::size_t>(kept++)] = centre + (static_cast<float>(i) - 55.5f) * 0.72f;
    }
    const bool lanes =
        kernels != nullptr && kept > 0 && LanesApply(xs[0], xs[static_cast<std::size_t>(kept - 1)], z);

    // b. Heights, with the music's ripple.
    std::array<float, kDotFieldColumns> ys;
    if (lanes) {
      InBatches(*kernels, kept, xs.data(), z, nullptr, ys.data(),
                [&](const float* bx, const float* bz, const float*, float* out) {
                  kernels->heights(lane_terms, bx, bz, nullptr, out, nullptr, nullptr);
                });
    } else {
      for (int j = 0; j < kept; ++j) {
        ys[static_cast<std::size_t>(j)] =
            canyon_detail::HeightOnSlice(xs[static_cast<std::size_t>(j)], row, p, true);
      }
    }

    // The dots of the row that touch the image; their light, haze and colour are worked out
    // below, and they are drawn in their order along the row.
    struct RowDot {
      float x;
      float y;
      float light;
      ProjectedDot dot;
    };
    std::array<RowDot, kDotFieldColumns> dots;
    int count = 0;
    for (int j = 0; j < kept; ++j) {
      const float x = xs[static_cast<std::size_t>(j)];
      const float y = ys[static_cast<std::size_t>(j)] + GroundRipple(x, z, t, mv);
      // A dot that cannot touch the image needs no shading.
      const ProjectedDot dot = Project(camera, Vec3(x, y, z), terrain_size, p, frame.width, frame.height);
      if (dot.drawn) dots[static_cast<std::size_t>(count++)] = {x, y, 0.0f, dot};
    }

    // c. The heightfield's shading (the light sees the ground without the ripple).
    if (lanes) {
      std::array<float, kDotFieldColumns> dot_xs;
      std::array<float, kDotFieldColumns> dot_ys;
      std::array<float, kDotFieldColumns> diffuse;
      std::array<float, kDotFieldColumns> shadow;
      for (int j = 0; j < count; ++j) {
        dot_xs[static_cast<std::size_t>(j)] = dots[static_cast<std::size_t>(j)].x;
        dot_ys[static_cast<std::size_t>(j)] = dots[static_cast<std::size_t>(j)].y;
      }
      InBatches(*kernels, count, dot_xs.data(), z, nullptr, diffuse.data(),
                [&](const float* bx, const float* bz, const float*, float* out) {
                  kernels->lights(lane_terms, bx, bz, view.sun, out);
                });
      InBatches(*kernels, count, dot_xs.data(), z, dot_ys.data(), shadow.data(),
                [&](const float* bx, const float* bz, const float* bh, float* out) {
                  kernels->shadows(lane_terms, bx, bz, bh, view.sun_sin, view.sun_cos, out);
                });
      for (int j = 0; j < count; ++j) {
        const std::size_t s = static_cast<std::size_t>(j);
        dots[s].light = shadow[s] * diffuse[s] + 0.35f;
      }
    } else {
      canyon_detail::NeighbourSlices around = canyon_detail::MakeNeighbourSlices(z);  // for the normals
      canyon_detail::ShadowSlices toward_sun;
      if (p.shadows) toward_sun = canyon_detail::MakeShadowSlices(z, p, view.sun_cos);
      for (int j = 0; j < count; ++j) {
        RowDot& d = dots[static_cast<std::size_t>(j)];
        const float diffuse = canyon_detail::LightOnSlice(d.x, row, p, view.sun, &around);
        const float shadow = canyon_detail::ShadowOnSlices(d.x, d.y, p, view.sun_sin, toward_sun);
        d.light = shadow * diffuse + 0.35f;
      }
    }

    for (int first = 0; first < count; first += 4) {
      const int n = std::min(4, count - first);
      float xs[4];
      float zs[4];
      float hs[4];
      float dists[4];
      for (int lane = 0; lane < 4; ++lane) {
        const RowDot& d = dots[static_cast<std::size_t>(first + (lane < n ? lane : 0))];
        xs[lane] = d.x;
        zs[lane] = z;
        hs[lane] = d.y;
        dists[lane] = z - camZ;
      }
      // Albedo over the haze (near 45, far 140).
      canyon_detail::SampleSurfaces surfaces;
      canyon_detail::SurfaceColours4(t, p.fog, 140.0f, xs, zs, hs, dists, &surfaces);
      for (int lane = 0; lane < n; ++lane) {
        const RowDot& d = dots[static_cast<std::size_t>(first + lane)];
        // d. Mixed toward the cyan glow.
        const float wave = std::sin(kTwoPi * mv.step_phase + 0.06f * z + 5.0f * t + 0.13f * d.x);
        const float mix = 0.09f * wave + 0.24f + 0.16f * P;
        const Vec3 colour = Lerp(d.light * surfaces.albedo[lane], glow_colour, mix);

        // e.
        SplatProjected(frame, d.dot, colour, terrain_intensity, p);
      }
    }
  }

  // 4. The streamer: a waving string of dots above the river line, pink-violet near the camera
  // turning to blue-green, pushed toward amber by the music.
  const float a = 0.38f * P;
  for (int j = 0; j < kStreamerDots; ++j) {
    const float u = static_cast<float>(j) / 89.0f;
    const float z = camZ + 6.0f + 70.0f * u;
    const float x = CanyonCentre(z) +
                    std::sin(8.0f * kPi * u + 2.0f * t + kTwoPi * mv.step_phase) * (0.72f * mv.build + 1.6f);
    const float y = TerrainHeight(x, z, p, true) +
                    std::sin(9.0f * kPi * u + 4.0f * t) * (0.4f * mv.impact + 0.22f * mv.bass) + 2.5f * u +
                    0.5f;
    const Vec3 colour(1.0f - 0.9f * u + 0.9f * u * a, Lerp(0.1f + 0.75f * u, 0.85f, a),
                      Lerp(0.75f + 0.25f * u, 0.26f, a));
    ProjectSplat(frame, camera, Vec3(x, y, z), colour, (1.0f - u) * (0.1f + 0.22f * P), 1.12f * P + 1.6f, p);
  }

  // 5. The dropship.
  const DropshipTiming timing = DropshipTimingAt(mv.section_time, mv.section_bar);
  if (!(timing.vis > 0.001f)) return;
  const DropshipPose pose = DropshipPoseAt(t, timing, camera, p);
  const float base = (0.3375f * timing.arrive * P + 0.45f * timing.arrive + 0.4125f * P + 0.55f) * timing.vis;
  const float bright = 0.32f * P + 0.82f;
  for (std::uint32_t j = 0; j < kDropshipPoints; ++j) {
    if (!ShipDotKept(j, p.dot_density, p.ship_odd_even, frame_index)) continue;
    const float* m = &kDropshipModel[j * kDropshipFloats];
    // The model is drawn 1.45 times its size across and up, and stretched along its flight.
    const Vec3 world =
        pose.centre + (1.45f * m[0]) * pose.across + (1.45f * m[1]) * pose.up + (1.769f * m[2]) * pose.along;
    // Every dot tinted a little (a fixed amount of its own) toward cyan.
    const float q =
        static_cast<float>(Hash32((j * 0x9E3779B9u) ^ 0xF1500A11u) & 0xFFFFFFu) * 3.0040743e-9f + 0.2296f;
    const Vec3 colour = Vec3(Lerp(m[3], 0.18f, q), Lerp(m[4], 0.96f, q), Lerp(m[5], 1.0f, q)) * bright;
    ProjectSplat(frame, camera, world, colour, 0.62f * m[6] * base, 0.43f * m[7], p);
  }
}
