// Look-at camera: the basis, its degenerate cases, roll and the focal length.

#include "render/camera.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

constexpr float kPi = 3.14159265f;

void ExpectVec(const Vec3& v, float x, float y, float z, float tol = 1e-6f) {
  EXPECT_NEAR(v.x, x, tol);
  EXPECT_NEAR(v.y, y, tol);
  EXPECT_NEAR(v.z, z, tol);
}

void ExpectZero(const Vec3& v) {
  EXPECT_EQ(v.x, 0.0f);
  EXPECT_EQ(v.y, 0.0f);
  EXPECT_EQ(v.z, 0.0f);
}

TEST(Camera, ScreenCentreAndFocalLength) {
  const CameraBasis cam = BuildLookAt(Vec3{0, 0, 0}, Vec3{0, 0, 5}, 90.0f, 0.0f, 640, 360);
  EXPECT_EQ(cam.cx, 320.0f);
  EXPECT_EQ(cam.cy, 180.0f);
  EXPECT_NEAR(cam.focal, 180.0f, 1e-4f);
  const CameraBasis narrow = BuildLookAt(Vec3{0, 0, 0}, Vec3{0, 0, 5}, 60.0f, 0.0f, 640, 360);
  EXPECT_NEAR(narrow.focal, 180.0f / std::tan(kPi / 6.0f), 1e-3f);
}

TEST(Camera, LookingAlongZ) {
  // Forward +z: right is (-1, 0, 0) by the formula (-f.z, 0, f.x)/g, up is +y.
  const CameraBasis cam = BuildLookAt(Vec3{1, 2, 3}, Vec3{1, 2, 10}, 70.0f, 0.0f, 640, 360);
  ExpectVec(cam.eye, 1, 2, 3);
  ExpectVec(cam.forward, 0, 0, 1);
  ExpectVec(cam.right, -1, 0, 0);
  ExpectVec(cam.up, 0, 1, 0);
}

TEST(Camera, GeneralBasisIsOrthonormalAndProjectsTheTargetToTheCentre) {
  const Vec3 eye{3, 4, -2}, target{-1, 1.5f, 7};
  const CameraBasis cam = BuildLookAt(eye, target, 55.0f, 0.3f, 640, 360);
  EXPECT_NEAR(Length(cam.forward), 1.0f, 1e-6f);
  EXPECT_NEAR(Length(cam.right), 1.0f, 1e-6f);
  EXPECT_NEAR(Length(cam.up), 1.0f, 1e-6f);
  EXPECT_NEAR(Dot(cam.forward, cam.right), 0.0f, 1e-6f);
  EXPECT_NEAR(Dot(cam.forward, cam.up), 0.0f, 1e-6f);
  EXPECT_NEAR(Dot(cam.right, cam.up), 0.0f, 1e-6f);
  // Project the target and a point offset along up: it lands above the centre.
  const Vec3 rel = target - cam.eye;
  const float depth = Dot(rel, cam.forward);
  EXPECT_NEAR(Dot(rel, cam.right) * cam.focal / depth + cam.cx, 320.0f, 1e-3f);
  const Vec3 above = target + cam.up - cam.eye;
  EXPECT_LT(cam.cy - Dot(above, cam.up) * cam.focal / Dot(above, cam.forward), 180.0f);
}

TEST(Camera, DegenerateDirectionsGiveZeroVectors) {
  const CameraBasis same = BuildLookAt(Vec3{1, 1, 1}, Vec3{1, 1, 1}, 60.0f, 0.5f, 640, 360);
  ExpectZero(same.forward);
  ExpectZero(same.right);
  ExpectZero(same.up);
  for (float dy : {5.0f, -5.0f}) {
    const CameraBasis vertical = BuildLookAt(Vec3{0, 0, 0}, Vec3{0, dy, 0}, 60.0f, 0.0f, 640, 360);
    ExpectVec(vertical.forward, 0, dy > 0 ? 1.0f : -1.0f, 0);
    ExpectZero(vertical.right);
    ExpectZero(vertical.up);
  }
  // A non-finite eye or target gives no direction rather than NaN vectors.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const CameraBasis bad = BuildLookAt(Vec3{nan, 0, 0}, Vec3{0, 0, 1}, 60.0f, 0.0f, 640, 360);
  ExpectZero(bad.forward);
  ExpectZero(bad.right);
  ExpectZero(bad.up);
}

TEST(Camera, Roll) {
  const Vec3 eye{0, 1, 0}, target{2, 0.5f, 6};
  const CameraBasis flat = BuildLookAt(eye, target, 60.0f, 0.0f, 640, 360);
  const CameraBasis tiny = BuildLookAt(eye, target, 60.0f, 1e-6f, 640, 360);
  EXPECT_EQ(tiny.right.x, flat.right.x);
  EXPECT_EQ(tiny.right.z, flat.right.z);
  EXPECT_EQ(tiny.up.y, flat.up.y);
  const CameraBasis quarter = BuildLookAt(eye, target, 60.0f, kPi / 2.0f, 640, 360);
  ExpectVec(quarter.right, -flat.up.x, -flat.up.y, -flat.up.z);
  ExpectVec(quarter.up, flat.right.x, flat.right.y, flat.right.z);
  ExpectVec(quarter.forward, flat.forward.x, flat.forward.y, flat.forward.z, 0.0f);
}

}  // namespace
