#include "render/camera.h"

#include <cmath>

CameraBasis BuildLookAt(Vec3 eye, Vec3 target, float fov_degrees, float roll, std::size_t width,
                        std::size_t height) {
  CameraBasis cam;
  cam.eye = eye;

  // 1. Viewing direction; zero when eye and target coincide.
  cam.forward = Normalize(target - eye);

  // 2. Horizontal right vector; zero when looking straight up or down.
  const float ground = std::sqrt(cam.forward.x * cam.forward.x + cam.forward.z * cam.forward.z);
  if (ground > 1e-8f) {
    cam.right = Vec3{-cam.forward.z / ground, 0.0f, cam.forward.x / ground};
  }

  // 3. Up completes the basis.
  cam.up = Cross(cam.right, cam.forward);

  // 4. Roll turns both vectors about forward, each from the unrotated pair.
  if (std::fabs(roll) > 1e-5f) {
    const float co = std::cos(roll);
    const float si = std::sin(roll);
    const Vec3 right = cam.right;
    const Vec3 up = cam.up;
    cam.right = right * co - up * si;
    cam.up = up * co + right * si;
  }

  // 5. Screen centre and focal length from the vertical field of view (tangent of half the angle).
  const float half_height = static_cast<float>(height) / 2.0f;
  cam.cx = static_cast<float>(width) / 2.0f;
  cam.cy = half_height;
  cam.focal = half_height / std::tan(fov_degrees * 3.14159265f / 360.0f);
  return cam;
}
