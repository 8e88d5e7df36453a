#include "render/framebuffer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

bool IsFiniteScalar(float v) { return std::isfinite(v); }

// The inclusive-exclusive span [lo, hi) of a rectangle edge clipped to [0, size), computed in
// 64 bits so that x + w cannot overflow. Empty when lo >= hi.
struct Span {
  std::int64_t lo;
  std::int64_t hi;
};
Span ClipSpan(int start, int length, std::size_t size) {
  const std::int64_t lo = std::max<std::int64_t>(start, 0);
  const std::int64_t hi =
      std::min<std::int64_t>(static_cast<std::int64_t>(size), std::int64_t{start} + length);
  return {lo, hi};
}

}  // namespace

Framebuffer::Framebuffer(std::size_t width_, std::size_t height_)
    : width(width_),
      height(height_),
      pixels(width_ * height_, Vec3{0.0f, 0.0f, 0.0f}),
      rgba(width_ * height_, kOpaqueBlack) {}

void Framebuffer::Fill(Vec3 colour) {
  if (!IsFinite(colour)) return;
  std::fill(pixels.begin(), pixels.end(), colour);
}

void Framebuffer::ScaleAdd(float k, Vec3 add) {
  if (!IsFiniteScalar(k) || !IsFinite(add)) return;
  for (Vec3& p : pixels) {
    p.x = k * p.x + add.x;
    p.y = k * p.y + add.y;
    p.z = k * p.z + add.z;
  }
}

void Framebuffer::AddScaled(const Framebuffer& src, float k) {
  if (!(k > 0.0f) || !IsFiniteScalar(k)) return;
  if (src.width != width || src.height != height) return;
  const Vec3* s = src.pixels.data();
  Vec3* d = pixels.data();
  const std::size_t count = pixels.size();
  for (std::size_t i = 0; i < count; ++i) {
    d[i].x += k * s[i].x;
    d[i].y += k * s[i].y;
    d[i].z += k * s[i].z;
  }
}

void Framebuffer::AddPixel(int x, int y, Vec3 colour, float k) {
  if (x < 0 || y < 0 || static_cast<std::size_t>(x) >= width ||
      static_cast<std::size_t>(y) >= height)
    return;
  if (!IsFiniteScalar(k) || !IsFinite(colour)) return;
  Vec3& p = pixels[static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x)];
  p.x += k * colour.x;
  p.y += k * colour.y;
  p.z += k * colour.z;
}

void Framebuffer::BlendPixel(int x, int y, Vec3 colour, float a) {
  if (x < 0 || y < 0 || static_cast<std::size_t>(x) >= width ||
      static_cast<std::size_t>(y) >= height)
    return;
  if (!IsFiniteScalar(a) || !IsFinite(colour)) return;
  const float keep = 1.0f - a;
  Vec3& p = pixels[static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x)];
  p.x = a * colour.x + keep * p.x;
  p.y = a * colour.y + keep * p.y;
  p.z = a * colour.z + keep * p.z;
}

void Framebuffer::AddRect(int x, int y, int w, int h, Vec3 colour, float k) {
  if (w <= 0 || h <= 0 || !(k > 0.0f)) return;
  if (!IsFiniteScalar(k) || !IsFinite(colour)) return;
  const Span cols = ClipSpan(x, w, width);
  const Span rows = ClipSpan(y, h, height);
  if (cols.lo >= cols.hi || rows.lo >= rows.hi) return;
  const Vec3 add{k * colour.x, k * colour.y, k * colour.z};
  for (std::int64_t py = rows.lo; py < rows.hi; ++py) {
    Vec3* row = pixels.data() + static_cast<std::size_t>(py) * width;
    for (std::int64_t px = cols.lo; px < cols.hi; ++px) {
      row[px].x += add.x;
      row[px].y += add.y;
      row[px].z += add.z;
    }
  }
}

void Framebuffer::BlendRect(int x, int y, int w, int h, Vec3 colour, float a) {
  if (w <= 0 || h <= 0) return;
  if (!IsFiniteScalar(a) || !IsFinite(colour)) return;
  const Span cols = ClipSpan(x, w, width);
  const Span rows = ClipSpan(y, h, height);
  if (cols.lo >= cols.hi || rows.lo >= rows.hi) return;
  const float keep = 1.0f - a;
  const Vec3 target{a * colour.x, a * colour.y, a * colour.z};
  for (std::int64_t py = rows.lo; py < rows.hi; ++py) {
    Vec3* row = pixels.data() + static_cast<std::size_t>(py) * width;
    for (std::int64_t px = cols.lo; px < cols.hi; ++px) {
      Vec3& p = row[px];
      p.x = target.x + keep * p.x;
      p.y = target.y + keep * p.y;
      p.z = target.z + keep * p.z;
    }
  }
}

