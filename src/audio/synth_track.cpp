#include "audio/synth_track.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "assets/printable_text.h"

namespace {

constexpr const char* kWhiteSpace = " \t\r\n\v\f";

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(kWhiteSpace);
  if (first == std::string::npos) return std::string();
  const std::size_t last = text.find_last_not_of(kWhiteSpace);
  return text.substr(first, last - first + 1);
}

std::vector<std::string> SplitTokens(const std::string& value) {
  std::vector<std::string> tokens;
  std::size_t pos = 0;
  while (true) {
    const std::size_t begin = value.find_first_not_of(kWhiteSpace, pos);
    if (begin == std::string::npos) break;
    std::size_t end = value.find_first_of(kWhiteSpace, begin);
    if (end == std::string::npos) end = value.size();
    tokens.push_back(value.substr(begin, end - begin));
    pos = end;
  }
  return tokens;
}

// from_chars rejects a leading '+', which the track format allows ("+7", "+0.5").
std::string_view SkipPlus(std::string_view text) {
  if (text.size() > 1 && text[0] == '+' && text[1] != '-' && text[1] != '+') text.remove_prefix(1);
  return text;
}

// A decimal integer with optional sign that fills the whole token and fits in 32 bits.
bool ParseWholeInt(const std::string& token, std::int32_t& out) {
  const std::string_view text = SkipPlus(token);
  if (text.empty()) return false;
  std::int32_t value = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
  if (ec != std::errc() || ptr != text.data() + text.size()) return false;
  out = value;
  return true;
}

// A decimal floating-point number that fills the whole token (no hexadecimal forms).
bool ParseWholeFloat(const std::string& token, float& out) {
  const std::string_view text = SkipPlus(token);
  if (text.empty()) return false;
  float value = 0.0f;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value,
                                         std::chars_format::general);
  if (ec != std::errc() || ptr != text.data() + text.size()) return false;
  out = value;
  return true;
}

// "expected 16 pattern steps" and friends; an empty result means the value was good.
std::string ParsePattern(const std::string& value, SynthPattern& pattern) {
  const std::vector<std::string> tokens = SplitTokens(value);
  if (tokens.size() != 16) return "expected 16 pattern steps";
  for (std::size_t i = 0; i < 16; ++i) {
    const std::string& token = tokens[i];
    if (token == "." || token == "rest") {
      pattern.steps[i] = kRest;
    } else if (!ParseWholeInt(token, pattern.steps[i])) {
      return "invalid pattern step '" + PrintableText(token) + "'";
    }
  }
  return std::string();
}

std::string ParseChordSet(const std::string& value, ChordSet& chords) {
  const std::vector<std::string> tokens = SplitTokens(value);
  if (tokens.size() != 16) return "expected 16 chord notes";
  for (std::size_t i = 0; i < 16; ++i) {
    if (!ParseWholeInt(tokens[i], chords.notes[i])) {
      return "invalid chord note '" + PrintableText(tokens[i]) + "'";
    }
  }
  return std::string();
}

// "start end bass lead chord", the last three either positional or as name=N in any order.
std::string ParseSection(const std::string& value, SynthSection& section) {
  const std::vector<std::string> tokens = SplitTokens(value);
  if (tokens.size() != 5) return "expected start end bass lead chord";
  if (!ParseWholeFloat(tokens[0], section.start) || !ParseWholeFloat(tokens[1], section.end)) {
    return "invalid section bar range";
  }

  const bool named = tokens[2].find('=') != std::string::npos;
  if (!named) {
    std::int32_t indices[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i) {
      if (!ParseWholeInt(tokens[2 + i], indices[i])) return "invalid section pattern index";
    }
    section.bass = indices[0];
    section.lead = indices[1];
    section.chord = indices[2];
    return std::string();
  }

  bool has_bass = false;
  bool has_lead = false;
  bool has_chord = false;
  for (int i = 2; i < 5; ++i) {
    const std::string& token = tokens[i];
    const std::size_t eq = token.find('=');
    const std::string name = eq == std::string::npos ? token : token.substr(0, eq);
    std::int32_t index = 0;
    const bool number_ok = eq != std::string::npos && ParseWholeInt(token.substr(eq + 1), index);
    if (!number_ok) return "invalid section field '" + PrintableText(token) + "'";
    if (name == "bass") {
      section.bass = index;
      has_bass = true;
    } else if (name == "lead") {
      section.lead = index;
      has_lead = true;
    } else if (name == "chord") {
      section.chord = index;
      has_chord = true;
    } else {
      return "invalid section field '" + PrintableText(token) + "'";
    }
  }
  // Three tokens that miss one name must have repeated another.
  if (!has_bass || !has_lead || !has_chord) {
    return "section must set bass, lead, and chord";
  }
  return std::string();
}

