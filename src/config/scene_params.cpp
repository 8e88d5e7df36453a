#include "config/scene_params.h"

#include <algorithm>
#include <cmath>

namespace {

struct FloatField {
  const char* key;
  float DebugParams::*field;
  float lo, hi;
};

// Ranges keep every knob inside what the scenes were tuned for.
const FloatField kSceneFloats[] = {
    {"dot_density", &DebugParams::dot_density, 0.03f, 1.0f},
    {"dot_size", &DebugParams::dot_size, 0.2f, 4.0f},
    {"dot_alpha", &DebugParams::dot_alpha, 0.05f, 4.0f},
    {"trail", &DebugParams::trail, 0.15f, 0.98f},
    {"ray_density", &DebugParams::ray_density, 0.25f, 3.0f},
    {"terrain_height", &DebugParams::terrain_height, 0.2f, 3.0f},
    {"terrain_width", &DebugParams::terrain_width, 0.35f, 2.5f},
    {"terrain_detail", &DebugParams::terrain_detail, 0.0f, 2.5f},
    {"terrain_floor", &DebugParams::terrain_floor, 0.0f, 3.0f},
    {"fog", &DebugParams::fog, 0.0f, 3.0f},
    {"speed", &DebugParams::speed, 0.0f, 4.0f},
    {"horizon", &DebugParams::horizon, -0.25f, 0.25f},
    {"bank", &DebugParams::bank, -2.0f, 2.0f},
    {"bank_amount", &DebugParams::bank, -2.0f, 2.0f},
    {"shadow_strength", &DebugParams::shadow_strength, 0.0f, 1.0f},
    {"shadow_length", &DebugParams::shadow_length, 2.0f, 80.0f},
    {"sun_angle", &DebugParams::sun_angle, -3.1415927f, 3.1415927f},
};

struct BoolField {
  const char* key;
  bool DebugParams::*field;
};

const BoolField kSceneBools[] = {
    {"ship_odd_even", &DebugParams::ship_odd_even},
    {"dropship_odd_even", &DebugParams::ship_odd_even},
    {"large_features", &DebugParams::large_features},
    {"interlace", &DebugParams::interlace},
    {"shadows", &DebugParams::shadows},
};

struct CameraField {
  const char* key;
  float SceneCameraParams::*field;
  bool clamped;
  float lo, hi;
};

const CameraField kCameraFields[] = {
    {"yaw", &SceneCameraParams::yaw, false, 0.0f, 0.0f},
    {"height", &SceneCameraParams::height, false, 0.0f, 0.0f},
    {"side", &SceneCameraParams::side, false, 0.0f, 0.0f},
    {"forward", &SceneCameraParams::forward, false, 0.0f, 0.0f},
    {"dist", &SceneCameraParams::dist, true, 0.35f, 2.5f},
    {"fov_off", &SceneCameraParams::fov_off, true, -28.0f, 45.0f},
};

}  // namespace

float ClampFloat(float x, float lo, float hi) {
  if (std::isnan(x)) return lo;
  return std::max(std::min(x, hi), lo);
}

float FiniteOrZero(float x) {
  return std::isfinite(x) ? x : 0.0f;
}

bool ApplySceneKey(DebugParams& p, const std::string& key, float value) {
  for (const FloatField& f : kSceneFloats) {
    if (key == f.key) {
      p.*f.field = ClampFloat(value, f.lo, f.hi);
      return true;
    }
  }
  for (const BoolField& f : kSceneBools) {
    if (key == f.key) {
      p.*f.field = value != 0.0f;
      return true;
    }
  }
  if (key == "interlace_step") {
    p.interlace_step = 2;
    return true;
  }
  // Accepted from older settings files; backface culling of the dropship is always on.
  if (key == "dropship_backface_cull" || key == "dropship_backface") return true;
  return false;
}

bool ApplyCameraKey(SceneCameraParams& c, const std::string& key, float value) {
  for (const CameraField& f : kCameraFields) {
    if (key == f.key) {
      c.*f.field = f.clamped ? ClampFloat(value, f.lo, f.hi) : FiniteOrZero(value);
      return true;
    }
  }
  return false;
}
