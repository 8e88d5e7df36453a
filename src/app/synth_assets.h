#pragma once
// The synthesiser finds and reads its track and voices through the asset store, as the show does;
// the show and the tools that render or export its music connect the two the same way.

#include <string>

#include "assets/asset_store.h"
#include "audio/runtime_synth.h"

// Points the synthesiser's path resolver and file reader at `assets` (which must outlive it).
void ConnectSynthToAssets(RuntimeSynth& synth, AssetStore& assets);

// For a tool: loads `track` (the show's own track when empty) into `synth`, found as the show
// finds it. The show falls back to another file or the built-in track; a tool must not render
// something other than what was asked for, so that is an error here. Returns the error message
// (empty when the track loaded), without the show's "; using fallback".
std::string LoadTrackForTool(RuntimeSynth& synth, AssetStore& assets, const std::string& track);
