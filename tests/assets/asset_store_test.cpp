// The search order of the asset store: loose file here, loose file next to the executable, the
// manifest (to a loose file or into another pack), then the default pack.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "assets/asset_pack.h"
#include "assets/asset_store.h"
#include "scratch_dir.h"

namespace {

void MakePack(const ScratchDir& dir, const std::string& relative, const std::vector<PackSource>& sources) {
    std::filesystem::create_directories(std::filesystem::path(dir / relative).parent_path());
    std::string error;
    ASSERT_TRUE(WritePack(dir / relative, sources, &error)) << error;
}

std::string ReadOrFail(AssetStore& store, const std::string& name) {
    std::vector<std::uint8_t> bytes;
    if (!store.ReadAsset(name, bytes)) return "<unreadable>";
    return Text(bytes);
}

// One working directory ("work") and one executable directory ("exe"), side by side.
class AssetStoreTest : public ::testing::Test {
protected:
    ScratchDir root;
    std::string work = root / "work";
    std::string exe = root / "exe";
    void SetUp() override {
        std::filesystem::create_directories(work);
        std::filesystem::create_directories(exe);
    }
};

TEST_F(AssetStoreTest, SearchOrderLooseHereThenBesideExecutableThenManifestThenPack) {
    // Each name is present in some of the four places; the first place in the order wins.
    MakePack(root, "work/data/assets.pack",
             {{"data/all.txt", Bytes("pack")}, {"data/exe_pack.txt", Bytes("pack")},
              {"data/manifest_pack.txt", Bytes("pack")}, {"data/pack_only.txt", Bytes("pack")}});
    root.Write("work/data/all.txt", "here");
    root.Write("exe/data/all.txt", "beside");
    root.Write("exe/data/exe_pack.txt", "beside");
    root.Write("work/alt/redirected.txt", "manifest");
    root.Write("work/data/assets_manifest.txt",
               "data/all.txt = alt/redirected.txt\n"
               "data/manifest_pack.txt = alt/redirected.txt\n");

    WorkingDirectory cd(work);
    AssetStore store;
    store.SetExecutableDirectory(exe);
    EXPECT_EQ(ReadOrFail(store, "data/all.txt"), "here");
    EXPECT_EQ(ReadOrFail(store, "data/exe_pack.txt"), "beside");
    EXPECT_EQ(ReadOrFail(store, "data/manifest_pack.txt"), "manifest");
    EXPECT_EQ(ReadOrFail(store, "data/pack_only.txt"), "pack");
    EXPECT_EQ(ReadOrFail(store, "./data\\pack_only.txt"), "pack");
    EXPECT_EQ(ReadOrFail(store, "data/nowhere.txt"), "<unreadable>");

    EXPECT_EQ(store.ResolvePath("data/all.txt"), "data/all.txt");
    EXPECT_EQ(store.ResolvePath("data/exe_pack.txt"), exe + "/data/exe_pack.txt");
    EXPECT_EQ(store.ResolvePath("data/manifest_pack.txt"), "alt/redirected.txt");
    // Only the pack has it: callers that open files themselves get the name back.
    EXPECT_EQ(store.ResolvePath("data/pack_only.txt"), "data/pack_only.txt");
}

TEST_F(AssetStoreTest, PackAndManifestAreFoundBesideTheExecutable) {
    MakePack(root, "exe/data/assets.pack", {{"data/packed.txt", Bytes("from the exe pack")}});
    MakePack(root, "exe/extra.pack", {{"data/a.txt", Bytes("from extra")}});
    root.Write("exe/alt/y.txt", "target beside the exe");
    root.Write("exe/data/assets_manifest.txt", "data/x.txt = alt/y.txt\ndata/a.txt = pack:extra.pack\n");

    WorkingDirectory cd(work);
    AssetStore store;
    store.SetExecutableDirectory(exe);
    EXPECT_EQ(ReadOrFail(store, "data/packed.txt"), "from the exe pack");
    EXPECT_EQ(ReadOrFail(store, "data/x.txt"), "target beside the exe");
    EXPECT_EQ(store.ResolvePath("data/x.txt"), exe + "/alt/y.txt");
    EXPECT_EQ(ReadOrFail(store, "data/a.txt"), "from extra");
}

TEST_F(AssetStoreTest, ExecutableDirectoryComesFromTheProgramPathAsStarted) {
    const std::string running = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},                                    // no argv[0]: the working directory only
        {"bin/kestrel_prod", "bin"},                 // relative to the working directory
        {"bin//kestrel_prod/", "bin"},               // separators around the last component
        {"/opt/show/kestrel_prod", "/opt/show"},
        {"/kestrel_prod", ""},                       // the root directory is not searched
        {"kestrel_prod", running},                   // found through PATH: where it really runs
    };
    for (const auto& [base, dir] : cases) {
        AssetStore store;
        store.SetBase(base);
        EXPECT_EQ(store.ExecutableDirectory(), dir) << "'" << base << "'";
    }

    // A data file beside the program path given is found from another working directory, also
    // when that path is not where this test program runs (a link, or another copy).
    root.Write("exe/data/x.txt", "beside");
    WorkingDirectory cd(work);
    AssetStore store;
    store.SetBase(exe + "/kestrel_prod");
    EXPECT_EQ(store.Locate("data/x.txt"), exe + "/data/x.txt");
    EXPECT_EQ(ReadOrFail(store, "data/x.txt"), "beside");
    store.SetBase("");
    EXPECT_EQ(ReadOrFail(store, "data/x.txt"), "<unreadable>");
}

