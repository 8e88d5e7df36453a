// Offline capture through the real executable: frames equal to the bench's, the music in step with
// them, the WAV equal to the offline render tool's, repeatable output, the end of the show, and
// every bad input failing with one line, status 1 and nothing left behind.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/capture_output.h"
#include "assets/stb_image_impl.h"
#include "process.h"

namespace {

const std::string kProgram = KESTREL_BINARY_DIR "/kestrel_prod";
const std::string kRenderTool = KESTREL_BINARY_DIR "/kestrel_render_audio";
constexpr int kWidth = 640;
constexpr int kHeight = 360;

ProcessResult RunShow(const std::vector<std::string>& options, const ScratchDir& dir) {
  std::vector<std::string> args{kProgram};
  args.insert(args.end(), options.begin(), options.end());
  return RunProcess(args, dir.path);
}

// RGB bytes of a P6 file written by --save.
std::string PpmPixels(const std::filesystem::path& path) {
  const std::string bytes = ReadFileText(path);
  const std::string header = "P6\n640 360\n255\n";
  if (bytes.compare(0, header.size(), header) != 0) return {};
  return bytes.substr(header.size());
}

// RGB bytes of a PNG file (its alpha must be opaque).
std::string PngPixels(const std::filesystem::path& path, int& width, int& height) {
  const std::string bytes = ReadFileText(path);
  Image image;
  std::string reason;
  if (!DecodeImageRgba8(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), image, reason))
    return {};
  width = image.width;
  height = image.height;
  std::string rgb;
  for (std::size_t i = 0; i < image.rgba.size(); i += 4) {
    if (image.rgba[i + 3] != 255) return {};
    rgb.append(reinterpret_cast<const char*>(&image.rgba[i]), 3);
  }
  return rgb;
}

// A YUV4MPEG2 stream split into its header line and frame payloads; false when malformed.
bool ParseY4m(const std::string& stream, std::string& header, std::vector<std::string>& frames,
              std::size_t frame_bytes) {
  const std::size_t end = stream.find('\n');
  if (end == std::string::npos) return false;
  header = stream.substr(0, end + 1);
  frames.clear();
  std::size_t at = end + 1;
  while (at < stream.size()) {
    if (stream.compare(at, 6, "FRAME\n") != 0) return false;
    at += 6;
    if (stream.size() - at < frame_bytes) return false;
    frames.push_back(stream.substr(at, frame_bytes));
    at += frame_bytes;
  }
  return true;
}

struct ReportRow {
  std::uint64_t frame = 0;
  double time = 0, bar = 0;
  int scene = 0;
  double ms = 0;
};

std::vector<ReportRow> ReadReport(const std::filesystem::path& path) {
  std::istringstream in(ReadFileText(path));
  std::string line;
  std::vector<ReportRow> rows;
  if (!std::getline(in, line) || line != "frame,time,bar,scene,render_ms") return rows;
  while (std::getline(in, line)) {
    ReportRow r;
    char* p = line.data();
    r.frame = std::strtoull(p, &p, 10);
    r.time = std::strtod(p + 1, &p);
    r.bar = std::strtod(p + 1, &p);
    r.scene = static_cast<int>(std::strtol(p + 1, &p, 10));
    r.ms = std::strtod(p + 1, &p);
    rows.push_back(r);
  }
  return rows;
}

std::size_t EntryCount(const ScratchDir& dir) {
  std::size_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path)) n += entry.exists() ? 1 : 0;
  return n;
}

