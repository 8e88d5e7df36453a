#include "audio/runtime_synth.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "render/primitives.h"

namespace {

constexpr float kTwoPi = 6.28318530717958647692f;
constexpr float kG1 = 48.999424f;  // bass frequency after a reset, Hz

// Clamp that sends NaN to the low bound, so a bad control can never reach the signal path.
float ClampControl(float x, float lo, float hi) {
  if (!(x >= lo)) return lo;
  return x > hi ? hi : x;
}

// The show's integer hash makes the noise: the same sample counter gives the same noise.
std::uint32_t U24(std::uint32_t x) { return Hash32(x) & 0xFFFFFFu; }

float Frac(double x) { return static_cast<float>(x - std::floor(x)); }

// floor(x) modulo n for x >= 0, without converting a possibly huge count to an integer type.
int FloorMod(double x, double n) { return static_cast<int>(std::fmod(std::floor(x), n)); }

float Wrap01(float phase) { return phase - std::floor(phase); }

// One-pole low-pass coefficient for a cutoff in Hz, the cutoff held inside 10 Hz ... cmax.
float OnePole(float cutoff, float cmax, float inv) {
  const float limited = std::max(std::min(cutoff, cmax), 10.0f);
  return 1.0f - std::exp(-kTwoPi * limited * inv);
}

// Pattern and chord numbers come from a text file and are not bounded there; beyond this many
// semitones the oscillators would run at infinite frequency and fill the output with NaN.
constexpr std::int32_t kMaxNoteOffset = 127;

float NoteOffset(std::int32_t note) {
  return static_cast<float>(std::clamp(note, -kMaxNoteOffset, kMaxNoteOffset));
}

std::uint64_t PackLoop(float start, float end) {
  std::uint32_t s = 0;
  std::uint32_t e = 0;
  std::memcpy(&s, &start, sizeof s);
  std::memcpy(&e, &end, sizeof e);
  return (static_cast<std::uint64_t>(s) << 32) | e;
}

void UnpackLoop(std::uint64_t packed, float& start, float& end) {
  const auto s = static_cast<std::uint32_t>(packed >> 32);
  const auto e = static_cast<std::uint32_t>(packed & 0xFFFFFFFFu);
  std::memcpy(&start, &s, sizeof start);
  std::memcpy(&end, &e, sizeof end);
}

bool LoopActive(float start, float end) { return start >= 0.0f && start < end; }

// Bars past the loop region's end play the region again.
double ApplyLoopRegion(double bars, float loop_start, float loop_end) {
  if (!LoopActive(loop_start, loop_end) || !(bars >= loop_end)) return bars;
  const double length = std::max(static_cast<double>(loop_end) - loop_start, 0.001);
  return std::fmod(bars - loop_end, length) + loop_start;
}

// The four notes of the chord in force at bar g: the chord changes every two bars and cycles
// through the four chords of the set.
int ChordInSet(float g) { return FloorMod(static_cast<double>(g) / 2.0, 4.0); }

}  // namespace

RuntimeSynth::RuntimeSynth() : loop_region_(PackLoop(-1.0f, -1.0f)) { Reload(); }

RuntimeSynth::~RuntimeSynth() { Stop(); }

void RuntimeSynth::SetPathResolver(PathResolver resolver) {
  resolver_ = std::move(resolver);
  if (!playing_) Reload();
}

void RuntimeSynth::SetFileReader(FileReader reader) {
  reader_ = std::move(reader);
  if (!playing_) Reload();
}

void RuntimeSynth::SetTrackPath(const std::string& path) {
  if (path == track_path_) return;
  track_path_ = path;
  if (!playing_) Reload();
}

void RuntimeSynth::SetTempo(float bpm) {
  if (std::isnan(bpm)) return;
  tempo_.store(std::clamp(bpm, kMinTempo, kMaxTempo), std::memory_order_relaxed);
}

void RuntimeSynth::SetMasterVolume(float volume) {
  master_volume_.store(ClampControl(volume, 0.0f, 1.0f), std::memory_order_relaxed);
}

void RuntimeSynth::SetMusicLevel(float level) {
  music_level_.store(ClampControl(level, 0.0f, 1.0f), std::memory_order_relaxed);
}

void RuntimeSynth::SetSpeed(float speed) {
  const float stored = speed > kMinSpeed ? std::min(speed, kMaxSpeed) : kMinSpeed;
  speed_.store(stored, std::memory_order_relaxed);
}

