#include "audio/xm_export.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

#include "audio/arrangement.h"
#include "render/primitives.h"

namespace {

constexpr double kRate = 48000.0;  // every sample is rendered at the show's output rate
constexpr float kTwoPi = 6.28318530717958647692f;
// XM note of a MIDI note: XM's note 1 is C-0, MIDI's 12.
constexpr int kMidiToXm = -11;
constexpr int kDrumNote = 49;   // C-4: drums and voices play at their recorded rate there
constexpr int kDrumNote2 = 51;  // D-4: the second sample of the two-sample drums
// libxmp's output for one centre-panned channel playing a full-scale sample at volume 64 is a
// quarter of full scale (measured), and the player scales its 16-bit output by 1.35.
constexpr double kChannelFullScale = 0.25;
constexpr double kPlayerScale = 1.35;
constexpr double kSynthGain = 2.4;  // the synthesiser's output gain before its soft clip

// The synthesiser's noise at sample counter c, and its bright part after the one-pole split.
struct Noise {
  float lp = 0.0f;
  std::uint32_t c = 0;
  float Next() {
    const float white = static_cast<float>(Hash32(c * 1664525u + 1013904223u) & 0xFFFFFFu) * 0x1p-24f - 0.5f +
                        static_cast<float>(Hash32(c * 22695477u + 1u) & 0xFFFFFFu) * 0x1p-24f - 0.5f;
    ++c;
    lp += (white - lp) * 0.12f;
    return white - lp;
  }
};

float OnePole(float cutoff) {
  const float limited = std::max(std::min(cutoff, 0.45f * static_cast<float>(kRate)), 10.0f);
  return 1.0f - std::exp(-kTwoPi * limited / static_cast<float>(kRate));
}

std::size_t Frames(double seconds) {
  return static_cast<std::size_t>(std::ceil(seconds * kRate));
}

// ---- The voices, one trigger each, at level 1 -------------------------------------------------
// t is the time since the trigger in seconds; the envelopes are the synthesiser's, written in t.

std::vector<float> RenderKick() {
  std::vector<float> out(Frames(0.42));
  for (std::size_t i = 0; i < out.size(); ++i) {
    const float t = static_cast<float>(i / kRate);
    const float cycles = (1.0f - std::exp(-28.0f * t)) * 5.357142857142857f + 46.0f * t;
    const float body = std::sin(kTwoPi * cycles) * std::exp(-9.5f * t) * 0.95f;
    const auto seed = static_cast<std::uint32_t>(3 * i + 17);
    const float click =
        std::exp(-90.0f * t) * (static_cast<float>(Hash32(seed) & 0xFFFFFFu) * 5.3644187e-9f - 0.045f);
    out[i] = body + click;
  }
  return out;
}

// A noise hit: `decay(t)` times the bright noise, over `seconds`.
template <typename Decay>
std::vector<float> RenderNoiseHit(double seconds, std::uint32_t seed, Decay decay) {
  std::vector<float> out(Frames(seconds));
  Noise noise;
  noise.c = seed;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const float t = static_cast<float>(i / kRate);
    out[i] = decay(t) * noise.Next();
  }
  return out;
}

// Bass: the saw through two one-pole filters, opened by the note's envelope.
std::vector<float> RenderBass(double sixteenth, float midi) {
  constexpr float kCutoff = 0.6f;                          // a typical bass_cutoff of the arrangement
  const float sweep = 0.5f * (180.0f + 260.0f * kCutoff);  // the 8-bar filter sweep's mean
  const float frequency = std::exp2((midi - 69.0f) / 12.0f) * 440.0f;
  std::vector<float> out(Frames(0.85 * sixteenth));
  float phase = 0.0f, y1 = 0.0f, y2 = 0.0f;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const float sp = static_cast<float>(i / kRate / sixteenth);
    const float env = std::exp(-3.3f * sp) - std::exp(-33.3f * sp);
    phase += frequency / static_cast<float>(kRate);
    phase -= std::floor(phase);
    const float osc = 1.5f * phase - 0.5f;
    const float k = OnePole(sweep + (900.0f + 850.0f * kCutoff) * env + 110.0f);
    y1 += (osc - y1) * k;
    y2 += (y1 - y2) * std::min(1.35f * k, 1.0f);
    out[i] = (y1 - 0.25f * y2) * env * 0.36f;
  }
  return out;
}

