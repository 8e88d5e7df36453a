#pragma once

// The show's only image decoder: PNG from memory to 8-bit RGBA, top row first.

#include <cstddef>
#include <cstdint>
#include <string>

#include "assets/asset_store.h"

// Decodes `size` bytes into `out` (width, height, rgba). A header claiming more than kMaxImageSide
// on a side or kMaxImagePixels in all is refused before any pixel data is decoded. On failure `out`
// is left empty and `reason` holds the decoder's explanation (may be empty).
bool DecodeImageRgba8(const std::uint8_t* bytes, std::size_t size, Image& out, std::string& reason);
