#pragma once
// Scene 2: a night performance in an elliptical stone arena, drawn entirely as additive point
// splats through one moving perspective camera. The ruined arcade ring and the saucer model are
// point clouds built once; everything else (floor, walkers, embers, backdrop, and the console
// with its operator in console_operator.h) is generated each frame from loop indices, a hash and
// the music drivers.
//
// World axes: x to the right, y up, z away from the default viewer; the arena centre is the
// origin and its floor lies near y = 0.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "config/scene_params.h"
#include "render/camera.h"
#include "render/framebuffer.h"
#include "render/math.h"
#include "render/primitives.h"
#include "timeline/music_viz.h"

class ThreadPool;

// One sample of a precomputed cloud (19 floats). The four phases are kept as sine/cosine pairs
// so that a wave sin(phase + w t) costs two multiplies and an add per point per frame.
struct ScenePoint {
  Vec3 pos;     // model-space position, y up
  Vec3 normal;  // unit surface normal (zero where degenerate)
  Vec3 color;   // base colour, linear
  float intensity = 0.0f;
  float size = 0.0f;
  float sin_a = 0.0f, cos_a = 1.0f;
  float sin_b = 0.0f, cos_b = 1.0f;
  float sin_c = 0.0f, cos_c = 1.0f;
  float sin_d = 0.0f, cos_d = 1.0f;
};

// Points of the two clouds.
inline constexpr std::size_t kRingReserve = 49280;   // the ring keeps about half its 112 x 880 grid
inline constexpr std::size_t kSaucerPoints = 1842;

// ---------------------------------------------------------------------------------------------
// Shared rules

// The scene's density gate: seed = index * 747796405 + salt. Everything is kept at density
// 0.999 and above; below, the same seeds survive every frame, so thinning never flickers.
bool DotKept(std::uint32_t seed, float density);
// The scene's music energy in [0, 1]; 0 while no music is active.
float ObjectsDrive(const MusicViz& mv);

// The scene's one projection and splat: depth <= 0.05 draws nothing, the radius shrinks with
// depth (7 px at most, 0.35 px at least), and points fade from depth 8 to 35 % at depth 23.
// `pixels` is an image of the camera's size (the framebuffer or a slot buffer).
void SplatWorld(Vec3* pixels, std::size_t width, std::size_t height, const CameraBasis& cam,
                Vec3 p, Vec3 col, float k, float s, const DebugParams& dp);
// The same into a splat target (the framebuffer, or the scene's planes).
void SplatWorld(const SplatTarget& to, const CameraBasis& cam, Vec3 p, Vec3 col, float k, float s,
                const DebugParams& dp);
// A row of gated splats from a to b (about 8 per unit, 3 to 57), brighter and larger in the
// middle; the seed grows by 747796405 per splat.
void SplatSegment(const SplatTarget& fb, const CameraBasis& cam, Vec3 a, Vec3 b, Vec3 col, float k, float s,
                  const DebugParams& dp, std::uint32_t seed);

// ---------------------------------------------------------------------------------------------
// Clouds

// The ruined three-tier arcade: 112 heights x 880 angles minus 44 arched openings per tier and
// two broken stretches of the upper wall, roughened by a 5-octave value noise.
void BuildRingCloud(std::vector<ScenePoint>& points);
// One saucer: hull, dome, underside and rim lights, exactly 1842 points in that order.
void BuildSaucerCloud(std::vector<ScenePoint>& points);

// ---------------------------------------------------------------------------------------------
// Frame set-up

// The music mixes of a frame, worked out once at the start of Draw.
struct ObjectsMix {
  float club = 0.0f;     // f: club look or reveal
  float veil = 0.0f;     // h: the veil, weakened by the club look
  float closeup = 0.0f;  // o: blend from the orbit to the close-up camera
  float console = 0.0f;  // brightness of the console and operator
  float dim = 1.0f;      // brightness of the arena around them
  float drive = 0.0f;    // d0
};
ObjectsMix MakeObjectsMix(const MusicViz& mv);

// The scene camera at time t on a width x height frame: an orbit around the arena blended toward
// a close-up of the console by mix.closeup.
CameraBasis ObjectsCamera(float t, const SceneCameraParams& cam, const ObjectsMix& mix,
                          std::size_t width, std::size_t height);

