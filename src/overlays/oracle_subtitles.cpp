#include "overlays/oracle_subtitles.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "render/primitives.h"

namespace {

constexpr float kPi = 3.14159265358979f;

// (1 - S(out))·S(in)·weight: rises with `in`, falls with `out`.
float Envelope(float out, float in, float weight) {
  return (1.0f - Smoothstep(out)) * Smoothstep(in) * weight;
}

// ---- The head ----------------------------------------------------------------------------------

// How the face moves this frame: mouth with the voice and the sixteenth notes, blinks, brows and
// a lift with the lead.
struct FaceState {
  float jaw = 0;
  float widen = 0;
  float squeeze = 0;
  float lips = 0;
  float blink = 0;
  float lift = 0;
  float brow = 0;
  float jitter = 0;
};

FaceState MakeFaceState(const MusicViz& mv, float ph, float amount, float glow, float voice) {
  const float step = std::floor(16.0f * mv.bar);  // sixteenth-note counter
  const float o = 0.37f * step;
  const float h = 1.0f - Smoothstep(Clamp01((mv.step_phase - 0.05f) * 3.448276f));
  const float r = std::sin(1.71f * o + 19.3f * ph + 1.2f);
  const float v =
      Clamp01(0.5f * mv.impact + 0.42f * glow + 0.24f * mv.fill + 0.36f * mv.build + 0.18f + 0.54f * mv.lead);

  FaceState f;
  const float chatter = (std::sin(12.7f * ph + o) + h) * ((0.197456f * voice + 0.043344f) * v + 0.117599994f);
  const float j0 = Clamp01(chatter + (0.31734f * voice + 0.06966f) * v +
                           ((0.119884f * voice + 0.026316f) * v + 0.0714f) * r + 0.189f);
  f.jaw = Clamp01(j0 * (1.05f * voice + 0.1f) + 0.02f + (0.16f * voice + 0.025f) * glow);
  f.widen = Clamp01(0.14f * voice * std::sin(4.4f * ph + 0.29f * o + 1.7f) + 0.045f * voice + 0.22f);
  f.squeeze = Clamp01(0.2f * voice * std::sin(5.2f * ph + 0.43f * o + mv.bass) + 0.07f * voice + 0.34f);
  f.lips = Clamp01((0.29f * r + 0.47f) * (1.0f - f.jaw));
  f.blink = Smoothstep(Clamp01(4.3478255f * std::sin(1.72f * ph + 2.4f) - 3.3043473f));
  f.lift = Clamp01(0.12f * glow + 0.14f * mv.lead + 0.05f * h + 0.18f * voice);
  f.brow = Clamp01(0.04f * std::sin(3.1f * ph) + 0.1f * mv.cue_reveal + 0.035f);
  f.jitter = Clamp01((0.2f * mv.energy + 0.16f + 0.1f * glow + 0.16f * voice) * amount);
  return f;
}

// The head's view: three small rotations, then a perspective divide, centred at (X, Y).
struct HeadView {
  float c1 = 1, s1 = 0, c2 = 1, s2 = 0, c3 = 1, s3 = 0;  // cosines and sines of a1, a2, a3
  float K = 66;                                          // pixels per model unit
  float X = 0, Y = 0;
  float a2 = 0;  // the turn, for shading the side of the face
};

struct Projected {
  Vec2 screen;
  float z2 = 0;  // rotated depth, for shading
};

Projected ProjectHead(const HeadView& view, float x, float y, float z) {
  const float yp = 0.86f * y;
  const float y1 = view.c1 * yp - view.s1 * z;
  const float z1 = view.s1 * yp + view.c1 * z;
  const float x2 = view.c2 * x + view.s2 * z1;
  const float z2 = view.c2 * z1 - view.s2 * x;
  const float x3 = view.c3 * x2 - view.s3 * y1;
  const float y3 = view.s3 * x2 + view.c3 * y1;
  const float k = 3.8f / std::max(z2 + 3.8f, 1.1f);
  return {Vec2{view.X + x3 * view.K * k, view.Y - y3 * view.K * k}, z2};
}

constexpr int kHeadRows = 13;
constexpr int kHeadCols = 11;

struct HeadPoint {
  float x = 0;  // model x (after widening), for the side of the face
  Projected p;
};

// Depth shading of a segment: nearer is brighter; the half of the face turned toward the viewer
// brightens and the other dims.
float SegmentShade(const HeadPoint& a, const HeadPoint& b, float a2) {
  const float depth = Clamp01(0.18f * (a.p.z2 + b.p.z2) + 0.55f);
  const float m = Clamp01(1.8f * std::fabs(a2));
  const float g = 0.5f * (a.x + b.x) >= 0.0f ? 1.0f : -1.0f;
  const float shade = g * a2 >= 0.0f ? std::max(1.0f - 1.1f * m, 0.18f) : 1.0f + 0.9f * m;
  return depth * shade;
}

// Depth of the face surface at a model point, a little in front so features sit on the wires.
float FeatureDepth(float x, float y, float forward) {
  const float u = Clamp01(1.0f - 0.6515775f * y * y);
  const float c = x / 0.12f;  // in grid columns from the centre line
  return (0.1972f * u + 0.3828f) * (1.0f - 0.028f * c * c) + 0.03f + forward;
}

// One facial feature: an open polyline of model points (x, y, forward offset) with a splat on
// every point. Skipped when its intensity is not positive.
void DrawFeature(Framebuffer& fb, const HeadView& view, const Vec3* points, int count, Vec3 colour,
                 float intensity, float radius) {
  if (!(intensity > 0.0f)) return;
  HeadPoint projected[10];
  for (int i = 0; i < count; ++i) {
    const Vec3& m = points[i];
    projected[i] = {m.x, ProjectHead(view, m.x, m.y, FeatureDepth(m.x, m.y, m.z))};
  }
  // Shaded like the wires, so the features turn with the face.
  for (int i = 0; i + 1 < count; ++i) {
    const float shade = SegmentShade(projected[i], projected[i + 1], view.a2);
    SplatLine(fb, projected[i].p.screen, projected[i + 1].p.screen, colour, shade * intensity, radius);
  }
  for (int i = 0; i < count; ++i) {
    const float shade = SegmentShade(projected[i], projected[i], view.a2);
    const Vec2 at = projected[i].p.screen;
    Splat(fb, at.x, at.y, radius * 1.35f, colour * 1.24f, shade * intensity * 1.8f);
  }
}

void DrawFace(Framebuffer& fb, const HeadView& view, const FaceState& f, Vec3 colour, float voice,
              float amount, float alpha_scale, float radius_scale) {
  const float a = amount * alpha_scale;

  // Mouth: wider with `widen`, narrower with `squeeze`; the lower lip drops with the jaw, the lips
  // part less when pressed (`lips`).
  const float mw = 0.19f * (1.0f + 0.3f * f.widen - 0.25f * f.squeeze);
  const float my = -0.3f;
  const float part = 0.02f + 0.03f * (1.0f - f.lips);
  const float drop = 0.16f * f.jaw;
  const Vec3 upper_lip[5] = {{-mw, my, 0.02f},
                             {-0.5f * mw, my + 0.012f + 0.01f * f.lips, 0.03f},
                             {0.0f, my + 0.006f, 0.035f},
                             {0.5f * mw, my + 0.012f + 0.01f * f.lips, 0.03f},
                             {mw, my, 0.02f}};
  const Vec3 lower_lip[5] = {{-mw, my, 0.02f},
                             {-0.5f * mw, my - part - 0.7f * drop, 0.03f},
                             {0.0f, my - part - drop, 0.035f},
                             {0.5f * mw, my - part - 0.7f * drop, 0.03f},
                             {mw, my, 0.02f}};
  const Vec3 mouth_colour = colour * (1.1f + 0.5f * voice);
  const float mouth_k = (0.036f + 0.03f * voice) * a;
  DrawFeature(fb, view, upper_lip, 5, mouth_colour, mouth_k, 1.0f * radius_scale);
  DrawFeature(fb, view, lower_lip, 5, mouth_colour, mouth_k, 1.0f * radius_scale);

  // Eyes with their lids: the upper lid closes onto the lower when blinking and opens wider with
  // `lift`; brows above, raised by `brow` and `lift`.
  const float open = (1.0f - f.blink) * (1.0f + 0.4f * f.lift);
  const float ew = 0.085f;
  const float ey = 0.28f;
  for (int side = -1; side <= 1; side += 2) {
    const float cx = 0.22f * static_cast<float>(side);
    const float s = static_cast<float>(side);
    const Vec3 upper_lid[4] = {{cx - ew, ey, 0.01f},
                               {cx - 0.33f * ew, ey + 0.045f * open, 0.02f},
                               {cx + 0.33f * ew, ey + 0.045f * open, 0.02f},
                               {cx + ew, ey, 0.01f}};
    const Vec3 lower_lid[3] = {{cx - ew, ey, 0.01f}, {cx, ey - 0.03f * open, 0.015f}, {cx + ew, ey, 0.01f}};
    const float by = ey + 0.12f + 0.06f * f.brow + 0.03f * f.lift;
    const Vec3 brow_line[3] = {{cx - 0.1f * s, by - 0.01f, 0.01f},
                               {cx, by + 0.025f + 0.04f * f.brow, 0.015f},
                               {cx + 0.11f * s, by - 0.02f + 0.02f * f.lift, 0.01f}};
    DrawFeature(fb, view, upper_lid, 4, colour * 1.2f, 0.032f * a, 0.9f * radius_scale);
    DrawFeature(fb, view, lower_lid, 3, colour * 1.05f, 0.024f * a, 0.85f * radius_scale);
    DrawFeature(fb, view, brow_line, 3, colour * 1.1f, 0.026f * a, 0.9f * radius_scale);
  }

  // Nose: down the centre line and out to the tip, in front of the face.
  const Vec3 nose[4] = {
      {0.0f, 0.2f, 0.02f}, {0.015f, 0.02f, 0.06f}, {0.05f, -0.12f, 0.09f}, {0.0f, -0.15f, 0.06f}};
  DrawFeature(fb, view, nose, 4, colour, 0.022f * a, 0.85f * radius_scale);

  // Jaw line: ten points from cheek to cheek under the chin, the chin dropping with the jaw.
  Vec3 jaw_line[10];
  for (int i = 0; i < 10; ++i) {
    const float theta = kPi + kPi * static_cast<float>(i) / 9.0f;
    const float below = -std::sin(theta);  // 0 at the cheeks, 1 under the chin
    jaw_line[i] = {0.42f * std::cos(theta), -0.2f - 0.55f * below - 0.13f * f.jaw * below, 0.0f};
  }
  DrawFeature(fb, view, jaw_line, 10, colour * 0.95f, 0.02f * a, 0.9f * radius_scale);
}

}  // namespace

