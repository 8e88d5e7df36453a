#pragma once
// The desert canyon of scenes 1 and 3: its world (centre line, terrain height, landmarks), the
// shading functions both scenes share, the flight camera of scene 1 and the column-by-column
// heightfield ray march that draws it.
//
// World axes: x across the canyon, z along it (the flight direction), height upward; one world
// unit is one noise unit. Every function here is pure apart from the per-thread landmark cache,
// so the parallel column tasks can call them freely.

#include <cstddef>
#include <cstdint>

#include "config/scene_params.h"
#include "render/framebuffer.h"
#include "render/math.h"
#include "timeline/music_viz.h"

class ThreadPool;

// ---------------------------------------------------------------------------------------------
// World

// x of the canyon's centre line at z: two slow sine meanders.
float CanyonCentre(float z);
// Direction of the centre line at z (radians, 0 = straight along +z), from a 36-unit chord.
float CanyonPathAngle(float z);

// Ground height: a noisy floor near -2.4 within 3.6 terrain widths of the centre line, walls
// rising about 10 units between 5 and 21 local widths out, terraces, and (when `detailed` and
// `large_features`) the landmarks. The camera uses undetailed heights so it never jumps over a
// butte.
float TerrainHeight(float x, float z, const DebugParams& p, bool detailed);

// One large terrain feature per 62-unit segment of z (mound, peak, base, ridge and an optional
// mesa beside the canyon), derived from the segment index alone.
struct Landmark {
  std::int32_t key = 2147483647;  // segment index; the empty key never matches a real segment
  float zc = 0.0f;                // centre z
  float xc = 0.0f;                // centre-line x at zc
  float side = 1.0f;              // which wall: +1 right, -1 left
  float side_offset = 0.0f;
  float r1 = 0.0f, u1 = 0.0f;     // mound and peak ellipse: across, along
  float r2 = 0.0f, u2 = 0.0f;     // base ellipse: across, along
  float a1 = 0.0f, a2 = 0.0f, a3 = 0.0f, a4 = 0.0f;  // mound, peak, base, ridge amplitudes
  float ridge_slope = 0.0f;
  float ridge_shift = 0.0f;
  float ridge_width = 0.0f;
  float ridge_length = 0.0f;
  bool mesa = false;
  float mesa_side = 1.0f;
  float zm = 0.0f;                // mesa centre z
  float xm = 0.0f;                // centre-line x at zm
  float mesa_offset = 0.0f;
  float mesa_w = 0.0f, mesa_y = 0.0f;          // half sizes across and along
  float mesa_inv_w = 0.0f, mesa_inv_y = 0.0f;  // their reciprocals
  float mesa_r2 = 0.0f;           // squared bounding radius
  float mesa_cos = 1.0f, mesa_sin = 0.0f;
  float a5 = 0.0f;                // mesa amplitude

  // Worked out once from the fields above for the height sum: the squared ellipse radii, and
  // reaches a little beyond which the mound and peak, the base and the ridge are exactly 0, so
  // that points outside skip their divisions.
  float u1_sq = 0.0f, r1_sq = 0.0f, u2_sq = 0.0f, r2_sq = 0.0f;
  float mound_reach_z = 0.0f, mound_reach_x = 0.0f;  // |dz|, |dx| beyond which m1 > 1.2
  float base_reach_z = 0.0f, base_reach_x = 0.0f;    // |dz|, |dx| beyond which m2 > 1.05
  float ridge_reach = 0.0f;                          // beyond this from the ridge line: 0
};

// The landmark of segment s (z from 62s to 62s + 62), built from scratch.
Landmark BuildLandmark(std::int32_t segment);
// Extra height of the landmarks of the segments around z at (x, z), for the local width scale B.
// Looks the three segments up in this thread's 16-slot cache.
float LandmarkHeight(float x, float z, float width_scale);

// Smoothed undetailed ground height under the camera: three samples along the path, pulled
// strongly toward the floor so the flight rises only gently over the walls' foothills.
float CameraGround(float x, float z, const DebugParams& p);

// ---------------------------------------------------------------------------------------------
// Shading

// Sandstone albedo at (x, z) for ground height h, mixed toward the haze colour by `haze`.
// Writes the moss amount (green tint on the upper walls) to *moss when given.
Vec3 TerrainColour(float x, float z, float h, float haze, float* moss = nullptr);
// Haze amount in [0, 1]: patchy low ground mist from 18 units away plus the distance fade
// between `near_dist` and `far_dist`, scaled by `fog`.
float TerrainHaze(float x, float z, float h, float dist, float t, const DebugParams& p,
                  float near_dist, float far_dist);
// Diffuse light in [0, 1] from the detailed terrain normal and the sun direction.
float TerrainLight(float x, float z, const DebugParams& p, Vec3 sun);
// Light factor in [1 - shadow_strength, 1]: ten height samples toward the sun (horizontal
// direction (sun_sin, sun_cos)); exactly 1 with shadows off.
float TerrainShadow(float x, float z, float h, const DebugParams& p, float sun_sin,
                    float sun_cos);
// Glow of the molten river in [0, 1]: a band about 2 to 3 units wide along the centre line, only
// on low ground, rippling and brightening with the music.
float RiverGlow(float x, float z, float h, float t, const MusicViz& mv);
// Music drive in [0, 1] (finale, build-up, impacts, kick, lead); 0 while no music is active.
float CanyonPulse(const MusicViz& mv);

