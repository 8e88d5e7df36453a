// BuildMusicViz runs every frame and on every title refresh: cost of the cue evaluation alone, and
// of the director's path that also copies the source's tracker snapshot.

#include <benchmark/benchmark.h>

#include <string>

#include "timeline/director.h"
#include "timeline/sequence.h"

namespace {

// The shipped sequence as text, so the benchmark needs no files: cue count and names as shipped.
const char* const kShowCues = R"(
loop_bars = 128
section = 0 128 scene=1
cue = 0 3.65 intro 1 0 0.7
cue = 4.25 12 name=title fade_in=0.45 fade_out=3
cue = 8 16 beams fade_in=2 fade_out=1
cue = 65 80 beams fade_in=1 fade_out=1
cue = 16 23.5 scan fade_in=1 fade_out=1
cue = 32 36.5 scan fade_in=0.5 fade_out=1
cue = 44 48.5 veil fade_in=1.5 fade_out=1.5
cue = 50 60 nova fade_in=2 fade_out=2
cue = 60.5 64 veil fade_in=1 fade_out=1
cue = 71 76 scan fade_in=1 fade_out=1
cue = 80 90 nova fade_in=0.5 fade_out=2
cue = 83 88 scan fade_in=1 fade_out=1.5
cue = 92 98 veil fade_in=1 fade_out=1.5
cue = 96 100 reveal fade_in=2 fade_out=2
cue = 96 112 club amount=1 fade_in=4 fade_out=6
cue = 100.25 116 greets fade_in=0.25 fade_out=4
cue = 112 128 finale 1 1 4
)";

TrackerSnapshot BusySnapshot() {
  TrackerSnapshot snap;
  snap.title = "kestrel synth track";
  snap.type = "runtime synthesiser";
  snap.kick = 0.9f;
  snap.bass = 0.8f;
  snap.lead = 0.5f;
  snap.build = 0.2f;
  return snap;
}

void BM_BuildMusicVizPure(benchmark::State& state) {
  const SequenceParseResult parsed = ParseSequence(kShowCues);
  TrackerSnapshot snap = BusySnapshot();
  MusicVizInputs in;
  in.snapshot = &snap;
  in.playing = true;
  in.cues = parsed.cues;
  float bar = 0.0f;
  for (auto _ : state) {
    in.clock_bar = bar;
    snap.position = bar;
    benchmark::DoNotOptimize(BuildMusicViz(in));
    bar += 0.37f;
    if (bar >= 128.0f) bar -= 128.0f;
  }
}
BENCHMARK(BM_BuildMusicVizPure);

// A source that hands out its snapshot by value, as the real sources do.
class SnapshotHost : public ShowHost {
 public:
  TrackerSnapshot snapshot = BusySnapshot();
  float bars = 0.0f;
  double Now() override { return 0.0; }
  uint64_t FrameCount() override { return 0; }
  bool SourcePlaying() override { return true; }
  float SourceBars() override { return bars; }
  TrackerSnapshot SourceSnapshot() override {
    snapshot.position = bars;
    return snapshot;
  }
  bool SeekSource(float) override { return true; }
  void SetSynthMasterVolume(float) override {}
  void SetSynthMusicLevel(float) override {}
  void SetSynthSpeed(float) override {}
  void SetModuleVolume(float) override {}
  void StopAudio() override {}
  bool RestartAudio() override { return true; }
  void ClearFramebuffers() override {}
};

void BM_BuildMusicVizDirector(benchmark::State& state) {
  const SequenceParseResult parsed = ParseSequence(kShowCues);
  DirectorState timeline;
  DirectorConfig config;
  config.sections = parsed.sections;
  config.cues = parsed.cues;
  SnapshotHost host;
  float bar_offset = 0.0f;
  bool audio_enabled = true;
  const Director director{timeline, config, host, bar_offset, audio_enabled};
  for (auto _ : state) {
    benchmark::DoNotOptimize(director.BuildMusicViz());
    host.bars += 0.37f;
    if (host.bars >= 128.0f) host.bars -= 128.0f;
  }
}
BENCHMARK(BM_BuildMusicVizDirector);

}  // namespace
