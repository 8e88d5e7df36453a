// Window tests: the real program under Xvfb with Mesa's software OpenGL.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "../cli/process.h"
#include "platform/platform.h"

namespace {

const std::string kProgram = KESTREL_BINARY_DIR "/kestrel_prod";
const std::string kScreenSize = "1600x1000";
constexpr int kScreenWidth = 1600;
constexpr int kScreenHeight = 1000;
constexpr int kImageWidth = 640;
constexpr int kImageHeight = 360;

// Runs `args` inside a fresh X server of 1600 x 1000 pixels at 24 bits.
ProcessResult RunUnderXvfb(const std::vector<std::string>& args, const ScratchDir& dir) {
  std::vector<std::string> command{"/usr/bin/xvfb-run", "-a", "-s",
                                   "-screen 0 " + kScreenSize + "x24"};
  command.insert(command.end(), args.begin(), args.end());
  return RunProcess(command, dir.path);
}

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<Rgb> pixels;
  Rgb At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

uint32_t BigEndian32(const std::string& data, size_t offset) {
  return (uint32_t{static_cast<uint8_t>(data[offset])} << 24) |
         (uint32_t{static_cast<uint8_t>(data[offset + 1])} << 16) |
         (uint32_t{static_cast<uint8_t>(data[offset + 2])} << 8) |
         uint32_t{static_cast<uint8_t>(data[offset + 3])};
}

// Decodes an xwd screen dump of a 24-bit TrueColor or DirectColor screen. Xvfb's dumps come with
// 32 bits per pixel, or packed 24-bit pixels in rows of the 32-bit stride (seen while a GL window
// is open), in either byte order.
bool ReadXwd(const std::string& data, Picture& out) {
  if (data.size() < 100) return false;
  const uint32_t header_size = BigEndian32(data, 0);
  const uint32_t width = BigEndian32(data, 16);
  const uint32_t height = BigEndian32(data, 20);
  const uint32_t byte_order = BigEndian32(data, 28);  // 0 = least significant byte first
  const uint32_t bits_per_pixel = BigEndian32(data, 44);
  const uint32_t bytes_per_line = BigEndian32(data, 48);
  const uint32_t red_mask = BigEndian32(data, 56);
  const uint32_t green_mask = BigEndian32(data, 60);
  const uint32_t blue_mask = BigEndian32(data, 64);
  const uint32_t colormap_entries = BigEndian32(data, 76);  // ncolors: 12 bytes each
  if ((bits_per_pixel != 32 && bits_per_pixel != 24) || red_mask != 0xFF0000u ||
      green_mask != 0xFF00u || blue_mask != 0xFFu)
    return false;
  const uint32_t pixel_bytes = bits_per_pixel / 8;
  if (bytes_per_line < size_t{width} * pixel_bytes) return false;
  const size_t start = size_t{header_size} + size_t{colormap_entries} * 12;
  if (data.size() < start + size_t{bytes_per_line} * height) return false;
  out.width = static_cast<int>(width);
  out.height = static_cast<int>(height);
  out.pixels.resize(size_t{width} * height);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const size_t at = start + size_t{y} * bytes_per_line + size_t{x} * pixel_bytes;
      uint32_t word = 0;
      for (uint32_t i = 0; i < pixel_bytes; ++i) {
        const uint32_t byte = static_cast<uint8_t>(data[at + i]);
        word |= byte_order == 0 ? byte << (8 * i) : byte << (8 * (pixel_bytes - 1 - i));
      }
      out.pixels[size_t{y} * width + x] = Rgb{static_cast<uint8_t>(word >> 16),
                                              static_cast<uint8_t>(word >> 8),
                                              static_cast<uint8_t>(word)};
    }
  }
  return true;
}

int LitPixels(const Picture& picture) {
  int lit = 0;
  for (const Rgb& p : picture.pixels) lit += !(p == Rgb{});
  return lit;
}

// Decodes the show's own P6 files ("P6\n<w> <h>\n255\n" and RGB bytes).
bool ReadPpm(const std::string& data, Picture& out) {
  const std::string header = "P6\n640 360\n255\n";
  if (data.size() != header.size() + kImageWidth * kImageHeight * 3 ||
      data.compare(0, header.size(), header) != 0)
    return false;
  out.width = kImageWidth;
  out.height = kImageHeight;
  out.pixels.resize(kImageWidth * kImageHeight);
  for (size_t i = 0; i < out.pixels.size(); ++i) {
    const size_t at = header.size() + i * 3;
    out.pixels[i] = Rgb{static_cast<uint8_t>(data[at]), static_cast<uint8_t>(data[at + 1]),
                        static_cast<uint8_t>(data[at + 2])};
  }
  return true;
}

