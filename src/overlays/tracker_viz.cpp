#include "overlays/tracker_viz.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "audio/synth_track.h"
#include "render/math.h"
#include "render/primitives.h"
#include "timeline/director.h"

namespace {

// The tracker screen's palette: a blue-black panel, cyan and pale text, pink and lime for what
// plays now (current row, meters, sparks), and a deep green for the assembly listing's rules.
constexpr Vec3 kBackground{0.0f, 0.02f, 0.04f};
constexpr Vec3 kCyan{0.2f, 0.72f, 0.95f};
constexpr Vec3 kPale{0.55f, 0.9f, 1.0f};
constexpr Vec3 kDim{0.2f, 0.45f, 0.55f};
constexpr Vec3 kPink{1.0f, 0.45f, 0.82f};
constexpr Vec3 kLime{0.78f, 1.0f, 0.58f};
constexpr Vec3 kGreen{0.04f, 0.22f, 0.08f};
constexpr Vec3 kBlack{0.0f, 0.0f, 0.0f};
constexpr Vec3 kRowHighlight{0.0f, 0.22f, 0.32f};   // bar under the playing row, clean look
constexpr Vec3 kMeterTrack{0.02f, 0.08f, 0.1f};     // empty part of a level meter
constexpr Vec3 kAsmBackdrop{0.0f, 0.015f, 0.006f};  // faint green wash under the listing
constexpr float kTwoPi = 6.28318530718f;

constexpr const char* kNoteNames[12] = {"C-", "C#", "D-", "D#", "E-", "F-",
                                        "F#", "G-", "G#", "A-", "A#", "B-"};

// The assembly regions by code: full screen, halves, side strips and quarters.
constexpr TrackerRect kAsmRegions[9] = {
    {10, 14, 620, 332},  {10, 16, 620, 152},  {10, 184, 620, 162},
    {10, 22, 266, 316},  {364, 22, 266, 316}, {10, 16, 300, 152},
    {330, 16, 300, 152}, {10, 184, 300, 162}, {330, 184, 300, 162}};

// Module event values are bytes in the file; anything else is shown clamped to a byte.
int Byte(std::int32_t v) { return std::clamp(v, 0, 255); }

// Positive remainder in the 16 steps of a bar.
int Step16(std::int64_t v) { return static_cast<int>(((v % 16) + 16) % 16); }

// A level from the snapshot, 0 when not finite, for the sums that are not clamped afterwards.
float Level(float v) { return std::isfinite(v) ? v : 0.0f; }

// "C-4" for note 49: name from the twelve, octave (note - 1) / 12. `note` is 1 ... 255.
void NoteText(int note, char* out, std::size_t size) {
  const int n = std::clamp(note, 1, 255) - 1;
  std::snprintf(out, size, "%s%d", kNoteNames[n % 12], n / 12);
}

// Step of row line k of n in the synthesiser listing: the n steps centred on the current one.
int SynthListStep(const TrackerSnapshot& snap, int n, int k) {
  return Step16(static_cast<std::int64_t>(snap.step) - n / 2 + k);
}

// The word in the effect column: the current step tells about hits, fills and rolls, every
// step about the ride and the claps.
const char* SynthEffectWord(const TrackerSnapshot& snap, bool current) {
  if (current) {
    if (snap.impact > 0.05f) return "HIT";
    if (snap.fill > 0.08f) return "FILL";
    if (snap.build > 0.04f) return "ROLL";
  }
  if (snap.ride + snap.hat > 0.08f) return "RIDE";
  if (snap.clap > 0.05f) return "CLAP";
  return "....";
}

// The part of the arrangement by bar within the loop.
const char* SynthPartName(float p) {
  if (p >= 80.0f) return "A' LOOP";
  if (p >= 64.0f) return "A RETURN";
  if (p >= 48.0f) return "B";
  if (p >= 32.0f) return "A'";
  return "A";
}

// A synthesiser step as a column entry: "--" for a rest, else the signed semitone.
void SynthNoteText(std::int32_t step, char* out, std::size_t size) {
  if (IsRest(step))
    std::snprintf(out, size, "--");
  else
    std::snprintf(out, size, "%+02d", step);
}

// max(count - 1, 0) without overflow for any count the source reports.
int LastIndex(std::int32_t count) { return count > 0 ? count - 1 : 0; }

// The first of the 21 pattern rows shown by a listing of n rows (the middle n).
int ModuleFirstRow(int n) { return (kTrackerVisibleRows - n) / 2; }

bool ModuleRowIsCurrent(const TrackerSnapshot& snap, const TrackerRow& row) {
  return row.row >= 0 && row.row == snap.step;
}

// Everything every text line of one frame is drawn with.
struct Look {
  bool behind = false;
  bool glow = false;
  bool splat = false;
  float u = 0;      // opacity times the fade
  float a = 0;      // text strength: u dimmed when behind
  float pulse = 0;  // music level that brightens the text
  float phase = 0;  // drives the dots' small motion
  Framebuffer* layer = nullptr;
};

void Label(Framebuffer& fb, const Look& look, int x, int y, const char* text, Vec3 colour,
           bool alt) {
  DrawGlowLabel(fb, x, y, text, colour, alt, look.behind, look.glow, look.splat, look.a,
                look.pulse, 0.0f, look.phase, kCyan, kPink, kLime, look.layer);
}

// Three nested rectangles of growing brightness: a soft glow around a bar or a box.
void GlowBox(Framebuffer& fb, int bx, int by, int bw, int bh, Vec3 c, float k, float a) {
  if (bw <= 0 || bh <= 0 || !(k > 0.0f)) return;
  fb.AddRect(bx - 2, by - 1, bw + 4, bh + 2, c * 1.2f, 0.16f * k * a);
  fb.AddRect(bx - 1, by - 1, bw + 2, bh + 2, c * 1.65f, 0.21f * k * a);
  fb.AddRect(bx, by, bw, bh, c * 2.35f, 0.3f * k * a);
}

// Glow behind each word of the playing row: one glow per run of non-blank characters.
void WordGlows(Framebuffer& fb, int tx, int ly, const char* text, float w, float a) {
  const float s = w * a;
  int d = 0;
  while (text[d] != '\0') {
    if (text[d] == ' ') {
      d += 1;
      continue;
    }
    int e = d;
    while (text[e] != '\0' && text[e] != ' ') e += 1;
    const int x0 = tx + kGlyphAdvance * d;
    const int run = kGlyphAdvance * (e - d);
    fb.AddRect(x0 - 3, ly - 2, run + 5, 10, kLime * 1.2f, 0.16f * s);
    fb.AddRect(x0 - 2, ly - 2, run + 3, 10, kLime * 1.65f, 0.21f * s);
    fb.AddRect(x0 - 1, ly - 1, run + 1, 8, kLime * 2.35f, 0.3f * s);
    d = e;
  }
}

// One level meter of the panel and wall modes.
struct Meter {
  char label[8];
  float value;
  Vec3 colour;
};

void FillMeters(const TrackerSnapshot& snap, Meter (&meters)[7]) {
  if (snap.source == 1) {
    // Channels 1 to 7, alternating cyan and pink.
    for (int i = 0; i < 7; ++i) {
      std::snprintf(meters[i].label, sizeof meters[i].label, "C%02d", i + 1);
      meters[i].value = snap.channel_volume[static_cast<std::size_t>(i)];
      meters[i].colour = (i & 1) == 0 ? kCyan : kPink;
    }
    return;
  }
  const Meter synth[7] = {{"KIK", snap.kick, kLime},
                          {"HAT", snap.perc, kCyan},
                          {"BAS", snap.bass, kLime},
                          {"LED", snap.lead, kPink},
                          {"PAD", snap.pad, kPale},
                          {"PER", snap.clap + snap.hat + snap.ride, kCyan},
                          {"HIT", snap.impact + snap.build, kPink}};
  std::copy(std::begin(synth), std::end(synth), std::begin(meters));
}

// Sparks beside row line k (splat look): which voices play on that step or row.
void RowMarkers(Framebuffer& fb, const TrackerSnapshot& snap, const Look& look, int n, int k,
                int x0, int ly, bool current) {
  const float s = (current ? 0.07f : 0.035f) * look.u;
  const float my = static_cast<float>(ly + 4);
  const float fx0 = static_cast<float>(x0);
  if (snap.source == 1) {
    const TrackerRow& row = snap.pattern_rows[static_cast<std::size_t>(ModuleFirstRow(n) + k)];
    if (row.row < 0) return;
    for (int ch = 1; ch <= 4; ++ch) {
      const TrackerCell& cell = row.channels[static_cast<std::size_t>(ch - 1)];
      const bool note = Byte(cell.note) >= 1;
      if (!note && Byte(cell.instrument) == 0) continue;
      const Vec3 colour = (ch & 1) == 1 ? kCyan : kPink;
      Splat(fb, fx0 + 10.0f * static_cast<float>(ch - 1), my, current ? 3.8f : 2.6f, colour,
            s * (note ? 1.0f : 0.55f));
    }
    return;
  }
  const int q = SynthListStep(snap, n, k);
  const float voice_radius = current ? 3.8f : 2.6f;
  if (q % 4 == 0) Splat(fb, fx0, my, current ? 3.5f : 2.4f, kLime, s);
  if (!IsRest(snap.bass_steps[static_cast<std::size_t>(q)]))
    Splat(fb, fx0 + 10.0f, my, voice_radius, kCyan, 0.9f * s);
  if (!IsRest(snap.lead_steps[static_cast<std::size_t>(q)]))
    Splat(fb, fx0 + 20.0f, my, voice_radius, kPink, 0.9f * s);
  if (q % 2 == 0) Splat(fb, fx0 + 30.0f, my, current ? 3.0f : 2.0f, kPale, 0.55f * s);
  const char* word = SynthEffectWord(snap, current);
  if (word[0] != '.') Splat(fb, fx0 + 40.0f, my, current ? 4.2f : 2.8f, kPink, s);
}

// ---- Panel and wall modes ----------------------------------------------------------------------

void DrawListing(Framebuffer& fb, Framebuffer& glow, const TrackerSnapshot& snap,
                 const TrackerVizSettings& settings, Look look) {
  const bool wall = settings.mode == kTrackerWall;
  const float u = look.u;
  const float a = look.a;

  // 1. Geometry.
  const int W = wall ? 318 : 354;
  const int n = TrackerPanelRowCount(settings.rows);
  const int H = 10 * n + 38;
  const int x = std::clamp(settings.x, 0, 624);
  const int y = std::clamp(settings.y, 0, 344);

  // 2. The glow layer keeps a fading trace of the last frames' halos.
  if (look.glow) {
    glow.ScaleAdd(0.68f, kBlack);
    look.layer = &glow;
  }

  // 3. Panel background and border (a wall is text straight on the scene).
  if (!wall && !look.behind) {
    fb.BlendRect(x, y, W, H, kBackground, 0.78f * u);
    if (settings.border) {
      fb.BlendRect(x, y, W, 1, kCyan, 0.95f * u);
      fb.BlendRect(x, y + H - 1, W, 1, kCyan, 0.65f * u);
      fb.BlendRect(x, y, 1, H, kCyan, 0.45f * u);
      fb.BlendRect(x + W - 1, y, 1, H, kCyan, 0.45f * u);
    }
  }

  // 4. Splat look: a glow that sweeps along the playing row within the step.
  if (look.splat) {
    const float sx = static_cast<float>(x + 24) + static_cast<float>(W - 48) * snap.step_phase;
    const float sy = static_cast<float>(y + 38 + 10 * (n / 2));
    Splat(fb, sx, sy, look.behind ? 18.0f : 26.0f, kLime, (look.behind ? 0.02f : 0.045f) * u);
  }

  // 5. Headers.
  TrackerListing listing;
  BuildTrackerListing(snap, n, listing);
  Label(fb, look, x + 8, y + 7, listing.header1, kPale * a, false);
  Label(fb, look, x + 8, y + 20, listing.header2, kDim * a, false);

  // 6. Rows, the playing one highlighted.
  const int marker_x = x + 158 + (wall ? 0 : 16);
  for (int k = 0; k < listing.count; ++k) {
    const int ly = y + 34 + 10 * k;
    const bool current = listing.current[k];
    if (current && !look.behind) {
      if (!look.glow) {
        fb.BlendRect(x + 5, ly - 2, W - 10, 9, kRowHighlight, 0.75f * u);
      } else {
        fb.BlendRect(x + 5, ly - 1, 2, 7, kLime, 0.48f * u);
        GlowBox(fb, x + 5, ly - 1, 4, 7, kLime, 0.18f, a);
      }
    }
    Vec3 colour = kPale * (0.86f * a);
    if (current) colour = ((look.glow || look.behind) ? kLime : kPink) * a;
    if (look.glow && current)
      WordGlows(fb, x + 8, ly, listing.rows[k], look.behind ? 0.045f : 0.075f, a);
    Label(fb, look, x + 8, ly, listing.rows[k], colour, current);
    if (look.splat) RowMarkers(fb, snap, look, n, k, marker_x, ly, current);
  }

  // 7. Seven level meters.
  Meter meters[7];
  FillMeters(snap, meters);
  const int xm = x + (wall ? 204 : 226);
  const int mw = std::max(W - 248 - (wall ? 0 : 22), 24);
  for (int i = 0; i < 7; ++i) {
    const Meter& m = meters[i];
    Label(fb, look, xm, y + 22 + 8 * i, m.label, kDim * a, false);
    const float L = Clamp01(m.value);
    const int bar_x = xm + 34;
    const int bar_w = static_cast<int>(static_cast<float>(mw) * L);
    if (!look.behind) fb.BlendRect(bar_x, y + 24 + 8 * i, mw, 3, kMeterTrack, 0.75f * u);
    if (look.glow && L > 0.01f) {
      const float k = look.behind ? 0.075f * L + 0.045f : 0.1125f * L + 0.0675f;
      GlowBox(fb, bar_x, y + 23 + 8 * i, bar_w, look.behind ? 3 : 4, m.colour, k, a);
    }
    fb.BlendRect(bar_x, y + 24 + 8 * i, bar_w, look.behind ? 2 : 3, m.colour,
                 (look.behind ? 0.38f : 0.95f) * u);
    if (look.splat && L > 0.05f) {
      const float end_x = static_cast<float>(bar_x) + static_cast<float>(mw) * L;
      Splat(fb, end_x, static_cast<float>(y + 25 + 8 * i), look.behind ? 5.0f : 7.0f, m.colour,
            (look.behind ? 0.01f : 0.02f) * u * L);
    }
  }

  // 8. Glow look: the layer's halos come back as a small blurred ring of offset copies.
  if (look.glow) {
    struct Tap {
      float dx, dy, k, k_pulse;
    };
    constexpr int kTapCount = 13;
    constexpr Tap kTaps[kTapCount] = {
        {0.0f, 0.0f, 0.032f, 0.0064f},     {-0.55f, -0.2f, 0.074f, 0.0148f},
        {0.7f, 0.15f, 0.074f, 0.0148f},    {-1.25f, 0.35f, 0.063f, 0.0126f},
        {1.35f, -0.3f, 0.063f, 0.0126f},   {-0.15f, -1.2f, 0.055f, 0.011f},
        {0.25f, 1.35f, 0.055f, 0.011f},    {-2.35f, -0.45f, 0.039f, 0.0078f},
        {2.45f, 0.4f, 0.039f, 0.0078f},    {-1.8f, 1.65f, 0.028f, 0.0056f},
        {1.9f, -1.7f, 0.028f, 0.0056f},    {-3.8f, 0.2f, 0.019f, 0.0038f},
        {3.85f, -0.15f, 0.019f, 0.0038f}};
    ImageTap taps[kTapCount];
    for (int t = 0; t < kTapCount; ++t)
      taps[t] = ImageTap{kTaps[t].dx, kTaps[t].dy, kTaps[t].k + kTaps[t].k_pulse * look.pulse};
    fb.AddImageTaps(glow, x - 28, y - 28, W + 56, H + 56, taps, kTapCount);
  }
}

// ---- Assembly mode -----------------------------------------------------------------------------

void DrawAssembly(Framebuffer& fb, const TrackerSnapshot& snap, const TrackerVizSettings& settings,
                  const Look& look, float d, TrackerFlashState state) {
  const float u = look.u;

  // 1, 2. Region and rows around the centre index.
  const TrackerRect region = TrackerAssemblyRegion(settings.assembly_region);
  const int x = region.x;
  const int y = region.y;
  const int w = region.w;
  const int h = region.h;
  const int n = TrackerAssemblyRowCount(settings.rows, h);
  const int r0 = snap.source == 1 ? ModuleFirstRow(n) : 0;
  const int c = r0 + n / 2;

  // 3. How hard the music pushes.
  const float energy = Clamp01(0.52f * snap.build + 0.85f * snap.impact + 0.24f * snap.lead +
                               0.36f * snap.kick + 0.22f * snap.bass);
  const float brightness = 0.92f + 0.12f * energy + 0.05f * Level(snap.lead);
  const float A = d * u;

  // 4. The flash shakes the text on accented steps.
  UpdateTrackerFlash(snap, state);
  const float fj = std::pow(Clamp01(state.flash), 1.2f);

  // 5. Columns, backdrop, rules and border.
  const TrackerColumns cols = TrackerAssemblyColumns(region);
  if (!look.behind) fb.BlendRect(x - 4, y - 4, w + 8, h + 8, kAsmBackdrop, 0.12f * u);
  const float rule = (look.behind ? 0.03f : 0.06f) * u;
  for (int i = 0; i < cols.count; ++i) {
    fb.BlendRect(cols.x0 + cols.width * i - 3, y, 1, h, kGreen, rule);
    if (settings.border) {
      fb.BlendRect(x - 4, y - 4, w + 8, 1, kGreen, rule);
      fb.BlendRect(x - 4, y + h + 3, w + 8, 1, kGreen, 0.65f * rule);
    }
  }

  // 6. Two lines per row and column, fading towards the region's edges.
  const Vec3 kGlowB{0.58f, 0.78f, 0.22f};
  const Vec3 kGlowC{0.52f, 1.0f, 0.38f};
  TrackerAsmLine line;
  for (int i = 0; i < cols.count; ++i) {
    const int lx = cols.x0 + cols.width * i + 2;
    for (int j = r0; j < r0 + n; ++j) {
      const int N = j - c;
      for (int half = 0; half < 2; ++half) {
        const int ly = y + h / 2 + 16 * N + 8 * half;
        if (ly < y - 8 || ly > y + h + 4) continue;
        const float fk = static_cast<float>(half);
        const float f = Clamp01(1.0f - std::fabs(0.32f * fk + static_cast<float>(N)) /
                                           std::max(0.46f * static_cast<float>(n), 1.0f));
        const float top = Smoothstep(static_cast<float>(ly - (y - 8)) * 0.05f);
        const float bottom = 1.0f - Smoothstep(static_cast<float>(ly - (y + h - 12)) / 20.0f);
        const float Z = top * bottom * (0.84f * std::pow(f, 1.45f) + 0.16f);
        if (Z <= 0.001f) continue;

        BuildTrackerAsmLine(snap, i, j, c, half, line);
        float g = 0;
        float strength = 0;
        Vec3 colour;
        float boost = 0;
        if (line.current) {
          g = Clamp01(0.35f + 0.22f * energy);
          strength = brightness * Z * 1.1f;
          colour = Vec3{0.58f - 0.06f * g, 0.78f + 0.22f * g, 0.22f + 0.16f * g} * strength;
          boost = 0.2f;
        } else {
          g = Clamp01(0.12f * line.activity + 0.78f * f);
          strength = brightness * Z * 0.96f;
          colour = Vec3{0.055f + 0.125f * g, 0.25f + 0.35f * g, 0.075f + 0.125f * g} * strength;
        }
        colour = colour * A;
        const float level = Clamp01(0.35f * energy + 0.95f * look.pulse + boost);
        const float jitter = (line.current ? 7.0f : 4.4f) * fj * Clamp01(1.35f * Z);
        DrawGlowLabel(fb, lx, ly, line.text, colour, line.current, look.behind, look.glow,
                      look.splat, strength * A, level, jitter, look.phase, kGreen * strength,
                      kGlowB * strength, kGlowC * strength, nullptr);
      }
    }
  }
}

// ---- Assembly lines ----------------------------------------------------------------------------

void SynthAsmLine(const TrackerSnapshot& snap, int i, int j, int c, int half,
                  TrackerAsmLine& out) {
  const int N = j - c;
  const int q = Step16(static_cast<std::int64_t>(N) + snap.step);
  const int lane = (i + j) & 3;
  const std::int32_t bass = snap.bass_steps[static_cast<std::size_t>(q)];
  const std::int32_t lead = snap.lead_steps[static_cast<std::size_t>(q)];
  const bool kick_step = q % 4 == 0;
  out.current = q == Step16(snap.step);
  out.lane = lane;
  switch (lane) {
    case 0: out.activity = IsRest(bass) ? 0.32f * snap.bass : 0.78f; break;
    case 1: out.activity = IsRest(lead) ? 0.34f * snap.lead : 0.82f; break;
    case 2: out.activity = 0.22f * snap.kick + (kick_step ? 0.72f : 0.0f); break;
    default:
      out.activity = Clamp01(0.3f * snap.pad + 0.7f * snap.impact + 0.55f * snap.build);
      break;
  }

  const char mark = out.current ? '>' : ' ';
  const unsigned address =
      ((((static_cast<unsigned>(snap.bar_index) & 255u) * 32u + static_cast<unsigned>(q)) * 4u +
        static_cast<unsigned>(lane)) *
       2u) +
      static_cast<unsigned>(half);
  char* t = out.text;
  const std::size_t size = sizeof out.text;
  if (half == 0) {
    if (lane == 0 && !IsRest(bass))
      std::snprintf(t, size, "%c%04X LDA #B%+03d ; S%02X", mark, address, bass, q);
    else if (lane == 1 && !IsRest(lead))
      std::snprintf(t, size, "%c%04X LDA #L%+03d ; S%02X", mark, address, lead, q);
    else if (lane == 2 && kick_step)
      std::snprintf(t, size, "%c%04X LDA #KICK ; S%02X", mark, address, q);
    else
      std::snprintf(t, size, "%c%04X NOP ; S%02X L%d", mark, address, q, lane + 1);
    return;
  }
  const char* op = "STA PAD.MIX";
  if (lane == 0)
    op = "STA BASS.NOTE";
  else if (lane == 1)
    op = "STA LEAD.NOTE";
  else if (lane == 2)
    op = "JSR DRUM.TRIG";
  else if (snap.impact > 0.05f)
    op = "JSR IMPACT";
  else if (snap.build > 0.04f)
    op = "JSR BUILD";
  std::snprintf(t, size, "%c%04X %s", mark, address, op);
}

void ModuleAsmLine(const TrackerSnapshot& snap, int i, int j, int half, TrackerAsmLine& out) {
  const TrackerRow& row = snap.pattern_rows[static_cast<std::size_t>(std::clamp(j, 0, 20))];
  const int channels = snap.channels == 0 ? 4 : snap.channels;
  const int L = std::max(1, std::min(channels, kTrackerChannels));
  const unsigned odd = (static_cast<unsigned>(j) + static_cast<unsigned>(snap.order)) & 1u;
  const int lane = static_cast<int>(((2u * static_cast<unsigned>(i)) | odd) %
                                    static_cast<unsigned>(L));
  const int ch = lane + 1;
  const float volume = snap.channel_volume[static_cast<std::size_t>(lane)];
  out.current = ModuleRowIsCurrent(snap, row);
  out.lane = lane;
  out.activity = 0.0f;

  const char mark = out.current ? '>' : ' ';
  const unsigned row_byte = row.row < 1 ? 0u : static_cast<unsigned>(row.row) & 255u;
  const unsigned address =
      (((static_cast<unsigned>(snap.order) & 63u) * 128u + static_cast<unsigned>(L) * row_byte +
        static_cast<unsigned>(lane)) *
           2u +
       static_cast<unsigned>(half)) &
      0xFFFFu;
  char* t = out.text;
  const std::size_t size = sizeof out.text;
  if (row.row < 0) {
    std::snprintf(t, size, "%c%04X NOP ; PAD C%d", mark, address, ch);
    return;
  }

  const TrackerCell& cell = row.channels[static_cast<std::size_t>(lane)];
  const int note = Byte(cell.note);
  const int instrument = Byte(cell.instrument);
  const int vol = Byte(cell.volume);
  const int type1 = Byte(cell.effect_type);
  const int type2 = Byte(cell.effect2_type);
  const int param2 = Byte(cell.effect2_param);
  // The effect shown: the first one, or the second when the first slot is empty.
  const int fx = type1 != 0 ? type1 : type2;
  const int fx_param = type1 != 0 ? Byte(cell.effect_param) : param2;
  out.activity = Clamp01(0.42f * volume + (note >= 1 ? 0.76f : 0.0f) +
                         (instrument != 0 ? 0.2f : 0.0f) + (vol != 0 ? 0.18f : 0.0f) +
                         ((type1 != 0 || type2 != 0 || param2 != 0) ? 0.44f : 0.0f));

  const unsigned row_num = static_cast<unsigned>(row.row);
  if (half == 0) {
    if (note >= 1) {
      char name[16];
      NoteText(note, name, sizeof name);
      std::snprintf(t, size, "%c%04X LDA #%s ; R%02X C%d", mark, address, name, row_num, ch);
    } else if (instrument != 0) {
      std::snprintf(t, size, "%c%04X LDI #I%02X ; R%02X C%d", mark, address, instrument, row_num,
                    ch);
    } else if (vol != 0) {
      std::snprintf(t, size, "%c%04X LDV #%02X ; R%02X C%d", mark, address, vol, row_num, ch);
    } else {
      std::snprintf(t, size, "%c%04X NOP ; R%02X C%d", mark, address, row_num, ch);
    }
    return;
  }
  if (fx != 0 || fx_param != 0) {
    std::snprintf(t, size, "%c%04X JSR FX%02X%02X ; C%d", mark, address, fx, fx_param, ch);
  } else if (note >= 1) {
    std::snprintf(t, size, "%c%04X STA CH%d.NOTE ; I%02X", mark, address, ch, instrument);
  } else if (instrument != 0) {
    std::snprintf(t, size, "%c%04X STA CH%d.INST ; I%02X", mark, address, ch, instrument);
  } else if (vol != 0) {
    std::snprintf(t, size, "%c%04X STA CH%d.VOL ; V%02X", mark, address, ch, vol);
  } else {
    // An idle channel shows its mixer level, 0 ... 63.
    const int mix = static_cast<int>(63.0f * Clamp01(volume) + 0.5f);
    std::snprintf(t, size, "%c%04X ADD MIX%d,#%02X ; IDLE", mark, address, ch, mix);
  }
}

}  // namespace

