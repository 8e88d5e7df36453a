// kestrel_render_audio: renders the runtime synthesiser (track and oracle voices) offline to a
// 48 kHz stereo 16-bit WAV file, through the same render code the audio device runs, in blocks
// of the device's default period. Files are found as the show finds them (working directory,
// next to the executable, manifest, asset pack). Prints nothing but errors.
//
//   kestrel_render_audio [--from BAR] [--to BAR] [--track FILE] [--bpm X] OUT.wav

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "assets/asset_store.h"
#include "audio/audio_output.h"
#include "audio/runtime_synth.h"

namespace {

constexpr const char* kUsage =
    "usage: kestrel_render_audio [--from BAR] [--to BAR] [--track FILE] [--bpm X] OUT.wav\n"
    "  --from BAR    first bar to render (default 0)\n"
    "  --to BAR      bar to stop at (default: the end of the track's loop)\n"
    "  --track FILE  synth track file (default: the show's own track)\n"
    "  --bpm X       tempo, 80 to 180 beats per minute (default 140)\n";

// Far beyond any track; keeps bar numbers well inside single precision's range.
constexpr double kMaxBar = 1000000.0;

struct Options {
  double from = 0.0;
  double to = -1.0;  // negative: the track's loop length
  bool to_given = false;
  std::string track;
  float bpm = 140.0f;
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
    const bool takes_value = arg == "--from" || arg == "--to" || arg == "--track" || arg == "--bpm";
    if (takes_value) {
      if (i + 1 >= argc) return "missing value for " + arg;
      const char* value = argv[++i];
      double number = 0.0;
      if (arg == "--track") {
        options.track = value;
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

void PutU16(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
  bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
  bytes.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void PutU32(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
  PutU16(bytes, value & 0xFFFF);
  PutU16(bytes, value >> 16);
}

// The 44-byte header of a PCM 16-bit stereo WAV file holding `frames` frames.
std::vector<std::uint8_t> WavHeader(std::uint32_t frames) {
  const std::uint32_t block_align = kAudioChannels * 2;
  const std::uint32_t data_bytes = frames * block_align;
  std::vector<std::uint8_t> header;
  header.insert(header.end(), {'R', 'I', 'F', 'F'});
  PutU32(header, 36 + data_bytes);
  header.insert(header.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  PutU32(header, 16);
  PutU16(header, 1);  // PCM
  PutU16(header, kAudioChannels);
  PutU32(header, kAudioSampleRate);
  PutU32(header, kAudioSampleRate * block_align);
  PutU16(header, block_align);
  PutU16(header, 16);
  header.insert(header.end(), {'d', 'a', 't', 'a'});
  PutU32(header, data_bytes);
  return header;
}

std::int16_t ToPcm16(float x) {
  const long scaled = std::lrint(static_cast<double>(x) * 32767.0);
  return static_cast<std::int16_t>(std::clamp(scaled, -32768L, 32767L));
}

}  // namespace

int main(int argc, char** argv) {
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
  synth.SetPathResolver([&assets](const std::string& name) { return assets.ResolvePath(name); });
  synth.SetFileReader([&assets](const std::string& name, std::vector<std::uint8_t>& bytes) {
    return assets.ReadAsset(name, bytes);
  });
  const std::string track_path = options.track.empty() ? kDefaultSynthTrackPath : options.track;
  const std::string resolved_track = assets.ResolvePath(track_path);
  synth.SetTrackPath(resolved_track);

  // 2. Prepare as the device would start, at the show's gain.
  synth.BeginOfflineRender(kAudioSampleRate);
  synth.SetTempo(options.bpm);
  synth.SetMasterVolume(1.0f);
  // The show falls back to other files or the built-in track; for this tool a render of
  // something else than was asked for is an error.
  const SynthTrack& track = synth.GetTrack();
  const std::string& status = synth.GetTrackStatus();
  const bool invalid = status.rfind("Invalid synth track ", 0) == 0;
  if (!options.track.empty() && !(track.loaded && track.source_path == resolved_track)) {
    if (invalid) {
      std::fprintf(stderr, "kestrel_render_audio: %s\n", status.c_str());
    } else {
      std::fprintf(stderr, "kestrel_render_audio: could not read synth track %s\n",
                   options.track.c_str());
    }
    return 1;
  }
  if (!track.loaded) {
    std::fprintf(stderr, "kestrel_render_audio: %s\n", status.c_str());
    return 1;
  }

  // 3. The bar range in output frames.
  const double to = options.to_given ? options.to : static_cast<double>(track.loop_bars);
  if (!(to > options.from)) {
    std::fprintf(stderr, "kestrel_render_audio: --to must lie after --from\n");
    return 2;
  }
  const double frames_per_bar = 240.0 / options.bpm * kAudioSampleRate;
  const double total = std::llrint((to - options.from) * frames_per_bar);
  // The WAV size fields are 32 bits: about 6 hours of stereo 16-bit sound.
  if (total > static_cast<double>((0xFFFFFFFFu - 36u) / (kAudioChannels * 2))) {
    std::fprintf(stderr, "kestrel_render_audio: range too long for a WAV file\n");
    return 2;
  }
  const auto frame_count = static_cast<std::uint32_t>(total);
  synth.SeekToBar(static_cast<float>(options.from));

  // 4. Render block by block and write.
  std::FILE* file = std::fopen(options.out.c_str(), "wb");
  if (!file) {
    std::fprintf(stderr, "Could not save %s\n", options.out.c_str());
    return 1;
  }
  const std::vector<std::uint8_t> header = WavHeader(frame_count);
  bool ok = std::fwrite(header.data(), 1, header.size(), file) == header.size();
  std::vector<float> block(kAudioDefaultPeriodFrames * kAudioChannels);
  std::vector<std::uint8_t> pcm(block.size() * 2);
  for (std::uint32_t done = 0; ok && done < frame_count;) {
    const std::uint32_t frames = std::min(kAudioDefaultPeriodFrames, frame_count - done);
    synth.RenderOffline(block.data(), frames);
    const std::size_t samples = static_cast<std::size_t>(frames) * kAudioChannels;
    for (std::size_t k = 0; k < samples; ++k) {
      const auto value = static_cast<std::uint16_t>(ToPcm16(block[k]));
      pcm[2 * k] = static_cast<std::uint8_t>(value & 0xFF);
      pcm[2 * k + 1] = static_cast<std::uint8_t>(value >> 8);
    }
    ok = std::fwrite(pcm.data(), 1, samples * 2, file) == samples * 2;
    done += frames;
  }
  ok = std::fclose(file) == 0 && ok;
  if (!ok) {
    std::fprintf(stderr, "Could not save %s\n", options.out.c_str());
    return 1;
  }
  return 0;
}