TEST(Letterbox, WideWindowHasBarsLeftAndRight) {
  const Viewport v = LetterboxViewport(2000, 720, 640.0f / 360.0f);
  EXPECT_EQ(v.width, 1280);
  EXPECT_EQ(v.height, 720);
  EXPECT_EQ(v.x, 360);
  EXPECT_EQ(v.y, 0);
}

TEST(Letterbox, TallWindowHasBarsAboveAndBelow) {
  const Viewport v = LetterboxViewport(1600, 1000, 640.0f / 360.0f);
  EXPECT_EQ(v.width, 1600);
  EXPECT_EQ(v.height, 900);
  EXPECT_EQ(v.x, 0);
  EXPECT_EQ(v.y, 50);
  // An exact 16:9 window is filled without bars.
  const Viewport exact = LetterboxViewport(1280, 720, 640.0f / 360.0f);
  EXPECT_EQ(exact.x, 0);
  EXPECT_EQ(exact.y, 0);
  EXPECT_EQ(exact.width, 1280);
  EXPECT_EQ(exact.height, 720);
}

TEST(Letterbox, EmptyWindowGetsAnEmptyViewport) {
  // A minimised window reports a 0 x 0 framebuffer.
  const Viewport v = LetterboxViewport(0, 0, 640.0f / 360.0f);
  EXPECT_EQ(v.width, 0);
  EXPECT_EQ(v.height, 0);
}

TEST(MonitorChoice, LargestOverlapWinsAndTiesGoToTheFirst) {
  const ScreenRect monitors[] = {{0, 0, 1920, 1080}, {1920, 0, 2560, 1440}, {-1280, 0, 1280, 1024}};
  // Mostly on the second monitor.
  EXPECT_EQ(ChooseMonitor({1800, 100, 1280, 720}, monitors, 3), 1);
  // Mostly on the third (left of the first).
  EXPECT_EQ(ChooseMonitor({-1000, 50, 1280, 720}, monitors, 3), 2);
  // Straddling the first two evenly: the first wins.
  EXPECT_EQ(ChooseMonitor({1920 - 640, 0, 1280, 720}, monitors, 3), 0);
  // Off every monitor, or no monitors at all: none (the caller falls back to the primary).
  EXPECT_EQ(ChooseMonitor({5000, 5000, 100, 100}, monitors, 3), -1);
  EXPECT_EQ(ChooseMonitor({0, 0, 100, 100}, monitors, 0), -1);
  // Touching an edge is no overlap.
  EXPECT_EQ(ChooseMonitor({0, 1080, 100, 100}, monitors, 1), -1);
}

TEST(Window, WindowedCaptureEndsByItselfQuietly) {
  ScratchDir dir;
  const ProcessResult r =
      RunUnderXvfb({kProgram, "--windowed", "--frames", "30", "--save", "y.ppm"}, dir);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  Picture saved;
  EXPECT_TRUE(ReadPpm(ReadFileText(dir / "y.ppm"), saved));
}

// A frame that cannot be saved at the frame limit: one message on standard error, and the window
// still closes with status 0.
TEST(Window, UnsavableCaptureIsReportedAndTheShowStillEnds) {
  ScratchDir dir;
  const ProcessResult r = RunUnderXvfb(
      {kProgram, "--windowed", "--no-audio", "--frames", "3", "--save", "missing_dir/y.ppm"}, dir);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Could not save missing_dir/y.ppm\n");
}

// An X server without the GLX extension has a display but no OpenGL: the window cannot be
// created, and the program says so in one line and exits with status 1.
TEST(Window, NoOpenGLIsFatalWithOneMessage) {
  ScratchDir dir;
  const ProcessResult r = RunProcess(
      {"/usr/bin/xvfb-run", "-a", "-s", "-screen 0 " + kScreenSize + "x24 -extension GLX", "/bin/sh",
       "-c", "\"$0\" --windowed --frames 1 --no-audio > show.out 2> show.err; echo $? > show.status",
       kProgram},
      dir.path);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFileText(dir / "show.status"), "1\n");
  EXPECT_EQ(ReadFileText(dir / "show.out"), "");
  EXPECT_EQ(ReadFileText(dir / "show.err"), "glfwCreateWindow failed\n");
}