// ---------------------------------------------------------------------------------------------
// Flight camera and column march

// What the march and the beacons know of the camera, in this order.
struct CanyonView {
  float camX = 0.0f;
  float camH = 0.0f;
  float camZ = 0.0f;
  float heading = 0.0f;   // radians, 0 = looking along +z
  float fov = 0.0f;       // horizontal field of view, radians
  float horizon = 0.0f;   // horizon row at the screen centre (a whole number)
  float slope = 0.0f;     // tangent of the roll angle: the horizon's tilt
  float width = 0.0f;     // frame size in pixels
  float height = 0.0f;
  float scale = 180.0f;   // projection scale: rows per unit of height at unit distance
};

// The most march steps a column takes (at the highest ray density).
inline constexpr int kMaxCanyonSteps = 360;

// Everything the frame's march needs besides the parameter records, worked out once.
struct CanyonFrame {
  float time = 0.0f;       // scene time the frame shows (0 when the given time had no camera)
  CanyonView view;
  float roll = 0.0f;       // radians, clamped to [-0.5, 0.5]
  int horizon_row = 0;     // view.horizon as an integer
  int steps = 0;           // march steps per column, 32 ... 360
  float density = 1.0f;    // ray density used for the step size
  Vec3 sun;                // unit direction toward the sun (zero if degenerate)
  float sun_sin = 0.0f;    // horizontal direction toward the sun, for the shadows
  float sun_cos = 1.0f;
  int column_step = 1;     // 2 with interlacing: only columns of `parity` are drawn
  int parity = 0;
};

// The flight camera for scene time t on a width x height frame: speed along the path, meander,
// bob, heading toward a point 38 units ahead, banking into the bends; and the march settings
// (steps, sun, interlacing for frame `frame_index`, all columns when `scene_changed`). A time so
// far out that the flight's position overflows a float, or a non-finite one, shows time 0.
CanyonFrame BuildCanyonFrame(float t, const DebugParams& p, const SceneCameraParams& cam,
                             std::size_t width, std::size_t height, std::size_t frame_index,
                             bool scene_changed);

// True when column x is redrawn this frame (all columns, or those of the frame's parity).
bool CanyonColumnDrawn(const CanyonFrame& cf, std::size_t x);

// Marches the screen columns [from, to) of `frame` front to back, filling each from the bottom
// up with shaded terrain; rows above the nearest ridge keep what is there (the sky). Columns
// skipped by interlacing are left untouched. Writes only the pixels of those columns, so
// disjoint ranges may run on different threads. When `sky_rows` is given, sky_rows[x] receives
// the number of rows at the top of each marched column that the terrain left uncovered.
void MarchCanyonColumns(Framebuffer& frame, std::size_t from, std::size_t to,
                        const CanyonFrame& cf, float t, const DebugParams& p,
                        const MusicViz& mv, int* sky_rows = nullptr);

// Grain of the parallel column loop for a frame `width` wide and `workers` workers: about eight
// pieces per worker, never fewer than four columns.
std::size_t CanyonColumnGrain(std::size_t width, std::size_t workers);

// The canyon scenes. Holds no data: the application owns one and calls it for scenes 1 and 3.
class Canyon {
public:
  // Scene 1: sky, then the terrain march over the thread pool into `frame`, then the ground mist
  // and the beacons into `trail` (into `frame` when `trail` is null), where they leave short
  // trails. Overwrites every pixel of the columns it renders; with interlacing the columns of
  // the other parity keep the previous frame (all columns are drawn when `scene_changed`).
  // The caller decays `trail` before and adds it onto `frame` after (see DrawCanyonFlight).
  void DrawHeightfield(Framebuffer& frame, float time, const DebugParams& p,
                       const SceneCameraParams& cam, const MusicViz& mv, std::size_t frame_index,
                       bool scene_changed, Framebuffer* trail) const;
  // The same on a given pool (tests compare worker counts with it).
  void DrawHeightfield(Framebuffer& frame, float time, const DebugParams& p,
                       const SceneCameraParams& cam, const MusicViz& mv, std::size_t frame_index,
                       bool scene_changed, Framebuffer* trail, ThreadPool& pool) const;

  // Scene 3: decays `frame` toward a faint blue floor, then draws the canyon as a grid of
  // glowing terrain dots, the streamer above the river and, from 4 s into the section, the
  // dropship (alternate halves of its dots on alternate frames with `ship_odd_even`). Runs on
  // the calling thread and draws only into `frame` (scenes/dot_field.h has its steps).
  void DrawDotField(Framebuffer& frame, float time, const DebugParams& p,
                    const SceneCameraParams& cam, const MusicViz& mv,
                    std::size_t frame_index) const;
};

// Scene 1 as the application draws it: clears the trail buffer on the first frame of the scene
// (`scene_changed`), decays it to 0.86, draws the heightfield and adds the trail onto `frame`.
void DrawCanyonFlight(const Canyon& canyon, Framebuffer& frame, Framebuffer& trail, float time,
                      const DebugParams& p, const SceneCameraParams& cam, const MusicViz& mv,
                      std::size_t frame_index, bool scene_changed);