void Framebuffer::AddImage(const Framebuffer& src, int sx, int sy, int sw, int sh, float dx,
                           float dy, float k) {
  // 1. Empty source rectangle, no light, or a destination point that is not a number.
  if (sw <= 0 || sh <= 0 || !(k > 0.0f) || !IsFiniteScalar(k)) return;
  if (!IsFiniteScalar(dx) || !IsFiniteScalar(dy)) return;

  // 2. Clip the source rectangle to the source image.
  const Span cols = ClipSpan(sx, sw, src.width);
  const Span rows = ClipSpan(sy, sh, src.height);
  if (cols.lo >= cols.hi || rows.lo >= rows.hi) return;

  // 3. Nothing to do when the shifted rectangle misses the destination. The tests are done in
  // float so that a far-away dx or dy is rejected before any conversion to int.
  const float dest_w = static_cast<float>(width);
  const float dest_h = static_cast<float>(height);
  const float left = static_cast<float>(cols.lo - sx) + dx;
  const float right = static_cast<float>(cols.hi - sx) + dx;
  const float top = static_cast<float>(rows.lo - sy) + dy;
  const float bottom = static_cast<float>(rows.hi - sy) + dy;
  if (std::ceil(right) < 0.0f || std::ceil(bottom) < 0.0f || std::floor(left) >= dest_w ||
      std::floor(top) >= dest_h)
    return;

  // 4. Split every source pixel bilinearly over the four destination pixels around its point.
  // After step 3 every destination coordinate is within a source-size distance of the image,
  // so the conversions below are in range.
  const std::int64_t W = static_cast<std::int64_t>(width);
  const std::int64_t H = static_cast<std::int64_t>(height);
  for (std::int64_t i = rows.lo; i < rows.hi; ++i) {
    const Vec3* src_row = src.pixels.data() + static_cast<std::size_t>(i) * src.width;
    const float fy = static_cast<float>(i - sy) + dy;
    const float fy_floor = std::floor(fy);
    const std::int64_t py = static_cast<std::int64_t>(fy_floor);
    const float ty = fy - fy_floor;
    for (std::int64_t j = cols.lo; j < cols.hi; ++j) {
      const Vec3 s = src_row[j];
      const Vec3 v{k * s.x, k * s.y, k * s.z};
      if (v.x + v.y + v.z <= 1e-5f) continue;
      const float fx = static_cast<float>(j - sx) + dx;
      const float fx_floor = std::floor(fx);
      const std::int64_t px = static_cast<std::int64_t>(fx_floor);
      const float tx = fx - fx_floor;
      const float weights[4] = {(1.0f - tx) * (1.0f - ty), tx * (1.0f - ty), (1.0f - tx) * ty,
                                tx * ty};
      const std::int64_t xs[4] = {px, px + 1, px, px + 1};
      const std::int64_t ys[4] = {py, py, py + 1, py + 1};
      for (int n = 0; n < 4; ++n) {
        const float wgt = weights[n];
        if (!(wgt > 0.0f)) continue;
        if (xs[n] < 0 || xs[n] >= W || ys[n] < 0 || ys[n] >= H) continue;
        Vec3& d = pixels[static_cast<std::size_t>(ys[n] * W + xs[n])];
        d.x += v.x * wgt;
        d.y += v.y * wgt;
        d.z += v.z * wgt;
      }
    }
  }
}

std::uint8_t ToneCurveByte(float v) {
  float t = 1.0f - std::exp(-1.15f * v);
  // Written so that NaN fails the first test and becomes 0.
  t = t > 0.0f ? t : 0.0f;
  t = t < 1.0f ? t : 1.0f;
  return static_cast<std::uint8_t>(t * 255.0f + 0.5f);
}

void Framebuffer::ResolveRgba8() {
  const std::size_t count = pixels.size();
  const Vec3* src = pixels.data();
  std::uint32_t* dst = rgba.data();
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t r = ToneCurveByte(src[i].x);
    const std::uint32_t g = ToneCurveByte(src[i].y);
    const std::uint32_t b = ToneCurveByte(src[i].z);
    dst[i] = kOpaqueBlack + b * 65536u + g * 256u + r;
  }
}