void RuntimeSynth::SetLoopRegion(float start, float end) {
  const bool valid = start >= 0.0f && start < end;
  loop_region_.store(valid ? PackLoop(start, end) : PackLoop(-1.0f, -1.0f),
                     std::memory_order_relaxed);
}

float RuntimeSynth::GetLoopStart() const {
  float start = 0.0f;
  float end = 0.0f;
  UnpackLoop(loop_region_.load(std::memory_order_relaxed), start, end);
  return start;
}

float RuntimeSynth::GetLoopEnd() const {
  float start = 0.0f;
  float end = 0.0f;
  UnpackLoop(loop_region_.load(std::memory_order_relaxed), start, end);
  return end;
}

void RuntimeSynth::Reload() {
  if (playing_) return;
  SynthTrack loaded = LoadSynthTrack(track_path_, resolver_, reader_, track_status_);
  // The loader only hands out validated or built-in tracks; the render loop indexes the first
  // pattern and chord set unconditionally, so make sure they exist.
  if (loaded.bass_patterns.empty() || loaded.lead_patterns.empty() || loaded.chord_sets.empty()) {
    loaded = MakeFallbackTrack();
  }
  track_ = std::move(loaded);
  voice_status_ = LoadOracleVoices(voices_, track_.source_path, resolver_, reader_);
}

void RuntimeSynth::PrepareEcho() {
  const auto frames = static_cast<std::size_t>(std::max(256.0, device_rate_));
  echo_left_.assign(frames, 0.0f);
  echo_right_.assign(frames, 0.0f);
}

void RuntimeSynth::ResetSound() {
  std::fill(echo_left_.begin(), echo_left_.end(), 0.0f);
  std::fill(echo_right_.begin(), echo_right_.end(), 0.0f);
  echo_write_ = 0;
  voice_ = VoiceState{};
  voice_.bass_freq = kG1;
  level_.store(0.0f, std::memory_order_relaxed);
}

bool RuntimeSynth::Start() {
  if (playing_) return true;
  Reload();

  // 1. Open the device.
  const int init_error = device_.Init(&RuntimeSynth::DeviceRender, this);
  if (init_error != 0) {
    char text[64];
    std::snprintf(text, sizeof text, "Audio init failed (%d)", init_error);
    status_ = text;
    return false;
  }

  // 2. Fresh musical state at the device's rate.
  device_rate_ = device_.SampleRate();
  PrepareEcho();
  frame_position_.store(0.0, std::memory_order_relaxed);
  sample_counter_.store(0, std::memory_order_relaxed);
  music_level_.store(1.0f, std::memory_order_relaxed);
  speed_.store(1.0f, std::memory_order_relaxed);
  ResetSound();

  // 3. Run it.
  const int start_error = device_.Start();
  if (start_error != 0) {
    char text[64];
    std::snprintf(text, sizeof text, "Audio start failed (%d)", start_error);
    status_ = text;
    device_.Uninit();
    return false;
  }
  playing_ = true;

  char bars[64];
  std::snprintf(bars, sizeof bars, "%.0f", std::trunc(static_cast<double>(track_.loop_bars)));
  status_ = std::string(bars) + "-bar runtime trance synth playing";
  if (track_.loaded) {
    status_ += ": " + track_.source_path;
  } else {
    status_ += " (" + track_status_ + ")";
  }
  if (!voice_status_.empty()) status_ += "; " + voice_status_;
  return true;
}

void RuntimeSynth::Stop() {
  device_.Uninit();
  playing_ = false;
  status_ = "Synth stopped";
}

bool RuntimeSynth::SeekToBar(float bar) {
  const bool was_playing = playing_;
  if (was_playing) device_.Stop();

  const float tempo = std::clamp(GetTempo(), kMinTempo, kMaxTempo);
  // Negative and non-finite bars seek to the start. The frame is rounded as llrint would round
  // it, without its overflow for absurdly distant bars.
  const double target_bar = std::isfinite(bar) && bar > 0.0f ? static_cast<double>(bar) : 0.0;
  const double frames = target_bar * 240.0 / tempo * device_rate_;
  frame_position_.store(std::nearbyint(frames), std::memory_order_relaxed);
  sample_counter_.store(0, std::memory_order_relaxed);
  ResetSound();

  if (!was_playing) return true;
  const int restart_error = device_.Start();
  if (restart_error != 0) {
    char text[64];
    std::snprintf(text, sizeof text, "Audio seek restart failed (%d)", restart_error);
    status_ = text;
    device_.Uninit();
    playing_ = false;
    return false;
  }
  return true;
}

