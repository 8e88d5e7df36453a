#include "app/frame_capture.h"

#include <cstdint>
#include <cstdio>
#include <vector>

bool WritePpm(const Framebuffer& image, const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;

  bool ok = std::fprintf(file, "P6\n%zu %zu\n255\n", image.width, image.height) > 0;

  // One row at a time: R, G, B are the low three bytes of each resolved word.
  std::vector<uint8_t> row(image.width * 3);
  for (size_t y = 0; ok && y < image.height; ++y) {
    const uint32_t* words = image.rgba.data() + y * image.width;
    for (size_t x = 0; x < image.width; ++x) {
      const uint32_t word = words[x];
      row[x * 3 + 0] = static_cast<uint8_t>(word & 0xFFu);
      row[x * 3 + 1] = static_cast<uint8_t>((word >> 8) & 0xFFu);
      row[x * 3 + 2] = static_cast<uint8_t>((word >> 16) & 0xFFu);
    }
    ok = std::fwrite(row.data(), 1, row.size(), file) == row.size();
  }

  // Buffered bytes are only known to be written once the file is closed.
  const bool closed = std::fclose(file) == 0;
  return ok && closed;
}
