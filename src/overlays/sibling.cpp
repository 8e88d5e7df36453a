// The sibling production's storyboard, vector greetings and bloom.

#include "overlays/sibling.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/app.h"
#include "assets/asset_store.h"
#include "render/noise.h"
#include "timeline/director.h"

namespace {

constexpr float kTwoPi = 6.2831853f;
constexpr Vec3 kBlack{0.0f, 0.0f, 0.0f};

}  // namespace

bool SiblingProductionActive(const char* production_name, const char* default_sequence_path) {
  const bool named = production_name != nullptr && std::strstr(production_name, "marlin");
  const bool sequenced = default_sequence_path != nullptr &&
                         std::strcmp(default_sequence_path, "data/marlin/marlin_sequence.txt") == 0;
  return named || sequenced;
}

// ---- Storyboard --------------------------------------------------------------------------------

KeyedPixel GreenKey(Vec3 c) {
  // Green's lead over the stronger of the other two: below 0.08 the pixel stays, above 0.3 it is
  // screen; the soft ramp between keeps anti-aliased edges.
  const float other = std::max(c.r, c.b);
  const float excess = c.g - other;
  KeyedPixel out;
  out.alpha = 1.0f - Smoothstep((excess - 0.08f) * 4.5454545f);
  out.colour = c;
  // Spill: green that leads the others on a kept pixel is pulled most of the way back.
  if (excess > 0.0f) out.colour.g = other + 0.35f * excess;
  return out;
}

namespace {

// One axis of a bilinear lookup: the two neighbouring source indices and the weight of the second.
struct LinearTap {
  int i0 = 0;
  int i1 = 0;
  float f = 0.0f;
};

bool LoadOne(AssetStore& assets, const char* format, int scene, StoryboardImage& slot, bool key) {
  char path[160];
  std::snprintf(path, sizeof path, format, scene);
  Image image;
  slot = StoryboardImage{};
  if (!assets.LoadImage(path, image, nullptr)) {
    std::fprintf(stderr, "MARLIN storyboard: %s\n", path);
    return false;
  }
  const size_t count = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
  slot.width = image.width;
  slot.height = image.height;
  slot.rgba.resize(count * 4);
  for (size_t p = 0; p < count; ++p) {
    const float a = image.rgba[p * 4 + 3] * (1.0f / 255.0f);
    Vec3 c{image.rgba[p * 4] * (1.0f / 255.0f), image.rgba[p * 4 + 1] * (1.0f / 255.0f),
           image.rgba[p * 4 + 2] * (1.0f / 255.0f)};
    float alpha = a;
    if (key) {
      const KeyedPixel k = GreenKey(c);
      c = k.colour;
      alpha *= k.alpha;
    }
    slot.rgba[p * 4] = c.r;
    slot.rgba[p * 4 + 1] = c.g;
    slot.rgba[p * 4 + 2] = c.b;
    slot.rgba[p * 4 + 3] = alpha;
  }
  slot.loaded = true;
  return true;
}

}  // namespace

void LoadStoryboard(Storyboard& board, AssetStore& assets) {
  if (board.loaded) return;
  board.loaded = true;
  for (int n = 1; n <= 8; ++n) {
    LoadOne(assets, kStoryboardBackgroundFormat, n, board.background[n - 1], false);
    LoadOne(assets, kStoryboardForegroundFormat, n, board.foreground[n - 1], true);
  }
}

