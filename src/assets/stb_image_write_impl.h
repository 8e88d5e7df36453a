#pragma once

// The show's only image encoder: 8-bit RGB pixels to a PNG file image in memory.

#include <cstddef>
#include <cstdint>
#include <vector>

// Encodes `width` x `height` pixels of three bytes (R, G, B), top row first, rows `width` * 3
// bytes apart, into `out` (replaced). False when the encoder fails (no memory, absurd sizes).
bool EncodePngRgb8(const std::uint8_t* rgb, int width, int height, std::vector<std::uint8_t>& out);
