// The pack format: what the writer produces reads back exactly, and every damaged, truncated or
// lying directory is refused without reading outside the file.

#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "assets/asset_pack.h"
#include "scratch_dir.h"

namespace {

// Builds pack bytes record by record, so a test can write any directory, honest or not.
struct RawPack {
    std::vector<std::uint8_t> bytes;

    RawPack& Magic(const char* magic = "ZWPAK001") {
        bytes.insert(bytes.end(), magic, magic + 8);
        return *this;
    }
    RawPack& U32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        return *this;
    }
    RawPack& U64(std::uint64_t v) {
        for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        return *this;
    }
    RawPack& Str(const std::string& s) {
        bytes.insert(bytes.end(), s.begin(), s.end());
        return *this;
    }
    RawPack& Entry(const std::string& name, std::uint64_t offset, std::uint64_t size) {
        return U32(static_cast<std::uint32_t>(name.size())).U64(offset).U64(size).Str(name);
    }
};

std::vector<std::uint8_t> Encode(const std::vector<PackSource>& sources) {
    std::vector<std::uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(EncodePack(sources, bytes, &error)) << error;
    return bytes;
}

// The index's entries as a map, for looking at them all.
std::map<std::string, PackEntry> Entries(const PackIndex& index) {
    std::map<std::string, PackEntry> out;
    index.ForEach([&out](std::string_view name, const PackEntry& entry) { out.emplace(std::string(name), entry); });
    return out;
}

TEST(AssetPack, WrittenPackReadsBackWithNormalisedNames) {
    ScratchDir dir;
    const std::string path = dir / "round.pack";
    const std::vector<PackSource> sources = {
        {"data/kestrel/kestrel_sequence.txt", Bytes("section = 0 16 scene=1\n")},
        {".\\data\\modules\\A.XM", Bytes(std::string("\0\x01\xff", 3))},
        {"./././data/empty.txt", {}},
    };
    std::string error;
    ASSERT_TRUE(WritePack(path, sources, &error)) << error;
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));

    PackIndex packed;
    ASSERT_TRUE(IndexPack(path, packed));
    std::map<std::string, PackEntry> index = Entries(packed);
    ASSERT_EQ(index.size(), 3u);
    const std::map<std::string, std::string> expected = {
        {"data/kestrel/kestrel_sequence.txt", "section = 0 16 scene=1\n"},
        {"data/modules/A.XM", std::string("\0\x01\xff", 3)},
        {"data/empty.txt", ""},
    };
    for (const auto& [name, content] : expected) {
        ASSERT_TRUE(index.count(name)) << name;
        std::vector<std::uint8_t> out = {42};
        EXPECT_TRUE(ReadPackEntry(index[name], out)) << name;
        EXPECT_EQ(Text(out), content) << name;
    }
}

TEST(AssetPack, WriterRefusesNamesThatNormaliseToNothing) {
    std::vector<std::uint8_t> bytes;
    std::string error;
    EXPECT_FALSE(EncodePack({{"./", Bytes("x")}}, bytes, &error));
    EXPECT_NE(error.find("empty entry name"), std::string::npos);
    EXPECT_TRUE(bytes.empty());
}

