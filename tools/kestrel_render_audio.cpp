// kestrel_render_audio: renders a music source offline to a 48 kHz stereo 16-bit WAV file,
// through the same render code the audio device runs, in blocks of the device's default period:
// the runtime synthesiser (track and oracle voices), or with --source xm the tracker module
// through libxmp, one bar per order. Files are found as the show finds them (working directory,
// next to the executable, manifest, asset pack). Prints nothing but errors.
//
//   kestrel_render_audio [--from BAR] [--to BAR] [--track FILE] [--bpm X]
//                        [--source synth|xm] [--xm-path FILE] OUT.wav

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/synth_assets.h"
#include "assets/asset_store.h"
#include "audio/audio_output.h"
#include "audio/runtime_synth.h"
#include "audio/wav_file.h"
#include "audio/xm_player.h"

namespace {

constexpr const char* kUsage =
    "usage: kestrel_render_audio [--from BAR] [--to BAR] [--track FILE] [--bpm X]\n"
    "                            [--source synth|xm] [--xm-path FILE] OUT.wav\n"
    "  --from BAR      first bar to render (default 0)\n"
    "  --to BAR        bar to stop at (default: the end of the track's loop, or of the song)\n"
    "  --track FILE    synth track file (default: the show's own track)\n"
    "  --bpm X         tempo, 80 to 180 beats per minute (default 140); a bar's length\n"
    "  --source S      synth (default) or xm: the module player, one bar per order\n"
    "  --xm-path FILE  module for --source xm (default: data/modules/KOBALT.XM)\n";

// Far beyond any track; keeps bar numbers well inside single precision's range.
constexpr double kMaxBar = 1000000.0;

struct Options {
  double from = 0.0;
  double to = -1.0;  // negative: the track's loop length
  bool to_given = false;
  std::string track;
  float bpm = 140.0f;
  bool module = false;  // --source xm
  std::string xm_path = kDefaultXmModulePath;
  std::string out;
};

bool ParseNumber(const char* text, double& value) {
  if (!text || !*text) return false;
  char* end = nullptr;
  errno = 0;
  const double parsed = std::strtod(text, &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

// Returns an error message, or an empty string when the arguments are good.
std::string ParseArguments(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool takes_value = arg == "--from" || arg == "--to" || arg == "--track" ||
                             arg == "--bpm" || arg == "--source" || arg == "--xm-path";
    if (takes_value) {
      if (i + 1 >= argc) return "missing value for " + arg;
      const char* value = argv[++i];
      double number = 0.0;
      if (arg == "--track") {
        options.track = value;
      } else if (arg == "--xm-path") {
        options.xm_path = value;
      } else if (arg == "--source") {
        const std::string source = value;
        if (source != "synth" && source != "xm") return "--source must be synth or xm";
        options.module = source == "xm";
      } else if (!ParseNumber(value, number)) {
        return "invalid number for " + arg + ": " + value;
      } else if (arg == "--from") {
        if (number < 0.0 || number > kMaxBar) return "--from must lie between 0 and 1000000";
        options.from = number;
      } else if (arg == "--to") {
        if (number < 0.0 || number > kMaxBar) return "--to must lie between 0 and 1000000";
        options.to = number;
        options.to_given = true;
      } else {
        if (number < RuntimeSynth::kMinTempo || number > RuntimeSynth::kMaxTempo) {
          return "--bpm must be between 80 and 180";
        }
        options.bpm = static_cast<float>(number);
      }
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      return "unknown option " + arg;
    } else if (options.out.empty()) {
      options.out = arg;
    } else {
      return "more than one output file";
    }
  }
  if (options.out.empty()) return "no output file";
  return std::string();
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  Options options;
  const std::string error = ParseArguments(argc, argv, options);
  if (!error.empty()) {
    std::fprintf(stderr, "kestrel_render_audio: %s\n%s", error.c_str(), kUsage);
    return 2;
  }

  // 1. Find files as the show does.
  AssetStore assets;
  assets.SetBase(argc > 0 ? argv[0] : "");
  RuntimeSynth synth;
  XmPlayer xm;
  double song_bars = 0.0;  // the default end: the track's loop, or the module's orders
  if (options.module) {
    // 2. The module, through the asset layer as the show loads it, at the show's gain.
    const std::string path = assets.ResolvePath(options.xm_path);
    std::vector<std::uint8_t> bytes;
    if (assets.ReadAsset(path, bytes) && !bytes.empty()) {
      xm.SetModuleData(path, std::move(bytes));
    } else {
      xm.SetModulePath(path);
    }
    xm.SetVolume(1.0f);
    if (!xm.BeginOfflineRender()) {
      std::fprintf(stderr, "kestrel_render_audio: %s\n", xm.GetStatus().c_str());
      return 1;
    }
    song_bars = xm.GetVizSnapshot().length;
  } else {
    const std::string track_error = LoadTrackForTool(synth, assets, options.track);
    if (!track_error.empty()) {
      std::fprintf(stderr, "kestrel_render_audio: %s\n", track_error.c_str());
      return 1;
    }

    // 2. Prepare as the device would start, at the show's gain.
    synth.BeginOfflineRender(kAudioSampleRate);
    synth.SetTempo(options.bpm);
    synth.SetMasterVolume(1.0f);
    const SynthTrack& track = synth.GetTrack();
    song_bars = static_cast<double>(track.loop_bars);
  }

  // 3. The bar range in output frames.
  const double to = options.to_given ? options.to : song_bars;
  if (!(to > options.from)) {
    std::fprintf(stderr, "kestrel_render_audio: --to must lie after --from\n");
    return 2;
  }
  const double frames_per_bar = 240.0 / options.bpm * kAudioSampleRate;
  const double total = std::llrint((to - options.from) * frames_per_bar);
  if (total > static_cast<double>(kWavMaxFrames)) {
    std::fprintf(stderr, "kestrel_render_audio: range too long for a WAV file\n");
    return 2;
  }
  const auto frame_count = static_cast<std::uint32_t>(total);
  if (options.module) {
    xm.SeekToOrder(options.from);
  } else {
    synth.SeekToBar(static_cast<float>(options.from));
  }

  // 4. Render block by block and write.
  std::FILE* file = std::fopen(options.out.c_str(), "wb");
  if (!file) {
    std::fprintf(stderr, "Could not save %s\n", options.out.c_str());
    return 1;
  }
  const std::vector<std::uint8_t> header = WavHeader(frame_count);
  bool ok = std::fwrite(header.data(), 1, header.size(), file) == header.size();
  std::vector<float> block(kAudioDefaultPeriodFrames * kAudioChannels);
  std::vector<std::uint8_t> pcm;
  pcm.reserve(block.size() * 2);
  for (std::uint32_t done = 0; ok && done < frame_count;) {
    const std::uint32_t frames = std::min(kAudioDefaultPeriodFrames, frame_count - done);
    if (options.module) {
      xm.RenderOffline(block.data(), frames);
    } else {
      synth.RenderOffline(block.data(), frames);
    }
    pcm.clear();
    AppendPcm16(block.data(), static_cast<std::size_t>(frames) * kAudioChannels, pcm);
    ok = std::fwrite(pcm.data(), 1, pcm.size(), file) == pcm.size();
    done += frames;
  }
  ok = std::fclose(file) == 0 && ok;
  if (!ok) {
    std::fprintf(stderr, "Could not save %s\n", options.out.c_str());
    return 1;
  }
  return 0;
}
