// Paints the sibling production's small storyboard data set with the show's own renderer and
// writes it as PNG: backgrounds for scenes 1, 3, 5 and 7 and green-screen foregrounds for scenes
// 1, 3 and 7, 320 x 180 each, into data/marlin/storyboard_frames under the directory given.
//
// Usage: make_storyboard [DIR]   (DIR defaults to the working directory)

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "assets/stb_image_write_impl.h"
#include "overlays/sibling.h"
#include "render/framebuffer.h"
#include "render/noise.h"
#include "render/primitives.h"

namespace {

constexpr int kW = 320;
constexpr int kH = 180;

// A vertical gradient of the sky from top to horizon colour.
void Sky(Framebuffer& fb, Vec3 top, Vec3 horizon) {
  for (int y = 0; y < kH; ++y) fb.AddRect(0, y, kW, 1, Lerp(top, horizon, static_cast<float>(y) / kH), 1.0f);
}

// A ridge line of value noise: everything below it is painted `colour`.
void Ridge(Framebuffer& fb, float base, float amplitude, float frequency, float seed, Vec3 colour) {
  for (int x = 0; x < kW; ++x) {
    const float n = SampleNoise(x * frequency + seed, seed * 0.37f, 0);
    const int top = static_cast<int>(base - amplitude * n);
    fb.BlendRect(x, top, 1, kH - top, colour, 1.0f);
  }
}

void Stars(Framebuffer& fb, int count, std::uint32_t salt) {
  for (int i = 0; i < count; ++i) {
    const float x = HashUnit(static_cast<std::uint32_t>(i) * 747796405u + salt) * kW;
    const float y = HashUnit(static_cast<std::uint32_t>(i) * 2891336453u + salt) * kH * 0.55f;
    Splat(fb, x, y, 1.2f, {0.8f, 0.9f, 1.0f}, 0.4f + 0.6f * HashUnit(i * 1664525u + salt));
  }
}

void Background(int scene, Framebuffer& fb) {
  fb.Fill({0, 0, 0});
  if (scene == 1) {  // dusk canyon
    Sky(fb, {0.15f, 0.12f, 0.35f}, {1.6f, 0.6f, 0.25f});
    Splat(fb, 210, 92, 26, {2.0f, 1.2f, 0.4f}, 1.0f);
    Ridge(fb, 110, 40, 0.02f, 3.0f, {0.35f, 0.14f, 0.12f});
    Ridge(fb, 140, 30, 0.035f, 9.0f, {0.18f, 0.07f, 0.08f});
    Ridge(fb, 170, 20, 0.05f, 17.0f, {0.06f, 0.03f, 0.05f});
  } else if (scene == 3) {  // night valley
    Sky(fb, {0.0f, 0.02f, 0.08f}, {0.05f, 0.2f, 0.35f});
    Stars(fb, 140, 11u);
    Splat(fb, 70, 40, 12, {1.4f, 1.4f, 1.2f}, 0.8f);
    Ridge(fb, 120, 45, 0.018f, 5.0f, {0.03f, 0.08f, 0.14f});
    Ridge(fb, 160, 25, 0.04f, 21.0f, {0.01f, 0.03f, 0.05f});
  } else if (scene == 5) {  // dawn sea
    Sky(fb, {0.3f, 0.45f, 0.9f}, {1.5f, 1.0f, 0.8f});
    Splat(fb, 160, 112, 34, {2.0f, 1.5f, 0.7f}, 1.0f);
    fb.BlendRect(0, 112, kW, kH - 112, {0.1f, 0.25f, 0.45f}, 1.0f);
    for (int i = 0; i < 60; ++i) {  // glints on the water
      const float y = 116 + 60 * HashUnit(i * 2246822519u + 5u);
      const float x = 160 + (HashUnit(i * 3266489917u + 7u) - 0.5f) * (y - 100) * 1.6f;
      SplatLine(fb, {x - 4, y}, {x + 4, y}, {1.6f, 1.2f, 0.6f}, 0.25f, 0.8f);
    }
  } else {  // scene 7: red sky, a tower
    Sky(fb, {0.25f, 0.02f, 0.08f}, {1.2f, 0.25f, 0.2f});
    Stars(fb, 50, 29u);
    Ridge(fb, 150, 18, 0.03f, 13.0f, {0.05f, 0.01f, 0.03f});
    fb.BlendRect(150, 40, 20, 120, {0.04f, 0.01f, 0.03f}, 1.0f);
    for (int i = 0; i < 6; ++i) Splat(fb, 160, 50 + 18 * i, 3, {2.0f, 0.5f, 0.3f}, 0.8f);
  }
}

// A figure on black: the part without light becomes the green screen when written.
void Foreground(int scene, Framebuffer& fb) {
  fb.Fill({0, 0, 0});
  if (scene == 1) {  // the craft, wings and engines
    const Vec3 hull{0.6f, 0.65f, 0.75f};
    for (int i = 0; i < 14; ++i) SplatLine(fb, {90, 120.0f + i}, {230, 120.0f + i}, hull, 0.12f, 2.0f);
    for (int i = 0; i < 10; ++i) SplatLine(fb, {130, 110.0f + i}, {190, 110.0f + i}, hull * 1.2f, 0.12f, 2.0f);
    Splat(fb, 100, 127, 6, {2.0f, 0.8f, 0.3f}, 1.0f);
    Splat(fb, 220, 127, 6, {2.0f, 0.8f, 0.3f}, 1.0f);
  } else if (scene == 3) {  // a rider: body, head, bike
    const Vec3 suit{0.8f, 0.3f, 0.6f};
    for (int i = 0; i < 8; ++i) SplatLine(fb, {150.0f + i, 95}, {146.0f + i, 135}, suit, 0.2f, 2.0f);
    Splat(fb, 154, 88, 7, {0.9f, 0.7f, 0.6f}, 1.0f);
    for (int i = 0; i < 6; ++i) SplatLine(fb, {115, 140.0f + i}, {195, 140.0f + i}, {0.5f, 0.5f, 0.6f}, 0.2f, 2.0f);
    Splat(fb, 122, 150, 9, {0.3f, 0.3f, 0.35f}, 1.0f);
    Splat(fb, 188, 150, 9, {0.3f, 0.3f, 0.35f}, 1.0f);
  } else {  // scene 7: a searchlight beam and a figure at the tower's foot
    SplatLine(fb, {160, 60}, {60, 10}, {1.5f, 1.3f, 0.8f}, 0.3f, 5.0f);
    for (int i = 0; i < 6; ++i) SplatLine(fb, {200.0f + i, 130}, {200.0f + i, 165}, {0.9f, 0.8f, 0.7f}, 0.25f, 2.0f);
    Splat(fb, 203, 124, 5, {0.9f, 0.8f, 0.7f}, 1.0f);
  }
}

bool WritePng(const Framebuffer& fb, bool green_screen, const std::string& path) {
  std::vector<std::uint8_t> rgb(static_cast<size_t>(kW) * kH * 3);
  for (size_t i = 0; i < fb.pixels.size(); ++i) {
    const Vec3& p = fb.pixels[i];
    const bool screen = green_screen && p.r + p.g + p.b < 0.05f;
    rgb[i * 3] = screen ? 16 : ToneCurveByte(p.r);
    rgb[i * 3 + 1] = screen ? 200 : ToneCurveByte(p.g);
    rgb[i * 3 + 2] = screen ? 24 : ToneCurveByte(p.b);
  }
  std::vector<std::uint8_t> png;
  if (!EncodePngRgb8(rgb.data(), kW, kH, png)) return false;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(png.data(), 1, png.size(), f) == png.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::printf("Usage: make_storyboard [DIR]\n"
                "Paints the marlin storyboard data set into DIR/data/marlin/storyboard_frames\n"
                "(DIR defaults to the working directory).\n");
    return 0;
  }
  const std::filesystem::path root = argc > 1 ? argv[1] : ".";
  std::error_code error;
  std::filesystem::create_directories(root / "data/marlin/storyboard_frames/background", error);
  std::filesystem::create_directories(root / "data/marlin/storyboard_frames/foreground_green", error);
  Framebuffer fb(kW, kH);
  char name[200];
  for (int scene : {1, 3, 5, 7}) {
    Background(scene, fb);
    std::snprintf(name, sizeof name, kStoryboardBackgroundFormat, scene);
    if (!WritePng(fb, false, (root / name).string())) {
      std::fprintf(stderr, "Could not save %s\n", (root / name).c_str());
      return 1;
    }
    if (scene == 5) continue;
    Foreground(scene, fb);
    std::snprintf(name, sizeof name, kStoryboardForegroundFormat, scene);
    if (!WritePng(fb, true, (root / name).string())) {
      std::fprintf(stderr, "Could not save %s\n", (root / name).c_str());
      return 1;
    }
  }
  return 0;
}