// ---- Public pieces -----------------------------------------------------------------------------

int TrackerPanelRowCount(int rows) {
  const int n = std::clamp(rows, 5, kTrackerVisibleRows);
  return n < 6 ? 5 : n;
}

TrackerRect TrackerAssemblyRegion(int code) { return kAsmRegions[std::clamp(code, 0, 8)]; }

int TrackerAssemblyRowCount(int rows, int h) {
  const int n = std::min({rows, (h - 12) / 16, kTrackerVisibleRows});
  return n < 6 ? 5 : n;
}

TrackerColumns TrackerAssemblyColumns(const TrackerRect& region) {
  TrackerColumns cols;
  cols.width = region.w < 560 ? 172 : 204;
  cols.count = std::clamp(region.w / cols.width, 1, 3);
  const int remainder = region.w - cols.count * cols.width;
  cols.x0 = remainder > 0 ? region.x + remainder : region.x;
  return cols;
}

void UpdateTrackerFlash(const TrackerSnapshot& snap, TrackerFlashState state) {
  state.flash *= 0.72f;
  const std::int32_t key = static_cast<std::int32_t>(static_cast<std::uint32_t>(snap.step) +
                                                     256u * static_cast<std::uint32_t>(snap.bar_index));
  if (key == state.last_step) return;
  state.last_step = key;

  // E: a kick well above half level; G: a build or impact in progress.
  const float E = Clamp01((snap.kick - 0.48f) * 1.6666666f);
  const float G = Smoothstep((0.22f * snap.build + snap.impact - 0.2f) * 1.9230767f);
  float F = 0.0f;
  switch (snap.step & 15) {
    case 0: F = 0.78f * Smoothstep(E) + 0.58f * G; break;
    case 8: F = 0.7f * Smoothstep((G - 0.62f) * 3.125f) * G; break;
    case 12:
    case 14: F = 0.95f * G * Clamp01(0.7f * snap.build + snap.fill); break;
    default: break;
  }
  if (Clamp01(F) > 0.06f) state.flash = std::max(state.flash, F);
}

