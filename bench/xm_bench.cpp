// Render speed of the module player on one core, as a multiple of real time: the counter
// "x_realtime" is seconds of 48 kHz stereo audio rendered per second of processor time, through
// libxmp and the player's conversion, for the show's own module. The target is 100x or more.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "assets/asset_store.h"
#include "audio/xm_player.h"

namespace {

// Device-sized blocks of the whole song, looping, from the module found as the show finds it.
void BM_XmPlayerRender(benchmark::State& state) {
  // The build links data/ next to the show, one level above this program (build/bench/).
  AssetStore assets;
  assets.SetExecutableDirectory(RunningExecutableDirectory() + "/..");
  std::vector<std::uint8_t> bytes;
  XmPlayer xm;
  if (assets.ReadAsset(kDefaultXmModulePath, bytes)) xm.SetModuleData(kDefaultXmModulePath, bytes);
  xm.SetVolume(1.0f);
  if (!xm.BeginOfflineRender()) {
    state.SkipWithError(xm.GetStatus().c_str());
    return;
  }
  state.SetLabel(xm.GetTitle());
  std::vector<float> block(2 * kAudioDefaultPeriodFrames);
  for (auto _ : state) {
    xm.RenderOffline(block.data(), kAudioDefaultPeriodFrames);
    benchmark::DoNotOptimize(block.data());
    benchmark::ClobberMemory();
  }
  const double frames = static_cast<double>(state.iterations()) * kAudioDefaultPeriodFrames;
  state.SetItemsProcessed(static_cast<std::int64_t>(frames));
  state.counters["x_realtime"] = benchmark::Counter(
      frames / static_cast<double>(kAudioSampleRate), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_XmPlayerRender)->Unit(benchmark::kMicrosecond);
