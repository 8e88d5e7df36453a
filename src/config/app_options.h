#pragma once

// Every App member that a command-line option or a settings key sets, with its start-up value.
// The App keeps one AppOptions; the command line and the settings files are free functions over
// it (and over the per-scene parameter tables), so configuration is testable without a window.

#include <cstdint>
#include <string>

#include "config/scene_params.h"
#include "timeline/sequence.h"

inline constexpr const char* kSettingsPath = "data/kestrel/kestrel_settings.txt";
inline constexpr const char* kLocalSettingsPath = "data/kestrel/kestrel_settings.local.txt";

// Values of AppOptions::audio_source.
inline constexpr std::int32_t kAudioSourceModule = 0;  // tracker module player
inline constexpr std::int32_t kAudioSourceSynth = 1;   // built-in synthesiser

// The per-scene tables, index scene - 1.
using SceneDebugTable = DebugParams[kSceneCount];
using SceneCameraTable = SceneCameraParams[kSceneCount];

struct AppOptions {
  std::int32_t scene = 1;                     // manually chosen scene, 1..8
  std::uint64_t frames = 0;                   // frame limit; 0 = unlimited
  std::string save_path;                      // PPM written at the frame limit; empty = none
  // Offline capture: frames (a .y4m file, "-" for standard output, or a PNG directory); empty =
  // no capture. The rate and scale are kept as written and checked when the capture starts.
  std::string capture_path;
  std::string capture_fps = "60";           // frames per second of show time, 1..240
  std::string capture_scale = "1";          // pixel enlargement, 1..3
  std::string capture_audio_path;           // WAV of the music over the captured span
  std::string capture_report_path;          // CSV of per-frame render times
  std::string settings_status;                // result of the settings load (kept, not shown)
  std::string settings_path = kSettingsPath;  // settings file in use
  std::string sequence_path = kDefaultSequencePath;
  // Per scene: 1 = tracker visualisation drawn behind the scene, 0 = in front.
  std::int32_t tracker_layer[kSceneCount] = {0, 1, 1, 1, 0, 0, 0, 0};
  std::int32_t audio_source = kAudioSourceSynth;
  std::string xm_path = kDefaultModulePath;
  float audio_bpm = 140.0f;                  // tempo of the bar clock and the synthesiser, 80..180
  float bar_offset = 0.0f;                   // start bar while no music plays
  float audio_gain = 1.0f;                   // music volume 0..1
  std::int32_t tracker_viz_mode = 0;         // 0 panel, 1 wall, 2 assembly
  std::int32_t tracker_viz_effect = 1;       // 0 clean, 1 glow, 2 splat
  std::int32_t tracker_viz_x = 276;          // panel position in pixels, 0..624
  std::int32_t tracker_viz_y = 120;          // 0..344
  std::int32_t tracker_viz_rows = 11;        // visible rows, 5..21
  std::int32_t tracker_assembly_region = 0;  // region code of the assembly layout, 0..8
  float tracker_viz_opacity = 0.72f;         // 0..1
  bool show_gui = false;                     // accepted; nothing reads it
  bool show_audio_gui = false;               // accepted; nothing reads it
  bool bench = false;                        // headless timing run
  bool audio_enabled = true;                 // music wanted
  bool director = true;                      // the timeline chooses the scene
  bool club_stage_preview = false;           // forces the club look in manual scene 2
  bool tracker_viz = true;                   // tracker visualisation enabled
  bool tracker_viz_border = true;
  bool audio_source_explicit = false;  // set on the command line: the sequence may not override
  bool xm_path_explicit = false;       // likewise for xm_path
  bool fullscreen = true;              // start full screen
};
