#pragma once
// The per-pixel loop of a splat, in three interchangeable versions that add exactly the same
// bits: the plain one-pixel loop (kept as the reference the others are tested against), an SSE2
// version, an AVX2 version and an AVX-512 version, chosen once at run time by what the processor supports. Splat
// and SplatClipped (render/primitives.h) clip the footprint and then call `SplatKernel`.
//
// All three compute, for every pixel (px, py) of the clipped range, dx = px + 0.5 - x,
// dy = py + 0.5 - y, d2 = dx*dx + dy*dy, and when d2 < R2 add ((1 - d2*(1/R2))^2 * intensity)
// * colour, with the same float operations in the same order, so their images are identical
// bit for bit. The vector versions gain by skipping the empty corners of the square footprint
// row by row and by adding whole runs of pixels as packed floats (a pixel outside the disc is
// blended back to its old bits); they never read or write a pixel outside the clipped range,
// so parallel tasks drawing into disjoint ranges stay disjoint.

#include <cstddef>

#include "render/math.h"

namespace splat_kernel {

// Inclusive pixel range along one axis; empty when lo > hi.
struct Span {
  int lo;
  int hi;
};

using KernelFn = void (*)(Vec3* pixels, std::size_t width, float x, float y, float radius,
                          Vec3 colour, float intensity, Span cols, Span rows);

void Reference(Vec3* pixels, std::size_t width, float x, float y, float radius, Vec3 colour,
               float intensity, Span cols, Span rows);
void Sse2(Vec3* pixels, std::size_t width, float x, float y, float radius, Vec3 colour,
          float intensity, Span cols, Span rows);
// Only to be called when `CpuHasAvx2()`.
void Avx2(Vec3* pixels, std::size_t width, float x, float y, float radius, Vec3 colour,
          float intensity, Span cols, Span rows);

// Only to be called when `CpuHasAvx512()` (AVX-512F with BMI2).
void Avx512(Vec3* pixels, std::size_t width, float x, float y, float radius, Vec3 colour,
            float intensity, Span cols, Span rows);

bool CpuHasAvx2();
bool CpuHasAvx512();

// Many discs of one radius, colour and intensity (the dots of a line of text): dot k at
// (xs[k], ys[k]) over its clipped range (cols[k], rows[k]), drawn in order, each adding exactly
// what the kernel adds for it alone. The AVX-512 version works out the disc's constants once
// for all dots; the others call their kernel dot by dot.
struct Dots {
  const float* xs;
  const float* ys;
  const Span* cols;
  const Span* rows;
  int count;
};
using DotsFn = void (*)(Vec3* pixels, std::size_t width, const Dots& dots, float radius, Vec3 colour,
                        float intensity);
void DotsReference(Vec3* pixels, std::size_t width, const Dots& dots, float radius, Vec3 colour,
                   float intensity);
void DotsSse2(Vec3* pixels, std::size_t width, const Dots& dots, float radius, Vec3 colour,
              float intensity);
// Only to be called when `CpuHasAvx2()`.
void DotsAvx2(Vec3* pixels, std::size_t width, const Dots& dots, float radius, Vec3 colour,
              float intensity);
// Only to be called when `CpuHasAvx512()`.
void DotsAvx512(Vec3* pixels, std::size_t width, const Dots& dots, float radius, Vec3 colour,
                float intensity);

// Splats into a planar image: red, green and blue each in a plane of its own, `stride` floats
// per row, with at least 16 floats of margin after the last column of every row, so a run of
// sixteen pixels from any column stays inside its row. Sixteen pixels of one colour are then one
// vector, and a run is added with plain loads and stores (lanes outside the disc add zero,
// margin lanes included). The weight is the splat's up to rounding: (a - q)^2 with
// a = 1 - dy*dy*(1/R2) per row and q = dx*dx*(1/R2) per column, kept where a - q > 0, and the
// colour times the intensity added with fused multiply-adds. Every version adds exactly the
// bits of the plain loop `PlanesReference`.
struct Planes {
  float* red;
  float* green;
  float* blue;
  std::size_t stride;
};
using PlanesFn = void (*)(const Planes& planes, float x, float y, float radius, Vec3 colour,
                          float intensity, Span cols, Span rows);
void PlanesReference(const Planes& planes, float x, float y, float radius, Vec3 colour,
                     float intensity, Span cols, Span rows);
// Only to be called when `CpuHasAvx2()` and the processor has FMA.
void PlanesAvx2(const Planes& planes, float x, float y, float radius, Vec3 colour, float intensity,
                Span cols, Span rows);
// Only to be called when `CpuHasAvx512()`.
void PlanesAvx512(const Planes& planes, float x, float y, float radius, Vec3 colour,
                  float intensity, Span cols, Span rows);

// The fastest version this processor runs, or the reference when plain paths are forced
// (decided on first use).
KernelFn Selected();
// The many-dots version that goes with `Selected()`.
DotsFn SelectedDots();
// The planar version for this processor, or null when plain paths are forced or the processor
// has no vector version (callers then draw straight into the framebuffer with `Selected()`).
PlanesFn SelectedPlanes();

}  // namespace splat_kernel
