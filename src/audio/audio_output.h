#pragma once
// What both music sources (the runtime synthesiser and the module player) report to the rest of
// the show, and the playback device they each own: 32-bit float stereo at 48 kHz with
// miniaudio's default period, rendering in a callback on miniaudio's audio thread.
//
// This header does not include miniaudio, so the timeline, the overlays and the app can use the
// records without seeing the audio library.

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Musical position of a source, returned by value by GetPosition.
struct MusicPosition {
  double seconds = 0.0;  // musical time played
  float beats = 0.0f;    // bpm * seconds / 60
  float bars = 0.0f;     // never wrapped by a loop (module player: order + row fraction)
  float bpm = 0.0f;
  float level = 0.0f;    // smoothed RMS of the output
};

// One channel of one pattern row, copied from the module's event.
struct TrackerCell {
  std::int32_t note = 0;
  std::int32_t instrument = 0;
  std::int32_t volume = 0;
  std::int32_t effect_type = 0;
  std::int32_t effect_param = 0;
  std::int32_t effect2_type = 0;
  std::int32_t effect2_param = 0;
};

constexpr int kTrackerChannels = 8;
constexpr int kTrackerSteps = 16;
constexpr int kTrackerVisibleRows = 21;  // current row -10 ... +10

struct TrackerRow {
  std::int32_t row = -1;  // -1 outside the pattern
  std::array<TrackerCell, kTrackerChannels> channels{};
};

// Music state for the visualisation and the per-frame music drivers. The synthesiser fills the
// variant with `source` 0 (levels from the arrangement, its patterns and chord), the module
// player the variant with `source` 1 (pattern rows and channel volumes).
struct TrackerSnapshot {
  std::int32_t source = 0;  // 0 synthesiser, 1 module player
  std::string title;
  std::string type;
  float position = 0.0f;  // synthesiser: bar within the loop; module: order + row / rows
  float beats = 0.0f;
  float bpm = 0.0f;
  float step_phase = 0.0f;  // 0 ... 1 within the current sixteenth or row
  float kick = 0.0f;
  float perc = 0.0f;
  float bass = 0.0f;
  float lead = 0.0f;
  float pad = 0.0f;
  float clap = 0.0f;
  float hat = 0.0f;
  float ride = 0.0f;
  float impact = 0.0f;
  float build = 0.0f;
  float fill = 0.0f;
  std::int32_t bar_index = 0;
  std::int32_t beat = 0;
  std::int32_t step = 0;
  std::int32_t bar_in_8 = 0;
  std::int32_t bass_pattern = 0;
  std::int32_t lead_pattern = 0;
  std::int32_t chord_set = 0;
  std::int32_t order = 0;
  std::int32_t length = 0;
  std::int32_t pattern = 0;
  std::int32_t rows = 16;
  std::int32_t channels = 0;
  std::int32_t speed = 0;
  std::int32_t voices = 0;
  std::int32_t total_ms = 0;
  std::array<std::int32_t, kTrackerSteps> bass_steps{};
  std::array<std::int32_t, kTrackerSteps> lead_steps{};
  std::array<std::int32_t, 4> chord{};
  std::array<float, kTrackerChannels> channel_volume{};
  std::array<std::int32_t, kTrackerChannels> channel_note{};
  std::array<TrackerRow, kTrackerVisibleRows> pattern_rows{};
};

// Output format shared by both sources.
constexpr std::uint32_t kAudioSampleRate = 48000;
constexpr std::uint32_t kAudioChannels = 2;
// miniaudio's default period (10 ms) at 48 kHz: the block size offline renders use so they run
// the render code exactly as the device does.
constexpr std::uint32_t kAudioDefaultPeriodFrames = 480;

// Soft clip applied to every output sample by both sources: never reaches +-1.
inline float SoftClip(float x) { return x / (std::fabs(x) + 1.0f); }

// The level meter both sources update once per block from the sum of the squares of the block's
// samples: level += (rms - level) * 0.18. An empty block only decays the level.
inline float SmoothLevel(float level, double sum_of_squares, std::size_t sample_count) {
  const double mean = sum_of_squares / static_cast<double>(sample_count > 0 ? sample_count : 1);
  const float rms = static_cast<float>(std::sqrt(mean));
  return level + (rms - level) * 0.18f;
}

// A source's render function: writes `frames` interleaved stereo float frames to `out`. Runs on
// the audio thread; must not block or allocate.
using AudioRenderFunction = void (*)(void* source, float* out, std::uint32_t frames);

// One step of the device callback: the source renders the block, or the block is silent when
// there is no source.
void RenderAudioBlock(AudioRenderFunction render, void* source, float* out, std::uint32_t frames);

// A playback device that fails on purpose, for tests of how the show copes: every device opened
// after the call uses a stand-in backend that refuses to open, refuses to start, or starts and
// then never asks for a block (a device that stopped delivering). Process-wide; kNone restores
// the real backends.
enum class AudioDeviceFault { kNone, kInitFails, kStartFails, kNoCallbacks };
void SetAudioDeviceFault(AudioDeviceFault fault);

// One playback device. Init creates it on the first backend that opens (PulseAudio when a
// server can be reached, ALSA, JACK, then miniaudio's null backend, which plays into nothing in
// real time), Start/Stop run and pause the callback, Uninit releases it.
// All calls come from the main thread. The audio libraries are kept from printing to standard
// error; failures are returned as miniaudio result codes for the caller's status line.
class AudioDevice {
 public:
  AudioDevice();
  ~AudioDevice();
  AudioDevice(const AudioDevice&) = delete;
  AudioDevice& operator=(const AudioDevice&) = delete;

  // Creates the device with `render(source, ...)` as its callback. Returns 0 (MA_SUCCESS) or the
  // miniaudio error code. Calling it on an initialised device first releases the old one.
  int Init(AudioRenderFunction render, void* source);
  // Starts the callback. Returns 0 or the miniaudio error code (also when not initialised).
  int Start();
  // Stops the callback; when this returns the callback is no longer running.
  void Stop();
  // Stops and releases the device.
  void Uninit();

  bool IsInitialised() const { return device_ != nullptr; }
  bool IsStarted() const { return started_; }
  // The rate the device actually runs at; 48000 when it reports 0 or is not initialised.
  double SampleRate() const;
  // Name of the backend in use ("Null" on machines without a sound card), empty when none.
  std::string BackendName() const;

 private:
  struct Device;  // the miniaudio device and the callback target, allocated by Init
  std::unique_ptr<Device> device_;
  bool started_ = false;
};