void DrawStoryboardImage(Framebuffer& fb, const StoryboardImage& image, bool cover, float zoom,
                         float brightness, float dx, float dy) {
  if (!image.loaded || image.width <= 0 || image.height <= 0 || image.rgba.empty()) return;
  if (!std::isfinite(zoom) || zoom <= 0.0f || !std::isfinite(brightness) || !std::isfinite(dx) ||
      !std::isfinite(dy))
    return;
  const float W = static_cast<float>(fb.width);
  const float H = static_cast<float>(fb.height);
  const float iw = static_cast<float>(image.width);
  const float ih = static_cast<float>(image.height);
  const float fit_x = W / iw;
  const float fit_y = H / ih;
  const float s = (cover ? std::max(fit_x, fit_y) : std::min(fit_x, fit_y)) * zoom;
  const float left = 0.5f * W + dx - 0.5f * iw * s;
  const float top = 0.5f * H + dy - 0.5f * ih * s;
  const int x_begin = std::max(0, static_cast<int>(std::floor(left)));
  const int x_end = std::min(static_cast<int>(fb.width), static_cast<int>(std::ceil(left + iw * s)));
  const int y_begin = std::max(0, static_cast<int>(std::floor(top)));
  const int y_end = std::min(static_cast<int>(fb.height), static_cast<int>(std::ceil(top + ih * s)));
  const float inv = 1.0f / s;
  const int last_x = image.width - 1;
  const int last_y = image.height - 1;
  // The source columns of every frame column, worked out once per call (scratch kept between
  // calls, main thread only); -1 marks a column outside the picture.
  static std::vector<LinearTap> columns;
  columns.resize(fb.width);
  for (int x = x_begin; x < x_end; ++x) {
    const float u = (static_cast<float>(x) + 0.5f - left) * inv - 0.5f;
    LinearTap& tap = columns[static_cast<size_t>(x)];
    if (u < -0.5f || u > iw - 0.5f) {
      tap.i0 = -1;
      continue;
    }
    const float uf = std::floor(u);
    tap.f = u - uf;
    tap.i0 = std::clamp(static_cast<int>(uf), 0, last_x) * 4;
    tap.i1 = std::clamp(static_cast<int>(uf) + 1, 0, last_x) * 4;
  }
  for (int y = y_begin; y < y_end; ++y) {
    // Source position of the pixel centre, bilinear between the four nearest texels.
    const float v = (static_cast<float>(y) + 0.5f - top) * inv - 0.5f;
    if (v < -0.5f || v > ih - 0.5f) continue;
    const float vf = std::floor(v);
    const float fy = v - vf;
    const int y0 = std::clamp(static_cast<int>(vf), 0, last_y);
    const int y1 = std::clamp(static_cast<int>(vf) + 1, 0, last_y);
    const float* row0 = image.rgba.data() + static_cast<size_t>(y0) * image.width * 4;
    const float* row1 = image.rgba.data() + static_cast<size_t>(y1) * image.width * 4;
    Vec3* out = fb.pixels.data() + static_cast<size_t>(y) * fb.width;
    for (int x = x_begin; x < x_end; ++x) {
      const LinearTap& tap = columns[static_cast<size_t>(x)];
      if (tap.i0 < 0) continue;
      const float fx = tap.f;
      const float* a0 = row0 + tap.i0;
      const float* a1 = row0 + tap.i1;
      const float* b0 = row1 + tap.i0;
      const float* b1 = row1 + tap.i1;
      // Alpha first: fully keyed-away texels cost no more.
      const float alpha_top = a0[3] + (a1[3] - a0[3]) * fx;
      const float alpha_bottom = b0[3] + (b1[3] - b0[3]) * fx;
      const float a = alpha_top + (alpha_bottom - alpha_top) * fy;
      if (a <= 0.0f) continue;
      float texel[3];
      for (int c = 0; c < 3; ++c) {
        const float top_mix = a0[c] + (a1[c] - a0[c]) * fx;
        const float bottom_mix = b0[c] + (b1[c] - b0[c]) * fx;
        texel[c] = top_mix + (bottom_mix - top_mix) * fy;
      }
      Vec3& p = out[x];
      p.r = p.r * (1.0f - a) + texel[0] * brightness * a;
      p.g = p.g * (1.0f - a) + texel[1] * brightness * a;
      p.b = p.b * (1.0f - a) + texel[2] * brightness * a;
    }
  }
}

bool DrawStoryboardFrame(Framebuffer& fb, const Storyboard& board, int scene, float time, float loop_bar,
                         const MusicViz& mv) {
  const int n = std::clamp(scene, 1, 8);
  const StoryboardImage& background = board.background[n - 1];
  if (!background.loaded) return false;
  const float nf = static_cast<float>(n);

  // 2. Clear; music level m and a brightness with a slight flicker.
  fb.Fill(kBlack);
  const float m = Clamp01(0.28f * mv.build + 0.25f * mv.fill + 0.82f * mv.impact + 0.18f * mv.lead +
                          0.2f * mv.bass + 0.34f * mv.kick);
  const float st = std::sin(19.7f * time + 2.1f * nf);
  const float sl = std::sin(0.63f * loop_bar + 5.9f * time);
  const float bar_wave = std::sin(kTwoPi * loop_bar + 0.73f * nf);
  const float v = 1.25875f + 0.18f * m + 0.025f * bar_wave + 0.01375f * (sl * st + sl + st);

  // 3. Background: covering; scene 7 is a double exposure, a dim enlarged copy under a fitted one.
  if (n == 7) {
    DrawStoryboardImage(fb, background, true, 1.08f, 0.3f * v, 0.0f, 0.0f);
    DrawStoryboardImage(fb, background, false, 0.97f, v, 0.0f, 0.0f);
  } else {
    DrawStoryboardImage(fb, background, true, 1.0f, v, 0.0f, 0.0f);
  }

  // 4. Bloom of the painting, pumped by the music.
  Bloom(fb, 0.52f, 0.81f + 0.11f * st + 0.18f * bar_wave + 1.05f * mv.impact + 0.4f * mv.kick +
                       0.6f * mv.energy);

  // 5. Foreground: fitted, with a smooth hand-held jitter that grows with the music.
  const StoryboardImage& foreground = board.foreground[n - 1];
  if (foreground.loaded) {
    const float shake = 1.0f + 2.5f * m;
    const float jx = (SampleNoise(0.37f * loop_bar + 3.1f * nf, 0.11f * nf, 0) - 0.5f) * 6.0f * shake +
                     0.8f * std::sin(1.3f * time + nf);
    const float jy = (SampleNoise(0.29f * loop_bar, 0.53f * loop_bar + 5.7f * nf, 1) - 0.5f) * 4.0f * shake +
                     0.6f * std::sin(1.7f * time + 2.0f * nf);
    const float zoom = 0.965f + 0.004f * (mv.bass + mv.impact);
    DrawStoryboardImage(fb, foreground, false, zoom, 1.08f + 0.08f * m, jx, jy);
  }
  return true;
}