// Full screen on a 1600 x 1000 screen: the 16:9 picture fills the width (1600 x 900) with black
// bars of 50 rows above and below, and shows the saved frame scaled up 2.5 times with nearest
// filtering. The show starts at bar 8, past the opening fade from black: from bar 0, how much
// of the fade 20 frames leave behind depends on how fast they are drawn, and a fast machine
// saves an all-black frame that proves nothing.
TEST(Window, FullScreenIsLetterboxedAndShowsTheSavedFrame) {
  ScratchDir dir;
  const ProcessResult r = RunUnderXvfb(
      {"/bin/sh", KESTREL_SOURCE_DIR "/tests/window/capture_screen.sh", dir.path.string(), kProgram,
       "--fullscreen", "--scene", "1", "--bar-offset", "8", "--frames", "20"},
      dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFileText(dir / "blocked"), "yes\n");
  EXPECT_EQ(ReadFileText(dir / "show.status"), "0\n");
  EXPECT_EQ(ReadFileText(dir / "show.out"), "");
  EXPECT_EQ(ReadFileText(dir / "show.err"), "");

  Picture screen, frame;
  ASSERT_TRUE(ReadXwd(ReadFileText(dir / "screen.xwd"), screen));
  ASSERT_TRUE(ReadPpm(ReadFileText(dir / "frame.ppm"), frame));
  ASSERT_EQ(screen.width, kScreenWidth);
  ASSERT_EQ(screen.height, kScreenHeight);

  // The frame must show something, or the comparison below proves nothing.
  ASSERT_GT(LitPixels(frame), kImageWidth * kImageHeight / 10);

  const Viewport view = LetterboxViewport(kScreenWidth, kScreenHeight, 640.0f / 360.0f);
  const int top = view.y;  // the bars are symmetric, so OpenGL's bottom-up y gives the same rows
  const int bottom = view.y + view.height;
  int bar_pixels_lit = 0;
  int mismatches = 0;
  for (int y = 0; y < kScreenHeight; ++y) {
    for (int x = 0; x < kScreenWidth; ++x) {
      const Rgb shown = screen.At(x, y);
      if (y < top || y >= bottom) {
        bar_pixels_lit += !(shown == Rgb{});
        continue;
      }
      // Nearest filtering: the texel under the pixel's centre. Where the centre falls on a texel
      // boundary either neighbour is a correct rasterisation.
      const double u = (x + 0.5) * kImageWidth / view.width;
      const double v = (y - top + 0.5) * kImageHeight / view.height;
      const int tx = static_cast<int>(u), ty = static_cast<int>(v);
      bool match = shown == frame.At(tx, ty);
      const bool on_x_edge = u - tx < 1e-3 && tx > 0;
      const bool on_y_edge = v - ty < 1e-3 && ty > 0;
      if (!match && on_x_edge) match = shown == frame.At(tx - 1, ty);
      if (!match && on_y_edge) match = shown == frame.At(tx, ty - 1);
      if (!match && on_x_edge && on_y_edge) match = shown == frame.At(tx - 1, ty - 1);
      mismatches += !match;
    }
  }
  EXPECT_EQ(top, 50);
  EXPECT_EQ(bottom, 950);
  EXPECT_EQ(bar_pixels_lit, 0);
  EXPECT_EQ(mismatches, 0);
}

// F11 goes full screen on the monitor and back to the window's own place and size; a digit
// chooses that scene and switches the director off (the title says so); Escape ends the show with
// status 0.
TEST(Window, KeysToggleFullScreenChooseASceneAndQuit) {
  ScratchDir dir;
  const ProcessResult r =
      RunUnderXvfb({"/bin/sh", KESTREL_SOURCE_DIR "/tests/window/drive_show.sh", "window",
                    dir.path.string(), kProgram, "--windowed", "--no-audio"},
                   dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFileText(dir / "before"), "X=100 Y=50 WIDTH=1280 HEIGHT=720 ");
  EXPECT_EQ(ReadFileText(dir / "fullscreen"), "X=0 Y=0 WIDTH=1600 HEIGHT=1000 ");
  EXPECT_EQ(ReadFileText(dir / "after"), "X=100 Y=50 WIDTH=1280 HEIGHT=720 ");
  EXPECT_EQ(ReadFileText(dir / "title_before").rfind("kestrel_prod | scene 1 directed | ", 0), 0u);
  EXPECT_EQ(ReadFileText(dir / "title_scene3").rfind("kestrel_prod | scene 3 | ", 0), 0u);
  EXPECT_EQ(ReadFileText(dir / "show.status"), "0\n");
  EXPECT_EQ(ReadFileText(dir / "show.out"), "");
  EXPECT_EQ(ReadFileText(dir / "show.err"), "");
}