TEST(AssetPack, NormaliseName) {
    const std::pair<const char*, const char*> cases[] = {
        {"data/x.txt", "data/x.txt"},         {".\\data\\x.txt", "data/x.txt"},
        {"././data/x.txt", "data/x.txt"},     {"data/./x.txt", "data/./x.txt"},
        {"../data/x.txt", "../data/x.txt"},   {"./", ""},
        {"", ""},                             {"..\\x", "../x"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(NormalizeAssetName(in), out) << in;
}

// Each case: the file bytes, whether the directory is complete, and how many entries come out.
struct DirectoryCase {
    const char* what;
    std::vector<std::uint8_t> bytes;
    bool complete;
    std::size_t entries;
};

TEST(AssetPack, DamagedDirectoriesAreRefusedAtTheFirstBadRecord) {
    const std::uint64_t u64_max = std::numeric_limits<std::uint64_t>::max();
    // "good" is 12 + 20 + 1 = 33 bytes of directory followed by 3 bytes of data at offset 33.
    const std::vector<std::uint8_t> good = RawPack().Magic().U32(1).Entry("a", 33, 3).Str("abc").bytes;
    std::vector<std::uint8_t> eleven(good.begin(), good.begin() + 11);
    const std::vector<DirectoryCase> cases = {
        {"empty file", {}, false, 0},
        {"eleven bytes", eleven, false, 0},
        {"other magic", RawPack().Magic("ZWPAK002").U32(0).bytes, false, 0},
        {"empty pack", RawPack().Magic().U32(0).bytes, true, 0},
        {"one entry", good, true, 1},
        {"count larger than the directory", RawPack().Magic().U32(2).Entry("a", 33, 3).Str("abc").bytes, false, 1},
        {"huge count", RawPack().Magic().U32(0xffffffffu).Entry("a", 33, 3).Str("abc").bytes, false, 1},
        {"record cut short", RawPack().Magic().U32(1).U32(1).U64(0).bytes, false, 0},
        {"zero name length", RawPack().Magic().U32(1).Entry("", 0, 0).Str("abcd").bytes, false, 0},
        {"name past the end", RawPack().Magic().U32(1).U32(40).U64(0).U64(0).Str("abc").bytes, false, 0},
        {"offset past the end", RawPack().Magic().U32(1).Entry("a", 37, 0).Str("abc").bytes, false, 0},
        {"size past the end", RawPack().Magic().U32(1).Entry("a", 33, 4).Str("abc").bytes, false, 0},
        {"offset plus size wraps", RawPack().Magic().U32(1).Entry("a", 33, u64_max).Str("abc").bytes, false, 0},
        {"huge offset", RawPack().Magic().U32(1).Entry("a", u64_max, 1).Str("abc").bytes, false, 0},
        {"data before and overlapping the directory",
         RawPack().Magic().U32(2).Entry("a", 0, 8).Entry("b", 4, 30).bytes, true, 2},
        {"zero size at the very end", RawPack().Magic().U32(1).Entry("a", 33, 0).bytes, true, 1},
    };
    ScratchDir dir;
    for (const DirectoryCase& c : cases) {
        const std::string path = dir.Write("case.pack", c.bytes);
        std::vector<PackDirectoryEntry> directory;
        EXPECT_EQ(ReadPackDirectory(path, directory), c.complete) << c.what;
        EXPECT_EQ(directory.size(), c.entries) << c.what;
        // Whatever was accepted lies inside the file.
        for (const PackDirectoryEntry& entry : directory) {
            EXPECT_LE(entry.offset, c.bytes.size()) << c.what;
            EXPECT_LE(entry.size, c.bytes.size() - entry.offset) << c.what;
        }
    }
}

TEST(AssetPack, OverlappingBlocksReadTheSharedBytes) {
    ScratchDir dir;
    const std::string path = dir.Write("overlap.pack", RawPack().Magic().U32(2).Entry("a", 0, 8).Entry("b", 4, 6).bytes);
    PackIndex packed;
    ASSERT_TRUE(IndexPack(path, packed));
    std::map<std::string, PackEntry> index = Entries(packed);
    std::vector<std::uint8_t> a;
    std::vector<std::uint8_t> b;
    ASSERT_TRUE(ReadPackEntry(index["a"], a));
    ASSERT_TRUE(ReadPackEntry(index["b"], b));
    EXPECT_EQ(Text(a), "ZWPAK001");
    EXPECT_EQ(Text(b), std::string("K001\x02\x00", 6));
}

TEST(AssetPack, LaterDuplicateWinsAndEmptyNamesAreSkipped) {
    ScratchDir dir;
    const std::string path = dir.Write("dup.pack", RawPack()
                                                      .Magic()
                                                      .U32(3)
                                                      .Entry("data/x.txt", 0, 1)
                                                      .Entry(".\\data\\x.txt", 1, 1)
                                                      .Entry("./", 2, 1)
                                                      .bytes);
    PackIndex index;
    ASSERT_TRUE(IndexPack(path, index));
    ASSERT_EQ(index.Size(), 1u);
    PackEntry entry;
    ASSERT_TRUE(index.Find("data/x.txt", entry));
    EXPECT_EQ(entry.offset, 1u);
}

// Many entries in no particular order, every third name given twice: each name is found, at the
// later of its records, and names that are not there are not found.
TEST(AssetPack, ManyEntriesAreFoundByNameWithTheLaterDuplicate) {
    RawPack raw;
    const std::uint32_t count = 3000;
    raw.Magic().U32(count + count / 3);
    const auto name_of = [](std::uint32_t i) { return "data/n" + std::to_string((i * 7919u) % 3000u); };
    for (std::uint32_t i = 0; i < count; ++i) raw.Entry(name_of(i), 0, 1);
    for (std::uint32_t i = 0; i < count; i += 3) raw.Entry("./" + name_of(i), 1, 2);
    ScratchDir dir;
    const std::string path = dir.Write("many.pack", raw.bytes);
    PackIndex index;
    ASSERT_TRUE(IndexPack(path, index));
    EXPECT_EQ(index.Size(), count);
    for (std::uint32_t i = 0; i < count; ++i) {
        PackEntry entry;
        ASSERT_TRUE(index.Find(name_of(i), entry)) << name_of(i);
        EXPECT_EQ(entry.size, i % 3 == 0 ? 2u : 1u) << name_of(i);
        EXPECT_EQ(entry.pack_path, path);
    }
    PackEntry entry;
    EXPECT_FALSE(index.Find("data/n3000", entry));
    EXPECT_FALSE(index.Find("data/n", entry));
    EXPECT_FALSE(index.Find("", entry));
}

TEST(AssetPack, EveryTruncationIsRefusedAndEveryEntryKeptIsReadable) {
    const std::vector<std::uint8_t> full = Encode({{"data/one.txt", Bytes("first")},
                                                   {"data/two.txt", Bytes("second entry")},
                                                   {"data/three.bin", Bytes(std::string(20, 'z'))}});
    const std::size_t directory_end = 12 + 3 * 20 + 12 + 12 + 14;
    ScratchDir dir;
    for (std::size_t length = 0; length < full.size(); ++length) {
        const std::string path = dir.Write("cut.pack", std::vector<std::uint8_t>(full.begin(), full.begin() + length));
        PackIndex packed;
        const bool complete = IndexPack(path, packed);
        const std::map<std::string, PackEntry> index = Entries(packed);
        EXPECT_FALSE(complete) << "length " << length;
        for (const auto& [name, entry] : index) {
            std::vector<std::uint8_t> out;
            EXPECT_TRUE(ReadPackEntry(entry, out)) << name << " at length " << length;
        }
        // Once the directory and the first two blocks are complete, only the third is lost.
        if (length < directory_end + 5 + 12) continue;
        EXPECT_EQ(index.size(), 2u) << "length " << length;
    }
}

TEST(AssetPack, FlippedBytesNeverReachOutsideTheFile) {
    const std::vector<std::uint8_t> full = Encode({{"data/a.txt", Bytes("alpha")}, {"data/b.txt", Bytes("beta")}});
    ScratchDir dir;
    std::uint32_t state = 12345;
    for (int trial = 0; trial < 150; ++trial) {
        std::vector<std::uint8_t> bytes = full;
        for (int flips = 0; flips < 3; ++flips) {
            state = state * 1664525u + 1013904223u;
            const std::size_t at = (state >> 8) % bytes.size();
            bytes[at] ^= static_cast<std::uint8_t>(1u << (state % 8));
        }
        const std::string path = dir.Write("flip.pack", bytes);
        std::vector<PackDirectoryEntry> directory;
        ReadPackDirectory(path, directory);
        for (const PackDirectoryEntry& entry : directory) {
            ASSERT_LE(entry.offset, bytes.size());
            ASSERT_LE(entry.size, bytes.size() - entry.offset);
            std::vector<std::uint8_t> out;
            EXPECT_TRUE(ReadPackEntry({path, entry.offset, entry.size}, out));
        }
    }
}

TEST(AssetPack, ReadingAnEntryOfAPackThatShrankFails) {
    ScratchDir dir;
    const std::vector<std::uint8_t> bytes = Encode({{"data/a.txt", Bytes("0123456789")}});
    const std::string path = dir.Write("shrink.pack", bytes);
    PackIndex index;
    ASSERT_TRUE(IndexPack(path, index));
    dir.Write("shrink.pack", std::vector<std::uint8_t>(bytes.begin(), bytes.end() - 4));
    std::vector<std::uint8_t> out = {1, 2, 3};
    PackEntry entry;
    ASSERT_TRUE(index.Find("data/a.txt", entry));
    EXPECT_FALSE(ReadPackEntry(entry, out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(ReadPackEntry({dir / "missing.pack", 0, 0}, out));
}

}  // namespace