void TrackerCellText(const TrackerCell& cell, char* out, std::size_t size) {
  const int note = Byte(cell.note);
  const int instrument = Byte(cell.instrument);
  const int type1 = Byte(cell.effect_type);
  const int type2 = Byte(cell.effect2_type);
  const int param2 = Byte(cell.effect2_param);
  if (note >= 1) {
    char name[16];
    NoteText(note, name, sizeof name);
    std::snprintf(out, size, "%s%02X", name, instrument);
  } else if (instrument != 0) {
    std::snprintf(out, size, "---%02X", instrument);
  } else if (type1 != 0) {
    std::snprintf(out, size, "F%02X%02X", type1, Byte(cell.effect_param));
  } else if (type2 != 0 || param2 != 0) {
    std::snprintf(out, size, "F%02X%02X", type2, param2);
  } else {
    std::snprintf(out, size, "-----");
  }
}

void BuildTrackerListing(const TrackerSnapshot& snap, int rows, TrackerListing& out) {
  const int n = TrackerPanelRowCount(rows);
  out.count = n;
  const std::size_t size = kTrackerLineChars;

  if (snap.source == 1) {
    // Module player: its position in the song, then the middle n of the 21 pattern rows.
    const char* title = snap.title.empty() ? "XM MODULE" : snap.title.c_str();
    std::snprintf(out.header1, size, "XM %.18s  BPM%03.0f  ORD%02d/%02d", title, snap.bpm,
                  snap.order, LastIndex(snap.length));
    std::snprintf(out.header2, size, "PAT%02d ROW%02X/%02X  CH%02d", snap.pattern,
                  static_cast<unsigned>(std::max(snap.step, 0)),
                  static_cast<unsigned>(LastIndex(snap.rows)), snap.channels);
    const int first = ModuleFirstRow(n);
    for (int k = 0; k < n; ++k) {
      const TrackerRow& row = snap.pattern_rows[static_cast<std::size_t>(first + k)];
      out.current[k] = ModuleRowIsCurrent(snap, row);
      if (row.row < 0) {
        std::snprintf(out.rows[k], size, "    ----- ----- ----- -----");
        continue;
      }
      char cells[4][16];
      for (int ch = 0; ch < 4; ++ch)
        TrackerCellText(row.channels[static_cast<std::size_t>(ch)], cells[ch], sizeof cells[ch]);
      std::snprintf(out.rows[k], size, "%c%02X %5s %5s %5s %5s", out.current[k] ? '>' : ' ',
                    static_cast<unsigned>(row.row), cells[0], cells[1], cells[2], cells[3]);
    }
    return;
  }

  // Synthesiser: tempo, bar and part, then the n steps around the current one.
  std::snprintf(out.header1, size, "KESTREL SYNTH VM  BPM%03.0f  BAR%02d  %s", snap.bpm,
                snap.bar_index, SynthPartName(snap.position));
  std::snprintf(out.header2, size, "ROW K BASS LEAD CHORD FX");
  const int current_step = Step16(snap.step);
  for (int k = 0; k < n; ++k) {
    const int q = SynthListStep(snap, n, k);
    const bool current = q == current_step;
    out.current[k] = current;
    char bass[16];
    char lead[16];
    SynthNoteText(snap.bass_steps[static_cast<std::size_t>(q)], bass, sizeof bass);
    SynthNoteText(snap.lead_steps[static_cast<std::size_t>(q)], lead, sizeof lead);
    std::snprintf(out.rows[k], size, "%c%02X %c %4s %4s C%d   %s", current ? '>' : ' ', q,
                  q % 4 == 0 ? 'K' : '.', bass, lead, snap.chord_set,
                  SynthEffectWord(snap, current));
  }
}