// Where saucer n (0 ... 4) is at `section_time` seconds into a section.
struct SaucerFlight {
  float visible = 0.0f;  // Q: 0 before its arrival, 1 soon after
  float radius = 28.0f;  // S: orbit radius, from 28 down to 8.3
  float spin = 0.0f;     // W: radians about the saucer's own axis
  float angle = 0.0f;    // th: position on the orbit
};
SaucerFlight SaucerAt(int n, float section_time);

// ---------------------------------------------------------------------------------------------
// Element drawers, in the order Draw calls them

void DrawFloorGrid(const SplatTarget& fb, const CameraBasis& cam, float t, const DebugParams& dp,
                   const MusicViz& mv, float drive);
void DrawArenaFloor(const SplatTarget& fb, const CameraBasis& cam, float t, const DebugParams& dp,
                    const MusicViz& mv, const ObjectsMix& mix);

// Slots the arcade ring is split into: one per 4096 surviving points, at most min(workers, 8);
// 1 means the ring is drawn straight into the framebuffer.
std::size_t ArcadeRingSlots(std::size_t points, float density, std::size_t workers);
// Draws the arcade ring. With slots <= 1 every point goes into fb: straight in with plain paths
// (or without a planar kernel), otherwise through `planes`, which are added onto fb at the end,
// with whatever else was drawn into them since they were last added (the planar kernel adds
// the ring's many 15 x 15 splats without permutes or masked stores).
// With more slots each slot draws its share of the points into its own buffer of
// `slot_buffers` (resized here, on `pool`) and the buffers are then summed per pixel into fb.
void DrawArcadeRing(Framebuffer& fb, const CameraBasis& cam, const std::vector<ScenePoint>& ring,
                    float t, const DebugParams& dp, const MusicViz& mv, float dim,
                    std::size_t slots, std::vector<std::vector<Vec3>>& slot_buffers,
                    SplatPlanes& planes, ThreadPool& pool);
// On one core with planes and AVX2 the ring's points are projected eight at a time, each with
// exactly the one-point operations. Tests: false projects them one at a time.
void UseRingLanes(bool on);

void DrawWalkers(const SplatTarget& fb, const CameraBasis& cam, float t, const DebugParams& dp,
                 const MusicViz& mv, const ObjectsMix& mix);
void DrawSaucers(const SplatTarget& fb, const CameraBasis& cam, const std::vector<ScenePoint>& saucer,
                 float t, const DebugParams& dp, const MusicViz& mv, const ObjectsMix& mix);
void DrawEmbers(const SplatTarget& fb, const CameraBasis& cam, float t, const DebugParams& dp,
                const MusicViz& mv, const ObjectsMix& mix);
void DrawBackdrop(const SplatTarget& fb, const CameraBasis& cam, float t, const DebugParams& dp,
                  const MusicViz& mv, const ObjectsMix& mix);

// ---------------------------------------------------------------------------------------------
// The scene object

class ObjectsScene {
 public:
  // Builds both clouds (the expensive step, before the first frame).
  ObjectsScene();

  // Draws one frame over what `fb` holds: fades it (the light trails), then every element.
  // `time` is the scene clock in seconds. Only the slot buffers and the ring's planes change
  // (scratch).
  void Draw(Framebuffer& fb, float time, const DebugParams& dp, const SceneCameraParams& cam,
            const MusicViz& mv) const;
  // The same on a given pool (tests compare worker counts with it).
  void Draw(Framebuffer& fb, float time, const DebugParams& dp, const SceneCameraParams& cam,
            const MusicViz& mv, ThreadPool& pool) const;
  // Sizes (and so first touches) the ring's planar scratch for frames of this size now, where
  // the processor has a planar kernel, instead of inside the first frame that draws the ring.
  // Optional: Draw prepares whatever it needs.
  void PrepareScratch(std::size_t width, std::size_t height) const;

  std::vector<ScenePoint> ring_points;    // the arcade ring
  std::vector<ScenePoint> saucer_points;  // one saucer model
  mutable std::vector<std::vector<Vec3>> slot_buffers;  // one private image per parallel slot
  mutable SplatPlanes ring_planes;                      // the ring's scratch on one core
};
