// The module made from our synth track: the shipped data/modules/KOBALT.XM is exactly what the
// export tool makes today, libxmp loads it with the right shape and length, and played through
// the module player it follows the synthesiser: kicks on the same beats, loudness per bar that
// rises and falls with the synthesiser's, the oracle lines at their bars. Damaged copies of it
// fail with the player's status line and never crash.

#include "audio/xm_export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/runtime_synth.h"
#include "audio/xm_player.h"
#include "audio/xm_writer.h"

namespace {

const std::string kTrackPath = KESTREL_SOURCE_DIR "/data/kestrel/kestrel_synth_track.txt";
const std::string kShippedModule = KESTREL_SOURCE_DIR "/data/modules/KOBALT.XM";
const std::string kExportTool = KESTREL_BINARY_DIR "/kestrel_xm_export";
constexpr double kRate = 48000.0;
constexpr double kBpm = 140.0;
constexpr double kFramesPerBar = 240.0 / kBpm * kRate;

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Mono renders of the whole piece by both sources, at the show's gain of 1, shared by the tests.
struct Renders {
  std::vector<float> synth;
  std::vector<float> module;
};

template <typename Render>
std::vector<float> RenderMono(std::size_t frames, Render render) {
  std::vector<float> mono(frames);
  std::vector<float> block(2 * kAudioDefaultPeriodFrames);
  for (std::size_t done = 0; done < frames;) {
    const auto n =
        static_cast<std::uint32_t>(std::min<std::size_t>(kAudioDefaultPeriodFrames, frames - done));
    render(block.data(), n);
    for (std::uint32_t i = 0; i < n; ++i) mono[done + i] = 0.5f * (block[2 * i] + block[2 * i + 1]);
    done += n;
  }
  return mono;
}

const Renders& WholePiece() {
  static const Renders renders = [] {
    Renders r;
    const auto frames = static_cast<std::size_t>(128 * kFramesPerBar);
    RuntimeSynth synth;
    synth.SetTrackPath(kTrackPath);
    synth.BeginOfflineRender();
    synth.SetMasterVolume(1.0f);
    r.synth = RenderMono(frames, [&](float* out, std::uint32_t n) { synth.RenderOffline(out, n); });
    XmPlayer xm;
    xm.SetModuleData(kShippedModule, ReadBytes(kShippedModule));
    xm.SetVolume(1.0f);
    if (!xm.BeginOfflineRender()) return r;
    r.module = RenderMono(frames, [&](float* out, std::uint32_t n) { xm.RenderOffline(out, n); });
    return r;
  }();
  return renders;
}

double Rms(const std::vector<float>& x, std::size_t from, std::size_t to) {
  double sum = 0.0;
  for (std::size_t i = from; i < to; ++i) sum += static_cast<double>(x[i]) * x[i];
  return std::sqrt(sum / static_cast<double>(std::max<std::size_t>(to - from, 1)));
}

double Correlation(const std::vector<double>& a, const std::vector<double>& b) {
  double ma = 0, mb = 0;
  for (std::size_t i = 0; i < a.size(); ++i) ma += a[i], mb += b[i];
  ma /= a.size();
  mb /= b.size();
  double sab = 0, saa = 0, sbb = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    sab += (a[i] - ma) * (b[i] - mb);
    saa += (a[i] - ma) * (a[i] - ma);
    sbb += (b[i] - mb) * (b[i] - mb);
  }
  return sab / std::sqrt(saa * sbb);
}

