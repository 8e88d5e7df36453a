#include "app/synth_assets.h"

#include <cstdint>
#include <vector>

void ConnectSynthToAssets(RuntimeSynth& synth, AssetStore& assets) {
  synth.SetPathResolver([&assets](const std::string& name) { return assets.ResolvePath(name); });
  synth.SetFileReader([&assets](const std::string& name, std::vector<std::uint8_t>& bytes) {
    return assets.ReadAsset(name, bytes);
  });
}

std::string LoadTrackForTool(RuntimeSynth& synth, AssetStore& assets, const std::string& track) {
  ConnectSynthToAssets(synth, assets);
  const std::string resolved = assets.ResolvePath(track.empty() ? std::string(kDefaultSynthTrackPath) : track);
  synth.SetTrackPath(resolved);
  const SynthTrack& loaded = synth.GetTrack();
  if (loaded.loaded && (track.empty() || loaded.source_path == resolved)) return std::string();

  std::string status = synth.GetTrackStatus();
  const std::size_t fallback = status.rfind("; using fallback");
  if (fallback != std::string::npos) status.erase(fallback);
  if (track.empty() || status.rfind("Invalid synth track ", 0) == 0) return status;
  return "could not read synth track " + track;
}