TEST_F(AssetStoreTest, AbsoluteNamesAreNeverLookedUpBesideTheExecutable) {
    root.Write("exe" + root.Path() + "/missing.txt", "wrong");
    WorkingDirectory cd(work);
    AssetStore store;
    store.SetExecutableDirectory(exe);
    const std::string absolute = root / "missing.txt";
    EXPECT_EQ(store.Locate(absolute), absolute);
    EXPECT_EQ(store.ResolvePath(absolute), absolute);
    EXPECT_EQ(ReadOrFail(store, absolute), "<unreadable>");
}

// A manifest "pack:" line reads its own pack, whatever else has been indexed before or after.
TEST_F(AssetStoreTest, ManifestPackRedirectReadsItsOwnPackInAnyOrder) {
    MakePack(root, "work/data/assets.pack", {{"data/a.txt", Bytes("default a")}, {"data/b.txt", Bytes("default b")}});
    MakePack(root, "work/extra.pack", {{"data/a.txt", Bytes("extra a")}, {"data/b.txt", Bytes("extra b")}});
    root.Write("work/data/assets_manifest.txt", "data/a.txt = pack:extra.pack\n");

    WorkingDirectory cd(work);
    AssetStore store;
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(ReadOrFail(store, "data/a.txt"), "extra a") << round;
        EXPECT_EQ(ReadOrFail(store, "data/b.txt"), "default b") << round;
    }
    EXPECT_EQ(store.ResolvePath("data/a.txt"), "data/a.txt");
}

TEST_F(AssetStoreTest, ManifestTargetThatFailsFallsBackToTheDefaultPack) {
    MakePack(root, "work/data/assets.pack", {{"data/a.txt", Bytes("default a")}});
    root.Write("work/data/assets_manifest.txt", "data/a.txt = missing/target.txt\n");
    WorkingDirectory cd(work);
    AssetStore store;
    EXPECT_EQ(ReadOrFail(store, "data/a.txt"), "default a");
    EXPECT_EQ(store.ResolvePath("data/a.txt"), "missing/target.txt");
}

TEST_F(AssetStoreTest, ManifestLines) {
    root.Write("work/data/assets_manifest.txt",
               "# full-line comment\r\n"
               "  data/a.txt   =   alt/a.txt   # trailing comment\r\n"
               "no equals sign here\n"
               " = target/without/name\n"
               "data/empty_target.txt =   \n"
               "data/twice.txt = first.txt\n"
               "data/twice.txt = second.txt\n"
               ".\\data\\win.txt = alt/win.txt\n"
               "data/hash.txt = alt/#not/part\n"
               "data/pack.txt=pack:other.pack\n"
               "data/eq.txt = a=b.txt");
    WorkingDirectory cd(work);
    AssetStore store;
    store.LoadManifest();
    const std::map<std::string, std::string> expected = {
        {"data/a.txt", "alt/a.txt"},       {"data/twice.txt", "second.txt"},
        {"data/win.txt", "alt/win.txt"},   {"data/hash.txt", "alt/"},
        {"data/pack.txt", "pack:other.pack"}, {"data/eq.txt", "a=b.txt"},
    };
    EXPECT_EQ(store.Manifest(), expected);
    EXPECT_EQ(store.ResolvePath("./data/win.txt"), "alt/win.txt");
}

TEST_F(AssetStoreTest, ManifestIsReadOnceAndAgainForANewBase) {
    root.Write("work/data/assets_manifest.txt", "data/a.txt = first.txt\n");
    WorkingDirectory cd(work);
    AssetStore store;
    EXPECT_EQ(store.ResolvePath("data/a.txt"), "first.txt");
    root.Write("work/data/assets_manifest.txt", "data/a.txt = second.txt\n");
    EXPECT_EQ(store.ResolvePath("data/a.txt"), "first.txt");
    store.SetBase("");
    EXPECT_EQ(store.ResolvePath("data/a.txt"), "second.txt");
}

