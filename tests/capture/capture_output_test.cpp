// The capture's own pieces: option checks, the sample clock, enlargement, the YUV conversion, the
// output files and the frame-time summary.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/capture_output.h"

namespace {

struct SettingsCase {
  std::string path, fps, scale;
  bool ok;
  CaptureKind kind;
  const char* message;  // start of the error when not ok
};

TEST(CaptureSettings, RateScaleAndKindFromTheOptions) {
  const SettingsCase cases[] = {
      {"out.y4m", "60", "1", true, CaptureKind::Y4mFile, ""},
      {"-", "1", "3", true, CaptureKind::Y4mStdout, ""},
      {"frames", "240", "2", true, CaptureKind::PngDirectory, ""},
      {"out.y4m.d", "30", "1", true, CaptureKind::PngDirectory, ""},
      {"/dev/null", "30", "1", true, CaptureKind::Y4mFile, ""},  // a device takes the stream
      {"out.y4m", "0", "1", false, CaptureKind::Y4mFile, "Invalid --capture-fps 0:"},
      {"out.y4m", "241", "1", false, CaptureKind::Y4mFile, "Invalid --capture-fps 241:"},
      {"out.y4m", "29.97", "1", false, CaptureKind::Y4mFile, "Invalid --capture-fps 29.97:"},
      {"out.y4m", "", "1", false, CaptureKind::Y4mFile, "Invalid --capture-fps :"},
      {"out.y4m", "-60", "1", false, CaptureKind::Y4mFile, "Invalid --capture-fps -60:"},
      {"out.y4m", "99999999999999", "1", false, CaptureKind::Y4mFile, "Invalid --capture-fps"},
      {"out.y4m", "60", "4", false, CaptureKind::Y4mFile, "Invalid --capture-scale 4:"},
      {"out.y4m", "60", "0", false, CaptureKind::Y4mFile, "Invalid --capture-scale 0:"},
      {"out.y4m", "60", "x2", false, CaptureKind::Y4mFile, "Invalid --capture-scale x2:"},
  };
  for (const SettingsCase& c : cases) {
    SCOPED_TRACE(c.path + " fps " + c.fps + " scale " + c.scale);
    AppOptions options;
    options.capture_path = c.path;
    options.capture_fps = c.fps;
    options.capture_scale = c.scale;
    CaptureSettings settings;
    std::string error;
    ASSERT_EQ(ParseCaptureSettings(options, settings, error), c.ok) << error;
    if (c.ok) {
      EXPECT_EQ(settings.kind, c.kind);
      EXPECT_EQ(settings.fps, std::stoi(c.fps));
      EXPECT_EQ(settings.scale, std::stoi(c.scale));
    } else {
      EXPECT_EQ(error.rfind(c.message, 0), 0u) << error;
      EXPECT_EQ(error.find('\n'), std::string::npos);
    }
  }
}

TEST(CaptureClock, SamplesBeforeEachFrameAddUpExactly) {
  // 60 fps: 800 samples a frame. 7 fps: 6857 or 6858, and one second is exactly 48000 samples.
  EXPECT_EQ(CaptureSampleTarget(0, 60), 0u);
  EXPECT_EQ(CaptureSampleTarget(1, 60), 800u);
  EXPECT_EQ(CaptureSampleTarget(12690, 60), 12690u * 800u);
  for (std::uint64_t n = 0; n < 7; ++n) {
    const std::uint64_t step = CaptureSampleTarget(n + 1, 7) - CaptureSampleTarget(n, 7);
    EXPECT_TRUE(step == 6857 || step == 6858) << n;
  }
  EXPECT_EQ(CaptureSampleTarget(7, 7), 48000u);
  EXPECT_EQ(CaptureSampleTarget(240 * 3600, 240), 48000u * 3600u);
}

TEST(CaptureFrames, EnlargementRepeatsEachPixelInASquare) {
  Framebuffer frame(3, 2);
  for (std::size_t i = 0; i < frame.rgba.size(); ++i)
    frame.rgba[i] = 0xFF000000u | static_cast<std::uint32_t>(0x010203u * (i + 1));
  std::vector<std::uint8_t> rgb;
  ScaleFrameRgb(frame, 3, rgb);
  ASSERT_EQ(rgb.size(), 9u * 6u * 3u);
  for (std::size_t y = 0; y < 6; ++y) {
    for (std::size_t x = 0; x < 9; ++x) {
      const std::uint32_t word = frame.rgba[(y / 3) * 3 + x / 3];
      const std::uint8_t* p = &rgb[(y * 9 + x) * 3];
      EXPECT_EQ(p[0], word & 0xFF);
      EXPECT_EQ(p[1], (word >> 8) & 0xFF);
      EXPECT_EQ(p[2], (word >> 16) & 0xFF);
    }
  }
}

TEST(CaptureFrames, StudioRangeYuvOfKnownColours) {
  // BT.601 studio-range values, each the nearest integer to the exact formula's result.
  struct Colour {
    std::uint8_t r, g, b, y, cb, cr;
  };
  const Colour colours[] = {
      {0, 0, 0, 16, 128, 128},       {255, 255, 255, 235, 128, 128}, {255, 0, 0, 81, 90, 240},
      {0, 255, 0, 145, 54, 34},      {0, 0, 255, 41, 240, 110},      {128, 128, 128, 126, 128, 128},
  };
  for (const Colour& c : colours) {
    SCOPED_TRACE(testing::Message() << int(c.r) << "," << int(c.g) << "," << int(c.b));
    const std::vector<std::uint8_t> rgb = {c.r, c.g, c.b, c.r, c.g, c.b, c.r, c.g, c.b, c.r, c.g, c.b};
    std::vector<std::uint8_t> planes;
    RgbToYuv420(rgb.data(), 2, 2, planes);
    ASSERT_EQ(planes.size(), 6u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(planes[i], c.y);
    EXPECT_EQ(planes[4], c.cb);
    EXPECT_EQ(planes[5], c.cr);
  }

  // Chroma is the average of its 2 x 2 block: two white and two black pixels give grey chroma,
  // two red pixels beside two black ones half the red's chroma offset.
  const std::vector<std::uint8_t> half_red = {255, 0, 0, 0, 0, 0, 255, 0, 0, 0, 0, 0};
  std::vector<std::uint8_t> planes;
  RgbToYuv420(half_red.data(), 2, 2, planes);
  EXPECT_EQ(planes[0], 81);
  EXPECT_EQ(planes[1], 16);
  EXPECT_EQ(planes[4], 109);  // 128 - 37.797 / 2 = 109.1
  EXPECT_EQ(planes[5], 184);  // 128 + 112 / 2
}

TEST(CaptureFrames, Y4mHeaderNamesSizeRateAndLayout) {
  EXPECT_EQ(Y4mHeader(1280, 720, 30), "YUV4MPEG2 W1280 H720 F30:1 Ip A1:1 C420jpeg XCOLORRANGE=LIMITED\n");
}

class CaptureFileTest : public testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("kestrel_capture_file_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
           testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::size_t EntryCount() const {
    std::size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) n += entry.exists() ? 1 : 0;
    return n;
  }
  std::filesystem::path dir;
};

TEST_F(CaptureFileTest, OnlyACommittedFileAppearsUnderItsName) {
  const std::string path = (dir / "out.bin").string();
  {
    CaptureFile file;
    ASSERT_TRUE(file.Open(path));
    ASSERT_TRUE(file.Write("abc", 3));
    EXPECT_FALSE(std::filesystem::exists(path));  // still under its temporary name
    ASSERT_TRUE(file.Commit());
  }
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "abc");
  EXPECT_EQ(EntryCount(), 1u);