// --no-audio --hide-tracker: the capture's frame n is the bench's frame n, PNG and Y4M alike, and
// the enlarged PNG is each pixel repeated in a square.
TEST(Capture, SilentFramesEqualTheBenchFrames) {
  ScratchDir dir;
  const std::vector<std::string> common = {"--no-audio", "--hide-tracker", "--bar-offset", "10"};
  auto with = [&](std::vector<std::string> extra) {
    extra.insert(extra.begin(), common.begin(), common.end());
    return extra;
  };
  ProcessResult png = RunShow(with({"--capture", "frames", "--frames", "4"}), dir);
  ASSERT_EQ(png.status, 0) << png.err;
  EXPECT_EQ(png.out, "");
  EXPECT_EQ(png.err, "");  // not a terminal, no report: nothing per frame
  ProcessResult y4m = RunShow(with({"--capture", "out.y4m", "--frames", "4"}), dir);
  ASSERT_EQ(y4m.status, 0) << y4m.err;
  ProcessResult big = RunShow(with({"--capture", "big", "--capture-scale", "2", "--frames", "1"}), dir);
  ASSERT_EQ(big.status, 0) << big.err;

  std::string header;
  std::vector<std::string> planes;
  ASSERT_TRUE(ParseY4m(ReadFileText(dir / "out.y4m"), header, planes, kWidth * kHeight * 3 / 2));
  EXPECT_EQ(header, Y4mHeader(kWidth, kHeight, 60));
  ASSERT_EQ(planes.size(), 4u);
  EXPECT_FALSE(std::filesystem::exists(dir / "frames" / "frame_000004.png"));

  for (const int n : {0, 3}) {
    SCOPED_TRACE(n);
    const std::string ppm = (dir / ("bench" + std::to_string(n) + ".ppm")).string();
    ProcessResult bench =
        RunShow(with({"--bench", "--frames", std::to_string(n + 1), "--save", ppm}), dir);
    ASSERT_EQ(bench.status, 0) << bench.err;
    const std::string expected = PpmPixels(ppm);
    ASSERT_EQ(expected.size(), std::size_t{kWidth * kHeight * 3});

    int w = 0, h = 0;
    EXPECT_TRUE(PngPixels(dir / "frames" / CaptureFrameName(n), w, h) == expected);
    EXPECT_EQ(w, kWidth);
    EXPECT_EQ(h, kHeight);

    std::vector<std::uint8_t> yuv;
    RgbToYuv420(reinterpret_cast<const std::uint8_t*>(expected.data()), kWidth, kHeight, yuv);
    EXPECT_TRUE(planes[n] == std::string(yuv.begin(), yuv.end()));

    if (n == 0) {
      const std::string large = PngPixels(dir / "big" / CaptureFrameName(0), w, h);
      ASSERT_EQ(w, 2 * kWidth);
      ASSERT_EQ(h, 2 * kHeight);
      std::size_t mismatches = 0;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          for (int c = 0; c < 3; ++c)
            mismatches += large[(y * w + x) * 3 + c] != expected[((y / 2) * kWidth + x / 2) * 3 + c];
      EXPECT_EQ(mismatches, 0u);
    }
  }
}

// With the synthesiser the bar clock is the music's position after n * 48000 / fps samples, the
// pictures follow it, and the same capture twice gives the same bytes. "-" streams the same Y4M.
TEST(Capture, MusicDrivesTheClockAndRepeatsExactly) {
  ScratchDir dir;
  const std::vector<std::string> args = {"--capture-fps", "12", "--bar-offset", "16", "--frames", "12",
                                         "--capture-report", "r.csv"};
  auto run = [&](const std::string& out, const std::string& wav, bool audio) {
    std::vector<std::string> a = args;
    a.insert(a.end(), {"--capture", out, "--capture-audio", wav});
    if (!audio) a.push_back("--no-audio");
    return RunShow(a, dir);
  };
  ProcessResult first = run("a.y4m", "a.wav", true);
  ASSERT_EQ(first.status, 0) << first.err;
  const std::vector<ReportRow> rows = ReadReport(dir / "r.csv");
  ASSERT_EQ(rows.size(), 12u);
  for (const ReportRow& r : rows) {
    SCOPED_TRACE(r.frame);
    EXPECT_NEAR(r.time, r.frame / 12.0, 1e-6);  // printed with six decimals
    const double samples = static_cast<double>(CaptureSampleTarget(r.frame, 12));
    EXPECT_NEAR(r.bar, 16.0 + samples / 48000.0 * 140.0 / 240.0, 2e-4);
    EXPECT_GE(r.ms, 0.0);
  }
  // The summary: one row for each scene drawn, and the worst frame.
  EXPECT_NE(first.err.find("capture: 12 frames in "), std::string::npos) << first.err;
  EXPECT_NE(first.err.find("scene  frames  median_ms  p99_ms  worst_ms\n"), std::string::npos);
  EXPECT_NE(first.err.find("worst frame: "), std::string::npos);

  ProcessResult second = run("b.y4m", "b.wav", true);
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_TRUE(ReadFileText(dir / "a.y4m") == ReadFileText(dir / "b.y4m"));
  const std::string wav = ReadFileText(dir / "a.wav");
  EXPECT_TRUE(wav == ReadFileText(dir / "b.wav"));
  EXPECT_EQ(wav.size(), 44u + CaptureSampleTarget(12, 12) * 4);

  // Standard output carries the same stream.
  ProcessResult piped = RunShow({"--capture", "-", "--capture-fps", "12", "--bar-offset", "16", "--frames", "12"},
                                dir);
  ASSERT_EQ(piped.status, 0) << piped.err;
  EXPECT_TRUE(piped.out == ReadFileText(dir / "a.y4m"));

  // Silent, the clock stands at bar 16, the WAV is silence of the same length, and the pictures
  // differ from the ones the music drove.
  ProcessResult silent = run("s.y4m", "s.wav", false);
  ASSERT_EQ(silent.status, 0) << silent.err;
  for (const ReportRow& r : ReadReport(dir / "r.csv")) EXPECT_FLOAT_EQ(r.bar, 16.0);
  const std::string quiet = ReadFileText(dir / "s.wav");
  ASSERT_EQ(quiet.size(), wav.size());
  EXPECT_EQ(quiet.find_first_not_of('\0', 44), std::string::npos);
  EXPECT_NE(wav.find_first_not_of('\0', 44), std::string::npos);
  EXPECT_FALSE(ReadFileText(dir / "s.y4m") == ReadFileText(dir / "a.y4m"));
}

