#pragma once
// The orb stage of scenes 4 to 8: eight glowing orbs, one per voice of the music, floating in a
// small 3D space and pushing and pulling on each other, with halos, shells, rings, spiral arms,
// branching sparks and orbiting swarms, bonds between them, near and fine dust, spark streaks and
// a periodic scope of Lissajous traces, in front of a faint animated fractal. A camera glides
// through the constellation along a spline through waypoints beside the orbs.
//
// The five scenes run the same code and differ only by their DebugParams and SceneCameraParams.
// World axes: x to the right, y up, z away from the viewer. Every function here is pure; the
// only state between frames is the main frame itself, which the stage decays instead of clearing.

#include <array>
#include <cstddef>
#include <cstdint>

#include "config/scene_params.h"
#include "render/framebuffer.h"
#include "render/math.h"
#include "timeline/music_viz.h"

inline constexpr int kOrbCount = 8;

// ---------------------------------------------------------------------------------------------
// Rig, focus, camera

// One orb, nine floats in this order.
struct Orb {
  Vec3 pos;
  Vec3 colour;
  float phase = 0.0f;
  float charge = 1.0f;  // +1 for even index, -1 for odd
  float size = 1.0f;
};

struct OrbRig {
  std::array<Orb, kOrbCount> orbs;
};

// Where the constellation is and what it is looking at.
struct StageFocusRecord {
  Vec3 centroid;         // orbs and close pairs, weighted by their voices
  Vec3 strongest;        // position of the loudest orb
  float radius = 0.35f;  // spread of the orbs around the centroid, 0.35 ... 1.35
};

// The flying camera, nine floats in this order.
struct StageCamera {
  float cx = 0.0f;     // screen centre, pixels
  float cy = 0.0f;
  Vec3 pos;
  float focal = 0.0f;  // pixels per unit at depth 1
  float yaw = 0.0f;    // radians
  float pitch = 0.0f;
  float roll = 0.0f;
};

// The flat view of the backdrop and the scope: centre (pixels), scale (pixels per unit), angle.
struct StageView {
  float cx = 0.0f;
  float cy = 0.0f;
  float scale = 1.0f;
  float angle = 0.0f;
};

// A camera's turns as sines and cosines, worked out once per frame for the many projections.
struct StageLens {
  StageCamera cam;
  float cos_yaw = 1.0f, sin_yaw = 0.0f;
  float cos_pitch = 1.0f, sin_pitch = 0.0f;
  float cos_roll = 1.0f, sin_roll = 0.0f;
};
StageLens MakeStageLens(const StageCamera& cam);

struct StageProjection {
  bool in_front = false;  // depth > 0.2; only then are screen and depth meant to be used
  Vec2 screen;
  float depth = 0.0f;
};

// Music drive of every layer in [0, 1]: impacts, kick, lead, the finale and club cues, build-up;
// 0 while no music is active.
float StageDrive(const MusicViz& mv);

// The level orb `index` listens to: kick, perc, bass, lead, impact, build, kick, perc.
float OrbVoice(const MusicViz& mv, int index);
// The base colour of orb `index` (0 ... 7).
Vec3 OrbBaseColour(int index);

// The eight orbs at time T: hashed drifting paths (on the bar while the music plays, on time
// alone otherwise), then three passes in which equal charges repel and opposite ones attract.
OrbRig BuildOrbRig(float T, const MusicViz& mv);
// The pushing and pulling of BuildOrbRig: `passes` passes over the pairs in order (i outer,
// j inner), moving both orbs of a pair in place.
void RelaxOrbRig(OrbRig& rig, const MusicViz& mv, int passes);

// Centroid of the orbs and of close pairs, weighted by their voices; the loudest orb; the spread.
StageFocusRecord StageFocus(const OrbRig& rig, const MusicViz& mv);

// The orb waypoint n of the camera path visits (orbs 1, 6, 3, 0, 5, 2, 7, 4 in turn), with
// a hashed offset across, above and along the line through its neighbours, pulled a little
// toward the centroid.
Vec3 StageWaypoint(int n, const OrbRig& rig, const StageFocusRecord& focus, float t,
                   const MusicViz& mv);

// The Catmull-Rom spline through p1 (s = 0) and p2 (s = 1).
Vec3 CatmullRom(Vec3 p0, Vec3 p1, Vec3 p2, Vec3 p3, float s);