  // Abandoned: neither the name nor the temporary file stays, and the old file is untouched.
  {
    CaptureFile file;
    ASSERT_TRUE(file.Open(path));
    ASSERT_TRUE(file.Write("xyz!", 4));
    ASSERT_TRUE(file.Close());
  }
  EXPECT_EQ(EntryCount(), 1u);
  EXPECT_EQ(std::filesystem::file_size(path), 3u);
}

TEST_F(CaptureFileTest, FailuresNameThePathAndTheReason) {
  CaptureFile missing;
  EXPECT_FALSE(missing.Open((dir / "no" / "such.y4m").string()));
  EXPECT_EQ(missing.Error(), "Could not save " + (dir / "no" / "such.y4m").string() + ": No such file or directory");

  CaptureFile directory;
  EXPECT_FALSE(directory.Open(dir.string()));
  EXPECT_EQ(directory.Error(), "Could not save " + dir.string() + ": is a directory");

  // A device is written directly; a full one fails when the bytes are flushed at the latest.
  CaptureFile full;
  ASSERT_TRUE(full.Open("/dev/full"));
  const std::vector<char> bytes(1 << 16, 'x');
  EXPECT_FALSE(full.Write(bytes.data(), bytes.size()) && full.Commit());
  EXPECT_EQ(full.Error(), "Could not save /dev/full: No space left on device");
  EXPECT_EQ(EntryCount(), 0u);
}

TEST(CaptureReport, PerSceneMedianNearestRankP99AndWorst) {
  std::vector<CaptureFrameRecord> records;
  // Scene 3: 1 .. 200 ms in a scrambled order; scene 1: 4, 2 (even count); scene 5: one frame.
  for (int i = 0; i < 200; ++i) {
    const int ms = (i * 77) % 200 + 1;
    records.push_back({static_cast<std::uint64_t>(i), i / 60.0, 16.0f + i * 0.01f, 3, double(ms)});
  }
  records.push_back({200, 3.3, 20.0f, 1, 4.0});
  records.push_back({201, 3.4, 20.5f, 1, 2.0});
  records.push_back({202, 3.5, 21.0f, 5, 7.5});

  const std::vector<SceneTimeSummary> table = SummariseCaptureTimes(records);
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table[0].scene, 1);
  EXPECT_EQ(table[0].frames, 2u);
  EXPECT_DOUBLE_EQ(table[0].median_ms, 3.0);
  EXPECT_DOUBLE_EQ(table[0].p99_ms, 4.0);
  EXPECT_EQ(table[1].scene, 3);
  EXPECT_EQ(table[1].frames, 200u);
  EXPECT_DOUBLE_EQ(table[1].median_ms, 100.5);
  EXPECT_DOUBLE_EQ(table[1].p99_ms, 198.0);  // 198 of 200 frames take 198 ms or less
  EXPECT_DOUBLE_EQ(table[1].worst_ms, 200.0);
  EXPECT_EQ(table[2].scene, 5);
  EXPECT_DOUBLE_EQ(table[2].p99_ms, 7.5);

  const std::string summary = CaptureSummaryText(records, 2.0);
  EXPECT_NE(summary.find("capture: 203 frames in 2.00 s"), std::string::npos) << summary;
  // Frame 187 takes 200 ms (187 * 77 = 72 * 200 + 199).
  EXPECT_NE(summary.find("worst frame: 187 at bar 17.87 (scene 3), 200.000 ms"), std::string::npos) << summary;

  const std::string csv = CaptureReportCsv(records);
  EXPECT_EQ(csv.rfind("frame,time,bar,scene,render_ms\n0,0.000000,16.00000,3,1.000\n", 0), 0u);
  EXPECT_NE(csv.find("\n202,3.500000,21.00000,5,7.500\n"), std::string::npos);
}

}  // namespace
