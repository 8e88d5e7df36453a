// EvaluateArrangement runs once per output sample on the audio thread (48 000 times a second),
// so its cost per call, with the show's own track (dozens of sections) and with the one-section
// fallback, bounds how much of the audio budget the arrangement takes.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <system_error>

#include "audio/arrangement.h"

namespace {

// Bar positions advanced as the synthesiser does at 140 bpm and 48 kHz.
constexpr double kBarsPerSample = 140.0 / 240.0 / 48000.0;

void RunOverBars(benchmark::State& state, const SynthTrack& track) {
  double bar = 0.0;
  for (auto _ : state) {
    const ArrangementState a = EvaluateArrangement(track, bar);
    benchmark::DoNotOptimize(a);
    bar += kBarsPerSample * 97.0;  // stride through the whole piece, not just its first bars
  }
  state.SetItemsProcessed(state.iterations());
}

// The build links data/ next to the show, one level above this program (build/bench/).
std::string ShowTrackPath() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return kDefaultSynthTrackPath;
  return (exe.parent_path().parent_path() / kDefaultSynthTrackPath).string();
}

void BM_ArrangementShowTrack(benchmark::State& state) {
  std::string status;
  const SynthTrack track = LoadSynthTrack(ShowTrackPath(), {}, {}, status);
  if (!track.loaded) {
    state.SkipWithError(status.c_str());
    return;
  }
  state.SetLabel(std::to_string(track.sections.size()) + " sections");
  RunOverBars(state, track);
}

void BM_ArrangementFallbackTrack(benchmark::State& state) {
  RunOverBars(state, MakeFallbackTrack());
}

}  // namespace

BENCHMARK(BM_ArrangementShowTrack);
BENCHMARK(BM_ArrangementFallbackTrack);
