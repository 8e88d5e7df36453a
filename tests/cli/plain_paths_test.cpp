// The fast versions of the renderer's hot paths against their plain references in the real
// show: frames captured with KESTREL_PLAIN_PATHS=1 and without may differ on at most 0.5 % of
// the pixels and by at most 8 levels anywhere, in every scene, with overlays and the tracker
// display drawn as the shipped show draws them. (Paths that are bit-identical to their
// references are held to exact equality by their own unit tests.)

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "process.h"

namespace {

const std::string kProgram = KESTREL_BINARY_DIR "/kestrel_prod";
constexpr size_t kPpmHeaderBytes = 15;  // "P6\n640 360\n255\n"
constexpr size_t kPpmBytes = kPpmHeaderBytes + 640 * 360 * 3;

struct ShowMoment {
  const char* what;
  std::vector<std::string> options;
};

// Captures a few frames from the moment and returns the last one as PPM bytes.
std::string CaptureLastFrame(const ShowMoment& moment, bool plain, const ScratchDir& dir) {
  const std::string name = plain ? "plain" : "fast";
  std::vector<std::string> args{"/usr/bin/env", "KESTREL_PLAIN_PATHS=" + std::string(plain ? "1" : "0"),
                                kProgram,       "--capture",
                                name,           "--capture-fps",
                                "30",           "--frames",
                                "4",            "--save",
                                name + ".ppm"};
  args.insert(args.end(), moment.options.begin(), moment.options.end());
  const ProcessResult r = RunProcess(args, dir.path);
  EXPECT_EQ(r.status, 0) << r.err;
  return ReadFileText(dir / (name + ".ppm"));
}

class PlainPathsTest : public testing::TestWithParam<ShowMoment> {};

TEST_P(PlainPathsTest, FastAndPlainFramesAgree) {
  ScratchDir dir;
  const std::string fast = CaptureLastFrame(GetParam(), false, dir);
  const std::string plain = CaptureLastFrame(GetParam(), true, dir);
  ASSERT_EQ(fast.size(), kPpmBytes);
  ASSERT_EQ(plain.size(), kPpmBytes);
  // Per pixel, the largest difference of its three bytes.
  size_t differing = 0;
  int worst = 0;
  size_t lit = 0;
  for (size_t i = kPpmHeaderBytes; i < kPpmBytes; i += 3) {
    int d = 0;
    for (size_t c = 0; c < 3; ++c) {
      const int a = static_cast<unsigned char>(fast[i + c]);
      const int b = static_cast<unsigned char>(plain[i + c]);
      d = std::max(d, std::abs(a - b));
      if (a > 16) ++lit;
    }
    if (d > 0) ++differing;
    worst = std::max(worst, d);
  }
  const size_t pixels = (kPpmBytes - kPpmHeaderBytes) / 3;
  EXPECT_LE(worst, 8);
  EXPECT_LE(differing * 200, pixels) << differing << " pixels differ";  // at most 0.5 %
  // The moment shows something, so the comparison is not of two black frames.
  EXPECT_GT(lit, pixels / 100) << GetParam().what;
}

// Each scene of the shipped show, in several of its looks, and the manual-only scenes.
INSTANTIATE_TEST_SUITE_P(
    Show, PlainPathsTest,
    testing::Values(ShowMoment{"canyon", {"--bar-offset", "8"}},
                    ShowMoment{"canyon_shadows", {"--bar-offset", "10", "--shadows"}},
                    ShowMoment{"dot_field", {"--bar-offset", "24"}},
                    ShowMoment{"arena_orbit", {"--bar-offset", "40"}},
                    ShowMoment{"arena_veil", {"--bar-offset", "45"}},
                    ShowMoment{"arena_club", {"--bar-offset", "97"}},
                    ShowMoment{"orb_stage_5", {"--bar-offset", "112.5"}},
                    ShowMoment{"orb_stage_8", {"--bar-offset", "120"}},
                    ShowMoment{"orb_stage_4", {"--no-director", "--scene", "4", "--bar-offset", "40"}},
                    ShowMoment{"orb_stage_6", {"--no-director", "--scene", "6", "--bar-offset", "40"}},
                    ShowMoment{"orb_stage_7", {"--no-director", "--scene", "7", "--bar-offset", "40"}},
                    ShowMoment{"tracker_splat",
                               {"--no-director", "--scene", "5", "--tracker-assembly",
                                "--tracker-effect", "splat", "--bar-offset", "40"}}),
    [](const testing::TestParamInfo<ShowMoment>& info) { return std::string(info.param.what); });

}  // namespace
