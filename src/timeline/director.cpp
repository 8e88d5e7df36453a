#include "timeline/director.h"

#include <algorithm>
#include <cmath>

namespace {

float Clamp01(float x) {
  if (!std::isfinite(x)) return 0.0f;
  return std::min(std::max(x, 0.0f), 1.0f);
}

// Smoothstep after clamping to [0, 1].
float Smooth(float t) {
  const float x = std::min(std::max(t, 0.0f), 1.0f);
  return x * x * (3.0f - 2.0f * x);
}

float Tempo(float bpm) { return std::max(bpm, 1.0f); }

}  // namespace

// ---- Pure timeline functions -------------------------------------------------------------------

float SecondsPerBar(float bpm) { return 240.0f / Tempo(bpm); }

float FinaleEnd(float bpm) { return kFinaleStartBar + 0.0525f * Tempo(bpm); }

float WrapBar(float x, float loop_bars) {
  if (!std::isfinite(x)) return 0.0f;
  const float length = std::max(loop_bars, 1.0f);
  float wrapped = std::fmod(x, length);
  if (wrapped < 0.0f) wrapped += length;
  // fmod of a tiny negative value plus the length rounds up to the length itself.
  if (wrapped >= length) wrapped = 0.0f;
  return wrapped;
}

float CueLevel(std::span<const SequenceCue> cues, std::string_view name, float bar) {
  float best = 0.0f;
  for (const SequenceCue& cue : cues) {
    if (cue.name != name) continue;
    const float s = cue.start;
    const float e = cue.end;
    const float fi = cue.fade_in;
    const float fo = cue.fade_out;
    if (!(s - fi <= bar && bar <= e + fo)) continue;
    const float rise = fi > 0.0f ? Smooth(Clamp01((bar - (s - fi)) / fi)) : (bar >= s ? 1.0f : 0.0f);
    const float fall = fo > 0.0f ? 1.0f - Smooth(Clamp01((bar - e) / fo)) : (bar >= e ? 0.0f : 1.0f);
    best = std::max(best, rise * cue.amount * fall);
  }
  return Clamp01(best);
}

float MusicDuck(float clock_bar, float bpm) {
  const float b = Tempo(bpm);
  const float duck_start = kFinaleStartBar + b / 48.0f;
  const float duck_length = b / 120.0f;
  return Smooth(Clamp01((clock_bar - duck_start) / duck_length));
}

float FadeToBlack(float clock_bar, float bpm) {
  const float b = Tempo(bpm);
  const float fade_start = kFinaleStartBar + 0.015f * b + b / 48.0f + b / 120.0f;
  const float fade_length = b / 120.0f;
  return Smooth(Clamp01((clock_bar - fade_start) / fade_length));
}

float TrackerFade(float clock_bar) { return 1.0f - Smooth(Clamp01((clock_bar - 100.0f) * 0.125f)); }

float FinaleFlash(float clock_bar, float bpm) {
  const float b = Tempo(bpm);
  const float a0 = kFinaleStartBar + 0.029166669f * b;
  const float a1 = kFinaleStartBar + 0.015000001f * b + 0.029166669f * b;
  const float edge = 0.00125f * b;  // 0.3 s in bars
  const float x = Clamp01((clock_bar - (a1 - edge)) / edge);
  const float y = Clamp01((clock_bar - a0) / edge);
  return (1.0f - Smooth(x)) * Smooth(y);
}

int SectionIndexAt(std::span<const SequenceSection> sections, float loop_bars, float bar) {
  const float wrapped = WrapBar(bar, loop_bars);
  for (size_t i = 0; i < sections.size(); ++i) {
    if (sections[i].start <= wrapped && wrapped < sections[i].end) return static_cast<int>(i);
  }
  return -1;
}

int ActiveScene(std::span<const SequenceSection> sections, float loop_bars, bool director,
                int manual_scene, float bar) {
  if (!director) return manual_scene;
  const int index = SectionIndexAt(sections, loop_bars, bar);
  return index >= 0 ? sections[index].scene : manual_scene;
}

