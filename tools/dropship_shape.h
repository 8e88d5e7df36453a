#pragma once
// The dropship of scene 3 as a line drawing: every straight edge of the craft, part by part.
// tools/make_dropship samples these edges into the dots of the built-in model; to change the
// craft, change the edges here and run it again.
//
// Model units: x across (the craft is mirror-symmetric, so only the right half, x >= 0, is
// written down; the sampler adds the mirror image of every edge off the centre plane), y up, z along the
// flight direction (the nose points to +z). The craft spans x [-2.68, 2.68], y [-0.38, 1.02],
// z [-2.33, 2.31].

#include <cmath>
#include <cstddef>
#include <vector>

#include "render/math.h"

namespace dropship {

// The parts of the craft; a point's part is stored with it.
enum Part { kHull = 0, kWings = 1, kEngines = 2, kCockpit = 3, kDetails = 4 };

// The seven colours of the craft: pale cyan plating (most of it), steel blue struts, dusk violet
// panel lines, lilac canopy glass, deep blue engine glow, mint navigation lights, cyan trim.
inline constexpr Vec3 kPalette[7] = {{0.6057f, 1.0f, 1.0f},       {0.3564f, 0.6913f, 0.7885f},
                                     {0.4659f, 0.3201f, 0.5368f}, {0.5773f, 0.4702f, 0.7591f},
                                     {0.0992f, 0.606f, 0.7814f},  {0.6312f, 0.9835f, 0.697f},
                                     {0.5299f, 1.0f, 1.0f}};
enum Colour { kPlating = 0, kStrut, kPanel, kGlass, kGlow, kNavLight, kTrim };

// How an edge's dots look: palette colour, peak intensity and size factor (both taper toward
// the edge's ends), and the part they belong to.
struct Style {
  int colour;
  float intensity;
  float size;
  Part part;
};

// The strokes of the drawing: plating and frames bright and large, panel lines faint and small.
inline constexpr Style kHullStyle{kPlating, 0.032f, 0.975f, kHull};
inline constexpr Style kHullPanel{kPanel, 0.0068f, 0.5784f, kHull};
inline constexpr Style kWingStyle{kPlating, 0.032f, 0.975f, kWings};
inline constexpr Style kWingUnder{kPlating, 0.018f, 0.8f, kWings};
inline constexpr Style kNacelle{kPlating, 0.032f, 0.975f, kEngines};
inline constexpr Style kExhaust{kGlow, 0.04f, 0.975f, kEngines};
inline constexpr Style kCanopyFrame{kTrim, 0.03f, 0.9f, kCockpit};
inline constexpr Style kCanopyGlass{kGlass, 0.016f, 0.7f, kCockpit};
inline constexpr Style kStrutStyle{kStrut, 0.022f, 0.8f, kDetails};
inline constexpr Style kNavStyle{kNavLight, 0.038f, 0.9f, kDetails};
inline constexpr Style kTrimStyle{kTrim, 0.026f, 0.85f, kDetails};

struct Edge {
  Vec3 a;
  Vec3 b;
  Style style;
};

// An edge lies in the centre plane when both its ends do; every other edge of the right half
// stands for itself and its mirror image (x negated).
inline bool InCentrePlane(const Edge& e) {
  return e.a.x == 0.0f && e.b.x == 0.0f;
}

// Collects the edges of the right half.
class Drawing {
 public:
  // One edge (x >= 0 at both ends). Zero-length edges are dropped (a loft converging to a point
  // makes them).
  void Line(Vec3 a, Vec3 b, const Style& style) {
    if (a.x == b.x && a.y == b.y && a.z == b.z) return;
    edges_.push_back({a, b, style});
  }
  // Consecutive points joined, and the last to the first when `closed`.
  void Path(const std::vector<Vec3>& points, const Style& style, bool closed = false) {
    for (std::size_t i = 0; i + 1 < points.size(); ++i) Line(points[i], points[i + 1], style);
    if (closed && points.size() > 2) Line(points.back(), points.front(), style);
  }
  // A skin through cross-sections of equally many points: each section's outline (`rings`) and
  // the lines joining corresponding points of neighbouring sections (`stringers`).
  void Loft(const std::vector<std::vector<Vec3>>& sections, const Style& rings, const Style& stringers,
            bool closed_rings = false) {
    for (std::size_t s = 0; s < sections.size(); ++s) {
      Path(sections[s], rings, closed_rings);
      if (s + 1 == sections.size()) continue;
      for (std::size_t i = 0; i < sections[s].size(); ++i)
        Line(sections[s][i], sections[s + 1][i], stringers);
    }
  }
  const std::vector<Edge>& Edges() const { return edges_; }

