// The command line: option effects and clamps, per-scene options following the scene chosen so
// far, unknown words, options missing their value, and the usage text byte for byte.

#include "config/command_line.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

// Parses `args` (argv[0] = "kestrel_prod") over default options, or over `start` when given.
struct Parsed {
  AppOptions options;
  DebugParams debug[kSceneCount];
  SceneCameraParams camera[kSceneCount];
  CommandLineAction action = CommandLineAction::Run;
};

Parsed Parse(std::vector<std::string> args, const AppOptions& start = AppOptions{}) {
  Parsed p;
  p.options = start;
  args.insert(args.begin(), "kestrel_prod");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  p.action = ParseCommandLine(static_cast<int>(args.size()), argv.data(), p.options, p.debug, p.camera);
  return p;
}

bool SameScene(const DebugParams& a, const DebugParams& b) {
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

TEST(CommandLine, GeneralOptions) {
  struct Case {
    std::vector<std::string> args;
    std::function<void(const AppOptions&)> check;
  };
  const Case cases[] = {
      {{"--scene", "3"},
       [](const AppOptions& o) {
         EXPECT_EQ(o.scene, 3);
         EXPECT_FALSE(o.director);
       }},
      {{"--scene", "9"}, [](const AppOptions& o) { EXPECT_EQ(o.scene, 8); }},
      {{"--scene", "0"},
       [](const AppOptions& o) {
         EXPECT_EQ(o.scene, 1);
         EXPECT_FALSE(o.director);
       }},
      {{"--scene", "abc"},
       [](const AppOptions& o) {
         EXPECT_EQ(o.scene, 1);
         EXPECT_FALSE(o.director);
       }},
      {{"--scene", "99999999999999999999"}, [](const AppOptions& o) { EXPECT_EQ(o.scene, 8); }},
      {{"--scene", "-99999999999999999999"}, [](const AppOptions& o) { EXPECT_EQ(o.scene, 1); }},
      {{"--dj-board"},
       [](const AppOptions& o) {
         EXPECT_EQ(o.scene, 2);
         EXPECT_FALSE(o.director);
         EXPECT_TRUE(o.club_stage_preview);
       }},
      {{"--club-stage", "--scene", "4"},
       [](const AppOptions& o) {
         EXPECT_EQ(o.scene, 4);
         EXPECT_FALSE(o.club_stage_preview);
       }},
      {{"--frames", "120"}, [](const AppOptions& o) { EXPECT_EQ(o.frames, 120u); }},
      {{"--frames", "-5"}, [](const AppOptions& o) { EXPECT_EQ(o.frames, 0u); }},
      {{"--frames", "5000000000"}, [](const AppOptions& o) { EXPECT_EQ(o.frames, 5000000000u); }},
      {{"--save", "out.ppm"}, [](const AppOptions& o) { EXPECT_EQ(o.save_path, "out.ppm"); }},
      {{"--capture", "-", "--capture-fps", "30x", "--capture-scale", "2", "--capture-audio", "a.wav",
        "--capture-report", "r.csv"},
       [](const AppOptions& o) {
         // Rate and scale are kept as written: the capture checks them and names a bad one.
         EXPECT_EQ(o.capture_path, "-");
         EXPECT_EQ(o.capture_fps, "30x");
         EXPECT_EQ(o.capture_scale, "2");
         EXPECT_EQ(o.capture_audio_path, "a.wav");
         EXPECT_EQ(o.capture_report_path, "r.csv");
       }},
      {{"--windowed"}, [](const AppOptions& o) { EXPECT_FALSE(o.fullscreen); }},
      {{"--windowed", "--fullscreen"}, [](const AppOptions& o) { EXPECT_TRUE(o.fullscreen); }},
      {{"--show-gui"}, [](const AppOptions& o) { EXPECT_TRUE(o.show_gui); }},
      {{"--show-gui", "--hide-gui"}, [](const AppOptions& o) { EXPECT_FALSE(o.show_gui); }},
      {{"--no-audio"}, [](const AppOptions& o) { EXPECT_FALSE(o.audio_enabled); }},
      {{"--audio-source", "xm"},
       [](const AppOptions& o) {
         EXPECT_EQ(o.audio_source, kAudioSourceModule);
         EXPECT_TRUE(o.audio_source_explicit);
       }},
      {{"--audio-source", "module"},
       [](const AppOptions& o) { EXPECT_EQ(o.audio_source, kAudioSourceModule); }},
      {{"--xm", "--audio-source", "SYNTH"},
       [](const AppOptions& o) { EXPECT_EQ(o.audio_source, kAudioSourceSynth); }},
      // An unknown word keeps the source but still counts as chosen on the command line.
      {{"--audio-source", "foo"},
       [](const AppOptions& o) {
         EXPECT_EQ(o.audio_source, kAudioSourceSynth);
         EXPECT_TRUE(o.audio_source_explicit);
       }},
      {{"--audio-source", "Xm"}, [](const AppOptions& o) { EXPECT_EQ(o.audio_source, kAudioSourceSynth); }},
      {{"--xm"},
       [](const AppOptions& o) {
         EXPECT_EQ(o.audio_source, kAudioSourceModule);
         EXPECT_TRUE(o.audio_source_explicit);
       }},
      {{"--xm", "--synth"}, [](const AppOptions& o) { EXPECT_EQ(o.audio_source, kAudioSourceSynth); }},
      {{"--xm-path", "song.mod"},
       [](const AppOptions& o) {
         EXPECT_EQ(o.xm_path, "song.mod");
         EXPECT_TRUE(o.xm_path_explicit);
       }},
      {{"--sequence", "seq.txt"}, [](const AppOptions& o) { EXPECT_EQ(o.sequence_path, "seq.txt"); }},
      {{"--audio-bpm", "200"}, [](const AppOptions& o) { EXPECT_EQ(o.audio_bpm, 180.0f); }},
      {{"--audio-bpm", "x"}, [](const AppOptions& o) { EXPECT_EQ(o.audio_bpm, 80.0f); }},
      {{"--audio-bpm", "128.5"}, [](const AppOptions& o) { EXPECT_EQ(o.audio_bpm, 128.5f); }},
      {{"--audio-bpm", "nan"}, [](const AppOptions& o) { EXPECT_EQ(o.audio_bpm, 80.0f); }},
      {{"--no-director", "--director"}, [](const AppOptions& o) { EXPECT_TRUE(o.director); }},
      {{"--bar-offset", "-12.5"}, [](const AppOptions& o) { EXPECT_EQ(o.bar_offset, -12.5f); }},
      {{"--bar-offset", "1e300"}, [](const AppOptions& o) { EXPECT_EQ(o.bar_offset, 0.0f); }},
      {{"--audio-gain", "3"}, [](const AppOptions& o) { EXPECT_EQ(o.audio_gain, 1.0f); }},
      {{"--audio-gain", "0.25"}, [](const AppOptions& o) { EXPECT_EQ(o.audio_gain, 0.25f); }},
      {{"--hide-tracker"}, [](const AppOptions& o) { EXPECT_FALSE(o.tracker_viz); }},
      {{"--hide-tracker", "--show-tracker"}, [](const AppOptions& o) { EXPECT_TRUE(o.tracker_viz); }},
      {{"--tracker-wall"}, [](const AppOptions& o) { EXPECT_EQ(o.tracker_viz_mode, 1); }},
      {{"--tracker-assembly"}, [](const AppOptions& o) { EXPECT_EQ(o.tracker_viz_mode, 2); }},
      {{"--tracker-assembly", "--tracker-panel"},
       [](const AppOptions& o) { EXPECT_EQ(o.tracker_viz_mode, 0); }},
      {{"--tracker-assembly-region", "top-left"},
       [](const AppOptions& o) { EXPECT_EQ(o.tracker_assembly_region, 5); }},
      {{"--tracker-assembly-region", "br"},
       [](const AppOptions& o) { EXPECT_EQ(o.tracker_assembly_region, 8); }},
      {{"--tracker-assembly-region", "bottom_left"},
       [](const AppOptions& o) { EXPECT_EQ(o.tracker_assembly_region, 7); }},
      {{"--tracker-assembly-region", "3"},
       [](const AppOptions& o) { EXPECT_EQ(o.tracker_assembly_region, 3); }},
      {{"--tracker-assembly-region", "right", "--tracker-assembly-region", "middle"},
       [](const AppOptions& o) { EXPECT_EQ(o.tracker_assembly_region, 4); }},
      {{"--tracker-assembly-region", "9"},
       [](const AppOptions& o) { EXPECT_EQ(o.tracker_assembly_region, 0); }},
      {{"--tracker-no-border"}, [](const AppOptions& o) { EXPECT_FALSE(o.tracker_viz_border); }},
      {{"--tracker-effect", "splat"}, [](const AppOptions& o) { EXPECT_EQ(o.tracker_viz_effect, 2); }},
      {{"--tracker-effect", "clean"}, [](const AppOptions& o) { EXPECT_EQ(o.tracker_viz_effect, 0); }},
      {{"--tracker-effect", "clean", "--tracker-effect", "sparkle"},
       [](const AppOptions& o) { EXPECT_EQ(o.tracker_viz_effect, 0); }},
      {{"--tracker-opacity", "-1"}, [](const AppOptions& o) { EXPECT_EQ(o.tracker_viz_opacity, 0.0f); }},
      {{"--tracker-x", "700"}, [](const AppOptions& o) { EXPECT_EQ(o.tracker_viz_x, 624); }},
      {{"--tracker-y", "-3"}, [](const AppOptions& o) { EXPECT_EQ(o.tracker_viz_y, 0); }},
      {{"--tracker-y", "200.9"}, [](const AppOptions& o) { EXPECT_EQ(o.tracker_viz_y, 200); }},
      {{"--tracker-rows", "3"}, [](const AppOptions& o) { EXPECT_EQ(o.tracker_viz_rows, 5); }},
      {{"--tracker-rows", "30"}, [](const AppOptions& o) { EXPECT_EQ(o.tracker_viz_rows, 21); }},
      {{"--bench"},
       [](const AppOptions& o) {
         EXPECT_TRUE(o.bench);
         EXPECT_FALSE(o.audio_enabled);
         EXPECT_FALSE(o.show_gui);
       }},
      {{"--show-gui", "--bench", "--audio"},
       [](const AppOptions& o) {
         EXPECT_TRUE(o.bench);
         EXPECT_TRUE(o.audio_enabled);
         EXPECT_FALSE(o.show_gui);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const Parsed p = Parse(c.args);
    EXPECT_EQ(p.action, CommandLineAction::Run);
    c.check(p.options);
  }
}

TEST(CommandLine, IgnoredWordsAndMissingValuesChangeNothing) {
  const std::vector<std::vector<std::string>> cases = {
      {"--scene"},  // last argument: no value, not recognised
      {"--fog"},
      {"--frames"},
      {"--save"},
      {"--tracker-effect"},
      {"--audio-source"},  // not even marked as chosen
      {"--xm-path"},
      {"--Scene", "3"},  // case-sensitive
      {"-scene", "3"},
      {"scene=3"},
      {"--scene=3"},
      {"--show-help", "--hide-help"},
      {"--unknown", "--", "", "-", "--fog2"},
  };
  const Parsed defaults = Parse({});
  for (const auto& args : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const Parsed p = Parse(args);
    EXPECT_EQ(p.action, CommandLineAction::Run);
    EXPECT_EQ(p.options.scene, 1);
    EXPECT_TRUE(p.options.director);
    EXPECT_EQ(p.options.frames, 0u);
    EXPECT_TRUE(p.options.save_path.empty());
    EXPECT_EQ(p.options.tracker_viz_effect, 1);
    EXPECT_FALSE(p.options.audio_source_explicit);
    EXPECT_FALSE(p.options.xm_path_explicit);
    for (int i = 0; i < kSceneCount; ++i) {
      EXPECT_TRUE(SameScene(p.debug[i], defaults.debug[i]));
      EXPECT_TRUE(SameCamera(p.camera[i], defaults.camera[i]));
    }
  }
  // A value-taking option consumes the next argument even when it looks like an option.
  const Parsed p = Parse({"--save", "--windowed"});
  EXPECT_EQ(p.options.save_path, "--windowed");
  EXPECT_TRUE(p.options.fullscreen);
}

TEST(CommandLine, PerSceneOptionsChangeTheSceneChosenSoFar) {
  // --scene 3 --fog 2 changes scene 3; --fog 2 --scene 3 changes scene 1, then selects 3.
  {
    const Parsed p = Parse({"--scene", "3", "--fog", "2"});
    EXPECT_EQ(p.debug[2].fog, 2.0f);
    EXPECT_EQ(p.debug[0].fog, 1.0f);
  }
  {
    const Parsed p = Parse({"--fog", "2", "--scene", "3"});
    EXPECT_EQ(p.options.scene, 3);
    EXPECT_EQ(p.debug[0].fog, 2.0f);
    EXPECT_EQ(p.debug[2].fog, 1.0f);
  }
  {
    // The scene from the settings layer counts until an option changes it.
    AppOptions from_settings;
    from_settings.scene = 6;
    const Parsed p =
        Parse({"--cam-dist", "2", "--tracker-front", "--scene", "2", "--tracker-front"}, from_settings);
    EXPECT_EQ(p.camera[5].dist, 2.0f);
    EXPECT_EQ(p.camera[0].dist, 1.0f);
    EXPECT_EQ(p.options.tracker_layer[5], 0);
    EXPECT_EQ(p.options.tracker_layer[1], 0);
    EXPECT_EQ(p.options.tracker_layer[2], 1);
  }
  {
    // A scene out of range from the settings layer still picks a valid entry.
    AppOptions odd;
    odd.scene = 42;
    const Parsed p = Parse({"--tracker-behind", "--speed", "3"}, odd);
    EXPECT_EQ(p.options.tracker_layer[7], 1);
    EXPECT_EQ(p.debug[7].speed, 3.0f);
  }
}

TEST(CommandLine, PerSceneOptionsUseTheSceneRanges) {
  struct Case {
    std::vector<std::string> args;
    std::function<void(const DebugParams&, const SceneCameraParams&)> check;
  };
  const Case cases[] = {
      {{"--density", "0"},
       [](const DebugParams& d, const SceneCameraParams&) { EXPECT_EQ(d.dot_density, 0.03f); }},
      {{"--dot-size", "10"},
       [](const DebugParams& d, const SceneCameraParams&) { EXPECT_EQ(d.dot_size, 4.0f); }},
      {{"--dot-alpha", "0.5"},
       [](const DebugParams& d, const SceneCameraParams&) { EXPECT_EQ(d.dot_alpha, 0.5f); }},
      {{"--trail", "1"}, [](const DebugParams& d, const SceneCameraParams&) { EXPECT_EQ(d.trail, 0.98f); }},
      {{"--no-ship-odd-even"},
       [](const DebugParams& d, const SceneCameraParams&) { EXPECT_FALSE(d.ship_odd_even); }},
      {{"--no-dropship-odd-even", "--dropship-odd-even"},
       [](const DebugParams& d, const SceneCameraParams&) { EXPECT_TRUE(d.ship_odd_even); }},
      {{"--ray-density", "0"},
       [](const DebugParams& d, const SceneCameraParams&) { EXPECT_EQ(d.ray_density, 0.25f); }},
      {{"--terrain-height", "2"},
       [](const DebugParams& d, const SceneCameraParams&) { EXPECT_EQ(d.terrain_height, 2.0f); }},
      {{"--terrain-width", "9"},
       [](const DebugParams& d, const SceneCameraParams&) { EXPECT_EQ(d.terrain_width, 2.5f); }},
      {{"--terrain-detail", "-1"},
       [](const DebugParams& d, const SceneCameraParams&) { EXPECT_EQ(d.terrain_detail, 0.0f); }},
      {{"--terrain-floor", "abc"},
       [](const DebugParams& d, const SceneCameraParams&) { EXPECT_EQ(d.terrain_floor, 0.0f); }},
      {{"--fog", "4"}, [](const DebugParams& d, const SceneCameraParams&) { EXPECT_EQ(d.fog, 3.0f); }},
      {{"--horizon", "0.5"},
       [](const DebugParams& d, const SceneCameraParams&) { EXPECT_EQ(d.horizon, 0.25f); }},
      {{"--bank", "-3"}, [](const DebugParams& d, const SceneCameraParams&) { EXPECT_EQ(d.bank, -2.0f); }},
      {{"--no-large-features"},
       [](const DebugParams& d, const SceneCameraParams&) { EXPECT_FALSE(d.large_features); }},
      {{"--interlace"}, [](const DebugParams& d, const SceneCameraParams&) { EXPECT_TRUE(d.interlace); }},
      {{"--interlace", "--no-interlace"},
       [](const DebugParams& d, const SceneCameraParams&) { EXPECT_FALSE(d.interlace); }},
      // The step's value is consumed (not read as an option) and the step stays 2.
      {{"--interlace-step", "--shadows"},
       [](const DebugParams& d, const SceneCameraParams&) {
         EXPECT_EQ(d.interlace_step, 2);
         EXPECT_FALSE(d.shadows);
       }},
      {{"--shadows"}, [](const DebugParams& d, const SceneCameraParams&) { EXPECT_TRUE(d.shadows); }},
      {{"--shadows", "--no-shadows"},
       [](const DebugParams& d, const SceneCameraParams&) { EXPECT_FALSE(d.shadows); }},
      {{"--shadow-strength", "2"},
       [](const DebugParams& d, const SceneCameraParams&) { EXPECT_EQ(d.shadow_strength, 1.0f); }},
      {{"--shadow-length", "100"},
       [](const DebugParams& d, const SceneCameraParams&) { EXPECT_EQ(d.shadow_length, 80.0f); }},
      {{"--sun-angle", "-4"},
       [](const DebugParams& d, const SceneCameraParams&) { EXPECT_EQ(d.sun_angle, -3.1415927f); }},
      {{"--speed", "2.5"}, [](const DebugParams& d, const SceneCameraParams&) { EXPECT_EQ(d.speed, 2.5f); }},
      {{"--cam-dist", "0"}, [](const DebugParams&, const SceneCameraParams& c) { EXPECT_EQ(c.dist, 0.35f); }},
      {{"--cam-height", "-40"},
       [](const DebugParams&, const SceneCameraParams& c) { EXPECT_EQ(c.height, -40.0f); }},
      {{"--cam-side", "7"}, [](const DebugParams&, const SceneCameraParams& c) { EXPECT_EQ(c.side, 7.0f); }},
      {{"--cam-forward", "1000"},
       [](const DebugParams&, const SceneCameraParams& c) { EXPECT_EQ(c.forward, 1000.0f); }},
      {{"--cam-yaw", "0.3"}, [](const DebugParams&, const SceneCameraParams& c) { EXPECT_EQ(c.yaw, 0.3f); }},
      {{"--fov-off", "90"},
       [](const DebugParams&, const SceneCameraParams& c) { EXPECT_EQ(c.fov_off, 45.0f); }},
  };
  const Parsed defaults = Parse({});
  for (const Case& c : cases) {
    // Each case on scene 5 (after --scene 5), checking that no other scene changed.
    std::vector<std::string> args = {"--scene", "5"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(::testing::PrintToString(args));
    const Parsed p = Parse(args);
    c.check(p.debug[4], p.camera[4]);
    for (int i = 0; i < kSceneCount; ++i) {
      if (i == 4) continue;
      EXPECT_TRUE(SameScene(p.debug[i], defaults.debug[i])) << "scene " << i + 1;
      EXPECT_TRUE(SameCamera(p.camera[i], defaults.camera[i])) << "scene " << i + 1;
    }
  }
}

TEST(CommandLine, HelpStopsParsing) {
  const Parsed p = Parse({"--scene", "4", "--help", "--scene", "6"});
  EXPECT_EQ(p.action, CommandLineAction::ShowHelp);
  EXPECT_EQ(p.options.scene, 4);
  EXPECT_EQ(Parse({"--save", "--help"}).action, CommandLineAction::Run);  // consumed as a path
}

TEST(CommandLine, NoArgumentsAtAll) {
  AppOptions options;
  DebugParams debug[kSceneCount];
  SceneCameraParams camera[kSceneCount];
  EXPECT_EQ(ParseCommandLine(0, nullptr, options, debug, camera), CommandLineAction::Run);
  char* argv_null[] = {nullptr};
  EXPECT_EQ(ParseCommandLine(0, argv_null, options, debug, camera), CommandLineAction::Run);
  EXPECT_EQ(options.scene, 1);
}

// The usage text, written out independently of the program's own copy.
const char kExpectedUsage[] =
    "Usage: ./kestrel_prod [--scene 1..8] [--frames N] [--save out.ppm] [--fullscreen|--windowed]\n"
    "          [--density X] [--dot-size X] [--dot-alpha X] [--trail X]\n"
    "          [--ship-odd-even] [--no-ship-odd-even]\n"
    "          [--ray-density X] [--terrain-height X] [--fog X] [--speed X]\n"
    "          [--terrain-width X] [--terrain-detail X] [--terrain-floor X] [--horizon X] [--bank X]\n"
    "          [--large-features] [--no-large-features]\n"
    "          [--interlace] [--no-interlace]\n"
    "          [--shadows] [--no-shadows] [--shadow-strength X] [--shadow-length X] [--sun-angle X]\n"
    "          [--cam-dist X] [--cam-height X] [--cam-side X]\n"
    "          [--cam-forward X] [--cam-yaw X] [--fov-off X] [--hide-gui]\n"
    "          [--no-audio] [--audio-source xm|synth] [--xm-path file.xm|file.mod]\n"
    "          [--sequence file.txt]\n"
    "          [--audio-bpm X] [--audio-gain X]\n"
    "          [--director] [--no-director] [--bar-offset X] [--dj-board]\n"
    "          [--hide-tracker] [--tracker-panel|--tracker-wall|--tracker-assembly] "
    "[--tracker-front|--tracker-behind]\n"
    "          [--tracker-border|--tracker-no-border] [--tracker-effect clean|glow|splat]\n"
    "          [--tracker-assembly-region "
    "full|top|bottom|left|right|top-left|top-right|bottom-left|bottom-right]\n"
    "          [--tracker-opacity X] [--tracker-x X] [--tracker-y X] [--tracker-rows N] [--bench]\n"
    "          [--capture out.y4m|-|dir] [--capture-fps F] [--capture-scale 1|2|3] "
    "[--capture-audio out.wav] [--capture-report out.csv]\n"
    "Keys: F11 fullscreen, Space freeze, M audio, D director, 1-8 manual scenes, Left/Right +/-4 bars,\n"
    "      PgUp/PgDn sections, Home/End timeline, R reset, Esc quit; finale: any key restarts.\n";

TEST(CommandLine, UsageTextIsExact) {
  EXPECT_EQ(UsageText("./kestrel_prod"), kExpectedUsage);
  // The program name is inserted as text, not as a format.
  const std::string odd = UsageText("/tmp/100%s dir/prog");
  EXPECT_EQ(odd.rfind("Usage: /tmp/100%s dir/prog [--scene 1..8]", 0), 0u);
  EXPECT_EQ(odd.size(), std::string(kExpectedUsage).size() - std::string("./kestrel_prod").size() +
                            std::string("/tmp/100%s dir/prog").size());
}

TEST(CommandLine, ProgramPrintsUsageAndExitsWithHelp) {
  // The real program: usage on standard output, nothing on standard error, status 0, and the
  // options after --help never reach the show (it would open a window otherwise).
  const std::string program = std::string(KESTREL_BINARY_DIR) + "/kestrel_prod";
  const std::string command = "'" + program + "' --scene 3 --help --frames 1 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  const int status = pclose(pipe);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  std::string expected = kExpectedUsage;
  expected.replace(expected.find("./kestrel_prod"), std::string("./kestrel_prod").size(), program);
  EXPECT_EQ(output, expected);
}

}  // namespace