SectionClock SectionRelativeTime(std::span<const SequenceSection> sections, float loop_bars,
                                 bool director, float bar, float bpm, float frame_time) {
  if (!director) return {bar, frame_time};
  const float wrapped = WrapBar(bar, loop_bars);
  const int index = SectionIndexAt(sections, loop_bars, bar);
  float run_start = wrapped;  // outside every section the clock reads 0
  if (index >= 0) {
    // Walk back over the run of adjacent sections that show the same scene.
    int first = index;
    while (first > 0 && sections[first - 1].scene == sections[first].scene &&
           std::fabs(sections[first - 1].end - sections[first].start) <= 0.001f) {
      --first;
    }
    run_start = sections[first].start;
  }
  float section_bar = wrapped - run_start;
  if (section_bar < 0.0f) section_bar += std::max(loop_bars, 1.0f);
  return {section_bar, section_bar * SecondsPerBar(bpm)};
}

float ClampSeekBar(float x, float bpm) {
  // A NaN target would pass both limits and stop the clock on NaN.
  if (std::isnan(x)) return 0.0f;
  return std::max(std::min(x, FinaleEnd(bpm)), 0.0f);
}

float PendingStartBar(float bar_offset, float bpm) {
  return std::clamp(bar_offset, 0.0f, FinaleEnd(bpm));
}

float StepSectionTarget(std::span<const SequenceSection> sections, float current_bar, int direction) {
  if (sections.empty()) return direction < 0 ? current_bar - 16.0f : current_bar + 16.0f;
  // The margin keeps a press from landing on the section the clock has just entered.
  constexpr float kMargin = 0.25f;
  if (direction < 0) {
    for (size_t i = sections.size(); i-- > 0;) {
      if (sections[i].start < current_bar - kMargin) return sections[i].start;
    }
    return sections.back().start;
  }
  for (const SequenceSection& section : sections) {
    if (section.start > current_bar + kMargin) return section.start;
  }
  return sections.front().start;
}

float EndKeyTarget(std::span<const SequenceSection> sections, float loop_bars) {
  if (!sections.empty()) return sections.back().start;
  return std::max(loop_bars - 16.0f, 0.0f);
}

double FrameTime(float bar_offset, float bpm, double now, double time_offset) {
  return static_cast<double>(bar_offset) * 240.0 / static_cast<double>(Tempo(bpm)) + now + time_offset;
}

MusicViz BuildMusicViz(const MusicVizInputs& in) {
  static const TrackerSnapshot kSilence{};
  const TrackerSnapshot& snap = in.snapshot != nullptr ? *in.snapshot : kSilence;

  // Position on the loop. Past the end of the loop the bar holds just short of it.
  float raw = in.bar_offset;
  if (in.playing) raw += snap.position;
  if (in.clock_bar >= in.loop_bars) raw = std::max(in.loop_bars - 0.001f, 0.0f);

  MusicViz mv{};
  mv.active = in.playing || std::fabs(in.bar_offset) > 0.001f;
  mv.bar = WrapBar(raw, in.loop_bars);
  mv.beat = std::isfinite(snap.beats) ? snap.beats : 0.0f;
  mv.step_phase = Clamp01(snap.step_phase);

  // Instrument levels.
  mv.kick = Clamp01(snap.kick);
  mv.perc = Clamp01(snap.perc);
  mv.bass = Clamp01(snap.bass);
  mv.lead = Clamp01(snap.lead);
  mv.pad = Clamp01(snap.pad);
  mv.clap = Clamp01(snap.clap);
  mv.hat = Clamp01(snap.hat);
  mv.ride = Clamp01(snap.ride);
  mv.impact = Clamp01(snap.impact);
  mv.build = Clamp01(snap.build);
  mv.fill = Clamp01(snap.fill);
  mv.energy = Clamp01(0.28f * mv.kick + 0.1f * mv.perc + 0.18f * (mv.bass + mv.lead) + 0.3f * mv.fill +
                      0.45f * mv.build + 0.7f * mv.impact);

  // Timeline cues.
  const float bar = mv.bar;
  mv.cue_intro = CueLevel(in.cues, "intro", bar);
  mv.cue_title = CueLevel(in.cues, "title", bar);
  mv.cue_beams = CueLevel(in.cues, "beams", bar);
  mv.cue_scan = CueLevel(in.cues, "scan", bar);
  mv.cue_nova = CueLevel(in.cues, "nova", bar);
  mv.cue_veil = CueLevel(in.cues, "veil", bar);
  mv.cue_reveal = CueLevel(in.cues, "reveal", bar);
  mv.cue_greets = CueLevel(in.cues, "greets", bar);
  const float club = CueLevel(in.cues, "club", bar);
  mv.cue_club = std::max({club, mv.cue_reveal, 0.92f * mv.cue_greets});
  // The club look previewed by hand on the arena.
  if (in.club_stage_preview && !in.director && in.scene == 2) mv.cue_club = std::max(mv.cue_club, 1.0f);
  mv.cue_finale = CueLevel(in.cues, "finale", bar);

  mv.finale_flash = FinaleFlash(in.clock_bar, in.audio_bpm);
  mv.bar_index = static_cast<int32_t>(std::floor(mv.bar));
  return mv;
}

