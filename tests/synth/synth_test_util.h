#pragma once
// Small generated tracks and voices for the synthesiser tests, offline renders and a tone meter.

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include <unistd.h>

#include "audio/runtime_synth.h"

namespace synth_test {

// Frames of one bar at 140 bpm and 48 kHz: 240 / 140 * 48000.
constexpr double kFramesPerBar140 = 82285.71428571429;

// A scratch directory removed again when the test ends.
class TempDir {
 public:
  TempDir() {
    static int counter = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("kestrel_synth_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// A mono 16-bit PCM WAV at 48 kHz.
inline void WriteMonoWav(const std::filesystem::path& path, const std::vector<std::int16_t>& samples) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  auto u32 = [&out](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.put(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  auto u16 = [&out](std::uint16_t v) {
    out.put(static_cast<char>(v & 0xFF));
    out.put(static_cast<char>(v >> 8));
  };
  const auto data_bytes = static_cast<std::uint32_t>(samples.size() * 2);
  out.write("RIFF", 4);
  u32(36 + data_bytes);
  out.write("WAVEfmt ", 8);
  u32(16);
  u16(1);
  u16(1);
  u32(48000);
  u32(96000);
  u16(2);
  u16(16);
  out.write("data", 4);
  u32(data_bytes);
  for (std::int16_t s : samples) u16(static_cast<std::uint16_t>(s));
}

// A track file from its lines, with a synthesiser that reads only it (and the voices next to
// it): every relative search path is sent into an empty directory, so the show's own data files
// never leak into a test.
struct TestSynth {
  TempDir dir;
  std::unique_ptr<RuntimeSynth> synth;

  explicit TestSynth(const std::string& track_text) {
    WriteText(TrackPath(), track_text);
    synth = std::make_unique<RuntimeSynth>();
  }
  std::filesystem::path TrackPath() const { return dir.path() / "track.txt"; }
  std::filesystem::path VoicePath(const char* file) const {
    return dir.path() / "oracle_voice" / file;
  }
  // Loads the track (and whatever voices exist by now) and prepares an offline render.
  RuntimeSynth& Prepare() {
    const std::string nowhere = (dir.path() / "nowhere").string();
    synth->SetPathResolver([nowhere](const std::string& path) {
      return !path.empty() && path[0] == '/' ? path : nowhere + "/" + path;
    });
    synth->SetTrackPath(TrackPath().string());
    synth->BeginOfflineRender();
    return *synth;
  }
};

// Renders `frames` frames in blocks of `block` frames; interleaved stereo.
inline std::vector<float> Render(RuntimeSynth& synth, std::size_t frames,
                                 std::uint32_t block = kAudioDefaultPeriodFrames) {
  std::vector<float> out(frames * 2);
  for (std::size_t done = 0; done < frames;) {
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(block, frames - done));
    synth.RenderOffline(out.data() + 2 * done, n);
    done += n;
  }
  return out;
}

// Power of the left channel at one frequency (Goertzel), normalised by the length.
inline double TonePower(const std::vector<float>& stereo, double hz, double rate = 48000.0) {
  const double w = 2.0 * std::numbers::pi * hz / rate;
  const double coeff = 2.0 * std::cos(w);
  double s1 = 0.0;
  double s2 = 0.0;
  const std::size_t frames = stereo.size() / 2;
  for (std::size_t i = 0; i < frames; ++i) {
    const double s0 = stereo[2 * i] + coeff * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
  return power / (static_cast<double>(frames) * frames);
}

// RMS of the left channel over frames [begin, end).
inline double Rms(const std::vector<float>& stereo, std::size_t begin, std::size_t end) {
  double sum = 0.0;
  for (std::size_t i = begin; i < end; ++i) sum += static_cast<double>(stereo[2 * i]) * stereo[2 * i];
  return std::sqrt(sum / static_cast<double>(end > begin ? end - begin : 1));
}

// A track of `loop_bars` bars whose lead is silent, with the given bass pattern lines (index
// order) and sections, and a pad holding G (chord notes all 0).
inline std::string MakeTrack(float loop_bars, const std::vector<std::string>& bass_patterns,
                             const std::vector<std::string>& sections = {}) {
  std::string text = "title = TEST TRACK\nmodule_type = Test synth\n";
  text += "loop_bars = " + std::to_string(loop_bars) + "\n";
  for (const std::string& pattern : bass_patterns) text += "bass_pattern = " + pattern + "\n";
  text += "lead_pattern = . . . . . . . . . . . . . . . .\n";
  text += "chord_set = 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n";
  for (const std::string& section : sections) text += "section = " + section + "\n";
  return text;
}

// The fallback track's bass line.
inline const char* kGroove = "0 . 0 7 0 . 0 . 0 . 12 . 7 . . 0";
inline const char* kAllRests = ". . . . . . . . . . . . . . . .";
// Note 42 over the bass base note 31 (G1): C#5, 554.37 Hz, on every step.
inline const char* kHighBass = "42 42 42 42 42 42 42 42 42 42 42 42 42 42 42 42";
constexpr double kHighBassHz = 554.3652619537442;

}  // namespace synth_test