TEST_F(AssetStoreTest, DamagedDefaultPackServesEntriesBeforeTheDamageAndIsReadAgain) {
    // Second entry's data runs past the end of the file.
    std::vector<std::uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(EncodePack({{"data/first.txt", Bytes("one")}, {"data/second.txt", Bytes("two")}}, bytes, &error));
    bytes.resize(bytes.size() - 1);
    root.Write("work/data/assets.pack", bytes);

    WorkingDirectory cd(work);
    AssetStore store;
    EXPECT_FALSE(store.LoadPackIndex("data/assets.pack"));
    EXPECT_EQ(ReadOrFail(store, "data/first.txt"), "one");
    EXPECT_EQ(ReadOrFail(store, "data/second.txt"), "<unreadable>");

    // Repaired on disk: the next call reads the file again.
    MakePack(root, "work/data/assets.pack", {{"data/first.txt", Bytes("one")}, {"data/second.txt", Bytes("two")}});
    EXPECT_TRUE(store.LoadPackIndex("data/assets.pack"));
    EXPECT_EQ(ReadOrFail(store, "data/second.txt"), "two");
}

TEST_F(AssetStoreTest, NotAPackIsIgnored) {
    root.Write("work/data/assets.pack", "ZWPAK00");
    root.Write("work/other.pack", "ZWPAK002\0\0\0\0");
    WorkingDirectory cd(work);
    AssetStore store;
    EXPECT_FALSE(store.LoadPackIndex("data/assets.pack"));
    EXPECT_FALSE(store.LoadPackIndex("other.pack"));
    EXPECT_FALSE(store.LoadPackIndex("missing.pack"));
    EXPECT_EQ(ReadOrFail(store, "data/anything.txt"), "<unreadable>");
}

TEST_F(AssetStoreTest, ReadWholeFileAndReadText) {
    const std::string crlf_nul("line\r\n\0tail", 11);
    root.Write("work/data/raw.txt", crlf_nul);
    root.Write("work/data/empty.txt", "");
    std::filesystem::create_directories(work + "/data/folder.txt");

    WorkingDirectory cd(work);
    AssetStore store;
    std::string text = "unchanged";
    EXPECT_TRUE(store.ReadText("data/raw.txt", text));
    EXPECT_EQ(text, crlf_nul);
    EXPECT_TRUE(store.ReadText("data/empty.txt", text));
    EXPECT_EQ(text, "");
    text = "unchanged";
    EXPECT_FALSE(store.ReadText("data/missing.txt", text));
    EXPECT_FALSE(store.ReadText("data/folder.txt", text));
    EXPECT_FALSE(store.ReadText("", text));
    EXPECT_EQ(text, "unchanged");

    // A directory exists but is not a readable file.
    EXPECT_TRUE(AssetStore::Exists("data/folder.txt"));
    EXPECT_FALSE(AssetStore::Exists(""));
    std::vector<std::uint8_t> bytes = {1};
    EXPECT_FALSE(ReadWholeFile("data/folder.txt", bytes));
    EXPECT_TRUE(bytes.empty());
}

TEST_F(AssetStoreTest, HugeFilesAndEntriesAreRefusedWithoutBeingRead) {
    // Sparse files: they claim more than kMaxAssetBytes but take no disk space.
    const std::string huge = root.Write("work/data/huge.bin", "x");
    std::filesystem::resize_file(huge, kMaxAssetBytes + 1);
    // A pack whose second entry's block spans most of the (sparse) file: its size field is
    // patched after the first record (12 + 20 + 14 bytes) and the second's length and offset.
    std::string error;
    std::vector<std::uint8_t> two;
    ASSERT_TRUE(EncodePack({{"data/small.txt", Bytes("small")}, {"data/huge.bin", {}}}, two, &error));
    const std::uint64_t file_size = kMaxAssetBytes + 4096;
    const std::size_t huge_size_field = 12 + 20 + 14 + 12;  // second record's size field
    for (int i = 0; i < 8; ++i) two[huge_size_field + i] = static_cast<std::uint8_t>((file_size - 40) >> (8 * i));
    const std::size_t huge_offset_field = huge_size_field - 8;
    for (int i = 0; i < 8; ++i) two[huge_offset_field + i] = static_cast<std::uint8_t>(uint64_t{40} >> (8 * i));
    const std::string pack = root.Write("work/data/assets.pack", two);
    std::filesystem::resize_file(pack, file_size);

    WorkingDirectory cd(work);
    AssetStore store;
    std::vector<std::uint8_t> bytes;
    EXPECT_FALSE(ReadWholeFile("data/huge.bin", bytes));
    EXPECT_TRUE(store.LoadPackIndex("data/assets.pack"));
    EXPECT_EQ(ReadOrFail(store, "data/small.txt"), "small");
    EXPECT_FALSE(store.ReadAsset("data/huge.bin", bytes));  // loose file too big, pack entry too big
    EXPECT_TRUE(bytes.empty());
    Image image;
    std::string message;
    EXPECT_FALSE(store.LoadImage("data/huge.bin", image, &message));
    EXPECT_EQ(message, "missing data/huge.bin");
}

TEST_F(AssetStoreTest, DevicesAreRefusedInsteadOfReadWithoutEnd) {
    AssetStore store;
    std::vector<std::uint8_t> bytes;
    EXPECT_FALSE(store.ReadAsset("/dev/zero", bytes));
    EXPECT_FALSE(store.ReadAsset("/dev/urandom", bytes));
    EXPECT_TRUE(bytes.empty());
}

}  // namespace
