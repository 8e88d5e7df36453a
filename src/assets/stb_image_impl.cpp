// stb_image compiled into the show with only what the storyboard needs: PNG from memory. The
// other decoders (GIF, JPEG, HDR, ...) carry most of the library's record of faults on hostile
// files, and the prebuilt system copy includes them all, so it is not linked.

#include "assets/stb_image_impl.h"

#include <climits>

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_MAX_DIMENSIONS 8192
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#endif
#include <stb_image.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

static_assert(STBI_MAX_DIMENSIONS == kMaxImageSide, "stb_image's limit must match the show's");

bool DecodeImageRgba8(const std::uint8_t* bytes, std::size_t size, Image& out, std::string& reason) {
    out.width = 0;
    out.height = 0;
    out.rgba.clear();
    reason.clear();
    if (bytes == nullptr || size == 0 || size > static_cast<std::size_t>(INT_MAX)) {
        reason = "no image data";
        return false;
    }
    const int length = static_cast<int>(size);

    // Check the header's claimed size before decoding anything.
    int width = 0;
    int height = 0;
    int channels = 0;
    if (stbi_info_from_memory(bytes, length, &width, &height, &channels)) {
        const std::int64_t pixels = std::int64_t{width} * height;
        if (width > kMaxImageSide || height > kMaxImageSide || pixels > kMaxImagePixels) {
            reason = "image too large";
            return false;
        }
    }

    // Four 8-bit channels whatever the file holds; first row is the top of the picture.
    stbi_set_flip_vertically_on_load(0);
    stbi_uc* pixels = stbi_load_from_memory(bytes, length, &width, &height, &channels, 4);
    if (pixels == nullptr || width <= 0 || height <= 0) {
        const char* why = stbi_failure_reason();
        if (why) reason = why;
        if (pixels) stbi_image_free(pixels);
        return false;
    }
    const std::size_t byte_count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
    out.width = width;
    out.height = height;
    out.rgba.assign(pixels, pixels + byte_count);
    stbi_image_free(pixels);
    return true;
}
