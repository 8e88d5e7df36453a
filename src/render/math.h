#pragma once
// Small vector maths shared by every part of the renderer: positions (x across, y up, z forward)
// and linear-light colours (r, g, b) are the same three floats.

#include <cmath>

struct Vec3 {
  // The same storage read as a position or as a colour.
  union {
    struct {
      float x, y, z;
    };
    struct {
      float r, g, b;
    };
  };

  constexpr Vec3() : x(0.0f), y(0.0f), z(0.0f) {}
  constexpr Vec3(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}

  Vec3& operator+=(const Vec3& o) {
    x += o.x;
    y += o.y;
    z += o.z;
    return *this;
  }
  Vec3& operator-=(const Vec3& o) {
    x -= o.x;
    y -= o.y;
    z -= o.z;
    return *this;
  }
  Vec3& operator*=(float s) {
    x *= s;
    y *= s;
    z *= s;
    return *this;
  }
};

struct Vec2 {
  float x = 0.0f;
  float y = 0.0f;

  constexpr Vec2() = default;
  constexpr Vec2(float x_, float y_) : x(x_), y(y_) {}

  Vec2& operator+=(const Vec2& o) {
    x += o.x;
    y += o.y;
    return *this;
  }
  Vec2& operator-=(const Vec2& o) {
    x -= o.x;
    y -= o.y;
    return *this;
  }
  Vec2& operator*=(float s) {
    x *= s;
    y *= s;
    return *this;
  }
};

inline Vec3 operator+(const Vec3& a, const Vec3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(const Vec3& a, const Vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator-(const Vec3& a) { return {-a.x, -a.y, -a.z}; }
inline Vec3 operator*(const Vec3& a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline Vec3 operator*(float s, const Vec3& a) { return {s * a.x, s * a.y, s * a.z}; }
// Per component: tinting a colour by another, scaling a position per axis.
inline Vec3 operator*(const Vec3& a, const Vec3& b) { return {a.x * b.x, a.y * b.y, a.z * b.z}; }

inline Vec2 operator+(const Vec2& a, const Vec2& b) { return {a.x + b.x, a.y + b.y}; }
inline Vec2 operator-(const Vec2& a, const Vec2& b) { return {a.x - b.x, a.y - b.y}; }
inline Vec2 operator-(const Vec2& a) { return {-a.x, -a.y}; }
inline Vec2 operator*(const Vec2& a, float s) { return {a.x * s, a.y * s}; }
inline Vec2 operator*(float s, const Vec2& a) { return {s * a.x, s * a.y}; }
inline Vec2 operator*(const Vec2& a, const Vec2& b) { return {a.x * b.x, a.y * b.y}; }

inline float Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline float Dot(const Vec2& a, const Vec2& b) { return a.x * b.x + a.y * b.y; }

inline Vec3 Cross(const Vec3& a, const Vec3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

inline float Length(const Vec3& v) { return std::sqrt(Dot(v, v)); }
inline float Length(const Vec2& v) { return std::sqrt(Dot(v, v)); }

// Unit vector along v; the zero vector when v is (nearly) zero or not finite, so a degenerate
// direction never turns into NaNs downstream.
inline Vec3 Normalize(const Vec3& v) {
  const float len = Length(v);
  if (!(len > 1e-8f) || !std::isfinite(len)) return {};
  return {v.x / len, v.y / len, v.z / len};
}
inline Vec2 Normalize(const Vec2& v) {
  const float len = Length(v);
  if (!(len > 1e-8f) || !std::isfinite(len)) return {};
  return {v.x / len, v.y / len};
}

inline bool IsFinite(const Vec3& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}
inline bool IsFinite(const Vec2& v) { return std::isfinite(v.x) && std::isfinite(v.y); }

// std::clamp semantics (a NaN x passes through); use Clamp01 for outside values.
inline float Clamp(float x, float lo, float hi) { return x < lo ? lo : (hi < x ? hi : x); }

// 0 for a non-finite x, else x clamped to [0, 1]: levels and fades from outside never go NaN.
inline float Clamp01(float x) {
  if (!std::isfinite(x)) return 0.0f;
  return x < 0.0f ? 0.0f : (x > 1.0f ? 1.0f : x);
}

// S(t) = t*t*(3 - 2t) on t clamped to [0, 1] (a non-finite t counts as 0).
inline float Smoothstep(float t) {
  const float c = Clamp01(t);
  return c * c * (3.0f - 2.0f * c);
}

inline float Lerp(float a, float b, float t) { return a + (b - a) * t; }
inline Vec3 Lerp(const Vec3& a, const Vec3& b, float t) {
  return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.z + (b.z - a.z) * t};
}

// floor(v) as an int, for |v| < 2^31 (callers check the range first). Same value as std::floor,
// without its extra range handling in hot paths.
inline int FloorToInt(float v) {
  const int i = static_cast<int>(v);
  return static_cast<float>(i) > v ? i - 1 : i;
}
