#include "app/app.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "app/frame_capture.h"
#include "app/synth_assets.h"
#include "config/command_line.h"
#include "config/settings.h"
#include "overlays/title_overlay.h"
#include "render/noise.h"

namespace {

constexpr int32_t kWindowWidth = 1280;
constexpr int32_t kWindowHeight = 720;
constexpr double kTitleInterval = 0.12;  // seconds between window-title refreshes
constexpr double kFpsSmoothing = 0.08;   // weight of the newest frame in the FPS average
constexpr Vec3 kBlack{0.0f, 0.0f, 0.0f};

}  // namespace

App::App(int argc, char** argv, const PlatformFactory& make_platform) {
  // 1. The framebuffers are built black by their initialisers; scene objects and music sources
  //    are constructed here.
  // 2. Defaults: the initialisers of the options and of the per-scene records.

  // 3. Data files are looked up next to the executable as well as in the working directory.
  exe_path = (argc >= 1 && argv && argv[0]) ? argv[0] : "";
  assets.SetBase(exe_path);

  // 4. The synthesiser finds and reads its files through the asset store.
  ConnectSynthToAssets(*synth, assets);

  // 5. The settings files override the defaults.
  SettingsFileAccess files;
  files.resolve_path = [this](const std::string& name) { return assets.ResolvePath(name); };
  files.exists = [](const std::string& path) { return AssetStore::Exists(path); };
  files.read_text = [this](const std::string& path, std::string& text) {
    return assets.ReadText(path, text);
  };
  LoadSettings(options, debug_params, camera_params, files);

  // 6. The command line overrides the settings.
  if (ParseCommandLine(argc, argv, options, debug_params, camera_params) ==
      CommandLineAction::ShowHelp) {
    std::fputs(UsageText(exe_path).c_str(), stdout);
    std::exit(0);
  }

  // 7. The sequence; it may choose the music source and module where the command line did not.
  options.sequence_path = assets.ResolvePath(options.sequence_path);
  const MusicSelection music{options.audio_source, options.audio_source_explicit, options.xm_path,
                             options.xm_path_explicit};
  LoadSequence(assets, options.sequence_path, music, sequence);

  // 8. The module path, located once.
  options.xm_path = assets.ResolvePath(options.xm_path);

  // 9. The window, unless this is a bench run or a capture.
  if (!options.bench && !Capturing()) {
    PlatformConfig config;
    config.width = kWindowWidth;
    config.height = kWindowHeight;
    config.title = kProductionName;
    config.vsync = true;
    config.fullscreen = options.fullscreen;
    platform = make_platform(config);
    if (!platform) throw std::bad_alloc();
    last_time = platform->Time();
  }

  // The noise table of the canyon and its sky is built now, once, rather than inside the first
  // frame that samples it: that frame would take a tenth of a second longer than the rest.
  NoiseTable();
  // Likewise the arena's scratch planes: touching their 2.8 MB for the first time costs several
  // milliseconds of page faults on some machines, too much for the first frame of scene 2.
  objects.PrepareScratch(frame.width, frame.height);
  PrepareCoarseGlow(overlay_glow, frame.width, frame.height);

  // 10, 11. Music.
  ConfigureAudio();
  if (options.audio_enabled && !options.bench && !RestartAudio()) options.audio_enabled = false;
}

App::~App() {
  // The music stops before the window goes; the rest is released in reverse declaration order.
  synth->Stop();
  xm->Stop();
  platform.reset();
}

// ---- Music sources -----------------------------------------------------------------------------

void App::ConfigureAudio() {
  // The synthesiser loops bars 100 to 116 so its music keeps cycling while the finale runs.
  synth->SetTempo(options.audio_bpm);
  synth->SetMasterVolume(options.audio_gain);
  synth->SetMusicLevel(1.0f);
  synth->SetSpeed(1.0f);
  synth->SetLoopRegion(100.0f, 116.0f);
  synth->SetTrackPath(assets.ResolvePath(kDefaultSynthTrackPath));
  // The module comes through the asset layer (a pack or the manifest may hold it); when no
  // source has it the player tries the path itself and reports what it could not load.
  std::vector<uint8_t> module_bytes;
  if (assets.ReadAsset(options.xm_path, module_bytes) && !module_bytes.empty()) {
    xm->SetModuleData(options.xm_path, std::move(module_bytes));
  } else {
    xm->SetModulePath(options.xm_path);
  }
  xm->SetVolume(options.audio_gain);
}