// ---- Stateful director -------------------------------------------------------------------------

double Director::ClockNow() const {
  return config.has_platform && !config.bench ? host.Now() : 0.0;
}

float Director::FinaleEnd() const { return ::FinaleEnd(config.audio_bpm); }

float Director::ClockBar() const {
  if (state.frozen) return state.frozen_bar;
  if (state.in_finale && config.has_platform && !config.bench) {
    const double elapsed = std::max(host.Now() - state.finale_start_time, 0.0);
    const double bars = static_cast<double>(Tempo(config.audio_bpm)) * elapsed / 240.0;
    return static_cast<float>(bars + static_cast<double>(state.finale_start_bar));
  }
  if (host.SourcePlaying()) {
    const float position = host.SourceBars();
    return (std::isfinite(position) ? position : 0.0f) + bar_offset;
  }
  // Without music the clock stands at the pending position.
  return bar_offset;
}

float Director::SeekableBar() const { return std::clamp(ClockBar(), 0.0f, FinaleEnd()); }

MusicViz Director::BuildMusicViz() const {
  if (state.frozen) return state.frozen_viz;
  const TrackerSnapshot snap = host.SourceSnapshot();
  MusicVizInputs in;
  in.snapshot = &snap;
  in.playing = host.SourcePlaying();
  in.bar_offset = bar_offset;
  in.clock_bar = ClockBar();
  in.loop_bars = config.loop_bars;
  in.audio_bpm = config.audio_bpm;
  in.cues = config.cues;
  in.director = config.director;
  in.scene = config.scene;
  in.club_stage_preview = config.club_stage_preview;
  return ::BuildMusicViz(in);
}

int Director::ActiveScene(const MusicViz& mv) const {
  return ::ActiveScene(config.sections, config.loop_bars, config.director, config.scene, mv.bar);
}

double Director::FrameTime(double now) const {
  if (state.frozen) return state.frozen_time;
  return ::FrameTime(bar_offset, config.audio_bpm, now, state.time_offset);
}

bool Director::SeekMusic(float x) {
  const float target = ClampSeekBar(x, config.audio_bpm);

  // Move the music, or remember the bar for the next start.
  bool ok = true;
  if (host.SourcePlaying()) {
    ok = host.SeekSource(target);
    if (ok) bar_offset = 0.0f;
  } else {
    bar_offset = target;
  }

  // The finale clock restarts at the target; seeking below 116 leaves the finale.
  state.finale_start_bar = target;
  state.in_finale = target >= kFinaleStartBar;
  state.finale_start_time = ClockNow();
  if (target < FinaleEnd()) state.finished = false;

  // Undo the finale's tape stop and fade.
  if (target < kFinaleStartBar) {
    host.SetSynthMusicLevel(1.0f);
    host.SetSynthSpeed(1.0f);
    if (config.audio_source == 0) host.SetModuleVolume(config.audio_gain);
  }
  if (ok) host.ClearFramebuffers();
  return ok;
}

