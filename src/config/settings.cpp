#include "config/settings.h"

#include <algorithm>

#include "config/command_line.h"
#include "config/number_text.h"

namespace {

std::int32_t ClampInt(long long n, std::int32_t lo, std::int32_t hi) {
  return static_cast<std::int32_t>(std::clamp<long long>(n, lo, hi));
}

// Scene number N of a key "<prefix>N<suffix>" with N in 1..8, else 0. `rest` receives the text
// after the suffix.
int ScenePrefix(const std::string& key, const std::string& prefix, const std::string& suffix,
                std::string& rest) {
  const std::size_t digit_at = prefix.size();
  if (key.size() < digit_at + 1 + suffix.size()) return 0;
  if (key.compare(0, prefix.size(), prefix) != 0) return 0;
  const char digit = key[digit_at];
  if (digit < '1' || digit > '8') return 0;
  if (key.compare(digit_at + 1, suffix.size(), suffix) != 0) return 0;
  rest = key.substr(digit_at + 1 + suffix.size());
  return digit - '0';
}

}  // namespace

bool ApplySetting(AppOptions& options, SceneDebugTable& debug_params, SceneCameraTable& camera_params,
                  const std::string& key, const std::string& value) {
  const float x = ReadFloat(value);
  const long long n = ReadInt(value);

  // General keys.
  if (key == "scene") {
    options.scene = ClampInt(n, 1, kSceneCount);
  } else if (key == "audio_source") {
    ParseAudioSource(value, options.audio_source);
  } else if (key == "xm_path") {
    options.xm_path = value.empty() ? kDefaultModulePath : value;
  } else if (key == "sequence_path") {
    options.sequence_path = value.empty() ? kDefaultSequencePath : value;
  } else if (key == "director") {
    options.director = n != 0;
  } else if (key == "club_stage_preview") {
    options.club_stage_preview = n != 0;
  } else if (key == "show_gui") {
    options.show_gui = n != 0;
  } else if (key == "show_audio_gui") {
    options.show_audio_gui = n != 0;
  } else if (key == "tracker_viz") {
    options.tracker_viz = n != 0;
  } else if (key == "tracker_viz_mode") {
    options.tracker_viz_mode = ClampInt(n, 0, 2);
  } else if (key == "tracker_viz_layer") {
    std::fill(std::begin(options.tracker_layer), std::end(options.tracker_layer), ClampInt(n, 0, 1));
  } else if (key == "tracker_viz_effect") {
    options.tracker_viz_effect = ClampInt(n, 0, 2);
  } else if (key == "tracker_viz_border") {
    options.tracker_viz_border = n != 0;
  } else if (key == "tracker_viz_x") {
    options.tracker_viz_x = ClampInt(n, 0, 624);
  } else if (key == "tracker_viz_y") {
    options.tracker_viz_y = ClampInt(n, 0, 344);
  } else if (key == "tracker_viz_rows") {
    options.tracker_viz_rows = ClampInt(n, 5, 21);
  } else if (key == "tracker_assembly_region") {
    ParseTrackerRegion(value, options.tracker_assembly_region);
  } else if (key == "tracker_viz_opacity") {
    options.tracker_viz_opacity = ClampFloat(x, 0.0f, 1.0f);
  } else {
    // Per-scene and all-scene keys.
    std::string rest;
    if (const int scene = ScenePrefix(key, "tracker_viz_scene", "_layer", rest); scene != 0 && rest.empty()) {
      options.tracker_layer[scene - 1] = ClampInt(n, 0, 1);
      return true;
    }
    if (const int scene = ScenePrefix(key, "cam", "_", rest); scene != 0) {
      return ApplyCameraKey(camera_params[scene - 1], rest, x);
    }
    if (const int scene = ScenePrefix(key, "scene", "_", rest); scene != 0) {
      return ApplySceneKey(debug_params[scene - 1], rest, x);
    }
    if (key.compare(0, 4, "cam_") == 0) {
      rest = key.substr(4);
      for (SceneCameraParams& cam : camera_params) ApplyCameraKey(cam, rest, x);
      return true;
    }
    if (key == "fov_off") {
      for (SceneCameraParams& cam : camera_params) cam.fov_off = ClampFloat(x, -28.0f, 45.0f);
      return true;
    }
    // A bare DebugParams key sets every scene.
    const std::int32_t current = std::clamp(options.scene - 1, 0, kSceneCount - 1);
    if (!ApplySceneKey(debug_params[current], key, x)) return false;
    for (DebugParams& params : debug_params) ApplySceneKey(params, key, x);
    return true;
  }
  return true;
}

void ApplySettingsText(AppOptions& options, SceneDebugTable& debug_params, SceneCameraTable& camera_params,
                       const std::string& text) {
  std::size_t line_start = 0;
  while (line_start <= text.size()) {
    std::size_t line_end = text.find('\n', line_start);
    if (line_end == std::string::npos) line_end = text.size();
    // Searching only inside the line keeps a huge file without "=" linear.
    const auto line_begin_it = text.begin() + static_cast<std::ptrdiff_t>(line_start);
    const auto line_end_it = text.begin() + static_cast<std::ptrdiff_t>(line_end);
    const std::size_t equals =
        static_cast<std::size_t>(std::find(line_begin_it, line_end_it, '=') - text.begin());
    // Key and value exactly as written: no trimming, no comments, no quoting.
    if (equals < line_end) {
      const std::string key = text.substr(line_start, equals - line_start);
      const std::string value = text.substr(equals + 1, line_end - equals - 1);
      ApplySetting(options, debug_params, camera_params, key, value);
    }
    line_start = line_end + 1;
  }
}

bool ApplySettingsFile(AppOptions& options, SceneDebugTable& debug_params, SceneCameraTable& camera_params,
                       const std::string& path,
                       const std::function<bool(const std::string& path, std::string& text)>& read_text) {
  std::string text;
  if (!read_text || !read_text(path, text)) return false;
  ApplySettingsText(options, debug_params, camera_params, text);
  return true;
}

void LoadSettings(AppOptions& options, SceneDebugTable& debug_params, SceneCameraTable& camera_params,
                  const SettingsFileAccess& files) {
  // 1. Where the two files are.
  const std::string base = files.resolve_path ? files.resolve_path(kSettingsPath) : kSettingsPath;
  const std::string local = files.resolve_path ? files.resolve_path(kLocalSettingsPath) : kLocalSettingsPath;
  const bool local_exists = files.exists && files.exists(local);
  options.settings_path = local_exists ? local : base;

  // 2. The base file, then the local file over it.
  const bool ok = ApplySettingsFile(options, debug_params, camera_params, base, files.read_text);
  if (local_exists) {
    const bool local_ok = ApplySettingsFile(options, debug_params, camera_params, local, files.read_text);
    options.settings_status = (local_ok ? "Loaded " : "Could not load ") + local;
  } else {
    options.settings_status = ok ? "Loaded " + base : "No settings file";
  }
}
