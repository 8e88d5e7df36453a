#pragma once
// The small perspective camera of the dot field and the arena: eye, target, vertical field of
// view and roll, turned once per frame into the basis every projected splat uses.

#include <cstddef>

#include "render/math.h"

// A point P projects as rel = P - eye, depth = rel.forward,
// x = (rel.right)*focal/depth + cx, y = cy - (rel.up)*focal/depth (screen y grows downward).
// The minimum depth and what is drawn there belong to each scene.
struct CameraBasis {
  Vec3 eye;
  Vec3 right;    // unit, to the right on screen (zero when degenerate)
  Vec3 up;       // unit, upward on screen (zero when degenerate)
  Vec3 forward;  // unit viewing direction (zero when eye == target)
  float cx = 0.0f;     // pixels, half the frame width
  float cy = 0.0f;     // pixels, half the frame height
  float focal = 0.0f;  // pixels
};

// fov_degrees is the vertical field of view; roll (radians) turns right and up about forward and
// is ignored below 1e-5. Looking straight up or down, or eye == target, gives zero right and up
// vectors, so every point has depth or screen offsets of 0 and the scenes draw nothing.
CameraBasis BuildLookAt(Vec3 eye, Vec3 target, float fov_degrees, float roll, std::size_t width,
                        std::size_t height);