bool DrawStoryboardScene(App& app, float time, const MusicViz& mv) {
  if (!SiblingProductionActive(kProductionName, kDefaultSequencePath)) return false;
  LoadStoryboard(app.storyboard, app.assets);
  const float loop_bar = WrapBar(mv.bar, app.sequence.loop_bars);
  return DrawStoryboardFrame(app.frame, app.storyboard, mv.scene, time, loop_bar, mv);
}

// ---- Stroke font -------------------------------------------------------------------------------

namespace {

// Each glyph: strokes (x0, y0, x1, y1) on a 4-unit wide, 7-unit high cap box (M and W wider).
constexpr float kA[] = {0, 7, 0, 2, 0, 2, 2, 0, 2, 0, 4, 2, 4, 2, 4, 7, 0, 4.2f, 4, 4.2f};
constexpr float kB[] = {0, 0, 0, 7, 0, 0, 3, 0, 3, 0, 4, 1, 4, 1, 4, 2.5f, 4, 2.5f, 3, 3.5f, 0, 3.5f, 3, 3.5f,
                        3, 3.5f, 4, 4.5f, 4, 4.5f, 4, 6, 4, 6, 3, 7, 3, 7, 0, 7};
constexpr float kC[] = {4, 1, 3, 0, 3, 0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 6, 0, 6, 1, 7, 1, 7, 3, 7, 3, 7, 4, 6};
constexpr float kD[] = {0, 0, 0, 7, 0, 0, 2.5f, 0, 2.5f, 0, 4, 1.5f, 4, 1.5f, 4, 5.5f, 4, 5.5f, 2.5f, 7, 2.5f, 7, 0, 7};
constexpr float kE[] = {4, 0, 0, 0, 0, 0, 0, 7, 0, 7, 4, 7, 0, 3.5f, 3, 3.5f};
constexpr float kF[] = {4, 0, 0, 0, 0, 0, 0, 7, 0, 3.5f, 3, 3.5f};
constexpr float kG[] = {4, 1, 3, 0, 3, 0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 6, 0, 6, 1, 7,
                        1, 7, 3, 7, 3, 7, 4, 6, 4, 6, 4, 4, 4, 4, 2, 4};
constexpr float kH[] = {0, 0, 0, 7, 4, 0, 4, 7, 0, 3.5f, 4, 3.5f};
constexpr float kI[] = {0, 0, 2, 0, 1, 0, 1, 7, 0, 7, 2, 7};
constexpr float kJ[] = {4, 0, 4, 6, 4, 6, 3, 7, 3, 7, 1, 7, 1, 7, 0, 6};
constexpr float kK[] = {0, 0, 0, 7, 4, 0, 0, 4.2f, 1.3f, 3.1f, 4, 7};
constexpr float kL[] = {0, 0, 0, 7, 0, 7, 4, 7};
constexpr float kM[] = {0, 7, 0, 0, 0, 0, 2.75f, 3.8f, 2.75f, 3.8f, 5.5f, 0, 5.5f, 0, 5.5f, 7};
constexpr float kN[] = {0, 7, 0, 0, 0, 0, 4, 7, 4, 7, 4, 0};
constexpr float kO[] = {1, 0, 3, 0, 3, 0, 4, 1, 4, 1, 4, 6, 4, 6, 3, 7, 3, 7, 1, 7, 1, 7, 0, 6, 0, 6, 0, 1, 0, 1, 1, 0};
constexpr float kP[] = {0, 7, 0, 0, 0, 0, 3, 0, 3, 0, 4, 1, 4, 1, 4, 2.5f, 4, 2.5f, 3, 3.5f, 3, 3.5f, 0, 3.5f};
constexpr float kQ[] = {1, 0, 3, 0, 3, 0, 4, 1, 4, 1, 4, 6, 4, 6, 3, 7, 3, 7, 1, 7, 1, 7, 0, 6,
                        0, 6, 0, 1, 0, 1, 1, 0, 2.5f, 5, 4.2f, 7.4f};
constexpr float kR[] = {0, 7, 0, 0, 0, 0, 3, 0, 3, 0, 4, 1, 4, 1, 4, 2.5f, 4, 2.5f, 3, 3.5f, 3, 3.5f, 0, 3.5f,
                        2, 3.5f, 4, 7};
constexpr float kS[] = {4, 1, 3, 0, 3, 0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 2.5f, 0, 2.5f, 1, 3.5f, 1, 3.5f, 3, 3.5f,
                        3, 3.5f, 4, 4.5f, 4, 4.5f, 4, 6, 4, 6, 3, 7, 3, 7, 1, 7, 1, 7, 0, 6};
constexpr float kT[] = {0, 0, 4, 0, 2, 0, 2, 7};
constexpr float kU[] = {0, 0, 0, 6, 0, 6, 1, 7, 1, 7, 3, 7, 3, 7, 4, 6, 4, 6, 4, 0};
constexpr float kV[] = {0, 0, 2, 7, 2, 7, 4, 0};
constexpr float kW[] = {0, 0, 1.3f, 7, 1.3f, 7, 2.75f, 3, 2.75f, 3, 4.2f, 7, 4.2f, 7, 5.5f, 0};
constexpr float kX[] = {0, 0, 4, 7, 4, 0, 0, 7};
constexpr float kY[] = {0, 0, 2, 3.5f, 4, 0, 2, 3.5f, 2, 3.5f, 2, 7};
constexpr float kZ[] = {0, 0, 4, 0, 4, 0, 0, 7, 0, 7, 4, 7};
constexpr float k0[] = {1, 0, 3, 0, 3, 0, 4, 1, 4, 1, 4, 6, 4, 6, 3, 7, 3, 7, 1, 7, 1, 7, 0, 6,
                        0, 6, 0, 1, 0, 1, 1, 0, 0.8f, 5.8f, 3.2f, 1.2f};
constexpr float k1[] = {0.8f, 1.2f, 2, 0, 2, 0, 2, 7, 0.8f, 7, 3.2f, 7};
constexpr float k2[] = {0, 1, 1, 0, 1, 0, 3, 0, 3, 0, 4, 1, 4, 1, 4, 2.5f, 4, 2.5f, 0, 7, 0, 7, 4, 7};
constexpr float k3[] = {0, 1, 1, 0, 1, 0, 3, 0, 3, 0, 4, 1, 4, 1, 4, 2.5f, 4, 2.5f, 3, 3.5f, 1.5f, 3.5f, 3, 3.5f,
                        3, 3.5f, 4, 4.5f, 4, 4.5f, 4, 6, 4, 6, 3, 7, 3, 7, 1, 7, 1, 7, 0, 6};
constexpr float k4[] = {3, 7, 3, 0, 3, 0, 0, 5, 0, 5, 4, 5};
constexpr float k5[] = {4, 0, 0, 0, 0, 0, 0, 3, 0, 3, 3, 3, 3, 3, 4, 4, 4, 4, 4, 6, 4, 6, 3, 7, 3, 7, 1, 7, 1, 7, 0, 6};
constexpr float k6[] = {3.5f, 0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 6, 0, 6, 1, 7, 1, 7, 3, 7,
                        3, 7, 4, 6, 4, 6, 4, 4.5f, 4, 4.5f, 3, 3.5f, 3, 3.5f, 0, 3.5f};
constexpr float k7[] = {0, 0, 4, 0, 4, 0, 1.5f, 7};
constexpr float k8[] = {1, 0, 3, 0, 3, 0, 4, 1, 4, 1, 4, 2.5f, 4, 2.5f, 3, 3.5f, 3, 3.5f, 1, 3.5f,
                        1, 3.5f, 0, 2.5f, 0, 2.5f, 0, 1, 0, 1, 1, 0, 1, 3.5f, 0, 4.5f, 0, 4.5f, 0, 6,
                        0, 6, 1, 7, 1, 7, 3, 7, 3, 7, 4, 6, 4, 6, 4, 4.5f, 4, 4.5f, 3, 3.5f};
constexpr float k9[] = {0.5f, 7, 3, 7, 3, 7, 4, 6, 4, 6, 4, 1, 4, 1, 3, 0, 3, 0, 1, 0,
                        1, 0, 0, 1, 0, 1, 0, 2.5f, 0, 2.5f, 1, 3.5f, 1, 3.5f, 4, 3.5f};
constexpr float kBang[] = {0.5f, 0, 0.5f, 4.8f, 0.5f, 6.4f, 0.5f, 7};
constexpr float kQuote[] = {0.5f, 0, 0.5f, 2};
constexpr float kPlus[] = {0, 3.5f, 4, 3.5f, 2, 1.5f, 2, 5.5f};
constexpr float kMinus[] = {0.4f, 3.5f, 3.9f, 3.5f};
constexpr float kDot[] = {0.5f, 6.4f, 0.5f, 7};
constexpr float kSlash[] = {0, 7, 3.5f, 0};

template <size_t N>
constexpr StrokeGlyph Glyph(const float (&strokes)[N], float advance) {
  return StrokeGlyph{strokes, static_cast<int>(N / 4), advance};
}

constexpr float kLetterAdvance = 5.7f;
constexpr StrokeGlyph kSpaceGlyph{nullptr, 0, 3.1f};
constexpr StrokeGlyph kLetters[26] = {
    Glyph(kA, kLetterAdvance), Glyph(kB, kLetterAdvance), Glyph(kC, kLetterAdvance), Glyph(kD, kLetterAdvance),
    Glyph(kE, kLetterAdvance), Glyph(kF, kLetterAdvance), Glyph(kG, kLetterAdvance), Glyph(kH, kLetterAdvance),
    Glyph(kI, 3.7f),           Glyph(kJ, kLetterAdvance), Glyph(kK, kLetterAdvance), Glyph(kL, 5.2f),
    Glyph(kM, 7.2f),           Glyph(kN, kLetterAdvance), Glyph(kO, 6.0f),           Glyph(kP, kLetterAdvance),
    Glyph(kQ, 6.0f),           Glyph(kR, kLetterAdvance), Glyph(kS, kLetterAdvance), Glyph(kT, kLetterAdvance),
    Glyph(kU, kLetterAdvance), Glyph(kV, kLetterAdvance), Glyph(kW, 7.2f),           Glyph(kX, kLetterAdvance),
    Glyph(kY, kLetterAdvance), Glyph(kZ, kLetterAdvance)};
constexpr StrokeGlyph kDigits[10] = {Glyph(k0, 6.0f), Glyph(k1, 4.6f), Glyph(k2, 5.7f), Glyph(k3, 5.7f),
                                     Glyph(k4, 5.7f), Glyph(k5, 5.7f), Glyph(k6, 5.7f), Glyph(k7, 5.5f),
                                     Glyph(k8, 5.7f), Glyph(k9, 5.7f)};
constexpr StrokeGlyph kBangGlyph = Glyph(kBang, 2.4f);
constexpr StrokeGlyph kQuoteGlyph = Glyph(kQuote, 2.2f);
constexpr StrokeGlyph kPlusGlyph = Glyph(kPlus, 5.6f);
constexpr StrokeGlyph kMinusGlyph = Glyph(kMinus, 4.9f);
constexpr StrokeGlyph kDotGlyph = Glyph(kDot, 2.2f);
constexpr StrokeGlyph kSlashGlyph = Glyph(kSlash, 4.5f);

}  // namespace

