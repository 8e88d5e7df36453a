// The module player: loading from bytes or a path, every failure's status line, seeking by order,
// looping without a gap, the snapshot for the tracker display, and the real device (miniaudio's
// null backend on machines without a sound card).

#include "audio/xm_player.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "xm_modules.h"

namespace {

std::vector<float> RenderFrames(XmPlayer& xm, std::size_t frames) {
  std::vector<float> out(frames * 2);
  for (std::size_t done = 0; done < frames; done += kAudioDefaultPeriodFrames) {
    const auto n =
        static_cast<std::uint32_t>(std::min<std::size_t>(kAudioDefaultPeriodFrames, frames - done));
    xm.RenderOffline(out.data() + 2 * done, n);
  }
  return out;
}

TEST(XmPlayer, InitialStateIsStoppedWithTheDefaults) {
  XmPlayer xm;
  EXPECT_EQ(xm.GetStatus(), "XM stopped");
  EXPECT_EQ(xm.GetTitle(), "XM module");
  EXPECT_EQ(xm.GetType(), "FastTracker module");
  EXPECT_EQ(xm.GetModulePath(), "data/modules/KOBALT.XM");
  EXPECT_FLOAT_EQ(xm.GetVolume(), 0.72f);
  EXPECT_FALSE(xm.IsPlaying());
  EXPECT_FALSE(xm.SeekToOrder(1.0));  // nothing loaded
  const MusicPosition p = xm.GetPosition();
  EXPECT_EQ(p.bars, 0.0f);
  EXPECT_EQ(p.bpm, 125.0f);
  const TrackerSnapshot s = xm.GetVizSnapshot();
  EXPECT_EQ(s.source, 1);
  EXPECT_EQ(s.rows, 64);
  EXPECT_EQ(s.pattern_rows[10].row, -1);
  // Silence without a module.
  std::vector<float> block(2 * 64, 1.0f);
  xm.RenderOffline(block.data(), 64);
  for (float x : block) EXPECT_EQ(x, 0.0f);

  for (float v : {-1.0f, 2.0f, NAN}) {
    xm.SetVolume(v);
    EXPECT_GE(xm.GetVolume(), 0.0f);
    EXPECT_LE(xm.GetVolume(), 1.0f);
  }
  xm.SetVolume(0.5f);
  EXPECT_FLOAT_EQ(xm.GetVolume(), 0.5f);
}

TEST(XmPlayer, SeeksByOrderWrappingIntoTheSong) {
  // Four orders; order 1's pattern has 32 rows so the row fraction is visible.
  XmPlayer xm;
  xm.SetModuleData("four.xm", SteadyModuleBytes("four", {16, 32, 16, 16}));
  ASSERT_TRUE(xm.BeginOfflineRender()) << xm.GetStatus();
  struct Case {
    double target;
    int order;
    int row;
  };
  const Case cases[] = {
      {5.5, 1, 16},  // 5.5 in 4 orders: order 1, the middle row
      {-1.0, 3, 0},  // the last order
      {-0.25, 3, 12}, {4.0, 0, 0}, {0.5, 0, 8}, {2.999, 2, 15}, {1.0, 1, 0}, {NAN, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    ASSERT_TRUE(xm.SeekToOrder(c.target));
    const TrackerSnapshot s = xm.GetVizSnapshot();
    EXPECT_EQ(s.order, c.order);
    EXPECT_EQ(s.step, c.row);
    EXPECT_EQ(s.length, 4);
    const int rows = c.order == 1 ? 32 : 16;
    EXPECT_EQ(s.rows, rows);
    EXPECT_FLOAT_EQ(xm.GetPosition().bars, static_cast<float>(c.order) + static_cast<float>(c.row) / rows);
    EXPECT_EQ(xm.GetLevel(), 0.0f);
    for (float v : s.channel_volume) EXPECT_EQ(v, 0.0f);
  }
  // It plays on from there: order 1 from its middle row.
  ASSERT_TRUE(xm.SeekToOrder(5.5));
  RenderFrames(xm, 9600);  // 0.2 s: a row and a half at 125 bpm
  const TrackerSnapshot s = xm.GetVizSnapshot();
  EXPECT_EQ(s.order, 1);
  EXPECT_GT(s.step, 16);
  EXPECT_LT(s.step, 20);
  EXPECT_GT(xm.GetLevel(), 0.0f);
}

TEST(XmPlayer, SeekingToAnOrderWithoutItsPatternStaysInsideTheModule) {
  // Found by fuzzing: two orders, the second naming pattern 48 of a module that holds one
  // (4 channels, 8 rows). libxmp loads it; setting a row there read outside its pattern table.
  std::ifstream in(KESTREL_TEST_DATA "/modules/order_without_pattern.xm", std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  ASSERT_EQ(bytes.size(), 410u);
  XmPlayer xm;
  xm.SetModuleData("order_without_pattern.xm", bytes);
  ASSERT_TRUE(xm.BeginOfflineRender()) << xm.GetStatus();
  for (const double target : {1.5, -0.5, 3.75}) {
    SCOPED_TRACE(target);
    EXPECT_TRUE(xm.SeekToOrder(target));  // the order is set, the row is not
    EXPECT_EQ(xm.GetVizSnapshot().step, 0);
    for (const float x : RenderFrames(xm, 2048)) ASSERT_TRUE(std::isfinite(x));
  }
  // The order that has its pattern still seeks to the row.
  ASSERT_TRUE(xm.SeekToOrder(0.5));
  EXPECT_EQ(xm.GetVizSnapshot().order, 0);
  EXPECT_EQ(xm.GetVizSnapshot().step, 4);
}

TEST(XmPlayer, AModuleWithoutChannelsIsRefused) {
  // Found by fuzzing: an XM header with 0 channels (and orders naming missing patterns). libxmp
  // loads it, but rendering a block of it never returned.
  std::ifstream in(KESTREL_TEST_DATA "/modules/no_channels.xm", std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  ASSERT_EQ(bytes.size(), 371u);
  XmPlayer xm;
  xm.SetModuleData("no_channels.xm", bytes);
  EXPECT_FALSE(xm.BeginOfflineRender());
  EXPECT_EQ(xm.GetStatus(), "XM load failed (-3): no_channels.xm");
  EXPECT_FALSE(xm.IsModuleLoaded());
  EXPECT_FALSE(xm.SeekToOrder(1.0));
  std::vector<float> block(2 * 256, 1.0f);
  xm.RenderOffline(block.data(), 256);
  for (const float x : block) EXPECT_EQ(x, 0.0f);
  // The player stays usable for a good module.
  xm.SetModuleData("good.xm", SteadyModuleBytes("good", {16}));
  EXPECT_TRUE(xm.BeginOfflineRender()) << xm.GetStatus();
}

TEST(XmPlayer, LoopsFromOrderZeroWithoutAGap) {
  // 131 bpm: the song's end falls inside a device period, not on its edge.
  XmPlayer xm;
  xm.SetModuleData("loop.xm", SteadyModuleBytes("loop", {16, 16}, 131));
  xm.SetVolume(1.0f);
  ASSERT_TRUE(xm.BeginOfflineRender());
  const double song_seconds = 32 * 6 * 2.5 / 131.0;
  const auto frames = static_cast<std::size_t>(song_seconds * 48000.0);
  // Up to just before the end, then block by block across it.
  std::vector<float> before = RenderFrames(xm, frames - 2000);
  EXPECT_EQ(xm.GetVizSnapshot().order, 1);
  std::vector<float> across = RenderFrames(xm, 6000);
  std::size_t silent = 0;
  for (std::size_t i = 0; i < across.size(); ++i) silent += across[i] == 0.0f ? 1 : 0;
  EXPECT_EQ(silent, 0u);
  // A new note ramps in over a few samples, at the loop as at every fourth row in the song: the
  // loop dips no deeper than the notes of the last second before it.
  const float steady = before[before.size() - 2];
  EXPECT_GT(steady, 0.05f);
  float lowest_in_song = steady;
  for (std::size_t i = before.size() - 2 * 48000; i < before.size(); ++i)
    lowest_in_song = std::min(lowest_in_song, before[i]);
  for (float x : across) ASSERT_GE(x, 0.98f * lowest_in_song) << "a dip at the loop";
  // Back at order 0, a few rows in.
  const TrackerSnapshot s = xm.GetVizSnapshot();
  EXPECT_EQ(s.order, 0);
  EXPECT_LE(s.step, 4);
  EXPECT_LT(xm.GetPosition().seconds, 1.0);
}

TEST(XmPlayer, EmptyNameGivesUntitledAndTheStatusSaysSoOnTheRealDevice) {
  XmPlayer xm;
  xm.SetModuleData("", SteadyModuleBytes("", {16}));
  EXPECT_EQ(xm.GetModulePath(), "data/modules/KOBALT.XM");  // the default when empty
  EXPECT_EQ(xm.GetSourceName(), "data/modules/KOBALT.XM");
  ASSERT_TRUE(xm.Start()) << xm.GetStatus();
  EXPECT_TRUE(xm.IsPlaying());
  EXPECT_EQ(xm.GetTitle(), "Untitled XM");
  EXPECT_EQ(xm.GetStatus(), "XM playing: Untitled XM");
  EXPECT_EQ(xm.GetVizSnapshot().title, "Untitled XM");
  EXPECT_TRUE(xm.Start());  // already playing
  xm.Stop();
  EXPECT_EQ(xm.GetStatus(), "XM stopped");
  EXPECT_EQ(xm.GetTitle(), "XM module");
}

TEST(XmPlayer, ModuleChangesWaitUntilStopped) {
  const std::string path_b = WriteTempFile("b.xm", SteadyModuleBytes("module B", {16}));
  XmPlayer xm;
  xm.SetModuleData("a.xm", SteadyModuleBytes("module A", {16}));
  ASSERT_TRUE(xm.Start()) << xm.GetStatus();
  EXPECT_EQ(xm.GetTitle(), "module A");
  xm.SetModulePath(path_b);  // ignored while playing
  xm.SetModuleData("c.xm", {1, 2, 3});
  EXPECT_EQ(xm.GetModulePath(), "a.xm");
  EXPECT_GT(xm.GetModuleDataSize(), 3u);
  EXPECT_EQ(xm.GetTitle(), "module A");
  xm.Stop();
  xm.SetModulePath(path_b);
  EXPECT_EQ(xm.GetModuleDataSize(), 0u);
  EXPECT_EQ(xm.GetSourceName(), "");
  ASSERT_TRUE(xm.Start()) << xm.GetStatus();
  EXPECT_EQ(xm.GetTitle(), "module B");
  EXPECT_EQ(xm.GetStatus(), "XM playing: module B");
  xm.Stop();
}

TEST(XmPlayer, EveryLoadFailureHasItsStatusAndLeavesThePlayerUsable) {
  const std::vector<std::uint8_t> good = SteadyModuleBytes("good", {16, 16});
  const std::string dir = KESTREL_TEST_DATA "/assets/";
  struct Case {
    const char* what;
    std::string path;                 // module path
    std::vector<std::uint8_t> bytes;  // held bytes; empty: load from the path
    std::string status;
  };
  const std::vector<Case> cases = {
      {"missing file",
       "/nonexistent_kestrel/missing.xm",
       {},
       "XM load failed (-6): /nonexistent_kestrel/missing.xm"},
      {"empty file", dir + "empty.bin", {}, "XM load failed (-3): " + dir + "empty.bin"},
      {"text file", dir + "not_an_image.txt", {}, "XM load failed (-3): " + dir + "not_an_image.txt"},
      {"damaged image", dir + "truncated.png", {}, "XM load failed (-3): " + dir + "truncated.png"},
      {"a directory", dir, {}, "XM load failed (-6): " + dir},
      {"header only, from bytes", "cut.xm", std::vector<std::uint8_t>(good.begin(), good.begin() + 100),
       "XM load failed (-4): cut.xm"},
      {"not a module, from bytes", "junk.xm", std::vector<std::uint8_t>(500, 0x5A),
       "XM load failed (-3): junk.xm"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    XmPlayer xm;
    if (c.bytes.empty()) {
      xm.SetModulePath(c.path);
    } else {
      xm.SetModuleData(c.path, c.bytes);
    }
    EXPECT_FALSE(xm.Start());
    EXPECT_EQ(xm.GetStatus(), c.status);
    EXPECT_FALSE(xm.IsPlaying());
    EXPECT_FALSE(xm.IsModuleLoaded());
    EXPECT_EQ(xm.GetTitle(), "XM module");
    EXPECT_FALSE(xm.SeekToOrder(1.0));
    EXPECT_FALSE(xm.BeginOfflineRender());
    EXPECT_EQ(xm.GetStatus(), c.status);
    std::vector<float> block(2 * 480, 1.0f);
    xm.RenderOffline(block.data(), 480);
    for (float x : block) ASSERT_EQ(x, 0.0f);
    // Still usable: a good module plays.
    xm.SetModuleData("good.xm", good);
    EXPECT_TRUE(xm.BeginOfflineRender()) << xm.GetStatus();
    EXPECT_EQ(xm.GetStatus(), "XM playing: good");
  }
}

TEST(XmPlayer, EveryDamagedAssetFixtureIsRefused) {
  // The asset tests' damaged and foreign files, from the path and as held bytes.
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(KESTREL_TEST_DATA "/assets")) {
    const std::string path = entry.path().string();
    SCOPED_TRACE(path);
    ++files;
    XmPlayer from_path;
    from_path.SetModulePath(path);
    EXPECT_FALSE(from_path.BeginOfflineRender());
    EXPECT_EQ(from_path.GetStatus().rfind("XM load failed (-", 0), 0u) << from_path.GetStatus();
    EXPECT_EQ(from_path.GetStatus().substr(from_path.GetStatus().find("): ") + 3), path);
    std::ifstream in(path, std::ios::binary);
    XmPlayer from_bytes;
    from_bytes.SetModuleData(path, std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {}));
    EXPECT_FALSE(from_bytes.Start());
    EXPECT_EQ(from_bytes.GetStatus().rfind("XM load failed (-", 0), 0u) << from_bytes.GetStatus();
    EXPECT_FALSE(from_bytes.IsPlaying());
  }
  EXPECT_GE(files, 8);
}

TEST(XmPlayer, SnapshotCarriesThePatternRowsAndChannels) {
  XmPlayer xm;
  xm.SetModuleData("rows.xm", SteadyModuleBytes("rows", {16, 32}));
  xm.SetVolume(1.0f);
  ASSERT_TRUE(xm.BeginOfflineRender());
  ASSERT_TRUE(xm.SeekToOrder(1.0 + 4.0 / 32.0));  // order 1, row 4
  RenderFrames(xm, 100);
  const TrackerSnapshot s = xm.GetVizSnapshot();
  EXPECT_EQ(s.title, "rows");
  EXPECT_EQ(s.channels, 4);
  EXPECT_EQ(s.speed, 6);
  EXPECT_EQ(s.bpm, 125.0f);
  EXPECT_EQ(s.order, 1);
  EXPECT_EQ(s.bar_index, 1);
  EXPECT_EQ(s.bar_in_8, 1);
  EXPECT_EQ(s.pattern, 1);
  EXPECT_EQ(s.step, 4);
  EXPECT_EQ(s.beat, 0);
  EXPECT_GT(s.total_ms, 0);
  // Rows 4 - 10 ... 4 + 10: the first six lie before the pattern.
  for (int i = 0; i < kTrackerVisibleRows; ++i) {
    SCOPED_TRACE(i);
    const TrackerRow& row = s.pattern_rows[i];
    const int r = 4 - 10 + i;
    if (r < 0) {
      EXPECT_EQ(row.row, -1);
      EXPECT_EQ(row.channels[0].note, 0);
      continue;
    }
    EXPECT_EQ(row.row, r);
    EXPECT_EQ(row.channels[2].volume, r + 1);  // libxmp stores volumes one up, 0 meaning none
    EXPECT_EQ(row.channels[4].note, 0);        // beyond the module's four channels
  }
  EXPECT_EQ(s.pattern_rows[10].channels[1].note, 0);
  // Row 0 of pattern 1 holds XM note 14; libxmp counts notes from an octave lower.
  EXPECT_EQ(s.pattern_rows[6].channels[1].note, 14 + 12);
  // Channel 0 sounds, channel 1 is silent (volume 0), channels beyond four are 0.
  EXPECT_GT(s.channel_volume[0], 0.0f);
  EXPECT_GT(s.channel_note[0], 0);
  EXPECT_EQ(s.channel_volume[1], 0.0f);
  EXPECT_EQ(s.channel_volume[5], 0.0f);
  EXPECT_FLOAT_EQ(s.bass, s.channel_volume[0] + 0.5f * s.channel_volume[1]);
  EXPECT_FLOAT_EQ(s.kick, 2.4f * xm.GetLevel());
}

TEST(XmPlayer, RealDevicePlaysStopsAndSeeksWhilePlaying) {
  XmPlayer xm;
  xm.SetModuleData("dev.xm", SteadyModuleBytes("device", {16, 16, 16, 16}));
  ASSERT_TRUE(xm.Start()) << xm.GetStatus();
  // The null backend plays in real time: the position moves.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (xm.GetPosition().seconds < 0.2 && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_GE(xm.GetPosition().seconds, 0.2);
  EXPECT_GT(xm.GetLevel(), 0.0f);
  // A seek stops the device, moves and restarts it.
  ASSERT_TRUE(xm.SeekToOrder(2.5));
  EXPECT_TRUE(xm.IsPlaying());
  EXPECT_GE(xm.GetPosition().bars, 2.5f);
  EXPECT_LT(xm.GetPosition().bars, 3.0f);
  xm.Stop();
  EXPECT_FALSE(xm.IsPlaying());
  EXPECT_EQ(xm.GetPosition().bars, 0.0f);
  EXPECT_EQ(xm.GetPosition().bpm, 125.0f);
  // Offline rendering refuses while the device plays, and writes silence.
  ASSERT_TRUE(xm.Start());
  EXPECT_FALSE(xm.BeginOfflineRender());
  std::vector<float> block(2 * 64, 1.0f);
  xm.RenderOffline(block.data(), 64);
  for (float x : block) EXPECT_EQ(x, 0.0f);
}

}  // namespace

namespace {

// A device that cannot be opened or started: the module is released, the status names the
// device's code, and with the device back the same player plays.
TEST(XmPlayer, DeviceFailuresHaveTheirStatusAndTheNextStartPlays) {
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
    XmPlayer xm;
    xm.SetModuleData("steady.xm", SteadyModuleBytes("steady", {16}));
    SetAudioDeviceFault(c.fault);
    EXPECT_FALSE(xm.Start());
    SetAudioDeviceFault(AudioDeviceFault::kNone);
    EXPECT_EQ(xm.GetStatus(), c.status);
    EXPECT_FALSE(xm.IsPlaying());
    EXPECT_FALSE(xm.IsModuleLoaded());
    ASSERT_TRUE(xm.Start()) << xm.GetStatus();
    EXPECT_TRUE(xm.IsPlaying());
    xm.Stop();
  }
}

}  // namespace
