#pragma once
// The eight spoken "oracle" phrases: where their WAV files are searched, the WAV subset that is
// accepted (PCM 16-bit mono or stereo, at most 30 seconds), conversion to mono 48 kHz floats,
// and mixing them in at their fixed bars.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/synth_track.h"

struct OracleVoice {
  std::vector<float> samples;  // mono, 48 000 frames per second, nominal range -1 ... 1
  std::string name;            // path the samples were loaded from
  bool loaded = false;
};

constexpr int kOracleVoiceCount = 8;
using OracleVoiceSet = std::array<OracleVoice, kOracleVoiceCount>;

struct OracleVoiceCue {
  const char* file;  // file name inside an oracle_voice directory
  float bar;         // trigger bar within the loop
};

// Slot i speaks the subtitle line i of the oracle schedule at the same bar.
extern const std::array<OracleVoiceCue, kOracleVoiceCount> kOracleVoiceCues;

// Candidate paths for one voice file, in search order: next to the track's own file (when its
// source path has a directory), then the usual data directories. Lexically normalised, passed
// through the resolver, repeats dropped.
std::vector<std::string> OracleVoiceCandidatePaths(const std::string& track_source_path,
                                                   const std::string& file_name,
                                                   const PathResolver& resolver);

// Parses a WAV file of the accepted subset and converts it to mono 48 kHz. Returns false (and
// leaves `out` empty) for anything else: wrong magic, truncated chunks, non-PCM, 8/24/32-bit,
// more than two channels, no data, more than 30 seconds.
bool ParseOracleWav(const std::uint8_t* data, std::size_t size, std::vector<float>& out);

// Loads one slot from the first candidate that reads and parses; the slot stays empty and
// silent when none does. Returns `voice.loaded`.
bool LoadOracleVoice(OracleVoice& voice, const std::string& file_name,
                     const std::string& track_source_path, const PathResolver& resolver,
                     const FileReader& reader);

// Loads all eight slots and returns "oracle voice N/8 loaded".
std::string LoadOracleVoices(OracleVoiceSet& voices, const std::string& track_source_path,
                             const PathResolver& resolver, const FileReader& reader);

// The voice signal for one output frame at arrangement bar `bar` (within the loop) and the
// clamped tempo in beats per minute. Allocates nothing; called per sample on the audio thread.
float MixOracleVoices(const OracleVoiceSet& voices, float bar, float tempo);
