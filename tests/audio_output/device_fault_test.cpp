// Devices that fail: one that cannot be opened, one that cannot be started, one that starts and
// never asks for a block. The device reports miniaudio's code, the synthesiser keeps the status
// line the show expects, and nothing waits for a callback that never comes.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "audio/audio_output.h"
#include "audio/runtime_synth.h"

namespace {

// Installs a fault for the life of the object.
class FaultyDevices {
 public:
  explicit FaultyDevices(AudioDeviceFault fault) { SetAudioDeviceFault(fault); }
  ~FaultyDevices() { SetAudioDeviceFault(AudioDeviceFault::kNone); }
  FaultyDevices(const FaultyDevices&) = delete;
  FaultyDevices& operator=(const FaultyDevices&) = delete;
};

void CountBlock(void* source, float* out, std::uint32_t frames) {
  static_cast<std::atomic<int>*>(source)->fetch_add(1);
  for (std::uint32_t i = 0; i < frames * kAudioChannels; ++i) out[i] = 0.0f;
}

TEST(AudioDeviceFaults, EachFaultIsReportedWhereItHappens) {
  std::atomic<int> blocks{0};
  {
    FaultyDevices faulty(AudioDeviceFault::kInitFails);
    AudioDevice device;
    EXPECT_EQ(device.Init(&CountBlock, &blocks), -401);  // MA_FAILED_TO_OPEN_BACKEND_DEVICE
    EXPECT_FALSE(device.IsInitialised());
    EXPECT_NE(device.Start(), 0);
  }
  {
    FaultyDevices faulty(AudioDeviceFault::kStartFails);
    AudioDevice device;
    ASSERT_EQ(device.Init(&CountBlock, &blocks), 0);
    EXPECT_EQ(device.Start(), -402);  // MA_FAILED_TO_START_BACKEND_DEVICE
    EXPECT_FALSE(device.IsStarted());
  }
  {
    FaultyDevices faulty(AudioDeviceFault::kNoCallbacks);
    AudioDevice device;
    ASSERT_EQ(device.Init(&CountBlock, &blocks), 0);
    ASSERT_EQ(device.Start(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    device.Stop();  // returns although no callback ever ran
    device.Uninit();
  }
  EXPECT_EQ(blocks.load(), 0);

  // The real backends again: the null device calls back.
  AudioDevice device;
  ASSERT_EQ(device.Init(&CountBlock, &blocks), 0);
  ASSERT_EQ(device.Start(), 0);
  for (int i = 0; i < 200 && blocks.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  device.Uninit();
  EXPECT_GT(blocks.load(), 0);
}

TEST(AudioDeviceFaults, TheSynthesiserKeepsItsStatusAndStaysStopped) {
  struct Case {
    AudioDeviceFault fault;
    const char* status;
  };
  const Case cases[] = {
      {AudioDeviceFault::kInitFails, "Audio init failed (-401)"},
      {AudioDeviceFault::kStartFails, "Audio start failed (-402)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    FaultyDevices faulty(c.fault);
    RuntimeSynth synth;
    EXPECT_FALSE(synth.Start());
    EXPECT_EQ(synth.GetStatus(), c.status);
    EXPECT_FALSE(synth.IsPlaying());
    // A seek while stopped only moves the position.
    EXPECT_TRUE(synth.SeekToBar(8.0f));
    EXPECT_NEAR(synth.GetPosition().bars, 8.0f, 1e-4f);
  }

  // A device that never calls back: the synthesiser plays, its position stands still, and it
  // stops at once when asked.
  FaultyDevices faulty(AudioDeviceFault::kNoCallbacks);
  RuntimeSynth synth;
  ASSERT_TRUE(synth.Start());
  ASSERT_TRUE(synth.SeekToBar(4.0f));
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(synth.GetSampleCounter(), 0u);
  EXPECT_NEAR(synth.GetPosition().bars, 4.0f, 1e-4f);
  synth.Stop();
  EXPECT_FALSE(synth.IsPlaying());
}

}  // namespace