 private:
  std::vector<Edge> edges_;
};

// A circle of n points around the axis through `centre` along z, starting at the top.
inline std::vector<Vec3> Ring(Vec3 centre, float radius, int n) {
  std::vector<Vec3> points;
  for (int i = 0; i < n; ++i) {
    const float angle = 6.2831853f * static_cast<float>(i) / static_cast<float>(n);
    points.push_back({centre.x + radius * std::sin(angle), centre.y + radius * std::cos(angle), centre.z});
  }
  return points;
}

// ---- Hull: a blunt lifting body, widest behind the cockpit, flat belly -----------------------

// Right half of a hull cross-section at z, from the spine (x = 0) over the shoulder to the keel.
inline std::vector<Vec3> HullSection(float z, float half_width, float top, float bottom) {
  const float mid = bottom + 0.42f * (top - bottom);
  return {{0.0f, top, z},
          {0.42f * half_width, top - 0.05f * (top - bottom), z},
          {0.8f * half_width, mid + 0.36f * (top - mid), z},
          {half_width, mid, z},
          {0.86f * half_width, bottom + 0.3f * (mid - bottom), z},
          {0.5f * half_width, bottom, z},
          {0.0f, bottom, z}};
}

inline void Hull(Drawing& d) {
  // Stations from the nose tip back to the tail: z, half width, spine height, belly height.
  struct Station {
    float z, half_width, top, bottom;
  };
  const Station stations[] = {
      {2.31f, 0.0f, 0.02f, 0.02f},  {2.12f, 0.16f, 0.14f, -0.08f}, {1.85f, 0.3f, 0.25f, -0.17f},
      {1.5f, 0.42f, 0.34f, -0.23f}, {1.05f, 0.52f, 0.41f, -0.27f}, {0.55f, 0.58f, 0.45f, -0.29f},
      {0.0f, 0.61f, 0.46f, -0.3f},  {-0.55f, 0.6f, 0.45f, -0.29f}, {-1.1f, 0.56f, 0.42f, -0.27f},
      {-1.6f, 0.5f, 0.38f, -0.23f}, {-2.0f, 0.42f, 0.33f, -0.18f}, {-2.25f, 0.34f, 0.27f, -0.11f}};
  std::vector<std::vector<Vec3>> sections;
  for (const Station& s : stations) sections.push_back(HullSection(s.z, s.half_width, s.top, s.bottom));
  d.Loft(sections, kHullStyle, kHullStyle);

  // The flat tail plate.
  d.Path(sections.back(), kHullStyle);

  // Panel lines: diagonals across every second panel of the flanks.
  for (std::size_t s = 1; s + 1 < sections.size(); s += 2) {
    for (std::size_t i = 2; i + 2 < sections[s].size(); ++i)
      d.Line(sections[s][i], sections[s + 1][i + 1], kHullPanel);
  }
}

// ---- Wings: swept, with a slight dihedral, joined to the hull's shoulders --------------------

inline void Wings(Drawing& d) {
  // Spanwise stations from the root to the tip: x, leading-edge z, trailing-edge z, height,
  // thickness.
  struct Rib {
    float x, lead, trail, y, thick;
  };
  const Rib ribs[] = {{0.6f, 0.35f, -1.55f, 0.02f, 0.1f},   {0.9f, 0.05f, -1.6f, 0.03f, 0.09f},
                      {1.2f, -0.25f, -1.65f, 0.04f, 0.08f}, {1.5f, -0.55f, -1.72f, 0.06f, 0.07f},
                      {1.8f, -0.85f, -1.8f, 0.07f, 0.06f},  {2.1f, -1.15f, -1.88f, 0.09f, 0.05f},
                      {2.4f, -1.42f, -1.96f, 0.1f, 0.04f},  {2.68f, -1.68f, -2.04f, 0.12f, 0.02f}};
  constexpr int kChord = 6;  // points along each rib
  std::vector<std::vector<Vec3>> top;
  std::vector<std::vector<Vec3>> bottom;
  for (const Rib& r : ribs) {
    std::vector<Vec3> upper;
    std::vector<Vec3> lower;
    for (int c = 0; c < kChord; ++c) {
      const float u = static_cast<float>(c) / static_cast<float>(kChord - 1);
      const float z = r.lead + (r.trail - r.lead) * u;
      // Thickest a third of the way back.
      const float camber = r.thick * std::sin(3.14159265f * std::pow(u, 0.7f));
      upper.push_back({r.x, r.y + camber, z});
      lower.push_back({r.x, r.y - 0.35f * camber, z});
    }
    top.push_back(upper);
    bottom.push_back(lower);
  }
  d.Loft(top, kWingStyle, kWingStyle);
  d.Loft(bottom, kWingUnder, kWingUnder);
  // Root fairing into the hull's shoulder.
  d.Line({0.6f, 0.02f, 0.35f}, {0.58f, 0.1f, 0.9f}, kWingStyle);
  d.Line({0.6f, 0.02f, -1.55f}, {0.5f, 0.08f, -1.95f}, kWingStyle);
}

// ---- Engines: a nacelle under each wing with glowing exhausts --------------------------------

inline void Engines(Drawing& d) {
  const Vec3 axis(1.3f, -0.06f, 0.0f);
  // Stations from the intake back to the nozzle: z and radius.
  const float zs[] = {-0.45f, -0.62f, -0.95f, -1.35f, -1.75f, -2.1f, -2.33f};
  const float radii[] = {0.2f, 0.25f, 0.27f, 0.27f, 0.26f, 0.23f, 0.21f};
  constexpr int kAround = 12;
  std::vector<std::vector<Vec3>> rings;
  for (std::size_t s = 0; s < std::size(zs); ++s)
    rings.push_back(Ring(Vec3(axis.x, axis.y, zs[s]), radii[s], kAround));
  d.Loft(rings, kNacelle, kNacelle, true);

  // Intake: an inner lip.
  const std::vector<Vec3> intake = Ring(Vec3(axis.x, axis.y, -0.5f), 0.13f, kAround);
  d.Path(intake, kNacelle, true);
  for (int i = 0; i < kAround; i += 2) d.Line(intake[i], rings[0][i], kNacelle);

  // Nozzle: the glowing core, spokes out to the rim, and a cone of glow just behind.
  const std::vector<Vec3> core = Ring(Vec3(axis.x, axis.y, -2.3f), 0.13f, kAround);
  const std::vector<Vec3> inner = Ring(Vec3(axis.x, axis.y, -2.2f), 0.17f, kAround);
  d.Path(core, kExhaust, true);
  d.Path(inner, kExhaust, true);
  for (int i = 0; i < kAround; ++i) {
    d.Line(core[i], rings.back()[i], kExhaust);
    d.Line(core[i], inner[i], kExhaust);
    d.Line(core[i], Vec3(axis.x, axis.y, -2.26f), kExhaust);
  }

  // Pylon from the wing down to the nacelle.
  d.Line({1.3f, 0.05f, -0.55f}, {1.3f, 0.19f, -0.7f}, kStrutStyle);
  d.Line({1.3f, 0.21f, -1.6f}, {1.3f, 0.08f, -1.66f}, kStrutStyle);
  d.Line({1.3f, 0.19f, -0.7f}, {1.3f, 0.21f, -1.6f}, kStrutStyle);
}

// ---- Cockpit: a raised canopy over the front of the spine ------------------------------------

inline void Cockpit(Drawing& d) {
  // Canopy arches from the windscreen's foot back to where it meets the spine.
  struct Arch {
    float z, half_width, base, crown;
  };
  const Arch arches[] = {{1.8f, 0.18f, 0.27f, 0.3f},  {1.62f, 0.26f, 0.31f, 0.45f},
                         {1.4f, 0.31f, 0.35f, 0.55f}, {1.15f, 0.34f, 0.39f, 0.61f},
                         {0.9f, 0.34f, 0.42f, 0.62f}, {0.65f, 0.3f, 0.44f, 0.58f},
                         {0.4f, 0.22f, 0.45f, 0.5f}};
  std::vector<std::vector<Vec3>> frames;
  for (const Arch& a : arches) {
    const float rise = a.crown - a.base;
    frames.push_back({{0.0f, a.crown, a.z},
                      {0.4f * a.half_width, a.crown - 0.08f * rise, a.z},
                      {0.75f * a.half_width, a.crown - 0.35f * rise, a.z},
                      {a.half_width, a.base, a.z}});
  }
  // The arches and the centre and sill rails are the frame; the panes between are glass.
  for (std::size_t s = 0; s < frames.size(); ++s) d.Path(frames[s], kCanopyFrame);
  for (std::size_t s = 0; s + 1 < frames.size(); ++s) {
    d.Line(frames[s][0], frames[s + 1][0], kCanopyFrame);
    d.Line(frames[s][1], frames[s + 1][1], kCanopyGlass);
    d.Line(frames[s][2], frames[s + 1][2], kCanopyGlass);
    d.Line(frames[s][3], frames[s + 1][3], kCanopyFrame);
    d.Line(frames[s][1], frames[s + 1][2], kCanopyGlass);
    d.Line(frames[s][2], frames[s + 1][1], kCanopyGlass);
  }
}

// ---- Details: twin fins, landing skids, sensor blister, lights, antennae ----------------------

inline void Details(Drawing& d) {
  // Twin tail fins, canted outward, with ribs.
  const Vec3 fin_root_front(0.3f, 0.4f, -1.25f);
  const Vec3 fin_root_back(0.3f, 0.3f, -2.2f);
  const Vec3 fin_tip_front(0.52f, 1.02f, -1.9f);
  const Vec3 fin_tip_back(0.55f, 1.02f, -2.3f);
  d.Path({fin_root_front, fin_tip_front, fin_tip_back, fin_root_back}, kHullStyle, true);
  for (int i = 1; i < 4; ++i) {
    const float u = static_cast<float>(i) / 4.0f;
    d.Line(Lerp(fin_root_front, fin_tip_front, u), Lerp(fin_root_back, fin_tip_back, u), kTrimStyle);
  }
  d.Line(fin_root_front, fin_tip_back, kHullPanel);
  d.Line(fin_tip_front, fin_tip_back, kNavStyle);

  // Landing skids under the belly, on two struts each.
  const Vec3 skid_front(0.34f, -0.38f, 1.0f);
  const Vec3 skid_back(0.34f, -0.38f, -1.2f);
  d.Line(skid_front, skid_back, kStrutStyle);
  d.Line(skid_front, {0.34f, -0.33f, 1.25f}, kStrutStyle);
  d.Line({0.34f, -0.38f, 0.6f}, {0.28f, -0.29f, 0.55f}, kStrutStyle);
  d.Line({0.34f, -0.38f, -0.8f}, {0.28f, -0.29f, -0.75f}, kStrutStyle);
  d.Line({0.34f, -0.38f, 0.6f}, {0.2f, -0.29f, 0.3f}, kStrutStyle);
  d.Line({0.34f, -0.38f, -0.8f}, {0.2f, -0.29f, -1.1f}, kStrutStyle);

  // Sensor blister under the nose.
  const std::vector<Vec3> blister = Ring(Vec3(0.0f, -0.22f, 1.7f), 0.08f, 8);
  d.Path({blister[0], blister[1], blister[2], blister[3], blister[4]}, kTrimStyle);
  d.Line(blister[2], {0.0f, -0.2f, 2.0f}, kTrimStyle);

  // Navigation lights: a cross at each wing tip and one on the spine.
  const Vec3 tip(2.68f, 0.14f, -1.85f);
  d.Line(tip + Vec3(0.0f, 0.0f, -0.12f), tip + Vec3(0.0f, 0.0f, 0.12f), kNavStyle);
  d.Line(tip + Vec3(0.0f, -0.08f, 0.0f), tip + Vec3(0.0f, 0.08f, 0.0f), kNavStyle);
  d.Line({0.0f, 0.47f, -0.3f}, {0.0f, 0.47f, 0.1f}, kNavStyle);

  // Antennae on the spine behind the canopy.
  d.Line({0.0f, 0.46f, -0.6f}, {0.0f, 0.78f, -0.9f}, kTrimStyle);
  d.Line({0.1f, 0.45f, 0.1f}, {0.12f, 0.62f, 0.0f}, kTrimStyle);

  // Trim lines along the shoulders and the wing's leading edge.
  d.Line({0.61f, 0.04f, 0.0f}, {0.52f, 0.05f, 1.05f}, kTrimStyle);
  d.Line({0.52f, 0.05f, 1.05f}, {0.3f, 0.0f, 1.85f}, kTrimStyle);
  d.Line({0.6f, 0.05f, 0.33f}, {2.68f, 0.12f, -1.66f}, kTrimStyle);
}

// The right half of the craft (and its centre plane), part by part.
inline std::vector<Edge> DropshipEdges() {
  Drawing d;
  Hull(d);
  Wings(d);
  Engines(d);
  Cockpit(d);
  Details(d);
  return d.Edges();
}

}  // namespace dropship
