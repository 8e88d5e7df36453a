#pragma once

// Per-scene tuning and camera offsets. The App keeps one DebugParams and one SceneCameraParams per
// scene (index scene - 1), fills them with these defaults, lets the settings files and the command
// line change them, and hands the active scene's pair to its draw call. The show never changes
// them while it runs.

#include <cstdint>
#include <string>

// Look and quality knobs read by the scenes.
struct DebugParams {
  float dot_density = 1.0f;         // fraction of dots drawn, 0.03 .. 1
  float dot_size = 1.0f;            // splat radius scale, 0.2 .. 4
  float dot_alpha = 1.0f;           // splat intensity scale, 0.05 .. 4
  float trail = 0.84f;              // persistence of the previous image, 0.15 .. 0.98
  bool ship_odd_even = true;        // the ship is drawn on alternate frames
  float ray_density = 1.0f;         // heightfield ray / column density scale, 0.25 .. 3
  float terrain_height = 1.0f;      // 0.2 .. 3
  float terrain_width = 1.0f;       // 0.35 .. 2.5
  float terrain_detail = 1.0f;      // small-scale detail amount, 0 .. 2.5
  float terrain_floor = 1.0f;       // canyon floor amount, 0 .. 3
  float fog = 1.0f;                 // 0 .. 3
  float speed = 1.0f;               // camera travel speed scale, 0 .. 4
  float horizon = 0.0f;             // horizon offset, -0.25 .. 0.25
  float bank = 0.35f;               // camera banking amount, -2 .. 2
  bool large_features = true;       // large terrain features
  bool interlace = false;           // interlaced rendering
  std::int32_t interlace_step = 2;  // always 2
  bool shadows = false;
  float shadow_strength = 0.35f;  // shadow darkness, 0 .. 1
  float shadow_length = 18.0f;    // 2 .. 80
  float sun_angle = 0.7f;         // sun direction in radians, -pi .. pi
};

// Offsets added to a scene's own camera path.
struct SceneCameraParams {
  float yaw = 0.0f;
  float height = 0.0f;
  float side = 0.0f;
  float forward = 0.0f;
  float dist = 1.0f;     // distance scale, 0.35 .. 2.5
  float fov_off = 0.0f;  // field-of-view offset in degrees, -28 .. 45
};

inline constexpr int kSceneCount = 8;

// max(min(x, hi), lo). Text such as "nan" reads as NaN, which min and max would pass through
// into the pictures: a NaN lands on `lo` instead.
float ClampFloat(float x, float lo, float hi);
// For fields without a range: x itself when finite, else 0.
float FiniteOrZero(float x);

// Sets the field named `key` (exact, case-sensitive) to `value` clamped to its range; bools become
// value != 0. Also knows the aliases dropship_odd_even (ship_odd_even) and bank_amount (bank), and
// dropship_backface_cull / dropship_backface, which change nothing. interlace_step always stores 2.
// Returns false, changing nothing, for an unknown key.
bool ApplySceneKey(DebugParams& p, const std::string& key, float value);
// The same for the six camera fields.
bool ApplyCameraKey(SceneCameraParams& c, const std::string& key, float value);