const StrokeGlyph& StrokeGlyphFor(char c) {
  if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (c >= 'A' && c <= 'Z') return kLetters[c - 'A'];
  if (c >= '0' && c <= '9') return kDigits[c - '0'];
  switch (c) {
    case '!': return kBangGlyph;
    case '\'': return kQuoteGlyph;
    case '+': return kPlusGlyph;
    case '-': return kMinusGlyph;
    case '.': return kDotGlyph;
    case '/': return kSlashGlyph;
    default: return kSpaceGlyph;
  }
}

void DrawStroke(Framebuffer& fb, float x0, float y0, float x1, float y1, Vec3 colour, float intensity,
                float width) {
  if (!(intensity > 0.0f) || !(width > 0.0f)) return;
  if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1) ||
      !std::isfinite(intensity) || !std::isfinite(width))
    return;
  const float pad = width + 2.0f;
  const float reach = width + 1.0f;
  const float W = static_cast<float>(fb.width);
  const float H = static_cast<float>(fb.height);
  const float bx0 = std::max(0.0f, std::floor(std::min(x0, x1) - pad));
  const float bx1 = std::min(W - 1.0f, std::ceil(std::max(x0, x1) + pad));
  const float by0 = std::max(0.0f, std::floor(std::min(y0, y1) - pad));
  const float by1 = std::min(H - 1.0f, std::ceil(std::max(y0, y1) + pad));
  if (bx0 > bx1 || by0 > by1) return;
  const float dx = x1 - x0;
  const float dy = y1 - y0;
  const float len2 = dx * dx + dy * dy;
  const float inv_len2 = len2 > 1e-12f ? 1.0f / len2 : 0.0f;
  for (int y = static_cast<int>(by0); y <= static_cast<int>(by1); ++y) {
    for (int x = static_cast<int>(bx0); x <= static_cast<int>(bx1); ++x) {
      // Distance from the pixel to the nearest point of the segment.
      const float px = static_cast<float>(x) - x0;
      const float py = static_cast<float>(y) - y0;
      const float along = Clamp01((px * dx + py * dy) * inv_len2);
      const float ex = px - along * dx;
      const float ey = py - along * dy;
      const float d = std::sqrt(ex * ex + ey * ey);
      const float f = 1.0f - d / reach;
      if (f <= 0.0f) continue;
      fb.AddPixel(x, y, colour, intensity * f * f);
    }
  }
}