// Lead: five detuned saws (and an octave-up layer) through the note's opening filter.
std::vector<float> RenderLead(double sixteenth, float midi, bool long_lead, float octave_layer) {
  static constexpr float kDetune[5] = {440.0f * 0.992519f, 438.47772f, 440.0f, 441.78268f, 443.57257f};
  constexpr float kCutoff = 0.65f;  // a typical lead_cutoff
  const float d = long_lead ? -0.9f : -2.2f;
  const float gate = long_lead ? 0.94f : 0.72f;
  const float r = std::exp2((midi - 69.0f) / 12.0f);
  std::vector<float> out(Frames(gate * sixteenth));
  float phase[5] = {0.0f, 0.21f, 0.43f, 0.62f, 0.87f};  // free-running in the synthesiser
  float y = 0.0f;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const float sp = static_cast<float>(i / kRate / sixteenth);
    const float env = std::exp(d * sp) - std::exp(d * sp - 22.0f * sp);
    float saws = 0.0f, octave_saws = 0.0f;
    for (int o = 0; o < 5; ++o) {
      phase[o] += r * kDetune[o] / static_cast<float>(kRate);
      phase[o] -= std::floor(phase[o]);
      saws += 2.0f * phase[o] - 1.0f;
      const float up = 2.0f * phase[o];
      octave_saws += 2.0f * (up - std::floor(up)) - 1.0f;
    }
    const float osc = 0.2f * saws + 0.2f * 0.42f * octave_layer * octave_saws;
    y += (osc - y) * OnePole((1900.0f + 2600.0f * kCutoff) * env + 900.0f);
    out[i] = env * y * 0.21f;
  }
  return out;
}

// Pad: one chord note, two detuned oscillators through the pad's low-pass, as a seamless loop.
// Both frequencies are whole multiples of 1 / loop length, so the filtered sound repeats exactly.
constexpr double kPadLoopSeconds = 4.0;
std::vector<float> RenderPadLoop(float& midi_out) {
  constexpr float kCutoff = 850.0f;  // 480 + 920 * a typical pad_cutoff
  const double f1 = std::round(std::exp2(-2.1708333) * 440.0 * kPadLoopSeconds) / kPadLoopSeconds;
  const double f2 = std::round(std::exp2(-2.1616666) * 440.0 * kPadLoopSeconds) / kPadLoopSeconds;
  midi_out = 43.0f;  // G2, between the two
  const std::size_t loop = Frames(kPadLoopSeconds);
  std::vector<float> out(loop);
  const float k = OnePole(kCutoff);
  float y = 0.0f;
  for (std::size_t i = 0; i < 2 * loop; ++i) {
    // Phases from the sample index, so the second pass is exactly periodic.
    const double p1 = std::fmod(f1 * static_cast<double>(i % loop) / kRate, 1.0);
    const double p2 = std::fmod(f2 * static_cast<double>(i % loop) / kRate, 1.0);
    float sum = 0.0f;
    for (double p : {p1, p2}) {
      const float ph = static_cast<float>(p);
      sum += 1.3f * ph - 0.65f + 0.35f * std::sin(kTwoPi * ph);
    }
    y += (0.125f * sum - y) * k;
    if (i >= loop) out[i - loop] = y * 0.145f;
  }
  return out;
}

std::vector<float> RenderImpact(double bar_seconds) {
  Noise noise;
  noise.c = 777;
  std::vector<float> out(Frames(bar_seconds));
  for (std::size_t i = 0; i < out.size(); ++i) {
    const float p = static_cast<float>(i / kRate / bar_seconds);
    out[i] = std::exp(-6.2f * p) * (0.2f * std::sin(kTwoPi * 92.0f * p) + 0.075f * noise.Next());
  }
  return out;
}

