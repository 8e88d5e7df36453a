#include "config/command_line.h"

#include <algorithm>

#include "config/number_text.h"

namespace {

// printf-style: "%s" stands for the program name. One string per printed line.
// clang-format off
const char* const kUsageLines[] = {
    "Usage: %s [--scene 1..8] [--frames N] [--save out.ppm] [--fullscreen|--windowed]",
    "          [--density X] [--dot-size X] [--dot-alpha X] [--trail X]",
    "          [--ship-odd-even] [--no-ship-odd-even]",
    "          [--ray-density X] [--terrain-height X] [--fog X] [--speed X]",
    "          [--terrain-width X] [--terrain-detail X] [--terrain-floor X] [--horizon X] [--bank X]",
    "          [--large-features] [--no-large-features]",
    "          [--interlace] [--no-interlace]",
    "          [--shadows] [--no-shadows] [--shadow-strength X] [--shadow-length X] [--sun-angle X]",
    "          [--cam-dist X] [--cam-height X] [--cam-side X]",
    "          [--cam-forward X] [--cam-yaw X] [--fov-off X] [--hide-gui]",
    "          [--no-audio] [--audio-source xm|synth] [--xm-path file.xm|file.mod]",
    "          [--sequence file.txt]",
    "          [--audio-bpm X] [--audio-gain X]",
    "          [--director] [--no-director] [--bar-offset X] [--dj-board]",
    "          [--hide-tracker] [--tracker-panel|--tracker-wall|--tracker-assembly] [--tracker-front|--tracker-behind]",
    "          [--tracker-border|--tracker-no-border] [--tracker-effect clean|glow|splat]",
    "          [--tracker-assembly-region full|top|bottom|left|right|top-left|top-right|bottom-left|bottom-right]",
    "          [--tracker-opacity X] [--tracker-x X] [--tracker-y X] [--tracker-rows N] [--bench]",
    "          [--capture out.y4m|-|dir] [--capture-fps F] [--capture-scale 1|2|3] [--capture-audio out.wav] [--capture-report out.csv]",
    "Keys: F11 fullscreen, Space freeze, M audio, D director, 1-8 manual scenes, Left/Right +/-4 bars,",
    "      PgUp/PgDn sections, Home/End timeline, R reset, Esc quit; finale: any key restarts.",
};

struct RegionName {
  const char* name;
  std::int32_t code;
};

const RegionName kRegionNames[] = {
    {"full", 0},         {"0", 0},
    {"top", 1},          {"1", 1},
    {"bottom", 2},       {"2", 2},
    {"left", 3},         {"3", 3},
    {"right", 4},        {"4", 4},
    {"top_left", 5},     {"top-left", 5},     {"tl", 5}, {"5", 5},
    {"top_right", 6},    {"top-right", 6},    {"tr", 6}, {"6", 6},
    {"bottom_left", 7},  {"bottom-left", 7},  {"bl", 7}, {"7", 7},
    {"bottom_right", 8}, {"bottom-right", 8}, {"br", 8}, {"8", 8},
};
// clang-format on

// Per-scene options that take a number: the DebugParams or camera key they set (which brings its range).
struct SceneValueOption {
  const char* option;
  const char* key;
  bool camera;
};

const SceneValueOption kSceneValueOptions[] = {
    {"--density", "dot_density", false},
    {"--dot-size", "dot_size", false},
    {"--dot-alpha", "dot_alpha", false},
    {"--trail", "trail", false},
    {"--ray-density", "ray_density", false},
    {"--terrain-height", "terrain_height", false},
    {"--terrain-width", "terrain_width", false},
    {"--terrain-detail", "terrain_detail", false},
    {"--terrain-floor", "terrain_floor", false},
    {"--fog", "fog", false},
    {"--horizon", "horizon", false},
    {"--bank", "bank", false},
    {"--interlace-step", "interlace_step", false},  // the value is consumed; the step stays 2
    {"--shadow-strength", "shadow_strength", false},
    {"--shadow-length", "shadow_length", false},
    {"--sun-angle", "sun_angle", false},
    {"--speed", "speed", false},
    {"--cam-dist", "dist", true},
    {"--cam-height", "height", true},
    {"--cam-side", "side", true},
    {"--cam-forward", "forward", true},
    {"--cam-yaw", "yaw", true},
    {"--fov-off", "fov_off", true},
};

// Per-scene switches: the DebugParams key and the value they store.
struct SceneFlagOption {
  const char* option;
  const char* key;
  bool value;
};

const SceneFlagOption kSceneFlagOptions[] = {
    {"--ship-odd-even", "ship_odd_even", true},
    {"--dropship-odd-even", "ship_odd_even", true},
    {"--no-ship-odd-even", "ship_odd_even", false},
    {"--no-dropship-odd-even", "ship_odd_even", false},
    {"--large-features", "large_features", true},
    {"--no-large-features", "large_features", false},
    {"--interlace", "interlace", true},
    {"--no-interlace", "interlace", false},
    {"--shadows", "shadows", true},
    {"--no-shadows", "shadows", false},
};

std::int32_t SceneIndex(const AppOptions& options) {
  return std::clamp(options.scene - 1, 0, kSceneCount - 1);
}

}  // namespace

