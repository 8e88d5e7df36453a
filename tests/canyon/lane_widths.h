#pragma once
// The canyon's lane kernels of every width this processor runs (eight lanes with AVX2, sixteen
// with AVX-512F), for tests that hold each width to the same standard.

#include <gtest/gtest.h>

#include <vector>

#include "scenes/canyon_internal.h"

inline std::vector<const canyon_detail::LaneKernels*> LaneWidthsHere() {
  std::vector<const canyon_detail::LaneKernels*> widths;
  for (const int lanes : {8, 16}) {
    if (const canyon_detail::LaneKernels* k = canyon_detail::LaneKernelsOfWidth(lanes)) widths.push_back(k);
  }
  return widths;
}

// Names the width in the failures of its scope.
inline testing::Message LaneWidthName(const canyon_detail::LaneKernels& k) {
  return testing::Message() << k.lanes << " lanes";
}
