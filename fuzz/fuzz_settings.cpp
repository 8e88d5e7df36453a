// The settings files: the input is the base file and, after the first NUL byte, the local file
// over it, read through in-memory file access exactly as the App loads them from the asset store.

#include <cstring>

#include "config/settings.h"
#include "fuzz_config_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input = InputText(data, size);
  const std::size_t split = input.find('\0');
  const std::string base_text = input.substr(0, split);
  const bool has_local = split != std::string::npos;
  const std::string local_text = has_local ? input.substr(split + 1) : std::string();

  SettingsFileAccess files;
  files.resolve_path = [](const std::string& name) { return name; };
  files.exists = [&](const std::string& path) { return has_local && path == kLocalSettingsPath; };
  files.read_text = [&](const std::string& path, std::string& text) {
    if (path == kSettingsPath) {
      text = base_text;
      return true;
    }
    if (has_local && path == kLocalSettingsPath) {
      text = local_text;
      return true;
    }
    return false;
  };

  AppOptions options;
  SceneDebugTable debug;
  SceneCameraTable camera;
  LoadSettings(options, debug, camera, files);
  FUZZ_CHECK(options.settings_path == (has_local ? kLocalSettingsPath : kSettingsPath));
  // An empty xm_path= or sequence_path= line restores the default.
  FUZZ_CHECK(!options.xm_path.empty() && !options.sequence_path.empty());
  CheckOptions(options);
  CheckSceneTables(debug, camera);
  return 0;
}