std::string UsageText(const std::string& program) {
  std::string text;
  for (const char* line : kUsageLines) {
    std::string row = line;
    const std::size_t slot = row.find("%s");
    if (slot != std::string::npos) row.replace(slot, 2, program);
    text += row;
    text += '\n';
  }
  return text;
}

bool ParseTrackerRegion(const std::string& name, std::int32_t& region) {
  for (const RegionName& r : kRegionNames) {
    if (name == r.name) {
      region = r.code;
      return true;
    }
  }
  return false;
}

bool ParseAudioSource(const std::string& word, std::int32_t& audio_source) {
  if (word == "xm" || word == "XM" || word == "module") {
    audio_source = kAudioSourceModule;
    return true;
  }
  if (word == "synth" || word == "SYNTH") {
    audio_source = kAudioSourceSynth;
    return true;
  }
  return false;
}

CommandLineAction ParseCommandLine(int argc, char** argv, AppOptions& options, SceneDebugTable& debug_params,
                                   SceneCameraTable& camera_params) {
  if (argv == nullptr) return CommandLineAction::Run;
  for (int a = 1; a < argc; ++a) {
    if (argv[a] == nullptr) continue;
    const std::string arg = argv[a];
    const bool has_value = a + 1 < argc && argv[a + 1] != nullptr;
    const char* value = has_value ? argv[a + 1] : "";

    // Options without a value.
    if (arg == "--help") return CommandLineAction::ShowHelp;
    if (arg == "--dj-board" || arg == "--club-stage") {
      options.scene = 2;
      options.director = false;
      options.club_stage_preview = true;
      continue;
    }
    if (arg == "--fullscreen" || arg == "--windowed") {
      options.fullscreen = arg == "--fullscreen";
      continue;
    }
    if (arg == "--show-help" || arg == "--hide-help") continue;
    if (arg == "--show-gui" || arg == "--hide-gui") {
      options.show_gui = arg == "--show-gui";
      continue;
    }
    if (arg == "--audio" || arg == "--no-audio") {
      options.audio_enabled = arg == "--audio";
      continue;
    }
    if (arg == "--xm" || arg == "--synth") {
      options.audio_source = arg == "--xm" ? kAudioSourceModule : kAudioSourceSynth;
      options.audio_source_explicit = true;
      continue;
    }
    if (arg == "--director" || arg == "--no-director") {
      options.director = arg == "--director";
      continue;
    }
    if (arg == "--show-tracker" || arg == "--hide-tracker") {
      options.tracker_viz = arg == "--show-tracker";
      continue;
    }
    if (arg == "--tracker-panel") {
      options.tracker_viz_mode = 0;
      continue;
    }
    if (arg == "--tracker-wall") {
      options.tracker_viz_mode = 1;
      continue;
    }
    if (arg == "--tracker-assembly") {
      options.tracker_viz_mode = 2;
      continue;
    }
    if (arg == "--tracker-behind" || arg == "--tracker-front") {
      options.tracker_layer[SceneIndex(options)] = arg == "--tracker-behind" ? 1 : 0;
      continue;
    }
    if (arg == "--tracker-border" || arg == "--tracker-no-border") {
      options.tracker_viz_border = arg == "--tracker-border";
      continue;
    }
    if (arg == "--bench") {
      options.bench = true;
      options.audio_enabled = false;
      options.show_gui = false;
      continue;
    }
    bool matched_flag = false;
    for (const SceneFlagOption& f : kSceneFlagOptions) {
      if (arg == f.option) {
        ApplySceneKey(debug_params[SceneIndex(options)], f.key, f.value ? 1.0f : 0.0f);
        matched_flag = true;
        break;
      }
    }
    if (matched_flag) continue;

    // Options with a value: without one they are not recognised.
    if (!has_value) continue;
    bool consumed = true;
    if (arg == "--scene") {
      options.scene = static_cast<std::int32_t>(std::clamp<long long>(ReadInt(value), 1, kSceneCount));
      options.director = false;
      options.club_stage_preview = false;
    } else if (arg == "--frames") {
      const long long n = ReadInt(value);
      options.frames = n > 0 ? static_cast<std::uint64_t>(n) : 0;  // negative: unlimited
    } else if (arg == "--save") {
      options.save_path = value;
    } else if (arg == "--capture") {
      options.capture_path = value;
    } else if (arg == "--capture-fps") {
      options.capture_fps = value;
    } else if (arg == "--capture-scale") {
      options.capture_scale = value;
    } else if (arg == "--capture-audio") {
      options.capture_audio_path = value;
    } else if (arg == "--capture-report") {
      options.capture_report_path = value;
    } else if (arg == "--audio-source") {
      ParseAudioSource(value, options.audio_source);
      options.audio_source_explicit = true;
    } else if (arg == "--xm-path") {
      options.xm_path = value;
      options.xm_path_explicit = true;
    } else if (arg == "--sequence") {
      options.sequence_path = value;
    } else if (arg == "--audio-bpm") {
      options.audio_bpm = ClampFloat(ReadFloat(value), 80.0f, 180.0f);
    } else if (arg == "--bar-offset") {
      options.bar_offset = FiniteOrZero(ReadFloat(value));
    } else if (arg == "--audio-gain") {
      options.audio_gain = ClampFloat(ReadFloat(value), 0.0f, 1.0f);
    } else if (arg == "--tracker-assembly-region") {
      ParseTrackerRegion(value, options.tracker_assembly_region);
    } else if (arg == "--tracker-effect") {
      const std::string word = value;
      if (word == "clean") options.tracker_viz_effect = 0;
      if (word == "glow") options.tracker_viz_effect = 1;
      if (word == "splat") options.tracker_viz_effect = 2;
    } else if (arg == "--tracker-opacity") {
      options.tracker_viz_opacity = ClampFloat(ReadFloat(value), 0.0f, 1.0f);
    } else if (arg == "--tracker-x") {
      options.tracker_viz_x = static_cast<std::int32_t>(std::clamp<long long>(ReadInt(value), 0, 624));
    } else if (arg == "--tracker-y") {
      options.tracker_viz_y = static_cast<std::int32_t>(std::clamp<long long>(ReadInt(value), 0, 344));
    } else if (arg == "--tracker-rows") {
      options.tracker_viz_rows = static_cast<std::int32_t>(std::clamp<long long>(ReadInt(value), 5, 21));
    } else {
      consumed = false;
      for (const SceneValueOption& o : kSceneValueOptions) {
        if (arg != o.option) continue;
        const std::int32_t i = SceneIndex(options);
        const float x = ReadFloat(value);
        if (o.camera) {
          ApplyCameraKey(camera_params[i], o.key, x);
        } else {
          ApplySceneKey(debug_params[i], o.key, x);
        }
        consumed = true;
        break;
      }
    }
    if (consumed) ++a;
  }
  return CommandLineAction::Run;
}
