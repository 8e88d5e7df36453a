// Image loading: PNG decodes to top-first RGBA; every other file gives a message and no pixels,
// and a header claiming an absurd size is refused before any pixel is decoded.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "assets/asset_store.h"
#include "assets/stb_image_impl.h"
#include "scratch_dir.h"

namespace {

const std::string kFixtures = std::string(KESTREL_TEST_DATA) + "/assets/";

TEST(LoadImage, PngDecodesToRgbaWithTheTopRowFirst) {
    AssetStore store;
    Image image;
    std::string message;
    ASSERT_TRUE(store.LoadImage(kFixtures + "rgba_3x2.png", image, &message)) << message;
    EXPECT_EQ(message, "loaded " + kFixtures + "rgba_3x2.png");
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.height, 2);
    // Top row red, green, blue; bottom row white, half-transparent black, transparent grey.
    const std::vector<std::uint8_t> expected = {255, 0,   0,   255, 0, 255, 0, 255, 0,   0,   255, 255,
                                                255, 255, 255, 255, 0, 0,   0, 128, 128, 128, 128, 0};
    EXPECT_EQ(image.rgba, expected);
}

TEST(LoadImage, SixteenBitGreyIsReducedToEightBitRgba) {
    AssetStore store;
    Image image;
    ASSERT_TRUE(store.LoadImage(kFixtures + "grey16_2x1.png", image, nullptr));
    ASSERT_EQ(image.rgba.size(), 8u);
    const std::vector<std::uint8_t> expected = {255, 255, 255, 255, 128, 128, 128, 255};
    EXPECT_EQ(image.rgba, expected);
}

// Each case: fixture name and the start of the message ("could not decode NAME: reason").
TEST(LoadImage, FilesThatAreNotDecodablePngsFailWithTheReason) {
    struct Case {
        const char* file;
        const char* reason;  // empty: any non-empty reason
    };
    const Case cases[] = {
        {"huge_header.png", "too large"},  // stb_image's own side limit
        {"too_many_pixels.png", "image too large"},  // our pixel-count limit
        {"truncated.png", ""},
        {"tiny.gif", ""},  // a valid GIF: only the PNG decoder is built in
        {"not_an_image.txt", ""},
        {"empty.bin", ""},
    };
    AssetStore store;
    for (const Case& c : cases) {
        const std::string name = kFixtures + c.file;
        Image image;
        image.width = 7;
        image.rgba = {1, 2, 3};
        std::string message;
        EXPECT_FALSE(store.LoadImage(name, image, &message)) << c.file;
        const std::string prefix = "could not decode " + name + ": ";
        ASSERT_EQ(message.compare(0, prefix.size(), prefix), 0) << message;
        const std::string reason = message.substr(prefix.size());
        if (*c.reason) {
            EXPECT_EQ(reason, c.reason) << c.file;
        } else {
            EXPECT_FALSE(reason.empty()) << c.file;
        }
        EXPECT_EQ(image.width, 0);
        EXPECT_EQ(image.height, 0);
        EXPECT_TRUE(image.rgba.empty());
    }
}

TEST(LoadImage, MissingFileAndNullMessage) {
    AssetStore store;
    Image image;
    std::string message;
    EXPECT_FALSE(store.LoadImage("data/no_such_picture.png", image, &message));
    EXPECT_EQ(message, "missing data/no_such_picture.png");
    EXPECT_FALSE(store.LoadImage("data/no_such_picture.png", image, nullptr));
}

TEST(LoadImage, ImageInsideThePackDecodes) {
    ScratchDir dir;
    std::filesystem::create_directories(dir / "data");
    std::string error;
    const std::string png = ReadFileBytes(kFixtures + "rgba_3x2.png");
    ASSERT_TRUE(WritePack(dir / "data/assets.pack", {{"data/pictures/frame.png", Bytes(png)}}, &error)) << error;
    WorkingDirectory cd(dir.Path());
    AssetStore store;
    Image image;
    ASSERT_TRUE(store.LoadImage("data/pictures/frame.png", image, nullptr));
    EXPECT_EQ(image.width, 3);
}