bool App::RestartAudio() {
  StopAudio();
  ConfigureAudio();
  const bool module = options.audio_source == kAudioSourceModule;
  if (Capturing()) {
    // The capture pulls the music block by block itself, through the device's render code.
    if (!(module ? xm->BeginOfflineRender() : synth->BeginOfflineRender())) return false;
    offline_music = true;
  } else if (!(module ? xm->Start() : synth->Start())) {
    return false;
  }

  // A start bar chosen while no music played (--bar-offset, or a seek while stopped).
  if (std::fabs(options.bar_offset) > 0.001f) {
    const float bar = PendingStartBar(options.bar_offset, options.audio_bpm);
    if (SeekSource(bar)) options.bar_offset = 0.0f;
  }
  return true;
}

void App::StopAudio() {
  synth->Stop();
  xm->Stop();
  offline_music = false;
}

void App::RenderMusicOffline(float* out, std::uint32_t frames) {
  if (offline_music && options.audio_source == kAudioSourceSynth) {
    synth->RenderOffline(out, frames);
    return;
  }
  if (offline_music && options.audio_source == kAudioSourceModule) {
    xm->RenderOffline(out, frames);
    return;
  }
  std::fill(out, out + static_cast<std::size_t>(frames) * kAudioChannels, 0.0f);
}

// ---- Director ----------------------------------------------------------------------------------

Director App::DirectorView() {
  DirectorConfig& c = director_config;
  c.sections = sequence.sections;
  c.cues = sequence.cues;
  c.loop_bars = sequence.loop_bars;
  c.audio_bpm = options.audio_bpm;
  c.audio_gain = options.audio_gain;
  c.audio_source = options.audio_source;
  c.bench = options.bench;
  c.has_platform = platform != nullptr || Capturing();  // a capture runs on its frame clock
  c.director = options.director;
  c.scene = options.scene;
  c.club_stage_preview = options.club_stage_preview;
  return Director{director_state, director_config, *this, options.bar_offset, options.audio_enabled};
}

MusicViz App::BuildMusicViz() { return DirectorView().BuildMusicViz(); }

int App::ActiveScene(const MusicViz& mv) { return DirectorView().ActiveScene(mv); }

double App::Now() {
  if (platform) return platform->Time();
  return Capturing() ? capture_clock : 0.0;
}

uint64_t App::FrameCount() { return frame_count; }

// The selected source is the synthesiser or the module player (one bar per order).
bool App::SourcePlaying() {
  if (options.audio_source == kAudioSourceModule) return xm->IsPlaying() || offline_music;
  return options.audio_source == kAudioSourceSynth && (synth->IsPlaying() || offline_music);
}

float App::SourceBars() {
  if (options.audio_source == kAudioSourceModule) return xm->GetPosition().bars;
  return options.audio_source == kAudioSourceSynth ? synth->GetPosition().bars : 0.0f;
}

TrackerSnapshot App::SourceSnapshot() {
  if (options.audio_source == kAudioSourceModule) return xm->GetVizSnapshot();
  return options.audio_source == kAudioSourceSynth ? synth->GetVizSnapshot() : TrackerSnapshot{};
}

bool App::SeekSource(float bar) {
  if (options.audio_source == kAudioSourceModule) return xm->SeekToOrder(bar);
  return options.audio_source == kAudioSourceSynth && synth->SeekToBar(bar);
}

void App::SetSynthMasterVolume(float volume) { synth->SetMasterVolume(volume); }

void App::SetSynthMusicLevel(float level) { synth->SetMusicLevel(level); }

void App::SetSynthSpeed(float speed) { synth->SetSpeed(speed); }

void App::SetModuleVolume(float volume) { xm->SetVolume(volume); }

void App::ClearFramebuffers() {
  frame.Fill(kBlack);
  glow.Fill(kBlack);
  trail.Fill(kBlack);
}

// ---- Frame loop --------------------------------------------------------------------------------

