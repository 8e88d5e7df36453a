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