// ---- PNGs built byte by byte ----

using PngBytes = std::vector<std::uint8_t>;

void PutBe32(PngBytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// A chunk with a zero CRC (the decoder does not check it).
void PutChunk(PngBytes& out, const char* type, const PngBytes& body, std::uint32_t claimed_length) {
    PutBe32(out, claimed_length);
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    PutBe32(out, 0);
}

void PutChunk(PngBytes& out, const char* type, const PngBytes& body) {
    PutChunk(out, type, body, static_cast<std::uint32_t>(body.size()));
}

PngBytes Header(std::uint32_t width, std::uint32_t height, int depth, int colour, int interlace) {
    PngBytes body;
    PutBe32(body, width);
    PutBe32(body, height);
    body.insert(body.end(), {static_cast<std::uint8_t>(depth), static_cast<std::uint8_t>(colour), 0, 0,
                             static_cast<std::uint8_t>(interlace)});
    return body;
}

// A zlib stream of one stored (uncompressed) block.
PngBytes StoredZlib(const PngBytes& raw) {
    PngBytes z = {0x78, 0x01, 0x01, static_cast<std::uint8_t>(raw.size() & 0xFF),
                  static_cast<std::uint8_t>(raw.size() >> 8), static_cast<std::uint8_t>(~raw.size() & 0xFF),
                  static_cast<std::uint8_t>((~raw.size() >> 8) & 0xFF)};
    z.insert(z.end(), raw.begin(), raw.end());
    std::uint32_t a = 1, b = 0;
    for (const std::uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    PutBe32(z, (b << 16) | a);
    return z;
}

// A zlib stream inflating to `runs` * 258 + 1 zero bytes in a few bytes per kilobyte: one fixed
// Huffman block of a literal 0 and repeated copies of length 258 at distance 1.
PngBytes ZlibBomb(std::size_t runs) {
    PngBytes z = {0x78, 0x01};
    std::uint32_t bits = 0;
    int count = 0;
    const auto put = [&](std::uint32_t value, int n) {  // least significant bit first
        for (int i = 0; i < n; ++i) {
            bits |= ((value >> i) & 1u) << count;
            if (++count == 8) {
                z.push_back(static_cast<std::uint8_t>(bits));
                bits = 0;
                count = 0;
            }
        }
    };
    const auto put_code = [&](std::uint32_t code, int n) {  // Huffman codes go most significant bit first
        for (int i = n - 1; i >= 0; --i) put((code >> i) & 1u, 1);
    };
    put(1, 1);           // final block
    put(1, 2);           // fixed Huffman codes
    put_code(0x30, 8);   // literal 0
    for (std::size_t r = 0; r < runs; ++r) {
        put_code(0xC5, 8);  // length 258 (code 285)
        put_code(0, 5);     // distance 1
    }
    put_code(0, 7);  // end of block
    put(0, 7);       // flush the last byte
    PutBe32(z, 0);
    return z;
}

PngBytes Png(const PngBytes& header, const std::vector<PngBytes>& idat_chunks) {
    PngBytes png = {137, 80, 78, 71, 13, 10, 26, 10};
    PutChunk(png, "IHDR", header);
    for (const PngBytes& data : idat_chunks) PutChunk(png, "IDAT", data);
    PutChunk(png, "IEND", {});
    return png;
}

bool Decode(const PngBytes& png, Image& image, std::string& reason) {
    return DecodeImageRgba8(png.data(), png.size(), image, reason);
}

TEST(LoadImage, ChunksAndImageDataAreBoundedBeforeDecoding) {
    Image image;
    std::string reason;

    // An interlaced 3 x 2 grey image: the seven reduced images hold pixels (0,0), (2,0), (1,0) and
    // the second row, ten bytes of scanlines with their filter bytes.
    const PngBytes interlaced = Png(Header(3, 2, 8, 0, 1), {StoredZlib({0, 10, 0, 30, 0, 20, 0, 40, 50, 60})});
    ASSERT_TRUE(Decode(interlaced, image, reason)) << reason;
    EXPECT_EQ(image.rgba, (std::vector<std::uint8_t>{10, 10, 10, 255, 20, 20, 20, 255, 30, 30, 30, 255,
                                                     40, 40, 40, 255, 50, 50, 50, 255, 60, 60, 60, 255}));

    // A zero-length first IDAT (legal) decodes like the file without it.
    const PngBytes plain = Png(Header(2, 1, 8, 0, 0), {StoredZlib({0, 7, 9})});
    const PngBytes split = Png(Header(2, 1, 8, 0, 0), {{}, StoredZlib({0, 7, 9}), {}});
    ASSERT_TRUE(Decode(plain, image, reason)) << reason;
    const std::vector<std::uint8_t> expected = image.rgba;
    ASSERT_TRUE(Decode(split, image, reason)) << reason;
    EXPECT_EQ(image.rgba, expected);

    // 54 bytes whose IDAT claims 2 GiB: refused before anything is reserved for it.
    PngBytes claims = Png(Header(1, 1, 8, 0, 0), {});
    claims.resize(claims.size() - 12);  // no IEND
    PutChunk(claims, "IDAT", {0x78, 0x01, 0, 0, 0, 0, 0, 0, 0}, 0x7FFFFFFFu);
    claims.resize(54);
    EXPECT_FALSE(Decode(claims, image, reason));
    EXPECT_EQ(reason, "chunk longer than the file");

    // A 1 x 1 image whose data would inflate to 64 MiB: refused after at most a few kilobytes.
    const PngBytes bomb = Png(Header(1, 1, 8, 2, 0), {ZlibBomb(std::size_t{64} << 20 >> 8)});
    EXPECT_LT(bomb.size(), 500000u);
    EXPECT_FALSE(Decode(bomb, image, reason));
    EXPECT_EQ(reason, "image data corrupt or larger than the image");
    EXPECT_TRUE(image.rgba.empty());
    // The same stream is accepted where the header's size needs all of it (the bomb is well formed).
    const std::size_t runs = 400;
    const std::uint32_t rows = static_cast<std::uint32_t>((runs * 258 + 1) / 64);  // 64 bytes a row
    ASSERT_TRUE(Decode(Png(Header(63, rows, 8, 0, 0), {ZlibBomb(runs)}), image, reason)) << reason;
    EXPECT_EQ(image.height, static_cast<int>(rows));

    // Header first, and a sane one.
    EXPECT_FALSE(Decode(Png(Header(1, 1, 3, 0, 0), {StoredZlib({0, 0})}), image, reason));
    EXPECT_EQ(reason, "bad header");
    EXPECT_FALSE(Decode(Png(Header(1, 1, 8, 0, 0), {}), image, reason));
    EXPECT_EQ(reason, "no image data");
}

TEST(LoadImage, CutOrFlippedPngsNeverCrashTheDecoder) {
    const std::string png = ReadFileBytes(kFixtures + "rgba_3x2.png");
    ASSERT_FALSE(png.empty());
    // Every prefix, then deterministic single-bit flips of every byte. The decoder does not need
    // the closing IEND chunk (the last 12 bytes), so only shorter prefixes must fail.
    const std::size_t iend_start = png.size() - 12;
    for (std::size_t length = 0; length < png.size(); ++length) {
        Image image;
        std::string reason;
        const bool ok = DecodeImageRgba8(reinterpret_cast<const std::uint8_t*>(png.data()), length, image, reason);
        if (length < iend_start) {
            EXPECT_FALSE(ok) << length;
        }
        EXPECT_EQ(image.rgba.size(), ok ? std::size_t{24} : std::size_t{0}) << length;
    }
    for (std::size_t at = 0; at < png.size(); ++at) {
        for (int bit = 0; bit < 8; bit += 3) {
            std::string bytes = png;
            bytes[at] = static_cast<char>(bytes[at] ^ (1 << bit));
            Image image;
            std::string reason;
            const bool ok = DecodeImageRgba8(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), image,
                                             reason);
            if (ok) {
                EXPECT_EQ(image.rgba.size(), static_cast<std::size_t>(image.width) * image.height * 4);
            } else {
                EXPECT_TRUE(image.rgba.empty());
            }
        }
    }
}

}  // namespace