float StrokeTextWidth(const char* text, float scale, float spacing) {
  if (text == nullptr || *text == '\0') return 0.0f;
  float units = 0.0f;
  size_t count = 0;
  for (const char* p = text; *p; ++p, ++count) units += StrokeGlyphFor(*p).advance;
  return units * scale + scale * spacing * static_cast<float>(count - 1);
}

namespace {

// One pass over the first `limit` strokes of a string.
void StrokePass(Framebuffer& fb, float x, float y, const char* text, Vec3 colour, float intensity, float scale,
                float width, float spacing, int limit) {
  int drawn = 0;
  float pen = x;
  for (const char* p = text; *p && drawn < limit; ++p) {
    const StrokeGlyph& g = StrokeGlyphFor(*p);
    for (int s = 0; s < g.count && drawn < limit; ++s, ++drawn) {
      const float* k = g.strokes + s * 4;
      DrawStroke(fb, pen + k[0] * scale, y + k[1] * scale, pen + k[2] * scale, y + k[3] * scale, colour,
                 intensity, width);
    }
    pen += (g.advance + spacing) * scale;
  }
}

}  // namespace

void DrawStrokeText(Framebuffer& fb, float x, float y, const char* text, Vec3 colour, float intensity,
                    float scale, float width, float spacing, float reveal, float glow) {
  if (text == nullptr || !(intensity > 0.0f) || !(width > 0.0f)) return;
  int total = 0;
  for (const char* p = text; *p; ++p) total += StrokeGlyphFor(*p).count;
  const int limit = static_cast<int>(std::floor(Clamp01(reveal) * static_cast<float>(total) + 1e-4f));
  if (limit <= 0) return;
  // Glow passes first, under the core.
  if (glow > 0.0f) {
    StrokePass(fb, x, y, text, colour, 0.22f * glow * intensity, scale, 1.23f * width, spacing, limit);
    StrokePass(fb, x, y, text, colour, 0.45f * glow * intensity, scale, 0.91f * width, spacing, limit);
  }
  StrokePass(fb, x, y, text, colour, intensity, scale, width, spacing, limit);
}