// The WAV of bars 16 to 18 is the offline render tool's, sample for sample (at 120 BPM two bars
// are exactly 4 s, four frames at 1 fps).
TEST(Capture, WavEqualsTheOfflineRender) {
  ScratchDir dir;
  ProcessResult capture = RunShow({"--capture", "frames", "--capture-fps", "1", "--audio-bpm", "120",
                                   "--bar-offset", "16", "--frames", "4", "--capture-audio", "show.wav"},
                                  dir);
  ASSERT_EQ(capture.status, 0) << capture.err;
  ProcessResult tool =
      RunProcess({kRenderTool, "--bpm", "120", "--from", "16", "--to", "18", "tool.wav"}, dir.path);
  ASSERT_EQ(tool.status, 0) << tool.err;
  const std::string show = ReadFileText(dir / "show.wav");
  EXPECT_EQ(show.size(), 44u + 192000u * 4u);
  EXPECT_TRUE(show == ReadFileText(dir / "tool.wav"));
}

// With the module player the WAV comes from libxmp's own rendering, the same samples the render
// tool writes for the same bars, and the clock follows the module's orders.
TEST(Capture, ModuleRendersOfflineInStepLikeTheRenderTool) {
  ScratchDir dir;
  ProcessResult capture = RunShow({"--capture", "frames", "--capture-fps", "1", "--xm", "--bar-offset", "16",
                                   "--frames", "4", "--capture-audio", "show.wav", "--capture-report", "r.csv"},
                                  dir);
  ASSERT_EQ(capture.status, 0) << capture.err;
  ProcessResult tool = RunProcess({kRenderTool, "--source", "xm", "--from", "16", "--to", "18", "tool.wav"}, dir.path);
  ASSERT_EQ(tool.status, 0) << tool.err;
  EXPECT_EQ(tool.err, "");
  const std::string show = ReadFileText(dir / "show.wav");
  const std::string rendered = ReadFileText(dir / "tool.wav");
  ASSERT_EQ(show.size(), 44u + 192000u * 4u);
  ASSERT_EQ(rendered.size(), 44u + 164571u * 4u);  // two bars at 140 BPM
  EXPECT_TRUE(show.compare(44, rendered.size() - 44, rendered, 44) == 0);
  EXPECT_NE(show.find_first_not_of('\0', 44), std::string::npos);
  // One frame a second: the module has moved 140 / 240 bars per frame, counted in its rows.
  const std::vector<ReportRow> rows = ReadReport(dir / "r.csv");
  ASSERT_EQ(rows.size(), 4u);
  for (const ReportRow& r : rows) {
    SCOPED_TRACE(r.frame);
    EXPECT_NEAR(r.bar, 16.0 + r.frame * 140.0 / 240.0, 1.0 / 16.0 + 1e-3);
  }
}