// One line of the file; an empty result means the line was good (or blank).
std::string ParseLine(std::string line, SynthTrack& track) {
  const std::size_t hash = line.find('#');
  if (hash != std::string::npos) line.erase(hash);
  line = Trim(line);
  if (line.empty()) return std::string();

  const std::size_t eq = line.find('=');
  if (eq == std::string::npos) return "expected key=value";
  const std::string key = Trim(line.substr(0, eq));
  const std::string value = Trim(line.substr(eq + 1));

  if (key == "title") {
    track.title = value;
  } else if (key == "module_type") {
    track.module_type = value;
  } else if (key == "loop_bars") {
    if (!ParseWholeFloat(value, track.loop_bars)) return "invalid loop_bars";
  } else if (key == "bass_pattern" || key == "lead_pattern") {
    SynthPattern pattern;
    const std::string error = ParsePattern(value, pattern);
    if (!error.empty()) return error;
    (key == "bass_pattern" ? track.bass_patterns : track.lead_patterns).push_back(pattern);
  } else if (key == "chord_set") {
    ChordSet chords;
    const std::string error = ParseChordSet(value, chords);
    if (!error.empty()) return error;
    track.chord_sets.push_back(chords);
  } else if (key == "section") {
    SynthSection section;
    const std::string error = ParseSection(value, section);
    if (!error.empty()) return error;
    track.sections.push_back(section);
  } else {
    return "unknown key '" + PrintableText(key) + "'";
  }
  return std::string();
}

SynthPattern PatternFromList(std::initializer_list<std::int32_t> steps) {
  SynthPattern pattern;
  std::copy(steps.begin(), steps.end(), pattern.steps.begin());
  return pattern;
}

}  // namespace

bool ParseSynthTrack(std::istream& in, const std::string& source_path, SynthTrack& track,
                     std::string& error) {
  track = SynthTrack();
  track.source_path = source_path;
  error.clear();

  std::string line;
  int line_number = 0;
  while (std::getline(in, line)) {
    ++line_number;
    const std::string message = ParseLine(line, track);
    if (!message.empty()) {
      error = "line " + std::to_string(line_number) + ": " + message;
      return false;
    }
  }

  if (!ValidateSynthTrack(track, error)) return false;
  track.loaded = true;
  return true;
}

