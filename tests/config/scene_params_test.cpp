// Per-scene keys: clamping, aliases, the keys that are accepted but change nothing, and values
// from damaged text (NaN, infinities) that must never reach the scenes.

#include "config/scene_params.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

// Reads any DebugParams field by key, so one table can name the field it expects to change.
float SceneField(const DebugParams& p, const std::string& key) {
  if (key == "dot_density") return p.dot_density;
  if (key == "dot_size") return p.dot_size;
  if (key == "dot_alpha") return p.dot_alpha;
  if (key == "trail") return p.trail;
  if (key == "ship_odd_even") return p.ship_odd_even ? 1.0f : 0.0f;
  if (key == "ray_density") return p.ray_density;
  if (key == "terrain_height") return p.terrain_height;
  if (key == "terrain_width") return p.terrain_width;
  if (key == "terrain_detail") return p.terrain_detail;
  if (key == "terrain_floor") return p.terrain_floor;
  if (key == "fog") return p.fog;
  if (key == "speed") return p.speed;
  if (key == "horizon") return p.horizon;
  if (key == "bank") return p.bank;
  if (key == "large_features") return p.large_features ? 1.0f : 0.0f;
  if (key == "interlace") return p.interlace ? 1.0f : 0.0f;
  if (key == "interlace_step") return static_cast<float>(p.interlace_step);
  if (key == "shadows") return p.shadows ? 1.0f : 0.0f;
  if (key == "shadow_strength") return p.shadow_strength;
  if (key == "shadow_length") return p.shadow_length;
  if (key == "sun_angle") return p.sun_angle;
  ADD_FAILURE() << "no field " << key;
  return 0.0f;
}

bool SameDebugParams(const DebugParams& a, const DebugParams& b) {
  const char* keys[] = {"dot_density",
                        "dot_size",
                        "dot_alpha",
                        "trail",
                        "ship_odd_even",
                        "ray_density",
                        "terrain_height",
                        "terrain_width",
                        "terrain_detail",
                        "terrain_floor",
                        "fog",
                        "speed",
                        "horizon",
                        "bank",
                        "large_features",
                        "interlace",
                        "interlace_step",
                        "shadows",
                        "shadow_strength",
                        "shadow_length",
                        "sun_angle"};
  for (const char* key : keys) {
    if (SceneField(a, key) != SceneField(b, key)) return false;
  }
  return true;
}

TEST(SceneParams, DefaultsMatchTheTuning) {
  const DebugParams p;
  EXPECT_FLOAT_EQ(p.trail, 0.84f);
  EXPECT_TRUE(p.ship_odd_even);
  EXPECT_FLOAT_EQ(p.bank, 0.35f);
  EXPECT_TRUE(p.large_features);
  EXPECT_FALSE(p.interlace);
  EXPECT_EQ(p.interlace_step, 2);
  EXPECT_FALSE(p.shadows);
  EXPECT_FLOAT_EQ(p.shadow_strength, 0.35f);
  EXPECT_FLOAT_EQ(p.shadow_length, 18.0f);
  EXPECT_FLOAT_EQ(p.sun_angle, 0.7f);
  const SceneCameraParams c;
  EXPECT_EQ(c.yaw, 0.0f);
  EXPECT_EQ(c.dist, 1.0f);
  EXPECT_EQ(c.fov_off, 0.0f);
}