void BuildTrackerAsmLine(const TrackerSnapshot& snap, int i, int j, int c, int half,
                         TrackerAsmLine& out) {
  if (snap.source == 1)
    ModuleAsmLine(snap, i, j, half, out);
  else
    SynthAsmLine(snap, i, j, c, half, out);
}

void DrawTrackerViz(Framebuffer& fb, Framebuffer& glow, const TrackerSnapshot& snap,
                    const TrackerVizSettings& settings, float clock_bar, bool behind,
                    TrackerFlashState state) {
  // Common values: the fade over bars 100 to 108 times the opacity.
  const float vis = TrackerFade(clock_bar);
  const float u = vis * Clamp01(settings.opacity);
  if (!(u > 0.001f)) return;

  Look look;
  look.behind = behind;
  look.glow = settings.effect == kTrackerGlow;
  look.splat = settings.effect == kTrackerSplat;
  // Behind a scene the display steps back: dimmer text, the glow look a little less so.
  const float d = behind ? (look.glow ? 0.76f : 0.68f) : 1.0f;
  look.u = u;
  look.a = d * u;
  look.pulse = Clamp01(0.5f * snap.kick + 0.2f * snap.bass + 0.16f * snap.lead +
                       0.8f * snap.impact + 0.45f * snap.build);
  const float phase = 0.51f * snap.position + kTwoPi * snap.step_phase;
  look.phase = std::isfinite(phase) ? phase : 0.0f;

  if (settings.mode == kTrackerAssembly)
    DrawAssembly(fb, snap, settings, look, d, state);
  else
    DrawListing(fb, glow, snap, settings, look);
}