bool ValidateSynthTrack(SynthTrack& track, std::string& error) {
  // 1. Display texts never stay empty.
  if (track.title.empty()) track.title = "KESTREL SYNTH VM";
  if (track.module_type.empty()) track.module_type = "Runtime synth";

  // 2. Loop length (written so that NaN fails).
  if (!(track.loop_bars >= 1.0f)) {
    error = "loop_bars must be at least 1";
    return false;
  }

  // 3. Material to play.
  if (track.bass_patterns.empty()) {
    error = "at least one bass_pattern is required";
    return false;
  }
  if (track.lead_patterns.empty()) {
    error = "at least one lead_pattern is required";
    return false;
  }
  if (track.chord_sets.empty()) {
    error = "at least one chord_set is required";
    return false;
  }

  // 4. Without sections the first pattern and chord set play over the whole loop.
  if (track.sections.empty()) {
    track.sections.push_back(SynthSection{0.0f, track.loop_bars, 0, 0, 0});
  }

  // 5. Every section inside the loop (a thousandth of a bar of slack) and pointing at material.
  const double loop_limit = static_cast<double>(track.loop_bars) + 0.001;
  const int bass_count = static_cast<int>(track.bass_patterns.size());
  const int lead_count = static_cast<int>(track.lead_patterns.size());
  const int chord_count = static_cast<int>(track.chord_sets.size());
  for (const SynthSection& section : track.sections) {
    const bool range_ok = section.start >= 0.0f && section.start < section.end &&
                          static_cast<double>(section.end) <= loop_limit;
    if (!range_ok) {
      error = "section bar range is outside loop_bars";
      return false;
    }
    const bool indices_ok = section.bass >= 0 && section.bass < bass_count &&
                            section.lead >= 0 && section.lead < lead_count &&
                            section.chord >= 0 && section.chord < chord_count;
    if (!indices_ok) {
      error = "section references a missing pattern or chord set";
      return false;
    }
  }

  // 6. Playback scans sections in order of their start.
  std::sort(track.sections.begin(), track.sections.end(),
            [](const SynthSection& a, const SynthSection& b) { return a.start < b.start; });
  error.clear();
  return true;
}

SynthTrack MakeFallbackTrack() {
  SynthTrack track;
  constexpr std::int32_t R = kRest;
  track.bass_patterns.push_back(PatternFromList({0, R, 0, 7, 0, R, 0, R, 0, R, 12, R, 7, R, R, 0}));
  track.lead_patterns.push_back(
      PatternFromList({0, R, 12, R, 19, R, 12, R, 0, R, 10, R, 19, R, 19, R}));
  // i - VI - III - VII in G minor on the pad's base note.
  ChordSet chords;
  chords.notes = {0, 3, 7, 12, -4, 0, 3, 10, 3, 7, 10, 15, -2, 2, 5, 10};
  track.chord_sets.push_back(chords);
  track.sections.push_back(SynthSection{0.0f, 96.0f, 0, 0, 0});
  return track;
}

std::vector<std::string> SynthTrackCandidatePaths(const std::string& configured_path,
                                                  const PathResolver& resolver) {
  const std::string places[] = {
      configured_path,
      "data/kestrel/kestrel_synth_track.txt",
      "../data/kestrel/kestrel_synth_track.txt",
      "_bin/data/kestrel/kestrel_synth_track.txt",
      "kestrel_synth_track.txt",
      "../kestrel_synth_track.txt",
      "_bin/kestrel_synth_track.txt",
  };
  std::vector<std::string> candidates;
  for (const std::string& place : places) {
    const std::string path = resolver ? resolver(place) : place;
    if (path.empty()) continue;
    if (std::find(candidates.begin(), candidates.end(), path) != candidates.end()) continue;
    candidates.push_back(path);
  }
  return candidates;
}

SynthTrack LoadSynthTrack(const std::string& configured_path, const PathResolver& resolver,
                          const FileReader& reader, std::string& status) {
  for (const std::string& path : SynthTrackCandidatePaths(configured_path, resolver)) {
    SynthTrack track;
    std::string error;
    bool parsed_ok = false;

    std::vector<std::uint8_t> bytes;
    if (reader && reader(path, bytes)) {
      std::istringstream in(std::string(bytes.begin(), bytes.end()));
      parsed_ok = ParseSynthTrack(in, path, track, error);
    } else {
      // A directory opens as a stream on some systems but is no track file.
      std::error_code ec;
      if (std::filesystem::is_directory(path, ec)) continue;
      std::ifstream in(path);
      if (!in.is_open()) continue;
      parsed_ok = ParseSynthTrack(in, path, track, error);
    }

    // The first file found decides, whatever it holds.
    if (parsed_ok) {
      status = "Loaded synth track " + track.source_path;
      return track;
    }
    status = "Invalid synth track " + path + ": " + error + "; using fallback";
    return MakeFallbackTrack();
  }
  status = "No synth track file found; using fallback";
  return MakeFallbackTrack();
}
