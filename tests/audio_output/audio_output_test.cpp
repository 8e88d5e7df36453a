// The real playback device (miniaudio's null backend on machines without a sound card): it
// starts, calls back in real time, stops, and keeps the audio libraries off standard error.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "audio/audio_output.h"
#include "audio/runtime_synth.h"

namespace {

// Sends file descriptor 2 into a temporary file while alive; Text() is what was written.
class StderrCapture {
 public:
  StderrCapture() {
    path_ = (std::filesystem::temp_directory_path() /
             ("kestrel_stderr_" + std::to_string(::getpid()) + ".txt")).string();
    std::fflush(stderr);
    saved_ = ::dup(2);
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 2);
    ::close(fd);
  }
  ~StderrCapture() {
    Restore();
    std::filesystem::remove(path_);
  }
  std::string Text() {
    Restore();
    std::ifstream in(path_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
    saved_ = -1;
  }
  std::string path_;
  int saved_ = -1;
};

struct Counter {
  std::atomic<std::uint64_t> frames{0};
  std::atomic<bool> silent_buffer{true};
};

void CountFrames(void* source, float* out, std::uint32_t frames) {
  auto* counter = static_cast<Counter*>(source);
  for (std::uint32_t i = 0; i < 2 * frames; ++i) out[i] = 0.25f;
  counter->frames.fetch_add(frames);
}

// Waits up to two seconds for `done`.
template <typename Predicate>
bool WaitFor(Predicate done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::filesystem::path WriteTrack() {
  const auto path = std::filesystem::temp_directory_path() /
                    ("kestrel_device_track_" + std::to_string(::getpid()) + ".txt");
  std::ofstream(path) << "loop_bars = 8\n"
                         "bass_pattern = 0 . 0 7 0 . 0 . 0 . 12 . 7 . . 0\n"
                         "lead_pattern = 0 . 12 . 19 . 12 . 0 . 10 . 19 . 19 .\n"
                         "chord_set = 0 3 7 12 -4 0 3 10 3 7 10 15 -2 2 5 10\n";
  return path;
}

// Sends every relative search path into a directory that does not exist.
std::string Nowhere(const std::string& path) {
  return !path.empty() && path[0] == '/' ? path : "/nonexistent_kestrel/" + path;
}

}  // namespace

TEST(AudioOutput, BlockWithoutSourceIsSilence) {
  std::vector<float> out(2 * 64, 3.0f);
  RenderAudioBlock(&CountFrames, nullptr, out.data(), 64);
  for (float x : out) EXPECT_EQ(x, 0.0f);
  out.assign(out.size(), 3.0f);
  Counter counter;
  RenderAudioBlock(nullptr, &counter, out.data(), 64);
  for (float x : out) EXPECT_EQ(x, 0.0f);
  RenderAudioBlock(&CountFrames, &counter, out.data(), 64);
  EXPECT_EQ(counter.frames.load(), 64u);
  EXPECT_EQ(out[127], 0.25f);
}

TEST(AudioOutput, DeviceCallsBackUntilStoppedAndPrintsNothing) {
  StderrCapture capture;
  Counter counter;
  {
    AudioDevice device;
    ASSERT_EQ(device.Init(&CountFrames, &counter), 0);
    EXPECT_TRUE(device.IsInitialised());
    EXPECT_EQ(device.SampleRate(), 48000.0);
    EXPECT_FALSE(device.BackendName().empty());
    EXPECT_EQ(counter.frames.load(), 0u);  // nothing renders before Start

    ASSERT_EQ(device.Start(), 0);
    EXPECT_TRUE(device.IsStarted());
    EXPECT_TRUE(WaitFor([&] { return counter.frames.load() >= 4800; }));

    device.Stop();
    EXPECT_FALSE(device.IsStarted());
    const std::uint64_t after_stop = counter.frames.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(counter.frames.load(), after_stop);

    // A stopped device starts again.
    ASSERT_EQ(device.Start(), 0);
    EXPECT_TRUE(WaitFor([&] { return counter.frames.load() > after_stop; }));
    device.Uninit();
    EXPECT_FALSE(device.IsInitialised());
    EXPECT_NE(device.Start(), 0);  // no device any more
  }
  EXPECT_EQ(capture.Text(), "");
}

TEST(AudioOutput, SynthPlaysOnTheDeviceAndItsPositionAdvances) {
  StderrCapture capture;
  const std::filesystem::path track = WriteTrack();
  {
    RuntimeSynth synth;
    synth.SetPathResolver(&Nowhere);
    synth.SetTrackPath(track.string());
    synth.SetSpeed(0.5f);  // Start plays at full speed and full music level again
    synth.SetMusicLevel(0.0f);
    ASSERT_TRUE(synth.Start()) << synth.GetStatus();
    EXPECT_TRUE(synth.IsPlaying());
    EXPECT_EQ(synth.GetStatus(),
              "8-bar runtime trance synth playing: " + track.string() + "; oracle voice 0/8 loaded");
    EXPECT_EQ(synth.GetSpeed(), 1.0f);
    EXPECT_EQ(synth.GetMusicLevel(), 1.0f);
    EXPECT_EQ(synth.GetDeviceRate(), 48000.0);

    // Real time: a quarter of a second is about 0.146 bars at 140 bpm.
    EXPECT_TRUE(WaitFor([&] { return synth.GetPosition().seconds >= 0.25; }));
    EXPECT_TRUE(WaitFor([&] { return synth.GetPosition().level > 0.01f; }));

    // The offline entry stays out of the way of the device's thread.
    std::vector<float> block(2 * 256, 5.0f);
    synth.RenderOffline(block.data(), 256);
    for (float x : block) ASSERT_EQ(x, 0.0f);

    // Start again changes nothing: no reload, no restart from bar 0.
    const double before = synth.GetPosition().seconds;
    EXPECT_TRUE(synth.Start());
    EXPECT_GE(synth.GetPosition().seconds, before);

    // Seeking while playing jumps there and plays on.
    EXPECT_TRUE(synth.SeekToBar(10.0f));
    EXPECT_TRUE(synth.IsPlaying());
    const float sought = synth.GetPosition().bars;
    EXPECT_GE(sought, 10.0f - 1e-4f);  // the seek lands on a whole frame
    EXPECT_LT(sought, 10.2f);
    EXPECT_TRUE(WaitFor([&] { return synth.GetPosition().bars > sought + 0.05f; }));

    synth.Stop();
    EXPECT_FALSE(synth.IsPlaying());
    EXPECT_EQ(synth.GetStatus(), "Synth stopped");
    const double stopped_at = synth.GetPosition().seconds;
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    EXPECT_EQ(synth.GetPosition().seconds, stopped_at);
  }
  std::filesystem::remove(track);
  EXPECT_EQ(capture.Text(), "");
}

TEST(AudioOutput, SynthWithoutTrackFilePlaysTheBuiltInTrack) {
  StderrCapture capture;
  {
    RuntimeSynth synth;
    synth.SetPathResolver(&Nowhere);
    synth.SetTrackPath("/nonexistent_kestrel/track.txt");
    ASSERT_TRUE(synth.Start()) << synth.GetStatus();
    EXPECT_EQ(synth.GetStatus(),
              "96-bar runtime trance synth playing (No synth track file found; using fallback); "
              "oracle voice 0/8 loaded");
    // A new track waits until the synthesiser is stopped; the next Start loads it.
    const std::filesystem::path track = WriteTrack();
    synth.SetTrackPath(track.string());
    EXPECT_EQ(synth.GetTrack().loop_bars, 96.0f);
    synth.Stop();
    ASSERT_TRUE(synth.Start());
    EXPECT_EQ(synth.GetTrack().loop_bars, 8.0f);
    synth.Stop();
    std::filesystem::remove(track);
  }
  EXPECT_EQ(capture.Text(), "");
}