MusicPosition RuntimeSynth::GetPosition() const {
  MusicPosition position;
  const float tempo = GetTempo();
  position.seconds = frame_position_.load(std::memory_order_relaxed) / device_rate_;
  position.beats = static_cast<float>(tempo * position.seconds / 60.0);
  position.bars = position.beats / 4.0f;
  position.bpm = tempo;
  position.level = level_.load(std::memory_order_relaxed);
  return position;
}

TrackerSnapshot RuntimeSynth::GetVizSnapshot() const {
  const float tempo = GetTempo();
  const double seconds = frame_position_.load(std::memory_order_relaxed) / device_rate_;
  float loop_start = 0.0f;
  float loop_end = 0.0f;
  UnpackLoop(loop_region_.load(std::memory_order_relaxed), loop_start, loop_end);
  const double bars = ApplyLoopRegion(tempo * seconds / 60.0 / 4.0, loop_start, loop_end);
  const double beats = 4.0 * bars;
  const double sixteenths = 4.0 * beats;
  const ArrangementState a = EvaluateArrangement(track_, bars);

  TrackerSnapshot snap;
  snap.source = 0;
  snap.title = track_.title;
  snap.type = track_.module_type;
  snap.position = a.bar;
  snap.beats = static_cast<float>(beats);
  snap.bpm = tempo;
  snap.step_phase = Frac(sixteenths);
  snap.kick = a.kick;
  snap.perc = a.perc;
  snap.bass = a.bass;
  snap.lead = a.lead;
  snap.pad = a.pad;
  snap.clap = a.clap;
  snap.hat = a.hat;
  snap.ride = a.ride;
  snap.impact = a.impact;
  snap.build = a.build;
  snap.fill = a.fill;
  snap.bar_index = a.bar_index;
  snap.beat = FloorMod(beats, 4.0);
  snap.step = FloorMod(sixteenths, 16.0);
  snap.bar_in_8 = a.bar_index & 7;
  snap.bass_pattern = a.bass_pattern;
  snap.lead_pattern = a.lead_pattern;
  snap.chord_set = a.chord_set;
  snap.order = a.bar_index;
  const double length = std::ceil(static_cast<double>(track_.loop_bars));
  snap.length = static_cast<std::int32_t>(std::min(length, 2147483647.0));
  snap.pattern = a.bass_pattern;
  snap.rows = 16;
  snap.channels = 7;
  snap.speed = 6;
  snap.voices = 0;
  snap.total_ms = 0;
  snap.bass_steps = track_.bass_patterns[a.bass_pattern].steps;
  snap.lead_steps = track_.lead_patterns[a.lead_pattern].steps;
  const int chord = ChordInSet(a.bar);
  for (int j = 0; j < 4; ++j) snap.chord[j] = track_.chord_sets[a.chord_set].notes[chord * 4 + j];
  return snap;
}

bool RuntimeSynth::BeginOfflineRender(double rate) {
  if (playing_) return false;
  Reload();
  device_rate_ = rate > 0.0 && std::isfinite(rate) ? rate : static_cast<double>(kAudioSampleRate);
  PrepareEcho();
  frame_position_.store(0.0, std::memory_order_relaxed);
  sample_counter_.store(0, std::memory_order_relaxed);
  music_level_.store(1.0f, std::memory_order_relaxed);
  speed_.store(1.0f, std::memory_order_relaxed);
  ResetSound();
  return true;
}

void RuntimeSynth::RenderOffline(float* out, std::uint32_t frames) {
  // The device's thread owns the sound state while it plays.
  if (playing_) {
    RenderAudioBlock(nullptr, nullptr, out, frames);
    return;
  }
  RenderBlock(out, frames);
}

void RuntimeSynth::DeviceRender(void* self, float* out, std::uint32_t frames) {
  static_cast<RuntimeSynth*>(self)->RenderBlock(out, frames);
}

