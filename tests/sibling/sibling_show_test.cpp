// The built program, whichever production this build is: the sibling draws its storyboard where a
// scene has its painting and reports each missing image once; the show's own production never
// touches the storyboard, although the sibling's data lies beside it.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "../cli/process.h"
#include "app/app.h"

namespace {

const std::string kProgram = std::string(KESTREL_BINARY_DIR "/") + kProductionName;
const bool kSibling = std::string(kProductionName).find("marlin") != std::string::npos;

// Lit pixels of a binary 640 x 360 PPM.
int LitPixels(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int w = 0, h = 0, max = 0;
  in >> magic >> w >> h >> max;
  in.get();
  std::vector<unsigned char> bytes(static_cast<size_t>(w) * h * 3);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (magic != "P6" || w != 640 || h != 360 || !in) return -1;
  int lit = 0;
  for (size_t i = 0; i < bytes.size(); i += 3) lit += bytes[i] + bytes[i + 1] + bytes[i + 2] > 24;
  return lit;
}

TEST(SiblingShow, StoryboardScenesAndTheMissingImagesReport) {
  // Bar 20 is scene 1 in both productions' sequences; bar 50 scene 2, which the sibling's data set
  // does not paint.
  for (const char* bar : {"20", "50"}) {
    SCOPED_TRACE(bar);
    ScratchDir dir;
    const ProcessResult r =
        RunProcess({kProgram, "--bench", "--bar-offset", bar, "--frames", "2", "--save", "f.ppm"}, dir.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_GT(LitPixels((dir.path / "f.ppm").string()), 20000);
    if (!kSibling) {
      EXPECT_EQ(r.err, "");  // never loads the storyboard
      continue;
    }
    // The data set paints scenes 1, 3, 5 and 7, foregrounds of 1, 3 and 7: the other images are
    // reported once each, in scene order, however many frames are drawn.
    std::string expected;
    for (int n : {2, 4, 5, 6, 8}) {
      char line[200];
      if (n != 5) {
        std::snprintf(line, sizeof line, "MARLIN storyboard: data/marlin/storyboard_frames/background/"
                                         "marlin_scene_%02d_background.png\n", n);
        expected += line;
      }
      std::snprintf(line, sizeof line, "MARLIN storyboard: data/marlin/storyboard_frames/foreground_green/"
                                       "marlin_scene_%02d_foreground_green.png\n", n);
      expected += line;
    }
    EXPECT_EQ(r.err, expected);
    EXPECT_NE(r.out.find(std::string("active_scene=") + (bar[0] == '2' ? "1" : "2")), std::string::npos) << r.out;
  }
}

}  // namespace
