// stb_image_write compiled into the show with only what the frame capture needs: PNG into memory.
// The caller writes the bytes itself, so a short write (a full disk) is seen and reported.

#include "assets/stb_image_write_impl.h"

#include <climits>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#endif
#include <stb_image_write.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace {

void AppendBytes(void* context, void* data, int size) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(context);
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  if (size > 0) out->insert(out->end(), bytes, bytes + size);
}

}  // namespace

bool EncodePngRgb8(const std::uint8_t* rgb, int width, int height, std::vector<std::uint8_t>& out) {
  out.clear();
  if (rgb == nullptr || width <= 0 || height <= 0 || width > INT_MAX / 3) return false;
  // Level 4 instead of stb's default 8: a capture writes thousands of frames, and the files
  // grow by only a few per cent.
  stbi_write_png_compression_level = 4;
  return stbi_write_png_to_func(AppendBytes, &out, width, height, 3, rgb, width * 3) != 0 &&
         !out.empty();
}
