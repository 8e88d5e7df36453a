#pragma once
// Small modules of a known shape for the module player's tests, written with the show's own XM
// writer: every pattern starts a looped constant-level sample on channel 0, so the output is a
// steady non-zero level wherever the song plays, and any gap shows as silence.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio/xm_writer.h"

inline XmModule SteadyModule(const std::string& name, std::vector<int> pattern_rows, int bpm) {
  XmModule m;
  m.name = name;
  m.channels = 4;
  m.speed = 6;
  m.bpm = bpm;
  XmSample s;
  s.name = "steady";
  s.data.assign(4800, 12000);
  s.loop = true;
  s.loop_start = 0;
  s.loop_length = 4800;
  XmTuneSample(s, 48000.0, 49);
  m.instruments.push_back(XmInstrument{"steady", {s}, {}});
  for (std::size_t i = 0; i < pattern_rows.size(); ++i) {
    XmPattern p;
    p.rows = pattern_rows[i];
    p.cells.resize(static_cast<std::size_t>(p.rows) * m.channels);
    // Channel 0 starts the steady sample every fourth row, so a seek meets a note soon.
    // Channel 2's volume column holds the row (0x10 + row % 64), channel 1 a note per pattern
    // at volume 0, so rows and patterns can be told apart in the snapshot.
    for (int r = 0; r < p.rows; r += 4) {
      p.cells[static_cast<std::size_t>(r) * m.channels] = XmCell{49, 1, XmVolume(48), 0, 0};
    }
    for (int r = 0; r < p.rows; ++r) {
      p.cells[static_cast<std::size_t>(r) * m.channels + 2] = XmCell{0, 0, XmVolume(r % 64), 0, 0};
    }
    p.cells[1] = XmCell{static_cast<std::uint8_t>(13 + i), 1, XmVolume(0), 0, 0};
    m.patterns.push_back(p);
    m.orders.push_back(static_cast<std::uint8_t>(i));
  }
  return m;
}

inline std::vector<std::uint8_t> SteadyModuleBytes(const std::string& name, std::vector<int> pattern_rows,
                                                   int bpm = 125) {
  return WriteXm(SteadyModule(name, std::move(pattern_rows), bpm));
}

inline std::string WriteTempFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "kestrel_xm_tests";
  std::filesystem::create_directories(dir);
  const std::string path = (dir / name).string();
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}