OracleCue EvaluateOracle(float loop_bar, float one_second, float three_seconds) {
  const float a = loop_bar;
  const float b1 = one_second;
  const float b3 = three_seconds;
  OracleCue cue;
  float best = 0.0f;
  for (const OracleLine& line : kOracleLines) {
    if (a < line.start - b1 || a > line.speech_end + b3) continue;

    // The head: in over the 0.65 s from one second early, out over the end of the three seconds
    // after the speech.
    const float g = line.speech_end + b3;
    const float head_out_start = g - std::min(b3 / 4.0f, 0.35f);
    const float m = Envelope(Clamp01((a - head_out_start) / (g - head_out_start)),
                             Clamp01((a - (line.start - b1)) / (0.65f * b1)), line.weight);

    // The words: in over 0.2 bars from just before the speech, out over 0.35 bars before the
    // text's end (or the head's, if earlier).
    const float l = std::min(line.text_end, g);
    const float r = Envelope(Clamp01((a - (l - 0.35f)) * 2.857143f),
                             Clamp01((a - (line.start - 0.08f)) * 5.0f), line.weight);

    if (std::max(m, r) > best) {
      best = std::max(m, r);
      cue.text = line.text;
      cue.text_level = r;
      cue.head_level = m;
      cue.voice_level = Envelope(Clamp01((a - (line.speech_end - 0.1f)) * 3.5714285f),
                                 Clamp01((a - (line.start - 0.05f)) * 9.090909f), line.weight);
      cue.text_progress = Clamp01((a - line.start) / std::max(line.text_end - line.start, 0.001f));
      cue.speech_progress = Clamp01((a - line.start) / std::max(line.speech_end - line.start, 0.001f));
    }
  }
  return cue;
}

