#pragma once

// The one place through which every data file of the show is found and read.
//
// Search order for a name such as "data/kestrel/kestrel_sequence.txt":
//   1. a loose file at that path, relative to the working directory (or the absolute path);
//   2. a loose file at that path next to the executable;
//   3. the manifest "data/assets_manifest.txt" (itself found by 1 or 2), which may send the name to
//      another loose file ("name = other/path") or to an entry of another pack ("name = pack:extra.pack");
//   4. the entry of that name in the default pack "data/assets.pack" (found by 1 or 2).
// The manifest and the pack directories are read once, on first need, and kept.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "assets/asset_pack.h"

inline constexpr const char* kDefaultPackName = "data/assets.pack";
inline constexpr const char* kManifestName = "data/assets_manifest.txt";

// A decoded picture: rows top to bottom, 4 bytes per pixel (R, G, B, A).
struct Image {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> rgba;
};

// Largest picture LoadImage decodes; a header claiming more is refused before any pixel is decoded.
inline constexpr std::int32_t kMaxImageSide = 8192;
inline constexpr std::int64_t kMaxImagePixels = std::int64_t{4096} * 4096;

// The directory of the running executable (from /proc/self/exe), or empty when it cannot be found.
std::string RunningExecutableDirectory();

class AssetStore {
public:
    // base = the executable path (argv[0]). An empty base means data files are looked up only
    // relative to the working directory. Otherwise the directory of `exe_path` is the second place
    // searched ("bin/kestrel_prod" -> "bin"; none for "/kestrel_prod"); a bare name, found through
    // PATH, gives the directory of the running executable instead.
    // Resets the manifest so it is read again for the new base.
    void SetBase(const std::string& exe_path);
    // Replaces the directory searched second (tests run the search from a chosen directory);
    // an empty `dir` turns the second place off.
    void SetExecutableDirectory(const std::string& dir);
    const std::string& Base() const { return base; }
    const std::string& ExecutableDirectory() const { return exe_dir; }

    // Non-empty path naming an existing file system entry (file or directory).
    static bool Exists(const std::string& path);
    static std::string Normalize(std::string name) { return NormalizeAssetName(std::move(name)); }

    // A usable path for a loose file (as given, or next to the executable), or `name` unchanged.
    std::string Locate(const std::string& name) const;
    // Best path for a name, for code that opens files itself: located loose file, else the
    // manifest's loose target (located when it exists), else `name` (also when only a pack has it).
    std::string ResolvePath(const std::string& name);
    // Bytes of a name from any source, in the search order above. `out` is cleared first.
    bool ReadAsset(const std::string& name, std::vector<std::uint8_t>& out);
    // ReadAsset as text (bytes unchanged). On failure `out` is left as it was.
    bool ReadText(const std::string& name, std::string& out);
    // Decodes a PNG to 8-bit RGBA. `message` (when not null) receives "loaded NAME",
    // "missing NAME", "too large NAME" or "could not decode NAME[: reason]".
    bool LoadImage(const std::string& name, Image& out, std::string* message);

    // Locates the pack and indexes it once; false when it is missing or damaged (the entries read
    // before the damage stay usable, and a later call reads the file again).
    bool LoadPackIndex(const std::string& pack_name);
    // Parses the manifest on first use for this base; a missing manifest counts as loaded and empty.
    void LoadManifest();

    // Read-only views for tools and tests.
    const std::map<std::string, std::string>& Manifest() const { return manifest; }

private:
    // Indexes the pack once and gives its located path in `located` (set even when it fails).
    bool IndexPackAt(const std::string& pack_name, std::string& located);
    // One entry of one indexed pack.
    bool ReadFromPack(const std::string& located_pack, const std::string& name, std::vector<std::uint8_t>& out);

    std::string base;
    std::string exe_dir;
    bool manifest_loaded = false;
    std::map<std::string, std::string> manifest;  // normalised name -> target
    // Entries of every indexed pack, per located pack path, so a manifest "pack:" line and the
    // default pack each read their own entry even when two packs hold the same name.
    std::map<std::string, PackIndex> entries;
    std::set<std::string> loaded_packs;
};

// Adds the "name = target" lines of manifest text to `manifest` (normalised name -> target); a
// later line of the same name wins. "#" starts a comment; lines without "=" or with an empty side
// are skipped.
void ParseManifest(const std::string& text, std::map<std::string, std::string>& manifest);

// Reads a whole file: false when its size cannot be queried, it exceeds kMaxAssetBytes, it cannot
// be opened or the read comes up short (then `out` is empty). An empty file gives true, no bytes.
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& out);
