#pragma once
// Two frames resolved to bytes and compared channel by channel, for the tests that hold a fast
// path to its plain version: they may differ by at most 2 levels on at most 0.5 % of the pixels
// and by at most 8 anywhere.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "render/framebuffer.h"

struct ByteDiff {
  int over_two = 0;  // pixels with some channel more than 2 levels apart
  int largest = 0;   // largest channel difference
  int lit = 0;       // pixels of the plain frame above black
  int pixels = 0;
};

inline ByteDiff CompareResolved(Framebuffer& fast, Framebuffer& plain) {
  fast.ResolveRgba8();
  plain.ResolveRgba8();
  ByteDiff d;
  d.pixels = static_cast<int>(fast.rgba.size());
  for (std::size_t i = 0; i < fast.rgba.size(); ++i) {
    int worst = 0;
    for (int shift = 0; shift < 24; shift += 8) {
      const int a = static_cast<int>((fast.rgba[i] >> shift) & 0xFF);
      const int b = static_cast<int>((plain.rgba[i] >> shift) & 0xFF);
      worst = std::max(worst, std::abs(a - b));
    }
    d.over_two += worst > 2 ? 1 : 0;
    d.largest = std::max(d.largest, worst);
    d.lit += (plain.rgba[i] & 0xFFFFFFu) != 0 ? 1 : 0;
  }
  return d;
}

inline void ExpectWithinBound(const ByteDiff& d, const char* what) {
  EXPECT_LE(d.over_two, d.pixels / 200) << what;
  EXPECT_LE(d.largest, 8) << what;
}