OracleWord LayoutOracleWord(const char* text, const OracleCue& cue, float strength, float glow, float width) {
  OracleWord word;
  word.box_x0 = static_cast<int>(std::lround(width - 142.0f));
  word.box_x1 = word.box_x0 + 124;
  word.speech_progress = cue.speech_progress;
  if (text == nullptr) return word;

  // Words are runs of non-space characters.
  int J = 0;
  for (const char* c = text; *c != '\0'; ++c)
    if (*c != ' ' && (c == text || c[-1] == ' ')) ++J;
  if (J == 0) return word;

  // The words share the line: mostly the speech's progress, a little the text's, so the last
  // word has faded by the time the text goes.
  const float q = std::min(Clamp01(0.08f * cue.text_progress + 0.96f * cue.speech_progress), 0.999f);
  const float K = q * static_cast<float>(J);
  const int n = std::min(std::max(static_cast<int>(std::floor(K)), 0), J - 1);
  const float f = K - std::floor(K);
  word.fraction = f;

  // Copy word n, cut to the longest word shown.
  int index = -1;
  int length = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c == ' ') continue;
    if (c == text || c[-1] == ' ') ++index;
    if (index == n && length < kOracleWordMax) word.text[length++] = *c;
    if (index > n) break;
  }
  word.text[length] = '\0';

  // Each word fades in over the first tenth of its share and out over its last sixth.
  const float G = cue.voice_level * strength;
  word.voice = G;
  word.strength = (1.0f - Smoothstep((f - 0.82f) * 6.25f)) * Smoothstep((f - 0.03f) * 10.0f) *
                  cue.text_level * strength * (0.07f + 0.105f * G + 0.024f * glow);

  // Centred under the head; it lifts a little while the voice is loud.
  word.cell = 1.32f + 0.05f * G;
  word.x = static_cast<float>(word.box_x0) + 62.0f - 3.0f * static_cast<float>(length) * word.cell;
  word.y = 150.0f - 1.2f * G * std::sin(kPi * cue.text_progress);
  return word;
}

