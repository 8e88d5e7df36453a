#pragma once
// What every fuzz target shares: the input as text, and a check that ends the run with a message
// when a parser hands back something its callers must never see. The sanitizers catch memory
// faults and undefined operations; these checks catch results that are wrong without crashing.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// Aborts (libFuzzer then saves the input) when `condition` is false.
#define FUZZ_CHECK(condition)                                                                  \
  do {                                                                                         \
    if (!(condition)) {                                                                        \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);     \
      std::abort();                                                                            \
    }                                                                                          \
  } while (0)

inline std::string InputText(const std::uint8_t* data, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

inline bool InRange(float x, float lo, float hi) { return x >= lo && x <= hi; }

// A status line: one line, printable ASCII only, so quoting a hostile file never puts raw bytes
// on a terminal or into a log.
inline bool IsOneLine(const std::string& text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F) return false;
  }
  return true;
}
