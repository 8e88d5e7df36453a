// stb_image compiled into the show with only what the storyboard needs: PNG from memory. The
// other decoders (GIF, JPEG, HDR, ...) carry most of the library's record of faults on hostile
// files, and the prebuilt system copy includes them all, so it is not linked.

#include "assets/stb_image_impl.h"

#include <climits>
#include <cstring>
#include <vector>

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

namespace {

constexpr std::uint8_t kPngSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
// Inflated image data may run this far past what the header's size needs (stb ignores the rest).
constexpr std::uint64_t kInflateMargin = 4096;

std::uint32_t ReadBe32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

bool IsChunk(const std::uint8_t* type, const char* name) { return std::memcmp(type, name, 4) == 0; }

// Bytes of filtered scanlines the image data must inflate to: a filter byte and the packed pixels
// per row, over the seven reduced images when the image is interlaced.
std::uint64_t ScanlineBytes(std::uint64_t width, std::uint64_t height, std::uint64_t bits_per_pixel,
                            bool interlaced) {
    const auto rows = [&](std::uint64_t w, std::uint64_t h) -> std::uint64_t {
        return w == 0 || h == 0 ? 0 : h * (1 + (w * bits_per_pixel + 7) / 8);
    };
    if (!interlaced) return rows(width, height);
    static const int kX0[7] = {0, 4, 0, 2, 0, 1, 0}, kY0[7] = {0, 0, 4, 0, 2, 0, 1};
    static const int kDx[7] = {8, 8, 4, 4, 2, 2, 1}, kDy[7] = {8, 8, 8, 4, 4, 2, 2};
    std::uint64_t total = 0;
    for (int p = 0; p < 7; ++p) {
        const std::uint64_t w = width > std::uint64_t(kX0[p]) ? (width - kX0[p] + kDx[p] - 1) / kDx[p] : 0;
        const std::uint64_t h = height > std::uint64_t(kY0[p]) ? (height - kY0[p] + kDy[p] - 1) / kDy[p] : 0;
        total += rows(w, h);
    }
    return total;
}

// Checks a PNG's chunk layout and the size its image data inflates to before stb_image sees it, so
// that no chunk can make the decoder reserve more than the file holds and no image data can inflate
// beyond what the header's size needs. Zero-length IDAT chunks (legal, but they lead stb_image into
// a copy from a null pointer) are left out of `cleaned`, which is then what gets decoded; it stays
// empty when the file needs no change.
bool CheckPng(const std::uint8_t* bytes, std::size_t size, std::vector<std::uint8_t>& cleaned, std::string& reason) {
    cleaned.clear();
    if (size < 8 || std::memcmp(bytes, kPngSignature, 8) != 0) {
        reason = "not a PNG";
        return false;
    }
    std::uint64_t width = 0, height = 0, bits_per_pixel = 0;
    bool interlaced = false;
    bool have_header = false;
    bool empty_idat = false;
    std::vector<std::uint8_t> data;  // the image data, all IDAT chunks in order
    std::size_t pos = 8;
    // A tail shorter than a chunk (a cut IEND, say) is left to the decoder, which ignores it.
    while (size - pos >= 12) {
        const std::uint32_t length = ReadBe32(bytes + pos);
        const std::uint8_t* type = bytes + pos + 4;
        if (length > 0x7FFFFFFFu || length > size - pos - 12) {
            reason = "chunk longer than the file";
            return false;
        }
        const std::uint8_t* body = bytes + pos + 8;
        if (!have_header) {
            if (!IsChunk(type, "IHDR") || length != 13) {
                reason = "first chunk is not a header";
                return false;
            }
            width = ReadBe32(body);
            height = ReadBe32(body + 4);
            const int depth = body[8];
            const int colour = body[9];
            const int channels = colour == 0 ? 1 : colour == 2 ? 3 : colour == 3 ? 1 : colour == 4 ? 2 : colour == 6 ? 4 : 0;
            const bool depth_ok = depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
            if (channels == 0 || !depth_ok || width == 0 || height == 0) {
                reason = "bad header";
                return false;
            }
            // The same words as stb_image's own side limit and our pixel-count limit below.
            if (width > std::uint64_t(kMaxImageSide) || height > std::uint64_t(kMaxImageSide)) {
                reason = "too large";
                return false;
            }
            if (width * height > std::uint64_t(kMaxImagePixels)) {
                reason = "image too large";
                return false;
            }
            bits_per_pixel = static_cast<std::uint64_t>(channels) * depth;
            interlaced = body[12] != 0;
            have_header = true;
        } else if (IsChunk(type, "IDAT")) {
            if (length == 0) empty_idat = true;
            data.insert(data.end(), body, body + length);
        } else if (IsChunk(type, "IEND")) {
            break;
        }
        pos += 12 + static_cast<std::size_t>(length);
    }
    if (!have_header) {
        reason = "no header";
        return false;
    }
    if (data.empty()) {
        reason = "no image data";
        return false;
    }

    // Inflate into a buffer of exactly the allowed size: a stream that needs more fails at once.
    const std::uint64_t needed = ScanlineBytes(width, height, bits_per_pixel, interlaced);
    const std::uint64_t limit = needed + kInflateMargin;
    if (limit > static_cast<std::uint64_t>(INT_MAX) || data.size() > static_cast<std::size_t>(INT_MAX)) {
        reason = "image too large";
        return false;
    }
    std::vector<char> inflated(static_cast<std::size_t>(limit));
    const int produced = stbi_zlib_decode_buffer(inflated.data(), static_cast<int>(limit),
                                                 reinterpret_cast<const char*>(data.data()), static_cast<int>(data.size()));
    if (produced < 0) {
        reason = "image data corrupt or larger than the image";
        return false;
    }

    if (empty_idat) {
        cleaned.assign(bytes, bytes + 8);
        std::size_t at = 8;
        while (size - at >= 12) {
            const std::uint32_t length = ReadBe32(bytes + at);
            const std::size_t chunk = 12 + static_cast<std::size_t>(length);
            if (length > size - at - 12) break;  // past the IEND the walk above stopped at
            if (length != 0 || !IsChunk(bytes + at + 4, "IDAT")) {
                cleaned.insert(cleaned.end(), bytes + at, bytes + at + chunk);
            }
            at += chunk;
        }
        cleaned.insert(cleaned.end(), bytes + at, bytes + size);
    }
    return true;
}

}  // namespace

bool DecodeImageRgba8(const std::uint8_t* bytes, std::size_t size, Image& out, std::string& reason) {
    out.width = 0;
    out.height = 0;
    out.rgba.clear();
    reason.clear();
    if (bytes == nullptr || size == 0 || size > static_cast<std::size_t>(INT_MAX)) {
        reason = "no image data";
        return false;
    }

    // The chunk layout and the inflated size first: nothing below may reserve or inflate more than
    // the header's size needs.
    std::vector<std::uint8_t> cleaned;
    if (!CheckPng(bytes, size, cleaned, reason)) return false;
    if (!cleaned.empty()) {
        bytes = cleaned.data();
        size = cleaned.size();
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