// ---- Notes --------------------------------------------------------------------------------------

struct Note {
  int note = 0;  // XM note, or kXmKeyOff; 0: volume only
  int instrument = 0;
  double gain = 0;  // linear level in the synthesiser's mix (before its output gain)
  int effect = 0;
  int param = 0;
};

// Mean of the sidechain duck over one row: 1 - 0.55 kick e^(-6.5 x) for x across the row's
// quarter of a beat.
float RowDuck(int row, float kick) {
  const float b = static_cast<float>(row % 4) * 0.25f;
  const float mean = (std::exp(-6.5f * b) - std::exp(-6.5f * (b + 0.25f))) / (6.5f * 0.25f);
  return 1.0f - 0.55f * kick * mean;
}

float Peak(const std::vector<float>& v) {
  float peak = 0.0f;
  for (float x : v) peak = std::max(peak, std::fabs(x));
  return peak;
}

}  // namespace

bool XmExportTempoValid(float bpm) {
  return bpm >= 80.0f && bpm <= 180.0f && std::floor(bpm) == bpm;
}

bool ExportSynthTrackToXm(const SynthTrack& track, const OracleVoiceSet& voices, float bpm, XmModule& module,
                          std::string& error) {
  if (!XmExportTempoValid(bpm)) {
    error = "tempo must be a whole number of beats per minute between 80 and 180";
    return false;
  }
  if (track.bass_patterns.empty() || track.lead_patterns.empty() || track.chord_sets.empty()) {
    error = "track has no patterns or chord sets";
    return false;
  }
  const double loop_bars = std::max(static_cast<double>(track.loop_bars), 1.0);
  const long total_rows = std::lround(loop_bars * kXmRowsPerBar);
  const long bar_count = (total_rows + kXmRowsPerBar - 1) / kXmRowsPerBar;
  if (bar_count > 256) {
    error = "track longer than 256 bars";
    return false;
  }
  const double spb = 60.0 / bpm;  // seconds per beat
  const double sixteenth = spb / 4.0;
  const double bar_seconds = 4.0 * spb;

  // 1. Rendered voices at level 1, with the mix weight each has in the synthesiser (the mean of
  //    its left and right weights).
  struct Voice {
    std::vector<float> data;
    std::vector<float> data2;  // the second sample of a two-sample drum
    double weight = 1.0;
    int base_note = kDrumNote;
    bool loop = false;
    const char* name = "";
  };
  Voice v[kXmExportInstruments + 1];
  v[kXmInsKick] = {RenderKick(), {}, 1.0, kDrumNote, false, "kick"};
  v[kXmInsClap] = {
      RenderNoiseHit(spb, 101, [&](float t) { return std::exp(-18.0f * t / static_cast<float>(spb)); }),
      {},
      0.98,
      kDrumNote,
      false,
      "clap"};
  v[kXmInsHat] = {RenderNoiseHit(sixteenth, 202, [](float t) { return std::exp(-48.0f * t); }),
                  {},
                  0.075,
                  kDrumNote,
                  false,
                  "hat"};
  // Ride: on the beat the eighth-note tick, off the beat the tick and the open offbeat hat.
  v[kXmInsRide] = {
      RenderNoiseHit(spb / 2, 303, [](float t) { return 0.1f * std::exp(-36.0f * t); }),
      RenderNoiseHit(spb / 2, 404,
                     [](float t) { return 0.1f * std::exp(-36.0f * t) + 0.144f * std::exp(-13.0f * t); }),
      1.0,
      kDrumNote,
      false,
      "ride"};
  // Noise percussion: quieter on the beat's eighth, with the offbeat layer off the beat.
  v[kXmInsPerc] = {
      RenderNoiseHit(spb / 2, 505, [](float t) { return 0.0713f * std::exp(-36.0f * t); }),
      RenderNoiseHit(spb / 2, 606,
                     [](float t) { return 0.115f * std::exp(-36.0f * t) + 0.036f * std::exp(-13.0f * t); }),
      1.0,
      kDrumNote,
      false,
      "noise perc"};
  v[kXmInsBass] = {RenderBass(sixteenth, 31.0f), {}, 1.0, 31 + kMidiToXm, false, "bass"};
  v[kXmInsLead] = {RenderLead(sixteenth, 55.0f, false, 0.0f), {}, 0.96, 55 + kMidiToXm, false, "lead"};
  v[kXmInsLeadBright] = {
      RenderLead(sixteenth, 55.0f, false, 0.8f), {}, 0.96, 55 + kMidiToXm, false, "lead bright"};
  v[kXmInsLeadLong] = {
      RenderLead(sixteenth, 50.0f, true, 0.3f), {}, 0.96, 50 + kMidiToXm, false, "lead long"};
  float pad_midi = 43.0f;
  v[kXmInsPad] = {RenderPadLoop(pad_midi), {}, 0.98, 43 + kMidiToXm, true, "pad"};
  v[kXmInsImpact] = {RenderImpact(bar_seconds), {}, 1.01, kDrumNote, false, "impact"};
  for (int i = 0; i < kOracleVoiceCount; ++i) {
    Voice& voice = v[kXmInsVoice + i];
    if (voices[i].loaded) voice.data = voices[i].samples;
    voice.weight = 0.7 * 0.98;  // the voices' mix gain, the right side a little quieter
    voice.name = kOracleVoiceCues[i].file;
  }

  // 2. The notes of every row of the piece, channel by channel, from the arrangement.
  std::vector<Note> grid(static_cast<std::size_t>(total_rows) * kXmExportChannels);
  auto cell = [&](long row, int channel) -> Note& {
    return grid[static_cast<std::size_t>(row) * kXmExportChannels + channel];
  };
  for (long R = 0; R < total_rows; ++R) {
    const int r = static_cast<int>(R % kXmRowsPerBar);
    const double bar = static_cast<double>(R) / kXmRowsPerBar;
    const ArrangementState A = EvaluateArrangement(track, bar);
    const double mix = A.mix;
    const float duck = RowDuck(r, A.kick);
    const bool on_beat = r % 4 == 0;

    // Drums.
    if (on_beat) cell(R, kXmKick) = {kDrumNote, kXmInsKick, A.kick * mix};
    if (r == 14) {
      // The kick drops out for the second half of the last beat before a phrase ends.
      const ArrangementState late = EvaluateArrangement(track, bar + 0.01 / kXmRowsPerBar);
      if (late.fill16 > 0.28f && late.bar >= 15.0f && late.bar < 80.0f) {
        cell(R, kXmKick).effect = 0xE;
        cell(R, kXmKick).param = 0xC1;  // note cut after one tick
      }
    }
    if (r == 4 || r == 12) cell(R, kXmClap) = {kDrumNote, kXmInsClap, A.clap * (1.0f + 0.55f * A.fill) * mix};
    cell(R, kXmHat) = {kDrumNote, kXmInsHat, A.hat * mix};
    if (r % 2 == 0) {
      const int which = r % 4 == 0 ? kDrumNote : kDrumNote2;
      cell(R, kXmRide) = {which, kXmInsRide, A.ride * mix};
      cell(R, kXmPerc) = {which, kXmInsPerc, A.perc * (1.0f + 0.45f * A.fill) * mix};
    }
    if (r == 0 && A.impact > 0.0f) cell(R, kXmImpact) = {kDrumNote, kXmInsImpact, A.impact * mix};

    // Bass.
    const std::int32_t bass_step = track.bass_patterns[A.bass_pattern].steps[r];
    if (bass_step > -90 && A.bass > 0.001f) {
      const int base = (A.fill > 0.85f && r >= 12) ? 43 : 31;
      const int note = std::clamp(base + std::clamp(bass_step, -127, 127) + kMidiToXm, 1, 96);
      cell(R, kXmBass) = {note, kXmInsBass, A.bass * duck * mix};
    }

    // Lead and its echo a dotted eighth (three rows) later.
    const std::int32_t lead_step = track.lead_patterns[A.lead_pattern].steps[r];
    if (lead_step > -90 && A.lead > 0.001f) {
      const bool long_lead = A.lead_pattern == 2;
      const int base = long_lead ? 50 : 55;
      const int octave = (A.fill > 0.88f && r >= 12) ? 12 : 0;
      const int note = std::clamp(base + std::clamp(lead_step, -127, 127) + octave + kMidiToXm, 1, 96);
      const int instrument =
          long_lead ? kXmInsLeadLong : (A.lead_octave > 0.4f ? kXmInsLeadBright : kXmInsLead);
      const double gain = A.lead * duck * mix;
      cell(R, kXmLead) = {note, instrument, gain};
      const double send = (0.65 + 0.95 * A.echo) * 0.4 * A.echo;
      if (R + 3 < total_rows) cell(R + 3, kXmLeadEcho) = {note, instrument, gain * send};
    }

    // Pad: the chord's four notes at each bar's start, the ducking as per-row volumes.
    const ChordSet& chords = track.chord_sets[A.chord_set];
    const int chord = static_cast<int>(std::fmod(std::floor(A.bar / 2.0f), 4.0f));
    for (int j = 0; j < 4; ++j) {
      const double gain = A.pad * duck * mix;
      const int note = std::clamp(43 + std::clamp(chords.notes[chord * 4 + j], -127, 127) + kMidiToXm, 1, 96);
      cell(R, kXmPad + j) = {r == 0 ? note : 0, r == 0 ? kXmInsPad : 0, gain};
    }
  }
  // The spoken lines at their bars; a start between rows is delayed by whole ticks.
  for (int i = 0; i < kOracleVoiceCount; ++i) {
    const double rows = static_cast<double>(kOracleVoiceCues[i].bar) * kXmRowsPerBar;
    const long R = static_cast<long>(std::floor(rows));
    if (R >= total_rows) continue;
    const int ticks = static_cast<int>(std::lround((rows - static_cast<double>(R)) * kXmExportSpeed));
    const ArrangementState A = EvaluateArrangement(track, static_cast<double>(R) / kXmRowsPerBar);
    Note note{kDrumNote, kXmInsVoice + i, A.mix};
    if (ticks > 0) {
      note.effect = 0xE;
      note.param = 0xD0 | std::min(ticks, kXmExportSpeed - 1);  // note delay
    }
    cell(R, kXmVoice) = note;
  }

  // The kick and the spoken lines doubled on their second channels.
  for (long R = 0; R < total_rows; ++R) {
    cell(R, kXmKickLayer) = cell(R, kXmKick);
    cell(R, kXmVoiceLayer) = cell(R, kXmVoice);
  }

  // 3. Levels: each instrument's loudest note plays its sample at volume 64, all instruments in
  //    the synthesiser's balance, with one export gain that keeps the loudest (per channel)
  //    inside 16 bits.
  double loudest[kXmExportInstruments + 1] = {};
  for (long R = 0; R < total_rows; ++R) {
    for (int c = 0; c < kXmExportChannels; ++c) {
      const Note& n = cell(R, c);
      if (n.instrument > 0) loudest[n.instrument] = std::max(loudest[n.instrument], n.gain);
    }
  }
  double full_scale[kXmExportInstruments + 1] = {};  // the sample's peak, per channel
  double most = 0.0;
  for (int i = 1; i <= kXmExportInstruments; ++i) {
    const double peak = std::max(Peak(v[i].data), Peak(v[i].data2));
    const double layers = (i == kXmInsKick || i >= kXmInsVoice) ? 2.0 : 1.0;
    full_scale[i] = peak * v[i].weight * loudest[i] * kSynthGain / kPlayerScale / kChannelFullScale / layers;
    most = std::max(most, full_scale[i]);
  }
  const double export_gain = most > 0.98 ? 0.98 / most : 1.0;
  for (double& f : full_scale) f *= export_gain;

  // 4. The module.
  module = XmModule{};
  module.name = track.title.empty() ? "KESTREL" : track.title;
  module.channels = kXmExportChannels;
  module.speed = kXmExportSpeed;
  module.bpm = static_cast<int>(bpm);
  module.restart = 0;
  for (int i = 1; i <= kXmExportInstruments; ++i) {
    XmInstrument instrument;
    instrument.name = v[i].name;
    const double peak = std::max(Peak(v[i].data), Peak(v[i].data2));
    const double scale = peak > 0.0 && loudest[i] > 0.0 ? full_scale[i] / peak * 32767.0 : 0.0;
    for (const std::vector<float>* data : {&v[i].data, &v[i].data2}) {
      if (data->empty()) continue;
      XmSample s;
      s.name = v[i].name;
      s.data.resize(data->size());
      for (std::size_t k = 0; k < data->size(); ++k) {
        const double x = std::clamp(static_cast<double>((*data)[k]) * scale, -32767.0, 32767.0);
        s.data[k] = static_cast<std::int16_t>(std::lround(x));
      }
      if (v[i].loop) {
        s.loop = true;
        s.loop_start = 0;
        s.loop_length = static_cast<std::uint32_t>(s.data.size());
      }
      // A drum's second sample answers D-4 and plays at its recorded rate there.
      const int note = data == &v[i].data2 ? kDrumNote2 : v[i].base_note;
      XmTuneSample(s, kRate, note);
      instrument.samples.push_back(std::move(s));
    }
    if (instrument.samples.size() == 2) {
      instrument.keymap.assign(96, 0);
      for (int k = kDrumNote2 - 1; k < 96; ++k) instrument.keymap[k] = 1;
    }
    module.instruments.push_back(std::move(instrument));
  }

  // Bars as patterns, identical bars sharing one.
  const auto volume = [&](const Note& n, int instrument) {
    if (instrument <= 0 || loudest[instrument] <= 0.0) return 0;
    return static_cast<int>(std::lround(64.0 * n.gain / loudest[instrument]));
  };
  std::map<std::string, int> known;
  for (long b = 0; b < bar_count; ++b) {
    XmPattern pattern;
    pattern.rows = static_cast<int>(std::min<long>(kXmRowsPerBar, total_rows - b * kXmRowsPerBar));
    pattern.cells.resize(static_cast<std::size_t>(pattern.rows) * kXmExportChannels);
    for (int r = 0; r < pattern.rows; ++r) {
      const long R = b * kXmRowsPerBar + r;
      for (int c = 0; c < kXmExportChannels; ++c) {
        const Note& n = cell(R, c);
        XmCell& out = pattern.cells[static_cast<std::size_t>(r) * kXmExportChannels + c];
        out.effect = static_cast<std::uint8_t>(n.effect);
        out.param = static_cast<std::uint8_t>(n.param);
        if (n.note > 0) {
          const int vol = volume(n, n.instrument);
          if (vol <= 0) continue;
          out.note = static_cast<std::uint8_t>(n.note);
          out.instrument = static_cast<std::uint8_t>(n.instrument);
          out.volume = XmVolume(vol);
        } else if (c >= kXmPad && c < kXmPad + 4) {
          out.volume = XmVolume(volume(n, kXmInsPad));
        }
      }
    }
    std::string key(1, static_cast<char>(pattern.rows));
    for (const XmCell& c : pattern.cells) {
      for (std::uint8_t byte : {c.note, c.instrument, c.volume, c.effect, c.param})
        key.push_back(static_cast<char>(byte));
    }
    auto found = known.find(key);
    if (found == known.end()) {
      found = known.emplace(key, static_cast<int>(module.patterns.size())).first;
      module.patterns.push_back(std::move(pattern));
    }
    module.orders.push_back(static_cast<std::uint8_t>(found->second));
  }
  if (module.patterns.size() > 256) {
    error = "track needs more than 256 patterns";
    return false;
  }
  return true;
}
