// kestrel_xm_export: writes the synth track as a FastTracker 2 module (XM) that any tracker opens
// and the show's module player plays: the synthesiser's voices as instruments, one order per bar
// at the track's tempo, the arrangement's levels as note volumes. Files are found as the show
// finds them. Prints nothing but errors.
//
//   kestrel_xm_export [--track FILE] [--bpm X] OUT.xm

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/synth_assets.h"
#include "assets/asset_store.h"
#include "audio/runtime_synth.h"
#include "audio/xm_export.h"
#include "audio/xm_writer.h"

namespace {

constexpr const char* kUsage =
    "usage: kestrel_xm_export [--track FILE] [--bpm X] OUT.xm\n"
    "  --track FILE  synth track file (default: the show's own track)\n"
    "  --bpm X       tempo, a whole number from 80 to 180 (default 140)\n";

struct Options {
  std::string track;
  float bpm = 140.0f;
  std::string out;
};

std::string ParseArguments(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--track" || arg == "--bpm") {
      if (i + 1 >= argc) return "missing value for " + arg;
      const char* value = argv[++i];
      if (arg == "--track") {
        options.track = value;
        continue;
      }
      char* end = nullptr;
      errno = 0;
      const double bpm = std::strtod(value, &end);
      if (errno != 0 || end == value || *end != '\0' || !XmExportTempoValid(static_cast<float>(bpm)))
        return "--bpm must be a whole number from 80 to 180";
      options.bpm = static_cast<float>(bpm);
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
    std::fprintf(stderr, "kestrel_xm_export: %s\n%s", error.c_str(), kUsage);
    return 2;
  }

  // 1. Track and voices, found as the show finds them.
  AssetStore assets;
  assets.SetBase(argc > 0 ? argv[0] : "");
  RuntimeSynth synth;
  const std::string track_error = LoadTrackForTool(synth, assets, options.track);
  if (!track_error.empty()) {
    std::fprintf(stderr, "kestrel_xm_export: %s\n", track_error.c_str());
    return 1;
  }
  const SynthTrack& track = synth.GetTrack();


  // 2. The module.
  XmModule module;
  std::string export_error;
  if (!ExportSynthTrackToXm(track, synth.GetVoices(), options.bpm, module, export_error)) {
    std::fprintf(stderr, "kestrel_xm_export: %s\n", export_error.c_str());
    return 1;
  }
  const std::vector<std::uint8_t> bytes = WriteXm(module);

  // 3. Written under a temporary name, so a failed write leaves no half module behind.
  const std::string temporary = options.out + ".part";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out.good()) {
      std::fprintf(stderr, "kestrel_xm_export: could not write %s\n", options.out.c_str());
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      return 1;
    }
  }
  std::error_code rename_error;
  std::filesystem::rename(temporary, options.out, rename_error);
  if (rename_error) {
    std::fprintf(stderr, "kestrel_xm_export: could not write %s\n", options.out.c_str());
    std::filesystem::remove(temporary, rename_error);
    return 1;
  }
  return 0;
}
