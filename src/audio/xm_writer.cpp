#include "audio/xm_writer.h"

#include <algorithm>
#include <cmath>

namespace {

// XM's reference rate: a sample with relative note 0 and finetune 0 plays C-4 (note 49) at this
// many frames per second.
constexpr double kC4Rate = 8363.0;
constexpr int kC4Note = 49;

constexpr std::uint32_t kHeaderSize = 276;            // from the header size field to the orders' end
constexpr std::uint32_t kInstrumentHeaderSize = 263;  // FastTracker 2 writes this with samples
constexpr std::uint32_t kSampleHeaderSize = 40;

void Put8(std::vector<std::uint8_t>& out, int v) {
  out.push_back(static_cast<std::uint8_t>(v));
}

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// A fixed-size text field, padded with zeros (FastTracker 2 pads with spaces or zeros).
void PutText(std::vector<std::uint8_t>& out, const std::string& text, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) Put8(out, i < text.size() ? text[i] : 0);
}

// Packed pattern data: a cell with every field present is written whole; otherwise a flag byte
// (0x80 | one bit per present field) precedes the fields it names.
void PutPatternData(std::vector<std::uint8_t>& out, const XmPattern& pattern) {
  for (const XmCell& c : pattern.cells) {
    const std::uint8_t fields[5] = {c.note, c.instrument, c.volume, c.effect, c.param};
    int flags = 0;
    for (int i = 0; i < 5; ++i) {
      if (fields[i] != 0) flags |= 1 << i;
    }
    if (flags == 0x1F) {
      for (std::uint8_t f : fields) Put8(out, f);
      continue;
    }
    Put8(out, 0x80 | flags);
    for (int i = 0; i < 5; ++i) {
      if (fields[i] != 0) Put8(out, fields[i]);
    }
  }
}

void PutSampleHeader(std::vector<std::uint8_t>& out, const XmSample& s) {
  const std::uint32_t frames = static_cast<std::uint32_t>(s.data.size());
  const std::uint32_t loop_start = s.loop ? std::min(s.loop_start, frames) : 0;
  const std::uint32_t loop_length = s.loop ? std::min(s.loop_length, frames - loop_start) : 0;
  // Lengths are in bytes for 16-bit samples.
  Put32(out, frames * 2);
  Put32(out, loop_start * 2);
  Put32(out, loop_length * 2);
  Put8(out, std::clamp(s.volume, 0, 64));
  Put8(out, static_cast<std::int8_t>(std::clamp(s.finetune, -128, 127)));
  const int loop_type = s.loop && loop_length > 0 ? 1 : 0;
  Put8(out, loop_type | 0x10);  // 0x10: 16-bit
  Put8(out, std::clamp(s.panning, 0, 255));
  Put8(out, static_cast<std::int8_t>(std::clamp(s.relative_note, -96, 95)));
  Put8(out, 0);  // reserved
  PutText(out, s.name, 22);
}

void PutSampleData(std::vector<std::uint8_t>& out, const XmSample& s) {
  std::int16_t previous = 0;
  for (std::int16_t v : s.data) {
    const auto delta =
        static_cast<std::uint16_t>(static_cast<std::uint16_t>(v) - static_cast<std::uint16_t>(previous));
    Put16(out, delta);
    previous = v;
  }
}

void PutInstrument(std::vector<std::uint8_t>& out, const XmInstrument& in) {
  const std::size_t count = std::min<std::size_t>(in.samples.size(), 16);
  if (count == 0) {
    Put32(out, 29);
    PutText(out, in.name, 22);
    Put8(out, 0);
    Put16(out, 0);
    return;
  }
  const std::size_t start = out.size();
  Put32(out, kInstrumentHeaderSize);
  PutText(out, in.name, 22);
  Put8(out, 0);  // type
  Put16(out, static_cast<std::uint32_t>(count));
  Put32(out, kSampleHeaderSize);
  for (int note = 0; note < 96; ++note) {
    const int index = note < static_cast<int>(in.keymap.size()) ? in.keymap[note] : 0;
    Put8(out, std::clamp(index, 0, static_cast<int>(count) - 1));
  }
  for (int i = 0; i < 48 + 48; ++i) Put8(out, 0);                   // volume and panning envelope points
  for (int i = 0; i < 8; ++i) Put8(out, 0);                         // point counts, sustain and loop points
  Put8(out, 0);                                                     // volume envelope off
  Put8(out, 0);                                                     // panning envelope off
  for (int i = 0; i < 4; ++i) Put8(out, 0);                         // no vibrato
  Put16(out, 0);                                                    // no fadeout
  while (out.size() - start < kInstrumentHeaderSize) Put8(out, 0);  // reserved
  for (std::size_t i = 0; i < count; ++i) PutSampleHeader(out, in.samples[i]);
  for (std::size_t i = 0; i < count; ++i) PutSampleData(out, in.samples[i]);
}

}  // namespace

std::vector<std::uint8_t> WriteXm(const XmModule& m) {
  std::vector<std::uint8_t> out;
  // Header.
  PutText(out, "Extended Module: ", 17);
  PutText(out, m.name, 20);
  Put8(out, 0x1A);
  PutText(out, m.tracker, 20);
  Put16(out, 0x0104);
  Put32(out, kHeaderSize);
  const std::size_t orders = std::min<std::size_t>(m.orders.size(), 256);
  Put16(out, static_cast<std::uint32_t>(orders));
  Put16(out, static_cast<std::uint32_t>(std::max(m.restart, 0)));
  Put16(out, static_cast<std::uint32_t>(m.channels));
  Put16(out, static_cast<std::uint32_t>(m.patterns.size()));
  Put16(out, static_cast<std::uint32_t>(m.instruments.size()));
  Put16(out, m.linear_frequencies ? 1 : 0);
  Put16(out, static_cast<std::uint32_t>(m.speed));
  Put16(out, static_cast<std::uint32_t>(m.bpm));
  for (std::size_t i = 0; i < 256; ++i) Put8(out, i < orders ? m.orders[i] : 0);

  // Patterns.
  for (const XmPattern& p : m.patterns) {
    std::vector<std::uint8_t> data;
    PutPatternData(data, p);
    Put32(out, 9);  // pattern header length
    Put8(out, 0);   // packing type
    Put16(out, static_cast<std::uint32_t>(p.rows));
    Put16(out, static_cast<std::uint32_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
  }

  // Instruments and their samples.
  for (const XmInstrument& in : m.instruments) PutInstrument(out, in);
  return out;
}

void XmTuneSample(XmSample& sample, double sample_rate, int note) {
  // Playback rate at note n: 8363 * 2^((n - 49 + relative + finetune / 128) / 12).
  const double semitones = 12.0 * std::log2(sample_rate / kC4Rate) + (kC4Note - note);
  const long in_128ths = std::lround(semitones * 128.0);
  // Split into a whole relative note and a finetune in -64 ... 63.
  long relative = (in_128ths + 64) / 128;
  if (in_128ths + 64 < 0 && (in_128ths + 64) % 128 != 0) relative -= 1;
  sample.relative_note = static_cast<int>(relative);
  sample.finetune = static_cast<int>(in_128ths - relative * 128);
}
