// The synthesiser's render callback must never wait or allocate on the audio thread, and a frame
// of the show allocates nothing once it runs. This program replaces the global operator new with a
// counting one, so it lives in a test group of its own.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "audio/runtime_synth.h"
#include "audio/xm_player.h"
#include "overlays/title_overlay.h"
#include "overlays/tracker_viz.h"
#include "overlays/sibling.h"
#include "render/coarse_glow.h"
#include "render/framebuffer.h"
#include "render/parallel.h"
#include "render/primitives.h"
#include "scenes/canyon.h"
#include "scenes/orb_stage.h"
#include "scenes/objects_scene.h"

namespace {

// Allocations made by the thread that is currently watched.
std::atomic<long> g_watched_allocations{0};
thread_local bool g_watching = false;
// Keeps the sanity check's allocation from being optimised away.
void* volatile g_sink = nullptr;

void CountIfWatched() {
  if (g_watching) g_watched_allocations.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

// The C libraries under the audio code (libxmp) allocate with malloc, not operator new: outside
// the sanitizer build, which owns malloc itself, the C allocation calls are counted too and
// passed on to the C library's own allocator.
#if !defined(__SANITIZE_ADDRESS__)
#define KESTREL_COUNTS_MALLOC 1
extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* __libc_calloc(std::size_t count, std::size_t size);
extern "C" void* __libc_realloc(void* p, std::size_t size);
extern "C" void* malloc(std::size_t size) {
  CountIfWatched();
  return __libc_malloc(size);
}
extern "C" void* calloc(std::size_t count, std::size_t size) {
  CountIfWatched();
  return __libc_calloc(count, size);
}
extern "C" void* realloc(void* p, std::size_t size) {
  CountIfWatched();
  return __libc_realloc(p, size);
}
#endif

namespace {

void* RawAllocation(std::size_t size) {
#ifdef KESTREL_COUNTS_MALLOC
  return __libc_malloc(size);
#else
  return std::malloc(size);
#endif
}

void* CountedAllocation(std::size_t size) {
  CountIfWatched();
  if (void* p = RawAllocation(size != 0 ? size : 1)) return p;
  throw std::bad_alloc();
}

// Counts the allocations `work` makes on this thread.
template <typename Work>
long AllocationsDuring(Work work) {
  const long before = g_watched_allocations.load();
  g_watching = true;
  work();
  g_watching = false;
  return g_watched_allocations.load() - before;
}

}  // namespace

void* operator new(std::size_t size) { return CountedAllocation(size); }
void* operator new[](std::size_t size) { return CountedAllocation(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

TEST(RenderBlock, TheCounterSeesAllocations) {
  // The check below means something only if an allocation on the watched thread is counted.
  EXPECT_EQ(AllocationsDuring([] {
              g_sink = new std::vector<int>(100);
              delete static_cast<std::vector<int>*>(g_sink);
            }),
            2);
  EXPECT_EQ(AllocationsDuring([] {}), 0);
#ifdef KESTREL_COUNTS_MALLOC
  EXPECT_EQ(AllocationsDuring([] {
              g_sink = std::malloc(100);
              std::free(g_sink);
            }),
            1);
#endif
}

TEST(RenderBlock, RendersTheWholeShowWithoutAllocating) {
  RuntimeSynth synth;
  synth.SetTrackPath(std::string(KESTREL_SOURCE_DIR) + "/data/kestrel/kestrel_synth_track.txt");
  ASSERT_TRUE(synth.GetTrack().loaded) << synth.GetTrackStatus();
  ASSERT_EQ(synth.GetVoiceStatus(), "oracle voice 8/8 loaded");
  ASSERT_TRUE(synth.BeginOfflineRender());
  synth.SetMasterVolume(1.0f);

  std::vector<float> block(2 * kAudioDefaultPeriodFrames);
  float loudest = 0.0f;
  const auto render = [&](int blocks) {
    return AllocationsDuring([&] {
      for (int i = 0; i < blocks; ++i) synth.RenderOffline(block.data(), kAudioDefaultPeriodFrames);
    });
  };

  // Every half bar of the loop: every section, pattern, fill, impact and oracle line.
  const float loop_bars = synth.GetTrack().loop_bars;
  for (float bar = 0.0f; bar < loop_bars; bar += 0.5f) {
    synth.SeekToBar(bar);
    EXPECT_EQ(render(2), 0) << "bar " << bar;
    for (float x : block) loudest = std::max(loudest, std::fabs(x));
  }

  // The finale's conditions: the loop region wrapping, the tape stop at the slowest speed, a
  // different tempo and an empty block.
  synth.SetLoopRegion(100.0f, 116.0f);
  synth.SetTempo(97.0f);
  synth.SeekToBar(115.99f);
  EXPECT_EQ(render(8), 0);
  synth.SetSpeed(0.0f);
  synth.SetMusicLevel(0.3f);
  EXPECT_EQ(render(4), 0);
  EXPECT_EQ(AllocationsDuring([&] { synth.RenderOffline(block.data(), 0); }), 0);

  EXPECT_GT(loudest, 0.1f);  // it did render the music
}

TEST(RenderBlock, ModulePlayerRendersTheShippedModuleWithoutAllocating) {
  std::ifstream in(std::string(KESTREL_SOURCE_DIR) + "/data/modules/KOBALT.XM", std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  ASSERT_FALSE(bytes.empty());
  XmPlayer xm;
  xm.SetModuleData("data/modules/KOBALT.XM", std::move(bytes));
  xm.SetVolume(1.0f);
  ASSERT_TRUE(xm.BeginOfflineRender()) << xm.GetStatus();

  std::vector<float> block(2 * 8192);
  float loudest = 0.0f;
  const auto render = [&](std::uint32_t frames, int blocks) {
    return AllocationsDuring([&] {
      for (int i = 0; i < blocks; ++i) xm.RenderOffline(block.data(), frames);
    });
  };
  // Every order, a device period at a time; then blocks larger than the player's render chunk
  // (rendered in pieces) and an empty one.
  for (int order = 0; order < 128; ++order) {
    ASSERT_TRUE(xm.SeekToOrder(order + 0.5));
    EXPECT_EQ(render(kAudioDefaultPeriodFrames, 2), 0) << "order " << order;
    for (float x : block) loudest = std::max(loudest, std::fabs(x));
  }
  EXPECT_EQ(render(8192, 3), 0);
  EXPECT_EQ(render(0, 1), 0);
  // Across the end of the song into its start again.
  ASSERT_TRUE(xm.SeekToOrder(127.9));
  EXPECT_EQ(render(kAudioDefaultPeriodFrames, 40), 0);
  EXPECT_LT(xm.GetPosition().bars, 1.0f);
  // Reading positions and snapshots on the main thread does not touch the callback's storage.
  EXPECT_EQ(xm.GetVizSnapshot().source, 1);
  EXPECT_GT(loudest, 0.1f);
}

TEST(FrameDrawing, TheRenderCoreAllocatesNothing) {
  // Every buffer is made before the frame, and the resolve's tone table on its first use;
  // drawing into the buffers and resolving them then allocate nothing.
  Framebuffer frame(640, 360);
  Framebuffer layer(640, 360);
  layer.ResolveRgba8();
  const Vec3 warm{0.9f, 0.5f, 0.2f};
  EXPECT_EQ(AllocationsDuring([&] {
              frame.Fill(Vec3{0.01f, 0.02f, 0.03f});
              layer.ScaleAdd(0.86f, Vec3{0.0f, 0.0f, 0.0f});
              frame.AddScaled(layer, 1.0f);
              frame.AddPixel(3, 4, warm, 0.5f);
              frame.BlendPixel(5, 6, warm, 0.5f);
              frame.AddRect(10, 10, 40, 20, warm, 0.3f);
              frame.BlendRect(0, 0, 640, 360, Vec3{0.0f, 0.0f, 0.0f}, 0.2f);
              frame.AddImage(layer, 0, 0, 100, 50, 20.5f, 30.25f, 0.4f);
              for (float r : {0.5f, 2.0f, 7.0f}) Splat(frame, 320.0f, 180.0f, r, warm, 0.2f);
              SplatClipped(frame, 10.0f, 10.0f, 6.0f, warm, 0.2f, 0, 0, 20, 20);
              SplatLine(frame, Vec2{10.0f, 10.0f}, Vec2{600.0f, 300.0f}, warm, 0.1f, 1.5f);
              DrawBlockText(frame, 20, 20, "KESTREL 2026", warm, 1.0f, 2);
              DrawSplatText(frame, 20.0f, 60.0f, "greetings to all", warm, 0.3f, 1.2f, 3.0f, 0.5f,
                            1.0f);
              DrawSplatTextClipped(frame, 20.0f, 90.0f, "clipped", warm, 0.3f, 1.2f, 3.0f, 0.0f,
                                   0.0f, 0, 0, 200, 100);
              DrawGlowLabel(frame, 40, 200, "ORACLE", warm, false, true, true, true, 1.0f, 0.8f,
                            0.4f, 2.0f, warm, warm, warm, &layer);
              DrawGlowLabel(frame, 40, 240, "PANEL", warm, true, false, true, false, 1.0f, 0.8f,
                            0.0f, 0.0f, warm, warm, warm);
              frame.ResolveRgba8();
            }),
            0);
}

TEST(FrameDrawing, CanyonFramesAllocateNothingAfterTheFirst) {
  // One worker, as on this kind of machine, so the whole frame runs on this thread; a pool with
  // threads allocates its batch per split.
  // The first frame builds the noise and tone tables and the scratch lists, which then keep their
  // storage.
  const Canyon canyon;
  ThreadPool single(0);
  Framebuffer frame(640, 360);
  Framebuffer trail(640, 360);
  DebugParams p;
  const SceneCameraParams cam;
  MusicViz mv;
  mv.active = 1;
  mv.cue_beams = 1.0f;
  mv.section_time = 20.0f;  // beacons and their spark beams on
  canyon.DrawHeightfield(frame, 20.0f, p, cam, mv, 0, true, &trail, single);
  frame.ResolveRgba8();
  for (const bool shadows : {false, true}) {
    p.shadows = shadows;
    p.interlace = shadows;
    EXPECT_EQ(AllocationsDuring([&] {
                for (std::size_t i = 1; i <= 3; ++i) {
                  const float t = 20.0f + 0.5f * static_cast<float>(i);
                  trail.ScaleAdd(0.86f, Vec3{0.0f, 0.0f, 0.0f});
                  canyon.DrawHeightfield(frame, t, p, cam, mv, i, false, &trail, single);
                  frame.AddScaled(trail, 1.0f);
                  frame.ResolveRgba8();
                }
              }),
              0)
        << "shadows and interlace " << shadows;
  }
}

TEST(FrameDrawing, TheTitleOverlayAllocatesNothing) {
  // Its busiest moments: the zooming title with echoes over the canyon, the greetings, and the
  // oracle head with a word under the greetings; every dot at full resolution, and the wide
  // glow on the coarse grids prepared beforehand, as the App does.
  Framebuffer frame(640, 360);
  CoarseGlow glow;
  PrepareCoarseGlow(glow, frame.width, frame.height);
  struct Moment {
    float bar, title, greets, scan;
    int scene;
  } moments[] = {{4.6f, 1.0f, 0.0f, 0.0f, 1}, {104.0f, 0.0f, 1.0f, 0.0f, 2},
                 {16.3f, 0.0f, 0.9f, 1.0f, 3}};
  for (const Moment& m : moments) {
    MusicViz mv;
    mv.active = true;
    mv.bar = m.bar;
    mv.scene = m.scene;
    mv.cue_title = m.title;
    mv.cue_greets = m.greets;
    mv.cue_scan = m.scan;
    TitleOverlayClock clock;
    clock.clock_bar = m.bar;
    EXPECT_EQ(AllocationsDuring([&] { DrawTitleOverlay(frame, m.bar * 1.7f, mv, clock); }), 0)
        << "bar " << m.bar;
    EXPECT_EQ(AllocationsDuring([&] { DrawTitleOverlay(frame, m.bar * 1.7f, mv, clock, &glow); }), 0)
        << "bar " << m.bar << " with the coarse glow";
  }
}

TEST(FrameDrawing, DotFieldFramesAllocateNothingAfterTheFirst) {
  // The dot field runs on the calling thread; its first frame builds the noise table.
  const Canyon canyon;
  Framebuffer frame(640, 360);
  DebugParams p;
  const SceneCameraParams cam;
  MusicViz mv;
  mv.active = true;
  mv.impact = 0.5f;
  mv.section_time = 12.0f;  // the ship in place
  mv.section_bar = 7.0f;
  canyon.DrawDotField(frame, 12.0f, p, cam, mv, 0);
  frame.ResolveRgba8();
  for (const bool shadows : {false, true}) {
    p.shadows = shadows;
    p.dot_density = shadows ? 0.4f : 1.0f;
    EXPECT_EQ(AllocationsDuring([&] {
                for (std::size_t i = 1; i <= 3; ++i) {
                  canyon.DrawDotField(frame, 12.0f + 0.1f * static_cast<float>(i), p, cam, mv, i);
                  frame.ResolveRgba8();
                }
              }),
              0)
        << "shadows " << shadows;
  }
}

TEST(FrameDrawing, OrbStageFramesAllocateNothing) {
  // The stage keeps everything of a frame on the stack; after the first frame (which builds the
  // tone table) no frame allocates, in every state: silent, loud, in the scope window, thinned.
  const OrbStage stage;
  Framebuffer frame(640, 360);
  const SceneCameraParams cam;
  DebugParams p;
  stage.Draw(frame, 1.0f, p, cam, MusicViz{});
  frame.ResolveRgba8();
  MusicViz loud;
  loud.active = true;
  loud.kick = 0.9f;
  loud.impact = 0.8f;
  loud.lead = 0.6f;
  loud.energy = 0.9f;
  loud.cue_club = 1.0f;
  loud.cue_finale = 1.0f;
  for (const float density : {1.0f, 0.3f}) {
    p.dot_density = density;
    EXPECT_EQ(AllocationsDuring([&] {
                for (int i = 0; i < 3; ++i) {
                  const float t = 20.0f + static_cast<float>(i) / 60.0f;
                  stage.Draw(frame, t, p, cam, MusicViz{});
                  loud.bar = 8.5f + static_cast<float>(i);  // in and out of the scope window
                  stage.Draw(frame, t, p, cam, loud);
                  frame.ResolveRgba8();
                }
              }),
              0)
        << "density " << density;
  }
}

TEST(FrameDrawing, ArenaFramesAllocateNothingAfterTheFirst) {
  // The whole arena on one worker (the direct ring), then the ring split into slots on the same
  // single-worker pool: the slot images are sized by the first frame and keep their storage.
  const ObjectsScene scene;
  ThreadPool single(0);
  Framebuffer frame(640, 360);
  DebugParams p;
  const SceneCameraParams cam;
  MusicViz mv;
  mv.active = true;
  mv.kick = 0.5f;
  mv.cue_club = 1.0f;  // the console and the operator too
  mv.section_time = 1.2f;
  scene.Draw(frame, 1.0f, p, cam, mv, single);
  std::vector<std::vector<Vec3>> slots;
  SplatPlanes planes;
  const CameraBasis camera = ObjectsCamera(1.0f, cam, MakeObjectsMix(mv), 640, 360);
  DrawArcadeRing(frame, camera, scene.ring_points, 1.0f, p, mv, 1.0f, 3, slots, planes, single);
  frame.ResolveRgba8();  // builds the tone table on its first use
  EXPECT_EQ(AllocationsDuring([&] {
              for (int i = 1; i <= 3; ++i) {
                const float t = 1.0f + 0.25f * static_cast<float>(i);
                scene.Draw(frame, t, p, cam, mv, single);
                DrawArcadeRing(frame, camera, scene.ring_points, t, p, mv, 1.0f, 3, slots, planes, single);
                frame.ResolveRgba8();
              }
            }),
            0);
}

TEST(FrameDrawing, PreparedArenaAllocatesNothingEvenInItsFirstFrame) {
  // The app prepares the ring's scratch at start-up: the first frame of scene 2 then neither
  // allocates nor first-touches megabytes of planes (page faults that cost several ms).
  const ObjectsScene scene;
  scene.PrepareScratch(640, 360);
  ThreadPool single(0);
  Framebuffer frame(640, 360);
  frame.ResolveRgba8();  // builds the tone table on its first use
  const DebugParams p;
  const SceneCameraParams cam;
  MusicViz mv;
  mv.active = true;
  mv.section_time = 0.5f;
  EXPECT_EQ(AllocationsDuring([&] { scene.Draw(frame, 0.5f, p, cam, mv, single); }), 0);
}

TEST(FrameDrawing, TheTrackerDisplayAllocatesNothing) {
  // Every mode and look of both sources, in front and behind: the text lines are built in fixed
  // buffers. The snapshot (with its title) is made before the frame, as the App's is.
  TrackerSnapshot synth;
  synth.title = "a synth track title longer than any short string";
  synth.kick = 0.9f;
  synth.step = 8;
  synth.impact = 1.0f;
  TrackerSnapshot module = synth;
  module.source = 1;
  module.channels = 12;
  module.step = 3;
  for (int k = 0; k < kTrackerVisibleRows; ++k) {
    module.pattern_rows[k].row = k - 7;
    module.pattern_rows[k].channels[0] = {49, 1, 0x40, 0x0A, 0x20, 0, 0};
  }
  Framebuffer frame(640, 360);
  Framebuffer glow(640, 360);
  frame.ResolveRgba8();
  float flash = 0.0f;
  std::int32_t last_step = -1;
  for (const TrackerSnapshot* snap : {&synth, &module})
    for (std::int32_t mode : {kTrackerPanel, kTrackerWall, kTrackerAssembly})
      for (std::int32_t effect : {kTrackerClean, kTrackerGlow, kTrackerSplat})
        for (const bool behind : {false, true}) {
          TrackerVizSettings settings;
          settings.mode = mode;
          settings.effect = effect;
          settings.rows = 21;
          EXPECT_EQ(AllocationsDuring([&] {
                      DrawTrackerViz(frame, glow, *snap, settings, 20.0f, behind,
                                     TrackerFlashState{flash, last_step});
                      frame.ResolveRgba8();
                    }),
                    0)
              << "source " << snap->source << " mode " << mode << " effect " << effect;
        }
}

TEST(FrameDrawing, SiblingFramesAllocateNothingAfterTheFirst) {
  // The storyboard frame (its image drawing and bloom keep their scratch storage), the vector
  // greetings' cards and page, and the closing bloom.
  Storyboard board;
  board.loaded = true;
  for (StoryboardImage* image : {&board.background[6], &board.foreground[6]}) {
    image->width = 32;
    image->height = 18;
    image->loaded = true;
    image->rgba.assign(32 * 18 * 4, 0.6f);
  }
  Framebuffer frame(640, 360);
  MusicViz mv;
  mv.cue_greets = 0.7f;
  auto draw = [&](float time) {
    DrawStoryboardFrame(frame, board, 7, time, 2.0f + time, mv);
    DrawVectorGreetings(frame, time, 2.0f + time, mv);
    Bloom(frame, 0.38f, 0.18f);
    frame.ResolveRgba8();
  };
  draw(0.0f);
  for (const float time : {0.5f, 1.0f, 4.0f}) EXPECT_EQ(AllocationsDuring([&] { draw(time); }), 0) << time;
}
