#pragma once
// Turns the synth track into a FastTracker 2 module: the synthesiser's voices rendered into
// instruments, the arrangement's bars as orders (one order = one bar of 16 rows, identical bars
// sharing a pattern), speed 6 and the track's tempo as the module's BPM so an order lasts exactly
// one bar, and the arrangement's levels as note volumes.
//
// What a module cannot carry is approximated: the filters are baked into the rendered samples
// at a typical cutoff (the lead has a plain, a bright octave-layered and a long variant, chosen
// per note by the arrangement), the sidechain ducking under the kick becomes per-row volumes, the
// echo becomes a quieter copy of each lead note a dotted eighth later on its own channel, and
// the slow pad glide and the noise roll before drops are left out. One channel of the module can
// reach only a fraction of the synthesiser's level before its soft clip, so the whole mix is
// scaled down to fit the kick; the kick and the spoken lines play on two channels each, which
// halves that loss.

#include <cstdint>
#include <string>
#include <vector>

#include "audio/oracle_voice.h"
#include "audio/synth_track.h"
#include "audio/xm_writer.h"

// Channels of the exported module. The first seven follow the tracker display's reading of a
// module (bass = channel 0 + half of channel 1, lead = 2 + half of 3, clap 4, hat 5, ride 6).
enum XmExportChannel : int {
  kXmBass = 0,
  kXmKick = 1,
  kXmLead = 2,
  kXmLeadEcho = 3,
  kXmClap = 4,
  kXmHat = 5,
  kXmRide = 6,
  kXmPerc = 7,
  kXmPad = 8,  // 8 ... 11: the four notes of the chord
  kXmVoice = 12,
  kXmImpact = 13,
  kXmKickLayer = 14,   // the kick again: one channel cannot play it as loud as the synthesiser
  kXmVoiceLayer = 15,  // the spoken lines again, likewise
  kXmExportChannels = 16,
};

// Instruments, 1-based as patterns name them.
enum XmExportInstrument : int {
  kXmInsKick = 1,
  kXmInsClap,
  kXmInsHat,
  kXmInsRide,
  kXmInsPerc,
  kXmInsBass,
  kXmInsLead,
  kXmInsLeadBright,
  kXmInsLeadLong,
  kXmInsPad,
  kXmInsImpact,
  kXmInsVoice,  // ... + 7: the eight oracle lines
  kXmExportInstruments = kXmInsVoice + kOracleVoiceCount - 1,
};

constexpr int kXmRowsPerBar = 16;  // one row per sixteenth note
constexpr int kXmExportSpeed = 6;  // ticks per row: with the tempo as BPM a row is a sixteenth

// Tempos the export accepts: whole beats per minute the synthesiser can play.
bool XmExportTempoValid(float bpm);

// The module of `track` at `bpm` with the spoken lines of `voices`. False with `error` set when
// the track does not fit a module (more than 256 bars) or the tempo is not valid.
bool ExportSynthTrackToXm(const SynthTrack& track, const OracleVoiceSet& voices, float bpm, XmModule& module,
                          std::string& error);
