#pragma once
// The configuration the settings files and the command line may leave behind: every number
// finite and inside its field's range, whatever the text said.

#include "config/app_options.h"
#include "fuzz_check.h"

inline void CheckSceneTables(const SceneDebugTable& debug, const SceneCameraTable& camera) {
  for (int s = 0; s < kSceneCount; ++s) {
    const DebugParams& d = debug[s];
    FUZZ_CHECK(InRange(d.dot_density, 0.03f, 1.0f));
    FUZZ_CHECK(InRange(d.dot_size, 0.2f, 4.0f));
    FUZZ_CHECK(InRange(d.dot_alpha, 0.05f, 4.0f));
    FUZZ_CHECK(InRange(d.trail, 0.15f, 0.98f));
    FUZZ_CHECK(InRange(d.ray_density, 0.25f, 3.0f));
    FUZZ_CHECK(InRange(d.terrain_height, 0.2f, 3.0f));
    FUZZ_CHECK(InRange(d.terrain_width, 0.35f, 2.5f));
    FUZZ_CHECK(InRange(d.terrain_detail, 0.0f, 2.5f));
    FUZZ_CHECK(InRange(d.terrain_floor, 0.0f, 3.0f));
    FUZZ_CHECK(InRange(d.fog, 0.0f, 3.0f));
    FUZZ_CHECK(InRange(d.speed, 0.0f, 4.0f));
    FUZZ_CHECK(InRange(d.horizon, -0.25f, 0.25f));
    FUZZ_CHECK(InRange(d.bank, -2.0f, 2.0f));
    FUZZ_CHECK(d.interlace_step == 2);
    FUZZ_CHECK(InRange(d.shadow_strength, 0.0f, 1.0f));
    FUZZ_CHECK(InRange(d.shadow_length, 2.0f, 80.0f));
    FUZZ_CHECK(InRange(d.sun_angle, -3.1416f, 3.1416f));
    const SceneCameraParams& c = camera[s];
    FUZZ_CHECK(std::isfinite(c.yaw) && std::isfinite(c.height) && std::isfinite(c.side) &&
               std::isfinite(c.forward));
    FUZZ_CHECK(InRange(c.dist, 0.35f, 2.5f));
    FUZZ_CHECK(InRange(c.fov_off, -28.0f, 45.0f));
  }
}

inline void CheckOptions(const AppOptions& o) {
  FUZZ_CHECK(o.scene >= 1 && o.scene <= kSceneCount);
  for (const std::int32_t layer : o.tracker_layer) FUZZ_CHECK(layer == 0 || layer == 1);
  FUZZ_CHECK(o.audio_source == kAudioSourceModule || o.audio_source == kAudioSourceSynth);
  FUZZ_CHECK(InRange(o.audio_bpm, 80.0f, 180.0f));
  FUZZ_CHECK(std::isfinite(o.bar_offset));
  FUZZ_CHECK(InRange(o.audio_gain, 0.0f, 1.0f));
  FUZZ_CHECK(o.tracker_viz_mode >= 0 && o.tracker_viz_mode <= 2);
  FUZZ_CHECK(o.tracker_viz_effect >= 0 && o.tracker_viz_effect <= 2);
  FUZZ_CHECK(o.tracker_viz_x >= 0 && o.tracker_viz_x <= 624);
  FUZZ_CHECK(o.tracker_viz_y >= 0 && o.tracker_viz_y <= 344);
  FUZZ_CHECK(o.tracker_viz_rows >= 5 && o.tracker_viz_rows <= 21);
  FUZZ_CHECK(o.tracker_assembly_region >= 0 && o.tracker_assembly_region <= 8);
  FUZZ_CHECK(InRange(o.tracker_viz_opacity, 0.0f, 1.0f));
}
