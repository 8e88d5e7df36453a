// Command-line tests of the real executable: bench runs, frame capture and the window system's
// start-up failure. Every case checks the whole of standard output, standard error and the status.

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "process.h"

namespace {

const std::string kProgram = KESTREL_BINARY_DIR "/kestrel_prod";
constexpr size_t kPpmHeaderBytes = 15;  // "P6\n640 360\n255\n"
constexpr size_t kPpmBytes = kPpmHeaderBytes + 640 * 360 * 3;

ProcessResult RunShow(const std::vector<std::string>& options, const ScratchDir& dir) {
  std::vector<std::string> args{kProgram};
  args.insert(args.end(), options.begin(), options.end());
  return RunProcess(args, dir.path);
}

// Reads "<digits>.<exactly `decimals` digits>" at `at`; false when the text differs.
bool ReadFixed(const std::string& text, size_t& at, int decimals) {
  const size_t start = at;
  while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
  if (at == start || at >= text.size() || text[at] != '.') return false;
  ++at;
  for (int i = 0; i < decimals; ++i, ++at)
    if (at >= text.size() || !std::isdigit(static_cast<unsigned char>(text[at]))) return false;
  return true;
}

// True when `out` is exactly one bench line with these values; the two measured figures may be
// anything in their printed format (seconds with 4 decimals, frames per second with 2).
bool IsBenchLine(const std::string& out, int scene, int active, int frames) {
  const std::string head = "bench scene=" + std::to_string(scene) + " active_scene=" +
                           std::to_string(active) + " frames=" + std::to_string(frames) +
                           " seconds=";
  if (out.compare(0, head.size(), head) != 0) return false;
  size_t at = head.size();
  if (!ReadFixed(out, at, 4)) return false;
  const std::string middle = " fps=";
  if (out.compare(at, middle.size(), middle) != 0) return false;
  at += middle.size();
  if (!ReadFixed(out, at, 2)) return false;
  return out.substr(at) == "\n";
}

struct BenchCase {
  std::vector<std::string> options;
  int scene;
  int active;
  int frames;
};

class BenchLineTest : public testing::TestWithParam<BenchCase> {};

TEST_P(BenchLineTest, PrintsOneLineAndNothingElse) {
  const BenchCase& c = GetParam();
  ScratchDir dir;
  const ProcessResult r = RunShow(c.options, dir);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(IsBenchLine(r.out, c.scene, c.active, c.frames)) << r.out;
  EXPECT_EQ(r.err, "");
  // No save path: the run leaves nothing behind.
  EXPECT_TRUE(std::filesystem::is_empty(dir.path));
}

INSTANTIATE_TEST_SUITE_P(
    Options, BenchLineTest,
    testing::Values(BenchCase{{"--bench", "--frames", "2"}, 1, 1, 2},  // bar 0: first section
                    // The director shows the section that holds the start bar (16..32: scene 3).
                    BenchCase{{"--bench", "--frames", "1", "--bar-offset", "20"}, 1, 3, 1},
                    BenchCase{{"--bench", "--frames", "1", "--bar-offset", "20", "--no-director"},
                              1, 1, 1},
                    // --scene switches the director off, so the manual scene is the active one.
                    BenchCase{{"--bench", "--frames", "1", "--scene", "4"}, 4, 4, 1},
                    BenchCase{{"--scene", "9", "--frames", "1", "--bench"}, 8, 8, 1},
                    // No limit (none given, or a negative one) is 300 frames in a bench run.
                    BenchCase{{"--bench", "--scene", "5"}, 5, 5, 300},
                    BenchCase{{"--bench", "--scene", "5", "--frames", "-4"}, 5, 5, 300}));

TEST(FrameCapture, BenchSavesOneP6Frame) {
  ScratchDir dir;
  const ProcessResult r = RunShow({"--bench", "--frames", "1", "--save", "a.ppm"}, dir);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(IsBenchLine(r.out, 1, 1, 1)) << r.out;
  EXPECT_EQ(r.err, "");
  const std::string ppm = ReadFileText(dir / "a.ppm");
  ASSERT_EQ(ppm.size(), kPpmBytes);
  EXPECT_EQ(ppm.substr(0, kPpmHeaderBytes), "P6\n640 360\n255\n");
}

TEST(FrameCapture, SameOptionsSaveTheSameFrame) {
  // The frame depends only on the options: frame time advances by 1/60 s per bench frame.
  ScratchDir dir;
  const std::vector<std::string> options{"--bench", "--frames", "3", "--bar-offset", "2"};
  std::vector<std::string> first = options, second = options;
  first.insert(first.end(), {"--save", "first.ppm"});
  second.insert(second.end(), {"--save", "second.ppm"});
  ASSERT_EQ(RunShow(first, dir).status, 0);
  ASSERT_EQ(RunShow(second, dir).status, 0);
  const std::string a = ReadFileText(dir / "first.ppm");
  ASSERT_EQ(a.size(), kPpmBytes);
  EXPECT_TRUE(a == ReadFileText(dir / "second.ppm"));
}

// A save that fails is reported on standard error; the bench line is still printed, status 0.
class UnsavableTest : public testing::TestWithParam<std::string> {};

TEST_P(UnsavableTest, ReportsAndStillPrintsTheBenchLine) {
  ScratchDir dir;
  std::filesystem::create_directory(dir / "a_directory");
  const std::string path = GetParam();
  const ProcessResult r = RunShow({"--bench", "--frames", "1", "--save", path}, dir);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(IsBenchLine(r.out, 1, 1, 1)) << r.out;
  EXPECT_EQ(r.err, "Could not save " + path + "\n");
}

INSTANTIATE_TEST_SUITE_P(Paths, UnsavableTest,
                         testing::Values("missing_dir/out.ppm",  // cannot be opened
                                         "a_directory",          // a directory, not a file
                                         "/dev/full"));          // opens, but every write fails

TEST(WindowSystem, NoDisplayIsFatalWithOneMessage) {
  ScratchDir dir;
  const ProcessResult r = RunProcess({kProgram, "--windowed", "--frames", "1", "--no-audio"},
                                     dir.path, {"DISPLAY", "WAYLAND_DISPLAY"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "glfwInit failed\n");
}

TEST(Help, PrintsUsageWithTheProgramPathAndExits) {
  ScratchDir dir;
  const ProcessResult r = RunShow({"--bench", "--help", "--frames", "1"}, dir);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.rfind("Usage: " + kProgram + " [--scene 1..8] [--frames N]", 0), 0u) << r.out;
  EXPECT_EQ(r.out.find("bench scene="), std::string::npos);
}

}  // namespace