// The director end to end: the real program with the synthesiser on miniaudio's null device,
// driven with real key presses and read through its window title.
TEST(Window, DirectorFollowsKeysInTheTitle) {
  ScratchDir dir;
  const ProcessResult r =
      RunUnderXvfb({"/bin/sh", KESTREL_SOURCE_DIR "/tests/window/drive_show.sh", "director",
                    dir.path.string(), kProgram, "--windowed"},
                   dir);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto starts_with = [&](const char* file, const std::string& prefix) {
    const std::string title = ReadFileText(dir / file);
    EXPECT_EQ(title.rfind(prefix, 0), 0u) << file << ": " << title;
  };
  starts_with("title_start", "kestrel_prod | scene 1 directed | ");
  // Five times four bars from the start reach the dot field (bars 16 to 40).
  starts_with("title_right5", "kestrel_prod | scene 3 directed | ");
  // A digit chooses the scene by hand and switches the director off.
  starts_with("title_digit5", "kestrel_prod | scene 5 | ");
  starts_with("title_frozen", "kestrel_prod | scene 5 frozen | ");
  EXPECT_EQ(ReadFileText(dir / "show.status"), "0\n");
  EXPECT_EQ(ReadFileText(dir / "show.out"), "");
  EXPECT_EQ(ReadFileText(dir / "show.err"), "");
}

// Every key press acts exactly once however short it is and however slowly the show runs: taps
// of about 12 ms (xdotool's own), both while the show runs and while it is stopped so that press
// and release arrive together in one frame of 0.3 s. Two taps in one frame act twice.
TEST(Window, ShortTapsActOnceEachEvenWithinOneFrame) {
  ScratchDir dir;
  const ProcessResult r =
      RunUnderXvfb({"/bin/sh", KESTREL_SOURCE_DIR "/tests/window/drive_show.sh", "taps",
                    dir.path.string(), kProgram, "--windowed", "--no-audio"},
                   dir);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto starts_with = [&](const char* file, const std::string& prefix) {
    const std::string title = ReadFileText(dir / file);
    EXPECT_EQ(title.rfind(prefix, 0), 0u) << file << ": " << title;
  };
  starts_with("title_start", "kestrel_prod | scene 1 directed | ");
  starts_with("title_d_running", "kestrel_prod | scene 1 | ");
  starts_with("title_d_stopped", "kestrel_prod | scene 1 directed | ");
  starts_with("title_dd_stopped", "kestrel_prod | scene 1 directed | ");
  starts_with("title_space_stopped", "kestrel_prod | scene 1 directed frozen | ");
  starts_with("title_space_running", "kestrel_prod | scene 1 directed | ");
  starts_with("title_digit_stopped", "kestrel_prod | scene 5 | ");
  EXPECT_EQ(ReadFileText(dir / "closed_by_tap"), "yes\n");
  EXPECT_EQ(ReadFileText(dir / "show.status"), "0\n");
  EXPECT_EQ(ReadFileText(dir / "show.out"), "");
  EXPECT_EQ(ReadFileText(dir / "show.err"), "");
}

// Started at bar 121 the finale ends by itself about 4 s later (FinaleEnd() is bar 123.35 at
// 140 BPM): the clock goes back to bar 0, whose section is the canyon, yet the screen stays black
// until a key press restarts the show from there.
TEST(Window, FinaleEndsByItselfAndAKeyRestartsTheShow) {
  ScratchDir dir;
  const ProcessResult r =
      RunUnderXvfb({"/bin/sh", KESTREL_SOURCE_DIR "/tests/window/drive_show.sh", "finale",
                    dir.path.string(), kProgram, "--windowed", "--bar-offset", "121"},
                   dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFileText(dir / "title_start").rfind("kestrel_prod | scene ", 0), 0u);
  // 0 when the script never saw the end (an empty file).
  const double finished_after = std::strtod(ReadFileText(dir / "finished_after").c_str(), nullptr);
  EXPECT_GE(finished_after, 3.5);  // 2.35 bars of 240/140 s, plus the title's refresh and polling
  EXPECT_LE(finished_after, 6.5);
  EXPECT_EQ(ReadFileText(dir / "title_finished").rfind("kestrel_prod | scene 1 directed | ", 0),
            0u);
  EXPECT_EQ(ReadFileText(dir / "title_restarted").rfind("kestrel_prod | scene 1 directed | ", 0),
            0u);

  Picture finished, restarted;
  ASSERT_TRUE(ReadXwd(ReadFileText(dir / "finished.xwd"), finished));
  ASSERT_TRUE(ReadXwd(ReadFileText(dir / "restarted.xwd"), restarted));
  EXPECT_EQ(LitPixels(finished), 0);
  EXPECT_GT(LitPixels(restarted), 1280 * 720 / 10);  // the canyon fills the window again
  EXPECT_EQ(ReadFileText(dir / "show.status"), "0\n");
  EXPECT_EQ(ReadFileText(dir / "show.out"), "");
  EXPECT_EQ(ReadFileText(dir / "show.err"), "");
}

}  // namespace
