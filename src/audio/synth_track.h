#pragma once
// The synth track: the musical material the runtime synthesiser plays (16-step bass and lead
// patterns, four-chord sets, the loop length and the sections that pick them), its text format,
// validation, the search for the file and the built-in fallback track.

#include <array>
#include <cstdint>
#include <functional>
#include <istream>
#include <string>
#include <vector>

// Maps a candidate path to the path actually opened; an empty resolver leaves paths unchanged.
using PathResolver = std::function<std::string(const std::string& path)>;
// Returns the whole content of a path (for example from the asset pack); when empty or when it
// returns false the file is opened directly.
using FileReader = std::function<bool(const std::string& path, std::vector<std::uint8_t>& bytes)>;

// Step value of a rest; the synthesiser treats every step below -89 as a rest.
constexpr std::int32_t kRest = -99;
inline bool IsRest(std::int32_t step) { return step <= -90; }

// One bar of sixteenth notes: semitones relative to the voice's base note, or kRest.
struct SynthPattern {
  std::array<std::int32_t, 16> steps{};
};

// Four chords of four notes: notes 0-3 are chord 0, 4-7 chord 1, and so on. No rests.
struct ChordSet {
  std::array<std::int32_t, 16> notes{};
};

// Bars start <= b < end of the loop play the given bass pattern, lead pattern and chord set.
struct SynthSection {
  float start = 0.0f;  // bar
  float end = 0.0f;    // bar, exclusive
  int bass = 0;        // index into bass_patterns
  int lead = 0;        // index into lead_patterns
  int chord = 0;       // index into chord_sets
};

struct SynthTrack {
  std::string title = "KESTREL SYNTH VM";
  std::string module_type = "Runtime synth";
  std::string source_path;  // candidate path the track was parsed from
  bool loaded = false;      // parsed from a file and validated
  float loop_bars = 96.0f;  // may be fractional
  std::vector<SynthPattern> bass_patterns;
  std::vector<SynthPattern> lead_patterns;
  std::vector<ChordSet> chord_sets;
  std::vector<SynthSection> sections;  // sorted by start after validation
};

// Default location of the show's own track.
inline constexpr const char* kDefaultSynthTrackPath = "data/kestrel/kestrel_synth_track.txt";

// The places searched for the track, in order: the configured path, then the usual spots
// relative to the working directory; each passed through the resolver, empty and repeated
// entries dropped.
std::vector<std::string> SynthTrackCandidatePaths(const std::string& configured_path,
                                                  const PathResolver& resolver);

// Searches the candidates, parses and validates the first file found, and falls back to the
// built-in track otherwise. Never fails; `status` receives one line saying what happened.
SynthTrack LoadSynthTrack(const std::string& configured_path, const PathResolver& resolver,
                          const FileReader& reader, std::string& status);

// Resets `track`, parses every line of `in` and validates. Returns true (and sets loaded) on
// success; otherwise `error` holds "line N: ..." for a parse error or the validation message.
bool ParseSynthTrack(std::istream& in, const std::string& source_path, SynthTrack& track,
                     std::string& error);

// Checks and normalises a parsed track (default texts, a whole-loop section when there is none,
// sections sorted by start). Returns false with the first problem in `error`.
bool ValidateSynthTrack(SynthTrack& track, std::string& error);

// The built-in 96-bar track used whenever no valid file is found.
SynthTrack MakeFallbackTrack();