int App::Run() {
  if (options.bench) return RunBench();
  if (Capturing()) return RunCapture();

  while (!platform->ShouldClose()) {
    // Clock and smoothed frames per second; deltas outside (0, 1) s are pauses, not frames.
    const double now = platform->Time();
    const double dt = last_time > 0 ? now - last_time : 0.0;
    last_time = now;
    if (frame_count > 0 && dt > 0 && dt < 1) {
      const double inst = 1.0 / dt;
      fps = fps <= 0 ? inst : fps + (inst - fps) * kFpsSmoothing;
    }

    // Input, keys and the finale.
    platform->PollEvents();
    HandleKeys();
    DirectorView().UpdateFinale();

    if (now - last_title_time >= kTitleInterval) {
      last_title_time = now;
      UpdateTitle();
    }

    // Render, present, show.
    const double t = DirectorView().FrameTime(now);
    RenderFrame(static_cast<float>(t));
    platform->Present(frame);
    platform->SwapBuffers();

    // The frame limit: save the frame just shown, then close.
    frame_count += 1;
    if (options.frames != 0 && frame_count >= options.frames) {
      if (!options.save_path.empty() && !WritePpm(frame, options.save_path))
        std::fprintf(stderr, "Could not save %s\n", options.save_path.c_str());
      platform->RequestClose();
    }
  }
  return 0;
}

void App::RenderFrame(float t) {
  // 1. After the finale: black until a key restarts the show.
  if (director_state.finished) {
    ClearFramebuffers();
    frame.ResolveRgba8();
    return;
  }

  Director director = DirectorView();

  // 2. The music record of this frame.
  MusicViz mv = director.BuildMusicViz();

  // 3, 4. The active scene and its parameters.
  const int active = director.ActiveScene(mv);
  const int i = std::clamp(active - 1, 0, kSceneCount - 1);
  const DebugParams& params = debug_params[i];
  const SceneCameraParams& cam = camera_params[i];

  // 5, 6. Scene 1 never shows the tracker display.
  const bool behind = active != 1 && options.tracker_viz && options.tracker_layer[i] == 1;
  const bool changed = active != previous_scene;
  const uint64_t frame_index = director_state.frozen ? director_state.frozen_frame_count : frame_count;
  previous_scene = active;
  mv.scene = active;

  // 7. Time since the start of the current scene's run of sections.
  const SectionClock clock = SectionRelativeTime(sequence.sections, sequence.loop_bars,
                                                 options.director, mv.bar, options.audio_bpm, t);
  mv.section_bar = clock.section_bar;
  mv.section_time = clock.section_time;

  // 8. The sibling production's storyboard replaces the scene when its image exists; it skips
  //    the overlays and the fade (never drawn in this production).
  if (DrawStoryboardScene(*this, t, mv)) {
    if (!options.bench && active != 1 && options.tracker_viz) DrawTrackerViz(active);
    frame.ResolveRgba8();
    return;
  }

  // 9. The tracker display under the scene.
  if (behind && !options.bench) DrawTrackerViz(active);

  // 10. The scene. Scenes draw over what is there; each decides how much of the last image stays.
  if (active == 1) {
    // Clears the trail on the scene's first frame, decays it, draws, adds the trail on top.
    DrawCanyonFlight(canyon, frame, trail, t, params, cam, mv, frame_index, changed);
  } else {
    trail.Clear();  // black already on all but the first frame after scene 1
    // The other scenes fade what is there themselves (their light trails).
    if (active == 2) objects.Draw(frame, t, params, cam, mv);
    if (active == 3) canyon.DrawDotField(frame, t, params, cam, mv, frame_index);
    if (active >= 4) stage.Draw(frame, t, params, cam, mv);
  }

  // 11. The tracker display over the scene.
  if (!options.bench && active != 1 && !behind) DrawTrackerViz(active);

  // 12. Title, credits, greetings and oracle subtitles; in the sibling production its vector
  //     greetings and the bloom that ends its frame instead.
  DrawTitleOverlay(*this, t, mv);
  DrawVectorGreetings(*this, t, mv);
  FinishSiblingFrame(*this);

  // 13. The end of the show fades to black.
  const float fade = director.FadeToBlack();
  if (fade > 0.001f)
    frame.BlendRect(0, 0, static_cast<int>(frame.width), static_cast<int>(frame.height), kBlack,
                    fade);

  // 14. Resolve for display and capture.
  frame.ResolveRgba8();
}
