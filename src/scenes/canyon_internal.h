#pragma once
// Small helpers shared by the canyon's source files (terrain, sky, beacons); not part of the
// canyon's interface.

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "config/scene_params.h"
#include "render/math.h"
#include "render/noise.h"
#include "scenes/canyon.h"
#include "scenes/canyon_lanes.h"
#include "timeline/music_viz.h"

namespace canyon_detail {

constexpr float kPi = 3.14159265f;
constexpr float kTwoPi = 6.2831853f;

// Distant terrain fades toward this warm grey dusk haze.
constexpr Vec3 kHazeColour(0.155f, 0.148f, 0.142f);

// Noise channel ch at (u, v), about [-1, 1].
inline float N(int ch, float u, float v) {
  return SampleNoise(u, v, ch);
}
// The same mapped to [0, 1].
inline float N01(int ch, float u, float v) {
  return Clamp01((N(ch, u, v) + 1.0f) * 0.5f);
}
// Smoothstep of an already clamped value.
inline float SS(float t) {
  return t * t * (3.0f - 2.0f * t);
}

// Every table value is a fractal noise value, below this in magnitude; bilinear lookups stay
// within the same bound.
constexpr float kNoiseBound = 0.96875f;
// The landmark sum never exceeds three segments of the largest mound, peak, base, ridge and mesa
// amplitudes (4.16 + 1.917 + 3.84 + 3.9 + 7.068 each).
constexpr float kLandmarkSumBound = 62.7f;

// The terms of TerrainHeight that depend on z alone, so heights at several x on one z (the
// terrain normal's pair of samples) compute them once.
struct TerrainSlice {
  float z = 0.0f;
  float cx = 0.0f;           // CanyonCentre(z), once has_centre
  float width_scale = 0.0f;  // local width scale B, once has_width
  bool has_centre = false;
  bool has_width = false;
};

TerrainSlice MakeSlice(float z);
// CanyonCentre at this z, computed on first use.
float SliceCentre(TerrainSlice& slice);
// B at this z for the width w = max(terrain_width, 0.2), computed on first use.
float SliceWidth(TerrainSlice& slice, float w);

// The centre line never leaves [-28, 28] (10 + 18, the amplitudes of its two sines), and B never
// exceeds 1.34w. So at |x| of at least 28 + 80w, whatever z, x lies more than 80w from the centre
// line: past the wall ramp's end at 21B (the ramp is exactly 1) and past the terraces' end at 54B
// (they have faded out exactly), and the height needs no centre line there. A little margin
// covers the rounding of both sides. Non-finite coordinates never count (a non-finite z has no
// width scale, which leaves the ramp at 0).
inline bool BeyondTheTerraces(float x, float z, float w) {
  const float ax = std::fabs(x);
  return ax >= 28.01f + 80.01f * w && ax < 1.0e30f && std::isfinite(z);
}

// Upper bounds on the parts of TerrainHeight for one set of parameters.
struct HeightBounds {
  float floor = 0.0f;        // the floor term
  float wall = 0.0f;         // |wall|
  float ripple = 0.0f;       // |ripple noise| per unit of |height|*D
  float above_floor = 0.0f;  // |wall| + |ripple noise| + landmarks, per unit of |height|*D
  float anywhere = 0.0f;     // the whole height, anywhere
};
HeightBounds MakeHeightBounds(const DebugParams& p);

// The floor term of TerrainHeight (step 2); *ripple receives its fine noise g, which the walls
// reuse.
inline float FloorHeight(float x, float z, const DebugParams& p, float* ripple) {
  const float g = N(1, 0.18f * x, 0.16f * z);
  const float floor_noise = N(2, 0.11f * x, 0.08f * z);
  *ripple = g;
  return 0.35f * p.terrain_height * p.terrain_detail * g + 0.3f * p.terrain_floor * floor_noise - 2.4f;
}

// How far the centre line can move between z and a z up to `dz_max` away: its slope is at most
// 10*0.035 + 18*0.011 = 0.548, plus a margin for the rounding of the sine arguments (which grows
// with |z|), of the sines and of the sum.
inline float CentreDrift(float z, float dz_max) {
  return 0.56f * dz_max + 1.0e-6f * std::fabs(z) + 1.0e-3f;
}

// Never gives up on a height.
struct KeepAll {
  bool operator()(float) const { return false; }
};

// TerrainHeight on a slice. `hidden_below(bound)` is asked once the height is known to be at most
// `bound` (on the walls, before the costly wall noise); when it answers true the height is
// abandoned and the call returns false. Otherwise *height is exactly TerrainHeight(x, z).
template <class HiddenBelow>
inline bool HeightOnSliceUnless(float x, TerrainSlice& slice, const DebugParams& p, bool detailed,
                                const HeightBounds& bounds, const HiddenBelow& hidden_below, float* height) {
  const float height_scale = p.terrain_height;
  const float detail = p.terrain_detail;
  const float z = slice.z;

  // 1. Distance from the centre line and the width scale (far out, neither is needed).
  const float w = p.terrain_width > 0.2f ? p.terrain_width : 0.2f;
  const bool far_out = BeyondTheTerraces(x, z, w);
  const float cx = far_out ? 0.0f : SliceCentre(slice);
  const float f = std::fabs(x - cx);

  // 3. The flat river bed is just the floor (step 2 below).
  const bool bed = !far_out && f <= 3.6f * w;

  // 4.-5. Local width and the wall ramp between 5B and 21B from the centre line. The ramp is
  // steepest for the narrowest width, 0.72w, which bounds it before B is known.
  const auto ramp = [f, far_out](float width_scale) {
    if (far_out) return 1.0f;
    return SS(Clamp01((f - 5.0f * width_scale) / (16.0f * width_scale)));
  };
  if (!bed && hidden_below(bounds.floor + std::fabs(height_scale) * ramp(0.72f * w) * bounds.above_floor)) {
    return false;
  }
  float B = 0.0f;
  float D = 0.0f;
  if (!bed) {
    B = SliceWidth(slice, w);
    D = ramp(B);
  }
  const float scale_bound = std::fabs(height_scale) * D;
  if (hidden_below(bounds.floor + scale_bound * bounds.above_floor)) return false;

  // 2. The floor: fine ripples plus broad undulation around -2.4.
  if (bed || D <= 0.0f) {
    float g = 0.0f;
    *height = FloorHeight(x, z, p, &g);
    return true;
  }

  // The buttes, ridges and mesas (step 10), and floor ripples on the lower slopes. Before the
  // floor and wall noise, ask again whether the height can matter: first with the actual
  // landmark sum and the floor at its highest, then with the actual floor as well.
  const bool landmarks = detailed && p.large_features;
  const float landmark = landmarks ? LandmarkHeight(x, z, B) * D * height_scale : 0.0f;
  if (landmarks &&
      hidden_below(bounds.floor + scale_bound * (bounds.wall + bounds.ripple) + landmark + 0.01f)) {
    return false;
  }
  float g = 0.0f;
  const float floor = FloorHeight(x, z, p, &g);
  const float ripple = 0.62f * detail * height_scale * D * g;
  const float wall_max = scale_bound * bounds.wall + floor + ripple + 0.01f;
  if (hidden_below(wall_max + landmark)) return false;

  // 6. Wall noise: detail E, broad swell G, plateau mask M, terrace fade O.
  const float E = N(0, 0.045f * x + 10.0f, 0.04f * z - 4.0f);
  const float G = N(3, 0.01f * x - 19.0f, 0.008f * z + 13.0f);
  const float I = N01(2, 0.0065f * x + 37.0f, 0.009f * z - 29.0f);
  const float M = Clamp01((I - 0.54f) / 0.3f);
  const float O = far_out ? 1.0f : Clamp01((f - 28.0f * B) / (26.0f * B));

  // 7. Terraces, out of phase on the two walls. Where they have faded out completely (O = 1)
  // their term below is exactly 0 whatever Q in [0, 1] is, so the sine is skipped there.
  const float s = x >= cx ? 1.9f : -1.9f;
  const float Q = O < 1.0f ? Clamp01(std::sin(0.055f * z + 2.7f * G + s) * 0.892857f + 0.14285715f) : 0.0f;

  // 8. Wall height above the floor.
  const float wall =
      2.4f * SS(M) + 2.0f * G + 1.35f * (1.0f - SS(O)) * D * SS(Q) + 2.35f * detail * E + 10.0f;

  // 9. Ramp it in; 10. add the landmarks.
  float result = height_scale * D * wall + floor + ripple;
  if (landmarks) result += landmark;
  *height = result;
  return true;
}

inline float HeightOnSlice(float x, TerrainSlice& slice, const DebugParams& p, bool detailed) {
  float height = 0.0f;
  HeightOnSliceUnless(x, slice, p, detailed, HeightBounds(), KeepAll{}, &height);
  return height;
}

// Segment indices stay exact (and the float-to-int conversion defined) well inside this range
// of z, LandmarkHeight's range.
inline constexpr float kLandmarkMaxZ = 1.0e9f;

// The landmark of a segment from this thread's cache (built on a miss).
const Landmark& CachedLandmark(std::int32_t segment);

// LandmarkHeight at four points (xs, zs) with their width scales, in the lanes where `active` is
// set (0 in the others); each active lane gives exactly LandmarkHeight's bits. Meant for nearby
// points: the lanes walk every segment between the lowest and the highest of their own.
canyon_lanes::F4 LandmarkHeight4(const float* xs, const float* zs, const float* widths, const bool* active);

// Upper bounds on LandmarkHeight(x, z, B) for |z| below 1e9: for every B from b_lo to b_hi
// (each landmark that could be near at its peak), and for one B (only the terms that can be
// non-zero there, each at its peak). The march uses them to skip steps hidden whatever their
// exact heights.
float LandmarkBound(float x, float z, float b_lo, float b_hi);
float LandmarkTermsBound(float x, float z, float B);

// The terrain normal's four detailed heights around (x, slice.z): out[0] at x - 1, out[1] at
// x + 1 (both on the slice), out[2] at z - 1 and out[3] at z + 1. Evaluated together four lanes
// wide; each is exactly TerrainHeight(..., detailed = true) at its point.
// Points along one slice (a row of terrain dots) can share the slices one unit behind and ahead
// of it: pass them as `neighbours` (made with MakeNeighbourSlices for the slice's z) and their
// centre line and width are worked out once for the row instead of once per point.
struct NeighbourSlices {
  TerrainSlice behind;  // z - 1
  TerrainSlice ahead;   // z + 1
};
NeighbourSlices MakeNeighbourSlices(float z);
void NormalHeights(float x, TerrainSlice& slice, const DebugParams& p, float* out,
                   NeighbourSlices* neighbours = nullptr);

// Detailed heights at four points (xs[k], slices[k]->z), four lanes wide: out[k] is exactly
// TerrainHeight(..., detailed = true) there, or only its floor term where floor_only[k] is set
// (for points known to lie in the river bed, whose slices then need no centre line or width).
// Slices may be shared between lanes; their centre lines and widths are filled in as needed.
// For finite xs and |z| below 1e9 (LandmarkHeight's range).
void HeightsOnSlices4(const float* xs, TerrainSlice* const* slices, const bool* floor_only,
                      const DebugParams& p, float* out);

// TerrainLight at (x, slice.z), its four heights evaluated together on the slice: exactly
// TerrainLight's value.
float LightOnSlice(float x, TerrainSlice& slice, const DebugParams& p, Vec3 sun,
                   NeighbourSlices* neighbours = nullptr);

// The fast paths of the canyon (see canyon_lanes8.cpp): true on processors with AVX2, unless
// the plain paths are forced.
bool FastLanesAvailable();
// Whether the canyon takes its exact paths: the column march (every height and shading term
// exact, four lanes at most) and the dot field (exact heights, lights and shadows). So without
// the fast lanes, or when a test asks for it to compare those paths with their plain versions
// bit for bit. Not meant to change while frames are drawn.
bool ExactCanyonMarch();
void UseExactCanyonMarch(bool on);

// What the lane kernels read from the parameters, worked out once per frame.
struct LaneTerms {
  const float* table = nullptr;  // NoiseTable()
  // TerrainHeight's parameters, folded as its formulas fold them.
  float height_scale = 0.0f;
  float w = 0.0f;             // max(terrain_width, 0.2)
  float floor_ripple = 0.0f;  // 0.35 * height * detail
  float floor_swell = 0.0f;   // 0.3 * floor
  float wall_ripple = 0.0f;   // 0.62 * detail * height
  float wall_detail = 0.0f;   // 2.35 * detail
  bool landmarks = false;     // large_features (these heights are always detailed)
  // A bound on the floor, and bounds on the parts above it per unit of |height| times the wall
  // ramp.
  float floor_bound = 0.0f;
  float abs_height = 0.0f;
  float wall_ripple_bound = 0.0f;
  float above_floor_bound = 0.0f;
  // TerrainShadow's: on only with shadows and a strength above 0.
  bool shadows = false;
  float shadow_strength = 0.0f;
  float shadow_length = 0.0f;
};
LaneTerms MakeLaneTerms(const DebugParams& p);

// The lane kernels below take kernel.lanes points (xs[k], zs[k]) with |x| and |z| below
// kLaneMaxCoordinate, and a clock below kLaneMaxTime, and work out every term in lanes: the
// centre line, the width scale and the terraces through polynomial sines, the noise through
// gathers. (The limits keep every noise coordinate inside the range the table is read at
// directly; the flight never comes near them.)
inline constexpr float kLaneMaxCoordinate = 1.0e8f;
inline constexpr float kLaneMaxTime = 1.0e6f;
// A bound on how far the kernels' heights may stray from TerrainHeight for these parameters:
// about a hundred times the largest difference seen over the whole flight with the default, the
// steepest and the narrowest terrain.
float LaneHeightError(const DebugParams& p);

struct LaneShading;

// One width's kernels. Lane by lane every width gives the same bits.
struct LaneKernels {
  int lanes = 0;  // points per call: 8 (AVX2) or 16 (AVX-512F)
  // Detailed TerrainHeight, each within LaneHeightError(p) of it, into heights (and the centre
  // lines and width scales, within a few millionths, into centres and widths unless null). With
  // cutoffs, returns false, leaving heights unset, when bounds on the heights show every point
  // at or below its cutoff; else true.
  bool (*heights)(const LaneTerms& t, const float* xs, const float* zs, const float* cutoffs, float* heights,
                  float* centres, float* widths) = nullptr;
  // TerrainLight, within a few millionths of its value.
  void (*lights)(const LaneTerms& t, const float* xs, const float* zs, Vec3 sun, float* out) = nullptr;
  // TerrainShadow for ground heights hs: exactly 1 with shadows off or no strength, else within
  // a few millionths of its value.
  void (*shadows)(const LaneTerms& t, const float* xs, const float* zs, const float* hs, float sun_sin,
                  float sun_cos, float* out) = nullptr;
  // The colours of visible samples at ground heights hs, seen from distances dists, whose
  // centre lines and width scales are centres and widths: haze, albedo, light, shadow and the
  // river as the column march shades one sample, within a few millionths.
  void (*shade)(const LaneTerms& t, const LaneShading& sh, const float* xs, const float* zs, const float* hs,
                const float* dists, const float* centres, const float* widths, Vec3* out) = nullptr;
};
inline constexpr int kMaxLanes = 16;
namespace lanes_avx2 {
extern const LaneKernels kKernels;
}
namespace lanes_avx512 {
extern const LaneKernels kKernels;
}
// The kernels of one width (8 or 16) where this processor runs them and the plain paths are not
// forced, else null.
const LaneKernels* LaneKernelsOfWidth(int lanes);
// The kernels the march, its shading and the dot field take: the widest this processor runs
// (sixteen lanes with AVX-512F, else eight with AVX2), or null where FastLanesAvailable() is
// false.
const LaneKernels* FastLaneKernels();
// Holds FastLaneKernels to one width (8 or 16; 0 lifts the limit), so tests can draw with each
// width on one machine. Not meant to change while frames are drawn.
void LimitLaneWidth(int lanes);

// TerrainShadow's ten samples toward the sun lie at fixed offsets along z from the point, the
// same for every point of one z: their slices, shared by all the points of a row.
inline constexpr int kShadowSamples = 10;
struct ShadowSlices {
  TerrainSlice slice[kShadowSamples];
  HeightBounds bounds;
};
ShadowSlices MakeShadowSlices(float z, const DebugParams& p, float sun_cos);
// TerrainShadow at (x, z) for ground height h, with the slices of z: exactly its value.
float ShadowOnSlices(float x, float h, const DebugParams& p, float sun_sin, ShadowSlices& slices);

// Albedo and moss of four terrain samples at once: TerrainColour(x, z, h, haze, &moss) with
// haze = TerrainHaze(x, z, h, dist, t, p, 45, far_dist) for p.fog = fog, lane k for sample k,
// with the same operations in the same order, so each lane gives exactly the scalar values.
struct SampleSurfaces {
  Vec3 albedo[4];
  float moss[4];
};
void SurfaceColours4(float t, float fog, float far_dist, const float* xs, const float* zs, const float* hs,
                     const float* dists, SampleSurfaces* out);

// The river's terms that depend only on the frame (time and music), worked out once per frame.
struct RiverTime {
  float k_shift_x = 0.0f;  // slow drift of the lava band pattern
  float k_shift_z = 0.0f;
  float sway = 0.0f;   // slow sideways sway of the ripples
  float step = 0.0f;   // ripple phase from the sixteenth notes
  float pulse = 0.0f;  // CanyonPulse
};

RiverTime MakeRiverTime(float t, const MusicViz& mv);
// RiverGlow with the frame's terms and the centre line's x at z (`centre`) already known.
float RiverGlowAt(float x, float z, float centre, float h, const RiverTime& rt);

// The frame's terms of the shading of a visible sample.
struct LaneShading {
  float t = 0.0f;  // the scene clock
  float fog = 0.0f;
  Vec3 sun;
  float sun_sin = 0.0f;
  float sun_cos = 0.0f;
  RiverTime river;
  float lava_shift_z = 0.0f;  // time terms of the lava pattern
  float lava_sway = 0.0f;
  float build = 0.0f;  // MusicViz build and impact
  float impact = 0.0f;
};
}  // namespace canyon_detail