// Time of the kick's attack near frame `beat`: where the low end (below about 150 Hz) first
// reaches half of its peak, from 50 ms before the beat to 60 ms after.
double KickOnset(const std::vector<float>& x, std::size_t beat) {
  const std::size_t from = beat - static_cast<std::size_t>(0.05 * kRate);
  const std::size_t to = beat + static_cast<std::size_t>(0.06 * kRate);
  const float k = 1.0f - std::exp(-6.2831853f * 150.0f / static_cast<float>(kRate));
  std::vector<float> low(to - from);
  float y = 0.0f;
  // Settle the filter over the 10 ms before the window.
  for (std::size_t i = from - 480; i < from; ++i) y += (x[i] - y) * k;
  for (std::size_t i = from; i < to; ++i) {
    y += (x[i] - y) * k;
    low[i - from] = std::fabs(y);
  }
  const float peak = *std::max_element(low.begin(), low.end());
  for (std::size_t i = 0; i < low.size(); ++i) {
    if (low[i] >= 0.5f * peak) return static_cast<double>(from + i) / kRate;
  }
  return -1.0;
}

TEST(XmExport, ShippedModuleIsWhatTheToolMakesToday) {
  const std::string out = (std::filesystem::temp_directory_path() / "kestrel_export_check.xm").string();
  const std::string command = kExportTool + " --track '" + kTrackPath + "' '" + out + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::vector<std::uint8_t> made = ReadBytes(out);
  const std::vector<std::uint8_t> shipped = ReadBytes(kShippedModule);
  ASSERT_FALSE(made.empty());
  EXPECT_TRUE(made == shipped)
      << "data/modules/KOBALT.XM is stale: run kestrel_xm_export data/modules/KOBALT.XM";
  std::filesystem::remove(out);
}