// The camera for a width x height frame: along the waypoint spline, looking ahead and toward
// the orbs, with the scene's camera offsets.
StageCamera BuildStageCamera(std::size_t width, std::size_t height, float t,
                             const SceneCameraParams& cam, const MusicViz& mv, const OrbRig& rig);

// The world point p seen by the camera; in front only when its depth is above 0.2.
StageProjection ProjectStage(const StageCamera& camera, Vec3 p);
StageProjection ProjectStage(const StageLens& lens, Vec3 p);
// A point given in camera space (a to the right, b up, at `depth`) on the screen, rolled.
Vec2 ProjectStageLocal(const StageLens& lens, float a, float b, float depth);

// The flat view of the backdrop and the scope.
StageView BuildStageView(std::size_t width, std::size_t height, float t,
                         const SceneCameraParams& cam, const MusicViz& mv);

// How much of the scope shows: in every 33-bar cycle it fades in over bars 7.6 to 8.15 and out
// over 9.85 to 10.4 (on time alone, 0.92 bars a second, while no music is active).
float ScopeAmount(float t, const MusicViz& mv);

// The faint Julia-set backdrop, blended into 5 x 5 pixel blocks (a stable `dot_density` share
// of them).
// Whether the backdrop block with top-left pixel (c0, r0) is drawn at this dot_density: a
// fixed hash of the block, so thinning keeps the same blocks every frame.
bool StageBlockKept(int c0, int r0, float dot_density);
void DrawStageBackdrop(Framebuffer& frame, float t, const DebugParams& p, const MusicViz& mv,
                       const StageView& view, const OrbRig& rig);

// ---------------------------------------------------------------------------------------------
// Layers

// Everything a layer needs of this frame, worked out once.
struct StageFrame {
  float t = 0.0f;
  float drive = 0.0f;  // StageDrive
  OrbRig rig;
  StageLens lens;
  StageView view;
  float scope = 0.0f;  // ScopeAmount
  // The orbs' centres on the screen (usable only where in_front).
  std::array<StageProjection, kOrbCount> orb_screen;
};

// Five-octave value noise on a hashed lattice, without period; about -1 ... 1.
float FlowNoise(float x, float y);

// Three axes for an orb's swarm, turning slowly with time, the orb's phase and the music.
struct OrbAxes {
  Vec3 x, y, z;
};
OrbAxes OrbFrame(const Orb& orb, int index, float t, const MusicViz& mv);

// A jittered dotted line between the projections of two world points; nothing unless both are
// in front. Returns the number of splats drawn (for tests).
int StageSegment(Framebuffer& frame, const StageLens& lens, Vec3 p0, Vec3 p1, Vec3 colour,
                 float intensity, float radius);

// A dotted line between two screen points whose splats swell toward the middle.
void SplatArc(Framebuffer& frame, Vec2 a, Vec2 b, Vec3 colour, float intensity, float radius);

void DrawNearDust(Framebuffer& frame, const StageFrame& sf, const DebugParams& p,
                  const MusicViz& mv);
void DrawFineDust(Framebuffer& frame, const StageFrame& sf, const DebugParams& p,
                  const MusicViz& mv);
void DrawSparkStreaks(Framebuffer& frame, const StageFrame& sf, const DebugParams& p,
                      const MusicViz& mv);
void DrawBonds(Framebuffer& frame, const StageFrame& sf, const DebugParams& p,
               const MusicViz& mv);
void DrawOrbs(Framebuffer& frame, const StageFrame& sf, const DebugParams& p, const MusicViz& mv);
void DrawScope(Framebuffer& frame, const StageFrame& sf, const DebugParams& p,
               const MusicViz& mv);

// The depth of near-dust particle `index` at time t and bar `bar`: streams toward the viewer
// and wraps from the near end (0.28) to the far end (6.18).
float NearDustDepth(int index, float t, float bar);

// Everything of one frame but the drawing: drive, rig, view, camera, scope amount, orb centres.
StageFrame BuildStageFrame(std::size_t width, std::size_t height, float t,
                           const SceneCameraParams& cam, const MusicViz& mv);

// The stage. Holds no data: the application owns one and calls it for scenes 4 to 8.
class OrbStage {
 public:
  // Decays the frame (never clears it), then draws the backdrop, near dust, fine dust, spark
  // streaks, bonds, orbs and the scope, in that order.
  void Draw(Framebuffer& frame, float t, const DebugParams& p, const SceneCameraParams& cam,
            const MusicViz& mv) const;
};
