#pragma once
// The layers scene 1 draws around its terrain march: the dusk sky with bowed cloud bands, a dark
// far ridge and a low sun (before the march, into the main frame), and the ground mist and the
// music-driven beacons over the river (after it, into the trail buffer).
//
// The sky, sun and mist are placed in a screen frame rolled with the camera about the point
// (width/2, horizon row).

#include <cstddef>
#include <cstdint>

#include "config/scene_params.h"
#include "render/framebuffer.h"
#include "render/math.h"
#include "scenes/canyon.h"
#include "timeline/music_viz.h"

// Overwrites the sky in blocks of 2 rows by 2 columns (by 1 column on the columns of `parity`
// only when `column_step` is 2), then adds the sun glow to every column.
//
// Drawn before the terrain, which then covers it. The march may instead run first and pass
// `sky_rows` (per column, the rows at the top the terrain left uncovered, as MarchCanyonColumns
// reports them): the sky and the sun then touch only those rows of the redrawn columns, with the
// same result and without evaluating hidden sky.
void DrawCanyonSky(Framebuffer& frame, float t, float roll, int horizon_row, float heading,
                   int parity, int column_step, const int* sky_rows = nullptr);

// The sky's colour at screen point (sx, sy) of `frame` (its size only), one point at a time: the
// plain form of what DrawCanyonSky evaluates for four blocks at once.
Vec3 CanyonSkyColour(const Framebuffer& frame, float t, float roll, int horizon_row,
                     float heading, float sx, float sy);

// 34 large faint splats forming a low swaying band of mist; nothing when `fog` <= 0.
void DrawCanyonMist(Framebuffer& target, float t, float roll, int horizon_row,
                    const DebugParams& p, const MusicViz& mv);

// Up to four glowing orbs hovering over the molten river ahead, each with a stream of sparks
// rising to the top of the screen. Driven by the cues "beams", "scan" and "intro"; nothing
// before 5 s into the section.
void DrawBeacons(Framebuffer& target, const CanyonView& view, float cam_z, float t,
                 const DebugParams& p, const MusicViz& mv);

// Twenty sparks climbing from `base` to `top` and wrapping, each a warm halo with a hot core.
void DrawSparkBeam(Framebuffer& target, Vec2 base, Vec2 top, Vec3 hot, Vec3 warm, float strength,
                   float radius, float spread, float t, float phase, std::uint32_t seed);
