// The built-in dropship: the figures of the model (count, mirror symmetry, extents, palette and
// its shares, intensity and size ranges, the taper along an edge), and that the committed table
// is exactly what tools/make_dropship writes from the edge list.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "scenes/dot_field.h"

namespace {

using Point = std::array<float, kDropshipFloats>;

std::vector<Point> ModelPoints() {
  std::vector<Point> points(kDropshipPoints);
  for (std::size_t j = 0; j < kDropshipPoints; ++j)
    std::copy_n(&kDropshipModel[j * kDropshipFloats], kDropshipFloats, points[j].begin());
  return points;
}

TEST(DropshipModel, MirrorSymmetricInXWithinItsExtents) {
  std::vector<Point> points = ModelPoints();
  ASSERT_EQ(points.size(), 9044u);
  for (const Point& p : points)
    for (float v : p) ASSERT_TRUE(std::isfinite(v));

  // The same dots, exactly, with x negated.
  std::vector<Point> mirrored = points;
  for (Point& p : mirrored) p[0] = -p[0] + 0.0f;  // -0 and 0 are the same place
  for (Point& p : points) p[0] = p[0] + 0.0f;
  std::sort(points.begin(), points.end());
  std::sort(mirrored.begin(), mirrored.end());
  EXPECT_TRUE(points == mirrored);

  // Extents: x [-2.68, 2.68], y [-0.38, 1.02], z [-2.33, 2.31].
  const float expected[3][2] = {{-2.68f, 2.68f}, {-0.38f, 1.02f}, {-2.33f, 2.31f}};
  for (int axis = 0; axis < 3; ++axis) {
    const auto [lo, hi] = std::minmax_element(
        points.begin(), points.end(), [axis](const Point& a, const Point& b) { return a[axis] < b[axis]; });
    EXPECT_NEAR((*lo)[axis], expected[axis][0], 1e-4f) << "axis " << axis;
    EXPECT_NEAR((*hi)[axis], expected[axis][1], 1e-4f) << "axis " << axis;
  }
}

TEST(DropshipModel, SevenColoursMostlyPaleCyan) {
  const float palette[7][3] = {{0.6057f, 1.0f, 1.0f},       {0.3564f, 0.6913f, 0.7885f},
                               {0.4659f, 0.3201f, 0.5368f}, {0.5773f, 0.4702f, 0.7591f},
                               {0.0992f, 0.606f, 0.7814f},  {0.6312f, 0.9835f, 0.697f},
                               {0.5299f, 1.0f, 1.0f}};
  int uses[7] = {};
  for (const Point& p : ModelPoints()) {
    int found = -1;
    for (int c = 0; c < 7; ++c)
      if (p[3] == palette[c][0] && p[4] == palette[c][1] && p[5] == palette[c][2]) found = c;
    ASSERT_GE(found, 0) << p[3] << " " << p[4] << " " << p[5];
    uses[found] += 1;
  }
  for (int c = 0; c < 7; ++c) EXPECT_GT(uses[c], 0) << "colour " << c;
  const double main_share = uses[0] / double(kDropshipPoints);
  EXPECT_NEAR(main_share, 0.78, 0.01);
}

TEST(DropshipModel, IntensityAndSizeRangesAndTheTaperAlongAnEdge) {
  const std::vector<Point> points = ModelPoints();
  float min_i = 1.0f, max_i = 0.0f, min_s = 10.0f, max_s = 0.0f;
  for (const Point& p : points) {
    min_i = std::min(min_i, p[6]);
    max_i = std::max(max_i, p[6]);
    min_s = std::min(min_s, p[7]);
    max_s = std::max(max_s, p[7]);
  }
  // Within [0.005, 0.04] and [0.48, 0.975], and the ranges used nearly to their ends.
  EXPECT_GE(min_i, 0.005f);
  EXPECT_LE(max_i, 0.04f);
  EXPECT_GE(min_s, 0.48f - 1e-6f);
  EXPECT_LE(max_s, 0.975f + 1e-6f);
  EXPECT_LT(min_i, 0.0055f);
  EXPECT_GT(max_i, 0.039f);
  EXPECT_LT(min_s, 0.49f);
  EXPECT_GT(max_s, 0.97f);

  // A typical eight-dot edge of plating, its dots in a row: brightest and largest in the middle.
  const float intensity[8] = {0.0237f, 0.0273f, 0.0302f, 0.0318f, 0.0318f, 0.0302f, 0.0273f, 0.0237f};
  const float size[8] = {0.81f, 0.0f, 0.0f, 0.971f, 0.971f, 0.0f, 0.0f, 0.81f};  // 0: unchecked
  int found = 0;
  for (std::size_t j = 0; j + 8 <= points.size(); ++j) {
    bool match = true;
    for (int k = 0; k < 8 && match; ++k) {
      match = std::fabs(points[j + k][6] - intensity[k]) < 1e-4f &&
              (size[k] == 0.0f || std::fabs(points[j + k][7] - size[k]) < 1e-3f);
    }
    found += match ? 1 : 0;
  }
  EXPECT_GT(found, 20);
}

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(DropshipModel, CommittedTableIsWhatTheToolWritesFromTheEdgeList) {
  const std::filesystem::path out =
      std::filesystem::temp_directory_path() / ("kestrel_dropship_" + std::to_string(getpid()) + ".cpp");
  const std::string command =
      std::string("\"") + KESTREL_BINARY_DIR + "/make_dropship\" \"" + out.string() + "\"";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const std::string written = ReadBytes(out);
  std::filesystem::remove(out);
  const std::string committed =
      ReadBytes(std::filesystem::path(KESTREL_SOURCE_DIR) / "src/scenes/dropship_model.cpp");
  ASSERT_FALSE(committed.empty());
  EXPECT_TRUE(written == committed)
      << "src/scenes/dropship_model.cpp is out of date: run make_dropship on it";
}

}  // namespace
