#pragma once

// Settings files: key=value lines applied over the built-in defaults, the base file first, then
// the local file; the command line comes after both.

#include <functional>
#include <string>

#include "config/app_options.h"

// How the settings files are found and read. The App builds these on its asset store
// (ResolvePath, Exists, ReadText); tests use in-memory files.
struct SettingsFileAccess {
  std::function<std::string(const std::string& name)> resolve_path;
  std::function<bool(const std::string& path)> exists;  // names an existing file system entry
  std::function<bool(const std::string& path, std::string& text)> read_text;
};

// Applies the base file and then, when it exists, the local file; sets options.settings_path to
// the file in use and options.settings_status to "Loaded <path>", "Could not load <path>" or
// "No settings file".
void LoadSettings(AppOptions& options, SceneDebugTable& debug_params, SceneCameraTable& camera_params,
                  const SettingsFileAccess& files);

// Reads `path` and applies every line that contains "="; false when it cannot be read.
bool ApplySettingsFile(AppOptions& options, SceneDebugTable& debug_params, SceneCameraTable& camera_params,
                       const std::string& path,
                       const std::function<bool(const std::string& path, std::string& text)>& read_text);

// Applies every line of `text` that contains "=" (the key is the text before the first "=", the
// value the text after it, both exactly as written).
void ApplySettingsText(AppOptions& options, SceneDebugTable& debug_params, SceneCameraTable& camera_params,
                       const std::string& text);

// One key=value pair; true when the key is known. Keys compare exactly and case-sensitively:
// general keys, tracker_viz_sceneN_layer, camN_ and sceneN_ prefixes (one scene), cam_ (every
// camera), and any DebugParams key (every scene).
bool ApplySetting(AppOptions& options, SceneDebugTable& debug_params, SceneCameraTable& camera_params,
                  const std::string& key, const std::string& value);
