#pragma once
// The App owns the whole show: the window, the three software framebuffers, the scenes, both music
// sources, the asset store, the configuration and the timeline. One frame = read the clock, poll
// input, react to keys, advance the finale, refresh the title when due, render one 640 x 360 image
// on the CPU and hand it to the platform.

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "assets/asset_store.h"
#include "audio/runtime_synth.h"
#include "audio/xm_player.h"
#include "config/app_options.h"
#include "config/scene_params.h"
#include "overlays/sibling.h"
#include "platform/platform.h"
#include "render/framebuffer.h"
#include "render/coarse_glow.h"
#include "scenes/canyon.h"
#include "scenes/orb_stage.h"
#include "scenes/objects_scene.h"
#include "timeline/director.h"
#include "timeline/music_viz.h"
#include "timeline/sequence.h"
#include "timeline/status_title.h"

// The image size every framebuffer of the show has, for its whole life.
inline constexpr size_t kFrameWidth = 640;
inline constexpr size_t kFrameHeight = 360;
// The production's name: the window title and the start of the status line. The build sets it
// (the executable's name); it also decides which production's overlays run.
#ifdef KESTREL_PRODUCTION_NAME
inline constexpr const char* kProductionName = KESTREL_PRODUCTION_NAME;
#else
inline constexpr const char* kProductionName = "kestrel_prod";
#endif

class App final : private ShowHost {
 public:
  // Builds and configures everything; opens the window through `make_platform` unless this is a
  // bench run.
  App(int argc, char** argv, const PlatformFactory& make_platform = CreatePlatform);
  // Stops the music, closes the window, then releases the rest in reverse order of construction.
  ~App() override;
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  // The frame loop until the window closes (a bench run instead). Returns the exit status.
  int Run();
  // Renders one image into `frame` for frame time `t` seconds and resolves it to RGBA.
  void RenderFrame(float t);
  // The tracker display for the active scene, into `frame` (never for scene 1, nor when hidden).
  void DrawTrackerViz(int scene);

  // Music sources: configure both, (re)start the selected one, stop both.
  void ConfigureAudio();
  bool RestartAudio() override;
  void StopAudio() override;
  // In a capture: the next `frames` stereo frames of the selected source, rendered offline
  // through the device's own render code; silence when no source plays.
  void RenderMusicOffline(float* out, std::uint32_t frames);

  // Keyboard controls, once per frame after polling events, and the window-title status line.
  void HandleKeys();
  void UpdateTitle();

  // Renders `frames` frames (300 when 0) without window or music and prints the bench line.
  int RunBench();
  // Renders the show offline at a fixed frame rate, the music in step, into the capture outputs
  // (frames, WAV, report). Returns the exit status: 1 when an output cannot be written.
  int RunCapture();
  // A capture run: no window and no audio device; the clock is the capture's frame clock.
  bool Capturing() const { return !options.bench && !options.capture_path.empty(); }

  // The director bound to this App's timeline state for the duration of one call.
  Director DirectorView();
  MusicViz BuildMusicViz();
  int ActiveScene(const MusicViz& mv);

  // Members are public: the App is the one plain owner of the show, and tests look inside it.
  // Declaration order is construction order.
  std::unique_ptr<Platform> platform;           // window and input; null in bench runs
  Framebuffer frame{kFrameWidth, kFrameHeight};  // the image every scene and overlay draws into
  Framebuffer glow{kFrameWidth, kFrameHeight};   // glow layer of the tracker display
  Framebuffer trail{kFrameWidth, kFrameHeight};  // persistence buffer of scene 1
  CoarseGlow overlay_glow;  // the title overlay's wide glow passes, at coarser resolutions
  Canyon canyon;  // scenes 1 and 3
  ObjectsScene objects;  // scene 2; builds its point clouds before the first frame
  OrbStage stage;        // scenes 4 to 8
  std::unique_ptr<RuntimeSynth> synth = std::make_unique<RuntimeSynth>();  // built-in music
  std::unique_ptr<XmPlayer> xm = std::make_unique<XmPlayer>();  // tracker-module music

  AppOptions options;  // every option- and settings-backed member, with its default

  int32_t previous_scene = 0;  // scene rendered by the previous frame
  uint64_t frame_count = 0;    // frames rendered so far
  double last_time = 0;        // platform time of the previous frame, seconds
  double last_title_time = 0;  // platform time of the last title update
  double fps = 0;              // smoothed frames per second
  std::string exe_path;        // argv[0]: base for locating data files

  AssetStore assets;
  SequenceTimeline sequence;    // loop length, sections, cues and the load status

  DebugParams debug_params[kSceneCount];         // per-scene tuning, index scene - 1
  SceneCameraParams camera_params[kSceneCount];  // per-scene camera offsets, index scene - 1
  Storyboard storyboard;  // the sibling production's storyboard images; never filled in this one

  DirectorState director_state;   // finale, freeze and frame-time state of the director
  DirectorConfig director_config;  // refreshed from the options by DirectorView()
  float tracker_flash = 0;         // kept between frames by the tracker assembly layout
  int32_t tracker_last_step = -1;  // last step key seen by the tracker assembly layout
  KeyMemory keys;  // previous state of the edge-triggered keys and of "any key"

  double capture_clock = 0;    // show time of the frame being captured, seconds
  bool offline_music = false;  // a capture renders the selected source offline, in step with frames

 private:
  // ShowHost: what the director asks of the App.
  double Now() override;
  uint64_t FrameCount() override;
  bool SourcePlaying() override;
  float SourceBars() override;
  TrackerSnapshot SourceSnapshot() override;
  bool SeekSource(float bar) override;
  void SetSynthMasterVolume(float volume) override;
  void SetSynthMusicLevel(float level) override;
  void SetSynthSpeed(float speed) override;
  void SetModuleVolume(float volume) override;
  void ClearFramebuffers() override;
};
