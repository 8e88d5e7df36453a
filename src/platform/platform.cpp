#include "platform/platform.h"

#include <algorithm>

Viewport LetterboxViewport(int32_t window_width, int32_t window_height, float aspect) {
  const float window_aspect = static_cast<float>(window_width) / static_cast<float>(window_height);
  Viewport view;
  if (window_aspect > aspect) {
    // Wider than the image: bars left and right.
    view.width = static_cast<int32_t>(aspect * static_cast<float>(window_height));
    view.height = window_height;
    view.x = (window_width - view.width) / 2;
  } else {
    // Taller (or exactly the image's shape): bars above and below.
    view.width = window_width;
    view.height = static_cast<int32_t>(static_cast<float>(window_width) / aspect);
    view.y = (window_height - view.height) / 2;
  }
  return view;
}

int32_t ChooseMonitor(const ScreenRect& window, const ScreenRect* monitors, int32_t count) {
  int32_t best = -1;
  int64_t best_area = 0;
  for (int32_t i = 0; i < count; ++i) {
    const ScreenRect& m = monitors[i];
    const int64_t left = std::max<int64_t>(window.x, m.x);
    const int64_t right = std::min<int64_t>(int64_t{window.x} + window.width, int64_t{m.x} + m.width);
    const int64_t top = std::max<int64_t>(window.y, m.y);
    const int64_t bottom =
        std::min<int64_t>(int64_t{window.y} + window.height, int64_t{m.y} + m.height);
    const int64_t area = (right > left && bottom > top) ? (right - left) * (bottom - top) : 0;
    if (area > best_area) {  // strictly larger: the first monitor keeps a tie
      best_area = area;
      best = i;
    }
  }
  return best_area >= 1 ? best : -1;
}
