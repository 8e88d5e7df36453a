// The vector versions of the splat loop against the plain one: the same bits in every pixel,
// and nothing touched outside the clipped range.

#include "render/splat_kernel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "render/plain_paths.h"
#include "render/primitives.h"

namespace {

using splat_kernel::Span;

struct Version {
  const char* name;
  splat_kernel::KernelFn fn;
};

std::vector<Version> FastVersions() {
  std::vector<Version> versions{{"sse2", &splat_kernel::Sse2}};
  if (splat_kernel::CpuHasAvx2()) versions.push_back({"avx2", &splat_kernel::Avx2});
  if (splat_kernel::CpuHasAvx512()) versions.push_back({"avx512", &splat_kernel::Avx512});
  return versions;
}

// A non-uniform starting image, so a lost or doubled add cannot hide behind zeros.
std::vector<Vec3> Background(std::size_t count) {
  std::vector<Vec3> pixels(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t seed = static_cast<std::uint32_t>(i);
    pixels[i] = Vec3{HashUnit(seed * 3u), HashUnit(seed * 3u + 1u), HashUnit(seed * 3u + 2u)};
  }
  return pixels;
}

// Thousands of splats of every size from a tenth of a pixel to beyond the image, centred on
// and off pixel centres, partly or wholly outside, with clip ranges that cut them anywhere.
TEST(SplatKernel, VectorVersionsAddTheSameBitsAsThePlainLoop) {
  constexpr std::size_t kWidth = 97, kHeight = 61;  // odd, so rows end mid-vector
  for (const Version& version : FastVersions()) {
    std::vector<Vec3> expected = Background(kWidth * kHeight);
    std::vector<Vec3> actual = expected;
    for (std::uint32_t i = 0; i < 4000; ++i) {
      const float radius = 0.1f + 40.0f * HashUnit(i * 7u) * HashUnit(i * 7u + 1u);
      const float x = -20.0f + 137.0f * HashUnit(i * 7u + 2u);
      const float y = -20.0f + 101.0f * HashUnit(i * 7u + 3u);
      const Vec3 colour{HashUnit(i * 7u + 4u), 0.3f, 2.0f * HashUnit(i * 7u + 5u)};
      const int c0 = static_cast<int>(HashUnit(i * 7u + 6u) * kWidth);
      const int r0 = static_cast<int>(HashUnit(i * 11u) * kHeight);
      const Span cols{c0, std::min<int>(kWidth - 1, c0 + static_cast<int>(i % 23))};
      const Span rows{r0, std::min<int>(kHeight - 1, r0 + static_cast<int>(i % 17))};
      splat_kernel::Reference(expected.data(), kWidth, x, y, radius, colour, 0.7f, cols, rows);
      version.fn(actual.data(), kWidth, x, y, radius, colour, 0.7f, cols, rows);
    }
    EXPECT_EQ(0, std::memcmp(expected.data(), actual.data(), expected.size() * sizeof(Vec3)))
        << version.name;
  }
}

// The many-dots versions (one radius, colour and intensity for a run of dots, as text draws
// them) against the plain loop dot by dot: the same bits, with dots overlapping each other so
// the order of their adds shows.
TEST(SplatKernel, DotsVersionsAddTheSameBitsAsThePlainLoop) {
  constexpr std::size_t kWidth = 53, kHeight = 37;
  struct DotsVersion {
    const char* name;
    splat_kernel::DotsFn fn;
  };
  std::vector<DotsVersion> versions{{"sse2", &splat_kernel::DotsSse2}};
  if (splat_kernel::CpuHasAvx2()) versions.push_back({"avx2", &splat_kernel::DotsAvx2});
  if (splat_kernel::CpuHasAvx512()) versions.push_back({"avx512", &splat_kernel::DotsAvx512});
  for (const DotsVersion& version : versions) {
    std::vector<Vec3> expected = Background(kWidth * kHeight);
    std::vector<Vec3> actual = expected;
    for (std::uint32_t run = 0; run < 200; ++run) {
      const float radius = 0.2f + 9.0f * HashUnit(run * 5u) * HashUnit(run * 5u + 1u);
      const Vec3 colour{HashUnit(run * 5u + 2u), 0.6f, 1.5f * HashUnit(run * 5u + 3u)};
      std::vector<float> xs, ys;
      std::vector<Span> cols, rows;
      for (std::uint32_t i = 0; i < 35; ++i) {
        const std::uint32_t seed = run * 97u + i * 3u;
        const float x = -5.0f + 63.0f * HashUnit(seed);
        const float y = -5.0f + 47.0f * HashUnit(seed + 1u);
        // The footprint clipped to the image and, for some dots, to a narrower window.
        const int reach = static_cast<int>(radius) + 1;
        const int c0 = std::max(0, static_cast<int>(x) - reach - static_cast<int>(i % 3));
        const int c1 = std::min<int>(kWidth - 1, static_cast<int>(x) + reach - static_cast<int>(i % 2));
        const int r0 = std::max(0, static_cast<int>(y) - reach);
        const int r1 = std::min<int>(kHeight - 1, static_cast<int>(y) + reach);
        if (c0 > c1 || r0 > r1) continue;
        xs.push_back(x);
        ys.push_back(y);
        cols.push_back({c0, c1});
        rows.push_back({r0, r1});
        splat_kernel::Reference(expected.data(), kWidth, x, y, radius, colour, 0.45f, cols.back(),
                                rows.back());
      }
      const splat_kernel::Dots dots{xs.data(), ys.data(), cols.data(), rows.data(),
                                    static_cast<int>(xs.size())};
      version.fn(actual.data(), kWidth, dots, radius, colour, 0.45f);
    }
    EXPECT_EQ(0, std::memcmp(expected.data(), actual.data(), expected.size() * sizeof(Vec3)))
        << version.name;
  }
}

// A huge disc over a narrow clip range: every pixel of the range is inside, none outside it
// may change (parallel tasks own neighbouring columns), and the far-centre path keeps the
// whole square rather than a chord computed with no integer precision left.
TEST(SplatKernel, ClippedRangesAndHugeDiscs) {
  constexpr std::size_t kWidth = 40, kHeight = 10;
  const Span cols{13, 17}, rows{2, 7};
  for (const Version& version : FastVersions()) {
    for (const float x : {20.0f, 3.0e7f}) {
      const float radius = x == 20.0f ? 500.0f : 6.0e7f;
      std::vector<Vec3> expected(kWidth * kHeight), actual(kWidth * kHeight);
      splat_kernel::Reference(expected.data(), kWidth, x, 5.0f, radius, Vec3{1, 1, 1}, 1.0f,
                              cols, rows);
      version.fn(actual.data(), kWidth, x, 5.0f, radius, Vec3{1, 1, 1}, 1.0f, cols, rows);
      EXPECT_EQ(0, std::memcmp(expected.data(), actual.data(), expected.size() * sizeof(Vec3)))
          << version.name << " x=" << x;
      for (std::size_t py = 0; py < kHeight; ++py) {
        for (std::size_t px = 0; px < kWidth; ++px) {
          const bool in_range = px >= 13 && px <= 17 && py >= 2 && py <= 7;
          EXPECT_EQ(in_range, actual[py * kWidth + px].x > 0.0f) << px << "," << py;
        }
      }
    }
  }
}

// The planar versions against the plain planar loop: the same bits in every pixel of the image,
// for footprints clipped to the image as `SplatIntoPlanes` clips them. Runs that reach past a
// row's last pixel land in the margin, which is not compared.
TEST(SplatKernel, PlanesVersionsAddTheSameBitsAsThePlainPlanarLoop) {
  constexpr int kWidth = 45, kHeight = 29;
  constexpr std::size_t kStride = kWidth + 16;
  struct PlanesVersion {
    const char* name;
    splat_kernel::PlanesFn fn;
  };
  std::vector<PlanesVersion> versions;
  if (splat_kernel::CpuHasAvx2() && __builtin_cpu_supports("fma")) {
    versions.push_back({"avx2", &splat_kernel::PlanesAvx2});
  }
  if (splat_kernel::CpuHasAvx512()) versions.push_back({"avx512", &splat_kernel::PlanesAvx512});
  if (versions.empty()) GTEST_SKIP() << "no planar vector version runs on this processor";
  const auto background = [](std::uint32_t salt) {
    std::vector<float> plane(kStride * kHeight);
    for (std::size_t i = 0; i < plane.size(); ++i) plane[i] = HashUnit(static_cast<std::uint32_t>(i) * 5u + salt);
    return plane;
  };
  for (const PlanesVersion& version : versions) {
    std::vector<float> expected[3] = {background(1), background(2), background(3)};
    std::vector<float> actual[3] = {expected[0], expected[1], expected[2]};
    const splat_kernel::Planes want{expected[0].data(), expected[1].data(), expected[2].data(), kStride};
    const splat_kernel::Planes got{actual[0].data(), actual[1].data(), actual[2].data(), kStride};
    for (std::uint32_t i = 0; i < 3000; ++i) {
      const float radius = 0.1f + 25.0f * HashUnit(i * 7u) * HashUnit(i * 7u + 1u);
      const float x = -10.0f + 65.0f * HashUnit(i * 7u + 2u);
      const float y = -10.0f + 49.0f * HashUnit(i * 7u + 3u);
      const Vec3 colour{HashUnit(i * 7u + 4u), -0.3f, 2.0f * HashUnit(i * 7u + 5u)};
      const int reach = static_cast<int>(std::ceil(radius));
      const Span cols{std::max(0, static_cast<int>(std::floor(x)) - reach),
                      std::min(kWidth - 1, static_cast<int>(std::floor(x)) + reach)};
      const Span rows{std::max(0, static_cast<int>(std::floor(y)) - reach),
                      std::min(kHeight - 1, static_cast<int>(std::floor(y)) + reach)};
      if (cols.lo > cols.hi || rows.lo > rows.hi) continue;
      splat_kernel::PlanesReference(want, x, y, radius, colour, 0.6f, cols, rows);
      version.fn(got, x, y, radius, colour, 0.6f, cols, rows);
    }
    for (int c = 0; c < 3; ++c) {
      for (std::size_t py = 0; py < kHeight; ++py) {
        EXPECT_EQ(0, std::memcmp(&expected[c][py * kStride], &actual[c][py * kStride], kWidth * sizeof(float)))
            << version.name << " plane " << c << " row " << py;
      }
    }
  }
}

TEST(SplatKernel, TheFastestSupportedVersionIsSelected) {
  const splat_kernel::KernelFn best = splat_kernel::CpuHasAvx512() ? &splat_kernel::Avx512
                                      : splat_kernel::CpuHasAvx2()   ? &splat_kernel::Avx2
                                                                     : &splat_kernel::Sse2;
  EXPECT_EQ(splat_kernel::Selected(), PlainPathsForced() ? &splat_kernel::Reference : best);
  const splat_kernel::PlanesFn planes = splat_kernel::CpuHasAvx512() ? &splat_kernel::PlanesAvx512
                                        : splat_kernel::CpuHasAvx2() && __builtin_cpu_supports("fma")
                                            ? &splat_kernel::PlanesAvx2
                                            : nullptr;
  EXPECT_EQ(splat_kernel::SelectedPlanes(), PlainPathsForced() ? nullptr : planes);
}

}  // namespace
