#pragma once
// The director: the bar clock, the choice of scene, seeking, freezing, the finale and the MusicViz
// record that carries music and timeline to the pictures.
//
// Two layers. The free functions at the top are pure: plain values in, plain values out, no clock
// and no music source. `Director` below runs the stateful operations (seek, freeze, finale,
// restart) over the App's timeline state, reaching the music sources, the clock and the
// framebuffers only through `ShowHost`, so they can run against a fake source and a fake clock.

#include <cstdint>
#include <span>
#include <string_view>

#include "audio/audio_output.h"
#include "timeline/music_viz.h"
#include "timeline/sequence.h"

// Bar at which the finale clock takes over from the music.
constexpr float kFinaleStartBar = 116.0f;
// The sequence loop the show is written for.
constexpr float kDefaultLoopBars = 128.0f;

// ---- Pure timeline functions -------------------------------------------------------------------

// Seconds per bar of four beats: 240 / max(bpm, 1).
float SecondsPerBar(float bpm);

// The bar at which the show ends: 116 + 0.0525 * max(bpm, 1) (123.35 at 140 BPM, 12.6 s after 116).
float FinaleEnd(float bpm);

// x wrapped into [0, max(loop_bars, 1)); 0 when x is not finite.
float WrapBar(float x, float loop_bars);

// Level of the named cue at `bar`: smooth rise over fade_in bars before start, full to end, smooth
// fall over fade_out bars after end, times amount. Cues sharing a name combine by maximum; the
// result is clamped to [0, 1].
float CueLevel(std::span<const SequenceCue> cues, std::string_view name, float bar);

// Finale curves over the clock bar (not wrapped), all 0 before the finale and 1 at their end.
float MusicDuck(float clock_bar, float bpm);    // 5 to 7 s after bar 116
float FadeToBlack(float clock_bar, float bpm);  // 10.6 to 12.6 s after bar 116
float TrackerFade(float clock_bar);             // 1 - fade over bars 100 to 108
// White flash of the finale: 0.3 s rise from 7 s after bar 116, 0.3 s fall ending at 10.6 s.
float FinaleFlash(float clock_bar, float bpm);

// Index of the first section with start <= WrapBar(bar) < end, or -1.
int SectionIndexAt(std::span<const SequenceSection> sections, float loop_bars, float bar);

// The scene on screen: with the director on, the scene of the section at the bar; otherwise, or
// when no section holds the bar, the manually chosen scene.
int ActiveScene(std::span<const SequenceSection> sections, float loop_bars, bool director,
                int manual_scene, float bar);

// Time since the start of the current scene's run of sections (adjacent sections with the same
// scene count as one run), in bars and seconds. With the director off: the bar itself and the
// frame time.
struct SectionClock {
  float section_bar = 0;
  float section_time = 0;
};
SectionClock SectionRelativeTime(std::span<const SequenceSection> sections, float loop_bars,
                                 bool director, float bar, float bpm, float frame_time);

// Target of a seek: x clamped to [0, FinaleEnd(bpm)]; 0 for NaN.
float ClampSeekBar(float x, float bpm);

// Bar a freshly started source is sent to when a start bar is pending: clamp(bar_offset, 0,
// FinaleEnd(bpm)). Only used when |bar_offset| > 0.001.
float PendingStartBar(float bar_offset, float bpm);

// Section stepping from `current_bar`: backwards, the last section starting more than 0.25 bars
// before it (else the last section: wrap to the end); forwards, the first section starting more than
// 0.25 bars after it (else the first section). Without sections: 16 bars back or ahead.
float StepSectionTarget(std::span<const SequenceSection> sections, float current_bar, int direction);

// Target of the End key: the start of the last section, or loop_bars - 16 (at least 0) without
// sections.
float EndKeyTarget(std::span<const SequenceSection> sections, float loop_bars);

// Frame time of a running (not frozen) show: bar_offset in seconds + platform time + time_offset.
double FrameTime(float bar_offset, float bpm, double now, double time_offset);