// ---- Vector greetings --------------------------------------------------------------------------

namespace {

constexpr float kTextSpacing = 0.6f;

// A line of stroke text centred on the frame at top y.
void CentredStrokeText(Framebuffer& fb, float y, const char* text, Vec3 colour, float intensity, float scale,
                       float width, float reveal, float glow) {
  const float x = 0.5f * (static_cast<float>(fb.width) - StrokeTextWidth(text, scale, kTextSpacing));
  DrawStrokeText(fb, x, y, text, colour, intensity, scale, width, kTextSpacing, reveal, glow);
}

// Three orbiting rings of dashed glowing segments around the screen centre.
void DrawCardRings(Framebuffer& fb, float time, float g, float E) {
  const Vec3 base{0.22f, 0.95f, 1.0f};
  const float cx = 0.5f * static_cast<float>(fb.width);
  const float cy = 0.5f * static_cast<float>(fb.height);
  const float w = 0.42f + 0.18f * g;
  for (int i = 0; i < 3; ++i) {
    const float fi = static_cast<float>(i);
    const Vec3 ring = i == 1 ? Vec3{1.0f, 0.72f, 0.26f} : Vec3{0.42f, 1.0f, 0.36f};
    const Vec3 colour = Lerp(base, ring, 0.34f + 0.18f * fi);
    const int segments = 36 + 8 * i;
    const float rx = 205.0f + 22.0f * fi;
    const float ry = 58.0f + 15.0f * fi;
    const float spin = (i == 1 ? -1.0f : 1.0f) * (0.32f - 0.07f * fi) * time;
    const float step = kTwoPi / static_cast<float>(segments);
    for (int j = 0; j < segments; ++j) {
      // Dashes: each segment covers 60% of its share of the ellipse.
      const float a0 = spin + step * static_cast<float>(j);
      const float a1 = a0 + 0.6f * step;
      const float x0 = cx + rx * std::cos(a0), y0 = cy + ry * std::sin(a0);
      const float x1 = cx + rx * std::cos(a1), y1 = cy + ry * std::sin(a1);
      const float k = E * (0.7f + 0.3f * g);
      DrawStroke(fb, x0, y0, x1, y1, colour * 1.05f, 0.035f * k, 7.0f * w);
      DrawStroke(fb, x0, y0, x1, y1, colour * 1.4f, 0.09f * k, 3.2f * w);
      DrawStroke(fb, x0, y0, x1, y1, colour * 2.15f, 0.34f * k, w);
    }
  }
}

// Thirteen faint vertical strokes swaying across the card.
void DrawSwayStrokes(Framebuffer& fb, float time, float g, float E) {
  const float W = static_cast<float>(fb.width);
  const float H = static_cast<float>(fb.height);
  for (int k = 0; k < 13; ++k) {
    const float fk = static_cast<float>(k);
    const float x = 24.0f + (W - 48.0f) * fk / 12.0f;
    const float sway = 10.0f * std::sin(0.9f * time + 0.77f * fk);
    DrawStroke(fb, x + sway, 18.0f, x - 0.4f * sway, H - 18.0f, Vec3{0.22f, 0.95f, 1.0f}, 0.05f * E * (0.6f + 0.4f * g),
               0.6f);
  }
}

}  // namespace

