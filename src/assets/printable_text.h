#pragma once
// Text taken from a data file, as it may appear inside a one-line status message.

#include <cstddef>
#include <string>
#include <string_view>

// Printable ASCII stays as it is; every other byte (control characters, line breaks, bytes of
// other encodings) becomes \xNN, so a message quoting a file never carries raw bytes to a terminal
// or a log. Text longer than `limit` bytes is cut there and marked with "...".
inline std::string PrintableText(std::string_view text, std::size_t limit = 64) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  const std::size_t n = text.size() < limit ? text.size() : limit;
  for (std::size_t i = 0; i < n; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x20 && byte < 0x7F) {
      out += static_cast<char>(byte);
    } else {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
  }
  if (text.size() > limit) out += "...";
  return out;
}