void DrawOracleHead(Framebuffer& fb, float x, float y, float flicker, const MusicViz& mv, float amount,
                    float glow, float voice, float radius_scale, float alpha_scale) {
  if (!(amount > 0.0f)) return;
  const float ph = flicker;
  const float bars = mv.bar;
  const FaceState f = MakeFaceState(mv, ph, amount, glow, voice);

  // View: a slow nod and a turn to the left that the veil and scan cues push further.
  const float a1 = 0.05f * std::sin(0.63f * ph + 1.2f) + 0.025f * mv.lead - 0.04f;
  const float a2 = 0.025f * mv.cue_veil - (0.05f * std::sin(0.17f * bars + 0.31f * ph) + 0.04f * mv.cue_scan +
                                           0.13f * std::sin(0.86f * ph) + 0.23f);
  const float a3 = 0.006f * std::sin(0.28f * ph);
  HeadView view;
  view.c1 = std::cos(a1);
  view.s1 = std::sin(a1);
  view.c2 = std::cos(a2);
  view.s2 = std::sin(a2);
  view.c3 = std::cos(a3);
  view.s3 = std::sin(a3);
  view.K = 66.0f + 4.62f * glow + 2.64f * mv.cue_reveal;
  view.X = x;
  view.Y = y;
  view.a2 = a2;

  // 1. Halo: cyan, turning violet with the veil and scan cues, and a warmer inner glow.
  const float w = Clamp01(0.55f * mv.cue_veil + 0.25f * mv.cue_scan);
  const Vec3 tint{0.08f + 0.04f * w, 0.96f - 0.06f * w, 0.72f + 0.28f * w};
  Splat(fb, x, y, 61.0f * radius_scale, tint * (1.25f + 0.3f * glow), 0.036f * amount * alpha_scale);
  const float t = 1.1f + 0.35f * glow;
  const float b = Clamp01(0.35f * glow + 0.45f * mv.lead);
  Splat(fb, x, y + 4.0f, 32.0f * radius_scale, Vec3{t * (0.92f - 0.28f * b), t, t * (0.78f + 0.16f * b)},
        0.018f * amount * alpha_scale);

  // Head grid: 13 rows bottom to top by 11 columns, shaped into a face and projected.
  HeadPoint grid[kHeadRows][kHeadCols];
  for (int row = 0; row < kHeadRows; ++row) {
    const float fr = static_cast<float>(row);
    const float y0 = 0.17333333f * fr - 1.02f;
    const float low = Smoothstep(Clamp01((-y0 - 0.08f) * 1.3513514f));
    const float drop = low * f.jaw;
    const float u = Clamp01(1.0f - 0.6515775f * y0 * y0);
    const float q = std::sqrt(u);
    const float nose =
        (1.0f - Smoothstep(Clamp01((-y0 - 0.88f) * 5.0f))) * Smoothstep(Clamp01((-y0 - 0.26f) * 1.6666666f));
    const float cheek = (1.0f - Smoothstep(Clamp01((y0 - 0.94f) * 5.5555553f))) *
                        Smoothstep(Clamp01((y0 - 0.18f) * 1.7857143f));
    const float e = Clamp01((-y0 - 0.62f) * 2.2727275f);
    for (int col = 0; col < kHeadCols; ++col) {
      const float c = static_cast<float>(col - 5);
      const float xs =
          c * (q + 0.5f) * (0.08f + 0.0112f * nose + 0.008f * cheek - (0.024f - 0.016f * e) * e * e);
      const float side = (1.0f - Smoothstep(Clamp01((std::fabs(y0 + 0.08f) - 0.18f) * 2.5f))) *
                         Smoothstep(Clamp01((std::fabs(xs) - 0.16f) * 3.846154f));
      const float pinch = (1.0f - Smoothstep(Clamp01((std::fabs(xs) - 0.12f) * 2.777778f))) *
                          (1.0f - Smoothstep(Clamp01((std::fabs(y0 + 0.27f) - 0.04f) * 2.631579f)));
      const float mx = xs * (1.0f + 0.055f * low * f.widen - 0.1f * f.squeeze * pinch) +
                       0.001f * f.jitter * std::sin(6.1f * ph + 1.3f * fr);
      const float my = y0 - 0.13f * drop + 0.025f * f.brow * side;
      const float mz =
          (0.1972f * u + 0.3828f) * (1.0f - 0.028f * c * c) + 0.03f + (0.06f - 0.04f * e) * e * e +
          0.03f * cheek + 0.07f * drop + 0.022f * (f.brow + f.lift) * side +
          0.0025f * f.jitter * std::sin(9.7f * ph + 1.91f * static_cast<float>(col) + 0.73f * fr);
      grid[row][col] = {mx, ProjectHead(view, mx, my, mz)};
    }
  }

  // 2. Grid lines: rows, three columns and six short diagonals.
  const Vec3 line_colour = tint * (1.56f + 0.32f * glow);
  const float a = amount * alpha_scale;
  auto segment = [&](int r0, int c0, int r1, int c1, float k, float radius) {
    const HeadPoint& p0 = grid[r0][c0];
    const HeadPoint& p1 = grid[r1][c1];
    const float intensity = SegmentShade(p0, p1, a2) * k * a;
    SplatLine(fb, p0.p.screen, p1.p.screen, line_colour, intensity, radius * radius_scale);
  };
  for (const int row : {1, 3, 5, 8, 11}) {
    const bool middle = row == 5;
    for (int col = 1; col < 9; ++col)
      segment(row, col, row, col + 1, middle ? 0.03f : 0.022f, middle ? 1.18f : 1.02f);
  }
  for (const int col : {2, 5, 8}) {
    const bool middle = col == 5;
    for (int row = 1; row < 11; ++row)
      segment(row, col, row + 1, col, middle ? 0.024f : 0.018f, middle ? 1.04f : 0.92f);
  }
  for (const int row : {2, 5, 8}) {
    segment(row, 2, row + 1, 4, 0.016f, 0.88f);
    segment(row, 8, row + 1, 6, 0.016f, 0.88f);
  }

  // 3. Mouth, eyes, lids, brows, nose and jaw line.
  DrawFace(fb, view, f, line_colour, voice, amount, alpha_scale, radius_scale);
}