void DrawVectorGreetings(Framebuffer& fb, float time, float loop_bar, const MusicViz& mv) {
  const float b = loop_bar;
  const float g = Clamp01(0.3f * mv.kick + 0.78f * mv.impact + 0.24f * mv.lead + 0.36f * mv.cue_club +
                          0.55f * mv.cue_finale + 0.42f * mv.build);
  const float G = Clamp01(mv.cue_greets + 0.35f * mv.cue_finale);
  const int W = static_cast<int>(fb.width);
  const int H = static_cast<int>(fb.height);

  // Start fade from black at the top of the loop.
  const float start = (1.0f - Smoothstep((b - 0.08f) * 0.5813954f)) * (1.0f - 0.55f * G);
  if (start > 0.0f) fb.BlendRect(0, 0, W, H, kBlack, start);

  // Title cards.
  const float o = Clamp01(0.78f * Smoothstep(b - 0.35f) * (1.0f - Smoothstep((b - 6.75f) * 0.48780483f)) +
                          mv.cue_title);
  const float w = Clamp01(Smoothstep((b - 0.15f) * 1.25f) * (1.0f - Smoothstep((b - 4.8f) * 0.62500006f)) +
                          0.7f * mv.cue_intro);
  if (o > 0.001f || w > 0.001f) {
    const float E = Clamp01(0.55f * w + o);
    fb.BlendRect(0, 0, W, H, Vec3{0.0f, 0.004f, 0.01f}, 0.18f * E);
    DrawCardRings(fb, time, g, E);
    DrawSwayStrokes(fb, time, g, E);
    const Vec3 cyan{0.22f, 0.95f, 1.0f};
    const Vec3 amber{1.0f, 0.72f, 0.26f};
    const Vec3 green{0.42f, 1.0f, 0.36f};
    const float core = 0.9f + 0.5f * g;
    // Early in the loop the cards write themselves on with the bars; a card called up by its cue
    // later in the loop shows whole, fading with its amount.
    auto write_on = [b](float start, float rate) { return b < 8.0f ? Clamp01((b - start) * rate) : 1.0f; };
    if (w > 0.001f)
      CentredStrokeText(fb, 56.0f, "T-BOLT PRESENTS", amber, 0.55f * w * core, 3.0f, 0.7f,
                        write_on(0.15f, 0.9f), 1.0f);
    if (o > 0.001f) {
      CentredStrokeText(fb, 136.0f, "MARLIN", cyan, 0.7f * o * core, 8.0f, 1.3f, write_on(0.35f, 0.7f),
                        1.0f + g);
      // Below the rings.
      CentredStrokeText(fb, 284.0f, "VECTOR GREETINGS", green, 0.5f * o * core, 2.6f, 0.65f,
                        write_on(1.6f, 0.8f), 1.0f);
      CentredStrokeText(fb, 316.0f, "NO SPLATS JUST LINES", cyan, 0.4f * o * core, 2.0f, 0.55f,
                        write_on(2.4f, 0.8f), 1.0f);
    }
  }

  // The greetings page: each line writes itself on in turn as the greetings rise.
  if (G > 0.001f) {
    fb.BlendRect(0, 0, W, H, kBlack, 0.3f * G);
    static constexpr const char* kHandles[6] = {"QUILL7070", "MOSSRIG", "TOV / KLN", "ORVAL / KLN",
                                                "SOLVIK / DNQX", "HARROWX"};
    const float k = 0.9f + 0.5f * g;
    CentredStrokeText(fb, 34.0f, "MARLIN CREW", Vec3{0.22f, 0.95f, 1.0f}, 0.65f * G * k, 4.0f, 0.9f,
                      Clamp01(G * 3.0f), 1.0f + g);
    CentredStrokeText(fb, 84.0f, "THE SCENE", Vec3{1.0f, 0.72f, 0.26f}, 0.5f * G * k, 2.6f, 0.65f,
                      Clamp01(G * 3.0f - 0.5f), 1.0f);
    for (int i = 0; i < 6; ++i) {
      const float fi = static_cast<float>(i);
      const float y = 128.0f + 34.0f * fi;
      const float reveal = Clamp01(G * 3.0f - 0.8f - 0.3f * fi);
      CentredStrokeText(fb, y, kHandles[i], Vec3{0.42f, 1.0f, 0.36f}, 0.5f * G * k, 2.8f, 0.7f, reveal, 1.0f);
    }
  }
}