TEST(SceneParams, SceneKeysClampAndAlias) {
  struct Case {
    const char* key;
    float value;
    const char* field;  // the field expected to change
    float expected;
  };
  const Case cases[] = {
      {"dot_density", 0.0f, "dot_density", 0.03f},
      {"dot_density", 0.5f, "dot_density", 0.5f},
      {"dot_size", 9.0f, "dot_size", 4.0f},
      {"dot_alpha", 0.0f, "dot_alpha", 0.05f},
      {"trail", 1.0f, "trail", 0.98f},
      {"trail", 0.0f, "trail", 0.15f},
      {"ray_density", 0.1f, "ray_density", 0.25f},
      {"terrain_height", 5.0f, "terrain_height", 3.0f},
      {"terrain_width", 0.0f, "terrain_width", 0.35f},
      {"terrain_detail", -1.0f, "terrain_detail", 0.0f},
      {"terrain_floor", 3.5f, "terrain_floor", 3.0f},
      {"fog", 2.0f, "fog", 2.0f},
      {"speed", 10.0f, "speed", 4.0f},
      {"horizon", -1.0f, "horizon", -0.25f},
      {"bank", 3.0f, "bank", 2.0f},
      {"bank_amount", -5.0f, "bank", -2.0f},
      {"shadow_strength", 2.0f, "shadow_strength", 1.0f},
      {"shadow_length", 1.0f, "shadow_length", 2.0f},
      {"sun_angle", 10.0f, "sun_angle", 3.1415927f},
      {"sun_angle", -10.0f, "sun_angle", -3.1415927f},
      {"ship_odd_even", 0.0f, "ship_odd_even", 0.0f},
      {"ship_odd_even", 0.5f, "ship_odd_even", 1.0f},
      {"dropship_odd_even", 0.0f, "ship_odd_even", 0.0f},
      {"large_features", 0.0f, "large_features", 0.0f},
      {"interlace", -1.0f, "interlace", 1.0f},
      {"shadows", 1.0f, "shadows", 1.0f},
      {"interlace_step", 5.0f, "interlace_step", 2.0f},
      // Damaged numbers: NaN falls to the bottom of the range, infinities to its ends.
      {"fog", kNaN, "fog", 0.0f},
      {"trail", kNaN, "trail", 0.15f},
      {"dot_size", kInf, "dot_size", 4.0f},
      {"horizon", -kInf, "horizon", -0.25f},
  };
  for (const Case& c : cases) {
    DebugParams p;
    p.ship_odd_even = !std::strcmp(c.key, "ship_odd_even") || !std::strcmp(c.key, "dropship_odd_even");
    p.interlace_step = 7;  // so that storing 2 is visible
    DebugParams expected = p;
    ASSERT_TRUE(ApplySceneKey(p, c.key, c.value)) << c.key;
    EXPECT_FLOAT_EQ(SceneField(p, c.field), c.expected) << c.key << "=" << c.value;
    // Nothing but the named field changed.
    if (!std::strcmp(c.field, "interlace_step")) {
      expected.interlace_step = 2;
    } else {
      ASSERT_TRUE(ApplySceneKey(expected, c.field, SceneField(p, c.field)));
      expected.interlace_step = 7;
    }
    EXPECT_TRUE(SameDebugParams(p, expected)) << c.key << " changed another field";
  }
}

TEST(SceneParams, UnknownAndInertKeysChangeNothing) {
  struct Case {
    const char* key;
    bool known;
  };
  const Case cases[] = {
      {"dropship_backface_cull", true},
      {"dropship_backface", true},
      {"Fog", false},   // case-sensitive
      {"fog ", false},  // exact text
      {" fog", false},
      {"", false},
      {"dist", false},        // a camera key is not a scene key
      {"scene1_fog", false},  // prefixes belong to the settings files
  };
  for (const Case& c : cases) {
    DebugParams p;
    EXPECT_EQ(ApplySceneKey(p, c.key, 0.0f), c.known) << "'" << c.key << "'";
    EXPECT_TRUE(SameDebugParams(p, DebugParams{})) << "'" << c.key << "'";
  }
}

TEST(SceneParams, CameraKeys) {
  struct Case {
    const char* key;
    float value;
    float SceneCameraParams::*field;
    float expected;
  };
  const Case cases[] = {
      {"dist", 0.0f, &SceneCameraParams::dist, 0.35f},
      {"dist", 3.0f, &SceneCameraParams::dist, 2.5f},
      {"fov_off", 90.0f, &SceneCameraParams::fov_off, 45.0f},
      {"fov_off", -90.0f, &SceneCameraParams::fov_off, -28.0f},
      {"yaw", -123.5f, &SceneCameraParams::yaw, -123.5f},
      {"height", 1000.0f, &SceneCameraParams::height, 1000.0f},
      {"side", -7.0f, &SceneCameraParams::side, -7.0f},
      {"forward", 42.0f, &SceneCameraParams::forward, 42.0f},
      // Unbounded fields still refuse values that would poison the camera.
      {"yaw", kNaN, &SceneCameraParams::yaw, 0.0f},
      {"height", kInf, &SceneCameraParams::height, 0.0f},
      {"dist", kNaN, &SceneCameraParams::dist, 0.35f},
  };
  for (const Case& c : cases) {
    SceneCameraParams cam;
    cam.yaw = cam.height = cam.side = cam.forward = 5.0f;
    ASSERT_TRUE(ApplyCameraKey(cam, c.key, c.value)) << c.key;
    EXPECT_FLOAT_EQ(cam.*c.field, c.expected) << c.key << "=" << c.value;
  }
  SceneCameraParams cam;
  EXPECT_FALSE(ApplyCameraKey(cam, "fog", 2.0f));
  EXPECT_FALSE(ApplyCameraKey(cam, "Dist", 2.0f));
  EXPECT_FALSE(ApplyCameraKey(cam, "dist ", 2.0f));
  EXPECT_EQ(cam.dist, 1.0f);
}

}  // namespace
