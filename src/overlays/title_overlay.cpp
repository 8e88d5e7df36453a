#include "overlays/title_overlay.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/app.h"
#include "overlays/oracle_subtitles.h"
#include "render/plain_paths.h"
#include "render/primitives.h"
#include "timeline/director.h"

const char* const kGreetings[kGreetingCount] = {
    "QUILL7070", "MOSSRIG",           "TOV/KLN",          "VIX77",
    "Varnholt",  "ORVAL/KLN",         "SOLVIK/DNQX",      "Ydra",
    "KESTREL",   "SOFTWARE RENDERED", "NO GPU WAS WOKEN",
};

namespace {

constexpr float kPi = 3.14159265358979f;

// Dot radius factors of the three glow passes: wide halo, middle, core.
constexpr float kPassRadius[3] = {4.8f, 3.6f, 2.8f};
constexpr float kPassIntensity[3] = {0.22f, 0.36f, 0.82f};
constexpr float kPassJitter[3] = {0.46f, 0.26f, 0.0f};
constexpr float kPassPhase[3] = {0.9f, 0.35f, 0.0f};

// Where a pass may draw: the whole frame, or a clip box.
struct TextClip {
  bool on = false;
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// The grid step a glow pass can be drawn at (8, 4, 2, or 1 for full resolution): the coarsest
// whose error, at most (step/2)^2 * 4/r^2 of a dot's peak light, stays below kCoarseGlowError.
int CoarseStep(float intensity, Vec3 colour, float radius) {
  const float peak = intensity * std::max({colour.x, colour.y, colour.z});
  const float budget = kCoarseGlowError * radius * radius;
  for (int step = 8; step >= 2; step /= 2) {
    const float half_steps = 0.5f * static_cast<float>(step);
    if (half_steps * half_steps * 4.0f * peak <= budget) return step;
  }
  return 1;
}

// The one three-pass glow every overlay string is drawn with; the callers differ only in how much
// each pass brightens the colour. `intensity` already carries the alpha scale, `radius` the
// radius scale.
void DrawGlowPasses(Framebuffer& fb, CoarseGlow* wide_dots, float x, float y, const char* text,
                    const Vec3 colours[3], float intensity, float radius, float cell, float jitter,
                    float phase, const TextClip& clip) {
  for (int pass = 0; pass < 3; ++pass) {
    const float pass_intensity = intensity * kPassIntensity[pass];
    const float pass_radius = radius * kPassRadius[pass];
    const float pass_jitter = jitter + kPassJitter[pass];
    const float pass_phase = phase + kPassPhase[pass];
    const int step = wide_dots != nullptr && !clip.on ? CoarseStep(pass_intensity, colours[pass], pass_radius) : 1;
    if (step > 1) {
      DrawSplatTextCoarse(*wide_dots, step, x, y, text, colours[pass], pass_intensity, pass_radius, cell,
                          pass_jitter, pass_phase);
    } else if (clip.on) {
      DrawSplatTextClipped(fb, x, y, text, colours[pass], pass_intensity, pass_radius, cell, pass_jitter,
                           pass_phase, clip.x0, clip.y0, clip.x1, clip.y1);
    } else {
      DrawSplatText(fb, x, y, text, colours[pass], pass_intensity, pass_radius, cell, pass_jitter,
                    pass_phase);
    }
  }
}

void GlowTextIn(Framebuffer& fb, const OverlayStyle& style, float x, float y, const char* text, Vec3 colour,
                float amount, float size, float cell, float jitter, float phase, const TextClip& clip) {
  if (!(amount > 0.0f) || text == nullptr) return;
  // Halo, middle and core brighten the colour more the tighter they are.
  const Vec3 colours[3] = {colour * 1.25f, colour * 1.55f, colour * 2.35f};
  DrawGlowPasses(fb, style.wide_dots, x, y, text, colours, amount * style.alpha_scale,
                 size * style.radius_scale, cell, jitter, phase, clip);
}

// A string centred on the frame at y_centre with the given cell, drawn as one glowing layer.
void CentredGlowText(Framebuffer& fb, const OverlayStyle& style, float y_centre, const char* text,
                     Vec3 colour, float amount, float size, float cell, float jitter, float phase) {
  const float x = CentredTextX(static_cast<float>(fb.width), std::strlen(text), cell);
  const float y = y_centre - 3.5f * cell;
  GlowText(fb, style, x, y, text, colour, amount, size, cell, jitter, phase);
}

// The size factor of a zooming string never leaves this band, so a 5.9 times larger title does
// not turn into a few huge blobs.
float ZoomSize(float scale) {
  return std::clamp(scale, 0.42f, 4.35f);
}

// ---- Frame steps -------------------------------------------------------------------------------

// 1. The loop opens from black over bars 0.1 to 4.8.
void DrawStartFade(Framebuffer& fb, float loop_bar) {
  const float u = 1.0f - Smoothstep((loop_bar - 0.1f) * 0.21276595f);
  if (u > 0.001f) fb.BlendRect(0, 0, static_cast<int>(fb.width), static_cast<int>(fb.height), Vec3{}, u);
}

// 2. The ring of light orbiting the title: three interleaved rings spinning at their own speeds,
//    cyan to violet around.
void DrawOrbitRing(Framebuffer& fb, const OverlayStyle& style, float amount) {
  const float W = static_cast<float>(fb.width);
  const float H = static_cast<float>(fb.height);
  const float ph = style.flicker;
  const float glow = style.glow;
  constexpr float kSpin[3] = {1.4f, -1.1f, 0.82f};
  for (int i = 0; i < 72; ++i) {
    const int k = i % 3;
    const float fi = static_cast<float>(i);
    const float P = kSpin[k] * ph + fi * 0.08726647f;
    const float rx = 214.0f + 18.0f * std::sin(0.7f * ph + fi * 0.34906587f);
    const float ry = 62.0f + 11.0f * static_cast<float>(k) + 6.0f * std::cos(fi * 0.2617994f + 0.5f * ph);
    const float x = W * 0.5f + rx * std::cos(P);
    const float y = 0.48f * H + ry * std::sin(1.11f * P);
    const float radius = ((k == 1 ? 2.3f : 1.6f) + 1.3f * glow) * style.radius_scale;
    const Vec3 tint{0.06f + 0.0130555555f * fi, 0.86f - 0.0105555555f * fi, 1.0f - 0.005f * fi};
    const Vec3 colour = tint * (1.0f + 0.95f * glow);
    const float intensity =
        (0.03116f + 0.00684f * std::sin(1.7f * fi + 9.0f * ph)) * amount * style.alpha_scale;
    Splat(fb, x, y, radius, colour, intensity);
  }
}

// 2. The title block: ring, magenta and cyan title with echoes, subtitle.
void DrawTitleBlock(Framebuffer& fb, const OverlayStyle& style, float loop_bar, float o) {
  const float glow = style.glow;
  const float ph = style.flicker;
  const TitleCurve A = MakeTitleCurve((loop_bar - 4.25f) * 0.58823526f);  // bar 4.25, 1.7 bars
  const TitleCurve B = MakeTitleCurve((loop_bar - 5.9f) * 0.8f);          // bar 5.9, 1.25 bars
  const float LA = o * A.fade;
  const float LB = o * B.fade;

  DrawOrbitRing(fb, style, LA);

  // A magenta layer and a cyan layer two pixels lower.
  const Vec3 magenta{2.2f, 0.396f, 1.54f};
  const Vec3 cyan{0.2f, 1.92f, 2.0f};
  const float magenta_size = 2.25f + 0.7f * glow;
  const float cyan_size = 1.62f + 0.55f * glow;
  const float magenta_jitter = 0.42f + 1.15f * glow;
  const float cyan_jitter = 0.16f + 0.55f * glow;
  EchoText(fb, style, "KESTREL", 159.4f, 6.4f, magenta_size, magenta, 0.135f * o, A, magenta_jitter);
  EchoText(fb, style, "KESTREL", 161.4f, 6.4f, cyan_size, cyan, 0.105f * o, A, cyan_jitter);

  const float tc = 6.4f * A.scale;
  const float title_phase = 1.9f * A.progress + ph;
  if (0.135f * LA > 0.0f)
    CentredGlowText(fb, style, 159.4f, "KESTREL", magenta, 0.135f * LA, ZoomSize(A.scale) * magenta_size, tc,
                    magenta_jitter, title_phase);
  if (0.105f * LA > 0.0f)
    CentredGlowText(fb, style, 161.4f, "KESTREL", cyan, 0.105f * LA, ZoomSize(A.scale) * cyan_size, tc,
                    cyan_jitter, title_phase + 0.35f);

  const Vec3 pale{1.209f, 1.519f, 1.55f};
  const float sub_size = 0.86f + 0.18f * glow;
  const float sub_jitter = 0.1f + 0.28f * glow;
  EchoText(fb, style, "CPU-ONLY SIGNAL", 214.525f, 2.15f, sub_size, pale, 0.09f * o, B, sub_jitter);
  if (0.09f * LB > 0.0f)
    CentredGlowText(fb, style, 214.525f, "CPU-ONLY SIGNAL", pale, 0.09f * LB, sub_size * ZoomSize(B.scale),
                    2.15f * B.scale, sub_jitter, 1.2f * B.progress + ph);
}

// 3. The presenter line, from bar 0.7 over 1.45 bars.
void DrawPresenterLine(Framebuffer& fb, const OverlayStyle& style, float loop_bar, float p) {
  const TitleCurve Cp = MakeTitleCurve((loop_bar - 0.7f) * 0.6896551f);
  const Vec3 colour{1.376f, 1.536f, 1.6f};
  const float jitter = 0.18f + 0.42f * style.glow;
  EchoText(fb, style, "T-BOLT/WQE PRESENTS", 103.1f, 2.6f, 1.0f, colour, 0.155f * p, Cp, jitter);
  const float amount = 0.155f * p * Cp.fade;
  if (amount > 0.0f)
    CentredGlowText(fb, style, 103.1f, "T-BOLT/WQE PRESENTS", colour, amount, ZoomSize(Cp.scale),
                    2.6f * Cp.scale, jitter, 1.4f * Cp.progress + style.flicker);
}

// 5. The end flourish under the greetings while the music ducks at the end of the show: two dots
//    swinging in and two bars settling under the text.
void DrawEndFlourish(Framebuffer& fb, const OverlayStyle& style, float time, float greets, float I) {
  if (!(I > 0.001f && I < 0.999f)) return;
  const float W = static_cast<float>(fb.width);
  const float R = std::sin((34.0f - 24.0f * I) * time) * (1.0f - I);
  const float Lx = 57.0f + 4.0f * std::cos(3.3f * time);
  const float K = 34.0f + 3.0f * std::sin(4.2f * time);
  const float radius = 7.5f * style.radius_scale;
  const float intensity = 0.095f * I * greets * style.alpha_scale;
  Splat(fb, W * 0.5f - Lx, 214.0f + R, radius, Vec3{0.228f, 1.748f, 1.9f}, intensity);
  Splat(fb, W * 0.5f + Lx, 214.0f - R, radius, Vec3{1.9f, 0.342f, 1.33f}, intensity);
  fb.AddRect(static_cast<int>(W * 0.5f - K), 214, static_cast<int>(2.0f * K), 3, Vec3{0.78f, 0.96f, 1.0f},
             0.18f * I * greets);
  fb.AddRect(static_cast<int>(W * 0.5f - Lx), 223, static_cast<int>(2.0f * Lx), 2, Vec3{1.0f, 0.28f, 0.72f},
             0.16f * I * greets);
}

// 5. Greetings clock: bars since the greetings section began at bar 100. The director's clock
//    moves in steps of the audio position updates; while the music plays and the frame time
//    agrees with it to within a bar, the frame time gives the smoother motion.
float GreetingsBar(const TitleOverlayClock& clock, float time) {
  const float tempo = std::max(clock.bpm, 1.0f);
  float B = clock.clock_bar;
  const float smooth_bar = tempo * time / 240.0f;
  if (clock.playing && std::fabs(smooth_bar - B) < 1.0f) B = smooth_bar;
  const float gbar = std::max(B - 100.0f, 0.0f);
  return std::isfinite(gbar) ? gbar : 0.0f;
}

void DrawGreetings(Framebuffer& fb, const OverlayStyle& style, float time, float greets,
                   const TitleOverlayClock& clock) {
  const float W = static_cast<float>(fb.width);
  const float gbar = GreetingsBar(clock, time);

  // A deep blue backdrop for the names.
  fb.BlendRect(0, 0, static_cast<int>(fb.width), static_cast<int>(fb.height), Vec3{0.0f, 0.004f, 0.01f},
               0.48f * greets);

  if (0.115f * greets > 0.0f)
    GlowText(fb, style, W * 0.5f - 58.5f, 78.0f, "GREETZ", Vec3{1.632f, 1.666f, 1.7f}, 0.115f * greets, 1.14f,
             3.25f, 0.18f + 0.5f * style.glow, style.flicker);

  GreetScroller(fb, style, gbar, greets, 178.0f, 3.35f, 1.18f, 0.118f, 1.26f, 0.0f, true);
  GreetScroller(fb, style, gbar, greets, 246.0f, 1.85f, 0.66f, 0.07f, 0.92f, 380.0f, false);

  DrawEndFlourish(fb, style, time, greets, clock.duck);
}

}  // namespace

// ---- Public pieces -----------------------------------------------------------------------------

OverlayStyle MakeOverlayStyle(float time, float loop_bar, const MusicViz& mv) {
  OverlayStyle style;
  style.glow = Clamp01(0.4f * mv.cue_finale + 0.42f * mv.build + 0.85f * mv.impact + 0.18f * mv.lead +
                       0.28f * mv.kick);
  const float flicker = std::floor(18.0f * time) * 0.06944445f + std::floor(6.0f * loop_bar) * 0.045f;
  style.flicker = std::isfinite(flicker) ? flicker : 0.0f;
  // The canyon's bright sky and dense light would swallow thin text.
  if (mv.scene == 1) {
    style.radius_scale = 1.24f;
    style.alpha_scale = 2.35f;
  }
  return style;
}

TitleCurve MakeTitleCurve(float x) {
  TitleCurve c;
  c.progress = Clamp01(x);
  c.fade = Smoothstep((c.progress - 0.02f) * 6.25f);
  const float g = Smoothstep((c.progress - 0.06f) * 1.25f);
  const float bump = 0.18f * std::sin(kPi * Clamp01((c.progress - 0.12f) * 1.2195122f)) *
                     (1.0f - Smoothstep((c.progress - 0.66f) * 2.9411767f));
  c.scale = 5.9f - 4.9f * g + bump;
  c.echo = (1.0f - g) * c.fade;
  return c;
}

float CentredTextX(float width, std::size_t length, float cell) {
  return width * 0.5f - 3.0f * static_cast<float>(length) * cell;
}

void GlowText(Framebuffer& fb, const OverlayStyle& style, float x, float y, const char* text, Vec3 colour,
              float amount, float size, float cell, float jitter, float phase) {
  GlowTextIn(fb, style, x, y, text, colour, amount, size, cell, jitter, phase, TextClip{});
}

void GlowTextClipped(Framebuffer& fb, const OverlayStyle& style, float x, float y, const char* text,
                     Vec3 colour, float amount, float size, float cell, float jitter, float phase, int x0,
                     int y0, int x1, int y1) {
  GlowTextIn(fb, style, x, y, text, colour, amount, size, cell, jitter, phase,
             TextClip{true, x0, y0, x1, y1});
}

void EchoText(Framebuffer& fb, const OverlayStyle& style, const char* text, float y, float cell, float size,
              Vec3 colour, float amount, const TitleCurve& curve, float jitter) {
  if (!(amount > 0.0f) || !(curve.echo > 0.001f)) return;
  for (int i = 1; i <= 3; ++i) {
    const float fi = static_cast<float>(i);
    // Each echo is larger than the string by a step that shrinks as the curve settles.
    const float u = ((1.0f - curve.progress) * 1.18f + 0.58f) * fi + curve.scale;
    const float v = u * cell;
    const Vec3 echo_colour = colour * (1.05f + 0.25f * fi);
    const float echo_amount = amount * curve.echo * 0.105f / fi;
    CentredGlowText(fb, style, y, text, echo_colour, echo_amount, ZoomSize(u) * size, v, 0.42f * fi + jitter,
                    style.flicker - 0.58f * fi);
  }
}

GreetStrip LayoutGreetStrip(float width, float cell, float speed, float offset, float gbar, bool align) {
  GreetStrip strip;
  for (int j = 0; j < kGreetingCount; ++j) {
    if (j == kGreetingAlignEntry) strip.align_entry = strip.length;
    const float wj = static_cast<float>(std::strlen(kGreetings[j])) * 6.0f * cell;
    strip.length += wj + 82.0f;
  }
  const float Ls = strip.length;
  if (!(Ls > 0.0f) || !std::isfinite(Ls)) return strip;

  // The strip enters from the right edge and moves left; starts are kept at or left of -Ls so
  // that the copies laid from there cover the whole screen.
  auto start_at = [&](float bar) {
    float x0 = width - std::fmod(Ls * speed * bar / 16.0f + offset, Ls);
    if (!std::isfinite(x0)) x0 = width;
    while (x0 > -Ls) x0 -= Ls;
    return x0;
  };
  float x0 = start_at(gbar);
  if (align) x0 += std::max(0.0f, 28.0f - (strip.align_entry + start_at(0.0f)));
  strip.start = x0;
  return strip;
}

void GreetScroller(Framebuffer& fb, const OverlayStyle& style, float gbar, float greets, float y, float cell,
                   float size, float amount, float speed, float offset, bool align) {
  const float W = static_cast<float>(fb.width);
  const GreetStrip strip = LayoutGreetStrip(W, cell, speed, offset, gbar, align);
  const float Ls = strip.length;
  if (!(Ls > 0.0f)) return;
  const float ph = style.flicker;
  const float glow = style.glow;
  const float radius = (size + 0.35f * glow) * style.radius_scale;
  const float jitter = 0.16f + 0.36f * glow;

  for (float copy = strip.start; copy < W + Ls; copy += Ls) {
    float x = copy;
    for (int j = 0; j < kGreetingCount; ++j) {
      const char* name = kGreetings[j];
      const float wj = static_cast<float>(std::strlen(name)) * 6.0f * cell;
      const float fj = static_cast<float>(j);
      if (-wj - 82.0f < x && x < W + 82.0f) {
        const float ag = (0.72f + 0.28f * std::sin(1.7f * fj + 7.0f * ph)) * amount * greets;
        if (ag > 0.0f) {
          const float y_entry = y + 2.2f * std::sin(2.0f * ph + 0.55f * fj);
          // Cyan for the first names, turning magenta along the list.
          const Vec3 base{0.23125f + 0.208125f * fj, 2.1275f - 0.17575f * fj, 2.3125f - 0.078625f * fj};
          const Vec3 colours[3] = {base, base * 1.24f, base * 1.88f};
          DrawGlowPasses(fb, style.wide_dots, x, y_entry, name, colours, ag * style.alpha_scale, radius, cell,
                         jitter, ph + 0.15f * fj, TextClip{});
        }
      }
      x += wj + 82.0f;
    }
  }
}

void DrawTitleOverlay(Framebuffer& fb, float time, const MusicViz& mv, const TitleOverlayClock& clock,
                      CoarseGlow* wide_dots) {
  const float loop_bar = WrapBar(mv.bar, clock.loop_bars);
  OverlayStyle style = MakeOverlayStyle(time, loop_bar, mv);
  // Light only adds, so the wide glow can go onto the image in one pass once the additive steps
  // that feed it are drawn: before the greetings' backdrop darkens the image, and at the end.
  style.wide_dots = wide_dots;
  const auto add_wide_dots = [&] {
    if (wide_dots != nullptr) AddCoarseGlow(*wide_dots, fb);
  };
  const float greets = Clamp01(mv.cue_greets);

  // 1. Start fade.
  DrawStartFade(fb, loop_bar);

  // 2. Title block; the greetings dim it.
  const float o = Clamp01((1.0f - 0.35f * greets) * mv.cue_title);
  if (o > 0.001f) DrawTitleBlock(fb, style, loop_bar, o);

  // 3. Presenter line.
  const float p = Clamp01((1.0f - 0.35f * greets) * std::max(mv.cue_title, mv.cue_intro));
  if (p > 0.001f) DrawPresenterLine(fb, style, loop_bar, p);

  // 4. Oracle head and subtitles; the greetings hide them.
  const float spoken =
      std::max({0.46f * mv.cue_nova, 0.86f * mv.cue_veil, 0.82f * mv.cue_scan, 0.54f * mv.cue_beams});
  const float s = Clamp01(spoken + 0.48f * mv.cue_reveal) * (1.0f - greets);
  DrawOracleSubtitles(fb, style, mv, loop_bar, clock.bpm, std::isfinite(s) ? s : 0.0f, greets);

  // 5. Greetings.
  add_wide_dots();
  if (greets > 0.001f) DrawGreetings(fb, style, time, greets, clock);
  add_wide_dots();
}

bool ProductionOverlaysActive(const char* production_name, const char* default_sequence_path) {
  const bool named = production_name != nullptr && std::strstr(production_name, "kestrel");
  const bool sequenced = default_sequence_path != nullptr &&
                         std::strcmp(default_sequence_path, "data/kestrel/kestrel_sequence.txt") == 0;
  return named || sequenced;
}

void DrawTitleOverlay(App& app, float time, const MusicViz& mv) {
  if (!ProductionOverlaysActive(kProductionName, kDefaultSequencePath)) return;
  Director director = app.DirectorView();
  TitleOverlayClock clock;
  clock.clock_bar = director.ClockBar();
  clock.bpm = app.options.audio_bpm;
  clock.loop_bars = app.sequence.loop_bars;
  clock.playing = director.host.SourcePlaying();
  clock.duck = director.MusicDuck();
  // The plain paths draw every glow dot at full resolution.
  DrawTitleOverlay(app.frame, time, mv, clock, PlainPathsForced() ? nullptr : &app.overlay_glow);
}