void DrawVectorGreetings(App& app, float time, const MusicViz& mv) {
  if (!SiblingProductionActive(kProductionName, kDefaultSequencePath)) return;
  DrawVectorGreetings(app.frame, time, WrapBar(mv.bar, app.sequence.loop_bars), mv);
}

// ---- Bloom -------------------------------------------------------------------------------------

void Bloom(Framebuffer& fb, float threshold, float strength) {
  if (!(strength > 0.0f) || !std::isfinite(strength) || !std::isfinite(threshold)) return;
  if (fb.width == 0 || fb.height == 0) return;
  const size_t w = fb.width;
  const size_t h = fb.height;
  const size_t hw = (w + 1) / 2;
  const size_t hh = (h + 1) / 2;
  // Scratch storage kept between calls: the show blooms on the main thread only, every frame at
  // the same size, so these grow once.
  static std::vector<Vec3> bright;
  static std::vector<Vec3> blurred;
  bright.resize(hw * hh);
  blurred.resize(hw * hh);

  // Reduce: the mean of each 2 x 2 block (fewer at an odd edge), minus the threshold.
  for (size_t y = 0; y < hh; ++y) {
    for (size_t x = 0; x < hw; ++x) {
      Vec3 sum;
      float n = 0.0f;
      for (size_t sy = 2 * y; sy < std::min(2 * y + 2, h); ++sy)
        for (size_t sx = 2 * x; sx < std::min(2 * x + 2, w); ++sx) {
          sum += fb.pixels[sy * w + sx];
          n += 1.0f;
        }
      const Vec3 mean = sum * (1.0f / n);
      bright[y * hw + x] = Vec3{std::max(0.0f, mean.r - threshold), std::max(0.0f, mean.g - threshold),
                                std::max(0.0f, mean.b - threshold)};
    }
  }

  // Separable binomial blur, radius 4 half-size pixels; taps outside the image are left out, so
  // the light spreads the same way in every direction.
  static constexpr float kTaps[9] = {1 / 256.0f,  8 / 256.0f,  28 / 256.0f, 56 / 256.0f, 70 / 256.0f,
                                     56 / 256.0f, 28 / 256.0f, 8 / 256.0f,  1 / 256.0f};
  const int iw = static_cast<int>(hw);
  const int ih = static_cast<int>(hh);
  for (int y = 0; y < ih; ++y)
    for (int x = 0; x < iw; ++x) {
      Vec3 sum;
      for (int t = -4; t <= 4; ++t) {
        const int sx = x + t;
        if (sx >= 0 && sx < iw) sum += bright[static_cast<size_t>(y) * hw + sx] * kTaps[t + 4];
      }
      blurred[static_cast<size_t>(y) * hw + x] = sum;
    }
  for (int y = 0; y < ih; ++y)
    for (int x = 0; x < iw; ++x) {
      Vec3 sum;
      for (int t = -4; t <= 4; ++t) {
        const int sy = y + t;
        if (sy >= 0 && sy < ih) sum += blurred[static_cast<size_t>(sy) * hw + x] * kTaps[t + 4];
      }
      bright[static_cast<size_t>(y) * hw + x] = sum;
    }

  // Add back, bilinear from the half-size image: a full pixel's centre x + 0.5 sits at half-size
  // position (x + 0.5) / 2 - 0.5.
  auto tap_at = [](size_t i, int last) {
    const float u = (static_cast<float>(i) + 0.5f) * 0.5f - 0.5f;
    const float uf = std::floor(u);
    LinearTap tap;
    tap.f = u - uf;
    tap.i0 = std::clamp(static_cast<int>(uf), 0, last);
    tap.i1 = std::clamp(static_cast<int>(uf) + 1, 0, last);
    return tap;
  };
  static std::vector<LinearTap> columns;
  columns.resize(w);
  for (size_t x = 0; x < w; ++x) columns[x] = tap_at(x, iw - 1);
  for (size_t y = 0; y < h; ++y) {
    const LinearTap row = tap_at(y, ih - 1);
    const Vec3* r0 = bright.data() + static_cast<size_t>(row.i0) * hw;
    const Vec3* r1 = bright.data() + static_cast<size_t>(row.i1) * hw;
    Vec3* out = fb.pixels.data() + y * w;
    for (size_t x = 0; x < w; ++x) {
      const LinearTap& c = columns[x];
      const Vec3 top = Lerp(r0[c.i0], r0[c.i1], c.f);
      const Vec3 bottom = Lerp(r1[c.i0], r1[c.i1], c.f);
      out[x] += Lerp(top, bottom, row.f) * strength;
    }
  }
}

void FinishSiblingFrame(App& app) {
  if (!SiblingProductionActive(kProductionName, kDefaultSequencePath)) return;
  Bloom(app.frame, 0.38f, 0.18f);
}