// A module that cannot be loaded leaves the capture silent, and standard error carries only the
// capture's own summary, as without audio.
TEST(Capture, UnloadableModuleCapturesSilentlyAndSaysNothingMore) {
  ScratchDir dir;
  const std::vector<std::string> args = {"--capture", "out.y4m", "--capture-fps", "10", "--frames", "3",
                                         "--bar-offset", "8", "--capture-audio", "a.wav", "--capture-report", "r.csv"};
  for (const std::string& module : {std::string(KESTREL_TEST_DATA "/assets/truncated.png"),
                                    std::string("/nonexistent_kestrel/missing.xm")}) {
    SCOPED_TRACE(module);
    std::vector<std::string> a = args;
    a.insert(a.end(), {"--xm", "--xm-path", module});
    ProcessResult r = RunShow(a, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> quiet_args = args;
    quiet_args.push_back("--no-audio");
    ProcessResult quiet = RunShow(quiet_args, dir);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), std::count(quiet.err.begin(), quiet.err.end(), '\n'))
        << r.err;
    EXPECT_EQ(r.err.find("XM"), std::string::npos) << r.err;
    const std::string wav = ReadFileText(dir / "a.wav");
    EXPECT_EQ(wav.size(), 44u + 3u * 4800u * 4u);
    EXPECT_EQ(wav.find_first_not_of('\0', 44), std::string::npos);
    for (const ReportRow& row : ReadReport(dir / "r.csv")) EXPECT_FLOAT_EQ(row.bar, 8.0f);
  }
}

// From bar 122 the show ends by itself at the finale's end (bar 123.35 at 140 BPM, 2.31 s later),
// well before the frame limit, with the WAV just as long as the frames.
TEST(Capture, EndsWithTheShow) {
  ScratchDir dir;
  ProcessResult r = RunShow({"--capture", "end.y4m", "--capture-fps", "10", "--bar-offset", "122", "--frames",
                             "1000", "--capture-audio", "end.wav", "--capture-report", "end.csv"},
                            dir);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<ReportRow> rows = ReadReport(dir / "end.csv");
  EXPECT_GE(rows.size(), 23u);
  EXPECT_LE(rows.size(), 24u);
  std::string header;
  std::vector<std::string> frames;
  ASSERT_TRUE(ParseY4m(ReadFileText(dir / "end.y4m"), header, frames, kWidth * kHeight * 3 / 2));
  EXPECT_EQ(frames.size(), rows.size());
  EXPECT_EQ(ReadFileText(dir / "end.wav").size(), 44u + rows.size() * 4800u * 4u);
  // The last frames fade to black: luma at its floor.
  EXPECT_EQ(frames.back().substr(0, kWidth * kHeight).find_first_not_of('\x10'), std::string::npos);
}

struct BadCapture {
  std::vector<std::string> args;
  std::string message;
};

TEST(Capture, BadInputFailsWithOneLineAndLeavesNothing) {
  const BadCapture cases[] = {
      {{"--capture", "missing/out.y4m"}, "Could not save missing/out.y4m: No such file or directory\n"},
      {{"--capture", "missing/frames"}, "Could not save missing/frames: No such file or directory\n"},
      {{"--capture", "out.y4m", "--capture-audio", "missing/a.wav"},
       "Could not save missing/a.wav: No such file or directory\n"},
      {{"--capture", "out.y4m", "--capture-report", "missing/r.csv"},
       "Could not save missing/r.csv: No such file or directory\n"},
      {{"--capture", "/dev/full"}, "Could not save /dev/full: No space left on device\n"},
      {{"--capture", "out.y4m", "--capture-audio", "/dev/full"}, "Could not save /dev/full: No space left on device\n"},
      {{"--capture", "frames", "--capture-report", "/dev/full"}, "Could not save /dev/full: No space left on device\n"},
      {{"--capture", "out.y4m", "--capture-fps", "0"},
       "Invalid --capture-fps 0: a whole number from 1 to 240 is needed\n"},
      {{"--capture", "out.y4m", "--capture-fps", "241"},
       "Invalid --capture-fps 241: a whole number from 1 to 240 is needed\n"},
      {{"--capture", "out.y4m", "--capture-scale", "4"}, "Invalid --capture-scale 4: 1, 2 or 3 is needed\n"},
  };
  for (const BadCapture& c : cases) {
    SCOPED_TRACE(c.args[1] + " " + c.args.back());
    ScratchDir dir;
    // The case's own options come last, so a rate it gives is the one in force.
    std::vector<std::string> args = {"--no-audio", "--frames", "3", "--capture-fps", "30"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ProcessResult r = RunShow(args, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.message);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(EntryCount(dir), 0u);
  }

  // A file where the frame directory should be is not replaced.
  ScratchDir dir;
  ASSERT_TRUE(std::ofstream(dir / "taken") << "mine");
  ProcessResult r = RunShow({"--capture", "taken", "--no-audio", "--frames", "2"}, dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Could not save taken: not a directory\n");
  EXPECT_EQ(ReadFileText(dir / "taken"), "mine");
}

}  // namespace