bool Director::StepSection(int direction) {
  return SeekMusic(StepSectionTarget(config.sections, SeekableBar(), direction));
}

void Director::UpdateFinale() {
  if (state.frozen || state.finished) return;

  // Start the finale's wall clock where the music crossed bar 116.
  const float clock = ClockBar();
  if (!state.in_finale && clock >= kFinaleStartBar) {
    state.finale_start_bar = clock;
    state.in_finale = true;
    state.finale_start_time = ClockNow();
  }

  // Tape stop: the music slows down and fades (the configured volume long before bar 116).
  const float duck = MusicDuck();
  if (config.audio_source == 0) {
    const float fade = FadeToBlack();
    host.SetModuleVolume(Clamp01((1.0f - duck) * config.audio_gain * (1.0f - fade)));
  } else {
    host.SetSynthMasterVolume(config.audio_gain);
    host.SetSynthMusicLevel(1.0f - duck);
    host.SetSynthSpeed(1.0f - 0.94f * duck);
  }

  // The end of the show.
  if (ClockBar() >= FinaleEnd()) {
    state.finished = true;
    host.StopAudio();
    bar_offset = 0.0f;
    host.ClearFramebuffers();
  }
}

void Director::SetFrozen(bool on) {
  if (on == state.frozen) return;
  const float spb = SecondsPerBar(config.audio_bpm);
  if (on) {
    // Capture the frame time, the bar, the counter and the music record of this instant.
    const double now = ClockNow();
    state.frozen_frame_count = host.FrameCount();
    state.frozen_time = static_cast<double>(bar_offset) * spb + now + state.time_offset;
    state.frozen_bar = SeekableBar();
    state.frozen_snapshot = host.SourceSnapshot();
    state.frozen_viz = BuildMusicViz();
    state.saved_audio_enabled = audio_enabled;
    state.was_playing = host.SourcePlaying();
    state.frozen = true;
    if (state.was_playing) host.StopAudio();
    return;
  }

  // Resume the music at the held bar, then continue the frame time where it stopped.
  state.frozen = false;
  SeekMusic(state.frozen_bar);
  audio_enabled = state.saved_audio_enabled;
  if (state.was_playing && !config.bench) {
    audio_enabled = true;
    if (!host.RestartAudio()) audio_enabled = false;
  }
  const double now = ClockNow();
  state.time_offset = state.frozen_time - static_cast<double>(bar_offset) * spb - now;
}

void Director::RestartShow() {
  state.frozen = false;
  state.finale_start_time = 0.0;
  bar_offset = 0.0f;
  state.finale_start_bar = 0.0f;
  state.finished = false;
  state.in_finale = false;
  host.ClearFramebuffers();
  host.SetSynthMusicLevel(1.0f);
  host.SetSynthSpeed(1.0f);
  if (!audio_enabled || config.bench) return;
  if (!host.SourcePlaying()) {
    if (!host.RestartAudio()) audio_enabled = false;
  } else {
    SeekMusic(0.0f);
  }
}

void Director::ToggleMusic() {
  if (!host.SourcePlaying()) {
    audio_enabled = true;
    if (!host.RestartAudio()) audio_enabled = false;
  } else {
    // Without music the clock stands at the pending bar, and starting the music used it up: hand
    // the current position back to it first, so that muting holds the picture where the music was
    // (instead of jumping to bar 0) and turning the music on again resumes there.
    bar_offset = SeekableBar();
    host.StopAudio();
    audio_enabled = false;
  }
}

float Director::FadeToBlack() const { return ::FadeToBlack(ClockBar(), config.audio_bpm); }

float Director::MusicDuck() const { return ::MusicDuck(ClockBar(), config.audio_bpm); }

float Director::TrackerFade() const { return ::TrackerFade(ClockBar()); }
