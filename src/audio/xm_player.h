#pragma once
// The tracker-module music source: plays a module (XM by default, any format libxmp loads)
// through libxmp on its own playback device, looping it forever. One "bar" of the show's clock
// is one order position; the snapshot carries the current pattern rows and the per-channel notes
// and volumes for the tracker display.
//
// Threads: every public operation runs on the main thread; the device renders on miniaudio's
// audio thread. The frame information the callback publishes after each block is read by the
// main thread through a sequence counter (the writer never waits; a reader that overlapped a
// write reads again). The module, its bytes and the device change only while stopped.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/audio_output.h"

static_assert(std::atomic<std::int32_t>::is_always_lock_free &&
                  std::atomic<std::uint32_t>::is_always_lock_free && std::atomic<float>::is_always_lock_free,
              "the module player's published values must be lock-free atomics");

// The default module of the show.
inline constexpr const char* kDefaultXmModulePath = "data/modules/KOBALT.XM";

// Facts libxmp reports about a loaded module, for tools and tests that inspect one.
struct XmModuleFacts {
  std::string name;
  std::string type;
  int orders = 0;
  int patterns = 0;
  int channels = 0;
  int instruments = 0;
  int samples = 0;
  int speed = 0;
  int bpm = 0;
  int restart = 0;
  int total_ms = 0;  // libxmp's estimate of one pass through the song
};

// Loads `bytes` with libxmp and fills `facts`. Returns 0, or libxmp's (negative) error code.
int InspectXmModule(const std::vector<std::uint8_t>& bytes, XmModuleFacts& facts);

class XmPlayer {
 public:
  static constexpr int kMaxChannels = 64;
  static constexpr double kRate = 48000.0;
  // Frames the callback renders through libxmp in one go; a larger device period is rendered in
  // several pieces, so the buffer never grows on the audio thread.
  static constexpr std::uint32_t kRenderChunkFrames = 4096;

  XmPlayer();
  ~XmPlayer();
  XmPlayer(const XmPlayer&) = delete;
  XmPlayer& operator=(const XmPlayer&) = delete;

  // Module bytes (from the asset pack) and the path they came from; ignored while playing.
  void SetModuleData(const std::string& path, std::vector<std::uint8_t> bytes);
  // A module file to load at the next Start; drops held bytes. Ignored while playing.
  void SetModulePath(const std::string& path);
  void SetVolume(float volume);  // 0 ... 1; NaN counts as 0

  // Loads the module afresh, starts libxmp and the device. True when playing (also when it
  // already was); on failure everything is released and the status line says why.
  bool Start();
  // Stops and releases the device and the module; status "XM stopped".
  void Stop();
  // Jumps to order `order` (wrapped into the song; the fraction picks the row).
  bool SeekToOrder(double order);

  bool IsPlaying() const { return playing_; }
  MusicPosition GetPosition() const;
  TrackerSnapshot GetVizSnapshot() const;

  // Offline rendering through exactly the code the device callback runs, for captures, tools and
  // tests. BeginOfflineRender loads and starts the module as Start does, without a device (false
  // while playing, or with Start's status line when loading fails); RenderOffline then renders
  // one block of interleaved stereo frames (silence while the device plays or nothing is loaded).
  bool BeginOfflineRender();
  void RenderOffline(float* out, std::uint32_t frames);

  const std::string& GetStatus() const { return status_; }
  const std::string& GetTitle() const { return title_; }
  const std::string& GetType() const { return type_; }
  const std::string& GetModulePath() const { return module_path_; }
  const std::string& GetSourceName() const { return source_name_; }
  std::size_t GetModuleDataSize() const { return module_data_.size(); }
  float GetVolume() const { return volume_.load(std::memory_order_relaxed); }
  float GetLevel() const { return level_.load(std::memory_order_relaxed); }
  bool IsModuleLoaded() const { return module_loaded_; }
  double GetDeviceRate() const { return device_rate_; }

 private:
  // The player state after the last rendered block.
  struct FrameInfo {
    std::int32_t order = 0;
    std::int32_t pattern = 0;
    std::int32_t row = 0;
    std::int32_t rows = 64;
    std::int32_t tick = 0;
    std::int32_t speed = 6;
    std::int32_t bpm = 125;
    std::int32_t time_ms = 0;
    std::int32_t total_ms = 0;
    std::int32_t voices = 0;
    std::int32_t note[kMaxChannels] = {};
    std::int32_t volume[kMaxChannels] = {};
  };
  // FrameInfo as atomics, so a read that overlaps the callback's write is a retry, not a race.
  struct PublishedFrameInfo {
    std::atomic<std::uint32_t> sequence{0};  // odd while a write is under way
    std::atomic<std::int32_t> values[10 + 2 * kMaxChannels] = {};
  };

  static void DeviceRender(void* self, float* out, std::uint32_t frames);
  void RenderBlock(float* out, std::uint32_t frames);
  bool LoadAndStartPlayer();  // Start's steps 1 to 4
  void Release();
  void UpdateFrameInfo();
  void Publish(const FrameInfo& info);
  FrameInfo ReadFrameInfo() const;
  std::string FailureText(const char* format, int code) const;

  AudioDevice device_;
  bool device_ready_ = false;
  bool playing_ = false;
  bool module_loaded_ = false;
  bool player_started_ = false;
  void* context_ = nullptr;       // libxmp context (xmp_context)
  const void* module_ = nullptr;  // libxmp's module description (const xmp_module*)
  double device_rate_ = kRate;
  std::string module_path_ = kDefaultXmModulePath;
  std::string source_name_;
  std::string title_ = "XM module";
  std::string type_ = "FastTracker module";
  std::string status_ = "XM stopped";
  std::vector<std::uint8_t> module_data_;
  std::vector<std::int16_t> render_buffer_;  // sized once by Start
  std::atomic<float> volume_{0.72f};
  std::atomic<float> level_{0.0f};
  PublishedFrameInfo published_;
};
