// Settings files: the key dispatcher (general keys, sceneN_/camN_/cam_ prefixes, the all-scenes
// rule, exact key text), the layering of base file, local file and command line, and damaged
// inputs that must be survived with every value still in its range.

#include "config/settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "config/command_line.h"

namespace {

// The App's configuration targets, with defaults.
struct Config {
  AppOptions options;
  DebugParams debug[kSceneCount];
  SceneCameraParams camera[kSceneCount];

  bool Set(const std::string& key, const std::string& value) {
    return ApplySetting(options, debug, camera, key, value);
  }
  void Text(const std::string& text) { ApplySettingsText(options, debug, camera, text); }
};

// In-memory files behind the same access the App builds on its asset store. Names resolve to
// "/show/<name>", as the asset store would locate them next to the executable.
struct FakeFiles {
  std::map<std::string, std::string> files;  // resolved path -> text
  std::map<std::string, bool> unreadable;    // exists but cannot be read

  SettingsFileAccess Access() {
    SettingsFileAccess access;
    access.resolve_path = [](const std::string& name) { return "/show/" + name; };
    access.exists = [this](const std::string& path) {
      return files.count(path) != 0 || unreadable.count(path) != 0;
    };
    access.read_text = [this](const std::string& path, std::string& text) {
      const auto it = files.find(path);
      if (it == files.end()) return false;
      text = it->second;
      return true;
    };
    return access;
  }
};

const std::string kBase = std::string("/show/") + kSettingsPath;
const std::string kLocal = std::string("/show/") + kLocalSettingsPath;

TEST(Settings, GeneralKeys) {
  struct Case {
    const char* key;
    const char* value;
    bool known;
    std::function<void(const AppOptions&)> check;
  };
  const Case cases[] = {
      {"scene", "5", true,
       [](const AppOptions& o) {
         EXPECT_EQ(o.scene, 5);
         EXPECT_TRUE(o.director);
       }},
      {"scene", "12", true, [](const AppOptions& o) { EXPECT_EQ(o.scene, 8); }},
      {"scene", "-1", true, [](const AppOptions& o) { EXPECT_EQ(o.scene, 1); }},
      {"audio_source", "module", true,
       [](const AppOptions& o) {
         EXPECT_EQ(o.audio_source, kAudioSourceModule);
         EXPECT_FALSE(o.audio_source_explicit);
       }},
      {"audio_source", "XM", true,
       [](const AppOptions& o) { EXPECT_EQ(o.audio_source, kAudioSourceModule); }},
      {"audio_source", "organ", true,
       [](const AppOptions& o) { EXPECT_EQ(o.audio_source, kAudioSourceSynth); }},
      {"xm_path", "my song.xm", true,
       [](const AppOptions& o) {
         EXPECT_EQ(o.xm_path, "my song.xm");
         EXPECT_FALSE(o.xm_path_explicit);
       }},
      {"xm_path", "", true, [](const AppOptions& o) { EXPECT_EQ(o.xm_path, "data/modules/KOBALT.XM"); }},
      {"xm_path", "song.xm\r", true, [](const AppOptions& o) { EXPECT_EQ(o.xm_path, "song.xm\r"); }},
      {"sequence_path", "s.txt", true, [](const AppOptions& o) { EXPECT_EQ(o.sequence_path, "s.txt"); }},
      {"sequence_path", "", true,
       [](const AppOptions& o) { EXPECT_EQ(o.sequence_path, "data/kestrel/kestrel_sequence.txt"); }},
      {"director", "0", true, [](const AppOptions& o) { EXPECT_FALSE(o.director); }},
      {"director", "true", true, [](const AppOptions& o) { EXPECT_FALSE(o.director); }},  // reads as 0
      {"club_stage_preview", "2", true, [](const AppOptions& o) { EXPECT_TRUE(o.club_stage_preview); }},
      {"show_gui", "1", true, [](const AppOptions& o) { EXPECT_TRUE(o.show_gui); }},
      {"show_audio_gui", "1", true,
       [](const AppOptions& o) {
         EXPECT_TRUE(o.show_audio_gui);
         EXPECT_FALSE(o.show_gui);
       }},
      {"tracker_viz", "0", true, [](const AppOptions& o) { EXPECT_FALSE(o.tracker_viz); }},
      {"tracker_viz_mode", "7", true, [](const AppOptions& o) { EXPECT_EQ(o.tracker_viz_mode, 2); }},
      {"tracker_viz_effect", "-4", true, [](const AppOptions& o) { EXPECT_EQ(o.tracker_viz_effect, 0); }},
      {"tracker_viz_border", "0", true, [](const AppOptions& o) { EXPECT_FALSE(o.tracker_viz_border); }},
      {"tracker_viz_x", "1000", true, [](const AppOptions& o) { EXPECT_EQ(o.tracker_viz_x, 624); }},
      {"tracker_viz_y", " 17", true,
       [](const AppOptions& o) { EXPECT_EQ(o.tracker_viz_y, 17); }},  // atoi skips spaces
      {"tracker_viz_rows", "2", true, [](const AppOptions& o) { EXPECT_EQ(o.tracker_viz_rows, 5); }},
      {"tracker_assembly_region", "tr", true,
       [](const AppOptions& o) { EXPECT_EQ(o.tracker_assembly_region, 6); }},
      {"tracker_assembly_region", "8", true,
       [](const AppOptions& o) { EXPECT_EQ(o.tracker_assembly_region, 8); }},
      {"tracker_assembly_region", "top\r", true,
       [](const AppOptions& o) { EXPECT_EQ(o.tracker_assembly_region, 0); }},
      {"tracker_viz_opacity", "1.5", true,
       [](const AppOptions& o) { EXPECT_EQ(o.tracker_viz_opacity, 1.0f); }},
      {"tracker_viz_opacity", "0.5", true,
       [](const AppOptions& o) { EXPECT_EQ(o.tracker_viz_opacity, 0.5f); }},
      {"tracker_viz_scene4_layer", "7", true,
       [](const AppOptions& o) {
         EXPECT_EQ(o.tracker_layer[3], 1);
         EXPECT_EQ(o.tracker_layer[4], 0);
       }},
      {"tracker_viz_scene2_layer", "0", true,
       [](const AppOptions& o) {
         EXPECT_EQ(o.tracker_layer[1], 0);
         EXPECT_EQ(o.tracker_layer[2], 1);
       }},
      {"tracker_viz_layer", "0", true,
       [](const AppOptions& o) {
         for (int l : o.tracker_layer) EXPECT_EQ(l, 0);
       }},
      {"tracker_viz_layer", "3", true,
       [](const AppOptions& o) {
         for (int l : o.tracker_layer) EXPECT_EQ(l, 1);
       }},
      // Unknown: exact text only, and only the listed scene numbers.
      {"Scene", "5", false, [](const AppOptions& o) { EXPECT_EQ(o.scene, 1); }},
      {"scene ", "5", false, [](const AppOptions& o) { EXPECT_EQ(o.scene, 1); }},
      {"tracker_viz_scene9_layer", "0", false, [](const AppOptions& o) { EXPECT_EQ(o.tracker_layer[1], 1); }},
      {"tracker_viz_scene0_layer", "1", false, [](const AppOptions& o) { EXPECT_EQ(o.tracker_layer[0], 0); }},
      {"tracker_viz_scene2_layers", "0", false,
       [](const AppOptions& o) { EXPECT_EQ(o.tracker_layer[1], 1); }},
      {"bench", "1", false, [](const AppOptions& o) { EXPECT_FALSE(o.bench); }},
      {"frames", "10", false, [](const AppOptions& o) { EXPECT_EQ(o.frames, 0u); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.value);
    Config config;
    EXPECT_EQ(config.Set(c.key, c.value), c.known);
    c.check(config.options);
  }
}

TEST(Settings, SceneAndCameraPrefixes) {
  struct Case {
    std::string text;
    std::function<void(const Config&)> check;
  };
  const Case cases[] = {
      {"fog=2\n",
       [](const Config& c) {
         for (const auto& d : c.debug) EXPECT_EQ(d.fog, 2.0f);
       }},
      {"scene5_fog=2\n",
       [](const Config& c) {
         for (int i = 0; i < kSceneCount; ++i) EXPECT_EQ(c.debug[i].fog, i == 4 ? 2.0f : 1.0f) << i;
       }},
      {"fog=2\nscene5_fog=0.5\n",
       [](const Config& c) {
         for (int i = 0; i < kSceneCount; ++i) EXPECT_EQ(c.debug[i].fog, i == 4 ? 0.5f : 2.0f) << i;
       }},
      {"scene5_fog=0.5\nfog=2\n",
       [](const Config& c) {
         for (const auto& d : c.debug) EXPECT_EQ(d.fog, 2.0f);
       }},
      {"fog = 2\n",
       [](const Config& c) {
         for (const auto& d : c.debug) EXPECT_EQ(d.fog, 1.0f);
       }},
      {"fog=2\r\n",
       [](const Config& c) {
         for (const auto& d : c.debug) EXPECT_EQ(d.fog, 2.0f);
       }},
      {"scene1_trail=1\nscene8_trail=0\n",
       [](const Config& c) {
         EXPECT_EQ(c.debug[0].trail, 0.98f);
         EXPECT_EQ(c.debug[7].trail, 0.15f);
         EXPECT_EQ(c.debug[3].trail, 0.84f);
       }},
      {"scene3_dropship_odd_even=0\nbank_amount=9\n",
       [](const Config& c) {
         EXPECT_FALSE(c.debug[2].ship_odd_even);
         EXPECT_TRUE(c.debug[1].ship_odd_even);
         for (const auto& d : c.debug) EXPECT_EQ(d.bank, 2.0f);
       }},
      {"interlace_step=5\nscene2_interlace=1\n",
       [](const Config& c) {
         for (const auto& d : c.debug) EXPECT_EQ(d.interlace_step, 2);
         EXPECT_TRUE(c.debug[1].interlace);
         EXPECT_FALSE(c.debug[0].interlace);
       }},
      {"cam_dist=3\n",
       [](const Config& c) {
         for (const auto& cam : c.camera) EXPECT_EQ(cam.dist, 2.5f);
       }},
      {"cam2_dist=0\n",
       [](const Config& c) {
         for (int i = 0; i < kSceneCount; ++i) EXPECT_EQ(c.camera[i].dist, i == 1 ? 0.35f : 1.0f) << i;
       }},
      {"cam_yaw=0.5\ncam8_yaw=-1\n",
       [](const Config& c) {
         EXPECT_EQ(c.camera[0].yaw, 0.5f);
         EXPECT_EQ(c.camera[7].yaw, -1.0f);
       }},
      {"fov_off=90\n",
       [](const Config& c) {
         for (const auto& cam : c.camera) EXPECT_EQ(cam.fov_off, 45.0f);
       }},
      {"cam4_fov_off=-50\n",
       [](const Config& c) {
         EXPECT_EQ(c.camera[3].fov_off, -28.0f);
         EXPECT_EQ(c.camera[0].fov_off, 0.0f);
       }},
      // A scene key given after scene=N still sets every scene.
      {"scene=6\nshadows=1\n",
       [](const Config& c) {
         for (const auto& d : c.debug) EXPECT_TRUE(d.shadows);
       }},
      // Prefixes with numbers outside 1..8 are plain unknown keys.
      {"scene9_fog=2\ncam0_dist=2\ncam9_dist=2\n",
       [](const Config& c) {
         for (const auto& d : c.debug) EXPECT_EQ(d.fog, 1.0f);
         for (const auto& cam : c.camera) EXPECT_EQ(cam.dist, 1.0f);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Config config;
    config.Text(c.text);
    c.check(config);
  }
}

TEST(Settings, WhichKeysAreKnown) {
  struct Case {
    const char* key;
    bool known;
  };
  const Case cases[] = {
      {"fog", true},
      {"fog ", false},
      {" fog", false},
      {"FOG", false},
      {"scene3_fog", true},
      {"scene3_dist", false},
      {"scene3_", false},
      {"scene3fog", false},
      {"cam3_dist", true},
      {"cam3_fog", false},
      {"cam3_", false},
      {"cam_dist", true},
      {"cam_anything", true},  // an all-camera key reports itself known whatever follows
      {"dropship_backface", true},
      {"scene2_dropship_backface_cull", true},
      {"fov_off", true},
      {"dist", false},
      {"", false},
      {"=", false},
  };
  for (const Case& c : cases) {
    Config config;
    EXPECT_EQ(config.Set(c.key, "1"), c.known) << "'" << c.key << "'";
  }
}

TEST(Settings, LinesAreSplitAtTheFirstEquals) {
  Config config;
  config.Text("xm_path=a=b.xm\nno equals here\n\n=\n==\nsequence_path=x.txt");  // last line has no line feed
  EXPECT_EQ(config.options.xm_path, "a=b.xm");
  EXPECT_EQ(config.options.sequence_path, "x.txt");
}

TEST(Settings, LayeringOfBaseLocalAndCommandLine) {
  // Nothing present.
  {
    FakeFiles files;
    Config c;
    LoadSettings(c.options, c.debug, c.camera, files.Access());
    EXPECT_EQ(c.options.settings_status, "No settings file");
    EXPECT_EQ(c.options.settings_path, kBase);
  }
  // Base only.
  {
    FakeFiles files;
    files.files[kBase] = "scene=4\nfog=2\n";
    Config c;
    LoadSettings(c.options, c.debug, c.camera, files.Access());
    EXPECT_EQ(c.options.settings_status, "Loaded " + kBase);
    EXPECT_EQ(c.options.settings_path, kBase);
    EXPECT_EQ(c.options.scene, 4);
    EXPECT_EQ(c.debug[6].fog, 2.0f);
  }
  // Local only: its keys apply and it is the file in use.
  {
    FakeFiles files;
    files.files[kLocal] = "scene=7\n";
    Config c;
    LoadSettings(c.options, c.debug, c.camera, files.Access());
    EXPECT_EQ(c.options.scene, 7);
    EXPECT_EQ(c.options.settings_path, kLocal);
    EXPECT_EQ(c.options.settings_status, "Loaded " + kLocal);
  }
  // Local present but unreadable: the base still applies.
  {
    FakeFiles files;
    files.files[kBase] = "scene=3\n";
    files.unreadable[kLocal] = true;
    Config c;
    LoadSettings(c.options, c.debug, c.camera, files.Access());
    EXPECT_EQ(c.options.scene, 3);
    EXPECT_EQ(c.options.settings_path, kLocal);
    EXPECT_EQ(c.options.settings_status, "Could not load " + kLocal);
  }
  // Both: local over base, then the command line over both.
  {
    FakeFiles files;
    files.files[kBase] = "scene=2\nfog=2\ncam_dist=2\ntracker_viz_x=10\naudio_source=xm\n";
    files.files[kLocal] = "scene=3\nscene3_fog=0.5\n";
    Config c;
    LoadSettings(c.options, c.debug, c.camera, files.Access());
    EXPECT_EQ(c.options.scene, 3);
    EXPECT_EQ(c.debug[2].fog, 0.5f);
    EXPECT_EQ(c.debug[1].fog, 2.0f);
    EXPECT_EQ(c.options.audio_source, kAudioSourceModule);

    // Per-scene options follow the scene from the settings until --scene changes it.
    std::vector<std::string> args = {"kestrel_prod", "--cam-dist", "0.5",         "--scene", "5",
                                     "--fog",        "3",          "--tracker-x", "20"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    ParseCommandLine(static_cast<int>(argv.size()), argv.data(), c.options, c.debug, c.camera);
    EXPECT_EQ(c.options.scene, 5);
    EXPECT_FALSE(c.options.director);
    EXPECT_EQ(c.camera[2].dist, 0.5f);
    EXPECT_EQ(c.camera[4].dist, 2.0f);
    EXPECT_EQ(c.debug[4].fog, 3.0f);
    EXPECT_EQ(c.debug[2].fog, 0.5f);
    EXPECT_EQ(c.options.tracker_viz_x, 20);
  }
}

// Every value a damaged file could leave must still be inside its range.
void ExpectInRange(const Config& c) {
  const AppOptions& o = c.options;
  EXPECT_GE(o.scene, 1);
  EXPECT_LE(o.scene, 8);
  EXPECT_GE(o.tracker_viz_opacity, 0.0f);
  EXPECT_LE(o.tracker_viz_opacity, 1.0f);
  EXPECT_GE(o.tracker_viz_rows, 5);
  EXPECT_LE(o.tracker_viz_rows, 21);
  EXPECT_GE(o.tracker_assembly_region, 0);
  EXPECT_LE(o.tracker_assembly_region, 8);
  for (const DebugParams& d : c.debug) {
    EXPECT_GE(d.fog, 0.0f);
    EXPECT_LE(d.fog, 3.0f);
    EXPECT_GE(d.trail, 0.15f);
    EXPECT_LE(d.trail, 0.98f);
    EXPECT_GE(d.dot_density, 0.03f);
    EXPECT_EQ(d.interlace_step, 2);
  }
  for (const SceneCameraParams& cam : c.camera) {
    EXPECT_TRUE(std::isfinite(cam.yaw) && std::isfinite(cam.height) && std::isfinite(cam.side) &&
                std::isfinite(cam.forward));
    EXPECT_GE(cam.dist, 0.35f);
    EXPECT_LE(cam.dist, 2.5f);
  }
}

TEST(Settings, DamagedInputsAreSurvived) {
  std::vector<std::pair<std::string, std::string>> inputs;
  inputs.emplace_back("empty", "");
  inputs.emplace_back("only separators", std::string(1000, '=') + "\n\n\r\n=");
  const char nul_text[] =
      "fog\0=2\nscene=\0"
      "5\ntrail=nan\n";
  inputs.emplace_back("NUL bytes", std::string(nul_text, sizeof nul_text - 1));
  inputs.emplace_back("non-numbers",
                      "fog=nan\ntrail=-nan\ncam_yaw=inf\ncam3_height=-inf\ncam_dist=nan\n"
                      "tracker_viz_opacity=nan\nscene=99999999999999999999999\n"
                      "tracker_viz_rows=-99999999999999999999\nfog=1e999\ndot_density=-1e999\n");
  {
    std::mt19937 rng(1234);
    std::string bytes(1 << 16, '\0');
    for (char& b : bytes) b = static_cast<char>(rng() & 0xff);
    inputs.emplace_back("random bytes", bytes);
  }
  {
    std::ifstream self(std::string(KESTREL_BINARY_DIR) + "/kestrel_prod", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(self)), std::istreambuf_iterator<char>());
    if (bytes.size() > (4u << 20)) bytes.resize(4u << 20);
    inputs.emplace_back("an executable", bytes);
  }
  inputs.emplace_back("one huge line", std::string(16u << 20, 'k') + "=2");
  {
    std::string many;
    for (int i = 0; i < 200000; ++i)
      many += (i % 3 == 0) ? "no equals on this line\n" : "scene2_fog=2.5\ncam_dist=1e9\n";
    inputs.emplace_back("many lines", many);
  }
  {
    // A long run of lines without "=" followed by one that has it: must stay linear.
    std::string sparse(8u << 20, '\n');
    sparse += "fog=0.25";
    inputs.emplace_back("sparse", sparse);
  }
  for (const auto& [name, text] : inputs) {
    SCOPED_TRACE(name);
    Config c;
    c.Text(text);
    ExpectInRange(c);
  }
  // The sparse file's last line still took effect.
  Config sparse;
  sparse.Text(inputs.back().second);
  EXPECT_EQ(sparse.debug[3].fog, 0.25f);
}

TEST(Settings, FileFromDiskThroughTheReader) {
  // A real file read through the same hook the App uses.
  const std::string path = std::string(KESTREL_TEST_DATA) + "/config/sample_settings.txt";
  SettingsFileAccess access;
  access.read_text = [](const std::string& p, std::string& text) {
    std::ifstream in(p, std::ios::binary);
    if (!in) return false;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
  };
  Config c;
  ASSERT_TRUE(ApplySettingsFile(c.options, c.debug, c.camera, path, access.read_text));
  EXPECT_EQ(c.options.scene, 3);
  EXPECT_FALSE(c.options.director);
  EXPECT_EQ(c.debug[0].fog, 1.5f);
  EXPECT_EQ(c.debug[3].fog, 0.5f);
  EXPECT_EQ(c.camera[1].dist, 2.5f);
  EXPECT_EQ(c.debug[0].dot_size, 1.0f);  // "dot_size = 3" has a key with a space: unknown
  EXPECT_EQ(c.options.tracker_layer[0], 1);
  EXPECT_FALSE(ApplySettingsFile(c.options, c.debug, c.camera, path + ".missing", access.read_text));
  EXPECT_FALSE(ApplySettingsFile(c.options, c.debug, c.camera, path, nullptr));
}

}  // namespace
