// The show's own settings file: every line it means to apply is a known key written exactly,
// within its range; scenes 1 to 3 keep their built-in settings; scenes 4 to 8 get five looks.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "config/settings.h"

namespace {

const std::string kShippedSettings = std::string(KESTREL_SOURCE_DIR) + "/data/kestrel/kestrel_settings.txt";

std::string ReadShipped() {
  std::ifstream in(kShippedSettings, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool SameDebug(const DebugParams& a, const DebugParams& b) {
  return a.dot_density == b.dot_density && a.dot_size == b.dot_size && a.dot_alpha == b.dot_alpha &&
         a.trail == b.trail && a.ship_odd_even == b.ship_odd_even && a.ray_density == b.ray_density &&
         a.terrain_height == b.terrain_height && a.terrain_width == b.terrain_width &&
         a.terrain_detail == b.terrain_detail && a.terrain_floor == b.terrain_floor && a.fog == b.fog &&
         a.speed == b.speed && a.horizon == b.horizon && a.bank == b.bank &&
         a.large_features == b.large_features && a.interlace == b.interlace &&
         a.interlace_step == b.interlace_step && a.shadows == b.shadows &&
         a.shadow_strength == b.shadow_strength && a.shadow_length == b.shadow_length &&
         a.sun_angle == b.sun_angle;
}

bool SameCamera(const SceneCameraParams& a, const SceneCameraParams& b) {
  return a.yaw == b.yaw && a.height == b.height && a.side == b.side && a.forward == b.forward &&
         a.dist == b.dist && a.fov_off == b.fov_off;
}

}  // namespace

TEST(ShippedSettings, EveryLineIsAKnownOrbStageKeyWithinItsRange) {
  const std::string text = ReadShipped();
  ASSERT_FALSE(text.empty()) << kShippedSettings;
  AppOptions options;
  DebugParams debug[kSceneCount];
  SceneCameraParams camera[kSceneCount];
  int lines = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    const std::string value = line.substr(eq + 1);
    SCOPED_TRACE(line);
    ++lines;
    // Only per-scene keys of scenes 4 to 8: anything else would reach scenes 1 to 3.
    const bool scene_key = key.rfind("scene", 0) == 0 && key.size() > 6 && key[6] == '_';
    const bool cam_key = key.rfind("cam", 0) == 0 && key.size() > 4 && key[4] == '_';
    ASSERT_TRUE(scene_key || cam_key);
    const int n = (scene_key ? key[5] : key[3]) - '0';
    EXPECT_GE(n, 4);
    EXPECT_LE(n, 8);
    EXPECT_TRUE(ApplySetting(options, debug, camera, key, value));
    // Read back unclamped: the file says what the scene gets.
    const float x = static_cast<float>(std::atof(value.c_str()));
    const std::string field = key.substr(scene_key ? 7 : 5);
    const DebugParams& d = debug[n - 1];
    const SceneCameraParams& c = camera[n - 1];
    float stored = NAN;
    if (field == "dot_density") stored = d.dot_density;
    if (field == "dot_size") stored = d.dot_size;
    if (field == "dot_alpha") stored = d.dot_alpha;
    if (field == "trail") stored = d.trail;
    if (field == "dist") stored = c.dist;
    if (field == "height") stored = c.height;
    if (field == "yaw") stored = c.yaw;
    if (field == "fov_off") stored = c.fov_off;
    if (field == "side") stored = c.side;
    if (field == "forward") stored = c.forward;
    EXPECT_EQ(stored, x) << "a field the orb stage reads, stored as written";
    // The stage keeps its decay between 0.62 and 0.96: a trail outside that would not show.
    if (field == "trail") {
      EXPECT_GE(x, 0.62f);
      EXPECT_LE(x, 0.96f);
    }
  }
  EXPECT_GE(lines, 10);
}

TEST(ShippedSettings, ScenesOneToThreeKeepTheirDefaultsAndTheOrbScenesDiffer) {
  AppOptions options;
  DebugParams debug[kSceneCount];
  SceneCameraParams camera[kSceneCount];
  ApplySettingsText(options, debug, camera, ReadShipped());

  const AppOptions defaults;
  EXPECT_EQ(options.scene, defaults.scene);
  EXPECT_EQ(options.director, defaults.director);
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(SameDebug(debug[i], DebugParams{})) << "scene " << i + 1;
    EXPECT_TRUE(SameCamera(camera[i], SceneCameraParams{})) << "scene " << i + 1;
  }

  // Five looks: every pair of scenes 4 to 8 differs in its tuning and in its camera.
  for (int i = 3; i < kSceneCount; ++i) {
    for (int j = 3; j < i; ++j) {
      EXPECT_FALSE(SameDebug(debug[i], debug[j])) << "scenes " << j + 1 << " and " << i + 1;
      EXPECT_FALSE(SameCamera(camera[i], camera[j])) << "scenes " << j + 1 << " and " << i + 1;
    }
  }
}
