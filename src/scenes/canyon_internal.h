#pragma once
// Small helpers shared by the canyon's source files (terrain, sky, beacons); not part of the
// canyon's interface.

#include "render/math.h"
#include "render/noise.h"
#include "timeline/music_viz.h"

namespace canyon_detail {

constexpr float kPi = 3.14159265f;
constexpr float kTwoPi = 6.2831853f;

// Distant terrain fades toward this warm grey dusk haze.
constexpr Vec3 kHazeColour(0.155f, 0.148f, 0.142f);

// Noise channel ch at (u, v), about [-1, 1].
inline float N(int ch, float u, float v) { return SampleNoise(u, v, ch); }
// The same mapped to [0, 1].
inline float N01(int ch, float u, float v) { return Clamp01((SampleNoise(u, v, ch) + 1.0f) * 0.5f); }
// Smoothstep of an already clamped value.
inline float SS(float t) { return t * t * (3.0f - 2.0f * t); }

// The river's terms that depend only on the frame (time and music), worked out once per frame.
struct RiverTime {
  float k_shift_x = 0.0f;  // slow drift of the lava band pattern
  float k_shift_z = 0.0f;
  float sway = 0.0f;       // slow sideways sway of the ripples
  float step = 0.0f;       // ripple phase from the sixteenth notes
  float pulse = 0.0f;      // CanyonPulse
};

RiverTime MakeRiverTime(float t, const MusicViz& mv);
float RiverGlowAt(float x, float z, float h, const RiverTime& rt);

}  // namespace canyon_detail