TEST(XmExport, ToolRefusesWhatItCannotExport) {
  const std::string out = (std::filesystem::temp_directory_path() / "kestrel_export_bad.xm").string();
  for (const std::string args :
       {"--bpm 140.5", "--bpm 300", "--track /nonexistent_kestrel/t.txt", "--frobnicate", ""}) {
    SCOPED_TRACE(args);
    const std::string command = kExportTool + " " + args + " " + (args.empty() ? "" : out) + " 2>/dev/null";
    EXPECT_NE(std::system(command.c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(out));
  }
}

TEST(XmExport, LibxmpLoadsItWithTheTracksShape) {
  XmModuleFacts facts;
  ASSERT_EQ(InspectXmModule(ReadBytes(kShippedModule), facts), 0);
  EXPECT_EQ(facts.name, "KESTREL SYNTH VM");
  EXPECT_EQ(facts.orders, 128);  // one per bar of the track's loop
  EXPECT_EQ(facts.channels, kXmExportChannels);
  EXPECT_EQ(facts.instruments, kXmExportInstruments);
  // libxmp counts one empty pattern of its own; the arrangement's levels move a little in every
  // bar, so here no two bars are alike.
  EXPECT_LE(facts.patterns, facts.orders + 1);
  EXPECT_EQ(facts.speed, 6);
  EXPECT_EQ(facts.bpm, 140);
  EXPECT_EQ(facts.restart, 0);
  // A pass through the song lasts the track's 128 bars, within one row (a sixteenth).
  const double track_ms = 128 * 240.0 / kBpm * 1000.0;
  EXPECT_NEAR(facts.total_ms, track_ms, 240.0 / kBpm / 16 * 1000.0);

  // Another tempo and a fractional loop: the last order is a shorter pattern.
  RuntimeSynth synth;
  synth.SetTrackPath(kTrackPath);
  SynthTrack track = synth.GetTrack();
  track.loop_bars = 10.5f;
  XmModule module;
  std::string error;
  ASSERT_TRUE(ExportSynthTrackToXm(track, synth.GetVoices(), 100.0f, module, error)) << error;
  ASSERT_EQ(InspectXmModule(WriteXm(module), facts), 0);
  EXPECT_EQ(facts.orders, 11);
  EXPECT_EQ(facts.bpm, 100);
  EXPECT_EQ(module.patterns[module.orders.back()].rows, 8);
  // No pattern is stored twice.
  const auto same = [](const XmPattern& a, const XmPattern& b) {
    if (a.rows != b.rows || a.cells.size() != b.cells.size()) return false;
    for (std::size_t i = 0; i < a.cells.size(); ++i) {
      const XmCell& x = a.cells[i];
      const XmCell& y = b.cells[i];
      if (x.note != y.note || x.instrument != y.instrument || x.volume != y.volume || x.effect != y.effect ||
          x.param != y.param)
        return false;
    }
    return true;
  };
  for (std::size_t i = 0; i < module.patterns.size(); ++i)
    for (std::size_t j = i + 1; j < module.patterns.size(); ++j)
      EXPECT_FALSE(same(module.patterns[i], module.patterns[j])) << i << " " << j;
  EXPECT_NEAR(facts.total_ms, 10.5 * 2400.0, 240.0 / 100.0 / 16 * 1000.0);
  track.loop_bars = 300.0f;
  EXPECT_FALSE(ExportSynthTrackToXm(track, synth.GetVoices(), 140.0f, module, error));
}

TEST(XmExport, KicksFallOnTheSynthesisersBeats) {
  // libxmp plays a tick in a whole number of samples: 2.5 / 140 s is 857.14 samples, played as
  // 857, so the module runs 0.017 % fast and its beats move ahead of the synthesiser's by one
  // seventh of a sample per tick (about 0.29 ms per bar, 37 ms by bar 128). The kicks must sit
  // on that drifting grid within 3 ms, and so on the synthesiser's beats within 40 ms.
  const Renders& r = WholePiece();
  ASSERT_FALSE(r.module.empty());
  const double tick = 2.5 / kBpm * kRate;
  const double lead_per_tick = (tick - std::floor(tick)) / kRate;  // seconds
  double worst = 0.0, worst_on_grid = 0.0;
  int compared = 0;
  for (int bar : {2, 20, 50, 66, 90, 101, 120}) {
    for (int beat = 0; beat < 4; ++beat) {
      const auto frame = static_cast<std::size_t>((bar + beat / 4.0) * kFramesPerBar);
      const double ts = KickOnset(r.synth, frame);
      const double tm = KickOnset(r.module, frame);
      ASSERT_GE(ts, 0.0);
      ASSERT_GE(tm, 0.0);
      const double ticks = (bar * 16 + beat * 4) * 6.0;
      worst = std::max(worst, std::fabs(ts - tm));
      worst_on_grid = std::max(worst_on_grid, std::fabs(tm + ticks * lead_per_tick - ts));
      ++compared;
    }
  }
  std::printf(
      "kick onsets: %d beats, module ahead of the synthesiser by at most %.2f ms, "
      "%.2f ms off libxmp's tick grid\n",
      compared, worst * 1000.0, worst_on_grid * 1000.0);
  EXPECT_LT(worst_on_grid, 0.003);
  EXPECT_LT(worst, 0.040);
}

TEST(XmExport, LoudnessPerBarFollowsTheSynthesiser) {
  const Renders& r = WholePiece();
  ASSERT_FALSE(r.module.empty());
  std::vector<double> synth_bars, module_bars;
  for (int bar = 0; bar < 128; ++bar) {
    const auto from = static_cast<std::size_t>(bar * kFramesPerBar);
    const auto to = static_cast<std::size_t>((bar + 1) * kFramesPerBar);
    synth_bars.push_back(Rms(r.synth, from, to));
    module_bars.push_back(Rms(r.module, from, to));
  }
  const double c = Correlation(synth_bars, module_bars);
  std::printf("per-bar loudness correlation over 128 bars: %.3f\n", c);
  EXPECT_GT(c, 0.85);
  for (double level : module_bars) EXPECT_GT(level, 0.01);  // no silent bar
}

TEST(XmExport, OracleLinesAreAudibleAtTheirBars) {
  // The module with and without the voices differs exactly where a line is spoken.
  RuntimeSynth synth;
  synth.SetTrackPath(kTrackPath);
  ASSERT_EQ(synth.GetVoiceStatus(), "oracle voice 8/8 loaded");
  XmModule with_voices;
  std::string error;
  ASSERT_TRUE(ExportSynthTrackToXm(synth.GetTrack(), synth.GetVoices(), 140.0f, with_voices, error));
  // The same module with the voice samples silenced.
  XmModule without_voices = with_voices;
  for (int i = 0; i < kOracleVoiceCount; ++i) {
    XmInstrument& voice = without_voices.instruments[kXmInsVoice - 1 + i];
    ASSERT_EQ(voice.samples.size(), 1u);
    std::fill(voice.samples[0].data.begin(), voice.samples[0].data.end(), std::int16_t{0});
  }
  const auto render = [](const XmModule& m) {
    XmPlayer xm;
    xm.SetModuleData("m.xm", WriteXm(m));
    xm.SetVolume(1.0f);
    EXPECT_TRUE(xm.BeginOfflineRender());
    return RenderMono(static_cast<std::size_t>(100 * kFramesPerBar),
                      [&](float* out, std::uint32_t n) { xm.RenderOffline(out, n); });
  };
  const std::vector<float> a = render(with_voices);
  const std::vector<float> b = render(without_voices);
  std::vector<float> diff(a.size());
  for (std::size_t i = 0; i < a.size(); ++i) diff[i] = a[i] - b[i];
  EXPECT_EQ(Rms(diff, 0, static_cast<std::size_t>(15.9 * kFramesPerBar)), 0.0);  // before the first
  for (int i = 0; i < kOracleVoiceCount; ++i) {
    SCOPED_TRACE(kOracleVoiceCues[i].file);
    const double bar = kOracleVoiceCues[i].bar;
    const auto from = static_cast<std::size_t>(bar * kFramesPerBar);
    const double spoken = Rms(diff, from, from + static_cast<std::size_t>(kFramesPerBar));
    const double before = Rms(diff, from - static_cast<std::size_t>(0.25 * kFramesPerBar), from - 960);
    EXPECT_GT(spoken, 0.01) << "line not audible";
    EXPECT_LT(before, 0.2 * spoken) << "line starts early";
  }
}

TEST(XmExport, DamagedCopiesFailWithTheStatusLineOrPlayWhatIsThere) {
  const std::vector<std::uint8_t> shipped = ReadBytes(kShippedModule);
  ASSERT_GT(shipped.size(), 100000u);
  for (std::size_t length :
       {std::size_t{1}, std::size_t{16}, std::size_t{60}, std::size_t{80}, std::size_t{336},
        std::size_t{2000}, std::size_t{60000}, shipped.size() / 2, shipped.size() - 1}) {
    SCOPED_TRACE(length);
    std::vector<std::uint8_t> cut(shipped.begin(), shipped.begin() + static_cast<long>(length));
    XmPlayer xm;
    xm.SetModuleData("data/modules/KOBALT.XM", cut);
    if (!xm.BeginOfflineRender()) {
      EXPECT_EQ(xm.GetStatus().rfind("XM load failed (-", 0), 0u) << xm.GetStatus();
      EXPECT_NE(xm.GetStatus().find("): data/modules/KOBALT.XM"), std::string::npos);
      EXPECT_FALSE(xm.IsModuleLoaded());
      continue;
    }
    // libxmp accepted what was there: it plays, finite and inside the soft clip's range.
    xm.SetVolume(1.0f);
    xm.SeekToOrder(length % 128);
    std::vector<float> block(2 * kAudioDefaultPeriodFrames);
    for (int i = 0; i < 200; ++i) {
      xm.RenderOffline(block.data(), kAudioDefaultPeriodFrames);
      for (float x : block) ASSERT_TRUE(std::isfinite(x) && std::fabs(x) < 1.0f);
    }
  }
  // The first lengths never load; the header is 336 bytes long.
  XmPlayer xm;
  xm.SetModuleData("x", std::vector<std::uint8_t>(shipped.begin(), shipped.begin() + 80));
  EXPECT_FALSE(xm.BeginOfflineRender());
}

}  // namespace
