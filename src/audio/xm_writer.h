#pragma once
// A FastTracker 2 extended module (XM, version 1.04) as plain records, and the bytes of its
// file. Used by the module export tool and by tests that need small modules of a known shape.

#include <cstdint>
#include <string>
#include <vector>

// One cell of a pattern. Zero fields are left out of the packed file.
struct XmCell {
  std::uint8_t note = 0;        // 1 = C-0 ... 96 = B-7, 97 = key off, 0 = none
  std::uint8_t instrument = 0;  // 1-based, 0 = none
  std::uint8_t volume = 0;      // volume column: 0x10 + 0 ... 64 sets the volume, 0 = none
  std::uint8_t effect = 0;
  std::uint8_t param = 0;
};

constexpr std::uint8_t kXmKeyOff = 97;
constexpr std::uint8_t XmVolume(int v) {
  return static_cast<std::uint8_t>(0x10 + (v < 0 ? 0 : (v > 64 ? 64 : v)));
}

struct XmPattern {
  int rows = 64;
  std::vector<XmCell> cells;  // rows x channels, row-major
};

struct XmSample {
  std::string name;
  std::vector<std::int16_t> data;
  bool loop = false;              // forward loop over [loop_start, loop_start + loop_length)
  std::uint32_t loop_start = 0;   // frames
  std::uint32_t loop_length = 0;  // frames
  int volume = 64;
  int finetune = 0;       // -128 ... 127, 1/128 semitone
  int relative_note = 0;  // semitones; with finetune sets the sample's playback rate
  int panning = 128;
};

struct XmInstrument {
  std::string name;
  std::vector<XmSample> samples;
  std::vector<std::uint8_t> keymap;  // 96 entries, sample index per note; empty: all sample 0
};

struct XmModule {
  std::string name;
  std::string tracker = "kestrel_xm_export";
  int channels = 8;
  int speed = 6;    // ticks per row
  int bpm = 125;    // a tick lasts 2.5 / bpm seconds
  int restart = 0;  // order the song loops back to
  bool linear_frequencies = true;
  std::vector<std::uint8_t> orders;
  std::vector<XmPattern> patterns;
  std::vector<XmInstrument> instruments;
};

// The file's bytes. Names longer than their fields are cut; sample data is delta-coded as the
// format wants.
std::vector<std::uint8_t> WriteXm(const XmModule& module);

// Relative note and finetune that make a sample recorded at `sample_rate` play at that rate
// (unchanged pitch) when triggered with XM note `note`, with linear frequencies.
void XmTuneSample(XmSample& sample, double sample_rate, int note);
