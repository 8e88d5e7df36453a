#pragma once
// The built-in music source: a small trance synthesiser that renders the whole piece sample by
// sample from the synth track, the fixed arrangement and the eight oracle voices. Voices: a
// pitch-swept sine kick, noise percussion, hat, ride and clap, a noise roll, an impact hit, a
// gliding filtered bass, a five-saw detuned lead, a four-note detuned pad and a stereo echo.
//
// Threads: every public operation runs on the main thread; the device renders on miniaudio's
// audio thread. They share only the plain control and position values held in atomics (no lock,
// no waiting). The track, voices, echo lines and device change only while the device is stopped.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/arrangement.h"
#include "audio/audio_output.h"
#include "audio/oracle_voice.h"
#include "audio/synth_track.h"

// The callback shares its controls and published position through these atomics only; on a
// target where one of them needed a hidden lock the audio thread could wait on the main thread.
static_assert(std::atomic<float>::is_always_lock_free && std::atomic<double>::is_always_lock_free &&
                  std::atomic<std::uint64_t>::is_always_lock_free,
              "the synthesiser's control and position values must be lock-free atomics");

class RuntimeSynth {
 public:
  // Control ranges.
  static constexpr float kMinTempo = 80.0f;
  static constexpr float kMaxTempo = 180.0f;
  static constexpr float kMinSpeed = 0.02f;
  static constexpr float kMaxSpeed = 1.25f;

  RuntimeSynth();  // loads the track and the voices at once
  ~RuntimeSynth();
  RuntimeSynth(const RuntimeSynth&) = delete;
  RuntimeSynth& operator=(const RuntimeSynth&) = delete;

  // File hooks and the track path; each reloads the track and voices when not playing.
  void SetPathResolver(PathResolver resolver);
  void SetFileReader(FileReader reader);
  void SetTrackPath(const std::string& path);  // reloads only when the path changes

  // Controls, safe while playing; the callback picks them up at its next block.
  void SetTempo(float bpm);           // 80 ... 180; NaN leaves the tempo unchanged
  void SetMasterVolume(float volume);  // 0 ... 1, scales everything; NaN counts as 0
  void SetMusicLevel(float level);     // 0 ... 1, scales the synthesised voices only
  void SetSpeed(float speed);          // 0.02 ... 1.25, scales time and pitch
  void SetLoopRegion(float start, float end);  // bars; anything but 0 <= start < end clears it

  // Loads track and voices, opens and starts the device. True when playing (also when it
  // already was). On failure the status line holds the miniaudio error.
  bool Start();
  // Stops and releases the device; status "Synth stopped".
  void Stop();
  // Moves the musical position to `bar` (negative counts as 0) and resets the sound state,
  // restarting the device when it was playing. False only when that restart fails.
  bool SeekToBar(float bar);
  // Track and voices again through the current path and hooks. Only while not playing.
  void Reload();

  bool IsPlaying() const { return playing_; }
  float GetTempo() const { return tempo_.load(std::memory_order_relaxed); }
  float GetMasterVolume() const { return master_volume_.load(std::memory_order_relaxed); }
  float GetMusicLevel() const { return music_level_.load(std::memory_order_relaxed); }
  float GetSpeed() const { return speed_.load(std::memory_order_relaxed); }
  float GetLoopStart() const;  // -1 when no loop region is set
  float GetLoopEnd() const;

  // Position as last published by the audio thread (up to one device period old). Bars are not
  // wrapped by the loop region or the track's loop.
  MusicPosition GetPosition() const;
  // The synthesiser's variant of the visualisation record at the current position.
  TrackerSnapshot GetVizSnapshot() const;

  const std::string& GetStatus() const { return status_; }
  const std::string& GetTrackStatus() const { return track_status_; }
  const std::string& GetVoiceStatus() const { return voice_status_; }
  const SynthTrack& GetTrack() const { return track_; }
  const OracleVoiceSet& GetVoices() const { return voices_; }
  double GetDeviceRate() const { return device_rate_; }
  std::uint64_t GetSampleCounter() const {
    return sample_counter_.load(std::memory_order_relaxed);
  }

  // Offline rendering through exactly the code the device callback runs, for tools and tests.
  // BeginOfflineRender prepares as Start does (reload, echo lines, position 0, music level 1,
  // speed 1, reset) without a device; false while playing. RenderOffline then renders one block
  // of `frames` interleaved stereo frames; while the device plays it writes silence instead.
  bool BeginOfflineRender(double rate = kAudioSampleRate);
  void RenderOffline(float* out, std::uint32_t frames);

 private:
  // Oscillator phases and frequencies, filter states and the noise low-pass. Owned by the audio
  // thread while playing.
  struct VoiceState {
    float bass_phase = 0.0f;
    float bass_freq = 0.0f;
    float bass_y1 = 0.0f;
    float bass_y2 = 0.0f;
    float lead_phase[5] = {};
    float lead_y = 0.0f;
    float pad_phase[4][2] = {};
    float pad_freq[4][2] = {};
    float pad_y = 0.0f;
    float noise_lp = 0.0f;
  };

  static void DeviceRender(void* self, float* out, std::uint32_t frames);
  void RenderBlock(float* out, std::uint32_t frames);
  void PrepareEcho();
  void ResetSound();

  AudioDevice device_;
  bool playing_ = false;
  double device_rate_ = kAudioSampleRate;
  std::string status_ = "Synth stopped";
  std::string track_status_;
  std::string voice_status_;
  std::string track_path_;
  PathResolver resolver_;
  FileReader reader_;
  SynthTrack track_;
  OracleVoiceSet voices_;

  // Written by the main thread, read once per block by the audio thread.
  std::atomic<float> tempo_{140.0f};
  std::atomic<float> master_volume_{0.55f};
  std::atomic<float> music_level_{1.0f};
  std::atomic<float> speed_{1.0f};
  std::atomic<std::uint64_t> loop_region_;  // start and end floats packed, read as one value

  // Published by the audio thread once per block (by the main thread only while stopped).
  std::atomic<double> frame_position_{0.0};  // musical time in output frames
  std::atomic<std::uint64_t> sample_counter_{0};  // frames rendered since start or seek
  std::atomic<float> level_{0.0f};

  VoiceState voice_;
  std::vector<float> echo_left_;  // one second each
  std::vector<float> echo_right_;
  std::size_t echo_write_ = 0;
};