void RuntimeSynth::RenderBlock(float* out, std::uint32_t frames) {
  // Controls, read once per block.
  const float T = ClampControl(tempo_.load(std::memory_order_relaxed), kMinTempo, kMaxTempo);
  const float V = ClampControl(master_volume_.load(std::memory_order_relaxed), 0.0f, 1.0f);
  const float M = ClampControl(music_level_.load(std::memory_order_relaxed), 0.0f, 1.0f);
  const float K = ClampControl(speed_.load(std::memory_order_relaxed), kMinSpeed, kMaxSpeed);
  float loop_start = 0.0f;
  float loop_end = 0.0f;
  UnpackLoop(loop_region_.load(std::memory_order_relaxed), loop_start, loop_end);
  const float p = std::max(K, 0.05f);                   // pitch factor
  const float spb = 60.0f / std::max(p * T, 8.0f);      // seconds per beat at this speed
  const double rate_d = device_rate_;
  const float rate = static_cast<float>(rate_d);
  const float inv = 1.0f / rate;
  const float cmax = 0.45f * rate;                      // highest filter cutoff, Hz

  const SynthTrack& track = track_;
  VoiceState& s = voice_;
  const std::size_t echo_frames = echo_left_.size();
  float* echo_left = echo_left_.data();
  float* echo_right = echo_right_.data();

  const double start_position = frame_position_.load(std::memory_order_relaxed);
  const std::uint64_t start_counter = sample_counter_.load(std::memory_order_relaxed);
  double sum_of_squares = 0.0;

  for (std::uint32_t i = 0; i < frames; ++i) {
    // 1. Musical time of this frame and where it falls in bar, beat and sixteenth.
    const double t = start_position + static_cast<double>(i) * K;
    const long long m = std::llrint(t);
    const double bars = ApplyLoopRegion(t / rate_d * T / 240.0, loop_start, loop_end);
    const double beats = 4.0 * bars;
    const double beat_floor = std::floor(beats);
    const int beat = FloorMod(beats, 4.0);
    const float beat_phase = static_cast<float>(beats - beat_floor);
    const double sixteenths = 4.0 * beats;
    const double sixteenth_floor = std::floor(sixteenths);
    const int step = FloorMod(sixteenths, 16.0);
    const float step_phase = static_cast<float>(sixteenths - sixteenth_floor);

    const ArrangementState A = EvaluateArrangement(track, bars);
    const float g = A.bar;

    // Sidechain: bass, lead and pad duck under each kick.
    const float duck = 1.0f - std::exp(-6.5f * beat_phase) * A.kick * 0.55f;

    // 2. Noise, with a one-pole low-pass split off so the voices get its bright part.
    const auto c = static_cast<std::uint32_t>(start_counter + i);
    const float noise = static_cast<float>(U24(c * 1664525u + 1013904223u)) * 0x1p-24f - 0.5f +
                        static_cast<float>(U24(c * 22695477u + 1u)) * 0x1p-24f - 0.5f;
    s.noise_lp += (noise - s.noise_lp) * 0.12f;
    const float hp = noise - s.noise_lp;

    // 3. Kick: a sine swept from 196 Hz down to 46 Hz with a noise click; it drops out for the
    // second half of the last beat before the phrase ends from bar 15 to bar 80.
    const float kt = beat_phase * spb;  // seconds since the beat
    const bool kick_gap =
        A.fill16 > 0.28f && beat == 3 && beat_phase > 0.5f && g >= 15.0f && g < 80.0f;
    float kick = 0.0f;
    if (kt < 0.42f && !kick_gap) {
      const float cycles = ((1.0f - std::exp(-28.0f * kt)) * 5.357142857142857f + 46.0f * kt) * p;
      const float body = std::sin(kTwoPi * cycles) * std::exp(-9.5f * kt) * 0.95f;
      const auto click_seed = static_cast<std::uint32_t>(3 * static_cast<std::uint64_t>(m) + 17);
      const float click = std::exp(-90.0f * kt) *
                          (static_cast<float>(U24(click_seed)) * 5.3644187e-9f - 0.045f);
      kick = (body + click) * A.kick;
    }

    // 4. Noise percussion.
    const double eighths = 8.0 * bars;
    const float e8 = std::exp(-18.0f * spb * Frac(eighths));
    const float eo = std::exp(-13.0f * spb * Frac(beats + 0.5));  // offbeats
    const float e16 = std::exp(-12.0f * spb * step_phase);
    const bool odd_eighth = FloorMod(eighths, 2.0) != 0;
    const float q = odd_eighth ? 0.115f : 0.0713f;
    const float perc = (q * e8 + 0.036f * eo) * hp * A.perc * (1.0f + 0.45f * A.fill);
    const float hat = e16 * hp * A.hat;
    const float ride = (0.1f * e8 + 0.144f * eo) * hp * A.ride;
    float clap = 0.0f;
    if (beat == 1 || beat == 3) {
      clap = std::exp(-18.0f * beat_phase) * hp * A.clap * (1.0f + 0.55f * A.fill);
    }
    const float roll_rate = 2.0f + 14.0f * A.build;  // repeats per beat
    const float roll = std::exp(-19.0f * Frac(roll_rate * beats) * spb / roll_rate) * hp *
                       A.build * 0.14f;
    const float impact = A.impact * (0.2f * std::sin(kTwoPi * 92.0f * A.bar_phase) + 0.075f * hp);

    // 5. Bass: a gliding saw through two one-pole filters.
    float bass = 0.0f;
    {
      const std::int32_t note = track.bass_patterns[A.bass_pattern].steps[step];
      const float gate = A.bass_pattern == 1 ? 0.88f : 0.82f;
      if (!IsRest(note) && step_phase < gate && A.bass > 0.001f) {
        const float base = (A.fill > 0.85f && step >= 12) ? 43.0f : 31.0f;
        const float target = std::exp2((NoteOffset(note) + base - 69.0f) / 12.0f) * 440.0f * p;
        s.bass_freq += (target - s.bass_freq) * 0.045f;
        const float env = std::exp(-3.3f * step_phase) - std::exp(-33.3f * step_phase);
        s.bass_phase = Wrap01(s.bass_phase + s.bass_freq * inv);
        const float osc = 1.5f * s.bass_phase - 0.5f;
        const float sweep = (std::sin(kTwoPi * g / 8.0f) + 1.0f) * 0.5f *
                            (180.0f + 260.0f * A.bass_cutoff);
        const float cutoff = sweep + (900.0f + 850.0f * A.bass_cutoff) * env + 110.0f;
        const float k = OnePole(cutoff, cmax, inv);
        s.bass_y1 += (osc - s.bass_y1) * k;
        s.bass_y2 += (s.bass_y1 - s.bass_y2) * std::min(1.35f * k, 1.0f);
        bass = (s.bass_y1 - 0.25f * s.bass_y2) * env * 0.36f * duck * A.bass;
      } else {
        // Rest: the oscillator keeps running so the next note starts in phase with the glide.
        s.bass_phase = Wrap01(s.bass_phase + p * s.bass_freq * inv);
        s.bass_y1 *= 0.995f;
        s.bass_y2 *= 0.995f;
      }
    }

    // 6. Lead: five detuned saws (-13, -6, 0, +7, +14 cents) plus an octave-up layer.
    float lead = 0.0f;
    {
      static constexpr float kDetune[5] = {440.0f * 0.992519f, 438.47772f, 440.0f, 441.78268f,
                                           443.57257f};
      const std::int32_t note = track.lead_patterns[A.lead_pattern].steps[step];
      const bool long_lead = A.lead_pattern == 2;
      const float gate = long_lead ? 0.94f : 0.72f;
      if (!IsRest(note) && step_phase < gate && A.lead > 0.001f) {
        const float d = long_lead ? -0.9f : -2.2f;
        const float env = std::exp(d * step_phase) - std::exp(d * step_phase - 22.0f * step_phase);
        const float base = long_lead ? 50.0f : 55.0f;
        const float octave = (A.fill > 0.88f && step >= 12) ? 12.0f : 0.0f;
        const float r = std::exp2((NoteOffset(note) + base + octave - 69.0f) / 12.0f);
        float saws = 0.0f;
        float octave_saws = 0.0f;
        for (int o = 0; o < 5; ++o) {
          const float frequency = r * p * kDetune[o];
          s.lead_phase[o] = Wrap01(s.lead_phase[o] + frequency * inv);
          saws += 2.0f * s.lead_phase[o] - 1.0f;
          octave_saws += 2.0f * Wrap01(2.0f * s.lead_phase[o]) - 1.0f;
        }
        const float osc = 0.2f * saws + 0.2f * 0.42f * A.lead_octave * octave_saws;
        const float cutoff = (1900.0f + 2600.0f * A.lead_cutoff) * env + 900.0f;
        const float k = OnePole(cutoff, cmax, inv);
        s.lead_y += (osc - s.lead_y) * k;
        lead = env * s.lead_y * 0.21f * duck * A.lead;
      } else {
        const float idle_step = p * 195.9977f * inv;
        for (int o = 0; o < 5; ++o) s.lead_phase[o] = Wrap01(s.lead_phase[o] + idle_step);
        s.lead_y *= 0.992f;
      }
    }

    // 7. Pad: the four notes of the current chord, two detuned oscillators each (-5 and +6
    // cents around G2), gliding slowly into each new chord.
    float pad = 0.0f;
    {
      const ChordSet& chords = track.chord_sets[A.chord_set];
      const int chord = ChordInSet(g);
      float sum = 0.0f;
      for (int j = 0; j < 4; ++j) {
        const float n = NoteOffset(chords.notes[chord * 4 + j]) / 12.0f;
        const float targets[2] = {std::exp2(n - 2.1708333f) * 440.0f * p,
                                  std::exp2(n - 2.1616666f) * 440.0f * p};
        for (int o = 0; o < 2; ++o) {
          float& frequency = s.pad_freq[j][o];
          if (frequency <= 0.0f) {
            frequency = targets[o];
          } else {
            frequency += (targets[o] - frequency) * 0.0005f;
          }
          float& phase = s.pad_phase[j][o];
          phase = Wrap01(phase + frequency * inv);
          sum += 1.3f * phase - 0.65f + 0.35f * std::sin(kTwoPi * phase);
        }
      }
      const float cutoff = 480.0f + 120.0f * std::sin(kTwoPi * g / 16.0f) + 920.0f * A.pad_cutoff;
      const float k = OnePole(cutoff, cmax, inv);
      s.pad_y += (0.125f * sum - s.pad_y) * k;
      pad = s.pad_y * 0.145f * duck * A.pad;
    }

    // 8. Echo: a dotted eighth with feedback, the right line a little quieter.
    float echo_l = 0.0f;
    float echo_r = 0.0f;
    if (echo_frames > 1) {
      const std::size_t n = echo_frames;
      const float delay_frames = spb * rate * 0.75f;
      const std::size_t d = std::clamp(static_cast<std::size_t>(delay_frames), std::size_t{1}, n - 1);
      const std::size_t j = (echo_write_ + n - d) % n;
      echo_l = echo_left[j];
      echo_r = echo_right[j];
      const float input = pad * A.echo * 0.18f + lead * (0.65f + 0.95f * A.echo);
      const float feedback = 0.28f + 0.13f * A.echo;
      echo_left[echo_write_] = feedback * echo_l + input;
      echo_right[echo_write_] = feedback * echo_r + 0.88f * input;
      echo_write_ = (echo_write_ + 1) % n;
    }

    // 9. Oracle voice at this bar of the loop.
    const float v = MixOracleVoices(voices_, g, T);

    // 10. Mix, gain and soft clip.
    const float l_sum = kick + impact + 0.92f * perc + 0.06375f * hat + roll + clap + 0.86f * ride +
                        lead + pad + bass + 0.4f * A.echo * echo_l;
    const float r_sum = kick + 1.02f * impact + 1.08f * perc + 0.08625f * hat + 0.94f * roll +
                        0.96f * (pad + clap) + 1.14f * ride + 0.92f * lead + bass +
                        0.4f * A.echo * echo_r;
    const float left = (l_sum * M + v) * V * A.mix * 2.4f;
    const float right = (r_sum * M + 0.96f * v) * V * A.mix * 2.4f;
    const float out_l = SoftClip(left);
    const float out_r = SoftClip(right);
    out[2 * i] = out_l;
    out[2 * i + 1] = out_r;
    sum_of_squares += 0.5 * static_cast<double>(out_l) * out_l +
                      0.5 * static_cast<double>(out_r) * out_r;
  }

  // Publish the block.
  frame_position_.store(start_position + static_cast<double>(frames) * K,
                        std::memory_order_relaxed);
  sample_counter_.store(start_counter + frames, std::memory_order_relaxed);
  const float level = level_.load(std::memory_order_relaxed);
  level_.store(SmoothLevel(level, sum_of_squares, frames), std::memory_order_relaxed);
}