void DrawOracleSubtitles(Framebuffer& fb, const OverlayStyle& style, const MusicViz& mv, float loop_bar,
                         float bpm, float strength, float greets) {
  const float tempo = std::max(bpm, 1.0f);
  const OracleCue cue = EvaluateOracle(loop_bar, tempo / 240.0f, tempo / 80.0f);
  if (!(cue.head_level > 0.001f) || !(greets < 0.995f)) return;
  const float W = static_cast<float>(fb.width);
  const float s = strength;

  const float amount = (0.46f + 0.54f * s) * (1.0f - greets) * cue.head_level;
  DrawOracleHead(fb, W - 80.0f, 86.0f, style.flicker, mv, amount, style.glow, cue.voice_level * s,
                 style.radius_scale, style.alpha_scale);

  if (cue.text == nullptr || !(cue.text_level > 0.001f)) return;
  DrawOracleWord(fb, style, mv, LayoutOracleWord(cue.text, cue, s, style.glow, W));
}

void DrawOracleWord(Framebuffer& fb, const OverlayStyle& style, const MusicViz& mv, const OracleWord& word) {
  if (!(word.strength > 0.0f)) return;
  // Pale cyan, a little smaller dots than the title text, clipped to the box under the head.
  const float jitter = 0.03f + 0.08f * mv.lead + 0.13f * word.voice;
  const float phase = 5.2f * word.speech_progress + style.flicker + 1.6f * word.fraction;
  GlowTextClipped(fb, style, word.x, word.y, word.text, Vec3{1.332f, 1.728f, 1.8f}, word.strength, 0.78f,
                  word.cell, jitter, phase, word.box_x0, word.box_y0, word.box_x1, word.box_y1);
}
