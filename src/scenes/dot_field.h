#pragma once
// Scene 3: the canyon of scene 1 as a field of glowing dots seen through a perspective camera,
// a waving streamer of dots above the river and the dot-drawn dropship that flies in a few
// seconds into the section, hovers ahead of the camera and climbs away late in it. The frame
// is decayed rather than cleared, so everything leaves trails. Canyon::DrawDotField draws it;
// the pieces below are its steps, public so that each can be checked on its own.

#include <cstddef>
#include <cstdint>

#include "config/scene_params.h"
#include "render/camera.h"
#include "render/framebuffer.h"
#include "render/math.h"
#include "timeline/music_viz.h"

// Projects the world point through the camera and adds one splat of `colour` there: nothing at
// a depth of 0.05 or less (behind or touching the eye); the radius shrinks with depth between
// 0.35 and 7 pixels; dots fade to a quarter of their strength between depths 12 and 130.
void ProjectSplat(Framebuffer& fb, const CameraBasis& cam, Vec3 point, Vec3 colour, float intensity,
                  float size, const DebugParams& p);

// The dot field's flight camera at scene time t: along the canyon's centre line 4.2 units above
// the smoothed ground, looking 34 units ahead, banking into the bends.
struct DotFieldView {
  CameraBasis camera;
  float camZ = 0.0f;
  Vec3 sun;  // unit direction toward the sun, as the heightfield's
  float sun_sin = 0.0f;
  float sun_cos = 1.0f;
};
DotFieldView BuildDotFieldView(float t, const DebugParams& p, const SceneCameraParams& cam, std::size_t width,
                               std::size_t height);

// Height of the terrain dot at (x, z): the detailed ground, rippling with the bass and the
// impacts while the music is active.
float DotFieldGroundHeight(float x, float z, float t, const DebugParams& p, const MusicViz& mv);

// Terrain grid: 128 rows ahead of the camera, 112 dots across each.
inline constexpr int kDotFieldRows = 128;
inline constexpr int kDotFieldColumns = 112;
inline constexpr int kStreamerDots = 90;

// Whether the terrain dot of column i, row k survives the thinning at this density: a fixed
// hash of the grid position, so the same dots stay from frame to frame.
bool TerrainDotKept(int i, int k, float density);
// Whether model point j of the dropship is drawn on frame `frame_index` at this density: the
// density gate by a fixed hash of j, and with `odd_even` only the half of the points whose
// parity matches the frame's.
bool ShipDotKept(std::uint32_t j, float density, bool odd_even, std::uint64_t frame_index);

// The dropship's timeline within the section, from the section time (seconds) and bar.
struct DropshipTiming {
  float vis = 0.0f;      // fade-in, 4 to 5.4 s into the section
  float arrive = 0.0f;   // flight in from behind, 4.2 to 8.4 s
  float late = 0.0f;     // bars past bar 19 of the section
  float leave = 0.0f;    // climb-out, over the 1.35 bars after bar 19
  float settle = 0.0f;   // the hover's wobble grows in as the ship arrives
  float damping = 1.0f;  // the wobble dies down as it leaves
};
DropshipTiming DropshipTimingAt(float section_time, float section_bar);
// Wobble amplitude k, grown in while settling and damped while leaving.
float DropshipWobble(const DropshipTiming& timing, float k);

// Where the dropship is and how it is turned: its centre and its across, up and along axes.
struct DropshipPose {
  Vec3 centre;
  Vec3 across;  // R' (banked)
  Vec3 up;      // U' (banked)
  Vec3 along;   // F, the nose direction
};
DropshipPose DropshipPoseAt(float t, const DropshipTiming& timing, const CameraBasis& camera,
                            const DebugParams& p);

// The built-in dropship: kDropshipPoints points of kDropshipFloats floats each, written by
// tools/make_dropship from the craft's edge list (tools/dropship_shape.h).
//   0-2 position x (across), y (up), z (along the flight direction), model units
//   3-5 colour r, g, b
//   6   intensity
//   7   size factor
//   8   the part of the craft the point belongs to (not used for drawing)
inline constexpr std::size_t kDropshipPoints = 9044;
inline constexpr std::size_t kDropshipFloats = 9;
extern const float kDropshipModel[kDropshipPoints * kDropshipFloats];
