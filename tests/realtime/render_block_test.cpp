// The synthesiser's render callback must never wait or allocate on the audio thread. This program
// replaces the global operator new with a counting one, so it lives in a test group of its own,
// and renders the show's own track and voices through the callback's code at every half bar.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "audio/runtime_synth.h"

namespace {

// Allocations made by the thread that is currently watched.
std::atomic<long> g_watched_allocations{0};
thread_local bool g_watching = false;
// Keeps the sanity check's allocation from being optimised away.
void* volatile g_sink = nullptr;

void* CountedAllocation(std::size_t size) {
  if (g_watching) g_watched_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size != 0 ? size : 1)) return p;
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