// Everything BuildMusicViz reads, gathered by the caller.
struct MusicVizInputs {
  const TrackerSnapshot* snapshot = nullptr;  // the selected source's; null reads as silence
  bool playing = false;                       // the selected source plays
  float bar_offset = 0;
  float clock_bar = 0;  // ClockBar(), not wrapped
  float loop_bars = kDefaultLoopBars;
  float audio_bpm = 140;
  std::span<const SequenceCue> cues;
  bool director = true;
  int scene = 1;  // the manual scene
  bool club_stage_preview = false;
};

// The per-frame MusicViz record; section_bar, section_time and scene are left 0 for the renderer.
MusicViz BuildMusicViz(const MusicVizInputs& in);

// ---- Stateful director -------------------------------------------------------------------------

// The timeline members of the App that only the director changes.
struct DirectorState {
  bool in_finale = false;  // the finale's wall clock runs
  bool finished = false;   // the finale has ended: black until a key restarts the show
  bool frozen = false;
  bool saved_audio_enabled = false;  // audio wish at freeze time
  bool was_playing = false;          // the selected source played at freeze time
  float finale_start_bar = 0;
  float frozen_bar = 0;
  double finale_start_time = 0;  // platform seconds
  double frozen_time = 0;        // frame time held while frozen
  double time_offset = 0;        // added to platform time to form the frame time
  uint64_t frozen_frame_count = 0;
  MusicViz frozen_viz;
  TrackerSnapshot frozen_snapshot;
};

// The App's configuration and timeline as the director reads them.
struct DirectorConfig {
  std::span<const SequenceSection> sections;  // sorted by start
  std::span<const SequenceCue> cues;
  float loop_bars = kDefaultLoopBars;
  float audio_bpm = 140;
  float audio_gain = 1;
  int audio_source = 1;  // 0 module player, 1 synthesiser
  bool bench = false;
  bool has_platform = false;
  bool director = true;
  int scene = 1;
  bool club_stage_preview = false;
};

// The App's side of the director: its music sources, clock, framebuffers and audio operations.
class ShowHost {
 public:
  virtual ~ShowHost() = default;
  virtual double Now() = 0;  // platform time, seconds (asked only when a platform exists)
  virtual uint64_t FrameCount() = 0;
  // The selected source (audio_source 0: module player, 1: synthesiser).
  virtual bool SourcePlaying() = 0;
  virtual float SourceBars() = 0;  // GetPosition().bars, as reported
  virtual TrackerSnapshot SourceSnapshot() = 0;
  virtual bool SeekSource(float bar) = 0;  // synthesiser SeekToBar, module player SeekToOrder
  // Controls of the two sources, whichever is selected.
  virtual void SetSynthMasterVolume(float volume) = 0;
  virtual void SetSynthMusicLevel(float level) = 0;
  virtual void SetSynthSpeed(float speed) = 0;
  virtual void SetModuleVolume(float volume) = 0;
  // App operations.
  virtual void StopAudio() = 0;     // stop both sources
  virtual bool RestartAudio() = 0;  // stop, configure, start the selected source, seek to bar_offset
  virtual void ClearFramebuffers() = 0;  // frame, glow and trail to black
};

// One call's view of the director: the App builds it on the fly and forwards to it. `bar_offset`
// and `audio_enabled` are the App's option-backed members, shared with RestartAudio.
struct Director {
  DirectorState& state;
  const DirectorConfig& config;
  ShowHost& host;
  float& bar_offset;     // pending start bar / position while no music plays
  bool& audio_enabled;   // music wanted

  // Platform time, or 0 without a platform and in bench runs.
  double ClockNow() const;
  // The current bar, not wrapped: frozen bar, finale wall clock, music position or bar_offset.
  float ClockBar() const;
  // ClockBar() clamped to [0, FinaleEnd()].
  float SeekableBar() const;
  float FinaleEnd() const;
  // The record for this frame; the held copy while frozen.
  MusicViz BuildMusicViz() const;
  int ActiveScene(const MusicViz& mv) const;
  // Frame time for platform time `now`: the held time while frozen.
  double FrameTime(double now) const;

  bool SeekMusic(float x);
  bool StepSection(int direction);
  void UpdateFinale();  // once per frame, before rendering
  void SetFrozen(bool on);
  void RestartShow();
  // M key: start the music when the selected source is silent, else stop it.
  void ToggleMusic();

  float FadeToBlack() const;
  float MusicDuck() const;
  float TrackerFade() const;
};
